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

void writeElement(std::string& out, DataSection& section, int depth) {
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
    for (int i = 0; i < count; ++i)
      if (SectionRef child = section.childAt(i)) writeElement(out, *child, depth + 1);
    out += indent;
  } else {
    out += '\t';
  }
  out += "</" + tag + ">\n";
}

}  // namespace

std::string writeXmlText(DataSection& section) {
  std::string out;
  writeElement(out, section, 0);
  return out;
}
