// Where the installer finds the installation, and which archive tells it the installed
// version.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/app/installer_harness.h"

using namespace installer_test;

namespace {

const std::string kNoBinText = "请在Halvoreen\\bin目录下运行该程序";

std::string installPathFileOf(const Scratch& scratch) {
  return scratch.root() + "/config/Brightfall/Halvoreen/installPath.txt";
}

struct DiscoveryCase {
  const char* name;
  const char* cwd;       // relative to the scratch root
  const char* pathFile;  // nullptr: none; "$GAME" stands for the installation folder; "|pipe"
                         // and "|zero": a pipe nobody writes, a link to an endless device
  bool succeeds;
  const char* gameFolder = "game";
};

TEST(Discovery, InstallationFolderFromCurrentDirectoryOrPathFile) {
  const DiscoveryCase cases[] = {
      {"bin folder", "game/bin", nullptr, true},
      {"sub-folder of bin", "game/bin/sub", nullptr, true},
      {"outside, no path file", "", nullptr, false},
      {"outside, path file", "", "$GAME", true},
      {"outside, path file ending in a line break", "", "$GAME\n", false},
      {"outside, path file is a pipe", "", "|pipe", false},
      {"outside, path file links to an endless device", "", "|zero", false},
      {"under a folder whose name starts with bin", "binh/game/bin", nullptr, true, "binh/game"},
  };
  for (const DiscoveryCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch(defaultRelease(), c.gameFolder);
    std::filesystem::create_directories(scratch.bin() + "/sub");
    LauncherListener launcher(scratch.runtime() + "/MOXStartup");
    std::string pathFile;
    if (c.pathFile && c.pathFile[0] == '|') {
      // Read as an ordinary file, either would hang the run or fill its memory.
      scratch.writeInstallPathFile("");
      const std::string file = installPathFileOf(scratch);
      std::filesystem::remove(file);
      if (std::string(c.pathFile) == "|pipe")
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
      else
        std::filesystem::create_symlink("/dev/zero", file);
    } else if (c.pathFile) {
      pathFile = c.pathFile;
      pathFile.replace(0, 5, scratch.game());
      scratch.writeInstallPathFile(pathFile);
    }
    const std::string cwd = *c.cwd ? scratch.root() + "/" + c.cwd : scratch.root();
    auto result = scratch.run({}, cwd);
    EXPECT_EQ(result.exitCode, 0);
    if (c.succeeds) {
      EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
      continue;
    }
    EXPECT_EQ(result.err, box("无法自动获得《Halvoreen》安装目录", kNoBinText));
    const std::string installDir = c.pathFile && c.pathFile[0] != '|' ? pathFile : cwd;
    EXPECT_NE(readFile(cwd + "/updater.log").find("error installDir:" + installDir + "\n"),
              std::string::npos);
    EXPECT_FALSE(testing_support::fileExists(scratch.game() + "/qdres_packedTemp.kx"));
    const auto messages = launcher.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], std::make_pair(2048u, std::string("end")));
    EXPECT_EQ(messages[1], std::make_pair(2039u, kNoBinText));
  }
}

TEST(VersionDetection, FallsBackToTheVemoArchive) {
  Scratch scratch(defaultRelease());
  // A CN archive without the configuration entry (it then also fails its fingerprint).
  auto entries = release::readArchive(scratch.packPath(5));
  for (auto it = entries.begin(); it != entries.end(); ++it)
    if (it->first == "scripts_config.xml") {
      entries.erase(it);
      break;
    }
  ASSERT_TRUE(release::writeArchive(scratch.packPath(5), entries));
  auto result = scratch.run();
  const std::string cn = scratch.packPath(5), vemo = scratch.packPath(4);
  const std::string log = scratch.runLog();
  const std::string expected = "read version from: " + cn + "\n" + cn + " exist!\n" +
                               "read version from: " + vemo + "\n" +
                               "read version success:" + vemo + "\n";
  EXPECT_NE(log.find(expected), std::string::npos) << log;
  EXPECT_NE(log.find("localVersion: 2.650"), std::string::npos);
  EXPECT_EQ(result.err, box("更新失败!", cn + "文件损坏，无法更新!!"));
}

TEST(VersionDetection, NeitherVersionArchiveEndsTheRun) {
  Scratch scratch(defaultRelease());
  std::filesystem::remove(scratch.packPath(4));
  std::filesystem::remove(scratch.packPath(5));
  LauncherListener launcher(scratch.runtime() + "/MOXStartup");
  auto result = scratch.run();
  const std::string cn = scratch.packPath(5), vemo = scratch.packPath(4);
  EXPECT_TRUE(inOrder(lines(scratch.runLog()),
                      {"read version from: " + cn, cn + " does not exist!",
                       "read version from: " + vemo, vemo + " does not exist!",
                       "scripts_config.xml is Null!"}))
      << scratch.runLog();
  const std::string text = "2.650-2.651Pack.exe->使用bin\\路径初始化失败:" + scratch.bin();
  EXPECT_EQ(result.err, box(text, text));
  const auto messages = launcher.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].second, "->使用bin\\路径初始化失败:" + scratch.bin());
  EXPECT_FALSE(testing_support::fileExists(scratch.game() + "/qdres_packedTemp.kx"));
}

}  // namespace
