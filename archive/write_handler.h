// The buffered output of the archive writer. Output is flushed in steps of one buffer's worth at
// most (an item larger than the buffer is a step of its own), at item boundaries: each flush tells the events the bytes written so far, at the same
// byte positions whatever the file system is given at a time. Small items pass through a staging
// area and reach the file a few MiB at a time (one write call of 100 MiB costs several times
// what the same bytes cost in pieces of a few MiB); ranges of another file are copied by the
// system without passing through this process (bench/archive_merge_bench). Every few MiB the
// system is asked to start putting what it has on the disk, so that a large output is mostly
// there by the time its owner flushes it: the disk works while the rest is still being copied
// instead of all of it waiting for the final flush.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/archive_events.h"
#include "platform/aligned_buffer.h"
#include "platform/result.h"

class WriteHandler {
 public:
  // Output between two flushes (unless one item is larger), and the item size the events hear
  // of as huge.
  static constexpr int32_t kBufferBytes = 104857600;  // 100 MiB
  // Bytes held in memory before they are handed to the file.
  static constexpr int32_t kStageBytes = 8 << 20;
  // Output handed to the file between two requests to start writing it to the disk.
  static constexpr int64_t kWriteBackBytes = 32 << 20;

  // What write, copyRange and flush answer: Done, or the output came up short (WriteFailed,
  // the system's code, and the output's name as subject). The call that did the writing
  // answers it (a range accepted earlier is copied, and may fail, in a later call); once one
  // has failed, every later call answers the same failure and writes nothing, since the
  // offsets already written would lie.
  using Result = platform::Result<platform::Done, ArchiveError>;

  // Takes over `file` (closed by release()) and obtains the staging memory; when it cannot be
  // obtained hasBuffer() is false and writes are dropped. Tests pass a small `flushBytes`; the
  // writer always uses kBufferBytes. `events` (none: silent) hears of flushes and failures.
  // Without `closesFile` the file stays open at release() for its owner to finish. `name`
  // (the output's path) is the subject of the failures it answers.
  explicit WriteHandler(FILE* file, int32_t flushBytes = kBufferBytes,
                        ArchiveEvents* events = nullptr, bool closesFile = true,
                        std::string name = std::string());
  ~WriteHandler();
  WriteHandler(const WriteHandler&) = delete;
  WriteHandler& operator=(const WriteHandler&) = delete;

  bool hasBuffer() const { return static_cast<bool>(stage_); }
  // The length the whole output will have, told to the events with every flush (0: unknown).
  void setExpectedTotal(int64_t bytes) { expectedTotal_ = bytes; }
  // Appends `length` bytes, flushing first when they would take the output since the last flush
  // past flushBytes. Items too large to stage go to the file as they are.
  [[nodiscard]] Result write(const void* bytes, size_t length);
  // Appends `length` bytes of `source` starting at its byte `offset`, copied from file to file
  // by the system where it can, so that they never pass through this process; flushes as
  // write() would for one item of that length. A range that continues the previous one in the
  // same source is joined to it and both are copied at once, when other bytes follow or at the
  // next flush: a pack's unchanged entries, headers included, become a few large copies. No
  // source fails the output at once; a short source or a failed copy does so when the range is
  // copied, as a short write does.
  [[nodiscard]] Result copyRange(FILE* source, int64_t offset, uint64_t length);
  // Writes everything still staged or pending to the file and tells the events how much has been
  // written.
  [[nodiscard]] Result flush();
  // Closes the file (when it closes it) and frees the staging memory; true when the close
  // succeeded (or nothing was closed). Bytes staged or pending since the last flush are dropped.
  bool release();

  // Bytes accepted since the start, staged ones included.
  int64_t total() const { return total_; }
  // Bytes accepted since the last flush.
  int64_t pending() const { return pending_; }
  FILE* file() const { return file_; }

 private:
  // What every item does first: warn about a huge item, flush when the step is full.
  void beginItem(uint64_t length);
  // Hands the staged bytes to the file.
  void drain();
  // Copies the range accepted by copyRange and not yet copied. While one is pending nothing
  // is staged, so the order of bytes in the file is the order they were accepted in.
  void copyPending();
  void writeToFile(const void* bytes, size_t length);
  // Counts bytes handed to the file and, every kWriteBackBytes, has the system start writing.
  void handedOver(uint64_t length);
  void reportWriteFailure(size_t elementsWritten, uint64_t length);
  // Done, or the failure that ended the output.
  Result answer() const;

  int64_t flushBytes_;
  size_t stageCapacity_;
  size_t staged_ = 0;
  int64_t pending_ = 0;
  int64_t total_ = 0;
  int64_t expectedTotal_ = 0;
  int64_t sinceWriteBack_ = 0;
  platform::AlignedBuffer stage_;
  FILE* copySource_ = nullptr;
  int64_t copyOffset_ = 0;
  uint64_t copyLength_ = 0;
  FILE* file_ = nullptr;
  ArchiveEvents* events_;
  bool closesFile_;
  std::string name_;
  uint32_t failureCode_ = 0;
  bool failed_ = false;
};
