// The whole run on a disk that fills up: every file the installer writes is limited in size
// (RLIMIT_FSIZE, SIGXFSZ ignored), so writing the rewritten pack fails the way a full disk
// fails it. The pack must stay exactly as it was, the failure must be reported, and a later
// run with room must finish the update.
#include <gtest/gtest.h>

#include <random>

#include "integrity/check_table.h"
#include "integrity/fingerprint.h"
#include "tests/reliability/installer_runs.h"

using namespace reliability;
using testing_support::fileExists;
using testing_support::readFile;

namespace {

constexpr int kQdres = 0;  // a large first-group pack
constexpr int kCN = 5;     // the pack the version is read from
constexpr uint64_t kLimit = 2 * 1024 * 1024;  // below the large packs, above every other file

const std::string& largePackRelease() {
  release::TestReleaseOptions options;
  // As in a real release the version pack changes too, so the later run finishes only if the
  // failed run left the installation reading as the old version.
  options.changedPacks = {kQdres, 4, kCN};
  return releaseFor("full-disk", options);
}

TEST(FullDisk, FailedRewriteLeavesThePackAndALaterRunFinishes) {
  const std::string& releaseDir = largePackRelease();
  Installation installation(releaseDir);
  const std::string pack = installation.packPath(kQdres);
  const std::string before = readFile(pack);
  ASSERT_GT(before.size(), kLimit);
  const std::string table = readFile(installation.payload() + "/MD5.txt");
  const std::string key = std::string("Halvoreen\\") + kGamePacks[kQdres].name;

  const Outcome full = installation.run(limitedTo(kLimit));
  ASSERT_TRUE(full.exited) << "signal " << full.signal;
  EXPECT_EQ(full.code, 0);
  // Reported: the log line, the console line and the failure box.
  const std::string log = installation.runLog();
  EXPECT_NE(log.find("2.650-2.651Pack.exe->update failed: qdres_packed.kx!"), std::string::npos)
      << log;
  EXPECT_NE(full.out.find("2.650-2.651Pack.exe->更新qdres_packed.kx失败, 请重新更新!\n"),
            std::string::npos);
  EXPECT_NE(full.err.find(pack + "文件更新失败!"), std::string::npos) << full.err;
  // Untouched, and nothing of the attempt left behind.
  EXPECT_TRUE(readFile(pack) == before);
  EXPECT_EQ(getSizeCRC32Value(pack).text(), getCheckValue(table, "mox2.650", key));
  EXPECT_FALSE(fileExists(pack + "temp"));
  EXPECT_TRUE(readFile(installation.packPath(kCN)) ==
              readFile(releaseDir + "/2.650/" + kGamePacks[kCN].name));

  const Outcome roomy = installation.run();
  ASSERT_TRUE(roomy.exited);
  EXPECT_EQ(roomy.err, "");
  EXPECT_EQ(getSizeCRC32Value(pack).text(), getCheckValue(table, "mox2.651", key));
  EXPECT_TRUE(readFile(pack) == readFile(releaseDir + "/2.651/" + kGamePacks[kQdres].name));
  for (int i = 0; i < 6; ++i)
    EXPECT_TRUE(readFile(installation.packPath(i)) ==
                readFile(releaseDir + "/2.651/" + kGamePacks[i].name))
        << kGamePacks[i].name;
}

}  // namespace

// A loose file too large for the disk: the game executable must not be left cut short.
TEST(FullDisk, FailedLooseFileWriteKeepsTheOldFileAndALaterRunFinishes) {
  release::TestReleaseOptions options;
  // Compresses well, so that only the written file crosses the limit, not its payload archive.
  std::string executable;
  while (executable.size() < 3 * 1024 * 1024) executable += "game executable 2.651, a large build\n";
  options.binEntries = {{"mox.exe", executable}};
  const std::string& releaseDir = releaseFor("full-disk-loose", options);
  Installation installation(releaseDir);
  const std::string target = installation.bin() + "/mox.exe";
  const std::string before = readFile(target);
  const std::string versionPack = readFile(installation.packPath(kCN));

  const Outcome full = installation.run(limitedTo(kLimit));
  ASSERT_TRUE(full.exited) << "signal " << full.signal;
  EXPECT_EQ(full.err, box("更新失败!", target + "文件更新失败!"));
  EXPECT_NE(installation.runLog().find("->write failed: " + target + "\n"), std::string::npos);
  EXPECT_NE(full.out.find("->更新" + target + "失败, 请重新更新!\n"), std::string::npos);
  EXPECT_TRUE(readFile(target) == before);
  EXPECT_FALSE(fileExists(target + "temp"));
  EXPECT_TRUE(readFile(installation.packPath(kCN)) == versionPack);

  const Outcome roomy = installation.run();
  ASSERT_TRUE(roomy.exited);
  EXPECT_EQ(roomy.err, "");
  EXPECT_TRUE(readFile(target) == executable);
  for (int i = 0; i < 6; ++i)
    EXPECT_TRUE(readFile(installation.packPath(i)) ==
                readFile(releaseDir + "/2.651/" + kGamePacks[i].name))
        << kGamePacks[i].name;
}

// The payload itself does not fit: the run ends before it changes anything.
TEST(FullDisk, PayloadThatDoesNotFitEndsTheRunBeforeAnythingChanges) {
  release::TestReleaseOptions options;
  std::mt19937 random(7);
  std::string executable(3 * 1024 * 1024, '\0');
  for (char& c : executable) c = static_cast<char>(random());  // stays as large in its archive
  options.binEntries = {{"mox.exe", executable}};
  const std::string& releaseDir = releaseFor("full-disk-payload", options);
  Installation installation(releaseDir);
  const Tree before = readTree(installation.game());

  const Outcome full = installation.run(limitedTo(kLimit));
  ASSERT_TRUE(full.exited) << "signal " << full.signal;
  EXPECT_EQ(full.err, box("您没有写权限", "您在" + installation.game() + "没有写权限，程序无法运行!"));
  EXPECT_NE(installation.runLog().find("->binTemp.kx can not write in!\n"), std::string::npos);
  EXPECT_FALSE(fileExists(installation.game() + "/binTemp.kx"));
  // Every file of the installation as it was; only the patch archives written before it stay.
  Tree after = readTree(installation.game());
  for (const GamePack& pack : kGamePacks) after.erase(pack.patchName);
  after.erase("bin/updater.log");
  Tree expected = before;
  expected.erase("bin/updater.log");
  EXPECT_TRUE(after == expected);

  const Outcome roomy = installation.run();
  ASSERT_TRUE(roomy.exited);
  EXPECT_EQ(roomy.err, "");
  EXPECT_TRUE(readFile(installation.bin() + "/mox.exe") == executable);
}
