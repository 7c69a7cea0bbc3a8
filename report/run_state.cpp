#include "report/run_state.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace {

constexpr size_t kProgressBufferBytes = 260;

// A launcher that does not read must not hold the run (it can only lose texts), and one that
// reads must get every text. A progress text may wait a while for a launcher whose queue is
// full while that launcher keeps taking texts, and all of them together only so long in a
// run; once one was not taken, progress texts go only when taken at once, until the launcher
// takes one again. "end" and the failure text, sent once, may wait a second each.
constexpr unsigned kProgressWaitMs = 250;
constexpr unsigned kProgressBudgetMs = 2000;
constexpr unsigned kNoticeWaitMs = 1000;

std::string formatText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(n));
  return text;
}

}  // namespace

void Launcher::send(uint32_t code, const std::string& text) {
  const bool progress = code == kLauncherProgress;
  unsigned waitMs = kNoticeWaitMs;
  if (progress) {
    const unsigned left = kProgressBudgetMs - std::min(progressWaitedMs_, kProgressBudgetMs);
    waitMs = taking_ ? std::min(kProgressWaitMs, left) : 0;
  }
  const uint32_t start = platform::tickMs();
  taking_ = platform::sendLauncherMessage(code, text, waitMs);
  if (progress) progressWaitedMs_ += platform::tickMs() - start;
}

void Launcher::progress(const char* format, ...) {
  if (!autoRun_) return;
  char buffer[kProgressBufferBytes];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  send(kLauncherProgress, buffer);
}

void Launcher::notify(uint32_t code, const std::string& text) { send(code, text); }

void consolePrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatText(format, args);
  va_end(args);
  platform::consoleWrite(text);
}

void showMessage(const std::string& text, const std::string& caption) {
  platform::messageBox(text, caption);
}

