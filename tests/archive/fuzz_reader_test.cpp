// Thousands of damaged archives through open, listing, reading and type queries. Nothing may
// crash or read outside its buffer (run it under the sanitizer preset); every answer must be a
// value the interface allows.
#include <gtest/gtest.h>

#include <random>

#include "archive/kx_file_system.h"
#include "tests/archive/reader_archive_builder.h"
#include "tests/support/test_support.h"

using namespace kxtest;
using testing_support::ScopedCwd;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

BuiltArchive seedArchive() {
  std::string text(700, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>("kxpatch "[i % 8] + i % 3);
  return buildArchive({
      stored("a.txt", "alpha"),
      stored("dir/", ""),
      deflated("dir/b.bin", text),
      stored("dir/c 1", "one"),
      stored("dir/c 2", "two"),
      stored("n.kx", "PK\x03\x04rest"),
      deflated("dir/m.kx", "PK" + text),
      deflated("e", ""),
  });
}

// Touches everything a caller can reach through the archive.
void exercise(KXFileSystem& fs) {
  std::vector<std::string> names;
  for (const ArchiveFile& record : fs.records()) names.push_back(record.name);
  for (const std::string& name : names) {
    BlockRef content = fs.readFile(name);
    if (content) {
      ASSERT_GE(content->length(), 0);
    }
    FileInfo info;
    const FileType type = fs.getFileTypeEx(name, &info);
    ASSERT_TRUE(type >= FileType::NotFound && type <= FileType::Archive);
    (void)fs.getFileType(name, &info);
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash);
    const int32_t count = static_cast<int32_t>(fs.readDirectory(dir).size());
    for (int32_t i = -1; i <= count; ++i) (void)fs.readFile(dir, i);
  }
  fs.loadAllStored();
  for (const ArchiveFile& record : fs.records()) {
    if (record.data && record.entry_.compressionMethod == kMethodDeflated) {
      (void)fs.inflateStored(record.data, record.entry_.uncompressedSize);
      (void)fs.inflateStored(record.data);
    }
    (void)fs.getFileTypeEx(record.name, nullptr);
    (void)fs.readFile(record.name);
  }
  for (const std::string& name : names) (void)fs.readStored(name);
}

std::string mutate(const BuiltArchive& seed, std::mt19937& rng) {
  std::string b = seed.bytes;
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  switch (pick(6)) {
    case 0:  // bit flips anywhere
      for (size_t n = 1 + pick(8); n > 0; --n) b[pick(b.size())] ^= static_cast<char>(1 << pick(8));
      break;
    case 1:  // truncation, keeping or losing the footer
      b.resize(pick(b.size()));
      if (pick(2)) b += seed.bytes.substr(seed.bytes.size() - 22);
      break;
    case 2:  // footer fields
      patch32(b, footerAt(b) + (pick(2) ? kFooterDirectorySize : kFooterDirectoryOffset),
              static_cast<uint32_t>(rng()) >> pick(32));
      if (pick(2)) patch16(b, footerAt(b) + kFooterCount, static_cast<uint32_t>(rng()));
      break;
    case 3: {  // directory record fields
      const size_t record = seed.recordOffsets[pick(seed.recordOffsets.size())];
      const size_t fields[] = {kRecordCompressedSize, kRecordUncompressedSize,
                               kRecordHeaderOffset};
      patch32(b, record + fields[pick(3)], static_cast<uint32_t>(rng()) >> pick(32));
      if (pick(2)) patch16(b, record + kRecordMethod, pick(2) ? 8 : pick(65536));
      if (pick(3) == 0) patch16(b, record + kRecordNameLength + 2 * pick(3), pick(1100));
      break;
    }
    case 4:  // garbage inside stored data
      for (size_t n = 1 + pick(30); n > 0; --n) b[pick(seed.directoryOffset)] = static_cast<char>(rng());
      break;
    default:  // oversized counts
      patch16(b, footerAt(b) + kFooterCount, 0xFFFF - pick(4));
      break;
  }
  return b;
}

TEST(DamagedArchives, NeverCrashOrReadOutsideTheirBytes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const BuiltArchive seed = seedArchive();
  std::mt19937 rng(20140201);
  const std::string path = dir / "fuzz.kx";
  for (int round = 0; round < 3000; ++round) {
    const std::string bytes = mutate(seed, rng);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << testing_support::hex(bytes));
    writeFile(path, bytes);
    KXFileSystemRef fs = makeRef<KXFileSystem>(path);
    ASSERT_NO_FATAL_FAILURE(exercise(*fs));
    if (HasFatalFailure()) return;
  }
}

TEST(DamagedArchives, EveryTruncationIsRefused) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const BuiltArchive seed = seedArchive();
  const std::string path = dir / "cut.kx";
  for (size_t length = 0; length < seed.bytes.size(); ++length) {
    SCOPED_TRACE(length);
    writeFile(path, seed.bytes.substr(0, length));
    KXFileSystemRef fs = makeRef<KXFileSystem>(path);
    EXPECT_EQ(fs->entryCount(), 0);
    ASSERT_NO_FATAL_FAILURE(exercise(*fs));
  }
}

}  // namespace
