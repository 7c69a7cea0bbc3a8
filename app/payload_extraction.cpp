// Run step 7: the payload is written out as temporary archives in the installation folder and
// the check table as bin/MD5.txt, which is then read back as the run's table text.
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/payload.h"
#include "app/preflight.h"
#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "integrity/game_packs.h"
#include "integrity/results_table.h"
#include "platform/replacement_file.h"

namespace {

constexpr size_t kEmptyArchiveBytes = 22;
// The res patch can be large; it is written in blocks with a progress line each.
constexpr size_t kResBlockBytes = 31457280;

// The console's "preparing" percentages after the loose-file archives (the packs' are columns
// of the pack table).
constexpr int kLooseConsolePercent[kLooseFolderCount] = {60, 70};

struct ExtractRow {
  int id;
  const char* fileName;
  int consolePercent;        // shown after the file
  int packIndex;             // patchPresent flag set by the file, -1 for none
  const char* launcherText;  // nullptr for none
};

ExtractRow packRow(int pack) {
  const GamePack& row = kGamePacks[pack];
  return {row.payloadId, row.patchName, row.consolePercent, pack,
          pack == kResPack ? kLauncherResPatchWrittenText : kLauncherPatchWrittenText};
}

ExtractRow looseRow(int folder) {
  return {kLooseFolders[folder].payloadId, kLooseFolders[folder].patchName,
          kLooseConsolePercent[folder], -1, nullptr};
}

bool writeAll(FILE* file, const char* bytes, size_t size) {
  return size == 0 || std::fwrite(bytes, size, 1, file) == 1;
}

// Writes the res payload in whole blocks, one progress line per block, then the rest.
bool writeInBlocks(FILE* file, const Payload& payload, Launcher& launcher) {
  const size_t blocks = payload.size / kResBlockBytes;
  bool written = true;
  for (size_t k = 1; k <= blocks; ++k) {
    written = writeAll(file, payload.bytes.data() + (k - 1) * kResBlockBytes, kResBlockBytes) &&
              written;
    launcher.progress(kLauncherResBlockText);
    // The res row's share of the bar runs from 20% to 29%: a patch of ten blocks or more
    // shows 29% until it is written, never 210%.
    printTitled(kPreparingResBlockConsole, static_cast<int>(std::min<size_t>(k, 9)));
  }
  const size_t rest = payload.size - blocks * kResBlockBytes;
  return writeAll(file, payload.bytes.data() + blocks * kResBlockBytes, rest) && written;
}

// Writes the whole payload to a new file; false when the file cannot be created or does not
// take every byte (a full disk), which the caller reports like a folder it cannot write. The
// part written is removed: it is of no use, and it holds space the player has to free.
bool writePayloadFile(const std::string& path, const Payload& payload, bool inBlocks,
                      Launcher& launcher) {
  platform::OpenedFile created = platform::createFileExclusive(path);
  if (!created) return false;
  FILE* file = created.value().release();
  bool written = inBlocks ? writeInBlocks(file, payload, launcher)
                          : writeAll(file, payload.bytes.data(), payload.size);
  if (std::fclose(file) != 0) written = false;
  if (!written) platform::deleteFile(path);
  return written;
}

[[nodiscard]] bool writeArchiveRow(RunContext& ctx, const ExtractRow& row) {
  Payload payload = loadPayload(row.id);
  const std::string path = joinPath(ctx.found.installDir, row.fileName);
  platform::setFileAttributesNormal(path);
  if (!writePayloadFile(path, payload, row.packIndex == kResPack, ctx.launcher)) {
    logRun(ctx, payloadNotWrittenLog(row.fileName));
    showMessage(noWriteAccessBox(ctx.found.installDir), kNoWriteAccessCaption);
    return false;
  }
  printTitled(kPreparingPercentConsole, row.consolePercent);
  if (row.packIndex >= 0) ctx.payload.patchPresent[row.packIndex] = payload.size != kEmptyArchiveBytes;
  if (row.launcherText) ctx.launcher.progress("%s", row.launcherText);
  return true;
}

[[nodiscard]] bool writeCheckTable(RunContext& ctx) {
  Payload payload = loadPayload(kPayloadCheckTable);
  const std::string path = joinPath(ctx.found.binDir, "MD5.txt");
  platform::setFileAttributesNormal(path);
  if (payload.size == 0) {
    platform::deleteFile(path);
    return true;
  }
  // Written under a temporary name and renamed over the old table: whatever stands at the
  // table's name (a link to a file outside, a second name of one) is replaced, never written
  // through, and a table cut short never takes the old one's place.
  platform::ReplacementFile table(path);
  if (!table.open()) {
    logRun(ctx, cannotOpenFileLog(path));
    showMessage(checkTableNotOpenedBox(path), cannotOpenFileCaption(path));
    return false;
  }
  logRun(ctx, checkTableLog(path));
  if (!table.write(payload.bytes.data(), payload.size) || !table.finish() || !table.commit()) {
    // A partial table would make every pack look damaged; say so instead.
    logRun(ctx, cannotWriteFileLog(path));
    showMessage(checkTableNotOpenedBox(path), cannotOpenFileCaption(path));
    return false;
  }
  return true;
}

// The results table comes from the payload alone: it is never written to the installation.
// One that does not read, or names other versions, is not used.
void loadResults(RunContext& ctx) {
  const Payload payload = loadPayload(kPayloadResults);
  if (payload.size == 0) return;
  ResultsError error;
  if (!decodeResults(payload.bytes.data(), payload.size, ctx.payload.results, error)) {
    logRun(ctx, resultsNotUsedLog(error));
  } else if (!ctx.payload.results.from.empty() &&
             (ctx.payload.results.from != oldVersion || ctx.payload.results.to != newVersion)) {
    logRun(ctx, resultsForOtherVersionsLog(ctx.payload.results.from, ctx.payload.results.to));
    ctx.payload.results = ResultsTable();
  }
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  FILE* file = openFileChecked(path, "rb");
  if (!file) return std::string();
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes.substr(0, bytes.find('\0'));
}

bool extractPayload(RunContext& ctx) {
  ctx.launcher.progress(kLauncherPayloadStartText);
  for (int pack = 0; pack < kGamePackCount; ++pack)
    if (!writeArchiveRow(ctx, packRow(pack))) return false;
  for (int folder = 0; folder < kLooseFolderCount; ++folder)
    if (!writeArchiveRow(ctx, looseRow(folder))) return false;
  waitUntilGameClosed(&ctx.found.runLogPath);
  printTitled(kPreparing80Console);
  if (!writeCheckTable(ctx)) return false;
  printTitled(kPreparing90Console);
  ctx.payload.checkTable = readWholeFile(joinPath(ctx.found.binDir, "MD5.txt"));
  loadResults(ctx);
  printTitled(kPreparing100Console);
  ctx.launcher.progress(kLauncherPayloadDoneText);
  printTitled(kUpgradingConsole);
  return true;
}
