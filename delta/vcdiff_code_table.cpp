#include "delta/vcdiff_code_table.h"

namespace delta {
namespace {

constexpr unsigned kModes = 2 + kVcdiffNearSlots + kVcdiffSameSlots;  // self, here, near, same

VcdiffHalf half(VcdiffOp op, unsigned size, unsigned mode = 0) {
  return VcdiffHalf{op, static_cast<uint8_t>(size), static_cast<uint8_t>(mode)};
}

// The default table is defined by the order its codes are listed in: a RUN, the ADDs, the
// COPYs of every mode, then the pairs ADD+COPY and COPY+ADD.
VcdiffCodeTable buildDefaultTable() {
  VcdiffCodeTable table{};
  unsigned code = 0;
  table[code++] = {half(VcdiffOp::Run, 0), {}};
  for (unsigned size = 0; size <= 17; ++size) table[code++] = {half(VcdiffOp::Add, size), {}};
  for (unsigned mode = 0; mode < kModes; ++mode) {
    table[code++] = {half(VcdiffOp::Copy, 0, mode), {}};
    for (unsigned size = 4; size <= 18; ++size)
      table[code++] = {half(VcdiffOp::Copy, size, mode), {}};
  }
  for (unsigned mode = 0; mode < kModes; ++mode) {
    // The last three (the "same" modes) pair only with COPYs of size 4.
    const unsigned maxCopy = mode < 2 + kVcdiffNearSlots ? 6 : 4;
    for (unsigned add = 1; add <= 4; ++add)
      for (unsigned copy = 4; copy <= maxCopy; ++copy)
        table[code++] = {half(VcdiffOp::Add, add), half(VcdiffOp::Copy, copy, mode)};
  }
  for (unsigned mode = 0; mode < kModes; ++mode)
    table[code++] = {half(VcdiffOp::Copy, 4, mode), half(VcdiffOp::Add, 1)};
  return table;
}

}  // namespace

const VcdiffCodeTable& defaultVcdiffCodeTable() {
  static const VcdiffCodeTable table = buildDefaultTable();
  return table;
}

}  // namespace delta
