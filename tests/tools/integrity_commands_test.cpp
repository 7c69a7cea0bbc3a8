// fingerprint, checktable and verify on the demo installations.
#include <gtest/gtest.h>

#include <filesystem>

#include "integrity/fingerprint.h"
#include "tests/tools/tool_fixture.h"

using namespace tool_test;

namespace fs = std::filesystem;

namespace {

TEST(Fingerprint, TakesTheInstallersKindByNameUnlessOneIsChosen) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string pack = demoRelease() + "/2.650/qdres_packed.kx";
  const std::string vemo = demoRelease() + "/2.650/vemo_packed.kx";
  struct Case {
    std::vector<std::string> words;
    std::string expected;
  };
  const Case cases[] = {
      {{"fingerprint", pack}, getSizeCRC32Value(pack).text() + "  " + pack + "\n"},
      {{"fingerprint", vemo}, getCRC32Value(vemo).text() + "  " + vemo + "\n"},
      {{"fingerprint", "--crc", pack}, getCRC32Value(pack).text() + "  " + pack + "\n"},
      {{"fingerprint", "--size", pack, vemo},
       getFileSizeValue(pack).text() + "  " + pack + "\n" + getFileSizeValue(vemo).text() + "  " +
           vemo + "\n"},
      {{"fingerprint", "--sizecrc", vemo}, getFileSizeValue(vemo).text() + "  " + vemo + "\n"},
  };
  for (const Case& c : cases) {
    ToolResult result = runTool(c.words);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, c.expected);
  }
  EXPECT_EQ(runTool({"fingerprint", "--crc", "--size", pack}).code, 2);
  ToolResult missing = runTool({"fingerprint", vemo, "missing.kx"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, getCRC32Value(vemo).text() + "  " + vemo + "\n");
  writeFile(dir / "big.kx", "");
  fs::resize_file(dir / "big.kx", uint64_t{1} << 31);
  EXPECT_EQ(runTool({"fingerprint", "big.kx"}).err,
            "kxtool fingerprint: big.kx is too large (2147483648 bytes)\n");
}

TEST(Fingerprint, DrawsProgressOnATerminalAndWipesItBeforeTheValue) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  writeFile(dir / "big.kx", "");
  fs::resize_file(dir / "big.kx", uint64_t{64} << 20);
  std::ostringstream out, err;
  kxtool::ToolIo terminal{out, err, "", true};
  ASSERT_EQ(kxtool::run({"fingerprint", "--crc", "big.kx"}, terminal), 0) << err.str();
  const std::string shown = out.str();
  EXPECT_NE(shown.find("big.kx [" + std::string(30, '#') + "] 100%"), std::string::npos);
  EXPECT_EQ(shown.substr(shown.rfind('\r') + 1), getCRC32Value("big.kx").text() + "  big.kx\n");
}

// A sampled value that fell back to the size alone because a window could not be read would
// make every run refuse the intact pack; the tools take it for the read failure it is.
TEST(Fingerprint, ASampledValueWithoutItsCrcIsAReadFailure) {
  const int64_t large = kSampledCrcMinBytes;
  const std::string largeText = std::to_string(large);
  struct Case {
    std::string value;
    int64_t size;
    bool whole;
  } cases[] = {
      {largeText + "0123abcd", large, true},
      {largeText + "01234567", large, true},  // digits only, yet size and CRC
      {largeText, large, false},
      {"3145727", large - 1, true},  // below the sampled size the size alone is the value
      {kFileNotExist, large, true},
      {kReadDataFailed, large, true},
      {kFileTooLarge, large, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(release::sizeCrcValueIsWhole(c.value, c.size), c.whole) << c.value;
}

TEST(Checktable, MakesTheBlockTheDemoTableCarries) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const std::string table = readFile(demoRelease() + "/payload/MD5.txt");
  for (const char* version : {"2.650", "2.651"}) {
    ToolResult result = runTool({"checktable", demoRelease() + "/" + version, version});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(table.find(result.out), std::string::npos) << result.out;
  }
  ASSERT_EQ(runTool({"checktable", demoRelease() + "/2.650", "2.650", "-o", "block.txt"}).code, 0);
  EXPECT_EQ(readFile(dir / "block.txt").rfind("<mox2.650>\n\t<Halvoreen\\gameRes_packed.kx>", 0), 0u);
  // A second run would silently replace the block with another version's.
  ToolResult again = runTool({"checktable", demoRelease() + "/2.651", "2.651", "-o", "block.txt"});
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
  EXPECT_EQ(readFile(dir / "block.txt").rfind("<mox2.650>", 0), 0u);
  EXPECT_EQ(runTool({"checktable", demoRelease() + "/2.651", "2.651", "-o", "block.txt", "--force"})
                .code,
            0);
  EXPECT_EQ(readFile(dir / "block.txt").rfind("<mox2.651>", 0), 0u);
  EXPECT_EQ(runTool({"checktable", dir.path(), "2.650"}).code, 1);
  EXPECT_EQ(runTool({"checktable", demoRelease() + "/2.650", "2<6"}).code, 1);
}

TEST(Verify, TellsOldNewDamagedAndMissing) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  fs::copy(demoRelease() + "/2.650", dir / "game", fs::copy_options::recursive);
  fs::remove(dir / "game/CN_packed.kx");
  fs::copy_file(demoRelease() + "/2.651/CN_packed.kx", dir / "game/CN_packed.kx");
  std::string vemo = readFile(dir / "game/vemo_packed.kx");
  vemo[100] ^= 1;
  writeFile(dir / "game/vemo_packed.kx", vemo);
  fs::remove(dir / "game/bin/mox.exe");
  const std::string table = demoRelease() + "/payload/MD5.txt";

  ToolResult result = runTool({"verify", "game", table, "2.650", "2.651"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.out.find("new      gameRes_packed.kx "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("old      qdres_packed.kx "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("new      CN_packed.kx "), std::string::npos);
  EXPECT_NE(result.out.find("damaged  vemo_packed.kx "), std::string::npos);
  EXPECT_NE(result.out.find("missing  bin/mox.exe"), std::string::npos);
  EXPECT_EQ(result.err, "kxtool verify: 1 damaged, 1 missing in game\n");

  // A half-updated installation fails unless files at FROM are asked to pass.
  ToolResult old = runTool({"verify", demoRelease() + "/2.650", table, "2.650", "2.651"});
  EXPECT_EQ(old.code, 1);
  EXPECT_NE(old.out.find("old      vemo_packed.kx "), std::string::npos) << old.out;
  EXPECT_NE(old.out.find("2 at 2.651, 5 at 2.650, 0 damaged, 0 missing"), std::string::npos);
  EXPECT_NE(old.err.find("5 of 7 files still at 2.650"), std::string::npos) << old.err;
  EXPECT_EQ(
      runTool({"verify", demoRelease() + "/2.650", table, "2.650", "2.651", "--allow-old"}).code,
      0);
  EXPECT_EQ(runTool({"verify", demoRelease() + "/2.651", table, "2.650", "2.651"}).code, 0);

  ToolResult noBlock = runTool({"verify", "game", table, "2.649", "2.651"});
  EXPECT_EQ(noBlock.code, 1);
  EXPECT_NE(noBlock.err.find("has no block for version 2.649"), std::string::npos);
}

}  // namespace
