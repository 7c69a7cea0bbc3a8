// kxtool: what release engineers need to produce what the installer consumes. Every subcommand
// works through the project's own libraries (archive reader and writer, fingerprints, check
// table, data sections), so a release made with it is read back exactly as the installer reads
// it.
//
// Exit codes: 0 success, 1 a failure explained in one line on the error stream, 2 bad usage.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kxtool {

enum ExitCode : int { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// Where a subcommand writes and how it resolves the paths it is given.
struct ToolIo {
  std::ostream& out;  // results; `cat` writes entry bytes as they are
  std::ostream& err;  // one line per failure
  // Relative paths on the command line start here; empty means the current directory.
  std::string baseDir;
  // Standard output is a terminal: progress bars of long work are worth showing.
  bool progress = false;
};

// Runs one command line without the program name; words[0] names the subcommand.
int run(const std::vector<std::string>& words, ToolIo& io);

}  // namespace kxtool
