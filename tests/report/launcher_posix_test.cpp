// Progress texts reach the launcher socket only under AutoRun; other codes always do; a missing
// launcher changes nothing.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "report/run_state.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

class Launcher {
 public:
  explicit Launcher(const std::string& folder) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = folder + "/MOXStartup";
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~Launcher() { ::close(fd_); }
  // Every datagram waiting, as "code:text".
  std::vector<std::string> received() {
    std::vector<std::string> out;
    char buffer[512];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 4) {
      uint32_t code = static_cast<unsigned char>(buffer[0]) |
                      static_cast<unsigned char>(buffer[1]) << 8 |
                      static_cast<unsigned char>(buffer[2]) << 16 |
                      static_cast<uint32_t>(static_cast<unsigned char>(buffer[3])) << 24;
      out.push_back(std::to_string(code) + ":" + std::string(buffer + 4, static_cast<size_t>(n) - 4));
    }
    return out;
  }

 private:
  int fd_ = -1;
};

class LauncherTest : public ::testing::Test {
 protected:
  void TearDown() override { resetRunState(); }
  TempDir dir;
  ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
};

TEST_F(LauncherTest, ProgressOnlyUnderAutoRun) {
  Launcher launcher(dir.path());
  autoRun = false;
  reportProgress("Begin");
  notifyLauncher(kLauncherEnd, "end");
  autoRun = true;
  reportProgress("T%.1f", 33.333f);
  notifyLauncher(kLauncherFailure, "x");
  EXPECT_EQ(launcher.received(),
            (std::vector<std::string>{"2048:end", "2055:T33.3", "2039:x"}));
}

TEST_F(LauncherTest, NoLauncherIsNotAnError) {
  autoRun = true;
  reportProgress("Begin");
  notifyLauncher(kLauncherEnd, "end");
  SUCCEED();
}

}  // namespace
