#include "session_bus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <cstdlib>
#include <memory>
#include <optional>

#include "automation/bus/bus.h"
#include "automation/class_registry.h"

namespace oskara::tool {

struct ClientBus::State {
  explicit State(const QDBusConnection& connection) : bus(connection) {}
  automation::Bus bus;
  ObjectActivator* previous = nullptr;
};

ClientBus::ClientBus(const QDBusConnection& connection)
    : state_(std::make_unique<State>(connection)) {
  state_->previous = setObjectActivator(&state_->bus);
}

ClientBus::~ClientBus() {
  setObjectActivator(state_->previous);
}

automation::Bus& ClientBus::bus() { return state_->bus; }

int onSessionBus(const char* connectionName, std::ostream& err,
                 const std::function<int(const QDBusConnection&)>& call) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == '\0') {
    err << "oskara: no session bus: DBUS_SESSION_BUS_ADDRESS is not set. Log in to a desktop "
           "session, or run the command under scripts/with-bus.\n";
    return 2;
  }
  // The bus layer waits for replies, and serves the bus meanwhile, in Qt's
  // event loop; it lives for this one command.
  static int argc = 1;
  static char name[] = "oskara";
  static char* argv[] = {name, nullptr};
  std::optional<QCoreApplication> app;
  if (!QCoreApplication::instance()) app.emplace(argc, argv);

  const QString connection = QString::fromLatin1(connectionName);
  struct Disconnect {
    const QString& name;
    ~Disconnect() { QDBusConnection::disconnectFromBus(name); }
  } disconnect{connection};
  // The connection object ends before the bus is let go of.
  const QDBusConnection bus = QDBusConnection::connectToBus(QString::fromUtf8(address), connection);
  if (!bus.isConnected()) {
    err << "oskara: cannot reach the session bus at " << address << ": "
        << bus.lastError().message().toStdString() << '\n';
    return 2;
  }
  return call(bus);
}

}  // namespace oskara::tool
