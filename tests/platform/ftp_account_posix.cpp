// The port hook of the log server account: tests point the real installer at a server of their
// own through $KXPATCH_TEST_UPLOAD_PORT; anything that is not a port number must leave the
// configured port alone rather than send the log to port 0 or a truncated number.
#include <gtest/gtest.h>

#include "platform/ftp.h"
#include "tests/support/test_support.h"

using testing_support::ScopedEnv;

namespace {

TEST(FtpAccount, TestPortTakenOnlyWhenItIsAPortNumber) {
  platform::FtpAccount configured;
  {
    ScopedEnv unset("KXPATCH_TEST_UPLOAD_PORT", nullptr);
    configured = platform::defaultFtpAccount();
  }
  // The test builds configure a server on this machine; only then does the hook apply.
  ASSERT_EQ(configured.host, "127.0.0.1");

  struct Case {
    const char* value;
    int expected;  // 0: the configured port
  } cases[] = {
      {"2121", 2121}, {"1", 1},     {"65535", 65535}, {"", 0},    {"0", 0},
      {"65536", 0},   {"-2121", 0}, {"+2121", 0},     {" 2121", 0}, {"2121 ", 0},
      {"21x", 0},     {"port", 0},  {"99999999999999999999", 0},
  };
  for (const Case& c : cases) {
    ScopedEnv port("KXPATCH_TEST_UPLOAD_PORT", c.value);
    const platform::FtpAccount account = platform::defaultFtpAccount();
    EXPECT_EQ(account.port, c.expected ? c.expected : configured.port) << '"' << c.value << '"';
    EXPECT_EQ(account.host, configured.host);
    EXPECT_EQ(account.user, configured.user);
    EXPECT_EQ(account.password, configured.password);
  }
}

}  // namespace
