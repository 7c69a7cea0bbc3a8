#include "integrity/fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "integrity/crc32.h"
#include "platform/platform.h"
#include "report/log.h"

namespace {

// The whole-file CRC reads in pieces of 20 MiB, at most 50 of them, each retried up to 10
// times. What a piece is decides the log lines and the cut-off, so it stays 20 MiB; inside a
// piece the bytes are read in chunks small enough to still be in the core's own cache when the
// CRC runs over them (and for the system to copy them into), which keeps the fingerprint at the
// speed of reading: 512 KiB chunks took 1.0 - 1.1 times `cat`, 4 MiB ones 1.5 times
// (bench/run.sh, idle machine).
constexpr int64_t kPieceBytes = 0x1400000;
constexpr int kPieceBudget = 50;
constexpr int kReadAttempts = 10;
constexpr size_t kChunkBytes = size_t{512} << 10;
constexpr unsigned kRetryDelayMs = 1000;

std::string decimal(int64_t value) { return std::to_string(value); }

void logExistence(const std::string& path, const char* existsText, const char* missingText) {
  writeLog(path + (platform::pathExists(path) ? existsText : missingText));
}

// Opens for reading; a failed open is logged, retried once a second later and logged again.
FILE* openWithRetry(const std::string& path) {
  bool notOpened = false;
  FILE* file = openFileChecked(path, "rb", &notOpened);
  if (file) return file;
  logExistence(path, "存在  :_access(fileName.c_str())", "不存在:_access(fileName.c_str())");
  platform::sleepMs(kRetryDelayMs);
  notOpened = false;
  file = openFileChecked(path, "rb", &notOpened);
  if (file) return file;
  logExistence(path, "存在   end :_access(fileName.c_str())",
               "不存在 end :_access(fileName.c_str())");
  return nullptr;
}

bool refuseLargeFile(const std::string& path, int64_t size) {
  if (size < kMaxFingerprintFileBytes) return false;
  writeLog(path + " file too large, size:" + decimal(size));
  return true;
}

struct PieceRead {
  int64_t bytes = 0;
  uint32_t crc = 0;
};

// Reads one piece from the stream's position in chunks, continuing `crc` over the bytes
// obtained. Stops early at end of file or on a read error; the stream's indicators tell which.
PieceRead readPiece(FILE* file, unsigned char* buffer, uint32_t crc) {
  PieceRead piece{0, crc};
  while (piece.bytes < kPieceBytes) {
    size_t want = static_cast<size_t>(std::min<int64_t>(kPieceBytes - piece.bytes, kChunkBytes));
    size_t got = std::fread(buffer, 1, want, file);
    piece.crc = crc32Update(piece.crc, buffer, got);
    piece.bytes += static_cast<int64_t>(got);
    if (got < want) break;
  }
  return piece;
}

}  // namespace

std::string crcText(uint32_t crc) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(crc));
  std::string text = digits;
  return std::string(8 - text.size(), '0') + text;
}

std::string getCRC32Value(const std::string& path) {
  writeLog("CRC check..." + path);
  FILE* file = openWithRetry(path);
  if (!file) return kFileNotExist;
  int64_t size = platform::fileSize(file);
  writeLog("file size:" + decimal(size));
  if (refuseLargeFile(path, size)) {
    std::fclose(file);
    return kFileTooLarge;
  }
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunkBytes]);
  if (!buffer) {
    std::fclose(file);
    writeLog("new mem failed");
    return kReadDataFailed;
  }

  uint32_t crc = 0;
  int64_t offset = 0;
  for (int budget = kPieceBudget; budget != 0 && !std::feof(file); --budget) {
    PieceRead piece;
    bool failed = true;
    for (int attempt = 0; attempt < kReadAttempts && failed; ++attempt) {
      std::clearerr(file);
      // Pieces start below 1,000 MiB, which fits the C runtime's long everywhere.
      std::fseek(file, static_cast<long>(offset), SEEK_SET);
      piece = readPiece(file, buffer.get(), crc);
      failed = std::ferror(file) != 0;
      if (failed)
        writeLog(path + " read data error..." + std::to_string(platform::lastErrorCode()));
    }
    if (failed) {
      writeLog(path + " read data failed!\n" + path + " error pos at:" + decimal(offset));
      std::fclose(file);
      return kReadDataFailed;
    }
    offset += piece.bytes;
    crc = piece.crc;
  }
  // A read that ends exactly at the end of the file does not reach end of file, so a file of
  // exactly 50 pieces gets this line too.
  if (!std::feof(file)) writeLog(path + " did not read file end, and read times > 50");
  writeLog("end pos at:" + decimal(offset) + "\nread total size:" + decimal(offset));
  std::fclose(file);
  return crcText(crc);
}

std::string getFileSizeValue(const std::string& path) {
  FILE* file = openWithRetry(path);
  if (!file) return kFileNotExist;
  int64_t size = platform::fileSize(file);
  std::fclose(file);
  if (refuseLargeFile(path, size)) return kFileTooLarge;
  return decimal(size);
}

std::string getSizeCRC32Value(const std::string& path) {
  FILE* file = openWithRetry(path);
  if (!file) return kFileNotExist;
  int64_t size = platform::fileSize(file);
  if (refuseLargeFile(path, size)) {
    std::fclose(file);
    return kFileTooLarge;
  }
  const std::string sizeText = decimal(size);
  if (size < kSampledCrcMinBytes) {
    std::fclose(file);
    return sizeText;
  }
  // The windows overlap for files below 4 MiB; each is still read and fed whole, in order.
  const int64_t windows[3] = {0, size / 2, size - kSampleWindowBytes};
  const size_t windowBytes = static_cast<size_t>(kSampleWindowBytes);
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[windowBytes]);
  if (!buffer) {
    std::fclose(file);
    writeLog("new mem failed");
    return sizeText;
  }
  uint32_t crc = 0;
  for (int64_t window : windows) {
    if (std::fseek(file, static_cast<long>(window), SEEK_SET) != 0) {
      std::fclose(file);
      writeLog("fseek failed");
      return sizeText;
    }
    if (std::fread(buffer.get(), windowBytes, 1, file) != 1) {
      std::fclose(file);
      writeLog("fread failed");
      return sizeText;
    }
    crc = crc32Update(crc, buffer.get(), windowBytes);
  }
  std::fclose(file);
  return sizeText + crcText(crc);
}

std::string getBufferCRC32Value(const void* bytes, size_t length) {
  if (!bytes) return crcText(0);
  return crcText(crc32Update(0, bytes, length));
}
