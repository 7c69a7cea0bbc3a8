// The journal a run keeps while the installation may read as the new version with files still
// old: a later run of the same update finishes from it, whatever else lies under its name is
// left alone.
#include <filesystem>

#include <gtest/gtest.h>

#include "app/journal.h"
#include "integrity/game_packs.h"
#include "tests/app/installer_harness.h"

using namespace installer_test;

namespace {

namespace fs = std::filesystem;

// Every file of `folder` but the logs, by relative path.
std::map<std::string, std::string> filesOf(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = fs::relative(entry.path(), folder).generic_string();
    if (entry.is_regular_file() && entry.path().extension() != ".log")
      files[relative] = readFile(entry.path().string());
  }
  return files;
}

TEST(Journal, OnlyThisUpdatesJournalIsOurs) {
  const std::string ours = encodeJournal("2.650", "2.651");
  struct Case {
    const char* what;
    std::string bytes;  // written under the journal's name; "<folder>" makes a folder there
    JournalFound found;
  };
  const Case cases[] = {
      {"this update's", ours, JournalFound::Ours},
      {"the update before", encodeJournal("2.649", "2.650"), JournalFound::Other},
      {"the update after", encodeJournal("2.651", "2.652"), JournalFound::Other},
      {"cut short", ours.substr(0, ours.size() - 1), JournalFound::Other},
      {"with more after it", ours + "to=2.651\n", JournalFound::Other},
      {"empty", "", JournalFound::Other},
      {"a folder", "<folder>", JournalFound::Other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::TempDir dir;
    const std::string path = dir / kJournalName;
    if (c.bytes == "<folder>")
      fs::create_directory(path);
    else
      writeFile(path, c.bytes);
    EXPECT_EQ(findJournal(dir.path()), c.found);
  }
  testing_support::TempDir empty;
  EXPECT_EQ(findJournal(empty.path()), JournalFound::None);
}

// The state a run cut short between CN's swap and vemo's leaves: the installation reads as the
// new version, vemo is old, its rewrite and the old CN lie beside it. Without the journal the
// run refuses the version; with it, it finishes the update and tidies up.
TEST(Journal, RunFinishesAnUpdateThatAlreadyReadsAsTheNewVersion) {
  for (bool withJournal : {false, true}) {
    SCOPED_TRACE(withJournal ? "journal" : "no journal");
    Scratch scratch(defaultRelease());
    const std::string cn = scratch.packPath(5);
    fs::copy_file(cn, cn + "old");
    fs::copy_file(scratch.releaseDir() + "/2.651/CN_packed.kx", cn,
                  fs::copy_options::overwrite_existing);
    writeFile(scratch.packPath(4) + "temp", "half of a rewritten pack");
    if (withJournal) writeFile(scratch.game() + "/" + kJournalName, encodeJournal("2.650", "2.651"));
    const auto before = filesOf(scratch.game());

    auto result = scratch.run();
    const std::string journal = scratch.game() + "/" + kJournalName;
    if (!withJournal) {
      EXPECT_EQ(result.err, box("本程序不适用于您当前版本",
                                "您当前版本为v2.651,本程序只适用于v2.650升级到v2.651"));
      EXPECT_EQ(filesOf(scratch.game()), before);
      continue;
    }
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(filesOf(scratch.game()), filesOf(scratch.releaseDir() + "/2.651"));
    EXPECT_TRUE(inOrder(lines(scratch.runLog()),
                        {kTitle + "->localVersion: 2.651, oldVersion: 2.650, newVersion: 2.651",
                         kTitle + "->finish the update begun before: " + journal,
                         kTitle + "->update successful: vemo_packed.kx!", kSuccessLine}))
        << scratch.runLog();
  }
}

// The journal stays while a pack the release changes is still old, and only then: a damaged pack
// without changes cannot be finished by any later run and keeps none.
TEST(Journal, KeptOnlyWhileAPackWithChangesIsLeftOld) {
  const struct {
    int pack;
    bool kept;
  } cases[] = {{0, false}, {4, true}};  // qdres: no changes in this release; vemo: changes
  for (const auto& c : cases) {
    SCOPED_TRACE(kGamePacks[c.pack].name);
    Scratch scratch(defaultRelease());
    std::string bytes = readFile(scratch.packPath(c.pack));
    bytes[bytes.size() / 2] ^= 0x5A;
    writeFile(scratch.packPath(c.pack), bytes);
    auto result = scratch.run();
    EXPECT_NE(result.err.find("文件损坏，无法更新!"), std::string::npos) << result.err;
    EXPECT_EQ(fileExists(scratch.game() + "/" + kJournalName), c.kept);
  }
}

// Another release's installer was cut short and left its journal: this run neither takes it for
// its own nor writes over it, and says so.
TEST(Journal, JournalOfAnotherUpdateIsLeftAloneAndLogged) {
  Scratch scratch(defaultRelease());
  const std::string journal = scratch.game() + "/" + kJournalName;
  const std::string other = encodeJournal("2.649", "2.650");
  writeFile(journal, other);
  auto result = scratch.run();
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(readFile(journal), other);
  EXPECT_NE(scratch.runLog().find(kTitle + "->leave alone " + journal +
                                  ", not a journal of 2.650 to 2.651\n"),
            std::string::npos);
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
}

}  // namespace
