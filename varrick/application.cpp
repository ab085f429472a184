#include "varrick/application.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "about/about.h"
#include "automation/class_registry.h"
#include "clients/queue_engine_client.h"
#include "contract/classes.h"
#include "contract/tables.h"
#include "dbengine/dbengine.h"
#include "presenter/message_presenter.h"
#include "scanrules/explain.h"
#include "varrick/process_state.h"
#include "varrick/result_string.h"

namespace varrick {

namespace contract = oskara::contract;

const oskara::automation::MethodTable<Application>& Application::methodTable() {
  using oskara::automation::method;
  namespace member = contract::application;
  static const oskara::automation::MethodTable<Application> table(
      member::kClassName,
      {
          method(member::kAbout, &Application::About, {},
                 "Shows the About dialog of the Oskara Server; -1 when it was shown."),
          method(member::kUpdateQueue, &Application::UpdateQueue,
                 {"sDTPath", "sARPath", "sSOPath", "lErr", "sError", "prompt"},
                 "Activates the Queue Processing Engine, returns \"-1\" at start of string if it "
                 "fails, followed by the error messages."),
          method(member::kUpdateQueueAsync, &Application::UpdateQueueAsync,
                 {"sDTPath", "sARPath", "sSOPath", "lErr", "sError", "prompt"},
                 "Starts the Queue Processing Engine without waiting for it, returns \"-1\" at "
                 "start of string if it cannot be started, followed by the error messages."),
          method(member::kUpdQAsyncStatus, &Application::UpdQAsyncStatus, {"lErr", "sError"},
                 "Poll for Queue Engine processing status.  Returns \"\" as Queue Engine "
                 "Processing successfully completed.\r\nReturns \"01\" as Queue Engine still in "
                 "processing.\r\nReturns \"-1\" as An error occurred, followed by the error "
                 "messages."),
          method(member::kCallBack, &Application::CallBack, {"lErr", "sError"},
                 "Receives the outcome of an asynchronous queue update from the engine."),
          method(member::kLogon, &Application::Logon,
                 {"sDTPath", "sARPath", "sSOPath", "lErr", "sError"},
                 "Logs on to the debt-tracking database, returns \"-1\" at start of string if it "
                 "fails, followed by the error messages."),
          method(member::kLogOff, &Application::LogOff, {"lErr", "sError"},
                 "Logs off from the debt-tracking database."),
          method(member::kActiveUsersList, &Application::ActiveUsersList, {},
                 "Lists the users of the debt-tracking database, separated by \";\"."),
          method(member::kExplainCustomer, &Application::ExplainCustomer,
                 {"sDTPath", "sARPath", "sSOPath", "sCustID"},
                 "Explains why a customer is in the collection queue, or not, as JSON: its queue row, "
                 "every scan rule's verdict today with the values it compared, and the rule that "
                 "takes the customer first. Only reads."),
          method(member::kUpdQAsyncProgress, &Application::UpdQAsyncProgress,
                 {"sRule", "lDone", "lTotal", "lQueued"},
                 "Progress of the asynchronous queue update: the scan rule it is in, the enabled "
                 "rules finished before it and their number, the customers queued so far. True "
                 "while the update runs."),
      },
      {
          oskara::automation::event<std::string, int32_t, int32_t, int32_t>(
              std::string(member::kProgress), {"rule", "done", "total", "queued"},
              "How far the queue update that this object started has got, as the engine "
              "reports it, at most four times a second."),
      });
  return table;
}

void registerApplication() {
  oskara::registerClass<Application>(std::string(contract::kApplicationClass));
}

// The server's About dialog; its version is the varrick program's
// (varrick/CMakeLists.txt).
int16_t Application::About() {
  return oskara::about::About(
      {"About Oskara Server", "Oskara Server",
       {OSKARA_VERSION_MAJOR, OSKARA_VERSION_MINOR, OSKARA_VERSION_REVISION}});
}

Application::~Application() {
  endUnreportedUpdate();
  try {
    m_oAsyncEngine.reset();
  } catch (...) {
  }
  try {
    m_oAsyncCallBack.reset();
  } catch (...) {
  }
  // The slot stays set: the process still counts as logged on.
  try {
    if (g_rsHeld) g_rsHeld->close();
  } catch (...) {
  }
}

std::optional<oskara::Error> Application::QueueProcLock(const std::string& sDTPath) {
  namespace db = oskara::db;
  try {
    QueueProcUnlock();  // a lock left from an earlier update of this process
    if (g_wsDefault == nullptr) g_wsDefault = &db::Engine::instance().workspace(0);
    // The logged-on database when it is the one being updated (the usual
    // case): no second opening, which would attach its links again.
    std::error_code error;
    if (g_dbDT && std::filesystem::equivalent(g_dbDT->name(), sDTPath, error)) {
      g_dbLock = g_dbDT;
    } else {
      g_dbLock = g_wsDefault->openDatabase(sDTPath);
    }
    // Refused at once while another process holds the table deny-write.
    g_rsLock = g_dbLock->openRecordset(contract::kTblDtQueueProcLock, db::RecordsetType::Dynaset,
                                       db::kDenyWrite);
    // An engine still scanning this file for an update whose application
    // server has gone holds the queue table; it ends without anyone's report.
    g_dbLock->openRecordset(contract::kTblDTQueue, db::RecordsetType::Dynaset, db::kDenyWrite)
        ->close();
    return std::nullopt;
  } catch (...) {
    const oskara::Error failure = currentFailure();
    QueueProcUnlock();
    return failure;
  }
}

bool Application::QueueProcUnlock() {
  namespace db = oskara::db;
  try {
    if (g_rsLock) g_rsLock->close();
    g_rsLock.reset();
    g_dbLock.reset();
    db::Engine::instance().idle(db::kRefreshCache);
    return true;
  } catch (...) {
    g_rsLock.reset();
    g_dbLock.reset();
    return false;
  }
}

std::string Application::UpdateQueue(std::string sDTPath, std::string sARPath, std::string sSOPath,
                                     int32_t& lErr, std::string& sError,
                                     std::optional<bool>& prompt) {
  try {
    // The engine lives in this local client only: leaving the block, on any
    // path, releases it.
    oskara::clients::QueueEngineClient engine = oskara::clients::QueueEngineClient::create();
    const std::unique_ptr<oskara::ServerWatch> progress = relayProgress(engine.object(), false);
    int32_t number = 0;
    std::string text;
    if (engine.ProcessQueue(sDTPath, sARPath, sSOPath, number, text))
      return std::string(kResultSuccess);

    if (prompt.value_or(false)) {
      oskara::currentPresenter().show(engineFailureMessage(number, text), kMessageTitle,
                                      oskara::message_style::kCritical);
    }
    lErr = number;
    sError = text;
    return engineFailureResult(lErr, sError);
  } catch (...) {
    return trapFailure(tag::kUpdateQueue, lErr, sError);
  }
}

std::string Application::ExplainCustomer(std::string sDTPath, std::string sARPath,
                                         std::string sSOPath, std::string sCustID) {
  return oskara::scanrules::explanationJson(
      oskara::scanrules::explainCustomer(sDTPath, sARPath, sSOPath, sCustID));
}

std::unique_ptr<oskara::ServerWatch> Application::relayProgress(const oskara::ObjectRef& engine,
                                                                bool async) {
  // The watch ends with this object or before it, so `this` outlives it.
  return oskara::watchEvent(
      engine, contract::queue_engine::kProgress, [this, async](const std::vector<oskara::Variant>& args) {
        if (args.size() != 4) return;
        if (async) {
          g_asyncProgress = {args[0].toString(), args[1].toInt32(), args[2].toInt32(),
                             args[3].toInt32()};
        }
        oskara::raiseEvent(*this, contract::application::kProgress, args);
      });
}

bool Application::UpdQAsyncProgress(std::string& sRule, int32_t& lDone, int32_t& lTotal,
                                    int32_t& lQueued) {
  sRule = g_asyncProgress.rule;
  lDone = g_asyncProgress.done;
  lTotal = g_asyncProgress.total;
  lQueued = g_asyncProgress.queued;
  return g_bAsyncRunning;
}

}  // namespace varrick
