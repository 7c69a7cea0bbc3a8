#include "app/archive_log.h"

#include <utility>

#include "app/run_texts.h"
#include "platform/platform.h"
#include "report/log.h"
#include "report/run_state.h"

namespace {

// The working-folder log every reader failure has always gone to.
constexpr const char* kReaderLog = "updater.log";

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
  const std::string line = archiveFailureWorkLog(error);
  if (!line.empty()) appendLogLine(kReaderLog, line);
}

void RunArchiveLog::writerStep(WriterStep step, int64_t bytes) {
  // The console shows 99 before the log says the last step, as it always has.
  if (step == WriterStep::Flushed) showPercent(kFlushedPercent);
  const std::string line = writerStepLog(step, bytes);
  if (!runLogPath_.empty() && !line.empty()) appendLogLine(runLogPath_, line);
  switch (step) {
    case WriterStep::Merging:
      showPercent(kMergingPercent);
      break;
    case WriterStep::Sorted:
      showPercent(kSortedPercent);
      shareOfPack(kStepShare);
      break;
    case WriterStep::OutputReady:
      flushPercent_ = kOutputPercent;
      showPercent(kOutputPercent);
      break;
    case WriterStep::Released:
      shareOfPack(kStepShare);
      break;
    default:
      break;
  }
}

void RunArchiveLog::entryNote(EntryNote note, const std::string& name, int64_t value) {
  if (note == EntryNote::StoredSizeWrong)
    packLog(kStoredSizeWrongPackLog, name.c_str(), static_cast<int>(value));
  else
    packLog(kExtraFieldDroppedPackLog, name.c_str(), static_cast<int>(value));
}

void RunArchiveLog::written(int64_t, int64_t) {
  // Counted per flush, not from the bytes: a flush before an item larger than the buffer adds
  // none, yet has always moved the console on by one.
  flushPercent_ += 1;
  showPercent(flushPercent_);
  shareOfPack(kFlushShare);
}

void RunArchiveLog::showPercent(int percent) {
  if (!launcher_) return;  // only a pack's rewrite shows percentages
  platform::consoleWrite(packPercentConsole(progressLabel_, percent));
}

void RunArchiveLog::shareOfPack(double share) {
  if (launcher_) launcher_->progress(kLauncherShareFormat, packWeight_ * share);
}

void RunArchiveLog::hugeItem(uint64_t) {
  showMessage(kHugeItemBox, kHugeItemCaption);
}

void RunArchiveLog::writeFailed(uint32_t systemCode, size_t elementsWritten, uint64_t length) {
  showMessage(writeSizeWrongBox(systemCode, elementsWritten, length), kWriteSizeWrongCaption);
}
