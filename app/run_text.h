// Small helpers shared by the stages for composing paths, console lines and run-log lines.
#pragma once

#include <string>

#include "app/updater.h"
#include "platform/platform.h"
#include "report/log.h"
#include "report/run_state.h"

// Shown when the run cannot make sure it is the only one writing the installation.
inline constexpr const char* kLockFailedText = "无法锁定更新程序, 请检查目录或权限后重新更新!";

// `folder` + the platform's separator + `name`.
inline std::string joinPath(const std::string& folder, const std::string& name) {
  return folder + platform::kPathSeparatorText + name;
}

// A text that a printf format shows as it is: every '%' doubled. Paths and names go through
// it before they are put into a console format, so a folder called "100%" cannot be read as
// a conversion.
inline std::string escapePercent(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// Prints packTitle + `format` as a printf format (stored texts carry "%%").
template <class... Args>
void printTitled(const std::string& format, Args... args) {
  consolePrintf((std::string(packTitle) + format).c_str(), args...);
}

// One line of the run log.
inline void logRun(const RunContext& ctx, const std::string& text) {
  appendLogLine(ctx.runLogPath, text);
}

// A whole file as text, up to its first zero byte; "" when it cannot be opened (the working-
// directory log says why).
[[nodiscard]] std::string readWholeFile(const std::string& path);
