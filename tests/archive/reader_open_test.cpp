// Opening archives: every way an archive can be refused is told once, as the reason it was
// refused, and leaves an archive that behaves as empty.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "archive/kx_file_system.h"
#include "tests/archive/reader_archive_builder.h"
#include "tests/archive/recorded_events.h"
#include "tests/support/test_support.h"

using namespace kxtest;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::unhex;
using testing_support::writeFile;

namespace {

std::vector<RawEntry> twoEntries() {
  return {stored("a.txt", "alpha"), deflated("dir/b.txt", std::string(300, 'b'))};
}

std::string twoEntryArchive() { return buildArchive(twoEntries()).bytes; }

struct RefusedCase {
  const char* what;
  std::function<std::string()> bytes;
  ArchiveFailure failure;
};

class RefusedArchive : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedArchive, ToldOnceAndBehavesAsEmpty) {
  TempDir dir;
  const std::string path = dir / "pack.kx";
  writeFile(path, GetParam().bytes());

  RecordedEvents events;
  KXFileSystemRef fs = makeRef<KXFileSystem>(path, &events);
  EXPECT_EQ(events.failureKinds(), std::vector<ArchiveFailure>{GetParam().failure});
  // The caller gets the reason too, naming the archive.
  EXPECT_EQ(fs->lastError().failure, GetParam().failure);
  EXPECT_EQ(fs->lastError().subject, path);
  // Opened again, the archive answers the same reason itself.
  const KXFileSystem::Outcome reopened = fs->openZip();
  ASSERT_FALSE(reopened);
  EXPECT_EQ(reopened.error().failure, GetParam().failure);
  EXPECT_EQ(fs->entryCount(), 0);
  EXPECT_FALSE(fs->readFile("a.txt"));
  EXPECT_TRUE(fs->readDirectory("").empty());
  EXPECT_EQ(fs->getFileTypeEx("dir/b.txt", nullptr), FileType::NotFound);
}

std::string withFooterField(size_t field, uint32_t value, bool wide = true) {
  std::string b = twoEntryArchive();
  if (wide) patch32(b, footerAt(b) + field, value);
  else patch16(b, footerAt(b) + field, value);
  return b;
}

std::string withRecordField(size_t record, size_t field, uint32_t value, bool wide) {
  BuiltArchive a = buildArchive(twoEntries());
  if (wide) patch32(a.bytes, a.recordOffsets[record] + field, value);
  else patch16(a.bytes, a.recordOffsets[record] + field, value);
  return a.bytes;
}

std::string withLongField(size_t length, int which) {
  RawEntry e = stored("x", "data");
  if (which == 0) e.name = std::string(length, 'n');
  if (which == 1) e.extra = std::string(length, 'e');
  if (which == 2) e.comment = std::string(length, 'c');
  return buildArchive({e}).bytes;
}

// A standard ZIP holding one stored file "a" with content "x": its end record begins with the
// signature, where this format keeps the directory size.
std::string standardZip() {
  return unhex(
      "504b0304 0a00 0000 0000 0000 0000 8369dc8c 01000000 01000000 0100 0000 61 78"
      "504b0102 1e03 0a00 0000 0000 0000 0000 8369dc8c 01000000 01000000 0100 0000 0000"
      "0000 0000 0000a481 00000000 61"
      "504b0506 0000 0000 0100 0100 2f000000 20000000 0000");
}

const RefusedCase kRefused[] = {
    {"shorter than a footer", [] { return std::string(21, '\0'); },
     ArchiveFailure::FooterNotFound},
    {"empty file", [] { return std::string(); }, ArchiveFailure::FooterNotFound},
    {"footer signature wrong", [] { return withFooterField(4, 0x06054B51); },
     ArchiveFailure::BadFooterSignature},
    {"standard zip", standardZip, ArchiveFailure::BadFooterSignature},
    {"directory offset past the file", [] { return withFooterField(kFooterDirectoryOffset, 1u << 30); },
     ArchiveFailure::DirectoryNotFound},
    {"directory size past the file", [] { return withFooterField(kFooterDirectorySize, 0x7FFFFF00); },
     ArchiveFailure::DirectoryUnreadable},
    {"directory overlapping the end", [] {
       std::string b = twoEntryArchive();
       patch32(b, footerAt(b) + kFooterDirectorySize, 200);
       return b; },
     ArchiveFailure::DirectoryUnreadable},
    {"count larger than records", [] { return withFooterField(kFooterCount, 3, false); },
     ArchiveFailure::DirectoryUnreadable},
    {"count of 65535", [] { return withFooterField(kFooterCount, 0xFFFF, false); },
     ArchiveFailure::DirectoryUnreadable},
    {"second record signature wrong", [] { return withRecordField(1, 0, 0x02014B51, true); },
     ArchiveFailure::BadDirectorySignature},
    {"name running past the directory", [] {
       return withRecordField(1, kRecordNameLength, 200, false); },
     ArchiveFailure::DirectoryUnreadable},
    {"name of 1025 bytes", [] { return withLongField(1025, 0); }, ArchiveFailure::NameTooLong},
    {"extra field of 1025 bytes", [] { return withLongField(1025, 1); },
     ArchiveFailure::ExtraFieldTooLong},
    {"comment of 1025 bytes", [] { return withLongField(1025, 2); },
     ArchiveFailure::CommentTooLong},
    {"local header past the file", [] {
       return withRecordField(1, kRecordHeaderOffset, 0x10000, true); },
     ArchiveFailure::BadLocalHeaderOffset},
    {"local header straddling the end", [] {
       std::string b = twoEntryArchive();
       return withRecordField(0, kRecordHeaderOffset, static_cast<uint32_t>(b.size() - 10), true); },
     ArchiveFailure::BadLocalHeaderOffset},
    {"negative local header offset", [] {
       return withRecordField(0, kRecordHeaderOffset, 0x80000000u, true); },
     ArchiveFailure::BadLocalHeaderOffset},
};

INSTANTIATE_TEST_SUITE_P(, RefusedArchive, ::testing::ValuesIn(kRefused),
                         [](const auto& info) {
                           std::string name = info.param.what;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(ArchiveOpen, MissingFileTellsPathAndSystemCode) {
  TempDir dir;
  const std::string path = dir / "absent.kx";
  RecordedEvents events;
  KXFileSystemRef fs = makeRef<KXFileSystem>(path, &events);
  ASSERT_EQ(events.failures.size(), 1u);
  EXPECT_EQ(events.failures[0].failure, ArchiveFailure::CannotOpen);
  EXPECT_EQ(events.failures[0].subject, path);
  EXPECT_EQ(events.failures[0].systemCode, static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(fs->readFile("anything"));
  EXPECT_EQ(fs->getFileType("anything", nullptr), FileType::NotFound);
}

TEST(ArchiveOpen, FieldsOfExactly1024BytesAreAccepted) {
  for (int which = 0; which < 3; ++which) {
    SCOPED_TRACE(which);
    TempDir dir;
    RecordedEvents events;
    writeFile(dir / "pack.kx", withLongField(1024, which));
    KXFileSystemRef fs = makeRef<KXFileSystem>(dir / "pack.kx", &events);
    EXPECT_TRUE(events.failures.empty());
    ASSERT_EQ(fs->entryCount(), 1);
    const std::string name = which == 0 ? std::string(1024, 'n') : "x";
    BlockRef content = fs->readFile(name);
    ASSERT_TRUE(content);
    EXPECT_EQ(content->asString(), "data");
  }
}

TEST(ArchiveOpen, EmptyArchiveHasOnlyTheRoot) {
  TempDir dir;
  RecordedEvents events;
  const std::string empty = unhex("00000000 504b0506 0000000000000000000000000000");
  EXPECT_EQ(buildArchive({}).bytes, empty);
  writeFile(dir / "empty.kx", empty);
  KXFileSystemRef fs = makeRef<KXFileSystem>(dir / "empty.kx", &events);
  EXPECT_EQ(fs->entryCount(), 0);
  EXPECT_TRUE(fs->readDirectory("").empty());
  EXPECT_EQ(fs->getFileType("", nullptr), FileType::NotFound);
  EXPECT_FALSE(fs->readFile("", 0));
  EXPECT_TRUE(fs->openZip());
  EXPECT_TRUE(events.failures.empty());
}

TEST(ArchiveOpen, ReopeningAnIndexedArchiveKeepsTheIndex) {
  TempDir dir;
  RecordedEvents events;
  writeFile(dir / "pack.kx", twoEntryArchive());
  KXFileSystemRef fs = makeRef<KXFileSystem>(dir / "pack.kx", &events);
  ASSERT_EQ(fs->entryCount(), 2);

  // Ruin the directory on disk: a second open must not read it again.
  std::string ruined = twoEntryArchive();
  const BuiltArchive built = buildArchive(twoEntries());
  for (size_t i = built.directoryOffset; i < ruined.size() - 22; ++i) ruined[i] = '\x5A';
  writeFile(dir / "pack.kx", ruined);

  EXPECT_TRUE(fs->openZip());
  EXPECT_EQ(fs->entryCount(), 2);
  ASSERT_TRUE(fs->readFile("a.txt"));
  EXPECT_EQ(fs->readFile("a.txt")->asString(), "alpha");
  EXPECT_TRUE(events.failures.empty());
}

TEST(ArchiveOpen, CloseArchiveForgetsEverything) {
  TempDir dir;
  RecordedEvents events;
  writeFile(dir / "pack.kx", twoEntryArchive());
  KXFileSystemRef fs = makeRef<KXFileSystem>(dir / "pack.kx", &events);
  ASSERT_TRUE(fs->readStored("a.txt"));
  fs->closeArchive();
  EXPECT_EQ(fs->entryCount(), 0);
  EXPECT_FALSE(fs->readFile("a.txt"));
  EXPECT_TRUE(fs->readDirectory("dir").empty());
  EXPECT_EQ(fs->getFileTypeEx("a.txt", nullptr), FileType::NotFound);
  EXPECT_EQ(fs->path(), dir / "pack.kx");
}

}  // namespace
