#include "app/journal.h"

#include "app/payload.h"
#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "app/updater.h"
#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "platform/replacement_file.h"
#include "report/run_state.h"

namespace {

constexpr char kJournalHeader[] = "kxpatch update journal";
// A journal holds three short lines; anything larger is not one of ours.
constexpr size_t kMaxJournalBytes = 4096;

// The old CN_packed.kx kept under a second name while vemo_packed.kx waits for its swap.
std::string keptCNName() { return std::string(kGamePacks[kCNPack].name) + "old"; }

std::string journalPath(const std::string& installDir) {
  return joinPath(installDir, kJournalName);
}

// The text after `key` on the line that starts at `at`; advances `at` past the line.
bool readLine(const std::string& bytes, size_t& at, const std::string& key, std::string* value) {
  const size_t end = bytes.find('\n', at);
  if (end == std::string::npos || bytes.compare(at, key.size(), key) != 0) return false;
  if (value) *value = bytes.substr(at + key.size(), end - at - key.size());
  at = end + 1;
  return true;
}

}  // namespace

std::string encodeJournal(const std::string& from, const std::string& to) {
  return std::string(kJournalHeader) + "\nfrom=" + from + "\nto=" + to + "\n";
}

bool decodeJournal(const std::string& bytes, std::string* from, std::string* to) {
  size_t at = 0;
  return readLine(bytes, at, kJournalHeader, nullptr) && readLine(bytes, at, "from=", from) &&
         readLine(bytes, at, "to=", to) && at == bytes.size();
}

JournalFound findJournal(const std::string& installDir) {
  const std::string path = journalPath(installDir);
  std::string bytes;
  if (!platform::readRegularFile(path, kMaxJournalBytes, &bytes))
    return platform::pathExists(path) ? JournalFound::Other : JournalFound::None;
  std::string from;
  std::string to;
  return decodeJournal(bytes, &from, &to) && from == oldVersion && to == newVersion
             ? JournalFound::Ours
             : JournalFound::Other;
}

bool writeJournal(const std::string& installDir) {
  const std::string bytes = encodeJournal(oldVersion, newVersion);
  platform::ReplacementFile journal(journalPath(installDir));
  return journal.open() && journal.write(bytes.data(), bytes.size()) && journal.finish() &&
         journal.commit();
}

namespace {

void removePayloadArchives(const RunContext& ctx) {
  for (const std::string& name : payloadArchiveNames())
    platform::deleteFile(joinPath(ctx.found.installDir, name));
}

}  // namespace

std::vector<std::string> payloadArchiveNames() {
  std::vector<std::string> names;
  for (const GamePack& pack : kGamePacks) names.push_back(pack.patchName);
  for (const LooseFolder& folder : kLooseFolders) names.push_back(folder.patchName);
  return names;
}

void tidyBeforePacks(const RunContext& ctx) {
  removePayloadArchives(ctx);
  if (ctx.found.journal != JournalFound::Other && ctx.found.localVersion == oldVersion)
    platform::deleteFile(journalPath(ctx.found.installDir));
}

void removeLeftovers(const RunContext& ctx, bool finished) {
  for (const GamePack& pack : kGamePacks)
    platform::deleteFile(joinPath(ctx.found.installDir, pack.name) + "temp");
  for (const std::string& target : ctx.outcome.looseFilesWritten) platform::deleteFile(target + "temp");
  // The table is written under its temporary name before it replaces bin/MD5.txt.
  platform::deleteFile(joinPath(ctx.found.binDir, payloadFileName(kPayloadCheckTable)) + "temp");
  platform::deleteFile(joinPath(ctx.found.installDir, keptCNName()));
  removePayloadArchives(ctx);
  platform::deleteFile(journalPath(ctx.found.installDir) + "temp");
  if (finished) platform::deleteFile(journalPath(ctx.found.installDir));
}

bool startJournal(RunContext& ctx) {
  if (ctx.found.journal == JournalFound::Other) return true;
  if (writeJournal(ctx.found.installDir)) return true;
  // Without it a run cut short after CN's swap could not be finished: nothing is swapped.
  logRun(ctx, payloadNotWrittenLog(kJournalName));
  showMessage(noWriteAccessBox(ctx.found.installDir), kNoWriteAccessCaption);
  return false;
}

void closeJournal(RunContext& ctx) {
  // Every rewrite of this run has been swapped in or removed by now.
  if (ctx.found.journal != JournalFound::Other) removeLeftovers(ctx, !ctx.outcome.fileLeftAtOldVersion);
}
