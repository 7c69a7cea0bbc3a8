#include "archive/write_handler.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"
#include "report/run_state.h"

namespace {

// Launcher progress share of one flush, as a fraction of the current pack's weight.
constexpr double kFlushProgressShare = 0.1;

}  // namespace

WriteHandler::WriteHandler(FILE* file, int32_t bufferBytes)
    : capacity_(bufferBytes > 0 ? bufferBytes : 1), file_(file) {
  buffer_ = new (std::nothrow) unsigned char[static_cast<size_t>(capacity_)];
}

WriteHandler::~WriteHandler() { release(); }

void WriteHandler::write(const void* bytes, size_t length) {
  if (!buffer_ || failed_ || length == 0) return;
  const size_t capacity = static_cast<size_t>(capacity_);
  if (static_cast<size_t>(buffered_) + length > capacity) {
    if (length >= static_cast<size_t>(kBufferBytes))
      showMessage("WriteHandler file len is too large", "error");
    flush();
    if (length >= capacity) {
      // Never copied: an item this large could not fit even an empty buffer.
      writeToFile(bytes, length);
      total_ += static_cast<int64_t>(length);
      return;
    }
  }
  std::memcpy(buffer_ + buffered_, bytes, length);
  buffered_ += static_cast<int32_t>(length);
  total_ += static_cast<int64_t>(length);
}

void WriteHandler::flush() {
  if (buffered_ != 0) writeToFile(buffer_, static_cast<size_t>(buffered_));
  flushCount_ += 1;
  buffered_ = 0;
  reportFlush();
}

void WriteHandler::writeToFile(const void* bytes, size_t length) {
  if (!file_ || failed_) return;
  size_t written = std::fwrite(bytes, length, 1, file_);
  if (written == 1) return;
  failed_ = true;
  char text[128];
  std::snprintf(text, sizeof text, "更新的数据大小不对:%d %d %d",
                static_cast<int>(platform::lastErrorCode()), static_cast<int>(written),
                static_cast<int>(length));
  showMessage(text, "更新出错");
}

void reportPackProgress(double share) {
  const int32_t pack = currentPackIndex;
  const float weight = pack >= 0 && pack < kPackCount ? packWeights[pack] : 0.0f;
  reportProgress("%.1f", weight * share);
}

void WriteHandler::reportFlush() {
  consolePrintf((progressLabel + "%d%%\r").c_str(), flushCount_);
  reportPackProgress(kFlushProgressShare);
}

bool WriteHandler::release() {
  bool closed = true;
  if (file_) {
    closed = std::fclose(file_) == 0;
    file_ = nullptr;
  }
  delete[] buffer_;
  buffer_ = nullptr;
  return closed;
}
