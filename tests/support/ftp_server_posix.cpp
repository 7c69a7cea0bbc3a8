#include "tests/support/ftp_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

extern char** environ;

namespace testing_support {

namespace {

// The server script sits next to this file in the source tree; the build names its absolute
// path (__FILE__ may be relative to the build folder, e.g. under a compiler cache).
std::string scriptPath() { return KXPATCH_FTP_SERVER_SCRIPT; }

}  // namespace

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

FtpServer::FtpServer(const std::string& folder, const std::string& user,
                     const std::string& password, bool slow)
    : root_(folder + "/ftp-root"), portFile_(folder + "/ftp-port"),
      commandLog_(folder + "/ftp-commands"), errors_(folder + "/ftp-errors") {
  makeDirs(root_);
  // Debian's interpreter carries python3-pyftpdlib; another python3 first on PATH may not.
  std::string python = fileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  std::vector<std::string> args = {python, scriptPath(), root_, portFile_, commandLog_, user,
                                   password};
  if (slow) args.push_back(std::to_string(kSlowReplySeconds));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; i < 200 && pid_ != 0 && !fileExists(portFile_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  port_ = std::atoi(readFile(portFile_).c_str());
}

FtpServer::~FtpServer() {
  if (pid_ == 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

std::string FtpServer::startupErrors() const { return readFile(errors_); }

std::string FtpServer::commands() const { return readFile(commandLog_).substr(commandsBefore_); }

}  // namespace testing_support
