// Merging a patch into an installed archive and writing the result: the bytes written are
// compared with archives built independently by the test builder, which is what the reader
// tests pin the format with.
#include <gtest/gtest.h>

#include "tests/archive/writer_fixture.h"

using kxtest::RawEntry;
using kxtest::deflated;
using kxtest::stored;
using testing_support::hex;

namespace kxwrite {
namespace {

RawEntry marked(const std::string& name) {
  RawEntry e = stored(name, "");
  e.flag = kDeleteMarker;
  return e;
}

struct MergeCase {
  const char* behaviour;
  std::vector<RawEntry> installed;
  std::vector<RawEntry> patch;  // empty: rewrite without a patch
  std::vector<RawEntry> expected;
};

std::vector<MergeCase> mergeCases() {
  const std::string text(300, 'x');
  return {
      {"new path lands at its sorted place",
       {stored("b.txt", "B"), stored("d.txt", "D")},
       {deflated("c.txt", text)},
       {stored("b.txt", "B"), deflated("c.txt", text), stored("d.txt", "D")}},
      {"replacement takes the patch's method, sizes and bytes",
       {stored("a", "old"), stored("z", "Z")},
       {deflated("a", text)},
       {deflated("a", text), stored("z", "Z")}},
      {"delete marker removes the installed path",
       {stored("a", "1"), stored("b", "2"), stored("c", "3")},
       {marked("b")},
       {stored("a", "1"), stored("c", "3")}},
      {"a path in several versions gains the next version",
       {stored("s/a.pyc 1", "v1"), stored("s/a.pyc 2", "v2")},
       {stored("s/a.pyc", "v3")},
       {stored("s/a.pyc 1", "v1"), stored("s/a.pyc 2", "v2"), stored("s/a.pyc 3", "v3")}},
      {"an unsorted archive comes out in unsigned byte order",
       {stored("\xb0\xa1.txt", "gbk"), stored("B", "b"), stored("a", "a"), stored("a/b", "ab")},
       {},
       {stored("B", "b"), stored("a", "a"), stored("a/b", "ab"), stored("\xb0\xa1.txt", "gbk")}},
      {"directory entries keep their trailing separator",
       {stored("dir/", ""), stored("dir/f", "F")},
       {},
       {stored("dir/", ""), stored("dir/f", "F")}},
      {"an empty patch changes nothing",
       {deflated("p", text), stored("q", "Q")},
       {},
       {deflated("p", text), stored("q", "Q")}},
  };
}

class MergeTest : public ArchiveTest {};

TEST_F(MergeTest, WritesWhatTheMergeDescribes) {
  for (const MergeCase& c : mergeCases()) {
    SCOPED_TRACE(c.behaviour);
    const std::string installed = put("pack.kx", c.installed);
    const std::string patch = c.patch.empty() ? std::string() : put("patch.kx", c.patch);
    bool written = false;
    const std::string bytes = rewrite(installed, patch, &written);
    EXPECT_TRUE(written);
    EXPECT_EQ(hex(bytes), hex(kxtest::buildArchive(c.expected).bytes));
  }
}

TEST_F(MergeTest, DeleteMarkerForAbsentPathIsAddedWithItsMarker) {
  const std::string bytes =
      rewrite(put("pack.kx", {stored("a", "A")}), put("patch.kx", {marked("gone")}));
  const Contents back = readBack(bytes);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].first, "gone");
  const size_t second = kLocalHeaderSize + 1 + 1;  // after "a" and its one byte
  EXPECT_EQ(static_cast<unsigned char>(bytes[second + 18]), kDeleteMarker);
  EXPECT_EQ(static_cast<unsigned char>(bytes[kxtest::footerAt(bytes) + kxtest::kFooterCount]), 2);
}

TEST_F(MergeTest, ArchivesOfThisWriterAreReproducedExactly) {
  const std::string empty = testing_support::unhex("00000000 504b0506" + std::string(28, '0'));
  EXPECT_EQ(hex(rewrite(put("empty.kx", {}))), hex(empty));

  const std::string first =
      rewrite(put("pack.kx", {stored("z", "1"), deflated("m/n", std::string(99, 'q'))}));
  testing_support::writeFile(dir_ / "again.kx", first);
  EXPECT_EQ(hex(rewrite(dir_ / "again.kx")), hex(first));
}

// Damaged records still give an archive whose offsets agree with its bytes; what could not be
// copied is reported in "pack.log" and comes out empty.
// A record of the installed pack whose bytes are already lost is written empty, with sizes that
// agree with the bytes written, so that every later offset stays right.
TEST_F(MergeTest, DamagedRecordsAreWrittenConsistently) {
  RawEntry extra = stored("e", "EE");
  extra.extra = "XYZW";
  std::string installedBytes =
      kxtest::buildArchive({stored("a", "A"), extra, stored("lost", "LOST")}).bytes;
  // The last directory record announces more bytes than the file holds.
  const kxtest::BuiltArchive shape =
      kxtest::buildArchive({stored("a", "A"), extra, stored("lost", "LOST")});
  kxtest::patch32(installedBytes, shape.recordOffsets[2] + kxtest::kRecordCompressedSize, 5000);
  testing_support::writeFile(dir_ / "pack.kx", installedBytes);
  const std::string patch = put("patch.kx", {stored("a", "NEW")});

  bool written = false;
  const std::string bytes = rewrite(dir_ / "pack.kx", patch, &written);
  EXPECT_TRUE(written);
  EXPECT_EQ(hex(bytes),
            hex(kxtest::buildArchive({stored("a", "NEW"), stored("e", "EE"), stored("lost", "")})
                    .bytes));
  const std::string log = packLog();
  EXPECT_NE(log.find("header_.extraFieldLength err:e 4\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("this->header_.compressedSize err:lost 4\r\n"), std::string::npos) << log;
  EXPECT_EQ(testing_support::readFile(logPath()).find("offset:"), std::string::npos);
}

// A patch entry whose bytes cannot be had would replace the pack's good entry with nothing: the
// rewrite fails and leaves no file, so that the pack is kept.
TEST_F(MergeTest, PatchEntryThatCannotBeReadFailsTheRewrite) {
  const std::string installed = put("pack.kx", {stored("a", "A"), stored("b", "B")});
  std::string patchBytes = kxtest::buildArchive({stored("a", "NEW")}).bytes;
  kxtest::patch32(patchBytes, kxtest::buildArchive({stored("a", "NEW")}).recordOffsets[0] +
                                  kxtest::kRecordCompressedSize, 7000);
  testing_support::writeFile(dir_ / "patch.kx", patchBytes);

  bool written = true;
  rewrite(installed, dir_ / "patch.kx", &written);
  EXPECT_FALSE(written);
  EXPECT_FALSE(testing_support::fileExists(installed + "temp"));
  EXPECT_NE(packLog().find("this->header_.compressedSize err:a "), std::string::npos)
      << packLog();
}

TEST_F(MergeTest, ProgressAndLogFollowTheWritingSteps) {
  progressLabel = "P>";
  const std::string installed = put("pack.kx", {stored("a", "A"), stored("b", "B")});
  const std::string patch = put("patch.kx", {stored("b", "BB")});
  StdoutCapture capture(dir_ / "stdout.txt");
  const std::string bytes = rewrite(installed, patch);
  EXPECT_EQ(capture.finish(), "P>36%\rP>68%\rP>70%\rP>71%\rP>99%\r");

  const std::string size = std::to_string(bytes.size());
  EXPECT_EQ(testing_support::readFile(logPath()),
            "One.....\nOne-0\nOne-1\nOne-2\nTwo.....\nThree.....\nFour....." + size +
                "\nFive....." + size + "\nSix......\n");
}

TEST_F(MergeTest, MissingTemporaryFolderFailsWithoutAFile) {
  const std::string installed = put("pack.kx", {stored("a", "A")});
  KXFileSystemRef fs = open(installed);
  const std::string target = dir_ / "no-such-folder/pack.kx";
  EXPECT_FALSE(fs->createNewZip(target, logPath(), nullptr));
  EXPECT_FALSE(testing_support::fileExists(target + "temp"));
}

TEST(ChecksumText, IsZeroPaddedLowerCaseCrc32) {
  const struct {
    std::string bytes;
    const char* expected;
  } cases[] = {{"abc", "352441c2"}, {"", "00000000"}, {"123456789", "cbf43926"},
               {"k25", "00006d81"}};
  for (const auto& c : cases)
    EXPECT_EQ(KXFileSystem::checksumText(c.bytes.data(), c.bytes.size()), c.expected) << c.bytes;
  EXPECT_EQ(KXFileSystem::checksumText(nullptr, 0), "00000000");
}

TEST_F(MergeTest, EntryChecksumsListUnreadableEntriesAsZero) {
  std::string bytes = kxtest::buildArchive({stored("a", "abc"), stored("b", "xyz")}).bytes;
  kxtest::patch32(bytes,
                  kxtest::buildArchive({stored("a", "abc"), stored("b", "xyz")}).recordOffsets[1] +
                      kxtest::kRecordCompressedSize,
                  1 << 20);
  testing_support::writeFile(dir_ / "pack.kx", bytes);
  open(dir_ / "pack.kx")->logEntryChecksums(logPath());
  EXPECT_EQ(testing_support::readFile(logPath()),
            "文件MD5值错误，更新文件失败...\nMD5 for total file in kx:a 352441c2 b 00000000 \n");
}

}  // namespace
}  // namespace kxwrite
