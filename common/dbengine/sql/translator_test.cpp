// The statements the system issues, composed exactly as the scan rules
// compose them, run through the translator against an in-memory database.
#include "dbengine/sql/translator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/error.h"
#include "dbengine/sql/test_database.h"

namespace oskara::db::sql {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using testdb::RunResult;

const std::string kQuote = "\"";

// ---- The statements, piece by piece ----

std::string getLogId(const std::string& custId) {
  return "SELECT DISTINCTROW tblDtCallLogHeader.LogID, tblDtCallLogHeader.CustID FROM tblDtCallLogHeader WHERE "
         "((tblDtCallLogHeader.CustID=" + kQuote + custId + kQuote + ")); ";
}

std::string queueByCustId(const std::string& custId) {
  return "SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue WHERE ((tblDTQueue.CustID=" + kQuote + custId + kQuote +
         ")); ";
}

std::string queueByLogId(int32_t logId) {
  return "SELECT DISTINCTROW tblDTQueue.* FROM tblDTQueue WHERE ((tblDTQueue.LogID= " + numberText(int64_t{logId}) +
         ")); ";
}

std::string headerRemark(int32_t logId) {
  return "select SystemRemark from tblDtCallLogHeader where LogID=" + numberText(int64_t{logId});
}

std::string ageingInsert(int bucket, int code, const std::string& remark) {
  std::string b = std::to_string(bucket);
  return "INSERT INTO tblDTQueue ( CustID, TransType, Remark, EntryDate, "
         "EntryTime ) SELECT DISTINCTROW tblArCustHist.CustId, " + numberText(int64_t{code}) + " AS Expr1, " +
         kQuote + remark + kQuote + " AS Expr2, Date() AS Expr3, "
         "Time() AS Expr4 FROM (tblArCust INNER JOIN tblArCustHist ON "
         "tblArCust.CustId = tblArCustHist.CustId) LEFT JOIN tblDTQueue ON "
         "tblArCustHist.CustId = tblDTQueue.CustID WHERE "
         "((([BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[NewFinch]+[UnpaidFinch])>0) AND "
         "(tblArCustHist.BalAge" + b + ">0) AND (tblArCust.CreditHold=False) AND "
         "(tblDTQueue.CustID Is Null)); ";
}

const std::string kLinkUpdate =
    "UPDATE DISTINCTROW tblDTQueue INNER JOIN "
    "tblDtCallLogHeader ON tblDTQueue.CustID = "
    "tblDtCallLogHeader.CustID SET tblDTQueue.LogID = "
    "[tblDtCallLogHeader].[LogID]; ";

const std::string kOverLimit =
    "SELECT DISTINCTROW tblArCustHist.CustId, "
    "[CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit] "
    "+[UnpaidFinch] AS TotalDue, tblArCust.CreditLimit FROM tblArCust "
    "INNER JOIN tblArCustHist ON tblArCust.CustId = tblArCustHist.CustId "
    "WHERE "
    "((([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit] "
    "+[UnpaidFinch])>[CreditLimit]) AND (tblArCust.CreditLimit>0) AND (tblArCust.CreditHold=False)); ";

std::string nearLimit(double amount) {
  return "SELECT DISTINCTROW tblArCustHist.CustId,  tblArCust.CreditLimit "
         "FROM tblArCust INNER JOIN tblArCustHist ON tblArCust.CustId = "
         "tblArCustHist.CustId WHERE "
         "((([CreditLimit]-([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4] "
         "-[UnapplCredit]+[UnpaidFinch]))<= " + numberText(amount) +
         " ) AND (([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[UnpaidFinch])>0) AND "
         "(tblArCust.CreditLimit>0) AND (tblArCust.CreditHold=False)); ";
}

std::string followUp1(int16_t days) {
  return "SELECT DISTINCTROW tblDtCallLogHeader.CustID, tblDtCallLogHeader.LogID FROM "
         "tblDtCallLogHeader INNER JOIN tblArCustHist ON "
         "tblDtCallLogHeader.CustID = tblArCustHist.CustId WHERE "
         "((([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4] "
         "-[UnapplCredit]+[UnpaidFinch])>0) AND "
         "((IIf(IIf(IsNull([LastConversationDate]), "
         "#01/1/2099#,[LastConversationDate]) "
         "> "
         "IIf(IsNull([LastPayDate]), "
         "#01/1/68#, [LastPayDate]), True, False)) = True) AND "
         "((DateDiff(" + kQuote + "d" + kQuote + ", "
         "IIf(IsNull([LastConversationDate]), "
         "#01/1/68#, [LastConversationDate]), Date())) >= " + numberText(int64_t{days}) + ")); ";
}

const std::string kFollowUp2b =
    "PARAMETERS Chk_FollowUp2_x Short; "
    "SELECT DISTINCTROW tblDtCallLogHeader.CustID AS CustId, tblDtCallLogHeader.LogID "
    "FROM tblDtCallLogHeader INNER JOIN tblArCustHist ON tblDtCallLogHeader.CustID = tblArCustHist.CustId "
    "WHERE (([CurAmtDue]+[BalAge1]+[BalAge2]+[BalAge3]+[BalAge4]-[UnapplCredit]+[UnpaidFinch])>0) "
    "AND (tblDtCallLogHeader.PromisedPayDate Is Not Null) AND (tblDtCallLogHeader.PromisedPayDate<Date()) "
    "AND ((tblArCustHist.LastPayDate Is Null) OR (tblArCustHist.LastPayDate<tblDtCallLogHeader.LastConversationDate)) "
    "AND (DateDiff(\"d\",tblDtCallLogHeader.LastConversationDate,Date())>=[Chk_FollowUp2_x]);";

const std::string kFollowUp3 =
    "SELECT tblDtCallLogHeader.CustID, tblDtCallLogHeader.LogID FROM tblDtCallLogHeader WHERE "
    "tblDtCallLogHeader.ToCallBack=True ";

const std::string kReleaseHeaders =
    "UPDATE DISTINCTROW tblDtCallLogHeader INNER JOIN "
    "tblDTQueue ON tblDtCallLogHeader.LogID = tblDTQueue.LogID SET "
    "tblDtCallLogHeader.SystemRemark = Null; ";

const std::string kDeleteQueue = "DELETE DISTINCTROW tblDTQueue.* FROM tblDTQueue;";

const std::string kCreditHold =
    "SELECT DISTINCTROW tblArCust.CustId FROM tblArCust WHERE "
    "((tblArCust.CreditHold=True)); ";

// ---- Fixture ----

class SystemStatements : public ::testing::Test {
 protected:
  // The scan runs on 7 December 2026 at 13:45:10.
  FixedClock clock_{DateTime::fromParts(2026, 12, 7, 13, 45, 10)};
  ScopedClock scopedClock_{clock_};
  testdb::TestDatabase db_;

  void customer(const std::string& id, bool hold, double limit, const std::string& balances) {
    db_.exec("INSERT INTO ar.tblArCust (CustId, CreditHold, CreditLimit) VALUES ('" + id + "', " +
             (hold ? "1" : "0") + ", " + formatDouble(limit) + ")");
    if (!balances.empty())
      db_.exec("INSERT INTO ar.tblArCustHist (CustId, " + balances.substr(0, balances.find(" VALUES")) +
               ") VALUES ('" + id + "', " + balances.substr(balances.find(" VALUES") + 8) + ")");
  }
  std::vector<std::string> queue() {
    return db_.rows("SELECT CustID, TransType, Remark, EntryDate, EntryTime, LogID FROM tblDTQueue ORDER BY CustID");
  }
  std::vector<std::string> column0(const RunResult& r) {
    std::vector<std::string> out;
    for (const auto& row : r.rows) out.push_back(row.substr(0, row.find('|')));
    return out;
  }
};

// ---- Queue entry writer ----

TEST_F(SystemStatements, GetLogIdFindsTheHeaderByCustomerIdWithoutRegardToCase) {
  db_.exec("INSERT INTO tblDtCallLogHeader (LogID, CustID) VALUES (11, 'C1001'), (12, 'ab\"c'), (13, 'O''Neil; x')");
  EXPECT_THAT(db_.run(getLogId("C1001")).rows, ElementsAre("11|C1001"));
  EXPECT_THAT(db_.run(getLogId("c1001")).rows, ElementsAre("11|C1001"));
  EXPECT_THAT(db_.run(getLogId("NOPE")).rows, IsEmpty());

  RunResult r = db_.run(getLogId("C1001"));
  EXPECT_THAT(r.translation.columnNames, ElementsAre("LogID", "CustID"));
  EXPECT_THAT(r.translation.columnTypes, ElementsAre("INTEGER", "TEXT"));
}

TEST_F(SystemStatements, CustomerIdsWithQuotesNeitherBreakNorInject) {
  db_.exec("INSERT INTO tblDtCallLogHeader (LogID, CustID) VALUES (12, 'ab\"c'), (13, 'O''Neil; x'), (14, 'Z')");
  EXPECT_THAT(db_.run(getLogId("ab\"\"c")).rows, ElementsAre("12|ab\"c"));
  EXPECT_THAT(db_.run(getLogId("O'Neil; x")).rows, ElementsAre("13|O'Neil; x"));
  // An id that tries to close the text and add a condition is one text value.
  EXPECT_THAT(db_.run(getLogId("x\"\")) OR ((1=1")).rows, IsEmpty());
  // The same statement shape serves every id.
  EXPECT_EQ(statementShape(getLogId("ab\"\"c")).key, statementShape(getLogId("Z")).key);
  EXPECT_EQ(db_.run(getLogId("Z")).translation.sql, db_.run(getLogId("ab\"\"c")).translation.sql);
}

TEST_F(SystemStatements, QueueLookupsAreUpdatableRowsOfTheQueue) {
  db_.exec("INSERT INTO tblDTQueue (CustID, TransType, LogID) VALUES ('C1', 2, 30), ('C2', 7, -5)");
  RunResult byCust = db_.run(queueByCustId("C1"));
  EXPECT_THAT(byCust.rows, ElementsAre("1|C1|2|Null|Null|Null|30"));
  ASSERT_TRUE(byCust.translation.updatable);
  EXPECT_EQ(byCust.translation.updatable->table.table, "tblDTQueue");
  EXPECT_THAT(byCust.translation.updatable->resultColumns,
              ElementsAre("QueueID", "CustID", "TransType", "Remark", "EntryDate", "EntryTime", "LogID"));

  EXPECT_THAT(db_.run(queueByLogId(30)).rows, ElementsAre("1|C1|2|Null|Null|Null|30"));
  EXPECT_THAT(db_.run(queueByLogId(-5)).rows, ElementsAre("2|C2|7|Null|Null|Null|-5"));

  db_.exec("INSERT INTO tblDtCallLogHeader (LogID, CustID, SystemRemark) VALUES (30, 'C1', 'old')");
  RunResult remark = db_.run(headerRemark(30));
  EXPECT_THAT(remark.rows, ElementsAre("old"));
  ASSERT_TRUE(remark.translation.updatable);
  EXPECT_THAT(remark.translation.updatable->resultColumns, ElementsAre("SystemRemark"));
}

// ---- Ageing scans ----

TEST_F(SystemStatements, AgeingInsertQueuesExactlyTheQualifyingCustomers) {
  customer("A1", false, 0, "BalAge1 VALUES 100");                      // qualifies
  customer("A2", false, 0, "BalAge1, UnapplCredit VALUES 100, 150");   // total -50
  customer("A3", true, 0, "BalAge1 VALUES 100");                       // on credit hold
  customer("A4", false, 0, "BalAge2, BalAge4 VALUES 50, 70");          // nothing in the 30-day bucket
  customer("A5", false, 0, "BalAge1 VALUES 10");                       // already queued
  customer("A6", false, 0, "");                                        // no aged balance at all
  customer("A7", false, 0, "BalAge1, UnapplCredit, NewFinch VALUES 10, 20, 15");  // finance charge tips it over
  db_.exec("INSERT INTO tblDTQueue (CustID, TransType, Remark) VALUES ('A5', 7, 'earlier')");

  RunResult r = db_.run(ageingInsert(1, 2, "Account 30 days overdue."));
  EXPECT_EQ(r.changes, 2);
  EXPECT_THAT(queue(), ElementsAre("A1|2|Account 30 days overdue.|2026-12-07|13:45:10|0",
                                   "A5|7|earlier|Null|Null|0",
                                   "A7|2|Account 30 days overdue.|2026-12-07|13:45:10|0"));

  // Run again: everyone qualifying is queued already.
  EXPECT_EQ(db_.run(ageingInsert(1, 2, "Account 30 days overdue.")).changes, 0);
  // The 120-day bucket finds the customer with money in BalAge4.
  EXPECT_EQ(db_.run(ageingInsert(4, 5, "Account 120 days overdue.")).changes, 1);
  EXPECT_THAT(db_.rows("SELECT TransType, Remark FROM tblDTQueue WHERE CustID = 'A4'"),
              ElementsAre("5|Account 120 days overdue."));
}

TEST_F(SystemStatements, LinkUpdateSetsLogIdOfEveryQueueRowWithAHeader) {
  db_.exec("INSERT INTO tblDTQueue (CustID, LogID) VALUES ('H1', 0), ('H2', 99), ('H3', 7)");
  db_.exec("INSERT INTO tblDtCallLogHeader (LogID, CustID) VALUES (21, 'h1'), (23, 'H3'), (24, 'H3'), (25, 'other')");
  RunResult r = db_.run(kLinkUpdate);
  ASSERT_TRUE(r.translation.target);
  EXPECT_EQ(r.translation.target->table, "tblDTQueue");
  EXPECT_EQ(r.changes, 2);  // H2 has no header and keeps its LogID
  std::vector<std::string> rows = db_.rows("SELECT CustID, LogID FROM tblDTQueue ORDER BY CustID");
  EXPECT_EQ(rows[0], "H1|21");
  EXPECT_EQ(rows[1], "H2|99");
  EXPECT_TRUE(rows[2] == "H3|23" || rows[2] == "H3|24") << rows[2];
  EXPECT_THAT(db_.rows("SELECT count(*) FROM tblDtCallLogHeader"), ElementsAre("4"));
}

// ---- Credit-limit scans ----

TEST_F(SystemStatements, OverLimitSelectsDebtStrictlyAboveAPositiveLimit) {
  customer("B1", false, 1000, "CurAmtDue, BalAge1 VALUES 700, 500");   // 1200 > 1000
  customer("B2", false, 1000, "CurAmtDue VALUES 1000");                // equal: not over
  customer("B3", false, 0, "CurAmtDue VALUES 5000");                   // no limit
  customer("B4", true, 100, "CurAmtDue VALUES 5000");                  // on hold
  customer("B5", false, 100, "CurAmtDue, NewFinch VALUES 90, 50");     // NewFinch is not in this total
  RunResult r = db_.run(kOverLimit);
  EXPECT_THAT(r.rows, ElementsAre("B1|1200|1000"));
  EXPECT_THAT(r.translation.columnNames, ElementsAre("CustId", "TotalDue", "CreditLimit"));
  EXPECT_FALSE(r.translation.updatable);
}

TEST_F(SystemStatements, NearLimitComparesHeadroomWithTheAmount) {
  customer("N1", false, 1000, "CurAmtDue VALUES 900");    // headroom 100
  customer("N2", false, 1000, "CurAmtDue VALUES 1060");   // 60 over
  customer("N3", false, 1000, "CurAmtDue VALUES 100");    // headroom 900
  customer("N4", false, 1000, "UnapplCredit VALUES 10");  // nothing owed
  EXPECT_THAT(column0(db_.run(nearLimit(100))), UnorderedElementsAre("N1", "N2"));
  EXPECT_THAT(column0(db_.run(nearLimit(99.5))), UnorderedElementsAre("N2"));
  EXPECT_THAT(column0(db_.run(nearLimit(-50))), UnorderedElementsAre("N2"));
  EXPECT_THAT(column0(db_.run(nearLimit(-61))), IsEmpty());
  EXPECT_THAT(column0(db_.run(nearLimit(900))), UnorderedElementsAre("N1", "N2", "N3"));
}

// ---- Follow-up scans ----

class FollowUpStatements : public SystemStatements {
 protected:
  void SetUp() override {
    // Debt, last conversation, last payment.
    add(1, "F1", 100, "'2026-11-27'", "'2026-11-17'");           // spoken to 10 days ago, paid before
    add(2, "F2", 100, "'2026-11-27 18:30:00'", "'2026-11-17'");  // 10 day boundaries, 9.8 days
    add(3, "F3", 100, "'2026-11-20'", "'2026-11-20'");           // paid the day of the call
    add(4, "F4", 100, "NULL", "NULL");                           // never spoken to, never paid
    add(5, "F5", 0, "'2026-01-01'", "NULL");                     // owes nothing
    add(6, "F6", 100, "'2026-12-07 08:00:00'", "NULL");          // spoken to this morning
    add(7, "F7", 100, "'2026-11-01'", "'2026-11-30'");           // paid after the call
  }
  void add(int logId, const std::string& id, double debt, const std::string& spoken, const std::string& paid) {
    db_.exec("INSERT INTO ar.tblArCustHist (CustId, CurAmtDue, LastPayDate) VALUES ('" + id + "', " +
             formatDouble(debt) + ", " + paid + ")");
    db_.exec("INSERT INTO tblDtCallLogHeader (LogID, CustID, LastConversationDate) VALUES (" +
             std::to_string(logId) + ", '" + id + "', " + spoken + ")");
  }
};

TEST_F(FollowUpStatements, FollowUp1CountsDayBoundariesAndWantsTheCallAfterThePayment) {
  EXPECT_THAT(column0(db_.run(followUp1(10))), UnorderedElementsAre("F1", "F2", "F4"));
  EXPECT_THAT(column0(db_.run(followUp1(11))), UnorderedElementsAre("F4"));
  EXPECT_THAT(column0(db_.run(followUp1(0))), UnorderedElementsAre("F1", "F2", "F4", "F6"));
  // Never spoken to counts from 1 January 1968: 21525 days before the scan date.
  EXPECT_THAT(column0(db_.run(followUp1(21525))), UnorderedElementsAre("F4"));
  EXPECT_THAT(column0(db_.run(followUp1(21526))), IsEmpty());
  RunResult r = db_.run(followUp1(10));
  EXPECT_THAT(r.translation.columnNames, ElementsAre("CustID", "LogID"));
}

TEST_F(FollowUpStatements, FollowUp2StoredQueryTakesItsDeclaredParameter) {
  db_.exec("UPDATE tblDtCallLogHeader SET PromisedPayDate = '2026-12-01' WHERE CustID IN ('F1', 'F3', 'F7')");
  db_.addQuery("qryDtFollowUp2b", kFollowUp2b);
  RunResult direct = db_.run(kFollowUp2b, {{"Chk_FollowUp2_x", Variant(int16_t{5})}});
  ASSERT_EQ(direct.translation.parameters.size(), 1u);
  EXPECT_EQ(direct.translation.parameters[0].name, "Chk_FollowUp2_x");
  EXPECT_EQ(direct.translation.parameters[0].declaredType, VarType::Integer);
  EXPECT_THAT(column0(direct), ElementsAre("F1"));  // F3 paid on the call day, F7 after the call
  EXPECT_THAT(direct.translation.columnNames, ElementsAre("CustId", "LogID"));

  // Standing in a FROM clause, the stored query brings its parameter along.
  RunResult nested = db_.run("SELECT q.CustId FROM qryDtFollowUp2b AS q", {{"Chk_FollowUp2_x", Variant("11")}});
  EXPECT_THAT(nested.rows, IsEmpty());
  ASSERT_EQ(nested.translation.parameters.size(), 1u);
  EXPECT_EQ(nested.translation.parameters[0].declaredType, VarType::Integer);
}

TEST_F(FollowUpStatements, FollowUp3SelectsHeadersFlaggedForACallBack) {
  db_.exec("UPDATE tblDtCallLogHeader SET ToCallBack = 1 WHERE CustID = 'F3'");
  db_.exec("UPDATE tblDtCallLogHeader SET ToCallBack = -1 WHERE CustID = 'F5'");  // as older systems write Yes
  EXPECT_THAT(db_.run(kFollowUp3).rows, UnorderedElementsAre("F3|3", "F5|5"));
}

// ---- Credit hold and queue reset ----

TEST_F(SystemStatements, CreditHoldSelectsCustomersOnHoldWhateverTheyOwe) {
  customer("K1", true, 0, "");
  customer("K2", false, 0, "CurAmtDue VALUES 50");
  customer("K3", true, 10, "CurAmtDue VALUES 50");
  db_.exec("INSERT INTO ar.tblArCust (CustId, CreditHold) VALUES ('K4', -1)");  // Yes as older systems write it
  EXPECT_THAT(db_.run(kCreditHold).rows, UnorderedElementsAre("K1", "K3", "K4"));
}

TEST_F(SystemStatements, QueueResetReleasesLinkedHeadersThenDeletesEveryRow) {
  db_.exec("INSERT INTO tblDtCallLogHeader (LogID, CustID, SystemRemark) VALUES "
           "(1, 'R1', 'queued'), (2, 'R2', 'queued'), (3, 'R3', 'not queued')");
  db_.exec("INSERT INTO tblDTQueue (CustID, LogID) VALUES ('R1', 1), ('R1b', 1), ('R2', 2), ('R4', NULL)");
  RunResult release = db_.run(kReleaseHeaders);
  EXPECT_EQ(release.translation.target->table, "tblDtCallLogHeader");
  EXPECT_EQ(release.changes, 2);
  EXPECT_THAT(db_.rows("SELECT LogID, SystemRemark FROM tblDtCallLogHeader ORDER BY LogID"),
              ElementsAre("1|Null", "2|Null", "3|not queued"));
  EXPECT_THAT(db_.rows("SELECT count(*) FROM tblDTQueue"), ElementsAre("4"));

  RunResult del = db_.run(kDeleteQueue);
  EXPECT_EQ(del.changes, 4);
  EXPECT_EQ(del.translation.kind, StatementKind::Delete);
  EXPECT_THAT(db_.rows("SELECT count(*) FROM tblDTQueue"), ElementsAre("0"));
  // On an empty queue both statements simply change nothing.
  EXPECT_EQ(db_.run(kReleaseHeaders).changes, 0);
  EXPECT_EQ(db_.run(kDeleteQueue).changes, 0);
}

// ---- Every statement, and every prefix of it ----

std::vector<std::string> allStatements() {
  return {getLogId("C1"), queueByCustId("C1"), queueByLogId(30), headerRemark(7),
          ageingInsert(1, 2, "Account 30 days overdue."), ageingInsert(4, 5, "Account 120 days overdue."),
          kLinkUpdate, kOverLimit, nearLimit(500), nearLimit(250.5), followUp1(30), kFollowUp2b, kFollowUp3,
          kReleaseHeaders, kDeleteQueue, kCreditHold};
}

TEST_F(SystemStatements, TruncatedStatementsFailWithAnEngineErrorOrStillPrepare) {
  for (const std::string& full : allStatements()) {
    for (size_t n = 0; n <= full.size(); ++n) {
      std::string text = full.substr(0, n);
      try {
        Translation t = translate(text, db_);
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_.handle(), t.sql.c_str(), -1, &st, nullptr), SQLITE_OK)
            << text << "\n" << t.sql << "\n" << sqlite3_errmsg(db_.handle());
        sqlite3_finalize(st);
      } catch (const Error& e) {
        EXPECT_GE(e.number(), 3000) << text;
      } catch (const std::exception& e) {
        ADD_FAILURE() << "not an engine error for '" << text << "': " << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace oskara::db::sql
