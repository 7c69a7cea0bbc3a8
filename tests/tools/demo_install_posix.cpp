// What only the POSIX side can do: links in the extraction folder, and running the real installer
// on the demo release through its payload test hook.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tools/tool_fixture.h"

using namespace tool_test;
using testing_support::makeDirs;

namespace fs = std::filesystem;

namespace {

TEST(Extract, RefusesToFollowALinkOutOfTheFolder) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  makeDirs(dir / "outside");
  makeDirs(dir / "out");
  fs::create_directory_symlink(dir / "outside", dir / "out/link");
  ASSERT_TRUE(release::writeArchive(dir / "bad.kx", {{"aaa_first.txt", "1"}, {"link/x.txt", "x"}}));
  ToolResult result = runTool({"extract", "bad.kx", "out"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("refusing entry \"link/x.txt\""), std::string::npos) << result.err;
  EXPECT_TRUE(fs::is_empty(dir / "outside"));
  EXPECT_FALSE(testing_support::fileExists(dir / "out/aaa_first.txt"));
}

TEST(DemoRelease, TheInstallerTurnsTheOldInstallationIntoTheNewOne) {
  TempDir dir;
  const std::string demo = demoRelease();
  fs::copy(demo + "/2.650", dir / "game", fs::copy_options::recursive);
  for (const char* folder : {"run", "config", "home", "tmp"}) fs::create_directories(dir / folder);
  auto run = testing_support::runProcess(
      {KXPATCH_INSTALLER}, dir / "game/bin",
      {{"XDG_RUNTIME_DIR", dir / "run"}, {"XDG_CONFIG_HOME", dir / "config"},
       {"HOME", dir / "home"}, {"TMPDIR", dir / "tmp"}, {"LC_ALL", "C"},
       {"KXPATCH_TEST_PAYLOAD_DIR", demo + "/payload"}});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");

  auto verify = testing_support::runProcess(
      {KXPATCH_KXTOOL, "verify", "game", "game/bin/MD5.txt", "2.650", "2.651"}, dir.path(),
      {{"TMPDIR", dir / "tmp"}});
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
  EXPECT_NE(verify.out.find("all 7 files are at 2.651"), std::string::npos) << verify.out;

  for (const auto& entry : fs::recursive_directory_iterator(demo + "/2.651")) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = entry.path().lexically_relative(demo + "/2.651").string();
    EXPECT_TRUE(readFile(entry.path().string()) == readFile(dir / ("game/" + relative)))
        << relative;
  }
  EXPECT_FALSE(testing_support::fileExists(dir / "game/cache/obsolete.cache"));
}

}  // namespace
