// Every pack, every way its update can fail, with the installed version read from CN_packed.kx
// or from vemo_packed.kx. After the failed run every pack is byte for byte its old or its new
// version; once the fault is gone, the run the player is asked for brings every file to the new
// version.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/kx_file_system.h"
#include "integrity/fingerprint.h"
#include "tests/reliability/installer_runs.h"

using namespace reliability;
using installer_test::setTableValue;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

namespace fs = std::filesystem;

constexpr int kVemo = 4;
constexpr int kCN = 5;

enum class Fault { Missing, Damaged, UnreadablePatch, UnreadablePack, WriteFails, SwapFails,
                   SwapFailsWithoutLinks, SwapAndPutBackFail, ResultFailsItsCheck,
                   OldEntryDiffers };
enum class VersionIn { CN, Vemo };

struct Scenario {
  const char* name;
  Fault fault;
  VersionIn version;
  int onlyPack = -1;  // the fault concerns one pack alone; -1: every pack in turn
  bool delta = false;  // the release carries its replaced entries as deltas
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

// Every pack changes, so that every position has something to lose.
const std::string& faultRelease(bool delta) {
  release::TestReleaseOptions options;
  options.changedPacks = {0, 1, 2, 3, kVemo, kCN};
  options.binEntries = {{"mox.exe", "game executable 2.651\n"}};
  options.delta = delta;
  return releaseFor(delta ? "pack-faults-delta" : "pack-faults", options);
}

// The name of the first delta record of the patch archive at `patch`, or "".
std::string firstDeltaEntry(const std::string& patch) {
  KXFileSystemRef archive = makeRef<KXFileSystem>(patch);
  std::string name;
  for (const ArchiveFile& record : archive->records())
    if (name.empty() && record.entry_.compressionMethod == kMethodDelta) name = record.name;
  archive->closeArchive();
  return name;
}

bool isLog(const std::string& relative) {
  return relative == "bin/updater.log" || relative == "bin/pack.log";
}

std::string packFingerprint(int pack, const std::string& path) {
  return pack >= kVemo ? getCRC32Value(path).text() : getSizeCRC32Value(path).text();
}

class PackFaults : public ::testing::TestWithParam<Scenario> {
 protected:
  // Puts the fault in place for `pack`; returns the options the failing run needs.
  static RunOptions inject(Fault fault, int pack, Installation& installation,
                           const std::string& table) {
    const std::string path = installation.packPath(pack);
    const std::string patch = installation.payload() + "/" + kGamePacks[pack].patchName;
    RunOptions options;
    std::string bytes = fileExists(path) ? readFile(path) : std::string();
    switch (fault) {
      case Fault::Missing:
        fs::remove(path);
        break;
      case Fault::Damaged:
        bytes[bytes.size() / 2] ^= 0x5A;
        writeFile(path, bytes);
        break;
      case Fault::UnreadablePatch: {
        std::string patchBytes = readFile(patch);
        patchBytes[patchBytes.size() - 22] ^= 0x5A;
        writeFile(patch, patchBytes);
        break;
      }
      case Fault::UnreadablePack:  // passes its check, but its directory no longer reads
        bytes[bytes.size() - 22] ^= 0x5A;
        writeFile(path, bytes);
        setTableValue(table, "2.650", kGamePacks[pack].name, packFingerprint(pack, path));
        break;
      case Fault::WriteFails:
        options.failCreate = path + "temp";
        break;
      case Fault::SwapFails:
        options.failReplace = path;
        break;
      case Fault::SwapFailsWithoutLinks:  // the old CN is then kept as a copy, not a link
        options.failReplace = path;
        options.noLinks = true;
        break;
      case Fault::SwapAndPutBackFail:  // vemo's swap fails after CN's, then so does CN's way back
        options.failReplace = path;
        options.failRenameFrom = installation.packPath(kCN) + "old";
        break;
      case Fault::ResultFailsItsCheck:
        setTableValue(table, "2.651", kGamePacks[pack].name, "0badc0de");
        break;
      case Fault::OldEntryDiffers: {
        // One byte of the entry a delta rebuilds differs from the release's OLD, in a pack
        // that still passes its check: the delta must not apply, and nothing is guessed.
        const std::string name = firstDeltaEntry(patch);
        EXPECT_NE(name, "") << "the release carries a delta for " << kGamePacks[pack].name;
        std::vector<release::NamedContent> entries = release::readArchive(path);
        for (release::NamedContent& entry : entries)
          if (entry.first == name) entry.second[entry.second.size() / 2] ^= 0x01;
        EXPECT_TRUE(release::writeArchive(path, entries));
        setTableValue(table, "2.650", kGamePacks[pack].name, packFingerprint(pack, path));
        break;
      }
    }
    return options;
  }
};

TEST_P(PackFaults, EveryPackIsOldOrNewAndTheRerunFinishes) {
  const Scenario& scenario = GetParam();
  const std::string& releaseDir = faultRelease(scenario.delta);
  Tree expected = readTree(releaseDir + "/2.651");
  expected.erase("bin/MD5.txt");  // the run writes the table it carries; checked on its own
  for (int pack = 0; pack < 6; ++pack) {
    if (scenario.onlyPack >= 0 && pack != scenario.onlyPack) continue;
    SCOPED_TRACE(kGamePacks[pack].name);
    Installation installation(releaseDir);
    installation.usePrivatePayload();
    const std::string table = installation.payload() + "/MD5.txt";
    const std::string patch = installation.payload() + "/" + kGamePacks[pack].patchName;
    if (scenario.version == VersionIn::Vemo) moveVersionToVemo(installation.game(), table);
    const std::string tableBefore = readFile(table);
    const std::string patchBefore = readFile(patch);
    std::string intact[6];
    for (int i = 0; i < 6; ++i) intact[i] = readFile(installation.packPath(i));

    const RunOptions options = inject(scenario.fault, pack, installation, table);
    std::string before[6];  // as the failing run finds them; absent: "<absent>"
    for (int i = 0; i < 6; ++i) {
      const std::string path = installation.packPath(i);
      before[i] = fileExists(path) ? readFile(path) : std::string("<absent>");
    }
    const Outcome failed = installation.run(options);
    ASSERT_TRUE(failed.exited) << "signal " << failed.signal;
    EXPECT_NE(failed.err, "") << "the failure is reported";
    for (int i = 0; i < 6; ++i) {
      const std::string path = installation.packPath(i);
      const std::string now = fileExists(path) ? readFile(path) : std::string("<absent>");
      EXPECT_TRUE(now == before[i] || now == expected[kGamePacks[i].name])
          << kGamePacks[i].name << " is neither version";
      EXPECT_FALSE(fileExists(path + "temp")) << kGamePacks[i].name;
      EXPECT_FALSE(fileExists(path + "old")) << kGamePacks[i].name;
    }
    EXPECT_EQ(installation.runLog().find("--------update successful"), std::string::npos);
    if (scenario.fault == Fault::SwapFails || scenario.fault == Fault::SwapFailsWithoutLinks) {
      // A failed update with the rerun advice, not a "created" pack failing its check.
      const std::string name = kGamePacks[pack].name;
      EXPECT_NE(failed.out.find("->更新" + name + "失败, 请重新更新!\n"), std::string::npos)
          << failed.out;
      EXPECT_EQ(installation.runLog().find("->create successful: " + name), std::string::npos);
      EXPECT_EQ(installation.runLog().find("->create file: " + name), std::string::npos);
    }

    if (scenario.fault == Fault::SwapAndPutBackFail) {
      // The installation now reads as the new version with vemo still old: only the journal
      // lets the rerun in.
      EXPECT_EQ(readFile(installation.packPath(kCN)), expected[kGamePacks[kCN].name]);
      EXPECT_EQ(readFile(installation.packPath(kVemo)), intact[kVemo]);
      EXPECT_NE(installation.runLog().find("->can not put back "), std::string::npos);
      EXPECT_TRUE(fileExists(installation.game() + "/packUpdate.journal"));
    }
    if (scenario.fault == Fault::OldEntryDiffers) {
      // The texts of a rewrite that fails its check, with the upload; never "updated".
      const std::string name = kGamePacks[pack].name;
      EXPECT_NE(failed.out.find("->更新" + name + "失败!\n"), std::string::npos) << failed.out;
      EXPECT_EQ(readFile(installation.packPath(pack)), before[pack]) << "the old pack is kept";
      EXPECT_NE(installation.runLog().find("KXFileSystem::mergePatch the installed entry is not "
                                           "the one the delta was made from: " +
                                           firstDeltaEntry(patch)),
                std::string::npos)
          << installation.runLog();
    }

    // The player restores the pack (or the fault goes away) and runs the installer again.
    writeFile(installation.packPath(pack), intact[pack]);
    writeFile(table, tableBefore);
    writeFile(patch, patchBefore);
    const Outcome rerun = installation.run();
    ASSERT_TRUE(rerun.exited) << "signal " << rerun.signal;
    EXPECT_EQ(rerun.err, "") << installation.runLog();
    Tree after = readTree(installation.game());
    EXPECT_EQ(after["bin/MD5.txt"], tableBefore);
    for (auto it = after.begin(); it != after.end();)
      it = isLog(it->first) || it->first == "bin/MD5.txt" ? after.erase(it) : ++it;
    for (const auto& file : expected)
      EXPECT_TRUE(after.count(file.first) && after[file.first] == file.second)
          << file.first << " is not at 2.651 after the rerun";
    EXPECT_EQ(after.size(), expected.size()) << "something was left behind";
  }
}

const Scenario kScenarios[] = {
    {"MissingVersionInCN", Fault::Missing, VersionIn::CN},
    {"MissingVersionInVemo", Fault::Missing, VersionIn::Vemo},
    {"DamagedVersionInCN", Fault::Damaged, VersionIn::CN},
    {"DamagedVersionInVemo", Fault::Damaged, VersionIn::Vemo},
    {"UnreadablePatchVersionInCN", Fault::UnreadablePatch, VersionIn::CN},
    {"UnreadablePatchVersionInVemo", Fault::UnreadablePatch, VersionIn::Vemo},
    {"UnreadablePackVersionInCN", Fault::UnreadablePack, VersionIn::CN},
    {"UnreadablePackVersionInVemo", Fault::UnreadablePack, VersionIn::Vemo},
    {"WriteFailsVersionInCN", Fault::WriteFails, VersionIn::CN},
    {"WriteFailsVersionInVemo", Fault::WriteFails, VersionIn::Vemo},
    {"SwapFailsVersionInCN", Fault::SwapFails, VersionIn::CN},
    {"SwapFailsVersionInVemo", Fault::SwapFails, VersionIn::Vemo},
    {"SwapFailsWithoutLinksVersionInVemo", Fault::SwapFailsWithoutLinks, VersionIn::Vemo},
    {"SwapAndPutBackFailVersionInVemo", Fault::SwapAndPutBackFail, VersionIn::Vemo, kVemo},
    {"ResultFailsItsCheckVersionInCN", Fault::ResultFailsItsCheck, VersionIn::CN},
    {"ResultFailsItsCheckVersionInVemo", Fault::ResultFailsItsCheck, VersionIn::Vemo},
    // The same run on a release whose replaced entries travel as deltas.
    {"OldEntryDiffersVersionInCN", Fault::OldEntryDiffers, VersionIn::CN, -1, true},
    {"OldEntryDiffersVersionInVemo", Fault::OldEntryDiffers, VersionIn::Vemo, -1, true},
    {"DeltaReleaseWriteFailsVersionInCN", Fault::WriteFails, VersionIn::CN, -1, true},
    {"DeltaReleaseResultFailsItsCheckVersionInVemo", Fault::ResultFailsItsCheck,
     VersionIn::Vemo, -1, true},
};

INSTANTIATE_TEST_SUITE_P(AtEveryPack, PackFaults, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

namespace {

// Without its journal a run cut short after CN's swap could not be finished, so a journal that
// cannot be written ends the run before anything the installer updates is touched, and the
// payload archives go with it.
TEST(RunFaults, JournalThatCannotBeWrittenEndsTheRunBeforeAnyChange) {
  const std::string& releaseDir = faultRelease(false);
  Installation installation(releaseDir);
  RunOptions options;
  options.failCreate = installation.game() + "/packUpdate.journaltemp";
  const Outcome failed = installation.run(options);
  ASSERT_TRUE(failed.exited) << "signal " << failed.signal;
  EXPECT_EQ(failed.err,
            box("您没有写权限", "您在" + installation.game() + "没有写权限，程序无法运行!"));
  EXPECT_NE(installation.runLog().find("->packUpdate.journal can not write in!"),
            std::string::npos);
  auto untouched = [](Tree tree) {  // what the run may write before its journal: logs, table
    for (auto it = tree.begin(); it != tree.end();)
      it = isLog(it->first) || it->first == "bin/MD5.txt" ? tree.erase(it) : ++it;
    return tree;
  };
  EXPECT_EQ(untouched(readTree(installation.game())), untouched(readTree(releaseDir + "/2.650")));
}

}  // namespace
