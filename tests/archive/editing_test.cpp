// Editing an archive in memory: versions of a path, erasing, parent directory records, the
// choice of compression, and everything surviving a write and a reopen.
#include <gtest/gtest.h>

#include "tests/archive/writer_fixture.h"

using kxtest::stored;
using testing_support::readFile;

namespace kxwrite {
namespace {

BlockRef block(const std::string& text) { return BinaryBlock::fromString(text, "test"); }

std::vector<std::string> names(const KXFileSystem& fs) {
  std::vector<std::string> out;
  for (const ArchiveFile& record : fs.records()) out.push_back(record.name);
  return out;
}

class EditingTest : public ArchiveTest {
 protected:
  // Writes `fs` and opens the result.
  KXFileSystemRef writeAndReopen(KXFileSystem& fs) {
    const std::string path = dir_ / "edited.kx";
    EXPECT_TRUE(fs.createNewZip(path, nullptr));
    testing_support::writeFile(path, readFile(path + "temp"));
    return open(path);
  }
};

TEST_F(EditingTest, StoringAPathAgainKeepsEveryVersion) {
  KXFileSystemRef fs = open(put("pack.kx", {stored("a.txt", "first")}));
  ASSERT_TRUE(fs->storeFile("a.txt", block("second"), 0));
  EXPECT_EQ(names(*fs), (std::vector<std::string>{"a.txt 1", "a.txt 2"}));
  EXPECT_EQ(fs->readFile("a.txt")->asString(), "first");  // version 1, still in the file
  EXPECT_FALSE(fs->readFileInternal("a.txt 2"));          // not in any file yet

  ASSERT_TRUE(fs->storeFile("/a.txt", block("third"), 0));
  EXPECT_EQ(names(*fs).back(), "a.txt 3");
  EXPECT_TRUE(fs->eraseFileOrDirectory("a.txt"));  // the newest goes
  ASSERT_TRUE(fs->storeFile("a.txt", block("fourth"), 0));
  EXPECT_EQ(names(*fs).back(), "a.txt 3");  // the count went down to 2 with the erase

  KXFileSystemRef back = writeAndReopen(*fs);
  EXPECT_EQ(names(*back), (std::vector<std::string>{"a.txt 1", "a.txt 2", "a.txt 3"}));
  EXPECT_EQ(back->readFile("a.txt")->asString(), "first");
  EXPECT_EQ(back->readFileInternal("a.txt 2")->asString(), "second");
  EXPECT_EQ(back->readFile("", 2)->asString(), "fourth");
  EXPECT_EQ(back->readDirectory(""), (std::vector<std::string>{"a.txt", "a.txt", "a.txt"}));
}

TEST_F(EditingTest, NewPathGetsRecordsForMissingParentFolders) {
  KXFileSystemRef fs = open(put("pack.kx", {stored("x/old", "o")}));
  ASSERT_TRUE(fs->storeFile("x\\y\\z\\f.txt", block("F"), 0));
  EXPECT_EQ(names(*fs), (std::vector<std::string>{"x/old", "x/y/z/f.txt", "x/y/z", "x/y"}));

  KXFileSystemRef back = writeAndReopen(*fs);
  EXPECT_EQ(names(*back), (std::vector<std::string>{"x/old", "x/y", "x/y/z", "x/y/z/f.txt"}));
  EXPECT_EQ(back->getFileType("x/y/z", nullptr), FileType::Directory);
  EXPECT_EQ(back->readFile("x/y/z/f.txt")->asString(), "F");
  // Folder records carry the format's trailing separator in the file.
  EXPECT_NE(readFile(dir_ / "edited.kx").find("x/y/z/"), std::string::npos);
}

TEST_F(EditingTest, ErasedEntriesAreNotWritten) {
  KXFileSystemRef fs = open(put("pack.kx", {stored("a", "A"), stored("b", "B"), stored("c", "C")}));
  EXPECT_TRUE(fs->eraseFileOrDirectory("b"));
  EXPECT_FALSE(fs->eraseFileOrDirectory("b"));
  EXPECT_FALSE(fs->eraseFileOrDirectory("never"));
  EXPECT_EQ(fs->readDirectory(""), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(fs->readFile("", 1)->asString(), "C");

  KXFileSystemRef back = writeAndReopen(*fs);
  EXPECT_EQ(names(*back), (std::vector<std::string>{"a", "c"}));
}

TEST_F(EditingTest, StoringNothingChangesNothing) {
  KXFileSystemRef fs = open(put("pack.kx", {stored("a", "A")}));
  EXPECT_TRUE(fs->storeFile("a", BlockRef(), 0));
  EXPECT_TRUE(fs->storeFile("new/path", BlockRef(), 0));
  EXPECT_EQ(names(*fs), (std::vector<std::string>{"a"}));
}

TEST_F(EditingTest, ContentIsDeflatedOnlyWhenItShrinks) {
  const struct {
    const char* behaviour;
    std::string content;
    uint16_t method;
  } cases[] = {
      {"text that compresses", std::string(500, 'z'), kMethodDeflated},
      {"a nested archive", "PK" + std::string(500, 'z'), kMethodStored},
      {"PK alone is not a nested archive", "PK", kMethodStored},
      {"five bytes starting with PK", "PKabc", kMethodStored},
      {"nothing at all", "", kMethodStored},
      {"a short text", "qwertyuiop", kMethodStored},
  };
  KXFileSystemRef fs = open(put("pack.kx", {}));
  int i = 0;
  for (const auto& c : cases) {
    const std::string name = "f" + std::to_string(i++);
    ASSERT_TRUE(fs->storeFile(name, block(c.content), 0));
    const ArchiveFile& record = fs->records().back();
    EXPECT_EQ(record.header_.compressionMethod, c.method) << c.behaviour;
    EXPECT_EQ(record.header_.uncompressedSize, c.content.size()) << c.behaviour;
    EXPECT_EQ(record.header_.compressedSize, static_cast<uint32_t>(record.data->length()));
  }
  KXFileSystemRef back = writeAndReopen(*fs);
  i = 0;
  for (const auto& c : cases)
    EXPECT_EQ(back->readFile("f" + std::to_string(i++))->asString(), c.content) << c.behaviour;
}

TEST_F(EditingTest, FileTimesShowTheDosDateAndTime) {
  const struct {
    uint64_t value;
    const char* text;
  } cases[] = {
      {0, "Unk Bad 00 00:00:00 1980"},
      {(uint64_t{(34u << 9) | (2u << 5) | 1u} << 16) | ((13u << 11) | (47u << 5) | 15u),
       "Unk Feb 01 13:47:30 2014"},
      {(uint64_t{(13u << 5) | 31u} << 16), "Unk Bad 31 00:00:00 1980"},
      {0xFFFFFFFF00000000ull | (uint64_t{(12u << 5) | 5u} << 16), "Unk Dec 05 00:00:00 1980"},
  };
  KXFileSystemRef fs = open(put("pack.kx", {}));
  for (const auto& c : cases) EXPECT_EQ(fs->formatFileTime(c.value), c.text);
}

TEST_F(EditingTest, CloneSeesTheArchiveNowOnDisk) {
  const std::string path = put("pack.kx", {stored("a", "A")});
  KXFileSystemRef fs = open(path);
  put("pack.kx", {stored("b", "B")});
  FileSystemRef copy = fs->clone();
  ASSERT_TRUE(copy);
  EXPECT_FALSE(copy->readFile("a"));
  EXPECT_EQ(copy->readFile("b")->asString(), "B");
}

// What the release tools build a patch with: exactly the entries given (no versions, no folder
// records), another archive's record with its stored bytes as they are, and a delete marker
// that takes the place of an entry of the same name rather than erasing it.
TEST_F(EditingTest, EntriesAddedOneByOneAreWrittenExactlyAsGiven) {
  KXFileSystemRef from = open(put("from.kx", {kxtest::deflated("raw.bin", std::string(400, 'r')),
                                              stored("gone.txt", "old")}));
  ASSERT_TRUE(from->readStoredAt(0));
  KXFileSystemRef fs = open(put("start.kx", {stored("gone.txt", "still here")}));
  ASSERT_TRUE(fs->addEntry("\\d\\a.txt", block(std::string(300, 'a'))));
  ASSERT_TRUE(fs->addEntry("d/a.txt", block("replaced")));
  EXPECT_FALSE(fs->addEntry("none", BlockRef()));
  fs->addRawEntry(from->records()[0]);
  fs->addDeleteMarker(from->records()[1]);

  KXFileSystemRef written = writeAndReopen(*fs);
  EXPECT_EQ(names(*written), (std::vector<std::string>{"d/a.txt", "gone.txt", "raw.bin"}));
  EXPECT_EQ(written->readFile("d/a.txt")->asString(), "replaced");
  EXPECT_EQ(written->readStoredAt(2)->asString(), from->readStoredAt(0)->asString());
  EXPECT_EQ(written->readFile("raw.bin")->asString(), std::string(400, 'r'));
  const ArchiveFile& marker = written->records()[1];
  EXPECT_EQ(marker.header_.flag, kDeleteMarker);
  EXPECT_EQ(marker.entry_.compressedSize, 0u);
  EXPECT_EQ(marker.entry_.compressionMethod, kMethodStored);
}

}  // namespace
}  // namespace kxwrite
