// BusServer: what a server program adds to its Bus. It claims the
// well-known bus names (the programmatic identifiers it serves), answers the
// class factory, and ends the program once it has been idle for a while:
// no live objects, no references held by peers, no call in progress and no
// ServerHold.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/bus/bus.h"

namespace oskara::automation {

struct ServerOptions {
  std::vector<std::string> busNames;          // the identifiers served, e.g. "Program.Class"
  std::chrono::milliseconds idleDelay{5000};  // idle this long before the program ends
};

class BusServer {
 public:
  BusServer(Bus& bus, ServerOptions options);
  ~BusServer();
  BusServer(const BusServer&) = delete;
  BusServer& operator=(const BusServer&) = delete;

  // Serves the factory and claims the names; raises 429 when a name is
  // already owned by another process.
  void start();

  bool idle() const;

  // Runs once the server has been idle for idleDelay and has given up its
  // names; the default quits the Qt event loop. Also runs when the bus goes away.
  void setOnIdle(std::function<void()> onIdle);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The main() of a server program whose classes are registered already: the Qt
// application (a QCoreApplication unless the program made its own first), the
// bus connection, the names, the event loop until idle. Returns the program's
// exit status.
int runServer(int argc, char** argv, ServerOptions options);

}  // namespace oskara::automation
