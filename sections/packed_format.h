// The packed binary section file: the one place where its bytes are encoded and decoded.
//
// Layout (integers little-endian):
//   0  u32  kPackedMagic
//   4  u8   not interpreted by the reader; the writer puts 0 there
//   5  ...  string table: zero-terminated names, ended by an empty name (one zero byte)
//   .. ...  the root node, a records block running to the end of the file
//
// A records block (a node with children; n children):
//   0       i16  n
//   2       u32  own-value word
//   6 + 6i  i16  child i: index of its name in the string table (negative: no name)
//   8 + 6i  u32  child i: value word
//   6 + 6n  ...  data area: the own value, then every child's bytes in child order
// A value word holds the value type in bits 28-31 and, in bits 0-27, the END offset of the value
// counted from the start of the data area; a value starts where the one before it ends (the own
// value starts at 0, child 0 starts at the own value's end).
//
// Nothing here trusts the bytes: every decoder takes the length of what it may read and
// reports ranges that do not fit instead of following them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t kPackedMagic = 0x62A14E45;
inline constexpr size_t kPackedMagicSize = 4;
inline constexpr size_t kPackedStringTableOffset = 5;
inline constexpr size_t kRecordsHeaderSize = 6;
inline constexpr size_t kRecordSize = 6;
inline constexpr int kPackedTypeShift = 28;
inline constexpr uint32_t kPackedEndMask = 0x0FFFFFFF;
// Child counts and name indexes are signed 16-bit fields.
inline constexpr int kPackedMaxChildren = 0x7FFF;
inline constexpr int kPackedMaxNames = 0x7FFF;

// Scrambling key of marker-1 blobs (type 6). Each byte after the marker is XORed with it; the
// files the game ships and the files our writer makes must agree on it, so it never changes.
inline constexpr uint8_t kPackedScrambleKey = 0xA5;
inline constexpr uint8_t kMarkerPlain = 0;
inline constexpr uint8_t kMarkerScrambled = 1;

// Value types, the high four bits of a value word.
enum PackedType : uint32_t {
  kPackedRecords = 0,     // a records block: a node with children
  kPackedText = 1,        // characters, no terminator
  kPackedInt = 2,         // signed integer of 0, 1, 2 or 4 bytes
  kPackedFloats = 3,      // 0, 1, 2, 3, 4 or 12 (matrix rows) 32-bit floats
  kPackedBool = 4,        // true when at least one byte
  kPackedBlob = 5,        // raw bytes
  kPackedMarkerBlob = 6,  // a marker byte, then raw bytes (possibly scrambled); read as type 5
};

inline constexpr uint32_t packedWord(uint32_t type, uint32_t end) {
  return (type << kPackedTypeShift) | (end & kPackedEndMask);
}
inline constexpr uint32_t packedWordType(uint32_t word) { return word >> kPackedTypeShift; }
inline constexpr uint32_t packedWordEnd(uint32_t word) { return word & kPackedEndMask; }

// True when the bytes are longer than the magic and start with it.
bool isPackedFile(const unsigned char* data, size_t size);

// The names of the string table, as offsets of their first byte in the file (each name is
// zero-terminated inside the file), and the offset of the root records block. A table without
// its terminating empty name gives no names and rootOffset == size (the root has no bytes).
struct PackedStringTable {
  std::vector<size_t> nameOffsets;
  size_t rootOffset = 0;
  bool complete = false;
};
PackedStringTable decodeStringTable(const unsigned char* file, size_t size);

// The fixed part of a records block. `count` is the number of child records (0 when the block
// says -1); `dataOffset` is where the data area starts inside the block and `dataLength` its
// length; the own value is [dataOffset, dataOffset + ownEnd).
struct RecordsHeader {
  int count = 0;
  uint32_t ownType = kPackedText;
  uint32_t ownEnd = 0;
  size_t dataOffset = 0;
  size_t dataLength = 0;
};
// False when the block cannot be a records block: shorter than its header, a count below -1, or
// a record table and own value that do not fit in the block. (Blocks that overrun by one byte
// are refused too: accepting them would mean reading that byte.)
[[nodiscard]] bool decodeRecordsHeader(const unsigned char* block, size_t length,
                                       RecordsHeader& out);

// One child record, with its byte range inside the data area. `inRange` is false when the
// child's end lies before its start (records out of order) or past the data area; such a child
// keeps its name but its bytes must not be used.
struct PackedChild {
  int nameIndex = -1;
  uint32_t type = kPackedText;
  size_t begin = 0;
  size_t end = 0;
  bool inRange = false;
};
// Record `index` (0 <= index < header.count) of a block that decodeRecordsHeader accepted.
PackedChild decodeChild(const unsigned char* block, size_t length, const RecordsHeader& header,
                        int index);

// Applies the marker rule to a type-6 value in place: marker 1 unscrambles the bytes and sets
// the marker to 0 so that reading them again finds them plain. The blob is then the bytes after
// the marker. False (nothing changed) when the value is empty or the marker is neither 0 nor 1.
[[nodiscard]] bool decodeMarkerBlob(unsigned char* value, size_t length);
std::string encodeMarkerBlob(const std::string& bytes, bool scrambled);

// Signed integers of 0 (value 0), 1, 2 or 4 bytes; false for any other width.
[[nodiscard]] bool decodePackedInt(const unsigned char* value, size_t length, int32_t& out);
// The narrowest of 1, 2 or 4 bytes that holds the value.
std::string encodePackedInt(int32_t value);
// `count` floats from `value`, which must hold at least 4 * count bytes.
void decodePackedFloats(const unsigned char* value, size_t count, float* out);
std::string encodePackedFloats(const float* values, size_t count);

// Encoding. A child ready to be placed in its parent's records block.
struct EncodedChild {
  int nameIndex = -1;
  uint32_t type = kPackedText;
  std::string bytes;
};
// Magic, the uninterpreted byte, and the string table.
void encodePackedHeader(const std::vector<std::string>& names, std::string& out);
// A whole records block. False when it cannot be represented: too many children, or a data
// area whose offsets do not fit in 28 bits.
[[nodiscard]] bool encodeRecordsBlock(uint32_t ownType, const std::string& ownValue,
                                      const std::vector<EncodedChild>& children, std::string& out);
