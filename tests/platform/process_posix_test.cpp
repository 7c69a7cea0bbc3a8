// A game that has ended but whose parent has not reaped it yet must not count as running:
// the installer would otherwise ask the player to close a game that is already closed.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(ProcessLookup, AnEndedButUnreapedProcessIsNotFound) {
  const char* name = "kxzombie.exe";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_NAME, name);
    char byte = 1;
    (void)!::write(ready[1], &byte, 1);
    ::usleep(300 * 1000);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_EQ(platform::findProcessId(name), static_cast<uint32_t>(pid)) << "while it runs";
  // Wait until it has ended without reaping it.
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
  EXPECT_EQ(platform::findProcessId(name), 0u) << "after it ended";
  ::waitpid(pid, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
