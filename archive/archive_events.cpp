#include "archive/archive_events.h"

namespace {

const char* reasonText(ArchiveFailure failure) {
  switch (failure) {
    case ArchiveFailure::None: return "no error";
    case ArchiveFailure::CannotOpen: return "cannot open";
    case ArchiveFailure::FooterNotFound: return "no archive footer in";
    case ArchiveFailure::FooterUnreadable: return "cannot read the footer of";
    case ArchiveFailure::BadFooterSignature: return "bad footer signature in";
    case ArchiveFailure::DirectoryNotFound: return "directory outside the file in";
    case ArchiveFailure::DirectoryUnreadable: return "cannot read the directory of";
    case ArchiveFailure::DirectoryNoMemory: return "no memory for the directory of";
    case ArchiveFailure::BadDirectorySignature: return "bad directory record in";
    case ArchiveFailure::NameTooLong: return "entry name too long in";
    case ArchiveFailure::ExtraFieldTooLong: return "extra field too long in";
    case ArchiveFailure::CommentTooLong: return "entry comment too long in";
    case ArchiveFailure::BadLocalHeaderOffset: return "local header outside the file in";
    case ArchiveFailure::NoArchivePath: return "no archive for";
    case ArchiveFailure::EntryNotIndexed: return "no such entry:";
    case ArchiveFailure::EntryNotInFile: return "entry has no bytes in the file:";
    case ArchiveFailure::ReopenFailed: return "cannot reopen";
    case ArchiveFailure::SeekFailed: return "cannot seek to the data of";
    case ArchiveFailure::UnknownMethod: return "unknown compression method of";
    case ArchiveFailure::EntryNoMemory: return "no memory for";
    case ArchiveFailure::ReadFailed: return "cannot read the bytes of";
    case ArchiveFailure::DoesNotFitFormat: return "too many entries or too long a name for";
    case ArchiveFailure::OutputIsSource: return "output would overwrite its source:";
    case ArchiveFailure::CannotCreate: return "cannot create";
    case ArchiveFailure::WriterNoMemory: return "no memory to write";
    case ArchiveFailure::EntryUnavailable: return "entry bytes cannot be had whole:";
    case ArchiveFailure::EntrySizeMismatch: return "entry bytes differ from their recorded size:";
    case ArchiveFailure::WriteFailed: return "cannot write";
    case ArchiveFailure::TooLarge: return "archive would reach 2 GiB:";
    case ArchiveFailure::NotOnDisk: return "cannot flush to disk";
    case ArchiveFailure::DeltaRecordRefused: return "malformed or oversized delta record:";
    case ArchiveFailure::DeltaOldEntryMissing: return "no installed entry for the delta of";
    case ArchiveFailure::DeltaOldEntryDiffers:
      return "the installed entry is not the one the delta was made from:";
    case ArchiveFailure::DeltaNotReproduced: return "the delta does not rebuild the entry";
    case ArchiveFailure::DeltaNotCopyable: return "a delta record is not an entry's bytes:";
  }
  return "unknown failure of";
}

}  // namespace

std::string describeArchiveError(const ArchiveError& error) {
  std::string text = std::string(reasonText(error.failure)) + " " + error.subject;
  if (error.systemCode != 0) text += " (error " + std::to_string(error.systemCode) + ")";
  return text;
}

ArchiveEvents& silentArchiveEvents() {
  static ArchiveEvents silent;
  return silent;
}
