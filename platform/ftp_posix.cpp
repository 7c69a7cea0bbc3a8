// POSIX side of the FTP upload, through libcurl: no proxy, active mode, binary transfer,
// missing folders created on the way. libcurl is required: a POSIX build without it stops at
// its configuration.
#include "platform/ftp.h"
#include "platform/platform.h"

#include <cstdio>

#include <curl/curl.h>

namespace platform {

namespace {

// The connection attempt gives up after this long, the server's data connection in active
// mode likewise; the account's deadline bounds the whole upload: the run waits for the upload
// before its final message.
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kAcceptTimeoutMs = 30000;

// One path component, percent-encoded so that any byte of a name (GBK, spaces, '#') reaches
// the server as it is.
std::string escaped(CURL* curl, const std::string& text) {
  char* escapedText = curl_easy_escape(curl, text.data(), static_cast<int>(text.size()));
  if (!escapedText) return std::string();
  std::string result = escapedText;
  curl_free(escapedText);
  return result;
}

bool curlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

}  // namespace

bool ftpPutFile(const FtpAccount& account, const std::string& agent,
                const std::vector<std::string>& folders, const std::string& localPath,
                const std::string& remoteName) {
  if (!curlReady()) return false;
  // Only a regular file: the log's name may hold a pipe, which would never end.
  const OpenedFile opened = openFile(localPath, "rb");
  if (!opened) return false;
  FILE* local = opened.value().get();
  std::fseek(local, 0, SEEK_END);
  long size = std::ftell(local);
  std::fseek(local, 0, SEEK_SET);

  CURL* curl = curl_easy_init();
  if (!curl) return false;
  std::string url = "ftp://" + account.host + ":" + std::to_string(account.port) + "/";
  for (const std::string& folder : folders) url += escaped(curl, folder) + "/";
  url += escaped(curl, remoteName);

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERNAME, account.user.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, account.password.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // direct: never a proxy from the environment
  curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");  // active mode, on the control address
  // With _RETRY a folder another client made between our failed entry and our creation is
  // entered all the same.
  curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS,
                   static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
  curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READDATA, local);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size < 0 ? 0 : size));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, kAcceptTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(account.deadlineMs));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);

  CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return result == CURLE_OK;
}

}  // namespace platform
