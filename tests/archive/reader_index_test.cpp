// The index of archives larger than any one read the reader makes: directory records in any
// order, names repeated or out of order, folders interleaved, for small entries (whose headers
// are fetched many at a time) and large ones (fetched one by one).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "archive/kx_file_system.h"
#include "tests/archive/reader_archive_builder.h"
#include "tests/support/test_support.h"

using namespace kxtest;
using testing_support::ScopedCwd;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// `built` with its directory records in the order `order` (indexes into the entries).
std::string withDirectoryOrder(const BuiltArchive& built, const std::vector<size_t>& order) {
  const std::string& b = built.bytes;
  const size_t directoryEnd = footerAt(b);
  std::vector<std::string> records;
  for (size_t i = 0; i < built.recordOffsets.size(); ++i) {
    const size_t end = i + 1 < built.recordOffsets.size() ? built.recordOffsets[i + 1] : directoryEnd;
    records.push_back(b.substr(built.recordOffsets[i], end - built.recordOffsets[i]));
  }
  std::string out = b.substr(0, built.directoryOffset);
  for (size_t i : order) out += records[i];
  return out + b.substr(directoryEnd);
}

std::string contentOf(size_t i, size_t size) {
  std::string text = "entry " + std::to_string(i) + " ";
  text.resize(size, static_cast<char>('a' + i % 26));
  return text;
}

struct IndexCase {
  const char* what;
  size_t entries;
  size_t entrySize;
};

class LargeIndex : public ::testing::TestWithParam<IndexCase> {};

// Directory order shuffled: every header is fetched from wherever it lies, backwards too, and
// every record still finds its own bytes, listing position and content.
TEST_P(LargeIndex, EveryRecordReadsItsOwnEntryWhateverTheDirectoryOrder) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  std::vector<RawEntry> entries;
  for (size_t i = 0; i < GetParam().entries; ++i)
    entries.push_back(stored("f" + std::to_string(i % 7) + "/e" + std::to_string(i),
                             contentOf(i, GetParam().entrySize)));
  std::vector<size_t> order(entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  const std::string path = dir / "pack.kx";
  writeFile(path, withDirectoryOrder(buildArchive(entries), order));

  KXFileSystem fs(path);
  ASSERT_EQ(fs.entryCount(), static_cast<int32_t>(entries.size()));
  std::vector<size_t> positions(7, 0);
  for (size_t k = 0; k < order.size(); ++k) {
    const size_t i = order[k];
    const ArchiveFile& record = fs.records()[k];
    ASSERT_EQ(record.name, entries[i].name);
    EXPECT_EQ(record.header_.compressedSize, entries[i].stored.size());
    EXPECT_EQ(record.header_.fileNameLength, entries[i].name.size());
    const std::string folder = "f" + std::to_string(i % 7);
    // Listings keep directory order, folders interleaved as they come.
    BlockRef byPosition = fs.readFile(folder, static_cast<int32_t>(positions[i % 7]++));
    ASSERT_TRUE(byPosition);
    EXPECT_EQ(byPosition->asString(), entries[i].stored);
  }
  for (size_t i = 0; i < entries.size(); i += 97) {
    BlockRef content = fs.readFile(entries[i].name);
    ASSERT_TRUE(content);
    EXPECT_EQ(content->asString(), entries[i].stored);
  }
  for (size_t f = 0; f < 7; ++f)
    EXPECT_EQ(fs.readDirectory("f" + std::to_string(f)).size(), positions[f]);
}

INSTANTIATE_TEST_SUITE_P(, LargeIndex,
                         ::testing::Values(IndexCase{"SmallEntries", 3000, 40},
                                           IndexCase{"LargeEntries", 60, 9000}),
                         [](const auto& info) { return std::string(info.param.what); });

// A name listed twice: the later record is the one read, both are listed.
TEST(ArchiveIndex, RepeatedNameTakesTheLaterRecord) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string path = dir / "pack.kx";
  writeFile(path, buildArchive({stored("d/x", "first"), stored("d/y", "middle"),
                                stored("d/x", "second")})
                      .bytes);
  KXFileSystem fs(path);
  BlockRef x = fs.readFile("d/x");
  ASSERT_TRUE(x);
  EXPECT_EQ(x->asString(), "second");
  EXPECT_EQ(fs.readDirectory("d"), (std::vector<std::string>{"x", "y", "x"}));
  BlockRef third = fs.readFile("d", 2);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->asString(), "second");
}

// The last header ends exactly at the directory: a window must not need bytes past it.
TEST(ArchiveIndex, HeaderAtTheEndOfTheDataIsRead) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string path = dir / "pack.kx";
  writeFile(path, buildArchive({stored("a", "alpha"), stored("b", "")}).bytes);
  KXFileSystem fs(path);
  ASSERT_EQ(fs.entryCount(), 2);
  BlockRef b = fs.readFile("b");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->length(), 0);
}

}  // namespace
