// The engine server killed (SIGKILL) at random moments of a scan of a few
// thousand demo customers, started by bus activation on a private bus as in
// use: whatever the moment, the DT database (a file, or a schema on a
// PostgreSQL server) holds the queue and the stamp of before the scan or
// those of a complete scan, never anything between, and the next scan
// succeeds. The moments are drawn afresh on every run and printed with any
// failure.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QTimer>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "automation/bus/bus.h"
#include "automation/bus/testing/event_wait.h"
#include "automation/bus/testing/private_bus.h"
#include "clients/queue_engine_client.h"
#include "contract/classes.h"
#include "contract/options.h"
#include "contract/tables.h"
#include "dbengine/test_files.h"
#include "demo_data.h"

namespace {

namespace fs = std::filesystem;
namespace contract = oskara::contract;
using oskara::db::testing::Backend;
using oskara::db::testing::TestDatabases;
using oskara::test_support::processGone;
using oskara::test_support::waitUntil;

constexpr int kCustomers = 3000;
constexpr int kTrials = 4;

// What a scan may change in the DT database: the queue (without the time
// of day of each entry, and without its call-log id: a customer with several
// call-log headers gets any one of them, on a server not always the same)
// and the stamp of the last committed scan.
struct DtState {
  std::vector<std::vector<std::string>> queue;
  std::string lastQueueProc;
  bool operator==(const DtState&) const = default;
};

DtState stateOf(TestDatabases& databases) {
  if (databases.backend() == Backend::SQLite) {
    EXPECT_EQ(databases.query("dt", "PRAGMA integrity_check"), (std::vector<std::vector<std::string>>{{"ok"}}));
  }
  return {databases.query("dt", "SELECT CustID, TransType, Remark, EntryDate FROM " +
                                    std::string(contract::kTblDTQueue) + " ORDER BY CustID"),
          databases.query("dt", "SELECT " + std::string(contract::kLastQueueProc) + " FROM " +
                                    std::string(contract::kTblDTOptions)).at(0).at(0)};
}

class EngineKilledDuringAScan : public oskara::db::testing::BothBackends {};

TEST_P(EngineKilledDuringAScan, LeavesTheQueueAsBeforeOrAsAfterAndTheNextScanSucceeds) {
  static int argc = 1;
  static char name[] = "tormel_kill_stress_test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);

  const contract::DatabaseLocations files{databases.location("dt"), databases.location("ar"), databases.location("so")};
  oskara::tool::createDemoDatabases(files, {.customers = kCustomers, .seed = 5});

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE"})
    env.remove(QString::fromLatin1(var));
  oskara::test_support::PrivateBus daemon(QStringLiteral(OSKARA_TEST_BUS_CONFIG), env);
  ASSERT_TRUE(daemon.started());
  {
    oskara::automation::Bus bus(
        QDBusConnection::connectToBus(QString::fromStdString(daemon.address()), QStringLiteral("stress")));
    const QString tormelName = QString::fromLatin1(contract::kQueueEngineClass.data());

    // One scan through a freshly activated engine, its server killed after
    // `killAfterMs` when given. True when the scan reported success;
    // `tookMs` is the time of the call alone.
    auto scan = [&](std::optional<int> killAfterMs, qint64* tookMs = nullptr) {
      oskara::ObjectRef engine = bus.activate(contract::kQueueEngineClass);
      const qint64 pid = bus.connection().interface()->servicePid(tormelName).value();
      if (killAfterMs) QTimer::singleShot(*killAfterMs, [pid] { kill(static_cast<pid_t>(pid), SIGKILL); });
      int32_t lErr = 0;
      std::string sError;
      bool done = false;
      QElapsedTimer clock;
      clock.start();
      try {
        done = oskara::clients::QueueEngineClient(engine).ProcessQueue(
            files.dt, files.ar, files.so, lErr, sError);
      } catch (const oskara::Error&) {
      }
      if (tookMs) *tookMs = clock.elapsed();
      engine.reset();
      if (killAfterMs) {
        // The bus drops the dead server's name a moment after the process
        // ends; the next scan must activate a new server, not call the old.
        EXPECT_TRUE(waitUntil([pid] { return processGone(pid); }, 10000));
        EXPECT_TRUE(waitUntil([&] { return !bus.connection().interface()->isServiceRegistered(tormelName); }, 10000));
      }
      return done;
    };

    qint64 tookMs = 0;
    ASSERT_TRUE(scan(std::nullopt, &tookMs));
    const int scanMs = static_cast<int>(tookMs);
    const DtState complete = stateOf(databases);
    ASSERT_FALSE(complete.queue.empty());

    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> moment(0, scanMs);
    for (int trial = 0; trial < kTrials; ++trial) {
      // A queue and a stamp that no scan makes, so that before and after
      // always differ (two scans may end within the stamp's one second).
      databases.run("dt", "DELETE FROM " + std::string(contract::kTblDTQueue) + "; INSERT INTO " +
                              std::string(contract::kTblDTQueue) +
                              " (CustID, TransType, Remark) VALUES ('before', 1, 'marker'); UPDATE " +
                              std::string(contract::kTblDTOptions) + " SET " +
                              std::string(contract::kLastQueueProc) + " = '2000-01-01 00:00:00'");
      const DtState before = stateOf(databases);
      const int killAfterMs = moment(random);
      SCOPED_TRACE("trial " + std::to_string(trial) + ": killed after " + std::to_string(killAfterMs) +
                   " ms of a scan of " + std::to_string(scanMs) + " ms");
      scan(killAfterMs);
      DtState after = stateOf(databases);
      if (after != before) {
        EXPECT_NE(after.lastQueueProc, before.lastQueueProc);
        after.lastQueueProc = complete.lastQueueProc;  // its own moment
        EXPECT_TRUE(after == complete) << "neither the queue of before nor that of a whole scan";
      }
      EXPECT_TRUE(scan(std::nullopt));
      DtState next = stateOf(databases);
      next.lastQueueProc = complete.lastQueueProc;
      EXPECT_TRUE(next == complete);

    }
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("stress"));
}

OSKARA_ON_BOTH_BACKENDS(EngineKilledDuringAScan);

}  // namespace
