// A delta record from both ends: the release makes one from an entry's old contents and its
// new contents and stored bytes; the installer applies it to the old contents it finds and gets
// the new entry's stored bytes, each step checked, or the reason it cannot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "delta/delta_record.h"
#include "delta/vcdiff_decoder.h"
#include "platform/result.h"

namespace delta {

// An entry's bytes as the archive keeps them: method, contents and stored form.
struct EntryBytes {
  uint16_t method = kMethodStored;  // kMethodStored or kMethodDeflated
  const unsigned char* contents = nullptr;
  size_t size = 0;
  const unsigned char* stored = nullptr;  // the contents themselves when stored
  size_t storedSize = 0;
};

enum class DeltaFailure {
  BadRecord,       // the record itself is malformed (see `record`)
  OldSizeDiffers,  // the old contents are not those the delta was made from
  OldCrcDiffers,
  DecodeFailed,    // the VCDIFF does not decode against the old contents (see `vcdiff`)
  NewSizeDiffers,  // the decoded contents are not the new entry's
  NewCrcDiffers,
  DeflateFailed,      // zlib could not deflate the new contents
  StoredSizeDiffers,  // re-deflation did not give the recorded stored bytes
  StoredCrcDiffers,
  NoDeflateSettings,  // making: no setting of this zlib reproduces the stored bytes
};

struct DeltaError {
  DeltaFailure failure;
  DeltaRecordFailure record = DeltaRecordFailure::Truncated;    // for BadRecord
  VcdiffError vcdiff{VcdiffFailure::Truncated, 0};              // for DecodeFailed
  DeflateSearchFailure search = DeflateSearchFailure::NoMatch;  // for NoDeflateSettings
};
// One line saying what failed, with the underlying reason.
[[nodiscard]] std::string describeDeltaError(const DeltaError& error);

// The new entry rebuilt by a delta: what a patch record of that entry would hold.
struct AppliedDelta {
  uint16_t method = kMethodStored;
  uint32_t size = 0;                  // uncompressedSize
  std::vector<unsigned char> stored;  // compressedSize bytes
};

// Applies `record` to `oldContents`: checks their size and CRC-32, inflates and decodes the
// VCDIFF (the target bounded by the recorded new size), checks the new contents' size and
// CRC-32, deflates them with the recorded settings and checks the stored size and CRC-32.
// Peak memory is about old + VCDIFF + new contents + stored bytes, each at most 64 MiB.
// decodeDeltaContents and storeDeltaContents are its two halves, for a caller that releases
// the record and the old contents in between.
[[nodiscard]] platform::Result<AppliedDelta, DeltaError> applyDeltaRecord(
    const unsigned char* record, size_t recordSize, const unsigned char* oldContents,
    size_t oldSize);

// The new contents a record decodes to, checked, with the record's header for the deflation.
struct DecodedDelta {
  DeltaRecordHeader header;
  std::vector<unsigned char> contents;
};
// applyDeltaRecord up to the new contents' size and CRC-32 check. Neither `record` nor
// `oldContents` is needed afterwards.
[[nodiscard]] platform::Result<DecodedDelta, DeltaError> decodeDeltaContents(
    const unsigned char* record, size_t recordSize, const unsigned char* oldContents,
    size_t oldSize);
// The rest of applyDeltaRecord: the decoded contents deflated with the recorded settings (or
// kept, for a stored entry), the stored size and CRC-32 checked. Takes the contents.
[[nodiscard]] platform::Result<AppliedDelta, DeltaError> storeDeltaContents(
    DecodedDelta decoded);

// What applying a record of `recordSize` bytes with header `h` may hold at once, at most:
// the old contents, the record, the VCDIFF, the new contents, their deflated form and zlib's
// state. For deciding how many may be applied side by side.
[[nodiscard]] size_t deltaPeakBytes(const DeltaRecordHeader& h, size_t recordSize);

// The record that turns `oldContents` into `entry`, given the VCDIFF an encoder made from
// them, returned only when applyDeltaRecord would rebuild entry.stored from it: the record is
// read back as the installer reads it and its VCDIFF must decode, against `oldContents`, to
// entry.contents exactly (DecodeFailed, NewSizeDiffers or NewCrcDiffers otherwise); for a
// deflated entry the deflate settings are searched (findDeflateSettings, which has deflated
// entry.contents into entry.stored with the settings it returns); when none reproduces
// entry.stored, NoDeflateSettings: the entry must go whole. A caller that searched before
// running the encoder (so as not to run it for an entry that must go whole anyway) passes what
// findDeflateSettings returned for entry.contents and entry.stored as `found`, and the search
// is not repeated.
[[nodiscard]] platform::Result<std::vector<unsigned char>, DeltaError> makeDeltaRecord(
    const unsigned char* oldContents, size_t oldSize, const EntryBytes& entry,
    const unsigned char* vcdiff, size_t vcdiffSize, const DeflateSettings* found = nullptr);

}  // namespace delta
