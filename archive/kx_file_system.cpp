// Opening a .kx archive: locating the footer, reading the central directory in one piece and
// building the index; closing; and the interface slots that need no archive work.
#include "archive/kx_file_system.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/platform.h"
#include "report/log.h"

namespace {

// Every open failure goes to the working-directory log, one line each.
constexpr const char* kReaderLog = "updater.log";

void logLine(const std::string& text) { appendLogLine(kReaderLog, text); }

// Average distance between local headers up to which they are read through a window of the
// file rather than one seek and read each: every seek of a C runtime stream costs a system call
// even when it lands inside the stream's buffer, and an archive of 65,535 small entries would
// pay one per entry. Above it (large entries) a window would mostly read entry data that is not
// wanted, and each header is read on its own as before.
constexpr int64_t kDenseHeaderSpacing = 2048;
constexpr size_t kHeaderWindowBytes = 64 * 1024;

// The bytes of local headers, read from `file` either through a window or header by header.
// Every header read is the 30 bytes at its offset, whichever way they were fetched.
class HeaderReader {
 public:
  HeaderReader(FILE* file, int64_t fileSize, size_t windowBytes)
      : file_(file), fileSize_(fileSize), window_(std::max(windowBytes, kLocalHeaderSize)) {}

  // Copies the kLocalHeaderSize bytes at `offset` to `out`; false when they cannot be read.
  bool read(int64_t offset, unsigned char* out) {
    if (offset < start_ || offset + static_cast<int64_t>(kLocalHeaderSize) > start_ + length_) {
      const size_t want =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(window_.size()),
                                                std::max<int64_t>(0, fileSize_ - offset)));
      length_ = 0;
      start_ = offset;
      if (want < kLocalHeaderSize || std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
        return false;
      length_ = static_cast<int64_t>(std::fread(window_.data(), 1, want, file_));
      if (length_ < static_cast<int64_t>(kLocalHeaderSize)) return false;
    }
    std::memcpy(out, window_.data() + (offset - start_), kLocalHeaderSize);
    return true;
  }

 private:
  FILE* file_;
  int64_t fileSize_;
  std::vector<unsigned char> window_;
  int64_t start_ = 0;
  int64_t length_ = 0;
};

}  // namespace

KXFileSystem::KXFileSystem(const std::string& path) : path_(path) {
  // The result is deliberately dropped: a failed open leaves an empty archive behind.
  (void)openZip();
}

KXFileSystem::~KXFileSystem() { closeArchive(); }

void KXFileSystem::closeHandle() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool KXFileSystem::ensureHandle() {
  if (!file_) file_ = platform::openFileNarrow(path_, "rb");
  return file_ != nullptr;
}

void KXFileSystem::closeArchive() {
  closeHandle();
  versionCounts.clear();
  fileMap_.clear();
  directories.clear();
  files.clear();
}

bool KXFileSystem::openZip() {
  closeHandle();
  file_ = platform::openFileNarrow(path_, "rb");
  if (!file_) {
    const uint32_t code = platform::lastErrorCode();
    logLine("->can not open kx file:" + path_ + std::to_string(code));
    return false;
  }
  if (!files.empty()) return true;
  directories[""];
  return readIndex();
}

bool KXFileSystem::readIndex() {
  auto fail = [this](const char* line) {
    logLine(line);
    closeArchive();
    return false;
  };

  // The size is kept as a signed 32-bit value: archives stay below 2 GiB.
  if (std::fseek(file_, 0, SEEK_END) != 0) return fail("openZip Failed to seek to footer");
  const long end = std::ftell(file_);
  if (end < static_cast<long>(kFooterSize) ||
      end > static_cast<long>(std::numeric_limits<int32_t>::max()) ||
      std::fseek(file_, end - static_cast<long>(kFooterSize), SEEK_SET) != 0)
    return fail("openZip Failed to seek to footer");
  archiveSize = static_cast<int32_t>(end);

  unsigned char footerBytes[kFooterSize];
  if (std::fread(footerBytes, 1, kFooterSize, file_) != kFooterSize)
    return fail("openZip Failed to read footer");
  ByteReader footerReader(footerBytes, kFooterSize);
  ArchiveFooter footer;
  if (!decodeArchiveFooter(footerReader, footer)) return fail("openZip Failed to read footer");
  if (footer.signature != kFooterSignature) return fail("openZip Invalid footer signature");

  if (footer.directoryOffset > static_cast<uint32_t>(archiveSize) ||
      std::fseek(file_, static_cast<long>(footer.directoryOffset), SEEK_SET) != 0)
    return fail("openZip Failed to seek to directory start");
  if (footer.directorySize == 0) return true;

  // A directory that claims more bytes than the file holds is refused before any allocation.
  if (footer.directorySize > static_cast<uint32_t>(archiveSize) - footer.directoryOffset)
    return fail("openZip Failed to read directory block");
  files.reserve(footer.entryCount);
  BlockRef directory(new BinaryBlock(nullptr, static_cast<int32_t>(footer.directorySize),
                                     "BinaryBlock/ZipDirectory"));
  if (static_cast<uint32_t>(directory->length()) != footer.directorySize) {
    logLine("openZip Failed to new ram");
    return false;
  }
  if (std::fread(directory->data(), 1, footer.directorySize, file_) != footer.directorySize)
    return fail("openZip Failed to read directory block");

  ByteReader cursor(directory->data(), footer.directorySize);
  const int64_t spacing = footer.entryCount ? footer.directoryOffset / footer.entryCount : 0;
  HeaderReader headers(file_, archiveSize,
                       spacing <= kDenseHeaderSpacing ? kHeaderWindowBytes : kLocalHeaderSize);
  LastFolder lastFolder;
  for (uint32_t i = 0; i < footer.entryCount; ++i) {
    // A count larger than the records present, or a name running past the block, means the
    // directory is damaged: nothing beyond the block is ever read.
    DirectoryEntry entry;
    if (!decodeDirectoryEntry(cursor, entry)) return fail("openZip Failed to read directory block");
    if (entry.signature != kDirectoryEntrySignature)
      return fail("openZip Invalid directory signature");
    if (entry.fileNameLength > kMaxFieldLength) return fail("openZip Filename is too long ");
    if (entry.extraFieldLength > kMaxFieldLength) return fail("openZip Extra field is too long");
    if (entry.commentLength > kMaxFieldLength) return fail("openZip File comment is too long");
    std::string name = cursor.text(entry.fileNameLength);
    if (!cursor.ok()) return fail("openZip Failed to read directory block");
    // Extra field and comment are skipped unread; if they overrun the block, the next record's
    // decode fails (the last record's need not be there at all).
    cursor.skip(static_cast<size_t>(entry.extraFieldLength) + entry.commentLength);

    // The local header must lie wholly inside the file; its copy feeds the rewriting code.
    if (entry.localHeaderOffset < 0 ||
        static_cast<int64_t>(entry.localHeaderOffset) + static_cast<int64_t>(kLocalHeaderSize) >
            archiveSize)
      return fail("openZip Invalid local header offset");
    unsigned char headerBytes[kLocalHeaderSize];
    LocalHeader header;
    ByteReader headerReader(headerBytes, kLocalHeaderSize);
    if (!headers.read(entry.localHeaderOffset, headerBytes) ||
        !decodeLocalHeader(headerReader, header))
      return fail("openZip Invalid local header offset");

    indexRecord(entry, header, normalisePath(name), lastFolder);
  }
  return true;
}

void KXFileSystem::indexRecord(const DirectoryEntry& entry, const LocalHeader& header,
                               std::string name, LastFolder& last) {
  const size_t space = name.find(' ');
  if (space != std::string::npos) ++versionCounts[name.substr(0, space)];

  const size_t slash = name.rfind('/');
  const size_t parentLength = slash == std::string::npos ? 0 : slash;
  std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  // Entries of one folder usually follow each other (archives are written in name order):
  // the previous entry's listing is tried before a lookup.
  const bool sameParent = last.listing && last.parent.size() == parentLength &&
                          name.compare(0, parentLength, last.parent) == 0;
  if (!sameParent) {
    last.parent.assign(name, 0, parentLength);
    last.listing = &directories[last.parent];
  }
  DirectoryListing& listing = *last.listing;

  // In name order every key goes at the end, which the hint makes a constant-time insertion;
  // a name seen before keeps its node and takes the later record, as an assignment would.
  FileMapEntry& mapped = fileMap_.emplace_hint(fileMap_.end(), name, FileMapEntry())->second;
  mapped.index = static_cast<int32_t>(files.size());
  mapped.position = static_cast<int32_t>(listing.names.size());
  listing.baseNames.push_back(leaf.substr(0, leaf.find(' ')));
  listing.names.push_back(std::move(leaf));

  ArchiveFile record;
  record.name = std::move(name);
  record.header_ = header;
  record.entry_ = entry;
  files.push_back(std::move(record));
}

// ---- Interface slots with fixed answers for an archive ----

bool KXFileSystem::rejectPath(const std::string&) { return false; }
bool KXFileSystem::rejectPathPair(const std::string&, const std::string&) { return false; }
std::string KXFileSystem::emptyPathOf(const std::string&) { return std::string(); }
std::string KXFileSystem::samePathOf(const std::string& path) { return path; }
void KXFileSystem::ignoreNote(const std::string&) {}

FILE* KXFileSystem::openHostFile(const std::string& path, const char* mode) {
  return platform::openFileNarrow(path, mode);
}
