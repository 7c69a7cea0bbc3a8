// The text an XML section writes, and that it parses back to the same tree.
#include <gtest/gtest.h>

#include <random>

#include "sections/xml_parser.h"
#include "sections/xml_section.h"
#include "xml_test_util.h"

using xml_test::describe;

namespace {

std::string written(const SectionRef& section) {
  BlockRef block = section->getBlock();
  return block ? block->asString() : std::string("<no block>");
}

TEST(XmlWriter, WritesOneElementPerLineIndentedByTabs) {
  SectionRef root(new XMLSection("script_config"));
  root->addChild("version")->storeText("2.651");
  EXPECT_EQ(written(root), "<script_config>\n\t<version>\t2.651\t</version>\n</script_config>\n");

  SectionRef leaf(new XMLSection("a"));
  EXPECT_EQ(written(leaf), "<a>\t</a>\n");
  leaf->storeText("x");
  leaf->addChild("b")->addChild("c");
  EXPECT_EQ(written(leaf), "<a>\tx\n\t<b>\n\t\t<c>\t</c>\n\t</b>\n</a>\n");
}

TEST(XmlWriter, EscapesMarkupAndEveryHighByte) {
  SectionRef s(new XMLSection("t"));
  s->storeText("a\"&'<>\xd6\xd0 z");
  EXPECT_EQ(written(s), "<t>\ta&quot;&amp;&apos;&lt;&gt;&#214;&#208; z\t</t>\n");
}

TEST(XmlWriter, RootWithAnInvalidNameIsWrittenAsRoot) {
  const char* invalid[] = {"", "1x", "a b", "a/b"};
  for (const char* name : invalid) {
    SectionRef s(new XMLSection(name));
    s->addChild("k");
    EXPECT_EQ(written(s), "<root>\n\t<k>\t</k>\n</root>\n") << name;
  }
}

TEST(XmlWriter, ParsedTreeWritesWhatItRead) {
  SectionRef root = parseXmlSection(
      "cfg", xml_test::block("<x><!-- c --><a k=\"1\">v &lt; w</a><b/><c><![CDATA[q]]></c></x>"));
  ASSERT_TRUE(root);
  EXPECT_EQ(written(root),
            "<cfg>\n\t<a>\tv &lt; w\t</a>\n\t<b>\t</b>\n\t<c>\tq\t</c>\n</cfg>\n");
}

// Random trees of valid names and values without surrounding blanks (the parser trims them).
class TreeMaker {
 public:
  explicit TreeMaker(unsigned seed) : rng_(seed) {}

  SectionRef tree(int depth) {
    SectionRef s(new XMLSection(name()));
    if (pick(3) > 0) s->storeText(value());
    const int children = depth > 0 ? pick(5) : 0;
    for (int i = 0; i < children; ++i) attach(s, tree(depth - 1));
    return s;
  }

 private:
  static void attach(const SectionRef& parent, const SectionRef& child) {
    SectionRef slot = parent->addChild(child->name());
    slot->storeText(child->getText("", 0));
    for (int i = 0; i < child->childCount(); ++i) attach(slot, child->childAt(i));
  }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  std::string name() {
    static const char first[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
    static const char rest[] = "abcxyz_.-0123456789";
    std::string n(1, first[pick(sizeof first - 1)]);
    for (int i = pick(8); i > 0; --i) n += rest[pick(sizeof rest - 1)];
    return n;
  }
  std::string value() {
    static const char* const pieces[] = {"a", "Z", "9", " ", "\t", "&", "<", ">", "\"", "'",
                                         ";", "&amp;", "]]>", "<!--", "\xd6\xd0", "\xff", "/"};
    std::string v(1, 'v');
    for (int i = pick(12); i > 0; --i) v += pieces[pick(sizeof pieces / sizeof *pieces)];
    return v + "e";
  }
  std::mt19937 rng_;
};

TEST(XmlWriter, RandomTreesParseBackToTheSameTree) {
  TreeMaker maker(20240611);
  for (int round = 0; round < 300; ++round) {
    SectionRef original = maker.tree(4);
    BlockRef text = original->getBlock();
    ASSERT_TRUE(text);
    SectionRef parsed = parseXmlSection("", text);
    ASSERT_EQ(describe(parsed), describe(original)) << text->asString();
  }
}

}  // namespace
