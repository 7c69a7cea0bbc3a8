// Which form the factory builds for a block, and what it does to the caller's bytes.
#include <gtest/gtest.h>

#include "sections/section_factory.h"
#include "sections/xml_section.h"
#include "xml_test_util.h"

using xml_test::block;
using xml_test::describe;

namespace {

bool isXml(const SectionRef& s) { return s && dynamic_cast<XMLSection*>(s.get()) != nullptr; }

TEST(SectionFactory, ChoosesTheFormFromTheFirstNonBlankByte) {
  const struct {
    const char* what;
    std::string bytes;
    bool xml;
  } cases[] = {
      {"empty block", "", false},
      {"only blanks", " \t\r\n", false},
      {"leading blanks then markup", "  <a>1</a>", true},
      {"zero byte before the markup", std::string("\0<a>1</a>", 9), false},
      {"other byte first", "x<a>1</a>", false},
      {"form feed is not a blank", "\f<a>1</a>", false},
  };
  for (const auto& c : cases) {
    for (bool inPlace : {false, true}) {
      SectionRef s = sectionFromBlock("tag", block(c.bytes), inPlace);
      ASSERT_TRUE(s) << c.what;
      EXPECT_EQ(isXml(s), c.xml) << c.what;
      EXPECT_EQ(s->name(), "tag") << c.what;
    }
  }
}

TEST(SectionFactory, XmlRootTakesTheGivenTag) {
  SectionRef s = sectionFromBlock("script_config", block("  <a>1</a>"), true);
  EXPECT_EQ(describe(s), "script_config=1");
}

TEST(SectionFactory, RefusedXmlGivesNoneInPlaceAndAnotherFormOnACopy) {
  const std::string bytes = "<a>1</b>";
  BlockRef caller = block(bytes);
  EXPECT_FALSE(sectionFromBlock("t", caller, true));

  caller = block(bytes);
  SectionRef fallback = sectionFromBlock("t", caller, false);
  ASSERT_TRUE(fallback);
  EXPECT_FALSE(isXml(fallback));
  EXPECT_EQ(fallback->name(), "t");
  EXPECT_EQ(caller->asString(), bytes);
}

TEST(SectionFactory, ParsesACopyUnlessToldToParseInPlace) {
  const std::string bytes = "<a> x &amp; y </a>";
  BlockRef caller = block(bytes);
  SectionRef copy = sectionFromBlock("t", caller, false);
  EXPECT_EQ(describe(copy), "t=x & y");
  EXPECT_EQ(caller->asString(), bytes);

  SectionRef inPlace = sectionFromBlock("t", caller, true);
  EXPECT_EQ(describe(inPlace), "t=x & y");
  EXPECT_NE(caller->asString(), bytes);
}

TEST(SectionFactory, NoBlockIsAnEmptyBlock) {
  SectionRef s = sectionFromBlock("t", BlockRef(), true);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->childCount(), 0);
}

class RecordingCreator : public SectionCreator {
 public:
  SectionRef create(const SectionRef& parent, const std::string& tag,
                    const BlockRef& block) override {
    sawParent = static_cast<bool>(parent);
    sawTag = tag;
    sawBlock = block.get();
    return SectionRef(new XMLSection("made"));
  }
  bool sawParent = true;
  std::string sawTag;
  BinaryBlock* sawBlock = nullptr;
};

TEST(SectionFactory, ACreatorAloneDecides) {
  RecordingCreator creator;
  BlockRef bytes = block("<a>1</a>");
  SectionRef s = sectionFromBlock("t", bytes, true, &creator);
  EXPECT_EQ(describe(s), "made");
  EXPECT_FALSE(creator.sawParent);
  EXPECT_EQ(creator.sawTag, "t");
  EXPECT_EQ(creator.sawBlock, bytes.get());
  EXPECT_EQ(bytes->asString(), "<a>1</a>");
}

}  // namespace
