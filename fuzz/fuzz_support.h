// What the fuzz targets share: values read from the input's bytes, and the
// stop on a fault that is no crash but a wrong result.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace oskara::fuzz {

// A T made of the first bytes of `data`, zeros where the input is shorter.
template <typename T>
T bytesAs(const uint8_t* data, size_t size) {
  T value{};
  std::memcpy(&value, data, std::min(size, sizeof value));
  return value;
}

// Stops the run as a crash, so that libFuzzer keeps the input.
[[noreturn]] inline void fault(const std::string& what, std::string_view input) {
  std::fprintf(stderr, "FAULT: %s\ninput: %.*s\n", what.c_str(), static_cast<int>(input.size()), input.data());
  std::abort();
}

}  // namespace oskara::fuzz
