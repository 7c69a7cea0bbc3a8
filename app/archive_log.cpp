#include "app/archive_log.h"

#include <utility>

#include "platform/platform.h"
#include "report/log.h"
#include "report/run_state.h"

namespace {

// The working-folder log every reader failure has always gone to.
constexpr const char* kReaderLog = "updater.log";

// The reader's lines, quirks included (a doubled space, a trailing one): they are what support
// has searched logs for over the years.
const char* readerLine(ArchiveFailure failure) {
  switch (failure) {
    case ArchiveFailure::FooterNotFound: return "openZip Failed to seek to footer";
    case ArchiveFailure::FooterUnreadable: return "openZip Failed to read footer";
    case ArchiveFailure::BadFooterSignature: return "openZip Invalid footer signature";
    case ArchiveFailure::DirectoryNotFound: return "openZip Failed to seek to directory start";
    case ArchiveFailure::DirectoryUnreadable: return "openZip Failed to read directory block";
    case ArchiveFailure::DirectoryNoMemory: return "openZip Failed to new ram";
    case ArchiveFailure::BadDirectorySignature: return "openZip Invalid directory signature";
    case ArchiveFailure::NameTooLong: return "openZip Filename is too long ";
    case ArchiveFailure::ExtraFieldTooLong: return "openZip Extra field is too long";
    case ArchiveFailure::CommentTooLong: return "openZip File comment is too long";
    case ArchiveFailure::BadLocalHeaderOffset: return "openZip Invalid local header offset";
    case ArchiveFailure::NoArchivePath: return "error:this->path_ is NULL";
    case ArchiveFailure::EntryNotIndexed: return "error:file is missing in fileMap";
    case ArchiveFailure::EntryNotInFile: return "error:localHeaderOffset is less than zero";
    case ArchiveFailure::SeekFailed:
      return "KXFileSystem::readFile Failed to seek past local header";
    case ArchiveFailure::UnknownMethod:
      return "KXFileSystem::readFile Compression method  not yet supported";
    case ArchiveFailure::EntryNoMemory:
      return "KXFileSystem::readFile Failed to alloc data buffer";
    case ArchiveFailure::ReadFailed: return "KXFileSystem::readFile Data read error";
    default: return nullptr;
  }
}

const char* writerLine(WriterStep step) {
  switch (step) {
    case WriterStep::Started: return "One.....";
    case WriterStep::Sorted: return "One-0";
    case WriterStep::OutputReady: return "One-1";
    case WriterStep::WritingEntries: return "One-2";
    case WriterStep::EntriesWritten: return "Two.....";
    case WriterStep::DirectoryWritten: return "Three.....";
    case WriterStep::FooterWritten: return "Four.....";
    case WriterStep::OffsetMismatch: return "offset:";
    case WriterStep::Released: return "Five.....";
    case WriterStep::Flushed: return "Six......";
  }
  return "";
}

}  // namespace

RunArchiveLog::RunArchiveLog(std::string runLogPath, std::string progressLabel,
                             float packWeight, Launcher& launcher)
    : runLogPath_(std::move(runLogPath)),
      progressLabel_(std::move(progressLabel)),
      packWeight_(packWeight),
      launcher_(&launcher) {}

void RunArchiveLog::failed(const ArchiveError& error) {
  // An entry that does not fit, cannot be had or cannot be written fails the rewrite, which
  // the pack stage reports itself; only the reader's own failures have lines here.
  switch (error.failure) {
    case ArchiveFailure::CannotOpen:
      appendLogLine(kReaderLog,
                    "->can not open kx file:" + error.subject + std::to_string(error.systemCode));
      return;
    case ArchiveFailure::ReopenFailed:
      appendLogLine(kReaderLog, "failed to open file:" + error.subject);
      return;
    default:
      if (const char* line = readerLine(error.failure)) appendLogLine(kReaderLog, line);
  }
}

void RunArchiveLog::writerStep(WriterStep step, int64_t bytes) {
  if (runLogPath_.empty()) return;
  std::string line = writerLine(step);
  if (step == WriterStep::FooterWritten || step == WriterStep::OffsetMismatch ||
      step == WriterStep::Released)
    line += std::to_string(bytes);
  appendLogLine(runLogPath_, line);
}

void RunArchiveLog::entryNote(EntryNote note, const std::string& name, int64_t value) {
  const char* format = note == EntryNote::StoredSizeWrong ? "this->header_.compressedSize err:%s %d"
                                                          : "header_.extraFieldLength err:%s %d";
  packLog(format, name.c_str(), static_cast<int>(value));
}

void RunArchiveLog::progress(int percent) {
  if (!launcher_) return;  // only a pack's rewrite shows percentages
  platform::consoleWrite(progressLabel_ + std::to_string(percent) + "%\r");
}

void RunArchiveLog::packProgress(double share) {
  if (launcher_) launcher_->progress("%.1f", packWeight_ * share);
}

void RunArchiveLog::hugeItem(uint64_t) {
  showMessage("WriteHandler file len is too large", "error");
}

void RunArchiveLog::writeFailed(uint32_t systemCode, size_t elementsWritten, uint64_t length) {
  char text[128];
  std::snprintf(text, sizeof text, "更新的数据大小不对:%d %d %d", static_cast<int>(systemCode),
                static_cast<int>(elementsWritten), static_cast<int>(length));
  showMessage(text, "更新出错");
}
