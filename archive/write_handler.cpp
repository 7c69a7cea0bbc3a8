#include "archive/write_handler.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "platform/file_copy.h"
#include "platform/platform.h"

WriteHandler::WriteHandler(FILE* file, int32_t flushBytes, ArchiveEvents* events,
                           bool closesFile, std::string name)
    : flushBytes_(flushBytes > 0 ? flushBytes : 1),
      stageCapacity_(static_cast<size_t>(std::min<int64_t>(flushBytes_, kStageBytes))),
      file_(file),
      events_(events ? events : &silentArchiveEvents()),
      closesFile_(closesFile),
      name_(std::move(name)) {
  stage_ = platform::AlignedBuffer(stageCapacity_);
}

WriteHandler::~WriteHandler() { release(); }

WriteHandler::Result WriteHandler::answer() const {
  if (failed_)
    return platform::fail(ArchiveError{ArchiveFailure::WriteFailed, failureCode_, name_});
  return platform::Done{};
}

void WriteHandler::beginItem(uint64_t length) {
  if (static_cast<uint64_t>(pending_) + length > static_cast<uint64_t>(flushBytes_)) {
    if (length >= static_cast<uint64_t>(kBufferBytes)) events_->hugeItem(length);
    (void)flush();  // a failure is answered by the item's own call
  }
  pending_ += static_cast<int64_t>(length);
  total_ += static_cast<int64_t>(length);
}

WriteHandler::Result WriteHandler::write(const void* bytes, size_t length) {
  if (!stage_ || failed_) return answer();
  beginItem(length);
  if (length == 0) return answer();
  copyPending();  // the range accepted before these bytes goes first
  if (length >= stageCapacity_) {
    drain();
    writeToFile(bytes, length);
    return answer();
  }
  if (staged_ + length > stageCapacity_) drain();
  if (failed_) return answer();
  std::memcpy(stage_.data() + staged_, bytes, length);
  staged_ += length;
  return answer();
}

WriteHandler::Result WriteHandler::copyRange(FILE* source, int64_t offset, uint64_t length) {
  if (!stage_ || failed_) return answer();
  if (!source) {
    failed_ = true;
    return answer();
  }
  beginItem(length);
  if (length == 0) return answer();
  if (copySource_ == source && copyOffset_ + static_cast<int64_t>(copyLength_) == offset) {
    copyLength_ += length;  // continues the range: one copy for both
    return answer();
  }
  copyPending();
  drain();  // staged bytes go before the range
  copySource_ = source;
  copyOffset_ = offset;
  copyLength_ = length;
  return answer();
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

WriteHandler::Result WriteHandler::flush() {
  copyPending();
  drain();
  pending_ = 0;
  events_->written(total_, expectedTotal_);
  return answer();
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
