// A look at the first block of a raw deflate stream: enough to rule out most deflate settings
// before trying them. zlib ends a block after exactly 2^(memLevel + 6) - 1 symbols (literals
// and matches) when more input follows, and never matches farther back than its window less
// 262 bytes; the first block of a stream therefore names the memory level (when it is not the
// last block) and bounds the window.
#pragma once

#include <cstddef>
#include <cstdint>

namespace delta {

struct FirstDeflateBlock {
  bool read = false;       // false: the block could not be walked (stored, corrupt, cut short)
  bool last = false;       // the block is the stream's last
  size_t symbols = 0;      // literals and matches, the end-of-block code not counted
  size_t maxDistance = 0;  // the farthest match distance, 0 without matches
};

// Walks the first block of `stream` when it is Huffman-coded (fixed or dynamic codes). Reads
// nothing outside stream[0, size).
[[nodiscard]] FirstDeflateBlock scanFirstDeflateBlock(const unsigned char* stream, size_t size);

}  // namespace delta
