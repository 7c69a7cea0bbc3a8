#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "tests/support/ftp_server.h"
#include "tests/support/test_support.h"

namespace testing_support {

namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

int unusedPort() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  int port = 0;
  SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (probe != INVALID_SOCKET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
    ::closesocket(probe);
  }
  ::WSACleanup();
  return port;
}

// The account is the one scripts/test_windows.sh gives the servers; the tests use the same.
FtpServer::FtpServer(const std::string&, const std::string&, const std::string&, bool slow) {
  const std::string prefix = slow ? "KXPATCH_TEST_SLOW_FTP_" : "KXPATCH_TEST_FTP_";
  root_ = variable((prefix + "ROOT").c_str());
  commandLog_ = variable((prefix + "COMMANDS").c_str());
  port_ = std::atoi(variable((prefix + "PORT").c_str()).c_str());
  if (port_ <= 0 || root_.empty() || commandLog_.empty()) {
    errors_ = "no FTP server: scripts/test_windows.sh starts one and names it in " + prefix +
              "PORT, " + prefix + "ROOT and " + prefix + "COMMANDS";
    port_ = 0;
    return;
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root_, error))
    std::filesystem::remove_all(entry.path(), error);
  commandsBefore_ = readFile(commandLog_).size();
}

FtpServer::~FtpServer() = default;

std::string FtpServer::startupErrors() const { return errors_; }

std::string FtpServer::commands() const { return readFile(commandLog_).substr(commandsBefore_); }

}  // namespace testing_support
