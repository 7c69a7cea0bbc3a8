// Opening a .kx archive: locating the footer, reading the central directory in one piece and
// building the index; closing; and the interface slots that need no archive work.
#include "archive/kx_file_system.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/aligned_buffer.h"
#include "platform/platform.h"

namespace {

// Average distance between local headers up to which they are read through a window of the
// file rather than one read each: an archive of 65,535 small entries would otherwise pay a
// system call per entry. Above it (large entries) a window would mostly read entry data that
// is not wanted, and each header is read on its own, at its offset, in one call where the
// system allows (a seek of a C runtime stream is a system call of its own, even when it lands
// inside the stream's buffer).
constexpr int64_t kDenseHeaderSpacing = 2048;
constexpr size_t kHeaderWindowBytes = 64 * 1024;

// The bytes of local headers and the names behind them, read from `file` either through a
// window or header by header.
class HeaderReader {
 public:
  HeaderReader(FILE* file, int64_t fileSize, size_t windowBytes)
      : file_(file), fileSize_(fileSize), windowBytes_(std::max(windowBytes, kLocalHeaderSize)) {}

  // Up to `wanted` bytes at `offset` (fewer where the file ends) through *available; nullptr
  // when not even the kLocalHeaderSize bytes of a header are there, or no memory could be had
  // for them (noMemory()). Valid until the next call.
  const unsigned char* read(int64_t offset, size_t wanted, size_t* available) {
    const int64_t end = std::min<int64_t>(offset + static_cast<int64_t>(wanted), fileSize_);
    if (offset < start_ || end > start_ + length_) {
      const size_t want = static_cast<size_t>(std::min<int64_t>(
          static_cast<int64_t>(std::max(windowBytes_, wanted)), std::max<int64_t>(0, fileSize_ - offset)));
      start_ = offset;
      length_ = 0;
      if (want >= kLocalHeaderSize) {
        if (window_.size() < want) window_ = platform::AlignedBuffer(want);
        if (!window_) {
          noMemory_ = true;
          return nullptr;
        }
        // A failed read leaves the window empty: the header is then not there to decode.
        const auto got = platform::readAt(file_, offset, window_.data(), want);
        length_ = got ? static_cast<int64_t>(got.value()) : 0;
      }
    }
    const int64_t inWindow = start_ + length_ - offset;
    if (inWindow < static_cast<int64_t>(kLocalHeaderSize)) return nullptr;
    *available = static_cast<size_t>(std::min<int64_t>(inWindow, static_cast<int64_t>(wanted)));
    return window_.data() + (offset - start_);
  }
  bool noMemory() const { return noMemory_; }

 private:
  FILE* file_;
  int64_t fileSize_;
  size_t windowBytes_;
  // Page-aligned: a dense archive's headers come through it 64 KiB at a time.
  platform::AlignedBuffer window_;
  bool noMemory_ = false;
  int64_t start_ = 0;
  int64_t length_ = 0;
};

}  // namespace

KXFileSystem::KXFileSystem(const std::string& path, ArchiveEvents* events)
    : path_(path), events_(events ? events : &silentArchiveEvents()) {
  // The result is deliberately dropped: a failed open leaves an empty archive behind, and
  // lastError() says why.
  (void)openZip();
}

bool KXFileSystem::fail(ArchiveFailure failure, const std::string& subject,
                        uint32_t systemCode) {
  lastError_ = ArchiveError{failure, systemCode, subject};
  events_->failed(lastError_);
  return false;
}

KXFileSystem::Outcome KXFileSystem::outcomeOf(bool done) const {
  if (!done) return platform::fail(lastError_);
  return platform::Done{};
}

KXFileSystem::~KXFileSystem() { closeArchive(); }

void KXFileSystem::closeHandle() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool KXFileSystem::ensureHandle() {
  if (file_) return true;
  platform::OpenedFile opened = platform::openFileNarrow(path_, "rb");
  if (opened) file_ = opened.value().release();
  return file_ != nullptr;
}

void KXFileSystem::closeArchive() {
  closeHandle();
  versionCounts.clear();
  fileMap_.clear();
  directories.clear();
  files.clear();
}

KXFileSystem::Outcome KXFileSystem::openZip() {
  closeHandle();
  platform::OpenedFile opened = platform::openFileNarrow(path_, "rb");
  if (!opened) return outcomeOf(fail(ArchiveFailure::CannotOpen, path_, opened.error()));
  file_ = opened.value().release();
  if (!files.empty()) return platform::Done{};
  directories[""];
  return outcomeOf(readIndex());
}

bool KXFileSystem::readIndex() {
  auto refuse = [this](ArchiveFailure failure) {
    fail(failure, path_);
    closeArchive();
    return false;
  };

  // The size is kept as a signed 32-bit value: archives stay below 2 GiB.
  if (std::fseek(file_, 0, SEEK_END) != 0) return refuse(ArchiveFailure::FooterNotFound);
  const long end = std::ftell(file_);
  if (end < static_cast<long>(kFooterSize) ||
      end > static_cast<long>(std::numeric_limits<int32_t>::max()) ||
      std::fseek(file_, end - static_cast<long>(kFooterSize), SEEK_SET) != 0)
    return refuse(ArchiveFailure::FooterNotFound);
  archiveSize = static_cast<int32_t>(end);

  unsigned char footerBytes[kFooterSize];
  if (std::fread(footerBytes, 1, kFooterSize, file_) != kFooterSize)
    return refuse(ArchiveFailure::FooterUnreadable);
  ByteReader footerReader(footerBytes, kFooterSize);
  ArchiveFooter footer;
  if (!decodeArchiveFooter(footerReader, footer)) return refuse(ArchiveFailure::FooterUnreadable);
  if (footer.signature != kFooterSignature) return refuse(ArchiveFailure::BadFooterSignature);

  if (footer.directoryOffset > static_cast<uint32_t>(archiveSize) ||
      std::fseek(file_, static_cast<long>(footer.directoryOffset), SEEK_SET) != 0)
    return refuse(ArchiveFailure::DirectoryNotFound);
  if (footer.directorySize == 0) return true;

  // A directory that claims more bytes than the file holds is refused before any allocation.
  if (footer.directorySize > static_cast<uint32_t>(archiveSize) - footer.directoryOffset)
    return refuse(ArchiveFailure::DirectoryUnreadable);
  files.reserve(footer.entryCount);
  BlockRef directory(new BinaryBlock(nullptr, static_cast<int32_t>(footer.directorySize),
                                     "BinaryBlock/ZipDirectory"));
  // Without the directory there is no index, and an archive without its index is not open.
  if (static_cast<uint32_t>(directory->length()) != footer.directorySize)
    return refuse(ArchiveFailure::DirectoryNoMemory);
  if (std::fread(directory->data(), 1, footer.directorySize, file_) != footer.directorySize)
    return refuse(ArchiveFailure::DirectoryUnreadable);

  ByteReader cursor(directory->data(), footer.directorySize);
  const int64_t spacing = footer.entryCount ? footer.directoryOffset / footer.entryCount : 0;
  HeaderReader headers(file_, archiveSize,
                       spacing <= kDenseHeaderSpacing ? kHeaderWindowBytes : kLocalHeaderSize);
  LastFolder lastFolder;
  for (uint32_t i = 0; i < footer.entryCount; ++i) {
    // A count larger than the records present, or a name running past the block, means the
    // directory is damaged: nothing beyond the block is ever read.
    DirectoryEntry entry;
    if (!decodeDirectoryEntry(cursor, entry)) return refuse(ArchiveFailure::DirectoryUnreadable);
    if (entry.signature != kDirectoryEntrySignature)
      return refuse(ArchiveFailure::BadDirectorySignature);
    if (entry.fileNameLength > kMaxFieldLength) return refuse(ArchiveFailure::NameTooLong);
    if (entry.extraFieldLength > kMaxFieldLength) return refuse(ArchiveFailure::ExtraFieldTooLong);
    if (entry.commentLength > kMaxFieldLength) return refuse(ArchiveFailure::CommentTooLong);
    std::string name = cursor.text(entry.fileNameLength);
    if (!cursor.ok()) return refuse(ArchiveFailure::DirectoryUnreadable);
    // Extra field and comment are skipped unread; if they overrun the block, the next record's
    // decode fails (the last record's need not be there at all).
    cursor.skip(static_cast<size_t>(entry.extraFieldLength) + entry.commentLength);

    // The local header must lie wholly inside the file; its copy feeds the rewriting code.
    if (entry.localHeaderOffset < 0 ||
        static_cast<int64_t>(entry.localHeaderOffset) + static_cast<int64_t>(kLocalHeaderSize) >
            archiveSize)
      return refuse(ArchiveFailure::BadLocalHeaderOffset);
    size_t available = 0;
    const unsigned char* local =
        headers.read(entry.localHeaderOffset, kLocalHeaderSize + entry.fileNameLength, &available);
    if (headers.noMemory()) return refuse(ArchiveFailure::DirectoryNoMemory);
    LocalHeader header;
    ByteReader headerReader(local, local ? kLocalHeaderSize : 0);
    if (!local || !decodeLocalHeader(headerReader, header))
      return refuse(ArchiveFailure::BadLocalHeaderOffset);
    // Whether the header and name in the file are exactly what the writer would write for
    // this record from its index, data right behind them: then they can be copied as they are.
    std::string normalised = normalisePath(name);
    const bool headerInFile =
        available == kLocalHeaderSize + entry.fileNameLength && normalised == name &&
        header.fileNameLength == entry.fileNameLength && header.extraFieldLength == 0 &&
        entry.extraFieldLength == 0 && header.compressedSize == entry.compressedSize &&
        header.uncompressedSize == entry.uncompressedSize &&
        header.compressionMethod == entry.compressionMethod &&
        std::memcmp(local + kLocalHeaderSize, name.data(), name.size()) == 0;
    // Readers take an entry's sizes and method from the directory; so does everything that
    // copies the record on.
    header.compressedSize = entry.compressedSize;
    header.uncompressedSize = entry.uncompressedSize;
    header.compressionMethod = entry.compressionMethod;
    const bool isFolder = !name.empty() && name.back() == '/';

    indexRecord(entry, header, std::move(normalised), isFolder, headerInFile, lastFolder);
  }
  return true;
}

void KXFileSystem::indexRecord(const DirectoryEntry& entry, const LocalHeader& header,
                               std::string name, bool isFolder, bool headerInFile,
                               LastFolder& last) {
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
  record.isFolder = isFolder;
  record.headerInFile = headerInFile;
  files.push_back(std::move(record));
}

// ---- Interface slots with fixed answers for an archive ----

bool KXFileSystem::rejectPath(const std::string&) { return false; }
bool KXFileSystem::rejectPathPair(const std::string&, const std::string&) { return false; }
std::string KXFileSystem::emptyPathOf(const std::string&) { return std::string(); }
std::string KXFileSystem::samePathOf(const std::string& path) { return path; }
void KXFileSystem::ignoreNote(const std::string&) {}

FILE* KXFileSystem::openHostFile(const std::string& path, const char* mode) {
  platform::OpenedFile opened = platform::openFileNarrow(path, mode);
  return opened ? opened.value().release() : nullptr;
}
