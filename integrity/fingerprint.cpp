#include "integrity/fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "integrity/crc32.h"
#include "platform/file_handle.h"
#include "platform/platform.h"

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

using platform::UniqueFile;

std::string decimal(int64_t value) { return std::to_string(value); }

FingerprintError errorOf(FingerprintFailure reason, int64_t fileSize) {
  FingerprintError error{reason};
  error.fileSize = fileSize;
  return error;
}

// Opens as the run has always opened a game file: its read-only state cleared first, and never
// through a path longer than the installer supports (cut short it would name another file).
FILE* openForReading(const std::string& path, uint32_t* systemCode) {
  platform::setFileAttributesNormal(path);
  *systemCode = 0;
  if (platform::pathLength(path) > platform::kMaxPathChars) return nullptr;
  FILE* file = platform::openFile(path, "rb");
  if (!file) *systemCode = platform::lastErrorCode();
  return file;
}

// Opens for reading; a failed open is reported and retried once a second later.
platform::Result<UniqueFile, FingerprintError> openWithRetry(const std::string& path,
                                                             FingerprintEvents* events) {
  FingerprintError error{FingerprintFailure::CannotOpen};
  for (int attempt = 1; attempt <= 2; ++attempt) {
    if (attempt == 2) platform::sleepMs(kRetryDelayMs);
    if (FILE* file = openForReading(path, &error.systemCode)) return UniqueFile(file);
    if (events) events->openFailed(path, platform::pathExists(path), attempt);
  }
  return platform::fail(error);
}

bool refuseLargeFile(const std::string& path, int64_t size, FingerprintEvents* events) {
  if (size < kMaxFingerprintFileBytes) return false;
  if (events) events->tooLarge(path, size);
  return true;
}

struct PieceRead {
  int64_t bytes = 0;
  uint32_t crc = 0;
};

// Reads one piece from the stream's position (`offset` in the file) in chunks, continuing `crc`
// over the bytes obtained and reporting progress towards `total`. Stops early at end of file or
// on a read error; the stream's indicators tell which.
PieceRead readPiece(FILE* file, unsigned char* buffer, uint32_t crc, int64_t offset,
                    int64_t total, FingerprintEvents* events) {
  PieceRead piece{0, crc};
  while (piece.bytes < kPieceBytes) {
    size_t want = static_cast<size_t>(std::min<int64_t>(kPieceBytes - piece.bytes, kChunkBytes));
    size_t got = std::fread(buffer, 1, want, file);
    piece.crc = crc32Update(piece.crc, buffer, got);
    piece.bytes += static_cast<int64_t>(got);
    if (events) events->progress(offset + piece.bytes, total);
    if (got < want) break;
  }
  return piece;
}

}  // namespace

std::string FingerprintResult::text() const {
  if (*this) return value();
  const FingerprintError& failure = error();
  if (failure.sizeOnly) return decimal(failure.fileSize);
  switch (failure.reason) {
    case FingerprintFailure::CannotOpen: return kFileNotExist;
    case FingerprintFailure::TooLarge: return kFileTooLarge;
    case FingerprintFailure::NoMemory:
    case FingerprintFailure::ReadFailed:
    case FingerprintFailure::SeekFailed: break;
  }
  return kReadDataFailed;
}

std::string crcText(uint32_t crc) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(crc));
  std::string text = digits;
  return std::string(8 - text.size(), '0') + text;
}

FingerprintResult getCRC32Value(const std::string& path, FingerprintEvents* events) {
  if (events) events->crcStarted(path);
  auto opened = openWithRetry(path, events);
  if (!opened) return platform::fail(opened.error());
  FILE* file = opened.value().get();
  const int64_t size = platform::fileSize(file);
  if (events) events->crcFileSize(size);
  if (refuseLargeFile(path, size, events))
    return platform::fail(errorOf(FingerprintFailure::TooLarge, size));
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunkBytes]);
  if (!buffer) {
    if (events) events->noMemory();
    return platform::fail(errorOf(FingerprintFailure::NoMemory, size));
  }

  const int64_t total = std::min(size, kWholeFileCrcLimit);
  uint32_t crc = 0;
  int64_t offset = 0;
  for (int budget = kPieceBudget; budget != 0 && !std::feof(file); --budget) {
    PieceRead piece;
    FingerprintError failure = errorOf(FingerprintFailure::ReadFailed, size);
    bool failed = true;
    for (int attempt = 0; attempt < kReadAttempts && failed; ++attempt) {
      std::clearerr(file);
      // Pieces start below 1,000 MiB, which fits the C runtime's long everywhere.
      std::fseek(file, static_cast<long>(offset), SEEK_SET);
      piece = readPiece(file, buffer.get(), crc, offset, total, events);
      failed = std::ferror(file) != 0;
      if (failed) {
        failure.systemCode = platform::lastErrorCode();
        if (events) events->readError(path, failure.systemCode);
      }
    }
    if (failed) {
      if (events) events->readFailed(path, offset);
      failure.offset = offset;
      return platform::fail(failure);
    }
    offset += piece.bytes;
    crc = piece.crc;
  }
  // A read that ends exactly at the end of the file does not reach end of file, so a file of
  // exactly 50 pieces is reported too.
  if (!std::feof(file) && events) events->fileEndNotReached(path);
  if (events) events->crcFinished(offset);
  return crcText(crc);
}

FingerprintResult getFileSizeValue(const std::string& path, FingerprintEvents* events) {
  auto opened = openWithRetry(path, events);
  if (!opened) return platform::fail(opened.error());
  const int64_t size = platform::fileSize(opened.value().get());
  if (refuseLargeFile(path, size, events))
    return platform::fail(errorOf(FingerprintFailure::TooLarge, size));
  return decimal(size);
}

FingerprintResult getSizeCRC32Value(const std::string& path, FingerprintEvents* events) {
  auto opened = openWithRetry(path, events);
  if (!opened) return platform::fail(opened.error());
  FILE* file = opened.value().get();
  const int64_t size = platform::fileSize(file);
  if (refuseLargeFile(path, size, events))
    return platform::fail(errorOf(FingerprintFailure::TooLarge, size));
  const std::string sizeText = decimal(size);
  if (size < kSampledCrcMinBytes) return sizeText;

  // Without its windows the value is the size alone, which the run compares all the same.
  auto sizeOnly = [size](FingerprintFailure reason, int64_t offset) {
    FingerprintError error = errorOf(reason, size);
    error.offset = offset;
    error.sizeOnly = true;
    return platform::fail(error);
  };
  // The windows overlap for files below 4 MiB; each is still read and fed whole, in order.
  const int64_t windows[3] = {0, size / 2, size - kSampleWindowBytes};
  const size_t windowBytes = static_cast<size_t>(kSampleWindowBytes);
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[windowBytes]);
  if (!buffer) {
    if (events) events->noMemory();
    return sizeOnly(FingerprintFailure::NoMemory, -1);
  }
  uint32_t crc = 0;
  for (int64_t window : windows) {
    if (std::fseek(file, static_cast<long>(window), SEEK_SET) != 0) {
      if (events) events->sampleSeekFailed(window);
      return sizeOnly(FingerprintFailure::SeekFailed, window);
    }
    if (std::fread(buffer.get(), windowBytes, 1, file) != 1) {
      if (events) events->sampleReadFailed(window);
      return sizeOnly(FingerprintFailure::ReadFailed, window);
    }
    crc = crc32Update(crc, buffer.get(), windowBytes);
  }
  return sizeText + crcText(crc);
}

std::string getBufferCRC32Value(const void* bytes, size_t length) {
  if (!bytes) return crcText(0);
  return crcText(crc32Update(0, bytes, length));
}
