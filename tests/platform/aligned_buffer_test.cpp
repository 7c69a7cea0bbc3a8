// Bulk I/O memory: on a page boundary, wholly usable, owned by one object at a time, and absent
// rather than thrown when the system cannot give it.
#include "platform/aligned_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

bool onPageBoundary(const void* memory) {
  return reinterpret_cast<uintptr_t>(memory) % platform::kPageBytes == 0;
}

TEST(AlignedBuffer, EverySizeStartsOnAPageAndIsWhollyUsable) {
  // Around a page, the fingerprint's chunk and the writer's stage: sizes the C runtime would
  // place 16 bytes past a page boundary.
  const size_t sizes[] = {1, 4095, 4096, 4097, size_t{512} << 10, size_t{8} << 20};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    platform::AlignedBuffer buffer(size);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer.size(), size);
    EXPECT_TRUE(onPageBoundary(buffer.data()));
    for (size_t i = 0; i < size; ++i) buffer.data()[i] = static_cast<unsigned char>(i * 7);
    EXPECT_EQ(buffer.data()[size - 1], static_cast<unsigned char>((size - 1) * 7));
  }
}

// AddressSanitizer stops the process at an allocation no address space can hold, before the
// C runtime could answer that it has none; such sizes are left to the other builds.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kImpossibleSizesReturn = false;
#else
constexpr bool kImpossibleSizesReturn = true;
#endif

TEST(AlignedBuffer, MemoryThatCannotBeHadIsAnEmptyBuffer) {
  // Nothing asked for, and more than any address space holds.
  std::vector<size_t> sizes = {0};
  if (kImpossibleSizesReturn) sizes.push_back(SIZE_MAX - platform::kPageBytes);
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    platform::AlignedBuffer buffer(size);
    EXPECT_FALSE(buffer);
    EXPECT_EQ(buffer.data(), nullptr);
    EXPECT_EQ(buffer.size(), 0u);
  }
}

TEST(AlignedBuffer, AMoveHandsTheMemoryOverAndLeavesTheSourceEmpty) {
  platform::AlignedBuffer first(4096);
  unsigned char* const memory = first.data();
  platform::AlignedBuffer second(std::move(first));
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): the moved-from state is the contract
  EXPECT_EQ(second.data(), memory);

  platform::AlignedBuffer third(100);
  third = std::move(second);
  EXPECT_EQ(third.data(), memory);
  EXPECT_EQ(third.size(), 4096u);
  EXPECT_FALSE(second);  // NOLINT(bugprone-use-after-move)
}

TEST(AlignedBuffer, ContainersThroughTheAllocatorStartOnAPage) {
  std::vector<char, platform::PageAlignedAllocator<char>> bytes(size_t{3} << 20, 'x');
  EXPECT_TRUE(onPageBoundary(bytes.data()));
  bytes.assign(10, 'y');
  EXPECT_TRUE(onPageBoundary(bytes.data()));
  EXPECT_EQ(bytes.back(), 'y');
  using Huge = std::vector<char, platform::PageAlignedAllocator<char>>;
  if (kImpossibleSizesReturn) {
    EXPECT_THROW(Huge(SIZE_MAX / 2), std::bad_alloc);
  }
}

}  // namespace
