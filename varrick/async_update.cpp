// The asynchronous queue update: UpdateQueueAsync hands the scan to the
// engine's runner and returns at once, the engine reports the end through
// CallBack on a second Application of this process, and any Application of
// the process polls the outcome with UpdQAsyncStatus. The status lives in
// modGenRoutines (process_state.h); the queue-processing lock keeps other
// server processes on the same DT database out while an update runs.
#include <memory>

#include "automation/class_registry.h"
#include "clients/application_client.h"
#include "clients/queue_engine_client.h"
#include "contract/classes.h"
#include "core/variant.h"
#include "dbengine/errors.h"
#include "presenter/message_presenter.h"
#include "varrick/application.h"
#include "varrick/process_state.h"
#include "varrick/result_string.h"

namespace varrick {

using oskara::clients::ApplicationClient;
using oskara::clients::QueueEngineClient;

namespace {

constexpr int32_t kErrBusy = 1238;

// Watches the engine server of the update in progress: a server that goes
// (killed, crashed) before it has called back will never call back, so its
// departure is reported in its place. Replaced by the next update, ended by
// CallBack. Never destroyed with the process's statics: its handler holds an
// Application, whose end must not run after the process-wide state is gone.
std::unique_ptr<oskara::ServerWatch>& engineWatch() {
  static auto* watch = new std::unique_ptr<oskara::ServerWatch>;
  return *watch;
}

// The update in progress: from the moment its lock is taken until it has
// been reported or has failed to start. While it is set a further
// UpdateQueueAsync of the process is refused, also one served while this
// update's own calls to the engine wait (they serve incoming calls): the
// engine runs one request at a time, and the status that every client polls
// belongs to this update until it has been reported. Only the callback
// object's CallBack ends it.
bool g_updateInProgress = false;
std::string g_runningDTPath;
const Application* g_runningCallBack = nullptr;  // null until made

// "Another user is performing Queue Processing." CR LF CR "Please try again later !"
std::string busyMessage() {
  return "Another user is performing Queue Processing.\r\n\rPlease try again later !";
}

// A second update asked of this process while its first still runs.
std::string alreadyRunningMessage() {
  return "Queue Processing of '" + g_runningDTPath +
         "' is still running on this server.\r\n\rPlease try again later !";
}

// UpdateQueueAsync before any Logon of the process.
std::string notLoggedOnMessage() {
  return "Queue Processing cannot start: this server is not logged on. Call Logon first.";
}

void showCritical(std::string_view text) {
  oskara::currentPresenter().show(text, kMessageTitle, oskara::message_style::kCritical);
}

// Records a failed update in the process-wide status.
void recordFailure(std::string result, int32_t number, std::string text) {
  g_sAsyncResult = std::move(result);
  g_bAsyncRunning = false;
  g_lAsyncErr = number;
  g_sAsyncError = std::move(text);
}

}  // namespace

std::string Application::UpdateQueueAsync(std::string sDTPath, std::string sARPath,
                                          std::string sSOPath, int32_t& lErr, std::string& sError,
                                          std::optional<bool>& prompt) {
  bool locked = false;   // this call has taken the lock
  bool running = false;  // this call has set the status to running
  // A refusal with a fixed message and 1238; `record` makes it the status
  // of the process, which a refusal during another update must not touch.
  auto refuse = [&](const std::string& message, bool record) {
    if (prompt.value_or(false)) showCritical(message);
    lErr = kErrBusy;
    sError = message;
    if (!record) return messageResult(message);
    recordFailure(messageResult(message), kErrBusy, message);
    return g_sAsyncResult;
  };
  try {
    // The last update's references go first: this object starts afresh.
    m_asyncProgress.reset();
    m_oAsyncEngine.reset();
    m_oAsyncCallBack.reset();
    if (g_updateInProgress) return refuse(alreadyRunningMessage(), false);

    g_bAsyncPrompt = prompt.value_or(false);
    if (!g_rsHeld) return refuse(notLoggedOnMessage(), true);
    if (std::optional<oskara::Error> refused = QueueProcLock(sDTPath)) {
      if (refused->number() == oskara::db::errc::kTableLocked) return refuse(busyMessage(), true);
      // Not another user: the file, its lock table or its lock information
      // cannot be used, and the engine's number and text say why.
      lErr = refused->number();
      sError = refused->text();
      recordFailure(trappedFailureResult(tag::kUpdateQueueAsync, lErr, sError), lErr, sError);
      return g_sAsyncResult;
    }
    locked = true;
    g_updateInProgress = true;
    g_runningDTPath = sDTPath;

    m_oAsyncEngine = QueueEngineClient::create().object();
    m_oAsyncCallBack = ApplicationClient::create().object();  // in this process
    auto callBack = std::dynamic_pointer_cast<Application>(m_oAsyncCallBack);
    g_runningCallBack = callBack.get();

    g_bAsyncRunning = true;
    g_lAsyncErr = 0;
    g_sAsyncError.clear();
    g_sAsyncResult.clear();
    g_asyncProgress = {};
    running = true;
    engineWatch().reset();  // an earlier update's engine no longer concerns us

    m_asyncProgress = relayProgress(m_oAsyncEngine, true);
    int32_t number = 0;
    std::string text;
    if (QueueEngineClient(m_oAsyncEngine)
            .UpdQueueAsync(sDTPath, sARPath, sSOPath, m_oAsyncCallBack, number, text)) {
      if (callBack) {
        engineWatch() = oskara::watchServer(m_oAsyncEngine, [callBack] {
          engineWatch().reset();
          callBack->endUnreportedUpdate();
        });
      }
      return std::string(kResultSuccess);
    }

    // The engine refused to schedule the scan: no callback will come.
    if (prompt.value_or(false)) showCritical(engineFailureMessage(number, text));
    lErr = number;
    sError = text;
    recordFailure(engineFailureResult(number, text), number, text);
    endUpdate();
    const std::string result = g_sAsyncResult;
    m_oAsyncEngine.reset();
    m_oAsyncCallBack.reset();
    return result;
  } catch (...) {
    std::string result = trapFailure(tag::kUpdateQueueAsync, lErr, sError);
    if (running) {
      // The engine was never handed the update (its call failed), so no
      // callback will come: pollers would otherwise see "01" for ever and
      // the lock would stay taken.
      recordFailure(engineFailureResult(lErr, sError), lErr, sError);
    }
    if (locked) endUpdate();
    try {
      m_oAsyncEngine.reset();
      m_oAsyncCallBack.reset();
    } catch (...) {
    }
    return result;
  }
}

std::string Application::UpdQAsyncStatus(int32_t& lErr, std::string& sError) {
  std::string result;
  try {
    if (g_bAsyncRunning) return std::string(kResultStillRunning);
    result = g_sAsyncResult;
    lErr = g_lAsyncErr;
    sError = g_sAsyncError;
  } catch (...) {
    result = trapFailure(tag::kUpdQAsyncStatus, lErr, sError);
  }
  try {
    m_asyncProgress.reset();
    m_oAsyncEngine.reset();
    m_oAsyncCallBack.reset();
  } catch (...) {
  }
  return result;
}

void Application::CallBack(int32_t& lErr, std::string& sError) {
  // Anybody may call CallBack on any Application; only the engine's report
  // on the running update's own callback object counts.
  if (this != g_runningCallBack) return;
  // The engine has reported: nothing more to watch for.
  try {
    engineWatch().reset();
  } catch (...) {
  }
  // Every step runs even when the one before failed.
  try {
    g_lAsyncErr = lErr;
    g_sAsyncError = sError;
  } catch (...) {
  }
  if (lErr != 0) {
    try {
      g_sAsyncResult = engineFailureResult(lErr, sError);
    } catch (...) {
    }
    try {
      // Shown while the running flag is still set and the lock still held.
      if (g_bAsyncPrompt) showCritical(engineFailureMessage(lErr, sError));
    } catch (...) {
    }
  } else {
    g_sAsyncResult.clear();
  }
  g_bAsyncRunning = false;
  endUpdate();
}

void Application::endUnreportedUpdate() {
  if (this != g_runningCallBack) return;
  try {
    int32_t lErr = oskara::automation_error::kServerUnavailable;
    std::string sError = oskara::serverUnavailable(oskara::contract::kQueueEngineClass).text();
    CallBack(lErr, sError);
  } catch (...) {
    endUpdate();
  }
}

void Application::endUpdate() {
  g_updateInProgress = false;
  g_runningCallBack = nullptr;
  g_runningDTPath.clear();
  QueueProcUnlock();
}

}  // namespace varrick
