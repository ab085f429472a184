#include "core/clock.h"

#include <ctime>

namespace oskara {
namespace {

class SystemClock : public Clock {
 public:
  // The local time changes only with the second: a statement that asks for
  // Date() on every row of a large table converts once per second, per thread.
  DateTime now() const override {
    thread_local std::time_t converted = -1;
    thread_local DateTime local;
    const std::time_t t = std::time(nullptr);
    if (t != converted) {
      std::tm parts{};
      localtime_r(&t, &parts);
      local = DateTime::fromParts(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                                  parts.tm_min, parts.tm_sec);
      converted = t;
    }
    return local;
  }
};

}  // namespace

const Clock& systemClock() {
  static const SystemClock clock;
  return clock;
}

}  // namespace oskara
