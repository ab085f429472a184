#include "tormel/queue_engine.h"

#include <algorithm>
#include <array>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "about/about.h"
#include "automation/class_registry.h"
#include "contract/classes.h"
#include "contract/tables.h"
#include "core/clock.h"
#include "core/error.h"
#include "dbengine/locations.h"
#include "tormel/globals.h"
#include "tormel/queued_keys.h"
#include "tormel/scan_progress.h"

namespace tormel {

namespace contract = oskara::contract;
namespace scanrules = oskara::scanrules;
using oskara::Error;
using oskara::Variant;
using oskara::db::Recordset;
using oskara::db::RecordsetPtr;
using oskara::db::RecordsetType;

namespace {

// Runs a private procedure of the engine: any failure inside it is raised
// again unchanged (same number, same text) with the procedure's own name as
// its source.
template <class Body>
auto raisingAs(const char* procedure, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (...) {
    throw oskara::currentFailure().withSource(procedure);
  }
}

oskara::db::Engine& dbEngine() { return oskara::db::Engine::instance(); }

// A call-log id as the rules pass it on: Null is 0.
int32_t logIdValue(const Variant& value) { return value.isNull() ? 0 : value.toInt32(); }

}  // namespace

QueueEngine::QueueEngine() = default;
QueueEngine::~QueueEngine() = default;

const oskara::automation::MethodTable<QueueEngine>& QueueEngine::methodTable() {
  using oskara::automation::method;
  namespace member = contract::queue_engine;
  static const oskara::automation::MethodTable<QueueEngine> table(
      member::kClassName,
      {
          method(member::kProcessQueue, &QueueEngine::ProcessQueue,
                 {"DT_UNCPath", "AR_UNCPath", "SO_UNCPath", "lErr", "sError"},
                 "Scans the accounts-receivable data and the call log and rebuilds the collection "
                 "queue in one transaction; false with lErr and sError when the scan failed."),
          method(member::kGetLogID, &QueueEngine::GetLogID, {"p_sCustID"},
                 "The call-log id of a customer, or Null when it has none."),
          method(member::kUpdQueueAsync, &QueueEngine::UpdQueueAsync,
                 {"DT_UNCPath", "AR_UNCPath", "SO_UNCPath", "oCallBack", "lErr", "sError"},
                 "Schedules a queue scan that starts 2000 ms after the call has returned; its "
                 "outcome is reported by calling CallBack(lErr, sError) on oCallBack."),
          method(member::kAbout, &QueueEngine::About, {},
                 "Shows the About dialog of the Queue Processing Engine; -1 when it was shown."),
      },
      {
          oskara::automation::event<std::string, int32_t, int32_t, int32_t>(
              std::string(member::kProgress), {"rule", "done", "total", "queued"},
              "How far the running scan has got: the rule it is in, the enabled rules finished "
              "before it and their number, and the customers queued so far; at most four times "
              "a second."),
          oskara::automation::event<std::string, std::string, std::string>(
              std::string(member::kQueueUpdated),
              {"dtLocation", "lastQueueProc", "customersPerReason"},
              "A queue update has committed: the DT database (without a password), the time "
              "stamped in LastQueueProc, and the queue's customers per reason code as JSON."),
      });
  return table;
}

void registerQueueEngine() {
  oskara::registerClass<QueueEngine>(std::string(contract::kQueueEngineClass));
}

// The engine's About dialog; its version is the tormel program's
// (tormel/CMakeLists.txt).
int16_t QueueEngine::About() {
  return oskara::about::About(
      {"About Oskara Scan Engine", "OSK Scan Engine",
       {OSKARA_VERSION_MAJOR, OSKARA_VERSION_MINOR, OSKARA_VERSION_REVISION}});
}

// ---------------------------------------------------------------------------
// Options and databases

bool QueueEngine::InitOptions(const std::string& dtPath, const std::string& arPath,
                              const std::string& soPath) {
  try {
    if (dtPath.empty() || arPath.empty()) return false;
    m_sDTDbPath = dtPath;
    m_sARDbPath = arPath;
    m_sSODbPath = soPath;
    m_wsEngine = &dbEngine().workspace(0);
    m_dbDT = m_wsEngine->openDatabase(dtPath);
    // The scan reads AR and SO through DT's links and never writes them:
    // opened read-only, they stay exactly as their programs keep them.
    using Access = oskara::db::Workspace::Access;
    m_dbAR = m_wsEngine->openDatabase(arPath, Access::ReadOnly);
    m_dbSO = soPath.empty() ? nullptr : m_wsEngine->openDatabase(soPath, Access::ReadOnly);

    RecordsetPtr rs = m_dbDT->openRecordset(contract::kTblDTOptions, RecordsetType::ForwardOnly);
    if (rs->eof()) return false;
    for (const contract::OptionField& field : contract::kOptionFields)
      contract::loadOption(m_options, field, rs->field(field.name));
    rs->close();
    return true;
  } catch (...) {
    // The caller reports "Error at InitOptions."; whatever was assigned stays.
    return false;
  }
}

// ---------------------------------------------------------------------------
// Scan run

bool QueueEngine::ProcessQueue(std::string DT_UNCPath, std::string AR_UNCPath,
                               std::string SO_UNCPath, int32_t& lErr, std::string& sError) {
  auto rollBackQuietly = [] {
    try {
      dbEngine().rollback();
    } catch (...) {
    }
    g_bInTrans = false;
  };

  try {
    if (!InitOptions(DT_UNCPath, AR_UNCPath, SO_UNCPath)) {
      lErr = kErrInitOptions;
      sError = "Error at InitOptions.";
      return false;
    }
    // Any failure of the scan rolls it back whole: writes need not wait for
    // their outcome (on a database server they travel with the next read).
    dbEngine().beginTrans(oskara::db::kAllOrNothing);
    g_bInTrans = true;
    if (LastQueueProcTimeStamp() == kStampNoOptions) {
      lErr = kErrMissingOptions;
      sError = "Missing Options record.";
      rollBackQuietly();
      return false;
    }
    // The order decides a customer's reason: a customer already queued is
    // not queued again by a later rule.
    const auto& rules = scanrules::rulesInScanOrder();
    int32_t enabled = m_options.Chk_ResetQueue ? 1 : 0;
    for (const scanrules::ScanRule& rule : rules) enabled += (m_options.*rule.option) ? 1 : 0;
    ScanProgress progress(enabled, [this](const ScanProgressState& s) {
      RaiseEvent(contract::queue_engine::kProgress, {s.rule, s.done, s.total, s.queued});
    });
    m_progress = &progress;
    QueuedKeys queued;
    m_queued = &queued;
    m_queuedCurrent = false;
    struct Detach {
      QueueEngine& engine;
      ~Detach() {
        engine.m_progress = nullptr;
        engine.m_queued = nullptr;
        engine.m_queueOwnRows = false;
      }
    } detach{*this};
    if (m_options.Chk_ResetQueue) {
      progress.enterRule("EmptyQueue");
      EmptyQueue();
      m_queueOwnRows = true;
    }
    // An insert rule links every queued customer with a call-log header to
    // it. No insert rule reads a queue row's LogID, so when the next enabled
    // rule is an insert rule too, the link waits for it: linked once after
    // the last of a run of them, the queue ends exactly as linked after each,
    // without rewriting every linked row once per rule.
    auto nextEnabled = [&](size_t after) -> const scanrules::ScanRule* {
      for (size_t i = after + 1; i < rules.size(); ++i)
        if (m_options.*rules[i].option) return &rules[i];
      return nullptr;
    };
    for (size_t i = 0; i < rules.size(); ++i) {
      const scanrules::ScanRule& rule = rules[i];
      if (!(m_options.*rule.option)) continue;
      progress.enterRule(rule.procedure);
      const scanrules::ScanRule* next = nextEnabled(i);
      RunRule(rule, !next || next->kind != scanrules::RuleKind::Insert);
    }
    const std::string perReason = CustomersPerReason();
    dbEngine().commitTrans(0);
    g_bInTrans = false;
    AnnounceUpdate(perReason);
    return true;
  } catch (...) {
    const Error failure = oskara::currentFailure();
    lErr = failure.number();
    sError = "[ProcessQueue]" + failure.text();
  }
  if (g_bInTrans) rollBackQuietly();
  return false;
}

int16_t QueueEngine::LastQueueProcTimeStamp() {
  return raisingAs("LastQueueProcTimeStamp", [&]() -> int16_t {
    RecordsetPtr rs = m_dbDT->openRecordset(contract::kTblDTOptions, RecordsetType::Dynaset);
    if (rs->eof()) return kStampNoOptions;
    rs->edit();
    m_lastQueueProc = oskara::currentClock().now();
    rs->setField(contract::kLastQueueProc, m_lastQueueProc);
    rs->update();
    rs->close();
    return -1;
  });
}

std::string QueueEngine::CustomersPerReason() {
  return raisingAs("CustomersPerReason", [&] {
    RecordsetPtr rs = m_dbDT->openRecordset(
        "SELECT TransType, Count(*) AS Customers FROM tblDTQueue GROUP BY TransType "
        "ORDER BY TransType",
        RecordsetType::ForwardOnly);
    nlohmann::ordered_json counts = nlohmann::ordered_json::object();
    for (; !rs->eof(); rs->moveNext()) {
      const Variant reason = rs->field("TransType");
      counts[reason.isNull() ? "null" : std::to_string(reason.toInt32())] =
          rs->field("Customers").toInt32();
    }
    rs->close();
    const std::string perReason = counts.dump();
    // Sent inside the transaction: listeners hear it only if the scan commits.
    m_dbDT->notify(contract::kQueueUpdatedChannel,
                   nlohmann::ordered_json{{"dtLocation", oskara::db::shownLocation(m_sDTDbPath)},
                                          {"lastQueueProc", m_lastQueueProc.toIso()},
                                          {"customersPerReason", counts}}
                       .dump());
    return perReason;
  });
}

void QueueEngine::AnnounceUpdate(const std::string& perReason) {
  RaiseEvent(contract::queue_engine::kQueueUpdated,
             {oskara::db::shownLocation(m_sDTDbPath), m_lastQueueProc.toIso(), perReason});
}

void QueueEngine::RaiseEvent(std::string_view event, std::vector<Variant> args) {
  try {
    const std::shared_ptr<oskara::Dispatch> source = m_eventSource.lock();
    oskara::raiseEvent(source ? *source : *this, event, std::move(args));
  } catch (...) {
    // Whoever watches learns less; the scan goes on.
  }
}

// ---------------------------------------------------------------------------
// Queue entry writer

Variant QueueEngine::GetLogID(std::string& p_sCustID) {
  try {
    if (!m_dbDT) return Variant::null();
    RecordsetPtr rs = m_dbDT->openRecordset(
        "SELECT DISTINCTROW tblDtCallLogHeader.LogID, "
        "tblDtCallLogHeader.CustID FROM tblDtCallLogHeader WHERE "
        "((tblDtCallLogHeader.CustID=" + quotedText(p_sCustID) + ")); ",
        RecordsetType::ForwardOnly);
    Variant logId = rs->eof() ? Variant::null() : rs->field("LogID");
    rs->close();
    return logId;
  } catch (...) {
    return Variant::null();
  }
}

int16_t QueueEngine::AddToQueue(const std::string& p_sCustID, int32_t p_lLogID,
                                int16_t p_iTransType, const std::string& p_sRemark,
                                bool p_bPriority) {
  return AddToQueue(p_sCustID, [p_lLogID] { return p_lLogID; }, p_iTransType, p_sRemark, p_bPriority);
}

int16_t QueueEngine::AddToQueue(const std::string& p_sCustID, const std::function<int32_t()>& logIdOf,
                                int16_t p_iTransType, const std::string& p_sRemark,
                                bool p_bPriority) {
  return raisingAs("AddToQueue", [&]() -> int16_t {
    if (p_sCustID.empty()) return kQueueNoCustomer;
    std::optional<int32_t> knownLogId;
    const auto logId = [&] {
      if (!knownLogId) knownLogId = logIdOf();
      return *knownLogId;
    };

    // An existing row of the customer, or else one carrying the call-log id,
    // is left alone unless the caller asks for priority; then it is replaced.
    // A scan need not look up a customer it knows to be unqueued with a
    // call-log id it knows to be unqueued.
    RecordsetPtr existing;  // the row to replace; null when the entry is new
    const auto byCustomer = [&] { return "((tblDTQueue.CustID=" + quotedText(p_sCustID) + ")); "; };
    const auto byLogId = [&] { return "((tblDTQueue.LogID= " + oskara::numberText(int64_t{logId()}) + ")); "; };
    if (m_queued && m_queueOwnRows && !p_bPriority) {
      // Only whether a row is there matters, and every row is one the scan
      // wrote: reading it whole would only check the scan's own values.
      if (m_queued->mayHoldCustomer(p_sCustID) && QueueHolds(byCustomer())) return kQueueCustomerQueued;
      if (logId() != 0 && m_queued->mayHoldLogId(logId()) && QueueHolds(byLogId())) return kQueueLogIdQueued;
    } else if (!m_queued || m_queued->mayHoldCustomer(p_sCustID) ||
               (logId() != 0 && m_queued->mayHoldLogId(logId()))) {
      existing = m_dbDT->openRecordset("SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue WHERE " + byCustomer(),
                                       RecordsetType::Dynaset);
      if (!existing->eof()) {
        if (!p_bPriority) return kQueueCustomerQueued;
      } else if (logId() != 0) {
        existing = m_dbDT->openRecordset("SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue WHERE " + byLogId(),
                                         RecordsetType::Dynaset);
        if (!existing->eof() && !p_bPriority) return kQueueLogIdQueued;
      }
      if (existing->eof()) {
        existing->close();
        existing = nullptr;
      }
    }

    const Variant remark = EmptyToNull(Variant(p_sRemark));
    const oskara::DateTime now = oskara::currentClock().now();
    auto writeEntry = [&](Recordset& rs) {
      rs.setField("LogID", logId());
      rs.setField("TransType", p_iTransType);
      rs.setField("Remark", remark);
      rs.setField("EntryDate", now.datePart());
      rs.setField("EntryTime", now.timePart());
      rs.update();
      rs.close();
    };
    if (existing) {
      existing->edit();  // the row keeps its CustID
      writeEntry(*existing);
    } else {
      RecordsetPtr queue = m_dbDT->openRecordset(contract::kTblDTQueue, RecordsetType::Dynaset);
      queue->addNew();
      queue->setField("CustID", p_sCustID);
      writeEntry(*queue);
    }
    if (m_queued) {
      m_queued->addCustomer(p_sCustID);
      if (logId() != 0) m_queued->addLogId(logId());
    }

    if (logId() != 0) {
      // LogID is the header's key: one statement writes the remark where a
      // read and a write back by row would take two.
      m_dbDT->execute("UPDATE tblDtCallLogHeader SET SystemRemark = " +
                          (remark.isNull() ? std::string("Null") : quotedText(p_sRemark)) +
                          " WHERE LogID = " + oskara::numberText(int64_t{logId()}),
                      oskara::db::kFailOnError);
    }
    return -1;
  });
}

bool QueueEngine::QueueHolds(const std::string& condition) {
  RecordsetPtr rs = m_dbDT->openRecordset("SELECT DISTINCTROW tblDTQueue.CustID FROM tblDTQueue WHERE " + condition,
                                          RecordsetType::ForwardOnly);
  const bool holds = !rs->eof();
  rs->close();
  return holds;
}

void QueueEngine::LearnQueue() {
  m_queued->clear();
  RecordsetPtr rs = m_dbDT->openRecordset("SELECT CustID, LogID FROM tblDTQueue", RecordsetType::ForwardOnly);
  for (; !rs->eof(); rs->moveNext()) {
    const Variant custId = rs->field("CustID");
    const Variant logId = rs->field("LogID");
    // A value the lookups might match in ways a key cannot tell (a number
    // kept as text, a fraction) leaves every customer to the lookups.
    const bool keyable = (custId.isNull() || custId.type() == oskara::VarType::String) &&
                         (logId.isNull() || logId.type() == oskara::VarType::Integer ||
                          logId.type() == oskara::VarType::Long);
    if (!keyable) {
      m_queued = nullptr;
      break;
    }
    if (!custId.isNull()) m_queued->addCustomer(custId.toString());
    if (!logId.isNull()) m_queued->addLogId(logId.toInt32());
  }
  rs->close();
  m_queuedCurrent = true;
}

int32_t QueueEngine::LogIdOf(const std::string& custId) {
  // Through the object's own interface, as any client would ask.
  std::vector<Variant> args{Variant(custId)};
  return logIdValue(invoke(contract::queue_engine::kGetLogID, args));
}

void QueueEngine::QueueEach(Recordset& rs, scanrules::LogIdFrom logIdFrom, int16_t transType,
                            const std::string& remark, bool priority) {
  while (!rs.eof()) {
    const std::string custId = rs.field("CustId").toString();
    // GetLogID is asked only when the customer's outcome needs the id: a
    // customer already queued is refused without it.
    const bool fromRecord = logIdFrom == scanrules::LogIdFrom::Record;
    const int32_t recordLogId = fromRecord ? logIdValue(rs.field("LogID")) : 0;
    const auto logId = [&] { return fromRecord ? recordLogId : LogIdOf(custId); };
    // Refusals (already queued, no id) are ordinary outcomes; failures raise.
    if (AddToQueue(custId, logId, transType, remark, priority) == -1 && m_progress)
      m_progress->addQueued(1);
    rs.moveNext();
  }
  rs.close();
}

// ---------------------------------------------------------------------------
// Queue reset and credit hold

bool QueueEngine::EmptyQueue() {
  return raisingAs("EmptyQueue", [&] {
    m_queuedCurrent = false;
    oskara::db::QueryDefPtr query = m_dbDT->createQueryDef("");
    // The headers are released first: the statement finds them through the queue rows.
    query->setSql(
        "UPDATE DISTINCTROW tblDtCallLogHeader INNER JOIN "
        "tblDTQueue ON tblDtCallLogHeader.LogID = tblDTQueue.LogID SET "
        "tblDtCallLogHeader.SystemRemark = Null; ");
    query->execute(oskara::db::kFailOnError);
    query->setSql("DELETE DISTINCTROW tblDTQueue.* FROM tblDTQueue;");
    query->execute(oskara::db::kFailOnError);
    return true;
  });
}

// ---------------------------------------------------------------------------
// Scan rules (scanrules/rules.h)

bool QueueEngine::RunRule(const scanrules::ScanRule& rule, bool linkQueue) {
  return raisingAs(rule.procedure.data(), [&] {
    const std::string remark = rule.remark.text(m_options);
    const bool priority = rule.priority && m_options.*rule.priority;
    // A record-by-record rule answers "already queued?" from the queue's keys.
    if (rule.kind != scanrules::RuleKind::Insert && m_queued && !m_queuedCurrent) LearnQueue();
    switch (rule.kind) {
      case scanrules::RuleKind::Insert: {
        m_queuedCurrent = false;
        oskara::db::QueryDefPtr query = m_dbDT->createQueryDef("");
        query->setSql(scanrules::scanStatement(rule, m_options));
        query->execute(oskara::db::kFailOnError);
        if (m_progress) m_progress->addQueued(query->recordsAffected());
        if (!linkQueue) break;
        // Every queued customer with a header gets its LogID again, not only the new rows.
        query->setSql(
            "UPDATE DISTINCTROW tblDTQueue INNER JOIN "
            "tblDtCallLogHeader ON tblDTQueue.CustID = "
            "tblDtCallLogHeader.CustID SET tblDTQueue.LogID = "
            "[tblDtCallLogHeader].[LogID]; ");
        query->execute(oskara::db::kFailOnError);
        break;
      }
      case scanrules::RuleKind::EachRecord: {
        RecordsetPtr rs = m_dbDT->openRecordset(scanrules::scanStatement(rule, m_options),
                                                RecordsetType::ForwardOnly);
        QueueEach(*rs, rule.logIdFrom, rule.transType, remark, priority);
        break;
      }
      case scanrules::RuleKind::StoredQuery: {
        oskara::db::QueryDefPtr query = m_dbDT->queryDef(rule.storedQuery);
        query->setParameter(contract::optionName(rule.parameter), m_options.*rule.parameter);
        RecordsetPtr rs = query->openRecordset(RecordsetType::ForwardOnly);
        QueueEach(*rs, rule.logIdFrom, rule.transType, remark, priority);
        break;
      }
    }
    return true;
  });
}

}  // namespace tormel
