// Run step 8: the loose files of bin and cache are written (or, for an empty entry, deleted)
// from their payload archives; the new game executable is checked against the table.
#include <cstdio>
#include <string>
#include <vector>

#include "app/archive_log.h"
#include "app/fingerprint_log.h"
#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "archive/kx_file_system.h"
#include "integrity/check_table.h"
#include "integrity/game_packs.h"
#include "integrity/fingerprint.h"
#include "integrity/results_table.h"
#include "platform/replacement_file.h"

namespace {


enum class EntryResult { kDone, kStopRun };

// An entry may only name a file inside its folder: a ".." segment, an absolute path or a
// drive letter would let a damaged or hostile archive write anywhere the user can.
bool staysInsideFolder(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.find(':') != std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

std::string targetPath(const std::string& folder, const std::string& name) {
  std::string relative = name;
  for (char& c : relative)
    if (c == '/') c = platform::kPathSeparator;
  return joinPath(folder, relative);
}

// The entry's content decompressed by its method. An entry that declares no bytes is empty
// content (a deletion); one that cannot be read or inflated gives false, never empty content.
// Read by position: a name such as "fonts" next to "fonts 2" would be taken for another record.
bool entryContent(KXFileSystem& archive, size_t index, BlockRef& content) {
  const ArchiveFile& record = archive.records()[index];
  if (record.entry_.uncompressedSize == 0) {
    content = BinaryBlock::fromString(std::string(), "BinaryBlock/ZipRead");
    return true;
  }
  content = archive.readContentAt(index);
  return static_cast<bool>(content);
}

enum class WriteResult { kWritten, kCannotOpen, kWriteFailed };

// A file the payload changes stays as it was: the run must not end as a success, and the
// version pack waits so that a later run can finish it.
void reportLeftBehind(RunContext& ctx, const std::string& target) {
  ctx.addFailure(updateFailedMessage(target));
  ctx.outcome.fileLeftAtOldVersion = true;
  printTitled(updateFailedRetryConsole(target));
}

// A name the installer will not write is a failure of that file, reported as one that could not
// be written. It does not hold back the version pack: no later run could ever place it.
void reportRefused(RunContext& ctx, const std::string& target) {
  ctx.addFailure(updateFailedMessage(target));
  printTitled(updateFailedRetryConsole(target));
}

// Makes the folders between `installDir` and `target` that are missing (a release may bring a
// folder the installation does not have yet), each one inside the one before it, which the
// caller has found to be no link. False when one cannot be made or something else stands there.
bool makeFoldersBelow(const std::string& installDir, const std::string& target) {
  for (size_t at = target.find(platform::kPathSeparator, installDir.size() + 1);
       at != std::string::npos; at = target.find(platform::kPathSeparator, at + 1)) {
    const std::string folder = target.substr(0, at);
    if (!platform::pathExists(folder) && !platform::makeFolder(folder)) return false;
  }
  return true;
}

// Whether the written temporary file is, to the last byte, what the release recorded for the
// target; true when it recorded nothing. Otherwise `line` says what was found.
bool isReleasedFile(const RunContext& ctx, const std::string& target, const std::string& written,
                    std::string& line) {
  const std::string name = resultPath(target.substr(ctx.found.installDir.size() + 1));
  const ExpectedResult* recorded = ctx.payload.results.find(name);
  std::string found;
  if (!recorded || fileMatchesResult(written, *recorded, found)) return true;
  line = notReleasedFileLog(target, found, resultText(*recorded));
  return false;
}

// Writes `content` to target + "temp" and puts that in the target's place, so that the target
// is never left cut short: a full disk, or a written file that is not the release's, keeps the
// old file, and the failure is reported and makes a later run necessary. A target that cannot
// be replaced (a running game executable on Windows) counts as one that cannot be opened.
WriteResult writeTarget(RunContext& ctx, const std::string& target, const BlockRef& content) {
  if (!makeFoldersBelow(ctx.found.installDir, target)) return WriteResult::kCannotOpen;
  ctx.outcome.looseFilesWritten.push_back(target);  // its temporary name is tidied at the run's end
  platform::ReplacementFile output(target);
  if (!output.open()) return WriteResult::kCannotOpen;
  std::string notReleased;
  if (!output.write(content->data(), static_cast<size_t>(content->length())) ||
      !output.finish() || !isReleasedFile(ctx, target, output.temporaryPath(), notReleased)) {
    if (!notReleased.empty()) logRun(ctx, notReleased);
    output.rollBack();
    logRun(ctx, fileWriteFailedLog(target));
    reportLeftBehind(ctx, target);
    return WriteResult::kWriteFailed;
  }
  if (!output.commit()) return WriteResult::kCannotOpen;
  return WriteResult::kWritten;
}

void deleteTarget(const RunContext& ctx, const std::string& target) {
  logRun(ctx, fileDeletedLog(target));
  printTitled(fileDeletedConsole(target));
  platform::deleteFile(target);
}

// The rule for every entry but the game executable.
void updateOrdinaryEntry(RunContext& ctx, const std::string& target, const BlockRef& content) {
  if (content->length() == 0) {
    platform::deleteFile(target);
    logRun(ctx, fileDeletedLog(target));
    printTitled(fileDeletedConsole(target));
    return;
  }
  const WriteResult result = writeTarget(ctx, target, content);
  if (result == WriteResult::kCannotOpen) {
    logRun(ctx, looseFileNotOpenedLog(target));
    reportLeftBehind(ctx, target);
  }
  if (result != WriteResult::kWritten) return;
  logRun(ctx, fileUpdatedLog(target));
  printTitled(updatedConsole(target));
}

void logSizeBefore(const RunContext& ctx, const std::string& target) {
  FingerprintLog log;
  logRun(ctx, gameExeSizeLog(getFileSizeValue(target, &log).text()));
}

// The game executable: its new content must carry the table's fingerprint for newVersion; a
// mismatch is reported at the end, the file is written all the same.
EntryResult updateGameExecutable(RunContext& ctx, const std::string& target,
                                 const BlockRef& content) {
  if (!platform::pathExists(target)) logRun(ctx, missingBeforeUpdateLog(target));
  logSizeBefore(ctx, target);
  if (content->length() == 0) {
    deleteTarget(ctx, target);
    return EntryResult::kDone;
  }
  const std::string expected = getCheckValue(ctx.payload.checkTable, std::string("mox") + newVersion,
                                             kGameExecutableTableKey);
  const std::string actual =
      getBufferCRC32Value(content->data(), static_cast<uint32_t>(content->length()));
  if (expected != actual) {
    logSizeBefore(ctx, target);
    logRun(ctx, kGameExeMismatchLog);
    logRun(ctx, gameExeFingerprintsLog(expected, actual, ctx.found.accountName));
    ctx.addFailure(kGameExeMismatchMessage);
  } else {
    logRun(ctx, checkSuccessLog(target));
  }
  const WriteResult result = writeTarget(ctx, target, content);
  if (result == WriteResult::kWriteFailed) return EntryResult::kDone;
  if (result == WriteResult::kCannotOpen) {
    logRun(ctx, cannotOpenFileLog(target));
    showMessage(gameExeNotOpenedBox(target), cannotOpenFileCaption(target));
    return EntryResult::kStopRun;
  }
  logRun(ctx, fileUpdatedLog(target));
  printTitled(updatedConsole(target));
  return EntryResult::kDone;
}

// Applies every entry of one payload archive to `folder`; false when the run must end.
bool applyArchive(RunContext& ctx, const std::string& archiveName, const std::string& folder,
                  bool gameExecutableSpecial) {
  const std::string archivePath = joinPath(ctx.found.installDir, archiveName);
  RunArchiveLog readerLog;
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(archivePath, &readerLog);
  if (!archive->isOpen()) {
    // The payload wrote it moments ago (the empty archive when nothing changes); one that no
    // longer reads was damaged or taken since, and its changes are missing.
    logRun(ctx, archiveUnreadableLog(archivePath));
    reportLeftBehind(ctx, archivePath);
    platform::deleteFile(archivePath);
    return true;
  }
  for (size_t index = 0; index < archive->records().size(); ++index) {
    const ArchiveFile& record = archive->records()[index];
    const std::string target = targetPath(folder, record.name);
    if (!staysInsideFolder(record.name)) {
      logRun(ctx, entryRefusedLog(record.name));
      reportRefused(ctx, target);
      continue;
    }
    // A folder on the way that is a link leads outside the installation: nothing is written or
    // deleted through it.
    if (platform::folderLinkBelow(ctx.found.installDir, target)) {
      logRun(ctx, looseFileNotOpenedLog(target));
      reportLeftBehind(ctx, target);
      continue;
    }
    platform::setFileAttributesNormal(target);
    BlockRef content;
    if (!entryContent(*archive, index, content)) {
      logRun(ctx, entryUnreadableLog(record.name, archivePath, target));
      reportLeftBehind(ctx, target);
      continue;
    }
    if (gameExecutableSpecial && record.name == kGameExecutable) {
      if (updateGameExecutable(ctx, target, content) == EntryResult::kStopRun) return false;
    } else {
      updateOrdinaryEntry(ctx, target, content);
    }
  }
  archive->closeArchive();
  platform::deleteFile(archivePath);
  return true;
}

}  // namespace

bool updateLooseFiles(RunContext& ctx) {
  const LooseFolder& bin = kLooseFolders[kBinFolder];
  const LooseFolder& cache = kLooseFolders[kCacheFolder];
  if (!applyArchive(ctx, bin.patchName, joinPath(ctx.found.installDir, bin.name), true)) return false;
  applyArchive(ctx, cache.patchName, joinPath(ctx.found.installDir, cache.name), false);
  return true;
}
