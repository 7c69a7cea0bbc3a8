// Binary sections: the child-list container in both layouts, packing, and the value block.
#include <gtest/gtest.h>

#include <string>

#include "sections/bin_section.h"
#include "sections/packed_section.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"
#include "sections/xml_section.h"
#include "tests/support/test_support.h"

using testing_support::unhex;

namespace {

SectionRef binOver(const std::string& bytes, const std::string& name = "bin") {
  return SectionRef(new BinSection(name, BinaryBlock::fromString(bytes, "test")));
}

// Children a = "xyz" and bc = "12345", as the packer lays them out.
const char* const kTwoChildren =
    "654EA142"                    // magic
    "78797A00"                    // a, padded
    "3132333435000000"            // bc, padded
    "03000000" "00000000000000000000000000000000" "01000000" "61000000"
    "05000000" "00000000000000000000000000000000" "02000000" "62630000"
    "38000000";                   // index size 56

TEST(BinSection, PacksChildrenIntoTheContainerLayout) {
  SectionRef parent = binOver("");
  parent->addChild("a")->storeBlock(BinaryBlock::fromString("xyz", "test"));
  parent->addChild("bc")->storeBlock(BinaryBlock::fromString("12345", "test"));
  BlockRef packed = parent->getBlock();
  ASSERT_TRUE(packed);
  EXPECT_EQ(packed->length(), 76);
  EXPECT_EQ(packed->asString(), unhex(kTwoChildren));

  // The children are read again from the new block, as new objects with the same bytes.
  ASSERT_EQ(parent->childCount(), 2);
  EXPECT_EQ(parent->childNameAt(0), "a");
  EXPECT_EQ(parent->findChild("bc")->getBlock()->asString(), "12345");
}

TEST(BinSection, ReadsTheContainerBack) {
  SectionRef parent = binOver(unhex(kTwoChildren));
  ASSERT_EQ(parent->childCount(), 2);
  EXPECT_EQ(parent->childAt(0)->name(), "a");
  EXPECT_EQ(parent->childAt(0)->getBlock()->asString(), "xyz");
  EXPECT_EQ(parent->childAt(1)->name(), "bc");
  EXPECT_EQ(parent->childAt(1)->getBlock()->asString(), "12345");
  EXPECT_FALSE(parent->childAt(2));
  EXPECT_EQ(parent->sizeInBytes(), 76);
  // Child blocks view the parent's bytes and keep them alive.
  BlockRef child = parent->childAt(1)->getBlock();
  parent = SectionRef();
  EXPECT_EQ(child->asString(), "12345");
}

struct ContainerCase {
  int line;
  const char* hexBytes;
  const char* names;  // children's names joined by ',', then '=' and their bytes joined by ','
};

const ContainerCase kContainers[] = {
    // Too short, or only a magic and an empty index.
    {__LINE__, "654EA142 00000000", ""},
    {__LINE__, "654EA142 00000000 00000000", ""},
    // The older layout: data at 0, entry = length, name length, name, no padding.
    {__LINE__, "61626300 03000000 01000000 78 09000000", "x=abc"},
    // The older layout with the top bit of the length set: the reserved bytes follow it.
    {__LINE__,
     "61626300 03000080 00000000000000000000000000000000 02000000 7879 1A000000", "xy=abc"},
    // Two unpadded entries in the older layout.
    {__LINE__, "6162 0000 6364 0000 02000000 01000000 70 02000000 02000000 7171 13000000",
     "p,qq=ab,cd"},
    // A name of 4097 bytes breaks a limit.
    {__LINE__, "654EA142 00000000 00000000000000000000000000000000 01100000 18000000", ""},
    // A child longer than the data before the index.
    {__LINE__, "654EA142 41424344 05000000 00000000000000000000000000000000 00000000 18000000",
     ""},
    // Index sizes that do not fit.
    {__LINE__, "654EA142 00000000 00000000 FFFFFFFF", ""},
    {__LINE__, "654EA142 00000000 00000000 0C000000", ""},
    // One bad entry empties the whole list.
    {__LINE__,
     "654EA142 41000000"
     "01000000 00000000000000000000000000000000 01000000 61000000"
     "01000000 00000000000000000000000000000000 01000000 62000000"
     "38000000",
     ""},
};

std::string describe(const SectionRef& section) {
  std::string names, bytes;
  for (int i = 0; i < section->childCount(); ++i) {
    if (i) names += ",", bytes += ",";
    names += section->childNameAt(i);
    bytes += section->childAt(i)->getBlock()->asString();
  }
  return names.empty() ? std::string() : names + "=" + bytes;
}

TEST(BinSection, ReadsOnlyWellFormedContainers) {
  for (const ContainerCase& c : kContainers) {
    SCOPED_TRACE("case at line " + std::to_string(c.line));
    const std::string bytes = unhex(c.hexBytes);
    SectionRef section = binOver(bytes);
    EXPECT_EQ(describe(section), c.names);
    // Whatever the list, the value is the whole block.
    EXPECT_EQ(section->sizeInBytes(), static_cast<int>(bytes.size()));
  }
}

TEST(BinSection, ChildrenBecomeTheirOwnForm) {
  PackedNode config;
  config.add("version", PackedValue::text("2.651"));
  std::string packed;
  ASSERT_TRUE(writePackedFile(config, packed));

  SectionRef parent = binOver("");
  parent->addChild("x")->storeBlock(BinaryBlock::fromString("  <r><v>1</v></r>", "test"));
  parent->addChild("p")->storeBlock(BinaryBlock::fromString(packed, "test"));
  parent->addChild("raw")->storeBlock(BinaryBlock::fromString("<not xml", "test"));
  BlockRef container = parent->getBlock();

  SectionRef reread = binOver(container->asString());
  SectionRef xml = reread->findChild("x");
  ASSERT_TRUE(refCast<XMLSection>(xml));
  EXPECT_EQ(xml->name(), "x");
  EXPECT_EQ(xml->readText("v", ""), "1");
  // The packed child keeps the whole file when its parent is packed again.
  ASSERT_TRUE(refCast<PackedSection>(reread->findChild("p")));
  EXPECT_EQ(reread->readText("p/version", ""), "2.651");
  EXPECT_TRUE(refCast<BinSection>(reread->findChild("raw")));
  reread->getBlock();
  EXPECT_EQ(reread->readText("p/version", ""), "2.651");
  // The caller's bytes are never parsed in place.
  EXPECT_EQ(reread->findChild("raw")->getBlock()->asString(), "<not xml");
}

TEST(BinSection, ValueReadsGiveTheDefault) {
  SectionRef section = binOver("1234");
  EXPECT_EQ(section->getText("dflt"), "dflt");
  EXPECT_EQ(section->getInt(5), 5);
  EXPECT_FALSE(section->isStructured());
  EXPECT_FALSE(section->storeText("x"));
  EXPECT_FALSE(section->saveTo(""));
  EXPECT_FALSE(section->convertSection("", SectionRef()));
  // Not a container: the block comes back as it is.
  EXPECT_EQ(section->childCount(), 0);
  EXPECT_EQ(section->getBlock()->asString(), "1234");
}

TEST(BinSection, EditingTheChildListReachesTheBlock) {
  SectionRef section = binOver(unhex(kTwoChildren));
  section->removeChildNamed("a");
  EXPECT_EQ(describe(section), "bc=12345");
  EXPECT_EQ(describe(binOver(section->getBlock()->asString())), "bc=12345");

  // Removing the last child leaves an empty container, not the stale block.
  section->removeChild(section->childAt(0));
  EXPECT_EQ(section->childCount(), 0);
  EXPECT_EQ(section->getBlock()->asString(), unhex("654EA142 00000000"));

  section = binOver(unhex(kTwoChildren));
  section->removeAllChildren();
  EXPECT_EQ(section->childCount(), 0);
  EXPECT_EQ(section->getBlock()->length(), 0);

  // Storing a block drops the children; they are read from the new block on demand.
  section->storeBlock(BinaryBlock::fromString(unhex(kTwoChildren), "test"));
  EXPECT_EQ(section->childCount(), 2);
}

TEST(BinSection, NestedContainersPackRecursively) {
  SectionRef root = binOver("");
  SectionRef inner = root->openSection("dir/file", true);
  ASSERT_TRUE(inner);
  inner->storeBlock(BinaryBlock::fromString("payload", "test"));
  SectionRef reread = binOver(root->getBlock()->asString());
  EXPECT_EQ(reread->openSection("dir/file")->getBlock()->asString(), "payload");
}

TEST(BinContainer, EncoderRefusesWhatTheReaderWouldNotRead) {
  std::string out;
  const std::string longName(kBinMaxNameLength + 1, 'n');
  EXPECT_FALSE(encodeBinContainer({BinChild{longName, nullptr, 0}}, out));
  EXPECT_FALSE(encodeBinContainer({BinChild{"big", nullptr, kBinMaxChildLength + 1}}, out));

  const std::string maxName(kBinMaxNameLength, 'n');
  ASSERT_TRUE(encodeBinContainer({BinChild{maxName, nullptr, 0}}, out));
  std::vector<BinEntry> entries =
      decodeBinContainer(reinterpret_cast<const unsigned char*>(out.data()), out.size());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, maxName);
}

}  // namespace
