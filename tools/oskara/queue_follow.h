// queue --follow DT: the queue's customers per reason code, printed again
// each time the queue changes, until interrupted. A change is noticed from
// the engine's QueueUpdated signal on the session bus (updates run by this
// workstation's servers), on a server database from the engine's
// notification (updates of every workstation), and from LastQueueProc,
// looked at every few seconds (updates of other workstations on files).
#pragma once

#include <chrono>
#include <ostream>
#include <string>

namespace oskara::tool {

inline constexpr std::chrono::milliseconds kFollowPollInterval{3000};

// Runs until the process is interrupted; a DT that cannot be read at the
// start throws oskara::Error. Without a session bus only LastQueueProc is
// looked at.
int followQueue(const std::string& dtPath, std::ostream& out, std::ostream& err);

// The command on standard output and error.
int runQueueFollow(const std::string& dtPath);

}  // namespace oskara::tool
