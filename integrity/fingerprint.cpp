#include "integrity/fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <thread>

#include "integrity/crc32.h"
#include "platform/aligned_buffer.h"
#include "platform/file_handle.h"
#include "platform/platform.h"

namespace {

// The whole-file CRC reads in pieces of 20 MiB, at most 50 of them, each retried up to 10
// times. What a piece is decides the log lines and the cut-off, so it stays 20 MiB; inside a
// piece the bytes are read in chunks small enough to still be in the core's own cache when the
// CRC runs over them (and for the system to copy them into), into page-aligned memory.
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

// One reader of a piece: a stream of the file and a chunk buffer of its own.
struct PieceReader {
  FILE* file = nullptr;
  unsigned char* buffer = nullptr;
};

struct StretchRead {
  int64_t bytes = 0;
  uint32_t crc = 0;
  bool failed = false;      // a read set the stream's error indicator
  uint32_t systemCode = 0;  // the system's code of it, taken on the thread that read
};

// Reads up to `length` bytes at `offset` in chunks, continuing `crc` over the bytes obtained and
// calling `chunkDone` with the bytes read so far after each chunk. Stops early at a short read
// (the end of the file, or a read error).
template <class ChunkDone>
StretchRead readStretch(const PieceReader& reader, int64_t offset, int64_t length, uint32_t crc,
                        ChunkDone chunkDone) {
  StretchRead read{0, crc};
  std::clearerr(reader.file);
  // Pieces start below 1,000 MiB, which fits the C runtime's long everywhere.
  if (std::fseek(reader.file, static_cast<long>(offset), SEEK_SET) != 0) {
    read.failed = true;
    read.systemCode = platform::lastErrorCode();
    return read;
  }
  while (read.bytes < length) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(length - read.bytes, kChunkBytes));
    const size_t got = std::fread(reader.buffer, 1, want, reader.file);
    read.crc = crc32Update(read.crc, reader.buffer, got);
    read.bytes += static_cast<int64_t>(got);
    chunkDone(read.bytes);
    if (got < want) {
      if (std::ferror(reader.file)) {
        read.failed = true;
        read.systemCode = platform::lastErrorCode();
      }
      break;
    }
  }
  return read;
}

// Joins a thread on every way out of the scope that started it.
class Joined {
 public:
  explicit Joined(std::thread& thread) : thread_(thread) {}
  ~Joined() {
    if (thread_.joinable()) thread_.join();
  }
  Joined(const Joined&) = delete;
  Joined& operator=(const Joined&) = delete;

 private:
  std::thread& thread_;
};

// Reads the piece at `offset`, continuing `crc` and reporting progress towards `total`. Where
// the file goes on past the piece's first half and `second` has a stream, the second half is
// read and its CRC taken on a thread of its own while this one does the first, and the two CRCs
// are joined: the system's copy out of its cache and the CRC, which take turns in one thread,
// then run on both cores, each over chunks still in its own core's cache. The result is the
// same either way: the bytes of the piece in order, up to the first short read.
StretchRead readPiece(const PieceReader& first, const PieceReader& second, int64_t size,
                      int64_t offset, uint32_t crc, int64_t total, FingerprintEvents* events) {
  auto progress = [&](int64_t done) {
    if (events) events->progress(offset + done, total);
  };
  constexpr int64_t kHalf = kPieceBytes / 2;
  if (!second.file || size - offset <= kHalf)
    return readStretch(first, offset, kPieceBytes, crc, progress);
  StretchRead later;
  std::thread thread;
  try {
    thread = std::thread(
        [&] { later = readStretch(second, offset + kHalf, kHalf, 0, [](int64_t) {}); });
  } catch (const std::system_error&) {
    return readStretch(first, offset, kPieceBytes, crc, progress);
  }
  StretchRead read;
  {
    Joined joined(thread);
    read = readStretch(first, offset, kHalf, crc, progress);
  }
  // A first half cut short ends the piece there, whatever the second half found.
  if (read.failed || read.bytes < kHalf) return read;
  if (later.failed) return later;
  read.crc = crc32Combine(read.crc, later.crc, later.bytes);
  read.bytes += later.bytes;
  progress(read.bytes);
  return read;
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
  const platform::AlignedBuffer buffers(2 * kChunkBytes);
  if (!buffers) {
    if (events) events->noMemory();
    return platform::fail(errorOf(FingerprintFailure::NoMemory, size));
  }
  // The second half of each piece goes through a stream of its own; without one the first
  // stream reads the whole piece.
  const UniqueFile secondFile(size > kPieceBytes / 2 ? platform::openFile(path, "rb") : nullptr);
  const PieceReader first{file, buffers.data()};
  const PieceReader second{secondFile.get(), buffers.data() + kChunkBytes};

  const int64_t total = std::min(size, kWholeFileCrcLimit);
  uint32_t crc = 0;
  int64_t offset = 0;
  // A piece that ends exactly at the end of the file has not met it yet: the next one does,
  // with nothing to read. A file of exactly 50 pieces is thus reported as not read to its end.
  bool endMet = false;
  for (int budget = kPieceBudget; budget != 0 && !endMet; --budget) {
    StretchRead piece;
    FingerprintError failure = errorOf(FingerprintFailure::ReadFailed, size);
    bool failed = true;
    for (int attempt = 0; attempt < kReadAttempts && failed; ++attempt) {
      piece = readPiece(first, second, size, offset, crc, total, events);
      failed = piece.failed;
      if (failed) {
        failure.systemCode = piece.systemCode;
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
    endMet = piece.bytes < kPieceBytes;
  }
  if (!endMet && events) events->fileEndNotReached(path);
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
  const platform::AlignedBuffer buffer(windowBytes);
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
    if (std::fread(buffer.data(), windowBytes, 1, file) != 1) {
      if (events) events->sampleReadFailed(window);
      return sizeOnly(FingerprintFailure::ReadFailed, window);
    }
    crc = crc32Update(crc, buffer.data(), windowBytes);
  }
  return sizeText + crcText(crc);
}

std::string getBufferCRC32Value(const void* bytes, size_t length) {
  if (!bytes) return crcText(0);
  return crcText(crc32Update(0, bytes, length));
}
