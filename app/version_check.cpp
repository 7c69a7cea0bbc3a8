// Run step 6: the installed version is the "version" value of "scripts_config.xml" inside the
// CN or vemo archive; the installer applies only to oldVersion.
#include <string>
#include <vector>

#include "app/archive_log.h"
#include "app/journal.h"
#include "app/preflight.h"
#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "archive/kx_file_system.h"
#include "archive/version_entry.h"
#include "integrity/game_packs.h"

namespace {

// The bin folder could not be used to read the version: no archive held its entry, or the entry
// did not parse.
void failInitialisation(RunContext& ctx, const std::string& logAfterBox) {
  const std::string text = binDirFailedText(ctx.found.binDir);
  const std::string titled = std::string(packTitle) + text;
  showMessage(titled, titled);
  if (!logAfterBox.empty()) logRun(ctx, logAfterBox);
  closeUpdater();
  ctx.launcher.notify(kLauncherEnd, kLauncherEndText);
  ctx.launcher.notify(kLauncherFailure, text);
}

}  // namespace

bool checkVersion(RunContext& ctx) {
  RunArchiveLog readerLog;
  std::vector<RefPtr<KXFileSystem>> archives;
  for (GamePackIndex pack : kVersionPacks)
    archives.push_back(
        makeRef<KXFileSystem>(joinPath(ctx.found.installDir, kGamePacks[pack].name), &readerLog));

  BlockRef entry;
  std::string holder;
  for (const RefPtr<KXFileSystem>& archive : archives) {
    entry = readVersionEntry(*archive);
    logRun(ctx, versionReadFromLog(archive->path()));
    if (entry) {
      holder = archive->path();
      break;
    }
    logRun(ctx, versionArchiveStateLog(archive->path(), platform::pathExists(archive->path())));
  }
  if (!entry) {
    logRun(ctx, kVersionEntryMissingLog);
    failInitialisation(ctx, "");
    return false;
  }
  logRun(ctx, versionReadLog(holder));
  ctx.found.versionArchivePath = holder;

  if (!versionOfEntry(entry, ctx.found.localVersion)) {
    logRun(ctx, kVersionSectionMissingLog);
    failInitialisation(ctx, binDirFailedLog(ctx.found.binDir));
    return false;
  }
  for (const RefPtr<KXFileSystem>& archive : archives) archive->closeArchive();
  entry = nullptr;

  printTitled(kPreparing1Console);
  logRun(ctx, versionsLog(ctx.found.localVersion));
  // A run cut short after CN's swap leaves an installation that reads as the new version with
  // files still old; its journal says so, and this run finishes it.
  const std::string journal = joinPath(ctx.found.installDir, kJournalName);
  ctx.found.journal = findJournal(ctx.found.installDir);
  if (ctx.found.journal == JournalFound::Other) logRun(ctx, journalLeftAloneLog(journal));
  if (ctx.found.journal == JournalFound::Ours) logRun(ctx, journalResumeLog(journal));
  if (ctx.found.localVersion == oldVersion) return true;
  if (ctx.found.localVersion == newVersion && ctx.found.journal == JournalFound::Ours) return true;
  showMessage(wrongVersionBox(ctx.found.localVersion), kWrongVersionCaption);
  return false;
}
