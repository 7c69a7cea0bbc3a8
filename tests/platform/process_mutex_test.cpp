// One installer at a time, and the process list as the game wait and CloseUpdater see it.
// The other installer or program is this test program started again (helper_process.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <thread>

#include "platform/platform.h"
#include "tests/platform/platform_test_support.h"

using namespace platform_test;
using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class NamedMutexTest : public ::testing::Test {
 protected:
  TempDir dir;
  // POSIX keeps its lock files in the runtime folder; the helpers inherit this one.
  ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
  std::string name = uniqueName("kxtest-mutex");
  std::string path(const std::string& file) const { return dir / file; }
};

TEST_F(NamedMutexTest, SecondHolderInTheSameProcessWaitsForTheFirst) {
  platform::NamedMutex first(name);
  ASSERT_TRUE(first.wait());
  std::atomic<bool> secondOwns{false};
  std::thread other([&] {
    platform::NamedMutex second(name);
    ASSERT_TRUE(second.wait());
    secondOwns = true;
    second.release();
  });
  platform::sleepMs(300);
  EXPECT_FALSE(secondOwns);
  first.release();
  other.join();
  EXPECT_TRUE(secondOwns);
}

TEST_F(NamedMutexTest, AnotherProcessHoldingItMakesUsWaitUntilItReleases) {
  auto helper = startHelper("hold-mutex", dir.path(), name);
  ASSERT_TRUE(waitForFile(path("held")));
  platform::NamedMutex mutex(name);
  ASSERT_TRUE(mutex.wait());
  appendText(path("order"), "installer\n");
  mutex.release();
  EXPECT_EQ(helper.get().exitCode, 0);
  EXPECT_EQ(readFile(path("order")), "helper\ninstaller\n");
}

TEST_F(NamedMutexTest, AProcessThatDiedHoldingItDoesNotBlockForever) {
  auto helper = startHelper("abandon-mutex", dir.path(), name);
  ASSERT_TRUE(waitForFile(path("held")));
  helper.get();
  platform::NamedMutex mutex(name);
  EXPECT_TRUE(mutex.wait());
  mutex.release();
}

TEST(ProcessLookup, MatchesTheWholeNameExactly) {
  const std::string own = ownProcessName();
  const uint32_t pid = platform::findProcessId(own);
  ASSERT_NE(pid, 0u) << own;
  EXPECT_TRUE(platform::canOpenProcessFully(pid));
  EXPECT_TRUE(platform::canOpenProcessForTermination(pid));

  std::string upper = own;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string misses[] = {
      own.substr(0, own.size() - 1),  // a prefix
      own + "x",                      // a longer name
      upper,                          // letter case counts
      " " + own,
      "",
      "no-such-program-kxtest.exe",
  };
  for (const std::string& name : misses)
    EXPECT_EQ(platform::findProcessId(name), 0u) << "'" << name << "'";
}

TEST(ProcessLookup, IdsThatNameNoSingleProcessCannotBeOpened) {
  for (uint32_t pid : {0u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_FALSE(platform::canOpenProcessFully(pid)) << pid;
    EXPECT_FALSE(platform::canOpenProcessForTermination(pid)) << pid;
  }
}

TEST(ProcessTermination, EndsAProcessThatCanBeOpenedForIt) {
  TempDir dir;
  auto helper = startHelper("sleep", dir.path());
  ASSERT_TRUE(waitForFile(dir / "pid"));
  const uint32_t pid = static_cast<uint32_t>(std::stoul(readFile(dir / "pid")));
  ASSERT_TRUE(platform::canOpenProcessForTermination(pid));
  EXPECT_TRUE(platform::terminateProcess(pid));
  testing_support::ProcessResult result = helper.get();
  // Windows ends it with exit code 0, POSIX with a signal; either way it ended early.
  EXPECT_TRUE(result.exitCode == 0 || result.signal != 0);
}

TEST(ProcessTermination, ReportsTheSystemErrorForAProcessThatIsGone) {
  const auto ended = platform::terminateProcess(0x7FFFFFF0u);
  ASSERT_FALSE(ended);
  EXPECT_NE(ended.error(), 0u);
}

}  // namespace
