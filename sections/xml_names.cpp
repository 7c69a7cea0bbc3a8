#include "sections/xml_names.h"

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  // Everything before a match holds no further match and the replacement cannot start one
  // that reaches back, so continuing after it equals restarting from the beginning.
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

}  // namespace

std::string encodeXmlName(const std::string& name) { return replaceAll(name, " ", ".."); }

std::string decodeXmlName(const std::string& name) { return replaceAll(name, "..", " "); }

bool isValidXmlName(const std::string& name) {
  if (name.empty()) return false;
  const unsigned char first = static_cast<unsigned char>(name[0]);
  if (first >= 0x80 || (first >= '0' && first <= '9')) return false;
  return name.find_first_of(" /\\") == std::string::npos;
}
