#include <cstring>

#include "app/run_texts.h"
#include "app/stage_helpers.h"
#include "app/updater.h"
#include "platform/platform.h"
#include "report/log.h"
#include "report/system_info.h"

namespace {

// The process-wide system information, gathered once the mutex is ours and released when the
// process is done with it, whichever way installerMain returns.
class SystemInfoScope {
 public:
  SystemInfoScope() { gatherSystemInfo(); }
  ~SystemInfoScope() { releaseSystemInfo(); }
  SystemInfoScope(const SystemInfoScope&) = delete;
  SystemInfoScope& operator=(const SystemInfoScope&) = delete;
};

}  // namespace

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
    SystemInfoScope systemInfo;
    if (wantsSystemInfoOnly(platform::commandLine())) {
      // Whether or not the file could be written, the process ends here with code 0 and no
      // run.
      (void)writeSystemInfoReport();
      return 0;
    }
    Updater updater(argc > 1 && std::strcmp(argv[1], "AutoRun") == 0);
    updater.run();
  }
  mutex.release();
  return 0;
}
