// Application (contract::kApplicationClass): the application server's object.
// It runs queue scans on the engine (contract::kQueueEngineClass), which it
// reaches only by identifier and by member name, and reports every outcome as
// a result string (result_string.h) plus the error pair lErr / sError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "automation/method_table.h"

namespace varrick {

class Application : public oskara::automation::DispatchObject<Application> {
 public:
  // End of the object: releases its two asynchronous-update references and
  // closes the recordset held by the process (the logon probe or the lock),
  // which leaves the process logged on. Failures are ignored.
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
  // queue-processing lock ("-1" and the busy message, 1238, when another
  // server process holds it), hands the scan to the engine with a second
  // Application of this process as its callback object, and returns "".
  // The outcome is polled with UpdQAsyncStatus (async_update.cpp).
  std::string UpdateQueueAsync(std::string sDTPath, std::string sARPath, std::string sSOPath,
                               int32_t& lErr, std::string& sError, std::optional<bool>& prompt);
  // "01" while the update of this process runs, then its result with its
  // number and text ("" with 0 and "" before any update).
  std::string UpdQAsyncStatus(int32_t& lErr, std::string& sError);
  // Called by the engine when the scan has ended: records the outcome and
  // gives the lock back.
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

  static const oskara::automation::MethodTable<Application>& methodTable();

 private:
  // The queue-processing lock: the lock table held open deny-write in
  // g_rsHeld. Another server process on the same DT database is refused while
  // this one holds it; this process can always take it again. Both give false
  // on any failure and raise nothing.
  bool QueueProcLock();
  bool QueueProcUnlock();
  friend struct QueueProcLockAccess;  // the lock's tests

  // Whether the end of this object closes the held recordset: always, except
  // for a callback object whose update has been reported or replaced by a
  // later one (async_update.cpp). Such an object may end long after, when the
  // engine lets go of it, and would otherwise close a later update's lock.
  bool ClosesHeldRecordsetAtEnd() const;

  // The last asynchronous update of this object; null when none is held.
  oskara::ObjectRef m_oAsyncEngine;    // the engine object it created
  oskara::ObjectRef m_oAsyncCallBack;  // the Application it passed as the callback object
  // Set on the callback object of an update: it was created for that, and
  // whether its CallBack has come.
  bool isAsyncCallBack_ = false;
  bool calledBack_ = false;
};

// Registers the application's class (contract::kApplicationClass) with this
// process's class registry.
void registerApplication();

}  // namespace varrick
