#include "archive/entry_methods.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "archive/kx_format.h"

namespace {

// Raw deflate: negative window bits mean no header and no trailer.
constexpr int kRawWindowBits = -15;
// Deflate cannot expand one input byte to more than 1032 output bytes.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Owns one inflate stream for the life of a call.
class RawStream {
 public:
  RawStream() {
    std::memset(&stream_, 0, sizeof stream_);
    ok_ = inflateInit2(&stream_, kRawWindowBits) == Z_OK;
  }
  ~RawStream() {
    if (ok_) inflateEnd(&stream_);
  }
  RawStream(const RawStream&) = delete;
  RawStream& operator=(const RawStream&) = delete;
  bool ok() const { return ok_; }
  z_stream& get() { return stream_; }

 private:
  z_stream stream_;
  bool ok_ = false;
};

}  // namespace

InflateStatus inflateRaw(const unsigned char* in, size_t inLength, unsigned char* out,
                         size_t capacity, size_t* produced) {
  *produced = 0;
  // zlib counts in 32-bit units; archive entries stay below 2 GiB.
  if (inLength > 0xFFFFFFFFu || capacity > 0xFFFFFFFFu) return InflateStatus::OutputFull;
  RawStream raw;
  if (!raw.ok()) return InflateStatus::InitFailed;
  unsigned char spare = 0;
  z_stream& s = raw.get();
  s.next_in = const_cast<unsigned char*>(in ? in : &spare);
  s.avail_in = static_cast<uInt>(in ? inLength : 0);
  s.next_out = out ? out : &spare;
  s.avail_out = static_cast<uInt>(out ? capacity : 0);
  int code = inflate(&s, Z_FINISH);
  *produced = static_cast<size_t>(s.total_out);
  if (code == Z_STREAM_END) return InflateStatus::Complete;
  if (code == Z_DATA_ERROR || code == Z_NEED_DICT || code == Z_STREAM_ERROR ||
      code == Z_MEM_ERROR)
    return InflateStatus::Corrupt;
  // Z_BUF_ERROR or Z_OK: either side ran out.
  if (s.avail_out == 0) return InflateStatus::OutputFull;
  return InflateStatus::Truncated;
}

namespace {

// Inflates the start of a raw-deflate stream; *lastCode gets the last zlib result (Z_OK when
// the output filled before the stream ended), or Z_STREAM_ERROR when inflate could not be set
// up.
size_t inflatePrefix(const InflateFeed& feed, size_t pieceSize, unsigned char* out, size_t want,
                     int* lastCode) {
  unsigned char piece[16];
  if (pieceSize == 0 || pieceSize > sizeof piece) pieceSize = sizeof piece;
  RawStream raw;
  if (!raw.ok()) {
    *lastCode = Z_STREAM_ERROR;
    return 0;
  }
  z_stream& s = raw.get();
  s.next_out = out;
  s.avail_out = static_cast<uInt>(want);
  int code = Z_OK;
  while (s.avail_out > 0) {
    if (s.avail_in == 0) {
      size_t got = feed(piece, pieceSize);
      s.next_in = piece;
      s.avail_in = static_cast<uInt>(got);
    }
    code = inflate(&s, Z_SYNC_FLUSH);
    if (code != Z_OK) break;
  }
  *lastCode = code;
  return want - s.avail_out;
}

}  // namespace

bool isReadableMethod(uint16_t method) {
  return method == kMethodStored || method == kMethodDeflated;
}

const char* methodName(uint16_t method) {
  switch (method) {
    case kMethodStored: return "stored";
    case kMethodDeflated: return "deflate";
    case kMethodDelta: return "delta";
    default: return nullptr;
  }
}

uint64_t maxContentSize(uint16_t method, uint64_t storedSize) {
  if (method == kMethodDeflated) return storedSize * kMaxDeflateRatio + kMaxDeflateRatio;
  return isReadableMethod(method) ? storedSize : 0;
}

InflateStatus decodeEntry(uint16_t method, const unsigned char* in, size_t inLength,
                          unsigned char* out, size_t capacity, size_t* produced) {
  *produced = 0;
  if (method == kMethodDeflated) return inflateRaw(in, inLength, out, capacity, produced);
  if (method != kMethodStored) return InflateStatus::Corrupt;
  *produced = std::min(inLength, capacity);
  if (*produced > 0) std::memcpy(out, in, *produced);
  return inLength > capacity ? InflateStatus::OutputFull : InflateStatus::Complete;
}

size_t decodePrefix(uint16_t method, const InflateFeed& feed, size_t pieceSize,
                    unsigned char* out, size_t want, bool* complete) {
  *complete = false;
  if (method == kMethodDeflated) {
    int code = Z_OK;
    const size_t produced = inflatePrefix(feed, pieceSize, out, want, &code);
    *complete = code == Z_OK;
    return produced;
  }
  if (method != kMethodStored) return 0;
  size_t produced = 0;
  while (produced < want) {
    const size_t got = feed(out + produced, want - produced);
    if (got == 0) break;
    produced += got;
  }
  *complete = true;
  return produced;
}
