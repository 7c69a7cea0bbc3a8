// WinINet side of the log upload: one direct (no proxy) active-mode FTP session.
#include "platform/ftp.h"

#include <windows.h>
#include <wininet.h>

namespace platform {
namespace {

// Closes a WinINet handle when the scope ends.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_) ::InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

}  // namespace

bool ftpPutFile(const FtpAccount& account, const std::string& agent,
                const std::vector<std::string>& folders, const std::string& localPath,
                const std::string& remoteName) {
  if (account.port <= 0 || account.port > 0xFFFF) return false;
  InternetHandle internet(
      ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!internet) return false;
  // Flags 0: active mode, as the log server expects.
  InternetHandle connection(::InternetConnectA(
      internet.get(), account.host.c_str(), static_cast<INTERNET_PORT>(account.port),
      account.user.c_str(), account.password.c_str(), INTERNET_SERVICE_FTP, 0, 0));
  if (!connection) return false;
  for (const std::string& folder : folders) {
    // Creating a folder that exists fails harmlessly; entering it is what counts. A put after
    // a failed entry would file the log in whatever folder the session is in, where nobody
    // looks for it, and the local log would be deleted as if it had arrived.
    ::FtpCreateDirectoryA(connection.get(), folder.c_str());
    if (!::FtpSetCurrentDirectoryA(connection.get(), folder.c_str())) return false;
  }
  return ::FtpPutFileA(connection.get(), localPath.c_str(), remoteName.c_str(),
                       FTP_TRANSFER_TYPE_BINARY, 0) != FALSE;
}

}  // namespace platform
