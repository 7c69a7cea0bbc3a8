#include "tools/kxtool/command_line.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

namespace kxtool {
namespace {

bool listed(const std::vector<std::string>& options, const std::string& word) {
  return std::find(options.begin(), options.end(), word) != options.end();
}

}  // namespace

std::string Invocation::value(const std::string& option) const {
  auto found = values.find(option);
  return found == values.end() ? std::string() : found->second;
}

bool parseInvocation(const CommandSpec& command, const std::vector<std::string>& words,
                     Invocation& out, std::string& error) {
  out = Invocation();
  out.command = &command;
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      out.args.push_back(word);
    } else if (word == "--") {
      optionsEnded = true;
    } else if (word == "--help" || word == "-h") {
      out.help = true;
    } else if (listed(command.flags, word)) {
      out.flags.insert(word);
    } else if (listed(command.valueOptions, word)) {
      if (i + 1 >= words.size()) {
        error = "option " + word + " needs a value";
        return false;
      }
      out.values[word] = words[++i];
    } else {
      error = "unknown option " + word;
      return false;
    }
  }
  if (out.help) return true;
  if (out.args.size() < command.minArgs) {
    error = "missing argument";
    return false;
  }
  if (out.args.size() > command.maxArgs) {
    error = "unexpected argument " + out.args[command.maxArgs];
    return false;
  }
  if (command.outputRequired && out.value("-o").empty()) {
    error = "missing -o OUTPUT";
    return false;
  }
  return true;
}

std::string helpText(const CommandSpec& command) {
  std::string text = "usage: kxtool " + std::string(command.name) + " " + command.synopsis + "\n\n" +
                     command.summary + "\n";
  if (command.details && *command.details) text += "\n" + std::string(command.details);
  return text;
}

std::string userPath(const ToolIo& io, const std::string& path) {
  const std::filesystem::path given(path);
  if (io.baseDir.empty() || given.is_absolute()) return path;
  return (std::filesystem::path(io.baseDir) / given).string();
}

int failure(ToolIo& io, const Invocation& call, const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  io.err << "kxtool " << call.command->name << ": " << line << "\n";
  return kExitFailure;
}

}  // namespace kxtool
