// Progress texts reach the launcher socket only under AutoRun; other codes always do; a missing
// launcher changes nothing; a slow one holds the run only a little.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "report/run_state.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// The launcher's window: a socket in the runtime folder.
class LauncherWindow {
 public:
  explicit LauncherWindow(const std::string& folder) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = folder + "/MOXStartup";
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~LauncherWindow() { ::close(fd_); }
  // Every datagram waiting, as "code:text".
  std::vector<std::string> received() {
    std::vector<std::string> out;
    for (std::string one = receivedOne(); !one.empty(); one = receivedOne()) out.push_back(one);
    return out;
  }
  // The first datagram waiting, or "" when none is.
  std::string receivedOne() {
    char buffer[512];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 4) return std::string();
    uint32_t code = static_cast<unsigned char>(buffer[0]) |
                    static_cast<unsigned char>(buffer[1]) << 8 |
                    static_cast<unsigned char>(buffer[2]) << 16 |
                    static_cast<uint32_t>(static_cast<unsigned char>(buffer[3])) << 24;
    return std::to_string(code) + ":" + std::string(buffer + 4, static_cast<size_t>(n) - 4);
  }

 private:
  int fd_ = -1;
};

class LauncherTest : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
};

TEST_F(LauncherTest, ProgressOnlyUnderAutoRun) {
  LauncherWindow launcher(dir.path());
  Launcher manual(false);
  manual.progress("Begin");
  manual.notify(kLauncherEnd, "end");
  Launcher started(true);
  started.progress("T%.1f", 33.333f);
  started.notify(kLauncherFailure, "x");
  EXPECT_EQ(launcher.received(),
            (std::vector<std::string>{"2048:end", "2055:T33.3", "2039:x"}));
}

// A launcher that takes a text now and then, never fast enough to keep its queue from filling:
// each progress text would wait for it, and together they would hold a run for as long as
// it likes. They wait a little in all, and what the launcher gets stays in order.
TEST_F(LauncherTest, ASlowLauncherHoldsProgressTextsOnlyALittleInAll) {
  LauncherWindow launcher(dir.path());
  Launcher channel(true);
  std::atomic<bool> stop{false};
  std::vector<std::string> taken;
  std::thread slowReader([&] {
    while (!stop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const std::string one = launcher.receivedOne();
      if (!one.empty()) taken.push_back(one);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 60; ++i) channel.progress("%d", i);
  const auto took = std::chrono::steady_clock::now() - start;
  stop = true;
  slowReader.join();
  EXPECT_LT(took, std::chrono::seconds(3)) << "sixty texts at 200 ms each would take 10 s";

  for (const std::string& rest : launcher.received()) taken.push_back(rest);
  ASSERT_FALSE(taken.empty());
  int last = -1;
  for (const std::string& text : taken) {
    ASSERT_EQ(text.rfind("2055:", 0), 0u) << text;
    EXPECT_GT(std::stoi(text.substr(5)), last) << "out of order";
    last = std::stoi(text.substr(5));
  }
}

// Texts sent while no launcher listens are lost, not queued or waited for; a launcher that
// appears later gets what is sent from then on.
TEST_F(LauncherTest, TextsWithoutALauncherAreLostAndLaterOnesArrive) {
  Launcher channel(true);
  channel.progress("Begin");
  channel.notify(kLauncherEnd, "end");
  LauncherWindow launcher(dir.path());
  channel.progress("1.0");
  channel.notify(kLauncherEnd, "end");
  EXPECT_EQ(launcher.received(), (std::vector<std::string>{"2055:1.0", "2048:end"}));
}

}  // namespace
