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

// The callback object of the latest update of the process; only it stands
// for the lock at its end (ClosesHeldRecordsetAtEnd).
const Application* g_currentCallBack = nullptr;

// "Another user is performing Queue Processing." CR LF CR "Please try again later !"
std::string busyMessage() {
  return "Another user is performing Queue Processing.\r\n\rPlease try again later !";
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
  bool running = false;  // this call has set the status to running
  try {
    g_bAsyncPrompt = prompt.value_or(false);
    // The last update's references go before the lock is taken: should one
    // of them be the last reference to its callback object, that object's
    // end must not meet the new lock.
    m_oAsyncEngine.reset();
    m_oAsyncCallBack.reset();

    if (!QueueProcLock()) {
      const std::string message = busyMessage();
      if (g_bAsyncPrompt) showCritical(message);
      lErr = kErrBusy;
      sError = message;
      recordFailure(messageResult(message), kErrBusy, message);
      return g_sAsyncResult;
    }

    m_oAsyncEngine = QueueEngineClient::create().object();
    m_oAsyncCallBack = ApplicationClient::create().object();  // in this process
    if (auto* callBack = dynamic_cast<Application*>(m_oAsyncCallBack.get())) {
      callBack->isAsyncCallBack_ = true;
      g_currentCallBack = callBack;
    }

    g_bAsyncRunning = true;
    g_lAsyncErr = 0;
    g_sAsyncError.clear();
    g_sAsyncResult.clear();
    running = true;
    engineWatch().reset();  // an earlier update's engine no longer concerns us

    int32_t number = 0;
    std::string text;
    if (QueueEngineClient(m_oAsyncEngine)
            .UpdQueueAsync(sDTPath, sARPath, sSOPath, m_oAsyncCallBack, number, text)) {
      if (auto callBack = std::dynamic_pointer_cast<Application>(m_oAsyncCallBack)) {
        engineWatch() = oskara::watchServer(m_oAsyncEngine, [callBack] {
          engineWatch().reset();
          int32_t lErr = oskara::automation_error::kServerUnavailable;
          std::string sError = oskara::serverUnavailable(oskara::contract::kQueueEngineClass).text();
          callBack->CallBack(lErr, sError);
        });
      }
      return std::string(kResultSuccess);
    }

    // The engine refused to schedule the scan. The lock stays held until the
    // release below ends the callback object, or another event ends it.
    if (prompt.value_or(false)) showCritical(engineFailureMessage(number, text));
    lErr = number;
    sError = text;
    recordFailure(engineFailureResult(number, text), number, text);
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
      QueueProcUnlock();
    }
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
    m_oAsyncEngine.reset();
    m_oAsyncCallBack.reset();
  } catch (...) {
  }
  return result;
}

bool Application::ClosesHeldRecordsetAtEnd() const {
  if (!isAsyncCallBack_) return true;
  // The callback object of a refused or abandoned update still holds the
  // lock it was made for; one whose update has been reported (the lock went
  // back with the report) or replaced by a later update's does not.
  return this == g_currentCallBack && !calledBack_;
}

void Application::CallBack(int32_t& lErr, std::string& sError) {
  calledBack_ = true;
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
  QueueProcUnlock();
}

}  // namespace varrick
