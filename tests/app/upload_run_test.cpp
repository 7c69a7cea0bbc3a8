// The real installer sends its run log to the log server after a failed pack update, and only
// then: a log server of the test's own on 127.0.0.1 stands in for the build's one.
#ifndef _WIN32

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ftp.h"
#include "platform/platform.h"
#include "report/upload.h"
#include "tests/app/installer_harness.h"
#include "tests/support/ftp_server.h"

using namespace installer_test;

namespace {

namespace fs = std::filesystem;


enum Pack { kRes = 3, kVemo = 4, kCN = 5 };

// A log server accepting the build's account, which the installers started while the object
// lives reach through the port hook.
class LogServer {
 public:
  LogServer()
      : server_(dir_.path(), platform::defaultFtpAccount().user,
                platform::defaultFtpAccount().password),
        port_("KXPATCH_TEST_UPLOAD_PORT", std::to_string(server_.port()).c_str()) {}

  bool running() const { return server_.running(); }
  std::string startupErrors() const { return server_.startupErrors(); }
  std::string commands() const { return server_.commands(); }

  // Every file the server received, by path below its root.
  std::map<std::string, std::string> files() const {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(server_.root()))
      if (entry.is_regular_file())
        found[fs::relative(entry.path(), server_.root()).string()] =
            readFile(entry.path().string());
    return found;
  }

 private:
  testing_support::TempDir dir_;
  testing_support::FtpServer server_;
  testing_support::ScopedEnv port_;
};

const release::TestReleaseOptions& resChanged() {
  static const release::TestReleaseOptions options = [] {
    release::TestReleaseOptions o;
    o.changedPacks = {kRes, kVemo, kCN};
    return o;
  }();
  return options;
}

TEST(UploadRun, FailedPackUpdateSendsTheWholeRunLogAndTheLocalOneGoes) {
  struct Case {
    const char* name;
    int pack;  // its new-version check value is wrong, so the rewritten pack fails its check
    std::vector<std::string> args;
    const char* folder;
    std::string failureLine;
    bool entryChecksums;
  } cases[] = {
      {"second group", kCN, {}, "updaterLog2_2.651",
       "MD5 check failed ......\n" + kTitle + "->update failed : CN_packed.kx!\n", true},
      {"first group", kRes, {}, "updaterLog_2.651",
       "MD5 check failed......\n" + kTitle + "->failed to update: res_packed.kx\n", false},
      {"second group, AutoRun", kCN, {"AutoRun"}, "updaterLog2_2.651",
       "MD5 check failed ......\n" + kTitle + "->update failed : CN_packed.kx!\n", true},
  };
  const std::string computer = platform::computerName();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogServer server;
    ASSERT_TRUE(server.running()) << "the FTP server did not start (python3-pyftpdlib "
                                     "missing?): "
                                  << server.startupErrors();
    Scratch scratch(releaseFor("res changed", resChanged()));
    scratch.setTableValue("2.651", kGamePacks[c.pack].name, "0badc0de");
    LauncherListener launcher(scratch.runtime() + "/MOXStartup");

    const std::string timeBefore = getLogTimeName();
    auto result = scratch.run(c.args);
    const std::string timeAfter = getLogTimeName();
    EXPECT_EQ(result.exitCode, 0);
    const bool autoRun = !c.args.empty();
    EXPECT_EQ(result.err, autoRun ? "" : box("更新失败!", scratch.packPath(c.pack) + "文件更新错误!"));

    const auto files = server.files();
    ASSERT_EQ(files.size(), 1u) << server.commands();
    const std::string prefix = std::string("mox_updater/") + c.folder + "/";
    const std::string& path = files.begin()->first;
    EXPECT_TRUE(path == prefix + computer + "_" + timeBefore + ".log" ||
                path == prefix + computer + "_" + timeAfter + ".log")
        << path;

    // The whole run from its first line: the failure, the new pack's entry checksums where
    // the group writes them, and the system report appended last.
    const std::string& uploaded = files.begin()->second;
    const size_t sizeLine = uploaded.find(kTitle + "->size of qdres_packed.kx before update: ");
    const size_t failure = uploaded.find(c.failureLine);
    const size_t checksums = uploaded.find("MD5 for total file in kx:");
    const size_t report = uploaded.find("Computer Name: " + computer + "\n");
    EXPECT_NE(sizeLine, std::string::npos) << uploaded;
    EXPECT_NE(failure, std::string::npos) << uploaded;
    EXPECT_NE(report, std::string::npos) << uploaded;
    EXPECT_LT(sizeLine, failure);
    EXPECT_LT(failure, report);
    EXPECT_EQ(checksums != std::string::npos, c.entryChecksums);
    if (c.entryChecksums) {
      EXPECT_LT(checksums, report);
    }
    EXPECT_EQ(uploaded.find(kSuccessLine), std::string::npos);

    // The server accepted it, so the local log went; under AutoRun too, no success line
    // starts a new one for a run that left a pack behind.
    EXPECT_FALSE(fileExists(scratch.bin() + "/updater.log"));
  }
}

TEST(UploadRun, DamagedPackIsNotUploaded) {
  LogServer server;
  ASSERT_TRUE(server.running()) << server.startupErrors();
  Scratch scratch(defaultRelease());
  const std::string pack = scratch.packPath(kVemo);
  std::string bytes = readFile(pack);
  bytes[bytes.size() / 2] ^= 0x5A;
  writeFile(pack, bytes);

  auto result = scratch.run();
  EXPECT_EQ(result.err, box("更新失败!", pack + "文件损坏，无法更新!!"));
  EXPECT_TRUE(server.files().empty());
  EXPECT_EQ(server.commands(), "") << "no connection at all";
  const std::string log = scratch.runLog();
  EXPECT_NE(log.find(pack + " damaged before update!\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Computer Name: "), std::string::npos) << "no system report either";
}

}  // namespace

#endif  // !_WIN32
