#include "platform/file_copy.h"

#include <algorithm>

#include "platform/aligned_buffer.h"

namespace platform {

namespace {
// The POSIX side's fallback buffer, for the same reason: it stays in the core's cache between
// the read and the write.
constexpr size_t kBufferBytes = size_t{512} << 10;
}

// Through a bounded buffer: the C runtime has no file-to-file copy of a range.
bool appendFileRange(FILE* from, int64_t offset, FILE* to, uint64_t length) {
  if (!from || !to || offset < 0) return false;
  if (::_fseeki64(from, offset, SEEK_SET) != 0) return false;
  const AlignedBuffer buffer(static_cast<size_t>(std::min<uint64_t>(length, kBufferBytes)));
  if (length > 0 && !buffer) return false;
  uint64_t left = length;
  while (left > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
    if (std::fread(buffer.data(), 1, piece, from) != piece) return false;
    if (std::fwrite(buffer.data(), piece, 1, to) != 1) return false;
    left -= piece;
  }
  return true;
}

}  // namespace platform
