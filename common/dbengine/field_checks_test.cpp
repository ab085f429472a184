// What SQLite would keep in a field against its declared type: a malformed
// date fails every read of it, naming table, field, key and value; a write
// that its field's type cannot hold fails and changes nothing.
#include <gtest/gtest.h>

#include "dbengine/dbengine.h"
#include "dbengine/errors.h"
#include "dbengine/test_files.h"

namespace oskara::db {
namespace {

using testing::errorNumberOf;
using testing::errorTextOf;
using testing::makeDatabase;
using testing::queryRows;
using testing::runSql;
using testing::TempFolder;

class FieldChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    makeDatabase(dir.file("ar.db"),
                 "CREATE TABLE tblArCustHist(CustId TEXT COLLATE NOCASE PRIMARY KEY, LastPayDate DATETIME);"
                 "INSERT INTO tblArCustHist VALUES ('A1', '2026-01-10'), ('B2', NULL);");
    makeDatabase(path,
                 "CREATE TABLE sys_links(name TEXT PRIMARY KEY COLLATE NOCASE, database TEXT NOT NULL,"
                 " source_table TEXT NOT NULL);"
                 "INSERT INTO sys_links VALUES ('tblArCustHist', 'ar.db', 'tblArCustHist');"
                 "CREATE TABLE tblCallLog(LogID INTEGER PRIMARY KEY, CustID TEXT COLLATE NOCASE,"
                 " LastConversationDate DATETIME);"
                 "INSERT INTO tblCallLog VALUES (11, 'A1', '2026-02-01 09:30:00'), (12, 'B2', NULL);"
                 "CREATE TABLE tblOptions(Days SMALLINT, Amount DOUBLE, Stamp DATETIME);"
                 "INSERT INTO tblOptions VALUES (30, 500, NULL);");
    db = Engine::instance().workspace(0).openDatabase(path);
  }

  void scan(const std::string& sql) {
    for (RecordsetPtr rs = db->openRecordset(sql, RecordsetType::ForwardOnly); !rs->eof(); rs->moveNext()) {
    }
  }

  TempFolder dir;
  std::string path = dir.file("dt.db");
  DatabasePtr db;
};

TEST_F(FieldChecks, MalformedDateFailsEveryReadNamingItsRow) {
  const std::string dateDiff = "SELECT CustID FROM tblCallLog WHERE DateDiff(\"d\", LastConversationDate, Date()) > 3";
  const std::string comparison =
      "SELECT tblCallLog.CustID FROM tblCallLog INNER JOIN tblArCustHist ON tblCallLog.CustID = "
      "tblArCustHist.CustId WHERE LastConversationDate > IIf(IsNull(LastPayDate), #01/1/68#, LastPayDate)";
  // The rows of one table read as they come are checked by the engine as it
  // reads them, the others by the statement itself: the same failure.
  const std::string readByEngine = "SELECT DISTINCTROW tblCallLog.* FROM tblCallLog WHERE LogID > 10";
  const std::string readBySql = "SELECT * FROM tblCallLog ORDER BY LogID";
  scan(dateDiff);
  scan(comparison);
  scan(readByEngine);

  for (const std::string stored : {"'yesterday'", "''", "'2026-02-30'", "'25:61:61'", "'2026-02-01T09:30'", "20260201"}) {
    SCOPED_TRACE(stored);
    runSql(path, "UPDATE tblCallLog SET LastConversationDate = " + stored + " WHERE LogID = 12");
    for (const std::string& sql : {dateDiff, comparison, std::string("tblCallLog"), readByEngine}) {
      const std::string text = errorTextOf([&] { scan(sql); });
      EXPECT_NE(text.find("field 'LastConversationDate' of table 'tblCallLog'"), std::string::npos) << text;
      EXPECT_NE(text.find("LogID = 12"), std::string::npos) << text;
      EXPECT_EQ(errorNumberOf([&] { scan(sql); }), errc::kConversionError);
    }
    EXPECT_EQ(errorTextOf([&] { scan(readByEngine); }), errorTextOf([&] { scan(readBySql); }));
  }
  // Through a link, keyed by its text key.
  runSql(path, "UPDATE tblCallLog SET LastConversationDate = NULL WHERE LogID = 12");
  runSql(dir.file("ar.db"), "UPDATE tblArCustHist SET LastPayDate = 'last week' WHERE CustId = 'A1'");
  const std::string text = errorTextOf([&] { scan(comparison); });
  EXPECT_NE(text.find("table 'tblArCustHist' holds \"last week\" in the row CustId = \"A1\""), std::string::npos)
      << text;
}

TEST_F(FieldChecks, WriteOutsideTheDeclaredTypeFailsAndChangesNothing) {
  auto execute = [&](const std::string& sql) { db->createQueryDef("", sql)->execute(kFailOnError); };
  const std::string overflow = errorTextOf([&] { execute("UPDATE tblOptions SET Days = 40000, Amount = 1"); });
  EXPECT_NE(overflow.find("40000"), std::string::npos) << overflow;
  EXPECT_NE(overflow.find("'tblOptions.Days'"), std::string::npos) << overflow;
  EXPECT_EQ(errorNumberOf([&] { execute("UPDATE tblOptions SET Days = -32769"); }), errc::kNumericOverflow);
  EXPECT_EQ(errorNumberOf([&] { execute("UPDATE tblOptions SET Amount = 'much'"); }), errc::kConversionError);
  EXPECT_EQ(errorNumberOf([&] { execute("UPDATE tblOptions SET Stamp = 'yesterday'"); }), errc::kConversionError);
  EXPECT_EQ(errorNumberOf([&] { execute("INSERT INTO tblOptions (Days) VALUES (32768)"); }), errc::kNumericOverflow);
  EXPECT_EQ(errorNumberOf([&] { execute("INSERT INTO tblOptions (Days) SELECT LogID * 3000 FROM tblCallLog"); }),
            errc::kNumericOverflow);
  EXPECT_EQ(queryRows(path, "SELECT Days, Amount, Stamp, (SELECT count(*) FROM tblOptions) FROM tblOptions"),
            (std::vector<std::vector<std::string>>{{"30", "500.0", "NULL", "1"}}));

  // Within the type a value is stored as the files keep it.
  execute("UPDATE tblOptions SET Days = '45', Stamp = #3/15/2026 14:30#");
  execute("INSERT INTO tblOptions (Days, Stamp) SELECT LogID, '2026-03-16T08:00:00' FROM tblCallLog WHERE LogID = 11");
  // Text in a stored date's shape is written as toIso shows it: midnight and
  // day zero are not shown.
  int days = 0;
  for (const char* text : {"2026-03-17 00:00:00", "1899-12-30 10:15:00", "1899-12-30", "0100-02-28 23:59:59"})
    execute("INSERT INTO tblOptions (Days, Stamp) SELECT " + std::to_string(++days) + ", '" + text + "'");
  EXPECT_EQ(queryRows(path, "SELECT typeof(Days), Days, Stamp FROM tblOptions ORDER BY rowid"),
            (std::vector<std::vector<std::string>>{{"integer", "45", "2026-03-15 14:30:00"},
                                                   {"integer", "11", "2026-03-16 08:00:00"},
                                                   {"integer", "1", "2026-03-17"},
                                                   {"integer", "2", "10:15:00"},
                                                   {"integer", "3", "00:00:00"},
                                                   {"integer", "4", "0100-02-28 23:59:59"}}));

  // A record set's field assignment names the table as well.
  RecordsetPtr rs = db->openRecordset("tblOptions", RecordsetType::Dynaset);
  rs->edit();
  EXPECT_NE(errorTextOf([&] { rs->setField("Days", Variant(int32_t{70000})); }).find("'tblOptions.Days'"),
            std::string::npos);
}

}  // namespace
}  // namespace oskara::db
