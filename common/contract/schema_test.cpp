#include "contract/schema.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "contract/options.h"
#include "contract/tables.h"
#include "core/error.h"
#include "directdb/sqlite_file.h"

namespace oskara::contract {
namespace {

namespace fs = std::filesystem;
using directdb::SqliteFile;

class SchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("oskara-schema-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<std::string> columnsOf(SqliteFile& db, std::string_view table) {
    std::vector<std::string> names;
    for (const auto& row : db.query("SELECT name FROM pragma_table_info(?1)", {table}))
      names.push_back(row[0].toString());
    return names;
  }

  fs::path dir_;
};

TEST_F(SchemaTest, CreatesTheThreeFilesWithEveryNamedField) {
  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile dt(files.dt), ar(files.ar), so(files.so);

  // Every field name the servers use must exist in its table as created.
  const std::vector<std::pair<SqliteFile*, std::pair<std::string_view, std::vector<std::string_view>>>>
      expected = {
          {&dt, {kTblDTQueue,
                 {queue::kQueueID, queue::kCustID, queue::kTransType, queue::kRemark,
                  queue::kEntryDate, queue::kEntryTime, queue::kLogID}}},
          {&dt, {kTblDtCallLogHeader,
                 {calllog::kLogID, calllog::kCustID, calllog::kSystemRemark, calllog::kToCallBack,
                  calllog::kLastConversationDate, calllog::kPromisedPayDate, calllog::kPromisedAmt,
                  calllog::kCollector}}},
          {&ar, {kTblArCust,
                 {arcust::kCustId, arcust::kCustName, arcust::kCreditHold, arcust::kCreditLimit,
                  arcust::kPhone, arcust::kContact}}},
          {&ar, {kTblArCustHist,
                 {arcusthist::kCustId, arcusthist::kCurAmtDue, arcusthist::kBalAge1,
                  arcusthist::kBalAge2, arcusthist::kBalAge3, arcusthist::kBalAge4,
                  arcusthist::kUnapplCredit, arcusthist::kNewFinch, arcusthist::kUnpaidFinch,
                  arcusthist::kLastPayDate, arcusthist::kLastPayAmt}}},
          {&so, {kTblSoHeader,
                 {soheader::kOrderNo, soheader::kCustId, soheader::kOrderDate, soheader::kAmount}}},
      };
  for (const auto& [db, table] : expected) {
    const auto columns = columnsOf(*db, table.first);
    EXPECT_EQ(columns, std::vector<std::string>(table.second.begin(), table.second.end()))
        << table.first;
  }
  EXPECT_FALSE(columnsOf(dt, kTblDTLogon).empty());
  EXPECT_FALSE(columnsOf(dt, kTblDtQueueProcLock).empty());

  // The options table holds the nineteen fields in load order, then the stamp.
  std::vector<std::string> optionColumns;
  for (const OptionField& field : kOptionFields) optionColumns.emplace_back(field.name);
  optionColumns.emplace_back(kLastQueueProc);
  EXPECT_EQ(columnsOf(dt, kTblDTOptions), optionColumns);
}

TEST_F(SchemaTest, OptionsRecordHasEveryRuleOnAndTheDefaultCounts) {
  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile dt(files.dt);
  const auto rows = dt.query(
      "SELECT Chk_NearLimit_Amt, typeof(Chk_NearLimit_Amt), Chk_FollowUp1_x, Chk_FollowUp1_y, "
      "Chk_FollowUp2_x, Chk_FollowUp3_x, Chk_FollowUp3_y, Chk_FollowUp3BatchExcld, LastQueueProc "
      "FROM tblDTOptions");
  ASSERT_EQ(rows.size(), 1u);
  const auto& r = rows[0];
  EXPECT_EQ(r[0], Variant(500.0));
  EXPECT_EQ(r[1].toString(), "real");  // a DOUBLE option is stored as a floating value
  EXPECT_EQ(r[2].toInt32(), 30);
  EXPECT_EQ(r[3].toInt32(), 0);
  EXPECT_EQ(r[4].toInt32(), 7);
  EXPECT_EQ(r[5], Variant(""));
  EXPECT_EQ(r[6], Variant(""));
  EXPECT_EQ(r[7], Variant(""));
  EXPECT_TRUE(r[8].isNull());

  // Every yes/no option (eleven rule switches and the priority flag) is on.
  const auto switches = dt.query("SELECT name FROM pragma_table_info('tblDTOptions') WHERE type = 'BOOLEAN'");
  EXPECT_EQ(switches.size(), 12u);
  for (const auto& name : switches) {
    const auto v = dt.query("SELECT \"" + name[0].toString() + "\" FROM tblDTOptions");
    EXPECT_EQ(v[0][0], Variant(int16_t{1})) << name[0].toString();
  }
}

TEST_F(SchemaTest, DtLinksTheArTablesRelativelyAndStoresTheFollowUpQuery) {
  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile dt(files.dt);
  const auto links = dt.query("SELECT name, database, source_table FROM sys_links ORDER BY name");
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0][0].toString(), "tblArCust");
  EXPECT_EQ(links[1][0].toString(), "tblArCustHist");
  for (const auto& link : links) {
    EXPECT_EQ(link[1].toString(), "ar.db");  // beside the DT file, wherever the folder moves
    EXPECT_EQ(link[2].toString(), link[0].toString());
  }
  // Lookup of the stored query is without regard to case, like every name of the dialect.
  const auto query = dt.query("SELECT sql FROM sys_queries WHERE name = 'QRYDTFOLLOWUP2B'");
  ASSERT_EQ(query.size(), 1u);
  EXPECT_TRUE(query[0][0].toString().starts_with("PARAMETERS Chk_FollowUp2_x Short;"));
}

TEST_F(SchemaTest, TextFieldsCompareWithoutRegardToCase) {
  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile dt(files.dt);
  dt.insert(kTblDtCallLogHeader, {{calllog::kCustID, "abc01"}});
  EXPECT_EQ(dt.query("SELECT LogID FROM tblDtCallLogHeader WHERE CustID = 'ABC01'").size(), 1u);
  EXPECT_EQ(dt.query("SELECT LogID FROM tblDtCallLogHeader WHERE ToCallBack = 0").size(), 1u)
      << "ToCallBack defaults to false";
}

// The stored-date rule is stated twice, in C++ for the engine and in SQL for
// the files' constraints; both must take exactly the same texts.
TEST_F(SchemaTest, DateConstraintTakesWhatTheEngineReadsAsAStoredDate) {
  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile dt(files.dt);
  const std::string check = "SELECT " + sqliteFieldCheck("?1", FieldKind::Date);
  for (const std::string_view text :
       {"2026-03-15", "2026-03-15 10:00:00", "10:00:00", "23:59:59", "2024-02-29", "0001-01-01", "9999-12-31 23:59:59",
        "yesterday", "", "2026-02-30", "2026-02-29", "25:61:61", "24:00:00", "12:60:00", "2026-13-01",
        "2026-03-15T10:00:00", "2026-03-15 10:00", "10:00", "10:00:00.5", " 2026-03-15", "2026-3-15", "15/03/2026",
        "2026-03-15 10:00:00 "}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(dt.query(check, {Variant(text)})[0][0].toBool(), DateTime::parseStored(text).has_value());
  }
  EXPECT_FALSE(dt.query(check, {Variant(int32_t{20260315})})[0][0].toBool());
}

// Whatever program writes the files, the constraints keep out what the
// fields' types cannot hold.
TEST_F(SchemaTest, NewFilesRefuseWrongTypesAndMalformedDates) {
  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile dt(files.dt), ar(files.ar);
  auto refused = [](SqliteFile& db, const std::string& sql) {
    try {
      db.exec(sql);
    } catch (const Error& e) {
      return e.text().find("CHECK constraint failed") != std::string::npos;
    }
    return false;
  };
  EXPECT_TRUE(refused(dt, "UPDATE tblDTOptions SET Chk_FollowUp1_x = 40000"));
  EXPECT_TRUE(refused(dt, "UPDATE tblDTOptions SET Chk_30Days = 'yes'"));
  EXPECT_TRUE(refused(dt, "UPDATE tblDTOptions SET Chk_NearLimit_Amt = 'much'"));
  EXPECT_TRUE(refused(dt, "INSERT INTO tblDtCallLogHeader (CustID, LastConversationDate) VALUES ('C1', 'yesterday')"));
  EXPECT_TRUE(refused(dt, "INSERT INTO tblDTQueue (CustID, LogID) VALUES ('C1', 3000000000)"));
  EXPECT_TRUE(refused(ar, "INSERT INTO tblArCustHist (CustId, LastPayDate) VALUES ('C1', '2026-02-30')"));
  dt.exec("UPDATE tblDTOptions SET Chk_FollowUp1_x = '45', LastQueueProc = '2026-03-15 10:00:00'");
  ar.exec("INSERT INTO tblArCustHist (CustId, LastPayDate, BalAge1) VALUES ('C1', '2026-02-28', '12.5')");
  EXPECT_EQ(dt.query("SELECT Chk_FollowUp1_x FROM tblDTOptions")[0][0], Variant(int16_t{45}));
}

TEST_F(SchemaTest, RefusesToOverwriteAnyExistingFile) {
  fs::create_directories(dir_);
  const DatabaseFiles files = databaseFilesIn(dir_);
  { std::ofstream(files.so) << "keep me"; }

  try {
    createDatabaseFiles(dir_);
    FAIL() << "an existing so.db must be refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrDatabaseExists);
    EXPECT_NE(e.text().find("so.db"), std::string::npos) << e.text();
  }
  EXPECT_FALSE(fs::exists(files.dt)) << "nothing is created when one file is refused";
  EXPECT_FALSE(fs::exists(files.ar));
  std::ifstream in(files.so);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "keep me");

  // A second creation over a complete set is refused as well.
  fs::remove(files.so);
  createDatabaseFiles(dir_);
  EXPECT_THROW(createDatabaseFiles(dir_), Error);
}

TEST_F(SchemaTest, IndexesCanBeLeftForAfterALoad) {
  const DatabaseFiles files = createDatabaseFiles(dir_, {.indexes = false, .optionsRecord = false});
  SqliteFile dt(files.dt);
  const auto countIndexes = [&] {
    return dt.query("SELECT count(*) FROM sqlite_master WHERE type='index' AND name LIKE 'idx_%'")[0][0]
        .toInt32();
  };
  EXPECT_EQ(countIndexes(), 0);
  EXPECT_TRUE(dt.query("SELECT * FROM tblDTOptions").empty());
  dt.exec(indexesDdl(DatabaseKind::DT));
  EXPECT_EQ(countIndexes(), 3);
}

TEST_F(SchemaTest, SqliteFileBindsValuesByTheFileConventions) {
  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile ar(files.ar);
  ar.insert(kTblArCust, {{arcust::kCustId, "C1"}, {arcust::kCreditHold, true}, {arcust::kCreditLimit, 2500.5}});
  ar.insert(kTblArCustHist, {{arcusthist::kCustId, "C1"},
                             {arcusthist::kLastPayDate, DateTime::fromParts(2024, 3, 9)},
                             {arcusthist::kLastPayAmt, Variant::null()}});
  const auto rows = ar.query(
      "SELECT c.CreditHold, c.CreditLimit, h.LastPayDate, h.LastPayAmt, h.CurAmtDue "
      "FROM tblArCust c JOIN tblArCustHist h ON c.CustId = h.CustId WHERE c.CustId = ?1",
      {"c1"});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Variant(int16_t{1}));
  EXPECT_EQ(rows[0][1], Variant(2500.5));
  EXPECT_EQ(rows[0][2], Variant("2024-03-09"));
  EXPECT_TRUE(rows[0][3].isNull());
  EXPECT_EQ(rows[0][4].toDouble(), 0.0);

  EXPECT_EQ(ar.exec("UPDATE tblArCust SET CreditHold = ?1", {false}), 1);
  EXPECT_EQ(ar.query("SELECT CreditHold FROM tblArCust")[0][0].toInt32(), 0);
}

TEST_F(SchemaTest, SqliteFileReportsFailuresWithTheirObject) {
  try {
    SqliteFile missing(dir_ / "none.db");
    FAIL() << "a missing file must not be created";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3051);
    EXPECT_NE(e.text().find("none.db"), std::string::npos) << e.text();
  }
  EXPECT_FALSE(fs::exists(dir_ / "none.db"));

  const DatabaseFiles files = createDatabaseFiles(dir_);
  SqliteFile dt(files.dt);
  try {
    dt.exec("SELECT * FROM tblNothing");
    FAIL() << "an unknown table must fail";
  } catch (const Error& e) {
    EXPECT_NE(e.text().find("tblNothing"), std::string::npos) << e.text();
  }
}

}  // namespace
}  // namespace oskara::contract
