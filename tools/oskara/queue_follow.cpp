#include "queue_follow.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "automation/bus/bus.h"
#include "contract/classes.h"
#include "core/error.h"
#include "dbengine/locations.h"
#include "dbengine/postgres/location.h"
#include "directdb/server_database.h"
#include "engine_commands.h"
#include "session_bus.h"

namespace oskara::tool {
namespace {

constexpr const char* kConnectionName = "oskara-queue-follow";

// Prints the summary whenever LastQueueProc differs from the one printed last.
class QueueWatcher {
 public:
  QueueWatcher(std::string dtPath, std::ostream& out, std::ostream& err)
      : dtPath_(std::move(dtPath)), out_(out), err_(err) {}

  void refresh() {
    try {
      const std::string stamp = lastQueueProc(dtPath_);
      if (printed_ && stamp == *printed_) return;
      const ResultTable summary = queueSummary(dtPath_);
      out_ << "Queue updated " << (stamp.empty() ? std::string("never") : stamp) << ":\n";
      writeQueueSummary(out_, summary);
      out_ << std::flush;
      printed_ = stamp;
    } catch (const Error& e) {
      // A file being replaced or a server restarting: said, and tried again.
      if (!printed_) throw;
      err_ << "oskara: " << e.text() << '\n';
    }
  }

 private:
  std::string dtPath_;
  std::ostream& out_;
  std::ostream& err_;
  std::optional<std::string> printed_;
};

// On a server database: the engine's notification of each committed update,
// heard at once from every workstation (LISTEN on its channel).
class ServerNotifications {
 public:
  ServerNotifications(const std::string& dtLocation, QueueWatcher& watcher, std::ostream& err)
      : session_(db::postgres::parseServerLocation(dtLocation)) {
    session_.exec("LISTEN " + std::string(contract::kQueueUpdatedChannel));
    session_.commit();
    notifier_.emplace(session_.socket(), QSocketNotifier::Read);
    QObject::connect(&*notifier_, &QSocketNotifier::activated, [this, &watcher, &err] {
      try {
        if (!session_.takeNotifications().empty()) watcher.refresh();
      } catch (const Error& e) {
        // The session is lost: LastQueueProc, looked at every few seconds, remains.
        err << "oskara: " << e.text() << '\n';
        notifier_->setEnabled(false);
      }
    });
  }

 private:
  directdb::ServerDatabase session_;
  std::optional<QSocketNotifier> notifier_;
};

int follow(QueueWatcher& watcher, automation::Bus* bus, const std::string& dtPath, std::ostream& err) {
  watcher.refresh();
  std::optional<ServerNotifications> notifications;
  if (db::isServerLocation(dtPath)) notifications.emplace(dtPath, watcher, err);
  std::unique_ptr<ServerWatch> signal;
  if (bus) {
    signal = bus->watchClassEvent(contract::kQueueEngineClass, contract::queue_engine::kQueueUpdated,
                                  [&watcher](const std::vector<Variant>&) { watcher.refresh(); });
  }
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&watcher] { watcher.refresh(); });
  poll.start(kFollowPollInterval);
  return QCoreApplication::exec();
}

}  // namespace

int followQueue(const std::string& dtPath, std::ostream& out, std::ostream& err) {
  QueueWatcher watcher(dtPath, out, err);
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') {
    return onSessionBus(kConnectionName, err, [&](const QDBusConnection& connection) {
      ClientBus bus(connection);
      return follow(watcher, &bus.bus(), dtPath, err);
    });
  }
  static int argc = 1;
  static char name[] = "oskara";
  static char* argv[] = {name, nullptr};
  std::optional<QCoreApplication> app;
  if (!QCoreApplication::instance()) app.emplace(argc, argv);
  return follow(watcher, nullptr, dtPath, err);
}

int runQueueFollow(const std::string& dtPath) { return followQueue(dtPath, std::cout, std::cerr); }

}  // namespace oskara::tool
