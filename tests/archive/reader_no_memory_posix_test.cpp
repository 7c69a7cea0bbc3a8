// An archive whose directory cannot be held in memory. An address-space limit in a child
// process stands in for the shortage, which only POSIX offers; under AddressSanitizer, whose
// shadow memory alone exceeds any such limit, the case is skipped.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "archive/kx_file_system.h"
#include "tests/archive/reader_archive_builder.h"
#include "tests/support/test_support.h"

namespace {

#ifndef KXTEST_UNDER_ASAN
// The process's address space in use now, in bytes (0 when it cannot be read).
uint64_t addressSpaceInUse() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
}

// An archive whose footer announces a directory of 1 GiB filling the (sparse) file before it.
void writeHugeDirectoryArchive(const std::string& path) {
  constexpr uint32_t kDirectoryBytes = 1u << 30;
  std::string footer;
  kxtest::put32(footer, kDirectoryBytes);
  kxtest::put32(footer, 0x06054B50);
  kxtest::put16(footer, 0);
  kxtest::put32(footer, 0);  // directory offset
  kxtest::put16(footer, 0);
  kxtest::put16(footer, 1);
  kxtest::put16(footer, 1);
  kxtest::put16(footer, 0);
  ASSERT_EQ(footer.size(), 22u);
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(::ftruncate(fileno(file), kDirectoryBytes), 0);
  ASSERT_EQ(std::fseek(file, kDirectoryBytes, SEEK_SET), 0);
  ASSERT_EQ(std::fwrite(footer.data(), 1, footer.size(), file), footer.size());
  ASSERT_EQ(std::fclose(file), 0);
}
#endif

// Without its directory the archive has no index, so it is not open: it says why and holds no
// handle a later read could go through.
TEST(ArchiveOpenNoMemory, ArchiveWhoseDirectoryCannotBeAllocatedIsNotOpen) {
#ifdef KXTEST_UNDER_ASAN
  GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
  testing_support::TempDir dir;
  const std::string path = dir / "pack.kx";
  writeHugeDirectoryArchive(path);
  if (::testing::Test::HasFatalFailure()) return;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlim_t limit = addressSpaceInUse() + (256u << 20);
    const rlimit space{limit, limit};
    if (::setrlimit(RLIMIT_AS, &space) != 0) ::_exit(3);
    KXFileSystem fs(path);
    if (fs.lastError().failure != ArchiveFailure::DirectoryNoMemory) ::_exit(1);
    if (fs.isOpen() || fs.entryCount() != 0) ::_exit(2);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  // 1: another failure (or none); 2: still open; 3: no limit could be set.
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

}  // namespace
