// Error: the one exception type of the system. Every failure carries a number
// (the database engine's, the automation runtime's or the system's own) and a
// text that names what failed. `source` is the procedure that raised it last.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <string>

namespace oskara {

class Error : public std::exception {
 public:
  Error(int32_t number, std::string text, std::string source = {})
      : number_(number), text_(std::move(text)), source_(std::move(source)) {}

  int32_t number() const noexcept { return number_; }
  const std::string& text() const noexcept { return text_; }
  const std::string& source() const noexcept { return source_; }

  // Raising again "with its own name as source": same number, same text.
  Error withSource(std::string source) const { return Error(number_, text_, std::move(source)); }

  const char* what() const noexcept override { return text_.c_str(); }

 private:
  int32_t number_;      // error number, 0 never used for a failure
  std::string text_;    // message shown to callers unchanged
  std::string source_;  // procedure name that raised it, may be empty
};

// Numbers of the runtime's own conversion failures.
namespace runtime_error {
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kInternal = 51;
}  // namespace runtime_error

// The failure being handled, as an Error whatever was thrown: memory running
// out is 7, any other exception 51 with its text. Call only inside a catch
// block.
inline Error currentFailure() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(runtime_error::kOutOfMemory, "Out of memory.");
  } catch (const std::exception& e) {
    return Error(runtime_error::kInternal, std::string("Internal error: ") + e.what());
  } catch (...) {
    return Error(runtime_error::kInternal, "Internal error: an unknown failure.");
  }
}

}  // namespace oskara
