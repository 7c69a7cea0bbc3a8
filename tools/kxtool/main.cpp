// kxtool's entry: runs one subcommand in a scratch folder, so that the diagnostic logs the
// libraries append to the current directory ("updater.log", "pack.log") never land in the
// user's folder; the user's paths are resolved against the folder kxtool was started in.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "tools/kxtool/kxtool.h"
#include "tools/kxtool/terminal.h"

namespace fs = std::filesystem;

namespace {

fs::path makeScratchFolder() {
  std::random_device seed;
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        fs::path(platform::tempFolder()) / ("kxtool-" + std::to_string(seed()));
    if (fs::create_directory(candidate, error)) return candidate;
  }
  return fs::path();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  kxtool::makeStandardOutputBinary();
  std::ios::sync_with_stdio(true);
  std::error_code error;
  const fs::path start = fs::current_path(error);
  const fs::path scratch = makeScratchFolder();
  if (!scratch.empty()) fs::current_path(scratch, error);

  kxtool::ToolIo io{std::cout, std::cerr, start.string(), kxtool::standardOutputIsTerminal()};
  // The archive writer prints its progress straight to standard output. Of the commands that
  // write archives only apply shows it, and only on a terminal; none of them writes anything
  // else there.
  const bool help = std::find(words.begin(), words.end(), "--help") != words.end() ||
                    std::find(words.begin(), words.end(), "-h") != words.end();
  const std::string command = words.empty() ? std::string() : words[0];
  if (!help && ((command == "apply" && !io.progress) || command == "create" ||
                command == "diff" || command == "demo"))
    kxtool::discardStandardOutput();
  // release prints a summary of its own; the writer's percentages only reach a terminal.
  std::FILE* results = nullptr;
  if (!help && command == "release" && !io.progress)
    results = kxtool::detachStandardOutput();
  kxtool::FileStreamBuffer resultBuffer(results ? results : stdout);
  std::ostream resultStream(&resultBuffer);
  kxtool::ToolIo releaseIo{resultStream, std::cerr, io.baseDir, io.progress};
  const int code = kxtool::run(words, results ? releaseIo : io);
  std::cout.flush();
  resultStream.flush();
  if (results) std::fclose(results);

  fs::current_path(start, error);
  if (!scratch.empty()) fs::remove_all(scratch, error);
  return code;
}
