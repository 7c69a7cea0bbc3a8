// The demo release: its shape, the committed payload made from it, and the installer run on it.
#include <gtest/gtest.h>

#include <cstring>

#include <filesystem>

#include "archive/kx_file_system.h"
#include "integrity/check_table.h"
#include "integrity/fingerprint.h"
#include "integrity/results_table.h"
#include "sections/section_factory.h"
#include "tests/tools/tool_fixture.h"

using namespace tool_test;

namespace fs = std::filesystem;

namespace {

std::string versionIn(const std::string& packedConfig) {
  SectionRef section = sectionFromBlock(
      "script_config", BinaryBlock::fromString(packedConfig, kDataSectionLabel), true);
  return section ? section->readText("version", "") : "";
}

TEST(DemoRelease, HasTheShapeOfTheShippedRelease) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string demo = demoRelease();
  size_t entries = 0;
  for (const GamePack& each : kGamePacks) {
    const std::string pack = demo + "/2.650/" + each.name;
    if (each.group == PackGroup::SampledCrc) {
      EXPECT_GE(fs::file_size(pack), 4u << 20) << pack;
    }
    entries += entriesOf(pack).size();
  }
  EXPECT_GE(entries, 300u);
  EXPECT_EQ(versionIn(entriesOf(demo + "/2.650/CN_packed.kx")["scripts_config.xml"]), "2.650");

  // gameRes and kxres do not change; qdres and res lose, gain and change a texture each.
  for (const char* unchanged : {"gameRes_packedTemp.kx", "kxres_packedTemp.kx"})
    EXPECT_EQ(fs::file_size(demo + "/payload/" + unchanged), 22u);
  for (const char* large : {"qdres_packedTemp.kx", "res_packedTemp.kx"}) {
    auto patchEntries = entriesOf(demo + "/payload/" + large);
    EXPECT_EQ(patchEntries.size(), 3u) << large;
    EXPECT_EQ(patchEntries["textures/desert/tex_2.dds"], "") << large;  // the delete marker
    EXPECT_EQ(patchEntries["textures/sky/tex_2651.dds"].size(), 4u + 120 * 1024) << large;
  }
  // The new version travels as a delta of the old configuration; applied, it reads 2.651.
  for (const char* pack : {"vemo_packed.kx", "CN_packed.kx"}) {
    const std::string patch = demo + "/payload/" + std::string(pack, std::strlen(pack) - 3) +
                              "Temp.kx";
    KXFileSystemRef archive = makeRef<KXFileSystem>(patch);
    for (const ArchiveFile& record : archive->records()) {
#ifndef _WIN32  // the delta encoder runs on the release machine alone
      if (record.name == "scripts_config.xml") {
        EXPECT_EQ(record.entry_.compressionMethod, kMethodDelta) << patch;
      }
#else
      EXPECT_NE(record.entry_.compressionMethod, kMethodDelta) << patch;
#endif
    }
    archive->closeArchive();
    fs::copy_file(demo + "/2.650/" + pack, dir / pack);
    ASSERT_EQ(runTool({"apply", pack, patch}).code, 0) << pack;
    EXPECT_EQ(versionIn(entriesOf(pack)["scripts_config.xml"]), "2.651") << pack;
  }
  EXPECT_EQ(entriesOf(demo + "/payload/vemo_packedTemp.kx").size(), 5u);
  EXPECT_EQ(entriesOf(demo + "/payload/CN_packedTemp.kx").size(), 2u);

  // Newest first, the two real blocks ahead of the older ones, then the two other blocks.
  const std::string table = readFile(demo + "/payload/MD5.txt");
  const size_t at2651 = table.find("<mox2.651>"), at2650 = table.find("<mox2.650>");
  EXPECT_EQ(at2651, 0u);
  EXPECT_LT(at2650, table.find("<mox2.642>"));
  EXPECT_LT(table.find("<mox0.885>"), table.find("<MiniCheck>"));
  EXPECT_LT(table.find("<MiniCheck>"), table.find("<PackCheck>"));
  EXPECT_NE(table.find("<2.642-2.650Pack.exe>"), std::string::npos);
  EXPECT_EQ(getCheckValue(table, "mox2.650", "Halvoreen\\CN_packed.kx"),
            getCRC32Value(demo + "/2.650/CN_packed.kx").text());
  EXPECT_EQ(getCheckValue(table, "mox2.651", "Halvoreen\\res_packed.kx"),
            getSizeCRC32Value(demo + "/2.651/res_packed.kx").text());
  EXPECT_EQ(getCheckValue(table, "mox1.050", "Halvoreen\\kxres_packed.kx"), kSearchStartNotFound);
  EXPECT_EQ(readFile(demo + "/2.651/bin/MD5.txt"), table);

  // Every file the installer writes, with the new file's size and CRC of every byte: the packs
  // with a patch, the loose files written (not the deleted one).
  const std::string text = readFile(demo + "/payload/Results.txt");
  ResultsTable results;
  ResultsError error;
  ASSERT_TRUE(decodeResults(text.data(), text.size(), results, error)) << error.line;
  EXPECT_EQ(results.from + " " + results.to, "2.650 2.651");
  std::vector<std::string> names;
  for (const auto& record : results.records()) names.push_back(record.first);
  EXPECT_EQ(names, (std::vector<std::string>{"CN_packed.kx", "bin\\mox.exe",
                                             "cache\\shaders\\ui.cache", "qdres_packed.kx",
                                             "res_packed.kx", "vemo_packed.kx"}));
  for (const char* file : {"res_packed.kx", "bin/mox.exe", "cache/shaders/ui.cache"}) {
    const std::string bytes = readFile(demo + "/2.651/" + file);
    const ExpectedResult* recorded = results.find(resultPath(file));
    ASSERT_NE(recorded, nullptr) << file;
    EXPECT_EQ(resultText(*recorded),
              std::to_string(bytes.size()) + " " + getBufferCRC32Value(bytes.data(), bytes.size()))
        << file;
  }
}

TEST(DemoRelease, IsTheCommittedPayloadByteForByte) {
  for (const std::string& file : payloadFiles()) {
#ifdef _WIN32
    // Made on Windows, the demo carries these two patches' entries whole (no delta encoder).
    if (file == "vemo_packedTemp.kx" || file == "CN_packedTemp.kx") continue;
#endif
    const std::string committed = std::string(KXPATCH_SOURCE_DIR) + "/resources/" + file;
    ASSERT_TRUE(testing_support::fileExists(committed)) << committed;
    EXPECT_TRUE(readFile(committed) == readFile(demoRelease() + "/payload/" + file)) << file;
  }
}

}  // namespace
