// What update-queue shows while the scan runs: the rule it is in, the
// customers queued so far and the elapsed time, as the application server
// passes on the engine's reports. On a terminal one line rewritten in place
// with a bar of the rules done; elsewhere a plain line at most once a second;
// with --quiet nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace oskara::tool {

enum class ProgressStyle { None, Bar, Lines };

struct UpdateProgress {
  std::string rule;    // "" before the engine's first report
  int32_t done = 0;    // enabled rules finished before it
  int32_t total = 0;   // enabled rules
  int32_t queued = 0;  // customers queued so far
};

class ProgressDisplay {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressDisplay(std::ostream& out, ProgressStyle style, Clock::time_point started = Clock::now());

  // A report of the engine, or only time passing (nullopt).
  void show(const std::optional<UpdateProgress>& progress, Clock::time_point now = Clock::now());
  // The update has ended: the bar's line is ended.
  void finish(Clock::time_point now = Clock::now());

  // The line for a state and an elapsed time, without line end.
  static std::string describe(const UpdateProgress& progress, std::chrono::seconds elapsed,
                              bool bar);

 private:
  std::ostream& out_;
  ProgressStyle style_;
  Clock::time_point started_;
  Clock::time_point lastLine_;
  UpdateProgress latest_;
  bool shown_ = false;
};

}  // namespace oskara::tool
