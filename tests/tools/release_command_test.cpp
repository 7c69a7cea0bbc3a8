// kxtool release on the demo installations: the payload it makes, and every release mistake it
// refuses before anything reaches the payload folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/tools/tool_fixture.h"
#include "tools/release/payload_release.h"

using namespace tool_test;

namespace fs = std::filesystem;

namespace {

// The table of the release before: the demo table without its 2.651 block.
std::string previousTable() {
  const std::string table = readFile(demoRelease() + "/payload/MD5.txt");
  return table.substr(table.find("<mox2.650>"));
}

// Rewrites one entry of a pack (the others keep their bytes: the archive library stores the
// same content the same way).
void replaceEntry(const std::string& pack, const std::string& name, const std::string& content) {
  std::vector<release::NamedContent> entries = release::readArchive(pack);
  bool found = false;
  for (release::NamedContent& entry : entries)
    if (entry.first == name) entry.second = content, found = true;
  if (!found) entries.emplace_back(name, content);
  ASSERT_TRUE(release::writeArchive(pack, entries));
}

TEST(Release, MakesTheDemoPayloadFromTheTwoInstallations) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  writeFile(dir / "previous.txt", previousTable());
  std::vector<std::string> args = {"release", demoRelease() + "/2.650", demoRelease() + "/2.651",
                                   "-o", "payload", "--previous-table", "previous.txt", "--to",
                                   "2.651"};
#ifndef _WIN32  // as the demo is made: with deltas where the encoder runs
  args.push_back("--delta");
#endif
  ToolResult result = runTool(args);
  ASSERT_EQ(result.code, 0) << result.err;
  for (const std::string& file : payloadFiles())
    EXPECT_TRUE(readFile(dir / (std::string("payload/") + file)) == readFile(demoRelease() + "/payload/" + file))
        << file;
  EXPECT_EQ(result.out.rfind("release 2.650 -> 2.651\n", 0), 0u) << result.out;
  EXPECT_NE(result.out.find("qdres_packed.kx              1       1        1        225688"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("vemo_packed.kx               3       1        1"), std::string::npos);
  EXPECT_NE(result.out.find("loose files (bin, cache): 0 added, 2 changed, 1 deleted"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "payload.partial"));
}

TEST(Release, VersionsAreComparedAsDecimals) {
  struct Case {
    const char* later;
    const char* earlier;
  } cases[] = {{"2.651", "2.650"}, {"2.7", "2.650"}, {"0.885", "0.81"}, {"10.0", "9.999"},
               {"1.051", "1.05"}};
  for (const Case& c : cases) {
    EXPECT_TRUE(release::isLaterVersion(c.later, c.earlier)) << c.later << " " << c.earlier;
    EXPECT_FALSE(release::isLaterVersion(c.earlier, c.later)) << c.earlier << " " << c.later;
  }
  EXPECT_FALSE(release::isLaterVersion("2.650", "2.650"));
  EXPECT_FALSE(release::isLaterVersion("2.650", "2.6500"));
}

// Each mistake that used to reach the installer unflagged, refused with the file and the reason
// and with nothing left in or beside the payload folder.
TEST(Release, RefusesEachReleaseMistakeBeforeWritingAnything) {
  struct Case {
    const char* mistake;
    std::function<void(const std::string& old, const std::string& fresh)> prepare;
    std::vector<std::string> extra;
    const char* expected;
    bool swapped;
  };
  const std::string table = previousTable();
  const Case cases[] = {
      {"NEW's configuration still reads 2.650",
       [](const std::string&, const std::string& fresh) {
         for (const char* pack : {"/CN_packed.kx", "/vemo_packed.kx"})
           replaceEntry(fresh + pack, "scripts_config.xml", release::makeScriptsConfig("2.650"));
       },
       {}, "reads as version 2.650, not newer than OLD", false},
      {"OLD and NEW swapped", nullptr, {}, "not newer than OLD", true},
      {"one configuration patch does not read NEW's version",
       [](const std::string&, const std::string& fresh) {
         replaceEntry(fresh + "/vemo_packed.kx", "scripts_config.xml",
                      release::makeScriptsConfig("2.650"));
       },
       {}, "vemo_packed.kx: scripts_config.xml reads version \"2.650\", not 2.651", false},
      {"--to names another version", nullptr, {"--to", "2.652"}, "not 2.652 as --to says", false},
      {"the previous table already has a 2.651 block",
       [](const std::string&, const std::string&) {
         writeFile("previous.txt", readFile(demoRelease() + "/payload/MD5.txt"));
       },
       {"--previous-table", "previous.txt"}, "a block <mox2.651>", false},
      {"the previous table has a block twice",
       [&table](const std::string&, const std::string&) {
         writeFile("previous.txt", table + "\n" + table.substr(table.find("<mox2.642>")));
       },
       {"--previous-table", "previous.txt"}, "two blocks <mox2.642>", false},
      {"OLD is not the installation the previous table recorded",
       [&table](const std::string& old, const std::string&) {
         writeFile("previous.txt", table);
         writeFile(old + "/bin/mox.exe", "a build players never had");
       },
       {"--previous-table", "previous.txt"}, "bin\\mox.exe has fingerprint", false},
      {"an entry of 100 MiB or more",
       [](const std::string&, const std::string& fresh) {
         writeFile(fresh + "/cache/movie.bik", std::string(100u << 20, 'm'));
       },
       {}, "movie.bik: 104857600 bytes; 100 MiB or more", false},
      {"a file diff cannot ship (an empty file)",
       [](const std::string&, const std::string& fresh) {
         writeFile(fresh + "/cache/fonts.cache", "");
       },
       {}, "fonts.cache: an empty file cannot be shipped", false},
      {"a changed file the installer does not carry",
       [](const std::string&, const std::string& fresh) {
         writeFile(fresh + "/launcher.ini", "[new]");
       },
       {}, "launcher.ini: new, but the installer carries only", false},
      {"a NEW pack whose bytes the installer's writer does not make",
       [](const std::string&, const std::string& fresh) {
         // A DOS time in the last directory record (after every entry, so not inside the
         // nested archive): the same entries, other bytes.
         std::string pack = readFile(fresh + "/gameRes_packed.kx");
         const size_t record = pack.rfind(std::string("PK\x01\x02", 4));
         ASSERT_NE(record, std::string::npos);
         pack[record + 4] = '\x21';
         writeFile(fresh + "/gameRes_packed.kx", pack);
       },
       {}, "gameRes_packed.kx: the installer makes a pack with NEW's entries but not NEW's bytes",
       false},
      {"a PAYLOAD inside NEW", nullptr, {"-o", "new/payload"}, "inside", false},
      {"a PAYLOAD that is not empty",
       [](const std::string&, const std::string&) { writeFile("payload/old.kx", "x"); },
       {}, "not an empty folder", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mistake);
    TempDir dir;
    ScopedCwd cwd(dir.path());
    fs::copy(demoRelease() + "/2.650", dir / "old", fs::copy_options::recursive);
    fs::copy(demoRelease() + "/2.651", dir / "new", fs::copy_options::recursive);
    fs::remove(dir / "new/bin/MD5.txt");
    fs::create_directory(dir / "payload");
    if (c.prepare) c.prepare(dir / "old", dir / "new");
    const std::string payloadBefore = readFile(dir / "payload/old.kx");
    std::vector<std::string> words = {"release", c.swapped ? "new" : "old",
                                      c.swapped ? "old" : "new", "-o", "payload"};
    words.insert(words.end(), c.extra.begin(), c.extra.end());
    ToolResult result = runTool(words);
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    size_t files = 0;
    for (const auto& file : fs::directory_iterator(dir / "payload")) files += file.exists();
    EXPECT_EQ(files, payloadBefore.empty() ? 0u : 1u);
    EXPECT_FALSE(fs::exists(dir / "payload.partial"));
  }
}

#ifdef KXPATCH_CMAKE
// The build refuses a payload folder that lacks a file: the installer would take the missing
// resource for a patch and blame the player's pack. Only the results table may be left out (the
// installer then checks with the check table alone).
TEST(Release, TheBuildRefusesAPayloadWithoutARequiredFile) {
  TempDir dir;
  fs::copy(demoRelease() + "/payload", dir / "payload");
  auto check = [&] {
    return testing_support::runProcess({KXPATCH_CMAKE, "-DKXPATCH_PAYLOAD_DIR=" + (dir / "payload"),
                                        "-P", std::string(KXPATCH_SOURCE_DIR) + "/cmake/Payload.cmake"},
                                       dir.path());
  };
  EXPECT_EQ(check().exitCode, 0);
  fs::remove(dir / "payload/Results.txt");
  EXPECT_EQ(check().exitCode, 0);
  fs::remove(dir / "payload/cacheTemp.kx");
  testing_support::ProcessResult missing = check();
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.err.find("payload/cacheTemp.kx"), std::string::npos) << missing.err;
}
#endif

}  // namespace
