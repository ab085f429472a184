#include "automation/bus/bus_server.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <optional>

#include "automation/bus/wire.h"
#include "automation/server_hold.h"

namespace oskara::automation {

namespace {
// How often the idle test runs, and how long the server keeps serving after it
// has given up its names, for calls that were already on their way to it.
constexpr int kCheckIntervalMs = 100;
constexpr qint64 kLastCallsGraceMs = 300;
}  // namespace

struct BusServer::State {
  Bus& bus;
  ServerOptions options;
  std::function<void()> onIdle = [] { QCoreApplication::quit(); };
  QTimer timer;
  QElapsedTimer idleSince;     // valid while the server is idle
  QElapsedTimer namesReleased;  // valid once the names are given up
  bool finished = false;

  State(Bus& b, ServerOptions o) : bus(b), options(std::move(o)) {}

  bool idle() const {
    return bus.exportedObjects() == 0 && liveLocalObjects() == 0 && activeServerHolds() == 0 &&
           bus.activeCalls() == 0;
  }

  void finish() {
    if (finished) return;
    finished = true;
    timer.stop();
    onIdle();
  }

  void releaseNames() {
    for (const std::string& name : options.busNames)
      bus.connection().unregisterService(wire::toQt(name));
    namesReleased.start();
  }

  void check() {
    if (!bus.connection().isConnected()) return finish();  // the bus has gone away
    if (!idle()) {
      idleSince.invalidate();
      return;
    }
    if (!idleSince.isValid()) idleSince.start();
    if (idleSince.elapsed() < options.idleDelay.count()) return;
    // Give up the names first, so that new clients start a fresh server,
    // then serve what was already sent to this one before ending.
    if (!namesReleased.isValid()) return releaseNames();
    if (namesReleased.elapsed() >= kLastCallsGraceMs) finish();
  }
};

BusServer::BusServer(Bus& bus, ServerOptions options)
    : state_(std::make_unique<State>(bus, std::move(options))) {
  state_->timer.setInterval(kCheckIntervalMs);
  QObject::connect(&state_->timer, &QTimer::timeout, [s = state_.get()] { s->check(); });
}

BusServer::~BusServer() = default;

void BusServer::start() {
  state_->bus.serveFactory(true);
  QDBusConnectionInterface* daemon = state_->bus.connection().interface();
  for (const std::string& name : state_->options.busNames) {
    auto reply = daemon->registerService(wire::toQt(name), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
      throw cannotCreateObject(name, "Its bus name is owned by another process.");
  }
  state_->timer.start();
}

bool BusServer::idle() const { return state_->idle(); }

void BusServer::setOnIdle(std::function<void()> onIdle) { state_->onIdle = std::move(onIdle); }

int runServer(int argc, char** argv, ServerOptions options) {
  // A program that shows widgets has made its QApplication already.
  std::optional<QCoreApplication> ownApp;
  if (!QCoreApplication::instance()) ownApp.emplace(argc, argv);
  QDBusConnection connection = Bus::defaultConnection();
  if (!connection.isConnected()) {
    std::fprintf(stderr, "%s: cannot connect to the bus: %s\n", argv[0],
                 connection.lastError().message().toLocal8Bit().constData());
    return 1;
  }
  Bus bus(connection);
  ObjectActivator* previous = setObjectActivator(&bus);
  BusServer server(bus, std::move(options));
  try {
    server.start();
  } catch (const Error& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.text().c_str());
    setObjectActivator(previous);
    return 1;
  }
  const int status = QCoreApplication::exec();
  setObjectActivator(previous);
  return status;
}

}  // namespace oskara::automation
