// Small helpers shared by the stages for composing paths and writing console and run-log lines.
// The texts themselves are in app/run_texts.h.
#pragma once

#include <string>

#include "app/updater.h"
#include "platform/platform.h"
#include "report/log.h"
#include "report/run_state.h"

using platform::joinPath;

// Prints packTitle + `format` as a printf format (stored texts carry "%%").
template <class... Args>
void printTitled(const std::string& format, Args... args) {
  consolePrintf((std::string(packTitle) + format).c_str(), args...);
}

// One line of the run log.
inline void logRun(const RunContext& ctx, const std::string& text) {
  appendLogLine(ctx.found.runLogPath, text);
}

// A whole file as text, up to its first zero byte; "" when it cannot be opened (the working-
// directory log says why).
[[nodiscard]] std::string readWholeFile(const std::string& path);
