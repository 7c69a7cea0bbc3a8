// Decoding of VCDIFF deltas (the generic differencing format of RFC 3284) as the release
// tools' encoder writes them: the target is rebuilt from a source and a delta made against it.
//
// Read: the header with or without an application header (skipped) and with or without a
// secondary compressor's id; any number of windows, each copying from a segment of the source
// (VCD_SOURCE), from a segment of the target already decoded (VCD_TARGET) or from nothing but
// itself; the default instruction code table with its address cache (self, here, 4 near and 3
// same modes); the Adler-32 checksum of a window's target (the encoder's extension bit 0x04
// of the window indicator), verified when present.
// Refused, each with its own failure: a custom code table, a section compressed by a
// secondary compressor, any indicator bit the format does not define.
//
// Whatever the input, nothing is read or written outside the source, the delta and the
// target being built: every integer is read within its section, every instruction is checked
// against its window's source segment and target size, and the target never grows past
// `maxTargetSize` (itself capped at kMaxDeltaSize).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"

namespace delta {

enum class VcdiffFailure {
  NotVcdiff,             // the first three bytes are not the VCDIFF magic
  UnsupportedVersion,    // a version byte other than 0
  UnknownHeaderBits,     // header indicator bits the format does not define
  CustomCodeTable,       // the delta carries its own code table
  Truncated,             // the delta ends inside its header or a window's header
  BadInteger,            // an integer longer than 64 bits
  UnknownWindowBits,     // window indicator bits the format does not define
  BothSegments,          // a window asks for a source and a target segment at once
  SegmentOutOfRange,     // the segment lies outside the source, or the target decoded so far
  LengthMismatch,        // a window's delta length disagrees with its sections
  TargetTooLarge,        // the target would grow past the allowed size
  SecondaryCompression,  // a window's section is compressed by a secondary compressor
  UnknownDeltaBits,      // delta indicator bits the format does not define
  InstructionOverrun,    // the instruction section ends inside an instruction
  DataOverrun,           // an ADD or RUN needs more bytes than the data section holds
  AddressOverrun,        // a COPY's address runs past the address section
  BadAddress,            // a COPY's address is not before the current position
  WindowOverflow,        // an instruction writes past the window's target length
  WindowShort,           // the instructions end before the window's target is complete
  TrailingSectionBytes,  // the data or address section has bytes no instruction used
  ChecksumMismatch,      // the window's Adler-32 differs from its decoded target's
};

// What failed and where: `offset` is the delta byte at which the decoder found it.
struct VcdiffError {
  VcdiffFailure failure;
  uint64_t offset;
};

// A short English description of a failure, for messages and logs.
[[nodiscard]] const char* vcdiffFailureText(VcdiffFailure failure);
// The failure's description followed by " at delta byte N".
[[nodiscard]] std::string describeVcdiffError(const VcdiffError& error);

using VcdiffResult = platform::Result<std::vector<unsigned char>, VcdiffError>;

// The target rebuilt from `source` and `delta`, or the first fault found. The target is at
// most min(maxTargetSize, kMaxDeltaSize) bytes; a delta whose windows declare more fails with
// TargetTooLarge. Memory for the whole bound is
// reserved once the header has been read, so pass the target's expected size when it is known
// (a delta record records it). Either pointer may be null when its size is 0.
[[nodiscard]] VcdiffResult decodeVcdiff(const unsigned char* source, size_t sourceSize,
                                        const unsigned char* delta, size_t deltaSize,
                                        size_t maxTargetSize);

}  // namespace delta
