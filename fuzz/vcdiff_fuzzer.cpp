// The VCDIFF decoder over any source and delta; the delta record's header decode and the walk
// of a deflate stream's first block over the same delta bytes. Besides "no crash, no sanitizer
// report": a decoded target never exceeds the bound it was given, and decoding again with exactly
// its size as the bound gives the same target while one byte less is refused as too large.
#include <cstdint>
#include <cstring>

#include "delta/deflate_block_scan.h"
#include "delta/delta_record.h"
#include "delta/vcdiff_decoder.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr size_t kMaxTarget = size_t{64} << 10;  // reserved whole by every decode

}  // namespace

// Layout: the source's length (two bytes, big-endian, below 4096), the source, the delta.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t sourceSize = ((size_t{data[0]} << 8) | data[1]) % 4096;
  if (sourceSize > size - 2) sourceSize = size - 2;
  const uint8_t* source = data + 2;
  const uint8_t* delta = source + sourceSize;
  const size_t deltaSize = size - 2 - sourceSize;

  (void)delta::decodeDeltaRecord(delta, deltaSize);
  (void)delta::scanFirstDeflateBlock(delta, deltaSize);

  const auto target = delta::decodeVcdiff(source, sourceSize, delta, deltaSize, kMaxTarget);
  if (!target) {
    check(delta::describeVcdiffError(target.error()).size() > 0);
    return 0;
  }
  const size_t n = target.value().size();
  check(n <= kMaxTarget);
  const auto exact = delta::decodeVcdiff(source, sourceSize, delta, deltaSize, n);
  check(exact && exact.value() == target.value());
  if (n > 0) {
    const auto tight = delta::decodeVcdiff(source, sourceSize, delta, deltaSize, n - 1);
    check(!tight && tight.error().failure == delta::VcdiffFailure::TargetTooLarge);
  }
  return 0;
}
