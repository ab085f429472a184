#include "bench/set_based_scan.h"

#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "contract/options.h"
#include "core/clock.h"
#include "demo_data.h"
#include "directdb/sqlite_file.h"

namespace oskara::bench {

namespace fs = std::filesystem;
using contract::optionName;
using contract::ScanOptions;
using directdb::SqliteFile;

void makeScanDemo(const fs::path& folder, int64_t customers, uint32_t seed) {
  tool::createDemoDatabases(folder, {.customers = customers, .seed = seed});
  SqliteFile dt(folder / "dt.db");
  std::string set;
  for (bool ScanOptions::*option :
       {&ScanOptions::Chk_ResetQueue, &ScanOptions::Chk_FollowUp3, &ScanOptions::Chk_FollowUp2,
        &ScanOptions::Chk_FollowUp1, &ScanOptions::Chk_120Days, &ScanOptions::Chk_90Days,
        &ScanOptions::Chk_60Days, &ScanOptions::Chk_30Days, &ScanOptions::Chk_OverLimit,
        &ScanOptions::Chk_NearLimit, &ScanOptions::Chk_CreditHold})
    set += (set.empty() ? "" : ", ") + std::string(optionName(option)) + " = 1";
  dt.exec("UPDATE tblDTOptions SET " + set);
}

namespace {

void check(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

// A plain SQLite statement with text parameters bound by name.
void run(sqlite3* db, const std::string& sql, const std::map<std::string, std::string>& text = {},
         const std::map<std::string, double>& numbers = {}) {
  sqlite3_stmt* stmt = nullptr;
  check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), "prepare " + sql);
  for (const auto& [name, value] : text) {
    if (int i = sqlite3_bind_parameter_index(stmt, name.c_str()))
      sqlite3_bind_text(stmt, i, value.c_str(), -1, SQLITE_TRANSIENT);
  }
  for (const auto& [name, value] : numbers) {
    if (int i = sqlite3_bind_parameter_index(stmt, name.c_str())) sqlite3_bind_double(stmt, i, value);
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  sqlite3_finalize(stmt);
  check(db, rc, "run " + sql);
}

double optionNumber(sqlite3* db, std::string_view field) {
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = "SELECT " + std::string(field) + " FROM tblDTOptions";
  check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), "read option");
  double value = 0;
  if (sqlite3_step(stmt) == SQLITE_ROW) value = sqlite3_column_double(stmt, 0);  // Null reads as 0
  sqlite3_finalize(stmt);
  return value;
}

// The total debt of the credit-limit and follow-up rules, and that of the ageing rules.
constexpr const char* kTotalDue =
    "(s.CurAmtDue+s.BalAge1+s.BalAge2+s.BalAge3+s.BalAge4-s.UnapplCredit+s.UnpaidFinch)";
constexpr const char* kAgedTotal =
    "(s.BalAge1+s.BalAge2+s.BalAge3+s.BalAge4-s.UnapplCredit+s.NewFinch+s.UnpaidFinch)";
// The first call-log header of a customer, as the engine's GetLogID finds it; 0 for none.
constexpr const char* kFirstLogId =
    "COALESCE((SELECT MIN(g.LogID) FROM tblDtCallLogHeader g WHERE g.CustID = %s), 0)";

std::string firstLogId(const std::string& custId) {
  char text[256];
  std::snprintf(text, sizeof text, kFirstLogId, custId.c_str());
  return text;
}

// The id the ageing rules link a queued customer to: the engine's UPDATE over
// the join of the queue with the call-log headers meets a customer's headers
// in LogID order, and the last one stays.
std::string lastLogId(const std::string& custId) {
  return "(SELECT MAX(g.LogID) FROM tblDtCallLogHeader g WHERE g.CustID = " + custId + ")";
}

// The baseline's page cache per database, the engine's own (PRAGMA
// cache_size in the engine's connection setup): 64 MiB for the DT file and
// as much for its AR link. Temporary tables live in memory.
constexpr const char* kCacheSize = "-65536";

// Queues the customers of `candidates` (CustID, LogID; one row per customer)
// who are not in the queue yet and whose call-log id no other queue row
// carries, and copies the remark to their call-log headers: what the queue
// writer does for each customer of a record-by-record rule. The rows a rule
// adds are those above the queue's highest QueueID before it, so the remark
// reaches their headers through the primary key, without a pass over the
// queue.
void queueCandidates(sqlite3* db, const std::string& candidates, int code, const std::string& remark,
                     const std::map<std::string, std::string>& now) {
  std::map<std::string, std::string> text = now;
  text[":remark"] = remark;
  run(db, "DELETE FROM temp.mark");
  run(db, "INSERT INTO temp.mark SELECT COALESCE(MAX(QueueID), 0) FROM tblDTQueue");
  run(db,
      "INSERT INTO tblDTQueue (CustID, TransType, Remark, EntryDate, EntryTime, LogID) "
      "SELECT c.CustID, " + std::to_string(code) + ", :remark, :today, :time, c.LogID FROM (" + candidates +
          ") AS c "
          "WHERE NOT EXISTS (SELECT 1 FROM tblDTQueue q WHERE q.CustID = c.CustID) "
          "AND (c.LogID = 0 OR NOT EXISTS (SELECT 1 FROM tblDTQueue q WHERE q.LogID = c.LogID))",
      text);
  run(db,
      "UPDATE tblDtCallLogHeader SET SystemRemark = :remark WHERE LogID IN "
      "(SELECT LogID FROM tblDTQueue WHERE QueueID > (SELECT since FROM temp.mark) AND LogID <> 0)",
      text);
}

}  // namespace

// The scan rules in the engine's order, as set-based statements.
void setBasedScan(const fs::path& dir) {
  // SQLite as the engine sets it up: no count of its memory, no mutex on the connection.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  sqlite3* db = nullptr;
  check(db, sqlite3_open_v2((dir / "dt.db").c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr),
        "open dt.db");
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
  run(db, "ATTACH DATABASE '" + (dir / "ar.db").string() + "' AS ar");
  run(db, "PRAGMA main.journal_mode=DELETE");
  run(db, std::string("PRAGMA main.cache_size=") + kCacheSize);
  run(db, std::string("PRAGMA ar.cache_size=") + kCacheSize);
  run(db, "PRAGMA temp_store=MEMORY");

  const DateTime clock = currentClock().now();
  const std::map<std::string, std::string> now{
      {":today", clock.datePart().toIso()}, {":time", clock.timePart().toIso()}, {":now", clock.toIso()}};
  const auto followUp1Days =
      static_cast<int64_t>(optionNumber(db, optionName(&ScanOptions::Chk_FollowUp1_x)));
  const auto followUp2Days =
      static_cast<int64_t>(optionNumber(db, optionName(&ScanOptions::Chk_FollowUp2_x)));
  const double nearLimitAmount = optionNumber(db, optionName(&ScanOptions::Chk_NearLimit_Amt));

  run(db, "BEGIN");
  run(db, "CREATE TEMP TABLE mark (since INTEGER)");
  run(db, "UPDATE tblDTOptions SET LastQueueProc = :now", now);
  // Queue reset.
  run(db, "UPDATE tblDtCallLogHeader SET SystemRemark = NULL WHERE LogID IN (SELECT LogID FROM tblDTQueue)");
  run(db, "DELETE FROM tblDTQueue");

  // Call-backs, broken promises, follow-ups. A follow-up rule's record-by-record
  // scan meets a customer's headers in LogID order and queues the first that
  // qualifies.
  queueCandidates(db,
                  "SELECT h.CustID AS CustID, " + firstLogId("h.CustID") +
                      " AS LogID FROM tblDtCallLogHeader h WHERE h.ToCallBack = 1 GROUP BY h.CustID",
                  9, "To call back the customer.", now);
  queueCandidates(db,
                  "SELECT h.CustID AS CustID, MIN(h.LogID) AS LogID FROM tblDtCallLogHeader h "
                  "JOIN ar.tblArCustHist s ON h.CustID = s.CustId WHERE " + std::string(kTotalDue) + " > 0 "
                  "AND h.PromisedPayDate IS NOT NULL AND h.PromisedPayDate < '" + now.at(":today") + "' "
                  "AND (s.LastPayDate IS NULL OR s.LastPayDate < h.LastConversationDate) "
                  "AND julianday('" + now.at(":today") + "') - julianday(date(h.LastConversationDate)) >= " +
                      std::to_string(followUp2Days) + " GROUP BY h.CustID",
                  8,
                  "Follow-Up since last call made more than " + numberText(followUp2Days) +
                      " days ago and payment was promised but not yet received.",
                  now);
  queueCandidates(db,
                  "SELECT h.CustID AS CustID, MIN(h.LogID) AS LogID FROM tblDtCallLogHeader h "
                  "JOIN ar.tblArCustHist s ON h.CustID = s.CustId WHERE " + std::string(kTotalDue) + " > 0 "
                  "AND COALESCE(h.LastConversationDate, '2099-01-01') > COALESCE(s.LastPayDate, '1968-01-01') "
                  "AND julianday('" + now.at(":today") + "') - "
                  "julianday(date(COALESCE(h.LastConversationDate, '1968-01-01'))) >= " +
                      std::to_string(followUp1Days) + " GROUP BY h.CustID",
                  7,
                  "Follow-Up since last call made more than " + numberText(followUp1Days) +
                      " days ago and no payment was received.",
                  now);

  // Overdue, oldest band first: one pass, each customer under the oldest
  // band it owes in. The ageing rules link every queued customer with a
  // call-log header to its last header and write no remark: the new rows
  // take that id as they are added (0 without a header), the follow-up rows
  // before them are linked again.
  run(db, "DELETE FROM temp.mark");
  run(db, "INSERT INTO temp.mark SELECT COALESCE(MAX(QueueID), 0) FROM tblDTQueue");
  run(db,
      "INSERT INTO tblDTQueue (CustID, TransType, Remark, EntryDate, EntryTime, LogID) "
      "SELECT s.CustId, CASE WHEN s.BalAge4 > 0 THEN 5 WHEN s.BalAge3 > 0 THEN 4 WHEN s.BalAge2 > 0 THEN 3 ELSE 2 END, "
      "CASE WHEN s.BalAge4 > 0 THEN 'Account 120 days overdue.' WHEN s.BalAge3 > 0 THEN 'Account 90 days overdue.' "
      "WHEN s.BalAge2 > 0 THEN 'Account 60 days overdue.' ELSE 'Account 30 days overdue.' END, :today, :time, "
      "COALESCE(" + lastLogId("s.CustId") + ", 0)"
          " FROM ar.tblArCust c JOIN ar.tblArCustHist s ON c.CustId = s.CustId "
          "WHERE " + kAgedTotal + " > 0 AND (s.BalAge4 > 0 OR s.BalAge3 > 0 OR s.BalAge2 > 0 OR s.BalAge1 > 0) "
          "AND c.CreditHold = 0 AND NOT EXISTS (SELECT 1 FROM tblDTQueue q WHERE q.CustID = s.CustId)",
      now);
  run(db,
      "UPDATE tblDTQueue SET LogID = " + lastLogId("tblDTQueue.CustID") +
          " WHERE QueueID <= (SELECT since FROM temp.mark) AND EXISTS "
          "(SELECT 1 FROM tblDtCallLogHeader g WHERE g.CustID = tblDTQueue.CustID)");

  // Credit limit, then credit hold.
  const std::string customers = "FROM ar.tblArCust c JOIN ar.tblArCustHist s ON c.CustId = s.CustId ";
  queueCandidates(db,
                  "SELECT s.CustId AS CustID, " + firstLogId("s.CustId") + " AS LogID " + customers + "WHERE " +
                      kTotalDue + " > c.CreditLimit AND c.CreditLimit > 0 AND c.CreditHold = 0",
                  1, "Account Over Credit Limit.", now);
  queueCandidates(db,
                  "SELECT s.CustId AS CustID, " + firstLogId("s.CustId") + " AS LogID " + customers + "WHERE " +
                      "c.CreditLimit - " + kTotalDue + " <= " + numberText(nearLimitAmount) + " AND " + kTotalDue +
                      " > 0 AND c.CreditLimit > 0 AND c.CreditHold = 0",
                  6, "Account approaching Credit Limit.", now);
  queueCandidates(db,
                  "SELECT c.CustId AS CustID, " + firstLogId("c.CustId") +
                      " AS LogID FROM ar.tblArCust c WHERE c.CreditHold = 1",
                  10, "Account on Credit Hold.", now);
  run(db, "DROP TABLE temp.mark");
  run(db, "COMMIT");
}

uint64_t outcomeDigest(const fs::path& dt) {
  sqlite3* db = nullptr;
  check(db, sqlite3_open_v2(dt.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), "open dt.db");
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
  uint64_t digest = 14695981039346656037ull;  // FNV-1a
  auto add = [&](const unsigned char* text) {
    for (const unsigned char* c = text; c && *c; ++c) digest = (digest ^ *c) * 1099511628211ull;
    digest = (digest ^ (text ? 0x1f : 0x1e)) * 1099511628211ull;  // the end of a value; Null apart
  };
  for (const char* sql : {"SELECT CustID, TransType, Remark, LogID FROM tblDTQueue ORDER BY CustID",
                          "SELECT LogID, SystemRemark FROM tblDtCallLogHeader WHERE SystemRemark IS NOT NULL "
                          "ORDER BY LogID"}) {
    sqlite3_stmt* stmt = nullptr;
    check(db, sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), sql);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) add(sqlite3_column_text(stmt, i));
    }
    sqlite3_finalize(stmt);
    check(db, rc, sql);
  }
  return digest;
}

QueueCounts countQueue(const fs::path& dt) {
  QueueCounts counts{};
  SqliteFile file(dt);
  for (const auto& row : file.query("SELECT TransType, Count(*) FROM tblDTQueue GROUP BY TransType")) {
    const int code = row[0].isNull() ? 0 : row[0].toInt32();
    counts[code >= 1 && code <= kReasons ? static_cast<size_t>(code) : 0] += row[1].toInt32();
  }
  return counts;
}

}  // namespace oskara::bench
