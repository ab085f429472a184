// ScopedEnv: sets or clears an environment variable for the length of a
// test and puts the old value back.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace oskara::test_support {

class ScopedEnv {
 public:
  // `value` null clears the variable.
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void set(const char* value) {
    if (value != nullptr) {
      setenv(name_, value, 1);
    } else {
      unsetenv(name_);
    }
  }

  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace oskara::test_support
