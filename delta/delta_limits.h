// Bounds shared by every delta reader and writer. A delta record is applied in the installer's
// memory: the old contents, the decoded VCDIFF, the new contents and their deflated form are
// all held at once, so each is capped to keep the 32-bit installer's peak well under 256 MiB.
#pragma once

#include <cstddef>

namespace delta {

// The largest old contents, new contents (either size), VCDIFF stream or VCDIFF target a
// delta may declare or produce: 64 MiB.
inline constexpr size_t kMaxDeltaSize = size_t{64} << 20;

}  // namespace delta
