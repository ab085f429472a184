// Statements of the dialect on the engine: SELECT record sets, the statement
// cache, stored and temporary queries with parameters, action statements.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>

#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/sqlite/testing.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using testing::errorNumberOf;
using testing::errorTextOf;
using testing::makeDatabase;
using testing::queryRows;
using testing::TempFolder;

using Rows = std::vector<std::vector<std::string>>;

class DialectStatements : public testing::BothBackends {
 protected:
  void SetUp() override {
    BothBackends::SetUp();
    if (IsSkipped()) return;
    databases.make("ar",
                   "CREATE TABLE Customers(CustId TEXT COLLATE NOCASE PRIMARY KEY, CreditLimit DOUBLE,"
                   " CreditHold BOOLEAN);"
                   "INSERT INTO Customers VALUES ('A1', 100, FALSE), ('B2', 200, TRUE), ('C3', 0, FALSE);");
    databases.make("dt",
                   "CREATE TABLE sys_links(name TEXT COLLATE NOCASE PRIMARY KEY, database TEXT NOT NULL,"
                   " source_table TEXT NOT NULL);"
                   "INSERT INTO sys_links VALUES ('tblArCust', '" + databases.link("ar") + "', 'Customers'),"
                   " ('tblGone', '" + databases.link("gone") + "', 'X');"
                   "CREATE TABLE tblQueue(CustID TEXT COLLATE NOCASE NOT NULL UNIQUE, TransType SMALLINT,"
                   " Remark TEXT COLLATE NOCASE, LogID INTEGER DEFAULT 0);"
                   "INSERT INTO tblQueue VALUES ('A1', 2, 'Account 30 days overdue.', 11), ('B2', 10, NULL, 12);"
                   "CREATE TABLE tblCallLog(LogID INTEGER PRIMARY KEY, CustID TEXT COLLATE NOCASE, ToCallBack BOOLEAN);"
                   "INSERT INTO tblCallLog VALUES (11, 'A1', TRUE), (12, 'B2', FALSE);"
                   "CREATE TABLE sys_queries(name TEXT COLLATE NOCASE PRIMARY KEY, sql TEXT NOT NULL);"
                   "INSERT INTO sys_queries VALUES ('qryAtLeast',"
                   " 'PARAMETERS MinType Short; SELECT tblQueue.CustID, tblQueue.LogID FROM tblQueue"
                   " WHERE tblQueue.TransType >= [MinType] ORDER BY tblQueue.CustID;');");
    db = Engine::instance().workspace(0).openDatabase(path());
  }

  std::vector<Variant> column(const RecordsetPtr& rs, const char* field) {
    std::vector<Variant> values;
    for (; !rs->eof(); rs->moveNext()) values.push_back(rs->field(field));
    return values;
  }
  std::string path() const { return databases.location("dt"); }
  Rows query(const std::string& sql) { return databases.query("dt", sql); }

  DatabasePtr db;
};
OSKARA_ON_BOTH_BACKENDS(DialectStatements);

// What only files show: SQLite's statements, its catalog, a file's mode.
class FileStatements : public DialectStatements {};
INSTANTIATE_TEST_SUITE_P(Files, FileStatements, ::testing::Values(testing::Backend::SQLite), testing::backendName);

TEST_P(DialectStatements, SelectOverOneTableEditsInPlace) {
  RecordsetPtr rs = db->openRecordset(
      "SELECT DISTINCTROW tblQueue.* FROM tblQueue WHERE ((tblQueue.CustID=\"b2\")); ", RecordsetType::Dynaset);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->field("TransType"), Variant(int16_t{10}));
  rs->edit();
  rs->setField("Remark", "Account on Credit Hold.");
  rs->setField("LogID", int32_t{0});
  rs->update();
  rs->moveNext();
  EXPECT_TRUE(rs->eof());
  EXPECT_EQ(query("SELECT Remark, LogID FROM tblQueue WHERE CustID = 'B2'"),
            (Rows{{"Account on Credit Hold.", "0"}}));

  RecordsetPtr sum = db->openRecordset("SELECT CustID, TransType + 1 AS Next FROM tblQueue");
  sum->edit();
  EXPECT_EQ(errorNumberOf([&] { sum->setField("Next", int32_t{3}); }), errc::kFieldNotUpdatable);

  RecordsetPtr add = db->openRecordset("select Remark, CustID from tblQueue where LogID=-1");
  EXPECT_TRUE(add->eof());
  add->addNew();
  add->setField("custid", "D4");
  add->update();
  EXPECT_EQ(query("SELECT TransType, LogID FROM tblQueue WHERE CustID = 'D4'"), (Rows{{"NULL", "0"}}));
}

TEST_P(DialectStatements, JoinThroughALinkReadsButDoesNotEdit) {
  const char* sql =
      "SELECT DISTINCTROW tblArCust.CustId, tblArCust.CreditLimit, tblQueue.TransType FROM tblArCust"
      " INNER JOIN tblQueue ON tblArCust.CustId = tblQueue.CustID WHERE tblArCust.CreditHold=False";
  RecordsetPtr rs = db->openRecordset(sql, RecordsetType::Dynaset);
  ASSERT_FALSE(rs->eof());
  EXPECT_EQ(rs->field("CustId"), Variant("A1"));
  EXPECT_EQ(rs->field("CreditLimit"), Variant(100.0));
  EXPECT_EQ(errorNumberOf([&] { rs->edit(); }), errc::kReadOnly);
  EXPECT_EQ(errorNumberOf([&] { rs->addNew(); }), errc::kReadOnly);
  rs->moveNext();
  EXPECT_TRUE(rs->eof());

  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("SELECT X FROM tblGone"); }), errc::kFileNotFound);
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("SELECT a FROM tblNowhere"); }), errc::kNoSuchTable);
}

TEST_P(FileStatements, SameShapeReusesOnePreparedStatement) {
  auto lookup = [&](const std::string& id) {
    RecordsetPtr rs = db->openRecordset(
        "SELECT DISTINCTROW tblCallLog.LogID, tblCallLog.CustID FROM tblCallLog WHERE "
        "((tblCallLog.CustID=\"" + id + "\")); ",
        RecordsetType::ForwardOnly);
    return rs->eof() ? Variant::null() : rs->field("LogID");
  };
  EXPECT_EQ(lookup("A1"), Variant(int32_t{11}));
  EXPECT_EQ(lookup("B2"), Variant(int32_t{12}));
  EXPECT_TRUE(lookup("Z9").isNull());

  // One statement on the connection, prepared once and run three times.
  std::vector<sqlite3_stmt*> statements;
  sqlite3* connection = sqlite::TEST_connectionOf(*db);
  for (sqlite3_stmt* s = sqlite3_next_stmt(connection, nullptr); s; s = sqlite3_next_stmt(connection, s))
    statements.push_back(s);
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(sqlite3_stmt_status(statements[0], SQLITE_STMTSTATUS_RUN, 0), 3);
  EXPECT_FALSE(sqlite3_stmt_busy(statements[0]));
}

TEST_P(DialectStatements, OpenSetsOfOneShapeDoNotShareAStatement) {
  databases.run("dt",
                  "CREATE TABLE tblMany(n INTEGER);"
                  "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 600)"
                  " INSERT INTO tblMany SELECT n FROM c;");
  RecordsetPtr odd = db->openRecordset("SELECT n FROM tblMany WHERE n > 0 ORDER BY n", RecordsetType::ForwardOnly);
  RecordsetPtr late = db->openRecordset("SELECT n FROM tblMany WHERE n > 300 ORDER BY n", RecordsetType::ForwardOnly);
  int32_t a = 1, b = 301;
  while (!odd->eof() || !late->eof()) {
    if (!odd->eof()) {
      ASSERT_EQ(odd->field("n"), Variant(a++));
      odd->moveNext();
    }
    if (!late->eof()) {
      ASSERT_EQ(late->field("n"), Variant(b++));
      late->moveNext();
    }
  }
  EXPECT_EQ(a, 601);
  EXPECT_EQ(b, 601);
}

TEST_P(DialectStatements, StoredQueryTakesItsDeclaredParameter) {
  QueryDefPtr q = db->queryDef("QRYATLEAST");
  EXPECT_EQ(q->name(), "qryAtLeast");
  EXPECT_EQ(q->parameterNames(), std::vector<std::string>{"MinType"});
  EXPECT_EQ(errorNumberOf([&] { q->openRecordset(RecordsetType::ForwardOnly); }), errc::kTooFewParameters);
  EXPECT_NE(errorTextOf([&] { q->openRecordset(RecordsetType::ForwardOnly); }).find("MinType"), std::string::npos);

  q->setParameter("mintype", "3");  // converted to the declared Short
  EXPECT_EQ(q->parameter("MinType"), Variant(int16_t{3}));
  EXPECT_EQ(column(q->openRecordset(RecordsetType::ForwardOnly), "CustID"), std::vector<Variant>{Variant("B2")});
  q->setParameter("MinType", int32_t{1});
  EXPECT_EQ(column(q->openRecordset(RecordsetType::ForwardOnly), "LogID"),
            (std::vector<Variant>{Variant(int32_t{11}), Variant(int32_t{12})}));

  EXPECT_EQ(errorNumberOf([&] { q->setParameter("MinType", int32_t{40000}); }), errc::kNumericOverflow);
  EXPECT_EQ(errorNumberOf([&] { q->setParameter("Other", 1.0); }), errc::kItemNotFound);
  EXPECT_EQ(errorNumberOf([&] { q->parameter("Other"); }), errc::kItemNotFound);
  // By name as a record set source it has no values.
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("qryAtLeast", RecordsetType::ForwardOnly); }),
            errc::kTooFewParameters);
  EXPECT_EQ(errorNumberOf([&] { db->queryDef("qryMissing"); }), errc::kItemNotFound);
}

TEST_P(DialectStatements, NameThatIsNoColumnIsAParameter) {
  EXPECT_EQ(errorNumberOf([&] { db->openRecordset("SELECT CustID FROM tblQueue WHERE [Typo] = 1"); }),
            errc::kTooFewParameters);
  QueryDefPtr q = db->createQueryDef("", "SELECT CustID FROM tblQueue WHERE LogID = [Wanted]");
  q->setParameter("Wanted", int32_t{12});
  EXPECT_EQ(column(q->openRecordset(RecordsetType::ForwardOnly), "CustID"), std::vector<Variant>{Variant("B2")});
}

// A queue row with several call-log rows takes the newest one's LogID, on
// every backend and whatever order the rows were written in.
TEST_P(DialectStatements, UpdateOverAJoinTakesTheLastJoinRowInKeyOrder) {
  databases.run("dt", "INSERT INTO tblCallLog VALUES (30, 'A1', FALSE), (20, 'a1', FALSE)");
  db->execute("UPDATE DISTINCTROW tblQueue INNER JOIN tblCallLog ON tblQueue.CustID = tblCallLog.CustID"
              " SET tblQueue.LogID = [tblCallLog].[LogID], tblQueue.Remark = 'linked';");
  EXPECT_EQ(db->recordsAffected(), 2);
  EXPECT_EQ(query("SELECT CustID, LogID, Remark FROM tblQueue ORDER BY CustID"),
            (Rows{{"A1", "30", "linked"}, {"B2", "12", "linked"}}));
}

TEST_P(DialectStatements, ActionStatementsReportTheirRowsAndFailWhole) {
  QueryDefPtr q = db->createQueryDef("");
  q->setSql("UPDATE DISTINCTROW tblQueue SET tblQueue.Remark = Null WHERE tblQueue.TransType < 20; ");
  q->execute(kFailOnError);
  EXPECT_EQ(q->recordsAffected(), 2);
  EXPECT_EQ(query("SELECT count(*) FROM tblQueue WHERE Remark IS NULL"), (Rows{{"2"}}));

  // The second row collides with A1: nothing of the statement remains.
  q->setSql("INSERT INTO tblQueue ( CustID, TransType ) SELECT DISTINCTROW tblArCust.CustId, 5 AS Expr1"
            " FROM tblArCust WHERE tblArCust.CreditLimit >= 0 ORDER BY tblArCust.CustId DESC;");
  EXPECT_EQ(errorNumberOf([&] { q->execute(kFailOnError); }), errc::kDuplicateKey);
  EXPECT_EQ(query("SELECT count(*) FROM tblQueue"), (Rows{{"2"}}));

  db->execute("DELETE DISTINCTROW tblQueue.* FROM tblQueue WHERE tblQueue.CustID=\"A1\";");
  EXPECT_EQ(db->recordsAffected(), 1);
  EXPECT_EQ(errorNumberOf([&] { db->execute("SELECT CustID FROM tblQueue"); }), errc::kCannotExecuteSelect);
}

TEST_P(DialectStatements, NamedQueriesAreSavedTemporaryOnesNot) {
  const auto before = query("SELECT count(*) FROM sys_queries");
  db->createQueryDef("", "SELECT CustID FROM tblQueue");
  EXPECT_EQ(query("SELECT count(*) FROM sys_queries"), before);

  QueryDefPtr q = db->createQueryDef("qryHeld", "SELECT CustID FROM tblQueue WHERE TransType = 10");
  EXPECT_EQ(errorNumberOf([&] { db->createQueryDef("QRYHELD", "SELECT 1"); }), errc::kObjectExists);
  q->setSql("SELECT CustID FROM tblQueue WHERE TransType = 2");
  DatabasePtr other = Engine::instance().workspace(0).openDatabase(path());
  EXPECT_EQ(other->queryDef("qryheld")->sql(), "SELECT CustID FROM tblQueue WHERE TransType = 2");
  const auto names = other->queryDefNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "qryHeld"), names.end());
  // A stored query stands in a FROM clause and as a record set source.
  EXPECT_EQ(column(other->openRecordset("qryHeld"), "CustID"), std::vector<Variant>{Variant("A1")});
  EXPECT_EQ(column(other->openRecordset("SELECT CustID FROM qryHeld"), "CustID"), std::vector<Variant>{Variant("A1")});
}

TEST_P(FileStatements, FirstStoredQueryMakesItsTable) {
  TempFolder fresh;
  makeDatabase(fresh.file("x.db"), "CREATE TABLE t(a TEXT);");
  DatabasePtr x = Engine::instance().workspace(0).openDatabase(fresh.file("x.db"));
  x->createQueryDef("", "SELECT a FROM t");
  EXPECT_EQ(queryRows(fresh.file("x.db"), "SELECT count(*) FROM sqlite_schema WHERE name = 'sys_queries'"),
            (Rows{{"0"}}));
  x->createQueryDef("qryA", "SELECT a FROM t");
  EXPECT_EQ(queryRows(fresh.file("x.db"), "SELECT name, sql FROM sys_queries"), (Rows{{"qryA", "SELECT a FROM t"}}));
}

TEST_P(DialectStatements, ActionQueryInsideTheTransactionRollsBack) {
  Workspace& ws = Engine::instance().workspace(0);
  ws.beginTrans();
  QueryDefPtr q = db->createQueryDef("");
  q->setSql("DELETE DISTINCTROW tblQueue.* FROM tblQueue;");
  q->execute(kFailOnError);
  EXPECT_TRUE(db->openRecordset("tblQueue")->eof());
  ws.rollback();
  EXPECT_EQ(query("SELECT count(*) FROM tblQueue"), (Rows{{"2"}}));
}

TEST_P(FileStatements, ReadOnlyFileRefusesActionStatements) {
  db.reset();
  ASSERT_EQ(::chmod(path().c_str(), 0444), 0);
  db = Engine::instance().workspace(0).openDatabase(path());
  EXPECT_EQ(errorNumberOf([&] { db->execute("DELETE FROM tblQueue"); }), errc::kReadOnly);
}

}  // namespace
}  // namespace oskara::db
