// The run's ear for the archive library: reader failures become the lines the working-folder
// log has always had, and a pack's rewrite its steps in the run log, its console percentages
// after the pack's label, its launcher shares and pack.log's notes about entries. The library
// only names its steps and counts bytes; the run's scale of them is kept here.
#pragma once

#include <string>

#include "archive/archive_events.h"

class Launcher;

class RunArchiveLog : public ArchiveEvents {
 public:
  // The rewrite's console percentages: when merging, sorted, the output ready and done; in
  // between, one up for each flush of the writer's buffer (every 100 MiB), from kOutputPercent.
  static constexpr int kMergingPercent = 36;
  static constexpr int kSortedPercent = 68;
  static constexpr int kOutputPercent = 70;
  static constexpr int kFlushedPercent = 99;
  // Shares of the pack's launcher weight: once when sorted and once before the final flush,
  // and for each flush.
  static constexpr double kStepShare = 0.05;
  static constexpr double kFlushShare = 0.1;

  // Reader failures only: for archives the run reads but never rewrites.
  RunArchiveLog() = default;
  // A pack's rewrite: steps to `runLogPath`, percentages after `progressLabel`, shares of
  // `packWeight` to the launcher.
  RunArchiveLog(std::string runLogPath, std::string progressLabel, float packWeight,
                Launcher& launcher);

  void failed(const ArchiveError& error) override;
  void writerStep(WriterStep step, int64_t bytes) override;
  void entryNote(EntryNote note, const std::string& name, int64_t value) override;
  void written(int64_t bytes, int64_t totalBytes) override;
  void hugeItem(uint64_t length) override;
  void writeFailed(uint32_t systemCode, size_t elementsWritten, uint64_t length) override;

 private:
  void showPercent(int percent);
  void shareOfPack(double share);

  std::string runLogPath_;
  std::string progressLabel_;
  float packWeight_ = 0.0f;
  Launcher* launcher_ = nullptr;
  int flushPercent_ = kOutputPercent;
};
