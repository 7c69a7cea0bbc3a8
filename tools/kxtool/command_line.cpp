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

bool parseInvocation(const CommandSpec& spec, const std::vector<std::string>& words,
                     Invocation& out, std::string& error) {
  out = Invocation();
  out.spec = &spec;
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      out.args.push_back(word);
    } else if (word == "--") {
      optionsEnded = true;
    } else if (word == "--help" || word == "-h") {
      out.help = true;
    } else if (listed(spec.flags, word)) {
      out.flags.insert(word);
    } else if (listed(spec.valueOptions, word)) {
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
  if (out.args.size() < spec.minArgs) {
    error = "missing argument";
    return false;
  }
  if (out.args.size() > spec.maxArgs) {
    error = "unexpected argument " + out.args[spec.maxArgs];
    return false;
  }
  if (spec.outputRequired && out.value("-o").empty()) {
    error = "missing -o OUTPUT";
    return false;
  }
  return true;
}

std::string helpText(const CommandSpec& spec) {
  std::string text = "usage: kxtool " + std::string(spec.name) + " " + spec.synopsis + "\n\n" +
                     spec.summary + "\n";
  if (spec.details && *spec.details) text += "\n" + std::string(spec.details);
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
  io.err << "kxtool " << call.spec->name << ": " << line << "\n";
  return kExitFailure;
}

}  // namespace kxtool
