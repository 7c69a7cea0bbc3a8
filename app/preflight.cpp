// Run start, the game wait, the console and installation discovery.
#include "app/preflight.h"

#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "report/log.h"

namespace {

constexpr const char* kUpdaterExe = "updater.exe";
constexpr const char* kBinMarker = "RakNet.dll";
// A process that can be opened but never terminated would keep the original looping forever.
constexpr int kCloseUpdaterMaxTries = 50;
// Where a message box does not wait for the user (no terminal), the wait would otherwise spin
// on the process list.
constexpr unsigned kGameWaitPauseMs = 300;
// The per-user path file holds one folder name; anything near this size is not one.
constexpr size_t kMaxInstallPathFileBytes = 4 << 20;


// The installation's bin folder holds the marker and is a folder of the installation itself: a
// bin that is a link (another folder's marker seen through it) would have the run write its
// table, its log and the game executable wherever the link points. The installation folder
// itself may be a link.
bool isInstallationBin(const std::string& installDir, const std::string& binDir) {
  const std::string marker = joinPath(binDir, kBinMarker);
  return platform::pathExists(marker) && !platform::folderLinkBelow(installDir, marker);
}

bool gameRunning() {
  uint32_t pid = platform::findProcessId(kGameExecutable);
  return pid != 0 && platform::canOpenProcessFully(pid);
}

}  // namespace

void waitUntilGameClosed(const std::string* runLogPath) {
  while (gameRunning()) {
    if (runLogPath) appendLogLine(*runLogPath, kCloseGameLog);
    showMessage(kCloseGameBox, kCloseGameCaption);
    platform::sleepMs(kGameWaitPauseMs);
  }
}

void closeUpdater() {
  uint32_t pid = platform::findProcessId(kUpdaterExe);
  for (int tries = 0; pid != 0 && tries < kCloseUpdaterMaxTries; ++tries) {
    if (!platform::canOpenProcessForTermination(pid)) break;
    const auto ended = platform::terminateProcess(pid);
    if (!ended) writeLog(closeUpdaterFailedWorkLog(ended.error()));
    platform::sleepMs(100);
    pid = platform::findProcessId(kUpdaterExe);
  }
}

std::string installPathFile() {
  const std::string sep = platform::kPathSeparatorText;
  return platform::appDataFolder(true) + sep + "Brightfall" + sep + "Halvoreen" + sep +
         "installPath.txt";
}

InstallLocation locateInstallation() {
  InstallLocation where;
  std::string current = platform::currentDirectory();
  const std::string binPart = std::string(platform::kPathSeparatorText) + kLooseFolders[kBinFolder].name;
  // The first folder named bin, whole: "...\binh\game\bin" is an installation in "...\binh".
  size_t at = current.find(binPart);
  while (at != std::string::npos && at + binPart.size() < current.size() &&
         current[at + binPart.size()] != platform::kPathSeparator)
    at = current.find(binPart, at + 1);
  where.installDir = at == std::string::npos ? current : current.substr(0, at);
  where.binDir = joinPath(where.installDir, kLooseFolders[kBinFolder].name);
  if (isInstallationBin(where.installDir, where.binDir)) return where;

  // Past the system's path limit the file counts as missing: cut short, its path would name
  // another file. So does anything but a small regular file (a device, a pipe, megabytes).
  const std::string pathFile = installPathFile();
  std::string content;
  if (platform::pathLength(pathFile) <= platform::kMaxPathChars &&
      platform::readRegularFile(pathFile, kMaxInstallPathFileBytes, &content)) {
    where.installDir = content.substr(0, content.find('\0'));
    where.binDir = joinPath(where.installDir, kLooseFolders[kBinFolder].name);
  }
  if (!isInstallationBin(where.installDir, where.binDir)) where.binDir.clear();
  return where;
}

void beginRun(RunContext& ctx) {
  ctx.launcher.progress(kLauncherBeginText);
  ctx.found.computerName = platform::computerName();
}

void waitForGameClosed(RunContext&) { waitUntilGameClosed(nullptr); }

void prepareConsole(RunContext&) {
  platform::setConsoleTitle(packTitle);
  platform::sleepMs(200);
  platform::disableConsoleClose(packTitle);
}

bool locateInstallationStage(RunContext& ctx) {
  ctx.found.accountName = getAccountName();
  InstallLocation where = locateInstallation();
  ctx.found.installDir = where.installDir;
  ctx.found.binDir = where.binDir;
  if (!ctx.found.binDir.empty()) return true;
  writeLog(installDirErrorWorkLog(ctx.found.installDir));
  showMessage(kRunFromBinText, kInstallDirUnknownCaption);
  closeUpdater();
  ctx.launcher.notify(kLauncherEnd, kLauncherEndText);
  ctx.launcher.notify(kLauncherFailure, kRunFromBinText);
  return false;
}

bool lockInstallation(RunContext& ctx) {
  const std::string marker = joinPath(ctx.found.binDir, kBinMarker);
  if (ctx.installationLock.lock(ctx.found.installDir, marker)) return true;
  writeLog(lockFailedWorkLog(ctx.found.installDir));
  showMessage(kLockFailedText, kUpdateFailedCaption);
  ctx.launcher.notify(kLauncherEnd, kLauncherEndText);
  ctx.launcher.notify(kLauncherFailure, kLockFailedText);
  return false;
}

void setRunLogPath(RunContext& ctx) { ctx.found.runLogPath = joinPath(ctx.found.binDir, "updater.log"); }
