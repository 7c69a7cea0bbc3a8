// The delta record: the data of a patch archive record that carries an entry as a delta of its
// contents instead of its stored bytes. Encoded and decoded here only; docs/delta-format.md
// gives the byte layout. The record names the old contents it applies to (size and CRC-32),
// everything needed to rebuild the new entry's stored bytes exactly (method, sizes, CRC-32s,
// deflate settings) and the VCDIFF delta, itself raw-deflated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "delta/deflate_settings.h"
#include "platform/result.h"

namespace delta {

inline constexpr uint32_t kDeltaRecordMagic = 0x4C44584B;  // "KXDL"
inline constexpr uint16_t kDeltaRecordVersion = 1;
inline constexpr size_t kDeltaRecordHeaderSize = 44;
// The archive methods a delta can rebuild: stored and deflated.
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

struct DeltaRecordHeader {
  uint32_t oldSize = 0;                  // the old contents the delta applies to
  uint32_t oldCrc = 0;                   // their CRC-32
  uint16_t newMethod = 0;                // kMethodStored or kMethodDeflated
  uint32_t newStoredSize = 0;            // the new entry's compressedSize
  uint32_t newSize = 0;                  // its uncompressedSize
  uint32_t newCrc = 0;                   // CRC-32 of the new contents
  uint32_t newStoredCrc = 0;             // CRC-32 of the new stored bytes
  DeflateSettings settings{0, 0, 0, 0};  // deflated: how; stored: all zero
  uint32_t vcdiffSize = 0;               // the VCDIFF delta's size once inflated
};

enum class DeltaRecordFailure {
  Truncated,  // shorter than the header, or than the data it announces
  BadMagic,
  BadVersion,
  BadMethod,      // a method other than stored or deflated
  BadSettings,    // deflate settings out of range, or set for a stored entry
  SizeTooLarge,   // a declared size above kMaxDeltaSize
  SizesDisagree,  // a stored entry whose sizes or CRC-32s differ
  TrailingBytes,  // bytes after the data the header announces
  BadVcdiff,      // the deflated VCDIFF does not inflate to its declared size
};
[[nodiscard]] const char* deltaRecordFailureText(DeltaRecordFailure failure);

// A decoded record: its header and where its deflated VCDIFF lies in the record's bytes.
struct DeltaRecordView {
  DeltaRecordHeader header;
  const unsigned char* deflatedVcdiff = nullptr;
  size_t deflatedVcdiffSize = 0;
};

// The record for `header` and the VCDIFF bytes (header.vcdiffSize is set from them), or the
// reason it cannot be written: a header that decodeDeltaRecord would refuse.
[[nodiscard]] platform::Result<std::vector<unsigned char>, DeltaRecordFailure> encodeDeltaRecord(
    DeltaRecordHeader header, const unsigned char* vcdiff, size_t vcdiffSize);

// The header of `record` checked against every bound, without inflating anything. The view
// points into `record`, which must outlive it.
[[nodiscard]] platform::Result<DeltaRecordView, DeltaRecordFailure> decodeDeltaRecord(
    const unsigned char* record, size_t size);

// The VCDIFF bytes of a decoded record (exactly header.vcdiffSize of them).
[[nodiscard]] platform::Result<std::vector<unsigned char>, DeltaRecordFailure> inflateVcdiff(
    const DeltaRecordView& view);

}  // namespace delta
