// Merging a patch archive into an installed one and writing the result as a new archive. Entries
// travel in their stored (compressed) form: nothing is inflated or deflated here, except where a
// patch record is a delta of an installed entry, which is rebuilt for the writer: on worker
// threads a few entries ahead of it when the machine has cores to spare, within a memory
// budget, otherwise when the writer reaches it. Unchanged entries are copied from the
// installed file straight into the output file; patch bytes are held only from the moment they
// are taken until they have been written, and a rebuilt entry's from its rebuild until then.

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "archive/delta_rebuilds.h"
#include "archive/kx_file_system.h"
#include "archive/write_handler.h"
#include "delta/delta_apply.h"
#include "delta/delta_limits.h"
#include "integrity/crc32.h"
#include "platform/platform.h"

namespace {

constexpr const char* kReadLabel = "BinaryBlock/ZipRead";
// The reader measures archives as signed 32-bit lengths; a larger file could not be opened.
constexpr int64_t kMaxArchiveBytes = INT32_MAX;

bool carriesDeleteMarker(const ArchiveFile& record) {
  return record.header_.flag == kDeleteMarker || record.entry_.flag == kDeleteMarker;
}

bool isDeltaRecord(const ArchiveFile& record) {
  return !carriesDeleteMarker(record) &&
         (record.header_.compressionMethod == kMethodDelta ||
          record.entry_.compressionMethod == kMethodDelta);
}

// Which of the merge's failures a failed application of a delta is.
ArchiveFailure deltaFailureKind(delta::DeltaFailure failure) {
  switch (failure) {
    case delta::DeltaFailure::BadRecord: return ArchiveFailure::DeltaRecordRefused;
    case delta::DeltaFailure::OldSizeDiffers:
    case delta::DeltaFailure::OldCrcDiffers: return ArchiveFailure::DeltaOldEntryDiffers;
    default: return ArchiveFailure::DeltaNotReproduced;
  }
}

// The largest delta record a merge reads: the record's header and the largest deflated VCDIFF
// it may announce.
constexpr size_t kMaxDeltaRecordBytes =
    delta::kDeltaRecordHeaderSize + delta::kMaxDeltaSize + (size_t{256} << 10);

// The estimated peaks of the delta rebuilds outstanding at once (handed to a worker, or done
// and waiting for the writer) stay within this. The 32-bit installer must stay under 256 MiB;
// besides the rebuilds it holds the writer's staging buffer and the run's own state, so half
// of that is left to them. A single entry whose estimate is larger is rebuilt alone.
constexpr size_t kRebuildBudgetBytes = size_t{128} << 20;
// Two workers beside the writer. Each worker's allocations come from an allocator arena of its
// own, which keeps a few MiB of what it freed: with four, a patch of sixteen 2 MiB deltas grew
// the process by 31 MiB, with three by 24 MiB, with two by 15 - 20 MiB, with none by 11 MiB.
constexpr unsigned kMaxRebuildWorkers = 2;

// A rebuilt entry's bytes as a block, without copying them.
struct RebuiltBytes : ReferenceCount {
  explicit RebuiltBytes(std::vector<unsigned char> held) : bytes(std::move(held)) {}
  std::vector<unsigned char> bytes;
};

// A folder is written with the trailing "/" its stored name had; the index keeps names without
// it. Any other name is written back normalised ("c//b.txt" as "c/b.txt"), never as a folder.
std::string writtenName(const ArchiveFile& record) {
  return record.isFolder ? record.name + "/" : record.name;
}

// A copy of the source's bytes, cut to `length` when it holds more. It is never padded: a local
// header announcing more bytes than the entry holds would otherwise make the writer allocate
// and write up to 2 GiB of zeros; the writer corrects such a header to the bytes there are.
BlockRef sizedCopy(const BlockRef& source, uint32_t length) {
  const size_t available = source ? static_cast<size_t>(source->length()) : 0;
  const size_t n = std::min<size_t>(available, length);
  BlockRef copy(new BinaryBlock(n > 0 ? source->data() : nullptr, static_cast<int32_t>(n),
                                kReadLabel));
  if (static_cast<size_t>(copy->length()) != n) return BlockRef();
  return copy;
}

// Whether every record can be expressed in the format at all: 16-bit counts, and names the
// reader accepts. Writing anything else would replace a good pack with an unreadable one.
bool fitsFormat(const std::vector<ArchiveFile>& files) {
  if (files.size() > kMaxEntries) return false;
  for (const ArchiveFile& record : files)
    if (writtenName(record).size() > kMaxFieldLength) return false;
  return true;
}

// Every piece is its own item for the handler (record, name, separator), so that its flushes,
// which callers count as progress, fall where they always have.
WriteHandler::Result writeItem(WriteHandler& out, const std::string& bytes,
                               uint32_t& runningOffset) {
  runningOffset += static_cast<uint32_t>(bytes.size());
  return out.write(bytes.data(), bytes.size());
}

WriteHandler::Result writeName(WriteHandler& out, const ArchiveFile& record,
                               uint32_t& runningOffset) {
  auto written = writeItem(out, record.name, runningOffset);
  if (written && record.isFolder) return writeItem(out, "/", runningOffset);
  return written;
}

}  // namespace

// ---- Merging ----

platform::Result<KXFileSystem::MergeSummary, ArchiveError> KXFileSystem::mergePatch(
    KXFileSystem& patch) {
  events_->writerStep(WriterStep::Merging, 0);
  MergeSummary summary;
  ArchiveError firstFailure;
  for (size_t i = 0; i < patch.files.size(); ++i) {
    if (patch.files[i].name.empty()) continue;  // erased in memory: nothing to merge
    ArchiveFile& patchRecord = patch.files[i];
    if (isDeltaRecord(patchRecord)) {
      // Only what can be checked without rebuilding: the record's header and bounds, and an
      // installed entry of that name and size. The entry itself is rebuilt when it is written,
      // so that only the few rebuilt ahead of it are ever held, however many the patch carries.
      const ArchiveFailure failure = acceptDelta(patch, i);
      patch.files[i].data = BlockRef();
      patch.files[i].storedLoaded = false;
      if (failure != ArchiveFailure::None) {
        // The installed entry stays as it is; the caller must not let this archive pass.
        fail(failure, patch.files[i].name);
        if (!firstFailure) firstFailure = lastError_;
        continue;
      }
      ++summary.fromDeltas;
      ++summary.merged;
      continue;
    }
    // By position, whatever the method: the bytes are copied, never decompressed, and a read
    // by name would take "p 1" for a record named "p".
    if (!patchRecord.data || !patchRecord.storedLoaded) (void)patch.readStoredAsIs(i);
    mergeEntry(patch.files[i]);
    ++summary.merged;
  }
  dropErasedRecords();
  if (firstFailure) {
    lastError_ = firstFailure;
    return platform::fail(firstFailure);
  }
  return summary;
}

ArchiveFailure KXFileSystem::acceptDelta(KXFileSystem& patch, size_t index) {
  const ArchiveFile& deltaRecord = patch.files[index];
  if (deltaRecord.entry_.compressedSize > kMaxDeltaRecordBytes)
    return ArchiveFailure::DeltaRecordRefused;  // refused unread
  const BlockRef record = patch.readStoredAsIs(index);
  if (!record) return ArchiveFailure::DeltaRecordRefused;
  const auto view =
      delta::decodeDeltaRecord(record->data(), static_cast<size_t>(record->length()));
  if (!view) return ArchiveFailure::DeltaRecordRefused;
  // Paired by the exact name both archives stored, as the writer pairs whole entries.
  ArchiveFile* old = findRecord(deltaRecord.name);
  if (!old || old->name.empty() || old->isFolder) return ArchiveFailure::DeltaOldEntryMissing;
  // An entry of another size is another entry: refused before anything of it is read, so that
  // no oversized entry is ever inflated.
  if (old->entry_.uncompressedSize != view.value().header.oldSize)
    return ArchiveFailure::DeltaOldEntryDiffers;
  old->rebuildsFromDelta = true;
  old->rebuiltStoredSize = view.value().header.newStoredSize;
  rebuildPeaks_[old->name] =
      delta::deltaPeakBytes(view.value().header, static_cast<size_t>(record->length()));
  return ArchiveFailure::None;
}

ArchiveFailure KXFileSystem::readDeltaInputs(ArchiveFile& record, KXFileSystem& patch,
                                             bool silently, BlockRef* recordBytes,
                                             BlockRef* oldContents) {
  ArchiveFile* deltaRecord = patch.findRecord(record.name);
  if (!deltaRecord || !isDeltaRecord(*deltaRecord) ||
      deltaRecord->entry_.compressedSize > kMaxDeltaRecordBytes)
    return ArchiveFailure::DeltaRecordRefused;
  const size_t deltaIndex = static_cast<size_t>(deltaRecord - patch.files.data());
  if (silently) {
    // Closed, this archive would be reopened by a read, and its index made anew.
    if (!file_ || patch.loadStored(*deltaRecord, kMethodStored) != ArchiveFailure::None)
      return ArchiveFailure::DeltaRecordRefused;
    *recordBytes = deltaRecord->data;
  } else {
    *recordBytes = patch.readStoredAsIs(deltaIndex);
  }
  patch.files[deltaIndex].data = BlockRef();  // held by the rebuild only
  patch.files[deltaIndex].storedLoaded = false;
  if (!*recordBytes) return ArchiveFailure::DeltaRecordRefused;

  const size_t index = static_cast<size_t>(&record - files.data());
  *oldContents = readContentAt(index);
  record.data = BlockRef();  // the stored bytes the read may have attached are not kept
  record.storedLoaded = false;
  if (!*oldContents) return ArchiveFailure::DeltaOldEntryMissing;
  return ArchiveFailure::None;
}

ArchiveFailure KXFileSystem::rebuildFromDelta(ArchiveFile& record, KXFileSystem& patch,
                                              DeltaRebuilds* rebuilds) {
  const size_t index = static_cast<size_t>(&record - files.data());
  std::optional<RebuildOutcome> outcome;
  if (rebuilds && rebuilds->holds(index)) {
    outcome.emplace(rebuilds->take());
  } else {
    BlockRef recordBytes, oldContents;
    const ArchiveFailure failure =
        readDeltaInputs(record, patch, false, &recordBytes, &oldContents);
    if (failure != ArchiveFailure::None) return failure;
    outcome.emplace(rebuildEntry(std::move(recordBytes), std::move(oldContents)));
  }
  if (!*outcome) return deltaFailureKind(outcome->error().failure);
  return installRebuilt(record, patch, outcome->value());
}

ArchiveFailure KXFileSystem::installRebuilt(ArchiveFile& record, KXFileSystem& patch,
                                            delta::AppliedDelta& entry) {
  const ArchiveFile* deltaRecord = patch.findRecord(record.name);
  if (!deltaRecord) return ArchiveFailure::DeltaRecordRefused;
  const size_t length = entry.stored.size();
  RefPtr<RebuiltBytes> held(new RebuiltBytes(std::move(entry.stored)));
  BlockRef stored(new BinaryBlock(held->bytes.data(), static_cast<int32_t>(length), kReadLabel,
                                  RefPtr<ReferenceCount>(held.get())));
  // The patch's record carries the new entry's header fields; the delta gives its method,
  // sizes and bytes. The name stays the installed one, as for any replaced entry.
  record.header_ = deltaRecord->header_;
  record.entry_ = deltaRecord->entry_;
  record.header_.compressionMethod = record.entry_.compressionMethod = entry.method;
  record.header_.compressedSize = record.entry_.compressedSize = static_cast<uint32_t>(length);
  record.header_.uncompressedSize = record.entry_.uncompressedSize = entry.size;
  record.data = std::move(stored);
  record.storedLoaded = true;
  record.headerInFile = false;
  return ArchiveFailure::None;
}

void KXFileSystem::rebuildAhead(size_t at, KXFileSystem& patch, DeltaRebuilds& rebuilds,
                                size_t& next) {
  for (next = std::max(next, at); next < files.size(); ++next) {
    ArchiveFile& record = files[next];
    if (!record.rebuildsFromDelta) continue;
    const auto peak = rebuildPeaks_.find(record.name);
    const size_t peakBytes = peak != rebuildPeaks_.end() ? peak->second : kRebuildBudgetBytes;
    if (!rebuilds.admits(peakBytes)) return;
    BlockRef recordBytes, oldContents;
    // A read that fails here is tried again when the writer reaches the entry, which then
    // tells why in its place among the entries.
    if (readDeltaInputs(record, patch, true, &recordBytes, &oldContents) !=
        ArchiveFailure::None)
      continue;
    // A worker may release the blocks only when nothing else refers to them.
    if (recordBytes->refCount() != 1 || recordBytes->owner() || oldContents->refCount() != 1 ||
        oldContents->owner())
      continue;
    rebuilds.submit(next, std::move(recordBytes), std::move(oldContents), peakBytes);
  }
}

void KXFileSystem::mergeEntry(const ArchiveFile& patchRecord) {
  std::string key = normalisePath(patchRecord.name);
  auto found = fileMap_.find(patchRecord.name);

  if (found == fileMap_.end()) {
    ArchiveFile added;
    added.header_ = patchRecord.header_;
    added.entry_ = patchRecord.entry_;
    auto versions = versionCounts.find(patchRecord.name);
    if (versions != versionCounts.end()) {
      // The path already exists in several versions: the patch's content becomes the next one,
      // under the name the index knows it by.
      versions->second += 1;
      key += " " + std::to_string(versions->second);
    }
    added.name = key;
    added.isFolder = patchRecord.isFolder;
    added.data = patchRecord.data;
    added.storedLoaded = true;
    // The offset belongs to the patch file; in this archive the record has no bytes to read.
    added.entry_.localHeaderOffset = -1;
    files.push_back(std::move(added));
    fileMap_[key].index = static_cast<int32_t>(files.size() - 1);
    return;
  }

  const int32_t index = found->second.index;
  if (index < 0 || static_cast<size_t>(index) >= files.size()) return;

  if (carriesDeleteMarker(patchRecord)) {
    // Erased in place, like an in-memory erase: removing the record here would move every later
    // one and renumber the whole index, a pass over all records for each marker. The writer
    // drops erased records, and mergePatch closes the gaps once at its end.
    ArchiveFile& gone = files[static_cast<size_t>(index)];
    gone.name.clear();
    gone.data = BlockRef();
    fileMap_.erase(found);
    return;
  }

  // Replace: the installed record keeps its name and its place.
  ArchiveFile& record = files[static_cast<size_t>(index)];
  record.headerInFile = false;
  record.rebuildsFromDelta = false;  // whole bytes now take the place of a delta's
  if (patchRecord.data) {
    record.header_ = patchRecord.header_;
    record.entry_ = patchRecord.entry_;
    record.data = sizedCopy(patchRecord.data, patchRecord.header_.compressedSize);
  } else {
    // No readable patch bytes yet: takePatchData tries the patch once more when the archive is
    // written, and fails the write when they still cannot be had.
    record.header_.compressedSize = record.header_.uncompressedSize = 0;
    record.entry_.compressedSize = record.entry_.uncompressedSize = 0;
    record.data = BlockRef();
  }
  record.storedLoaded = true;
}

void KXFileSystem::dropErasedRecords() {
  const size_t before = files.size();
  files.erase(std::remove_if(files.begin(), files.end(),
                             [](const ArchiveFile& record) { return record.name.empty(); }),
              files.end());
  if (files.size() == before) return;
  for (size_t k = 0; k < files.size(); ++k) {
    auto mapped = fileMap_.find(files[k].name);
    if (mapped != fileMap_.end()) mapped->second.index = static_cast<int32_t>(k);
  }
}

// ---- Building an archive entry by entry ----

bool KXFileSystem::addEntry(const std::string& path, BlockRef content) {
  if (!content) return false;
  ArchiveFile record;
  record.name = normalisePath(path);
  record.isFolder = !path.empty() && path.back() == '/';  // a folder entry keeps its "/"
  record.data = std::move(content);
  record.entry_.localHeaderOffset = -1;
  prepareHeader(record, true);
  record.entry_.fileNameLength = record.header_.fileNameLength;
  mergeEntry(record);
  return true;
}

void KXFileSystem::addRawEntry(const ArchiveFile& record) { mergeEntry(record); }

void KXFileSystem::addDeleteMarker(const ArchiveFile& original) {
  ArchiveFile marker;
  marker.name = original.name;
  marker.header_ = original.header_;
  marker.header_.flag = kDeleteMarker;
  marker.header_.compressedSize = 0;
  marker.header_.uncompressedSize = 0;
  marker.header_.compressionMethod = kMethodStored;
  marker.entry_ = original.entry_;
  marker.entry_.flag = kDeleteMarker;
  marker.entry_.compressedSize = 0;
  marker.entry_.uncompressedSize = 0;
  marker.entry_.compressionMethod = kMethodStored;
  marker.data = BinaryBlock::fromString(std::string(), kReadLabel);
  marker.storedLoaded = true;
  // Merged over an entry of the same name, the marker would remove it and leave nothing.
  auto existing = fileMap_.find(marker.name);
  if (existing != fileMap_.end()) {
    const int32_t index = existing->second.index;
    if (index >= 0 && static_cast<size_t>(index) < files.size()) {
      files[static_cast<size_t>(index)].name.clear();
      files[static_cast<size_t>(index)].data = BlockRef();
    }
    fileMap_.erase(existing);
  }
  mergeEntry(marker);
}

// ---- Writing ----

bool KXFileSystem::storedRange(const ArchiveFile& record, int64_t* start) {
  const DirectoryEntry& e = record.entry_;
  if (e.localHeaderOffset < 0 || !ensureHandle()) return false;
  // Where the reader finds an entry's data: behind the local header and the name and extra
  // field lengths of the directory record.
  *start = static_cast<int64_t>(e.localHeaderOffset) + static_cast<int64_t>(kLocalHeaderSize) +
           e.fileNameLength + e.extraFieldLength;
  // Any method: the writer copies stored bytes as they are and never needs to understand them.
  return *start + static_cast<int64_t>(e.compressedSize) <= archiveSize;
}

bool KXFileSystem::copiesAsInFile(const ArchiveFile& record, const LocalHeader& asRead,
                                  const std::string& headerBytes, int64_t dataStart) const {
  // Untouched since open (no bytes attached, header and name as read), written under the name
  // the file holds, with the data right behind the name, and no field cleaned on the way.
  return record.headerInFile && !record.data && !record.storedLoaded && !record.isFolder &&
         dataStart == static_cast<int64_t>(record.entry_.localHeaderOffset) +
                          static_cast<int64_t>(kLocalHeaderSize + record.name.size()) &&
         encodeLocalHeader(asRead) == headerBytes;
}

bool KXFileSystem::copyStored(const ArchiveFile& record, WriteHandler& out) {
  int64_t start = 0;
  FILE* source = storedRange(record, &start) ? file_ : nullptr;
  return outputAccepted(out.copyRange(source, start, record.entry_.compressedSize));
}

bool KXFileSystem::outputAccepted(const WriteHandler::Result& written) {
  if (written) return true;
  const ArchiveError& error = written.error();
  return fail(error.failure, error.subject, error.systemCode);
}

bool KXFileSystem::takePatchData(ArchiveFile& record, KXFileSystem* patch,
                                 ArchiveError* keptOld, DeltaRebuilds* rebuilds) {
  if (record.rebuildsFromDelta) {
    record.rebuildsFromDelta = false;
    // Without the patch the merge took the delta from, the entry cannot be had whole.
    if (!patch) return fail(ArchiveFailure::EntryUnavailable, record.name);
    const ArchiveFailure failure = rebuildFromDelta(record, *patch, rebuilds);
    if (failure == ArchiveFailure::None) return true;
    // Never a guessed entry: the installed one is written as it is, and only for a caller
    // that takes the archive for what it is (see createNewZip).
    fail(failure, record.name);
    if (!keptOld) return false;
    if (!*keptOld) *keptOld = lastError_;
  }
  if ((!record.data || !record.storedLoaded) && record.entry_.localHeaderOffset >= 0) {
    // An entry that can be read is copied from the file when it is written; one that cannot
    // goes through the reader, which logs why, and fails the write below.
    record.data = BlockRef();
    int64_t start = 0;
    if (!storedRange(record, &start)) {
      const size_t index = static_cast<size_t>(&record - files.data());
      (void)readStoredAsIs(index);
      if (!record.data) return false;
    }
  }
  if (!patch) return true;

  // Paired by the exact name both archives stored: version resolution is for reading a path,
  // and would hand "p" the bytes of "p 1".
  const ArchiveFile* source = patch->findRecord(record.name);
  // A delta record was applied above (or, failing that, left the installed entry as it is):
  // its bytes are never an entry's.
  if (!source || isDeltaRecord(*source)) return true;
  record.headerInFile = false;
  if (!source->data || !source->storedLoaded) {
    (void)patch->readStoredAsIs(static_cast<size_t>(source - patch->files.data()));
    source = patch->findRecord(record.name);
    if (!source) return true;
  }
  if (source->data) {
    // The record takes the patch's description with its bytes (a merge that found no bytes at
    // first had set its sizes to 0), so that the two always agree.
    record.header_ = source->header_;
    record.data = sizedCopy(source->data, source->header_.compressedSize);
    return record.data ? true : fail(ArchiveFailure::EntryNoMemory, record.name);
  }
  // The patch announces bytes it cannot deliver. Written empty, the entry would replace the
  // pack's own, good one with nothing, in a file that then takes the pack's place.
  events_->entryNote(EntryNote::StoredSizeWrong, record.name, source->header_.compressedSize);
  return fail(ArchiveFailure::EntryUnavailable, record.name);
}

bool KXFileSystem::writeLocalEntry(ArchiveFile& record, WriteHandler& out,
                                   uint32_t& runningOffset) {
  record.newHeaderOffset = runningOffset;
  const LocalHeader asRead = record.header_;
  LocalHeader& header = record.header_;
  header.signature = kLocalHeaderSignature;
  header.reserved4 = 0;
  header.reserved22 = 0;
  header.reserved24 = 0;
  if (header.flag != kDeleteMarker) header.flag = 0;

  header.fileNameLength = static_cast<uint16_t>(writtenName(record).size());

  if (header.extraFieldLength != 0) {
    events_->entryNote(EntryNote::ExtraFieldDropped, record.name, header.extraFieldLength);
    header.extraFieldLength = 0;  // the extra bytes are never copied
  }

  // An entry is written whole or not at all: bytes that cannot be had, or fewer than the record
  // describes, would put a broken entry into a file that then takes the pack's place.
  int64_t start = 0;
  const bool copied = !record.data && storedRange(record, &start);
  const uint32_t dataLength = record.data ? static_cast<uint32_t>(record.data->length())
                                          : copied ? record.entry_.compressedSize : 0;
  if (header.compressedSize != dataLength) {
    events_->entryNote(EntryNote::StoredSizeWrong, record.name, header.compressedSize);
    return fail(ArchiveFailure::EntrySizeMismatch, record.name);
  }
  if (!record.data && !copied) {
    header.uncompressedSize = 0;
    header.compressionMethod = kMethodStored;
  }

  const std::string headerBytes = encodeLocalHeader(header);
  if (copied && copiesAsInFile(record, asRead, headerBytes, start)) {
    // Header, name and data as three items, as below, but all from the file: consecutive
    // entries of the installed pack then reach the output in one copy.
    const int64_t headerAt = record.entry_.localHeaderOffset;
    for (const auto& item : {std::make_pair(headerAt, kLocalHeaderSize),
                             std::make_pair(headerAt + static_cast<int64_t>(kLocalHeaderSize),
                                            record.name.size()),
                             std::make_pair(start, static_cast<size_t>(dataLength))}) {
      if (!outputAccepted(out.copyRange(file_, item.first, item.second))) return false;
      runningOffset += static_cast<uint32_t>(item.second);
    }
    return true;
  }

  if (!outputAccepted(writeItem(out, headerBytes, runningOffset)) ||
      !outputAccepted(writeName(out, record, runningOffset)))
    return false;

  if (record.data) {
    const size_t length = static_cast<size_t>(record.data->length());
    runningOffset += static_cast<uint32_t>(length);
    const auto written = out.write(record.data->data(), length);
    record.data = BlockRef();  // written: the bytes are not needed again
    return outputAccepted(written);
  }
  if (copied) {
    runningOffset += dataLength;
    return copyStored(record, out);  // a short read fails the whole file
  }
  return true;
}

bool KXFileSystem::writeDirectoryEntry(ArchiveFile& record, WriteHandler& out,
                                       uint32_t& runningOffset) {
  const LocalHeader& header = record.header_;
  DirectoryEntry entry;
  entry.signature = kDirectoryEntrySignature;
  entry.compressedSize = header.compressedSize;
  entry.uncompressedSize = header.uncompressedSize;
  entry.compressionMethod = header.compressionMethod;
  entry.version = header.version;
  entry.versionAgain = header.version;
  entry.localHeaderOffset = static_cast<int32_t>(record.newHeaderOffset);
  entry.fileNameLength = header.fileNameLength;  // agrees with the name writeLocalEntry wrote
  record.entry_ = entry;

  return outputAccepted(writeItem(out, encodeDirectoryEntry(entry), runningOffset)) &&
         outputAccepted(writeName(out, record, runningOffset));
}

int64_t KXFileSystem::plannedLength(KXFileSystem* patch) {
  int64_t length = static_cast<int64_t>(kFooterSize);
  for (const ArchiveFile& record : files) {
    // The patch's bytes take the record's place when it has a record of that name.
    const ArchiveFile* source = patch ? patch->findRecord(record.name) : nullptr;
    if (source && isDeltaRecord(*source)) source = nullptr;
    uint32_t stored = (source ? source : &record)->header_.compressedSize;
    if (record.rebuildsFromDelta) stored = record.rebuiltStoredSize;
    length += static_cast<int64_t>(kLocalHeaderSize + kDirectoryEntrySize +
                                   2 * writtenName(record).size()) + stored;
  }
  return length;
}

KXFileSystem::Outcome KXFileSystem::createNewZip(const std::string& archivePath,
                                                 KXFileSystem* patch) {
  platform::ReplacementFile output(archivePath);
  if (!writeNewZip(output, patch, nullptr)) return outcomeOf(false);
  output.leave();
  return platform::Done{};
}

KXFileSystem::Outcome KXFileSystem::createNewZip(platform::ReplacementFile& output,
                                                 KXFileSystem* patch, ArchiveError* keptOld) {
  return outcomeOf(writeNewZip(output, patch, keptOld));
}

bool KXFileSystem::writeNewZip(platform::ReplacementFile& output, KXFileSystem* patch,
                               ArchiveError* keptOld) {
  if (keptOld) *keptOld = ArchiveError();
  events_->writerStep(WriterStep::Started, 0);
  // Records erased in memory keep an empty name; they are not entries any more.
  dropErasedRecords();
  // std::string compares as unsigned bytes, the order the format requires.
  std::sort(files.begin(), files.end(),
            [](const ArchiveFile& a, const ArchiveFile& b) { return a.name < b.name; });
  for (size_t k = 0; k < files.size(); ++k) {
    auto mapped = fileMap_.find(files[k].name);
    if (mapped != fileMap_.end()) mapped->second.index = static_cast<int32_t>(k);
  }
  events_->writerStep(WriterStep::Sorted, 0);

  closeHandle();
  const std::string& tempPath = output.temporaryPath();
  if (!fitsFormat(files)) return fail(ArchiveFailure::DoesNotFitFormat, tempPath);
  // Entries are copied from the file in large pieces; stdio's own buffer would only add a copy.
  if (ensureHandle()) std::setvbuf(file_, nullptr, _IONBF, 0);
  // Creating the output over the archive being copied would destroy it before it is read.
  if (tempPath == path_) return fail(ArchiveFailure::OutputIsSource, tempPath);
  // Made anew: a leftover of a killed run, or a link planted under this name, is removed first.
  const auto created = output.open();
  if (!created) return fail(ArchiveFailure::CannotCreate, tempPath, created.error());
  FILE* file = created.value();
  WriteHandler out(file, WriteHandler::kBufferBytes, events_, false, tempPath);
  // The reason was kept where the failure happened; this only cleans up.
  auto abandon = [&]() {
    for (ArchiveFile& record : files) record.data = BlockRef();
    out.release();
    output.rollBack();
    return false;
  };
  auto tooLarge = [&]() {
    fail(ArchiveFailure::TooLarge, tempPath);
    return abandon();
  };
  if (!out.hasBuffer()) {
    fail(ArchiveFailure::WriterNoMemory, tempPath);
    return abandon();
  }

  out.setExpectedTotal(plannedLength(patch));
  events_->writerStep(WriterStep::OutputReady, 0);
  events_->writerStep(WriterStep::WritingEntries, 0);

  // Delta entries are rebuilt ahead on workers when there are cores for more than one and
  // entries for more than one; otherwise each as the writer reaches it, on its own thread.
  size_t deltaEntries = 0;
  for (const ArchiveFile& record : files) deltaEntries += record.rebuildsFromDelta ? 1 : 0;
  const unsigned workers = static_cast<unsigned>(std::min<size_t>(
      {std::thread::hardware_concurrency(), kMaxRebuildWorkers, deltaEntries}));
  std::optional<DeltaRebuilds> rebuilds;
  if (patch && workers > 1) rebuilds.emplace(workers, kRebuildBudgetBytes);
  size_t nextAhead = 0;

  uint32_t runningOffset = 0;
  for (size_t k = 0; k < files.size(); ++k) {
    ArchiveFile& record = files[k];
    if (rebuilds) rebuildAhead(k, *patch, *rebuilds, nextAhead);
    if (!takePatchData(record, patch, keptOld, rebuilds ? &*rebuilds : nullptr) ||
        !writeLocalEntry(record, out, runningOffset))
      return abandon();
    if (out.total() > kMaxArchiveBytes) return tooLarge();
  }
  rebuilds.reset();

  events_->writerStep(WriterStep::EntriesWritten, 0);
  const uint32_t directoryOffset = runningOffset;
  for (ArchiveFile& record : files)
    if (!writeDirectoryEntry(record, out, runningOffset)) return abandon();

  events_->writerStep(WriterStep::DirectoryWritten, 0);
  ArchiveFooter footer;
  footer.directorySize = runningOffset - directoryOffset;
  footer.signature = kFooterSignature;
  footer.directoryOffset = directoryOffset;
  footer.entryCount = footer.entryCountAgain = static_cast<uint16_t>(files.size());
  const std::string footerBytes = encodeArchiveFooter(footer);
  if (!outputAccepted(out.write(footerBytes.data(), footerBytes.size()))) return abandon();
  if (out.total() > kMaxArchiveBytes) return tooLarge();

  events_->writerStep(WriterStep::FooterWritten, out.total());
  const int64_t expected = static_cast<int64_t>(runningOffset) + static_cast<int64_t>(kFooterSize);
  if (expected != out.total()) events_->writerStep(WriterStep::OffsetMismatch, expected);
  for (ArchiveFile& record : files) record.data = BlockRef();
  events_->writerStep(WriterStep::Released, out.total());
  const auto flushed = out.flush();
  events_->writerStep(WriterStep::Flushed, 0);

  // Only a file that is wholly on the disk may take the installed pack's place.
  out.release();
  if (!flushed) {
    (void)outputAccepted(flushed);
  } else if (expected != out.total()) {
    fail(ArchiveFailure::WriteFailed, tempPath);
  } else if (const auto finished = output.finish(); !finished) {
    fail(ArchiveFailure::NotOnDisk, tempPath, finished.error());
  } else {
    return true;
  }
  output.rollBack();
  return false;
}

// ---- Checksums of a damaged result ----

std::string KXFileSystem::checksumText(const void* bytes, size_t length) {
  // The same CRC-32 as zlib's crc32 from 0, through the fastest kernel of this processor: a
  // damaged pack's checksums cover every entry of it.
  return crcText(bytes ? crc32Update(0, bytes, length) : 0);
}

std::string KXFileSystem::entryChecksums() {
  std::string text;
  for (size_t index = 0; index < files.size(); ++index) {
    ArchiveFile& record = files[index];
    if (record.name.empty()) continue;
    // By position: a read by name would give "p" the checksum of "p 1".
    const BlockRef stored = readStoredAt(index);
    text += record.name;
    text += ' ';
    text += stored ? checksumText(stored->data(), static_cast<size_t>(stored->length()))
                   : checksumText(nullptr, 0);
    text += ' ';
    // Only one entry's bytes are held at a time, however large the pack.
    record.data = BlockRef();
    record.storedLoaded = false;
  }
  for (ArchiveFile& record : files) record.data = BlockRef();
  closeHandle();
  return text;
}
