// The payload table that the build links into the installer on POSIX, in place of the
// resources a Windows executable carries. The build generates the definition from the files of
// KXPATCH_PAYLOAD_DIR; programs without a payload (tests, tools) leave it undefined, and then
// every resource is absent.
#pragma once

#include <cstddef>

namespace platform {

struct PayloadEntry {
  const char* type;
  int id;
  const unsigned char* data;
  std::size_t size;
};

}  // namespace platform

extern "C" const platform::PayloadEntry* kxpatch_payload_entries(std::size_t* count)
    __attribute__((weak));
