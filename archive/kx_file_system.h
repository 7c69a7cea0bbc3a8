// KXFileSystem: one .kx archive seen through IFileSystem. Opening reads only the central
// directory and one local header per entry and builds an index; entry data is read on demand
// through the one read-only handle kept open until closeArchive. The same index is what patch
// merging, in-memory editing and the archive writer work on.
//
// Single-threaded: all operations share the handle's file position.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_events.h"
#include "archive/file_system.h"
#include "archive/kx_format.h"
#include "platform/replacement_file.h"
#include "platform/result.h"
#include "sections/binary_block.h"

class WriteHandler;
class DeltaRebuilds;
namespace delta {
struct AppliedDelta;
}

// "\" becomes "/", runs of "/" become one, then one leading and one trailing "/" are removed.
[[nodiscard]] std::string normalisePath(const std::string& path);

// One entry of the archive, as indexed from the directory or created in memory.
struct ArchiveFile {
  std::string name;            // normalised path, no trailing "/"; empty once erased
  BlockRef data;               // content attached in memory, or none
  // Copy of the local header as read from the file, except that its sizes and method are the
  // directory record's: readers go by the directory, so the writer must too, or one damaged
  // local field (outside every fingerprint window) would be carried into the new directory.
  LocalHeader header_;
  DirectoryEntry entry_;       // copy of the directory record (localHeaderOffset -1: not in file)
  uint32_t newHeaderOffset = 0;  // used only while writing
  bool storedLoaded = false;     // data holds the entry's bytes exactly as stored
  // The name the archive stored ended in "/": written back with it, and only then.
  bool isFolder = false;
  // Set at open when the file holds, at entry_.localHeaderOffset, exactly header_ and name
  // followed by the stored bytes; cleared by anything that changes header_ or name. The writer
  // then copies the whole entry from the file instead of writing header and name itself.
  bool headerInFile = false;
  // Set by a merge whose patch carries a delta of this entry that passed the checks made
  // without rebuilding it: header_ and entry_ still describe the installed entry, from which
  // the writer rebuilds the new one when it reaches it. rebuiltStoredSize: its stored size.
  bool rebuildsFromDelta = false;
  uint32_t rebuiltStoredSize = 0;
};

struct FileMapEntry {
  int32_t index = 0;     // position of the record in `files`
  int32_t position = 0;  // position of the leaf name in its directory's listing
};

struct DirectoryListing {
  std::vector<std::string> names;      // leaf names, version suffix included
  std::vector<std::string> baseNames;  // the same names cut at their first space
};

class KXFileSystem : public IFileSystem {
 public:
  // The answer of an operation that gives nothing back: done, or why not.
  using Outcome = platform::Result<platform::Done, ArchiveError>;

  // Opens and indexes the archive at `path`. A failed open is not reported here: the file
  // system then behaves as an empty archive, and lastError() says why. `events` (none: silent)
  // hears of every failure and of the steps of a rewrite; it must outlive the archive.
  explicit KXFileSystem(const std::string& path, ArchiveEvents* events = nullptr);
  ~KXFileSystem() override;
  KXFileSystem(const KXFileSystem&) = delete;
  KXFileSystem& operator=(const KXFileSystem&) = delete;

  // ---- IFileSystem ----
  FileType getFileType(const std::string& path, FileInfo* info) override;
  FileType getFileTypeEx(const std::string& path, FileInfo* info) override;
  std::string formatFileTime(uint64_t value) override;
  std::vector<std::string> readDirectory(const std::string& path) override;
  BlockRef readFile(const std::string& directory, int32_t index) override;
  BlockRef readFile(const std::string& path) override;
  bool rejectPath(const std::string& path) override;
  bool storeFile(const std::string& path, BlockRef data, int32_t mode) override;
  bool rejectPathPair(const std::string& first, const std::string& second) override;
  bool eraseFileOrDirectory(const std::string& path) override;
  FILE* openHostFile(const std::string& path, const char* mode) override;
  std::string emptyPathOf(const std::string& path) override;
  std::string samePathOf(const std::string& path) override;
  void ignoreNote(const std::string& note) override;
  FileSystemRef clone() override;
  // Reads and decompresses one entry by exact path. The result is not kept: each call reads
  // the file again. None when the entry is missing, not in the file, uses an unknown method,
  // lies outside the file or does not inflate to exactly its recorded size.
  BlockRef readFileInternal(const std::string& path) override;

  // ---- Reading ----
  const std::string& path() const { return path_; }
  // Where failures and the steps of a rewrite are told from now on (none: nowhere); it must
  // outlive the archive or be replaced before it ends.
  void setEvents(ArchiveEvents* events) { events_ = events ? events : &silentArchiveEvents(); }
  // Why the last operation that failed did; failure None when none has. For the open at
  // construction and the IFileSystem operations, whose answers have no room for a reason;
  // openZip, mergePatch and createNewZip answer theirs.
  const ArchiveError& lastError() const { return lastError_; }
  int32_t entryCount() const { return static_cast<int32_t>(files.size()); }
  // The records in their current order (directory order after open).
  const std::vector<ArchiveFile>& records() const { return files; }

  // Opens the file and builds the index; fails with why it could not (also lastError()). On an
  // archive already indexed it only reopens the handle.
  [[nodiscard]] Outcome openZip();
  // Whether the archive's file is open; right after construction or openZip, whether the file
  // was found and indexed (false for a path that is missing or not an archive, and for one
  // whose index could not be made, for want of memory too).
  bool isOpen() const { return file_ != nullptr; }
  // Closes the handle and forgets the whole index, releasing every attached block.
  void closeArchive();
  // Reads an entry's bytes as stored (not decompressed), attaches them to its record and
  // returns them; a failure leaves the record unchanged.
  BlockRef readStored(const std::string& name);
  // Record `index` of records() read by position. A read by name goes through version
  // resolution, under which a record named "p" next to one named "p 1" (or "p anything")
  // cannot be reached; whatever walks the records reads by position.
  // readStoredAt: as readStored. readContentAt: the content decompressed, exactly as many
  // bytes as the record declares (a record declaring none stored and none decompressed is an
  // empty block); none when it cannot be read or comes out another size.
  BlockRef readStoredAt(size_t index);
  // As readStoredAt, for an entry of any method: for copying bytes that are never decompressed.
  BlockRef readStoredAsIs(size_t index);
  BlockRef readContentAt(size_t index);
  // Attaches the stored bytes of every record without data, in order, silently; stops at the
  // first record it cannot load.
  void loadAllStored();
  // Inflates the stored bytes of a deflated entry. With `expectedSize` (the entry's recorded
  // uncompressed size) the stream must produce exactly that many bytes; without it the output
  // may be at most 30 times the input. Returns none, never a partial result, when the stream is
  // corrupt, unfinished or too large, so that "failed" stays distinct from "empty".
  static constexpr int64_t kUnknownSize = -1;
  BlockRef inflateStored(BlockRef block, int64_t expectedSize = kUnknownSize);

  // Rewrites a caller's path in place: normalised; with stripArchivePrefix, everything up to
  // and including this archive's own path and one separator is dropped, and a trailing
  // separator-and-dot is removed.
  void zip_resolvePath(std::string& path, bool stripArchivePrefix) const;
  // A path stored in several versions ("p 1", "p 2", ...) is read as version 1.
  void resolveVersionName(std::string& path) const;

  // ---- Rewriting (merging a patch and writing the result) ----
  // What a merge did: how many records it merged, and how many of those are deltas the
  // writer will rebuild.
  struct MergeSummary {
    size_t merged = 0;
    size_t fromDeltas = 0;
  };
  // Merges every record of `patch` into this archive's index (add, replace or delete). A
  // delta record (kMethodDelta) is checked here without being applied: its header and bounds,
  // and an entry of this archive of the same name and the old size it names. The writer
  // rebuilds the entry (old contents' CRC-32 checked, delta decoded, result deflated with the
  // recorded settings and checked) a few entries ahead of it at most, within a memory budget,
  // so that a patch of many large deltas holds a few rebuilt entries at most. When a delta
  // fails here (no such entry, another size, a malformed record) that entry is left as it is,
  // never guessed, the other records are still merged, and the answer is the first such
  // failure (also lastError()): the archive then holds an old entry and must not take the new
  // one's place.
  [[nodiscard]] platform::Result<MergeSummary, ArchiveError> mergePatch(KXFileSystem& patch);
  // Writes this archive to archivePath + "temp", announcing its steps to the events. `patch`
  // (may be null) is the archive merged before. Done only when a complete file was written,
  // on the disk; an entry whose bytes cannot be had, on either side, or a delta that does not
  // rebuild its entry fails it and removes the file, and the answer says why (also
  // lastError()).
  [[nodiscard]] Outcome createNewZip(const std::string& archivePath, KXFileSystem* patch);
  // As above, into `output` (target: the archive's new place): on success it holds the
  // finished file, ready to be committed; on failure it has been rolled back. With `keptOld`,
  // a delta that does not rebuild its entry (told to the events as it is found) leaves the
  // installed entry in its place instead of failing the write: the file is completed, and
  // *keptOld names the first such entry and why (None when every delta rebuilt its entry).
  // Such a file is not the new archive: it is for a caller that examines it (the installer
  // fingerprints it to report the failed update), never to be committed.
  [[nodiscard]] Outcome createNewZip(platform::ReplacementFile& output, KXFileSystem* patch,
                                     ArchiveError* keptOld = nullptr);
  // The CRC-32 of every entry's stored bytes, as "name crc " for each in order; closes the
  // archive's handle afterwards.
  [[nodiscard]] std::string entryChecksums();
  // CRC-32 (initial 0) as 8 lower-case hexadecimal digits; "00000000" for no bytes.
  static std::string checksumText(const void* bytes, size_t length);

  // ---- Building a patch or an archive of given contents (the release tools) ----
  // Unlike storeFile, these keep no versions and make no folder records: the archive gets
  // exactly the entries it is given, written by the next createNewZip.
  // Adds `content` under `path` (normalised), compressed as storeFile compresses it, or in
  // place of the entry of that name; a `path` ending in "/" is a folder entry. False when
  // there is no content.
  bool addEntry(const std::string& path, BlockRef content);
  // Adds another archive's record as it is (header, directory record and, attached, its
  // stored bytes, never decompressed), or in place of the entry of that name; a record
  // carrying the delete marker removes the entry, as in mergePatch.
  void addRawEntry(const ArchiveFile& record);
  // Adds an entry that asks whoever merges this archive to remove `original`'s path: the
  // record's header with the delete marker, no bytes, sizes 0, stored. It takes the place of
  // an entry of that name.
  void addDeleteMarker(const ArchiveFile& original);

 private:
  // ---- Merging and writing ----
  void mergeEntry(const ArchiveFile& patchRecord);
  // The merge's checks of the delta record at `index` of `patch`, made without applying it;
  // on success the installed entry of that name is marked to be rebuilt. None, or why not.
  ArchiveFailure acceptDelta(KXFileSystem& patch, size_t index);
  // Rebuilds `record` (marked by acceptDelta) from its installed entry and `patch`'s delta
  // record of that name, giving it the new entry's header and stored bytes: the outcome
  // `rebuilds` (may be null) holds for it, or rebuilt here. None, or why not; on failure the
  // record is as it was.
  ArchiveFailure rebuildFromDelta(ArchiveFile& record, KXFileSystem& patch,
                                  DeltaRebuilds* rebuilds);
  // What a rebuild needs read, on the writer's thread: the delta record's bytes and the old
  // contents. With `silently` a failed read tells nothing (and this archive's handle, when
  // closed, is not reopened), so that it can be tried again, and told, when the writer
  // reaches the entry.
  ArchiveFailure readDeltaInputs(ArchiveFile& record, KXFileSystem& patch, bool silently,
                                 BlockRef* recordBytes, BlockRef* oldContents);
  // Gives `record` the entry `applied` rebuilt from `patch`'s delta record of its name.
  ArchiveFailure installRebuilt(ArchiveFile& record, KXFileSystem& patch,
                                delta::AppliedDelta& applied);
  // Hands `rebuilds` the delta entries from record `at` on, in order, while it admits them;
  // `next` is the first record not yet considered.
  void rebuildAhead(size_t at, KXFileSystem& patch, DeltaRebuilds& rebuilds, size_t& next);
  // Removes the records erased in memory and renumbers the index, in one pass.
  void dropErasedRecords();
  // The length of the archive createNewZip writes, when every entry is written whole.
  int64_t plannedLength(KXFileSystem* patch);
  // Gives the record its bytes for writing: from `patch` when the patch holds a record of the
  // same name, rebuilt when it is a delta. False when either archive announces bytes it cannot
  // deliver, or a delta does not rebuild its entry and `keptOld` is null (see createNewZip).
  [[nodiscard]] bool takePatchData(ArchiveFile& record, KXFileSystem* patch,
                                   ArchiveError* keptOld, DeltaRebuilds* rebuilds);
  // False, writing nothing of the entry, when its bytes cannot be had whole; false too when
  // the output does not take them. lastError() says why.
  [[nodiscard]] bool writeLocalEntry(ArchiveFile& record, WriteHandler& out,
                                     uint32_t& runningOffset);
  // False when the output does not take the record (lastError() says why).
  [[nodiscard]] bool writeDirectoryEntry(ArchiveFile& record, WriteHandler& out,
                                         uint32_t& runningOffset);

  // ---- In-memory editing ----
  void updateFile(const std::string& path, BlockRef data);
  void prepareHeader(ArchiveFile& record, bool clearFirst);
  // Raw deflate (level 6); none when the output would not be smaller than the input + 1.
  static BlockRef compressEntry(const BlockRef& block);

  // ---- Reading ----
  // The content of record `index` as readFileInternal hands it out: a stored record's bytes
  // as they are, a deflated one inflated to its declared size.
  BlockRef loadContent(size_t index);
  void closeHandle();
  // Opens path_ for reading when no handle is open; false when that fails.
  [[nodiscard]] bool ensureHandle();
  // Builds the index from the open handle; logs, closes and returns false on a bad archive.
  [[nodiscard]] bool readIndex();
  // The folder listing the previous record went to, valid while one index is being built.
  struct LastFolder {
    std::string parent;
    DirectoryListing* listing = nullptr;
  };
  void indexRecord(const DirectoryEntry& entry, const LocalHeader& header, std::string name,
                   bool isFolder, bool headerInFile, LastFolder& last);
  // Keeps `failure` as the last error and tells the events; returns false.
  bool fail(ArchiveFailure failure, const std::string& subject, uint32_t systemCode = 0);
  // The answer of a step that kept its reason through fail(): done, or the last error.
  Outcome outcomeOf(bool done) const;
  // createNewZip's work; false, with the reason kept through fail(), when it fails.
  [[nodiscard]] bool writeNewZip(platform::ReplacementFile& output, KXFileSystem* patch,
                                 ArchiveError* keptOld);
  // Loads the record's stored bytes through the handle (opening it when closed), checking
  // `method` as the caller's rule requires, and attaches them. Reports nothing: None, or why
  // it could not.
  ArchiveFailure loadStored(ArchiveFile& record, uint16_t method);
  // readStoredAt with `method` in place of the record's own for loadStored's check.
  BlockRef readStoredAs(size_t index, uint16_t method);
  // Seeks to the record's data; false when it would start outside the archive or the seek
  // fails. Sets *dataEnd to where the stored bytes end (may lie past the archive's end).
  [[nodiscard]] bool seekToData(const ArchiveFile& record, int64_t* dataEnd);
  // Content of an entry from its stored bytes, exactly entry_.uncompressedSize long.
  static BlockRef decodeContent(const ArchiveFile& record, const unsigned char* stored,
                                size_t storedLength);
  // The record a path names after fileMap_ lookup, or nullptr.
  ArchiveFile* findRecord(const std::string& exactPath);
  FileType probeNestedArchive(const ArchiveFile& record);
  // The writer copies unchanged entries from this archive's file straight into its output, so
  // that no entry's bytes are held in memory. storedRange makes readStored's checks without
  // reading or seeking and gives where the stored bytes start; copyStored copies them, false
  // when the copy came up short.
  [[nodiscard]] bool storedRange(const ArchiveFile& record, int64_t* start);
  [[nodiscard]] bool copyStored(const ArchiveFile& record, WriteHandler& out);
  // True when the writer's output took the bytes; otherwise keeps its failure as the last
  // error, tells the events, and returns false.
  [[nodiscard]] bool outputAccepted(const platform::Result<platform::Done, ArchiveError>& written);
  // Whether the bytes the writer is about to write for `record` (header `headerBytes`, its
  // name, then the stored bytes from `dataStart`) are exactly the file's at the record's
  // offset. `asRead` is header_ as it was before the writer cleaned it.
  [[nodiscard]] bool copiesAsInFile(const ArchiveFile& record, const LocalHeader& asRead,
                                    const std::string& headerBytes, int64_t dataStart) const;

  std::string path_;
  ArchiveEvents* events_;
  ArchiveError lastError_;
  FILE* file_ = nullptr;
  int32_t archiveSize = 0;
  std::vector<ArchiveFile> files;
  std::map<std::string, FileMapEntry> fileMap_;
  std::map<std::string, DirectoryListing> directories;
  std::map<std::string, int32_t> versionCounts;
  // By record name, the estimated peak memory of rebuilding the entry from its delta, set
  // when the merge accepts the delta.
  std::map<std::string, size_t> rebuildPeaks_;
};

using KXFileSystemRef = RefPtr<KXFileSystem>;
