// kxtool's ear for the archive writer: a bar on a terminal, nothing anywhere else. The writer's
// percentages run from 36 (merged) to 99 (flushed), one up for every 100 MiB in between.
#pragma once

#include <algorithm>
#include <ostream>
#include <string>

#include "archive/archive_events.h"

namespace kxtool {

class ProgressBar : public ArchiveEvents {
 public:
  // Shows `label` and the bar on `out` when `shown`; says nothing otherwise.
  ProgressBar(std::ostream& out, std::string label, bool shown)
      : out_(out), label_(std::move(label)), shown_(shown) {}
  ~ProgressBar() override { finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void progress(int percent) override {
    if (!shown_) return;
    const int filled = std::max(0, std::min(percent, 100)) * kWidth / 100;
    out_ << '\r' << label_ << " [" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kWidth - filled), ' ') << "] " << percent << '%'
         << std::flush;
    drawn_ = true;
  }
  // Ends the bar's line, once something was drawn.
  void finish() {
    if (drawn_) out_ << '\n' << std::flush;
    drawn_ = false;
  }

 private:
  static constexpr int kWidth = 30;
  std::ostream& out_;
  std::string label_;
  bool shown_;
  bool drawn_ = false;
};

}  // namespace kxtool
