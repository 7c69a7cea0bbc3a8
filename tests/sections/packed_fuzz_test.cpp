// Mutated packed files and binary containers through the factory: every child and every typed
// read must stay inside the bytes (run under the address sanitizer to make that visible).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sections/bin_section.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"

namespace {

constexpr int kMaxDepth = 12;
constexpr int kMaxChildrenWalked = 40;

// Every read a caller can make, on every section reachable from this one.
void walk(const SectionRef& section, int depth, size_t& visited) {
  ++visited;
  section->name();
  section->sizeInBytes();
  section->getText("d");
  section->getBool(true);
  section->getInt(1);
  section->getLong(1);
  section->getFloat(1);
  section->getDouble(1);
  section->getVector2(Vector2());
  section->getVector3(Vector3());
  section->getVector4(Vector4());
  section->getMatrix(Matrix());
  section->getBlobText("d");
  section->getWideText(u"d");
  if (BlockRef block = section->getBlock()) block->asString();
  section->findChild("row1");
  section->findChild("a");
  section->readText("a/b", "");
  if (depth >= kMaxDepth) return;
  const int count = section->childCount();
  for (int i = 0; i < count && i < kMaxChildrenWalked; ++i) {
    SectionRef child = section->childAt(i);
    ASSERT_TRUE(child) << "child " << i << " of " << count;
    walk(child, depth + 1, visited);
  }
  for (ChildIterator it = section->begin(), end = section->end(); it != end; ++it) {
    if (it.index() >= kMaxChildrenWalked) break;
    ASSERT_TRUE(*it);
  }
}

std::string seedPacked() {
  PackedNode root;
  root.value = PackedValue::text("own");
  root.add("version", PackedValue::text("2.651"));
  PackedNode& group = root.add("group", PackedValue::integer(300));
  group.add("f", PackedValue::real(1.5f));
  group.add("v", PackedValue::vector3({1, 2, 3}));
  Matrix m;
  m.m[2][1] = 4;
  group.add("m", PackedValue::matrix(m));
  group.add("s", PackedValue::markerBlob("secret", true));
  group.add("p", PackedValue::markerBlob("plain", false));
  root.add("b", PackedValue::boolean(true));
  root.add("blob", PackedValue::blob("\x01\x02\x03"));
  std::string file;
  EXPECT_TRUE(writePackedFile(root, file));
  return file;
}

std::string seedContainer(const std::string& packed) {
  const std::string xml = "<a><b>1</b></a>";
  const std::string raw = "raw bytes";
  std::string inner;
  EXPECT_TRUE(encodeBinContainer({BinChild{"raw", reinterpret_cast<const unsigned char*>(raw.data()), raw.size()}}, inner));
  std::string out;
  EXPECT_TRUE(encodeBinContainer(
      {BinChild{"p", reinterpret_cast<const unsigned char*>(packed.data()), packed.size()},
       BinChild{"x", reinterpret_cast<const unsigned char*>(xml.data()), xml.size()},
       BinChild{"dir", reinterpret_cast<const unsigned char*>(inner.data()), inner.size()}},
      out));
  return out;
}

std::string mutate(const std::string& seed, std::mt19937& rng) {
  std::string s = seed;
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  const size_t edits = 1 + pick(4);
  for (size_t e = 0; e < edits && !s.empty(); ++e) {
    switch (pick(6)) {
      case 0: s[pick(s.size())] = static_cast<char>(pick(256)); break;
      case 1: s[pick(s.size())] ^= static_cast<char>(1u << pick(8)); break;
      case 2: s.resize(pick(s.size() + 1)); break;
      case 3: s.erase(pick(s.size()), 1 + pick(8)); break;
      case 4: s.insert(pick(s.size() + 1), std::string(1 + pick(8), static_cast<char>(pick(256)))); break;
      default: {  // a boundary value in a 16- or 32-bit field
        static const char* const kValues[] = {"\xff\xff\xff\xff", "\x00\x00\x00\x80",
                                               "\xff\x7f", "\x00\x80", "\xff\xff\xff\x0f"};
        const std::string v = kValues[pick(5)];
        const size_t at = pick(s.size());
        s.replace(at, v.size(), v);
        break;
      }
    }
  }
  return s;
}

TEST(SectionFuzz, MutatedPackedFilesAndContainersStayInsideTheirBytes) {
  const std::string packed = seedPacked();
  const std::string seeds[] = {packed, seedContainer(packed)};
  std::mt19937 rng(20260707);
  size_t visited = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string& seed = seeds[round % 2];
    const std::string bytes = mutate(seed, rng);
    // The mutated bytes sit in a block of exactly their size: any read past it is caught.
    BlockRef block = BinaryBlock::fromString(bytes, "fuzz");
    SectionRef tree = sectionFromBlock("fuzz", block, round % 4 < 2);
    if (!tree) continue;  // XML-looking bytes that do not parse in place
    walk(tree, 0, visited);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
    // Packing a container again must read back with as many children as it had.
    if (RefPtr<BinSection> bin = refCast<BinSection>(tree)) {
      const int count = bin->childCount();
      BlockRef again = bin->getBlock();
      SectionRef reread = sectionFromBlock("again", again, false);
      EXPECT_EQ(reread->childCount(), count) << "round " << round;
    }
  }
  EXPECT_GT(visited, 10000u);
}

}  // namespace
