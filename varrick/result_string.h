// The result strings of Application's string-returning methods. A client
// tests for "" (success), "01" (still running) and a leading "-1" (failure);
// what follows "-1" is text for display:
//
//   engine failure   "-1" "Error in Queue Engine Object !" CR LF "[" N "] " T
//   trapped failure  "-1" tag N "] " T       (tag "[" for UpdateQueue, "[Logon][" ...)
//   message          "-1" M                  (a refusal with a fixed message)
//
// N is the number text of the error number (a blank before a number that is
// zero or positive, the minus sign before a negative one), T the error text.
// Whenever a result begins with "-1" the method has also written the number
// to lErr and T (or M) to sError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.h"

namespace varrick {

inline constexpr std::string_view kResultSuccess = "";
inline constexpr std::string_view kResultStillRunning = "01";
inline constexpr std::string_view kResultFailure = "-1";

// Opening line of every report of a failed scan, in results and message boxes.
inline constexpr std::string_view kEngineFailureText = "Error in Queue Engine Object !";
inline constexpr std::string_view kCrLf = "\r\n";

// Title of every message box of the application server.
inline constexpr std::string_view kMessageTitle = "Oskara";

// Tags of the trapped-failure form, one per method.
namespace tag {
inline constexpr std::string_view kUpdateQueue = "[";
inline constexpr std::string_view kUpdateQueueAsync = "[UpdateQueueAsync][";
inline constexpr std::string_view kUpdQAsyncStatus = "[UpdQAsyncStatus][";
inline constexpr std::string_view kLogon = "[Logon][";
inline constexpr std::string_view kLogOff = "[LogOff][";
}  // namespace tag

// "-1" "Error in Queue Engine Object !" CR LF "[" N "] " T.
std::string engineFailureResult(int32_t number, std::string_view text);

// The message box text of a failed scan: "Error in Queue Engine Object !" CR LF N " - " T.
std::string engineFailureMessage(int32_t number, std::string_view text);

// "-1" tag N "] " T.
std::string trappedFailureResult(std::string_view tag, int32_t number, std::string_view text);

// "-1" M.
std::string messageResult(std::string_view message);

bool isFailureResult(std::string_view result);

// The failure being handled, as an Error (core/error.h).
using oskara::currentFailure;

// The failure path shared by the methods: writes the number and text of the
// failure being handled into lErr and sError and returns the trapped-failure
// form with `tag`. Call only inside a catch block.
std::string trapFailure(std::string_view tag, int32_t& lErr, std::string& sError);

}  // namespace varrick
