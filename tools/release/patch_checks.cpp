// What a patch archive must pass before it ships: the format's limits, the archive writer's item
// size, and a rehearsal of the installer's own merge against the old pack.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "archive/kx_format.h"
#include "archive/write_handler.h"
#include "platform/aligned_buffer.h"
#include "platform/platform.h"
#include "tools/release/release.h"

namespace release {
namespace {

// The reader measures archives with a signed 32-bit length.
constexpr uint64_t kMaxArchiveBytes = uint64_t{1} << 31;

// Positions of an archive's records in name order.
std::vector<size_t> byName(const KXFileSystem& archive) {
  std::vector<size_t> order(archive.records().size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return archive.records()[a].name < archive.records()[b].name;
  });
  return order;
}

bool sameEntries(const std::string& gotPath, const std::string& wantedPath) {
  RefPtr<KXFileSystem> got = makeRef<KXFileSystem>(gotPath);
  RefPtr<KXFileSystem> wanted = makeRef<KXFileSystem>(wantedPath);
  const std::vector<size_t> a = byName(*got), b = byName(*wanted);
  bool same = got->isOpen() && a.size() == b.size();
  for (size_t i = 0; same && i < a.size(); ++i) {
    BlockRef x = got->readContentAt(a[i]), y = wanted->readContentAt(b[i]);
    same = got->records()[a[i]].name == wanted->records()[b[i]].name && x && y &&
           x->asString() == y->asString();
  }
  got->closeArchive();
  wanted->closeArchive();
  return same;
}

}  // namespace

std::string archiveLimitProblem(const std::vector<NamedContent>& files) {
  if (files.size() > kMaxEntries)
    return std::to_string(files.size()) + " files; an archive holds at most " +
           std::to_string(kMaxEntries);
  uint64_t total = kFooterSize;
  std::map<std::string, std::string> seen;
  for (const NamedContent& file : files) {
    const std::string name = normalisePath(file.first);
    if (name.size() > kMaxFieldLength)
      return file.first + ": name longer than " + std::to_string(kMaxFieldLength) + " bytes";
    auto clash = seen.emplace(name, file.first);
    if (!clash.second)
      return file.first + " and " + clash.first->second + " have the same name in an archive";
    if (file.second.size() >= static_cast<uint64_t>(WriteHandler::kBufferBytes))
      return file.first + ": " + std::to_string(file.second.size()) + " bytes; " +
             kOversizedReason;
    total += kLocalHeaderSize + kDirectoryEntrySize + 2 * name.size() + file.second.size();
  }
  if (total >= kMaxArchiveBytes) return "the archive would reach 2 GiB, more than the format allows";
  // Readers take a path for version 1 of itself when another name is that path, a space and
  // more: the game could never read such a file by its name.
  for (const auto& name : seen) {
    const size_t space = name.first.find(' ');
    if (space == std::string::npos) continue;
    auto shadowed = seen.find(name.first.substr(0, space));
    if (shadowed != seen.end())
      return shadowed->second + " could not be read from the archive: with " + name.second +
             " beside it readers look for \"" + shadowed->first + " 1\" instead";
  }
  return std::string();
}

std::string oversizedEntry(const KXFileSystem& archive) {
  for (const ArchiveFile& record : archive.records()) {
    if (record.header_.compressedSize >= static_cast<uint32_t>(WriteHandler::kBufferBytes))
      return record.name + " (" + std::to_string(record.header_.compressedSize) + " bytes stored)";
  }
  return std::string();
}

std::string oversizedEntry(const std::string& archivePath) {
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(archivePath);
  std::string found = oversizedEntry(*archive);
  archive->closeArchive();
  return found;
}

int64_t firstDifference(const std::string& a, const std::string& b) {
  const platform::OpenedFile openedX = platform::openFileNarrow(a, "rb");
  const platform::OpenedFile openedY = platform::openFileNarrow(b, "rb");
  FILE* x = openedX ? openedX.value().get() : nullptr;
  FILE* y = openedY ? openedY.value().get() : nullptr;
  // Page-aligned, as every bulk read is; without the memory the files count as different.
  constexpr size_t kChunkBytes = size_t{512} << 10;
  const platform::AlignedBuffer bx(kChunkBytes), by(kChunkBytes);
  int64_t result = (x && y && bx && by) ? -1 : 0;
  for (int64_t offset = 0; result < 0;) {
    const size_t gotX = std::fread(bx.data(), 1, kChunkBytes, x);
    const size_t gotY = std::fread(by.data(), 1, kChunkBytes, y);
    const size_t common = std::min(gotX, gotY);
    const unsigned char* const mismatch =
        std::mismatch(bx.data(), bx.data() + common, by.data()).first;
    if (mismatch != bx.data() + common)
      result = offset + (mismatch - bx.data());
    else if (gotX != gotY)
      result = offset + static_cast<int64_t>(common);
    else if (gotX == 0)
      break;
    offset += static_cast<int64_t>(common);
  }
  return result;
}

Rehearsal rehearsePatch(const std::string& oldPack, const std::string& patchPath,
                        const std::string& newPack, const std::string& scratch,
                        ArchiveEvents* events) {
  Rehearsal outcome;
  RefPtr<KXFileSystem> patch = makeRef<KXFileSystem>(patchPath);
  std::string result = oldPack;  // an empty patch leaves the pack as it is
  if (patch->entryCount() > 0) {
    RefPtr<KXFileSystem> merged = makeRef<KXFileSystem>(oldPack, events);
    // A delta that does not rebuild its entry makes a pack that is not NEW: the merge or the
    // write refuses it.
    const bool applied = static_cast<bool>(merged->mergePatch(*patch));
    const bool written = applied && merged->createNewZip(scratch, patch.get());
    merged->closeArchive();
    result = scratch + "temp";
    if (!written) {
      patch->closeArchive();
      platform::deleteFile(result);
      outcome.written = false;
      return outcome;
    }
  }
  patch->closeArchive();
  outcome.firstDifference = firstDifference(result, newPack);
  outcome.sameEntries = outcome.firstDifference < 0 || sameEntries(result, newPack);
  if (result != oldPack) platform::deleteFile(result);
  return outcome;
}

}  // namespace release
