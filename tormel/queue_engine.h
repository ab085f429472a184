// QueueEngine (contract::kQueueEngineClass): the queue scan engine. One call of
// ProcessQueue opens the three databases, loads the scan options, and inside
// one transaction stamps the run, optionally empties the queue and runs the
// enabled scan rules in their fixed order; any failure rolls the whole run
// back and comes back through lErr / sError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "automation/method_table.h"
#include "contract/options.h"
#include "dbengine/dbengine.h"
#include "scanrules/rules.h"

namespace tormel {

// The scan options: one member per option field, named after it.
using ScanOptions = oskara::contract::ScanOptions;

// Error numbers of the engine's own failures: the automation error base
// 0x80040000 plus 1000 and plus 1118.
inline constexpr int32_t kErrInitOptions = -2147220504;
inline constexpr int32_t kErrMissingOptions = -2147220386;

// AddToQueue results besides true (-1) and false (0).
inline constexpr int16_t kQueueNoCustomer = 1100;
inline constexpr int16_t kQueueCustomerQueued = 1128;
inline constexpr int16_t kQueueLogIdQueued = 1138;
// LastQueueProcTimeStamp's result when the options table has no record.
inline constexpr int16_t kStampNoOptions = 1118;

class QueuedKeys;
class ScanProgress;

// Events (on the bus, signals of the typed interface):
//   Progress(rule, done, total, queued): how far the scan has got, at most
//     four times a second (scan_progress.h);
//   QueueUpdated(dtLocation, lastQueueProc, customersPerReason): a scan has
//     committed; the queue's customers per reason as JSON ({"2":13,...}).
// On a server database the commit is also announced on the channel
// contract::kQueueUpdatedChannel with the same three values as JSON.
class QueueEngine : public oskara::automation::DispatchObject<QueueEngine>,
                    public std::enable_shared_from_this<QueueEngine> {
 public:
  QueueEngine();
  ~QueueEngine() override;

  // Public interface _QueueEngine, in this order.
  bool ProcessQueue(std::string DT_UNCPath, std::string AR_UNCPath, std::string SO_UNCPath,
                    int32_t& lErr, std::string& sError);
  oskara::Variant GetLogID(std::string& p_sCustID);
  // Schedules one scan with these paths 2000 ms from now on a fresh engine
  // object and returns true at once; the outcome reaches CallBack(lErr,
  // sError) on oCallBack (queue_async.h). lErr and sError are written only
  // when the request cannot be recorded (false).
  bool UpdQueueAsync(std::string DT_UNCPath, std::string AR_UNCPath, std::string SO_UNCPath,
                     oskara::ObjectRef& oCallBack, int32_t& lErr, std::string& sError);
  // Shows the engine's About dialog without waiting: -1 when shown, 0 when it
  // could not be (a server without a display). Never raises.
  int16_t About();

  static const oskara::automation::MethodTable<QueueEngine>& methodTable();

  // Read access for callers in this process (tests, the asynchronous runner).
  const ScanOptions& options() const { return m_options; }
  const std::string& dtPath() const { return m_sDTDbPath; }

  // The events of this engine's scans are raised on `source` while it lives
  // (the engine a client asked for an asynchronous update), else on this one.
  void raiseEventsAs(std::weak_ptr<oskara::Dispatch> source) { m_eventSource = std::move(source); }

 private:
  friend class QueueEngineTestAccess;

  bool InitOptions(const std::string& dtPath, const std::string& arPath,
                   const std::string& soPath);
  int16_t LastQueueProcTimeStamp();
  int16_t AddToQueue(const std::string& p_sCustID, int32_t p_lLogID, int16_t p_iTransType,
                     const std::string& p_sRemark, bool p_bPriority = false);
  // The same, asking `logIdOf` for the call-log id once, and only when the
  // outcome depends on it.
  int16_t AddToQueue(const std::string& p_sCustID, const std::function<int32_t()>& logIdOf,
                     int16_t p_iTransType, const std::string& p_sRemark, bool p_bPriority = false);

  // The queue reset, then the enabled rules of scanrules::rulesInScanOrder(),
  // each run by RunRule with its procedure's name as the source of its errors.
  bool EmptyQueue();
  // `linkQueue`: an insert rule ends by linking the queue to the call log
  // (see ProcessQueue for when that waits for the next rule).
  bool RunRule(const oskara::scanrules::ScanRule& rule, bool linkQueue = true);
  // Queues every record of `rs`: the customer from "CustId", the call-log id
  // from GetLogID or from the record's "LogID".
  void QueueEach(oskara::db::Recordset& rs, oskara::scanrules::LogIdFrom logIdFrom,
                 int16_t transType, const std::string& remark, bool priority);
  int32_t LogIdOf(const std::string& custId);
  // Reads the queue's customers and call-log ids into m_queued.
  void LearnQueue();
  // Whether a queue row matches `condition` (the WHERE clause of the queue
  // lookups), reading no more of it than its customer id.
  bool QueueHolds(const std::string& condition);
  // The queue's customers per reason, as JSON, read inside the transaction,
  // and the commit-to-be announced to a server database's listeners.
  std::string CustomersPerReason();
  // The end of a committed scan, announced (see the events above). Never raises.
  void AnnounceUpdate(const std::string& perReason);
  void RaiseEvent(std::string_view event, std::vector<oskara::Variant> args);

  // Paths of the last InitOptions, as passed.
  std::string m_sDTDbPath;
  std::string m_sARDbPath;
  std::string m_sSODbPath;
  // The engine's default workspace and the open databases. Only m_dbDT is
  // addressed; AR and SO are held open until the next InitOptions or the end
  // of the object. m_dbSO is null when no SO path was given.
  oskara::db::Workspace* m_wsEngine = nullptr;
  oskara::db::DatabasePtr m_dbDT;
  oskara::db::DatabasePtr m_dbAR;
  oskara::db::DatabasePtr m_dbSO;
  ScanOptions m_options;
  oskara::DateTime m_lastQueueProc;  // the stamp of the running or last scan

  ScanProgress* m_progress = nullptr;  // while ProcessQueue runs
  // While ProcessQueue runs: the queue's keys as far as the scan knows them
  // (null when a value of the queue could not be keyed: every customer is
  // then looked up), and whether they are up to date.
  QueuedKeys* m_queued = nullptr;
  bool m_queuedCurrent = false;
  // While ProcessQueue runs, after it emptied the queue: every queue row is
  // one the scan wrote, so reading one can find nothing malformed.
  bool m_queueOwnRows = false;
  std::weak_ptr<oskara::Dispatch> m_eventSource;
};

// Registers the engine's class (contract::kQueueEngineClass) with this
// process's class registry.
void registerQueueEngine();

}  // namespace tormel
