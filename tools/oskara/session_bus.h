// The session bus for the commands that are clients of the servers: one
// private connection per command, with the automation layer on it, so that
// creating an object reaches the servers' classes and the bus starts their
// servers when they are not running.
#pragma once

#include <functional>
#include <memory>
#include <ostream>

class QDBusConnection;

namespace oskara::automation {
class Bus;
}

namespace oskara::tool {

// Runs `call` with a connection to the bus named by DBUS_SESSION_BUS_ADDRESS
// and the automation layer installed on it; a Qt application is made for
// the call when the process has none. Returns what `call` returns, or 2 with
// a complaint on `err` when the variable is unset or the bus cannot be
// reached. Exceptions of `call` pass through, after the connection is closed.
int onSessionBus(const char* connectionName, std::ostream& err,
                 const std::function<int(const QDBusConnection&)>& call);

// Installs the automation layer on `connection` as the object activator for
// the life of this object, and puts the earlier activator back afterwards.
class ClientBus {
 public:
  explicit ClientBus(const QDBusConnection& connection);
  ~ClientBus();
  automation::Bus& bus();
  ClientBus(const ClientBus&) = delete;
  ClientBus& operator=(const ClientBus&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace oskara::tool
