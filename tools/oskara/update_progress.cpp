#include "update_progress.h"

#include <algorithm>

namespace oskara::tool {
namespace {

constexpr int kBarWidth = 20;
constexpr auto kLineInterval = std::chrono::seconds(1);

}  // namespace

ProgressDisplay::ProgressDisplay(std::ostream& out, ProgressStyle style, Clock::time_point started)
    : out_(out), style_(style), started_(started), lastLine_(started) {}

std::string ProgressDisplay::describe(const UpdateProgress& progress, std::chrono::seconds elapsed,
                                      bool bar) {
  std::string text = "Queue update running: " + std::to_string(elapsed.count()) + " s";
  if (progress.rule.empty()) return text;
  if (bar) {
    const int total = std::max(progress.total, 1);
    const int filled = std::clamp(progress.done * kBarWidth / total, 0, kBarWidth);
    text += " [" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(kBarWidth - filled), '-') + "]";
  } else {
    text += ",";
  }
  text += " rule " + std::to_string(progress.done + 1) + " of " + std::to_string(progress.total) +
          " (" + progress.rule + "), " + std::to_string(progress.queued) +
          (progress.queued == 1 ? " customer" : " customers") + " queued";
  return text;
}

void ProgressDisplay::show(const std::optional<UpdateProgress>& progress, Clock::time_point now) {
  if (progress) latest_ = *progress;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - started_);
  switch (style_) {
    case ProgressStyle::None: return;
    case ProgressStyle::Bar:
      // Erases what a longer line left behind.
      out_ << '\r' << describe(latest_, elapsed, true) << "\x1b[K" << std::flush;
      shown_ = true;
      return;
    case ProgressStyle::Lines:
      if (now - lastLine_ < kLineInterval) return;
      lastLine_ = now;
      out_ << describe(latest_, elapsed, false) << '\n' << std::flush;
      return;
  }
}

void ProgressDisplay::finish(Clock::time_point now) {
  if (!shown_) return;
  show(std::nullopt, now);
  out_ << '\n' << std::flush;
  shown_ = false;
}

}  // namespace oskara::tool
