// What the archive library tells its caller, kept as it was told: the archive tests assert the
// library's own results (failures, steps, byte counts, notes about entries). The words a caller
// makes of them are the caller's, and its tests' (tests/app/archive_log_test.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_events.h"

namespace kxtest {

struct RecordedNote {
  EntryNote note;
  std::string name;
  int64_t value;
  bool operator==(const RecordedNote& other) const {
    return note == other.note && name == other.name && value == other.value;
  }
};

class RecordedEvents : public ArchiveEvents {
 public:
  void failed(const ArchiveError& error) override { failures.push_back(error); }
  void writerStep(WriterStep step, int64_t bytes) override { steps.emplace_back(step, bytes); }
  void entryNote(EntryNote note, const std::string& name, int64_t value) override {
    notes.push_back({note, name, value});
  }
  void written(int64_t bytes, int64_t totalBytes) override {
    flushes.emplace_back(bytes, totalBytes);
  }
  void hugeItem(uint64_t length) override { hugeItems.push_back(length); }
  void writeFailed(uint32_t systemCode, size_t, uint64_t length) override {
    writeFailures.emplace_back(systemCode, length);
  }

  std::vector<ArchiveFailure> failureKinds() const {
    std::vector<ArchiveFailure> kinds;
    for (const ArchiveError& error : failures) kinds.push_back(error.failure);
    return kinds;
  }
  std::vector<WriterStep> stepKinds() const {
    std::vector<WriterStep> kinds;
    for (const auto& step : steps) kinds.push_back(step.first);
    return kinds;
  }

  std::vector<ArchiveError> failures;
  std::vector<std::pair<WriterStep, int64_t>> steps;
  std::vector<RecordedNote> notes;
  std::vector<std::pair<int64_t, int64_t>> flushes;  // bytes written, of the archive's length
  std::vector<uint64_t> hugeItems;
  std::vector<std::pair<uint32_t, uint64_t>> writeFailures;  // system code, length asked for
};

}  // namespace kxtest
