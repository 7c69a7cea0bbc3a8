#include "tools/kxtool/section_types.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sections/packed_section.h"
#include "sections/section_factory.h"

namespace kxtool {
namespace {

constexpr const char* kMark = " packed=\"";
// A mark's last word when the writer showed the rows of a value (a matrix) as elements of
// their own: they are the value, not children.
constexpr const char* kRowsWord = " rows";

std::string hexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += std::string{kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

bool bytesOf(const std::string& hex, std::string& bytes) {
  if (hex.size() % 2) return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(i, 2);
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    bytes += static_cast<char>(value);
  }
  return true;
}

// The marks of the sections in the order the writer writes their elements ("" for a text
// value).
void collectMarks(DataSection& section, std::vector<std::string>& marks) {
  std::string mark;
  const int count = section.childCount();
  if (auto* packed = dynamic_cast<PackedSection*>(&section)) {
    if (packed->valueType() != kPackedText && packed->valueType() != kPackedRecords)
      mark = std::to_string(packed->valueType()) + " " + hexOf(packed->valueBytes()) +
             (!packed->hasRecords() && count > 0 ? kRowsWord : "");
  }
  marks.push_back(mark);
  for (int i = 0; i < count; ++i)
    if (SectionRef child = section.childAt(i)) collectMarks(*child, marks);
}

// The contents of every start tag of `xml` ("name" and what follows it up to ">"), in order;
// comments (which nest), CDATA, declarations and end tags are skipped.
std::vector<std::string> startTags(const std::string& xml) {
  std::vector<std::string> tags;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at)) {
    if (xml.compare(at, 4, "<!--") == 0) {
      int open = 0;
      for (; at < xml.size(); ++at) {
        if (xml.compare(at, 4, "<!--") == 0) ++open, at += 3;
        else if (xml.compare(at, 3, "-->") == 0 && --open == 0) break;
      }
      continue;
    }
    const size_t close = xml.compare(at, 9, "<![CDATA[") == 0 ? xml.find("]]>", at) : at;
    const size_t end = close == std::string::npos ? close : xml.find('>', close);
    if (end == std::string::npos) break;
    if (xml[at + 1] != '/' && xml[at + 1] != '!' && xml[at + 1] != '?')
      tags.push_back(xml.substr(at + 1, end - at - 1));
    at = end;
  }
  return tags;
}

void preOrder(PackedNode& node, std::vector<PackedNode*>& nodes) {
  nodes.push_back(&node);
  for (PackedNode& child : node.children) preOrder(child, nodes);
}

// The text the dump showed for a typed value: the value read back from a packed file.
std::string shownText(const PackedValue& value) {
  PackedNode root;
  root.add("v", value);
  std::string bytes;
  if (!writePackedFile(root, bytes)) return std::string();
  SectionRef section =
      sectionFromBlock("root", BinaryBlock::fromString(bytes, kDataSectionLabel), true);
  SectionRef child = section ? section->childAt(0) : nullptr;
  return child ? child->getText(std::string(), 0) : std::string();
}

// An edited integer in the width the value had (1, 2 or 4 bytes) when it fits there, so that
// an edit changes the value's bytes and nothing else; otherwise in the least width.
PackedValue integerOfWidth(int32_t number, size_t width) {
  const bool fits = (width == 1 && number >= INT8_MIN && number <= INT8_MAX) ||
                    (width == 2 && number >= INT16_MIN && number <= INT16_MAX) || width == 4;
  if (!fits) return PackedValue::integer(number);
  PackedValue value{kPackedInt, std::string()};
  const uint32_t bits = static_cast<uint32_t>(number);
  for (size_t b = 0; b < width; ++b) value.bytes += static_cast<char>(bits >> (8 * b));
  return value;
}

}  // namespace

std::string markPackedTypes(DataSection& root, const std::string& xml) {
  std::vector<std::string> marks;
  collectMarks(root, marks);
  std::string out;
  size_t element = 0, lineStart = 0;
  while (lineStart < xml.size()) {
    size_t lineEnd = xml.find('\n', lineStart);
    lineEnd = lineEnd == std::string::npos ? xml.size() : lineEnd + 1;
    std::string line = xml.substr(lineStart, lineEnd - lineStart);
    // Every element starts a line with its indentation and "<"; a value never holds a "<".
    const size_t tag = line.find_first_not_of('\t');
    if (tag != std::string::npos && line[tag] == '<' && line.compare(tag, 2, "</") != 0) {
      if (element < marks.size() && !marks[element].empty())
        line.insert(line.find('>', tag), kMark + marks[element] + "\"");
      ++element;
    }
    out += line;
    lineStart = lineEnd;
  }
  return out;
}

bool applyPackedTypes(const std::string& xml, PackedNode& root, std::string& error) {
  const std::vector<std::string> tags = startTags(xml);
  std::vector<PackedNode*> nodes;
  preOrder(root, nodes);
  bool marked = false;
  for (const std::string& tag : tags) marked = marked || tag.find(kMark) != std::string::npos;
  if (!marked) return true;
  std::vector<PackedNode*> asRows;
  if (tags.size() != nodes.size()) {
    error = "the packed=\"...\" marks cannot be matched to the elements";
    return false;
  }
  for (size_t i = 0; i < tags.size(); ++i) {
    const size_t mark = tags[i].find(kMark);
    if (mark == std::string::npos) continue;
    const size_t start = mark + std::string(kMark).size();
    const size_t end = tags[i].find('"', start);
    std::string text = end == std::string::npos ? "" : tags[i].substr(start, end - start);
    const bool rows = text.size() > 5 && text.compare(text.size() - 5, 5, kRowsWord) == 0;
    if (rows) text.resize(text.size() - 5);
    const size_t space = text.find(' ');
    PackedValue value;
    char* typeEnd = nullptr;
    value.type = static_cast<uint32_t>(std::strtoul(text.c_str(), &typeEnd, 10));
    if (space == std::string::npos || typeEnd != text.c_str() + space ||
        !bytesOf(text.substr(space + 1), value.bytes)) {
      error = "element " + nodes[i]->name + ": packed=\"" + text + "\" does not read";
      return false;
    }
    // A value edited since the dump: an integer stays one when it reads as one; anything else
    // keeps the text it now is.
    if (shownText(value) != nodes[i]->value.bytes) {
      const std::string& edited = nodes[i]->value.bytes;
      char* numberEnd = nullptr;
      const long number = std::strtol(edited.c_str(), &numberEnd, 10);
      if (value.type == kPackedInt && !edited.empty() && numberEnd == edited.c_str() + edited.size() &&
          number >= INT32_MIN && number <= INT32_MAX)
        nodes[i]->value = integerOfWidth(static_cast<int32_t>(number), value.bytes.size());
      continue;
    }
    nodes[i]->value = value;
    if (rows) asRows.push_back(nodes[i]);
  }
  // Only now: the rows' nodes are in `nodes` too.
  for (PackedNode* node : asRows) node->children.clear();
  return true;
}

}  // namespace kxtool
