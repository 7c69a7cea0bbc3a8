// A test-only .kx byte builder, written independently of the library's own record codec and
// writer so that reader tests pin the format itself rather than agreeing with its encoder.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kxtest {

inline void put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
inline void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Raw deflate (no wrapper) of `content`.
inline std::string rawDeflate(const std::string& content) {
  z_stream s{};
  deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, content.size()) + 16, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  s.avail_in = static_cast<uInt>(content.size());
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

struct RawEntry {
  std::string name;    // bytes written as the name, exactly
  std::string stored;  // data bytes as stored
  uint32_t uncompressedSize = 0;
  uint16_t method = 0;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t flag = 0;
  std::string extra;    // written after the name in both records
  std::string comment;  // directory record only
};

inline RawEntry stored(const std::string& name, const std::string& content) {
  RawEntry e;
  e.name = name;
  e.stored = content;
  e.uncompressedSize = static_cast<uint32_t>(content.size());
  return e;
}

inline RawEntry deflated(const std::string& name, const std::string& content) {
  RawEntry e;
  e.name = name;
  e.stored = rawDeflate(content);
  e.uncompressedSize = static_cast<uint32_t>(content.size());
  e.method = 8;
  return e;
}

struct BuiltArchive {
  std::string bytes;
  uint32_t directoryOffset = 0;
  std::vector<uint32_t> headerOffsets;  // local header of each entry
  std::vector<uint32_t> recordOffsets;  // directory record of each entry (absolute)
};

inline BuiltArchive buildArchive(const std::vector<RawEntry>& entries) {
  BuiltArchive a;
  std::string& out = a.bytes;
  for (const RawEntry& e : entries) {
    a.headerOffsets.push_back(static_cast<uint32_t>(out.size()));
    put32(out, 0x04034B50);
    put16(out, 0);
    put32(out, static_cast<uint32_t>(e.stored.size()));
    put32(out, e.uncompressedSize);
    put16(out, 10);
    put16(out, static_cast<uint32_t>(e.name.size()));
    put16(out, e.flag);
    put16(out, e.method);
    put16(out, 0);
    put32(out, 0);
    put16(out, static_cast<uint32_t>(e.extra.size()));
    out += e.name;
    out += e.extra;
    out += e.stored;
  }
  a.directoryOffset = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const RawEntry& e = entries[i];
    a.recordOffsets.push_back(static_cast<uint32_t>(out.size()));
    put32(out, 0x02014B50);
    put16(out, e.time);
    put16(out, e.date);
    put32(out, static_cast<uint32_t>(e.stored.size()));
    put32(out, e.uncompressedSize);
    put16(out, 10);
    put16(out, 10);
    put32(out, a.headerOffsets[i]);
    put16(out, e.flag);
    put16(out, e.method);
    put32(out, 0);
    put16(out, static_cast<uint32_t>(e.name.size()));
    put16(out, static_cast<uint32_t>(e.extra.size()));
    put16(out, static_cast<uint32_t>(e.comment.size()));
    out += std::string(8, '\0');
    out += e.name;
    out += e.extra;
    out += e.comment;
  }
  const uint32_t directorySize = static_cast<uint32_t>(out.size()) - a.directoryOffset;
  put32(out, directorySize);
  put32(out, 0x06054B50);
  put16(out, 0);
  put32(out, a.directoryOffset);
  put16(out, 0);
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, 0);
  return a;
}

// Overwrites a little-endian field in place.
inline void patch16(std::string& bytes, size_t at, uint32_t v) {
  bytes[at] = static_cast<char>(v & 0xFF);
  bytes[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void patch32(std::string& bytes, size_t at, uint32_t v) {
  patch16(bytes, at, v & 0xFFFF);
  patch16(bytes, at + 2, v >> 16);
}

// Offsets of fields inside the footer (from its first byte) and a directory record.
constexpr size_t kFooterDirectorySize = 0;
constexpr size_t kFooterDirectoryOffset = 10;
constexpr size_t kFooterCount = 16;
constexpr size_t kRecordCompressedSize = 8;
constexpr size_t kRecordUncompressedSize = 12;
constexpr size_t kRecordHeaderOffset = 20;
constexpr size_t kRecordMethod = 26;
constexpr size_t kRecordNameLength = 32;

inline size_t footerAt(const std::string& bytes) { return bytes.size() - 22; }

}  // namespace kxtest
