// The log server's account, the same on both sides: the build's settings, and on POSIX builds
// the test hook for the port.
#include "platform/ftp.h"

#include <cstdlib>
#include <cstring>

namespace platform {

FtpAccount defaultFtpAccount() {
  FtpAccount account;
  account.host = KXPATCH_UPLOAD_HOST;
  account.port = KXPATCH_UPLOAD_PORT;
  account.user = KXPATCH_UPLOAD_USER;
  account.password = KXPATCH_UPLOAD_PASSWORD;
#ifdef KXPATCH_UPLOAD_PORT_OVERRIDE
  // Test hook: the end-to-end tests run the real installer against a log server of their own
  // on a free port of this machine, named by $KXPATCH_TEST_UPLOAD_PORT. It is honoured only
  // when the configured server is this machine, so the variable can never send a log
  // elsewhere; a value that is not a port number is ignored.
  if (std::strcmp(KXPATCH_UPLOAD_HOST, "127.0.0.1") == 0) {
    if (const char* text = std::getenv("KXPATCH_TEST_UPLOAD_PORT")) {
      char* end = nullptr;
      const long port = std::strtol(text, &end, 10);
      if (*text >= '0' && *text <= '9' && *end == '\0' && port >= 1 && port <= 65535)
        account.port = static_cast<int>(port);
    }
  }
#endif
  return account;
}

}  // namespace platform
