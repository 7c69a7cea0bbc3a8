#include "app/updater.h"

#include "app/stages.h"

namespace {

// A run that ends before the packs leaves none of its payload archives behind: of no use to a
// later run, which writes its own, they only hold the player's space.
bool stopBeforePacks(const RunContext& ctx) {
  tidyBeforePacks(ctx);
  return false;
}

}  // namespace

bool Updater::run() {
  RunContext ctx;
  ctx.launcher = Launcher(autoRun_);
  beginRun(ctx);
  waitForGameClosed(ctx);
  prepareConsole(ctx);
  if (!locateInstallationStage(ctx)) return false;
  if (!lockInstallation(ctx)) return false;
  setRunLogPath(ctx);
  if (!checkVersion(ctx)) return false;
  if (!extractPayload(ctx)) return stopBeforePacks(ctx);
  if (!startJournal(ctx)) return stopBeforePacks(ctx);
  if (!updateLooseFiles(ctx)) return stopBeforePacks(ctx);
  patchPacks(ctx);
  closeJournal(ctx);
  return completeRun(ctx);
}
