// Raw-deflate decompression (no zlib or gzip wrapper, 32 KiB window) as the archive stores it.
// Nothing here allocates: callers own both buffers, which is what lets readers size the output
// from the directory and refuse anything that does not fit exactly.
#pragma once

#include <cstddef>
#include <functional>

enum class InflateStatus {
  Complete,      // the stream ended inside the output buffer
  OutputFull,    // the output buffer filled before the stream ended
  Truncated,     // the input ran out before the stream ended
  Corrupt,       // not a valid deflate stream
  InitFailed,
};

// One Z_FINISH inflate of the whole input into out[0, capacity). *produced receives the number
// of bytes written whatever the status.
[[nodiscard]] InflateStatus inflateRaw(const unsigned char* in, size_t inLength,
                                       unsigned char* out, size_t capacity, size_t* produced);

// Supplies up to `capacity` more input bytes into `buffer`; returns how many (0: no more).
using InflateFeed = std::function<size_t(unsigned char* buffer, size_t capacity)>;

// Inflates just enough of a stream to fill out[0, want) (want <= 16), pulling input through
// `feed` in pieces of at most `pieceSize` bytes, so that only the start of a large entry is
// ever read. Returns the number of bytes produced; *lastCode gets the last zlib result (Z_OK
// when the output filled before the stream ended), or Z_STREAM_ERROR when inflate could not
// be set up.
size_t inflatePrefix(const InflateFeed& feed, size_t pieceSize, unsigned char* out, size_t want,
                     int* lastCode);
