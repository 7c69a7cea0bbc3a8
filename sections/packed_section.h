// PackedSection: the read-only section form over a packed binary section file (the format is in
// packed_format.h). The game keeps its configuration entries, "scripts_config.xml" among them,
// in this form.
//
// A PackedSection is a light view into the file's bytes; PackedSectionFile owns the block and
// the string table and is shared by every section of one file, so the bytes live as long as
// any section (or any block getBlock handed out) does. Sections are built on demand: two calls
// to childAt give two section objects over the same bytes.
//
// Reading a marker blob (type 6) unscrambles its bytes in the file's block, in place, and marks
// them plain; nothing else ever writes to the block.
//
// Damaged files never lead outside the block. What damaged parts become:
// - a records block too short for its header, with a count below -1, or whose records and own
//   value do not fit: the node is an empty text value (type 1, no bytes, no children);
// - a child whose byte range ends before it starts or past its parent's data area: an empty
//   text value that keeps its name;
// - a name index outside the string table: the child has no name and matches no name;
// - a string table without its ending empty name: no names, and the root is an empty text value;
// - a marker blob with no bytes or a marker other than 0 or 1: an empty text value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sections/data_section.h"
#include "sections/packed_format.h"

inline constexpr const char* kPackedSectionLabel = "BinaryBlock/PackedSection";

class PackedSectionFile : public SafeReferenceCount {
 public:
  // Reads the string table of a block that isPackedFile accepted.
  PackedSectionFile(const std::string& name, const BlockRef& block);

  const std::string& name() const { return name_; }
  const BlockRef& block() const { return block_; }
  // The zero-terminated name at index, or null outside the table.
  const char* nameAt(int index) const;
  // Offset of the root records block (the file's length when the string table is damaged).
  size_t rootOffset() const { return rootOffset_; }

 private:
  std::string name_;
  std::vector<const char*> strings_;
  BlockRef block_;
  size_t rootOffset_ = 0;
};

class PackedSection : public DataSection {
 public:
  int childCount() override;
  SectionRef childAt(int index) override;
  SectionRef addChild(const std::string&, SectionCreator* = nullptr) override { return {}; }
  SectionRef findChild(const std::string& tag, SectionCreator* creator = nullptr) override;
  void removeChild(const SectionRef&) override {}
  void removeChildNamed(const std::string&) override {}
  void removeAllChildren() override {}

  std::string name() override;
  int sizeInBytes() override;
  bool saveTo(const std::string&) override { return false; }

  bool getBool(bool defaultValue) override;
  int getInt(int defaultValue) override;
  long getLong(long defaultValue) override;
  float getFloat(float defaultValue) override;
  double getDouble(double defaultValue) override;
  std::string getText(const std::string& defaultValue, int mode = 0) override;
  WideText getWideText(const WideText& defaultValue, int mode = 0) override;
  Vector2 getVector2(const Vector2& defaultValue) override;
  Vector3 getVector3(const Vector3& defaultValue) override;
  Vector4 getVector4(const Vector4& defaultValue) override;
  Matrix getMatrix(const Matrix& defaultValue) override;
  // A blob (type 5) is handed out as a view of the file's bytes; anything else as a new block
  // holding getBlobText("").
  BlockRef getBlock() override;
  std::string getBlobText(const std::string& defaultValue) override;

  void traceFindChild(const std::string& tag) override;

  // The value's type code after the marker rule (so never 6) and its bytes; the packed writer
  // copies a packed tree through them without losing types.
  uint32_t valueType() const { return type_; }
  std::string valueBytes() const;
  bool hasRecords() const { return records_ != nullptr; }
  // The whole file when this is its root, else none: a container that packs this section
  // stores the file rather than the root's own value.
  BlockRef fileBlockIfRoot() const;

 private:
  friend SectionRef openPacked(const std::string& tag, const BlockRef& block);
  // A node over `length` bytes at `bytes` (inside the file's block) of the given type; a
  // records block for type 0.
  PackedSection(const RefPtr<PackedSectionFile>& file, const char* name, unsigned char* bytes,
                size_t length, uint32_t type);

  void makeEmptyText();
  // Four rows of three floats.
  bool isMatrixValue() const { return type_ == kPackedFloats && valueLength_ == 4 * 3 * 4; }
  SectionRef rowSection(int row);
  SectionRef recordChild(int index);
  const char* recordName(int index) const;
  // The value's text stored into the scratch section, which then converts it.
  SectionRef viaScratch();
  bool directInt(int32_t& out) const;
  std::string floatText();

  const char* name_ = nullptr;
  int32_t valueLength_ = 0;
  unsigned char* value_ = nullptr;
  uint32_t type_ = kPackedText;
  int32_t recordsLength_ = 0;
  unsigned char* records_ = nullptr;
  RecordsHeader header_;
  RefPtr<PackedSectionFile> file_;
  bool isRoot_ = false;
};

// The root of the packed file in block, named tag; none when block is not a packed file (not
// longer than 4 bytes, or without the magic).
SectionRef openPacked(const std::string& tag, const BlockRef& block);
