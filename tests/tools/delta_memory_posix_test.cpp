// A patch of many delta entries is rebuilt one entry at a time: the installer's memory grows
// with its largest entry, never with the sum of them. An address-space limit in a child
// process, a fraction of what all the rebuilt entries take together, stands in for the
// installer's bound; only POSIX offers one, and under AddressSanitizer, whose shadow memory
// alone exceeds any such limit, the case is skipped.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "archive/kx_file_system.h"
#include "archive/write_handler.h"
#include "tests/tools/tool_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define KX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KX_UNDER_ASAN 1
#endif
#endif

using namespace tool_test;

namespace {

#ifndef KX_UNDER_ASAN
// The process's address space in use now, in bytes (0 when it cannot be read).
uint64_t addressSpaceInUse() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
}
#endif

TEST(DeltaMemory, ManyDeltaEntriesAreRebuiltWithinTheMemoryOfAFew) {
#ifdef KX_UNDER_ASAN
  GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
  if (!release::deltaEncoderAvailable()) GTEST_SKIP() << "xdelta3 is not installed";
  // Random contents do not shrink, so the entries are stored: each rebuilt entry is as large
  // as its contents, and nothing but the rebuilding costs time.
  constexpr size_t kEntries = 16;
  constexpr size_t kEntryBytes = size_t{3} << 20;
  // All rebuilt entries together take 48 MiB; the merge and the write may use half of that
  // besides the writer's output buffer: room for a few entries' old and new contents and
  // stored bytes at once, never for all of them.
  constexpr rlim_t kBudget = rlim_t{24} << 20;
  TempDir dir;
  std::vector<release::NamedContent> oldEntries, newEntries;
  std::mt19937_64 random(28);
  for (size_t i = 0; i < kEntries; ++i) {
    std::string contents(kEntryBytes, '\0');
    for (size_t at = 0; at + 8 <= kEntryBytes; at += 8) {
      const uint64_t word = random();
      contents.replace(at, 8, reinterpret_cast<const char*>(&word), 8);
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

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlim_t limit = addressSpaceInUse() + WriteHandler::kStageBytes + kBudget;
    const rlimit space{limit, limit};
    if (::setrlimit(RLIMIT_AS, &space) != 0) ::_exit(3);
    KXFileSystemRef pack = makeRef<KXFileSystem>(oldPack);
    KXFileSystemRef source = makeRef<KXFileSystem>(patch);
    if (!pack->mergePatch(*source)) ::_exit(1);
    const bool written = pack->createNewZip(oldPack, source.get());
    pack->closeArchive();
    source->closeArchive();
    ::_exit(written ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // A signal: an allocation beyond the limit ended the child.
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  // 1: the merge failed; 2: the write failed (for want of memory, or otherwise); 3: no limit.
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(readFile(oldPack + "temp") == readFile(newPack)) << "NEW, byte for byte";
#endif
}

}  // namespace
