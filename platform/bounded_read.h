// The read loop both sides of readRegularFile share: at most one chunk past `limit` is read, so
// a file that grew since its size was looked at is still never read whole.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace platform {

// `readChunk(buffer, capacity)` returns the bytes it read, 0 at the end, or a negative value on
// failure. Fills *content and returns true, or clears it and returns false.
template <class ReadChunk>
bool readBounded(ReadChunk readChunk, size_t limit, PastLimit past, std::string* content) {
  content->clear();
  char buffer[65536];
  bool ok = true;
  while (content->size() <= limit) {
    const long n = readChunk(buffer, sizeof buffer);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    content->append(buffer, static_cast<size_t>(n));
  }
  if (ok && content->size() > limit) {
    if (past == PastLimit::Cut)
      content->resize(limit);
    else
      ok = false;
  }
  if (!ok) content->clear();
  return ok;
}

}  // namespace platform
