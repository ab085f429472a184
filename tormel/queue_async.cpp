#include "tormel/queue_async.h"

#include <utility>

#include "clients/application_client.h"
#include "clients/queue_engine_client.h"
#include "contract/tables.h"
#include "core/error.h"
#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "tormel/queue_engine.h"

namespace tormel {

using oskara::Error;
using oskara::ObjectRef;
using oskara::clients::ApplicationClient;
using oskara::clients::QueueEngineClient;

namespace {

frmQueueAsync* g_window = nullptr;  // made on first load; lives as long as the process

// Calls CallBack on `callBack` with the scan's outcome. Any failure (no
// object, its server gone) is ignored: the run ends as usual.
void callBack(ObjectRef callBack, int32_t lErr, const std::string& sError) {
  try {
    ApplicationClient(std::move(callBack)).CallBack(lErr, sError);
  } catch (...) {
  }
}

// The queue table of the DT database held deny-write while a scan for an
// asynchronous request runs. The application servers take their lock on
// the lock table, and before they start an update they make sure that
// nobody holds this one: a scan whose application server has gone (killed
// with its lock) still keeps the next workstation out until it has ended.
// Only deny-write opens are refused; the scan's own writes are not.
class ScanLock {
 public:
  // Raises 3262 when another process holds the table. Any other failure
  // (a missing or damaged file) is left for the scan to report as it
  // always does, and nothing is held.
  explicit ScanLock(const std::string& dtPath) {
    namespace db = oskara::db;
    try {
      database_ = db::Engine::instance().workspace(0).openDatabase(dtPath);
      table_ = database_->openRecordset(oskara::contract::kTblDTQueue, db::RecordsetType::Dynaset,
                                        db::kDenyWrite);
    } catch (const Error& e) {
      release();
      if (e.number() == oskara::db::errc::kTableLocked) throw;
    }
  }
  void release() {
    table_.reset();
    database_.reset();
  }

 private:
  oskara::db::DatabasePtr database_;
  oskara::db::RecordsetPtr table_;
};

}  // namespace

frmQueueAsync::frmQueueAsync() {
  Timer1.setSingleShot(false);
  // A coarse timer may fire up to 5% early; the scan must not start before
  // the full delay has passed.
  Timer1.setTimerType(Qt::PreciseTimer);
  QObject::connect(&Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
}

frmQueueAsync::~frmQueueAsync() = default;

frmQueueAsync& frmQueueAsync::Load() {
  if (!g_window) g_window = new frmQueueAsync;
  g_window->loaded_ = true;
  return *g_window;
}

frmQueueAsync* frmQueueAsync::Loaded() {
  return g_window && g_window->loaded_ ? g_window : nullptr;
}

void frmQueueAsync::Unload() {
  if (frmQueueAsync* window = Loaded()) {
    window->Form_Unload();
    window->SetTimer1Interval(0);
    window->loaded_ = false;
  }
}

void frmQueueAsync::Form_Unload() {
  try {
    m_oEngine.reset();
  } catch (...) {
  }
}

void frmQueueAsync::SetTimer1Interval(int ms) {
  timer1Interval_ = ms;
  if (ms <= 0) {
    timer1Interval_ = 0;
    Timer1.stop();
    callBackServer_.reset();
    armed_.reset();
    return;
  }
  Timer1.start(ms);
  if (!armed_) armed_.emplace();
}

void frmQueueAsync::WatchCallBackServer() {
  callBackServer_ = oskara::watchServer(m_oCallBack, [this] { DropRequest(); });
}

void frmQueueAsync::DropRequest() {
  if (!Armed()) return;
  SetTimer1Interval(0);
  m_oCallBack.reset();
  Unload();
}

void frmQueueAsync::Timer1_Timer() {
  // Running counts as pending work until the run has ended.
  oskara::ServerHold running;
  int32_t lErr = 0;
  std::string sError;
  std::optional<ScanLock> scanLock;
  try {
    SetTimer1Interval(0);  // once per request
    scanLock.emplace(m_sDTPath);
    m_oEngine = QueueEngineClient::create().object();
    if (auto* engine = dynamic_cast<QueueEngine*>(m_oEngine.get()))
      engine->raiseEventsAs(m_wRequester);
    // Its result is not looked at: the error pair tells the outcome.
    QueueEngineClient(m_oEngine).ProcessQueue(m_sDTPath, m_sARPath, m_sSOPath, lErr, sError);
  } catch (...) {
    const Error failure = oskara::currentFailure();
    if (scanLock) scanLock->release();
    callBack(m_oCallBack, failure.number(), failure.text());
    m_oEngine.reset();
    return;  // the window stays loaded, its timer stopped
  }
  // Given back before the report: whoever learns of the end may start anew.
  scanLock->release();
  // The callback object is held for the call: a request served meanwhile may
  // replace m_oCallBack.
  callBack(m_oCallBack, lErr, sError);
  m_oEngine.reset();
  // A request that arrived while CallBack was in progress (the call serves
  // incoming calls while it waits) has armed the timer again; unloading now
  // would drop it.
  if (timer1Interval_ == 0) Unload();
}

bool QueueEngine::UpdQueueAsync(std::string DT_UNCPath, std::string AR_UNCPath,
                                std::string SO_UNCPath, oskara::ObjectRef& oCallBack,
                                int32_t& lErr, std::string& sError) {
  try {
    if (const frmQueueAsync* armed = frmQueueAsync::Loaded(); armed && armed->Armed()) {
      throw Error(kErrRequestArmed, "A queue update of '" + armed->m_sDTPath +
                                        "' is waiting to start in this engine server; ask again "
                                        "once it has started.");
    }
    frmQueueAsync& window = frmQueueAsync::Load();
    window.m_sDTPath = std::move(DT_UNCPath);
    window.m_sARPath = std::move(AR_UNCPath);
    window.m_sSOPath = std::move(SO_UNCPath);
    window.m_oCallBack = oCallBack;
    window.m_wRequester = weak_from_this();
    window.SetTimer1Interval(kAsyncScanDelayMs);
    window.WatchCallBackServer();
    return true;
  } catch (...) {
    const Error failure = oskara::currentFailure();
    lErr = failure.number();
    sError = "[UpdQueueAsync]" + failure.text();
    return false;
  }
}

}  // namespace tormel
