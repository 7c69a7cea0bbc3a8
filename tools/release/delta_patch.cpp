// A pack's patch with its replaced entries carried as deltas of their contents where that is
// smaller. The encoder is xdelta3, run here at release time only; the installer holds the
// decoder (delta/). Each delta record is checked by applying it to the old contents before it
// is kept, and the whole patch is rehearsed with the installer's merge afterwards.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "archive/kx_file_system.h"
#include "archive/kx_format.h"
#include "delta/delta_apply.h"
#include "delta/delta_limits.h"
#include "platform/platform.h"
#include "platform/replacement_file.h"
#include "tools/release/release.h"

namespace release {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBlockLabel = "BinaryBlock/Release";

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool writeFile(const std::string& path, const BlockRef& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (bytes) out.write(bytes->cdata(), bytes->length());
  out.close();
  return static_cast<bool>(out);
}

bool readFile(const std::string& path, std::vector<unsigned char>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// xdelta3's source buffer: the whole old contents, never less than its own floor. Left to its
// default, every run allocates 64 MiB however small the entry, which made a release of a few
// hundred small entries spend its time in the kernel.
uint64_t sourceBufferBytes(uint64_t oldSize) {
  uint64_t bytes = 512 * 1024;
  while (bytes < oldSize && bytes < delta::kMaxDeltaSize) bytes *= 2;
  return bytes;
}

// The VCDIFF from `oldFile` (`oldSize` bytes) to `newFile`, made by xdelta3 without secondary
// compression (which the installer's decoder refuses) and without the application header
// (which would carry these scratch names); its window checksums stay.
bool runEncoder(const std::string& oldFile, uint64_t oldSize, const std::string& newFile,
                const std::string& deltaFile, std::vector<unsigned char>& vcdiff) {
  const std::string command = "xdelta3 -e -9 -S none -A -f -B " +
                              std::to_string(sourceBufferBytes(oldSize)) + " -s " +
                              shellQuoted(oldFile) + " " + shellQuoted(newFile) + " " +
                              shellQuoted(deltaFile) + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 && readFile(deltaFile, vcdiff);
}

}  // namespace

bool deltaEncoderAvailable() {
  return std::system("xdelta3 -V >/dev/null 2>&1") == 0;
}

bool deltaPatchArchive(const std::string& oldPack, const std::string& newPack,
                       const std::string& patchPath, const std::string& workDir,
                       DeltaCounts& counts, std::string& error) {
  counts = DeltaCounts();
  RefPtr<KXFileSystem> oldArchive = makeRef<KXFileSystem>(oldPack);
  RefPtr<KXFileSystem> newArchive = makeRef<KXFileSystem>(newPack);
  RefPtr<KXFileSystem> patch = makeRef<KXFileSystem>(patchPath);
  const std::string rebuiltPath = patchPath + ".delta";
  // The new patch starts empty and takes every record of the old one, whole or as a delta.
  {
    RefPtr<KXFileSystem> empty = makeRef<KXFileSystem>(std::string());
    platform::ReplacementFile output(rebuiltPath);
    if (!empty->createNewZip(output, nullptr) || !output.commit()) {
      error = rebuiltPath + ": cannot write";
      return false;
    }
  }
  RefPtr<KXFileSystem> rebuilt = makeRef<KXFileSystem>(rebuiltPath);

  // By position: a read by name would take "p 1" for "p".
  std::map<std::string, size_t> oldIndex, newIndex;
  for (size_t i = 0; i < oldArchive->records().size(); ++i)
    oldIndex[oldArchive->records()[i].name] = i;
  for (size_t i = 0; i < newArchive->records().size(); ++i)
    newIndex[newArchive->records()[i].name] = i;
  // A folder of its own, so that no file of `workDir` is ever written over.
  const fs::path scratch = fs::path(workDir) / (fs::path(patchPath).filename().string() + ".xdelta");
  std::error_code code;
  fs::remove_all(scratch, code);
  fs::create_directories(scratch, code);
  const std::string oldFile = (scratch / "old").string();
  const std::string newFile = (scratch / "new").string();
  const std::string deltaFile = (scratch / "delta").string();

  auto failed = [&](const std::string& why) {
    error = why;
    oldArchive->closeArchive();
    newArchive->closeArchive();
    patch->closeArchive();
    rebuilt->closeArchive();
    platform::deleteFile(rebuiltPath);
    fs::remove_all(scratch, code);
    return false;
  };

  for (size_t i = 0; i < patch->records().size(); ++i) {
    BlockRef stored = patch->readStoredAsIs(i);
    if (!stored) return failed(patchPath + ": entry " + patch->records()[i].name + " unreadable");
    const ArchiveFile& record = patch->records()[i];
    const auto old = oldIndex.find(record.name);
    const auto fresh = newIndex.find(record.name);
    const uint16_t method = record.entry_.compressionMethod;
    const bool replaced = record.header_.flag != kDeleteMarker && !record.isFolder &&
                          old != oldIndex.end() && fresh != newIndex.end() &&
                          !oldArchive->records()[old->second].isFolder;
    if (!replaced) {
      rebuilt->addRawEntry(record);
      continue;
    }
    const ArchiveFile& before = oldArchive->records()[old->second];
    // Entries above the bound go whole: the installer would refuse their delta.
    const bool fits = (method == kMethodStored || method == kMethodDeflated) &&
                      before.entry_.uncompressedSize <= delta::kMaxDeltaSize &&
                      record.entry_.uncompressedSize <= delta::kMaxDeltaSize &&
                      record.entry_.compressedSize <= delta::kMaxDeltaSize;
    std::vector<unsigned char> deltaRecord;
    if (fits) {
      const BlockRef oldContents = oldArchive->readContentAt(old->second);
      const BlockRef newContents = newArchive->readContentAt(fresh->second);
      std::vector<unsigned char> vcdiff;
      if (!oldContents || !newContents)
        return failed(newPack + ": entry " + record.name + " unreadable in OLD or NEW");
      if (!writeFile(oldFile, oldContents) || !writeFile(newFile, newContents))
        return failed(workDir + ": cannot write the encoder's input");
      if (!runEncoder(oldFile, static_cast<uint64_t>(oldContents->length()), newFile, deltaFile,
                      vcdiff))
        return failed("xdelta3 failed on entry " + record.name + " of " + newPack);
      delta::EntryBytes entry;
      entry.method = method;
      entry.contents = newContents->data();
      entry.size = static_cast<size_t>(newContents->length());
      entry.stored = stored->data();
      entry.storedSize = static_cast<size_t>(stored->length());
      auto made = delta::makeDeltaRecord(oldContents->data(),
                                         static_cast<size_t>(oldContents->length()), entry,
                                         vcdiff.data(), vcdiff.size());
      // Kept only when it rebuilds the entry here, as the installer will apply it.
      if (made) {
        const auto check = delta::applyDeltaRecord(
            made.value().data(), made.value().size(), oldContents->data(),
            static_cast<size_t>(oldContents->length()));
        if (check && check.value().stored.size() == entry.storedSize &&
            std::equal(check.value().stored.begin(), check.value().stored.end(), entry.stored))
          deltaRecord = std::move(made.value());
      }
    }
    if (deltaRecord.empty() || deltaRecord.size() >= static_cast<size_t>(stored->length())) {
      ++counts.whole;
      rebuilt->addRawEntry(record);
      continue;
    }
    counts.bytesSaved += static_cast<uint64_t>(stored->length()) - deltaRecord.size();
    ++counts.deltas;
    ArchiveFile carried = record;
    carried.header_.compressionMethod = carried.entry_.compressionMethod = kMethodDelta;
    carried.header_.compressedSize = carried.entry_.compressedSize =
        static_cast<uint32_t>(deltaRecord.size());
    carried.entry_.localHeaderOffset = -1;
    carried.headerInFile = false;
    carried.data = BlockRef(new BinaryBlock(deltaRecord.data(),
                                            static_cast<int32_t>(deltaRecord.size()), kBlockLabel));
    carried.storedLoaded = true;
    rebuilt->addRawEntry(carried);
  }
  oldArchive->closeArchive();
  newArchive->closeArchive();
  patch->closeArchive();
  fs::remove_all(scratch, code);
  platform::ReplacementFile output(patchPath);
  const bool written = static_cast<bool>(rebuilt->createNewZip(output, nullptr));
  rebuilt->closeArchive();
  platform::deleteFile(rebuiltPath);
  if (!written || !output.commit()) {
    error = patchPath + ": cannot write the patch with deltas";
    return false;
  }
  return true;
}

}  // namespace release
