// WinINet side of the log upload: one direct (no proxy) active-mode FTP session, bounded as a
// whole by the account's deadline.
#include "platform/ftp.h"

#include <windows.h>
#include <wininet.h>

#include <memory>

namespace platform {
namespace {

// WinINet's timeouts bound single waits, not the session: a server answering each command
// just inside them holds the run for as long as it likes. So the session runs on a thread of
// its own; past the deadline the caller closes its internet handle, which makes WinINet give
// up the call it is blocked in, and stops waiting for it either way.
struct Session {
  FtpAccount account;
  std::string agent;
  std::vector<std::string> folders;
  std::string localPath, remoteName;
  // The session's internet handle while it may still be closed. Whoever takes it out (the
  // thread at its end, or the caller past the deadline) closes it; the handles derived from
  // it go with it.
  HINTERNET internet = nullptr;
  bool accepted = false;
};

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

HINTERNET takeInternetHandle(Session& session) {
  return static_cast<HINTERNET>(
      ::InterlockedExchangePointer(reinterpret_cast<PVOID*>(&session.internet), nullptr));
}

// The session itself; false on any failure.
bool putFile(Session& session, HINTERNET internet) {
  const FtpAccount& account = session.account;
  // Flags 0: active mode, as the log server expects.
  InternetHandle connection(::InternetConnectA(
      internet, account.host.c_str(), static_cast<INTERNET_PORT>(account.port),
      account.user.c_str(), account.password.c_str(), INTERNET_SERVICE_FTP, 0, 0));
  if (!connection) return false;
  for (const std::string& folder : session.folders) {
    // Creating a folder that exists fails harmlessly, as does a server that lets nobody
    // create folders; entering it is what counts. A put after a failed entry would file the
    // log in whatever folder the session is in, where nobody looks for it, and the local log
    // would be deleted as if it had arrived.
    ::FtpCreateDirectoryA(connection.get(), folder.c_str());
    if (!::FtpSetCurrentDirectoryA(connection.get(), folder.c_str())) return false;
  }
  return ::FtpPutFileA(connection.get(), session.localPath.c_str(), session.remoteName.c_str(),
                       FTP_TRANSFER_TYPE_BINARY, 0) != FALSE;
}

DWORD WINAPI sessionThread(LPVOID parameter) {
  // The thread holds its own share: a caller that stopped waiting may be gone.
  std::unique_ptr<std::shared_ptr<Session>> share(
      static_cast<std::shared_ptr<Session>*>(parameter));
  Session& session = **share;
  HINTERNET internet = session.internet;
  const bool accepted = internet && putFile(session, internet);
  if (HINTERNET own = takeInternetHandle(session)) {
    ::InternetCloseHandle(own);
    session.accepted = accepted;
  }
  return 0;
}

}  // namespace

bool ftpPutFile(const FtpAccount& account, const std::string& agent,
                const std::vector<std::string>& folders, const std::string& localPath,
                const std::string& remoteName) {
  if (account.port <= 0 || account.port > 0xFFFF) return false;
  auto session = std::make_shared<Session>(
      Session{account, agent, folders, localPath, remoteName, nullptr, false});
  session->internet =
      ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (!session->internet) return false;
  // No single wait may outlast the whole either.
  DWORD deadline = account.deadlineMs;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT})
    ::InternetSetOptionA(session->internet, option, &deadline, sizeof deadline);

  auto* share = new std::shared_ptr<Session>(session);
  HANDLE thread = ::CreateThread(nullptr, 0, sessionThread, share, 0, nullptr);
  if (!thread) {
    delete share;
    ::InternetCloseHandle(takeInternetHandle(*session));
    return false;
  }
  if (::WaitForSingleObject(thread, account.deadlineMs) != WAIT_OBJECT_0) {
    // Past the deadline: closing the handle ends the blocked call; the thread finishes on its
    // own (a moment is granted so that it lets go of the local file) and its result no
    // longer counts.
    if (HINTERNET internet = takeInternetHandle(*session)) ::InternetCloseHandle(internet);
    constexpr DWORD kLetGoMs = 2000;
    ::WaitForSingleObject(thread, kLetGoMs);
    ::CloseHandle(thread);
    return false;
  }
  ::CloseHandle(thread);
  return session->accepted;
}

}  // namespace platform
