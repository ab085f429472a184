// Clock: the one source of the current local date and time. Tests replace it
// with a fixed or stepping clock through ScopedClock.
#pragma once

#include "core/variant.h"

namespace oskara {

class Clock {
 public:
  virtual ~Clock() = default;
  // Current local date and time, to the second.
  virtual DateTime now() const = 0;
};

// The clock in force: the system's local clock unless a test installed another.
const Clock& currentClock();

// Installs a clock for the lifetime of this object (tests only; not thread-safe).
class ScopedClock {
 public:
  explicit ScopedClock(const Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  const Clock* previous_;
};

// A clock that always answers the same time.
class FixedClock : public Clock {
 public:
  explicit FixedClock(DateTime at) : at_(at) {}
  DateTime now() const override { return at_; }
  void set(DateTime at) { at_ = at; }

 private:
  DateTime at_;
};

}  // namespace oskara
