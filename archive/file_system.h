// The interface through which the rest of the installer reads files without knowing where they
// live. The slot order below is part of the contract: keep new operations at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sections/binary_block.h"
#include "sections/reference_count.h"

enum class FileType : int32_t {
  NotFound = 0,   // not present, or the file system could not be opened
  Directory = 1,
  File = 2,
  Archive = 3,    // a file whose content starts with "PK" (getFileTypeEx only)
};

// Filled by the type queries when the caller passes one. The three times are always equal.
struct FileInfo {
  uint64_t size = 0;
  uint64_t creationTime = 0;
  uint64_t accessTime = 0;
  uint64_t modificationTime = 0;
};

class IFileSystem;
using FileSystemRef = RefPtr<IFileSystem>;

class IFileSystem : public ReferenceCount {
 public:
  ~IFileSystem() override = default;                                          // slot 0

  virtual FileType getFileType(const std::string& path, FileInfo* info) = 0;  // slot 1
  virtual FileType getFileTypeEx(const std::string& path, FileInfo* info) = 0;
  // The low 32 bits of `value` as a DOS date (high half) and time (low half), as text.
  virtual std::string formatFileTime(uint64_t value) = 0;
  // Leaf names of a directory (version suffixes cut off); empty when there is no such directory.
  virtual std::vector<std::string> readDirectory(const std::string& path) = 0;
  // The index-th entry of a directory's listing; none when out of range.
  virtual BlockRef readFile(const std::string& directory, int32_t index) = 0;  // slot 5
  virtual BlockRef readFile(const std::string& path) = 0;
  virtual bool rejectPath(const std::string& path) = 0;
  virtual bool storeFile(const std::string& path, BlockRef data, int32_t mode) = 0;
  virtual bool rejectPathPair(const std::string& first, const std::string& second) = 0;
  virtual bool eraseFileOrDirectory(const std::string& path) = 0;            // slot 10
  // Opens a file of the host file system; the caller closes it.
  virtual FILE* openHostFile(const std::string& path, const char* mode) = 0;
  virtual std::string emptyPathOf(const std::string& path) = 0;
  virtual std::string samePathOf(const std::string& path) = 0;
  virtual void ignoreNote(const std::string& note) = 0;
  // A fresh, independent instance over the same source; none when it cannot be made.
  virtual FileSystemRef clone() = 0;                                          // slot 15
  // Reads one entry by its exact path (no separator or prefix handling).
  virtual BlockRef readFileInternal(const std::string& path) = 0;
};
