// File fingerprints: short texts that identify a game file well enough to compare it with the
// check table's expected value by plain text equality. All are built on CRC-32 (crc32.h) and
// the file size. Log lines call them "MD5" for historical reasons; no MD5 is computed.
//
// The file operations open for reading with one retry a second later, never throw and never
// stop the run, and print or log nothing: each answers with a FingerprintResult that carries
// the fingerprint or the reason it has none, and reports its steps to the FingerprintEvents it
// is given (the run turns them into its log lines). A result's text() is the fingerprint or a
// failure text in its place; no failure text can equal a table value (hexadecimal or decimal
// digits only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "integrity/crc32.h"
#include "platform/result.h"

// The file could not be opened on two attempts one second apart.
inline constexpr const char* kFileNotExist = "FileNotExist";
// A 20 MiB piece of the file could not be read in 10 attempts, or no read buffer was had.
inline constexpr const char* kReadDataFailed = "read data failed!";
// The file is 2 GiB or larger. Its size does not fit the signed 32-bit byte counts the table
// values were made with, so no fingerprint of it could match; refusing it says so plainly.
inline constexpr const char* kFileTooLarge = "file too large!";

// Whether a fingerprint's text is one of the failure texts above.
inline bool isFingerprintFailure(const std::string& value) {
  return value == kFileNotExist || value == kReadDataFailed || value == kFileTooLarge;
}

// Files of this many bytes or more are refused with kFileTooLarge.
inline constexpr int64_t kMaxFingerprintFileBytes = int64_t{1} << 31;
// The whole-file CRC covers at most 50 pieces of 20 MiB; the rest of a longer file is ignored.
inline constexpr int64_t kWholeFileCrcLimit = int64_t{50} * 0x1400000;
// Files below this size get their size alone from getSizeCRC32Value.
inline constexpr int64_t kSampledCrcMinBytes = 0x300000;
// Each of the three sampled windows is this long.
inline constexpr int64_t kSampleWindowBytes = 0x100000;

enum class FingerprintFailure {
  CannotOpen,  // text kFileNotExist
  TooLarge,    // text kFileTooLarge
  NoMemory,    // text kReadDataFailed
  ReadFailed,  // text kReadDataFailed
  SeekFailed,  // a sampled window only
};

struct FingerprintError {
  FingerprintFailure reason;
  // The system's code for the failed open or the last failed read; 0 when it gave none.
  uint32_t systemCode = 0;
  // Where the read or seek that failed started; -1 for other reasons.
  int64_t offset = -1;
  // The file's size once it is open; -1 before.
  int64_t fileSize = -1;
  // getSizeCRC32Value could not sample the file and answers with its size alone, which is
  // then the result's text (the run compares it with the table like any value).
  bool sizeOnly = false;
};

class [[nodiscard]] FingerprintResult : public platform::Result<std::string, FingerprintError> {
 public:
  using Result::Result;
  // The fingerprint, or the text the run has always put in its place: the failure text of the
  // reason, or for a sizeOnly failure the decimal size.
  [[nodiscard]] std::string text() const;
};

// What the fingerprint operations report while they work, in the order they do it; each default
// does nothing, so a caller overrides only what it shows. Every operation takes a nullable
// FingerprintEvents* (null: silent).
class FingerprintEvents {
 public:
  virtual ~FingerprintEvents() = default;
  // getCRC32Value starts on `path`.
  virtual void crcStarted(const std::string& /*path*/) {}
  // Opening `path` for reading failed on `attempt` 1 (a second follows a second later) or 2
  // (the operation gives up); `exists`: something is at the path all the same.
  virtual void openFailed(const std::string& /*path*/, bool /*exists*/, int /*attempt*/) {}
  // getCRC32Value has opened a file of `size` bytes.
  virtual void crcFileSize(int64_t /*size*/) {}
  // The file is refused for its `size` (kMaxFingerprintFileBytes or more).
  virtual void tooLarge(const std::string& /*path*/, int64_t /*size*/) {}
  // No read buffer could be had.
  virtual void noMemory() {}
  // One attempt at reading a piece failed with the system's `systemCode`; up to 10 per piece.
  virtual void readError(const std::string& /*path*/, uint32_t /*systemCode*/) {}
  // The piece at `offset` failed all its attempts; getCRC32Value gives up.
  virtual void readFailed(const std::string& /*path*/, int64_t /*offset*/) {}
  // getCRC32Value stopped at kWholeFileCrcLimit, or on a file of exactly 50 pieces (whose last
  // read ends on the end of the file without reaching it).
  virtual void fileEndNotReached(const std::string& /*path*/) {}
  // getCRC32Value read `bytesRead` bytes in all and has its CRC.
  virtual void crcFinished(int64_t /*bytesRead*/) {}
  // getSizeCRC32Value could not seek to, or read, the window at `offset`.
  virtual void sampleSeekFailed(int64_t /*offset*/) {}
  virtual void sampleReadFailed(int64_t /*offset*/) {}
  // getCRC32Value has read up to `bytesDone` of the `bytesTotal` it will read; after every
  // chunk, so often enough for a progress bar. A piece read again starts over, so `bytesDone`
  // can step back.
  virtual void progress(int64_t /*bytesDone*/, int64_t /*bytesTotal*/) {}
};

// The CRC of the file's bytes (at most the first kWholeFileCrcLimit) as 8 lower-case
// hexadecimal digits. Fails with CannotOpen, TooLarge, NoMemory or ReadFailed (the piece's
// offset and the last read's system code).
FingerprintResult getCRC32Value(const std::string& path, FingerprintEvents* events = nullptr);

// The size of a file and the CRC of all its bytes.
struct WholeFileCrc {
  int64_t size = 0;  // the bytes read, to the end of the file
  uint32_t crc = 0;
};

// Every byte of the file, however large: neither kWholeFileCrcLimit nor kMaxFingerprintFileBytes
// applies. Read as getCRC32Value reads (pieces retried, two readers), but silent unless given
// `events`. Fails with CannotOpen, NoMemory or ReadFailed.
[[nodiscard]] platform::Result<WholeFileCrc, FingerprintError> getWholeFileCrc(
    const std::string& path, FingerprintEvents* events = nullptr);

// The file size in decimal. Fails with CannotOpen or TooLarge.
FingerprintResult getFileSizeValue(const std::string& path, FingerprintEvents* events = nullptr);

// The decimal size followed directly by 8 hexadecimal digits of the CRC chained over three
// 1 MiB windows at 0, size / 2 and size - 1 MiB, for files of at least 3 MiB; the size alone
// for smaller files. Fails with CannotOpen or TooLarge, and with a sizeOnly NoMemory,
// SeekFailed or ReadFailed (the window's offset) when the windows cannot be read.
FingerprintResult getSizeCRC32Value(const std::string& path, FingerprintEvents* events = nullptr);

// The CRC of `length` bytes at `bytes` as 8 hexadecimal digits; "00000000" when `bytes` is
// null.
[[nodiscard]] std::string getBufferCRC32Value(const void* bytes, size_t length);

