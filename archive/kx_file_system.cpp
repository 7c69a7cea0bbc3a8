// Opening a .kx archive: locating the footer, reading the central directory in one piece and
// building the index; closing; and the interface slots that need no archive work.
#include "archive/kx_file_system.h"

#include <cstdint>
#include <limits>

#include "platform/platform.h"
#include "report/log.h"

namespace {

// Every open failure goes to the working-directory log, one line each.
constexpr const char* kReaderLog = "updater.log";

void logLine(const std::string& text) { appendLogLine(kReaderLog, text); }

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
    if (std::fseek(file_, static_cast<long>(entry.localHeaderOffset), SEEK_SET) != 0 ||
        std::fread(headerBytes, 1, kLocalHeaderSize, file_) != kLocalHeaderSize ||
        !decodeLocalHeader(headerReader, header))
      return fail("openZip Invalid local header offset");

    indexRecord(entry, header, normalisePath(name));
  }
  return true;
}

void KXFileSystem::indexRecord(const DirectoryEntry& entry, const LocalHeader& header,
                               std::string name) {
  const size_t space = name.find(' ');
  if (space != std::string::npos) ++versionCounts[name.substr(0, space)];

  const size_t slash = name.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : name.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
  DirectoryListing& listing = directories[parent];

  FileMapEntry& mapped = fileMap_[name];
  mapped.index = static_cast<int32_t>(files.size());
  mapped.position = static_cast<int32_t>(listing.names.size());
  listing.names.push_back(leaf);
  listing.baseNames.push_back(leaf.substr(0, leaf.find(' ')));

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
