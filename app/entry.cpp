#include <cstring>

#include "app/run_text.h"
#include "app/updater.h"
#include "platform/platform.h"
#include "report/log.h"

int installerMain(int argc, char** argv) {
  platform::NamedMutex mutex("packMutex");
  consolePrintf("------准备更新,请勿关闭,请勿同时运行多个更新程序------\n");
  writeLog("--------ready to update--------");
  if (!mutex.wait()) {
    // Never run unguarded: another installer may be writing the same files.
    writeLog("--------can not take packMutex--------");
    showMessage(kLockFailedText, "更新失败!");
    return 0;
  }
  {
    Updater updater(argc > 1 && std::strcmp(argv[1], "AutoRun") == 0);
    updater.run();
  }
  mutex.release();
  return 0;
}
