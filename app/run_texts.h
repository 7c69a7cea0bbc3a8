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
//   ...Text      one text for a box and the launcher's failure text
//   kLauncher...Text, ...Format   a text for the launcher, or the printf format of one
// The launcher reads a plain number as points to add to its bar and "T" + a number as the
// bar's new position.
//
// Names the texts mention (files, folders, the mutex) stay where the run uses them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/archive_events.h"
#include "integrity/game_packs.h"
#include "integrity/results_table.h"
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

// ---- The start: the program entry, the game wait, the installation and its lock -----------------

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

// ---- The version check --------------------------------------------------------------------------

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
// The journal an interrupted run of this update left: this run finishes that update, even when
// the installation already reads as the new version.
inline std::string journalResumeLog(const std::string& path) {
  return std::string(packTitle) + "->finish the update begun before: " + path;
}
// Something else under the journal's name (another update's journal): left as it is.
inline std::string journalLeftAloneLog(const std::string& path) {
  return std::string(packTitle) + "->leave alone " + path + ", not a journal of " + oldVersion +
         " to " + newVersion;
}

// ---- The payload: the temporary archives and the check table ------------------------------------

inline constexpr char kLauncherPayloadStartText[] = "5.0";
// Each pack patch written adds a point; the res patch, whose blocks add tenths as they go, then
// sets the bar where its point would have put it.
inline constexpr char kLauncherPatchWrittenText[] = "1.0";
inline constexpr char kLauncherResPatchWrittenText[] = "T9.0";
inline constexpr char kLauncherResBlockText[] = "0.1";

// The preparation's share of the console line, one step per payload file (the percentage:
// kGamePacks' consolePercent, then the loose-file archives').
inline constexpr char kPreparingPercentConsole[] = "->准备更新...%d%%\r";
// Each block of the res patch: 21% to 29%, the block's number as the last digit.
inline constexpr char kPreparingResBlockConsole[] = "->准备更新...2%d%%\r";

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
// The payload's results table cannot be used; the files are checked with the check table alone.
inline std::string resultsNotUsedLog(const ResultsError& error) {
  std::string reason;
  switch (error.fault) {
    case ResultsFault::TooLong:
      reason = "longer than " + std::to_string(kMaxResultsTextBytes) + " bytes";
      break;
    case ResultsFault::TooManyRecords:
      reason = "more than " + std::to_string(kMaxResultRecords) + " records";
      break;
    case ResultsFault::BadFirstLine: reason = "the first line does not name two versions"; break;
    case ResultsFault::NotARecord: reason = "not a path, a size and a CRC"; break;
    case ResultsFault::BadPath: reason = "not a path"; break;
    case ResultsFault::BadSize: reason = "not a size"; break;
    case ResultsFault::BadCrc: reason = "not a CRC"; break;
    case ResultsFault::RecordedTwice: reason = "a path recorded twice"; break;
  }
  return std::string(packTitle) + "->results table not used: " +
         (error.line ? "line " + std::to_string(error.line) + ": " : std::string()) + reason;
}
inline std::string resultsForOtherVersionsLog(const std::string& from, const std::string& to) {
  return std::string(packTitle) + "->results table not used: " + from + " -> " + to;
}
inline constexpr char kPreparing90Console[] = "->准备更新...90%%\r";
inline constexpr char kPreparing100Console[] = "->准备更新...100%%\n";

inline constexpr char kLauncherPayloadDoneText[] = "4.0";
inline constexpr char kUpgradingConsole[] =
    "->从v" KXPATCH_FROM_VERSION "升级到v" KXPATCH_TO_VERSION "......\n";

// ---- The loose files of bin and cache -----------------------------------------------------------

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

// The game executable, checked against the table before it is written. Its line when it is not
// there is also a first-group pack's.
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

// A written file (a loose file's temporary file, a rewritten pack before its swap) is not what
// the release recorded for it: the size and CRC of every byte found, then the release's. A pack
// goes on with its failed check's lines, a loose file with fileWriteFailedLog.
inline std::string notReleasedFileLog(const std::string& name, const std::string& found,
                                      const std::string& recorded) {
  return std::string(packTitle) + "->not the released file: " + name + "\nwholeFile: " + found +
         "\nreleased : " + recorded;
}

// ---- The packs ----------------------------------------------------------------------------------
// The first group (size and sampled CRC) and the second (whole-file CRC) have always said some of
// the same things in words of their own. A pack's name is the table's, never a path.

inline constexpr char kLauncherPacksStartText[] = "5.0";
// A share of the current pack's points, sent as its rewrite goes.
inline constexpr char kLauncherShareFormat[] = "%.1f";
// The bar's position after each pack: 20 plus the points of the packs done.
inline constexpr char kLauncherPositionFormat[] = "T%.1f";

inline std::string sizeBeforeUpdateLog(const std::string& pack, const std::string& size) {
  return std::string(packTitle) + "->size of " + pack + " before update: " + size;
}

// A pack that is not there. The second group's line has no space before "not": as it always was.
inline std::string packMissingLog(PackGroup group, const std::string& path) {
  return group == PackGroup::WholeCrc ? path + "not exist before update!"
                                      : missingBeforeUpdateLog(path);
}
inline std::string packMissingMessage(const std::string& path) {
  return path + "文件缺失，无法更新!";
}
inline std::string packMissingConsole(const std::string& path) {
  return "->" + escapePercent(path) + "缺少文件，无法更新!\n";
}

// A pack that is neither the old version nor the new one.
inline std::string packDamagedLog(const std::string& path) {
  return path + " damaged before update!";
}
// The second group logs the CRC found, then the table's...
inline std::string localCrcLog(const std::string& crc) { return "localCRC32 : " + crc; }
inline std::string oldStandardLog(const std::string& crc) { return "oldStandard: " + crc; }
// ...the first group the table's value first, "MD5" though it is a size and CRCs.
inline std::string oldStandardMd5Log(const std::string& value) {
  return "oldStandardMD5: " + value;
}
inline std::string localFileSizeLog(const std::string& value) {
  return "localFileSize : " + value;
}
// "!!" for the second group alone.
inline std::string packDamagedMessage(PackGroup group, const std::string& path) {
  return path + (group == PackGroup::WholeCrc ? "文件损坏，无法更新!!" : "文件损坏，无法更新!");
}
// Printed without packTitle.
inline std::string packDamagedConsole(PackGroup group, const std::string& path) {
  return escapePercent(path) +
         (group == PackGroup::WholeCrc ? "文件损坏，无法更新!\n" : "已经损坏，无法更新!\n");
}

// The patch: nothing to merge, or the steps of the merge and the rewrite.
inline std::string packNotUpdatedConsole(const std::string& pack) {
  return "->不更新" + pack + "!\n";
}
inline std::string packNotUpdatedLog(const std::string& pack) {
  return std::string(packTitle) + "->do not update: " + pack + "!";
}
inline std::string packUpdating1Console(const std::string& pack) {
  return "->更新" + pack + "...1%%\r";
}
inline std::string packUpdatingLog(const std::string& pack) {
  return std::string(packTitle) + "->update " + pack + " ......";
}
inline std::string packUpdating16Console(const std::string& pack) {
  return "->更新" + pack + "...16%%\r";
}
inline std::string packUpdating66Console(const std::string& pack) {
  return "->更新" + pack + "...66%%\r";
}
inline std::string packUpdating100Console(const std::string& pack) {
  return "->更新" + pack + "...100%%\n";
}
// What the archive listener writes its percentages after (packPercentConsole).
inline std::string packPercentLabel(const std::string& pack) {
  return std::string(packTitle) + "->更新" + pack + "...";
}

// The patch could not be applied; the player is asked to run the installer again
// (updateFailedMessage, updateFailedRetryConsole).
inline std::string packUpdateFailedLog(const std::string& pack, const std::string& account) {
  return std::string(packTitle) + "->update failed: " + pack + "!\n" + account;
}

// The rewritten pack does not carry the table's fingerprint for the new version. "MD5" for
// CRCs and sizes, the dots and spaces around "check failed" and "update failed :" are the
// groups' own.
inline std::string wholeCrcMismatchLog(const std::string& standard, const std::string& result,
                                       const std::string& size) {
  return "standardMD5:" + standard + "\nfileMD5    :" + result + "\nfileSize: " + size;
}
inline std::string wholeCrcCheckFailedLog(const std::string& pack, const std::string& account) {
  return "MD5 check failed ......\n" + std::string(packTitle) + "->update failed : " + pack +
         "!\n" + account;
}
inline constexpr char kWholeCrcValueWrongLog[] = "文件MD5值错误，更新文件失败...";
inline std::string entryChecksumsLog(const std::string& checksums) {
  return "MD5 for total file in kx:" + checksums;
}
inline std::string sampledCrcMismatchLog(const std::string& standard, const std::string& result) {
  return "standardSize:" + standard + "\nfileSize    : " + result;
}
inline std::string sampledCrcCheckFailedLog(const std::string& pack, const std::string& account) {
  return "MD5 check failed......\n" + std::string(packTitle) + "->failed to update: " + pack +
         "\n" + account;
}
inline std::string packMismatchMessage(const std::string& path) { return path + "文件更新错误!"; }
inline std::string packMismatchConsole(const std::string& pack) {
  return "->更新" + pack + "失败!\n";
}

// The rewrite takes the pack's place (CN_packed.kx's after a copy of it is kept, to put back
// should the version pack waiting for it fail to go in).
inline std::string packNotCopiedLog(const std::string& path, const std::string& copy) {
  return std::string(packTitle) + "->can not copy " + path + " to " + copy;
}
inline std::string packNotReplacedLog(const std::string& path, const std::string& rewritten) {
  return std::string(packTitle) + "->can not replace " + path + " with " + rewritten;
}
inline std::string packNotPutBackLog(const std::string& path) {
  return std::string(packTitle) + "->can not put back " + path;
}
inline std::string packCreatedLog(PackGroup group, const std::string& pack) {
  return std::string(packTitle) + (group == PackGroup::WholeCrc
                                       ? "->create successful: " + pack + "!"
                                       : "->create file: " + pack);
}
inline std::string packUpdatedLog(const std::string& pack) {
  return std::string(packTitle) + "->update successful: " + pack + "!";
}

// A pack held at the old version so that the installation still reads as the old one.
inline std::string packKeptLog(const std::string& pack) {
  return std::string(packTitle) + "->keep " + pack + " at " + oldVersion +
         " until every pack is updated!";
}
inline std::string packKeptConsole(const std::string& pack) {
  return "->暂不更新" + pack + ", 请重新更新!\n";
}

// ---- The libraries' events, in whichever stage they happen --------------------------------------
// The archive reader's failures go to the working folder's log, the writer's steps to the run
// log, its notes about entries to pack.log (RunArchiveLog); the fingerprints' steps go to the
// working folder's log (FingerprintLog).

// The reader's lines name its calls and members, spaced as they have always been (a doubled
// space, a trailing one). Empty for a failure that has no line of its own.
inline std::string archiveFailureWorkLog(const ArchiveError& error) {
  switch (error.failure) {
    case ArchiveFailure::CannotOpen:  // no space before the system's code
      return "->can not open kx file:" + error.subject + std::to_string(error.systemCode);
    case ArchiveFailure::FooterNotFound: return "openZip Failed to seek to footer";
    case ArchiveFailure::FooterUnreadable: return "openZip Failed to read footer";
    case ArchiveFailure::BadFooterSignature: return "openZip Invalid footer signature";
    case ArchiveFailure::DirectoryNotFound: return "openZip Failed to seek to directory start";
    case ArchiveFailure::DirectoryUnreadable: return "openZip Failed to read directory block";
    case ArchiveFailure::DirectoryNoMemory: return "openZip Failed to new ram";
    case ArchiveFailure::BadDirectorySignature: return "openZip Invalid directory signature";
    case ArchiveFailure::NameTooLong: return "openZip Filename is too long ";
    case ArchiveFailure::ExtraFieldTooLong: return "openZip Extra field is too long";
    case ArchiveFailure::CommentTooLong: return "openZip File comment is too long";
    case ArchiveFailure::BadLocalHeaderOffset: return "openZip Invalid local header offset";
    case ArchiveFailure::NoArchivePath: return "error:this->path_ is NULL";
    case ArchiveFailure::EntryNotIndexed: return "error:file is missing in fileMap";
    case ArchiveFailure::EntryNotInFile: return "error:localHeaderOffset is less than zero";
    case ArchiveFailure::ReopenFailed: return "failed to open file:" + error.subject;
    case ArchiveFailure::SeekFailed:
      return "KXFileSystem::readFile Failed to seek past local header";
    case ArchiveFailure::UnknownMethod:
      return "KXFileSystem::readFile Compression method  not yet supported";
    case ArchiveFailure::EntryNoMemory:
      return "KXFileSystem::readFile Failed to alloc data buffer";
    case ArchiveFailure::ReadFailed: return "KXFileSystem::readFile Data read error";
    // A delta entry the installed pack cannot take: which entry and why, for the upload.
    case ArchiveFailure::DeltaRecordRefused:
    case ArchiveFailure::DeltaOldEntryMissing:
    case ArchiveFailure::DeltaOldEntryDiffers:
    case ArchiveFailure::DeltaNotReproduced:
      return "KXFileSystem::mergePatch " + describeArchiveError(error);
    default: return std::string();
  }
}

// The writer's steps; the footer, a mismatching offset and the release carry a byte count.
// Empty for the merge, which has no line.
inline std::string writerStepLog(WriterStep step, int64_t bytes) {
  switch (step) {
    case WriterStep::Merging: return std::string();
    case WriterStep::Started: return "One.....";
    case WriterStep::Sorted: return "One-0";
    case WriterStep::OutputReady: return "One-1";
    case WriterStep::WritingEntries: return "One-2";
    case WriterStep::EntriesWritten: return "Two.....";
    case WriterStep::DirectoryWritten: return "Three.....";
    case WriterStep::FooterWritten: return "Four....." + std::to_string(bytes);
    case WriterStep::OffsetMismatch: return "offset:" + std::to_string(bytes);
    case WriterStep::Released: return "Five....." + std::to_string(bytes);
    case WriterStep::Flushed: return "Six......";
  }
  return std::string();
}

// pack.log's notes (an entry's name and the value found), named after the members checked.
inline constexpr char kStoredSizeWrongPackLog[] = "this->header_.compressedSize err:%s %d";
inline constexpr char kExtraFieldDroppedPackLog[] = "header_.extraFieldLength err:%s %d";

// The rewrite's percentages after packPercentLabel. Written as it is: not a format.
inline std::string packPercentConsole(const std::string& label, int percent) {
  return label + std::to_string(percent) + "%\r";
}

inline constexpr char kHugeItemBox[] = "WriteHandler file len is too large";
inline constexpr char kHugeItemCaption[] = "error";
// The system's code, the elements written and the length asked for, each as an int.
inline std::string writeSizeWrongBox(uint32_t systemCode, size_t elementsWritten,
                                     uint64_t length) {
  char text[128];
  std::snprintf(text, sizeof text, "更新的数据大小不对:%d %d %d", static_cast<int>(systemCode),
                static_cast<int>(elementsWritten), static_cast<int>(length));
  return text;
}
inline constexpr char kWriteSizeWrongCaption[] = "更新出错";

// A fingerprint's steps.
inline std::string crcStartedWorkLog(const std::string& path) { return "CRC check..." + path; }
// Also what the logs' own open says of a file it cannot open.
inline std::string openFailedWorkLog(const std::string& path, bool exists) {
  return path + (exists ? " file exist but can not open!" : " does not exist!");
}
// The retry's look at the path, named after the call the log's readers know it by, spaced as
// it always was; the second attempt says "end".
inline std::string accessWorkLog(const std::string& path, bool exists, int attempt) {
  if (attempt == 1)
    return path + (exists ? "存在  :_access(fileName.c_str())" : "不存在:_access(fileName.c_str())");
  return path + (exists ? "存在   end :_access(fileName.c_str())"
                        : "不存在 end :_access(fileName.c_str())");
}
inline std::string fileSizeWorkLog(int64_t size) { return "file size:" + std::to_string(size); }
inline std::string tooLargeWorkLog(const std::string& path, int64_t size) {
  return path + " file too large, size:" + std::to_string(size);
}
inline constexpr char kNoMemoryWorkLog[] = "new mem failed";
inline std::string readErrorWorkLog(const std::string& path, uint32_t systemCode) {
  return path + " read data error..." + std::to_string(systemCode);
}
inline std::string readFailedWorkLog(const std::string& path, int64_t offset) {
  return path + " read data failed!\n" + path + " error pos at:" + std::to_string(offset);
}
inline std::string fileEndNotReachedWorkLog(const std::string& path) {
  return path + " did not read file end, and read times > 50";
}
// The count twice, as the end position and as the total read.
inline std::string crcFinishedWorkLog(int64_t bytesRead) {
  return "end pos at:" + std::to_string(bytesRead) +
         "\nread total size:" + std::to_string(bytesRead);
}
inline constexpr char kSampleSeekFailedWorkLog[] = "fseek failed";
inline constexpr char kSampleReadFailedWorkLog[] = "fread failed";

// ---- The end of the run -------------------------------------------------------------------------

inline constexpr char kLauncherFinishText[] = "Finish";
// A run with failures ends with a box: the first failure kept, captioned kUpdateFailedCaption.
// One without ends with this line; its comma is a full-width one.
inline constexpr char kUpdateSuccessfulLog[] =
    "--------update successful，new version: v" KXPATCH_TO_VERSION "--------";
