// The buffered output of the archive writer: everything goes through one large buffer so that a
// pack of several hundred megabytes reaches the disk in a few large writes, and every flush
// advances the console and launcher progress by one step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class WriteHandler {
 public:
  static constexpr int32_t kBufferBytes = 104857600;  // 100 MiB
  // The console shows the writer's progress from 71% upwards: 70 is printed before writing.
  static constexpr int32_t kFirstFlushCount = 70;

  // Takes over `file` (closed by release()) and obtains a buffer of `bufferBytes`; when the
  // buffer cannot be obtained hasBuffer() is false and writes are dropped. Tests pass a smaller
  // buffer; the writer always uses kBufferBytes.
  explicit WriteHandler(FILE* file, int32_t bufferBytes = kBufferBytes);
  ~WriteHandler();
  WriteHandler(const WriteHandler&) = delete;
  WriteHandler& operator=(const WriteHandler&) = delete;

  bool hasBuffer() const { return buffer_ != nullptr; }
  // Appends `length` bytes, flushing first when they do not fit. An item as large as the
  // buffer (or larger) is written straight to the file after the buffered bytes.
  void write(const void* bytes, size_t length);
  // Writes the buffered bytes to the file and advances the progress counter.
  void flush();
  // Closes the file and frees the buffer; true when the close succeeded (or nothing was open).
  bool release();

  // Bytes accepted since the start, buffered ones included.
  int64_t total() const { return total_; }
  int32_t buffered() const { return buffered_; }
  int32_t flushCount() const { return flushCount_; }
  // Set for good once a write to the file came up short; the output is then incomplete.
  bool failed() const { return failed_; }
  FILE* file() const { return file_; }

 private:
  void writeToFile(const void* bytes, size_t length);
  void reportFlush();

  int32_t capacity_;
  int32_t buffered_ = 0;
  int64_t total_ = 0;
  int32_t flushCount_ = kFirstFlushCount;
  unsigned char* buffer_ = nullptr;
  FILE* file_ = nullptr;
  bool failed_ = false;
};

// Sends the current pack's share of the launcher's progress bar times `share` ("%.1f"); only
// under autoRun, like every launcher progress text.
void reportPackProgress(double share);
