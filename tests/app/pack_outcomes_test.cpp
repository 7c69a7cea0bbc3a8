// What happens to each pack: damaged, missing, already new, updated and verified, updated but
// failing its check, and a rewrite that fails.
#include <filesystem>

#include <gtest/gtest.h>

#include "archive/kx_file_system.h"
#include "integrity/fingerprint.h"
#include "tests/app/installer_harness.h"

using namespace installer_test;

namespace {

namespace fs = std::filesystem;


enum Pack { kQdres = 0, kGameRes = 1, kKxres = 2, kRes = 3, kVemo = 4, kCN = 5 };

bool isNew(const Scratch& scratch, int pack) {
  return readFile(scratch.packPath(pack)) ==
         readFile(scratch.releaseDir() + "/2.651/" + kGamePacks[pack].name);
}

struct DamageCase {
  const char* name;
  int pack;
  bool remove;              // remove the pack instead of damaging it
  const char* failureText;  // after the pack's path
  const char* logLine;      // after the pack's path
};

TEST(PackOutcomes, DamagedOrMissingPackIsReportedAndTheOthersGoOn) {
  const DamageCase cases[] = {
      {"damaged first group", kQdres, false, "文件损坏，无法更新!", " damaged before update!"},
      {"damaged second group", kVemo, false, "文件损坏，无法更新!!", " damaged before update!"},
      {"missing first group", kGameRes, true, "文件缺失，无法更新!", " not exist before update!"},
      {"missing second group", kVemo, true, "文件缺失，无法更新!", "not exist before update!"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch(defaultRelease());
    const std::string pack = scratch.packPath(c.pack);
    if (c.remove) {
      fs::remove(pack);
    } else {
      std::string bytes = readFile(pack);
      bytes[bytes.size() / 2] ^= 0x5A;
      writeFile(pack, bytes);
    }
    const std::string before = readFile(pack);
    auto result = scratch.run();
    // One box, the pack's own text, under the failure caption.
    EXPECT_EQ(result.err, box("更新失败!", pack + c.failureText));
    const std::string log = scratch.runLog();
    EXPECT_NE(log.find(pack + c.logLine + "\n"), std::string::npos) << log;
    EXPECT_EQ(readFile(pack), before);
    EXPECT_FALSE(fileExists(scratch.game() + "/" + kGamePacks[c.pack].patchName));
    // Damaged and missing packs are not uploaded: no update failure was recorded.
    EXPECT_EQ(log.find("MD5 check failed"), std::string::npos);
    EXPECT_EQ(log.find("->update failed"), std::string::npos);
    EXPECT_EQ(log.find("Computer Name: "), std::string::npos);
    // A pack with changes that could not be updated keeps the version pack at the old version,
    // so that once the player has restored the pack a later run finishes the update.
    const bool hadChanges = c.pack == kVemo;
    EXPECT_EQ(isNew(scratch, kCN), !hadChanges);
    if (hadChanges) {
      writeFile(pack, readFile(scratch.releaseDir() + "/2.650/" + kGamePacks[c.pack].name));
      auto later = scratch.run();
      EXPECT_EQ(later.err, "");
      for (int other = 0; other < 6; ++other) EXPECT_TRUE(isNew(scratch, other)) << other;
    }
  }
}

// Under AutoRun no box is shown, but a failure still keeps the success line out of the run log,
// as in the manual run: here a damaged pack that the release does not change.
TEST(PackOutcomes, DamagedPackUnderAutoRunGetsNoSuccessLine) {
  Scratch scratch(defaultRelease());
  const std::string pack = scratch.packPath(kQdres);
  std::string bytes = readFile(pack);
  bytes[bytes.size() / 2] ^= 0x5A;
  writeFile(pack, bytes);
  auto result = scratch.run({"AutoRun"});
  EXPECT_EQ(result.err, "");
  const std::string log = scratch.runLog();
  EXPECT_NE(log.find(pack + " damaged before update!\n"), std::string::npos) << log;
  EXPECT_EQ(log.find(kSuccessLine), std::string::npos) << log;
  EXPECT_TRUE(isNew(scratch, kVemo));
  EXPECT_TRUE(isNew(scratch, kCN));
}

TEST(PackOutcomes, PercentSignsInTheFolderNameAreShownNotInterpreted) {
  Scratch scratch(defaultRelease(), "game %s%n%d");
  const std::string pack = scratch.packPath(kQdres);
  std::string bytes = readFile(pack);
  bytes.back() ^= 0x01;
  writeFile(pack, bytes);
  auto result = scratch.run();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find(pack + "已经损坏，无法更新!\n"), std::string::npos) << result.out;
  EXPECT_EQ(result.err, box("更新失败!", pack + "文件损坏，无法更新!"));
}

TEST(PackOutcomes, AbsentKxresIsNeitherMissingNorDamaged) {
  Scratch scratch(defaultRelease());
  fs::remove(scratch.packPath(kKxres));
  auto result = scratch.run();
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find(kTitle + "->不更新kxres_packed.kx!\n"), std::string::npos);
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
}

TEST(PackOutcomes, PackAlreadyAtTheNewVersionIsLeftAlone) {
  Scratch scratch(defaultRelease());
  fs::copy_file(scratch.releaseDir() + "/2.651/vemo_packed.kx", scratch.packPath(kVemo),
                fs::copy_options::overwrite_existing);
  auto result = scratch.run();
  EXPECT_EQ(result.err, "");
  const std::string log = scratch.runLog();
  EXPECT_NE(log.find(kTitle + "->size of vemo_packed.kx before update: "), std::string::npos);
  EXPECT_EQ(log.find("vemo_packed.kx!"), std::string::npos) << log;
  EXPECT_EQ(result.out.find("vemo_packed.kx"), std::string::npos);
  EXPECT_FALSE(fileExists(scratch.game() + "/vemo_packedTemp.kx"));
  EXPECT_TRUE(isNew(scratch, kVemo));
  EXPECT_EQ(lines(log).back(), kSuccessLine);
}

TEST(PackOutcomes, FirstGroupPackWithAPatchIsRewrittenAndVerified) {
  release::TestReleaseOptions options;
  options.changedPacks = {kRes, kVemo, kCN};
  Scratch scratch(releaseFor("res changed", options));
  auto result = scratch.run();
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(isNew(scratch, kRes));
  const std::string log = scratch.runLog();
  EXPECT_NE(log.find(kTitle + "->create file: res_packed.kx\n"), std::string::npos);
  EXPECT_NE(log.find(kTitle + "->update successful: res_packed.kx!\n"), std::string::npos);
  EXPECT_EQ(lines(log).back(), kSuccessLine);
}

TEST(PackOutcomes, RewrittenPackFailingItsCheckIsLoggedWithEntryChecksums) {
  struct CheckCase {
    const char* name;
    int pack;
    std::vector<std::string> logLines;  // "$V" stands for the computed value
  };
  release::TestReleaseOptions options;
  options.changedPacks = {kRes, kVemo, kCN};
  const CheckCase cases[] = {
      {"second group", kCN,
       {"standardMD5:0badc0de\nfileMD5    :$V\nfileSize: $S",
        "MD5 check failed ......\n" + kTitle + "->update failed : CN_packed.kx!\n"}},
      {"first group", kRes,
       {"standardSize:0badc0de\nfileSize    : $V",
        "MD5 check failed......\n" + kTitle + "->failed to update: res_packed.kx\n"}},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch(releaseFor("res changed", options));
    scratch.setTableValue("2.651", kGamePacks[c.pack].name, "0badc0de");
    auto result = scratch.run();
    const std::string pack = scratch.packPath(c.pack);
    EXPECT_EQ(result.err, box("更新失败!", pack + "文件更新错误!"));
    // A result that fails its check never takes the pack's place.
    EXPECT_EQ(readFile(pack),
              readFile(scratch.releaseDir() + "/2.650/" + kGamePacks[c.pack].name));
    EXPECT_FALSE(fileExists(pack + "temp"));
    const std::string log = scratch.runLog();
    // The values reported are the rewritten file's.
    const std::string rewritten = scratch.releaseDir() + "/2.651/" + kGamePacks[c.pack].name;
    for (std::string line : c.logLines) {
      const std::string value =
          c.pack == kCN ? getCRC32Value(rewritten).text() : getSizeCRC32Value(rewritten).text();
      if (size_t at = line.find("$V"); at != std::string::npos) line.replace(at, 2, value);
      if (size_t at = line.find("$S"); at != std::string::npos)
        line.replace(at, 2, getFileSizeValue(rewritten).text());
      EXPECT_NE(log.find(line), std::string::npos) << line << "\n---\n" << log;
    }
    const bool checksums = log.find("MD5 for total file in kx:") != std::string::npos;
    EXPECT_EQ(checksums, c.pack == kCN);
    // The upload was attempted: the system report went into the log first (there is no log
    // server here, so the log stays).
    EXPECT_NE(log.find("Computer Name: "), std::string::npos);
    EXPECT_EQ(lines(log).back() == kSuccessLine, false);
  }
}

TEST(PackOutcomes, FailedRewriteLeavesTheOldPack) {
  Scratch scratch(defaultRelease());
  const std::string pack = scratch.packPath(kCN);
  const std::string before = readFile(pack);
  // The rewritten archive cannot be created where it must go.
  fs::create_directory(pack + "temp");
  auto result = scratch.run();
  EXPECT_EQ(result.err, box("更新失败!", pack + "文件更新失败!"));
  EXPECT_EQ(readFile(pack), before);
  EXPECT_FALSE(fileExists(scratch.game() + "/CN_packedTemp.kx"));
  EXPECT_NE(scratch.runLog().find(kTitle + "->update failed: CN_packed.kx!\n"), std::string::npos);
  EXPECT_NE(scratch.runLog().find("Computer Name: "), std::string::npos);
  EXPECT_NE(result.out.find(kTitle + "->更新CN_packed.kx失败, 请重新更新!\n"), std::string::npos);
  EXPECT_TRUE(isNew(scratch, kVemo));
}

}  // namespace

TEST(PackOutcomes, FailedRewriteHoldsBackTheVersionPackUntilALaterRunFinishes) {
  Scratch scratch(defaultRelease());
  const std::string vemo = scratch.packPath(kVemo);
  const std::string cn = scratch.packPath(kCN);
  const std::string vemoBefore = readFile(vemo);
  const std::string cnBefore = readFile(cn);
  fs::create_directory(vemo + "temp");

  auto failed = scratch.run();
  EXPECT_EQ(failed.err, box("更新失败!", vemo + "文件更新失败!"));
  EXPECT_EQ(readFile(vemo), vemoBefore);
  // The pack holding the version stays old, so the installer still applies to the installation.
  EXPECT_EQ(readFile(cn), cnBefore);
  EXPECT_FALSE(fileExists(scratch.game() + "/CN_packedTemp.kx"));
  EXPECT_NE(scratch.runLog().find(kTitle + "->keep CN_packed.kx at 2.650 until every pack is "
                                           "updated!\n"),
            std::string::npos);
  EXPECT_NE(failed.out.find(kTitle + "->暂不更新CN_packed.kx, 请重新更新!\n"), std::string::npos);

  fs::remove(vemo + "temp");
  auto later = scratch.run();
  EXPECT_EQ(later.err, "");
  for (int pack = 0; pack < 6; ++pack) EXPECT_TRUE(isNew(scratch, pack)) << pack;
}

// A pack that passes its check but no longer opens as an archive (damage the sampled
// fingerprint does not cover) must not be rewritten: merged into nothing, the patch alone would
// take the pack's place.
TEST(PackOutcomes, PackThatPassesItsCheckButDoesNotOpenIsKept) {
  release::TestReleaseOptions options;
  options.changedPacks = {kQdres, kVemo, kCN};
  Scratch scratch(releaseFor("qdres changed", options));
  const std::string pack = scratch.packPath(kQdres);
  std::string bytes = readFile(pack);
  bytes[bytes.size() - 22] ^= 0x5A;  // the directory's end record no longer reads
  writeFile(pack, bytes);
  scratch.setTableValue("2.650", "qdres_packed.kx", getSizeCRC32Value(pack).text());

  auto result = scratch.run();
  EXPECT_EQ(result.err, box("更新失败!", pack + "文件更新失败!"));
  EXPECT_EQ(readFile(pack), bytes);
  EXPECT_FALSE(fileExists(pack + "temp"));
  EXPECT_NE(scratch.runLog().find(kTitle + "->can not read " + pack + "\n"), std::string::npos);
  EXPECT_NE(scratch.runLog().find(kTitle + "->update failed: qdres_packed.kx!\n"),
            std::string::npos);
  EXPECT_TRUE(isNew(scratch, kVemo));
  EXPECT_FALSE(isNew(scratch, kCN));
}

// Damage outside the three windows the first group's fingerprint samples passes the check
// table's test before and after the merge, which carries it into the rewrite. The release's
// size and CRC of every byte catch it: the old pack stays and the run ends with the failure.
// Without a results table (or with one that does not read) the table's test is all there is.
TEST(PackOutcomes, ByteFlippedOutsideTheSampledWindowsIsCaughtBeforeTheSwap) {
  const struct {
    const char* name;
    const char* results;  // what Results.txt becomes; nullptr: as released
    bool caught;
  } cases[] = {
      {"results table", nullptr, true},
      {"no results table", "", false},
      {"results table that does not read", "qdres_packed.kx\t1\n", false},
  };
  release::TestReleaseOptions options;
  options.changedPacks = {kQdres, kVemo, kCN};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch(releaseFor("qdres changed", options));
    scratch.usePrivatePayload();
    const std::string results = scratch.payload() + "/Results.txt";
    if (c.results && !*c.results) fs::remove(results);
    if (c.results && *c.results) writeFile(results, c.results);
    const std::string pack = scratch.packPath(kQdres);
    std::string bytes = readFile(pack);
    // Between the first window (the first MiB) and the second (from the middle on).
    const size_t at = (size_t{1} << 20) + 200000;
    ASSERT_LT(at, bytes.size() / 2 - 65536);
    bytes[at] ^= 0x01;
    writeFile(pack, bytes);

    auto result = scratch.run();
    const std::string log = scratch.runLog();
    EXPECT_EQ(lines(log).back() == kSuccessLine, !c.caught);
    EXPECT_FALSE(fileExists(pack + "temp"));
    const bool unreadable = c.results && *c.results;
    EXPECT_EQ(log.find(kTitle + "->results table not used: line 1: ") != std::string::npos,
              unreadable);
    if (!c.caught) {
      EXPECT_EQ(result.err, "");
      continue;
    }
    EXPECT_EQ(readFile(pack), bytes) << "the pack is the old file, byte for byte";
    EXPECT_EQ(result.err, box("更新失败!", pack + "文件更新错误!"));
    // The failed check's lines, then the whole file's size and CRC found and the release's.
    const std::string released = readFile(scratch.releaseDir() + "/2.651/qdres_packed.kx");
    const std::string value = getSizeCRC32Value(scratch.releaseDir() +
                                                "/2.651/qdres_packed.kx").text();
    const std::string size = std::to_string(released.size());
    const std::string lead = "standardSize:" + value + "\nfileSize    : " + value + "\n" +
                             kTitle + "->not the released file: qdres_packed.kx\nwholeFile: " +
                             size + " ";
    const size_t line = log.find(lead);
    ASSERT_NE(line, std::string::npos) << log;
    const std::string tail = log.substr(line + lead.size(), 8 + 12 + size.size() + 9 + 24);
    EXPECT_EQ(tail.substr(8), "\nreleased : " + size + " " +
                                  getBufferCRC32Value(released.data(), released.size()) +
                                  "\nMD5 check failed......\n");
    EXPECT_NE(tail.substr(0, 8), getBufferCRC32Value(released.data(), released.size()));
    EXPECT_NE(log.find("Computer Name: "), std::string::npos) << "the log is uploaded";
    EXPECT_FALSE(isNew(scratch, kCN)) << "the version pack waits for a rerun";
  }
}

// The payload carried changes for a pack whose patch archive no longer reads when its turn
// comes: a failed update, never "nothing to do" followed by a successful end.
TEST(PackOutcomes, UnreadablePatchIsAFailedUpdate) {
  Scratch scratch(defaultRelease());
  scratch.usePrivatePayload();
  const std::string patchInPayload = scratch.payload() + "/" + kGamePacks[kVemo].patchName;
  const std::string intactPatch = readFile(patchInPayload);
  std::string broken = intactPatch;
  broken[broken.size() - 22] ^= 0x5A;
  writeFile(patchInPayload, broken);
  const std::string vemo = scratch.packPath(kVemo);
  const std::string vemoBefore = readFile(vemo);

  auto failed = scratch.run();
  EXPECT_EQ(failed.err, box("更新失败!", vemo + "文件更新失败!"));
  EXPECT_EQ(readFile(vemo), vemoBefore);
  EXPECT_NE(scratch.runLog().find(kTitle + "->can not read " + scratch.game() + "/" +
                                  kGamePacks[kVemo].patchName + "\n"),
            std::string::npos);
  EXPECT_NE(lines(scratch.runLog()).back(), kSuccessLine);
  EXPECT_FALSE(isNew(scratch, kCN));
  EXPECT_FALSE(fileExists(scratch.game() + "/" + kGamePacks[kVemo].patchName));

  writeFile(patchInPayload, intactPatch);
  auto later = scratch.run();
  EXPECT_EQ(later.err, "");
  for (int pack = 0; pack < 6; ++pack) EXPECT_TRUE(isNew(scratch, pack)) << pack;
}

// Without the version entry in CN_packed.kx the version is read from vemo_packed.kx; CN's patch
// brings the entry all the same, so CN waits as well when vemo could not be updated.
TEST(PackOutcomes, VersionFromVemoHoldsBackCNToo) {
  Scratch scratch(defaultRelease());
  const std::string cn = scratch.packPath(kCN);
  {
    RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(cn);
    ASSERT_TRUE(archive->eraseFileOrDirectory("scripts_config.xml"));
    ASSERT_TRUE(archive->createNewZip(cn, nullptr));
    archive->closeArchive();
  }
  fs::rename(cn + "temp", cn);
  scratch.setTableValue("2.650", "CN_packed.kx", getCRC32Value(cn).text());
  const std::string vemo = scratch.packPath(kVemo);
  const std::string cnBefore = readFile(cn);
  fs::create_directory(vemo + "temp");

  auto failed = scratch.run();
  EXPECT_EQ(failed.err, box("更新失败!", vemo + "文件更新失败!"));
  EXPECT_NE(scratch.runLog().find("read version success:" + vemo), std::string::npos);
  EXPECT_EQ(readFile(cn), cnBefore);
  EXPECT_NE(failed.out.find(kTitle + "->暂不更新CN_packed.kx, 请重新更新!\n"), std::string::npos);

  fs::remove(vemo + "temp");
  auto later = scratch.run();
  EXPECT_EQ(later.err, "");
  for (int pack = 0; pack < 6; ++pack) EXPECT_TRUE(isNew(scratch, pack)) << pack;
}
