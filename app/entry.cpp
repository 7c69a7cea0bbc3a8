#include <cstring>

#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/updater.h"
#include "platform/platform.h"
#include "report/log.h"

int installerMain(int argc, char** argv) {
  platform::NamedMutex mutex("packMutex");
  consolePrintf(kReadyConsole);
  writeLog(kReadyWorkLog);
  if (!mutex.wait()) {
    // Never run unguarded: another installer may be writing the same files.
    writeLog(kMutexNotTakenWorkLog);
    showMessage(kLockFailedText, kUpdateFailedCaption);
    return 0;
  }
  {
    Updater updater(argc > 1 && std::strcmp(argv[1], "AutoRun") == 0);
    updater.run();
  }
  mutex.release();
  return 0;
}
