// Typed reads and writes of XML sections, base64, wide texts and element names.
#include <gtest/gtest.h>

#include <cmath>

#include "sections/base64.h"
#include "sections/xml_names.h"
#include "sections/xml_parser.h"
#include "sections/xml_section.h"
#include "xml_test_util.h"

namespace {

SectionRef withText(const std::string& text) {
  SectionRef section(new XMLSection("v"));
  section->storeText(text);
  return section;
}

struct ReadCase {
  std::string text;
  bool boolRead;  // default false
  int intRead;    // default -7
  double doubleRead;  // default -7.5
};

TEST(XmlValues, ScalarReadsFollowTheCLibraryAndFallBackToTheDefault) {
  const ReadCase cases[] = {
      {"", false, -7, -7.5},         {"TRUE", true, 0, 0.0},     {"false", false, 0, 0.0},
      {"yes", false, 0, 0.0},        {"abc", false, 0, 0.0},     {"12x", false, 12, 12.0},
      {" -3", false, -3, -3.0},      {"1.5e1", false, 1, 15.0},  {"0x10", false, 0, 16.0},
      {"2147483647", false, 2147483647, 2147483647.0},
  };
  for (const ReadCase& c : cases) {
    SectionRef s = withText(c.text);
    EXPECT_EQ(s->getBool(false), c.boolRead) << c.text;
    EXPECT_EQ(s->getInt(-7), c.intRead) << c.text;
    EXPECT_EQ(s->getLong(-7), c.intRead) << c.text;
    EXPECT_DOUBLE_EQ(s->getDouble(-7.5), c.doubleRead) << c.text;
    EXPECT_FLOAT_EQ(s->getFloat(-7.5f), static_cast<float>(c.doubleRead)) << c.text;
  }
  EXPECT_TRUE(withText("FaLsE")->getBool(true) == false);
  EXPECT_TRUE(withText("maybe")->getBool(true));
}

TEST(XmlValues, VectorReadsNeedEveryComponent) {
  const Vector3 def{9, 9, 9};
  EXPECT_EQ(withText("1 2")->getVector3(def), def);
  EXPECT_EQ(withText("1 2 3 4")->getVector3(def), (Vector3{1, 2, 3}));
  EXPECT_EQ(withText("1\t\n2  3")->getVector3(def), (Vector3{1, 2, 3}));
  EXPECT_EQ(withText("1 x 3")->getVector3(def), def);
  EXPECT_EQ(withText("")->getVector2(Vector2{5, 6}), (Vector2{5, 6}));
  EXPECT_EQ(withText("0.5 -1")->getVector2(Vector2{}), (Vector2{0.5f, -1}));
  EXPECT_EQ(withText("1 2 3")->getVector4(Vector4{7, 7, 7, 7}), (Vector4{7, 7, 7, 7}));
  EXPECT_EQ(withText("1 2 3 4")->getVector4(Vector4{}), (Vector4{1, 2, 3, 4}));
}

TEST(XmlValues, TypedWritesPrintWithTheFormat) {
  SectionRef s(new XMLSection("v"));
  ASSERT_TRUE(s->storeBool(true));
  EXPECT_EQ(s->getText("", 0), "true");
  ASSERT_TRUE(s->storeInt(-12));
  EXPECT_EQ(s->getText("", 0), "-12");
  ASSERT_TRUE(s->storeUInt(4000000000u));
  EXPECT_EQ(s->getText("", 0), "4000000000");
  ASSERT_TRUE(s->storeFloat(1.5f));
  EXPECT_EQ(s->getText("", 0), "1.500000");
  ASSERT_TRUE(s->storeDouble(0.25, "%.2f"));
  EXPECT_EQ(s->getText("", 0), "0.25");
  ASSERT_TRUE(s->storeVector3(Vector3{1, 2, 3}));
  EXPECT_EQ(s->getText("", 0), "1.000000 2.000000 3.000000");
  ASSERT_TRUE(s->storeVector4(Vector4{1, 2, 3, 4}, "%g,%g,%g,%g"));
  EXPECT_EQ(s->getText("", 0), "1,2,3,4");
  // Output longer than the print buffer is cut, not overrun.
  ASSERT_TRUE(s->storeInt(1, "%600d"));
  EXPECT_EQ(s->getText("", 0).size(), 511u);
}

TEST(XmlValues, StoredTextReplacesTheParsedValue) {
  SectionRef root = parseXmlSection("", xml_test::block("<a>parsed</a>"));
  ASSERT_TRUE(root);
  root->storeText("set");
  EXPECT_EQ(root->getText("", 0), "set");
  root->storeText("");
  EXPECT_EQ(root->getText("none", 0), "none");
}

TEST(XmlValues, MatrixTravelsThroughFourRows) {
  SectionRef s(new XMLSection("m"));
  Matrix in;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) in.m[r][c] = static_cast<float>(r * 4 + c);
  ASSERT_TRUE(s->storeMatrix(in));
  ASSERT_EQ(s->childCount(), 4);
  EXPECT_EQ(s->childNameAt(3), "row3");
  Matrix out = s->getMatrix(Matrix{});
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out.m[r][c], in.m[r][c]);
    EXPECT_EQ(out.m[r][3], r == 3 ? 1.0f : 0.0f);
  }
  // Missing rows take the default's row; the fourth column is never the default's.
  s->removeChildNamed("row1");
  Matrix def;
  def.m[1][0] = 42;
  def.m[1][3] = 42;
  out = s->getMatrix(def);
  EXPECT_EQ(out.m[1][0], 42);
  EXPECT_EQ(out.m[1][3], 0);
}

TEST(XmlValues, Base64KnownAnswers) {
  const struct {
    std::string bytes, text;
  } cases[] = {{"", ""},          {"f", "Zg=="},       {"fo", "Zm8="},
               {"foo", "Zm9v"},   {"foob", "Zm9vYg=="}, {"xyz", "eHl6"},
               {std::string("\0\xff\x10", 3), "AP8Q"}};
  for (const auto& c : cases) {
    EXPECT_EQ(base64Encode(c.bytes), c.text);
    EXPECT_EQ(base64Decode(c.text), c.bytes);
  }
  // Decoding stops at the first '=' and is lenient about everything else.
  EXPECT_EQ(base64Decode("Zg==Zm9v"), "f");
  EXPECT_EQ(base64Decode("Zm9"), "fo");
  EXPECT_EQ(base64Decode("Z"), "");
  EXPECT_EQ(base64Decode("****").size(), 3u);
}

TEST(XmlValues, BlobAndWideTextRoundTrip) {
  SectionRef s(new XMLSection("b"));
  const std::string blob("\x00\x01\xfe\xff<&>", 7);
  ASSERT_TRUE(s->storeBlobText(blob));
  EXPECT_EQ(s->getBlobText("ignored"), blob);

  const WideText wide = u"w\u4e2d\u6587\xff";
  ASSERT_TRUE(s->storeWideText(wide));
  EXPECT_EQ(s->getWideText(u"ignored", 0), wide);
}

TEST(XmlValues, WideTextFromValueTexts) {
  EXPECT_EQ(wideTextFromValue(""), u"");
  EXPECT_EQ(wideTextFromValue("!abc"), u"abc");
  EXPECT_EQ(wideTextFromValue("!\xd6\xd0\xce\xc4!"), u"\u4e2d\u6587!");  // GBK text
  EXPECT_EQ(wideTextFromValue("!" + std::string(300, 'a')).size(), 255u);
  EXPECT_EQ(wideTextFromValue("YQBiAA=="), u"ab");
  EXPECT_EQ(wideTextFromValue("YQBi"), u"a");  // the odd last byte is dropped
  EXPECT_EQ(wideTextFromValue(std::string(513, 'A')), u"error");
  EXPECT_EQ(wideTextFromValue(std::string(512, 'A')).size(), 192u);
}

TEST(XmlNames, EncodeDecodeAndValidity) {
  const struct {
    std::string name, encoded, decoded;
  } cases[] = {{"", "", ""},           {"a b", "a..b", "a b"},   {" ", "..", " "},
               {"a..b", "a..b", "a b"},   {"....", "....", "  "},   {".....", ".....", "  ."},
               {"x", "x", "x"}};
  for (const auto& c : cases) {
    EXPECT_EQ(encodeXmlName(c.name), c.encoded) << c.name;
    EXPECT_EQ(decodeXmlName(c.name), c.decoded) << c.name;
  }
  EXPECT_EQ(decodeXmlName(encodeXmlName("a b c")), "a b c");

  const struct {
    std::string name;
    bool valid;
  } names[] = {{"version", true}, {"", false},       {"1a", false},   {"a1", true},
               {"a b", false},    {"a/b", false},    {"a\\b", false}, {"\xd6\xd0", false},
               {"a\xd6\xd0", true}, {"_x", true}};
  for (const auto& n : names) EXPECT_EQ(isValidXmlName(n.name), n.valid) << n.name;
}

TEST(XmlNames, NormaliseTakesTheNameOutOfTheBlock) {
  SectionRef root = parseXmlSection("", xml_test::block("<a><b c/><x1>1</x1></a>"));
  ASSERT_TRUE(root);
  SectionRef spaced = root->childAt(0);
  EXPECT_EQ(spaced->name(), "b c");
  EXPECT_FALSE(spaced->hasValidName());
  EXPECT_TRUE(spaced->normaliseName());
  EXPECT_EQ(spaced->name(), "b..c");
  EXPECT_FALSE(spaced->normaliseName());

  SectionRef digit(new XMLSection("3d"));
  EXPECT_TRUE(digit->normaliseName());
  EXPECT_EQ(digit->name(), "id.3d");
  EXPECT_FALSE(root->childAt(1)->normaliseName());
}

TEST(XmlSectionChildren, InsertRemoveAndFind) {
  SectionRef s(new XMLSection("p"));
  s->addChild("a");
  s->addChild("c");
  EXPECT_EQ(s->insertChild("b", 1)->name(), "b");
  EXPECT_EQ(s->insertChild("z", -1)->name(), "z");
  EXPECT_EQ(s->insertChild("y", 99)->name(), "y");
  EXPECT_EQ(s->insertChild("first", 0)->name(), "first");
  EXPECT_FALSE(s->insertChild("bad", -2));
  EXPECT_EQ(xml_test::describe(s), "p(first,a,b,c,z,y)");

  s->removeChildNamed("b");
  s->removeChild(s->findChild("z"));
  s->removeChild(SectionRef(new XMLSection("a")));  // not a child: nothing happens
  EXPECT_EQ(xml_test::describe(s), "p(first,a,c,y)");
  EXPECT_FALSE(s->childAt(4));
  EXPECT_FALSE(s->childAt(-1));
  s->removeAllChildren();
  EXPECT_EQ(s->childCount(), 0);
  EXPECT_EQ(s->sizeInBytes(), 1024);
}

TEST(XmlScratch, IsOneProcessWideSectionNamedScratch) {
  SectionRef scratch = scratchSection();
  ASSERT_TRUE(scratch);
  EXPECT_EQ(scratch->name(), "scratch");
  EXPECT_EQ(scratchSection(), scratch);
  scratch->storeText("12");
  EXPECT_EQ(scratchSection()->getInt(0), 12);
}

}  // namespace
