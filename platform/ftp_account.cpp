// The log server's account, the same on both sides: the build's settings, and on POSIX builds
// the test hooks for the port and the deadline.
#include "platform/ftp.h"

#include <cstdlib>
#include <cstring>

namespace platform {

#ifdef KXPATCH_UPLOAD_PORT_OVERRIDE
namespace {

// The decimal number in environment variable `name`, when it is one within [low, high].
bool numberFromEnvironment(const char* name, long low, long high, long* value) {
  const char* text = std::getenv(name);
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (*end != '\0' || number < low || number > high) return false;
  *value = number;
  return true;
}

}  // namespace
#endif

FtpAccount defaultFtpAccount() {
  FtpAccount account;
  account.host = KXPATCH_UPLOAD_HOST;
  account.port = KXPATCH_UPLOAD_PORT;
  account.user = KXPATCH_UPLOAD_USER;
  account.password = KXPATCH_UPLOAD_PASSWORD;
#ifdef KXPATCH_UPLOAD_PORT_OVERRIDE
  // Test hooks: the end-to-end tests run the real installer against a log server of their own
  // on a free port of this machine, named by $KXPATCH_TEST_UPLOAD_PORT, and shorten the
  // upload's deadline with $KXPATCH_TEST_UPLOAD_DEADLINE (seconds). They are honoured only
  // when the configured server is this machine, so they can never send a log elsewhere or
  // change a shipped installer's deadline; a value that is not a number in range is ignored.
  if (std::strcmp(KXPATCH_UPLOAD_HOST, "127.0.0.1") == 0) {
    long value = 0;
    if (numberFromEnvironment("KXPATCH_TEST_UPLOAD_PORT", 1, 65535, &value))
      account.port = static_cast<int>(value);
    if (numberFromEnvironment("KXPATCH_TEST_UPLOAD_DEADLINE", 1, 3600, &value))
      account.deadlineMs = static_cast<unsigned>(value) * 1000;
  }
#endif
  return account;
}

}  // namespace platform
