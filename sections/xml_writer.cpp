#include "sections/xml_writer.h"

#include <cstdio>

namespace {

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void appendReference(std::string& out, unsigned char c) {
  char reference[8];
  std::snprintf(reference, sizeof reference, "&#%d;", static_cast<int>(c));
  out += reference;
}

void appendEscaped(std::string& out, const std::string& text, bool keepEdgeBlanks) {
  size_t first = 0, last = text.size();
  if (keepEdgeBlanks) {
    while (first < last && isBlank(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && isBlank(static_cast<unsigned char>(text[last - 1]))) --last;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (i < first || i >= last) {
      appendReference(out, c);
      continue;
    }
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default:
        if (c >= 0x80) {
          appendReference(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

// False when the tree has more than kMaxSectionDepth levels.
bool writeElement(std::string& out, DataSection& section, int depth, bool keepEdgeBlanks) {
  if (depth >= kMaxSectionDepth) return false;
  std::string tag = section.name();
  if (depth == 0 && !section.hasValidName()) tag = "root";
  const std::string indent(static_cast<size_t>(depth), '\t');
  out += indent + "<" + tag + ">";
  const std::string text = section.getText(std::string(), 0);
  if (!text.empty()) {
    out += '\t';
    appendEscaped(out, text, keepEdgeBlanks);
  }
  const int count = section.childCount();
  if (count > 0) {
    out += '\n';
    for (int i = 0; i < count; ++i) {
      SectionRef child = section.childAt(i);
      if (child && !writeElement(out, *child, depth + 1, keepEdgeBlanks)) return false;
    }
    out += indent;
  } else {
    out += '\t';
  }
  out += "</" + tag + ">\n";
  return true;
}

}  // namespace

std::string writeXmlText(DataSection& section, bool keepEdgeBlanks) {
  std::string out;
  if (!writeElement(out, section, 0, keepEdgeBlanks)) return std::string();
  return out;
}
