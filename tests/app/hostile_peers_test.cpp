// The peers of a run may be hostile or broken: a launcher that never reads its texts, a log
// server that answers every command late. Neither may hold the real installer for more than a
// few seconds; each case is timed against the same run with a peer that behaves.
#ifndef _WIN32

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/ftp.h"
#include "tests/app/installer_harness.h"
#include "tests/support/ftp_server.h"

using namespace installer_test;

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// A launcher socket that is bound and never read, its queue already full: it takes nothing.
class DeafLauncher {
 public:
  explicit DeafLauncher(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int filler = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    while (::sendto(filler, "old", 3, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address),
                    sizeof address) == 3) {
    }
    ::close(filler);
  }
  ~DeafLauncher() { ::close(fd_); }

 private:
  int fd_ = -1;
};

struct Timed {
  testing_support::ProcessResult result;
  double seconds;
};

Timed timedRun(Scratch& scratch, const std::vector<std::string>& args, const std::string& cwd) {
  const auto start = Clock::now();
  auto result = scratch.run(args, cwd, 60);
  return {result, Seconds(Clock::now() - start).count()};
}

TEST(HostilePeers, ALauncherThatNeverReadsDelaysTheRunByAFewSecondsAtMost) {
  struct Case {
    const char* name;
    bool inBin;  // false: started outside the installation, the run ends early with "end"
                 // and the failure text, the two texts that may wait longest
  } cases[] = {{"whole run", true}, {"early end", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch reading(defaultRelease());
    LauncherListener launcher(reading.runtime() + "/MOXStartup");
    const Timed usual = timedRun(reading, {"AutoRun"}, c.inBin ? "" : reading.root());
    EXPECT_FALSE(launcher.messages().empty());

    Scratch deaf(defaultRelease());
    DeafLauncher never(deaf.runtime() + "/MOXStartup");
    const Timed held = timedRun(deaf, {"AutoRun"}, c.inBin ? "" : deaf.root());
    EXPECT_EQ(held.result.exitCode, 0) << held.result.err;
    EXPECT_LT(held.seconds, usual.seconds + 4) << "the usual run took " << usual.seconds << " s";
    EXPECT_EQ(held.result.out, usual.result.out);
    EXPECT_EQ(held.result.err, usual.result.err);
    if (c.inBin) {
      EXPECT_EQ(lines(deaf.runLog()).back(), kSuccessLine);
    }
  }
}

enum Pack { kCN = 5 };

// A failed pack update sends the run log to a log server of the test's own. Sent, the local
// log is gone; given up, it stays whole, system report included, for the next run's upload.
Timed runWithFailedPack(testing_support::FtpServer& server, bool arrives) {
  release::TestReleaseOptions options;
  options.changedPacks = {kCN};
  Scratch scratch(releaseFor("CN changed", options));
  scratch.setTableValue("2.651", kGamePacks[kCN].name, "0badc0de");
  testing_support::ScopedEnv port("KXPATCH_TEST_UPLOAD_PORT",
                                  std::to_string(server.port()).c_str());
  Timed timed = timedRun(scratch, {"AutoRun"}, "");
  EXPECT_EQ(timed.result.exitCode, 0);
  EXPECT_EQ(fileExists(scratch.bin() + "/updater.log"), !arrives) << server.commands();
  if (!arrives) {
    EXPECT_NE(scratch.runLog().find("Computer Name: "), std::string::npos);
  }
  return timed;
}

TEST(HostilePeers, ALogServerAnsweringLateHoldsTheRunNoLongerThanTheUploadDeadline) {
  const platform::FtpAccount account = platform::defaultFtpAccount();
  testing_support::TempDir serverDir;
  testing_support::FtpServer usualServer(serverDir / "usual", account.user, account.password);
  testing_support::FtpServer slowServer(serverDir / "slow", account.user, account.password,
                                        /*slow=*/true);
  ASSERT_TRUE(usualServer.running() && slowServer.running())
      << usualServer.startupErrors() << slowServer.startupErrors();
  constexpr int kDeadlineSeconds = 2;
  testing_support::ScopedEnv deadline("KXPATCH_TEST_UPLOAD_DEADLINE",
                                      std::to_string(kDeadlineSeconds).c_str());

  const Timed usual = runWithFailedPack(usualServer, true);
  const Timed held = runWithFailedPack(slowServer, false);
  EXPECT_NE(slowServer.commands().find("USER "), std::string::npos) << "never reached";
  // An upload answered a second late for each of its ten commands would take ten seconds.
  EXPECT_LT(held.seconds, usual.seconds + kDeadlineSeconds + 3)
      << "the usual run took " << usual.seconds << " s";
}

}  // namespace

#endif  // !_WIN32
