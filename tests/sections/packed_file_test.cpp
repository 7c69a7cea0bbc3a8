// The packed file's structure: recognition, string table, records, matrices, and what damaged
// files become.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sections/bin_section.h"
#include "sections/packed_section.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"
#include "sections/trace_flag.h"
#include "sections/xml_section.h"
#include "tests/support/test_support.h"

using testing_support::unhex;

namespace {

SectionRef openHex(const std::string& hexBytes, const std::string& tag = "root") {
  return sectionFromBlock(tag, BinaryBlock::fromString(unhex(hexBytes), "test"), true);
}

// Magic, the uninterpreted byte, then the rest as given.
std::string packedHex(const std::string& rest) { return "454EA162 00 " + rest; }

TEST(PackedFile, RecognisedOnlyWhenLongerThanTheMagic) {
  EXPECT_TRUE(refCast<BinSection>(openHex("454EA162")));
  EXPECT_TRUE(refCast<BinSection>(openHex("454EA163 00 00 0000 00000010")));
  EXPECT_TRUE(refCast<PackedSection>(openHex("454EA162 00")));
  EXPECT_FALSE(openPacked("x", BlockRef()));
}

TEST(PackedFile, ScriptsConfigVersionReadsAsText) {
  // Names: "version". Root: one child, own value empty text; child 0 is name 0, text, ends at 5.
  const std::string golden = packedHex(
      "76657273696F6E00 00"
      "0100 00000010"
      "0000 05000010"
      "322E363531");
  SectionRef config = openHex(golden, "script_config");
  ASSERT_TRUE(config);
  EXPECT_EQ(config->name(), "script_config");
  EXPECT_EQ(config->readText("version", ""), "2.651");
  EXPECT_EQ(config->readText("missing", ""), "");

  // The writer makes exactly these bytes from the same tree.
  PackedNode root;
  root.add("version", PackedValue::text("2.651"));
  std::string written;
  ASSERT_TRUE(writePackedFile(root, written));
  EXPECT_EQ(written, unhex(golden));
}

TEST(PackedFile, RootWithOwnTextAndNoChildren) {
  SectionRef root = openHex(packedHex("00 0000 03000010 616263"));
  EXPECT_EQ(root->childCount(), 0);
  EXPECT_EQ(root->getText("d"), "abc");
  EXPECT_FALSE(root->childAt(0));
  EXPECT_EQ(root->sizeInBytes(), 9);
}

TEST(PackedFile, NestedNodesWalkByPath) {
  PackedNode root;
  PackedNode& a = root.add("a", PackedValue::text("own"));
  a.add("b", PackedValue::integer(-5));
  a.add("a", PackedValue::text("inner"));
  root.add("b", PackedValue::boolean(true));
  std::string file;
  ASSERT_TRUE(writePackedFile(root, file));
  SectionRef tree = sectionFromBlock("t", BinaryBlock::fromString(file, "test"), true);

  EXPECT_EQ(tree->openSection("a//b/")->getInt(0), -5);
  EXPECT_EQ(tree->readText("a/a", ""), "inner");
  EXPECT_EQ(tree->readText("a", ""), "own");
  EXPECT_TRUE(tree->openSection("b")->getBool(false));
  EXPECT_FALSE(tree->openSection("a/c"));
  EXPECT_EQ(tree->childNameAt(1), "b");
  // Read-only: nothing can be added or removed.
  EXPECT_FALSE(tree->addChild("c"));
  EXPECT_FALSE(tree->openSection("c/d", true));
  tree->removeChildNamed("a");
  tree->removeAllChildren();
  EXPECT_EQ(tree->childCount(), 2);
  EXPECT_FALSE(tree->storeText("x"));
  EXPECT_FALSE(tree->saveTo("x"));
  // Two look-ups give two objects over the same bytes.
  EXPECT_NE(tree->childAt(0), tree->childAt(0));
  EXPECT_EQ(tree->indexOfChild(tree->childAt(0)), -1);
}

TEST(PackedFile, MatrixValueHasRowChildrenButNoNamedOnes) {
  Matrix m;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c) m.m[r][c] = static_cast<float>(r * 10 + c);
  PackedNode root;
  root.add("m", PackedValue::matrix(m));
  std::string file;
  ASSERT_TRUE(writePackedFile(root, file));
  SectionRef mat = sectionFromBlock("t", BinaryBlock::fromString(file, "test"), true)
                       ->findChild("m");

  EXPECT_EQ(mat->childCount(), 4);
  SectionRef row2 = mat->childAt(2);
  ASSERT_TRUE(row2);
  EXPECT_EQ(row2->name(), "row2");
  EXPECT_EQ(row2->getVector3(Vector3()), (Vector3{20, 21, 22}));
  EXPECT_FALSE(mat->childAt(4));
  EXPECT_FALSE(mat->findChild("row2"));
  EXPECT_EQ(mat->getText("d"), "");

  Matrix expected = m;
  for (int r = 0; r < 4; ++r) expected.m[r][3] = r == 3 ? 1.0f : 0.0f;
  EXPECT_EQ(mat->getMatrix(Matrix()), expected);
}

TEST(PackedFile, MatrixRowsAreFoundByNameWhenTheNodeHasRecords) {
  Matrix m;
  m.m[1][0] = 5;
  PackedNode root;
  PackedNode& node = root.add("m", PackedValue::matrix(m));
  node.add("other", PackedValue::text("x"));
  std::string file;
  ASSERT_TRUE(writePackedFile(root, file));
  SectionRef mat = sectionFromBlock("t", BinaryBlock::fromString(file, "test"), true)
                       ->findChild("m");
  EXPECT_EQ(mat->childCount(), 1);
  ASSERT_TRUE(mat->findChild("row1"));
  EXPECT_EQ(mat->findChild("row1")->getVector3(Vector3{9, 9, 9}), (Vector3{5, 0, 0}));
  EXPECT_FALSE(mat->findChild("row4"));
  EXPECT_EQ(mat->findChild("other")->getText(""), "x");
}

TEST(PackedFile, MatrixThroughRowChildren) {
  PackedNode root;
  PackedNode& node = root.add("m", PackedValue::text(""));
  node.add("row0", PackedValue::vector3({1, 2, 3}));
  node.add("row3", PackedValue::text("7 8 9"));
  std::string file;
  ASSERT_TRUE(writePackedFile(root, file));
  SectionRef mat = sectionFromBlock("t", BinaryBlock::fromString(file, "test"), true)
                       ->findChild("m");
  Matrix fallback;
  fallback.m[1][1] = 42;
  Matrix got = mat->getMatrix(fallback);
  EXPECT_EQ(got.m[0][0], 1);
  EXPECT_EQ(got.m[0][2], 3);
  EXPECT_EQ(got.m[1][1], 42);
  EXPECT_EQ(got.m[3][0], 7);
  EXPECT_EQ(got.m[3][3], 1);
}

TEST(PackedFile, ChildrenWithoutAValidNameAreReachableOnlyByIndex) {
  // Names: "a". Children: index -1 (text x), index 5 (text y), index 0 (text z).
  SectionRef root = openHex(packedHex(
      "6100 00"
      "0300 00000010"
      "FFFF 01000010"
      "0500 02000010"
      "0000 03000010"
      "78797A"));
  ASSERT_EQ(root->childCount(), 3);
  EXPECT_EQ(root->childAt(0)->name(), "");
  EXPECT_EQ(root->childAt(0)->getText(""), "x");
  EXPECT_EQ(root->childAt(1)->getText(""), "y");
  EXPECT_FALSE(root->findChild(""));
  EXPECT_EQ(root->findChild("a")->getText(""), "z");
}

struct DamagedCase {
  int line;
  const char* hexRest;  // after magic and the uninterpreted byte
  int childCount;
  const char* rootText;
  const char* firstChildText;  // nullptr: no child 0
};

const DamagedCase kDamaged[] = {
    // String table without its end: no names and an empty root.
    {__LINE__, "6162", 0, "", nullptr},
    {__LINE__, "616200", 0, "", nullptr},
    // Records block shorter than its header.
    {__LINE__, "00 0000 0300", 0, "", nullptr},
    {__LINE__, "00", 0, "", nullptr},
    // A count below -1.
    {__LINE__, "00 FEFF 00000010", 0, "", nullptr},
    // Records and own value that do not fit (by one byte, and by far).
    {__LINE__, "00 0000 04000010 616263", 0, "", nullptr},
    {__LINE__, "00 FF7F 00000010", 0, "", nullptr},
    // A count of -1: no children, the own value starts at the block itself.
    {__LINE__, "00 FFFF 02000010", 0, "\xff\xff", nullptr},
    // A child that ends past the data area keeps its name but has no bytes.
    {__LINE__, "00 0100 00000010 FFFF 09000010 6162", 1, "", ""},
    // A child that ends before it starts (records out of order).
    {__LINE__, "00 0200 02000010 FFFF 03000010 FFFF 01000010 61626364", 2, "ab", "c"},
    // A nested records block that is damaged: the child is an empty text value.
    {__LINE__, "00 0100 00000010 FFFF 03000000 010000", 1, "", ""},
};

TEST(PackedFile, DamagedFilesGiveEmptyTextValues) {
  for (const DamagedCase& c : kDamaged) {
    SCOPED_TRACE("case at line " + std::to_string(c.line));
    SectionRef root = openHex(packedHex(c.hexRest));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->childCount(), c.childCount);
    EXPECT_EQ(root->getText("d"), c.rootText);
    SectionRef first = root->childAt(0);
    EXPECT_EQ(static_cast<bool>(first), c.firstChildText != nullptr);
    if (first) {
      EXPECT_EQ(first->getText("d"), c.firstChildText);
    }
    for (int i = 0; i < root->childCount(); ++i) ASSERT_TRUE(root->childAt(i));
  }
}

TEST(PackedFile, OutOfOrderChildStillLeavesItsSiblingsIntact) {
  SectionRef root = openHex(packedHex("00 0200 02000010 FFFF 03000010 FFFF 01000010 61626364"));
  EXPECT_EQ(root->childAt(1)->getText("d"), "");
  EXPECT_EQ(root->childAt(1)->sizeInBytes(), 0);
}

TEST(PackedFile, PackedTraceIsSilentAndReportsTheLookup) {
  std::vector<std::string> lines;
  setTraceSink([&](const std::string& text) { lines.push_back(text); });
  SectionRef root = openHex(packedHex("6100 00 0100 00000010 0000 01000010 78"));
  root->startTraceSection("a");
  setTraceSink(nullptr);
  EXPECT_FALSE(traceFlagRaised());
  bool matched = false;
  for (const std::string& line : lines) matched |= line == "name matches: a,return pCurr->createSection(this)";
  EXPECT_TRUE(matched);
}

}  // namespace
