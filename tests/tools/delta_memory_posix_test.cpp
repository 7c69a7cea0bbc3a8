// A patch of many delta entries is rebuilt one entry at a time: the installer's memory grows
// with its largest entry, never with the sum of them. The peak resident set of a child process
// that merges and writes is measured against a fraction of what all the rebuilt entries take
// together. Linux alone resets the peak; under AddressSanitizer, whose allocator keeps freed
// memory in quarantine, the case is skipped.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "archive/kx_file_system.h"
#include "archive/write_handler.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_fixture.h"

using namespace tool_test;

namespace {

#ifndef KXTEST_UNDER_ASAN
// A "Vm..." figure of /proc/self/status in bytes (0 when it cannot be read).
uint64_t statusBytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key + ":", 0) == 0) return std::stoull(line.substr(key.size() + 1)) * 1024;
  return 0;
}

// Forgets the peak resident set so far: from now on VmHWM is the peak from here.
bool resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return static_cast<bool>(clear);
}
#endif

TEST(DeltaMemory, ManyDeltaEntriesAreRebuiltWithinTheMemoryOfAFew) {
#ifdef KXTEST_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer keeps freed memory, so its peak says nothing here";
#else
  if (!release::deltaEncoderAvailable()) GTEST_SKIP() << "xdelta3 is not installed";
  // Random contents do not shrink, so the entries are stored: each rebuilt entry is as large
  // as its contents, and nothing but the rebuilding costs time.
  constexpr size_t kEntries = 16;
  constexpr size_t kEntryBytes = size_t{2} << 20;
  // The merge and the write may use half of what all rebuilt entries take together, besides
  // the writer's staging buffer: room for a few entries' old and new contents and stored bytes
  // at once, never for all of them.
  constexpr uint64_t kBudget = kEntries * kEntryBytes / 2;
  TempDir dir;
  std::vector<release::NamedContent> oldEntries, newEntries;
  std::mt19937_64 random(28);
  for (size_t i = 0; i < kEntries; ++i) {
    std::string contents(kEntryBytes, '\0');
    for (size_t at = 0; at + 8 <= kEntryBytes; at += 8) {
      const uint64_t word = random();
      std::memcpy(&contents[at], &word, 8);
    }
    const std::string name = "data/block" + std::to_string(i) + ".bin";
    oldEntries.emplace_back(name, contents);
    contents[kEntryBytes / 3 + i] ^= 0x5A;  // an edit: the delta is a few bytes
    newEntries.emplace_back(name, std::move(contents));
  }
  const std::string oldPack = dir / "old.kx", newPack = dir / "new.kx", patch = dir / "patch.kx";
  ASSERT_TRUE(release::writeArchive(oldPack, oldEntries));
  ASSERT_TRUE(release::writeArchive(newPack, newEntries));
  oldEntries.clear();
  newEntries.clear();
  ASSERT_TRUE(release::makePatchArchive(oldPack, newPack, patch));
  release::DeltaCounts counts;
  std::string error;
  ASSERT_TRUE(release::deltaPatchArchive(oldPack, newPack, patch, dir.path(), counts, error))
      << error;
  ASSERT_EQ(counts.deltas, kEntries);

  // The child merges and writes; it reports how far its resident set grew above where it
  // began, its heap trimmed of what the setup above freed.
  const std::string grewBy = dir / "grew";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::malloc_trim(0);
    const uint64_t before = statusBytes("VmRSS");
    if (before == 0 || !resetPeak()) ::_exit(3);
    KXFileSystemRef pack = makeRef<KXFileSystem>(oldPack);
    KXFileSystemRef source = makeRef<KXFileSystem>(patch);
    if (!pack->mergePatch(*source)) ::_exit(1);
    const bool written = static_cast<bool>(pack->createNewZip(oldPack, source.get()));
    pack->closeArchive();
    source->closeArchive();
    std::ofstream(grewBy) << statusBytes("VmHWM") - before;
    ::_exit(written ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "the peak resident set cannot be reset here";
  // 1: the merge failed; 2: the write failed.
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(readFile(oldPack + "temp") == readFile(newPack)) << "NEW, byte for byte";
  const uint64_t grew = std::stoull(readFile(grewBy));
  EXPECT_LT(grew, static_cast<uint64_t>(WriteHandler::kStageBytes) + kBudget)
      << "the peak grew by " << (grew >> 20) << " MiB";
#endif
}

}  // namespace
