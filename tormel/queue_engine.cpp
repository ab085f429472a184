#include "tormel/queue_engine.h"

#include <algorithm>
#include <array>
#include <new>
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
#include "tormel/scan_progress.h"

namespace tormel {

namespace contract = oskara::contract;
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

// The ageing family: the four rules differ only in these values.
struct QueueEngine::AgeingRule {
  const char* procedure;
  int16_t transType;
  const char* remark;
  const char* bucketTest;
};

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
  struct RuleStep {
    bool ScanOptions::*option;
    bool (QueueEngine::*rule)();
    const char* name;
  };
  // The order decides a customer's reason: a customer already queued is not
  // queued again by a later rule.
  static constexpr std::array<RuleStep, 11> kRuleOrder = {{
      {&ScanOptions::Chk_ResetQueue, &QueueEngine::EmptyQueue, "EmptyQueue"},
      {&ScanOptions::Chk_FollowUp3, &QueueEngine::FollowUp3, "FollowUp3"},
      {&ScanOptions::Chk_FollowUp2, &QueueEngine::FollowUp2, "FollowUp2"},
      {&ScanOptions::Chk_FollowUp1, &QueueEngine::FollowUp1, "FollowUp1"},
      {&ScanOptions::Chk_120Days, &QueueEngine::Exceed120Days, "Exceed120Days"},
      {&ScanOptions::Chk_90Days, &QueueEngine::Exceed90Days, "Exceed90Days"},
      {&ScanOptions::Chk_60Days, &QueueEngine::Exceed60Days, "Exceed60Days"},
      {&ScanOptions::Chk_30Days, &QueueEngine::Exceed30Days, "Exceed30Days"},
      {&ScanOptions::Chk_OverLimit, &QueueEngine::OverLimit, "OverLimit"},
      {&ScanOptions::Chk_NearLimit, &QueueEngine::NearLimit, "NearLimit"},
      {&ScanOptions::Chk_CreditHold, &QueueEngine::CreditHold, "CreditHold"},
  }};

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
    dbEngine().beginTrans();
    g_bInTrans = true;
    if (LastQueueProcTimeStamp() == kStampNoOptions) {
      lErr = kErrMissingOptions;
      sError = "Missing Options record.";
      rollBackQuietly();
      return false;
    }
    const auto enabled = std::count_if(kRuleOrder.begin(), kRuleOrder.end(),
                                       [&](const RuleStep& step) { return m_options.*step.option; });
    ScanProgress progress(static_cast<int32_t>(enabled), [this](const ScanProgressState& s) {
      RaiseEvent(contract::queue_engine::kProgress, {s.rule, s.done, s.total, s.queued});
    });
    m_progress = &progress;
    struct Detach {
      ScanProgress*& progress;
      ~Detach() { progress = nullptr; }
    } detach{m_progress};
    for (const RuleStep& step : kRuleOrder) {
      if (!(m_options.*step.option)) continue;
      progress.enterRule(step.name);
      (this->*step.rule)();
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
  return raisingAs("AddToQueue", [&]() -> int16_t {
    if (p_sCustID.empty()) return kQueueNoCustomer;

    // An existing row of the customer, or else one carrying the call-log id,
    // is left alone unless the caller asks for priority; then it is replaced.
    RecordsetPtr existing = m_dbDT->openRecordset(
        "SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue "
        "WHERE ((tblDTQueue.CustID=" + quotedText(p_sCustID) + ")); ",
        RecordsetType::Dynaset);
    if (!existing->eof()) {
      if (!p_bPriority) return kQueueCustomerQueued;
    } else if (p_lLogID != 0) {
      existing = m_dbDT->openRecordset(
          "SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue "
          "WHERE ((tblDTQueue.LogID= " + oskara::numberText(int64_t{p_lLogID}) + ")); ",
          RecordsetType::Dynaset);
      if (!existing->eof() && !p_bPriority) return kQueueLogIdQueued;
    }

    const Variant remark = EmptyToNull(Variant(p_sRemark));
    const oskara::DateTime now = oskara::currentClock().now();
    auto writeEntry = [&](Recordset& rs) {
      rs.setField("LogID", p_lLogID);
      rs.setField("TransType", p_iTransType);
      rs.setField("Remark", remark);
      rs.setField("EntryDate", now.datePart());
      rs.setField("EntryTime", now.timePart());
      rs.update();
      rs.close();
    };
    if (!existing->eof()) {
      existing->edit();  // the row keeps its CustID
      writeEntry(*existing);
    } else {
      existing->close();
      RecordsetPtr queue = m_dbDT->openRecordset(contract::kTblDTQueue, RecordsetType::Dynaset);
      queue->addNew();
      queue->setField("CustID", p_sCustID);
      writeEntry(*queue);
    }

    if (p_lLogID != 0) {
      RecordsetPtr header = m_dbDT->openRecordset(
          "select SystemRemark from tblDtCallLogHeader where LogID=" +
              oskara::numberText(int64_t{p_lLogID}),
          RecordsetType::Dynaset);
      if (!header->eof()) {
        header->edit();
        header->setField("SystemRemark", remark);
        header->update();
      }
      header->close();
    }
    return -1;
  });
}

int32_t QueueEngine::LogIdOf(const std::string& custId) {
  // Through the object's own interface, as any client would ask.
  std::vector<Variant> args{Variant(custId)};
  return logIdValue(invoke(contract::queue_engine::kGetLogID, args));
}

void QueueEngine::QueueEach(Recordset& rs, LogIdFrom logIdFrom, int16_t transType,
                            const std::string& remark, bool priority) {
  while (!rs.eof()) {
    const std::string custId = rs.field("CustId").toString();
    const int32_t logId =
        logIdFrom == LogIdFrom::GetLogID ? LogIdOf(custId) : logIdValue(rs.field("LogID"));
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

bool QueueEngine::CreditHold() {
  return raisingAs("CreditHold", [&] {
    RecordsetPtr rs = m_dbDT->openRecordset(
        "SELECT DISTINCTROW tblArCust.CustId FROM tblArCust WHERE "
        "((tblArCust.CreditHold=True)); ",
        RecordsetType::ForwardOnly);
    QueueEach(*rs, LogIdFrom::GetLogID, 10, "Account on Credit Hold.", false);
    return true;
  });
}

// ---------------------------------------------------------------------------
// Ageing scans

bool QueueEngine::RunAgeingRule(const AgeingRule& rule) {
  return raisingAs(rule.procedure, [&] {
    const std::string insert =
        std::string("INSERT INTO tblDTQueue ( CustID, TransType, Remark, EntryDate, "
                    "EntryTime ) SELECT DISTINCTROW tblArCustHist.CustId, ") +
        oskara::numberText(int64_t{rule.transType}) + " AS Expr1, " + quotedText(rule.remark) +
        " AS Expr2, Date() AS Expr3, "
        "Time() AS Expr4 FROM (tblArCust INNER JOIN tblArCustHist ON "
        "tblArCust.CustId = tblArCustHist.CustId) LEFT JOIN tblDTQueue ON "
        "tblArCustHist.CustId = tblDTQueue.CustID WHERE "
        "((([BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[NewFinch]+[UnpaidFinch])>0) AND " +
        rule.bucketTest + "(tblDTQueue.CustID Is Null)); ";
    oskara::db::QueryDefPtr query = m_dbDT->createQueryDef("");
    query->setSql(insert);
    query->execute(oskara::db::kFailOnError);
    if (m_progress) m_progress->addQueued(query->recordsAffected());
    // Every queued customer with a header gets its LogID again, not only the new rows.
    query->setSql(
        "UPDATE DISTINCTROW tblDTQueue INNER JOIN "
        "tblDtCallLogHeader ON tblDTQueue.CustID = "
        "tblDtCallLogHeader.CustID SET tblDTQueue.LogID = "
        "[tblDtCallLogHeader].[LogID]; ");
    query->execute(oskara::db::kFailOnError);
    return true;
  });
}

bool QueueEngine::Exceed120Days() {
  static constexpr AgeingRule kRule{"Exceed120Days", 5, "Account 120 days overdue.",
                                    "(tblArCustHist.BalAge4>0) AND (tblArCust.CreditHold=False) AND "};
  return RunAgeingRule(kRule);
}

bool QueueEngine::Exceed90Days() {
  static constexpr AgeingRule kRule{"Exceed90Days", 4, "Account 90 days overdue.",
                                    "(tblArCustHist.BalAge3>0) AND (tblArCust.CreditHold=False) AND "};
  return RunAgeingRule(kRule);
}

bool QueueEngine::Exceed60Days() {
  static constexpr AgeingRule kRule{"Exceed60Days", 3, "Account 60 days overdue.",
                                    "(tblArCustHist.BalAge2>0) AND (tblArCust.CreditHold=False) AND "};
  return RunAgeingRule(kRule);
}

bool QueueEngine::Exceed30Days() {
  static constexpr AgeingRule kRule{"Exceed30Days", 2, "Account 30 days overdue.",
                                    "(tblArCustHist.BalAge1>0) AND (tblArCust.CreditHold=False) AND "};
  return RunAgeingRule(kRule);
}

// ---------------------------------------------------------------------------
// Credit-limit scans

bool QueueEngine::OverLimit() {
  return raisingAs("OverLimit", [&] {
    RecordsetPtr rs = m_dbDT->openRecordset(
        "SELECT DISTINCTROW tblArCustHist.CustId, "
        "[CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit] "
        "+[UnpaidFinch] AS TotalDue, tblArCust.CreditLimit FROM tblArCust "
        "INNER JOIN tblArCustHist ON tblArCust.CustId = tblArCustHist.CustId "
        "WHERE "
        "((([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit] "
        "+[UnpaidFinch])>[CreditLimit]) AND (tblArCust.CreditLimit>0) AND (tblArCust.CreditHold=False)); ",
        RecordsetType::ForwardOnly);
    QueueEach(*rs, LogIdFrom::GetLogID, 1, "Account Over Credit Limit.", false);
    return true;
  });
}

bool QueueEngine::NearLimit() {
  return raisingAs("NearLimit", [&] {
    RecordsetPtr rs = m_dbDT->openRecordset(
        "SELECT DISTINCTROW tblArCustHist.CustId,  tblArCust.CreditLimit "
        "FROM tblArCust INNER JOIN tblArCustHist ON tblArCust.CustId = "
        "tblArCustHist.CustId WHERE "
        "((([CreditLimit]-([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4] "
        "-[UnapplCredit]+[UnpaidFinch]))<= " +
            oskara::numberText(m_options.Chk_NearLimit_Amt) +
            " ) AND (([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[UnpaidFinch])>0) "
            "AND (tblArCust.CreditLimit>0) AND (tblArCust.CreditHold=False)); ",
        RecordsetType::ForwardOnly);
    QueueEach(*rs, LogIdFrom::GetLogID, 6, "Account approaching Credit Limit.", false);
    return true;
  });
}

// ---------------------------------------------------------------------------
// Follow-up scans

namespace {

std::string followUpRemark(int16_t days, const char* tail) {
  return "Follow-Up since last call made more than " + oskara::numberText(int64_t{days}) + tail;
}

}  // namespace

bool QueueEngine::FollowUp1() {
  return raisingAs("FollowUp1", [&] {
    const std::string days = oskara::numberText(int64_t{m_options.Chk_FollowUp1_x});
    RecordsetPtr rs = m_dbDT->openRecordset(
        "SELECT DISTINCTROW tblDtCallLogHeader.CustID, tblDtCallLogHeader.LogID FROM "
        "tblDtCallLogHeader INNER JOIN tblArCustHist ON "
        "tblDtCallLogHeader.CustID = tblArCustHist.CustId WHERE "
        "((([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4] "
        "-[UnapplCredit]+[UnpaidFinch])>0) AND "
        "((IIf(IIf(IsNull([LastConversationDate]), "
        "#01/1/2099#,[LastConversationDate]) "
        "> "
        "IIf(IsNull([LastPayDate]), "
        "#01/1/68#, [LastPayDate]), True, False)) = True) AND "
        "((DateDiff("
        "\"d\""
        ", "
        "IIf(IsNull([LastConversationDate]), "
        "#01/1/68#, [LastConversationDate]), Date())) >= " +
            days + ")); ",
        RecordsetType::ForwardOnly);
    QueueEach(*rs, LogIdFrom::Record, 7,
              followUpRemark(m_options.Chk_FollowUp1_x, " days ago and no payment was received."),
              false);
    return true;
  });
}

bool QueueEngine::FollowUp2() {
  return raisingAs("FollowUp2", [&] {
    oskara::db::QueryDefPtr query = m_dbDT->queryDef(contract::kQryDtFollowUp2b);
    query->setParameter("Chk_FollowUp2_x", m_options.Chk_FollowUp2_x);
    RecordsetPtr rs = query->openRecordset(RecordsetType::ForwardOnly);
    QueueEach(*rs, LogIdFrom::Record, 8,
              followUpRemark(m_options.Chk_FollowUp2_x,
                             " days ago and payment was promised but not yet received."),
              false);
    return true;
  });
}

bool QueueEngine::FollowUp3() {
  return raisingAs("FollowUp3", [&] {
    RecordsetPtr rs = m_dbDT->openRecordset(
        "SELECT tblDtCallLogHeader.CustID, tblDtCallLogHeader.LogID FROM tblDtCallLogHeader WHERE "
        "tblDtCallLogHeader.ToCallBack=True ",
        RecordsetType::ForwardOnly);
    // The record's own LogID is not used: the customer gets the id GetLogID finds.
    QueueEach(*rs, LogIdFrom::GetLogID, 9, "To call back the customer.",
              m_options.Chk_FollowUp3Priority);
    return true;
  });
}

}  // namespace tormel
