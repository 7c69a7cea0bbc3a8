// kxtool's ear for the archive writer: a bar on a terminal, nothing anywhere else. The writer
// tells the bytes written of the whole archive at every flush of its buffer (every 100 MiB, and
// at the end).
#pragma once

#include <algorithm>
#include <cstdint>
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

  void written(int64_t bytes, int64_t totalBytes) override {
    if (!shown_) return;
    const int percent =
        totalBytes > 0 ? static_cast<int>(std::min<int64_t>(bytes, totalBytes) * 100 / totalBytes)
                       : 100;
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
