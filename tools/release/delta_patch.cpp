// A pack's patch with its replaced entries carried as deltas of their contents where that is
// smaller. The encoder is xdelta3, run here at release time only; the installer holds the
// decoder (delta/). makeDeltaRecord keeps only a record that rebuilds its entry as the
// installer applies it, and the whole patch is rehearsed with the installer's merge
// afterwards. Entries are encoded several at once (an xdelta3 process and a search of the
// deflate settings each), and their records are written in the order of the patch.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <thread>
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

bool writeFile(const std::string& path, const unsigned char* bytes, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
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

// The bytes of one replaced entry and the encoder's files for it. The archives' blocks stay
// with the thread that reads the archives (their reference counts are not interlocked): an
// encoding sees raw bytes only.
struct EntryInput {
  uint16_t method = 0;
  const unsigned char* oldContents = nullptr;
  size_t oldSize = 0;
  const unsigned char* contents = nullptr;
  size_t size = 0;
  const unsigned char* stored = nullptr;
  size_t storedSize = 0;
  std::string oldFile, newFile, deltaFile;
};

struct EntryOutcome {
  enum class Fault { None, Input, Encoder } fault = Fault::None;  // not None: the release fails
  std::vector<unsigned char> record;  // empty: the entry goes whole
};

// The entry's delta record, kept only when makeDeltaRecord shows it rebuilds the entry; its
// encoder's files are removed again, so that the scratch folder holds only entries in flight.
EntryOutcome encodeEntry(const EntryInput& in) {
  EntryOutcome outcome;
  // Searched before the encoder runs: an entry whose stored bytes no setting remakes (another
  // deflater's, as a whole pack may be) goes whole without an encoding.
  delta::DeflateSettings settings;
  if (in.method == kMethodDeflated) {
    const auto found = delta::findDeflateSettings(in.contents, in.size, in.stored, in.storedSize);
    if (!found) return outcome;
    settings = found.value();
  }
  std::vector<unsigned char> vcdiff;
  if (!writeFile(in.oldFile, in.oldContents, in.oldSize) ||
      !writeFile(in.newFile, in.contents, in.size))
    outcome.fault = EntryOutcome::Fault::Input;
  else if (!runEncoder(in.oldFile, in.oldSize, in.newFile, in.deltaFile, vcdiff))
    outcome.fault = EntryOutcome::Fault::Encoder;
  std::error_code code;
  for (const std::string& file : {in.oldFile, in.newFile, in.deltaFile}) fs::remove(file, code);
  if (outcome.fault != EntryOutcome::Fault::None) return outcome;
  delta::EntryBytes entry;
  entry.method = in.method;
  entry.contents = in.contents;
  entry.size = in.size;
  entry.stored = in.stored;
  entry.storedSize = in.storedSize;
  const delta::DeflateSettings* found = in.method == kMethodDeflated ? &settings : nullptr;
  auto made = delta::makeDeltaRecord(in.oldContents, in.oldSize, entry, vcdiff.data(),
                                     vcdiff.size(), found);
  if (made) outcome.record = std::move(made).value();
  return outcome;
}

// A record of the patch on its way into the rewritten one, in the patch's order. An entry
// being encoded holds its blocks until the encoding ends (`outcome` is declared last, so that
// it is waited for before they go).
struct Pending {
  size_t index = 0;
  bool replaced = false;  // one of the entries counted as delta or whole
  BlockRef stored, oldContents, newContents;
  uint64_t bytes = 0;  // the contents it holds while encoded
  std::future<EntryOutcome> outcome;
};

// Entries encoded at once are bounded by count and by the contents they hold: a pack of large
// entries never has more than this in memory for its encodings (one entry always may).
constexpr uint64_t kInFlightBytes = uint64_t{256} << 20;

}  // namespace

bool deltaEncoderAvailable() {
  return std::system("xdelta3 -V >/dev/null 2>&1") == 0;
}

bool deltaPatchArchive(const std::string& oldPack, const std::string& newPack,
                       const std::string& patchPath, const std::string& workDir,
                       DeltaCounts& counts, std::string& error, unsigned workers) {
  counts = DeltaCounts();
  if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
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

  std::deque<Pending> queue;
  size_t inFlight = 0;
  uint64_t inFlightBytes = 0;
  auto failed = [&](const std::string& why) {
    error = why;
    queue.clear();  // waits for the encodings still running
    oldArchive->closeArchive();
    newArchive->closeArchive();
    patch->closeArchive();
    rebuilt->closeArchive();
    platform::deleteFile(rebuiltPath);
    fs::remove_all(scratch, code);
    return false;
  };
  // The first record of the queue into the rewritten patch, once its encoding (if any) ends.
  auto settleFront = [&]() -> bool {
    Pending& front = queue.front();
    const ArchiveFile& record = patch->records()[front.index];
    std::vector<unsigned char> deltaRecord;
    if (front.outcome.valid()) {
      EntryOutcome outcome = front.outcome.get();
      --inFlight;
      inFlightBytes -= front.bytes;
      if (outcome.fault == EntryOutcome::Fault::Input) {
        error = workDir + ": cannot write the encoder's input";
        return false;
      }
      if (outcome.fault == EntryOutcome::Fault::Encoder) {
        error = "xdelta3 failed on entry " + record.name + " of " + newPack;
        return false;
      }
      deltaRecord = std::move(outcome.record);
    }
    const size_t storedSize = static_cast<size_t>(front.stored->length());
    if (deltaRecord.empty() || deltaRecord.size() >= storedSize) {
      if (front.replaced) ++counts.whole;
      rebuilt->addRawEntry(record);
    } else {
      counts.bytesSaved += storedSize - deltaRecord.size();
      ++counts.deltas;
      ArchiveFile carried = record;
      carried.header_.compressionMethod = carried.entry_.compressionMethod = kMethodDelta;
      carried.header_.compressedSize = carried.entry_.compressedSize =
          static_cast<uint32_t>(deltaRecord.size());
      carried.entry_.localHeaderOffset = -1;
      carried.headerInFile = false;
      carried.data = BlockRef(new BinaryBlock(
          deltaRecord.data(), static_cast<int32_t>(deltaRecord.size()), kBlockLabel));
      carried.storedLoaded = true;
      rebuilt->addRawEntry(carried);
    }
    queue.pop_front();
    return true;
  };
  auto frontReady = [&] {
    return !queue.front().outcome.valid() ||
           queue.front().outcome.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };

  for (size_t i = 0; i < patch->records().size(); ++i) {
    Pending pending;
    pending.index = i;
    pending.stored = patch->readStoredAsIs(i);
    if (!pending.stored)
      return failed(patchPath + ": entry " + patch->records()[i].name + " unreadable");
    const ArchiveFile& record = patch->records()[i];
    const auto old = oldIndex.find(record.name);
    const auto fresh = newIndex.find(record.name);
    const uint16_t method = record.entry_.compressionMethod;
    pending.replaced = record.header_.flag != kDeleteMarker && !record.isFolder &&
                       old != oldIndex.end() && fresh != newIndex.end() &&
                       !oldArchive->records()[old->second].isFolder;
    const ArchiveFile* before = pending.replaced ? &oldArchive->records()[old->second] : nullptr;
    // Entries above the bound go whole: the installer would refuse their delta.
    const bool fits = before && (method == kMethodStored || method == kMethodDeflated) &&
                      before->entry_.uncompressedSize <= delta::kMaxDeltaSize &&
                      record.entry_.uncompressedSize <= delta::kMaxDeltaSize &&
                      record.entry_.compressedSize <= delta::kMaxDeltaSize;
    if (fits) {
      pending.bytes = uint64_t{before->entry_.uncompressedSize} + record.entry_.uncompressedSize;
      while (inFlight >= workers || (inFlight > 0 && inFlightBytes + pending.bytes > kInFlightBytes))
        if (!settleFront()) return failed(error);
      pending.oldContents = oldArchive->readContentAt(old->second);
      pending.newContents = newArchive->readContentAt(fresh->second);
      if (!pending.oldContents || !pending.newContents)
        return failed(newPack + ": entry " + record.name + " unreadable in OLD or NEW");
      EntryInput input;
      input.method = method;
      input.oldContents = pending.oldContents->data();
      input.oldSize = static_cast<size_t>(pending.oldContents->length());
      input.contents = pending.newContents->data();
      input.size = static_cast<size_t>(pending.newContents->length());
      input.stored = pending.stored->data();
      input.storedSize = static_cast<size_t>(pending.stored->length());
      const std::string stem = (scratch / std::to_string(i)).string();
      input.oldFile = stem + ".old";
      input.newFile = stem + ".new";
      input.deltaFile = stem + ".vcdiff";
      try {
        pending.outcome = std::async(std::launch::async, encodeEntry, input);
      } catch (const std::system_error&) {
        // No thread to be had: the entry is encoded here when its turn comes.
        pending.outcome = std::async(std::launch::deferred, encodeEntry, std::move(input));
      }
      ++inFlight;
      inFlightBytes += pending.bytes;
    }
    queue.push_back(std::move(pending));
    while (!queue.empty() && frontReady())
      if (!settleFront()) return failed(error);
  }
  while (!queue.empty())
    if (!settleFront()) return failed(error);
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
