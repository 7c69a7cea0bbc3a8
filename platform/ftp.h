// One FTP upload: connect, enter (creating when missing) a chain of folders, store one file,
// all within a deadline. Windows: WinINet (InternetOpenA with INTERNET_OPEN_TYPE_DIRECT,
// InternetConnectA without the passive flag, FtpCreateDirectoryA + FtpSetCurrentDirectoryA per
// folder, FtpPutFileA with FTP_TRANSFER_TYPE_BINARY, InternetCloseHandle) on a thread of its
// own that is given up at the deadline. POSIX: libcurl with the same choices (no proxy, active
// mode, binary) and its whole-transfer timeout. ftp_win32.cpp and ftp_posix.cpp define it.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The log server's account. `deadlineMs` bounds the whole upload, from the first connection to
// the server's last answer: a server that answers slowly, or not at all, costs the run no more.
inline constexpr unsigned kUploadDeadlineMs = 60000;
struct FtpAccount {
  std::string host;  // IPv4 address
  int port = 21;
  std::string user;
  std::string password;
  unsigned deadlineMs = kUploadDeadlineMs;
};

// The log server's account as the build configured it (KXPATCH_UPLOAD_HOST, _PORT, _USER,
// _PASSWORD), with the upload's deadline.
[[nodiscard]] FtpAccount defaultFtpAccount();

// Uploads the local file `localPath` as `remoteName` inside `folders` (relative to the
// account's start folder, entered in order, each created first; a folder that already exists
// is fine). `agent` names the client where the protocol carries it. One attempt, nothing shown
// or logged, over by `account.deadlineMs`. True only when the server accepted the whole file
// within it; false on any failure (no connection, refused login, folder or transfer error,
// unreadable local file, the deadline passed).
[[nodiscard]] bool ftpPutFile(const FtpAccount& account, const std::string& agent,
                              const std::vector<std::string>& folders,
                              const std::string& localPath, const std::string& remoteName);

}  // namespace platform
