// The results table: what every file the installer writes must be once written, byte for byte.
// The release records, for each pack it rewrites and each loose file of bin and cache, the
// file's size and the CRC-32 of all its bytes. The check table's fingerprints cannot say as
// much: the large packs' sample three windows, and the whole-file CRC stops after 1,000 MiB.
//
// Text form, one line per file, LF line ends:
//   # kxpatch results FROM TO            (optional first line: the two versions)
//   qdres_packed.kx<TAB>4194304<TAB>0a1b2c3d
//   bin\mox.exe<TAB>123456<TAB>89abcdef
// The path is relative to the installation folder as the installer names it: a pack by its
// name, a loose file by its folder and its entry's name with "\" between levels, in the bytes
// (GBK) the payload archive stores. Then the decimal size and 8 lower-case hexadecimal digits.
// Other lines starting with "#" are comments; empty lines are ignored.
//
// The encoder and the decoder below are the only ones; the release tools write the file and
// the installer reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// The size and whole-file CRC a file must have.
struct ExpectedResult {
  uint64_t size = 0;
  uint32_t crc = 0;
  bool operator==(const ExpectedResult& other) const {
    return size == other.size && crc == other.crc;
  }
  bool operator!=(const ExpectedResult& other) const { return !(*this == other); }
};

class ResultsTable {
 public:
  std::string from;  // the versions named by the first line; empty when it has none
  std::string to;

  // Records `path`; false (and nothing changed) when it is already recorded or not a name the
  // text form can hold.
  [[nodiscard]] bool add(const std::string& path, const ExpectedResult& result);
  // The record of `path`, or null when the table does not list it.
  [[nodiscard]] const ExpectedResult* find(const std::string& path) const;
  [[nodiscard]] bool empty() const { return records_.empty(); }
  [[nodiscard]] size_t size() const { return records_.size(); }
  // Every record, in byte order of the paths.
  [[nodiscard]] const std::map<std::string, ExpectedResult>& records() const { return records_; }

 private:
  std::map<std::string, ExpectedResult> records_;
};

// Limits of the decoder: anything larger is refused rather than read.
inline constexpr size_t kMaxResultsTextBytes = size_t{16} << 20;
inline constexpr size_t kMaxResultPathBytes = 1024;
inline constexpr size_t kMaxResultRecords = 262144;

// The name under which the table records a file: its path below the installation folder
// (a pack's name; "bin/" or "cache/" and a payload archive's entry name) with every "/" turned
// into "\".
[[nodiscard]] std::string resultPath(const std::string& relativePath);

// "SIZE CRC" as the text form has them, with a space between.
[[nodiscard]] std::string resultText(const ExpectedResult& result);

// Whether the file at `path` has `expected`'s size and CRC over every byte. `found` gets what is
// there ("SIZE CRC"), or the fingerprint failure text when it could not be read whole.
[[nodiscard]] bool fileMatchesResult(const std::string& path, const ExpectedResult& expected,
                                     std::string& found);

// The text form of `table` (its first line names the versions when both are set).
[[nodiscard]] std::string encodeResults(const ResultsTable& table);

// Why a text is not a results table.
enum class ResultsFault {
  TooLong,         // more than kMaxResultsTextBytes
  TooManyRecords,  // more than kMaxResultRecords
  BadFirstLine,    // "# kxpatch results " not followed by two versions
  NotARecord,      // not three fields separated by tabs
  BadPath,         // empty, longer than kMaxResultPathBytes, or with control bytes
  BadSize,         // not a decimal below 2^63
  BadCrc,          // not 8 lower-case hexadecimal digits
  RecordedTwice,   // a path already recorded
};

struct ResultsError {
  ResultsFault fault = ResultsFault::NotARecord;
  size_t line = 0;  // 1-based; 0 for TooLong, which concerns the whole text
};

// Reads the text form into `table`; on failure `table` is left empty and `error` says why and
// on which line. Nothing is read past `length`, and the limits above bound the work.
[[nodiscard]] bool decodeResults(const char* text, size_t length, ResultsTable& table,
                                 ResultsError& error);
