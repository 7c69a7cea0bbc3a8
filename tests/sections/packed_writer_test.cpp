// The packed writer: random trees read back exactly, section trees convert, limits refuse.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sections/bin_section.h"
#include "sections/packed_section.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"
#include "sections/xml_writer.h"

namespace {

SectionRef readPacked(const std::string& file, const std::string& tag = "t") {
  return sectionFromBlock(tag, BinaryBlock::fromString(file, "test"), true);
}

class TreeMaker {
 public:
  explicit TreeMaker(unsigned seed) : rng_(seed) {}

  PackedNode tree() {
    PackedNode root;
    root.value = value();
    fill(root, 0);
    return root;
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string bytes(int maxLength) {
    std::string s(static_cast<size_t>(pick(maxLength + 1)), '\0');
    for (char& c : s) c = static_cast<char>(pick(256));
    return s;
  }

  PackedValue value() {
    switch (pick(9)) {
      case 0: return PackedValue::text(bytes(12));
      case 1: return PackedValue::integer(static_cast<int32_t>(rng_()));
      case 2: return PackedValue::integer(pick(300) - 150);
      case 3: return PackedValue::real(static_cast<float>(pick(2000)) / 8);
      case 4: return PackedValue::vector3({1.25f, -2, static_cast<float>(pick(99))});
      case 5: return PackedValue::boolean(pick(2) == 1);
      case 6: return PackedValue::blob(bytes(20));
      case 7: return PackedValue::markerBlob(bytes(20), pick(2) == 1);
      default: {
        Matrix m;
        m.m[pick(4)][pick(3)] = 3.5f;
        return PackedValue::matrix(m);
      }
    }
  }

  void fill(PackedNode& node, int depth) {
    const int count = depth > 3 ? 0 : pick(6);
    for (int i = 0; i < count; ++i) {
      // Few distinct names, so that the string table shares them; sometimes none at all.
      std::string name = pick(8) == 0 ? std::string() : "n" + std::to_string(pick(5));
      PackedNode& child = node.add(name, value());
      fill(child, depth + 1);
    }
  }

  std::mt19937 rng_;
};

// A marker blob reads back as the blob it holds.
PackedValue asRead(const PackedValue& v) {
  if (v.type != kPackedMarkerBlob) return v;
  std::string plain = v.bytes.substr(1);
  if (v.bytes[0] == 1)
    for (char& c : plain) c = static_cast<char>(c ^ kPackedScrambleKey);
  return PackedValue::blob(plain);
}

void expectSame(const PackedNode& expected, const SectionRef& got, const std::string& path) {
  SCOPED_TRACE(path);
  RefPtr<PackedSection> packed = refCast<PackedSection>(got);
  ASSERT_TRUE(packed);
  const PackedValue want = asRead(expected.value);
  EXPECT_EQ(packed->valueType(), want.type);
  EXPECT_EQ(packed->valueBytes(), want.bytes);
  if (!expected.children.empty()) {
    ASSERT_EQ(got->childCount(), static_cast<int>(expected.children.size()));
  }
  for (size_t i = 0; i < expected.children.size(); ++i) {
    const PackedNode& child = expected.children[i];
    SectionRef read = got->childAt(static_cast<int>(i));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->name(), child.name);
    expectSame(child, read, path + "/" + child.name);
  }
}

TEST(PackedWriter, RandomTreesReadBackWithTheSameNamesTypesAndValues) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const PackedNode tree = TreeMaker(seed).tree();
    std::string file;
    ASSERT_TRUE(writePackedFile(tree, file));
    SectionRef root = readPacked(file);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name(), "t");
    expectSame(tree, root, "");

    // Copying the packed tree through the writer again gives the same file, except that
    // marker blobs have become plain blobs.
    std::string again = packSectionTree(readPacked(file));
    ASSERT_FALSE(again.empty());
    expectSame(tree, readPacked(again), "(copy)");
  }
}

TEST(PackedWriter, XmlTextBecomesAPackedConfiguration) {
  const std::string xml =
      "<script_config>\n\t<version>\t2.651\t</version>\n"
      "\t<pos>\t1 2 3\t</pos>\n\t<group>\t<a>\tx\t</a>\t</group>\n</script_config>\n";
  SectionRef tree = sectionFromBlock("script_config", BinaryBlock::fromString(xml, "test"), false);
  ASSERT_TRUE(tree);
  const std::string file = packSectionTree(tree);
  ASSERT_FALSE(file.empty());

  SectionRef config = readPacked(file, "script_config");
  ASSERT_TRUE(refCast<PackedSection>(config));
  EXPECT_EQ(config->readText("version", ""), "2.651");
  EXPECT_EQ(config->openSection("pos")->getVector3(Vector3()), (Vector3{1, 2, 3}));
  EXPECT_EQ(config->readText("group/a", ""), "x");
  EXPECT_EQ(refCast<PackedSection>(config->findChild("version"))->valueType(), kPackedText);
}

TEST(PackedWriter, BinarySectionsBecomeBlobs) {
  SectionRef bin = sectionFromBlock("b", BinaryBlock::fromString("\x01\x02raw", "test"), false);
  ASSERT_TRUE(refCast<BinSection>(bin));
  PackedNode node;
  ASSERT_TRUE(packedNodeFromSection(bin, node));
  EXPECT_EQ(node.value.type, kPackedBlob);
  EXPECT_EQ(node.value.bytes, "\x01\x02raw");
}

TEST(PackedWriter, EmptyNamesAndTypeZeroLeavesSurvive) {
  PackedNode root;
  root.add("", PackedValue::text("anonymous"));
  root.add("z", PackedValue{kPackedRecords, "own"});
  std::string file;
  ASSERT_TRUE(writePackedFile(root, file));
  SectionRef tree = readPacked(file);
  EXPECT_EQ(tree->childAt(0)->name(), "");
  EXPECT_EQ(tree->childAt(0)->getText(""), "anonymous");
  RefPtr<PackedSection> z = refCast<PackedSection>(tree->findChild("z"));
  ASSERT_TRUE(z);
  EXPECT_EQ(z->valueType(), kPackedRecords);
  EXPECT_EQ(z->valueBytes(), "own");
}

TEST(PackedWriter, RefusesTreesTheFormatCannotHold) {
  std::string out = "untouched";
  PackedNode zeroInName;
  zeroInName.add(std::string("a\0b", 3), PackedValue::text("x"));
  EXPECT_FALSE(writePackedFile(zeroInName, out));

  PackedNode badType;
  badType.add("a", PackedValue{16, "x"});
  EXPECT_FALSE(writePackedFile(badType, out));

  PackedNode tooManyChildren;
  tooManyChildren.children.resize(kPackedMaxChildren + 1);
  EXPECT_FALSE(writePackedFile(tooManyChildren, out));

  PackedNode tooManyNames;
  for (int i = 0; i <= kPackedMaxNames; ++i) {
    PackedNode& group = i % 100 == 0 ? tooManyNames.add("g" + std::to_string(i), {})
                                     : tooManyNames.children.back();
    group.add("n" + std::to_string(i), PackedValue::boolean(true));
  }
  EXPECT_FALSE(writePackedFile(tooManyNames, out));
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(packSectionTree(SectionRef()), "");

  // The largest legal count still works.
  PackedNode most;
  most.children.resize(kPackedMaxChildren);
  ASSERT_TRUE(writePackedFile(most, out));
  EXPECT_EQ(readPacked(out)->childCount(), kPackedMaxChildren);
}

// Packed files and binary containers cost a few bytes a level, so a small file can hold a tree
// deep enough to overflow the stack of every recursive walk; the writers stop at the limit
// the XML parser keeps.
TEST(Writers, TreesWithMoreLevelsThanTheLimitAreRefused) {
  for (int levels : {kMaxSectionDepth, kMaxSectionDepth + 1, 4 * kMaxSectionDepth}) {
    SCOPED_TRACE(levels);
    const bool fits = levels <= kMaxSectionDepth;
    // Containers nested down to a plain value: one level each.
    std::string bytes = "leaf";
    for (int i = 1; i < levels; ++i) {
      std::string outer;
      const BinChild child{"c", reinterpret_cast<const unsigned char*>(bytes.data()),
                           bytes.size()};
      ASSERT_TRUE(encodeBinContainer({child}, outer));
      bytes = std::move(outer);
    }
    SectionRef nested = sectionFromBlock("t", BinaryBlock::fromString(bytes, "test"), true);
    ASSERT_TRUE(nested);
    EXPECT_EQ(writeXmlText(*nested).empty(), !fits);
    // A tree made by editing, as deep.
    SectionRef edited = sectionFromBlock("t", BinaryBlock::fromString("<t></t>", "test"), true);
    ASSERT_TRUE(edited);
    SectionRef below = edited;
    for (int i = 1; i < levels; ++i) below = below->addChild("c");
    EXPECT_EQ(writeXmlText(*edited).empty(), !fits);
    EXPECT_EQ(packSectionTree(edited).empty(), !fits);

    PackedNode root;
    PackedNode* deepest = &root;
    for (int i = 1; i < levels; ++i) deepest = &deepest->add("c", PackedValue::text("v"));
    std::string file;
    EXPECT_EQ(writePackedFile(root, file), fits);
  }
}

}  // namespace
