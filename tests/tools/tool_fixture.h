// Running kxtool's subcommands in-process with their output captured, and small archive
// helpers for the tools' tests.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "integrity/game_packs.h"
#include "tests/support/test_support.h"
#include "tools/kxtool/kxtool.h"
#include "tools/release/release.h"

namespace tool_test {

// The helpers every tools test uses, brought in by "using namespace tool_test".
using testing_support::readFile;
using testing_support::ScopedCwd;
using testing_support::TempDir;
using testing_support::writeFile;

// The ten files of a payload folder.
inline std::vector<std::string> payloadFiles() {
  std::vector<std::string> files;
  for (const GamePack& pack : kGamePacks) files.push_back(pack.patchName);
  for (const char* other : {"binTemp.kx", "cacheTemp.kx", "MD5.txt", "Results.txt"}) files.push_back(other);
  return files;
}

struct ToolResult {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs one command line (without the program name) with the current directory as base.
inline ToolResult runTool(const std::vector<std::string>& words) {
  std::ostringstream out, err;
  kxtool::ToolIo io{out, err, "", false};
  ToolResult result;
  result.code = kxtool::run(words, io);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// An archive's entries, decompressed, by name.
inline std::map<std::string, std::string> entriesOf(const std::string& archive) {
  std::map<std::string, std::string> entries;
  for (const release::NamedContent& entry : release::readArchive(archive))
    entries[entry.first] = entry.second;
  return entries;
}

// The folder of the demo release, made once per test program.
const std::string& demoRelease();

}  // namespace tool_test
