// Inputs the fuzz targets found troublesome, kept as regression tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "archive/kx_file_system.h"
#include "tests/support/test_support.h"
#include "tools/release/release.h"

using testing_support::readFile;
using testing_support::writeFile;

namespace {

void put32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A patch entry whose local header announces far more bytes than its directory record (and
// the file) hold used to be padded with zeros up to the announced size: the writer allocated
// and wrote that many bytes (up to 2 GiB) into the rewritten pack. The directory record is
// what describes the entry, and the local header's copy of its size is not read at all.
TEST(FuzzFindings, PatchHeaderAnnouncingMoreBytesThanItsEntryHolds) {
  testing_support::TempDir dir;
  testing_support::ScopedCwd cwd(dir.path());
  const std::string pack = dir / "pack.kx";
  const std::string patchPath = dir / "patch.kx";
  ASSERT_TRUE(release::writeArchive(pack, {{"a", "OLD"}, {"b", "kept"}}));
  ASSERT_TRUE(release::writeArchive(patchPath, {{"a", "NEW"}, {"c", "added"}}));
  std::string patchBytes = readFile(patchPath);
  constexpr size_t kLocalCompressedSize = 6;  // the first entry's local header starts the file
  put32(patchBytes, kLocalCompressedSize, 64u << 20);
  writeFile(patchPath, patchBytes);

  {
    KXFileSystemRef installed = makeRef<KXFileSystem>(pack);
    KXFileSystemRef patch = makeRef<KXFileSystem>(patchPath);
    ASSERT_EQ(patch->entryCount(), 2);
    ASSERT_TRUE(installed->mergePatch(*patch));
    ASSERT_TRUE(installed->createNewZip(pack, patch.get()));
    installed->closeArchive();
    patch->closeArchive();
  }
  ASSERT_LT(readFile(pack + "temp").size(), 4096u);
  const std::vector<release::NamedContent> expected = {{"a", "NEW"}, {"b", "kept"}, {"c", "added"}};
  EXPECT_EQ(release::readArchive(pack + "temp"), expected);
}

}  // namespace
