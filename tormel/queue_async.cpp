#include "tormel/queue_async.h"

#include <utility>

#include "clients/application_client.h"
#include "clients/queue_engine_client.h"
#include "core/error.h"
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
    armed_.reset();
    return;
  }
  Timer1.start(ms);
  if (!armed_) armed_.emplace();
}

void frmQueueAsync::Timer1_Timer() {
  // Running counts as pending work until the run has ended.
  oskara::ServerHold running;
  int32_t lErr = 0;
  std::string sError;
  try {
    SetTimer1Interval(0);  // once per request
    m_oEngine = QueueEngineClient::create().object();
    // Its result is not looked at: the error pair tells the outcome.
    QueueEngineClient(m_oEngine).ProcessQueue(m_sDTPath, m_sARPath, m_sSOPath, lErr, sError);
  } catch (...) {
    const Error failure = oskara::currentFailure();
    callBack(m_oCallBack, failure.number(), failure.text());
    m_oEngine.reset();
    return;  // the window stays loaded, its timer stopped
  }
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
    frmQueueAsync& window = frmQueueAsync::Load();
    window.m_sDTPath = std::move(DT_UNCPath);
    window.m_sARPath = std::move(AR_UNCPath);
    window.m_sSOPath = std::move(SO_UNCPath);
    window.m_oCallBack = oCallBack;
    window.SetTimer1Interval(kAsyncScanDelayMs);
    return true;
  } catch (...) {
    const Error failure = oskara::currentFailure();
    lErr = failure.number();
    sError = "[UpdQueueAsync]" + failure.text();
    return false;
  }
}

}  // namespace tormel
