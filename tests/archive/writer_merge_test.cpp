// Merging a patch into an installed archive and writing the result: the bytes written are
// compared with archives built independently by the test builder, which is what the reader
// tests pin the format with.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/archive/writer_fixture.h"

using kxtest::RawEntry;
using kxtest::deflated;
using kxtest::stored;
using testing_support::hex;

namespace kxwrite {
namespace {

// An entry of a method the reader cannot decompress; the writer must still carry it.
RawEntry method(const std::string& name, const std::string& bytes, uint16_t code) {
  RawEntry e = stored(name, bytes);
  e.method = code;
  e.uncompressedSize = 100;
  return e;
}

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
      {"delete markers remove the installed paths, whatever else the patch does",
       {stored("a", "1"), stored("b", "2"), stored("c", "3"), stored("d", "4"), stored("e", "5")},
       {marked("b"), stored("c", "new"), marked("d"), stored("f", "6"), marked("a")},
       {stored("c", "new"), stored("e", "5"), stored("f", "6")}},
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
      {"records pair by their exact names, not by version resolution",
       {stored("s/p", "plain"), stored("s/p 1", "v1")},
       {stored("s/p 1", "new v1")},
       {stored("s/p", "plain"), stored("s/p 1", "new v1")}},
      {"stored bytes of any method are copied as they are",
       {method("a", "\x01\x02\x03", 12), stored("b", "B")},
       {method("b", "\x09\x08", 14)},
       {method("a", "\x01\x02\x03", 12), method("b", "\x09\x08", 14)}},
      {"a name normalising shortens is written back normalised, never as a folder",
       {stored("c//b.txt", "CB"), stored("/lead.txt", "L"), stored("d//", "")},
       {},
       {stored("c/b.txt", "CB"), stored("d/", ""), stored("lead.txt", "L")}},
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

// Readers take sizes and method from the directory. One damaged copy of them in a local header
// (outside the sampled windows of a large pack's fingerprint) must not reach the new directory.
TEST_F(MergeTest, LocalHeaderCopiesOfTheDirectoryFieldsAreNeverTheSource) {
  const std::string text(300, 'x');
  const std::vector<RawEntry> entries = {deflated("a", text), stored("b", "B")};
  const kxtest::BuiltArchive intact = kxtest::buildArchive(entries);
  const struct {
    const char* field;
    size_t offset;  // in the local header
  } fields[] = {{"method", 20}, {"uncompressed size", 10}, {"compressed size", 6}};
  for (const auto& f : fields) {
    SCOPED_TRACE(f.field);
    std::string damaged = intact.bytes;
    damaged[intact.headerOffsets[0] + f.offset] ^= 0x04;
    testing_support::writeFile(dir_ / "pack.kx", damaged);
    bool written = false;
    EXPECT_EQ(hex(rewrite(dir_ / "pack.kx", std::string(), &written)), hex(intact.bytes));
    EXPECT_TRUE(written);
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

// Damaged records still give an archive whose offsets agree with its bytes; what was corrected
// is noted to the events. A record of the installed pack whose bytes are lost fails the write.
TEST_F(MergeTest, DamagedRecordsAreWrittenConsistentlyOrNotAtAll) {
  // An extra field is dropped, and the header written says so.
  RawEntry extra = stored("e", "EE");
  extra.extra = "XYZW";
  const std::string withExtra = put("extra.kx", {stored("a", "A"), extra});
  const std::string patch = put("patch.kx", {stored("a", "NEW")});
  bool written = false;
  EXPECT_EQ(hex(rewrite(withExtra, patch, &written)),
            hex(kxtest::buildArchive({stored("a", "NEW"), stored("e", "EE")}).bytes));
  EXPECT_TRUE(written);
  EXPECT_EQ(events_.notes,
            (std::vector<kxtest::RecordedNote>{{EntryNote::ExtraFieldDropped, "e", 4}}));
  const auto steps = events_.stepKinds();
  EXPECT_EQ(std::count(steps.begin(), steps.end(), WriterStep::OffsetMismatch), 0);

  // An entry of the pack whose bytes lie past the file's end cannot be copied whole: written
  // empty, the new pack would lose it, so the rewrite fails and leaves no file.
  std::string lostBytes = kxtest::buildArchive({stored("a", "A"), stored("lost", "LOST")}).bytes;
  const kxtest::BuiltArchive shape =
      kxtest::buildArchive({stored("a", "A"), stored("lost", "LOST")});
  kxtest::patch32(lostBytes, shape.recordOffsets[1] + kxtest::kRecordCompressedSize, 5000);
  testing_support::writeFile(dir_ / "lost.kx", lostBytes);
  written = true;
  events_.failures.clear();
  rewrite(dir_ / "lost.kx", patch, &written);
  EXPECT_FALSE(written);
  EXPECT_FALSE(testing_support::fileExists(dir_ / "lost.kxtemp"));
  ASSERT_FALSE(events_.failures.empty());
  EXPECT_EQ(events_.failures.back().failure, ArchiveFailure::ReadFailed);
  EXPECT_EQ(events_.failures.back().subject, "lost");
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
  EXPECT_EQ(events_.notes,
            (std::vector<kxtest::RecordedNote>{{EntryNote::StoredSizeWrong, "a", 7000}}));
  ASSERT_FALSE(events_.failures.empty());
  EXPECT_EQ(events_.failures.back().failure, ArchiveFailure::EntryUnavailable);
}

// The steps in order, the byte counts with the footer and the release, and the final flush
// between them: its count is the whole archive, of the length announced beforehand.
TEST_F(MergeTest, StepsAndByteCountsFollowTheWriting) {
  const std::string installed = put("pack.kx", {stored("a", "A"), stored("b", "B")});
  const std::string patch = put("patch.kx", {stored("b", "BB")});
  const int64_t size = static_cast<int64_t>(rewrite(installed, patch).size());
  using Step = std::pair<WriterStep, int64_t>;
  EXPECT_EQ(events_.steps, (std::vector<Step>{{WriterStep::Merging, 0},
                                              {WriterStep::Started, 0},
                                              {WriterStep::Sorted, 0},
                                              {WriterStep::OutputReady, 0},
                                              {WriterStep::WritingEntries, 0},
                                              {WriterStep::EntriesWritten, 0},
                                              {WriterStep::DirectoryWritten, 0},
                                              {WriterStep::FooterWritten, size},
                                              {WriterStep::Released, size},
                                              {WriterStep::Flushed, 0}}));
  EXPECT_EQ(events_.flushes, (std::vector<std::pair<int64_t, int64_t>>{{size, size}}));
  EXPECT_TRUE(events_.failures.empty());
  EXPECT_TRUE(events_.notes.empty());
}

TEST_F(MergeTest, MissingTemporaryFolderFailsWithoutAFileAndSaysWhy) {
  const std::string installed = put("pack.kx", {stored("a", "A")});
  KXFileSystemRef fs = open(installed);
  const std::string target = dir_ / "no-such-folder/pack.kx";
  const KXFileSystem::Outcome written = fs->createNewZip(target, nullptr);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().failure, ArchiveFailure::CannotCreate);
  EXPECT_EQ(written.error().subject, target + "temp");
  EXPECT_NE(written.error().systemCode, 0u);
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
  EXPECT_EQ(open(dir_ / "pack.kx")->entryChecksums(), "a 352441c2 b 00000000 ");
}

}  // namespace
}  // namespace kxwrite
