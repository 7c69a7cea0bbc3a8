#include "sections/packed_writer.h"

#include <map>
#include <utility>

#include "sections/packed_section.h"

namespace {

constexpr uint32_t kMaxType = 15;

PackedValue floatValue(const float* values, size_t count) {
  return PackedValue{kPackedFloats, encodePackedFloats(values, count)};
}

// Names in order of first appearance (pre-order), each stored once.
class NameTable {
 public:
  // -1 for an empty name; false for a name the table cannot hold.
  bool indexOf(const std::string& name, int& index) {
    if (name.empty()) {
      index = -1;
      return true;
    }
    if (name.find('\0') != std::string::npos) return false;
    auto found = indexes_.find(name);
    if (found != indexes_.end()) {
      index = found->second;
      return true;
    }
    if (names_.size() >= static_cast<size_t>(kPackedMaxNames)) return false;
    index = static_cast<int>(names_.size());
    indexes_.emplace(name, index);
    names_.push_back(name);
    return true;
  }
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::map<std::string, int> indexes_;
  std::vector<std::string> names_;
};

// The bytes a node occupies in its parent (a records block when it has children, else its
// value) and the type its parent's record gives it.
bool encodeNode(const PackedNode& node, bool asRecords, int depth, NameTable& names,
                EncodedChild& out) {
  if (node.value.type > kMaxType || depth >= kMaxSectionDepth) return false;
  // A childless node whose value claims type 0 can only be told apart as an empty records block.
  if (!asRecords && node.children.empty() && node.value.type != kPackedRecords) {
    out.type = node.value.type;
    out.bytes = node.value.bytes;
    return out.bytes.size() <= kPackedEndMask;
  }
  std::vector<EncodedChild> children(node.children.size());
  for (size_t i = 0; i < node.children.size(); ++i) {
    const PackedNode& child = node.children[i];
    if (!names.indexOf(child.name, children[i].nameIndex)) return false;
    if (!encodeNode(child, false, depth + 1, names, children[i])) return false;
  }
  out.type = kPackedRecords;
  out.bytes.clear();
  return encodeRecordsBlock(node.value.type, node.value.bytes, children, out.bytes);
}

}  // namespace

PackedValue PackedValue::text(const std::string& characters) {
  return PackedValue{kPackedText, characters};
}
PackedValue PackedValue::integer(int32_t value) {
  return PackedValue{kPackedInt, encodePackedInt(value)};
}
PackedValue PackedValue::real(float value) { return floatValue(&value, 1); }
PackedValue PackedValue::vector2(const Vector2& v) {
  const float f[] = {v.x, v.y};
  return floatValue(f, 2);
}
PackedValue PackedValue::vector3(const Vector3& v) {
  const float f[] = {v.x, v.y, v.z};
  return floatValue(f, 3);
}
PackedValue PackedValue::vector4(const Vector4& v) {
  const float f[] = {v.x, v.y, v.z, v.w};
  return floatValue(f, 4);
}
PackedValue PackedValue::matrix(const Matrix& m) {
  float f[12];
  for (int row = 0; row < 4; ++row)
    for (int col = 0; col < 3; ++col) f[row * 3 + col] = m.m[row][col];
  return floatValue(f, 12);
}
PackedValue PackedValue::boolean(bool value) {
  return PackedValue{kPackedBool, value ? std::string(1, '\1') : std::string()};
}
PackedValue PackedValue::blob(const std::string& bytes) { return PackedValue{kPackedBlob, bytes}; }
PackedValue PackedValue::markerBlob(const std::string& bytes, bool scrambled) {
  return PackedValue{kPackedMarkerBlob, encodeMarkerBlob(bytes, scrambled)};
}

PackedNode& PackedNode::add(const std::string& childName, PackedValue childValue) {
  children.push_back(PackedNode{childName, std::move(childValue), {}});
  return children.back();
}

bool writePackedFile(const PackedNode& root, std::string& out) {
  NameTable names;
  EncodedChild body;
  if (!encodeNode(root, true, 0, names, body)) return false;
  std::string file;
  encodePackedHeader(names.names(), file);
  file += body.bytes;
  out = std::move(file);
  return true;
}

namespace {

bool nodeFromSection(const SectionRef& section, int depth, PackedNode& node) {
  if (depth >= kMaxSectionDepth) return false;
  node.name = section->name();
  if (RefPtr<PackedSection> packed = refCast<PackedSection>(section)) {
    node.value.type = packed->valueType();
    node.value.bytes = packed->valueBytes();
    // Rows of a matrix value are views of the value itself, not children of their own.
    if (!packed->hasRecords()) return true;
  } else if (!section->isStructured()) {
    BlockRef block = section->getBlock();
    node.value = PackedValue::blob(block ? block->asString() : std::string());
    return true;
  } else {
    node.value = PackedValue::text(section->getText(std::string()));
  }
  const int count = section->childCount();
  for (int i = 0; i < count; ++i) {
    if (SectionRef child = section->childAt(i)) {
      node.children.emplace_back();
      if (!nodeFromSection(child, depth + 1, node.children.back())) return false;
    }
  }
  return true;
}

}  // namespace

bool packedNodeFromSection(const SectionRef& section, PackedNode& out) {
  PackedNode node;
  if (section && !nodeFromSection(section, 0, node)) return false;
  out = std::move(node);
  return true;
}

std::string packSectionTree(const SectionRef& root) {
  PackedNode node;
  std::string out;
  if (!root || !packedNodeFromSection(root, node) || !writePackedFile(node, out))
    return std::string();
  return out;
}
