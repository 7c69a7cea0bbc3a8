// Reading entries out of an indexed .kx archive: whole entries (decompressed or as stored),
// directory listings and the type of a path.
#include "archive/kx_file_system.h"

#include <algorithm>
#include <cstring>

#include "archive/dos_time.h"
#include "archive/entry_methods.h"

namespace {

constexpr const char* kReadLabel = "BinaryBlock/ZipRead";

// Without a recorded size, stored bytes are trusted to grow at most this much.
constexpr int64_t kUnknownSizeRatio = 30;
constexpr int64_t kMaxBlockLength = 0x7FFFFFFF;

bool startsWithPK(const unsigned char* bytes) { return bytes[0] == 'P' && bytes[1] == 'K'; }

}  // namespace

ArchiveFile* KXFileSystem::findRecord(const std::string& exactPath) {
  auto it = fileMap_.find(exactPath);
  if (it == fileMap_.end()) return nullptr;
  const int32_t index = it->second.index;
  if (index < 0 || static_cast<size_t>(index) >= files.size()) return nullptr;
  return &files[static_cast<size_t>(index)];
}

bool KXFileSystem::seekToData(const ArchiveFile& record, int64_t* dataEnd) {
  const DirectoryEntry& e = record.entry_;
  if (e.localHeaderOffset < 0) return false;
  const int64_t start = static_cast<int64_t>(e.localHeaderOffset) +
                        static_cast<int64_t>(kLocalHeaderSize) + e.fileNameLength +
                        e.extraFieldLength;
  if (start > archiveSize) return false;
  *dataEnd = start + static_cast<int64_t>(e.compressedSize);
  return std::fseek(file_, static_cast<long>(start), SEEK_SET) == 0;
}

ArchiveFailure KXFileSystem::loadStored(ArchiveFile& record, uint16_t method) {
  if (record.entry_.localHeaderOffset < 0) return ArchiveFailure::EntryNotInFile;
  if (!ensureHandle()) return ArchiveFailure::ReopenFailed;
  int64_t dataEnd = 0;
  if (!seekToData(record, &dataEnd)) return ArchiveFailure::SeekFailed;
  if (!isReadableMethod(method)) return ArchiveFailure::UnknownMethod;
  // Stored bytes past the end of the archive are a short read; refuse them before allocating.
  if (dataEnd > archiveSize) return ArchiveFailure::ReadFailed;
  const uint32_t length = record.entry_.compressedSize;
  BlockRef block(new BinaryBlock(nullptr, static_cast<int32_t>(length), kReadLabel));
  if (static_cast<uint32_t>(block->length()) != length) return ArchiveFailure::EntryNoMemory;
  if (length > 0 && std::fread(block->data(), 1, length, file_) != length)
    return ArchiveFailure::ReadFailed;
  record.data = block;
  record.storedLoaded = true;
  return ArchiveFailure::None;
}

BlockRef KXFileSystem::decodeContent(const ArchiveFile& record, const unsigned char* stored,
                                     size_t storedLength) {
  const uint16_t method = record.entry_.compressionMethod;
  const uint64_t expected = record.entry_.uncompressedSize;
  if (expected > static_cast<uint64_t>(kMaxBlockLength) ||
      expected > maxContentSize(method, storedLength))
    return BlockRef();
  BlockRef out(new BinaryBlock(nullptr, static_cast<int32_t>(expected), kReadLabel));
  if (static_cast<uint64_t>(out->length()) != expected) return BlockRef();
  size_t produced = 0;
  // The stream must end exactly at the recorded size: a shorter result would hand out bytes
  // the stream never produced, a longer one does not fit and fails as OutputFull.
  if (decodeEntry(method, stored, storedLength, out->data(), expected, &produced) !=
          InflateStatus::Complete ||
      produced != expected)
    return BlockRef();
  return out;
}

BlockRef KXFileSystem::readFile(const std::string& path) {
  std::string resolved = path;
  zip_resolvePath(resolved, false);
  return readFileInternal(resolved);
}

BlockRef KXFileSystem::readFile(const std::string& directory, int32_t index) {
  std::string resolved = directory;
  zip_resolvePath(resolved, false);
  auto it = directories.find(resolved);
  if (it == directories.end() || index < 0 ||
      static_cast<size_t>(index) >= it->second.names.size())
    return BlockRef();
  const std::string& leaf = it->second.names[static_cast<size_t>(index)];
  return readFileInternal(resolved.empty() ? leaf : resolved + "/" + leaf);
}

BlockRef KXFileSystem::readFileInternal(const std::string& path) {
  std::string resolved = path;
  resolveVersionName(resolved);
  auto found = fileMap_.find(resolved);
  if (found == fileMap_.end() || found->second.index < 0) return BlockRef();
  return loadContent(static_cast<size_t>(found->second.index));
}

BlockRef KXFileSystem::readContentAt(size_t index) {
  if (index >= files.size()) return BlockRef();
  const DirectoryEntry& entry = files[index].entry_;
  if (entry.uncompressedSize == 0 && entry.compressedSize == 0)
    return BinaryBlock::fromString(std::string(), kReadLabel);
  const uint32_t declared = entry.uncompressedSize;
  BlockRef content = loadContent(index);
  if (!content || static_cast<uint32_t>(content->length()) != declared) return BlockRef();
  return content;
}

BlockRef KXFileSystem::loadContent(size_t index) {
  if (index >= files.size()) return BlockRef();
  ArchiveFile* record = &files[index];
  if (record->entry_.localHeaderOffset < 0) return BlockRef();

  if (record->data) {
    // Attached stored bytes of a compressed entry are not its content: hand out the content.
    if (record->storedLoaded && record->entry_.compressionMethod != kMethodStored)
      return decodeContent(*record, record->data->data(),
                           static_cast<size_t>(record->data->length()));
    return record->data;
  }

  if (!file_) {
    // openZip on a closed archive rebuilds the index; the position must still name the same
    // record.
    const std::string name = record->name;
    if (!openZip() || index >= files.size() || files[index].name != name) return BlockRef();
    record = &files[index];
  }
  const DirectoryEntry& e = record->entry_;
  int64_t dataEnd = 0;
  if (!seekToData(*record, &dataEnd)) return BlockRef();
  if (!isReadableMethod(e.compressionMethod) || dataEnd > archiveSize) return BlockRef();

  BlockRef stored(new BinaryBlock(nullptr, static_cast<int32_t>(e.compressedSize), kReadLabel));
  if (static_cast<uint32_t>(stored->length()) != e.compressedSize) return BlockRef();
  if (e.compressedSize > 0 &&
      std::fread(stored->data(), 1, e.compressedSize, file_) != e.compressedSize)
    return BlockRef();
  if (e.compressionMethod == kMethodStored) return stored;
  return decodeContent(*record, stored->data(), static_cast<size_t>(stored->length()));
}

BlockRef KXFileSystem::readStored(const std::string& name) {
  if (path_.empty()) {
    fail(ArchiveFailure::NoArchivePath, name);
    return BlockRef();
  }
  std::string resolved = name;
  resolveVersionName(resolved);
  auto found = fileMap_.find(resolved);
  if (found == fileMap_.end() || found->second.index < 0 ||
      static_cast<size_t>(found->second.index) >= files.size()) {
    fail(ArchiveFailure::EntryNotIndexed, name);
    return BlockRef();
  }
  return readStoredAt(static_cast<size_t>(found->second.index));
}

BlockRef KXFileSystem::readStoredAt(size_t index) {
  // The record's own method is checked; an index past the records reads nothing either way.
  return readStoredAs(index, index < files.size() ? files[index].header_.compressionMethod
                                                  : kMethodStored);
}

BlockRef KXFileSystem::readStoredAsIs(size_t index) {
  // Checked as a stored entry: every method passes.
  return readStoredAs(index, kMethodStored);
}

BlockRef KXFileSystem::readStoredAs(size_t index, uint16_t method) {
  if (path_.empty()) {
    fail(ArchiveFailure::NoArchivePath, index < files.size() ? files[index].name : std::string());
    return BlockRef();
  }
  if (index >= files.size()) return BlockRef();
  ArchiveFile* record = &files[index];
  const ArchiveFailure failure = loadStored(*record, method);
  if (failure == ArchiveFailure::None) return record->data;
  fail(failure, failure == ArchiveFailure::ReopenFailed ? path_ : record->name);
  return BlockRef();
}

void KXFileSystem::loadAllStored() {
  for (ArchiveFile& record : files) {
    if (record.data || record.name.empty()) continue;
    if (loadStored(record, record.entry_.compressionMethod) != ArchiveFailure::None) return;
  }
}

BlockRef KXFileSystem::inflateStored(BlockRef block, int64_t expectedSize) {
  BlockRef input = std::move(block);  // the caller's reference ends here
  if (!input) return BlockRef();
  const int64_t inLength = input->length();
  int64_t capacity = expectedSize;
  if (capacity < 0) capacity = std::min(inLength * kUnknownSizeRatio, kMaxBlockLength);
  if (capacity > kMaxBlockLength ||
      static_cast<uint64_t>(capacity) >
          maxContentSize(kMethodDeflated, static_cast<uint64_t>(inLength)))
    return BlockRef();
  BlockRef out(new BinaryBlock(nullptr, static_cast<int32_t>(capacity), kReadLabel));
  if (out->length() != capacity) return BlockRef();
  size_t produced = 0;
  if (inflateRaw(input->data(), static_cast<size_t>(inLength), out->data(),
                 static_cast<size_t>(capacity), &produced) != InflateStatus::Complete)
    return BlockRef();
  if (expectedSize >= 0 && static_cast<int64_t>(produced) != expectedSize) return BlockRef();
  if (static_cast<int64_t>(produced) == capacity) return out;
  return BlockRef(new BinaryBlock(out->data(), static_cast<int32_t>(produced), kReadLabel));
}

std::vector<std::string> KXFileSystem::readDirectory(const std::string& path) {
  std::string resolved = path;
  zip_resolvePath(resolved, false);
  auto it = directories.find(resolved);
  if (it == directories.end()) return {};
  return it->second.baseNames;
}

FileType KXFileSystem::getFileType(const std::string& path, FileInfo* info) {
  std::string resolved = path;
  zip_resolvePath(resolved, true);
  const ArchiveFile* record = findRecord(resolved);
  if (!record) return FileType::NotFound;
  if (info) {
    info->size = record->entry_.uncompressedSize;
    uint64_t time = 0;
    if (!dosDateTimeToFileTime(record->entry_.date, record->entry_.time, &time)) time = 0;
    info->creationTime = info->accessTime = info->modificationTime = time;
  }
  return directories.count(resolved) ? FileType::Directory : FileType::File;
}

FileType KXFileSystem::getFileTypeEx(const std::string& path, FileInfo* info) {
  std::string resolved = path;
  zip_resolvePath(resolved, true);
  resolveVersionName(resolved);
  const ArchiveFile* record = findRecord(resolved);
  if (!record) return FileType::NotFound;
  if (directories.count(resolved)) return FileType::Directory;
  if (info) {
    info->size = record->entry_.uncompressedSize;
    const uint64_t stamp =
        (static_cast<uint32_t>(record->entry_.date) << 16) | record->entry_.time;
    info->creationTime = info->accessTime = info->modificationTime = stamp;
  }
  if (record->data) return probeNestedArchive(*record);

  if (!file_ && !openZip()) return FileType::NotFound;
  record = findRecord(resolved);
  if (!record) return FileType::NotFound;
  return probeNestedArchive(*record);
}

// Whether the content begins with "PK", looking at as little of it as possible.
FileType KXFileSystem::probeNestedArchive(const ArchiveFile& record) {
  const DirectoryEntry& e = record.entry_;
  unsigned char head[2] = {0, 0};

  if (record.data) {
    const unsigned char* bytes = record.data->data();
    const size_t length = static_cast<size_t>(record.data->length());
    if (e.compressionMethod == kMethodStored)
      return length > 2 && startsWithPK(bytes) ? FileType::Archive : FileType::File;
    size_t offset = 0;
    auto feed = [&](unsigned char* buffer, size_t capacity) {
      const size_t n = std::min(capacity, length - offset);
      if (n > 0) std::memcpy(buffer, bytes + offset, n);
      offset += n;
      return n;
    };
    bool complete = false;
    const size_t produced = decodePrefix(e.compressionMethod, feed, 16, head, 2, &complete);
    return complete && produced == 2 && startsWithPK(head) ? FileType::Archive
                                                           : FileType::File;
  }

  int64_t dataEnd = 0;
  if (!seekToData(record, &dataEnd) || e.uncompressedSize == 0) return FileType::File;
  // Never read past the entry's stored bytes or the archive's end.
  const int64_t dataStart = dataEnd - static_cast<int64_t>(e.compressedSize);
  const int64_t available = std::min<int64_t>(dataEnd, archiveSize) - dataStart;
  if (available <= 0) return FileType::File;
  size_t remaining = static_cast<size_t>(available);
  auto feed = [&](unsigned char* buffer, size_t capacity) {
    const size_t want = std::min(capacity, remaining);
    const size_t got = want > 0 ? std::fread(buffer, 1, want, file_) : 0;
    remaining -= got;
    return got;
  };
  bool complete = false;
  const size_t produced = decodePrefix(e.compressionMethod, feed, 2, head, 2, &complete);
  return complete && produced == 2 && startsWithPK(head) ? FileType::Archive : FileType::File;
}
