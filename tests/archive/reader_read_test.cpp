// Reading a hand-built archive back: lookups by every spelling of a path, versioned names,
// listings, types of paths and nested archives, and reads that must fail without harm.
#include <gtest/gtest.h>

#include "archive/dos_time.h"
#include "archive/kx_file_system.h"
#include "tests/archive/reader_archive_builder.h"
#include "tests/archive/recorded_events.h"
#include "tests/support/test_support.h"

using namespace kxtest;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

constexpr uint16_t kFeb1st2014 = 0x4441;   // 2014-02-01
constexpr uint16_t k134730 = 0x6DEF;       // 13:47:30

// Bytes that deflate only moderately (well under 30 times).
std::string noise(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>('a' + (x >> 16) % 8);
  }
  return s;
}

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
  return s;
}

const std::string kNested = std::string("PK\x05\x06", 4) + std::string(18, '\0');
const std::string kInner = "PK" + pattern(2000);

std::vector<RawEntry> goldenEntries() {
  RawEntry readme = stored("readme.txt", "hello, reader");
  readme.date = kFeb1st2014;
  readme.time = k134730;
  RawEntry odd = stored("odd.bin", "zzz");
  odd.method = 12;
  return {
      readme,
      stored("data/", ""),
      deflated("data/big.bin", pattern(5000)),
      stored("scripts/a.pyc 1", "version one"),
      stored("scripts/a.pyc 2", "version two"),
      stored("my file.txt", "spaced"),
      stored("nested.kx", kNested),
      deflated("data/inner.kx", kInner),
      deflated("data/empty.txt", ""),
      odd,
  };
}

class GoldenArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(path_, buildArchive(goldenEntries()).bytes);
    fs_ = makeRef<KXFileSystem>(path_, &events_);
    ASSERT_EQ(fs_->entryCount(), 10);
  }

  TempDir dir_;
  RecordedEvents events_;
  std::string path_ = dir_ / "golden.kx";
  KXFileSystemRef fs_;
};

TEST_F(GoldenArchive, EverySpellingOfAPathFindsItsEntry) {
  struct Case {
    const char* path;
    const char* expected;  // nullptr: no entry
  } cases[] = {
      {"readme.txt", "hello, reader"},
      {"\\readme.txt", "hello, reader"},
      {"/readme.txt/", "hello, reader"},
      {"data//big.bin", nullptr},  // replaced below by the deflated pattern
      {"data\\\\big.bin\\", nullptr},
      {"scripts/a.pyc", "version one"},
      {"scripts/a.pyc 1", "version one"},
      {"scripts\\a.pyc 2", "version two"},
      {"my file.txt", "spaced"},
      {"my", nullptr},
      {"readme", nullptr},
      {"README.TXT", nullptr},
      {"odd.bin", nullptr},  // method 12 is listed but cannot be read
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    BlockRef block = fs_->readFile(c.path);
    const std::string path = c.path;
    if (path.find("big.bin") != std::string::npos) {
      ASSERT_TRUE(block);
      EXPECT_EQ(block->asString(), pattern(5000));
    } else if (c.expected) {
      ASSERT_TRUE(block);
      EXPECT_EQ(block->asString(), c.expected);
    } else {
      EXPECT_FALSE(block);
    }
  }
  EXPECT_TRUE(events_.failures.empty());
}

TEST_F(GoldenArchive, DeflatedEntriesInflateToTheirRecordedSize) {
  BlockRef inner = fs_->readFile("data/inner.kx");
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->asString(), kInner);
  // An empty deflated entry is an empty block, not a failure.
  BlockRef empty = fs_->readFile("data/empty.txt");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->length(), 0);
}

TEST_F(GoldenArchive, ListingsKeepIndexOrderAndCutVersionSuffixes) {
  using List = std::vector<std::string>;
  // Listings cut every name at its first space, versioned or not.
  EXPECT_EQ(fs_->readDirectory(""), (List{"readme.txt", "data", "my", "nested.kx", "odd.bin"}));
  EXPECT_EQ(fs_->readDirectory("scripts"), (List{"a.pyc", "a.pyc"}));
  EXPECT_EQ(fs_->readDirectory("\\data\\"), (List{"big.bin", "inner.kx", "empty.txt"}));
  EXPECT_TRUE(fs_->readDirectory("nothing").empty());

  BlockRef second = fs_->readFile("scripts", 1);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->asString(), "version two");
  BlockRef first = fs_->readFile("scripts/", 0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->asString(), "version one");
  BlockRef root = fs_->readFile("", 0);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->asString(), "hello, reader");
  EXPECT_FALSE(fs_->readFile("scripts", 2));
  EXPECT_FALSE(fs_->readFile("scripts", -1));
  EXPECT_FALSE(fs_->readFile("nothing", 0));
}

TEST_F(GoldenArchive, TypesOfPathsIncludingTheArchivesOwnPrefix) {
  struct Case {
    std::string path;
    FileType type;
  } cases[] = {
      {"readme.txt", FileType::File},
      {path_ + "/readme.txt", FileType::File},
      {path_ + "\\data\\big.bin", FileType::File},
      {path_ + "/data/.", FileType::Directory},
      {"data/.", FileType::Directory},
      {"data", FileType::Directory},
      // Has a listing but no entry of its own.
      {"scripts", FileType::NotFound},
      {"scripts/a.pyc 1", FileType::File},
      {"scripts/a.pyc", FileType::NotFound},  // no version resolution here
      {"", FileType::NotFound},
      {path_, FileType::NotFound},
      {"missing", FileType::NotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(fs_->getFileType(c.path, nullptr), c.type);
  }
}

TEST_F(GoldenArchive, NestedArchivesAreRecognisedStoredOrDeflated) {
  struct Case {
    std::string path;
    FileType type;
  } cases[] = {
      {"nested.kx", FileType::Archive},
      {"data/inner.kx", FileType::Archive},
      {path_ + "/data/inner.kx", FileType::Archive},
      {"readme.txt", FileType::File},
      {"data/big.bin", FileType::File},
      {"data/empty.txt", FileType::File},
      {"data", FileType::Directory},
      {"scripts/a.pyc", FileType::File},  // resolves to version 1
      {"odd.bin", FileType::File},
      {"missing", FileType::NotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(fs_->getFileTypeEx(c.path, nullptr), c.type);
  }
  // The same answers once the stored bytes are attached in memory.
  fs_->loadAllStored();
  for (const Case& c : cases) {
    SCOPED_TRACE("attached " + c.path);
    EXPECT_EQ(fs_->getFileTypeEx(c.path, nullptr), c.type);
  }
}

TEST_F(GoldenArchive, FileInfoCarriesSizeAndTimes) {
  FileInfo info;
  ASSERT_EQ(fs_->getFileType("readme.txt", &info), FileType::File);
  EXPECT_EQ(info.size, 13u);
  EXPECT_EQ(info.modificationTime, 130357360500000000ull);
  EXPECT_EQ(info.creationTime, info.modificationTime);
  EXPECT_EQ(info.accessTime, info.modificationTime);

  // The all-zero date written by the writer is no real date: the times are 0.
  FileInfo zero;
  zero.creationTime = 99;
  ASSERT_EQ(fs_->getFileType("data/big.bin", &zero), FileType::File);
  EXPECT_EQ(zero.size, 5000u);
  EXPECT_EQ(zero.creationTime, 0u);

  FileInfo raw;
  ASSERT_EQ(fs_->getFileTypeEx("readme.txt", &raw), FileType::File);
  EXPECT_EQ(raw.size, 13u);
  EXPECT_EQ(raw.accessTime, (uint64_t{kFeb1st2014} << 16) | k134730);
}

TEST_F(GoldenArchive, StoredBytesAttachAndReadBackAsContent) {
  BlockRef storedBig = fs_->readStored("data/big.bin");
  ASSERT_TRUE(storedBig);
  EXPECT_EQ(storedBig->asString(), rawDeflate(pattern(5000)));
  EXPECT_TRUE(fs_->records()[2].storedLoaded);
  EXPECT_EQ(fs_->records()[2].data, storedBig);
  // Content, not the attached compressed bytes.
  BlockRef content = fs_->readFile("data/big.bin");
  ASSERT_TRUE(content);
  EXPECT_EQ(content->asString(), pattern(5000));

  BlockRef version = fs_->readStored("scripts/a.pyc");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->asString(), "version one");
  EXPECT_TRUE(events_.failures.empty());
}

// A name that is also the part before another name's space cannot be reached by name: the
// reader takes it for version 1 of that path. By position every record reads as itself.
TEST(ArchiveReads, RecordsReadByPositionWhateverTheirNames) {
  TempDir dir;
  RecordedEvents events;
  const std::string path = dir / "shadowed.kx";
  RawEntry misdeclared = stored("misdeclared", "abc");
  misdeclared.uncompressedSize = 5;
  writeFile(path, buildArchive({stored("fonts", "plain"), deflated("fonts 1", pattern(3000)),
                                stored("fonts old.bin", "old"), misdeclared, stored("empty", "")})
                      .bytes);
  KXFileSystemRef fs = makeRef<KXFileSystem>(path, &events);
  ASSERT_EQ(fs->entryCount(), 5);
  BlockRef byName = fs->readFileInternal("fonts");
  ASSERT_TRUE(byName);
  EXPECT_EQ(byName->asString(), pattern(3000));

  const std::string expected[] = {"plain", pattern(3000), "old"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(fs->records()[i].name);
    BlockRef content = fs->readContentAt(i);
    ASSERT_TRUE(content);
    EXPECT_EQ(content->asString(), expected[i]);
  }
  BlockRef storedPlain = fs->readStoredAt(0);
  ASSERT_TRUE(storedPlain);
  EXPECT_EQ(storedPlain->asString(), "plain");
  BlockRef storedDeflated = fs->readStoredAt(1);
  ASSERT_TRUE(storedDeflated);
  EXPECT_EQ(storedDeflated->asString(), rawDeflate(pattern(3000)));
  // Content again, not the stored bytes now attached.
  EXPECT_EQ(fs->readContentAt(1)->asString(), pattern(3000));
  // By position the content must have the declared size; by name the stored bytes are handed
  // out as they are.
  EXPECT_FALSE(fs->readContentAt(3));
  EXPECT_EQ(fs->readFileInternal("misdeclared")->asString(), "abc");
  ASSERT_TRUE(fs->readContentAt(4));
  EXPECT_EQ(fs->readContentAt(4)->length(), 0);
  EXPECT_FALSE(fs->readContentAt(5));
  EXPECT_FALSE(fs->readStoredAt(5));
}

TEST_F(GoldenArchive, ReadStoredTellsWhyItFailed) {
  EXPECT_FALSE(fs_->readStored("missing"));
  EXPECT_FALSE(fs_->readStored("odd.bin"));
  EXPECT_EQ(events_.failureKinds(),
            (std::vector<ArchiveFailure>{ArchiveFailure::EntryNotIndexed,
                                         ArchiveFailure::UnknownMethod}));
  EXPECT_EQ(fs_->lastError().subject, "odd.bin");
  EXPECT_FALSE(fs_->records()[9].data);
}

TEST_F(GoldenArchive, LoadAllStoredStopsAtTheFirstUnreadableRecord) {
  std::vector<RawEntry> entries = goldenEntries();
  std::swap(entries[3], entries[9]);  // the method-12 entry moves to the middle
  writeFile(path_, buildArchive(entries).bytes);
  KXFileSystemRef fs = makeRef<KXFileSystem>(path_, &events_);
  fs->loadAllStored();
  for (size_t i = 0; i < fs->records().size(); ++i) {
    SCOPED_TRACE(fs->records()[i].name);
    EXPECT_EQ(static_cast<bool>(fs->records()[i].data), i < 3);
  }
  EXPECT_TRUE(events_.failures.empty());
}

TEST(ArchiveReads, DamagedEntriesFailAndLeaveTheArchiveUsable) {
  TempDir dir;
  RecordedEvents events;
  const std::string big = pattern(4000);
  std::vector<RawEntry> entries = {deflated("corrupt.bin", big), deflated("short.bin", big),
                                   deflated("long.bin", big), stored("good.txt", "fine"),
                                   stored("beyond.bin", "0123456789")};
  entries[0].stored[entries[0].stored.size() / 2] ^= 0x55;
  entries[0].stored[0] = '\x07';  // reserved block type: never a valid stream
  entries[1].uncompressedSize = 4001;  // the stream ends before the recorded size
  entries[2].uncompressedSize = 3999;  // the stream runs past it
  BuiltArchive a = buildArchive(entries);
  patch32(a.bytes, a.recordOffsets[4] + kRecordCompressedSize, 0x00100000);  // past the end
  writeFile(dir / "pack.kx", a.bytes);

  KXFileSystemRef fs = makeRef<KXFileSystem>(dir / "pack.kx", &events);
  ASSERT_EQ(fs->entryCount(), 5);
  for (const char* name : {"corrupt.bin", "short.bin", "long.bin", "beyond.bin"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(fs->readFile(name));
    BlockRef good = fs->readFile("good.txt");
    ASSERT_TRUE(good);
    EXPECT_EQ(good->asString(), "fine");
  }
  EXPECT_FALSE(fs->readStored("beyond.bin"));
  EXPECT_EQ(events.failureKinds(), std::vector<ArchiveFailure>{ArchiveFailure::ReadFailed});
  EXPECT_EQ(fs->getFileTypeEx("beyond.bin", nullptr), FileType::File);
}

TEST(ArchiveReads, InflateStoredTellsFailureFromEmpty) {
  TempDir dir;
  RecordedEvents events;
  KXFileSystemRef fs = makeRef<KXFileSystem>(dir / "none.kx", &events);
  auto block = [](const std::string& bytes) { return BinaryBlock::fromString(bytes, "test"); };
  const std::string text = noise(3000);

  BlockRef known = fs->inflateStored(block(rawDeflate(text)), 3000);
  ASSERT_TRUE(known);
  EXPECT_EQ(known->asString(), text);
  BlockRef unknown = fs->inflateStored(block(rawDeflate(text)));
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->asString(), text);

  BlockRef empty = fs->inflateStored(block(rawDeflate("")));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->length(), 0);

  EXPECT_FALSE(fs->inflateStored(BlockRef()));
  EXPECT_FALSE(fs->inflateStored(block("")));
  EXPECT_FALSE(fs->inflateStored(block(rawDeflate(text)), 2999));
  EXPECT_FALSE(fs->inflateStored(block(rawDeflate(text)), 3001));
  std::string cut = rawDeflate(text);
  EXPECT_FALSE(fs->inflateStored(block(cut.substr(0, cut.size() / 2))));
  // Highly compressible content beyond 30 times its stored size is refused without a size,
  // and inflates fine when the recorded size is given.
  const std::string zeros(100000, '\0');
  EXPECT_FALSE(fs->inflateStored(block(rawDeflate(zeros))));
  BlockRef sized = fs->inflateStored(block(rawDeflate(zeros)), 100000);
  ASSERT_TRUE(sized);
  EXPECT_EQ(sized->length(), 100000);

  // The caller's reference is taken over.
  BlockRef input = block(rawDeflate(text));
  BinaryBlock* raw = input.get();
  raw->incRef();
  fs->inflateStored(std::move(input));
  EXPECT_EQ(raw->refCount(), 1);
  raw->decRef();
}

TEST(ArchivePaths, NormalisePathTable) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},           {"/", ""},          {"//", ""},           {"a", "a"},
      {"\\a\\b\\", "a/b"}, {"a//b///c", "a/b/c"}, {"/a/", "a"},     {"a\\/\\b", "a/b"},
      {"a b/c d", "a b/c d"}, {"./a", "./a"},
  };
  for (const Case& c : cases) EXPECT_EQ(normalisePath(c.in), c.out) << c.in;
}

TEST(ArchivePaths, ResolveStripsTheArchivePrefixOnlyWhenAsked) {
  TempDir dir;
  RecordedEvents events;
  KXFileSystemRef fs = makeRef<KXFileSystem>("/games/pack.kx", &events);
  struct Case {
    const char* in;
    bool strip;
    const char* out;
  } cases[] = {
      {"/games/pack.kx/a/b", true, "a/b"},
      {"\\games\\pack.kx\\a\\b", true, "a/b"},
      {"/games/pack.kx/a/b", false, "games/pack.kx/a/b"},
      {"/games/pack.kx", true, ""},
      {"/games/pack.kx/", true, ""},
      {"a/b/.", true, "a/b"},
      {"a/b/.", false, "a/b/."},
      {".", true, "."},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    std::string path = c.in;
    fs->zip_resolvePath(path, c.strip);
    EXPECT_EQ(path, c.out) << c.in << " strip=" << c.strip;
  }
  // An archive without a path leaves paths untouched.
  KXFileSystemRef unnamed = makeRef<KXFileSystem>("", &events);
  std::string path = "\\a//b";
  unnamed->zip_resolvePath(path, true);
  EXPECT_EQ(path, "\\a//b");
}

TEST(ArchivePaths, DosDateTimeConversion) {
  struct Case {
    uint16_t date, time;
    bool valid;
    uint64_t fileTime;
  } cases[] = {
      {kFeb1st2014, k134730, true, 130357360500000000ull},
      {0x0021, 0x0000, true, 119600064000000000ull},  // 1980-01-01 00:00:00
      {0xFF9F, 0xBF7D, true, 159992927980000000ull},  // 2107-12-31 23:59:58
      {0x285D, 0x0000, true, 125962560000000000ull},  // 2000-02-29
      {0x0000, 0x0000, false, 0},                     // month 0, day 0
      {0x0020, 0x0000, false, 0},                     // day 0
      {0x01A1, 0x0000, false, 0},                     // month 13
      {0x105D, 0x0000, true, 122175648000000000ull},  // 1988-02-29 is a date...
      {0x0E5D, 0x0000, false, 0},                     // ...1987-02-29 is not
      {0x0021, 0xC000, false, 0},                     // hour 24
      {0x0021, 0x0780, false, 0},                     // minute 60
      {0x0021, 0x001E, false, 0},                     // second 60
  };
  for (const Case& c : cases) {
    uint64_t out = 7;
    const bool ok = dosDateTimeToFileTime(c.date, c.time, &out);
    SCOPED_TRACE(c.date);
    EXPECT_EQ(ok, c.valid);
    EXPECT_EQ(out, c.valid ? c.fileTime : 7u);
  }
}

TEST(ArchiveSlots, TrivialSlotsAnswerTheSameForEveryPath) {
  TempDir dir;
  RecordedEvents events;
  FileSystemRef fs(new KXFileSystem(dir / "none.kx", &events));
  for (const std::string& path : std::vector<std::string>{"", "a", "\\x/y z", "\xB8\xFC"}) {
    EXPECT_FALSE(fs->rejectPath(path));
    EXPECT_FALSE(fs->rejectPathPair(path, path));
    EXPECT_EQ(fs->emptyPathOf(path), "");
    EXPECT_EQ(fs->samePathOf(path), path);
    fs->ignoreNote(path);
  }
  writeFile(dir / "host.txt", "host");
  FILE* host = fs->openHostFile(dir / "host.txt", "rb");
  ASSERT_NE(host, nullptr);
  char buffer[8] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, host), 4u);
  std::fclose(host);
  EXPECT_EQ(fs->openHostFile(dir / "absent.txt", "rb"), nullptr);
}

}  // namespace
