// Writing packed section files: the release tools make the "scripts_config.xml" entries of the
// patch archives with it, and tests make packed files of any shape. Whatever it writes reads
// back through sectionFromBlock (or openPacked) with the same names, value types and bytes; a
// marker blob reads back as a plain blob (type 5) holding the unscrambled bytes.
//
// Two ways to describe a tree:
//
// 1. Typed, in memory, with PackedNode:
//      PackedNode root;
//      root.add("version", PackedValue::text("2.651"));
//      root.add("build", PackedValue::integer(1234));
//      PackedNode& pos = root.add("spawn", PackedValue::text(""));
//      pos.add("at", PackedValue::vector3({1, 2, 3}));
//      std::string bytes;
//      if (!writePackedFile(root, bytes)) { /* a limit of the format was broken */ }
//
// 2. From any section tree, e.g. one parsed from XML text:
//      SectionRef tree = sectionFromBlock("script_config",
//          BinaryBlock::fromString("<script_config><version>2.651</version></script_config>",
//                                  kDataSectionLabel), false);
//      std::string bytes = packSectionTree(tree);
//    XML and other text values become text (type 1); a packed section keeps its types; a binary
//    section becomes a blob of its bytes.
//
// The root's own name is not stored in the file: a reader names the root itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sections/data_section.h"
#include "sections/packed_format.h"

// One typed value: a type code of packed_format.h and its bytes as they are stored.
struct PackedValue {
  uint32_t type = kPackedText;
  std::string bytes;

  static PackedValue text(const std::string& characters);
  // Stored in the narrowest of 1, 2 or 4 bytes.
  static PackedValue integer(int32_t value);
  static PackedValue real(float value);
  static PackedValue vector2(const Vector2& value);
  static PackedValue vector3(const Vector3& value);
  static PackedValue vector4(const Vector4& value);
  // Rows 0 to 3, three floats each (the fourth column is implied).
  static PackedValue matrix(const Matrix& value);
  // True is stored as one byte 1, false as no bytes.
  static PackedValue boolean(bool value);
  static PackedValue blob(const std::string& bytes);
  // Type 6: a marker byte, then the bytes, scrambled with kPackedScrambleKey when asked.
  static PackedValue markerBlob(const std::string& bytes, bool scrambled);
};

// A node: written as a plain value when it has no children, else (and for a value of type 0) as
// a records block whose own value is `value`. An empty name is stored as "no name" (index -1) and reads back empty.
struct PackedNode {
  std::string name;
  PackedValue value;
  std::vector<PackedNode> children;

  // Appends a child and returns it (valid until the next add on this node).
  PackedNode& add(const std::string& childName, PackedValue childValue);
};

// The whole file for a tree rooted at root. False, with out unchanged, when the tree breaks a
// limit of the format: more than 32767 children of one node or distinct names, a name holding a
// zero byte, a node larger than 256 MiB, or a value type above 15; or has more than
// kMaxSectionDepth levels.
[[nodiscard]] bool writePackedFile(const PackedNode& root, std::string& out);

// The typed tree of a section tree (see above for how each form's values are taken); an empty
// node for none. False, with out unchanged, when the tree has more than kMaxSectionDepth levels.
[[nodiscard]] bool packedNodeFromSection(const SectionRef& section, PackedNode& out);

// writePackedFile(packedNodeFromSection(root)); empty when root is none or cannot be written
// (a packed file is never empty).
std::string packSectionTree(const SectionRef& root);
