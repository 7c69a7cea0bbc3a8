#include "archive/kx_format.h"

void encodeLocalHeader(const LocalHeader& h, ByteWriter& out) {
  out.u32(h.signature);
  out.u16(h.reserved4);
  out.u32(h.compressedSize);
  out.u32(h.uncompressedSize);
  out.u16(h.version);
  out.u16(h.fileNameLength);
  out.u16(h.flag);
  out.u16(h.compressionMethod);
  out.u16(h.reserved22);
  out.u32(h.reserved24);
  out.u16(h.extraFieldLength);
}

void encodeDirectoryEntry(const DirectoryEntry& e, ByteWriter& out) {
  out.u32(e.signature);
  out.u16(e.time);
  out.u16(e.date);
  out.u32(e.compressedSize);
  out.u32(e.uncompressedSize);
  out.u16(e.version);
  out.u16(e.versionAgain);
  out.i32(e.localHeaderOffset);
  out.u16(e.flag);
  out.u16(e.compressionMethod);
  out.u32(e.reserved28);
  out.u16(e.fileNameLength);
  out.u16(e.extraFieldLength);
  out.u16(e.commentLength);
  out.u64(e.reserved38);
}

void encodeArchiveFooter(const ArchiveFooter& f, ByteWriter& out) {
  out.u32(f.directorySize);
  out.u32(f.signature);
  out.u16(f.reserved8);
  out.u32(f.directoryOffset);
  out.u16(f.reserved14);
  out.u16(f.entryCount);
  out.u16(f.entryCountAgain);
  out.u16(f.commentLength);
}

bool decodeLocalHeader(ByteReader& in, LocalHeader& h) {
  if (!in.ok() || in.remaining() < kLocalHeaderSize) return false;
  h.signature = in.u32();
  h.reserved4 = in.u16();
  h.compressedSize = in.u32();
  h.uncompressedSize = in.u32();
  h.version = in.u16();
  h.fileNameLength = in.u16();
  h.flag = in.u16();
  h.compressionMethod = in.u16();
  h.reserved22 = in.u16();
  h.reserved24 = in.u32();
  h.extraFieldLength = in.u16();
  return in.ok();
}

bool decodeDirectoryEntry(ByteReader& in, DirectoryEntry& e) {
  if (!in.ok() || in.remaining() < kDirectoryEntrySize) return false;
  e.signature = in.u32();
  e.time = in.u16();
  e.date = in.u16();
  e.compressedSize = in.u32();
  e.uncompressedSize = in.u32();
  e.version = in.u16();
  e.versionAgain = in.u16();
  e.localHeaderOffset = in.i32();
  e.flag = in.u16();
  e.compressionMethod = in.u16();
  e.reserved28 = in.u32();
  e.fileNameLength = in.u16();
  e.extraFieldLength = in.u16();
  e.commentLength = in.u16();
  e.reserved38 = in.u64();
  return in.ok();
}

bool decodeArchiveFooter(ByteReader& in, ArchiveFooter& f) {
  if (!in.ok() || in.remaining() < kFooterSize) return false;
  f.directorySize = in.u32();
  f.signature = in.u32();
  f.reserved8 = in.u16();
  f.directoryOffset = in.u32();
  f.reserved14 = in.u16();
  f.entryCount = in.u16();
  f.entryCountAgain = in.u16();
  f.commentLength = in.u16();
  return in.ok();
}

std::string encodeLocalHeader(const LocalHeader& header) {
  std::string bytes;
  ByteWriter out(bytes);
  encodeLocalHeader(header, out);
  return bytes;
}

std::string encodeDirectoryEntry(const DirectoryEntry& entry) {
  std::string bytes;
  ByteWriter out(bytes);
  encodeDirectoryEntry(entry, out);
  return bytes;
}

std::string encodeArchiveFooter(const ArchiveFooter& footer) {
  std::string bytes;
  ByteWriter out(bytes);
  encodeArchiveFooter(footer, out);
  return bytes;
}
