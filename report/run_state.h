// The run's constants and the channels it reports through: the console, message boxes and the
// launcher window. What a run changes as it goes (whether the launcher started it, what the
// launcher still takes) lives in the objects that own it, never in globals.
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

// Launcher message codes.
inline constexpr uint32_t kLauncherProgress = 0x807;
inline constexpr uint32_t kLauncherEnd = 0x800;
inline constexpr uint32_t kLauncherFailure = 0x7F7;

// The game launcher's window as one run sees it. Progress texts go only when the launcher
// started the run ("AutoRun"); a launcher that stops taking texts must not hold the run, so
// the channel remembers that and how long progress texts have waited in this run.
class Launcher {
 public:
  explicit Launcher(bool autoRun = false) : autoRun_(autoRun) {}

  bool autoRun() const { return autoRun_; }
  // Formats a progress text (at most 259 bytes) and sends it with code 2055, only under
  // autoRun. A launcher that is not taking texts loses it after a short wait, or at once.
  void progress(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Sends `text` with `code` whether or not autoRun is set; a launcher that has not taken it
  // after a second loses it.
  void notify(uint32_t code, const std::string& text);

 private:
  void send(uint32_t code, const std::string& text);

  bool autoRun_;
  bool taking_ = true;
  unsigned progressWaitedMs_ = 0;
};

// printf to the console. The format is usually composed at run time (packTitle or a pack's
// label + a stored text), so stored texts carry "%%" for a percent sign; it is not
// checked at compile time for that reason.
void consolePrintf(const char* format, ...);

// A modal OK box; returns when the user pressed OK.
void showMessage(const std::string& text, const std::string& caption);

