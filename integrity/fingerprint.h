// File fingerprints: short texts that identify a game file well enough to compare it with the
// check table's expected value by plain text equality. All are built on CRC-32 (crc32.h) and
// the file size. Log lines call them "MD5" for historical reasons; no MD5 is computed.
//
// The file operations open through openFileChecked ("rb") with one retry a second later, log
// their diagnostics to the working-directory log (writeLog), never throw and never stop the
// run: a problem yields a failure text in place of the fingerprint. No failure text can equal
// a table value (hexadecimal or decimal digits only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The file could not be opened on two attempts one second apart.
inline constexpr const char* kFileNotExist = "FileNotExist";
// A 20 MiB piece of the file could not be read in 10 attempts, or no read buffer was had.
inline constexpr const char* kReadDataFailed = "read data failed!";
// The file is 2 GiB or larger. Its size does not fit the signed 32-bit byte counts the table
// values were made with, so no fingerprint of it could match; refusing it says so plainly.
inline constexpr const char* kFileTooLarge = "file too large!";

// Whether a fingerprint function's answer is one of the failure texts above.
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

// The CRC of the file's bytes (at most the first kWholeFileCrcLimit) as 8 lower-case
// hexadecimal digits; kFileNotExist, kReadDataFailed or kFileTooLarge. Logs "CRC check...",
// "file size:", read errors and the totals read.
[[nodiscard]] std::string getCRC32Value(const std::string& path);

// The file size in decimal; kFileNotExist or kFileTooLarge.
[[nodiscard]] std::string getFileSizeValue(const std::string& path);

// The decimal size followed directly by 8 hexadecimal digits of the CRC chained over three
// 1 MiB windows at 0, size / 2 and size - 1 MiB, for files of at least 3 MiB; the size alone
// for smaller files and when a window cannot be read; kFileNotExist or kFileTooLarge.
[[nodiscard]] std::string getSizeCRC32Value(const std::string& path);

// The CRC of `length` bytes at `bytes` as 8 hexadecimal digits; "00000000" when `bytes` is
// null.
[[nodiscard]] std::string getBufferCRC32Value(const void* bytes, size_t length);

// A CRC as 8 lower-case hexadecimal digits, left-padded with "0".
[[nodiscard]] std::string crcText(uint32_t crc);
