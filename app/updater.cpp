#include "app/updater.h"

#include "app/stages.h"

void RunContext::addFailure(const std::string& message) {
  failureBits |= 1u << (failureMessages.size() % 32);
  failureMessages.push_back(message);
}

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
  if (!extractPayload(ctx)) return false;
  if (!updateLooseFiles(ctx)) return false;
  patchPacks(ctx);
  return completeRun(ctx);
}
