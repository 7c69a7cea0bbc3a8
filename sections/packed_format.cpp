#include "sections/packed_format.h"

#include <cstring>

#include "sections/byte_cursor.h"

bool isPackedFile(const unsigned char* data, size_t size) {
  if (!data || size <= kPackedMagicSize) return false;
  ByteReader in(data, size);
  return in.u32() == kPackedMagic;
}

PackedStringTable decodeStringTable(const unsigned char* file, size_t size) {
  PackedStringTable table;
  table.rootOffset = size;
  if (!file || size < kPackedStringTableOffset) return table;
  std::vector<size_t> names;
  size_t pos = kPackedStringTableOffset;
  while (pos < size) {
    const void* zero = std::memchr(file + pos, 0, size - pos);
    if (!zero) return table;  // a name runs to the end of the file
    size_t end = static_cast<size_t>(static_cast<const unsigned char*>(zero) - file);
    if (end == pos) {
      table.nameOffsets = std::move(names);
      table.rootOffset = end + 1;
      table.complete = true;
      return table;
    }
    names.push_back(pos);
    pos = end + 1;
  }
  return table;  // the file ended before the empty name
}

bool decodeRecordsHeader(const unsigned char* block, size_t length, RecordsHeader& out) {
  ByteReader in(block, length);
  int count = static_cast<int16_t>(in.u16());
  uint32_t ownWord = in.u32();
  if (!in.ok() || count < -1) return false;
  // With a count of -1 the data area starts at the block itself and overlaps the header; that
  // is what the count says, and every byte of it still lies inside the block.
  size_t dataOffset = static_cast<size_t>(count + 1) * kRecordSize;
  uint32_t ownEnd = packedWordEnd(ownWord);
  if (dataOffset > length || ownEnd > length - dataOffset) return false;
  out.count = count < 0 ? 0 : count;
  out.ownType = packedWordType(ownWord);
  out.ownEnd = ownEnd;
  out.dataOffset = dataOffset;
  out.dataLength = length - dataOffset;
  return true;
}

PackedChild decodeChild(const unsigned char* block, size_t length, const RecordsHeader& header,
                        int index) {
  PackedChild child;
  if (index < 0 || index >= header.count) return child;
  ByteReader in(block, length);
  // A child starts where the one before it ends; child 0 starts after the own value.
  uint32_t begin = header.ownEnd;
  if (index > 0) {
    in.seek(kRecordsHeaderSize + kRecordSize * static_cast<size_t>(index - 1) + 2);
    begin = packedWordEnd(in.u32());
  }
  in.seek(kRecordsHeaderSize + kRecordSize * static_cast<size_t>(index));
  child.nameIndex = static_cast<int16_t>(in.u16());
  uint32_t word = in.u32();
  if (!in.ok()) {
    child.nameIndex = -1;
    return child;
  }
  child.type = packedWordType(word);
  uint32_t end = packedWordEnd(word);
  if (begin <= end && end <= header.dataLength) {
    child.begin = header.dataOffset + begin;
    child.end = header.dataOffset + end;
    child.inRange = true;
  }
  return child;
}

bool decodeMarkerBlob(unsigned char* value, size_t length) {
  if (!value || length == 0) return false;
  if (value[0] == kMarkerPlain) return true;
  if (value[0] != kMarkerScrambled) return false;
  for (size_t i = 1; i < length; ++i) value[i] ^= kPackedScrambleKey;
  value[0] = kMarkerPlain;
  return true;
}

std::string encodeMarkerBlob(const std::string& bytes, bool scrambled) {
  std::string out;
  ByteWriter w(out);
  w.u8(scrambled ? kMarkerScrambled : kMarkerPlain);
  for (char c : bytes)
    w.u8(static_cast<uint8_t>(scrambled ? (static_cast<uint8_t>(c) ^ kPackedScrambleKey) : c));
  return out;
}

bool decodePackedInt(const unsigned char* value, size_t length, int32_t& out) {
  ByteReader in(value, length);
  switch (length) {
    case 0: out = 0; return true;
    case 1: out = static_cast<int8_t>(in.u8()); return true;
    case 2: out = static_cast<int16_t>(in.u16()); return true;
    case 4: out = in.i32(); return true;
    default: return false;
  }
}

std::string encodePackedInt(int32_t value) {
  std::string out;
  ByteWriter w(out);
  if (value >= INT8_MIN && value <= INT8_MAX)
    w.u8(static_cast<uint8_t>(value));
  else if (value >= INT16_MIN && value <= INT16_MAX)
    w.u16(static_cast<uint16_t>(value));
  else
    w.i32(value);
  return out;
}

void decodePackedFloats(const unsigned char* value, size_t count, float* out) {
  ByteReader in(value, count * 4);
  for (size_t i = 0; i < count; ++i) out[i] = in.f32();
}

std::string encodePackedFloats(const float* values, size_t count) {
  std::string out;
  ByteWriter w(out);
  for (size_t i = 0; i < count; ++i) w.f32(values[i]);
  return out;
}

void encodePackedHeader(const std::vector<std::string>& names, std::string& out) {
  ByteWriter w(out);
  w.u32(kPackedMagic);
  w.u8(0);
  for (const std::string& name : names) {
    w.text(name);
    w.u8(0);
  }
  w.u8(0);
}

bool encodeRecordsBlock(uint32_t ownType, const std::string& ownValue,
                        const std::vector<EncodedChild>& children, std::string& out) {
  if (children.size() > static_cast<size_t>(kPackedMaxChildren)) return false;
  size_t end = ownValue.size();
  for (const EncodedChild& child : children) end += child.bytes.size();
  if (end > kPackedEndMask) return false;

  ByteWriter w(out);
  w.u16(static_cast<uint16_t>(children.size()));
  end = ownValue.size();
  w.u32(packedWord(ownType, static_cast<uint32_t>(end)));
  for (const EncodedChild& child : children) {
    end += child.bytes.size();
    w.u16(static_cast<uint16_t>(static_cast<int16_t>(child.nameIndex)));
    w.u32(packedWord(child.type, static_cast<uint32_t>(end)));
  }
  w.text(ownValue);
  for (const EncodedChild& child : children) w.text(child.bytes);
  return true;
}
