// Sets of the three databases made, filled and copied by the tool, as files
// and as schemas on a PostgreSQL server (the PostgreSQL instances run under
// scripts/with-postgres): what the engine then reads, and what a failure
// leaves.
#include <gtest/gtest.h>

#include "contract/schema.h"
#include "contract/tables.h"
#include "database_copy.h"
#include "dbengine/dbengine.h"
#include "dbengine/test_files.h"
#include "demo_data.h"

namespace oskara::tool {
namespace {

using db::testing::Backend;
using db::testing::errorNumberOf;
using db::testing::errorTextOf;
using db::testing::queryRows;
using db::testing::TempFolder;

class DatabaseSets : public db::testing::BothBackends {
 protected:
  contract::DatabaseLocations at(const std::string& prefix, bool withSo = true) {
    return {databases.location(prefix + "dt"), databases.location(prefix + "ar"),
            withSo ? databases.location(prefix + "so") : std::string()};
  }
  // Whether the backend holds a database of that name (a file, or a schema with tables).
  bool exists(const std::string& name) {
    if (GetParam() == Backend::SQLite) return std::filesystem::exists(databases.location(name));
    return databases.query("dt", "SELECT count(*) FROM pg_tables WHERE schemaname = '" +
                                     databases.location(name).substr(databases.location(name).find("schema=") + 7) +
                                     "'")[0][0] != "0";
  }
};

TEST_P(DatabaseSets, DemoOnThreeLocationsIsReadThroughItsLinksAndStoredQuery) {
  const DemoSummary summary = createDemoDatabases(at(""), {.customers = 150, .seed = 4});
  db::DatabasePtr dt = db::Engine::instance().workspace(0).openDatabase(databases.location("dt"));
  db::RecordsetPtr rs = dt->openRecordset(
      "SELECT count(*) AS n FROM tblArCust INNER JOIN tblArCustHist ON tblArCust.CustId = tblArCustHist.CustId",
      db::RecordsetType::ForwardOnly);
  EXPECT_EQ(rs->field("n").toInt32(), 150);
  rs = dt->openRecordset("SELECT Chk_FollowUp2_x, Chk_OverLimit FROM tblDTOptions", db::RecordsetType::ForwardOnly);
  EXPECT_EQ(rs->field(0).toInt32(), 7);
  EXPECT_TRUE(rs->field(1).toBool());
  rs.reset();
  // A value its field cannot hold fails as on files and changes nothing.
  EXPECT_EQ(errorNumberOf([&] {
              dt->createQueryDef("", "UPDATE tblDTOptions SET Chk_FollowUp2_x = 40000")->execute(db::kFailOnError);
            }),
            3349);
  EXPECT_EQ(dt->openRecordset("tblDTOptions", db::RecordsetType::ForwardOnly)->field("Chk_FollowUp2_x").toInt32(), 7);
  db::QueryDefPtr followUp = dt->queryDef(contract::kQryDtFollowUp2b);
  followUp->setParameter("Chk_FollowUp2_x", Variant(int16_t{7}));
  EXPECT_FALSE(followUp->openRecordset(db::RecordsetType::ForwardOnly)->eof());
  for (const TableCount& t : summary.rowCounts) {
    const db::DatabasePtr of = t.database == contract::DatabaseKind::DT ? dt
                               : db::Engine::instance().workspace(0).openDatabase(
                                     databases.location(t.database == contract::DatabaseKind::AR ? "ar" : "so"));
    EXPECT_EQ(of->openRecordset("SELECT count(*) FROM " + t.table, db::RecordsetType::ForwardOnly)->field(0).toInt32(),
              t.rows)
        << t.table;
  }
  dt.reset();

  // A second set over the first, or a half-new one, is refused and changes nothing.
  EXPECT_EQ(errorNumberOf([&] { createDemoDatabases(at(""), {.customers = 5}); }), contract::kErrDatabaseExists);
  EXPECT_EQ(errorNumberOf([&] { createDemoDatabases({at("new").dt, at("new").ar, at("").so}, {.customers = 5}); }),
            contract::kErrDatabaseExists);
  EXPECT_FALSE(exists("newdt"));
  EXPECT_FALSE(exists("newar"));
}

TEST_P(DatabaseSets, CopyToTheBackendAndBackKeepsEveryTableAndRewritesTheLinks) {
  TempFolder files;
  const contract::DatabaseFiles source = contract::databaseFilesIn(files.path() + "/a");
  createDemoDatabases(std::filesystem::path(files.path()) / "a", {.customers = 120, .seed = 9});
  // Values the demo does not make: a time alone, Yes/No as another program writes it, text with a tab.
  db::testing::runSql(source.dt.string(),
                      "INSERT INTO tblDtCallLogHeader (LogID, CustID, ToCallBack, LastConversationDate, Collector) "
                      "VALUES (900001, 'C000001', 5, '14:30:00', 'line\tbreak\nhere\\')");

  const std::vector<CopiedTable> there = copyDatabases({source.dt, source.ar, source.so}, at(""));
  std::filesystem::create_directories(std::filesystem::path(files.path()) / "b");
  const contract::DatabaseLocations backLocations = {files.path() + "/b/dt.db", files.path() + "/b/ar.db",
                                                     files.path() + "/b/so.db"};
  const std::vector<CopiedTable> again = copyDatabases(at(""), backLocations);
  ASSERT_EQ(there.size(), again.size());

  const auto fileOf = [](const std::string& folder, contract::DatabaseKind kind) {
    return folder + (kind == contract::DatabaseKind::DT ? "/dt.db" : kind == contract::DatabaseKind::AR ? "/ar.db" : "/so.db");
  };
  for (size_t i = 0; i < there.size(); ++i) {
    SCOPED_TRACE(there[i].table);
    EXPECT_EQ(there[i].rows, again[i].rows);
    const std::string sql = "SELECT * FROM " + there[i].table + " ORDER BY 1";
    const auto original = queryRows(fileOf(files.path() + "/a", there[i].database), sql);
    EXPECT_EQ(static_cast<int64_t>(original.size()), there[i].rows);
    // ToCallBack 5 is Yes, kept as 5 in a file and as true (1) on a server.
    if (there[i].table == contract::kTblDtCallLogHeader && GetParam() == Backend::PostgreSQL) continue;
    EXPECT_EQ(original, queryRows(fileOf(files.path() + "/b", there[i].database), sql));
  }
  EXPECT_EQ(queryRows(backLocations.dt, "SELECT ToCallBack, LastConversationDate, Collector FROM tblDtCallLogHeader "
                                        "WHERE LogID = 900001"),
            (std::vector<std::vector<std::string>>{
                {GetParam() == Backend::PostgreSQL ? "1" : "5", "14:30:00", "line\tbreak\nhere\\"}}));
  EXPECT_EQ(queryRows(backLocations.dt, "SELECT database FROM sys_links ORDER BY name"),
            (std::vector<std::vector<std::string>>{{"ar.db"}, {"ar.db"}}));
  if (GetParam() == Backend::PostgreSQL) {
    // The copy comes with the planner's statistics, and the headers with room for their rewritten remarks.
    EXPECT_EQ(databases.query("ar", "SELECT count(DISTINCT attname) > 0 FROM pg_stats WHERE schemaname = "
                                    "current_schema() AND tablename = 'tblArCustHist'"),
              (std::vector<std::vector<std::string>>{{"1"}}));
    EXPECT_EQ(databases.query("dt", "SELECT array_to_string(reloptions, ',') FROM pg_class WHERE relnamespace = "
                                    "current_schema()::regnamespace AND relname = 'tblDtCallLogHeader'"),
              (std::vector<std::vector<std::string>>{{"fillfactor=40"}}));
  }

  // A destination that exists is refused, and a refused copy leaves nothing.
  EXPECT_EQ(errorNumberOf([&] { copyDatabases({source.dt, source.ar, source.so}, at("")); }),
            contract::kErrDatabaseExists);
  EXPECT_EQ(errorNumberOf([&] { copyDatabases({source.dt, source.ar, source.so}, {at("c").dt, at("c").ar, at("").so}); }),
            contract::kErrDatabaseExists);
  EXPECT_FALSE(exists("cdt"));
}

TEST_P(DatabaseSets, UnreachableOrUnknownServerDatabaseIsAClearErrorWithoutThePassword) {
  if (GetParam() == Backend::SQLite) GTEST_SKIP() << "server locations only";
  const std::string unknown = "postgresql://postgres:s3cretword@/no_such_database?schema=dt";
  const std::string text = errorTextOf([&] { createDemoDatabases({unknown, unknown + "x", unknown + "y"}, {}); });
  EXPECT_NE(text.find("postgresql://postgres@/no_such_database?schema=dt"), std::string::npos) << text;
  EXPECT_EQ(text.find("s3cretword"), std::string::npos) << text;
  EXPECT_EQ(errorNumberOf([&] { createDemoDatabases({unknown, unknown + "x", unknown + "y"}, {}); }), 3024);
  EXPECT_EQ(errorNumberOf([&] {
              createDemoDatabases({at("").dt, at("").ar, "postgresql://127.0.0.1:1/x?schema=so"}, {});
            }),
            3044);
  EXPECT_EQ(errorNumberOf([&] { createDemoDatabases({at("").dt, at("").ar, "postgresql://[bad?schema="}, {}); }), 3044);
  EXPECT_FALSE(exists("dt"));
}

OSKARA_ON_BOTH_BACKENDS(DatabaseSets);

}  // namespace
}  // namespace oskara::tool
