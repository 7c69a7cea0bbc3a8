// Whole archives written from and read into lists of named contents, and the patch archive
// between two versions of a pack.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "archive/kx_format.h"
#include "platform/platform.h"
#include "tools/release/release.h"

namespace release {
namespace {

constexpr const char* kBlockLabel = "BinaryBlock/Release";

bool writeEmptyArchive(const std::string& path) {
  ArchiveFooter footer;
  footer.signature = kFooterSignature;
  const std::string bytes = encodeArchiveFooter(footer);
  platform::OpenedFile opened = platform::openFile(path, "wb+");
  if (!opened) return false;
  FILE* file = opened.value().release();
  const bool written = std::fwrite(bytes.data(), bytes.size(), 1, file) == 1;
  return std::fclose(file) == 0 && written;
}

// Writes the archive's records to `path` through the archive writer (which goes by way of
// path + "temp") and puts the result in place.
bool finishArchive(KXFileSystem& archive, const std::string& path) {
  platform::ReplacementFile output(path);
  const bool written = static_cast<bool>(archive.createNewZip(output, nullptr));
  archive.closeArchive();
  return written && output.commit();
}

bool sameStoredEntry(const ArchiveFile& a, const BlockRef& aBytes, const ArchiveFile& b,
                     const BlockRef& bBytes) {
  return a.header_.compressionMethod == b.header_.compressionMethod &&
         a.header_.uncompressedSize == b.header_.uncompressedSize && aBytes && bBytes &&
         aBytes->asString() == bBytes->asString();
}

}  // namespace

bool writeArchive(const std::string& path, const std::vector<NamedContent>& entries) {
  if (!writeEmptyArchive(path)) return false;
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(path);
  for (const NamedContent& entry : entries) {
    // No block for 2 GiB or more: no archive holds it.
    if (!archive->addEntry(entry.first, BinaryBlock::fromString(entry.second, kBlockLabel)))
      return false;
  }
  return finishArchive(*archive, path);
}

std::vector<NamedContent> readArchive(const std::string& path) {
  std::vector<NamedContent> entries;
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(path);
  for (size_t i = 0; i < archive->records().size(); ++i) {
    BlockRef content = archive->readContentAt(i);
    const ArchiveFile& record = archive->records()[i];
    entries.emplace_back(record.isFolder ? record.name + "/" : record.name,
                         content ? content->asString() : std::string());
  }
  archive->closeArchive();
  return entries;
}

bool makePatchArchive(const std::string& oldPack, const std::string& newPack,
                      const std::string& patchOut) {
  RefPtr<KXFileSystem> oldArchive = makeRef<KXFileSystem>(oldPack);
  RefPtr<KXFileSystem> newArchive = makeRef<KXFileSystem>(newPack);
  if (!writeEmptyArchive(patchOut)) return false;
  RefPtr<KXFileSystem> patch = makeRef<KXFileSystem>(patchOut);

  // Entries are read by position: by name, "p" next to "p 1" would be read as "p 1".
  std::map<std::string, size_t> oldIndex;
  for (size_t i = 0; i < oldArchive->records().size(); ++i)
    oldIndex[oldArchive->records()[i].name] = i;
  std::map<std::string, bool> inNew;

  for (size_t i = 0; i < newArchive->records().size(); ++i) {
    const std::string name = newArchive->records()[i].name;
    inNew[name] = true;
    BlockRef newBytes = newArchive->readStoredAt(i);
    if (!newBytes) return false;
    const ArchiveFile& fresh = newArchive->records()[i];
    auto old = oldIndex.find(name);
    if (old != oldIndex.end()) {
      BlockRef oldBytes = oldArchive->readStoredAt(old->second);
      if (sameStoredEntry(oldArchive->records()[old->second], oldBytes, fresh, newBytes)) continue;
    }
    patch->addRawEntry(fresh);
  }
  for (const ArchiveFile& record : oldArchive->records())
    if (!inNew.count(record.name)) patch->addDeleteMarker(record);

  oldArchive->closeArchive();
  newArchive->closeArchive();
  return finishArchive(*patch, patchOut);
}

}  // namespace release
