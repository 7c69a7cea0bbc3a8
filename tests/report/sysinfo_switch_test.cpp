// "-sysinfo" end to end: the real installer writes the report to the temporary folder and ends
// with code 0 before its run starts.
#ifndef _WIN32  // the launcher stand-in is a POSIX datagram socket

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::fileExists;
using testing_support::makeDirs;
using testing_support::readFile;
using testing_support::runProcess;
using testing_support::TempDir;
using testing_support::writeFile;

// Every file under `folder` with its bytes.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[entry.path().string()] = readFile(entry.path().string());
  return files;
}

// Stands in for the launcher window: a datagram socket where the installer would send "Begin".
class LauncherSocket {
 public:
  explicit LauncherSocket(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~LauncherSocket() { ::close(fd_); }
  bool received() const {
    char buffer[512];
    return ::recv(fd_, buffer, sizeof buffer, 0) >= 0;
  }

 private:
  int fd_ = -1;
};

class SysinfoSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    makeDirs(dir_ / "game/bin");
    makeDirs(dir_ / "tmp");
    makeDirs(dir_ / "run");
    makeDirs(dir_ / "config");
    writeFile(dir_ / "game/CN_packed.kx", "pack bytes");
    writeFile(dir_ / "game/bin/RakNet.dll", "dll");
    writeFile(dir_ / "game/bin/mox.exe", "exe");
  }

  testing_support::ProcessResult runInstaller(const std::vector<std::string>& args,
                                              const std::string& tmp) {
    std::vector<std::string> argv = {KXPATCH_INSTALLER};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, dir_ / "game/bin",
                      {{"TMPDIR", tmp},
                       {"XDG_RUNTIME_DIR", dir_ / "run"},
                       {"XDG_CONFIG_HOME", dir_ / "config"},
                       {"HOME", dir_.path()}});
  }

  TempDir dir_;
};

TEST_F(SysinfoSwitch, WritesTheReportAndEndsBeforeTheRun) {
  writeFile(dir_ / "tmp/mox_sysinfo.txt", std::string(100000, 'o'));  // an older, longer one
  const auto before = snapshot(dir_ / "game");
  LauncherSocket launcher(dir_ / "run/MOXStartup");

  auto result = runInstaller({"AutoRun", "--x-sysinfoy"}, dir_ / "tmp");
  EXPECT_EQ(result.exitCode, 0) << result.err;

  const std::string report = readFile(dir_ / "tmp/mox_sysinfo.txt");
  EXPECT_EQ(report.rfind("Computer Name: ", 0), 0u) << "replaces the older report";
  EXPECT_EQ(report.find('o' + std::string(50, 'o')), std::string::npos);
  EXPECT_NE(report.find("\nProcesses: \n"), std::string::npos);
  EXPECT_NE(report.find("]2.650-2.651Pack\n"), std::string::npos) << "the installer itself";

  // Only the ready line of the entry, written before the update object exists.
  auto after = snapshot(dir_ / "game");
  const std::string workingLog = dir_ / "game/bin/updater.log";
  EXPECT_EQ(after[workingLog], "--------ready to update--------\n");
  after.erase(workingLog);
  EXPECT_EQ(after, before) << "no game file touched";
  EXPECT_FALSE(launcher.received()) << "the run did not start";
}

TEST_F(SysinfoSwitch, EndsWithCodeZeroWhenTheReportCannotBeWritten) {
  auto result = runInstaller({"-sysinfo"}, dir_ / "no such folder");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(fileExists(dir_ / "no such folder/mox_sysinfo.txt"));
  EXPECT_EQ(readFile(dir_ / "game/bin/updater.log"), "--------ready to update--------\n");
}

}  // namespace

#endif  // !_WIN32
