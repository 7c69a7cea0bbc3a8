// The VCDIFF instruction code table: what each of the 256 instruction codes means. Only the
// standard's default table is known here; a delta that carries a table of its own is refused
// by the decoder.
#pragma once

#include <array>
#include <cstdint>

namespace delta {

enum class VcdiffOp : uint8_t { Noop = 0, Add = 1, Run = 2, Copy = 3 };

// One half of a code: an operation, its size (0: the size follows in the instruction
// section) and, for a copy, its address mode.
struct VcdiffHalf {
  VcdiffOp op = VcdiffOp::Noop;
  uint8_t size = 0;
  uint8_t mode = 0;
};

struct VcdiffCode {
  VcdiffHalf first;
  VcdiffHalf second;
};

using VcdiffCodeTable = std::array<VcdiffCode, 256>;

// The default code table (built once, on first use), whose address modes assume a cache of 4
// "near" and 3 "same" slots.
const VcdiffCodeTable& defaultVcdiffCodeTable();

inline constexpr unsigned kVcdiffNearSlots = 4;
inline constexpr unsigned kVcdiffSameSlots = 3;

}  // namespace delta
