// Bounds-checked little-endian reading and writing over byte buffers. A reader that runs past
// its end returns zeros from then on and keeps its failure flag set, so a parser checks ok()
// once after a record instead of after every field. Independent of the host's byte order and
// alignment: values are assembled byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class ByteReader {
 public:
  ByteReader(const void* data, size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}

  bool ok() const { return ok_; }
  size_t position() const { return pos_; }
  size_t size() const { return size_; }
  size_t remaining() const { return ok_ ? size_ - pos_ : 0; }

  // Moves to an absolute offset; past the end trips the failure flag.
  void seek(size_t offset) {
    if (offset > size_) ok_ = false;
    else pos_ = offset;
  }
  void skip(size_t count) {
    if (!take(count)) return;
  }

  uint8_t u8() { return static_cast<uint8_t>(readLE(1)); }
  uint16_t u16() { return static_cast<uint16_t>(readLE(2)); }
  uint32_t u32() { return static_cast<uint32_t>(readLE(4)); }
  uint64_t u64() { return readLE(8); }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  float f32() {
    uint32_t bits = u32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  // A pointer to `count` bytes inside the buffer, or nullptr (and the flag tripped).
  const unsigned char* bytes(size_t count) { return take(count); }
  std::string text(size_t count) {
    const unsigned char* p = take(count);
    return p ? std::string(reinterpret_cast<const char*>(p), count) : std::string();
  }

 private:
  const unsigned char* take(size_t count) {
    if (!ok_ || count > size_ - pos_) {
      ok_ = false;
      return nullptr;
    }
    const unsigned char* p = data_ + pos_;
    pos_ += count;
    return p;
  }
  uint64_t readLE(size_t width) {
    const unsigned char* p = take(width);
    if (!p) return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
    return value;
  }

  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Appends little-endian values to a byte string.
class ByteWriter {
 public:
  explicit ByteWriter(std::string& out) : out_(out) {}
  void u8(uint8_t v) { out_ += static_cast<char>(v); }
  void u16(uint16_t v) { writeLE(v, 2); }
  void u32(uint32_t v) { writeLE(v, 4); }
  void u64(uint64_t v) { writeLE(v, 8); }
  void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
  void f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    u32(bits);
  }
  void bytes(const void* data, size_t count) {
    out_.append(static_cast<const char*>(data), count);
  }
  void text(const std::string& s) { out_ += s; }
  size_t size() const { return out_.size(); }

 private:
  void writeLE(uint64_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  std::string& out_;
};
