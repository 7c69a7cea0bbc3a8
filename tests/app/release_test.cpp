// The release generator's patch archives and table blocks, and the payload test hook.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "app/payload.h"
#include "archive/kx_file_system.h"
#include "integrity/game_packs.h"
#include "tests/app/installer_harness.h"

using namespace installer_test;
using testing_support::hex;
using testing_support::ScopedCwd;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

TEST(PatchArchive, HoldsChangedAndAddedEntriesRawAndMarksDeletedOnes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string compressible(3000, 'c');
  ASSERT_TRUE(release::writeArchive(dir / "old.kx", {{"same.txt", compressible},
                                                    {"changed.txt", "before"},
                                                    {"gone/old.txt", "bye"}}));
  ASSERT_TRUE(release::writeArchive(dir / "new.kx", {{"same.txt", compressible},
                                                    {"changed.txt", "after, longer"},
                                                    {"added.bin", compressible + "!"}}));
  ASSERT_TRUE(release::makePatchArchive(dir / "old.kx", dir / "new.kx", dir / "patch.kx"));

  RefPtr<KXFileSystem> patch = makeRef<KXFileSystem>(dir / "patch.kx");
  RefPtr<KXFileSystem> fresh = makeRef<KXFileSystem>(dir / "new.kx");
  std::map<std::string, uint16_t> flags;
  for (const ArchiveFile& record : patch->records()) flags[record.name] = record.header_.flag;
  EXPECT_EQ(flags, (std::map<std::string, uint16_t>{
                       {"added.bin", 0}, {"changed.txt", 0}, {"gone/old.txt", kDeleteMarker}}));
  // Copied raw: the stored bytes are the new archive's, compressed form included.
  for (const char* name : {"added.bin", "changed.txt"}) {
    BlockRef inPatch = patch->readStored(name);
    BlockRef inNew = fresh->readStored(name);
    ASSERT_TRUE(inPatch && inNew);
    EXPECT_EQ(inPatch->asString(), inNew->asString()) << name;
  }
  EXPECT_EQ(patch->readFile("changed.txt")->asString(), "after, longer");
}

// By name the reader takes "p" for version 1 of "p" ("p 1"): the generator must compare and
// read each entry as itself, or a changed "p" next to an unchanged "p 1" is left out.
TEST(PatchArchive, EntriesShadowedByAVersionedNameAreComparedAsThemselves) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "old.kx", {{"p", "before"}, {"p 1", "same"}}));
  ASSERT_TRUE(release::writeArchive(dir / "new.kx", {{"p", "after"}, {"p 1", "same"}}));
  ASSERT_TRUE(release::makePatchArchive(dir / "old.kx", dir / "new.kx", dir / "patch.kx"));
  EXPECT_EQ(release::readArchive(dir / "patch.kx"),
            (std::vector<release::NamedContent>{{"p", "after"}}));
  EXPECT_EQ(release::readArchive(dir / "new.kx"),
            (std::vector<release::NamedContent>{{"p", "after"}, {"p 1", "same"}}));
}

TEST(PatchArchive, EqualPacksGiveTheEmptyArchive) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "a.kx", {{"x", "1"}, {"y/z", "2"}}));
  ASSERT_TRUE(release::writeArchive(dir / "b.kx", {{"y/z", "2"}, {"x", "1"}}));
  ASSERT_TRUE(release::makePatchArchive(dir / "a.kx", dir / "b.kx", dir / "patch.kx"));
  EXPECT_EQ(hex(readFile(dir / "patch.kx")), "00000000504b0506" + std::string(28, '0'));
}

TEST(CheckTableBlock, ListsEveryPackAndTheGameInTheTableForm) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string& made = defaultRelease();
  const std::string block = release::makeCheckTableBlock(made + "/2.650", "2.650");
  const auto rows = lines(block);
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[0], "<mox2.650>");
  EXPECT_EQ(rows[1].rfind("\t<Halvoreen\\gameRes_packed.kx>", 0), 0u);
  EXPECT_EQ(rows[7].rfind("\t<Halvoreen\\bin\\mox.exe>", 0), 0u);
  EXPECT_EQ(rows[8], "</mox2.650>");
  // The large packs carry size plus CRC: more than 8 characters, digits first.
  const std::string qdres = rows[2].substr(rows[2].find('>') + 1);
  EXPECT_GT(qdres.find('<'), 8u);
  // The payload's table starts with the new version's block.
  EXPECT_EQ(readFile(made + "/payload/MD5.txt").rfind("<mox2.651>\n", 0), 0u);
}

TEST(Payload, TestHookReadsTheFolderAndTerminatesTheCopy) {
  TempDir dir;
  writeFile(dir / "MD5.txt", "table");
  writeFile(dir / "binTemp.kx", "");
  ScopedEnv hook("KXPATCH_TEST_PAYLOAD_DIR", dir.path().c_str());
  const Payload table = loadPayload(kPayloadCheckTable);
  EXPECT_EQ(table.size, 5u);
  ASSERT_EQ(table.bytes.size(), 6u);
  EXPECT_EQ(std::string(table.bytes.data()), "table");
  const Payload empty = loadPayload(kLooseFolders[kBinFolder].payloadId);
  EXPECT_EQ(empty.size, 0u);
  const Payload absent = loadPayload(kGamePacks[kCNPack].payloadId);
  EXPECT_EQ(absent.size, 0u);
  EXPECT_TRUE(absent.bytes.empty());
}

// The build embeds the files cmake/Payload.cmake lists under their ids, and the installer asks
// for each by id (under the test hook, by the name it gives the id): a file on whose id or name
// the two disagree is embedded but never found. The ids are those the shipped installers carry.
TEST(Payload, TheBuildEmbedsEachFileUnderTheIdTheInstallerAsksFor) {
  const std::map<int, std::string> shipped = {
      {122, "qdres_packedTemp.kx"}, {123, "gameRes_packedTemp.kx"}, {124, "res_packedTemp.kx"},
      {125, "kxres_packedTemp.kx"}, {226, "vemo_packedTemp.kx"},    {228, "binTemp.kx"},
      {229, "cacheTemp.kx"},        {230, "CN_packedTemp.kx"},      {220, "MD5.txt"},
      {231, "Results.txt"}};
  TempDir dir;
  writeFile(dir / "list.cmake", "include(\"" KXPATCH_SOURCE_DIR "/cmake/Payload.cmake\")\n"
                                "message(\"${KXPATCH_PAYLOAD_FILES}\")\n");
  const testing_support::ProcessResult listed =
      testing_support::runProcess({KXPATCH_CMAKE, "-P", dir / "list.cmake"}, dir.path());
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::map<int, std::string> embedded;
  std::istringstream fields(listed.err.substr(0, listed.err.find('\n')));
  for (std::string id, file; std::getline(fields, id, ';') && std::getline(fields, file, ';');)
    embedded[std::stoi(id)] = file;
  EXPECT_EQ(embedded, shipped) << listed.err;
  for (const auto& [id, file] : shipped) EXPECT_EQ(payloadFileName(id), file) << id;
}

}  // namespace
