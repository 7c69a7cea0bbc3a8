// kxtool's entry. The libraries it calls report only through the results and events it hands
// them, so every subcommand runs where the user started it and leaves nothing behind there.
#include <iostream>
#include <string>
#include <vector>

#include "tools/kxtool/kxtool.h"
#include "tools/kxtool/terminal.h"

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  kxtool::makeStandardOutputBinary();
  std::ios::sync_with_stdio(true);
  kxtool::ToolIo io{std::cout, std::cerr, std::string(), kxtool::standardOutputIsTerminal()};
  const int code = kxtool::run(words, io);
  std::cout.flush();
  return code;
}
