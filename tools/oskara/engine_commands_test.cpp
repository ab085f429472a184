#include "engine_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "contract/schema.h"
#include "contract/tables.h"
#include "core/clock.h"
#include "core/error.h"
#include "directdb/sqlite_file.h"

namespace oskara::tool {
namespace {

namespace fs = std::filesystem;

class EngineCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("oskara-engine-cmd-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    files_ = contract::createDatabaseFiles(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void queueRow(std::string_view cust, int16_t reason, std::string_view remark, int32_t logId) {
    directdb::SqliteFile dt(files_.dt);
    dt.insert(contract::kTblDTQueue, {{"CustID", cust},
                                    {"TransType", reason},
                                    {"Remark", remark},
                                    {"EntryDate", DateTime::fromParts(2026, 3, 15)},
                                    {"EntryTime", DateTime::fromParts(0, 0, 0, 9, 30, 0)},
                                    {"LogID", logId}});
  }

  std::string sql(std::string statement, std::vector<std::string> params = {}, bool csv = false) {
    std::ostringstream out;
    SqlRequest request{files_.dt.string(), std::move(statement), std::move(params), csv, false};
    EXPECT_EQ(runSql(request, out), 0);
    return out.str();
  }

  fs::path dir_;
  contract::DatabaseFiles files_;
  FixedClock clock_{DateTime::fromParts(2026, 3, 15, 9, 30, 0)};
  ScopedClock useClock_{clock_};
};

TEST_F(EngineCommandsTest, QueueListsByReasonThenCustomer) {
  queueRow("C3", 10, "Account on Credit Hold.", 0);
  queueRow("C2", 2, "Account 30 days overdue.", 7);
  queueRow("C1", 10, "Account on Credit Hold.", 4);

  std::ostringstream text;
  showQueue(files_.dt.string(), OutputFormat::Text, text);
  EXPECT_EQ(text.str(),
            "CustID  TransType  Remark                    EntryDate   EntryTime  LogID\n"
            "------  ---------  ------------------------  ----------  ---------  -----\n"
            "C2              2  Account 30 days overdue.  2026-03-15  09:30:00       7\n"
            "C1             10  Account on Credit Hold.   2026-03-15  09:30:00       4\n"
            "C3             10  Account on Credit Hold.   2026-03-15  09:30:00       0\n"
            "3 customers in the queue.\n");

  std::ostringstream json;
  showQueue(files_.dt.string(), OutputFormat::Json, json);
  const auto rows = nlohmann::json::parse(json.str());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["TransType"], 2);
  EXPECT_EQ(rows[0]["EntryTime"], "09:30:00");
  EXPECT_EQ(rows[2]["CustID"], "C3");
}

TEST_F(EngineCommandsTest, ActionStatementReportsTheRowsItChanged) {
  EXPECT_EQ(sql("UPDATE tblDTOptions SET Chk_ResetQueue = False, Chk_FollowUp1_x = 45"), "1 row affected.\n");
  directdb::SqliteFile dt(files_.dt);
  const auto row = dt.query("SELECT Chk_ResetQueue, Chk_FollowUp1_x FROM tblDTOptions")[0];
  EXPECT_EQ(row[0].toInt32(), 0);
  EXPECT_EQ(row[1].toInt32(), 45);
  EXPECT_EQ(sql("DELETE FROM tblDTQueue"), "0 rows affected.\n");
}

TEST_F(EngineCommandsTest, StoredQueryRunsWithItsParameterThroughTheLinks) {
  {
    directdb::SqliteFile ar(files_.ar);
    ar.insert(contract::kTblArCust, {{"CustId", "C1"}, {"CustName", "Harlow Timber Ltd"}});
    ar.insert(contract::kTblArCustHist, {{"CustId", "C1"}, {"BalAge1", 120.0}});
    directdb::SqliteFile dt(files_.dt);
    // Called ten days ago, promised payment five days ago, paid nothing.
    dt.insert(contract::kTblDtCallLogHeader, {{"LogID", int32_t{5}},
                                            {"CustID", "C1"},
                                            {"LastConversationDate", DateTime::fromParts(2026, 3, 5)},
                                            {"PromisedPayDate", DateTime::fromParts(2026, 3, 10)}});
  }
  EXPECT_EQ(sql("qryDtFollowUp2b", {"Chk_FollowUp2_x=7"}, true), "CustId,LogID\nC1,5\n");
  EXPECT_EQ(sql("qryDtFollowUp2b", {"Chk_FollowUp2_x=11"}, true), "CustId,LogID\n");
  EXPECT_EQ(sql("SELECT q.CustId, q.LogID FROM qryDtFollowUp2b AS q", {"Chk_FollowUp2_x=10"}, true),
            "CustId,LogID\nC1,5\n");
  EXPECT_EQ(sql("SELECT CustName FROM tblArCust WHERE CustId = \"c1\""),
            "CustName\n-----------------\nHarlow Timber Ltd\n(1 row)\n");
}

TEST_F(EngineCommandsTest, FailuresCarryTheEngineNumber) {
  const auto numberOf = [&](std::string statement, std::vector<std::string> params) {
    try {
      sql(std::move(statement), std::move(params));
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(numberOf("SELECT * FROM tblNowhere", {}), 3078);
  EXPECT_EQ(numberOf("qryDtFollowUp2b", {"Chk_FollowUp2_x"}), 3001);
  EXPECT_EQ(numberOf("tblDTQueue", {"X=1"}), 3001);
  EXPECT_NE(numberOf("UPDATE tblDTQueue SET", {}), 0);
}

}  // namespace
}  // namespace oskara::tool
