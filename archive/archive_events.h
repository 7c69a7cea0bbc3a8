// What the archive library tells its caller. It never logs, prints or shows anything itself:
// a failure is kept as the archive's last error (and its operation returns false or an empty
// block), and the steps and progress of a rewrite are announced through ArchiveEvents, which
// the caller implements. The installer's run turns them into its log lines and console
// percentages; the tools into a progress bar, or nothing.
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
};

struct ArchiveError {
  ArchiveFailure failure = ArchiveFailure::None;
  uint32_t systemCode = 0;
  std::string subject;

  explicit operator bool() const { return failure != ArchiveFailure::None; }
};

// A one-line English description, for tools: "cannot open x.kx (error 2)".
[[nodiscard]] std::string describeArchiveError(const ArchiveError& error);

// The steps of writing a new archive, in order. Rewritten is announced with the bytes written;
// OffsetMismatch (with the offset the records add up to) only when that differs from them.
enum class WriterStep : uint8_t {
  Started,      // before the records are sorted
  Sorted,
  OutputReady,  // the output file exists and has its buffer
  WritingEntries,
  EntriesWritten,
  DirectoryWritten,
  FooterWritten,
  OffsetMismatch,
  Released,     // the records' bytes are released
  Flushed,
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
  // The rewrite's own percentage of one pack: 36 after merging, 68 sorted, 70 writing, then one
  // up for every 100 MiB written, 99 at the end.
  virtual void progress(int percent) { (void)percent; }
  // A share of the pack's weight in the launcher's progress bar (0.05 or 0.1 of it).
  virtual void packProgress(double share) { (void)share; }
  // One item handed to the writer is at least a whole progress step long.
  virtual void hugeItem(uint64_t length) { (void)length; }
  // The output came up short: `elementsWritten` of the write of `length` bytes went out.
  virtual void writeFailed(uint32_t systemCode, size_t elementsWritten, uint64_t length) {
    (void)systemCode, (void)elementsWritten, (void)length;
  }
};

// Says nothing: the events of a caller that wants none.
ArchiveEvents& silentArchiveEvents();
