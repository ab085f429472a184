// The asynchronous runner inside one process: the test is the client, with a
// Qt event loop for the timer and a callback object of its own. Every wait is
// on the callback arriving (with a deadline), never a fixed sleep.
#include "tormel/queue_async.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "automation/class_registry.h"
#include "automation/method_table.h"
#include "automation/server_hold.h"
#include "clients/queue_engine_client.h"
#include "contract/classes.h"
#include "contract/schema.h"
#include "contract/testing/table_rows.h"
#include "dbengine/dbengine.h"
#include "tormel/queue_engine.h"

namespace {

namespace fs = std::filesystem;
namespace contract = oskara::contract;
using oskara::ObjectRef;
using oskara::Variant;
using tormel::frmQueueAsync;

const std::string kEngineClass(contract::kQueueEngineClass);

// Receives CallBack as the application server's object would.
class Receiver : public oskara::automation::DispatchObject<Receiver> {
 public:
  struct Call {
    int32_t lErr;
    std::string sError;
    qint64 atMs;  // on the test's clock
  };

  void CallBack(int32_t& lErr, std::string& sError) {
    calls.push_back(Call{lErr, sError, clock ? clock->elapsed() : 0});
    if (onCall) onCall();
  }

  static const oskara::automation::MethodTable<Receiver>& methodTable() {
    static const oskara::automation::MethodTable<Receiver> table(
        "Receiver", {oskara::automation::method(contract::application::kCallBack, &Receiver::CallBack,
                                                {"lErr", "sError"})});
    return table;
  }

  std::vector<Call> calls;
  const QElapsedTimer* clock = nullptr;
  std::function<void()> onCall;
};

class AsyncRunnerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "tormel_async_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    tormel::registerQueueEngine();
    dir_ = fs::temp_directory_path() / ("tormel-async-" + std::to_string(getpid()) + "-" +
                                        std::to_string(counter_++));
    fs::remove_all(dir_);
    files_ = contract::createDatabaseFiles(dir_);
    clock_.start();
  }

  void TearDown() override {
    // Nothing of one test may still be pending in the next.
    if (frmQueueAsync* window = frmQueueAsync::Loaded()) window->SetTimer1Interval(0);
    frmQueueAsync::Unload();
    fs::remove_all(dir_);
  }

  std::shared_ptr<Receiver> receiver() {
    auto r = std::make_shared<Receiver>();
    r->clock = &clock_;
    return r;
  }

  // UpdQueueAsync by name, as the application server calls it.
  struct Request {
    bool scheduled = false;
    int32_t lErr = 77;
    std::string sError = "as passed";
  };
  Request request(const ObjectRef& engine, const std::string& dt, const ObjectRef& callBack) {
    Request sent;
    sent.scheduled = oskara::clients::QueueEngineClient(engine).UpdQueueAsync(
        dt, files_.ar.string(), files_.so.string(), callBack, sent.lErr, sent.sError);
    return sent;
  }

  // Runs the event loop until `done` or the deadline.
  bool waitFor(const std::function<bool()>& done, int ms = 6000) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
      if (waited.elapsed() > ms) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
  }

  Variant lastQueueProc() const {
    return contract::testing::lastQueueProc(files_.dt);
  }

  static inline int counter_ = 0;
  fs::path dir_;
  contract::DatabaseFiles files_;
  QElapsedTimer clock_;
};

TEST_F(AsyncRunnerTest, ScanRunsAfterTheCallHasReturnedAndReportsThroughCallBack) {
  ObjectRef engine = oskara::createObject(kEngineClass);
  const auto& members = engine->typeInfo().members;
  ASSERT_GE(members.size(), 4u);
  EXPECT_EQ(members[2].name, "UpdQueueAsync");
  EXPECT_EQ(members[3].name, "About");

  auto r = receiver();
  const Request req = request(engine, files_.dt.string(), r);
  EXPECT_TRUE(req.scheduled);
  EXPECT_EQ(req.lErr, 77);
  EXPECT_EQ(req.sError, "as passed");
  // Armed: nothing opened yet, and the process is held although the client
  // lets go of its engine.
  engine.reset();
  EXPECT_TRUE(lastQueueProc().isNull());
  EXPECT_GE(oskara::activeServerHolds(), 1u);
  ASSERT_NE(frmQueueAsync::Loaded(), nullptr);
  EXPECT_EQ(frmQueueAsync::Loaded()->Timer1Interval(), tormel::kAsyncScanDelayMs);

  ASSERT_TRUE(waitFor([&] { return !r->calls.empty(); }));
  EXPECT_EQ(r->calls.size(), 1u);
  EXPECT_EQ(r->calls[0].lErr, 0);
  EXPECT_EQ(r->calls[0].sError, "");
  EXPECT_GE(r->calls[0].atMs, tormel::kAsyncScanDelayMs);
  EXPECT_FALSE(lastQueueProc().isNull());  // the scan ran and committed
  // The run unloaded the window and let the process go; the request's
  // members stay, the scan's engine does not.
  EXPECT_EQ(frmQueueAsync::Loaded(), nullptr);
  EXPECT_EQ(oskara::activeServerHolds(), 0u);
  frmQueueAsync& window = frmQueueAsync::Load();
  EXPECT_EQ(window.m_sDTPath, files_.dt.string());
  EXPECT_EQ(window.m_oCallBack.get(), r.get());
  EXPECT_EQ(window.m_oEngine, nullptr);
}

TEST_F(AsyncRunnerTest, SecondRequestWhileArmedIsRefusedAndTheFirstRunsForItsOwnCallBack) {
  ObjectRef engine = oskara::createObject(kEngineClass);
  auto first = receiver();
  auto second = receiver();
  ASSERT_TRUE(request(engine, files_.dt.string(), first).scheduled);
  ObjectRef other = oskara::createObject(kEngineClass);  // any engine object of the process
  const Request refused = request(other, (dir_ / "other.db").string(), second);
  EXPECT_FALSE(refused.scheduled);
  EXPECT_EQ(refused.lErr, tormel::kErrRequestArmed);
  EXPECT_TRUE(refused.sError.starts_with("[UpdQueueAsync]")) << refused.sError;
  EXPECT_NE(refused.sError.find(files_.dt.string()), std::string::npos) << refused.sError;

  ASSERT_TRUE(waitFor([&] { return !first->calls.empty(); }));
  EXPECT_EQ(first->calls[0].lErr, 0) << first->calls[0].sError;
  EXPECT_GE(first->calls[0].atMs, tormel::kAsyncScanDelayMs);
  EXPECT_FALSE(lastQueueProc().isNull());
  EXPECT_TRUE(second->calls.empty());
  // Once the first has run, the next request is taken.
  EXPECT_TRUE(request(other, files_.dt.string(), second).scheduled);
  ASSERT_TRUE(waitFor([&] { return !second->calls.empty(); }));
  EXPECT_EQ(second->calls[0].lErr, 0);
}

// Watches every callback object as if it lived in another process, whose
// departure the test announces.
class CallBackServers : public oskara::ObjectActivator {
 public:
  ObjectRef activate(std::string_view progId) override { throw oskara::cannotCreateObject(progId); }
  std::unique_ptr<oskara::ServerWatch> watchServer(const ObjectRef&,
                                                   std::function<void()> onGone) override {
    gone = std::move(onGone);
    return std::make_unique<oskara::ServerWatch>();
  }
  std::function<void()> gone;
};

TEST_F(AsyncRunnerTest, ArmedRequestWhoseCallBackServerGoesIsDroppedBeforeItStarts) {
  CallBackServers servers;
  oskara::ObjectActivator* previous = oskara::setObjectActivator(&servers);
  ObjectRef engine = oskara::createObject(kEngineClass);
  auto r = receiver();
  ASSERT_TRUE(request(engine, files_.dt.string(), r).scheduled);
  ASSERT_TRUE(servers.gone);
  servers.gone();
  oskara::setObjectActivator(previous);
  // Nothing is armed any more, and nothing keeps the process.
  EXPECT_EQ(frmQueueAsync::Loaded(), nullptr);
  EXPECT_EQ(oskara::activeServerHolds(), 0u);
  EXPECT_TRUE(r->calls.empty());
}

TEST_F(AsyncRunnerTest, ScanIsRefusedWhileAnotherEngineScansTheFileAndFreesItsQueueTableBeforeReporting) {
  namespace db = oskara::db;
  const std::string queue(contract::kTblDTQueue);
  auto lockQueue = [&] {
    db::DatabasePtr other = db::Engine::instance().workspace(0).openDatabase(files_.dt.string());
    return std::make_pair(other, other->openRecordset(queue, db::RecordsetType::Dynaset, db::kDenyWrite));
  };
  ObjectRef engine = oskara::createObject(kEngineClass);
  auto r = receiver();
  {
    auto held = lockQueue();  // another engine's scan of the same file
    ASSERT_TRUE(request(engine, files_.dt.string(), r).scheduled);
    ASSERT_TRUE(waitFor([&] { return !r->calls.empty(); }));
  }
  EXPECT_EQ(r->calls[0].lErr, 3262);
  EXPECT_NE(r->calls[0].sError.find(queue), std::string::npos) << r->calls[0].sError;
  EXPECT_TRUE(lastQueueProc().isNull());

  // Its own scan gives the table back before it reports.
  bool freeAtReport = false;
  r->onCall = [&] {
    try {
      lockQueue();
      freeAtReport = true;
    } catch (const oskara::Error&) {
    }
  };
  ASSERT_TRUE(request(engine, files_.dt.string(), r).scheduled);
  ASSERT_TRUE(waitFor([&] { return r->calls.size() == 2; }));
  EXPECT_EQ(r->calls[1].lErr, 0) << r->calls[1].sError;
  EXPECT_TRUE(freeAtReport);
}

TEST_F(AsyncRunnerTest, FailedScanReachesCallBackWithTheEnginesNumberAndTextUntagged) {
  ObjectRef engine = oskara::createObject(kEngineClass);
  auto r = receiver();
  ASSERT_TRUE(request(engine, (dir_ / "missing.db").string(), r).scheduled);
  ASSERT_TRUE(waitFor([&] { return !r->calls.empty(); }));
  EXPECT_EQ(r->calls[0].lErr, tormel::kErrInitOptions);
  EXPECT_EQ(r->calls[0].sError, "Error at InitOptions.");
  EXPECT_EQ(frmQueueAsync::Loaded(), nullptr);  // unloaded whatever the scan's outcome
}

TEST_F(AsyncRunnerTest, WithoutCallBackObjectTheScanStillRuns) {
  ObjectRef engine = oskara::createObject(kEngineClass);
  ASSERT_TRUE(request(engine, files_.dt.string(), nullptr).scheduled);
  ASSERT_TRUE(waitFor([&] { return frmQueueAsync::Loaded() == nullptr; }));
  EXPECT_FALSE(lastQueueProc().isNull());
  EXPECT_EQ(oskara::activeServerHolds(), 0u);
}

TEST_F(AsyncRunnerTest, EngineThatCannotBeCreatedReachesCallBackRawAndLeavesTheWindowLoaded) {
  ObjectRef engine = oskara::createObject(kEngineClass);
  auto r = receiver();
  ASSERT_TRUE(request(engine, files_.dt.string(), r).scheduled);
  oskara::unregisterClass(kEngineClass);  // no activator either: 429 at the timer
  const bool called = waitFor([&] { return !r->calls.empty(); });
  tormel::registerQueueEngine();
  ASSERT_TRUE(called);
  EXPECT_EQ(r->calls[0].lErr, 429);
  EXPECT_TRUE(r->calls[0].sError.starts_with("Cannot create object '" + kEngineClass + "'."))
      << r->calls[0].sError;
  EXPECT_TRUE(lastQueueProc().isNull());
  ASSERT_NE(frmQueueAsync::Loaded(), nullptr);
  EXPECT_EQ(frmQueueAsync::Loaded()->Timer1Interval(), 0);
  EXPECT_EQ(oskara::activeServerHolds(), 0u);
}

TEST_F(AsyncRunnerTest, RequestMadeDuringCallBackIsNotLostByTheUnload) {
  ObjectRef engine = oskara::createObject(kEngineClass);
  auto r = receiver();
  // The receiver asks for the next scan while the engine waits in CallBack,
  // as a client served during that call could.
  r->onCall = [&] {
    if (r->calls.size() == 1) {
      EXPECT_TRUE(request(engine, files_.dt.string(), r).scheduled);
    }
  };
  ASSERT_TRUE(request(engine, files_.dt.string(), r).scheduled);
  ASSERT_TRUE(waitFor([&] { return r->calls.size() == 2; }, 9000));
  EXPECT_EQ(r->calls[1].lErr, 0);
  EXPECT_GE(r->calls[1].atMs - r->calls[0].atMs, tormel::kAsyncScanDelayMs);
  EXPECT_EQ(frmQueueAsync::Loaded(), nullptr);
  EXPECT_EQ(oskara::activeServerHolds(), 0u);
}

}  // namespace
