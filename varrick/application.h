// Application (contract::kApplicationClass): the application server's object.
// It runs queue scans on the engine (contract::kQueueEngineClass), which it
// reaches only by identifier and by member name, and reports every outcome as
// a result string (result_string.h) plus the error pair lErr / sError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/class_registry.h"
#include "automation/method_table.h"
#include "core/error.h"

namespace varrick {

class Application : public oskara::automation::DispatchObject<Application> {
 public:
  // End of the object: releases its two asynchronous-update references and
  // closes the logon probe of the process, which leaves the process logged
  // on. The queue-processing lock stays. Failures are ignored.
  ~Application() override;

  // Public interface _Application, in this order.

  // Shows the server's About dialog without waiting: -1 when shown, 0 when it
  // could not be (a server without a display). Never raises.
  int16_t About();

  // One complete queue scan in a fresh engine object; returns when it has
  // ended. "" on success, lErr and sError then as the caller passed them.
  // A failed scan shows a message box first when `prompt` is true.
  std::string UpdateQueue(std::string sDTPath, std::string sARPath, std::string sSOPath,
                          int32_t& lErr, std::string& sError, std::optional<bool>& prompt);

  // Starts a queue update on the engine and returns without waiting: takes the
  // queue-processing lock on sDTPath's database ("-1" and the busy message,
  // 1238, when another workstation holds it), hands the scan to the engine
  // with a second Application of this process as its callback object, and
  // returns "". One update at a time per process: while one runs, a second
  // is refused with 1238 and leaves the running one's status alone. Needs a
  // Logon of the process first (1238 and a text that says so otherwise).
  // The outcome is polled with UpdQAsyncStatus (async_update.cpp).
  std::string UpdateQueueAsync(std::string sDTPath, std::string sARPath, std::string sSOPath,
                               int32_t& lErr, std::string& sError, std::optional<bool>& prompt);
  // "01" while the update of this process runs, then its result with its
  // number and text ("" with 0 and "" before any update).
  std::string UpdQAsyncStatus(int32_t& lErr, std::string& sError);
  // Called by the engine when the scan has ended: records the outcome and
  // gives the lock back. Only on the callback object of the running update;
  // on any other object it changes nothing.
  void CallBack(int32_t& lErr, std::string& sError);

  // Logs the process on to the DT database: stores sDTPath (also while
  // already logged on, when nothing else happens), opens the database and
  // probes that the logon table takes a new row. "" when logged on, lErr and
  // sError then as the caller passed them. A read-only refusal (3027) gives
  // "-1" and the not-available message; any other failure the "[Logon]["
  // form. sARPath and sSOPath are accepted and not used.
  std::string Logon(std::string sDTPath, std::string sARPath, std::string sSOPath, int32_t& lErr,
                    std::string& sError);

  // Logs the process off: drops the held recordset and the DT database.
  // "" with lErr 0 and sError "", also when not logged on.
  std::string LogOff(int32_t& lErr, std::string& sError);

  // The users of the DT database of the last Logon, joined by ";" (see
  // GetDbUsers); "-1" when the list cannot be had, "" on a failure here.
  std::string ActiveUsersList();

  // Why the customer sCustID is in the collection queue, or not, as JSON
  // (scanrules/explain.h; docs/clients.md): its queue row, every scan rule's
  // verdict today with the values compared, and the rule that takes it. Only
  // reads, takes no lock, needs no logon, and answers while an update runs.
  // sSOPath may be "". A failure raises its number and text.
  std::string ExplainCustomer(std::string sDTPath, std::string sARPath, std::string sSOPath,
                              std::string sCustID);

  // The latest progress of the asynchronous update of this process, as the
  // engine last reported it: the rule it is in, the enabled rules finished
  // before it and their number, the customers queued so far. True while the
  // update runs (sRule "" until the engine's first report); false when none
  // runs, with the last update's last report.
  bool UpdQAsyncProgress(std::string& sRule, int32_t& lDone, int32_t& lTotal, int32_t& lQueued);

  static const oskara::automation::MethodTable<Application>& methodTable();

 private:
  // The queue-processing lock on the DT database at sDTPath (g_dbLock,
  // g_rsLock): its lock table held deny-write, once no engine is found still
  // scanning that file for an earlier update (an engine holds the queue table
  // deny-write while it scans for an asynchronous request, so that an update
  // whose application server has gone keeps others out until it ends).
  // nullopt when taken; otherwise why not, with the engine's number: 3262
  // (table locked) while another holds either table. Raises nothing.
  std::optional<oskara::Error> QueueProcLock(const std::string& sDTPath);
  // Gives the lock back; true when there was nothing to give back or it went.
  bool QueueProcUnlock();
  // The end of the running update, reported or failed: no update runs any
  // more and the lock goes back.
  void endUpdate();
  // On the running update's callback object when no report can come any
  // more (the engine's server has gone, or this object ends unreported): the
  // update ends as failed with 462, naming the engine's server.
  void endUnreportedUpdate();
  friend struct QueueProcLockAccess;  // the lock's tests

  // Passes the Progress events of `engine` on as this object's own; for the
  // asynchronous update also into the process's g_asyncProgress.
  std::unique_ptr<oskara::ServerWatch> relayProgress(const oskara::ObjectRef& engine, bool async);

  // The last asynchronous update of this object; null when none is held.
  oskara::ObjectRef m_oAsyncEngine;    // the engine object it created
  oskara::ObjectRef m_oAsyncCallBack;  // the Application it passed as the callback object
  std::unique_ptr<oskara::ServerWatch> m_asyncProgress;  // relays m_oAsyncEngine's progress
};

// Registers the application's class (contract::kApplicationClass) with this
// process's class registry.
void registerApplication();

}  // namespace varrick
