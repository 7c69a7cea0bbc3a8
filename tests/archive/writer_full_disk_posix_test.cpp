// A full disk while the writer rewrites an installed pack. A file-size limit in a child process
// stands in for it, which only POSIX offers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <random>

#include "tests/archive/writer_fixture.h"

using testing_support::readFile;

namespace kxwrite {
namespace {

class WriterFullDiskTest : public ArchiveTest {};

// A file-size limit stands in for a full disk: the write comes up short, createNewZip says so,
// and neither a partial temporary file nor a changed pack is left behind.
TEST_F(WriterFullDiskTest, FullDiskFailsAndLeavesTheInstalledPackAlone) {
  std::string content(256 * 1024, '\0');
  std::mt19937 random(7);
  for (char& c : content) c = static_cast<char>(random());
  const std::string installed = put("pack.kx", {kxtest::stored("big.bin", content)});
  const std::string before = readFile(installed);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    KXFileSystemRef fs(new KXFileSystem(installed));
    const bool written = static_cast<bool>(fs->createNewZip(installed, nullptr));
    ::_exit(written ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "createNewZip reported success on a full disk";
  EXPECT_FALSE(testing_support::fileExists(installed + "temp"));
  EXPECT_EQ(readFile(installed), before);
}

}  // namespace
}  // namespace kxwrite
