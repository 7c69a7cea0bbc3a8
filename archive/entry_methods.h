// The compression methods an archive entry may be stored with, and the only code that decodes
// them. The reader, the probe for nested archives and the tools ask here, so a new method is a
// number in kx_format.h and a row in each function of entry_methods.cpp.
// Nothing here allocates: callers own both buffers, which is what lets readers size the output
// from the directory and refuse anything that does not fit exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

enum class InflateStatus {
  Complete,      // the stream ended inside the output buffer
  OutputFull,    // the output buffer filled before the stream ended
  Truncated,     // the input ran out before the stream ended
  Corrupt,       // not a valid stream of its method
  InitFailed,
};

// Whether entries of `method` can be read (decoded to their contents).
bool isReadableMethod(uint16_t method);

// The method's name as listings show it, or nullptr for a number no method has.
const char* methodName(uint16_t method);

// The largest contents `storedSize` bytes of `method` can decode to: a recorded size beyond it
// is a damaged record, refused before anything is allocated for it.
uint64_t maxContentSize(uint16_t method, uint64_t storedSize);

// Decodes the whole of an entry's stored bytes into out[0, capacity). *produced receives the
// number of bytes written whatever the status.
[[nodiscard]] InflateStatus decodeEntry(uint16_t method, const unsigned char* in,
                                        size_t inLength, unsigned char* out, size_t capacity,
                                        size_t* produced);

// One Z_FINISH inflate of a whole raw-deflate stream (no zlib or gzip wrapper, 32 KiB window)
// into out[0, capacity).
[[nodiscard]] InflateStatus inflateRaw(const unsigned char* in, size_t inLength,
                                       unsigned char* out, size_t capacity, size_t* produced);

// Supplies up to `capacity` more input bytes into `buffer`; returns how many (0: no more).
using InflateFeed = std::function<size_t(unsigned char* buffer, size_t capacity)>;

// Decodes just enough of an entry to fill out[0, want) (want <= 16), pulling stored bytes
// through `feed` in pieces of at most `pieceSize` bytes, so that only the start of a large
// entry is ever read. Returns the number of bytes produced; *complete is false when the stored
// bytes are not a valid stream of the method (or it could not be set up).
size_t decodePrefix(uint16_t method, const InflateFeed& feed, size_t pieceSize,
                    unsigned char* out, size_t want, bool* complete);
