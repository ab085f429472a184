// The two servers end to end: a private bus whose service folder holds the
// build tree's programs, so that the first client starts varrick and varrick
// starts tormel by bus activation, exactly as on an installed system. The
// servers run headless; what they write to standard error (message boxes,
// sanitizer reports) ends up in the bus's log file.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "automation/bus/bus.h"
#include "automation/bus/testing/event_wait.h"
#include "automation/bus/testing/private_bus.h"
#include "clients/application_client.h"
#include "contract/classes.h"
#include "contract/schema.h"
#include "contract/tables.h"
#include "contract/testing/table_rows.h"
#include "directdb/sqlite_file.h"
#include "tormel/queue_engine.h"
#include "varrick/application.h"

namespace {

using oskara::test_support::PrivateBus;
using oskara::test_support::processGone;
using oskara::test_support::waitUntil;

namespace fs = std::filesystem;
namespace contract = oskara::contract;
using oskara::directdb::SqliteFile;
using oskara::ObjectRef;

// The servers' bus names; string literals underneath, so terminated.
constexpr const char* kVarrick = oskara::contract::kApplicationClass.data();
constexpr const char* kTormel = oskara::contract::kQueueEngineClass.data();
constexpr const char* kBoxLine = "Oskara: Error in Queue Engine Object !";

std::string readFile(const fs::path& file) {
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

struct Update {
  std::string result;
  int32_t lErr = 77;
  std::string sError = "as the caller passed it";
};

// The methods of each interface in introspection data, each written as
// "in name type, ..., out name type | help".
using Methods = std::map<std::string, std::string>;
std::map<std::string, Methods> introspectedInterfaces(const QString& xml) {
  std::map<std::string, Methods> interfaces;
  QXmlStreamReader reader(xml);
  std::string interface, method, args, help;
  while (!reader.atEnd()) {
    reader.readNext();
    const auto attribute = [&](const char* name) {
      return reader.attributes().value(QLatin1String(name)).toString().toStdString();
    };
    if (reader.isStartElement() && reader.name() == QLatin1String("interface")) {
      interface = attribute("name");
      interfaces[interface];
    } else if (reader.isStartElement() && reader.name() == QLatin1String("method")) {
      method = attribute("name");
      args.clear();
      help.clear();
    } else if (reader.isStartElement() && reader.name() == QLatin1String("arg") &&
               !method.empty()) {
      args += (args.empty() ? "" : ", ") + attribute("direction") + " " + attribute("name") + " " +
              attribute("type");
    } else if (reader.isStartElement() && reader.name() == QLatin1String("annotation") &&
               attribute("name") == "org.gtk.GDBus.DocString") {
      help = attribute("value");
    } else if (reader.isEndElement() && reader.name() == QLatin1String("method")) {
      interfaces[interface][method] = args + " | " + help;
      method.clear();
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  return interfaces;
}

// The typed methods a class's member table calls for: every parameter in,
// the result and the by-reference parameters out, in the types of the
// documented mapping.
Methods typedMethods(const oskara::ClassInfo& info) {
  using oskara::DeclType;
  const std::map<DeclType, std::string> signature{
      {DeclType::Integer, "n"}, {DeclType::Long, "i"},    {DeclType::Double, "d"},
      {DeclType::Date, "d"},    {DeclType::String, "s"},  {DeclType::Object, "(so)"},
      {DeclType::Boolean, "b"}, {DeclType::Variant, "v"},
  };
  Methods methods;
  for (const oskara::MemberInfo& m : info.members) {
    std::string args;
    const auto add = [&](const char* direction, const std::string& name, DeclType type) {
      args += (args.empty() ? "" : ", ") + std::string(direction) + " " + name + " " +
              signature.at(type);
    };
    for (const auto& p : m.params) add("in", p.name, p.type);
    if (m.result != DeclType::Void) add("out", "result", m.result);
    for (const auto& p : m.params) {
      if (p.byRef) add("out", p.name, p.type);
    }
    methods[m.name] = args + " | " + m.help;
  }
  return methods;
}

class ServersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "varrick_bus_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    dir_ = temp_.path().toStdString();
    files_ = contract::createDatabaseFiles(dir_ / "data");
  }

  void TearDown() override {
    if (!daemon_) return;
    std::vector<qint64> servers = serverPids();
    oskara::setObjectActivator(nullptr);
    bus_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("servers-test"));
    daemon_.reset();
    // Without their bus the servers end at once, leaving nothing behind.
    for (qint64 pid : servers) {
      EXPECT_TRUE(waitUntil([pid] { return processGone(pid); }, 5000)) << "server " << pid;
    }
    const std::string log = busLog();
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
  }

  // Starts the private bus on `config` and connects this process to it.
  void startBus(const QString& config = QStringLiteral(OSKARA_TEST_BUS_CONFIG)) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_STARTER_ADDRESS",
                             "DBUS_STARTER_BUS_TYPE"})
      env.remove(QString::fromLatin1(name));  // headless servers, on this bus only
    daemon_ = std::make_unique<PrivateBus>(config, env,
                                           QString::fromStdString((dir_ / "bus.log").string()));
    ASSERT_TRUE(daemon_->started());
    address_ = QString::fromStdString(daemon_->address());
    bus_ = std::make_unique<oskara::automation::Bus>(
        QDBusConnection::connectToBus(address_, QStringLiteral("servers-test")));
    ASSERT_TRUE(bus_->connection().isConnected());
    oskara::setObjectActivator(bus_.get());
  }

  // A bus configuration whose service folder offers varrick but not tormel.
  QString configWithoutTormel() {
    const fs::path services = dir_ / "services";
    fs::create_directories(services);
    const fs::path builtServices = fs::path(OSKARA_TEST_BUS_CONFIG).parent_path() / "services";
    const std::string varrickService = std::string(kVarrick) + ".service";
    fs::copy_file(builtServices / varrickService, services / varrickService);
    std::string config = readFile(OSKARA_TEST_BUS_CONFIG);
    const size_t open = config.find("<servicedir>");
    const size_t close = config.find("</servicedir>");
    config.replace(open, close - open, "<servicedir>" + services.string());
    const fs::path file = dir_ / "bus.conf";
    std::ofstream(file) << config;
    return QString::fromStdString(file.string());
  }

  std::string busLog() const { return readFile(dir_ / "bus.log"); }

  bool nameOwned(const char* name) const {
    return bus_->connection().interface()->isServiceRegistered(QString::fromLatin1(name));
  }
  qint64 pidOf(const char* name) const {
    auto reply = bus_->connection().interface()->servicePid(QString::fromLatin1(name));
    return reply.isValid() ? static_cast<qint64>(reply.value()) : 0;
  }
  QString introspect(const char* name, const QString& path) const {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(name), path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
        QStringLiteral("Introspect"));
    return bus_->connection().call(call).arguments().value(0).toString();
  }

  // Runs the system's Python on `args` with this test's bus as its session
  // bus; its exit status and what it printed.
  std::pair<int, std::string> runPython(const QStringList& args) const {
    QProcess python;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    python.setProcessEnvironment(env);
    python.start(QStringLiteral(OSKARA_TEST_PYTHON), args);
    if (!python.waitForFinished(120000)) return {-1, "python did not finish"};
    return {python.exitStatus() == QProcess::NormalExit ? python.exitCode() : -1,
            (python.readAllStandardOutput() + python.readAllStandardError()).toStdString()};
  }

  std::vector<qint64> serverPids() const {
    std::vector<qint64> pids;
    if (!bus_) return pids;
    for (const char* name : {kVarrick, kTormel}) {
      if (qint64 pid = pidOf(name)) pids.push_back(pid);
    }
    return pids;
  }

  Update updateQueue(const ObjectRef& app, const std::string& dt, std::optional<bool> prompt = {}) {
    Update update;
    update.result = oskara::clients::ApplicationClient(app).UpdateQueue(
        dt, files_.ar.string(), files_.so.string(), update.lErr, update.sError, prompt);
    return update;
  }

  // Customers and balances in AR; `balances` names balance fields.
  void addCustomer(const std::string& id, contract::testing::Fields balances) {
    contract::testing::addCustomer(files_.ar, id, std::move(balances),
                                   {{contract::arcust::kCustName, id + " Ltd"}});
  }

  std::map<std::string, int> queue() const { return contract::testing::queueReasons(files_.dt); }

  QTemporaryDir temp_;
  fs::path dir_;
  contract::DatabaseFiles files_;
  std::unique_ptr<PrivateBus> daemon_;
  QString address_;
  std::unique_ptr<oskara::automation::Bus> bus_;
};

TEST_F(ServersTest, UpdateRunsThroughBothActivatedServersWhichThenEndWhenIdle) {
  addCustomer("C30", {{"BalAge1", 120.0}});
  addCustomer("C120", {{"BalAge1", 10.0}, {"BalAge4", 300.0}});
  SqliteFile(files_.dt).insert(contract::kTblDTQueue, {{"CustID", "GONE"}, {"TransType", int16_t{9}}});
  startBus();
  ASSERT_FALSE(nameOwned(kVarrick));
  ASSERT_FALSE(nameOwned(kTormel));

  ObjectRef app = oskara::createObject(kVarrick);
  EXPECT_TRUE(nameOwned(kVarrick));
  EXPECT_FALSE(nameOwned(kTormel));  // only UpdateQueue asks for the engine

  const Update update = updateQueue(app, files_.dt.string(), true);
  EXPECT_EQ(update.result, "");
  EXPECT_EQ(update.lErr, 77);
  EXPECT_EQ(update.sError, "as the caller passed it");
  const qint64 varrick = pidOf(kVarrick);
  const qint64 tormel = pidOf(kTormel);
  EXPECT_NE(tormel, 0);
  EXPECT_NE(tormel, varrick);
  EXPECT_NE(tormel, QCoreApplication::applicationPid());
  // The queue was emptied and rebuilt: the oldest overdue band wins.
  EXPECT_EQ(queue(), (std::map<std::string, int>{{"C120", 5}, {"C30", 2}}));
  EXPECT_EQ(busLog().find(kBoxLine), std::string::npos);

  // With the client's object gone, nothing holds either server. The engine
  // was released when UpdateQueue returned, so tormel does not outlive
  // varrick by another idle period.
  app.reset();
  EXPECT_TRUE(waitUntil([&] { return processGone(varrick); }, 15000));
  EXPECT_TRUE(waitUntil([&] { return processGone(tormel); }, 2000));
  EXPECT_FALSE(nameOwned(kVarrick));
  EXPECT_FALSE(nameOwned(kTormel));
}

TEST_F(ServersTest, FailedScansComeBackInTheEngineFailureForm) {
  addCustomer("C30", {{"BalAge1", 120.0}});
  startBus();
  ObjectRef app = oskara::createObject(kVarrick);

  const Update badPath = updateQueue(app, (dir_ / "no such folder" / "dt.db").string(), false);
  EXPECT_EQ(badPath.result,
            "-1Error in Queue Engine Object !\r\n[-2147220504] Error at InitOptions.");
  EXPECT_EQ(badPath.lErr, -2147220504);
  EXPECT_EQ(badPath.sError, "Error at InitOptions.");

  // A failure inside the scan transaction: the engine's own number and text.
  SqliteFile(files_.ar).exec("DROP TABLE " + std::string(contract::kTblArCustHist));
  const Update inScan = updateQueue(app, files_.dt.string());
  const std::string text = inScan.sError;
  const int32_t number = inScan.lErr;
  EXPECT_TRUE(text.starts_with("[ProcessQueue]")) << text;
  EXPECT_GT(number, 0);
  EXPECT_EQ(inScan.result, "-1Error in Queue Engine Object !\r\n[ " + std::to_string(number) +
                               "] " + text);
  EXPECT_EQ(busLog().find(kBoxLine), std::string::npos) << busLog();

  SqliteFile(files_.dt).exec("DELETE FROM " + std::string(contract::kTblDTOptions));
  const Update noOptions = updateQueue(app, files_.dt.string(), true);
  EXPECT_EQ(noOptions.result, badPath.result);
  EXPECT_EQ(noOptions.lErr, badPath.lErr);
  // The headless server's message box, shown before the call returned.
  EXPECT_NE(busLog().find(std::string(kBoxLine) + "\n-2147220504 - Error at InitOptions.\n"),
            std::string::npos)
      << busLog();
  EXPECT_EQ(occurrences(busLog(), kBoxLine), 1u);  // only the call with prompt true showed one
}

TEST_F(ServersTest, UnregisteredEngineIsError429AndNoBoxEvenWhenPrompted) {
  startBus(configWithoutTormel());
  ObjectRef app = oskara::createObject(kVarrick);
  const Update update = updateQueue(app, files_.dt.string(), true);
  const std::string text = update.sError;
  EXPECT_EQ(update.lErr, 429);
  EXPECT_NE(text.find(kTormel), std::string::npos) << text;
  EXPECT_EQ(update.result, "-1[ 429] " + text);
  EXPECT_EQ(busLog().find(kBoxLine), std::string::npos) << busLog();
}

TEST_F(ServersTest, KilledClientsObjectsAreReleasedInBothServers) {
  startBus();
  QProcess client;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
  client.setProcessEnvironment(env);
  client.start(QStringLiteral(VARRICK_TEST_CLIENT),
               {QString::fromLatin1(kVarrick), QString::fromLatin1(kTormel)});
  ASSERT_TRUE(client.waitForReadyRead(15000)) << client.readAllStandardError().toStdString();
  ASSERT_EQ(client.readLine().trimmed(), "ready");
  const qint64 varrick = pidOf(kVarrick);
  const qint64 tormel = pidOf(kTormel);
  ASSERT_NE(varrick, 0);
  ASSERT_NE(tormel, 0);
  // Held objects keep both servers running.
  EXPECT_FALSE(waitUntil([&] { return processGone(varrick) || processGone(tormel); }, 1000));

  client.kill();
  client.waitForFinished(5000);
  EXPECT_TRUE(waitUntil([&] { return processGone(varrick) && processGone(tormel); }, 15000));
}

TEST_F(ServersTest, IntrospectionShowsBothFacesOfBothClasses) {
  startBus();
  const std::pair<const char*, const oskara::ClassInfo*> classes[] = {
      {kVarrick, &varrick::Application::methodTable().info()},
      {kTormel, &tormel::QueueEngine::methodTable().info()},
  };
  for (const auto& [progId, info] : classes) {
    SCOPED_TRACE(progId);
    const Methods expected = typedMethods(*info);
    // The factory: its own interface, and the typed one for callers without a connection.
    auto factory = introspectedInterfaces(introspect(progId, QStringLiteral("/oskara/Factory")));
    EXPECT_EQ(factory[progId], expected);
    EXPECT_EQ(factory["oskara.Automation.Factory"].count("CreateAndInvoke"), 1u);
    // An object: the late-bound interface and the typed one.
    QDBusMessage create = QDBusMessage::createMethodCall(
        QString::fromLatin1(progId), QStringLiteral("/oskara/Factory"),
        QStringLiteral("oskara.Automation.Factory"), QStringLiteral("Create"));
    create << QString::fromLatin1(progId);
    const QString path =
        qdbus_cast<QDBusObjectPath>(bus_->connection().call(create).arguments().value(0)).path();
    auto object = introspectedInterfaces(introspect(progId, path));
    EXPECT_EQ(object[progId], expected);
    EXPECT_EQ(object["oskara.Automation.Object"].count("Invoke"), 1u);
  }
}

// The example program of the docs, run as a client that we did not write:
// python3-dbus, nothing of ours.
TEST_F(ServersTest, PythonClientRunsASessionThroughTheTypedFace) {
  addCustomer("C30", {{"BalAge1", 120.0}});
  addCustomer("C120", {{"BalAge1", 10.0}, {"BalAge4", 300.0}});
  startBus();
  const QString examples = QStringLiteral(OSKARA_EXAMPLES_DIR);
  const auto [status, output] =
      runPython({examples + QStringLiteral("/queue_session.py"), QString::fromStdString(files_.dt),
                 QString::fromStdString(files_.ar), QString::fromStdString(files_.so)});
  ASSERT_EQ(status, 0) << output;
  for (const char* step :
       {"Logon: '' lErr=0", "UpdateQueue: '' lErr=0", "UpdateQueueAsync: '' lErr=0",
        "UpdQAsyncStatus: '' lErr=0", "ActiveUsersList: '", "LogOff: '' lErr=0"})
    EXPECT_NE(output.find(step), std::string::npos) << step << " in\n" << output;
  EXPECT_EQ(queue(), (std::map<std::string, int>{{"C120", 5}, {"C30", 2}}));

  // The same client's call on an object whose server has ended is answered
  // by a fresh server with 462, at once.
  const char* serverEnds = R"(
import os, signal, sys, time
import dbus
from dbus.mainloop.glib import DBusGMainLoop
sys.path.insert(0, sys.argv[1])
import queue_session
DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
app = queue_session.application(bus)
daemon = dbus.Interface(bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"),
                        "org.freedesktop.DBus")
os.kill(daemon.GetConnectionUnixProcessID(bus.get_name_owner(queue_session.APPLICATION)),
        signal.SIGKILL)
while bus.name_has_owner(queue_session.APPLICATION):
    time.sleep(0.05)
try:
    app.ActiveUsersList()
except dbus.DBusException as error:
    print(error.get_dbus_name(), error.get_dbus_message())
)";
  const auto [ended, answer] =
      runPython({QStringLiteral("-c"), QString::fromUtf8(serverEnds), examples});
  EXPECT_EQ(ended, 0) << answer;
  EXPECT_TRUE(answer.starts_with("oskara.Automation.Error [462] The server of " +
                                 std::string(kVarrick) + " object "))
      << answer;
}

// The explanation over the bus, asked by the docs' Python example while
// another workstation's update holds the file: its queue-processing lock and
// the scan's queue table deny-write, and an uncommitted write to the queue.
TEST_F(ServersTest, PythonClientExplainsACustomerWhileAnUpdateHoldsTheFile) {
  addCustomer("C120", {{"BalAge1", 10.0}, {"BalAge4", 300.0}});
  namespace db = oskara::db;
  db::Workspace& workspace = db::Engine::instance().workspace(0);
  db::DatabasePtr dt = workspace.openDatabase(files_.dt.string());
  db::RecordsetPtr lock =
      dt->openRecordset(contract::kTblDtQueueProcLock, db::RecordsetType::Dynaset, db::kDenyWrite);
  db::RecordsetPtr scanLock =
      dt->openRecordset(contract::kTblDTQueue, db::RecordsetType::Dynaset, db::kDenyWrite);
  workspace.beginTrans();
  scanLock->addNew();
  scanLock->setField("CustID", "C120");
  scanLock->setField("TransType", int16_t{1});
  scanLock->update();

  startBus();
  const QString examples = QStringLiteral(OSKARA_EXAMPLES_DIR);
  const auto [status, output] = runPython(
      {examples + QStringLiteral("/explain_customer.py"), QString::fromStdString(files_.dt),
       QString::fromStdString(files_.ar), QString::fromStdString(files_.so), QStringLiteral("C120")});
  ASSERT_EQ(status, 0) << output;
  for (const char* line : {"queued: no", " 4 Exceed120Days  queues", " 7 Exceed30Days   taken earlier (taken by Exceed120Days)",
                           " 8 OverLimit      not selected", "a scan now: reason 5 by Exceed120Days"})
    EXPECT_NE(output.find(line), std::string::npos) << line << " in\n" << output;

  const auto [failed, complaint] = runPython(
      {examples + QStringLiteral("/explain_customer.py"), QString::fromStdString((dir_ / "none.db").string()),
       QString::fromStdString(files_.ar), QString(), QStringLiteral("C120")});
  EXPECT_EQ(failed, 1);
  EXPECT_TRUE(complaint.starts_with("oskara.Automation.Error: [3024] ")) << complaint;

  workspace.rollback();
}

}  // namespace
