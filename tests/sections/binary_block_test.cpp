// Shared byte blocks and the counting pointer: ownership, views, stream reads, serials.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "sections/binary_block.h"
#include "sections/reference_count.h"
#include "tests/support/test_support.h"

namespace {

// Counts live instances so that every test can prove nothing leaked or died early.
struct Tracked : SafeReferenceCount {
  static int alive;
  Tracked() { ++alive; }
  ~Tracked() override { --alive; }
};
int Tracked::alive = 0;

TEST(BinaryBlocks, WithoutDataTheBytesAreZero) {
  BlockRef block(new BinaryBlock(nullptr, 16, "test"));
  ASSERT_EQ(block->length(), 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(block->data()[i], 0) << i;
  EXPECT_FALSE(block->owner());
}

TEST(BinaryBlocks, WithDataTheBytesAreCopied) {
  char source[] = "abcdef";
  BlockRef block(new BinaryBlock(source, 6, "test"));
  source[0] = 'X';
  EXPECT_EQ(block->asString(), "abcdef");
  EXPECT_NE(block->cdata(), source);
}

TEST(BinaryBlocks, ViewKeepsItsOwnerAliveUntilTheViewGoes) {
  BinaryBlock* raw = new BinaryBlock("0123456789", 10, "owner");
  BlockRef owner(raw);
  BlockRef view = BinaryBlock::view(owner, 2, 5, "view");
  ASSERT_TRUE(view);
  owner.reset();
  EXPECT_EQ(raw->refCount(), 1);  // only the view holds it now
  EXPECT_EQ(view->asString(), "23456");
  EXPECT_EQ(view->data(), raw->data() + 2);
  view.reset();  // frees the owner too (ASan reports a leak or a double free otherwise)
}

TEST(BinaryBlocks, ViewsOutsideTheParentAreRefused) {
  BlockRef parent = BinaryBlock::fromString("0123456789", "p");
  struct Case {
    int32_t offset, length;
    bool ok;
  } cases[] = {{0, 10, true}, {10, 0, true}, {9, 1, true}, {9, 2, false},
               {11, 0, false}, {-1, 1, false}, {0, -1, false}, {5, 0x7FFFFFFF, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<bool>(BinaryBlock::view(parent, c.offset, c.length, "v")), c.ok)
        << c.offset << "+" << c.length;
  }
  EXPECT_FALSE(BinaryBlock::view(BlockRef(), 0, 0, "v"));
}

TEST(BinaryBlocks, StreamReadStopsAtWhatIsLeft) {
  testing_support::TempDir dir;
  testing_support::writeFile(dir / "sixty", std::string(60, 'q'));
  FILE* stream = std::fopen((dir / "sixty").c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  std::fseek(stream, 20, SEEK_SET);
  BlockRef block(new BinaryBlock(stream, 100));
  EXPECT_EQ(block->length(), 40);
  EXPECT_EQ(block->asString(), std::string(40, 'q'));
  BlockRef none(new BinaryBlock(stream, 100));
  EXPECT_EQ(none->length(), 0);
  std::fclose(stream);
}

TEST(BinaryBlocks, AllocatingBlocksTakeConsecutiveSerials) {
  const int32_t next = BinaryBlock::nextSerial();
  BlockRef a(new BinaryBlock(nullptr, 1, "a"));
  BlockRef b(new BinaryBlock("x", 1, "b"));
  EXPECT_EQ(a->serial(), next);
  EXPECT_EQ(b->serial(), next + 1);
  // A view takes none.
  BlockRef v = BinaryBlock::view(a, 0, 1, "v");
  EXPECT_EQ(BinaryBlock::nextSerial(), next + 2);
}

TEST(CountingPointers, AssignmentsKeepCountsRight) {
  {
    RefPtr<Tracked> a(new Tracked);
    RefPtr<Tracked> b = a;
    EXPECT_EQ(a->refCount(), 2);
    RefPtr<Tracked>& alias = b;
    b = alias;  // self-assignment changes nothing
    EXPECT_EQ(a->refCount(), 2);
    a = a;
    EXPECT_EQ(a->refCount(), 2);
    b = RefPtr<Tracked>(new Tracked);
    EXPECT_EQ(Tracked::alive, 2);
    EXPECT_EQ(a->refCount(), 1);
    RefPtr<Tracked> moved = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(moved->refCount(), 1);
    moved = std::move(b);  // the first object dies here
    EXPECT_EQ(Tracked::alive, 1);
  }
  EXPECT_EQ(Tracked::alive, 0);
}

TEST(CountingPointers, ANewObjectStartsAtZeroAndDiesWithItsLastReference) {
  Tracked* raw = new Tracked;
  EXPECT_EQ(raw->refCount(), 0);
  {
    RefPtr<ReferenceCount> base(raw);
    RefPtr<Tracked> back = refCast<Tracked>(base);
    EXPECT_EQ(back.get(), raw);
    EXPECT_EQ(raw->refCount(), 2);
  }
  EXPECT_EQ(Tracked::alive, 0);
  // An object handed out through makeRef and dropped at once is destroyed at once.
  makeRef<Tracked>();
  EXPECT_EQ(Tracked::alive, 0);
}

}  // namespace
