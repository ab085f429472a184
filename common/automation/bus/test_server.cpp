// A small automation server for the bus tests, started by bus activation as
// "OskaraTest.Server". Run as "automation_test_server peer" it is instead a
// client that takes references to the server's objects and waits to be
// killed, so that the tests can see a departed peer's references dropped.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "automation/bus/bus.h"
#include "automation/bus/bus_server.h"
#include "automation/method_table.h"
#include "automation/server_hold.h"

namespace oskara::automation {
namespace {

Bus* g_bus = nullptr;           // the process's bus, for Stats
int32_t g_childrenEnded = 0;   // end-of-object runs of Child
std::weak_ptr<Dispatch> g_shared;  // the one shared Child, alive while referenced
ObjectRef g_held;              // a reference kept across calls by Hold

class Child : public DispatchObject<Child> {
 public:
  ~Child() override { ++g_childrenEnded; }
  int32_t Next() { return ++count_; }
  static const MethodTable<Child>& methodTable() {
    static const MethodTable<Child> table("Child", {method("Next", &Child::Next)});
    return table;
  }

 private:
  int32_t count_ = 0;
};

class TestServer : public DispatchObject<TestServer> {
 public:
  bool Transfer(std::string account, int32_t amount, int32_t& lErr, std::string& sError) {
    if (amount <= 100) return true;
    lErr = amount * 1000;
    sError = "[Transfer]limit exceeded for " + account;
    return false;
  }
  std::string Describe(Variant value, std::optional<bool>& prompt) {
    std::string text(varTypeName(value.type()));
    text += prompt ? (*prompt ? "/True" : "/False") : "/missing";
    if (prompt) prompt = !*prompt;
    return text;
  }
  int16_t Narrow(int16_t value) { return value; }
  Variant Echo(Variant value) { return value; }
  void Fail() { throw Error(3044, "Not a valid path.", "InitOptions"); }
  // Calls Notify(text, count) on the object passed in and returns the count it wrote back.
  Variant CallBack(ObjectRef target, std::string text) {
    if (!target) throw Error(91, "Object variable not set.");
    std::vector<Variant> args{Variant(text), Variant(int32_t{0})};
    target->invoke("Notify", args);
    return args[1];
  }
  void Hold(ObjectRef target) { g_held = std::move(target); }
  ObjectRef Held() { return g_held; }
  void DropHeld() { g_held.reset(); }
  ObjectRef Shared() {
    ObjectRef shared = g_shared.lock();
    if (!shared) {
      shared = std::make_shared<Child>();
      g_shared = shared;
    }
    return shared;
  }
  int32_t Stats(std::string what) {
    if (what == "references") return static_cast<int32_t>(g_bus->remoteReferences());
    if (what == "exported") return static_cast<int32_t>(g_bus->exportedObjects());
    if (what == "childrenEnded") return g_childrenEnded;
    if (what == "pid") return static_cast<int32_t>(getpid());
    throw Error(5, "Invalid procedure call or argument: no statistic '" + what + "'.");
  }
  // Pending work: keeps the process alive for `ms` after the call returns.
  void Arm(int32_t ms) {
    auto hold = std::make_shared<ServerHold>();
    QTimer::singleShot(ms, [hold] {});
  }
  void Crash() { _exit(3); }
  // Raises Ticked(count, text) to whoever listens.
  void Tick(int32_t count, std::string text) { raiseEvent(*this, "Ticked", {count, text}); }

  static const MethodTable<TestServer>& methodTable() {
    static const MethodTable<TestServer> table(
        "TestServer",
        {
            method("Transfer", &TestServer::Transfer, {"account", "amount", "lErr", "sError"},
                   "Refuses amounts over 100 through lErr and sError."),
            method("Describe", &TestServer::Describe, {"value", "prompt"}),
            method("Narrow", &TestServer::Narrow, {"value"}),
            method("Echo", &TestServer::Echo, {"value"}),
            method("Fail", &TestServer::Fail),
            method("CallBack", &TestServer::CallBack, {"oTarget", "sText"}),
            method("Hold", &TestServer::Hold, {"oTarget"}),
            method("Held", &TestServer::Held),
            method("DropHeld", &TestServer::DropHeld),
            method("Shared", &TestServer::Shared),
            method("Stats", &TestServer::Stats, {"what"}),
            method("Arm", &TestServer::Arm, {"ms"}),
            method("Crash", &TestServer::Crash),
            method("Tick", &TestServer::Tick, {"count", "text"}),
        },
        {
            event<int32_t, std::string>("Ticked", {"count", "text"}, "Raised by Tick."),
        });
    return table;
  }
};

int runPeer(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Bus bus(Bus::defaultConnection());
  setObjectActivator(&bus);
  ObjectRef server = createObject("OskaraTest.Server");
  std::vector<Variant> none;
  Variant shared = server->invoke("Shared", none);
  std::printf("ready %s\n", bus.uniqueName().c_str());
  std::fflush(stdout);
  return app.exec();  // until killed
}

int runServerProgram(int argc, char** argv) {
  registerClass<TestServer>("OskaraTest.Server");
  QCoreApplication app(argc, argv);
  Bus bus(Bus::defaultConnection());
  g_bus = &bus;
  setObjectActivator(&bus);
  BusServer server(bus, ServerOptions{{"OskaraTest.Server"}, std::chrono::milliseconds(400)});
  try {
    server.start();
  } catch (const Error& e) {
    std::fprintf(stderr, "automation_test_server: %s\n", e.text().c_str());
    return 1;
  }
  const int status = app.exec();
  g_held.reset();
  setObjectActivator(nullptr);
  return status;
}

}  // namespace
}  // namespace oskara::automation

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "peer") == 0)
    return oskara::automation::runPeer(argc, argv);
  return oskara::automation::runServerProgram(argc, argv);
}
