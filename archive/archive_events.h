// What the archive library tells its caller. It never logs, prints or shows anything itself:
// a failure is kept as the archive's last error (and its operation returns false or an empty
// block), and the steps of a rewrite and the bytes it has written are announced through
// ArchiveEvents, which the caller implements. The library has no scale of its own: the
// installer's run turns the steps and byte counts into its log lines, console percentages and
// launcher shares; the tools into a progress bar, or nothing.
#pragma once

#include <cstdint>
#include <string>

enum class ArchiveFailure : uint8_t {
  None = 0,
  // Opening and indexing (subject: the archive's path).
  CannotOpen,             // systemCode says why
  FooterNotFound,         // too short, too long, or the seek failed
  FooterUnreadable,
  BadFooterSignature,
  DirectoryNotFound,
  DirectoryUnreadable,    // short, or records running past the directory
  DirectoryNoMemory,
  BadDirectorySignature,
  NameTooLong,
  ExtraFieldTooLong,
  CommentTooLong,
  BadLocalHeaderOffset,
  // Reading an entry's bytes (subject: the entry's name, or the path asked for).
  NoArchivePath,
  EntryNotIndexed,
  EntryNotInFile,         // made in memory: the file holds no bytes for it
  ReopenFailed,
  SeekFailed,
  UnknownMethod,
  EntryNoMemory,
  ReadFailed,             // short read, or bytes past the archive's end
  // Writing a new archive (subject: the output path, or the entry that stopped it).
  DoesNotFitFormat,       // more than 65,535 entries, or a name too long
  OutputIsSource,
  CannotCreate,
  WriterNoMemory,
  EntryUnavailable,       // an entry's bytes cannot be had whole, on either side
  EntrySizeMismatch,      // the bytes there are differ from the size the record declares
  WriteFailed,            // systemCode says why
  TooLarge,               // the output would reach 2 GiB
  NotOnDisk,              // the final flush or close failed
  // Merging a delta record (subject: the entry's name).
  DeltaRecordRefused,     // malformed, or declares sizes above the bounds
  DeltaOldEntryMissing,   // the installed pack holds no entry of that name, or cannot read it
  DeltaOldEntryDiffers,   // the installed entry is not the one the delta was made from
  DeltaNotReproduced,     // decoding or re-deflating did not give the recorded entry
  DeltaNotCopyable,       // a delta record was to be copied as an entry's stored bytes
};

struct ArchiveError {
  ArchiveFailure failure = ArchiveFailure::None;
  uint32_t systemCode = 0;
  std::string subject;

  explicit operator bool() const { return failure != ArchiveFailure::None; }
};

// Whether `failure` is a delta record's that could not rebuild its entry (merging or writing):
// the archive holds the installed entry there, not the new one.
[[nodiscard]] inline bool isDeltaFailure(ArchiveFailure failure) {
  return failure == ArchiveFailure::DeltaRecordRefused ||
         failure == ArchiveFailure::DeltaOldEntryMissing ||
         failure == ArchiveFailure::DeltaOldEntryDiffers ||
         failure == ArchiveFailure::DeltaNotReproduced;
}

// A one-line English description, for tools: "cannot open x.kx (error 2)".
[[nodiscard]] std::string describeArchiveError(const ArchiveError& error);

// The steps of merging a patch and writing a new archive, in order. FooterWritten and Released
// are announced with the bytes written; OffsetMismatch (with the offset the records add up to)
// only when that differs from them. The others carry 0.
enum class WriterStep : uint8_t {
  Merging,      // mergePatch begins
  Started,      // createNewZip begins, before the records are sorted
  Sorted,
  OutputReady,  // the output file exists and has its buffer
  WritingEntries,
  EntriesWritten,
  DirectoryWritten,
  FooterWritten,
  OffsetMismatch,
  Released,     // the records' bytes are released; the last flush follows
  Flushed,      // everything is in the file (not yet on the disk)
};

// An entry the writer refused or corrected, with the value it found.
enum class EntryNote : uint8_t {
  StoredSizeWrong,    // the bytes there are are not the declared compressed size
  ExtraFieldDropped,  // the local extra field is never copied
};

class ArchiveEvents {
 public:
  virtual ~ArchiveEvents() = default;

  // A failure, at the moment it happens: the same error lastError() then holds.
  virtual void failed(const ArchiveError& error) { (void)error; }
  virtual void writerStep(WriterStep step, int64_t bytes) { (void)step, (void)bytes; }
  virtual void entryNote(EntryNote note, const std::string& name, int64_t value) {
    (void)note, (void)name, (void)value;
  }
  // The new archive's output reached its file: `bytes` so far of `totalBytes`, the length the
  // archive has when every entry is written whole. Told at every flush of the writer's buffer,
  // that is after at most WriteHandler::kBufferBytes more (a flush may repeat the count when one
  // item is larger than the buffer), and at the final flush between Released and Flushed.
  virtual void written(int64_t bytes, int64_t totalBytes) { (void)bytes, (void)totalBytes; }
  // One item handed to the writer is at least a whole buffer (WriteHandler::kBufferBytes) long.
  virtual void hugeItem(uint64_t length) { (void)length; }
  // The output came up short: `elementsWritten` of the write of `length` bytes went out.
  virtual void writeFailed(uint32_t systemCode, size_t elementsWritten, uint64_t length) {
    (void)systemCode, (void)elementsWritten, (void)length;
  }
};

// Says nothing: the events of a caller that wants none.
ArchiveEvents& silentArchiveEvents();
