// The texts of the update run: every line it writes to its logs and its console, every message
// box, every failure it reports and every text it sends the launcher, grouped by the stage that
// writes them, in the order a run meets them.
//
// These are the system's own texts, not prose to tidy. Each stays byte for byte what it has
// always been, quirks included: odd spacing, "MD5" where a CRC is compared, a missing space, "!!"
// for one group, C expressions in log lines. Players see them; support and the log server's
// readers search for them as they stand; tests/app/golden/ pins them for fourteen runs. Changing
// one changes what players and support see, so a "correction" here is a change of the product.
// Sources are UTF-8; the build compiles them to GBK (-fexec-charset=GBK), and GBK bytes are what
// reach the console, the logs, the boxes, the launcher and the log server.
//
// Where a text goes is in its name:
//   ...Console   the console. A printf format: a '%' is written "%%", and a path put into one
//                goes through escapePercent. The stages print most after packTitle
//                (printTitled); those printed without it are marked.
//   ...Log       the run log, bin/updater.log
//   ...WorkLog   the working folder's updater.log (writeLog)
//   ...PackLog   pack.log, a printf format
//   ...Box, ...Caption   a message box's text and caption
//   ...Message   a failure the run keeps; the first one kept is the final box's text
//   kLauncher...Text, ...Format   a text for the launcher, or the printf format of one
// The launcher reads a plain number as points to add to its bar and "T" + a number as the
// bar's new position.
//
// Names the texts mention (files, folders, the mutex) stay where the run uses them.
#pragma once

#include <cstdint>
#include <string>

#include "report/run_state.h"

// A text that a printf format shows as it is: every '%' doubled. Paths go through it before they
// are put into a console format, so that a folder called "100%" cannot be read as a conversion.
inline std::string escapePercent(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// ---- The start: the program entry, the game wait, the installation and its lock -------------

inline constexpr char kReadyConsole[] =  // printed without packTitle
    "------准备更新,请勿关闭,请勿同时运行多个更新程序------\n";
inline constexpr char kReadyWorkLog[] = "--------ready to update--------";
inline constexpr char kMutexNotTakenWorkLog[] = "--------can not take packMutex--------";

inline constexpr char kLauncherBeginText[] = "Begin";

// Asked until the game is closed. The run log gets its line only in the second wait, after the
// payload is written.
inline constexpr char kCloseGameLog[] = "please close mox.exe!";
inline constexpr char kCloseGameBox[] = "请先关闭mox.exe，再点击确定!";
inline constexpr char kCloseGameCaption[] = "请关闭mox.exe";

inline std::string closeUpdaterFailedWorkLog(uint32_t systemCode) {
  return "CloseUpdater->" + std::to_string(systemCode);
}

// No installation found from the current folder or the per-user path file. The box's text is
// also the launcher's failure text.
inline std::string installDirErrorWorkLog(const std::string& installDir) {
  return "error installDir:" + installDir;
}
inline constexpr char kRunFromBinText[] = "请在Halvoreen\\bin目录下运行该程序";
inline constexpr char kInstallDirUnknownCaption[] = "无法自动获得《Halvoreen》安装目录";

// Sent before the failure text when the run stops for want of an installation, of its lock or of
// a readable version.
inline constexpr char kLauncherEndText[] = "end";

// Another installer holds the mutex or the installation. The text is the box's and the
// launcher's failure text.
inline std::string lockFailedWorkLog(const std::string& installDir) {
  return "can not lock installDir:" + installDir;
}
inline constexpr char kLockFailedText[] = "无法锁定更新程序, 请检查目录或权限后重新更新!";
// Also the caption of the final box of a run with failures.
inline constexpr char kUpdateFailedCaption[] = "更新失败!";

// ---- The version check -----------------------------------------------------------------------

inline std::string versionReadFromLog(const std::string& archive) {
  return "read version from: " + archive;
}
inline std::string versionArchiveStateLog(const std::string& archive, bool exists) {
  return archive + (exists ? " exist!" : " does not exist!");
}
inline constexpr char kVersionEntryMissingLog[] = "scripts_config.xml is Null!";
inline std::string versionReadLog(const std::string& archive) {
  return "read version success:" + archive;
}
// Names the pointer the entry was parsed into, as it always has.
inline constexpr char kVersionSectionMissingLog[] = "script_dataSectionPtr is Null!";
inline std::string binDirFailedLog(const std::string& binDir) {
  return std::string(packTitle) + "->failed to use: " + binDir;
}
// The box shows it after packTitle, as text and caption; the launcher gets it without.
inline std::string binDirFailedText(const std::string& binDir) {
  return "->使用bin\\路径初始化失败:" + binDir;
}

inline constexpr char kPreparing1Console[] = "->准备更新...1%%\r";
inline std::string versionsLog(const std::string& localVersion) {
  return std::string(packTitle) + "->localVersion: " + localVersion + ", oldVersion: " +
         oldVersion + ", newVersion: " + newVersion;
}
inline std::string wrongVersionBox(const std::string& localVersion) {
  return "您当前版本为v" + localVersion + ",本程序只适用于v" + oldVersion + "升级到v" + newVersion;
}
inline constexpr char kWrongVersionCaption[] = "本程序不适用于您当前版本";

// ---- The payload: the temporary archives and the check table ----------------------------------

inline constexpr char kLauncherPayloadStartText[] = "5.0";
// Each pack patch written adds a point; the res patch, whose blocks add tenths as they go, then
// sets the bar where its point would have put it.
inline constexpr char kLauncherPatchWrittenText[] = "1.0";
inline constexpr char kLauncherResPatchWrittenText[] = "T9.0";
inline constexpr char kLauncherResBlockText[] = "0.1";

// The preparation's share of the console line, one step per payload file.
inline constexpr char kPreparing10Console[] = "->准备更新...10%%\r";
inline constexpr char kPreparing15Console[] = "->准备更新...15%%\r";
inline constexpr char kPreparing20Console[] = "->准备更新...20%%\r";
// Each block of the res patch: 21% to 29%, the block's number as the last digit.
inline constexpr char kPreparingResBlockConsole[] = "->准备更新...2%d%%\r";
inline constexpr char kPreparing30Console[] = "->准备更新...30%%\r";
inline constexpr char kPreparing40Console[] = "->准备更新...40%%\r";
inline constexpr char kPreparing50Console[] = "->准备更新...50%%\r";
inline constexpr char kPreparing60Console[] = "->准备更新...60%%\r";
inline constexpr char kPreparing70Console[] = "->准备更新...70%%\r";

inline std::string payloadNotWrittenLog(const std::string& fileName) {
  return std::string(packTitle) + "->" + fileName + " can not write in!";
}
inline std::string noWriteAccessBox(const std::string& installDir) {
  return "您在" + installDir + "没有写权限，程序无法运行!";
}
inline constexpr char kNoWriteAccessCaption[] = "您没有写权限";

inline constexpr char kPreparing80Console[] = "->准备更新...80%%\r";
// Also the game executable's line when it cannot be replaced.
inline std::string cannotOpenFileLog(const std::string& path) {
  return std::string(packTitle) + "->can not open file: " + path;
}
// The caption of the box for a file that cannot be opened; its text adds what to check.
inline std::string cannotOpenFileCaption(const std::string& path) {
  return std::string(packTitle) + "->无法打开文件:" + path;
}
inline std::string checkTableNotOpenedBox(const std::string& path) {
  return cannotOpenFileCaption(path) + ", 请检查文件夹或写权限是否正确!";
}
// "MD5" for the table of CRCs and sizes: the name the table has always had.
inline std::string checkTableLog(const std::string& path) {
  return std::string(packTitle) + "->MD5 file for new version: " + path;
}
inline std::string cannotWriteFileLog(const std::string& path) {
  return std::string(packTitle) + "->can not write file: " + path;
}
inline constexpr char kPreparing90Console[] = "->准备更新...90%%\r";
inline constexpr char kPreparing100Console[] = "->准备更新...100%%\n";

inline constexpr char kLauncherPayloadDoneText[] = "4.0";
inline constexpr char kUpgradingConsole[] =
    "->从v" KXPATCH_FROM_VERSION "升级到v" KXPATCH_TO_VERSION "......\n";

// ---- The loose files of bin and cache ---------------------------------------------------------

inline std::string archiveUnreadableLog(const std::string& path) {
  return std::string(packTitle) + "->can not read " + path;
}
inline std::string entryRefusedLog(const std::string& entry) {
  return std::string(packTitle) + "->refused entry outside its folder: " + entry;
}
inline std::string entryUnreadableLog(const std::string& entry, const std::string& archive,
                                      const std::string& target) {
  return std::string(packTitle) + "->can not read " + entry + " from " + archive +
         ", not updated: " + target;
}

inline std::string fileDeletedLog(const std::string& target) {
  return std::string(packTitle) + "->delete file: " + target;
}
inline std::string fileDeletedConsole(const std::string& target) {
  return "->删除" + escapePercent(target) + "完成!\n";
}
inline std::string fileUpdatedLog(const std::string& target) {
  return std::string(packTitle) + "->update file: " + target;
}
// A loose file or a pack brought to the new version.
inline std::string updatedConsole(const std::string& name) {
  return "->更新" + escapePercent(name) + "完成!\n";
}

// A file left at the old version: its line, the failure kept and the console's request to run
// the installer again (the last two also for a pack whose update failed).
inline std::string fileWriteFailedLog(const std::string& target) {
  return std::string(packTitle) + "->write failed: " + target;
}
// Ends in an empty line, as it always has.
inline std::string looseFileNotOpenedLog(const std::string& target) {
  return cannotOpenFileLog(target) + "\n";
}
inline std::string updateFailedMessage(const std::string& path) { return path + "文件更新失败!"; }
inline std::string updateFailedRetryConsole(const std::string& name) {
  return "->更新" + escapePercent(name) + "失败, 请重新更新!\n";
}

// The game executable, checked against the table before it is written.
// Also a first-group pack's.
inline std::string missingBeforeUpdateLog(const std::string& target) {
  return target + " not exist before update!";
}
inline std::string gameExeSizeLog(const std::string& size) {
  return std::string(packTitle) + "->size of bin\\mox.exe before update: " + size;
}
// No space before "to": as it always was.
inline constexpr char kGameExeMismatchLog[] =
    "failed to update bin\\mox.exe: from " KXPATCH_FROM_VERSION "to " KXPATCH_TO_VERSION;
// "MD5" for the CRCs compared, as the table's name has it.
inline std::string gameExeFingerprintsLog(const std::string& expected, const std::string& actual,
                                          const std::string& account) {
  return "server MD5:" + expected + "\ndest MD5: " + actual + "\n" + account;
}
inline constexpr char kGameExeMismatchMessage[] = "bin\\mox.exe文件更新错误!";
inline std::string checkSuccessLog(const std::string& target) {
  return std::string(packTitle) + "->check success: " + target;
}
inline std::string gameExeNotOpenedBox(const std::string& target) {
  return cannotOpenFileCaption(target) + ", 请检查目录或权限!";
}
