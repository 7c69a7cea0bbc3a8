// The real kxtool program: help for every command, and bad input to every command ends with
// exit code 1 or 2 and one explaining line, never a crash.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tools/tool_fixture.h"
#include "tools/kxtool/commands.h"

using namespace tool_test;
using testing_support::runProcess;

namespace {

testing_support::ProcessResult kxtool(const TempDir& dir, std::vector<std::string> words) {
  words.insert(words.begin(), KXPATCH_KXTOOL);
  return runProcess(words, dir.path(), {{"TMPDIR", dir.path()}});
}

std::vector<std::string> split(const std::string& command) {
  std::vector<std::string> words;
  size_t start = 0;
  for (size_t space; (space = command.find(' ', start)) != std::string::npos; start = space + 1)
    words.push_back(command.substr(start, space - start));
  words.push_back(command.substr(start));
  return words;
}

TEST(KxtoolProgram, EveryCommandHasHelp) {
  TempDir dir;
  for (const kxtool::CommandSpec& command : kxtool::commandTable()) {
    std::vector<std::string> words = split(command.name);
    words.push_back("--help");
    auto result = kxtool(dir, words);
    EXPECT_EQ(result.exitCode, 0) << command.name;
    EXPECT_EQ(result.out.rfind("usage: kxtool " + std::string(command.name), 0), 0u) << result.out;
  }
  auto overview = kxtool(dir, {"--help"});
  EXPECT_EQ(overview.exitCode, 0);
  EXPECT_NE(overview.out.find("checktable"), std::string::npos);
}

TEST(KxtoolProgram, BadInputGivesOneLineAndExitCodeOneOrTwo) {
  TempDir dir;
  ASSERT_TRUE(release::writeArchive(dir / "good.kx", {{"a.txt", std::string(5000, 'a')},
                                                      {"b.txt", "b"}}));
  const std::string good = testing_support::readFile(dir / "good.kx");
  writeFile(dir / "truncated.kx", good.substr(0, good.size() - 7));
  writeFile(dir / "notarchive.kx", "plain text that is no archive");
  writeFile(dir / "cut_directory.kx", good.substr(0, 40) + good.substr(good.size() - 22));
  std::filesystem::create_directories(dir / "folder");

  struct Case {
    const char* command;
    int code;
  };
  const Case cases[] = {
      {"", 2},
      {"frobnicate", 2},
      {"list", 2},
      {"list missing.kx", 1},
      {"list notarchive.kx", 1},
      {"list truncated.kx", 1},
      {"list cut_directory.kx", 1},
      {"list good.kx --bogus", 2},
      {"cat good.kx", 2},
      {"cat truncated.kx a.txt", 1},
      {"cat cut_directory.kx b.txt", 1},
      {"extract missing.kx out", 1},
      {"extract notarchive.kx out", 1},
      {"extract cut_directory.kx out", 1},
      {"create folder", 2},
      {"create missing -o x.kx", 1},
      {"create folder -o", 2},
      {"diff good.kx missing.kx -o p.kx", 1},
      {"diff notarchive.kx good.kx -o p.kx", 1},
      {"diff good.kx folder -o p.kx", 1},
      {"diff good.kx good.kx", 2},
      {"apply missing.kx good.kx", 1},
      {"apply good.kx truncated.kx", 1},
      {"apply good.kx good.kx -x", 2},
      {"fingerprint", 2},
      {"fingerprint missing.bin", 1},
      {"fingerprint --md5 good.kx", 2},
      {"checktable folder 2.650", 1},
      {"checktable folder", 2},
      {"verify folder missing.txt 2.650 2.651", 1},
      {"verify folder good.kx 2.650 2.651", 1},
      {"verify folder", 2},
      {"section", 2},
      {"section shred x", 2},
      {"section dump missing.xml", 1},
      {"section dump truncated.kx:a.txt", 1},
      {"section dump good.kx:a.txt", 1},
      {"section pack notarchive.kx -o x", 1},
      {"section pack notarchive.kx", 2},
      {"demo", 2},
      {"demo good.kx/inside", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    auto result = kxtool(dir, *c.command ? split(c.command) : std::vector<std::string>{});
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, c.code) << result.err;
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_EQ(result.err.rfind("kxtool", 0), 0u) << result.err;
  }
  // Nothing of the libraries' diagnostic logs lands in the user's folder.
  EXPECT_FALSE(testing_support::fileExists(dir / "updater.log"));
  EXPECT_FALSE(testing_support::fileExists(dir / "out/a.txt"));
  EXPECT_EQ(testing_support::readFile(dir / "good.kx"), good);
}

TEST(KxtoolProgram, ApplyOffATerminalPrintsNothing) {
  TempDir dir;
  ASSERT_TRUE(release::writeArchive(dir / "old.kx", {{"a", "1"}}));
  ASSERT_TRUE(release::writeArchive(dir / "new.kx", {{"a", "2"}}));
  ASSERT_EQ(kxtool(dir, {"diff", "old.kx", "new.kx", "-o", "p.kx"}).exitCode, 0);
  auto result = kxtool(dir, {"apply", "old.kx", "p.kx"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(entriesOf(dir / "old.kx"), entriesOf(dir / "new.kx"));
}

}  // namespace
