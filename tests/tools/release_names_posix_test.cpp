// kxtool release and the names of loose files: every name a Windows volume in the players' code
// page cannot hold, or holds as another file, and every file the installer needs or uses for
// itself, refused with the file's name; harmless names shipped. POSIX only: most of these names
// cannot even be made on a Windows volume, which is the point.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/tools/tool_fixture.h"

using namespace tool_test;

namespace fs = std::filesystem;

namespace {

// The demo installations under `dir`: packs linked (never written here), bin and cache copied.
void copyDemo(const TempDir& dir) {
  for (const char* side : {"2.650", "2.651"}) {
    const std::string to = dir / (std::string(side) == "2.650" ? "old" : "new");
    fs::copy(demoRelease() + "/" + side, to,
             fs::copy_options::recursive | fs::copy_options::create_hard_links);
    for (const char* folder : {"bin", "cache"}) {
      fs::remove_all(to + "/" + folder);
      fs::copy(demoRelease() + "/" + side + "/" + folder, to + "/" + folder,
               fs::copy_options::recursive);
    }
  }
  fs::remove(dir / "new/bin/MD5.txt");
}

TEST(ReleaseNames, RefusesEachNameWindowsOrTheInstallerCannotTakeNamingTheFile) {
  using Prepare = std::function<void(const std::string& old, const std::string& fresh)>;
  auto add = [](std::string name) -> Prepare {
    return [name](const std::string&, const std::string& fresh) {
      writeFile(fresh + "/" + name, "new content");
    };
  };
  struct Case {
    const char* mistake;
    Prepare prepare;
    std::string named;  // what the message must hold
  };
  const Case cases[] = {
      {"two names one file on Windows", add("cache/Fonts.cache"), "cache/fonts.cache: the same"},
      {"a file and a folder one name on Windows", add("cache/Shaders"), "cache/Shaders: the same"},
      {"a deleted OLD file NEW has in other case", add("cache/Obsolete.cache"),
       "cache/obsolete.cache: deleted by this release, but NEW has cache/Obsolete.cache"},
      {"colon", add("cache/a:b.cache"), "cache/a:b.cache: the name holds the character :"},
      {"question mark", add("cache/why?.cache"), "cache/why?.cache"},
      {"star", add("cache/*.cache"), "cache/*.cache"},
      {"angle brackets", add("cache/<a>.cache"), "cache/<a>.cache"},
      {"pipe", add("cache/a|b.cache"), "cache/a|b.cache"},
      {"quote", add("cache/\"q\".cache"), "cache/\"q\".cache"},
      {"backslash", add("cache/a\\b.cache"), "cache/a\\b.cache"},
      {"line break", add("cache/two\nlines.cache"), "cache/two\\x0Alines.cache: the name holds a control"},
      {"in a folder's name",
       [](const std::string& old, const std::string& fresh) {
         testing_support::makeDirs(old + "/cache/a:b");
         testing_support::makeDirs(fresh + "/cache/a:b");
         writeFile(old + "/cache/a:b/x", "old");
         writeFile(fresh + "/cache/a:b/x", "new");
       },
       "cache/a:b/x: \"a:b\" holds the character :"},
      {"reserved name", add("cache/CON"), "cache/CON: the name is the reserved device name CON"},
      {"reserved name with an extension", add("bin/nul.txt"), "bin/nul.txt: the name is the reserved device name NUL"},
      {"reserved numbered name", add("cache/Com7.cache"), "cache/Com7.cache"},
      {"reserved printer name", add("cache/lpt1"), "cache/lpt1"},
      {"trailing dot", add("cache/fonts2.cache."), "cache/fonts2.cache.: the name ends in a dot"},
      {"trailing space", add("cache/fonts2.cache "), "cache/fonts2.cache : the name ends in a space"},
      {"a GBK character whose second byte is 0x5C", add("cache/\x81\x5C.cache"), "0x5C"},
      {"bytes that are not GBK", add("cache/\xFF.cache"), "is not GBK text"},
      {"the installer's table in other case", add("bin/md5.TXT"), "bin/md5.TXT: the installer writes"},
      {"the name the installer writes a file under first", add("cache/fonts.cacheTEMP"),
       "cache/fonts.cacheTEMP: the installer writes fonts.cache under this name"},
      {"the table's temporary name", add("bin/MD5.txttemp"), "bin/MD5.txttemp"},
      {"the installer's journal", add("cache/packUpdate.journal"), "cache/packUpdate.journal"},
      {"the kept pack's name", add("bin/CN_packed.kxold"), "bin/CN_packed.kxold"},
      {"a journal left in OLD",
       [](const std::string& old, const std::string&) { writeFile(old + "/packUpdate.journal", "j"); },
       "old/packUpdate.journal: a working file of the installer"},
      {"RakNet.dll deleted",
       [](const std::string&, const std::string& fresh) { fs::remove(fresh + "/bin/RakNet.dll"); },
       "new/bin/RakNet.dll: missing, so this release would delete it"},
      {"RakNet.dll emptied",
       [](const std::string&, const std::string& fresh) { writeFile(fresh + "/bin/RakNet.dll", ""); },
       "new/bin/RakNet.dll: empty"},
      {"RakNet.dll renamed in other case",
       [](const std::string&, const std::string& fresh) {
         fs::rename(fresh + "/bin/RakNet.dll", fresh + "/bin/raknet.dll");
       },
       "new/bin/RakNet.dll: missing"},
      {"mox.exe deleted",
       [](const std::string&, const std::string& fresh) { fs::remove(fresh + "/bin/mox.exe"); },
       "new/bin/mox.exe: missing, so this release would delete it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mistake);
    TempDir dir;
    ScopedCwd cwd(dir.path());
    copyDemo(dir);
    c.prepare(dir / "old", dir / "new");
    ToolResult result = runTool({"release", "old", "new", "-o", "payload"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find(c.named), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("rehearsing"), std::string::npos) << "refused only after the packs";
    EXPECT_FALSE(fs::exists(dir / "payload"));
  }
}

// Names Windows holds as they are, in new folders too: shipped, listed in the reports, the deletion named on the
// console, and the missing previous table a warning, not a refusal.
TEST(ReleaseNames, ShipsHarmlessNamesAndListsEveryChange) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  copyDemo(dir);
  const std::string gbk = "\xB5\xD8\xCD\xBC.cache";  // two GBK characters
  const std::vector<std::string> added = {"cache/with spaces.cache", "cache/" + gbk,
                                          "cache/shaders/temp.cache", "cache/CONSOLE.cache",
                                          "cache/com10.cache", "bin/update temp",
                                          "cache/new folder/" + gbk + "/deep.cache"};
  testing_support::makeDirs(dir / ("new/cache/new folder/" + gbk));
  for (const std::string& name : added) writeFile(dir / ("new/" + name), name);
  ToolResult result = runTool({"release", "old", "new", "-o", "payload", "--json", "changes.json",
                               "--changes", "changes.txt"});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("loose files (bin, cache): 7 added, 2 changed, 1 deleted\n"
                            "  deletes cache/obsolete.cache ("),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("every change by name: changes.txt (JSON: changes.json)"),
            std::string::npos);
  EXPECT_NE(result.err.find("warning: no --previous-table: MD5.txt holds only the 2.651 and 2.650 "
                            "blocks"),
            std::string::npos)
      << result.err;
  const std::map<std::string, std::string> bin = entriesOf(dir / "payload/binTemp.kx");
  const std::map<std::string, std::string> cache = entriesOf(dir / "payload/cacheTemp.kx");
  for (const std::string& name : added) {
    const bool inBin = name.rfind("bin/", 0) == 0;
    const std::string entry = name.substr(inBin ? 4 : 6);
    EXPECT_EQ((inBin ? bin : cache).count(entry), 1u) << name;
  }
  const std::string text = readFile(dir / "changes.txt");
  EXPECT_NE(text.find("  added    cache/" + gbk + "  "), std::string::npos) << text;
  EXPECT_NE(text.find("  deleted  cache/obsolete.cache  ("), std::string::npos) << text;
  const std::string json = readFile(dir / "changes.json");
  EXPECT_NE(json.find("{\"name\": \"\\u5730\\u56fe.cache\", \"oldSize\": null, \"newSize\": 16}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"folder\": \"cache\""), std::string::npos);
}

}  // namespace
