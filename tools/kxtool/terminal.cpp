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
void discardStandardOutput() { (void)std::freopen("NUL", "wb", stdout); }
std::FILE* detachStandardOutput() {
  std::fflush(stdout);
  const int copy = _dup(_fileno(stdout));
  if (copy < 0) return nullptr;
  discardStandardOutput();
  return _fdopen(copy, "wb");
}
#else
bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }
void makeStandardOutputBinary() {}
void discardStandardOutput() { (void)std::freopen("/dev/null", "wb", stdout); }
std::FILE* detachStandardOutput() {
  std::fflush(stdout);
  const int copy = ::dup(STDOUT_FILENO);
  if (copy < 0) return nullptr;
  discardStandardOutput();
  return ::fdopen(copy, "wb");
}
#endif

}  // namespace kxtool
