// Services of installation discovery used by more than one stage.
#pragma once

#include <string>

struct InstallLocation {
  std::string installDir;
  std::string binDir;  // empty when no usable bin folder was found
};

// The installation folder from the current directory, else from the per-user path file.
[[nodiscard]] InstallLocation locateInstallation();
// Path of the per-user file naming the installation folder.
[[nodiscard]] std::string installPathFile();
// Asks until the game is closed. With a run log path, logs "please close mox.exe!" before
// each box (the form used by payload extraction).
void waitUntilGameClosed(const std::string* runLogPath);
// Terminates every process named "updater.exe", within a bounded number of tries.
void closeUpdater();
