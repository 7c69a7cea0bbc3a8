// The shared byte buffer that archive entries and section trees travel in. A block either owns
// its bytes or views bytes kept alive by an owner object; it never changes size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "sections/reference_count.h"

class BinaryBlock;
using BlockRef = RefPtr<BinaryBlock>;

class BinaryBlock : public SafeReferenceCount {
 public:
  // With an owner: views `length` bytes at `data` and keeps the owner alive.
  // Without one: allocates `length` bytes, copies them from `data` (or zero-fills when `data` is
  // null) and takes the next serial number. When the allocation fails the block has length 0.
  // `label` names the purpose for memory accounting only.
  BinaryBlock(const void* data, int32_t length, const char* label,
              RefPtr<ReferenceCount> owner = nullptr);
  // Reads at most `length` bytes from the stream's current position; the block's length is the
  // number of bytes actually read.
  BinaryBlock(FILE* stream, int32_t length);
  ~BinaryBlock() override;
  BinaryBlock(const BinaryBlock&) = delete;
  BinaryBlock& operator=(const BinaryBlock&) = delete;

  const unsigned char* data() const { return data_; }
  unsigned char* data() { return data_; }
  const char* cdata() const { return reinterpret_cast<const char*>(data_); }
  int32_t length() const { return length_; }
  int32_t serial() const { return serial_; }
  const RefPtr<ReferenceCount>& owner() const { return owner_; }
  std::string asString() const { return std::string(cdata(), static_cast<size_t>(length_)); }

  // A new block viewing [offset, offset + length) of `parent`, or none when the range does not
  // fit inside the parent.
  static BlockRef view(const BlockRef& parent, int32_t offset, int32_t length, const char* label);
  // A new block holding a copy of `bytes`; none for 2 GiB or more, which a block's length
  // cannot hold.
  static BlockRef fromString(const std::string& bytes, const char* label);

  // Serial number the next allocating block will take (tests).
  static int32_t nextSerial();

 private:
  int32_t serial_ = 0;
  unsigned char* data_ = nullptr;
  int32_t length_ = 0;
  RefPtr<ReferenceCount> owner_;
};
