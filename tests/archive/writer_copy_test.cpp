// Unchanged entries reach the rewritten archive by copying, headers and names included, only
// where the file holds exactly what the writer would write: a pack whose local records differ
// from its directory, or a record changed in memory, is written from the index instead.
#include <gtest/gtest.h>

#include <functional>

#include "tests/archive/writer_fixture.h"

using kxtest::buildArchive;
using kxtest::patch16;
using kxtest::RawEntry;
using kxtest::stored;

namespace kxwrite {
namespace {

std::vector<RawEntry> threeEntries(const std::string& middleName) {
  return {stored("a.txt", "alpha"), stored(middleName, "bravo bravo"),
          kxtest::deflated("d/z.txt", std::string(400, 'z'))};
}

struct LocalDifference {
  const char* what;
  const char* middleName;  // as the directory and the local header name it
  std::function<void(std::string&, size_t header)> change;  // to the middle local record
  const char* expectedName;
};

class CopiedEntries : public ArchiveTest, public ::testing::WithParamInterface<LocalDifference> {};

// The rewrite of the odd archive is the rewrite of a clean one: nothing of the local record
// that the writer would have cleaned or renamed leaks into the output.
TEST_P(CopiedEntries, OddLocalRecordsAreWrittenFromTheIndex) {
  const LocalDifference& c = GetParam();
  kxtest::BuiltArchive odd = buildArchive(threeEntries(c.middleName));
  c.change(odd.bytes, odd.headerOffsets[1]);
  testing_support::writeFile(dir_ / "odd.kx", odd.bytes);
  const std::string clean = put("clean.kx", threeEntries(c.expectedName));

  const std::string expected = rewrite(clean);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(rewrite(dir_ / "odd.kx"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    , CopiedEntries,
    ::testing::Values(
        LocalDifference{"LocalNameDiffers", "b.txt",
                        [](std::string& b, size_t h) { b[h + 30] = 'B'; }, "b.txt"},
        LocalDifference{"ReservedFieldSet", "b.txt",
                        [](std::string& b, size_t h) { patch16(b, h + 4, 0x1234); }, "b.txt"},
        LocalDifference{"FlagSet", "b.txt", [](std::string& b, size_t h) { patch16(b, h + 18, 3); },
                        "b.txt"},
        LocalDifference{"NameNotNormalised", "c\\b.txt", [](std::string&, size_t) {}, "c/b.txt"}),
    [](const auto& info) { return std::string(info.param.what); });

// An entry renamed in memory (stored again, so the old content becomes version 1) keeps its
// file bytes but not its file name.
TEST_F(CopiedEntries, EntryRenamedInMemoryIsWrittenUnderItsNewName) {
  KXFileSystemRef fs = open(put("pack.kx", threeEntries("b.txt")));
  ASSERT_TRUE(fs->storeFile("a.txt", BinaryBlock::fromString("alpha two", "test"), 0));
  ASSERT_TRUE(fs->createNewZip(dir_ / "pack.kx", nullptr));
  fs->closeArchive();
  const Contents expected = {{"a.txt 1", "alpha"},
                             {"a.txt 2", "alpha two"},
                             {"b.txt", "bravo bravo"},
                             {"d/z.txt", std::string(400, 'z')}};
  EXPECT_EQ(readBack(testing_support::readFile(dir_ / "pack.kxtemp")), expected);
}

}  // namespace
}  // namespace kxwrite
