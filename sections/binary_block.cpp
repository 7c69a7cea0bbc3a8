#include "sections/binary_block.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {
int32_t gNextSerial = 1;
}

BinaryBlock::BinaryBlock(const void* data, int32_t length, const char* /*label*/,
                         RefPtr<ReferenceCount> owner)
    : owner_(std::move(owner)) {
  if (length < 0) length = 0;
  if (owner_) {
    data_ = static_cast<unsigned char*>(const_cast<void*>(data));
    length_ = length;
    return;
  }
  data_ = new (std::nothrow) unsigned char[length > 0 ? length : 1];
  if (!data_) return;
  length_ = length;
  if (data && length > 0)
    std::memcpy(data_, data, static_cast<size_t>(length));
  else if (length > 0)
    std::memset(data_, 0, static_cast<size_t>(length));
  serial_ = gNextSerial++;
}

BinaryBlock::BinaryBlock(FILE* stream, int32_t length) {
  if (length < 0) length = 0;
  data_ = new (std::nothrow) unsigned char[length > 0 ? length : 1];
  if (!data_) return;
  if (length > 0) std::memset(data_, 0, static_cast<size_t>(length));
  long here = std::ftell(stream);
  long remaining = 0;
  if (here >= 0 && std::fseek(stream, 0, SEEK_END) == 0) {
    long end = std::ftell(stream);
    remaining = end > here ? end - here : 0;
    std::fseek(stream, here, SEEK_SET);
  }
  size_t want = static_cast<size_t>(remaining < length ? remaining : length);
  length_ = static_cast<int32_t>(std::fread(data_, 1, want, stream));
}

BinaryBlock::~BinaryBlock() {
  if (!owner_) delete[] data_;
}

BlockRef BinaryBlock::view(const BlockRef& parent, int32_t offset, int32_t length,
                           const char* label) {
  if (!parent || offset < 0 || length < 0 || offset > parent->length() ||
      length > parent->length() - offset)
    return BlockRef();
  return BlockRef(new BinaryBlock(parent->data() + offset, length, label,
                                  RefPtr<ReferenceCount>(parent.get())));
}

BlockRef BinaryBlock::fromString(const std::string& bytes, const char* label) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return BlockRef();
  return BlockRef(new BinaryBlock(bytes.data(), static_cast<int32_t>(bytes.size()), label));
}

int32_t BinaryBlock::nextSerial() { return gNextSerial; }
