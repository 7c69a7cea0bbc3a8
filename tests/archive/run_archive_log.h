// The archives of these tests report the way the installer's run hears them, so that the
// lines the run has always logged for them stay pinned next to the code that fails.
#pragma once

#include "app/archive_log.h"

namespace kxtest {

inline RunArchiveLog& runReaderLog() {
  static RunArchiveLog log;
  return log;
}

}  // namespace kxtest
