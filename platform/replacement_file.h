// A file that takes another's place whole or not at all. It is written under the target's name
// plus a suffix, flushed to the disk and closed, then renamed over the target in one step;
// until commit() succeeds the target is untouched, and an object dropped before that removes
// what it wrote. Every file the installer replaces goes through one of these, and so does every
// file kxtool writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/result.h"

namespace platform {

class ReplacementFile {
 public:
  ReplacementFile() = default;  // replaces nothing
  explicit ReplacementFile(std::string target, const std::string& suffix = "temp");
  ~ReplacementFile();
  ReplacementFile(ReplacementFile&& other) noexcept;
  ReplacementFile& operator=(ReplacementFile&& other) noexcept;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  const std::string& target() const { return target_; }
  const std::string& temporaryPath() const { return temporary_; }

  // Creates the temporary file anew (a leftover of a killed run or a link under its name is
  // removed first); fails with the system's code when it cannot be made. The object keeps the
  // stream and lends it.
  [[nodiscard]] Result<FILE*, SystemCode> open();
  FILE* file() const { return file_; }
  // Writes `length` bytes; false when they did not all go out.
  [[nodiscard]] bool write(const void* bytes, size_t length);
  // Puts the written bytes on the disk and closes the stream. Fails, with everything removed,
  // when either fails, with the system's code of the flush or close taken before anything was
  // removed (0 when the file was never open).
  [[nodiscard]] Result<Done, SystemCode> finish();
  // Renames the finished file over the target; fails, with the temporary file removed and the
  // target as it was, with the system's code of the rename (0 when the file was not finished).
  [[nodiscard]] Result<Done, SystemCode> commit();
  // Closes and removes the temporary file; the target stays as it was.
  void rollBack();
  // Leaves the finished temporary file to the caller, who replaces or removes it by path.
  void leave() { pending_ = false; }

 private:
  void closeStream();

  std::string target_;
  std::string temporary_;
  FILE* file_ = nullptr;
  bool pending_ = false;  // a temporary file of ours may be on the disk
};

}  // namespace platform
