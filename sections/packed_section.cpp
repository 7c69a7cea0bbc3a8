#include "sections/packed_section.h"

#include <cstdlib>
#include <cstring>

#include "sections/base64.h"
#include "sections/trace_flag.h"
#include "sections/xml_section.h"

namespace {

const char* const kRowNames[4] = {"row0", "row1", "row2", "row3"};
constexpr size_t kRowBytes = 12;

bool nameEquals(const char* name, const std::string& tag) {
  return name && std::strlen(name) == tag.size() && std::memcmp(name, tag.data(), tag.size()) == 0;
}

// Row 0 to 3 for the names "row0" to "row3", else -1.
int rowIndex(const std::string& tag) {
  for (int row = 0; row < 4; ++row)
    if (tag == kRowNames[row]) return row;
  return -1;
}

}  // namespace

// ---- PackedSectionFile ----

PackedSectionFile::PackedSectionFile(const std::string& name, const BlockRef& block)
    : name_(name), block_(block) {
  const size_t size = static_cast<size_t>(block_->length());
  PackedStringTable table = decodeStringTable(block_->data(), size);
  for (size_t offset : table.nameOffsets) strings_.push_back(block_->cdata() + offset);
  rootOffset_ = table.rootOffset;
}

const char* PackedSectionFile::nameAt(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= strings_.size()) return nullptr;
  return strings_[static_cast<size_t>(index)];
}

// ---- Construction ----

SectionRef openPacked(const std::string& tag, const BlockRef& block) {
  if (!block || !isPackedFile(block->data(), static_cast<size_t>(block->length())))
    return SectionRef();
  RefPtr<PackedSectionFile> file(new PackedSectionFile(tag, block));
  const size_t size = static_cast<size_t>(block->length());
  const size_t root = file->rootOffset();
  PackedSection* section = new PackedSection(file, file->name().c_str(), block->data() + root,
                                             size - root, kPackedRecords);
  section->isRoot_ = true;
  return SectionRef(section);
}

PackedSection::PackedSection(const RefPtr<PackedSectionFile>& file, const char* name,
                             unsigned char* bytes, size_t length, uint32_t type)
    : name_(name), file_(file) {
  if (type == kPackedRecords) {
    if (!decodeRecordsHeader(bytes, length, header_)) {
      makeEmptyText();
      return;
    }
    records_ = bytes;
    recordsLength_ = static_cast<int32_t>(length);
    value_ = bytes + header_.dataOffset;
    valueLength_ = static_cast<int32_t>(header_.ownEnd);
    type_ = header_.ownType;
  } else {
    value_ = bytes;
    valueLength_ = static_cast<int32_t>(length);
    type_ = type;
  }
  if (type_ == kPackedMarkerBlob) {
    if (!decodeMarkerBlob(value_, static_cast<size_t>(valueLength_))) {
      makeEmptyText();
      return;
    }
    ++value_;
    --valueLength_;
    type_ = kPackedBlob;
  }
}

void PackedSection::makeEmptyText() {
  records_ = nullptr;
  recordsLength_ = 0;
  header_ = RecordsHeader();
  value_ = nullptr;
  valueLength_ = 0;
  type_ = kPackedText;
}

// ---- Children ----

const char* PackedSection::recordName(int index) const {
  return file_->nameAt(
      decodeChild(records_, static_cast<size_t>(recordsLength_), header_, index).nameIndex);
}

SectionRef PackedSection::recordChild(int index) {
  const PackedChild child =
      decodeChild(records_, static_cast<size_t>(recordsLength_), header_, index);
  const char* name = file_->nameAt(child.nameIndex);
  if (!child.inRange) {
    PackedSection* empty = new PackedSection(file_, name, nullptr, 0, kPackedText);
    return SectionRef(empty);
  }
  return SectionRef(
      new PackedSection(file_, name, records_ + child.begin, child.end - child.begin, child.type));
}

SectionRef PackedSection::rowSection(int row) {
  return SectionRef(new PackedSection(file_, kRowNames[row],
                                      value_ + kRowBytes * static_cast<size_t>(row), kRowBytes,
                                      kPackedFloats));
}

int PackedSection::childCount() {
  if (records_) return header_.count;
  return isMatrixValue() ? 4 : 0;
}

SectionRef PackedSection::childAt(int index) {
  if (index < 0) return SectionRef();
  if (records_) return index < header_.count ? recordChild(index) : SectionRef();
  if (isMatrixValue() && index < 4) return rowSection(index);
  return SectionRef();
}

SectionRef PackedSection::findChild(const std::string& tag, SectionCreator*) {
  if (!records_) return SectionRef();
  for (int i = 0; i < header_.count; ++i)
    if (nameEquals(recordName(i), tag)) return recordChild(i);
  const int row = rowIndex(tag);
  if (isMatrixValue() && row >= 0) return rowSection(row);
  return SectionRef();
}

void PackedSection::traceFindChild(const std::string& tag) {
  debugTrace(">>>PackedSection::traceFindChild: " + tag + "\n");
  debugTrace("numChildren: " + std::to_string(childCount()));
  if (!records_) {
    debugTrace("this->pRecords() is NULL, return NULL.");
    return;
  }
  for (int i = 0; i < header_.count; ++i) {
    if (nameEquals(recordName(i), tag)) {
      debugTrace("name matches: " + tag + "," + "return pCurr->createSection(this)");
      return;
    }
  }
  if (isMatrixValue()) {
    debugTrace("this is matrix");
    if (rowIndex(tag) >= 0) {
      debugTrace("return valid matrix");
      return;
    }
  }
  debugTrace("can not find child.");
}

std::string PackedSection::name() { return name_ ? std::string(name_) : std::string(); }

int PackedSection::sizeInBytes() {
  return valueLength_ > recordsLength_ ? valueLength_ : recordsLength_;
}

std::string PackedSection::valueBytes() const {
  return value_ ? std::string(reinterpret_cast<const char*>(value_),
                              static_cast<size_t>(valueLength_))
                : std::string();
}

BlockRef PackedSection::fileBlockIfRoot() const { return isRoot_ ? file_->block() : BlockRef(); }

// ---- Typed reads ----

SectionRef PackedSection::viaScratch() {
  SectionRef scratch = scratchSection();
  scratch->storeText(getText(std::string()));
  return scratch;
}

// Integers of 0, 1, 2 or 4 bytes read directly. Another width has no integer reading: it is
// neither read nor turned into text, because the text of an integer is its integer reading.
bool PackedSection::directInt(int32_t& out) const {
  return type_ == kPackedInt && decodePackedInt(value_, static_cast<size_t>(valueLength_), out);
}

bool PackedSection::getBool(bool defaultValue) {
  if (type_ == kPackedBool) return valueLength_ > 0;
  return viaScratch()->getBool(defaultValue);
}

int PackedSection::getInt(int defaultValue) {
  int32_t value = 0;
  if (directInt(value)) return value;
  if (type_ == kPackedInt) return defaultValue;
  return viaScratch()->getInt(defaultValue);
}

long PackedSection::getLong(long defaultValue) {
  int32_t value = 0;
  if (directInt(value)) return value;
  if (type_ == kPackedInt) return defaultValue;
  return viaScratch()->getLong(defaultValue);
}

float PackedSection::getFloat(float defaultValue) {
  if (type_ == kPackedFloats && valueLength_ == 0) return 0.0f;
  if (type_ == kPackedFloats && valueLength_ == 4) {
    float value = 0;
    decodePackedFloats(value_, 1, &value);
    return value;
  }
  if (type_ == kPackedInt) return static_cast<float>(getInt(0));
  if (type_ == kPackedText) {
    if (valueLength_ == 0) return defaultValue;
    // The bytes carry no terminator: convert a copy.
    return static_cast<float>(std::atof(valueBytes().c_str()));
  }
  return viaScratch()->getFloat(defaultValue);
}

double PackedSection::getDouble(double defaultValue) {
  return static_cast<double>(getFloat(static_cast<float>(defaultValue)));
}

Vector2 PackedSection::getVector2(const Vector2& defaultValue) {
  if (type_ != kPackedFloats || valueLength_ != 8) return viaScratch()->getVector2(defaultValue);
  float f[2];
  decodePackedFloats(value_, 2, f);
  return Vector2{f[0], f[1]};
}

Vector3 PackedSection::getVector3(const Vector3& defaultValue) {
  if (type_ != kPackedFloats || valueLength_ != 12) return viaScratch()->getVector3(defaultValue);
  float f[3];
  decodePackedFloats(value_, 3, f);
  return Vector3{f[0], f[1], f[2]};
}

Vector4 PackedSection::getVector4(const Vector4& defaultValue) {
  if (type_ != kPackedFloats || valueLength_ != 16) return viaScratch()->getVector4(defaultValue);
  float f[4];
  decodePackedFloats(value_, 4, f);
  return Vector4{f[0], f[1], f[2], f[3]};
}

Matrix PackedSection::getMatrix(const Matrix& defaultValue) {
  if (!isMatrixValue()) return readMatrixRows(defaultValue);
  float f[12];
  decodePackedFloats(value_, 12, f);
  Matrix m;
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 3; ++col) m.m[row][col] = f[row * 3 + col];
    m.m[row][3] = row == 3 ? 1.0f : 0.0f;
  }
  return m;
}

// Floats print the way the scratch section stores them ("%f" per component).
std::string PackedSection::floatText() {
  SectionRef scratch = scratchSection();
  switch (valueLength_) {
    case 4: scratch->storeFloat(getFloat(0), "%f"); break;
    case 8: scratch->storeVector2(getVector2(Vector2()), "%f %f"); break;
    case 12: scratch->storeVector3(getVector3(Vector3()), "%f %f %f"); break;
    case 16: scratch->storeVector4(getVector4(Vector4()), "%f %f %f %f"); break;
    default: return std::string();
  }
  return scratch->getText(std::string());
}

std::string PackedSection::getText(const std::string&, int) {
  switch (type_) {
    case kPackedText: return valueBytes();
    case kPackedBlob: return base64Encode(value_, static_cast<size_t>(valueLength_));
    case kPackedInt: {
      int32_t value = 0;
      return directInt(value) ? std::to_string(value) : std::string();
    }
    case kPackedBool: return getBool(false) ? "true" : "false";
    case kPackedFloats: return floatText();
    default: return std::string();
  }
}

WideText PackedSection::getWideText(const WideText&, int) {
  return wideTextFromValue(getText(std::string()));
}

std::string PackedSection::getBlobText(const std::string& defaultValue) {
  if (type_ == kPackedBlob) return valueBytes();
  if (type_ == kPackedText && valueLength_ == 0) return std::string();
  if (type_ == kPackedInt || type_ == kPackedBool) {
    const std::string text = getText(std::string());
    if (text.size() % 4 == 0) return base64Decode(text);
  }
  return viaScratch()->getBlobText(defaultValue);
}

BlockRef PackedSection::getBlock() {
  if (type_ == kPackedBlob && value_)
    return BlockRef(new BinaryBlock(value_, valueLength_, kPackedSectionLabel,
                                    RefPtr<ReferenceCount>(file_->block().get())));
  const std::string bytes = getBlobText(std::string());
  return BinaryBlock::fromString(bytes, kPackedSectionLabel);
}
