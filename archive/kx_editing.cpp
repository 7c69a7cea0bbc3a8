// Editing an archive in memory: new content for a path (kept as a new version when the path
// exists already), forgetting a path, and the interface slots that only format or copy. Content
// is compressed when it is stored, so that writing the archive later only copies stored bytes.
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <new>
#include <string>

#include "archive/kx_file_system.h"

namespace {

constexpr int kDeflateLevel = 6;
constexpr int kRawWindowBits = -15;  // negative: no zlib or gzip wrapper
constexpr int kDeflateMemLevel = 8;

bool startsWithPK(const BinaryBlock& block) {
  return block.length() > 2 && block.data()[0] == 'P' && block.data()[1] == 'K';
}

// "dir/leaf" -> ("dir", "leaf"); a name without "/" lives in the root ("").
void splitName(const std::string& name, std::string* dir, std::string* leaf) {
  const size_t slash = name.rfind('/');
  *dir = slash == std::string::npos ? std::string() : name.substr(0, slash);
  *leaf = slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string baseName(const std::string& leaf) { return leaf.substr(0, leaf.find(' ')); }

}  // namespace

bool KXFileSystem::storeFile(const std::string& path, BlockRef data, int32_t /*mode*/) {
  if (!data) return true;
  std::string resolved = path;
  zip_resolvePath(resolved, false);
  updateFile(resolved, data);
  return true;
}

void KXFileSystem::updateFile(const std::string& path, BlockRef data) {
  std::string name = normalisePath(path);
  auto appendRecord = [this](const std::string& recordName, const BlockRef& content) {
    ArchiveFile record;
    record.name = recordName;
    record.data = content;
    record.entry_.localHeaderOffset = -1;  // not in the file until the archive is written
    prepareHeader(record, true);
    files.push_back(std::move(record));
    fileMap_[recordName].index = static_cast<int32_t>(files.size() - 1);
  };

  auto existing = fileMap_.find(path);
  if (existing == fileMap_.end()) {
    auto versions = versionCounts.find(path);
    if (versions != versionCounts.end()) {
      versions->second += 1;
      name += " " + std::to_string(versions->second);
    }
    appendRecord(name, data);
  } else {
    // Stored a second time: the old content becomes version 1, the new one version 2.
    const FileMapEntry old = existing->second;
    if (old.index < 0 || static_cast<size_t>(old.index) >= files.size()) return;
    versionCounts[path] = 1;
    ArchiveFile& previous = files[static_cast<size_t>(old.index)];
    previous.name = path + " 1";
    prepareHeader(previous, false);
    std::string dir, leaf;
    splitName(path, &dir, &leaf);
    auto listing = directories.find(dir);
    if (listing != directories.end() && old.position >= 0 &&
        static_cast<size_t>(old.position) < listing->second.names.size())
      listing->second.names[static_cast<size_t>(old.position)] = leaf + " 1";
    fileMap_.erase(existing);
    fileMap_[path + " 1"] = old;

    name = path + " 2";
    appendRecord(name, data);
    versionCounts[path] += 1;
  }

  std::string dir, leaf;
  splitName(name, &dir, &leaf);
  auto listing = directories.find(dir);
  if (listing == directories.end()) {
    DirectoryListing& created = directories[dir];
    created.names.push_back(leaf);
    created.baseNames.push_back(baseName(leaf));
    fileMap_[name].position = 0;
    if (!dir.empty() && !fileMap_.count(dir)) {
      updateFile(dir, BlockRef());
      // A data-less record made for a directory is written with the format's trailing "/".
      ArchiveFile* record = findRecord(dir);
      if (record && !record->data) {
        record->isFolder = true;
        record->header_.fileNameLength = static_cast<uint16_t>(record->name.size() + 1);
      }
    }
  } else {
    fileMap_[name].position = static_cast<int32_t>(listing->second.names.size());
    listing->second.names.push_back(leaf);
    listing->second.baseNames.push_back(baseName(leaf));
  }
}

bool KXFileSystem::eraseFileOrDirectory(const std::string& path) {
  std::string resolved = path;
  zip_resolvePath(resolved, false);
  // A path kept in several versions loses its newest one.
  auto versions = versionCounts.find(resolved);
  if (versions != versionCounts.end()) {
    const std::string newest = resolved + " " + std::to_string(versions->second);
    if (!fileMap_.count(newest)) return false;
    if (versions->second < 2)
      versionCounts.erase(versions);
    else
      versions->second -= 1;
    resolved = newest;
  }
  auto mapped = fileMap_.find(resolved);
  if (mapped == fileMap_.end()) return false;
  const FileMapEntry entry = mapped->second;
  fileMap_.erase(mapped);

  std::string dir, leaf;
  splitName(resolved, &dir, &leaf);
  auto listing = directories.find(dir);
  if (listing != directories.end()) {
    std::vector<std::string>& names = listing->second.names;
    std::vector<std::string>& baseNames = listing->second.baseNames;
    // Positions recorded at open can be stale after a merge; fall back to finding the leaf.
    size_t k = static_cast<size_t>(entry.position);
    if (entry.position < 0 || k >= names.size() || names[k] != leaf) {
      k = 0;
      while (k < names.size() && names[k] != leaf) ++k;
    }
    if (k < names.size()) {
      names.erase(names.begin() + static_cast<std::ptrdiff_t>(k));
      if (k < baseNames.size()) baseNames.erase(baseNames.begin() + static_cast<std::ptrdiff_t>(k));
      for (size_t j = k; j < names.size(); ++j) {
        auto other = fileMap_.find(dir.empty() ? names[j] : dir + "/" + names[j]);
        if (other != fileMap_.end()) other->second.position = static_cast<int32_t>(j);
      }
    }
  }

  if (entry.index >= 0 && static_cast<size_t>(entry.index) < files.size()) {
    ArchiveFile& record = files[static_cast<size_t>(entry.index)];
    record.data = BlockRef();
    record.header_ = LocalHeader();
    record.headerInFile = false;
    record.name.clear();  // stays in place so that other indexes keep pointing right
  }
  return true;
}

void KXFileSystem::prepareHeader(ArchiveFile& record, bool clearFirst) {
  record.headerInFile = false;  // header_ (and perhaps the name) no longer what the file holds
  LocalHeader& header = record.header_;
  if (clearFirst) header = LocalHeader();
  header.signature = kLocalHeaderSignature;
  header.fileNameLength = static_cast<uint16_t>(record.name.size());
  header.extraFieldLength = 0;
  header.version = kFormatVersion;

  if (!record.storedLoaded && record.data) {
    header.reserved24 = 0;
    record.storedLoaded = true;
    header.uncompressedSize = static_cast<uint32_t>(record.data->length());
    // A nested archive is stored as it is: it would not shrink, and it is read in place.
    if (startsWithPK(*record.data)) {
      header.compressionMethod = kMethodStored;
    } else if (BlockRef compressed = compressEntry(record.data)) {
      header.compressionMethod = kMethodDeflated;
      record.data = compressed;
    } else {
      header.compressionMethod = kMethodStored;
    }
    header.compressedSize = static_cast<uint32_t>(record.data->length());
  }
  header.reserved4 = 0;
  header.reserved22 = 0;
}

BlockRef KXFileSystem::compressEntry(const BlockRef& block) {
  if (!block || block->length() >= INT32_MAX) return BlockRef();
  const int32_t length = block->length();
  // One byte of room beyond the input: content that does not shrink is better stored.
  BlockRef output(new BinaryBlock(nullptr, length + 1, "BinaryBlock/ZipUncompressedData"));
  if (output->length() != length + 1) return BlockRef();

  z_stream stream{};
  if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, kRawWindowBits, kDeflateMemLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK)
    return BlockRef();
  stream.next_in = const_cast<Bytef*>(block->data());
  stream.avail_in = static_cast<uInt>(length);
  stream.next_out = output->data();
  stream.avail_out = static_cast<uInt>(length + 1);
  const int result = deflate(&stream, Z_FINISH);
  const uLong produced = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) return BlockRef();
  return BlockRef(new BinaryBlock(output->data(), static_cast<int32_t>(produced),
                                  "BinaryBlock/ZipCompressedData"));
}

std::string KXFileSystem::formatFileTime(uint64_t value) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const uint32_t stamp = static_cast<uint32_t>(value);
  const uint32_t date = stamp >> 16;
  const uint32_t time = stamp & 0xFFFF;
  const int day = static_cast<int>(date & 0x1F);
  const uint32_t month = (date >> 5) & 0x0F;
  const int year = static_cast<int>(date >> 9) + 1980;
  const int seconds = static_cast<int>(time & 0x1F) * 2;
  const int minutes = static_cast<int>((time >> 5) & 0x3F);
  const int hours = static_cast<int>(time >> 11);
  const char* monthName = month >= 1 && month <= 12 ? kMonths[month - 1] : "Bad";
  char text[32];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", "Unk", monthName, day, hours,
                minutes, seconds, year);
  return text;
}

FileSystemRef KXFileSystem::clone() {
  // A fresh index over what the file holds now, independent of this one's edits.
  KXFileSystem* copy = new (std::nothrow) KXFileSystem(path_, events_);
  return FileSystemRef(copy);
}
