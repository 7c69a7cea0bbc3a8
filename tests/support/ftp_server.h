// A throw-away FTP server on 127.0.0.1 (tests/support/ftp_server.py, Python with pyftpdlib)
// for the upload tests, started with POSIX calls: there is none on Windows.
#pragma once

#ifndef _WIN32

#include <sys/types.h>

#include <string>

namespace testing_support {

// A port of 127.0.0.1 that nothing listens on.
int unusedPort();

// Serves `folder`/ftp-root to one account on a free port of 127.0.0.1 for the life of the
// object. Every command a client sends goes to a log the test can read.
class FtpServer {
 public:
  FtpServer(const std::string& folder, const std::string& user, const std::string& password);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  bool running() const { return port_ > 0; }
  // What the server wrote to standard error (why it did not start).
  std::string startupErrors() const;
  int port() const { return port_; }
  const std::string& root() const { return root_; }
  // The commands received so far, one a line, the password masked.
  std::string commands() const;

 private:
  std::string root_, portFile_, commandLog_, errors_;
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace testing_support

#endif  // !_WIN32
