// The command-line grammar shared by every subcommand: positional arguments, boolean flags,
// options with a value ("-o FILE"), "--help" anywhere, and "--" to end the options.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/kxtool/kxtool.h"

namespace kxtool {

struct Invocation;
using Handler = int (*)(const Invocation&, ToolIo&);

inline constexpr size_t kUnlimited = static_cast<size_t>(-1);

struct CommandSpec {
  const char* name;      // "list", "section dump"
  const char* synopsis;  // arguments after the name, as shown by --help
  const char* summary;   // one line for the overview
  const char* details;   // the rest of the --help text
  size_t minArgs;
  size_t maxArgs;
  std::vector<std::string> flags;         // options without a value
  std::vector<std::string> valueOptions;  // options taking the next word as value
  bool outputRequired;                    // "-o" must be given
  Handler handler;
};

struct Invocation {
  const CommandSpec* command = nullptr;
  std::vector<std::string> args;
  std::set<std::string> flags;
  std::map<std::string, std::string> values;
  bool help = false;

  bool has(const std::string& flag) const { return flags.count(flag) != 0; }
  std::string value(const std::string& option) const;
};

// Parses the words after the subcommand's name. False with `error` set on bad usage.
[[nodiscard]] bool parseInvocation(const CommandSpec& command, const std::vector<std::string>& words,
                                   Invocation& out, std::string& error);

// The full --help text of a subcommand.
std::string helpText(const CommandSpec& command);

// A user's path resolved against io.baseDir when it is relative.
std::string userPath(const ToolIo& io, const std::string& path);

// Writes "kxtool NAME: message" as one line and returns kExitFailure.
int failure(ToolIo& io, const Invocation& call, const std::string& message);

}  // namespace kxtool
