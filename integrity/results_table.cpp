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

bool decodeResults(const char* text, size_t length, ResultsTable& decoded, ResultsError& error) {
  decoded = ResultsTable();
  if (length > kMaxResultsTextBytes) {
    error = {ResultsFault::TooLong, 0};
    return false;
  }
  ResultsTable table;
  size_t start = 0;
  for (size_t number = 1; start < length; ++number) {
    size_t end = start;
    while (end < length && text[end] != '\n') ++end;
    std::string line(text + start, end - start);
    start = end + 1;
    auto fail = [&](ResultsFault fault) {
      error = {fault, number};
      return false;
    };
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (number == 1 && line.compare(0, kHeaderLength, kHeader) == 0 &&
          !parseVersions(line.substr(kHeaderLength), table.from, table.to))
        return fail(ResultsFault::BadFirstLine);
      continue;
    }
    const size_t tab1 = line.find('\t');
    const size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos || line.find('\t', tab2 + 1) != std::string::npos)
      return fail(ResultsFault::NotARecord);
    const std::string path = line.substr(0, tab1);
    ExpectedResult result;
    if (!isPathText(path)) return fail(ResultsFault::BadPath);
    if (!parseSize(line.substr(tab1 + 1, tab2 - tab1 - 1), result.size))
      return fail(ResultsFault::BadSize);
    if (!parseCrc(line.substr(tab2 + 1), result.crc)) return fail(ResultsFault::BadCrc);
    if (table.size() >= kMaxResultRecords) return fail(ResultsFault::TooManyRecords);
    if (!table.add(path, result)) return fail(ResultsFault::RecordedTwice);
  }
  decoded = std::move(table);
  return true;
}
