// ScanProgress: how far a scan has got, for whoever watches a long update.
// The scan tells it when a rule begins (once per rule) and how many customers
// it has queued (a counter); it passes the state on to its sink at most once
// per interval, and looks at the clock only at a rule's start and every
// kClockStride queued customers, so that the scan pays next to nothing for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tormel {

struct ScanProgressState {
  std::string rule;    // the rule running now ("Exceed30Days")
  int32_t done = 0;    // enabled rules finished before it
  int32_t total = 0;   // enabled rules of the run
  int32_t queued = 0;  // customers queued by this run so far
};

class ScanProgress {
 public:
  using Sink = std::function<void(const ScanProgressState&)>;
  static constexpr std::chrono::milliseconds kDefaultInterval{250};
  static constexpr int kClockStride = 64;

  ScanProgress(int32_t total, Sink sink, std::chrono::milliseconds interval = kDefaultInterval);

  // Rule `rule` begins. The first rule is always reported.
  void enterRule(std::string_view rule);
  // `count` more customers queued.
  void addQueued(int64_t count) {
    state_.queued += static_cast<int32_t>(count);
    if (++sinceClock_ >= kClockStride) reportIfDue();
  }
  const ScanProgressState& state() const { return state_; }

 private:
  void reportIfDue();

  Sink sink_;
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point lastReport_{};
  bool reported_ = false;
  bool started_ = false;
  int sinceClock_ = 0;
  ScanProgressState state_;
};

}  // namespace tormel
