// The automation layer across processes, on a private bus started for the
// test, with the test server started by bus activation.
#include "automation/bus/bus.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <functional>

#include "automation/method_table.h"
#include "automation/bus/testing/event_wait.h"
#include "automation/bus/testing/private_bus.h"

namespace oskara::automation {
namespace {

using oskara::test_support::PrivateBus;
using oskara::test_support::processGone;
using oskara::test_support::waitUntil;

int g_notifiersEnded = 0;

// A callback object of the test process, handed to the server.
class Notifier : public DispatchObject<Notifier> {
 public:
  ~Notifier() override { ++g_notifiersEnded; }
  void Notify(std::string text, int32_t& count) {
    received.push_back(text);
    count = static_cast<int32_t>(text.size());
  }
  static const MethodTable<Notifier>& methodTable() {
    static const MethodTable<Notifier> table("Notifier",
                                             {method("Notify", &Notifier::Notify, {"sText", "lCount"})});
    return table;
  }
  std::vector<std::string> received;
};

Variant call(const ObjectRef& object, std::string_view member, std::vector<Variant> args = {}) {
  return object->invoke(member, args);
}

int32_t errorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

int32_t stat(const ObjectRef& server, const char* what) {
  return call(server, "Stats", {what}).toInt32();
}

class BusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "bus_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    daemon_ = new PrivateBus(QStringLiteral(OSKARA_TEST_BUS_CONFIG));
    ASSERT_TRUE(daemon_->started());
    address_ = QString::fromStdString(daemon_->address());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());  // for the peer program
    bus_ = new Bus(QDBusConnection::connectToBus(address_, QStringLiteral("bus-test")));
    ASSERT_TRUE(bus_->connection().isConnected());
    setObjectActivator(bus_);
  }

  static void TearDownTestSuite() {
    setObjectActivator(nullptr);
    delete bus_;
    QDBusConnection::disconnectFromBus(QStringLiteral("bus-test"));
    delete daemon_;
  }

  static ObjectRef newServer() { return createObject("OskaraTest.Server"); }

  static inline PrivateBus* daemon_ = nullptr;
  static inline QString address_;
  static inline Bus* bus_ = nullptr;
};

TEST_F(BusTest, ActivatesTheServerAndDescribesItsClass) {
  ObjectRef server = newServer();
  ASSERT_NE(server, nullptr);
  const ClassInfo& info = server->typeInfo();
  EXPECT_EQ(info.name, "TestServer");
  ASSERT_GE(info.members.size(), 3u);
  EXPECT_EQ(info.members[0].name, "Transfer");
  EXPECT_EQ(info.members[0].help, "Refuses amounts over 100 through lErr and sError.");
  EXPECT_EQ(info.members[0].result, DeclType::Boolean);
  EXPECT_TRUE(info.members[0].params[2].byRef);
  EXPECT_EQ(info.members[0].params[2].type, DeclType::Long);
  EXPECT_TRUE(info.members[1].params[1].optional);
}

TEST_F(BusTest, ByReferenceArgumentsComeBackInTheCallersTypes) {
  ObjectRef server = newServer();
  std::vector<Variant> args{"ACC1", int32_t{250}, int32_t{0}, ""};
  EXPECT_EQ(server->invoke("Transfer", args), Variant(false));
  EXPECT_EQ(args[0], Variant("ACC1"));
  EXPECT_EQ(args[1], Variant(int32_t{250}));
  EXPECT_EQ(args[2], Variant(int32_t{250000}));
  EXPECT_EQ(args[3], Variant("[Transfer]limit exceeded for ACC1"));

  std::vector<Variant> typed{"ACC2", int32_t{101}, "0", Variant()};
  server->invoke("transfer", typed);  // any case
  EXPECT_EQ(typed[2], Variant("101000"));
  EXPECT_EQ(typed[3], Variant("[Transfer]limit exceeded for ACC2"));
}

TEST_F(BusTest, MissingOptionalArgumentsStayMissing) {
  ObjectRef server = newServer();
  EXPECT_EQ(call(server, "Describe", {int32_t{5}}), Variant("Long/missing"));
  std::vector<Variant> args{"x", true};
  EXPECT_EQ(server->invoke("Describe", args), Variant("String/True"));
  EXPECT_EQ(args[1], Variant(false));
  EXPECT_EQ(call(server, "Describe", {"x", missingArgument()}), Variant("String/missing"));
  EXPECT_EQ(errorNumber([&] { call(server, "Describe", {missingArgument()}); }), 449);
}

TEST_F(BusTest, VariantsKeepTheirTypesAcrossTheBus) {
  ObjectRef server = newServer();
  const std::vector<Variant> values{
      Variant(),         Variant::null(),        Variant(true),
      Variant(false),    Variant(int16_t{-7}),   Variant(int32_t{70000}),
      Variant(2.5),      Variant(DateTime::fromParts(2024, 2, 29, 13, 45, 10)),
      Variant("Ünïcode text"), Variant::error(1238), Variant(ObjectRef()),
  };
  for (const Variant& v : values) {
    EXPECT_EQ(call(server, "Echo", {v}), v) << v.debugString();
  }
}

TEST_F(BusTest, ConversionAndDispatchFailuresKeepTheirNumbers) {
  ObjectRef server = newServer();
  EXPECT_EQ(call(server, "Narrow", {"5"}), Variant(int16_t{5}));
  EXPECT_EQ(call(server, "Narrow", {2.5}), Variant(int16_t{2}));
  try {
    call(server, "Narrow", {"five"});
    FAIL() << "no type mismatch";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 13);
    EXPECT_NE(e.text().find("'value'"), std::string::npos) << e.text();
  }
  EXPECT_EQ(errorNumber([&] { call(server, "Narrow", {int32_t{40000}}); }), 6);
  EXPECT_EQ(errorNumber([&] { call(server, "Frobnicate"); }), 438);
  EXPECT_EQ(errorNumber([&] { call(server, "Narrow"); }), 450);
  try {
    call(server, "Fail");
    FAIL() << "no failure";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3044);
    EXPECT_EQ(e.text(), "Not a valid path.");
    EXPECT_EQ(e.source(), "InitOptions");
  }
}

TEST_F(BusTest, ObjectPassedToAnotherProcessIsCalledBack) {
  ObjectRef server = newServer();
  auto notifier = std::make_shared<Notifier>();
  EXPECT_EQ(call(server, "CallBack", {ObjectRef(notifier), "hello"}), Variant(int32_t{5}));
  EXPECT_EQ(notifier->received, std::vector<std::string>{"hello"});
  // The server dropped its reference when the call ended.
  EXPECT_TRUE(waitUntil([] { return bus_->exportedObjects() == 0; }));

  // A reference kept by the server comes back as the object itself.
  call(server, "Hold", {ObjectRef(notifier)});
  EXPECT_EQ(bus_->exportedObjects(), 1u);
  EXPECT_EQ(call(server, "Held").toObject(), ObjectRef(notifier));
  EXPECT_EQ(bus_->remoteReferences(), 1u);  // coming back home counts nothing

  // With only the server's reference left, its release ends the object.
  const int endedBefore = g_notifiersEnded;
  notifier.reset();
  EXPECT_EQ(g_notifiersEnded, endedBefore);
  call(server, "DropHeld");
  EXPECT_TRUE(waitUntil([&] { return g_notifiersEnded == endedBefore + 1; }));
  EXPECT_EQ(bus_->exportedObjects(), 0u);
}

TEST_F(BusTest, ReferencesAreCountedPerPeer) {
  const QString secondName = QStringLiteral("bus-test-second");
  {
    Bus second(QDBusConnection::connectToBus(address_, secondName));
    ObjectRef serverA = newServer();
    ObjectRef serverB = second.activate("OskaraTest.Server");
    const int32_t endedBefore = stat(serverA, "childrenEnded");

    ObjectRef sharedA = call(serverA, "Shared").toObject();
    ObjectRef sharedAgain = call(serverA, "Shared").toObject();
    EXPECT_EQ(sharedA, sharedAgain);  // one proxy per remote object
    ObjectRef sharedB = call(serverB, "Shared").toObject();
    // serverA and serverB once each, the shared object twice for A and once for B.
    EXPECT_EQ(stat(serverA, "references"), 5);

    sharedA.reset();
    sharedAgain.reset();  // gives back both of A's references
    EXPECT_TRUE(waitUntil([&] { return stat(serverA, "references") == 3; }));
    EXPECT_EQ(stat(serverA, "childrenEnded"), endedBefore);
    EXPECT_EQ(call(sharedB, "Next"), Variant(int32_t{1}));

    sharedB.reset();
    EXPECT_TRUE(waitUntil([&] { return stat(serverA, "references") == 2; }));
    EXPECT_EQ(stat(serverA, "childrenEnded"), endedBefore + 1);
  }
  QDBusConnection::disconnectFromBus(secondName);
}

TEST_F(BusTest, ReferencesOfAKilledPeerAreDropped) {
  ObjectRef server = newServer();
  const int32_t before = stat(server, "references");
  QProcess peer;
  peer.start(QStringLiteral(OSKARA_TEST_SERVER), {QStringLiteral("peer")});
  ASSERT_TRUE(peer.waitForReadyRead(10000));
  ASSERT_TRUE(peer.readLine().startsWith("ready"));
  EXPECT_EQ(stat(server, "references"), before + 2);  // its server object and the shared one

  kill(static_cast<pid_t>(peer.processId()), SIGKILL);
  peer.waitForFinished(5000);
  EXPECT_TRUE(waitUntil([&] { return stat(server, "references") == before; }));
}

TEST_F(BusTest, PeerThatDiesFailsTheCallAtOnce) {
  ObjectRef server = newServer();
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(errorNumber([&] { call(server, "Crash"); }), 462);
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_EQ(errorNumber([&] { call(server, "Echo", {1}); }), 462);
}

TEST_F(BusTest, ServerWatchReportsAKilledServerOnceAndNotAfterItsEnd) {
  ObjectRef server = newServer();
  ObjectRef other = newServer();  // the same process
  const int32_t pid = stat(server, "pid");
  int gone = 0;
  int cancelledGone = 0;
  std::unique_ptr<ServerWatch> watch = watchServer(server, [&] { ++gone; });
  ASSERT_NE(watch, nullptr);
  std::unique_ptr<ServerWatch> cancelled = watchServer(other, [&] { ++cancelledGone; });
  cancelled.reset();
  // Objects of this process cannot go without it: nothing to watch.
  EXPECT_EQ(watchServer(std::make_shared<Notifier>(), [] {}), nullptr);
  EXPECT_FALSE(waitUntil([&] { return gone > 0; }, 300));  // alive: no report

  kill(pid, SIGKILL);
  EXPECT_TRUE(waitUntil([&] { return gone > 0; }));
  // A watch armed after the server went reports as well.
  int late = 0;
  auto lateWatch = watchServer(server, [&] { ++late; });
  EXPECT_TRUE(waitUntil([&] { return late > 0; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(gone, 1);
  EXPECT_EQ(late, 1);
  EXPECT_EQ(cancelledGone, 0);
}

TEST_F(BusTest, ServerEndsWhenIdleButNotWhileItHasWork) {
  ObjectRef server = newServer();
  const int32_t pid = stat(server, "pid");
  call(server, "Arm", {int32_t{1500}});
  server.reset();
  EXPECT_FALSE(waitUntil([&] { return processGone(pid); }, 1000));  // held by its pending work
  EXPECT_TRUE(waitUntil([&] { return processGone(pid); }, 8000));
  // The next creation starts a new server.
  ObjectRef again = newServer();
  EXPECT_NE(stat(again, "pid"), pid);
}

TEST_F(BusTest, UnknownClassCannotBeCreated) {
  try {
    createObject("OskaraTest.Nowhere");
    FAIL() << "created an object of an unknown class";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 429);
    EXPECT_NE(e.text().find("Cannot create object 'OskaraTest.Nowhere'."), std::string::npos);
  }
}

TEST_F(BusTest, ClassesServedHereAreCreatedWithoutTheBus) {
  registerClass<Notifier>("OskaraTest.Local");
  ObjectRef viaRegistry = createObject("OskaraTest.Local");
  ObjectRef viaBus = bus_->activate("OskaraTest.Local");
  EXPECT_NE(dynamic_cast<Notifier*>(viaRegistry.get()), nullptr);
  EXPECT_NE(dynamic_cast<Notifier*>(viaBus.get()), nullptr);
  unregisterClass("OskaraTest.Local");
}

}  // namespace
}  // namespace oskara::automation
