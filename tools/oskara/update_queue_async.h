// update-queue --async: a queue update that the application server runs in
// the background, as a client of the Application object: Logon, then
// UpdateQueueAsync, then UpdQAsyncStatus every so often until it no longer
// answers "01", then LogOff. Each poll also asks UpdQAsyncProgress, which the
// wait shows in the request's progress style.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>

#include "core/variant.h"
#include "update_queue.h"

namespace oskara::tool {

struct AsyncUpdateOptions {
  std::chrono::milliseconds pollInterval{250};
  // Waits between polls; the default runs the Qt event loop for that long.
  std::function<void(std::chrono::milliseconds)> wait;
};

// Runs the whole conversation on `application`, an Application object, and
// returns what the update ended with: the refusal of Logon or
// UpdateQueueAsync, or the last poll's result, with its error pair. LogOff
// runs whenever Logon succeeded. Failures of the calls themselves throw
// oskara::Error.
UpdateQueueReply runAsyncUpdate(const ObjectRef& application, const UpdateQueueRequest& request,
                                const AsyncUpdateOptions& options, std::ostream& progress);

// The whole command on the session bus, paths made absolute first: the exit
// status as the synchronous form (0 updated, 1 failed, 2 no bus).
int runUpdateQueueAsync(const UpdateQueueRequest& request, std::ostream& out, std::ostream& err);

}  // namespace oskara::tool
