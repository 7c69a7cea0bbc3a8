#include "report/upload.h"

#include <gtest/gtest.h>

#ifndef _WIN32  // the FTP server of the tests is started with POSIX calls
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

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
  EXPECT_EQ(uploadFolderName(0), "updaterLog_2.651");
  EXPECT_EQ(uploadFolderName(2), "updaterLog2_2.651");
  std::string name = uploadFileName("PC-7");
  EXPECT_EQ(name.rfind("PC-7_", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".log");
  // year_month_day_hour_minute: four underscores after the computer name.
  EXPECT_EQ(std::count(name.begin(), name.end(), '_'), 5);
}

#ifndef _WIN32

// A free port on 127.0.0.1 that nothing listens on.
int unusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// The FTP server of tests/report/ftp_server.py, on 127.0.0.1, for the life of the object.
class FtpServer {
 public:
  FtpServer(const std::string& folder, const std::string& user, const std::string& password)
      : root_(folder + "/ftp-root"), portFile_(folder + "/ftp-port"),
        commandLog_(folder + "/ftp-commands") {
    makeDirs(root_);
    // Debian's interpreter carries python3-pyftpdlib; another python3 first on PATH may not.
    std::string python = fileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    std::vector<std::string> args = {python, KXPATCH_SOURCE_DIR "/tests/report/ftp_server.py",
                                     root_, portFile_, commandLog_, user, password};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (folder + "/ftp-errors").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    errors_ = folder + "/ftp-errors";
    for (int i = 0; i < 200 && pid_ != 0 && !fileExists(portFile_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port_ = std::atoi(readFile(portFile_).c_str());
  }
  ~FtpServer() {
    if (pid_ == 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }

  bool running() const { return port_ > 0; }
  std::string startupErrors() const { return readFile(errors_); }
  int port() const { return port_; }
  const std::string& root() const { return root_; }
  std::string commands() const { return readFile(commandLog_); }

 private:
  std::string root_, portFile_, commandLog_, errors_;
  pid_t pid_ = 0;
  int port_ = 0;
};

class Upload : public ::testing::Test {
 protected:
  void SetUp() override {
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

#endif  // !_WIN32

}  // namespace
