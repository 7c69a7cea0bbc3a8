// The whole run, and the run log's account name, on input at the edges: an enormous check
// table, zero bytes in it, a preferences file of megabytes, installation paths near and over
// 260 characters, GBK names whose second byte is a backslash. Each run ends on its own with a
// defined result and never loses a pack.
#include <filesystem>

#include <gtest/gtest.h>

#include "report/log.h"
#include "tests/reliability/installer_runs.h"

using namespace reliability;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

const std::string kSuccessLine = "--------update successful，new version: v2.651--------";

const std::string& plainRelease() { return releaseFor("plain", {}); }

std::string lastLine(const std::string& log) {
  std::string text = log;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  const size_t at = text.rfind('\n');
  return at == std::string::npos ? text : text.substr(at + 1);
}

bool packsAre(const Installation& installation, const std::string& version) {
  for (int i = 0; i < 6; ++i)
    if (readFile(installation.packPath(i)) !=
        readFile(plainRelease() + "/" + version + "/" + kGamePacks[i].name))
      return false;
  return true;
}

TEST(RunHardening, CheckTableShapes) {
  const std::string table = readFile(plainRelease() + "/payload/MD5.txt");
  std::string older;
  while (older.size() < (48u << 20))
    older += "<mox0." + std::to_string(older.size()) +
             ">\n\t<Halvoreen\\CN_packed.kx>b7748241</Halvoreen\\CN_packed.kx>\n</mox0." +
             std::to_string(older.size()) + ">\n\n";
  const std::string nul(1, '\0');
  struct Case {
    const char* what;
    std::string table;
    bool updates;
  };
  const Case cases[] = {
      {"48 MiB of older blocks after the two asked for", table + "\n" + older, true},
      {"48 MiB of older blocks before them", older + table, true},
      {"zero byte and garbage after the table", table + nul + "\xff\xfe garbage", true},
      // The table is read as text up to its first zero byte: nothing is left to look up, so
      // every pack counts as damaged and stays as it is.
      {"zero byte before the table", nul + table, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Installation installation(plainRelease());
    installation.usePrivatePayload();
    writeFile(installation.payload() + "/MD5.txt", c.table);
    const Outcome outcome = installation.run();
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.code, 0);
    if (c.updates) {
      EXPECT_EQ(lastLine(installation.runLog()), kSuccessLine);
      EXPECT_TRUE(packsAre(installation, "2.651"));
    } else {
      EXPECT_TRUE(packsAre(installation, "2.650"));
      EXPECT_NE(outcome.err.find("qdres_packed.kx文件损坏，无法更新!"), std::string::npos)
          << outcome.err;
    }
  }
}

// The account name ends the failure details of the run log; it is found by byte search in a
// preferences file of any size and any bytes.
TEST(RunHardening, AccountNameFromLargeAndOddPreferences) {
  testing_support::TempDir config;
  testing_support::ScopedEnv home("XDG_CONFIG_HOME", config.path().c_str());
  std::filesystem::create_directories(config / "Brightfall/Halvoreen");
  const std::string path = config / "Brightfall/Halvoreen/preferences.xml";
  const std::string filler(6u << 20, 'x');
  const std::string nul(1, '\0');
  const std::string gbkName = "<accountName>\xD5\x5C\xB5\xC4</accountName>";
  struct Case {
    const char* what;
    std::string content;
    std::string expected;
  };
  const Case cases[] = {
      {"element after 6 MiB", "<root>" + filler + gbkName + "\n</root>", gbkName + "\n"},
      {"element before 6 MiB", gbkName + " " + filler, gbkName + " "},
      {"closing tag ends the file", filler + gbkName, gbkName},
      {"zero bytes before the element", nul + filler + nul + gbkName + "!", gbkName + "!"},
      {"no closing tag in 6 MiB", "<accountName>" + filler, ""},
      {"closing tag only before the opening one", "</accountName>" + filler + "<accountName>x",
       ""},
      {"no element", filler, ""},
  };
  for (const Case& c : cases) {
    writeFile(path, c.content);
    EXPECT_EQ(getAccountName(), c.expected) << c.what;
  }
}

TEST(RunHardening, AccountNameWithBackslashTrailByteReachesTheRunLog) {
  Installation installation(plainRelease());
  // A wrong new value for the CN pack makes its check after the rewrite fail, which logs the
  // details followed by the account name.
  installation.usePrivatePayload();
  std::string table = readFile(installation.payload() + "/MD5.txt");
  const std::string key = "<Halvoreen\\CN_packed.kx>";
  const size_t at = table.find(key);
  ASSERT_NE(at, std::string::npos);
  table.replace(at + key.size(), 8, "00000000");
  writeFile(installation.payload() + "/MD5.txt", table);
  const std::string account = "<accountName>\xD5\x5C\xD5\x5C</accountName>";
  installation.writePreferences(std::string(3u << 20, ' ') + account + "\r\n");

  const Outcome outcome = installation.run();
  ASSERT_TRUE(outcome.exited);
  EXPECT_NE(installation.runLog().find("->update failed : CN_packed.kx!\n" + account + "\r"),
            std::string::npos);
}

// Installation folders whose paths come near, reach and pass 260 characters: the run ends on
// its own, and every pack is one version or the other, never lost or half written.
TEST(RunHardening, InstallationPathsNearAndOver260Characters) {
  // The longest path the run writes is the pack's rewritten archive, the install folder plus
  // "/gameRes_packed.kxtemp" (23 characters).
  for (size_t longest : {250u, 259u, 260u, 275u, 320u}) {
    SCOPED_TRACE("longest path " + std::to_string(longest));
    Installation probe(plainRelease());
    const size_t rootLength = probe.root().size() + 1;
    const size_t installLength = longest - 23;
    ASSERT_GT(installLength, rootLength + 10);
    // Folders of at most 60 characters each, down to the wanted length.
    std::string relative;
    while (rootLength + relative.size() < installLength) {
      const size_t left = installLength - rootLength - relative.size();
      const size_t part = std::min<size_t>(left > 61 ? 60 : left - 1, 60);
      if (!relative.empty()) relative += "/";
      relative += std::string(part == 0 ? 1 : part, 'd');
    }
    Installation installation(plainRelease(), relative);
    ASSERT_EQ(installation.game().size(), installLength);
    const Outcome outcome = installation.run();
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.code, 0);
    for (int i = 0; i < 6; ++i) {
      const std::string bytes = readFile(installation.packPath(i));
      EXPECT_TRUE(bytes == readFile(plainRelease() + "/2.650/" + kGamePacks[i].name) ||
                  bytes == readFile(plainRelease() + "/2.651/" + kGamePacks[i].name))
          << kGamePacks[i].name;
    }
    if (longest < 260) {
      EXPECT_EQ(lastLine(installation.runLog()), kSuccessLine);
      EXPECT_TRUE(packsAre(installation, "2.651"));
    }
    // Nothing is written anywhere but inside the installation (no file under a path cut
    // short), apart from the harness's own folders.
    for (const auto& file : readTree(installation.root())) {
      const std::string& path = file.first;
      const bool inGame = path.compare(0, relative.size() + 1, relative + "/") == 0;
      const bool harness = path.compare(0, 6, "stdout") == 0 || path.compare(0, 6, "stderr") == 0 ||
                           path.compare(0, 4, "run/") == 0 || path.compare(0, 4, "tmp/") == 0 ||
                           path.compare(0, 7, "config/") == 0 || path.compare(0, 5, "home/") == 0;
      EXPECT_TRUE(inGame || harness) << path;
    }
  }
}

// The checked open of logs and fingerprinted files: up to 259 characters a path is opened as it
// is; a longer one is refused and logged, never opened cut short (which in "ab+" would create a
// file under the shortened name).
TEST(RunHardening, CheckedOpenRefusesPathsOver259Characters) {
  testing_support::TempDir dir;
  testing_support::ScopedCwd cwd(dir.path());
  const std::string folder = dir / std::string(200 - dir.path().size() - 1, 'f');
  std::filesystem::create_directories(folder);
  for (size_t length : {258u, 259u, 260u, 300u}) {
    SCOPED_TRACE(length);
    const std::string path = folder + "/" + std::string(length - folder.size() - 1, 'n');
    ASSERT_EQ(path.size(), length);
    bool notOpened = false;
    FILE* file = openFileChecked(path, "ab+", &notOpened);
    EXPECT_EQ(file != nullptr, length <= 259);
    EXPECT_EQ(notOpened, length > 259);
    if (file) std::fclose(file);
    size_t created = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      (void)entry;
      ++created;
    }
    EXPECT_EQ(created, length <= 259 ? 1u : 0u);
    if (length > 259) {
      EXPECT_NE(readFile(dir / "updater.log").find(path + " does not exist!"), std::string::npos);
    }
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
}

TEST(RunHardening, InstallationFolderWithBackslashTrailByte) {
  Installation installation(plainRelease(), "\xD3\xCE\xCF\xB7\xD5\x5C");
  const Outcome outcome = installation.run();
  ASSERT_TRUE(outcome.exited);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(lastLine(installation.runLog()), kSuccessLine);
  EXPECT_TRUE(packsAre(installation, "2.651"));
  EXPECT_NE(installation.runLog().find(installation.game() + "/CN_packed.kx"), std::string::npos);
}

}  // namespace
