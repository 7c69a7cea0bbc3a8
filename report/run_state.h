// Process-wide state of the update run and the channels every layer may report through: the
// console, message boxes and the launcher window. It lives here, below the libraries, because
// the archive writer reads the progress label, pack weights and pack index to show its own
// progress.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The build sets the two versions (KXPATCH_FROM_VERSION, KXPATCH_TO_VERSION; 2.650 and 2.651
// unless a release asks for others).
#include "kxpatch_versions.h"

inline constexpr const char* oldVersion = KXPATCH_FROM_VERSION;
inline constexpr const char* newVersion = KXPATCH_TO_VERSION;
// Stays the Windows executable's name on every platform: it is a text of the system.
inline constexpr const char* packTitle = KXPATCH_FROM_VERSION "-" KXPATCH_TO_VERSION "Pack.exe";
inline constexpr int kPackCount = 6;

// Launcher message codes.
inline constexpr uint32_t kLauncherProgress = 0x807;
inline constexpr uint32_t kLauncherEnd = 0x800;
inline constexpr uint32_t kLauncherFailure = 0x7F7;

extern bool autoRun;
extern int32_t currentPackIndex;
extern float packWeights[kPackCount];
extern std::string progressLabel;
extern int32_t uploadFolderKind;

// Formats a progress text (at most 259 bytes) and sends it with code 2055, only under autoRun.
// A launcher that is not taking texts loses it after a short wait, or at once (run_state.cpp).
void reportProgress(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Sends `text` with `code` to the launcher window whether or not autoRun is set; a launcher
// that has not taken it after a second loses it.
void notifyLauncher(uint32_t code, const std::string& text);

// printf to the console. The format is usually composed at run time (packTitle or
// progressLabel + a stored text), so stored texts carry "%%" for a percent sign; it is not
// checked at compile time for that reason.
void consolePrintf(const char* format, ...);

// A modal OK box; returns when the user pressed OK.
void showMessage(const std::string& text, const std::string& caption);

// Resets the process-wide state to its start values (tests run several runs in one process).
void resetRunState();
