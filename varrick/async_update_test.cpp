// The asynchronous update in one process: a stand-in engine server, reached
// through the object activator as the real one is through the bus, records
// each request and its callback object; the test plays the engine by calling
// CallBack, or its death by firing the server watch. The lock is real: a
// table of a real DT file, probed by a deny-write open of the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "automation/class_registry.h"
#include "clients/application_client.h"
#include "contract/classes.h"
#include "contract/schema.h"
#include "contract/tables.h"
#include "dbengine/dbengine.h"
#include "presenter/message_presenter.h"
#include "varrick/application.h"
#include "varrick/process_state.h"

namespace varrick {
namespace {

namespace fs = std::filesystem;
namespace contract = oskara::contract;
namespace db = oskara::db;
using oskara::ObjectRef;
using oskara::clients::ApplicationClient;
using oskara::automation::DispatchObject;
using oskara::automation::MethodTable;
using oskara::automation::method;

const std::string kBusy = "Another user is performing Queue Processing.\r\n\rPlease try again later !";

// What the stand-in engine's UpdQueueAsync does and saw.
struct EngineServer {
  bool schedule = true;   // its result
  int32_t lErr = 0;       // written when it refuses
  std::string sError;
  std::optional<oskara::Error> raise;  // the call fails at the dispatch level instead
  std::vector<std::string> dtPaths;
  ObjectRef callBack;     // of the last request
  std::weak_ptr<oskara::Dispatch> lastEngine;
  std::function<void()> onGone;  // the watch on the server, while armed
  std::function<void()> whileActivating;  // calls served while an engine is being made
};
EngineServer* g_server = nullptr;

class StandInEngine : public DispatchObject<StandInEngine> {
 public:
  bool UpdQueueAsync(std::string dt, std::string, std::string, ObjectRef& oCallBack,
                     int32_t& lErr, std::string& sError) {
    if (g_server->raise) throw *g_server->raise;
    g_server->dtPaths.push_back(dt);
    g_server->callBack = oCallBack;
    if (!g_server->schedule) {
      lErr = g_server->lErr;
      sError = g_server->sError;
    }
    return g_server->schedule;
  }
  static const MethodTable<StandInEngine>& methodTable() {
    static const MethodTable<StandInEngine> table(
        contract::queue_engine::kClassName,
        {method(contract::queue_engine::kUpdQueueAsync, &StandInEngine::UpdQueueAsync,
                {"DT_UNCPath", "AR_UNCPath", "SO_UNCPath", "oCallBack", "lErr", "sError"})});
    return table;
  }
};

class StandInWatch : public oskara::ServerWatch {
 public:
  ~StandInWatch() override {
    if (g_server) g_server->onGone = nullptr;
  }
};

// Serves the engine's class as if from another process.
class StandInActivator : public oskara::ObjectActivator {
 public:
  ObjectRef activate(std::string_view progId) override {
    if (progId != contract::kQueueEngineClass) throw oskara::cannotCreateObject(progId);
    if (auto served = std::exchange(g_server->whileActivating, nullptr)) served();
    auto engine = std::make_shared<StandInEngine>();
    g_server->lastEngine = engine;
    return engine;
  }
  std::unique_ptr<oskara::ServerWatch> watchServer(const ObjectRef& object,
                                                   std::function<void()> onGone) override {
    if (object != g_server->lastEngine.lock()) return nullptr;
    g_server->onGone = std::move(onGone);
    return std::make_unique<StandInWatch>();
  }
};

// Records each message and runs an action while it is "up".
class BoxWithAction : public oskara::RecordingPresenter {
 public:
  explicit BoxWithAction(std::function<void()> action) : action_(std::move(action)) {}
  void show(std::string_view text, std::string_view title, int32_t style) override {
    RecordingPresenter::show(text, title, style);
    action_();
  }

 private:
  std::function<void()> action_;
};

struct Reply {
  std::string result;
  int32_t lErr = 77;
  std::string sError = "as passed";
};

class AsyncUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registerApplication();
    g_server = &server_;
    previous_ = oskara::setObjectActivator(&activator_);
    dir_ = fs::temp_directory_path() /
           ("varrick-async-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(dir_);
    files_ = contract::createDatabaseFiles(dir_);
    app_ = oskara::createObject(contract::kApplicationClass);
    int32_t lErr = 0;
    std::string sError;
    ASSERT_EQ(ApplicationClient(app_).Logon(files_.dt.string(), "", "", lErr, sError), "");
  }

  void TearDown() override {
    app_.reset();
    server_.callBack.reset();
    g_rsHeld.reset();
    g_rsLock.reset();
    g_dbLock.reset();
    g_dbDT.reset();
    g_bAsyncRunning = false;
    g_sAsyncResult.clear();
    g_lAsyncErr = 0;
    g_sAsyncError.clear();
    g_bAsyncPrompt = false;
    oskara::setObjectActivator(previous_);
    g_server = nullptr;
    fs::remove_all(dir_);
  }

  Reply start(std::optional<bool> prompt = {}) { return startFrom(app_, prompt); }
  Reply startFrom(const ObjectRef& app, std::optional<bool> prompt = {}) {
    Reply reply;
    reply.result = ApplicationClient(app).UpdateQueueAsync(
        files_.dt.string(), files_.ar.string(), files_.so.string(), reply.lErr, reply.sError, prompt);
    return reply;
  }

  static Reply poll(const ObjectRef& app) {
    Reply reply;
    reply.result = ApplicationClient(app).UpdQAsyncStatus(reply.lErr, reply.sError);
    return reply;
  }

  // The engine reporting the end of the scan.
  void engineCallsBack(int32_t lErr, const std::string& sError) {
    ASSERT_NE(server_.callBack, nullptr);
    ApplicationClient(server_.callBack).CallBack(lErr, sError);
  }

  // Whether another user could take the lock now: a deny-write open of the
  // lock table through a database object of the test's own.
  bool lockFree() {
    try {
      db::DatabasePtr other = db::Engine::instance().workspace(0).openDatabase(files_.dt.string());
      other->openRecordset(contract::kTblDtQueueProcLock, db::RecordsetType::Dynaset, db::kDenyWrite)->close();
      return true;
    } catch (const oskara::Error&) {
      return false;
    }
  }

  static inline int counter_ = 0;
  EngineServer server_;
  StandInActivator activator_;
  oskara::ObjectActivator* previous_ = nullptr;
  fs::path dir_;
  contract::DatabaseFiles files_;
  ObjectRef app_;
};

TEST_F(AsyncUpdateTest, InterfaceOrderAndThePollingHelpText) {
  const auto& members = app_->typeInfo().members;
  ASSERT_GE(members.size(), 5u);
  EXPECT_EQ(members[2].name, "UpdateQueueAsync");
  EXPECT_EQ(members[3].name, "UpdQAsyncStatus");
  EXPECT_EQ(members[4].name, "CallBack");
  EXPECT_EQ(members[3].help,
            "Poll for Queue Engine processing status.  Returns \"\" as Queue Engine Processing "
            "successfully completed.\r\nReturns \"01\" as Queue Engine still in processing.\r\n"
            "Returns \"-1\" as An error occurred, followed by the error messages.");
}

TEST_F(AsyncUpdateTest, RunningUntilTheEngineCallsBackThenFinishedAndTheLockFree) {
  EXPECT_EQ(poll(app_).result, "");  // before any update
  EXPECT_EQ(poll(app_).lErr, 0);

  const Reply started = start();
  EXPECT_EQ(started.result, "");
  EXPECT_EQ(started.lErr, 77);
  EXPECT_EQ(started.sError, "as passed");
  EXPECT_EQ(server_.dtPaths, std::vector<std::string>{files_.dt.string()});
  // The callback object is a second Application of this process.
  ASSERT_NE(dynamic_cast<Application*>(server_.callBack.get()), nullptr);
  EXPECT_NE(server_.callBack, app_);

  // Any object of the process polls. (Its end would close the lock: every
  // Application closes the process's held recordset when it ends.)
  ObjectRef other = oskara::createObject(contract::kApplicationClass);
  const Reply running = poll(other);
  EXPECT_EQ(running.result, "01");
  EXPECT_EQ(running.lErr, 77);
  EXPECT_FALSE(lockFree());
  EXPECT_FALSE(server_.lastEngine.expired());  // still running: the engine is held

  // Only the callback object handed to the engine ends the update.
  int32_t lErr = 0;
  std::string sError = "forged";
  ApplicationClient(other).CallBack(lErr, sError);
  ApplicationClient(app_).CallBack(lErr, sError);
  EXPECT_EQ(poll(other).result, "01");
  EXPECT_FALSE(lockFree());

  engineCallsBack(0, "scan done");
  EXPECT_TRUE(lockFree());
  const Reply done = poll(app_);
  EXPECT_EQ(done.result, "");
  EXPECT_EQ(done.lErr, 0);
  EXPECT_EQ(done.sError, "scan done");
  // The poll after the end lets go of the engine; the engine's report ended
  // the watch on its server.
  EXPECT_TRUE(server_.lastEngine.expired());
  EXPECT_EQ(server_.onGone, nullptr);
}

TEST_F(AsyncUpdateTest, SecondStartWhileOneRunsIsRefusedAndNothingButTheReportEndsTheFirst) {
  ObjectRef client = oskara::createObject(contract::kApplicationClass);  // another client
  // Another client's start served while the first waits for its engine.
  Reply whileStarting;
  server_.whileActivating = [&] { whileStarting = startFrom(client); };
  ASSERT_EQ(start(true).result, "");
  EXPECT_EQ(whileStarting.lErr, 1238);
  EXPECT_EQ(server_.dtPaths.size(), 1u);
  ObjectRef first = server_.callBack;
  oskara::RecordingPresenter presenter;
  oskara::ScopedPresenter scoped(presenter);
  const Reply refused = startFrom(client);
  const std::string message = "Queue Processing of '" + files_.dt.string() +
                              "' is still running on this server.\r\n\rPlease try again later !";
  EXPECT_EQ(refused.result, "-1" + message);
  EXPECT_EQ(refused.lErr, 1238);
  EXPECT_EQ(refused.sError, message);
  EXPECT_TRUE(presenter.shown.empty());  // the running update's prompt is not the refusal's
  EXPECT_EQ(server_.dtPaths.size(), 1u);  // the engine was not asked
  EXPECT_EQ(poll(client).result, "01");   // the running update's status is untouched

  // Another client's log-off and the end of objects leave the lock held.
  int32_t lErr = 0;
  std::string sError;
  EXPECT_EQ(ApplicationClient(client).LogOff(lErr, sError), "");
  client.reset();
  app_.reset();
  EXPECT_FALSE(lockFree());

  // The report ends it; a callback object ending later touches nothing.
  engineCallsBack(0, "");
  EXPECT_TRUE(lockFree());
  app_ = oskara::createObject(contract::kApplicationClass);
  ASSERT_EQ(ApplicationClient(app_).Logon(files_.dt.string(), "", "", lErr, sError), "");
  ASSERT_EQ(start().result, "");
  server_.callBack.reset();
  first.reset();
  EXPECT_FALSE(lockFree());
}

TEST_F(AsyncUpdateTest, RefusalsThatAreNotAnotherUserSayWhatIsWrong) {
  int32_t lErr = 0;
  std::string sError;
  ASSERT_EQ(ApplicationClient(app_).LogOff(lErr, sError), "");
  const Reply notLoggedOn = start();
  EXPECT_EQ(notLoggedOn.lErr, 1238);
  EXPECT_EQ(notLoggedOn.result, "-1" + notLoggedOn.sError);
  EXPECT_NE(notLoggedOn.sError.find("not logged on"), std::string::npos) << notLoggedOn.sError;
  EXPECT_EQ(notLoggedOn.sError.find("Another user"), std::string::npos);

  const std::string lockFile = files_.dt.string() + "-lock";
  fs::remove(lockFile);
  fs::create_directory(lockFile);
  ASSERT_EQ(ApplicationClient(app_).Logon(files_.dt.string(), "", "", lErr, sError), "");
  const Reply unusable = start();
  EXPECT_EQ(unusable.lErr, 3051);
  EXPECT_NE(unusable.sError.find(lockFile), std::string::npos) << unusable.sError;
  EXPECT_EQ(unusable.result, "-1[UpdateQueueAsync][ 3051] " + unusable.sError);
  EXPECT_EQ(poll(app_).result, unusable.result);
  EXPECT_TRUE(server_.dtPaths.empty());
}

TEST_F(AsyncUpdateTest, FailedScanIsReportedInTheEngineFailureFormAfterTheBox) {
  ASSERT_EQ(start(true).result, "");
  // While the box is up the update still counts as running and holds the lock.
  std::vector<std::string> polled;
  bool freeDuringBox = true;
  BoxWithAction box([&] {
    polled.push_back(poll(app_).result);
    freeDuringBox = lockFree();
  });
  oskara::ScopedPresenter boxScope(box);

  engineCallsBack(-2147220504, "Error at InitOptions.");
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].text, "Error in Queue Engine Object !\r\n-2147220504 - Error at InitOptions.");
  EXPECT_EQ(box.shown[0].title, "Oskara");
  EXPECT_EQ(box.shown[0].style, 16);
  EXPECT_EQ(polled, std::vector<std::string>{"01"});
  EXPECT_FALSE(freeDuringBox);

  const Reply failed = poll(app_);
  EXPECT_EQ(failed.result, "-1Error in Queue Engine Object !\r\n[-2147220504] Error at InitOptions.");
  EXPECT_EQ(failed.lErr, -2147220504);
  EXPECT_EQ(failed.sError, "Error at InitOptions.");
  EXPECT_TRUE(lockFree());
}

TEST_F(AsyncUpdateTest, BusyWhileAnotherHoldsTheLockUntilTheNextUpdate) {
  oskara::RecordingPresenter presenter;
  oskara::ScopedPresenter scoped(presenter);
  {
    db::DatabasePtr other = db::Engine::instance().workspace(0).openDatabase(files_.dt.string());
    db::RecordsetPtr lock =
        other->openRecordset(contract::kTblDtQueueProcLock, db::RecordsetType::Dynaset, db::kDenyWrite);
    const Reply busy = start(true);
    EXPECT_EQ(busy.result, "-1" + kBusy);
    EXPECT_EQ(busy.lErr, 1238);
    EXPECT_EQ(busy.sError, kBusy);
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, kBusy);
    EXPECT_EQ(presenter.shown[0].style, 16);
    EXPECT_TRUE(server_.dtPaths.empty());  // no engine was asked
    // Without prompt no box; every poll repeats the refusal.
    EXPECT_EQ(start().result, "-1" + kBusy);
    EXPECT_EQ(presenter.shown.size(), 1u);
    const Reply polled = poll(app_);
    EXPECT_EQ(polled.result, "-1" + kBusy);
    EXPECT_EQ(polled.lErr, 1238);
  }
  // The other user has let go: the next update starts.
  EXPECT_EQ(start().result, "");
  EXPECT_EQ(poll(app_).result, "01");
}

TEST_F(AsyncUpdateTest, EngineThatRefusesToScheduleFailsAtOnceAndFreesTheLock) {
  server_.schedule = false;
  server_.lErr = 5;
  server_.sError = "[UpdQueueAsync]Invalid procedure call";
  const Reply refused = start();
  const std::string expected =
      "-1Error in Queue Engine Object !\r\n[ 5] [UpdQueueAsync]Invalid procedure call";
  EXPECT_EQ(refused.result, expected);
  EXPECT_EQ(refused.lErr, 5);
  EXPECT_EQ(refused.sError, "[UpdQueueAsync]Invalid procedure call");
  EXPECT_EQ(poll(app_).result, expected);
  // Both references were released, and the lock with them.
  EXPECT_TRUE(server_.lastEngine.expired());
  EXPECT_TRUE(lockFree());
}

TEST_F(AsyncUpdateTest, EngineServerThatGoesBeforeCallingBackIsReportedAndTheLockFreed) {
  ASSERT_EQ(start().result, "");
  ASSERT_NE(server_.onGone, nullptr);
  EXPECT_EQ(poll(app_).result, "01");
  // The server dies: its references to the callback object go with it.
  std::function<void()> gone = server_.onGone;
  server_.callBack.reset();
  EXPECT_FALSE(lockFree());
  gone();
  const Reply failed = poll(app_);
  EXPECT_EQ(failed.lErr, 462);
  const std::string text = failed.sError;
  EXPECT_NE(text.find(contract::kQueueEngineClass), std::string::npos) << text;
  EXPECT_EQ(failed.result, "-1Error in Queue Engine Object !\r\n[ 462] " + text);
  EXPECT_TRUE(lockFree());
}

TEST_F(AsyncUpdateTest, CallThatFailsAfterTheStatusWasSetIsReportedAndTheLockFreed) {
  server_.raise = oskara::serverUnavailable("'UpdQueueAsync' of QueueEngine");
  const Reply failed = start();
  const std::string text = server_.raise->text();
  EXPECT_EQ(failed.result, "-1[UpdateQueueAsync][ 462] " + text);
  EXPECT_EQ(failed.lErr, 462);
  // Pollers learn it too, instead of "01" for ever.
  const Reply polled = poll(app_);
  EXPECT_EQ(polled.result, "-1Error in Queue Engine Object !\r\n[ 462] " + text);
  EXPECT_EQ(polled.lErr, 462);
  EXPECT_TRUE(lockFree());
}

}  // namespace
}  // namespace varrick
