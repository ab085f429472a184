// The automation layer across processes, on a private bus started for the
// test, with the test server started by bus activation.
#include "automation/bus/bus.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <functional>

#include "automation/bus/wire.h"
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

const QString kClass = QStringLiteral("OskaraTest.Server");  // bus name and typed interface
const QString kFactory = QStringLiteral("/oskara/Factory");

// What a call came to: its values (the result, then the by-reference
// arguments), or its failure's number and text.
struct Outcome {
  std::vector<Variant> values;
  int32_t number = 0;
  std::string text;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
  for (const Variant& v : o.values) *out << v.debugString() << " ";
  if (o.number != 0) *out << "[" << o.number << "] " << o.text;
}

Outcome invokeOutcome(const ObjectRef& object, const std::string& member,
                      std::vector<Variant> args) {
  Outcome out;
  try {
    const Variant result = object->invoke(member, args);
    const MemberInfo* info = object->typeInfo().findMember(member);
    if (info->result != DeclType::Void) out.values.push_back(result);
    for (size_t i = 0; i < info->params.size(); ++i) {
      if (info->params[i].byRef) out.values.push_back(args[i]);
    }
  } catch (const Error& e) {
    out.number = e.number();
    out.text = e.text();
  }
  return out;
}

// A value of a typed reply as the Variant it stands for.
Variant fromPlain(const QVariant& value) {
  if (value.metaType() == QMetaType::fromType<QDBusVariant>())
    return fromPlain(value.value<QDBusVariant>().variant());
  if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {  // a value in its (yv) form
    const auto noObjects = [](const wire::ObjectAddress&) -> ObjectRef {
      ADD_FAILURE() << "no object expected";
      return nullptr;
    };
    return wire::decode(qdbus_cast<wire::Value>(value), noObjects);
  }
  switch (value.metaType().id()) {
    case QMetaType::Bool: return Variant(value.toBool());
    case QMetaType::Short: return Variant(static_cast<int16_t>(value.value<short>()));
    case QMetaType::Int: return Variant(static_cast<int32_t>(value.toInt()));
    case QMetaType::Double: return Variant(value.toDouble());
    case QMetaType::QString: return Variant(value.toString().toStdString());
    default: ADD_FAILURE() << "unexpected " << value.metaType().name(); return Variant();
  }
}

Outcome typedOutcome(const QDBusMessage& reply) {
  Outcome out;
  if (reply.type() == QDBusMessage::ErrorMessage) {
    const QString text = reply.errorMessage();  // "[number] text"
    const qsizetype close = text.indexOf(QLatin1String("] "));
    out.number = text.mid(1, close - 1).toInt();
    out.text = text.mid(close + 2).toStdString();
    return out;
  }
  for (const QVariant& value : reply.arguments()) out.values.push_back(fromPlain(value));
  return out;
}

QVariant plainVariant(const QVariant& value) { return QVariant::fromValue(QDBusVariant(value)); }
QVariant taggedVariant(VarType type, const QVariant& value) {
  const wire::Value tagged{static_cast<uchar>(type), QDBusVariant(value)};
  return plainVariant(QVariant::fromValue(tagged));
}

// Catches the signals it is connected to.
class SignalCatcher : public QObject {
  Q_OBJECT
 public slots:
  void caught(const QDBusMessage& signal) { received.push_back(signal); }

 public:
  std::vector<QDBusMessage> received;
};

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

  // Calls as a client of another library makes them: plain messages on
  // `connection` (this test's own by default).
  static QDBusMessage rawCall(const QString& path, const QString& interface, const QString& member,
                              const QVariantList& args = {},
                              QDBusConnection connection = bus_->connection()) {
    QDBusMessage message = QDBusMessage::createMethodCall(kClass, path, interface, member);
    message.setArguments(args);
    return connection.call(message, QDBus::Block);
  }
  // An object created through the factory, held by `connection`: its path.
  static QString createdPath(QDBusConnection connection = bus_->connection()) {
    const QDBusMessage reply = rawCall(kFactory, QStringLiteral("oskara.Automation.Factory"),
                                       QStringLiteral("Create"), {kClass}, connection);
    return qdbus_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
  }
  static void release(const QString& path) {
    rawCall(path, QStringLiteral("oskara.Automation.Object"), QStringLiteral("Release"), {1u});
  }
  static QString serverOwner() {
    return bus_->connection().interface()->serviceOwner(kClass).value();
  }

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
    EXPECT_EQ(e.source(), "OskaraTest.Server");  // the class that refused it
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
  // One that it drops as it answers comes back in the answer all the same,
  // whether its release is served before the reply is read or after.
  EXPECT_EQ(call(server, "Echo", {ObjectRef(notifier)}).toObject(), ObjectRef(notifier));
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

TEST_F(BusTest, TypedCallsComeToWhatInvokeComesTo) {
  ObjectRef server = newServer();
  const QString path = createdPath();
  const DateTime leapDay = DateTime::fromParts(2024, 2, 29, 13, 45, 10);
  struct Case {
    const char* member;
    QVariantList typed;
    std::vector<Variant> lateBound;
  };
  const std::vector<Case> cases{
      {"Transfer", {"ACC1", 250, 0, ""}, {"ACC1", int32_t{250}, int32_t{0}, ""}},
      {"Transfer", {"ACC2", 50, 7, "kept"}, {"ACC2", int32_t{50}, int32_t{7}, "kept"}},
      {"Describe", {plainVariant(2.5), true}, {2.5, true}},
      {"Narrow", {QVariant::fromValue<short>(-5)}, {int16_t{-5}}},
      {"Echo", {plainVariant(QVariant::fromValue<short>(-7))}, {int16_t{-7}}},
      {"Echo", {plainVariant(70000)}, {int32_t{70000}}},
      {"Echo", {plainVariant(false)}, {false}},
      {"Echo", {plainVariant(QStringLiteral("Ünïcode"))}, {"Ünïcode"}},
      {"Echo", {taggedVariant(VarType::Null, QString())}, {Variant::null()}},
      {"Echo", {taggedVariant(VarType::Empty, QString())}, {Variant()}},
      {"Echo", {taggedVariant(VarType::Date, leapDay.serial)}, {Variant(leapDay)}},
      {"Echo", {taggedVariant(VarType::Error, 1238)}, {Variant::error(1238)}},
      {"Fail", {}, {}},
      {"Stats", {"nothing"}, {"nothing"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    const Outcome expected = invokeOutcome(server, c.member, c.lateBound);
    EXPECT_EQ(typedOutcome(rawCall(path, kClass, c.member, c.typed)), expected);
    // The factory's route, for callers that hold no connection, comes to the same.
    EXPECT_EQ(typedOutcome(rawCall(kFactory, kClass, c.member, c.typed)), expected);
  }

  // Objects travel as (bus name, path); Nothing is ("", "/").
  const auto address = [](const QDBusMessage& reply) {
    return qdbus_cast<wire::ObjectAddress>(reply.arguments().value(0));
  };
  const wire::ObjectAddress self{serverOwner(), QDBusObjectPath(path)};
  rawCall(path, kClass, QStringLiteral("Hold"), {QVariant::fromValue(self)});
  EXPECT_EQ(address(rawCall(path, kClass, QStringLiteral("Held"))).path.path(), path);
  rawCall(path, kClass, QStringLiteral("Hold"),
          {QVariant::fromValue(wire::ObjectAddress{QString(), QDBusObjectPath("/")})});
  EXPECT_EQ(address(rawCall(path, kClass, QStringLiteral("Held"))).bus, QString());
  release(path);
}

TEST_F(BusTest, TypedCallsThatDoNotFitAreRefusedAndTheServerGoesOn) {
  ObjectRef server = newServer();
  const int32_t pid = stat(server, "pid");
  const QString path = createdPath();
  const QString ended = createdPath();
  release(ended);
  const QString secondName = QStringLiteral("bus-test-other-client");
  QDBusConnection second = QDBusConnection::connectToBus(address_, secondName);
  const QString notOurs = createdPath(second);
  const QString error = QStringLiteral("oskara.Automation.Error");
  const QString unknownInterface = QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface");
  struct Case {
    QString path, interface, member;
    QVariantList args;
    QString errorName;
    const char* text;
  };
  const std::vector<Case> cases{
      {kFactory, kClass, "Transfer", {"ACC1", 250}, error,
       "[450] Wrong number of arguments or invalid property assignment: OskaraTest.Server.Transfer "
       "takes 4 argument(s) (account s, amount i, lErr i, sError s), not 2 (signature \"si\")."},
      {path, kClass, "Transfer", {"ACC1", "250", 0, ""}, error,
       "[13] Type mismatch in argument 'amount' of OskaraTest.Server.Transfer: expected i (Long), "
       "got s; the method's signature is siis."},
      {path, kClass, "Echo", {plainVariant(QVariant::fromValue(QDBusObjectPath("/x")))}, error,
       "[13] Type mismatch in argument 'value' of OskaraTest.Server.Echo: "},
      {path, kClass, "Frobnicate", {}, error, "[438] "},
      {kFactory, "Some.Other", "Transfer", {}, unknownInterface,
       "No interface 'Some.Other' with a method Transfer on the class factory; it offers "
       "oskara.Automation.Factory, OskaraTest.Server."},
      {kFactory, "Some.Other", "CreateAndInvoke",
       {kClass, "Fail", QVariant::fromValue(wire::ValueList{})}, unknownInterface,
       "No interface 'Some.Other'"},
      {path, "Some.Other", "Invoke", {}, unknownInterface, "No interface 'Some.Other'"},
      {ended, kClass, "Narrow", {QVariant::fromValue<short>(1)}, error,
       "[462] The server of OskaraTest.Server object "},
      {notOurs, kClass, "Narrow", {QVariant::fromValue<short>(1)}, error,
       "[462] The server of OskaraTest.Server object "},
      // Nor through the late-bound protocol: a path is no reference.
      {notOurs, "oskara.Automation.Object", "Invoke",
       {QStringLiteral("Echo"), QVariant::fromValue(wire::ValueList{})},
       "org.freedesktop.DBus.Error.UnknownObject", "No object at "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member.toStdString() + " on " + c.path.toStdString());
    const QDBusMessage reply = rawCall(c.path, c.interface, c.member, c.args);
    EXPECT_EQ(reply.errorName().toStdString(), c.errorName.toStdString());
    EXPECT_TRUE(reply.errorMessage().startsWith(QString::fromUtf8(c.text)))
        << reply.errorMessage().toStdString();
  }
  // Still the same server, serving as before.
  EXPECT_EQ(stat(server, "pid"), pid);
  EXPECT_EQ(typedOutcome(rawCall(path, kClass, "Narrow", {QVariant::fromValue<short>(4)})).values,
            std::vector<Variant>{int16_t{4}});
  release(path);
  QDBusConnection::disconnectFromBus(secondName);
}

TEST_F(BusTest, EventsAreSignalsOfTheTypedInterface) {
  ObjectRef server = newServer();
  const QString path = createdPath();
  SignalCatcher catcher;
  ASSERT_TRUE(bus_->connection().connect(serverOwner(), path, kClass, QStringLiteral("Ticked"),
                                         &catcher, SLOT(caught(QDBusMessage))));
  rawCall(path, kClass, QStringLiteral("Tick"), {3, "go"});
  ASSERT_TRUE(waitUntil([&] { return !catcher.received.empty(); }));
  EXPECT_EQ(catcher.received[0].arguments(), (QVariantList{3, QStringLiteral("go")}));
  const QDBusMessage xml = rawCall(path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                   QStringLiteral("Introspect"));
  EXPECT_TRUE(xml.arguments().value(0).toString().contains(
      QStringLiteral("<signal name=\"Ticked\">")));
  release(path);
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

#include "bus_test.moc"
