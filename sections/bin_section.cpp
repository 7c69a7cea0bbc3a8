#include "sections/bin_section.h"

#include <algorithm>
#include <climits>

#include "sections/byte_cursor.h"
#include "sections/packed_section.h"
#include "sections/section_cache.h"
#include "sections/section_factory.h"

namespace {

constexpr uint32_t kLongEntryFlag = 0x80000000u;
constexpr size_t kReservedSize = 16;
constexpr size_t kMinContainerSize = 12;

constexpr size_t roundUp4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

uint32_t u32At(const unsigned char* data, size_t size, size_t offset) {
  ByteReader in(data, size);
  in.seek(offset);
  return in.u32();
}

BlockRef emptyBlock() { return BlockRef(new BinaryBlock(nullptr, 0, kBinSectionLabel)); }

// The bytes a child contributes to its parent's container. A packed file keeps its whole file:
// its root's own getBlock gives only the root's value, and packing that would lose the tree.
BlockRef childBytes(const SectionRef& child) {
  if (RefPtr<PackedSection> packed = refCast<PackedSection>(child))
    if (BlockRef file = packed->fileBlockIfRoot()) return file;
  return child->getBlock();
}

}  // namespace

std::vector<BinEntry> decodeBinContainer(const unsigned char* data, size_t size) {
  std::vector<BinEntry> entries;
  if (!data || size < kMinContainerSize || size > INT32_MAX) return entries;
  const bool hasMagic = u32At(data, size, 0) == kBinContainerMagic;
  const size_t dataStart = hasMagic ? 4 : 0;
  const uint32_t indexSize = u32At(data, size, size - 4);
  if (indexSize > size - 4) return entries;
  const size_t indexStart = size - 4 - indexSize;
  if (indexStart < dataStart || indexStart > size - kMinContainerSize) return entries;

  size_t e = indexStart;
  size_t dataPos = dataStart;
  while (e <= size - kMinContainerSize) {
    const size_t entryStart = e;
    uint32_t length = u32At(data, size, e);
    size_t nameLengthAt = e + 4;
    if ((hasMagic || (length & kLongEntryFlag)) && e + 4 + kReservedSize <= size - 8) {
      length &= ~kLongEntryFlag;
      nameLengthAt = e + 4 + kReservedSize;
    }
    const uint32_t nameLength = u32At(data, size, nameLengthAt);
    const size_t nameAt = nameLengthAt + 4;
    if (length > kBinMaxChildLength || dataPos > indexStart || length > indexStart - dataPos ||
        nameLength > kBinMaxNameLength || nameAt + nameLength > size - 4)
      return {};
    BinEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(data + nameAt), nameLength);
    entry.offset = static_cast<int32_t>(dataPos);
    entry.length = static_cast<int32_t>(length);
    entries.push_back(std::move(entry));
    e = nameAt + nameLength;
    if (hasMagic) e = entryStart + roundUp4(e - entryStart);
    dataPos += roundUp4(length);
  }
  return entries;
}

bool encodeBinContainer(const std::vector<BinChild>& children, std::string& out) {
  size_t dataSize = 4;
  size_t indexSize = 0;
  for (const BinChild& child : children) {
    if (child.length > kBinMaxChildLength || child.name.size() > kBinMaxNameLength) return false;
    dataSize += roundUp4(child.length);
    indexSize += roundUp4(4 + kReservedSize + 4 + child.name.size());
    if (dataSize + indexSize + 4 > INT32_MAX) return false;
  }
  std::string bytes;
  bytes.reserve(dataSize + indexSize + 4);
  ByteWriter w(bytes);
  w.u32(kBinContainerMagic);
  for (const BinChild& child : children) {
    w.bytes(child.data, child.length);
    bytes.append(roundUp4(child.length) - child.length, '\0');
  }
  for (const BinChild& child : children) {
    const size_t entryStart = bytes.size();
    w.u32(static_cast<uint32_t>(child.length));
    bytes.append(kReservedSize, '\0');
    w.u32(static_cast<uint32_t>(child.name.size()));
    w.text(child.name);
    bytes.append(roundUp4(bytes.size() - entryStart) - (bytes.size() - entryStart), '\0');
  }
  w.u32(static_cast<uint32_t>(indexSize));
  out = std::move(bytes);
  return true;
}

BinSection::BinSection(const std::string& name, const BlockRef& block)
    : name_(name), block_(block ? block : emptyBlock()) {}

void BinSection::readChildren() {
  if (childrenRead_) return;
  childrenRead_ = true;
  childrenChanged_ = false;
  for (const BinEntry& entry : decodeBinContainer(block_->data(), block_->length())) {
    BlockRef bytes = BinaryBlock::view(block_, entry.offset, entry.length, kBinSectionLabel);
    if (!bytes) continue;  // cannot happen: the decoder checked the range
    children_.push_back(sectionFromBlock(entry.name, bytes, false, nullptr));
  }
}

int BinSection::childCount() {
  readChildren();
  return static_cast<int>(children_.size());
}

SectionRef BinSection::childAt(int index) {
  readChildren();
  if (index < 0 || index >= static_cast<int>(children_.size())) return SectionRef();
  return children_[static_cast<size_t>(index)];
}

SectionRef BinSection::addChild(const std::string& tag, SectionCreator*) {
  readChildren();
  SectionRef child(new BinSection(tag, emptyBlock()));
  children_.push_back(child);
  childrenChanged_ = true;
  return child;
}

SectionRef BinSection::findChild(const std::string& tag, SectionCreator*) {
  readChildren();
  for (const SectionRef& child : children_)
    if (child && child->name() == tag) return child;
  return SectionRef();
}

void BinSection::removeChild(const SectionRef& child) {
  readChildren();
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return;
  children_.erase(it);
  childrenChanged_ = true;
}

void BinSection::removeChildNamed(const std::string& tag) {
  readChildren();
  auto it = std::find_if(children_.begin(), children_.end(),
                         [&](const SectionRef& c) { return c && c->name() == tag; });
  if (it == children_.end()) return;
  children_.erase(it);
  childrenChanged_ = true;
}

void BinSection::removeAllChildren() {
  childrenRead_ = true;
  childrenChanged_ = false;
  children_.clear();
  block_ = emptyBlock();
}

bool BinSection::saveTo(const std::string& path) {
  if (!path.empty() && !resolveParent(path, owner_, name_)) return false;
  if (!owner_) return false;
  return owner_->storeChild(SectionRef(this), true);
}

SectionRef BinSection::convertSection(const std::string& path, const SectionRef&) {
  readChildren();
  if (!path.empty() && !resolveParent(path, owner_, name_)) return SectionRef();
  if (!owner_) return SectionRef();
  removeFromSectionCache(this);
  return owner_->convertSection(path, SectionRef(this));
}

BlockRef BinSection::getBlock() {
  if (!childrenRead_ || (children_.empty() && !childrenChanged_)) return block_;
  // Keep every child's block alive until the container has been copied out of them.
  std::vector<BlockRef> blocks;
  std::vector<BinChild> packed;
  for (const SectionRef& child : children_) {
    BlockRef bytes = child ? childBytes(child) : BlockRef();
    BinChild entry;
    entry.name = child ? child->name() : std::string();
    if (bytes) {
      entry.data = bytes->data();
      entry.length = static_cast<size_t>(bytes->length());
    }
    blocks.push_back(bytes);
    packed.push_back(std::move(entry));
  }
  std::string container;
  if (!encodeBinContainer(packed, container)) return block_;
  BlockRef block = BinaryBlock::fromString(container, kBinSectionLabel);
  if (block->length() != static_cast<int32_t>(container.size())) return block_;  // out of memory
  storeBlock(block);
  readChildren();
  return block_;
}

bool BinSection::storeBlock(BlockRef block) {
  block_ = block ? block : emptyBlock();
  childrenRead_ = false;
  childrenChanged_ = false;
  children_.clear();
  return true;
}
