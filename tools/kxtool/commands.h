// The subcommands of kxtool, one handler each, and the table that names them.
#pragma once

#include <vector>

#include "tools/kxtool/command_line.h"

namespace kxtool {

// Every subcommand in the order the overview lists them.
const std::vector<CommandSpec>& commandTable();

int listCommand(const Invocation& call, ToolIo& io);
int catCommand(const Invocation& call, ToolIo& io);
int extractCommand(const Invocation& call, ToolIo& io);
int createCommand(const Invocation& call, ToolIo& io);
int diffCommand(const Invocation& call, ToolIo& io);
int applyCommand(const Invocation& call, ToolIo& io);
int fingerprintCommand(const Invocation& call, ToolIo& io);
int checktableCommand(const Invocation& call, ToolIo& io);
int verifyCommand(const Invocation& call, ToolIo& io);
int sectionDumpCommand(const Invocation& call, ToolIo& io);
int sectionPackCommand(const Invocation& call, ToolIo& io);
int demoCommand(const Invocation& call, ToolIo& io);
int releaseCommand(const Invocation& call, ToolIo& io);

// The file in which extract lists an archive's folder entries (one name a line) and from which
// create makes them again: a folder on disk does not tell whether it had an entry of its own.
inline constexpr const char* kFolderEntriesFile = ".kxfolders";

// Writes `bytes` to `path` through a neighbouring temporary file that then replaces it, so that
// a failure never leaves a half-written file under the final name. False on any failure.
[[nodiscard]] bool writeFileReplacing(const std::string& path, const std::string& bytes);
// Puts a finished file `from` in the place of `to`; the file `from` is gone either way.
[[nodiscard]] bool commitFile(const std::string& from, const std::string& to);
// Every byte of the regular file at `path`; false when it cannot be read.
[[nodiscard]] bool readWholeFile(const std::string& path, std::string& bytes);

}  // namespace kxtool
