#include "integrity/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const Crc32Kernel kKernels[] = {Crc32Kernel::Zlib, Crc32Kernel::Pclmul, Crc32Kernel::Vpclmul256,
                                Crc32Kernel::Vpclmul};

std::string kernelName(Crc32Kernel kernel) {
  switch (kernel) {
    case Crc32Kernel::Zlib:
      return "zlib";
    case Crc32Kernel::Pclmul:
      return "pclmul";
    case Crc32Kernel::Vpclmul256:
      return "vpclmul256";
    case Crc32Kernel::Vpclmul:
      return "vpclmul";
  }
  return "?";
}

uint32_t zlibReference(uint32_t crc, const unsigned char* p, size_t n) {
  return static_cast<uint32_t>(::crc32(crc, p, static_cast<uInt>(n)));
}

std::vector<unsigned char> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> bytes(n);
  for (auto& b : bytes) b = static_cast<unsigned char>(rng());
  return bytes;
}

TEST(Crc32, KnownAnswers) {
  struct Case {
    const char* input;
    uint32_t expected;
  } cases[] = {
      {"", 0x00000000},
      {"a", 0xe8b7be43},
      {"abc", 0x352441c2},
      {"123456789", 0xcbf43926},
      {"The quick brown fox jumps over the lazy dog", 0x414fa339},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(crc32Update(0, c.input, std::strlen(c.input)), c.expected) << c.input;
  }
  EXPECT_EQ(crc32Update(0x12345678, nullptr, 0), 0x12345678u) << "nothing fed keeps the CRC";
}

// Every length up to 5000 at every alignment in a 64-byte line, from random start values, in
// each kernel this processor has: the result must be zlib's.
TEST(Crc32, EveryKernelMatchesZlibOnShortBlocks) {
  const auto bytes = randomBytes(5000 + 64, 1);
  std::mt19937 rng(2);
  for (Crc32Kernel kernel : kKernels) {
    if (!crc32KernelAvailable(kernel)) continue;
    int mismatches = 0;
    for (size_t n = 0; n <= 5000; ++n) {
      size_t offset = n % 64;
      uint32_t start = n % 3 == 0 ? 0 : static_cast<uint32_t>(rng());
      uint32_t expected = zlibReference(start, bytes.data() + offset, n);
      if (crc32UpdateWith(kernel, start, bytes.data() + offset, n) != expected && ++mismatches < 5)
        ADD_FAILURE() << kernelName(kernel) << " length " << n << " offset " << offset;
    }
  }
}

TEST(Crc32, EveryKernelMatchesZlibOnLargeBlocksAndChains) {
  const auto bytes = randomBytes((size_t{16} << 20) + 1000, 3);
  const size_t lengths[] = {(size_t{1} << 20) + 13, (size_t{16} << 20) + 7, 4096 * 3 + 255};
  for (Crc32Kernel kernel : kKernels) {
    if (!crc32KernelAvailable(kernel)) continue;
    for (size_t n : lengths) {
      for (size_t offset : {size_t{0}, size_t{1}, size_t{17}, size_t{63}}) {
        const unsigned char* p = bytes.data() + offset;
        uint32_t expected = zlibReference(0, p, n);
        EXPECT_EQ(crc32UpdateWith(kernel, 0, p, n), expected)
            << kernelName(kernel) << " length " << n << " offset " << offset;
        // Split at an odd place and chained: the same CRC.
        size_t split = n / 3 + 5;
        uint32_t chained = crc32UpdateWith(kernel, crc32UpdateWith(kernel, 0, p, split),
                                           p + split, n - split);
        EXPECT_EQ(chained, expected) << kernelName(kernel) << " chained, length " << n;
      }
    }
  }
}

TEST(Crc32, ActiveKernelIsAvailable) {
  EXPECT_TRUE(crc32KernelAvailable(crc32ActiveKernel()));
  EXPECT_TRUE(crc32KernelAvailable(Crc32Kernel::Zlib));
}

}  // namespace
