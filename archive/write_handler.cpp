#include "archive/write_handler.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/file_copy.h"
#include "platform/platform.h"

WriteHandler::WriteHandler(FILE* file, int32_t flushBytes, ArchiveEvents* events,
                           bool closesFile)
    : flushBytes_(flushBytes > 0 ? flushBytes : 1),
      stageCapacity_(static_cast<size_t>(std::min<int64_t>(flushBytes_, kStageBytes))),
      file_(file),
      events_(events ? events : &silentArchiveEvents()),
      closesFile_(closesFile) {
  stage_ = platform::AlignedBuffer(stageCapacity_);
}

WriteHandler::~WriteHandler() { release(); }

void WriteHandler::beginItem(uint64_t length) {
  if (static_cast<uint64_t>(pending_) + length > static_cast<uint64_t>(flushBytes_)) {
    if (length >= static_cast<uint64_t>(kBufferBytes)) events_->hugeItem(length);
    flush();
  }
  pending_ += static_cast<int64_t>(length);
  total_ += static_cast<int64_t>(length);
}

void WriteHandler::write(const void* bytes, size_t length) {
  if (!stage_ || failed_) return;
  beginItem(length);
  if (length == 0) return;
  copyPending();  // the range accepted before these bytes goes first
  if (length >= stageCapacity_) {
    drain();
    writeToFile(bytes, length);
    return;
  }
  if (staged_ + length > stageCapacity_) drain();
  if (length > 0) std::memcpy(stage_.data() + staged_, bytes, length);
  staged_ += length;
}

void WriteHandler::copyRange(FILE* source, int64_t offset, uint64_t length) {
  if (!stage_ || failed_) return;
  if (!source) {
    failed_ = true;
    return;
  }
  beginItem(length);
  if (length == 0) return;
  if (copySource_ == source && copyOffset_ + static_cast<int64_t>(copyLength_) == offset) {
    copyLength_ += length;  // continues the range: one copy for both
    return;
  }
  copyPending();
  drain();  // staged bytes go before the range
  copySource_ = source;
  copyOffset_ = offset;
  copyLength_ = length;
}

void WriteHandler::copyPending() {
  if (copyLength_ == 0) return;
  FILE* source = copySource_;
  const uint64_t length = copyLength_;
  copySource_ = nullptr;
  copyLength_ = 0;
  if (failed_ || !file_) return;
  if (!platform::appendFileRange(source, copyOffset_, file_, length))
    reportWriteFailure(0, length);
  else
    handedOver(length);
}

void WriteHandler::flush() {
  copyPending();
  drain();
  pending_ = 0;
  events_->written(total_, expectedTotal_);
}

void WriteHandler::drain() {
  if (staged_ != 0) writeToFile(stage_.data(), staged_);
  staged_ = 0;
}

void WriteHandler::writeToFile(const void* bytes, size_t length) {
  if (!file_ || failed_) return;
  // Large items go out in staging-sized pieces too, for the same reason the stage is small.
  const unsigned char* next = static_cast<const unsigned char*>(bytes);
  size_t left = length;
  size_t written = 1;
  while (left > 0 && written == 1) {
    const size_t piece = std::min(left, static_cast<size_t>(kStageBytes));
    written = std::fwrite(next, piece, 1, file_);
    next += piece;
    left -= piece;
  }
  if (written != 1)
    reportWriteFailure(written, length);
  else
    handedOver(length);
}

void WriteHandler::handedOver(uint64_t length) {
  sinceWriteBack_ += static_cast<int64_t>(length);
  if (sinceWriteBack_ < kWriteBackBytes) return;
  sinceWriteBack_ = 0;
  platform::startWriteBack(file_);
}

void WriteHandler::reportWriteFailure(size_t elementsWritten, uint64_t length) {
  failed_ = true;
  failureCode_ = platform::lastErrorCode();
  events_->writeFailed(failureCode_, elementsWritten, length);
}

bool WriteHandler::release() {
  bool closed = true;
  if (file_) {
    if (closesFile_) closed = std::fclose(file_) == 0;
    file_ = nullptr;
  }
  stage_ = platform::AlignedBuffer();
  return closed;
}
