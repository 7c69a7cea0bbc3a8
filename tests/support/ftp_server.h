// A throw-away FTP server on 127.0.0.1 (tests/support/ftp_server.py, Python with pyftpdlib)
// for the upload tests. On POSIX each test starts its own. The Windows tests run under Wine,
// beside a Linux Python they cannot start: scripts/test_windows.sh starts one server for the
// whole run and names its port, root and command log in KXPATCH_TEST_FTP_PORT, _ROOT and
// _COMMANDS (Windows paths); each test then finds it emptied and sees only its own commands.
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <cstddef>
#include <string>

namespace testing_support {

// A port of 127.0.0.1 that nothing listens on.
int unusedPort();

// Serves `folder`/ftp-root to one account on a free port of 127.0.0.1 for the life of the
// object. Every command a client sends goes to a log the test can read. A server made `slow`
// answers everything, its greeting included, kSlowReplySeconds late (on Windows it is the
// run's second server, KXPATCH_TEST_SLOW_FTP_PORT, _ROOT and _COMMANDS).
inline constexpr int kSlowReplySeconds = 1;
class FtpServer {
 public:
  FtpServer(const std::string& folder, const std::string& user, const std::string& password,
            bool slow = false);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  bool running() const { return port_ > 0; }
  // Why the server is not there: what it wrote to standard error, or what is missing.
  std::string startupErrors() const;
  int port() const { return port_; }
  const std::string& root() const { return root_; }
  // The commands received so far, one a line, the password masked.
  std::string commands() const;

 private:
  std::string root_, portFile_, commandLog_, errors_;
#ifndef _WIN32
  pid_t pid_ = 0;
#endif
  size_t commandsBefore_ = 0;
  int port_ = 0;
};

}  // namespace testing_support
