// Bounded raw-inflate of a stream whose inflated size is known in advance.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/result.h"

namespace delta {

enum class InflateFailure {
  Corrupt,     // not a valid raw deflate stream
  WrongSize,   // the stream inflates to more or fewer bytes than expected
  Trailing,    // bytes follow the end of the stream
  ZlibFailed,  // zlib could not be set up
};

// The bytes of the raw deflate stream `in`, which must inflate to exactly `expectedSize`
// bytes and end exactly at its last byte. Never writes or allocates more than expectedSize
// (plus one byte, to see a stream that is too long).
[[nodiscard]] platform::Result<std::vector<unsigned char>, InflateFailure> inflateExactly(
    const unsigned char* in, size_t inSize, size_t expectedSize);

}  // namespace delta
