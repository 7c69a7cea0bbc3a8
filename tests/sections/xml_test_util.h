// Helpers for the XML section tests: building blocks and describing trees compactly.
#pragma once

#include <string>

#include "sections/data_section.h"
#include "sections/binary_block.h"

namespace xml_test {

// A block holding exactly these bytes (no terminating zero), so that a read past the end is
// caught by the address sanitizer.
inline BlockRef block(const std::string& bytes) {
  return BinaryBlock::fromString(bytes, "BinaryBlock/DataSection");
}

// name=text(child,child...) with the text part only when there is one.
inline std::string describe(const SectionRef& section) {
  if (!section) return "<none>";
  std::string out = section->name();
  const std::string text = section->getText(std::string(), 0);
  if (!text.empty()) out += "=" + text;
  if (section->childCount() > 0) {
    out += "(";
    for (int i = 0; i < section->childCount(); ++i) {
      if (i) out += ",";
      out += describe(section->childAt(i));
    }
    out += ")";
  }
  return out;
}

}  // namespace xml_test
