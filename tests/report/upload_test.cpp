#include "report/upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <string>

#include "tests/support/ftp_server.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::fileExists;
using testing_support::makeDirs;
using testing_support::readFile;
using testing_support::ScopedCwd;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(LogTimeName, UtcPlusEightCarriedThroughDayMonthAndYear) {
  struct Case {
    platform::SystemTime utc;
    const char* expected;
  } cases[] = {
      {{2014, 10, 4, 23, 16, 30, 59, 999}, "2014_10_24_0_30"},
      {{2014, 10, 4, 23, 17, 5, 0, 0}, "2014_10_24_1_5"},
      {{2014, 10, 5, 31, 20, 0, 0, 0}, "2014_11_1_4_0"},
      {{2016, 2, 0, 28, 20, 0, 0, 0}, "2016_2_29_4_0"},   // leap year
      {{2015, 2, 6, 28, 20, 0, 0, 0}, "2015_3_1_4_0"},    // not a leap year
      {{2100, 2, 0, 28, 20, 0, 0, 0}, "2100_3_1_4_0"},    // century, not a leap year
      {{2000, 2, 1, 28, 20, 0, 0, 0}, "2000_2_29_4_0"},   // 400th year, a leap year
      {{2014, 12, 3, 31, 16, 0, 0, 0}, "2015_1_1_0_0"},
      {{2014, 12, 3, 31, 15, 59, 0, 0}, "2014_12_31_23_59"},
      {{2014, 4, 3, 30, 19, 9, 0, 0}, "2014_5_1_3_9"},
  };
  for (const Case& c : cases) EXPECT_EQ(getLogTimeName(c.utc), c.expected) << c.expected;
}

TEST(LogTimeName, RemoteNames) {
  EXPECT_EQ(uploadFolderName(UploadFolderKind::kFirstGroup), "updaterLog_2.651");
  EXPECT_EQ(uploadFolderName(UploadFolderKind::kSecondGroup), "updaterLog2_2.651");
  std::string name = uploadFileName("PC-7");
  EXPECT_EQ(name.rfind("PC-7_", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".log");
  // year_month_day_hour_minute: four underscores after the computer name.
  EXPECT_EQ(std::count(name.begin(), name.end(), '_'), 5);
}

using testing_support::FtpServer;
using testing_support::unusedPort;

class Upload : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    if (!server_.running()) GTEST_SKIP() << server_.startupErrors();
#endif
    ASSERT_TRUE(server_.running()) << "the FTP server did not start (python3-pyftpdlib "
                                      "missing?): "
                                   << server_.startupErrors();
    makeDirs(dir_ / "bin");
  }

  platform::FtpAccount account(const std::string& password = "secret123") const {
    return platform::FtpAccount{"127.0.0.1", server_.port(), "mxuser", password};
  }

  // Runs an upload with the console captured; the console must stay silent.
  bool quietUpload(const platform::FtpAccount& server, const std::string& folder,
                   const std::string& local, const std::string& remote) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    bool accepted = uploadLog(server, folder, local, remote);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fileExists(dir_ / "updater.log")) << "the upload logs nothing";
    return accepted;
  }

  TempDir dir_;
  ScopedCwd cwd_{dir_.path()};
  FtpServer server_{dir_.path(), "mxuser", "secret123"};
  const std::string log_ = dir_ / "bin/updater.log";
  // Binary content: CR LF, a zero byte, GBK bytes, a high byte; a text transfer would change
  // the line ends.
  const std::string content_ = std::string("line one\r\nline two\n\0\xd6\xd0\xce\xc4 \xff end", 30);
};

TEST_F(Upload, ArrivesUnderItsFoldersInActiveBinaryModeAndTheLocalLogGoes) {
  writeFile(log_, content_);
  EXPECT_TRUE(quietUpload(account(), "updaterLog_2.651", log_, "PC-7_2014_10_24_0_30.log"));
  EXPECT_EQ(readFile(server_.root() + "/mox_updater/updaterLog_2.651/PC-7_2014_10_24_0_30.log"),
            content_);
  EXPECT_FALSE(fileExists(log_));

  const std::string commands = server_.commands();
  EXPECT_NE(commands.find("USER mxuser\n"), std::string::npos);
  EXPECT_NE(commands.find("TYPE I\n"), std::string::npos);
  EXPECT_TRUE(commands.find("PORT ") != std::string::npos ||
              commands.find("EPRT ") != std::string::npos)
      << commands;
  EXPECT_EQ(commands.find("PASV"), std::string::npos) << commands;
  EXPECT_EQ(commands.find("EPSV"), std::string::npos) << commands;
}

TEST_F(Upload, SecondUploadIntoExistingFoldersAndTheOtherFolderKind) {
  writeFile(log_, "first run\n");
  ASSERT_TRUE(quietUpload(account(), "updaterLog_2.651", log_, "PC_2014_1_1_0_0.log"));
  writeFile(log_, "second run\n");
  EXPECT_TRUE(quietUpload(account(), "updaterLog_2.651", log_, "PC_2014_1_1_0_1.log"));
  writeFile(log_, "third run\n");
  EXPECT_TRUE(quietUpload(account(), "updaterLog2_2.651", log_, "PC_2014_1_1_0_2.log"));
  const std::string top = server_.root() + "/mox_updater/";
  EXPECT_EQ(readFile(top + "updaterLog_2.651/PC_2014_1_1_0_0.log"), "first run\n");
  EXPECT_EQ(readFile(top + "updaterLog_2.651/PC_2014_1_1_0_1.log"), "second run\n");
  EXPECT_EQ(readFile(top + "updaterLog2_2.651/PC_2014_1_1_0_2.log"), "third run\n");
  EXPECT_FALSE(fileExists(log_));
}

TEST_F(Upload, FailureKeepsTheLocalLogAndSaysNothing) {
  writeFile(log_, content_);
  platform::FtpAccount down = account();
  down.port = unusedPort();
  EXPECT_FALSE(quietUpload(down, "updaterLog_2.651", log_, "PC.log")) << "server down";
  EXPECT_FALSE(quietUpload(account("wrongpass"), "updaterLog_2.651", log_, "PC.log"))
      << "password refused";
  EXPECT_EQ(readFile(log_), content_);
  EXPECT_FALSE(fileExists(server_.root() + "/mox_updater"));

  EXPECT_FALSE(quietUpload(account(), "updaterLog_2.651", dir_ / "bin/missing.log", "PC.log"))
      << "no local log";
}

// A log filed in some other folder is a log nobody finds; it must stay on the player's disk.
TEST_F(Upload, AFolderThatCanNeitherBeEnteredNorMadeFailsTheUploadAndKeepsTheLog) {
  writeFile(log_, content_);
  writeFile(server_.root() + "/mox_updater", "a file where the folder should be");
  EXPECT_FALSE(quietUpload(account(), "updaterLog_2.651", log_, "PC.log"));
  EXPECT_EQ(readFile(log_), content_);
  EXPECT_EQ(readFile(server_.root() + "/mox_updater"), "a file where the folder should be");
  EXPECT_FALSE(fileExists(server_.root() + "/PC.log"));
  EXPECT_FALSE(fileExists(server_.root() + "/updaterLog_2.651"));
}

// A link or a second name planted at the log's place leads to a file the run never wrote (a
// player's private file): it is neither sent to the studio nor deleted.
TEST_F(Upload, ALinkedLogIsNeitherSentNorRemoved) {
  const std::string outside = dir_ / "private.txt";
  struct Case {
    const char* name;
    void (*plant)(const std::string& target, const std::string& log);
  } cases[] = {
      {"hard link",
       [](const std::string& target, const std::string& log) {
         std::filesystem::create_hard_link(target, log);
       }},
#ifndef _WIN32
      {"symbolic link",
       [](const std::string& target, const std::string& log) {
         std::filesystem::create_symlink(target, log);
       }},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(outside, "not the studio's to read\n");
    std::filesystem::remove(log_);
    c.plant(outside, log_);
    EXPECT_FALSE(quietUpload(account(), "updaterLog_2.651", log_, "PC.log"));
    EXPECT_FALSE(fileExists(server_.root() + "/mox_updater"));
    EXPECT_EQ(readFile(outside), "not the studio's to read\n");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(log_)));
  }
}


// A server that answers every command late holds the upload no longer than its deadline, though
// no single answer is late enough for a per-call timeout; the log stays for the next run.
TEST(UploadDeadline, ASlowServerIsGivenUpAtTheDeadlineAndTheLogKept) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  FtpServer slow(dir.path(), "mxuser", "secret123", /*slow=*/true);
#ifdef _WIN32
  if (!slow.running()) GTEST_SKIP() << slow.startupErrors();
#endif
  ASSERT_TRUE(slow.running()) << slow.startupErrors();
  makeDirs(dir / "bin");
  const std::string log = dir / "bin/updater.log";
  writeFile(log, "the run log\n");
  // About ten answers make a whole upload; four seconds see a few of them.
  const platform::FtpAccount account{"127.0.0.1", slow.port(), "mxuser", "secret123", 4000};

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(uploadLog(account, "updaterLog_2.651", log, "PC.log"));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(3500));
  EXPECT_LT(took, std::chrono::seconds(8));
  EXPECT_EQ(readFile(log), "the run log\n");
  EXPECT_NE(slow.commands().find("USER mxuser\n"), std::string::npos) << "the server was reached";
}

// The upload against the log server's own configuration (docs/log-server.md), which only
// scripts/log-server/check.sh starts, as root: it names the server's port and the account's
// chroot. The account there may store new files in its two folders and do nothing else (no
// folder made, none listed), which the upload must get by with; a name already stored cannot be
// stored again, which must count as a failed upload that keeps the log.
TEST(LockedDownLogServer, TheInstallersUploadLandsInBothFoldersAndNeverOverwrites) {
  const char* port = std::getenv("KXPATCH_TEST_LOG_SERVER_PORT");
  const char* root = std::getenv("KXPATCH_TEST_LOG_SERVER_ROOT");
  if (!port || !root) GTEST_SKIP() << "scripts/log-server/check.sh runs this against vsftpd";
  platform::FtpAccount account = platform::defaultFtpAccount();
  ASSERT_EQ(account.host, "127.0.0.1");
  account.port = std::atoi(port);
  TempDir dir;
  makeDirs(dir / "bin");
  const std::string log = dir / "bin/updater.log";
  const std::string name = uploadFileName("check-" + std::to_string(std::time(nullptr)));
  for (UploadFolderKind kind : {UploadFolderKind::kFirstGroup, UploadFolderKind::kSecondGroup}) {
    const std::string folder = uploadFolderName(kind);
    SCOPED_TRACE(folder);
    const std::string content = "run log for " + folder + "\r\n\xd6\xd0\n";
    writeFile(log, content);
    EXPECT_TRUE(uploadLog(account, folder, log, name));
    EXPECT_FALSE(fileExists(log));
    EXPECT_EQ(readFile(std::string(root) + "/mox_updater/" + folder + "/" + name), content);

    writeFile(log, "a later run\n");
    EXPECT_FALSE(uploadLog(account, folder, log, name));
    EXPECT_EQ(readFile(log), "a later run\n");
    EXPECT_EQ(readFile(std::string(root) + "/mox_updater/" + folder + "/" + name), content);
  }
}

}  // namespace
