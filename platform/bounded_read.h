// The read loop both sides of readRegularFile share: at most one chunk past `limit` is read, so
// a file that grew since its size was looked at is still never read whole.
#pragma once

#include <cstddef>
#include <string>

#include "platform/aligned_buffer.h"
#include "platform/platform.h"

namespace platform {

// Chunks read into page-aligned memory, as large as the fingerprint's: a read into the stack or
// a string's own memory lands off a page boundary and costs the system several times the copy.
inline constexpr size_t kBoundedReadChunkBytes = size_t{512} << 10;

// `readChunk(buffer, capacity)` returns the bytes it read, 0 at the end, or a negative value on
// failure. Fills *content and returns true, or clears it and returns false (also when no memory
// for a chunk can be had).
template <class ReadChunk>
bool readBounded(ReadChunk readChunk, size_t limit, PastLimit past, std::string* content) {
  content->clear();
  // A small limit needs no more than one byte past it to tell a file that is too long.
  const AlignedBuffer buffer(limit < kBoundedReadChunkBytes ? limit + 1 : kBoundedReadChunkBytes);
  if (!buffer) return false;
  char* const chunk = reinterpret_cast<char*>(buffer.data());
  bool ok = true;
  while (content->size() <= limit) {
    const long n = readChunk(chunk, buffer.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    content->append(chunk, static_cast<size_t>(n));
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
