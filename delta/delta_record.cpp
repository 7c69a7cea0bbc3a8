#include "delta/delta_record.h"

#include <zlib.h>

#include <algorithm>

#include "delta/delta_limits.h"
#include "delta/raw_inflate.h"

namespace delta {
namespace {

using platform::fail;

// The deflated VCDIFF may exceed the VCDIFF itself by deflate's stored-block overhead.
constexpr size_t kMaxDeflatedVcdiff = kMaxDeltaSize + kMaxDeltaSize / 256;
// The VCDIFF is deflated with zlib's best compression; any zlib reads it back.
constexpr DeflateSettings kVcdiffDeflate{9, 15, 8, Z_DEFAULT_STRATEGY};

// Field offsets of the 44-byte header (docs/delta-format.md).
enum Offset : size_t {
  kMagicAt = 0,
  kVersionAt = 4,
  kMethodAt = 6,
  kOldSizeAt = 8,
  kOldCrcAt = 12,
  kStoredSizeAt = 16,
  kNewSizeAt = 20,
  kNewCrcAt = 24,
  kStoredCrcAt = 28,
  kLevelAt = 32,
  kWindowBitsAt = 33,
  kMemLevelAt = 34,
  kStrategyAt = 35,
  kVcdiffSizeAt = 36,
  kDeflatedSizeAt = 40,
};
static_assert(kDeflatedSizeAt + 4 == kDeltaRecordHeaderSize);

uint32_t readLE(const unsigned char* p, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= uint32_t{p[i]} << (8 * i);
  return value;
}
void writeLE(unsigned char* p, uint32_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Everything about a header that can be judged without the data.
platform::Result<bool, DeltaRecordFailure> checkHeader(const DeltaRecordHeader& h) {
  if (h.newMethod != kMethodStored && h.newMethod != kMethodDeflated)
    return fail(DeltaRecordFailure::BadMethod);
  if (h.oldSize > kMaxDeltaSize || h.newSize > kMaxDeltaSize || h.newStoredSize > kMaxDeltaSize ||
      h.vcdiffSize > kMaxDeltaSize)
    return fail(DeltaRecordFailure::SizeTooLarge);
  if (h.newMethod == kMethodStored) {
    if (h.settings != DeflateSettings{0, 0, 0, 0}) return fail(DeltaRecordFailure::BadSettings);
    if (h.newStoredSize != h.newSize || h.newStoredCrc != h.newCrc)
      return fail(DeltaRecordFailure::SizesDisagree);
  } else if (!validDeflateSettings(h.settings)) {
    return fail(DeltaRecordFailure::BadSettings);
  }
  return true;
}

}  // namespace

const char* deltaRecordFailureText(DeltaRecordFailure failure) {
  switch (failure) {
    case DeltaRecordFailure::Truncated: return "the delta record is truncated";
    case DeltaRecordFailure::BadMagic: return "not a delta record";
    case DeltaRecordFailure::BadVersion: return "unsupported delta record version";
    case DeltaRecordFailure::BadMethod: return "the delta record names an unknown method";
    case DeltaRecordFailure::BadSettings: return "the delta record's deflate settings are invalid";
    case DeltaRecordFailure::SizeTooLarge: return "the delta record declares a size above 64 MiB";
    case DeltaRecordFailure::SizesDisagree:
      return "the delta record's stored and content sizes disagree";
    case DeltaRecordFailure::TrailingBytes: return "the delta record has trailing bytes";
    case DeltaRecordFailure::BadVcdiff: return "the delta record's VCDIFF does not inflate";
  }
  return "unknown delta record failure";
}

platform::Result<std::vector<unsigned char>, DeltaRecordFailure> encodeDeltaRecord(
    DeltaRecordHeader h, const unsigned char* vcdiff, size_t vcdiffSize) {
  if (vcdiffSize > kMaxDeltaSize) return fail(DeltaRecordFailure::SizeTooLarge);
  h.vcdiffSize = static_cast<uint32_t>(vcdiffSize);
  const auto checked = checkHeader(h);
  if (!checked) return fail(checked.error());
  auto deflated = deflateWithSettings(kVcdiffDeflate, vcdiff, vcdiffSize);
  if (!deflated || deflated.value().size() > kMaxDeflatedVcdiff)
    return fail(DeltaRecordFailure::SizeTooLarge);
  const std::vector<unsigned char>& data = deflated.value();

  std::vector<unsigned char> record(kDeltaRecordHeaderSize + data.size());
  unsigned char* p = record.data();
  writeLE(p + kMagicAt, kDeltaRecordMagic, 4);
  writeLE(p + kVersionAt, kDeltaRecordVersion, 2);
  writeLE(p + kMethodAt, h.newMethod, 2);
  writeLE(p + kOldSizeAt, h.oldSize, 4);
  writeLE(p + kOldCrcAt, h.oldCrc, 4);
  writeLE(p + kStoredSizeAt, h.newStoredSize, 4);
  writeLE(p + kNewSizeAt, h.newSize, 4);
  writeLE(p + kNewCrcAt, h.newCrc, 4);
  writeLE(p + kStoredCrcAt, h.newStoredCrc, 4);
  p[kLevelAt] = h.settings.level;
  p[kWindowBitsAt] = h.settings.windowBits;
  p[kMemLevelAt] = h.settings.memLevel;
  p[kStrategyAt] = h.settings.strategy;
  writeLE(p + kVcdiffSizeAt, h.vcdiffSize, 4);
  writeLE(p + kDeflatedSizeAt, static_cast<uint32_t>(data.size()), 4);
  if (!data.empty()) std::copy(data.begin(), data.end(), record.begin() + kDeltaRecordHeaderSize);
  return record;
}

platform::Result<DeltaRecordView, DeltaRecordFailure> decodeDeltaRecord(const unsigned char* record,
                                                                        size_t size) {
  if (size < kDeltaRecordHeaderSize) return fail(DeltaRecordFailure::Truncated);
  const unsigned char* p = record;
  if (readLE(p + kMagicAt, 4) != kDeltaRecordMagic) return fail(DeltaRecordFailure::BadMagic);
  if (readLE(p + kVersionAt, 2) != kDeltaRecordVersion) return fail(DeltaRecordFailure::BadVersion);
  DeltaRecordView view;
  DeltaRecordHeader& h = view.header;
  h.newMethod = static_cast<uint16_t>(readLE(p + kMethodAt, 2));
  h.oldSize = readLE(p + kOldSizeAt, 4);
  h.oldCrc = readLE(p + kOldCrcAt, 4);
  h.newStoredSize = readLE(p + kStoredSizeAt, 4);
  h.newSize = readLE(p + kNewSizeAt, 4);
  h.newCrc = readLE(p + kNewCrcAt, 4);
  h.newStoredCrc = readLE(p + kStoredCrcAt, 4);
  h.settings = {p[kLevelAt], p[kWindowBitsAt], p[kMemLevelAt], p[kStrategyAt]};
  h.vcdiffSize = readLE(p + kVcdiffSizeAt, 4);
  const uint32_t deflatedSize = readLE(p + kDeflatedSizeAt, 4);
  const auto checked = checkHeader(h);
  if (!checked) return fail(checked.error());
  if (deflatedSize > kMaxDeflatedVcdiff) return fail(DeltaRecordFailure::SizeTooLarge);
  const size_t data = size - kDeltaRecordHeaderSize;
  if (deflatedSize > data) return fail(DeltaRecordFailure::Truncated);
  if (deflatedSize < data) return fail(DeltaRecordFailure::TrailingBytes);
  view.deflatedVcdiff = record + kDeltaRecordHeaderSize;
  view.deflatedVcdiffSize = deflatedSize;
  return view;
}

platform::Result<std::vector<unsigned char>, DeltaRecordFailure> inflateVcdiff(
    const DeltaRecordView& view) {
  auto vcdiff =
      inflateExactly(view.deflatedVcdiff, view.deflatedVcdiffSize, view.header.vcdiffSize);
  if (!vcdiff) return fail(DeltaRecordFailure::BadVcdiff);
  return std::move(vcdiff).value();
}

}  // namespace delta
