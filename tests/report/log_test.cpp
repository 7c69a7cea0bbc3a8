// The three logs: line ends, appending to read-only files, the reason a run-log line was lost,
// and the account element taken from the preferences file.
#include "report/log.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "report/run_state.h"
#include "tests/report/preferences_file.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

class LogTest : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedCwd cwd{dir.path()};
};

TEST_F(LogTest, WorkingDirectoryLogEndsEveryTextWithOneLineFeed) {
  writeLog("");
  writeLog("two\nlines");
  writeLog("--------ready to update--------");
  EXPECT_EQ(readFile(dir / "updater.log"), "\ntwo\nlines\n--------ready to update--------\n");
}

TEST_F(LogTest, RunLogAppendsEvenWhenReadOnly) {
  const std::string path = dir / "run.log";
  writeFile(path, "old\n");
  ::chmod(path.c_str(), 0444);
  appendLogLine(path, "new");
  EXPECT_EQ(readFile(path), "old\nnew\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR) << "attributes were not reset to normal";
}

TEST_F(LogTest, RunLogInMissingFolderRecordsWhyInWorkingDirectoryLog) {
  const std::string path = dir / "missing/updater.log";
  appendLogLine(path, "lost");
  appendLogLine(path, "lost again");
  EXPECT_EQ(readFile(dir / "updater.log"),
            path + " does not exist!\n" + path + " does not exist!\n");
}

TEST_F(LogTest, OpenFileCheckedSetsFlagAndTellsExistingFromMissing) {
  bool notOpened = false;
  EXPECT_EQ(openFileChecked(dir / "nothing", "rb", &notOpened), nullptr);
  EXPECT_TRUE(notOpened);
  notOpened = false;
  // A folder exists but cannot be opened as a file for writing.
  makeDirs(dir / "folder");
  EXPECT_EQ(openFileChecked(dir / "folder", "wb+", &notOpened), nullptr);
  EXPECT_TRUE(notOpened);
  EXPECT_EQ(readFile(dir / "updater.log"), (dir / "nothing") + " does not exist!\n" +
                                               (dir / "folder") + " file exist but can not open!\n");
}

TEST_F(LogTest, PackLogLinesEndInCarriageReturnLineFeedAndAreCut) {
  packLog("header_.extraFieldLength err:%s %d", "a.txt", 4);
  packLog("%s", std::string(300, 'x').c_str());
  EXPECT_EQ(readFile(dir / "pack.log"),
            "header_.extraFieldLength err:a.txt 4\r\n" + std::string(99, 'x') + "\r\n");
}

struct AccountCase {
  const char* name;
  const char* preferences;  // nullptr: no file
  const char* expected;
};

class AccountNameTest : public ::testing::TestWithParam<AccountCase> {};

TEST_P(AccountNameTest, TakesTagsValueAndOneFollowingByte) {
  ScopedPreferencesFile preferences;
  const AccountCase& c = GetParam();
  if (c.preferences) preferences.write(c.preferences);
  EXPECT_EQ(getAccountName(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccountNameTest,
    ::testing::Values(
        AccountCase{"NoFile", nullptr, ""},
        AccountCase{"WithLineEnd", "<root>\r\n<accountName>p1</accountName>\r\n</root>",
                    "<accountName>p1</accountName>\r"},
        AccountCase{"AtEndOfFile", "<accountName>p2</accountName>",
                    "<accountName>p2</accountName>"},
        AccountCase{"NoClosingTag", "<accountName>p3", ""},
        AccountCase{"ClosingTagBeforeOpening", "</accountName><accountName>x", ""},
        AccountCase{"NoTags", "<root/>", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageBytes, BannerIsGbk) {
  // The console banner, as the players' code page encodes it.
  const std::string banner = "------准备更新,请勿关闭,请勿同时运行多个更新程序------";
  EXPECT_EQ(hex(banner),
            "2d2d2d2d2d2d"
            "d7bcb1b8b8fcd0c2"  // 准备更新
            "2c"
            "c7ebcef0b9d8b1d5"  // 请勿关闭
            "2c"
            "c7ebcef0cdaccab1d4cbd0d0b6e0b8f6b8fcd0c2b3ccd0f2"  // 请勿同时运行多个更新程序
            "2d2d2d2d2d2d");
}

}  // namespace
