// Clock: the one source of the current local date and time. The Env in force
// (core/env.h) gives it; tests replace it with a fixed or stepping clock
// through ScopedClock.
#pragma once

#include "core/env.h"
#include "core/variant.h"

namespace oskara {

class Clock {
 public:
  virtual ~Clock() = default;
  // Current local date and time, to the second.
  virtual DateTime now() const = 0;
};

// The clock in force: the system's local clock unless a test installed another.
inline const Clock& currentClock() { return Env::current().clock(); }

// The machine's local clock.
const Clock& systemClock();

// Installs a clock for the lifetime of this object: an Env over the one in
// force that answers with `clock` (tests only; not thread-safe).
class ScopedClock : private EnvWrapper {
 public:
  explicit ScopedClock(const Clock& clock) : EnvWrapper(Env::current()), clock_(clock), override_(*this) {}
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  const Clock& clock() const override { return clock_; }

  const Clock& clock_;
  EnvOverride override_;  // last: installs this Env once the rest is made
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
