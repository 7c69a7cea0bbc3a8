// The records of the packed-archive (.kx) format and their one encoding and decoding. The layout
// borrows the ZIP signatures and method numbers but orders the fields its own way, so these
// records are not ZIP records and must never be read with a ZIP parser (nor the reverse).
// All integers are little-endian; every field is copied byte by byte through the cursor, never
// by casting a struct over file bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sections/byte_cursor.h"

inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;     // "PK" 03 04
inline constexpr uint32_t kDirectoryEntrySignature = 0x02014B50;  // "PK" 01 02
inline constexpr uint32_t kFooterSignature = 0x06054B50;          // "PK" 05 06

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kDirectoryEntrySize = 46;
inline constexpr size_t kFooterSize = 22;

// Longest name, extra field or comment a directory record may announce.
inline constexpr uint32_t kMaxFieldLength = 1024;
// Entry counts are 16-bit.
inline constexpr uint32_t kMaxEntries = 65535;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
// Only in a patch archive: the record's data is a delta record (docs/delta-format.md) that
// rebuilds the entry of the same name from the installed pack's. Its bytes are never an
// entry's stored bytes; only a merge that applies it may use them.
inline constexpr uint16_t kMethodDelta = 0x4C44;
inline constexpr uint16_t kFormatVersion = 10;
// A flag value of 15 in a patch entry asks for its path to be removed from the target archive.
inline constexpr uint16_t kDeleteMarker = 15;

// Precedes every entry's name and data (30 bytes).
struct LocalHeader {
  uint32_t signature = 0;         // 0
  uint16_t reserved4 = 0;         // 4
  uint32_t compressedSize = 0;    // 6
  uint32_t uncompressedSize = 0;  // 10
  uint16_t version = 0;           // 14
  uint16_t fileNameLength = 0;    // 16
  uint16_t flag = 0;              // 18: kDeleteMarker or 0
  uint16_t compressionMethod = 0; // 20
  uint16_t reserved22 = 0;        // 22
  uint32_t reserved24 = 0;        // 24: where ZIP keeps a CRC; always 0 here
  uint16_t extraFieldLength = 0;  // 28
};

// One record of the central directory (46 bytes), followed in the file by its name.
struct DirectoryEntry {
  uint32_t signature = 0;         // 0
  uint16_t time = 0;              // 4: DOS time
  uint16_t date = 0;              // 6: DOS date
  uint32_t compressedSize = 0;    // 8
  uint32_t uncompressedSize = 0;  // 12
  uint16_t version = 0;           // 16
  uint16_t versionAgain = 0;      // 18
  // Stored unsigned; held signed because a record made in memory, not yet in any file, carries
  // -1 here, and readers treat every negative value as "not in the file".
  int32_t localHeaderOffset = 0;  // 20
  uint16_t flag = 0;              // 24
  uint16_t compressionMethod = 0; // 26
  uint32_t reserved28 = 0;        // 28
  uint16_t fileNameLength = 0;    // 32
  uint16_t extraFieldLength = 0;  // 34
  uint16_t commentLength = 0;     // 36
  uint64_t reserved38 = 0;        // 38
};

// The last 22 bytes of every archive. Note the order: the directory size comes before the
// signature.
struct ArchiveFooter {
  uint32_t directorySize = 0;     // 0
  uint32_t signature = 0;         // 4
  uint16_t reserved8 = 0;         // 8
  uint32_t directoryOffset = 0;   // 10
  uint16_t reserved14 = 0;        // 14
  uint16_t entryCount = 0;        // 16
  uint16_t entryCountAgain = 0;   // 18
  uint16_t commentLength = 0;     // 20
};

// Each encode appends exactly the record's size in bytes. Each decode reads exactly the record's
// size at the reader's position and returns false (leaving `out` unspecified) when the reader has
// fewer bytes left; signatures are not checked here, that is the caller's rule to apply.
void encodeLocalHeader(const LocalHeader& header, ByteWriter& out);
void encodeDirectoryEntry(const DirectoryEntry& entry, ByteWriter& out);
void encodeArchiveFooter(const ArchiveFooter& footer, ByteWriter& out);
[[nodiscard]] bool decodeLocalHeader(ByteReader& in, LocalHeader& out);
[[nodiscard]] bool decodeDirectoryEntry(ByteReader& in, DirectoryEntry& out);
[[nodiscard]] bool decodeArchiveFooter(ByteReader& in, ArchiveFooter& out);

// Convenience forms returning the encoded bytes.
[[nodiscard]] std::string encodeLocalHeader(const LocalHeader& header);
[[nodiscard]] std::string encodeDirectoryEntry(const DirectoryEntry& entry);
[[nodiscard]] std::string encodeArchiveFooter(const ArchiveFooter& footer);
