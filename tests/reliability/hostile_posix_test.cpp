// The installer on a machine that works against it: a second installer that does not share the
// mutex, links planted where the run writes, and per-user files or archive entries made to be
// endless. Each run ends by itself, writes nothing outside the installation, and leaves every
// pack its old or its new version.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/reliability/installer_runs.h"

using namespace reliability;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

namespace fs = std::filesystem;

const std::string kLockFailed = "无法锁定更新程序, 请检查目录或权限后重新更新!";

const std::string& hostileRelease() {
  release::TestReleaseOptions options;
  options.changedPacks = {0, 4, 5};
  options.binEntries = {{"mox.exe", "game executable 2.651\n"}};
  options.cacheEntries = {{"shaders.bin", "compiled shaders 2.651"}, {"fonts.bin", ""}};
  return releaseFor("hostile", options);
}

bool packIs(const Installation& installation, int pack, const std::string& version) {
  return readFile(installation.packPath(pack)) ==
         readFile(hostileRelease() + "/" + version + "/" + kGamePacks[pack].name);
}

// Every file below `folder` with its bytes and permission bits.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = fs::relative(entry.path(), folder).generic_string();
    struct stat st {};
    ::lstat(entry.path().c_str(), &st);
    files[relative] = std::to_string(st.st_mode) + ":" +
                      (entry.is_regular_file() ? readFile(entry.path().string()) : "");
  }
  return files;
}

TEST(Hostile, TwoInstallersWithTheirOwnMutexesTakeTurnsOnOneInstallation) {
  Installation installation(hostileRelease());
  testing_support::TempDir otherUser;
  const pid_t first = installation.start();
  RunOptions second;
  second.runtimeFolder = otherUser.path();
  const pid_t other = installation.start(second);
  const Outcome a = installation.wait(first);
  const Outcome b = installation.wait(other);
  ASSERT_TRUE(a.exited && b.exited);
  // One of them updated the installation; the other found it already at the new version.
  EXPECT_TRUE(a.err.empty() != b.err.empty()) << a.err << "\n---\n" << b.err;
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(packIs(installation, i, "2.651")) << kGamePacks[i].name;
    EXPECT_FALSE(fileExists(installation.packPath(i) + "temp"));
  }

  // A mutex that cannot be made: the run stops before it writes anything.
  installation.reset();
  RunOptions nowhere;
  nowhere.runtimeFolder = installation.root() + "/no-such-folder";
  const Outcome refused = installation.run(nowhere);
  EXPECT_EQ(refused.err, box("更新失败!", kLockFailed));
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(packIs(installation, i, "2.650"));
  EXPECT_FALSE(fileExists(installation.game() + "/qdres_packedTemp.kx"));
}

TEST(Hostile, LinksPlantedWhereTheRunWritesChangeNothingOutside) {
  struct Case {
    const char* name;
    bool linkedCacheFolder;  // else the cache's files themselves are links
  } cases[] = {{"linked files", false}, {"linked cache folder", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation installation(hostileRelease());
    const std::string outside = installation.root() + "/outside";
    fs::create_directories(outside + "/cache");
    for (const char* name : {"temp", "exetemp", "table", "log", "cache/shaders.bin",
                             "cache/fonts.bin"})
      writeFile(outside + "/" + name, std::string("outside file ") + name);
    fs::permissions(outside + "/cache/shaders.bin", fs::perms::owner_read);
    const std::string game = installation.game();
    auto plant = [](const std::string& target, const std::string& link) {
      fs::remove_all(link);
      fs::create_symlink(target, link);
    };
    plant(outside + "/temp", installation.packPath(0) + "temp");
    plant(outside + "/exetemp", game + "/bin/mox.exetemp");
    plant(outside + "/table", game + "/bin/MD5.txt");
    plant(outside + "/log", game + "/bin/updater.log");
    if (c.linkedCacheFolder) {
      plant(outside + "/cache", game + "/cache");
    } else {
      plant(outside + "/cache/shaders.bin", game + "/cache/shaders.bin");
      plant(outside + "/cache/fonts.bin", game + "/cache/fonts.bin");
    }
    const auto before = snapshot(outside);

    const Outcome run = installation.run();
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(snapshot(outside), before) << "a file outside the installation changed";
    for (int i = 0; i < 6; ++i)
      EXPECT_TRUE(packIs(installation, i, "2.650") || packIs(installation, i, "2.651"));
    if (c.linkedCacheFolder) {
      // Nothing is written through the linked folder: the cache is left behind, and reported.
      EXPECT_NE(run.err.find("/cache/fonts.bin文件更新失败!"), std::string::npos) << run.err;
      EXPECT_TRUE(packIs(installation, 5, "2.650")) << "CN waits for the cache";
    } else {
      // Links where files are written anew become the installation's own regular files; a log
      // that is a link gets no line.
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(readFile(game + "/cache/shaders.bin"), "compiled shaders 2.651");
      EXPECT_FALSE(fs::exists(fs::symlink_status(game + "/cache/fonts.bin")));
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(game + "/bin/MD5.txt")));
      EXPECT_TRUE(fs::is_symlink(fs::symlink_status(game + "/bin/updater.log")));
      for (int i = 0; i < 6; ++i) EXPECT_TRUE(packIs(installation, i, "2.651"));
    }
  }
}

// Links of the kinds a symbolic-link check does not see, or that lead the run's own folders
// outside: a second name (hard link) of an outside file where the run writes or changes
// permissions, a bin folder that is a link, a lock file that is a dangling link.
TEST(Hostile, HardLinksLinkedBinAndLinkedLockFileChangeNothingOutside) {
  const std::string noBin =
      box("无法自动获得《Halvoreen》安装目录", "请在Halvoreen\\bin目录下运行该程序");
  struct Case {
    const char* name;
    // Makes the link to files in `outside`; may set the run's options.
    std::function<void(Installation&, const std::string& outside, RunOptions&)> plant;
    std::string err;  // the run's boxes
    bool updated;     // the installation ends at the new version (else untouched)
  };
  const auto hardLink = [](const std::string& outsideFile, const std::string& name) {
    fs::remove(name);
    fs::create_hard_link(outsideFile, name);
  };
  const Case cases[] = {
      {"outside file hard-linked at bin/MD5.txt",
       [&](Installation& installation, const std::string& outside, RunOptions&) {
         writeFile(outside + "/table", "outside table");
         hardLink(outside + "/table", installation.bin() + "/MD5.txt");
       },
       "", true},
      {"outside file hard-linked at bin/updater.log",
       [&](Installation& installation, const std::string& outside, RunOptions&) {
         writeFile(outside + "/log", "outside log\n");
         hardLink(outside + "/log", installation.bin() + "/updater.log");
       },
       "", true},
      {"read-only outside file hard-linked as a pack the release changes",
       [&](Installation& installation, const std::string& outside, RunOptions&) {
         fs::copy_file(installation.packPath(0), outside + "/pack");
         fs::permissions(outside + "/pack", fs::perms::owner_read | fs::perms::group_read |
                                                fs::perms::others_read);
         hardLink(outside + "/pack", installation.packPath(0));
       },
       "", true},
      {"bin linked to an outside folder, started through installPath.txt",
       [&](Installation& installation, const std::string& outside, RunOptions& options) {
         fs::rename(installation.bin(), outside + "/bin");
         fs::create_directory_symlink(outside + "/bin", installation.bin());
         fs::create_directories(installation.root() + "/config/Brightfall/Halvoreen");
         writeFile(installation.root() + "/config/Brightfall/Halvoreen/installPath.txt",
                   installation.game());
         options.workingFolder = installation.root() + "/home";
       },
       noBin, false},
      {"lock file that is a dangling link",
       [&](Installation& installation, const std::string& outside, RunOptions&) {
         fs::create_symlink(outside + "/lock", installation.root() + "/run/packMutex.lock");
       },
       box("更新失败!", kLockFailed), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation installation(hostileRelease());
    const std::string outside = installation.root() + "/outside";
    fs::create_directories(outside);
    RunOptions options;
    c.plant(installation, outside, options);
    const auto before = snapshot(outside);

    const Outcome run = installation.run(options);
    ASSERT_TRUE(run.exited);
    // Compared whole, not printed: the listing holds a pack's bytes.
    EXPECT_TRUE(snapshot(outside) == before) << "a file outside the installation changed";
    EXPECT_EQ(run.err, c.err);
    for (int i = 0; i < 6; ++i)
      EXPECT_TRUE(packIs(installation, i, c.updated ? "2.651" : "2.650")) << kGamePacks[i].name;
    EXPECT_EQ(fileExists(installation.game() + "/qdres_packedTemp.kx"), false);
  }
}

// The run log is read once more, whole, to be uploaded after a failed pack update: a pipe at its
// name gets no line, and is not waited on then either.
TEST(Hostile, PipeAsTheRunLogNeverHoldsTheUpload) {
  Installation installation(hostileRelease());
  installation.usePrivatePayload();
  writeFile(installation.payload() + "/" + kGamePacks[0].patchName, "not an archive");
  ASSERT_EQ(::mkfifo((installation.bin() + "/updater.log").c_str(), 0600), 0);
  const Outcome run = installation.run({}, 60);
  ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
  EXPECT_EQ(run.err, box("更新失败!", installation.packPath(0) + "文件更新失败!"));
  EXPECT_TRUE(packIs(installation, 0, "2.650"));
}

TEST(Hostile, EndlessOrHugeInputsAreBoundedAndNeverHang) {
  struct Case {
    const char* name;
    std::function<void(Installation&)> plant;
  };
  const Case cases[] = {
      {"version entry that inflates to 200 MB",
       [](Installation& installation) {
         const std::string cn = installation.packPath(5);
         ASSERT_TRUE(release::writeArchive(
             cn, {{"scripts_config.xml", std::string(200u << 20, ' ')}}));
       }},
      {"preferences linked to an endless device",
       [](Installation& installation) {
         installation.writePreferences("");
         const std::string path = installation.root() + "/config/Brightfall/Halvoreen/preferences.xml";
         fs::remove(path);
         fs::create_symlink("/dev/zero", path);
       }},
      {"preferences that are a pipe nobody writes",
       [](Installation& installation) {
         installation.writePreferences("");
         const std::string path = installation.root() + "/config/Brightfall/Halvoreen/preferences.xml";
         fs::remove(path);
         ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
       }},
      {"an account name of 50 MB",
       [](Installation& installation) {
         installation.writePreferences("<accountName>" + std::string(50u << 20, 'a') +
                                       "</accountName>\n");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Installation installation(hostileRelease());
    c.plant(installation);
    std::string before[6];
    for (int i = 0; i < 6; ++i) before[i] = readFile(installation.packPath(i));
    const Outcome run = installation.run({}, 60);
    EXPECT_TRUE(run.exited) << "ended by signal " << run.signal;
    EXPECT_LT(installation.runLog().size(), 1u << 20);
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own shadow memory would dwarf what is measured here.
    EXPECT_LT(run.peakMemoryKiB, 64 * 1024);
#endif
    for (int i = 0; i < 6; ++i)
      EXPECT_TRUE(readFile(installation.packPath(i)) == before[i] ||
                  packIs(installation, i, "2.651"));
  }
}

}  // namespace
