// The bin and cache folders updated from their payload archives, and the payload written out
// where an old leftover or a folder that cannot be written stands in the way.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "integrity/fingerprint.h"
#include "integrity/game_packs.h"
#include "tests/app/installer_harness.h"

using namespace installer_test;

namespace {

namespace fs = std::filesystem;

const std::string kNewGame = "game executable 2.651, rebuilt\n";
// Starts with "PK": the archive keeps it stored, so it is read back as its bytes as they are.
const std::string kStoredTool = "PK tool data that must arrive exactly as stored";

release::TestReleaseOptions looseOptions() {
  release::TestReleaseOptions options;
  options.binEntries = {{"mox.exe", kNewGame},
                        {"readme_bin.txt", std::string(2000, 'r')},
                        {"tool.dat", kStoredTool}};
  options.cacheEntries = {{"shaders.bin", "new shaders"},
                          {"fonts.bin", ""},
                          {"missing/sub.txt", "in a folder made for it"},
                          {"made/twice/deep.txt", "in two folders made for it"},
                          // A name that is the part of another before its space: the archive
                          // reader would take "atlas" for version 1 of "atlas".
                          {"atlas", "atlas pages"},
                          {"atlas 2x.png", "double-size atlas"}};
  return options;
}

const std::string& looseRelease() { return releaseFor("loose", looseOptions()); }

TEST(LooseFiles, BinAndCacheEntriesAreWrittenOrDeletedAndMissingFoldersMade) {
  Scratch scratch(looseRelease());
  auto result = scratch.run();
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(readFile(scratch.bin() + "/mox.exe"), kNewGame);
  EXPECT_EQ(readFile(scratch.bin() + "/readme_bin.txt"), std::string(2000, 'r'));
  EXPECT_EQ(readFile(scratch.bin() + "/tool.dat"), kStoredTool);
  EXPECT_EQ(readFile(scratch.game() + "/cache/shaders.bin"), "new shaders");
  EXPECT_FALSE(fileExists(scratch.game() + "/cache/fonts.bin"));
  // Folders the installation lacks are made for the files that go there.
  EXPECT_EQ(readFile(scratch.game() + "/cache/missing/sub.txt"), "in a folder made for it");
  EXPECT_EQ(readFile(scratch.game() + "/cache/made/twice/deep.txt"), "in two folders made for it");
  EXPECT_EQ(readFile(scratch.game() + "/cache/atlas"), "atlas pages");
  EXPECT_EQ(readFile(scratch.game() + "/cache/atlas 2x.png"), "double-size atlas");
  EXPECT_FALSE(fileExists(scratch.game() + "/binTemp.kx"));
  EXPECT_FALSE(fileExists(scratch.game() + "/cacheTemp.kx"));

  const std::string log = scratch.runLog();
  const std::string target = scratch.bin() + "/mox.exe";
  EXPECT_NE(log.find(kTitle + "->check success: " + target + "\n" + kTitle +
                     "->update file: " + target + "\n"),
            std::string::npos);
  EXPECT_NE(log.find(kTitle + "->update file: " + scratch.game() + "/cache/missing/sub.txt\n"),
            std::string::npos);
  EXPECT_NE(log.find(kTitle + "->delete file: " + scratch.game() + "/cache/fonts.bin\n"),
            std::string::npos);
  EXPECT_NE(result.out.find(kTitle + "->更新" + target + "完成!\n"), std::string::npos);
  EXPECT_EQ(lines(log).back(), kSuccessLine);
}

// A name the installer will not write (outside its folder) is that file's failure, with the
// box of the manual run, and no success line under AutoRun either. No later run could place it,
// so the version pack does not wait for it.
TEST(LooseFiles, RefusedEntryIsAFailureThatDoesNotHoldBackTheVersion) {
  release::TestReleaseOptions options;
  options.binEntries = {{"../escape", "must never be written"}, {"tool.dat", kStoredTool}};
  const std::string& refusedRelease = releaseFor("refused entry", options);
  for (const bool autoRun : {false, true}) {
    SCOPED_TRACE(autoRun ? "AutoRun" : "manual run");
    Scratch scratch(refusedRelease);
    const std::vector<std::string> args =
        autoRun ? std::vector<std::string>{"AutoRun"} : std::vector<std::string>{};
    auto result = scratch.run(args);
    const std::string refused = scratch.bin() + "/../escape";
    EXPECT_EQ(result.err, autoRun ? "" : box("更新失败!", refused + "文件更新失败!"));
    EXPECT_NE(result.out.find(kTitle + "->更新" + refused + "失败, 请重新更新!\n"),
              std::string::npos);
    EXPECT_FALSE(fileExists(scratch.game() + "/escape"));
    EXPECT_EQ(readFile(scratch.bin() + "/tool.dat"), kStoredTool);
    const std::string log = scratch.runLog();
    EXPECT_NE(log.find(kTitle + "->refused entry outside its folder: ../escape\n"),
              std::string::npos);
    EXPECT_EQ(log.find("->keep CN_packed.kx"), std::string::npos);
    EXPECT_EQ(readFile(scratch.packPath(kCNPack)),
              readFile(scratch.releaseDir() + "/2.651/" + kGamePacks[kCNPack].name));
    EXPECT_EQ(log.find(kSuccessLine), std::string::npos);
  }
}

TEST(LooseFiles, WrongGameFingerprintIsWrittenAndReportedAtTheEnd) {
  Scratch scratch(looseRelease());
  scratch.setTableValue("2.651", "bin\\mox.exe", "12345678");
  const std::string target = scratch.bin() + "/mox.exe";
  const std::string oldSize = getFileSizeValue(target).text();
  auto result = scratch.run();
  EXPECT_EQ(readFile(target), kNewGame);
  EXPECT_EQ(result.err, box("更新失败!", "bin\\mox.exe文件更新错误!"));
  const std::string sizeLine = kTitle + "->size of bin\\mox.exe before update: " + oldSize;
  const std::string actual = getBufferCRC32Value(kNewGame.data(), kNewGame.size());
  EXPECT_TRUE(inOrder(lines(scratch.runLog()),
                      {sizeLine, sizeLine, "failed to update bin\\mox.exe: from 2.650to 2.651",
                       "server MD5:12345678", "dest MD5: " + actual}))
      << scratch.runLog();
  // The packs are updated all the same.
  EXPECT_NE(scratch.runLog().find("->update successful: vemo_packed.kx!"), std::string::npos);
}

TEST(LooseFiles, EmptyGameEntryDeletesTheExecutable) {
  release::TestReleaseOptions options;
  options.binEntries = {{"mox.exe", ""}};
  Scratch scratch(releaseFor("mox deleted", options));
  auto result = scratch.run();
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(fileExists(scratch.bin() + "/mox.exe"));
  const std::string log = scratch.runLog();
  EXPECT_NE(log.find(kTitle + "->delete file: " + scratch.bin() + "/mox.exe"), std::string::npos);
  EXPECT_EQ(log.find("check success"), std::string::npos);
}

TEST(LooseFiles, UnreadableEntryIsAFailureNeverADeletion) {
  release::TestReleaseOptions options;
  options.binEntries = {{"mox.exe", kNewGame}, {"zz_config.txt", std::string(4000, 'z')}};
  Scratch scratch(releaseFor("damaged bin entry", options));
  scratch.usePrivatePayload();
  // Damage the deflated data of the last entry (entries are stored in name order).
  const std::string archive = scratch.payload() + "/binTemp.kx";
  std::string bytes = readFile(archive);
  const size_t data = bytes.rfind("zz_config.txt", bytes.size() - 22 - 46 - 13) + 13;
  for (size_t i = data; i < data + 8; ++i) bytes[i] = static_cast<char>(0xFF);
  writeFile(archive, bytes);
  writeFile(scratch.bin() + "/zz_config.txt", "kept");

  auto result = scratch.run();
  EXPECT_EQ(readFile(scratch.bin() + "/zz_config.txt"), "kept");
  EXPECT_EQ(readFile(scratch.bin() + "/mox.exe"), kNewGame);
  EXPECT_NE(scratch.runLog().find("zz_config.txt"), std::string::npos);
  EXPECT_EQ(scratch.runLog().find("->delete file: " + scratch.bin() + "/zz_config.txt"),
            std::string::npos);
  // The file is left behind: not a success, and the version pack waits for a later run.
  EXPECT_EQ(result.err, box("更新失败!", scratch.bin() + "/zz_config.txt文件更新失败!"));
  EXPECT_NE(lines(scratch.runLog()).back(), kSuccessLine);
  EXPECT_EQ(readFile(scratch.packPath(5)), readFile(scratch.releaseDir() + "/2.650/CN_packed.kx"));
}

// A loose file whose temporary file is not what the release recorded (the game executable,
// which also passed the check table's test, or any other) never takes the old file's place.
TEST(LooseFiles, WrittenFileThatIsNotTheReleasedOneKeepsTheOldFile) {
  release::TestReleaseOptions options;
  options.binEntries = {{"mox.exe", kNewGame}, {"zz_config.txt", std::string(4000, 'z')}};
  for (const char* name : {"mox.exe", "zz_config.txt"}) {
    SCOPED_TRACE(name);
    Scratch scratch(releaseFor("damaged bin entry", options));
    scratch.usePrivatePayload();
    spoilResult(scratch.payload() + "/Results.txt", std::string("bin\\") + name);
    const std::string target = scratch.bin() + "/" + name;
    writeFile(target, "old file");

    auto result = scratch.run();
    EXPECT_EQ(readFile(target), "old file");
    EXPECT_FALSE(fileExists(target + "temp"));
    const std::string other = scratch.bin() + (name[0] == 'm' ? "/zz_config.txt" : "/mox.exe");
    EXPECT_NE(readFile(other), "old file");
    EXPECT_EQ(result.err, box("更新失败!", target + "文件更新失败!"));
    const std::string content = name[0] == 'm' ? kNewGame : std::string(4000, 'z');
    const std::string found =
        std::to_string(content.size()) + " " + getBufferCRC32Value(content.data(), content.size());
    const std::string log = scratch.runLog();
    EXPECT_NE(log.find(kTitle + "->not the released file: " + target + "\nwholeFile: " + found +
                       "\nreleased : " + std::to_string(content.size()) + " "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(kTitle + "->write failed: " + target + "\n"), std::string::npos);
    EXPECT_EQ(log.find(kTitle + "->update file: " + target + "\n"), std::string::npos);
    EXPECT_NE(lines(log).back(), kSuccessLine);
    EXPECT_EQ(readFile(scratch.packPath(5)),
              readFile(scratch.releaseDir() + "/2.650/CN_packed.kx"));
  }
}

TEST(LooseFiles, PayloadArchiveThatNoLongerReadsIsAFailure) {
  Scratch scratch(looseRelease());
  scratch.usePrivatePayload();
  const std::string archive = scratch.payload() + "/cacheTemp.kx";
  std::string bytes = readFile(archive);
  bytes[bytes.size() - 22] ^= 0x5A;
  writeFile(archive, bytes);
  auto result = scratch.run();
  const std::string extracted = scratch.game() + "/cacheTemp.kx";
  EXPECT_EQ(result.err, box("更新失败!", extracted + "文件更新失败!"));
  EXPECT_NE(scratch.runLog().find(kTitle + "->can not read " + extracted + "\n"),
            std::string::npos);
  EXPECT_FALSE(fileExists(extracted));
  EXPECT_EQ(readFile(scratch.packPath(5)), readFile(scratch.releaseDir() + "/2.650/CN_packed.kx"));
}

TEST(LooseFiles, GameExecutableThatCannotBeWrittenEndsTheRun) {
  Scratch scratch(looseRelease());
  const std::string target = scratch.bin() + "/mox.exe";
  fs::remove(target);
  fs::create_directory(target);
  auto result = scratch.run();
  const std::string caption = kTitle + "->无法打开文件:" + target;
  EXPECT_EQ(result.err, box(caption, caption + ", 请检查目录或权限!"));
  // The run ended there, before any pack: it leaves neither its payload archives nor its
  // journal (the installation still reads as the old version).
  EXPECT_FALSE(fileExists(scratch.game() + "/binTemp.kx"));
  EXPECT_FALSE(fileExists(scratch.game() + "/cacheTemp.kx"));
  for (const GamePack& pack : kGamePacks)
    EXPECT_FALSE(fileExists(scratch.game() + "/" + pack.patchName)) << pack.patchName;
  EXPECT_FALSE(fileExists(scratch.game() + "/packUpdate.journal"));
  EXPECT_EQ(lines(scratch.runLog()).back(), kTitle + "->can not open file: " + target);
}

TEST(PayloadExtraction, ReadOnlyLeftoverIsOverwritten) {
  Scratch scratch(defaultRelease());
  const std::string leftover = scratch.game() + "/binTemp.kx";
  writeFile(leftover, "left over from an interrupted run");
  ::chmod(leftover.c_str(), 0444);
  auto result = scratch.run();
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(fileExists(leftover));
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
}

TEST(PayloadExtraction, FolderThatCannotBeWrittenGivesThePermissionBox) {
  // Permissions stop only an unprivileged user; a folder standing where the first temporary
  // archive must go stops everyone, root included.
  for (bool byPermissions : {false, true}) {
    if (byPermissions && ::geteuid() == 0) continue;
    SCOPED_TRACE(byPermissions ? "read-only folder" : "folder in the way");
    Scratch scratch(defaultRelease());
    if (byPermissions)
      ::chmod(scratch.game().c_str(), 0555);
    else
      fs::create_directory(scratch.game() + "/qdres_packedTemp.kx");
    auto result = scratch.run();
    ::chmod(scratch.game().c_str(), 0755);
    EXPECT_EQ(result.err, box("您没有写权限", "您在" + scratch.game() + "没有写权限，程序无法运行!"));
    EXPECT_EQ(lines(scratch.runLog()).back(), kTitle + "->qdres_packedTemp.kx can not write in!");
  }
  // The last payload archive stopped: the seven written before it go with the run's end.
  Scratch scratch(defaultRelease());
  fs::create_directory(scratch.game() + "/cacheTemp.kx");
  auto result = scratch.run();
  EXPECT_EQ(lines(scratch.runLog()).back(), kTitle + "->cacheTemp.kx can not write in!");
  EXPECT_FALSE(fileExists(scratch.game() + "/binTemp.kx"));
  for (const GamePack& pack : kGamePacks)
    EXPECT_FALSE(fileExists(scratch.game() + "/" + pack.patchName)) << pack.patchName;
}

}  // namespace
