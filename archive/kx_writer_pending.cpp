// Placeholders for the rewriting and editing operations until their real definitions land.
// Every one reports failure or does nothing.
#include "archive/kx_file_system.h"

std::string KXFileSystem::formatFileTime(uint64_t) { return std::string(); }
bool KXFileSystem::storeFile(const std::string&, BlockRef, int32_t) { return false; }
bool KXFileSystem::eraseFileOrDirectory(const std::string&) { return false; }
FileSystemRef KXFileSystem::clone() { return FileSystemRef(); }
bool KXFileSystem::mergePatch(KXFileSystem&) { return false; }
void KXFileSystem::mergeEntry(const ArchiveFile&) {}
bool KXFileSystem::createNewZip(const std::string&, const std::string&, KXFileSystem*) {
  return false;
}
void KXFileSystem::takePatchData(ArchiveFile&, KXFileSystem*) {}
void KXFileSystem::writeLocalEntry(ArchiveFile&, WriteHandler&, uint32_t&) {}
void KXFileSystem::writeDirectoryEntry(ArchiveFile&, WriteHandler&, uint32_t&) {}
void KXFileSystem::logEntryChecksums(const std::string&) {}
std::string KXFileSystem::checksumText(const void*, size_t) { return "00000000"; }
void KXFileSystem::updateFile(const std::string&, BlockRef) {}
void KXFileSystem::prepareHeader(ArchiveFile&, bool) {}
BlockRef KXFileSystem::compressEntry(const BlockRef&) { return BlockRef(); }
