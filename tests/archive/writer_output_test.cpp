// The writer's output path: buffering and flush progress, and round trips of random archives
// through writer and reader. The full disk is writer_full_disk_posix_test.cpp's.
#include <gtest/gtest.h>

#include <random>

#include "archive/write_handler.h"
#include "tests/archive/writer_fixture.h"

using kxtest::RawEntry;
using testing_support::readFile;

namespace kxwrite {
namespace {

class WriterOutputTest : public ArchiveTest {};

// Flushes fall where a buffer of the step's size would have filled, however the bytes reach
// the file, each telling the bytes written so far of the expected total; items too large for
// any buffer pass straight through.
TEST_F(WriterOutputTest, FlushesStepThroughTheOutputInOrder) {
  const std::string path = dir_ / "out.bin";
  const std::string source = dir_ / "source.bin";
  testing_support::writeFile(source, "xyz0123456789");
  {
    WriteHandler out(std::fopen(path.c_str(), "wb+"), 8, &events_);
    out.setExpectedTotal(40);
    EXPECT_TRUE(out.write("abc", 3));
    EXPECT_TRUE(out.write("defgh", 5));              // exactly fills the step
    EXPECT_TRUE(out.write("ij", 2));                 // flush at 8: does not fit
    EXPECT_TRUE(out.write("0123456789ABCDEF", 16));  // flush at 10: larger than a whole step
    EXPECT_TRUE(out.write("k", 1));                  // flush at 26: the step is still overfull
    FILE* in = std::fopen(source.c_str(), "rb");
    EXPECT_TRUE(out.copyRange(in, 0, 6));            // 7 bytes pending: fits
    EXPECT_TRUE(out.copyRange(in, 6, 7));            // flush at 33
    EXPECT_EQ(out.total(), 40);
    EXPECT_TRUE(out.flush());                        // flush at 40
    // A range without a source fails the output, and every later call answers so.
    const auto noSource = out.copyRange(nullptr, 0, 0);
    ASSERT_FALSE(noSource);
    EXPECT_EQ(noSource.error().failure, ArchiveFailure::WriteFailed);
    EXPECT_FALSE(out.write("z", 1));
    std::fclose(in);
  }
  EXPECT_EQ(events_.flushes,
            (std::vector<std::pair<int64_t, int64_t>>{{8, 40}, {10, 40}, {26, 40}, {33, 40},
                                                      {40, 40}}));
  EXPECT_TRUE(events_.hugeItems.empty());  // huge is a whole 100 MiB buffer, whatever the step
  EXPECT_EQ(readFile(path), "abcdefghij0123456789ABCDEFkxyz0123456789");
}

// Past the write-back step the system is asked to start writing while output still comes:
// staged bytes, bytes still in the stream's buffer and copied ranges must all land in order.
TEST_F(WriterOutputTest, OutputPastTheWriteBackStepArrivesWholeAndInOrder) {
  const std::string path = dir_ / "out.bin";
  const std::string source = dir_ / "source.bin";
  const size_t range = static_cast<size_t>(WriteHandler::kWriteBackBytes) / 3 + 4093;
  std::string sourceBytes(range, '\0');
  for (size_t i = 0; i < range; ++i) sourceBytes[i] = static_cast<char>(i * 131 / 7);
  testing_support::writeFile(source, sourceBytes);
  std::string expected;
  {
    WriteHandler out(std::fopen(path.c_str(), "wb+"));
    FILE* in = std::fopen(source.c_str(), "rb");
    for (int round = 0; round < 4; ++round) {
      const std::string small(static_cast<size_t>(round) * 3 + 1, static_cast<char>('a' + round));
      EXPECT_TRUE(out.write(small.data(), small.size()));
      EXPECT_TRUE(out.copyRange(in, round, range - static_cast<uint64_t>(round)));
      expected += small + sourceBytes.substr(static_cast<size_t>(round));
    }
    EXPECT_TRUE(out.flush());
    EXPECT_GT(out.total(), WriteHandler::kWriteBackBytes);
    std::fclose(in);
  }
  EXPECT_TRUE(readFile(path) == expected);
}

// Writes random entries (stored, deflated, nested archives, nested folders) through both the
// rewrite path and the editing path, and reads every entry back.
TEST_F(WriterOutputTest, RandomArchivesReadBackThroughTheReader) {
  std::mt19937 random(20140201);
  auto randomText = [&](size_t length, int alphabet) {
    std::string s(length, '\0');
    for (char& c : s) c = static_cast<char>('a' + random() % alphabet);
    return s;
  };
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    std::map<std::string, std::string> expected;
    std::vector<RawEntry> entries;
    KXFileSystemRef edited = open(put("start.kx", {}));
    const int count = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      std::string name = randomText(1 + random() % 3, 3) + "/" + randomText(1 + random() % 6, 26);
      if (expected.count(name)) continue;
      std::string content;
      switch (random() % 4) {
        case 0: content = randomText(random() % 5000, 2); break;        // compresses well
        case 1: content = randomText(random() % 300, 256 - 'a'); break;  // hardly compresses
        case 2: content = "PK" + randomText(random() % 200, 4); break;   // a nested archive
        default: content.clear();
      }
      expected[name] = content;
      entries.push_back(random() % 2 ? kxtest::deflated(name, content)
                                     : kxtest::stored(name, content));
      ASSERT_TRUE(edited->storeFile(name, BinaryBlock::fromString(content, "test"), 0));
    }

    const std::string rewritten = rewrite(put("pack.kx", entries));
    ASSERT_TRUE(edited->createNewZip(dir_ / "edited.kx", nullptr));
    for (const std::string& bytes : {rewritten, readFile(dir_ / "edited.kxtemp")}) {
      std::map<std::string, std::string> files;
      for (const auto& entry : readBack(bytes))
        if (expected.count(entry.first)) files[entry.first] = entry.second;
      EXPECT_EQ(files, expected);
    }
  }
}

}  // namespace
}  // namespace kxwrite
