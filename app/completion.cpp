// Run step 10: the launcher hears "Finish", a failed pack update sends the run log away, and
// the user sees the first failure or the run log gets its success line.
#include <string>

#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/stages.h"
#include "report/system_info.h"
#include "report/upload.h"

namespace {

void uploadRunLog(const RunContext& ctx) {
  appendLogLine(ctx.found.runLogPath, getSystemInfo());
  // The outcome does not change the run: a log that stays behind goes with the next upload.
  (void)uploadLog(uploadFolderName(ctx.outcome.uploadFolderKind), ctx.found.runLogPath,
                  uploadFileName(ctx.found.computerName));
}

}  // namespace

bool completeRun(RunContext& ctx) {
  ctx.launcher.progress(kLauncherFinishText);
  if (ctx.outcome.uploadNeeded) uploadRunLog(ctx);
  // Under AutoRun no box is shown, but a run with a failure has not succeeded there either: its
  // log must not say so (the launcher learns the outcome from the version and the uploaded log).
  if (ctx.anyFailure() || ctx.outcome.fileLeftAtOldVersion) {
    if (!ctx.launcher.autoRun() && ctx.anyFailure())
      showMessage(ctx.outcome.failureMessages.front(), kUpdateFailedCaption);
    return false;
  }
  logRun(ctx, kUpdateSuccessfulLog);
  return true;
}
