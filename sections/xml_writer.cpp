#include "sections/xml_writer.h"

#include <cstdio>

namespace {

void appendEscaped(std::string& out, const std::string& text) {
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default:
        if (c >= 0x80) {
          char reference[8];
          std::snprintf(reference, sizeof reference, "&#%d;", static_cast<int>(c));
          out += reference;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

// False when the tree has more than kMaxSectionDepth levels.
bool writeElement(std::string& out, DataSection& section, int depth) {
  if (depth >= kMaxSectionDepth) return false;
  std::string tag = section.name();
  if (depth == 0 && !section.hasValidName()) tag = "root";
  const std::string indent(static_cast<size_t>(depth), '\t');
  out += indent + "<" + tag + ">";
  const std::string text = section.getText(std::string(), 0);
  if (!text.empty()) {
    out += '\t';
    appendEscaped(out, text);
  }
  const int count = section.childCount();
  if (count > 0) {
    out += '\n';
    for (int i = 0; i < count; ++i) {
      SectionRef child = section.childAt(i);
      if (child && !writeElement(out, *child, depth + 1)) return false;
    }
    out += indent;
  } else {
    out += '\t';
  }
  out += "</" + tag + ">\n";
  return true;
}

}  // namespace

std::string writeXmlText(DataSection& section) {
  std::string out;
  if (!writeElement(out, section, 0)) return std::string();
  return out;
}
