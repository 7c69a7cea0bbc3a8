#include "tools/kxtool/terminal.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kxtool {

#ifdef _WIN32
bool standardOutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
void makeStandardOutputBinary() { _setmode(_fileno(stdout), _O_BINARY); }
#else
bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }
void makeStandardOutputBinary() {}
#endif

}  // namespace kxtool
