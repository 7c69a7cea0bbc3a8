#include "integrity/results_table.h"

#include <utility>

#include "integrity/fingerprint.h"

namespace {

constexpr char kHeader[] = "# kxpatch results ";
constexpr size_t kHeaderLength = sizeof kHeader - 1;
constexpr size_t kCrcDigits = 8;
constexpr uint64_t kMaxSize = (uint64_t{1} << 63) - 1;

bool isPathText(const std::string& path) {
  if (path.empty() || path.size() > kMaxResultPathBytes || path[0] == '#') return false;
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

bool parseSize(const std::string& text, uint64_t& size) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');  // 19 digits cannot overflow
  }
  if (value > kMaxSize) return false;
  size = value;
  return true;
}

bool parseCrc(const std::string& text, uint32_t& crc) {
  if (text.size() != kCrcDigits) return false;
  uint32_t value = 0;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
    else return false;
    value = value << 4 | digit;
  }
  crc = value;
  return true;
}

// A version as the first line may name it: printable, no spaces.
bool isVersionWord(const std::string& word) {
  if (word.empty() || word.size() > 64) return false;
  for (unsigned char c : word)
    if (c <= 0x20 || c == 0x7f) return false;
  return true;
}

// "FROM TO" after the header's words; false when the rest is not two such words.
bool parseVersions(const std::string& rest, std::string& from, std::string& to) {
  const size_t space = rest.find(' ');
  if (space == std::string::npos) return false;
  from = rest.substr(0, space);
  to = rest.substr(space + 1);
  return isVersionWord(from) && isVersionWord(to);
}

}  // namespace

bool ResultsTable::add(const std::string& path, const ExpectedResult& result) {
  if (!isPathText(path) || result.size > kMaxSize) return false;
  return records_.emplace(path, result).second;
}

const ExpectedResult* ResultsTable::find(const std::string& path) const {
  auto it = records_.find(path);
  return it == records_.end() ? nullptr : &it->second;
}

std::string resultPath(const std::string& relativePath) {
  std::string path = relativePath;
  // A GBK character's second byte can be 0x5C (a backslash) but never 0x2F: turning each "/"
  // into a backslash byte by byte cannot split one.
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string resultText(const ExpectedResult& result) {
  return std::to_string(result.size) + " " + crcText(result.crc);
}

bool fileMatchesResult(const std::string& path, const ExpectedResult& expected,
                       std::string& found) {
  const auto whole = getWholeFileCrc(path);
  if (!whole) {
    found = FingerprintResult(platform::fail(whole.error())).text();
    return false;
  }
  const ExpectedResult actual{static_cast<uint64_t>(whole.value().size), whole.value().crc};
  found = resultText(actual);
  return actual == expected;
}

std::string encodeResults(const ResultsTable& table) {
  std::string text;
  if (!table.from.empty() && !table.to.empty())
    text += kHeader + table.from + " " + table.to + "\n";
  for (const auto& record : table.records()) {
    text += record.first + "\t" + std::to_string(record.second.size) + "\t" +
            crcText(record.second.crc) + "\n";
  }
  return text;
}

bool decodeResults(const char* text, size_t length, ResultsTable& decoded, std::string& error) {
  decoded = ResultsTable();
  ResultsTable table;
  if (length > kMaxResultsTextBytes) {
    error = "longer than " + std::to_string(kMaxResultsTextBytes) + " bytes";
    return false;
  }
  size_t start = 0;
  for (size_t number = 1; start < length; ++number) {
    size_t end = start;
    while (end < length && text[end] != '\n') ++end;
    std::string line(text + start, end - start);
    start = end + 1;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (number == 1 && line.compare(0, kHeaderLength, kHeader) == 0 &&
          !parseVersions(line.substr(kHeaderLength), table.from, table.to)) {
        error = where + "the first line does not name two versions";
        return false;
      }
      continue;
    }
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos || line.find('\t', tab2 + 1) != std::string::npos) {
      error = where + "not a path, a size and a CRC separated by tabs";
      return false;
    }
    const std::string path = line.substr(0, tab1);
    ExpectedResult result;
    if (!isPathText(path)) {
      error = where + "the path is empty, longer than " + std::to_string(kMaxResultPathBytes) +
              " bytes or holds control characters";
      return false;
    }
    if (!parseSize(line.substr(tab1 + 1, tab2 - tab1 - 1), result.size)) {
      error = where + "the size is not a decimal number below 2^63";
      return false;
    }
    if (!parseCrc(line.substr(tab2 + 1), result.crc)) {
      error = where + "the CRC is not 8 lower-case hexadecimal digits";
      return false;
    }
    if (table.size() >= kMaxResultRecords) {
      error = where + "more than " + std::to_string(kMaxResultRecords) + " records";
      return false;
    }
    if (!table.add(path, result)) {
      error = where + path + " is recorded twice";
      return false;
    }
  }
  decoded = std::move(table);
  return true;
}
