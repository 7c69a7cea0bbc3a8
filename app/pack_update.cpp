// Run step 9: each of the six packs is checked against the table, merged with its patch
// archive, rewritten, swapped into place and checked again.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "app/archive_log.h"
#include "app/fingerprint_log.h"
#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "archive/kx_file_system.h"
#include "integrity/check_table.h"
#include "integrity/fingerprint.h"
#include "integrity/game_packs.h"
#include "integrity/results_table.h"
#include "platform/file_copy.h"
#include "platform/replacement_file.h"

namespace {

// Each pack is one job of the stage, taken in the table's order.
using PackJob = GamePack;

// The run's texts for the second group (whole-file CRC) differ from the first group's.
bool secondGroup(const PackJob& job) { return job.group == PackGroup::WholeCrc; }

// The one first-group pack that may be absent and is updated whenever it is not yet new.
constexpr GamePackIndex kLenientPack = kKxresPack;

std::string firstGroupFingerprint(const std::string& path, const char* version) {
  FingerprintLog log;
  return (blockHasSampledCrc(version) ? getSizeCRC32Value(path, &log)
                                         : getFileSizeValue(path, &log)).text();
}

struct PackPaths {
  std::string pack;
  std::string patch;
  // The rewritten pack, at pack + "temp" until it takes the pack's place; removed unless it
  // does.
  platform::ReplacementFile rewrite;
  const std::string& rewritten() const { return rewrite.temporaryPath(); }
  // The patch held a delta that could not rebuild its entry from the pack's: the rewrite keeps
  // the old entry there and fails its check whatever its fingerprint says.
  bool lacksEntry = false;
};

// When the version is read from vemo_packed.kx, CN_packed.kx (whose patch brings the version
// entry) and vemo are the two files the installed version depends on. Vemo's verified rewrite
// waits here for CN, so that the installation never reads as the new version while one of them
// is still old.
struct PendingSwap {
  const PackJob* job = nullptr;
  PackPaths paths;
};

// The stage's own state across the six jobs.
struct PackStage {
  // The job being processed (-1 before the first).
  int32_t current = -1;
  // Each pack's share of the launcher's progress bar; all 0 unless the launcher started the
  // run, whose bar alone they move.
  float weights[kGamePackCount] = {};
  PendingSwap versionPack;

  float currentWeight() const { return weights[current]; }
};

// Shares 80 launcher points among the packs that have a patch, in proportion to their
// factors. With no patch at all every weight is 0 rather than a division by zero.
void computePackWeights(const RunContext& ctx, PackStage& stage) {
  float total = 0.0f;
  for (int i = 0; i < kGamePackCount; ++i)
    if (ctx.payload.patchPresent[i]) total += kGamePacks[i].weightFactor;
  for (int i = 0; i < kGamePackCount; ++i) {
    const float factor = ctx.payload.patchPresent[i] ? kGamePacks[i].weightFactor : 0.0f;
    stage.weights[i] = total > 0.0f ? factor / total * 80.0f : 0.0f;
  }
}

// A pack that has changes but cannot be updated in this run stays at the old version. When it
// is missing or damaged, a later run can still finish once the player has restored it, as long
// as the installation reads as the old version.
void markLeftBehind(RunContext& ctx, const PackStage& stage) {
  if (ctx.payload.patchPresent[stage.current]) ctx.outcome.fileLeftAtOldVersion = true;
}

void reportMissing(RunContext& ctx, const PackStage& stage, const PackJob& job,
                   const PackPaths& paths) {
  markLeftBehind(ctx, stage);
  logRun(ctx, packMissingLog(job.group, paths.pack));
  ctx.addFailure(packMissingMessage(paths.pack));
  printTitled(packMissingConsole(paths.pack));
}

void reportDamaged(RunContext& ctx, const PackStage& stage, const PackJob& job,
                   const PackPaths& paths, const std::string& local,
                   const std::string& oldStandard) {
  markLeftBehind(ctx, stage);
  logRun(ctx, packDamagedLog(paths.pack));
  if (secondGroup(job)) {
    logRun(ctx, localCrcLog(local));
    logRun(ctx, oldStandardLog(oldStandard));
  } else {
    logRun(ctx, oldStandardMd5Log(oldStandard));
    logRun(ctx, localFileSizeLog(local));
  }
  ctx.addFailure(packDamagedMessage(job.group, paths.pack));
  consolePrintf(packDamagedConsole(job.group, paths.pack).c_str());
}

// The rewritten pack did not come out as the new version. It is described (sizes, per-entry
// checksums) as it lies at pack + "temp"; the caller removes it afterwards. `notReleased`, when
// not empty, is the line saying it passed the table's check but is not the file the release
// recorded.
void reportResultMismatch(RunContext& ctx, const PackJob& job, const PackPaths& paths,
                          const std::string& newStandard, const std::string& result,
                          const std::string& notReleased) {
  const std::string pack = job.name;
  const std::string rewrittenPath = paths.rewritten();
  FingerprintLog log;
  if (secondGroup(job)) {
    logRun(ctx, getFileSizeValue(rewrittenPath, &log).text());
    logRun(ctx, wholeCrcMismatchLog(newStandard, result,
                                    getFileSizeValue(rewrittenPath, &log).text()));
    if (!notReleased.empty()) logRun(ctx, notReleased);
    logRun(ctx, wholeCrcCheckFailedLog(pack, ctx.found.accountName));
    RunArchiveLog readerLog;
    RefPtr<KXFileSystem> rewritten = makeRef<KXFileSystem>(rewrittenPath, &readerLog);
    logRun(ctx, kWholeCrcValueWrongLog);
    const std::string checksums = rewritten->entryChecksums();
    logRun(ctx, entryChecksumsLog(checksums));
    rewritten->closeArchive();
    ctx.outcome.uploadFolderKind = UploadFolderKind::kSecondGroup;
  } else {
    logRun(ctx, sampledCrcMismatchLog(newStandard, result));
    if (!notReleased.empty()) logRun(ctx, notReleased);
    logRun(ctx, sampledCrcCheckFailedLog(pack, ctx.found.accountName));
  }
  ctx.outcome.uploadNeeded = true;
  ctx.addFailure(packMismatchMessage(paths.pack));
  printTitled(packMismatchConsole(pack));
}

// The pack's patch could not be applied (`unreadable`, when given, is the archive that did not
// read); the old pack stays and the player is told to run the installer again.
void reportUpdateFailed(RunContext& ctx, const PackJob& job, const PackPaths& paths,
                        const std::string& unreadable = std::string()) {
  const std::string pack = job.name;
  if (!unreadable.empty()) logRun(ctx, archiveUnreadableLog(unreadable));
  logRun(ctx, packUpdateFailedLog(pack, ctx.found.accountName));
  ctx.addFailure(updateFailedMessage(paths.pack));
  ctx.outcome.uploadNeeded = true;
  ctx.outcome.fileLeftAtOldVersion = true;
  printTitled(updateFailedRetryConsole(pack));
}

void logCreated(RunContext& ctx, const PackJob& job) {
  logRun(ctx, packCreatedLog(job.group, job.name));
}

void reportUpdated(RunContext& ctx, const PackJob& job) {
  printTitled(updatedConsole(job.name));
  logRun(ctx, packUpdatedLog(job.name));
}

void keepAtOldVersion(RunContext& ctx, const PackJob& job) {
  logRun(ctx, packKeptLog(job.name));
  printTitled(packKeptConsole(job.name));
}

// "" when the release recorded nothing for the pack or the rewrite is, to the last byte, the
// file it recorded; else the line that says what was found.
std::string notReleasedPack(const RunContext& ctx, const PackJob& job, const std::string& path) {
  const ExpectedResult* recorded = ctx.payload.results.find(resultPath(job.name));
  std::string found;
  if (!recorded || fileMatchesResult(path, *recorded, found)) return std::string();
  return notReleasedFileLog(job.name, found, resultText(*recorded));
}

// Checks the rewritten archive before it may take the pack's place, with the fingerprint the
// table holds for the new version, then (the first group's fingerprint samples three windows,
// the second group's stops after 1,000 MiB) with the release's size and CRC of every byte. A
// result that does not match either is reported as a failed check and removed; the old pack
// stays. True when it matches.
bool verifyRewritten(RunContext& ctx, const PackJob& job, PackPaths& paths,
                     const std::string& newStandard) {
  const std::string rewritten = paths.rewritten();
  FingerprintLog log;
  const std::string result = secondGroup(job) ? getCRC32Value(rewritten, &log).text()
                                              : firstGroupFingerprint(rewritten, newVersion);
  std::string notReleased;
  if (result == newStandard && !paths.lacksEntry) {
    notReleased = notReleasedPack(ctx, job, rewritten);
    if (notReleased.empty()) return true;
  }
  logCreated(ctx, job);
  reportResultMismatch(ctx, job, paths, newStandard, result, notReleased);
  paths.rewrite.rollBack();
  ctx.outcome.fileLeftAtOldVersion = true;
  return false;
}

// Puts the verified rewrite in the pack's place in one step (flushed, renamed over the old
// file); a failure leaves the old pack whole and is a failed update.
bool swapIn(RunContext& ctx, const PackJob& job, PackPaths& paths) {
  const std::string rewritten = paths.rewritten();
  if (paths.rewrite.commit()) return true;
  logRun(ctx, packNotReplacedLog(paths.pack, rewritten));
  reportUpdateFailed(ctx, job, paths);
  return false;
}

// The old pack kept at `to` while its rewrite goes in, to be put back should that be needed: a
// second name for the same file where the file system has them (no byte is copied and no room
// is needed for a second gigabyte), else a copy on the disk before this returns. False (nothing
// left at `to`) when neither can be made.
bool keepCopy(const std::string& from, const std::string& to) {
  platform::deleteFile(to);  // a leftover of a killed run
  if (platform::linkFile(from, to)) return true;
  const platform::OpenedFile opened = platform::openFileNarrow(from, "rb");
  if (!opened) return false;
  FILE* source = opened.value().get();
  platform::OpenedFile created = platform::createFileExclusive(to);
  // Released: its close is checked, a failed one can mean lost bytes.
  FILE* copy = created ? created.value().release() : nullptr;
  bool copied = copy && std::fseek(source, 0, SEEK_END) == 0;
  const long size = copied ? std::ftell(source) : -1;
  copied = copied && size >= 0 &&
           platform::appendFileRange(source, 0, copy, static_cast<uint64_t>(size)) &&
           platform::flushToDisk(copy);
  if (copy && std::fclose(copy) != 0) copied = false;
  if (!copied) platform::deleteFile(to);
  return copied;
}

// CN_packed.kx's verified rewrite goes in first, then vemo's, which waited for it. Should
// vemo's swap fail, CN is put back from the copy kept of it: the installation must not read
// as the new version with vemo still old.
void swapInWithWaitingVersionPack(RunContext& ctx, const PackJob& job, PackPaths& paths,
                                  PendingSwap& waiting) {
  const std::string keptCopy = paths.pack + "old";
  if (!keepCopy(paths.pack, keptCopy)) {
    logRun(ctx, packNotCopiedLog(paths.pack, keptCopy));
    paths.rewrite.rollBack();
    reportUpdateFailed(ctx, job, paths);
  } else if (swapIn(ctx, job, paths)) {
    if (swapIn(ctx, *waiting.job, waiting.paths)) {
      logCreated(ctx, job);
      reportUpdated(ctx, job);
      logCreated(ctx, *waiting.job);
      reportUpdated(ctx, *waiting.job);
    } else if (platform::replaceFile(keptCopy, paths.pack)) {
      keepAtOldVersion(ctx, job);
    } else {
      logRun(ctx, packNotPutBackLog(paths.pack));
    }
    waiting.job = nullptr;
  }
  platform::deleteFile(keptCopy);
}

// Merges the patch into the pack and writes the result to pack + "temp". True when that is
// ready to be swapped in; false when the patch is empty or the rewrite failed (reported here),
// and the pack is untouched.
bool rewritePack(RunContext& ctx, const PackStage& stage, const PackJob& job,
                 PackPaths& paths, bool lenient) {
  const std::string pack = job.name;
  RunArchiveLog events(ctx.found.runLogPath, packPercentLabel(pack), stage.currentWeight(),
                       ctx.launcher);
  RefPtr<KXFileSystem> patch = makeRef<KXFileSystem>(paths.patch, &events);
  if (patch->entryCount() == 0) {
    patch->closeArchive();
    // The payload had changes for this pack, but its archive no longer reads (damaged, or
    // taken by a scanner since it was written): that is a failed update, not one with nothing
    // to do.
    if (ctx.payload.patchPresent[stage.current]) {
      reportUpdateFailed(ctx, job, paths, paths.patch);
      return false;
    }
    printTitled(packNotUpdatedConsole(pack));
    logRun(ctx, packNotUpdatedLog(pack));
    return false;
  }
  printTitled(packUpdating1Console(pack));
  ctx.launcher.progress(kLauncherShareFormat, stage.currentWeight() * 0.02);
  logRun(ctx, packUpdatingLog(pack));

  RefPtr<KXFileSystem> installed = makeRef<KXFileSystem>(paths.pack, &events);
  // A pack that passed its check but cannot be indexed now (damage outside the sampled windows
  // of its fingerprint, or a lock taken since) would be rewritten as the patch alone. Only an
  // absent kxres_packed.kx is made from its patch alone.
  if (!installed->isOpen() && (!lenient || platform::pathExists(paths.pack))) {
    patch->closeArchive();
    printTitled(packUpdating100Console(pack));
    reportUpdateFailed(ctx, job, paths, paths.pack);
    return false;
  }
  printTitled(packUpdating16Console(pack));
  ctx.launcher.progress(kLauncherShareFormat, stage.currentWeight() * 0.05);
  // A delta the pack's entry does not fit leaves that entry old: the rewrite is still written,
  // so that the failed check describes it as any other, and is then refused.
  paths.lacksEntry = !installed->mergePatch(*patch);
  printTitled(packUpdating66Console(pack));
  ctx.launcher.progress(kLauncherShareFormat, stage.currentWeight() * 0.05);
  // Why a rewrite failed has been told through the archive's events. A delta whose entry turns
  // out not to be the one it was made from (found as the entry is rebuilt) leaves that entry
  // old in a complete rewrite, refused after its check like one the merge found.
  ArchiveError keptOld;
  const bool rewritten =
      static_cast<bool>(installed->createNewZip(paths.rewrite, patch.get(), &keptOld));
  if (keptOld) paths.lacksEntry = true;
  installed->closeArchive();
  patch->closeArchive();
  printTitled(packUpdating100Console(pack));

  if (rewritten) return true;
  reportUpdateFailed(ctx, job, paths);
  return false;
}

bool isVersionPack(const RunContext& ctx, const PackPaths& paths) {
  return paths.pack == ctx.found.versionArchivePath;
}

bool isCN(const PackJob& job) { return &job == &kGamePacks[kVersionPacks[0]]; }

// The player is told to run the installer again after a failed update. That later run accepts
// the installation only while it still reads as the old version, so the archive the version
// comes from waits until no file before it was left behind. So does CN_packed.kx, which the
// version is read from first: its patch brings the version entry even when this run found the
// version in vemo_packed.kx.
bool holdsBackVersion(const RunContext& ctx, const PackJob& job, const PackPaths& paths) {
  return ctx.outcome.fileLeftAtOldVersion && (isCN(job) || isVersionPack(ctx, paths));
}

// A rewritten pack that passed its check takes the pack's place, or waits for CN_packed.kx
// when it is the version pack read from vemo_packed.kx.
void finishRewrite(RunContext& ctx, PackStage& stage, const PackJob& job, PackPaths& paths,
                   const std::string& newStandard) {
  if (!verifyRewritten(ctx, job, paths, newStandard)) return;
  if (isVersionPack(ctx, paths) && !isCN(job)) {
    stage.versionPack = PendingSwap{&job, std::move(paths)};
    return;
  }
  if (isCN(job) && stage.versionPack.job) {
    swapInWithWaitingVersionPack(ctx, job, paths, stage.versionPack);
    return;
  }
  if (!swapIn(ctx, job, paths)) return;
  logCreated(ctx, job);
  reportUpdated(ctx, job);
}

// After CN_packed.kx's turn, a version pack still waiting goes in when CN had nothing to
// change; it stays old when CN did not make it to the new version (held back, missing,
// damaged, failed).
void settleWaitingVersionPack(RunContext& ctx, PackStage& stage) {
  PendingSwap& waiting = stage.versionPack;
  if (!waiting.job) return;
  const PackJob& job = *waiting.job;
  waiting.job = nullptr;
  if (!ctx.outcome.fileLeftAtOldVersion) {
    if (!swapIn(ctx, job, waiting.paths)) return;
    logCreated(ctx, job);
    reportUpdated(ctx, job);
    return;
  }
  waiting.paths.rewrite.rollBack();
  keepAtOldVersion(ctx, job);
}

void processJob(RunContext& ctx, PackStage& stage, const PackJob& job) {
  ++stage.current;
  const std::string pack = job.name;
  PackPaths paths{joinPath(ctx.found.installDir, pack), joinPath(ctx.found.installDir, job.patchName),
                  platform::ReplacementFile(joinPath(ctx.found.installDir, pack))};
  const bool lenient = &job == &kGamePacks[kLenientPack];
  platform::setFileAttributesNormal(paths.pack);

  std::string local;
  std::string newStandard;
  bool swapPending = false;
  FingerprintLog log;
  if (secondGroup(job)) {
    logRun(ctx, sizeBeforeUpdateLog(pack, getFileSizeValue(paths.pack, &log).text()));
  } else {
    local = firstGroupFingerprint(paths.pack, oldVersion);
    logRun(ctx, sizeBeforeUpdateLog(pack, local));
  }

  if (!lenient && !platform::pathExists(paths.pack)) {
    reportMissing(ctx, stage, job, paths);
  } else {
    if (secondGroup(job)) local = getCRC32Value(paths.pack, &log).text();
    const std::string key = job.tableKey;
    const std::string oldStandard =
        getCheckValue(ctx.payload.checkTable, std::string("mox") + oldVersion, key);
    newStandard = getCheckValue(ctx.payload.checkTable, std::string("mox") + newVersion, key);
    if (!lenient && local != oldStandard && local != newStandard) {
      reportDamaged(ctx, stage, job, paths, local, oldStandard);
    } else if (local == oldStandard || (lenient && local != newStandard)) {
      if (holdsBackVersion(ctx, job, paths))
        keepAtOldVersion(ctx, job);
      else
        swapPending = rewritePack(ctx, stage, job, paths, lenient);
    }
  }
  // Before the swap: once the version pack is in place a later run stops at the version check
  // and would never remove its patch archive.
  platform::deleteFile(paths.patch);
  if (swapPending) finishRewrite(ctx, stage, job, paths, newStandard);
  if (isCN(job)) settleWaitingVersionPack(ctx, stage);

  float total = 20.0f;
  for (int i = 0; i <= stage.current; ++i) total += stage.weights[i];
  ctx.launcher.progress(kLauncherPositionFormat, total);
}

}  // namespace

void patchPacks(RunContext& ctx) {
  PackStage stage;
  ctx.launcher.progress(kLauncherPacksStartText);
  if (ctx.launcher.autoRun()) computePackWeights(ctx, stage);
  ctx.outcome.uploadNeeded = false;
  for (const PackJob& job : kGamePacks) processJob(ctx, stage, job);
}
