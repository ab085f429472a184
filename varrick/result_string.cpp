#include "varrick/result_string.h"

#include <exception>
#include <new>

#include "core/variant.h"

namespace varrick {

namespace {


std::string numberTextOf(int32_t number) { return oskara::numberText(int64_t{number}); }

}  // namespace

std::string engineFailureResult(int32_t number, std::string_view text) {
  std::string result(kResultFailure);
  result.append(kEngineFailureText).append(kCrLf);
  result.append("[").append(numberTextOf(number)).append("] ").append(text);
  return result;
}

std::string engineFailureMessage(int32_t number, std::string_view text) {
  std::string message(kEngineFailureText);
  message.append(kCrLf).append(numberTextOf(number)).append(" - ").append(text);
  return message;
}

std::string trappedFailureResult(std::string_view tag, int32_t number, std::string_view text) {
  std::string result(kResultFailure);
  result.append(tag).append(numberTextOf(number)).append("] ").append(text);
  return result;
}

std::string messageResult(std::string_view message) {
  std::string result(kResultFailure);
  result.append(message);
  return result;
}

bool isFailureResult(std::string_view result) { return result.starts_with(kResultFailure); }

std::string trapFailure(std::string_view tag, int32_t& lErr, std::string& sError) {
  const oskara::Error failure = currentFailure();
  lErr = failure.number();
  sError = failure.text();
  return trappedFailureResult(tag, lErr, sError);
}

}  // namespace varrick
