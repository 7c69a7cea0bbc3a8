#include "integrity/fingerprint.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

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
// through a path longer than the installer supports (cut short it would name another file:
// refused with no system code).
platform::OpenedFile openForReading(const std::string& path) {
  platform::setFileAttributesNormal(path);
  if (platform::pathLength(path) > platform::kMaxPathChars)
    return platform::fail(platform::SystemCode{0});
  return platform::openFile(path, "rb");
}

// Opens for reading; a failed open is reported and retried once a second later.
platform::Result<UniqueFile, FingerprintError> openWithRetry(const std::string& path,
                                                             FingerprintEvents* events) {
  FingerprintError error{FingerprintFailure::CannotOpen};
  for (int attempt = 1; attempt <= 2; ++attempt) {
    if (attempt == 2) platform::sleepMs(kRetryDelayMs);
    platform::OpenedFile file = openForReading(path);
    if (file) return std::move(file).value();
    error.systemCode = file.error();
    if (events) events->openFailed(path, platform::pathExists(path), attempt);
  }
  return platform::fail(error);
}

bool refuseLargeFile(const std::string& path, int64_t size, FingerprintEvents* events) {
  if (size < kMaxFingerprintFileBytes) return false;
  if (events) events->tooLarge(path, size);
  return true;
}

// A chunk of a piece as one reader found it.
struct ChunkRead {
  size_t bytes = 0;
  uint32_t crc = 0;         // of the bytes read, on its own
  bool failed = false;      // the read failed (its bytes do not count)
  uint32_t systemCode = 0;  // the system's code of it
};

// A piece once read: the bytes up to the first short chunk, their CRC continued from the
// pieces before, and whether that short chunk came from a read error.
struct PieceRead {
  int64_t bytes = 0;
  uint32_t crc = 0;
  bool failed = false;
  uint32_t systemCode = 0;
};

constexpr int kPieceChunks = static_cast<int>(kPieceBytes / static_cast<int64_t>(kChunkBytes));
static_assert(kPieceBytes % static_cast<int64_t>(kChunkBytes) == 0, "whole chunks per piece");

// Reads a piece's chunks with two readers, each with a stream and a chunk buffer of its own:
// the caller's thread and a helper thread that lives as long as this object. Each takes the next
// chunk nobody has taken, so the system's copy out of its cache and the CRC, which take turns
// in one thread, run on both cores, each over chunks still in its own core's cache, and a
// reader slowed by other work on its core leaves more chunks to the other. The chunks' CRCs
// are joined in order. The result is what one reader gets: the piece's bytes in order up to the
// first short chunk. Without a second stream, or when no thread can be started, the caller's
// thread reads every chunk.
class PieceReaders {
 public:
  PieceReaders(FILE* first, unsigned char* firstBuffer, FILE* second, unsigned char* secondBuffer)
      : first_{first, firstBuffer}, second_{second, secondBuffer} {
    if (!second) return;
    try {
      helper_ = std::thread([this] { helpUntilDone(); });
    } catch (const std::system_error&) {
    }
  }
  ~PieceReaders() {
    if (!helper_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_one();
    helper_.join();
  }
  PieceReaders(const PieceReaders&) = delete;
  PieceReaders& operator=(const PieceReaders&) = delete;

  // Reads the piece at `offset`, continuing `crc` and reporting the bytes read in order
  // towards `total`.
  PieceRead read(int64_t offset, uint32_t crc, int64_t total, FingerprintEvents* events) {
    offset_ = offset;
    next_.store(0);
    shortChunk_.store(kPieceChunks);
    for (std::atomic<bool>& ready : ready_) ready.store(false);
    uint64_t round = 0;
    if (helper_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        round = ++round_;
      }
      wake_.notify_one();
    }
    int inOrder = 0;  // chunks known read, from the first on
    int64_t bytesInOrder = 0;
    takeChunks(first_, [&] {
      for (; inOrder < kPieceChunks && ready_[inOrder].load(std::memory_order_acquire); ++inOrder)
        bytesInOrder += static_cast<int64_t>(chunks_[inOrder].bytes);
      if (events) events->progress(offset + bytesInOrder, total);
    });
    if (helper_.joinable()) {
      std::unique_lock<std::mutex> lock(mutex_);
      finished_.wait(lock, [&] { return helped_ == round; });
    }
    PieceRead piece{0, crc};
    for (const ChunkRead& chunk : chunks_) {
      if (chunk.failed) {
        piece.failed = true;
        piece.systemCode = chunk.systemCode;
        break;
      }
      piece.crc = crc32Combine(piece.crc, chunk.crc, static_cast<int64_t>(chunk.bytes));
      piece.bytes += static_cast<int64_t>(chunk.bytes);
      if (chunk.bytes < kChunkBytes) break;
    }
    if (events && piece.bytes != bytesInOrder) events->progress(offset + piece.bytes, total);
    return piece;
  }

 private:
  struct Reader {
    FILE* file;
    unsigned char* buffer;
  };

  // Reads untaken chunks until none is left, calling `chunkDone` after each.
  template <class ChunkDone>
  void takeChunks(const Reader& reader, ChunkDone chunkDone) {
    for (int index = next_.fetch_add(1); index < kPieceChunks; index = next_.fetch_add(1)) {
      ChunkRead& chunk = chunks_[index];
      chunk = ChunkRead{};
      // A chunk past one that came up short is not part of the piece.
      if (index <= shortChunk_.load()) {
        const auto read = platform::readAt(reader.file, offset_ + index * int64_t{kChunkBytes},
                                           reader.buffer, kChunkBytes);
        chunk.bytes = read ? read.value() : 0;
        chunk.failed = !read;
        if (!read) chunk.systemCode = read.error();
        chunk.crc = crc32Update(0, reader.buffer, chunk.bytes);
        if (chunk.bytes < kChunkBytes) markShort(index);
      }
      ready_[index].store(true, std::memory_order_release);
      chunkDone();
    }
  }

  void markShort(int index) {
    int known = shortChunk_.load();
    while (index < known && !shortChunk_.compare_exchange_weak(known, index)) {
    }
  }

  void helpUntilDone() {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return quit_ || round_ != seen; });
        if (quit_) return;
        seen = round_;
      }
      takeChunks(second_, [] {});
      {
        std::lock_guard<std::mutex> lock(mutex_);
        helped_ = seen;
      }
      finished_.notify_one();
    }
  }

  const Reader first_;
  const Reader second_;
  int64_t offset_ = 0;
  std::atomic<int> next_{0};
  std::atomic<int> shortChunk_{kPieceChunks};
  std::array<ChunkRead, kPieceChunks> chunks_{};
  std::array<std::atomic<bool>, kPieceChunks> ready_{};

  std::mutex mutex_;
  std::condition_variable wake_;      // a round of chunks to help with, or the end
  std::condition_variable finished_;  // the helper is done with its round
  uint64_t round_ = 0;
  uint64_t helped_ = 0;
  bool quit_ = false;
  std::thread helper_;  // last: it starts once everything it uses is there
};

// Reads the piece at `offset`, each attempt from its start, up to kReadAttempts times.
platform::Result<PieceRead, FingerprintError> readPiece(PieceReaders& readers,
                                                        const std::string& path, int64_t offset,
                                                        uint32_t crc, int64_t size, int64_t total,
                                                        FingerprintEvents* events) {
  FingerprintError failure = errorOf(FingerprintFailure::ReadFailed, size);
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const PieceRead piece = readers.read(offset, crc, total, events);
    if (!piece.failed) return piece;
    failure.systemCode = piece.systemCode;
    if (events) events->readError(path, failure.systemCode);
  }
  if (events) events->readFailed(path, offset);
  failure.offset = offset;
  return platform::fail(failure);
}

// Runs `read` with the two readers of `file`: buffers for both, and for the helper a stream of
// its own when there is more than a chunk to share. Fails with NoMemory when no buffers can be
// had.
template <class Answer, class Read>
Answer withReaders(FILE* file, const std::string& path, int64_t size, FingerprintEvents* events,
                   Read read) {
  const platform::AlignedBuffer buffers(2 * kChunkBytes);
  if (!buffers) {
    if (events) events->noMemory();
    return platform::fail(errorOf(FingerprintFailure::NoMemory, size));
  }
  // Without a second stream the first reads every piece alone.
  UniqueFile secondFile;
  if (size > int64_t{kChunkBytes}) {
    platform::OpenedFile opened = platform::openFile(path, "rb");
    if (opened) secondFile = std::move(opened).value();
  }
  PieceReaders readers(file, buffers.data(), secondFile.get(), buffers.data() + kChunkBytes);
  return read(readers);
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

FingerprintResult getCRC32Value(const std::string& path, FingerprintEvents* events) {
  if (events) events->crcStarted(path);
  auto opened = openWithRetry(path, events);
  if (!opened) return platform::fail(opened.error());
  FILE* file = opened.value().get();
  const int64_t size = platform::fileSize(file);
  if (events) events->crcFileSize(size);
  if (refuseLargeFile(path, size, events))
    return platform::fail(errorOf(FingerprintFailure::TooLarge, size));
  return withReaders<FingerprintResult>(
      file, path, size, events, [&](PieceReaders& readers) -> FingerprintResult {
        const int64_t total = std::min(size, kWholeFileCrcLimit);
        uint32_t crc = 0;
        int64_t offset = 0;
        // A piece that ends exactly at the end of the file has not met it yet: the next one
        // does, with nothing to read. A file of exactly 50 pieces is thus reported as not read
        // to its end.
        bool endMet = false;
        for (int budget = kPieceBudget; budget != 0 && !endMet; --budget) {
          auto read = readPiece(readers, path, offset, crc, size, total, events);
          if (!read) return platform::fail(read.error());
          offset += read.value().bytes;
          crc = read.value().crc;
          endMet = read.value().bytes < kPieceBytes;
        }
        if (!endMet && events) events->fileEndNotReached(path);
        if (events) events->crcFinished(offset);
        return crcText(crc);
      });
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

platform::Result<WholeFileCrc, FingerprintError> getWholeFileCrc(const std::string& path,
                                                                 FingerprintEvents* events) {
  using WholeResult = platform::Result<WholeFileCrc, FingerprintError>;
  auto opened = openWithRetry(path, events);
  if (!opened) return platform::fail(opened.error());
  FILE* file = opened.value().get();
  const int64_t size = platform::fileSize(file);
  return withReaders<WholeResult>(
      file, path, size, events, [&](PieceReaders& readers) -> WholeResult {
        WholeFileCrc whole;
        // Every piece to the end of the file: no budget, no size limit.
        for (bool endMet = false; !endMet;) {
          auto read = readPiece(readers, path, whole.size, whole.crc, size, size, events);
          if (!read) return platform::fail(read.error());
          whole.size += read.value().bytes;
          whole.crc = read.value().crc;
          endMet = read.value().bytes < kPieceBytes;
        }
        return whole;
      });
}
