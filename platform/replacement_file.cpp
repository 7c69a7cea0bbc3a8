#include "platform/replacement_file.h"

#include <utility>

#include "platform/platform.h"

namespace platform {

ReplacementFile::ReplacementFile(std::string target, const std::string& suffix)
    : target_(std::move(target)), temporary_(target_ + suffix) {}

ReplacementFile::~ReplacementFile() { rollBack(); }

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      file_(std::exchange(other.file_, nullptr)),
      pending_(std::exchange(other.pending_, false)) {}

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
  if (this != &other) {
    rollBack();
    target_ = std::move(other.target_);
    temporary_ = std::move(other.temporary_);
    file_ = std::exchange(other.file_, nullptr);
    pending_ = std::exchange(other.pending_, false);
  }
  return *this;
}

Result<FILE*, SystemCode> ReplacementFile::open() {
  rollBack();
  OpenedFile created = createFileExclusive(temporary_);
  if (!created) return fail(created.error());
  file_ = created.value().release();
  pending_ = true;
  return file_;
}

bool ReplacementFile::write(const void* bytes, size_t length) {
  return file_ && (length == 0 || std::fwrite(bytes, length, 1, file_) == 1);
}

void ReplacementFile::closeStream() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

Result<Done, SystemCode> ReplacementFile::finish() {
  if (!file_) {
    rollBack();
    return fail(SystemCode{0});
  }
  const Result<Done, SystemCode> flushed = flushToDisk(file_);
  SystemCode code = flushed ? 0 : flushed.error();
  const bool closed = std::fclose(file_) == 0;
  if (flushed && !closed) code = lastErrorCode();
  file_ = nullptr;
  if (flushed && closed) return Done{};
  rollBack();
  return fail(code);
}

Result<Done, SystemCode> ReplacementFile::commit() {
  if (file_ || !pending_) {
    rollBack();
    return fail(SystemCode{0});
  }
  // A closed stream with the file still ours means finish() put it on the disk.
  Result<Done, SystemCode> replaced = replaceWithFlushedFile(temporary_, target_);
  if (!replaced) {
    rollBack();
    return replaced;
  }
  pending_ = false;
  return Done{};
}

void ReplacementFile::rollBack() {
  closeStream();
  if (pending_) deleteFile(temporary_);
  pending_ = false;
}

}  // namespace platform
