#include "core/clock.h"

#include <ctime>

namespace oskara {
namespace {

class SystemClock : public Clock {
 public:
  DateTime now() const override {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return DateTime::fromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec);
  }
};

const SystemClock kSystemClock;
const Clock* g_clock = &kSystemClock;

}  // namespace

const Clock& currentClock() { return *g_clock; }

ScopedClock::ScopedClock(const Clock& clock) : previous_(g_clock) { g_clock = &clock; }
ScopedClock::~ScopedClock() { g_clock = previous_; }

}  // namespace oskara
