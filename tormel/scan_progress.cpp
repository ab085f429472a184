#include "tormel/scan_progress.h"

#include <utility>

namespace tormel {

ScanProgress::ScanProgress(int32_t total, Sink sink, std::chrono::milliseconds interval)
    : sink_(std::move(sink)), interval_(interval) {
  state_.total = total;
}

void ScanProgress::enterRule(std::string_view rule) {
  if (started_) ++state_.done;
  started_ = true;
  state_.rule = rule;
  reportIfDue();
}

void ScanProgress::reportIfDue() {
  sinceClock_ = 0;
  const auto now = std::chrono::steady_clock::now();
  if (reported_ && now - lastReport_ < interval_) return;
  reported_ = true;
  lastReport_ = now;
  if (sink_) sink_(state_);
}

}  // namespace tormel
