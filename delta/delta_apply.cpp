#include "delta/delta_apply.h"

#include <zlib.h>

#include <cstring>

#include "delta/delta_limits.h"

namespace delta {
namespace {

using platform::fail;

// zlib's CRC-32; every size here is at most kMaxDeltaSize, well inside zlib's unsigned int.
uint32_t crcOf(const unsigned char* p, size_t n) {
  return n ? static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n))) : 0;
}

DeltaError error(DeltaFailure failure) { return DeltaError{failure}; }

const char* failureText(DeltaFailure failure) {
  switch (failure) {
    case DeltaFailure::BadRecord: return "bad delta record";
    case DeltaFailure::OldSizeDiffers: return "the old entry's size differs from the delta's";
    case DeltaFailure::OldCrcDiffers: return "the old entry's CRC-32 differs from the delta's";
    case DeltaFailure::DecodeFailed: return "the delta does not decode";
    case DeltaFailure::NewSizeDiffers: return "the decoded entry's size differs from the record";
    case DeltaFailure::NewCrcDiffers: return "the decoded entry's CRC-32 differs from the record";
    case DeltaFailure::DeflateFailed: return "the decoded entry could not be deflated";
    case DeltaFailure::StoredSizeDiffers: return "the re-deflated size differs from the record";
    case DeltaFailure::StoredCrcDiffers: return "the re-deflated CRC-32 differs from the record";
    case DeltaFailure::NoDeflateSettings: return "the stored bytes cannot be reproduced";
  }
  return "unknown delta failure";
}

}  // namespace

std::string describeDeltaError(const DeltaError& e) {
  std::string text = failureText(e.failure);
  if (e.failure == DeltaFailure::BadRecord)
    text += std::string(": ") + deltaRecordFailureText(e.record);
  if (e.failure == DeltaFailure::DecodeFailed) text += ": " + describeVcdiffError(e.vcdiff);
  if (e.failure == DeltaFailure::NoDeflateSettings)
    text += std::string(": ") + deflateSearchFailureText(e.search);
  return text;
}

platform::Result<DecodedDelta, DeltaError> decodeDeltaContents(const unsigned char* record,
                                                               size_t recordSize,
                                                               const unsigned char* oldContents,
                                                               size_t oldSize) {
  const auto view = decodeDeltaRecord(record, recordSize);
  if (!view) {
    DeltaError e = error(DeltaFailure::BadRecord);
    e.record = view.error();
    return fail(e);
  }
  DecodedDelta decoded;
  decoded.header = view.value().header;
  const DeltaRecordHeader& h = decoded.header;
  if (oldSize != h.oldSize) return fail(error(DeltaFailure::OldSizeDiffers));
  if (crcOf(oldContents, oldSize) != h.oldCrc) return fail(error(DeltaFailure::OldCrcDiffers));
  {
    const auto vcdiff = inflateVcdiff(view.value());
    if (!vcdiff) {
      DeltaError e = error(DeltaFailure::BadRecord);
      e.record = vcdiff.error();
      return fail(e);
    }
    auto contents =
        decodeVcdiff(oldContents, oldSize, vcdiff.value().data(), vcdiff.value().size(), h.newSize);
    if (!contents) {
      DeltaError e = error(DeltaFailure::DecodeFailed);
      e.vcdiff = contents.error();
      return fail(e);
    }
    decoded.contents = std::move(contents).value();
  }  // the VCDIFF is released before the caller goes on
  if (decoded.contents.size() != h.newSize) return fail(error(DeltaFailure::NewSizeDiffers));
  if (crcOf(decoded.contents.data(), decoded.contents.size()) != h.newCrc)
    return fail(error(DeltaFailure::NewCrcDiffers));
  return decoded;
}

platform::Result<AppliedDelta, DeltaError> storeDeltaContents(DecodedDelta decoded) {
  const DeltaRecordHeader& h = decoded.header;
  AppliedDelta applied;
  applied.method = h.newMethod;
  applied.size = h.newSize;
  applied.stored = std::move(decoded.contents);
  if (h.newMethod == kMethodDeflated) {
    auto deflated = deflateWithSettings(h.settings, applied.stored.data(), applied.stored.size());
    if (!deflated) return fail(error(DeltaFailure::DeflateFailed));
    applied.stored = std::move(deflated).value();
  }
  if (applied.stored.size() != h.newStoredSize) return fail(error(DeltaFailure::StoredSizeDiffers));
  if (crcOf(applied.stored.data(), applied.stored.size()) != h.newStoredCrc)
    return fail(error(DeltaFailure::StoredCrcDiffers));
  return applied;
}

platform::Result<AppliedDelta, DeltaError> applyDeltaRecord(const unsigned char* record,
                                                            size_t recordSize,
                                                            const unsigned char* oldContents,
                                                            size_t oldSize) {
  auto decoded = decodeDeltaContents(record, recordSize, oldContents, oldSize);
  if (!decoded) return fail(decoded.error());
  return storeDeltaContents(std::move(decoded).value());
}

size_t deltaPeakBytes(const DeltaRecordHeader& h, size_t recordSize) {
  // zlib's deflate state at its largest settings, with room to spare: 256 KiB of window and
  // 128 KiB of hash, plus the pending buffer.
  constexpr size_t kDeflateState = size_t{1} << 20;
  size_t peak = recordSize + h.oldSize + h.vcdiffSize + h.newSize;
  if (h.newMethod == kMethodDeflated) peak += h.newStoredSize + kDeflateState;
  return peak;
}

platform::Result<std::vector<unsigned char>, DeltaError> makeDeltaRecord(
    const unsigned char* oldContents, size_t oldSize, const EntryBytes& entry,
    const unsigned char* vcdiff, size_t vcdiffSize, const DeflateSettings* found) {
  DeltaRecordHeader h;
  if (oldSize > kMaxDeltaSize || entry.size > kMaxDeltaSize || entry.storedSize > kMaxDeltaSize) {
    DeltaError e = error(DeltaFailure::BadRecord);
    e.record = DeltaRecordFailure::SizeTooLarge;
    return fail(e);
  }
  h.oldSize = static_cast<uint32_t>(oldSize);
  h.oldCrc = crcOf(oldContents, oldSize);
  h.newMethod = entry.method;
  h.newSize = static_cast<uint32_t>(entry.size);
  h.newStoredSize = static_cast<uint32_t>(entry.storedSize);
  h.newCrc = crcOf(entry.contents, entry.size);
  h.newStoredCrc = crcOf(entry.stored, entry.storedSize);
  if (entry.method == kMethodDeflated && found) {
    h.settings = *found;
  } else if (entry.method == kMethodDeflated) {
    const auto settings =
        findDeflateSettings(entry.contents, entry.size, entry.stored, entry.storedSize);
    if (!settings) {
      DeltaError e = error(DeltaFailure::NoDeflateSettings);
      e.search = settings.error();
      return fail(e);
    }
    h.settings = settings.value();
  }
  auto record = encodeDeltaRecord(h, vcdiff, vcdiffSize);
  if (!record) {
    DeltaError e = error(DeltaFailure::BadRecord);
    e.record = record.error();
    return fail(e);
  }
  // The encoder is not ours: its VCDIFF must give the new contents through the installer's own
  // reading of the record. With the settings the search deflated them with, that is all the
  // installer does, so the release need not apply the record again (a deflation of its own).
  const auto decoded = decodeDeltaContents(record.value().data(), record.value().size(),
                                           oldContents, oldSize);
  if (!decoded) return fail(decoded.error());
  const std::vector<unsigned char>& contents = decoded.value().contents;
  if (contents.size() != entry.size) return fail(error(DeltaFailure::NewSizeDiffers));
  if (entry.size && std::memcmp(contents.data(), entry.contents, entry.size) != 0)
    return fail(error(DeltaFailure::NewCrcDiffers));
  return std::move(record).value();
}

}  // namespace delta
