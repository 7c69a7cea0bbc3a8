// Reading at an offset of an open stream: the bytes there, fewer at the end, none past it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace {

TEST(ReadAt, ReadsTheBytesAtTheOffsetAndStopsAtTheEnd) {
  testing_support::TempDir dir;
  const std::string path = dir / "data.bin";
  testing_support::writeFile(path, "0123456789");
  const platform::OpenedFile opened = platform::openFileNarrow(path, "rb");
  ASSERT_TRUE(opened);
  FILE* file = opened.value().get();
  const struct {
    int64_t offset;
    size_t length;
    std::string expected;
  } cases[] = {{0, 4, "0123"}, {7, 3, "789"}, {3, 0, ""}, {8, 5, "89"}, {10, 4, ""}, {20, 1, ""}};
  for (const auto& c : cases) {
    char buffer[16] = {};
    const auto got = platform::readAt(file, c.offset, buffer, c.length);
    ASSERT_TRUE(got) << "at " << c.offset;
    EXPECT_EQ(std::string(buffer, got.value()), c.expected) << "at " << c.offset;
  }
  // The stream reads on as usual after a seek.
  ASSERT_EQ(std::fseek(file, 5, SEEK_SET), 0);
  char next[3] = {};
  EXPECT_EQ(std::fread(next, 1, 2, file), 2u);
  EXPECT_EQ(std::string(next), "56");
}

}  // namespace
