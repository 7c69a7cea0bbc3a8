// The update object's life: construction gathers the system information (and under "-sysinfo"
// writes the report and ends the process before any run); destruction releases it.
#include "app/updater.h"

#include "platform/platform.h"
#include "platform/sysinfo.h"
#include "report/system_info.h"

Updater::Updater(bool autoRun) : autoRun_(autoRun) {
  gatherSystemInfo();
  if (wantsSystemInfoOnly(platform::commandLine())) {
    // Whether or not the file could be written, the process ends here with code 0.
    writeSystemInfoReport();
    platform::exitProcessNow(0);
  }
}

Updater::~Updater() { releaseSystemInfo(); }
