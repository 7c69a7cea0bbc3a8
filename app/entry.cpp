#include <cstring>

#include "app/updater.h"
#include "platform/platform.h"
#include "report/log.h"

int installerMain(int argc, char** argv) {
  platform::NamedMutex mutex("packMutex");
  consolePrintf("------准备更新,请勿关闭,请勿同时运行多个更新程序------\n");
  writeLog("--------ready to update--------");
  mutex.wait();
  {
    Updater updater;
    autoRun = argc > 1 && std::strcmp(argv[1], "AutoRun") == 0;
    updater.run();
  }
  mutex.release();
  return 0;
}
