// BinSection: the section form for bytes that are neither XML text nor a packed file. Its value
// is one byte block; the same block may be a container of named sub-blocks, which the section
// reads lazily as its children and can pack back into one block.
//
// Container layout (integers little-endian, 32-bit):
//   0            magic kBinContainerMagic
//   4            each child's bytes in child order, each zero-padded to a multiple of 4
//   after data   index: one entry per child, in child order
//   L-4          index size: bytes of the index entries, not counting this field
// Index entry: length (4), 16 reserved zero bytes, name length (4), name, zero padding to a
// multiple of 4. Blocks without the magic (an older layout) start their data at 0 and their
// entries are length, name length, name, unpadded; unless the length has its top bit set, in
// which case the bit is cleared and the 16 reserved bytes follow the length as above.
#pragma once

#include <string>
#include <vector>

#include "sections/data_section.h"

inline constexpr uint32_t kBinContainerMagic = 0x42A14E65;
inline constexpr uint32_t kBinMaxChildLength = 0x10100000;
inline constexpr uint32_t kBinMaxNameLength = 4096;
inline constexpr const char* kBinSectionLabel = "BinaryBlock/BinSection";

// One sub-block of a container: its name and where its bytes lie in the container.
struct BinEntry {
  std::string name;
  int32_t offset = 0;
  int32_t length = 0;
};

// The entries of a container block. An empty list for a block that is too short, whose index
// size does not fit, or that holds an entry breaking a limit (a child longer than
// kBinMaxChildLength or past the index, a name longer than kBinMaxNameLength or past the
// index-size field): a block is read whole or not at all.
std::vector<BinEntry> decodeBinContainer(const unsigned char* data, size_t size);

// A container holding `children` (name, bytes) in order, in the layout with the magic. False
// when a child or name breaks a limit the reader enforces, or the total exceeds 2 GiB, so that
// what is packed always reads back.
struct BinChild {
  std::string name;
  const unsigned char* data = nullptr;
  size_t length = 0;
};
[[nodiscard]] bool encodeBinContainer(const std::vector<BinChild>& children, std::string& out);

class BinSection : public DataSection {
 public:
  // block must not be none (the factory and addChild never pass none).
  BinSection(const std::string& name, const BlockRef& block);

  int childCount() override;
  SectionRef childAt(int index) override;
  SectionRef addChild(const std::string& tag, SectionCreator* creator = nullptr) override;
  SectionRef findChild(const std::string& tag, SectionCreator* creator = nullptr) override;
  void removeChild(const SectionRef& child) override;
  void removeChildNamed(const std::string& tag) override;
  void removeAllChildren() override;

  std::string name() override { return name_; }
  int sizeInBytes() override { return block_->length(); }
  bool saveTo(const std::string& path) override;
  void setOwner(const SectionRef& owner) override { owner_ = owner; }
  SectionRef convertSection(const std::string& path, const SectionRef& section) override;
  bool isStructured() override { return false; }

  // With children read and changed or present, packs them into a new block first (so the child
  // objects are new ones afterwards); then the block. When the children cannot be packed (a
  // limit of the container is broken) the block and the children stay as they were.
  BlockRef getBlock() override;
  // Replaces the value; the children are dropped and read again from the new block on demand.
  bool storeBlock(BlockRef block) override;

 private:
  void readChildren();

  std::string name_;
  BlockRef block_;
  bool childrenRead_ = false;
  // Set when the child list differs from what the block holds, so that getBlock packs even an
  // emptied list instead of handing back the stale block.
  bool childrenChanged_ = false;
  std::vector<SectionRef> children_;
  SectionRef owner_;
};
