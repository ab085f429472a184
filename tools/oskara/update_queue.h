// update-queue: one synchronous queue update through the application server,
// as a client of its Application object on the session bus. The bus starts
// varrick, and varrick the engine, when they are not running.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "commands.h"
#include "update_progress.h"

class QDBusConnection;

namespace oskara::tool {

struct UpdateQueueRequest {
  std::string dt;  // paths as given; relative ones are made absolute before sending
  std::string ar;
  std::string so;  // may be empty
  bool prompt = false;
  // How the command shows the update, not sent.
  ProgressStyle progress = ProgressStyle::None;
  bool json = false;  // the outcome as JSON on standard output
};

// What UpdateQueue answered: its result string and the error pair.
struct UpdateQueueReply {
  std::string result;
  int32_t lErr = 0;
  std::string sError;
};

// The request as the servers get it: they run in a folder of their own, so
// every path that is not empty is made absolute here.
UpdateQueueRequest withAbsolutePaths(UpdateQueueRequest request);

// Calls UpdateQueue on a new Application object over `connection`, with the
// paths as they are, showing its Progress events on `progress` in the
// request's style meanwhile. Failures of the bus or of activation throw
// oskara::Error.
UpdateQueueReply callUpdateQueue(const QDBusConnection& connection,
                                 const UpdateQueueRequest& request, std::ostream& progress);

// The progress style for output to a terminal or elsewhere; none when quiet.
ProgressStyle progressStyle(bool terminal, bool quiet);

// A result string's text for a terminal: without the leading "-1", CR LF as
// a plain line break.
std::string displayText(std::string_view result);

// Prints the outcome of the update of `sent` (paths as sent): "Queue
// updated." and the queue's customers per reason code on `out` for "",
// otherwise the result's text and the error number on `err`, and after
// "Error at InitOptions." the cause as found here (scan_files.h). Warns first
// when an AR or SO file given is not the one the DT's links read. With
// `sent.json`, one JSON object on `out` instead: result, lErr, sError and
// customersPerReason (null after a failure). Returns the exit status: 0 for
// "", 1 otherwise.
int reportUpdate(const UpdateQueueRequest& sent, const UpdateQueueReply& reply, std::ostream& out,
                 std::ostream& err);

// The whole command on the session bus: 2 when DBUS_SESSION_BUS_ADDRESS is
// unset or the bus cannot be reached, else as reportUpdate. Failures of the
// call itself (the server cannot be started, ...) throw oskara::Error.
int runUpdateQueue(const UpdateQueueRequest& request, std::ostream& out, std::ostream& err);

// Adds "update-queue DT AR [SO] [--prompt] [--async] [--quiet] [--json]"
// (--async: update_queue_async.h).
void addUpdateQueueCommand(CLI::App& app, Action& action);

}  // namespace oskara::tool
