// What the XML dialect accepts, and the tree it builds, pinned on known inputs.
#include <gtest/gtest.h>

#include "sections/xml_parser.h"
#include "sections/xml_section.h"
#include "xml_test_util.h"

using xml_test::block;
using xml_test::describe;

namespace {

struct ParseCase {
  const char* what;
  std::string input;
  std::string tag;
  std::string tree;  // describe() of the result; "<none>" when the text is refused
};

const ParseCase kParseCases[] = {
    {"configuration example", "<script_config>\n\t<version>\t2.651\t</version>\n</script_config>\n",
     "script_config", "script_config(version=2.651)"},
    {"tag renames the root", "<a><b>1</b></a>", "root", "root(b=1)"},
    {"empty tag keeps the root's own name", "<a><b>1</b></a>", "", "a(b=1)"},
    {"children in document order", "<a><b>1</b><b>2</b><c/></a>", "", "a(b=1,b=2,c)"},
    {"nested children", "<a><b><c>x</c></b><d/></a>", "", "a(b(c=x),d)"},
    {"leading blanks before the root", "  \r\n\t<a>1</a>", "", "a=1"},
    {"value trimmed at both ends", "<a> \t x y \r\n</a>", "", "a=x y"},
    {"blank value is no value", "<a>  </a>", "", "a"},
    {"entities decoded", "<a>x &amp; y &#65;&#x42;</a>", "", "a=x & y AB"},
    {"named entities", "<a>&lt;&gt;&quot;&apos;&amp;amp;</a>", "", "a=<>\"'&amp;"},
    {"unknown and short references stay", "<a>&unknown;&#;&;&x</a>", "", "a=&unknown;&#;&;&x"},
    {"reference cut off by the end", "<a>1 &lt</a>", "", "a=1 <"},
    {"numeric code keeps its low byte", "<a>&#321;&#x141;</a>", "", "a=AA"},
    {"code zero ends the text", "<a>x&#0;y</a>", "", "a=x"},
    {"reference longer than 30 stays", "<a>&aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa;</a>", "",
     "a=&aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa;"},
    {"cut-off reference longer than 30 stays", "<a>x&lttttttttttttttttttttttttttttt</a>", "",
     "a=x&lttttttttttttttttttttttttttttt"},
    {"reference of exactly 30 is looked up", "<a>&#000000000000000000000000065;</a>", "",
     "a=A"},
    {"text then a child", "<a>1<b/></a>", "", "a=1(b)"},
    {"text after a child", "<a><b/>1</a>", "", "a=1(b)"},
    {"two text runs", "<a>1<b/>2</a>", "", "<none>"},
    {"attributes dropped", "<p><a k=\"v\">1</a></p>", "", "p(a=1)"},
    {"attributes dropped on the root", "<a\tk='v' j=w>1</a>", "", "a=1"},
    {"self-closing with attributes", "<p><a k=\"v\"/></p>", "", "p(a)"},
    {"self-closing blank without '=' stays in the name", "<p><a b /></p>", "", "p(a b)"},
    {"blanks at the end of a tag", "<a >1</a\t>", "", "a=1"},
    {"blank at the start of a tag stays", "< a>1</a>", "", "<none>"},
    {"nested comments", "<a><!-- x <!-- y --> z --><b/></a>", "", "a(b)"},
    {"comment before the root", "<!-- c --><a>1</a>", "", "a=1"},
    {"unclosed comment", "<a><!-- x <!-- y --></a>", "", "<none>"},
    {"processing instruction", "<?xml version=\"1.0\"?><a>1</a>", "", "a=1"},
    {"unclosed processing instruction", "<?xml <a>1</a>", "", "<none>"},
    {"declaration before the root", "<!DOCTYPE a><a>1</a>", "", "<none>"},
    {"unknown declaration inside is text", "<a><!x>text</a>", "", "a=>text"},
    {"CDATA kept raw", "<a><![CDATA[ <x> &amp; ]]></a>", "", "a= <x> &amp; "},
    {"CDATA with a lone bracket", "<a><![CDATA[x]y]]></a>", "", "a=x]y"},
    {"CDATA then text", "<a><![CDATA[x]]>y</a>", "", "<none>"},
    {"text then CDATA", "<a>y<![CDATA[x]]></a>", "", "<none>"},
    {"CDATA running to the end", "<a><![CDATA[x</a>", "", "<none>"},
    {"misspelt CDATA", "<a><![CDAT[x]]></a>", "", "<none>"},
    {"CDATA before the root", "<![CDATA[x]]><a/>", "", "<none>"},
    {"anything after the root is ignored", "<a>1</a>trailing <junk", "", "a=1"},
    {"mismatched closing tag", "<a>1</b>", "", "<none>"},
    {"closing tag before the root", "</a><a>1</a>", "", "<none>"},
    {"prefix of the name is no match", "<ab>1</a>", "", "<none>"},
    {"attributes do not excuse another name", "<a><b x=1></c></a>", "", "<none>"},
    {"unterminated element", "<a>1", "", "<none>"},
    {"unterminated tag", "<a>1</a", "", "<none>"},
    {"'<' as the last byte", "<a>1<", "", "<none>"},
    {"self-closing root", "<a/>", "", "<none>"},
    {"text outside the root", "x<a>1</a>", "", "<none>"},
    {"only a comment", "<!-- c -->", "", "<none>"},
    {"empty element name", "<a><></></a>", "", "a()"},
};

TEST(XmlParse, AcceptsTheDialectAndBuildsTheTree) {
  for (const ParseCase& c : kParseCases) {
    SectionRef root = parseXmlSection(c.tag, block(c.input));
    EXPECT_EQ(describe(root), c.tree) << c.what << ": " << c.input;
  }
}

TEST(XmlParse, EveryTruncationOfADocumentIsRefused) {
  const std::string doc =
      "<?xml v?><r><!-- c <!-- n --> --><a k=\"v\">x &amp;y</a><b/>"
      "<c><![CDATA[d]]></c><!x></r>";
  ASSERT_TRUE(parseXmlSection("", block(doc)));
  for (size_t length = 0; length < doc.size(); ++length)
    EXPECT_FALSE(parseXmlSection("", block(doc.substr(0, length)))) << doc.substr(0, length);
}

TEST(XmlParse, RefusesDocumentsNestedTooDeeply) {
  auto nested = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<e>";
    for (int i = 0; i < depth; ++i) text += "</e>";
    return text;
  };
  EXPECT_TRUE(parseXmlSection("", block(nested(100))));
  EXPECT_FALSE(parseXmlSection("", block(nested(100000))));
}

TEST(XmlParse, ParsedTreeKeepsItsTextBlockAlive) {
  SectionRef child;
  {
    SectionRef root = parseXmlSection("", block("<a><b>kept</b></a>"));
    child = root->findChild("b");
  }
  ASSERT_TRUE(child);
  EXPECT_EQ(child->name(), "b");
  EXPECT_EQ(child->getText("", 0), "kept");
  EXPECT_GE(child->sizeInBytes(), 1024);
}

TEST(XmlParse, RepeatedParsesAfterAFailureStartClean) {
  EXPECT_FALSE(parseXmlSection("", block("<a><b><c>")));
  EXPECT_EQ(describe(parseXmlSection("", block("<x><y/></x>"))), "x(y)");
}

}  // namespace
