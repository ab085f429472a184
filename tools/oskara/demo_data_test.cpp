#include "demo_data.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <fstream>

#include "contract/tables.h"
#include "core/clock.h"
#include "core/error.h"
#include "directdb/sqlite_file.h"

namespace oskara::tool {
namespace {

namespace fs = std::filesystem;

class DemoDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("oskara-demo-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Every row of every table, in file order.
  static std::vector<std::vector<Variant>> allRows(const contract::DatabaseFiles& files) {
    std::vector<std::vector<Variant>> rows;
    const std::pair<fs::path, std::string_view> tables[] = {
        {files.dt, contract::kTblDTOptions},  {files.dt, contract::kTblDtCallLogHeader},
        {files.ar, contract::kTblArCust},     {files.ar, contract::kTblArCustHist},
        {files.so, contract::kTblSoHeader}};
    for (const auto& [path, table] : tables) {
      directdb::SqliteFile file(path);
      for (auto& row : file.query("SELECT * FROM " + std::string(table) + " ORDER BY rowid"))
        rows.push_back(std::move(row));
    }
    return rows;
  }

  fs::path root_;
  FixedClock clock_{DateTime::fromParts(2026, 3, 15, 9, 30, 0)};
  ScopedClock useClock_{clock_};
};

TEST_F(DemoDataTest, SameSeedGivesTheSameDataAndAnotherSeedOther) {
  const DemoSummary a = createDemoDatabases(root_ / "a", {.customers = 400, .seed = 7});
  const DemoSummary b = createDemoDatabases(root_ / "b", {.customers = 400, .seed = 7});
  const DemoSummary c = createDemoDatabases(root_ / "c", {.customers = 400, .seed = 8});
  const auto rowsA = allRows(a.files);
  EXPECT_EQ(rowsA, allRows(b.files));
  EXPECT_NE(rowsA, allRows(c.files));
}

TEST_F(DemoDataTest, GeneratorIsPlainSplitMix64) {
  // Reference outputs of SplitMix64 from seed 0: a seed must give the same
  // data on every build, so the generator may not drift.
  DemoRandom rnd(0);
  EXPECT_EQ(rnd.next(), 0xE220A8397B1DCDAFull);
  EXPECT_EQ(rnd.next(), 0x6E789E6AA1B965F4ull);
  EXPECT_EQ(rnd.next(), 0x06C45D188009454Full);
}

TEST_F(DemoDataTest, CountsMatchTheFilesAndEveryRowBelongsToACustomer) {
  const DemoSummary s = createDemoDatabases(root_, {.customers = 300, .seed = 3});
  for (const TableCount& t : s.rowCounts) {
    const auto kind = static_cast<size_t>(t.database);
    directdb::SqliteFile file(kind == 0 ? s.files.dt : kind == 1 ? s.files.ar : s.files.so);
    EXPECT_EQ(file.query("SELECT count(*) FROM " + t.table)[0][0].toInt32(), t.rows) << t.table;
  }
  directdb::SqliteFile dt(s.files.dt);
  dt.exec("ATTACH DATABASE '" + s.files.ar.string() + "' AS ar; ATTACH DATABASE '" +
          s.files.so.string() + "' AS so;");
  EXPECT_EQ(dt.query("SELECT count(*) FROM ar.tblArCust")[0][0].toInt32(), 300);
  EXPECT_EQ(dt.query("SELECT count(*) FROM ar.tblArCust c JOIN ar.tblArCustHist h USING (CustId)")[0][0]
                .toInt32(),
            300);
  EXPECT_EQ(dt.query("SELECT count(*) FROM tblDtCallLogHeader WHERE CustID NOT IN "
                     "(SELECT CustId FROM ar.tblArCust)")[0][0].toInt32(), 0);
  EXPECT_EQ(dt.query("SELECT count(*) FROM so.tblSoHeader WHERE CustId NOT IN "
                     "(SELECT CustId FROM ar.tblArCust)")[0][0].toInt32(), 0);
  // Some customers have no call-log header at all.
  EXPECT_GT(dt.query("SELECT count(*) FROM ar.tblArCust WHERE CustId NOT IN "
                     "(SELECT CustID FROM tblDtCallLogHeader)")[0][0].toInt32(), 0);
  // The data is made for a scan: indexes are there and the queue is empty.
  EXPECT_EQ(dt.query("SELECT count(*) FROM sqlite_master WHERE type='index' AND name LIKE 'idx_%'")[0][0]
                .toInt32(), 3);
  EXPECT_EQ(dt.query("SELECT count(*) FROM tblDTQueue")[0][0].toInt32(), 0);
}

// The scan's rules, written directly against the tables (c: customer,
// h: its aged balances, l: a call-log header), in the order the scan runs
// them. A customer takes the reason of the first rule it meets.
struct RuleCondition {
  int reason;
  std::string sql;
};

std::vector<RuleCondition> scanRules(const std::string& today, int followUp1Days, int followUp2Days,
                                     double nearAmount) {
  const std::string debt =
      "(h.CurAmtDue+h.BalAge1+h.BalAge2+h.BalAge3+h.BalAge4-h.UnapplCredit+h.UnpaidFinch)";
  const std::string aged =
      "(h.BalAge1+h.BalAge2+h.BalAge3+h.BalAge4-h.UnapplCredit+h.NewFinch+h.UnpaidFinch)";
  const std::string day = "julianday('" + today + "')";
  const auto band = [&](int n) {
    return aged + " > 0 AND h.BalAge" + std::to_string(n) + " > 0 AND c.CreditHold = 0";
  };
  return {
      {9, "EXISTS (SELECT 1 FROM tblDtCallLogHeader l WHERE l.CustID = c.CustId AND l.ToCallBack = 1)"},
      {8, debt + " > 0 AND EXISTS (SELECT 1 FROM tblDtCallLogHeader l WHERE l.CustID = c.CustId "
                 "AND l.PromisedPayDate IS NOT NULL AND l.PromisedPayDate < '" + today + "' "
                 "AND (h.LastPayDate IS NULL OR h.LastPayDate < l.LastConversationDate) "
                 "AND " + day + " - julianday(l.LastConversationDate) >= " + std::to_string(followUp2Days) + ")"},
      {7, debt + " > 0 AND EXISTS (SELECT 1 FROM tblDtCallLogHeader l WHERE l.CustID = c.CustId "
                 "AND coalesce(l.LastConversationDate, '2099-01-01') > coalesce(h.LastPayDate, '1968-01-01') "
                 "AND " + day + " - julianday(coalesce(l.LastConversationDate, '1968-01-01')) >= " +
                 std::to_string(followUp1Days) + ")"},
      {5, band(4)},
      {4, band(3)},
      {3, band(2)},
      {2, band(1)},
      {1, debt + " > c.CreditLimit AND c.CreditLimit > 0 AND c.CreditHold = 0"},
      {6, "c.CreditLimit - " + debt + " <= " + formatDouble(nearAmount) + " AND " + debt +
              " > 0 AND c.CreditLimit > 0 AND c.CreditHold = 0"},
      {10, "c.CreditHold = 1"},
  };
}

TEST_F(DemoDataTest, AFullScanWouldQueueCustomersUnderEveryReason) {
  for (int64_t customers : {int64_t{13}, int64_t{2000}}) {
    SCOPED_TRACE("customers " + std::to_string(customers));
    const fs::path dir = root_ / std::to_string(customers);
    const DemoSummary s = createDemoDatabases(dir, {.customers = customers, .seed = 1});
    directdb::SqliteFile dt(s.files.dt);
    dt.exec("ATTACH DATABASE '" + s.files.ar.string() + "' AS ar;");
    const auto options = dt.query("SELECT Chk_FollowUp1_x, Chk_FollowUp2_x, Chk_NearLimit_Amt FROM tblDTOptions");
    ASSERT_EQ(options.size(), 1u);
    const auto rules = scanRules(clock_.now().datePart().toIso(), options[0][0].toInt32(),
                                 options[0][1].toInt32(), options[0][2].toDouble());

    std::string earlier = "0";
    int64_t queued = 0;
    for (const RuleCondition& rule : rules) {
      const std::string sql =
          "SELECT count(*) FROM ar.tblArCust c JOIN ar.tblArCustHist h ON h.CustId = c.CustId "
          "WHERE coalesce((" + rule.sql + "), 0) AND NOT coalesce((" + earlier + "), 0)";
      const int count = dt.query(sql)[0][0].toInt32();
      EXPECT_GT(count, 0) << "no customer would be queued with reason " << rule.reason;
      queued += count;
      earlier += " OR (" + rule.sql + ")";
    }
    // Most accounts are in order: a realistic book is not all arrears.
    if (customers >= 1000) {
      EXPECT_LT(queued, customers * 7 / 10);
      EXPECT_GT(queued, customers / 4);
    }
  }
}

TEST_F(DemoDataTest, RefusesExistingFilesAndImpossibleCounts) {
  fs::create_directories(root_);
  { std::ofstream(root_ / "dt.db") << "someone's data"; }
  try {
    createDemoDatabases(root_, {});
    FAIL() << "an existing dt.db must be refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), contract::kErrDatabaseExists);
  }
  EXPECT_EQ(fs::file_size(root_ / "dt.db"), 14u);
  EXPECT_FALSE(fs::exists(root_ / "ar.db"));

  try {
    createDemoDatabases(root_ / "none", {.customers = 0});
    FAIL() << "zero customers must be refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3001);
  }
  EXPECT_FALSE(fs::exists(root_ / "none" / "dt.db"));
}

}  // namespace
}  // namespace oskara::tool
