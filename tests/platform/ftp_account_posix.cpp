// The test hooks of the log server account: tests point the real installer at a server of their
// own through $KXPATCH_TEST_UPLOAD_PORT and shorten its upload deadline through
// $KXPATCH_TEST_UPLOAD_DEADLINE; anything that is not a number in range must leave the
// configured value alone rather than send the log to port 0 or drop the deadline.
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

TEST(FtpAccount, TestDeadlineTakenOnlyWhenItIsANumberOfSeconds) {
  struct Case {
    const char* value;
    unsigned expectedMs;
  } cases[] = {
      {nullptr, 60000}, {"3", 3000},  {"1", 1000}, {"3600", 3600000}, {"0", 60000},
      {"3601", 60000},  {"-3", 60000}, {"3s", 60000}, {"", 60000},
      {"99999999999999999999", 60000},
  };
  for (const Case& c : cases) {
    ScopedEnv deadline("KXPATCH_TEST_UPLOAD_DEADLINE", c.value);
    EXPECT_EQ(platform::defaultFtpAccount().deadlineMs, c.expectedMs)
        << (c.value ? c.value : "(unset)");
  }
}

}  // namespace
