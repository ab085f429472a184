// The asynchronous update end to end, between workstations: each workstation
// is a private bus of its own with its own varrick and tormel, started by bus
// activation from the build tree, and all of them use the same DT file, as
// the users of a shared network folder do. Only the queue-processing lock in
// that file keeps a second workstation out.
//
// On a PostgreSQL server the same holds between the workstations' sessions,
// and a full update gives the queue that the same data gives in files.
//
// A request waits 2000 ms in the engine before its scan starts, so a poll
// right after the start sees "01" without any help; every other wait is a
// poll with a deadline.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "automation/bus/bus.h"
#include "automation/bus/testing/event_wait.h"
#include "automation/bus/testing/private_bus.h"
#include "clients/application_client.h"
#include "contract/classes.h"
#include "contract/schema.h"
#include "contract/tables.h"
#include "contract/testing/table_rows.h"
#include "dbengine/dbengine.h"
#include "dbengine/postgres/users.h"
#include "dbengine/test_files.h"
#include "demo_data.h"
#include "directdb/sqlite_file.h"

namespace {

using oskara::test_support::PrivateBus;
using oskara::test_support::processGone;
using oskara::test_support::waitUntil;

namespace fs = std::filesystem;
namespace contract = oskara::contract;
using oskara::directdb::SqliteFile;
using oskara::ObjectRef;
using oskara::clients::ApplicationClient;
using oskara::Variant;

// The servers' bus names; string literals underneath, so terminated.
constexpr const char* kVarrick = oskara::contract::kApplicationClass.data();
constexpr const char* kTormel = oskara::contract::kQueueEngineClass.data();
const std::string kBusy =
    "-1Another user is performing Queue Processing.\r\n\rPlease try again later !";

// How often process `pid` has `file` open: the engine opens the DT file only
// for a scan, first to hold its queue table, then for the scan itself.
int timesOpen(qint64 pid, const fs::path& file) {
  const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
  int times = 0;
  for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
    if (fd.symLinkTarget().toStdString() == file.string()) ++times;
  }
  return times;
}
bool hasOpen(qint64 pid, const fs::path& file) { return timesOpen(pid, file) > 0; }

std::string readFile(const fs::path& file) {
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Reply {
  std::string result;
  int32_t lErr = 0;
  std::string sError;
};

// One workstation: its own bus, servers and client connection.
class Workstation {
 public:
  Workstation(const std::string& name, const fs::path& log) : name_(QString::fromStdString(name)), log_(log) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_STARTER_ADDRESS",
                            "DBUS_STARTER_BUS_TYPE"})
      env.remove(QString::fromLatin1(var));  // headless servers, on this bus only
    daemon_.emplace(QStringLiteral(OSKARA_TEST_BUS_CONFIG), env,
                    QString::fromStdString(log.string()));
    if (!daemon_->started()) return;
    const QString address = QString::fromStdString(daemon_->address());
    bus_ = std::make_unique<oskara::automation::Bus>(
        QDBusConnection::connectToBus(address, name_));
  }

  ~Workstation() {
    std::vector<qint64> servers;
    for (const char* name : {kVarrick, kTormel}) {
      if (qint64 pid = bus_ ? pidOf(name) : 0) servers.push_back(pid);
    }
    app.reset();
    otherBus_.reset();
    bus_.reset();
    QDBusConnection::disconnectFromBus(name_ + QStringLiteral("-other"));
    QDBusConnection::disconnectFromBus(name_);
    daemon_.reset();
    // Without their bus the servers end at once.
    for (qint64 pid : servers) {
      EXPECT_TRUE(waitUntil([pid] { return processGone(pid); }, 5000)) << "server " << pid;
    }
    const std::string log = readFile(log_);
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
  }

  bool connected() const { return bus_ && bus_->connection().isConnected(); }

  qint64 pidOf(const char* name) const {
    auto reply = bus_->connection().interface()->servicePid(QString::fromLatin1(name));
    return reply.isValid() ? static_cast<qint64>(reply.value()) : 0;
  }

  ObjectRef newApplication() { return bus_->activate(kVarrick); }
  // An Application of another client program of this workstation's server:
  // a connection of its own to the same bus.
  ObjectRef otherClientsApplication() {
    if (!otherBus_) {
      otherBus_ = std::make_unique<oskara::automation::Bus>(QDBusConnection::connectToBus(
          QString::fromStdString(daemon_->address()), name_ + QStringLiteral("-other")));
    }
    return otherBus_->activate(kVarrick);
  }

  Reply logon(const contract::DatabaseFiles& files) {
    Reply reply;
    reply.result = client().Logon(files.dt.string(), files.ar.string(), files.so.string(),
                                  reply.lErr, reply.sError);
    return reply;
  }
  Reply logOff(const ObjectRef& on) {
    Reply reply;
    reply.result = ApplicationClient(on).LogOff(reply.lErr, reply.sError);
    return reply;
  }
  Reply start(const contract::DatabaseFiles& files) { return start(app, files); }
  static Reply start(const ObjectRef& on, const contract::DatabaseFiles& files) {
    Reply reply{"", 77, "as passed"};
    reply.result = ApplicationClient(on).UpdateQueueAsync(files.dt.string(), files.ar.string(),
                                                          files.so.string(), reply.lErr, reply.sError);
    return reply;
  }
  Reply poll() { return poll(app); }
  static Reply poll(const ObjectRef& on) {
    Reply reply{"", 77, "as passed"};
    reply.result = ApplicationClient(on).UpdQAsyncStatus(reply.lErr, reply.sError);
    return reply;
  }

  // Polls until the update is no longer running.
  std::optional<Reply> pollUntilDone(int ms = 10000) { return pollUntilDone(app, ms); }
  static std::optional<Reply> pollUntilDone(const ObjectRef& on, int ms = 10000) {
    Reply last;
    if (!waitUntil([&] { return (last = poll(on)).result != "01"; }, ms)) return std::nullopt;
    return last;
  }

  // Starts again and again until the lock is had.
  bool startWhenFree(const contract::DatabaseFiles& files, int ms = 5000) {
    return waitUntil([&] { return start(files).result.empty(); }, ms);
  }

  ObjectRef app;  // the client's Application object

 private:
  ApplicationClient client() const { return ApplicationClient(app); }

  QString name_;
  fs::path log_;
  std::optional<PrivateBus> daemon_;
  std::unique_ptr<oskara::automation::Bus> bus_;
  std::unique_ptr<oskara::automation::Bus> otherBus_;
};

void makeApplication() {
  static int argc = 1;
  static char name[] = "varrick_async_bus_test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

class AsyncBusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { makeApplication(); }

  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    dir_ = temp_.path().toStdString();
    files_ = contract::createDatabaseFiles(dir_ / "shared");
    first_ = std::make_unique<Workstation>("async-first", dir_ / "first.log");
    second_ = std::make_unique<Workstation>("async-second", dir_ / "second.log");
    ASSERT_TRUE(first_->connected());
    ASSERT_TRUE(second_->connected());
    for (Workstation* ws : {first_.get(), second_.get()}) {
      ws->app = ws->newApplication();
      ASSERT_EQ(ws->logon(files_).result, "");
    }
  }

  void TearDown() override {
    scanGate_.reset();
    second_.reset();
    first_.reset();
  }

  // Holds every scan at its first use of the AR file, which the application
  // servers never touch, until releaseScans: an update that has started
  // stays running however slowly the test's own steps go on a loaded
  // machine (the engine waits out a locked file for up to ten seconds).
  void holdScans() {
    scanGate_.emplace(files_.ar);
    scanGate_->exec("BEGIN EXCLUSIVE");
  }
  void releaseScans() {
    if (!scanGate_) return;
    scanGate_->exec("ROLLBACK");
    scanGate_.reset();
  }

  Variant lastQueueProc() const {
    return contract::testing::lastQueueProc(files_.dt);
  }

  // The first workstation starts an update; the second is refused while it runs.
  void firstHoldsTheLock() {
    holdScans();
    const Reply started = first_->start(files_);
    ASSERT_EQ(started.result, "");
    EXPECT_EQ(started.lErr, 77);  // left as passed
    EXPECT_EQ(first_->poll().result, "01");

    const Reply busy = second_->start(files_);
    EXPECT_EQ(busy.result, kBusy);
    EXPECT_EQ(busy.lErr, 1238);
    EXPECT_EQ(busy.sError, kBusy.substr(2));
    const Reply polled = second_->poll();  // the refusal is the second's status now
    EXPECT_EQ(polled.result, kBusy);
    EXPECT_EQ(polled.lErr, 1238);
  }

  // The second gets in without waiting for the first's scan, and its own
  // update runs to the end.
  void secondGetsInAndFinishes() {
    ASSERT_TRUE(second_->startWhenFree(files_));
    EXPECT_EQ(second_->poll().result, "01");
    releaseScans();
    const std::optional<Reply> done = second_->pollUntilDone();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->result, "");
  }

  QTemporaryDir temp_;
  fs::path dir_;
  contract::DatabaseFiles files_;
  std::unique_ptr<Workstation> first_;
  std::unique_ptr<Workstation> second_;
  std::optional<SqliteFile> scanGate_;
};

TEST_F(AsyncBusTest, SecondWorkstationIsLetInOnceTheFirstsUpdateHasCalledBack) {
  firstHoldsTheLock();
  EXPECT_TRUE(lastQueueProc().isNull());  // the scan has not committed
  releaseScans();
  const std::optional<Reply> done = first_->pollUntilDone();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result, "");
  EXPECT_EQ(done->lErr, 0);
  EXPECT_EQ(done->sError, "");
  EXPECT_FALSE(lastQueueProc().isNull());
  // Given back by CallBack: the next start succeeds at the first try.
  EXPECT_EQ(second_->start(files_).result, "");
  const std::optional<Reply> second = second_->pollUntilDone();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->result, "");
}

TEST_F(AsyncBusTest, NothingButItsReportFreesTheLockOfARunningUpdate) {
  firstHoldsTheLock();
  // Another client program of the first workstation: its log-off, a forged
  // report on an object of its own, and the end of the starting object.
  ObjectRef other = first_->otherClientsApplication();
  EXPECT_EQ(first_->logOff(other).result, "");
  int32_t lErr = 0;
  std::string sError;
  ApplicationClient(first_->newApplication()).CallBack(lErr, sError);
  first_->app.reset();
  EXPECT_EQ(Workstation::poll(other).result, "01");
  EXPECT_EQ(second_->start(files_).result, kBusy);

  releaseScans();
  const std::optional<Reply> done = Workstation::pollUntilDone(other);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result, "");
  EXPECT_EQ(second_->start(files_).result, "");  // given back with the report
  ASSERT_TRUE(second_->pollUntilDone());
}

TEST_F(AsyncBusTest, SecondClientOfAServerIsRefusedWhileTheFirstsUpdateRunsAndEachFileGetsItsOwn) {
  const contract::DatabaseFiles s2 = contract::createDatabaseFiles(dir_ / "s2");
  holdScans();
  ASSERT_EQ(first_->start(files_).result, "");
  ObjectRef other = first_->otherClientsApplication();
  const Reply refused = Workstation::start(other, s2);
  EXPECT_EQ(refused.lErr, 1238);
  EXPECT_EQ(refused.result, "-1" + refused.sError);
  EXPECT_NE(refused.sError.find("still running on this server"), std::string::npos) << refused.sError;
  EXPECT_EQ(first_->poll().result, "01");  // the first's status is untouched

  releaseScans();
  const std::optional<Reply> first = first_->pollUntilDone();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->result, "");
  EXPECT_FALSE(lastQueueProc().isNull());
  EXPECT_TRUE(contract::testing::lastQueueProc(s2.dt).isNull());
  ASSERT_EQ(Workstation::start(other, s2).result, "");
  const std::optional<Reply> second = Workstation::pollUntilDone(other);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->result, "");
  EXPECT_FALSE(contract::testing::lastQueueProc(s2.dt).isNull());
}

TEST_F(AsyncBusTest, TheLockIsOnTheFileBeingUpdatedNotTheLoggedOnOne) {
  const contract::DatabaseFiles s2 = contract::createDatabaseFiles(dir_ / "s2");
  holdScans();
  ASSERT_EQ(first_->start(s2).result, "");  // logged on to the shared files
  EXPECT_EQ(second_->start(s2).result, kBusy);
  const Reply shared = second_->start(files_);
  EXPECT_EQ(shared.result, "") << shared.sError;
  releaseScans();
  for (Workstation* ws : {first_.get(), second_.get()}) {
    const std::optional<Reply> done = ws->pollUntilDone();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->result, "") << done->sError;
  }
}

TEST_F(AsyncBusTest, KilledApplicationServersArmedRequestIsDroppedAndTheNextWorkstationRuns) {
  ASSERT_EQ(first_->start(files_).result, "");
  const qint64 varrick = first_->pidOf(kVarrick);
  ASSERT_NE(varrick, 0);
  kill(static_cast<pid_t>(varrick), SIGKILL);
  ASSERT_TRUE(waitUntil([&] { return processGone(varrick); }, 5000));
  first_->app.reset();

  holdScans();
  ASSERT_TRUE(second_->startWhenFree(files_));
  // The second's scan has begun (its engine holds the file): had the first's
  // request run, its scan would hold the queue table now and the second's
  // would have been refused.
  const qint64 tormel = second_->pidOf(kTormel);
  ASSERT_TRUE(waitUntil([&] { return tormel != 0 && hasOpen(tormel, files_.dt); }, 8000));
  releaseScans();
  const std::optional<Reply> done = second_->pollUntilDone();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result, "") << done->sError;
}

TEST_F(AsyncBusTest, ScanWhoseApplicationServerWasKilledKeepsOthersOutUntilItHasEnded) {
  // A scan of 10000 demo customers lasts long enough to act while it runs,
  // with nothing held back: no other lock may interfere with the engine's.
  const contract::DatabaseFiles big =
      oskara::tool::createDemoDatabases(dir_ / "big", {.customers = 10000, .seed = 3}).files;
  ASSERT_EQ(first_->start(big).result, "");
  // The scan has begun once the engine has the file open twice: first to
  // hold its queue table, then for the scan itself.
  const qint64 tormel = first_->pidOf(kTormel);
  ASSERT_TRUE(waitUntil([&] { return timesOpen(tormel, big.dt) >= 2; }, 10000));
  const qint64 varrick = first_->pidOf(kVarrick);
  kill(static_cast<pid_t>(varrick), SIGKILL);
  ASSERT_TRUE(waitUntil([&] { return processGone(varrick); }, 5000));
  first_->app.reset();

  EXPECT_EQ(second_->start(big).result, kBusy);
  // The orphaned scan finishes and commits; only then the second gets in.
  ASSERT_TRUE(second_->startWhenFree(big, 30000));
  EXPECT_FALSE(contract::testing::lastQueueProc(big.dt).isNull());
  const std::optional<Reply> done = second_->pollUntilDone(30000);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result, "") << done->sError;
}

TEST_F(AsyncBusTest, FailingScanIsReportedWithTheEnginesNumberAndText) {
  SqliteFile(files_.ar).exec("DROP TABLE " + std::string(contract::kTblArCustHist));
  ASSERT_EQ(first_->start(files_).result, "");
  EXPECT_EQ(first_->poll().result, "01");
  const std::optional<Reply> done = first_->pollUntilDone();
  ASSERT_TRUE(done);
  EXPECT_TRUE(done->sError.starts_with("[ProcessQueue]")) << done->sError;
  EXPECT_GT(done->lErr, 0);
  EXPECT_EQ(done->result, "-1Error in Queue Engine Object !\r\n[ " + std::to_string(done->lErr) +
                              "] " + done->sError);
  // The lock went back with the report.
  EXPECT_EQ(second_->start(files_).result, "");
}

TEST_F(AsyncBusTest, SecondUpdateOfTheSameWorkstationKeepsItsLock) {
  ASSERT_EQ(first_->start(files_).result, "");
  ASSERT_TRUE(first_->pollUntilDone());
  // The engine lets go of the first update's callback object when it takes
  // the second request; that object's end must leave the new lock alone.
  holdScans();
  ASSERT_EQ(first_->start(files_).result, "");
  const qint64 tormel = first_->pidOf(kTormel);
  ASSERT_NE(tormel, 0);
  EXPECT_EQ(first_->poll().result, "01");
  // The second request has reached the engine; the release of the old
  // callback object went out before its reply. One more round trip to the
  // first workstation's server lets that release be served there.
  EXPECT_EQ(first_->poll().result, "01");
  EXPECT_EQ(second_->start(files_).result, kBusy);
  releaseScans();
  const std::optional<Reply> done = first_->pollUntilDone();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result, "");
}

TEST_F(AsyncBusTest, EngineKilledDuringTheScanIsReportedAsGoneAndFreesTheLock) {
  ASSERT_EQ(first_->start(files_).result, "");
  const qint64 tormel = first_->pidOf(kTormel);
  ASSERT_NE(tormel, 0);
  {
    // Another writer's transaction holds the scan at its first read of the
    // DT file, for as long as this block lasts.
    SqliteFile writer(files_.dt);
    writer.exec("BEGIN EXCLUSIVE");
    ASSERT_TRUE(waitUntil([&] { return hasOpen(tormel, files_.dt); }, 8000));
    EXPECT_EQ(first_->poll().result, "01");
    kill(static_cast<pid_t>(tormel), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return processGone(tormel); }, 5000));
    writer.exec("ROLLBACK");
  }
  const std::optional<Reply> done = first_->pollUntilDone(5000);
  ASSERT_TRUE(done) << "still running after its engine was killed";
  EXPECT_EQ(done->lErr, 462);
  EXPECT_NE(done->sError.find(kTormel), std::string::npos) << done->sError;
  EXPECT_EQ(done->result, "-1Error in Queue Engine Object !\r\n[ 462] " + done->sError);
  EXPECT_TRUE(lastQueueProc().isNull());  // the killed scan committed nothing
  EXPECT_EQ(second_->start(files_).result, "");
}

// ---- The databases on a PostgreSQL server ----

using oskara::db::testing::Backend;
using oskara::db::testing::TestDatabases;
using Rows = std::vector<std::vector<std::string>>;

class ServerDatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  static void SetUpTestSuite() { makeApplication(); }

  void SetUp() override {
    if (!oskara::db::testing::postgresAvailable())
      GTEST_SKIP() << "no PostgreSQL cluster (run under scripts/with-postgres)";
    ASSERT_TRUE(temp_.isValid());
    files_ = demoIn(databases_);
    first_ = std::make_unique<Workstation>("pg-first", dir() / "first.log");
    second_ = std::make_unique<Workstation>("pg-second", dir() / "second.log");
    ASSERT_TRUE(first_->connected());
    ASSERT_TRUE(second_->connected());
  }

  void TearDown() override {
    releaseScans();
    second_.reset();
    first_.reset();
  }

  fs::path dir() const { return temp_.path().toStdString(); }

  static contract::DatabaseFiles demoIn(TestDatabases& databases) {
    const contract::DatabaseLocations locations{databases.location("dt"), databases.location("ar"),
                                                databases.location("so")};
    oskara::tool::createDemoDatabases(locations, {.customers = 2000, .seed = 7});
    return {locations.dt, locations.ar, locations.so};
  }

  // Holds every scan at its first read of the AR schema, which the
  // application servers never touch, until releaseScans: another session's
  // transaction holds its customer table.
  void holdScans() {
    const std::string ar = files_.ar.string();
    scanGate_ = PQconnectdb("");
    const std::string lock = "BEGIN; LOCK TABLE \"" + ar.substr(ar.find("schema=") + 7) + "\".\"" +
                             std::string(contract::kTblArCust) + "\" IN ACCESS EXCLUSIVE MODE";
    PGresult* result = PQexec(scanGate_, lock.c_str());
    ASSERT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQerrorMessage(scanGate_);
    PQclear(result);
  }
  void releaseScans() {
    if (scanGate_) PQfinish(scanGate_);
    scanGate_ = nullptr;
  }

  // The queue of DT, in the order of its customer ids. Without the call-log
  // ids: a customer with several call-log headers gets any one of them.
  static Rows queueOf(TestDatabases& databases) {
    Rows rows = databases.query("dt", "SELECT CustID, TransType, Remark, EntryDate FROM " +
                                          std::string(contract::kTblDTQueue));
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  QTemporaryDir temp_;
  TestDatabases databases_{GetParam()};
  contract::DatabaseFiles files_;
  std::unique_ptr<Workstation> first_;
  std::unique_ptr<Workstation> second_;
  PGconn* scanGate_ = nullptr;
};

TEST_P(ServerDatabaseTest, FullUpdateThroughBothServersQueuesEveryReasonAsTheSameFilesDo) {
  TestDatabases fileDatabases(Backend::SQLite);
  const contract::DatabaseFiles files = demoIn(fileDatabases);
  const contract::DatabaseFiles& onServer = files_;
  for (const contract::DatabaseFiles* set : {&onServer, &files}) {
    Reply reply{"", 77, "as passed"};
    reply.result = ApplicationClient(first_->newApplication())
                       .UpdateQueue(set->dt.string(), set->ar.string(), set->so.string(), reply.lErr, reply.sError);
    ASSERT_EQ(reply.result, "") << reply.sError;
  }
  const Rows queue = queueOf(databases_);
  std::set<std::string> reasons;
  for (const auto& row : queue) reasons.insert(row.at(1));
  EXPECT_EQ(reasons, (std::set<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
  EXPECT_EQ(queue, queueOf(fileDatabases));
}

TEST_P(ServerDatabaseTest, WorkstationsAreUsersAndTheLockDiesWithItsHoldersApplicationServer) {
  for (Workstation* ws : {first_.get(), second_.get()}) {
    ws->app = ws->newApplication();
    ASSERT_EQ(ws->logon(files_).result, "");
  }
  // Both application servers' sessions are users of DT on the server; on
  // one machine, as one user, the list names them once.
  EXPECT_EQ(oskara::db::postgres::activeUsers(files_.dt.string()).size(), 2u);
  const std::string me = oskara::db::Engine::instance().userName() + "@" + oskara::db::Engine::instance().machineName();
  EXPECT_EQ(ApplicationClient(second_->app).ActiveUsersList(), me);

  holdScans();
  ASSERT_EQ(first_->start(files_).result, "");
  const Reply busy = second_->start(files_);
  EXPECT_EQ(busy.result, kBusy);
  EXPECT_EQ(busy.lErr, 1238);

  const qint64 varrick = first_->pidOf(kVarrick);
  ASSERT_NE(varrick, 0);
  kill(static_cast<pid_t>(varrick), SIGKILL);
  ASSERT_TRUE(waitUntil([&] { return processGone(varrick); }, 5000));
  first_->app.reset();
  // The server ends the dead session's lock as the connection drops.
  ASSERT_TRUE(second_->startWhenFree(files_, 2000));
  releaseScans();
  const std::optional<Reply> done = second_->pollUntilDone(30000);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->result, "") << done->sError;
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerDatabaseTest, ::testing::Values(Backend::PostgreSQL),
                         oskara::db::testing::backendName);

}  // namespace
