// The run's ear for the archive library: reader failures become the lines the working-folder
// log has always had, and a pack's rewrite its steps in the run log, its console percentages
// after the pack's label, its launcher shares and pack.log's notes about entries.
#pragma once

#include <string>

#include "archive/archive_events.h"

class Launcher;

class RunArchiveLog : public ArchiveEvents {
 public:
  // Reader failures only: for archives the run reads but never rewrites.
  RunArchiveLog() = default;
  // A pack's rewrite: steps to `runLogPath`, percentages after `progressLabel`, shares of
  // `packWeight` to the launcher.
  RunArchiveLog(std::string runLogPath, std::string progressLabel, float packWeight,
                Launcher& launcher);

  void failed(const ArchiveError& error) override;
  void writerStep(WriterStep step, int64_t bytes) override;
  void entryNote(EntryNote note, const std::string& name, int64_t value) override;
  void progress(int percent) override;
  void packProgress(double share) override;
  void hugeItem(uint64_t length) override;
  void writeFailed(uint32_t systemCode, size_t elementsWritten, uint64_t length) override;

 private:
  std::string runLogPath_;
  std::string progressLabel_;
  float packWeight_ = 0.0f;
  Launcher* launcher_ = nullptr;
};
