#include "tormel/queue_engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "contract/schema.h"
#include "contract/tables.h"
#include "contract/testing/table_rows.h"
#include "core/clock.h"
#include "directdb/sqlite_file.h"
#include "tormel/globals.h"

namespace tormel {

// Reaches the engine's private procedures for the tests of the queue writer.
class QueueEngineTestAccess {
 public:
  static bool init(QueueEngine& e, const std::string& dt, const std::string& ar) {
    return e.InitOptions(dt, ar, "");
  }
  static int16_t addToQueue(QueueEngine& e, const std::string& id, int32_t logId, int16_t type,
                            const std::string& remark, bool priority = false) {
    return e.AddToQueue(id, logId, type, remark, priority);
  }
};

namespace {

namespace fs = std::filesystem;
using oskara::DateTime;
using oskara::Variant;
using oskara::directdb::SqliteFile;

const DateTime kNow = DateTime::fromParts(2026, 12, 7, 10, 30, 0);

DateTime daysAgo(int days) { return DateTime{kNow.datePart().serial - days}; }

struct QueueRow {
  int16_t transType;
  Variant remark;
  int32_t logId;  // -1 for a Null LogID
};

// Option fields all false; tests switch on what they exercise.
const std::vector<std::string> kBooleanOptions = {
    "Chk_OverLimit", "Chk_NearLimit", "Chk_30Days",    "Chk_60Days",     "Chk_90Days",
    "Chk_120Days",   "Chk_FollowUp1", "Chk_FollowUp2", "Chk_FollowUp3",  "Chk_FollowUp3Priority",
    "Chk_CreditHold", "Chk_ResetQueue"};

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tormel-test-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(dir_);
    files_ = oskara::contract::createDatabaseFiles(dir_);
    dt_ = std::make_unique<SqliteFile>(files_.dt);
    ar_ = std::make_unique<SqliteFile>(files_.ar);
    for (const std::string& option : kBooleanOptions) setOption(option, false);
  }
  void TearDown() override {
    dt_.reset();
    ar_.reset();
    fs::remove_all(dir_);
  }

  void setOption(const std::string& field, const Variant& value) {
    dt_->exec("UPDATE tblDTOptions SET " + field + " = ?1", {value});
  }

  // A customer of the AR file; `hist` names balance fields.
  void addCustomer(const std::string& id, std::map<std::string, double> hist,
                   double creditLimit = 0, bool creditHold = false,
                   std::optional<DateTime> lastPay = std::nullopt) {
    oskara::contract::testing::Fields balances{
        {"LastPayDate", lastPay ? Variant(*lastPay) : Variant::null()}};
    for (const auto& [field, amount] : hist) balances.emplace_back(field, amount);
    oskara::contract::testing::addCustomer(files_.ar, id, std::move(balances),
                                           {{"CreditLimit", creditLimit}, {"CreditHold", creditHold}});
  }

  int64_t addHeader(const std::string& custId, bool toCallBack = false,
                    std::optional<DateTime> lastConversation = std::nullopt) {
    return dt_->insert(oskara::contract::kTblDtCallLogHeader,
                       {{"CustID", custId},
                        {"ToCallBack", toCallBack},
                        {"LastConversationDate",
                         lastConversation ? Variant(*lastConversation) : Variant::null()}});
  }

  void addQueueRow(const std::string& custId, int16_t type, const std::string& remark,
                   int32_t logId) {
    dt_->insert(oskara::contract::kTblDTQueue, {{"CustID", custId},
                                                {"TransType", type},
                                                {"Remark", remark},
                                                {"EntryDate", "2026-01-02"},
                                                {"EntryTime", "08:00:00"},
                                                {"LogID", logId}});
  }

  std::map<std::string, QueueRow> queue() {
    std::map<std::string, QueueRow> rows;
    for (auto& r : dt_->query("SELECT CustID, TransType, Remark, LogID FROM tblDTQueue"))
      rows[r[0].toString()] = QueueRow{r[1].toInt16(), r[2], r[3].isNull() ? -1 : r[3].toInt32()};
    return rows;
  }

  Variant systemRemark(int64_t logId) {
    return dt_->query("SELECT SystemRemark FROM tblDtCallLogHeader WHERE LogID = ?1",
                      {Variant(static_cast<int32_t>(logId))})[0][0];
  }

  Variant lastQueueProc() { return oskara::contract::testing::lastQueueProc(files_.dt); }

  bool run(int32_t& lErr, std::string& sError) {
    QueueEngine engine;
    return engine.ProcessQueue(files_.dt.string(), files_.ar.string(), files_.so.string(), lErr,
                               sError);
  }
  bool run() {
    lErr_ = 0;
    sError_.clear();
    return run(lErr_, sError_);
  }
  void runOk() { ASSERT_TRUE(run()) << lErr_ << " " << sError_; }

  oskara::FixedClock clock_{kNow};
  oskara::ScopedClock scopedClock_{clock_};
  fs::path dir_;
  oskara::contract::DatabaseFiles files_;
  std::unique_ptr<SqliteFile> dt_;
  std::unique_ptr<SqliteFile> ar_;
  int32_t lErr_ = 0;
  std::string sError_;
  static inline int counter_ = 0;
};

// --- The run: options, stamp, transaction, error pair -----------------------

TEST_F(ScanTest, RunWithEveryOptionOffStampsAndLeavesQueueAndErrorPairAlone) {
  addQueueRow("OLD", 2, "Account 30 days overdue.", 0);
  int32_t lErr = 77;
  std::string sError = "caller's text";
  ASSERT_TRUE(run(lErr, sError));
  EXPECT_EQ(lErr, 77);
  EXPECT_EQ(sError, "caller's text");
  EXPECT_EQ(lastQueueProc(), Variant("2026-12-07 10:30:00"));
  EXPECT_EQ(queue().size(), 1u);
  EXPECT_FALSE(g_bInTrans);
}

TEST_F(ScanTest, EmptyPathsAndMissingFilesFailAtInitOptions) {
  QueueEngine engine;
  int32_t lErr = 0;
  std::string sError;
  EXPECT_FALSE(engine.ProcessQueue("", files_.ar.string(), "", lErr, sError));
  EXPECT_EQ(lErr, kErrInitOptions);
  EXPECT_EQ(sError, "Error at InitOptions.");
  lErr = 0;
  EXPECT_FALSE(engine.ProcessQueue((dir_ / "missing.db").string(), files_.ar.string(), "", lErr, sError));
  EXPECT_EQ(lErr, kErrInitOptions);
  EXPECT_FALSE(g_bInTrans);
}

TEST_F(ScanTest, OptionsLoadFailsOnNullOrOutOfRangeButNotOnNullText) {
  setOption("Chk_FollowUp3BatchExcld", Variant::null());
  setOption("Chk_FollowUp3_x", Variant::null());
  runOk();

  setOption("Chk_90Days", Variant::null());
  EXPECT_FALSE(run());
  EXPECT_EQ(lErr_, kErrInitOptions);
  setOption("Chk_90Days", false);

  dt_->exec("PRAGMA ignore_check_constraints = ON");  // as a file without the constraints may hold
  setOption("Chk_FollowUp1_x", 40000);
  EXPECT_FALSE(run());
  EXPECT_EQ(sError_, "Error at InitOptions.");
  setOption("Chk_FollowUp1_x", 30);

  dt_->exec("DELETE FROM tblDTOptions");
  EXPECT_FALSE(run());
  EXPECT_EQ(lErr_, kErrInitOptions);
}

TEST_F(ScanTest, FirstOfSeveralOptionsRecordsCounts) {
  setOption("Chk_CreditHold", true);
  dt_->exec("INSERT INTO tblDTOptions SELECT * FROM tblDTOptions");
  dt_->exec("UPDATE tblDTOptions SET Chk_CreditHold = 0 WHERE rowid = 2");
  addCustomer("HOLD", {}, 0, true);
  runOk();
  EXPECT_EQ(queue().count("HOLD"), 1u);
}

TEST_F(ScanTest, MissingStoredQueryRollsBackTheWholeRun) {
  addQueueRow("OLD", 2, "Account 30 days overdue.", 0);
  addCustomer("C1", {{"BalAge4", 50}}, 0, false);
  int64_t log = addHeader("OLD");
  dt_->exec("UPDATE tblDtCallLogHeader SET SystemRemark = 'kept' WHERE LogID = ?1",
            {Variant(static_cast<int32_t>(log))});
  dt_->exec("UPDATE tblDTOptions SET LastQueueProc = '2026-01-01 09:00:00'");
  dt_->exec("DELETE FROM sys_queries WHERE name = 'qryDtFollowUp2b'");
  setOption("Chk_ResetQueue", true);
  setOption("Chk_FollowUp3", true);
  setOption("Chk_FollowUp2", true);
  setOption("Chk_120Days", true);

  EXPECT_FALSE(run());
  EXPECT_EQ(lErr_, 3265);
  EXPECT_EQ(sError_.rfind("[ProcessQueue]", 0), 0u) << sError_;
  EXPECT_NE(sError_.find("qryDtFollowUp2b"), std::string::npos) << sError_;
  auto rows = queue();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows["OLD"].transType, 2);
  EXPECT_EQ(systemRemark(log), Variant("kept"));
  EXPECT_EQ(lastQueueProc(), Variant("2026-01-01 09:00:00"));
  EXPECT_FALSE(g_bInTrans);
}

// --- Ageing scans -----------------------------------------------------------

class AgeingTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    for (const char* o : {"Chk_30Days", "Chk_60Days", "Chk_90Days", "Chk_120Days", "Chk_ResetQueue"})
      setOption(o, true);
  }
};

TEST_F(AgeingTest, OldestBandWinsAndTotalsDecide) {
  addCustomer("BAND24", {{"BalAge2", 10}, {"BalAge4", 20}});
  addCustomer("BAND1", {{"BalAge1", 10}});
  addCustomer("NEGATIVE", {{"BalAge1", 100}, {"UnapplCredit", 150}});
  addCustomer("FINCH", {{"BalAge3", 10}, {"UnapplCredit", 15}, {"NewFinch", 6}});
  addCustomer("CURRENTONLY", {{"CurAmtDue", 500}});
  addCustomer("HOLD", {{"BalAge1", 500}}, 0, true);
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows["BAND24"].transType, 5);
  EXPECT_EQ(rows["BAND24"].remark, Variant("Account 120 days overdue."));
  EXPECT_EQ(rows["BAND1"].transType, 2);
  EXPECT_EQ(rows["FINCH"].transType, 4);  // NewFinch counts in the ageing total
  EXPECT_EQ(rows.count("NEGATIVE"), 0u);
  EXPECT_EQ(rows.count("HOLD"), 0u);
  EXPECT_EQ(rows["BAND1"].logId, 0);  // no header: the column's default
}

TEST_F(AgeingTest, OnlyThirtyDaysLeavesOlderBandsAlone) {
  setOption("Chk_60Days", false);
  setOption("Chk_90Days", false);
  setOption("Chk_120Days", false);
  addCustomer("OLDONLY", {{"BalAge2", 10}, {"BalAge4", 20}});
  addCustomer("YOUNG", {{"BalAge1", 10}});
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows.count("YOUNG"), 1u);
}

TEST_F(AgeingTest, LinkStatementRewritesLogIdOfEveryQueuedCustomerWithAHeader) {
  setOption("Chk_ResetQueue", false);
  addQueueRow("EARLIER", 7, "from an earlier run", 999);
  addQueueRow("NOHEADER", 7, "from an earlier run", 55);
  int64_t earlierLog = addHeader("EARLIER");
  addCustomer("NEW", {{"BalAge1", 10}});
  int64_t newLog = addHeader("NEW");
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows["EARLIER"].logId, earlierLog);
  EXPECT_EQ(rows["EARLIER"].transType, 7);  // reason and remark stay
  EXPECT_EQ(rows["NOHEADER"].logId, 55);
  EXPECT_EQ(rows["NEW"].logId, newLog);
  EXPECT_TRUE(systemRemark(newLog).isNull());  // the ageing scans write no remark
}

// --- Credit-limit scans -----------------------------------------------------

class LimitTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    setOption("Chk_OverLimit", true);
    setOption("Chk_NearLimit", true);
  }
};

TEST_F(LimitTest, OverAndNearLimitBoundaries) {
  setOption("Chk_NearLimit_Amt", 100.0);
  addCustomer("OVER", {{"CurAmtDue", 1001}}, 1000);
  addCustomer("EQUAL", {{"CurAmtDue", 1000}}, 1000);
  addCustomer("NEAR", {{"BalAge1", 900}}, 1000);
  addCustomer("FAR", {{"BalAge1", 899}}, 1000);
  addCustomer("NOLIMIT", {{"CurAmtDue", 5000}}, 0);
  addCustomer("HOLD", {{"CurAmtDue", 5000}}, 1000, true);
  addCustomer("CREDIT", {{"CurAmtDue", 100}, {"UnapplCredit", 200}}, 50);
  int64_t log = addHeader("OVER");
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows["OVER"].transType, 1);
  EXPECT_EQ(rows["OVER"].remark, Variant("Account Over Credit Limit."));
  EXPECT_EQ(rows["OVER"].logId, log);
  EXPECT_EQ(systemRemark(log), Variant("Account Over Credit Limit."));
  EXPECT_EQ(rows["EQUAL"].transType, 6);
  EXPECT_EQ(rows["NEAR"].transType, 6);
  EXPECT_EQ(rows["NEAR"].logId, 0);
}

TEST_F(LimitTest, NearLimitAmountsFollowTheNumberText) {
  setOption("Chk_OverLimit", false);
  struct Case {
    double amount;
    double due;  // against a limit of 1000
    bool queued;
  };
  const Case cases[] = {{0, 1000, true},     {0, 999, false},     {-50, 1050, true},
                        {-50, 1049, false},  {250.5, 749.5, true}, {250.5, 749.4, false},
                        {100, 1200, true}};
  for (const Case& c : cases) {
    dt_->exec("DELETE FROM tblDTQueue");
    ar_->exec("DELETE FROM tblArCust; DELETE FROM tblArCustHist;");
    addCustomer("C", {{"CurAmtDue", c.due}}, 1000);
    setOption("Chk_NearLimit_Amt", c.amount);
    runOk();
    EXPECT_EQ(queue().count("C"), c.queued ? 1u : 0u) << "amount " << c.amount << " due " << c.due;
  }
}

// --- Follow-up scans ----------------------------------------------------------

class FollowUpTest : public ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    setOption("Chk_FollowUp1", true);
  }
};

TEST_F(FollowUpTest, DayBoundariesAndDates) {
  setOption("Chk_FollowUp1_x", 10);
  addCustomer("TEN", {{"BalAge1", 10}}, 0, false, daysAgo(20));
  addHeader("TEN", false, DateTime{daysAgo(10).serial + 0.9});  // late in the day still counts as 10
  addCustomer("NINE", {{"BalAge1", 10}}, 0, false, daysAgo(20));
  addHeader("NINE", false, daysAgo(9));
  addCustomer("EQUAL", {{"BalAge1", 10}}, 0, false, daysAgo(15));
  addHeader("EQUAL", false, daysAgo(15));
  addCustomer("NODATES", {{"BalAge1", 10}});
  int64_t noDatesLog = addHeader("NODATES");
  addCustomer("PAIDSINCE", {{"BalAge1", 10}}, 0, false, daysAgo(5));
  addHeader("PAIDSINCE", false, daysAgo(30));
  addCustomer("OWESNOTHING", {{"BalAge1", 10}, {"UnapplCredit", 10}}, 0, false, daysAgo(40));
  addHeader("OWESNOTHING", false, daysAgo(30));
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows.size(), 2u);
  ASSERT_EQ(rows.count("TEN"), 1u);
  EXPECT_EQ(rows["TEN"].transType, 7);
  EXPECT_EQ(rows["TEN"].remark,
            Variant("Follow-Up since last call made more than  10 days ago and no payment was received."));
  EXPECT_EQ(rows["NODATES"].logId, noDatesLog);

  setOption("Chk_FollowUp1_x", 11);
  setOption("Chk_ResetQueue", true);
  runOk();
  EXPECT_EQ(queue().count("TEN"), 0u);
}

TEST_F(FollowUpTest, CallBackComesFirstAndPriorityReplacesEarlierRows) {
  setOption("Chk_FollowUp1", false);
  setOption("Chk_FollowUp3", true);
  setOption("Chk_120Days", true);
  addCustomer("CB", {{"BalAge4", 100}});
  int64_t cbLog = addHeader("CB", true);
  addQueueRow("OLD", 2, "Account 30 days overdue.", 0);
  int64_t oldLog = addHeader("OLD", true);
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows["CB"].transType, 9);
  EXPECT_EQ(rows["CB"].logId, cbLog);
  EXPECT_EQ(systemRemark(cbLog), Variant("To call back the customer."));
  EXPECT_EQ(rows["OLD"].transType, 2);  // no priority: the old row stays

  setOption("Chk_FollowUp3Priority", true);
  runOk();
  rows = queue();
  EXPECT_EQ(rows["OLD"].transType, 9);
  EXPECT_EQ(rows["OLD"].remark, Variant("To call back the customer."));
  EXPECT_EQ(rows["OLD"].logId, oldLog);
  EXPECT_EQ(systemRemark(oldLog), Variant("To call back the customer."));
}

TEST_F(FollowUpTest, PromisedPaymentsThroughTheStoredQuery) {
  setOption("Chk_FollowUp1", false);
  setOption("Chk_FollowUp2", true);
  setOption("Chk_FollowUp2_x", 7);
  addCustomer("PROMISED", {{"BalAge1", 300}}, 0, false, daysAgo(60));
  int64_t log = addHeader("PROMISED", false, daysAgo(8));
  dt_->exec("UPDATE tblDtCallLogHeader SET PromisedPayDate = ?1 WHERE LogID = ?2",
            {Variant(daysAgo(1)), Variant(static_cast<int32_t>(log))});
  addCustomer("RECENT", {{"BalAge1", 300}}, 0, false, daysAgo(60));
  int64_t recent = addHeader("RECENT", false, daysAgo(6));
  dt_->exec("UPDATE tblDtCallLogHeader SET PromisedPayDate = ?1 WHERE LogID = ?2",
            {Variant(daysAgo(1)), Variant(static_cast<int32_t>(recent))});
  runOk();
  auto rows = queue();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows["PROMISED"].transType, 8);
  EXPECT_EQ(rows["PROMISED"].remark,
            Variant("Follow-Up since last call made more than  7 days ago and payment was promised "
                    "but not yet received."));
  EXPECT_EQ(rows["PROMISED"].logId, log);
}

// Values that other programs wrote into the files despite their constraints.
TEST_F(FollowUpTest, MalformedDateFailsTheRunNamingItsRowAndChangesNothing) {
  setOption("Chk_FollowUp2", true);
  setOption("Chk_ResetQueue", true);
  addQueueRow("OLD", 2, "Account 30 days overdue.", 0);
  addCustomer("C1", {{"BalAge1", 300}}, 0, false, daysAgo(60));
  const int64_t log = addHeader("C1", false, daysAgo(40));
  dt_->exec("UPDATE tblDTOptions SET LastQueueProc = '2026-01-01 09:00:00'");
  dt_->exec("PRAGMA ignore_check_constraints = ON");
  ar_->exec("PRAGMA ignore_check_constraints = ON");

  struct Bad {
    SqliteFile* file;
    std::string sql, table, field, key;
  };
  const std::string logKey = "LogID = " + std::to_string(log);
  for (const Bad& bad : std::vector<Bad>{
           {dt_.get(), "UPDATE tblDtCallLogHeader SET LastConversationDate = 'yesterday'", "tblDtCallLogHeader",
            "LastConversationDate", logKey},
           {ar_.get(), "UPDATE tblArCustHist SET LastPayDate = '2026-02-30'", "tblArCustHist", "LastPayDate",
            "CustId = \"C1\""},
           {dt_.get(), "UPDATE tblDtCallLogHeader SET PromisedPayDate = '25:61:61'", "tblDtCallLogHeader",
            "PromisedPayDate", logKey},
       }) {
    bad.file->exec(bad.sql);
    EXPECT_FALSE(run());
    EXPECT_EQ(lErr_, 3421);
    EXPECT_NE(sError_.find("field '" + bad.field + "' of table '" + bad.table + "'"), std::string::npos) << sError_;
    EXPECT_NE(sError_.find(bad.key), std::string::npos) << sError_;
    EXPECT_EQ(queue().size(), 1u);
    EXPECT_EQ(lastQueueProc(), Variant("2026-01-01 09:00:00"));
    bad.file->exec(bad.sql.substr(0, bad.sql.find('=') + 1) + " NULL");
  }
  runOk();
  EXPECT_EQ(queue().count("C1"), 1u);
}

// --- Credit hold and queue reset -----------------------------------------

TEST_F(ScanTest, CreditHoldQueuesHeldCustomersOwingNothingAfterEveryOtherRule) {
  for (const char* o : {"Chk_CreditHold", "Chk_FollowUp1", "Chk_30Days", "Chk_OverLimit"})
    setOption(o, true);
  setOption("Chk_FollowUp1_x", 5);
  addCustomer("HOLDNOTHING", {}, 1000, true);
  addCustomer("HOLDOVER", {{"BalAge1", 5000}}, 1000, true);
  addCustomer("HOLDFOLLOW", {{"BalAge1", 50}}, 0, true);
  addHeader("HOLDFOLLOW", false, daysAgo(30));
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows["HOLDNOTHING"].transType, 10);
  EXPECT_EQ(rows["HOLDNOTHING"].remark, Variant("Account on Credit Hold."));
  EXPECT_EQ(rows["HOLDOVER"].transType, 10);
  EXPECT_EQ(rows["HOLDFOLLOW"].transType, 7);
}

TEST_F(ScanTest, ResetClearsRemarksOfLinkedHeadersOnlyAndNoResetKeepsRows) {
  int64_t linked = addHeader("Q1");
  int64_t unlinked = addHeader("FREE");
  dt_->exec("UPDATE tblDtCallLogHeader SET SystemRemark = 'was queued'");
  addQueueRow("Q1", 2, "Account 30 days overdue.", static_cast<int32_t>(linked));
  addQueueRow("Q2", 3, "Account 60 days overdue.", static_cast<int32_t>(linked));
  dt_->exec("INSERT INTO tblDTQueue (CustID, TransType, LogID) VALUES ('Q3', 2, NULL)");

  runOk();  // no reset: rows and remarks stay
  EXPECT_EQ(queue().size(), 3u);
  EXPECT_EQ(systemRemark(linked), Variant("was queued"));

  setOption("Chk_ResetQueue", true);
  runOk();
  EXPECT_TRUE(queue().empty());
  EXPECT_TRUE(systemRemark(linked).isNull());
  EXPECT_EQ(systemRemark(unlinked), Variant("was queued"));
}

// A scan answers "already queued?" from what it has read of the queue; rows
// an earlier run left must still refuse a customer in another letter case,
// and a customer whose call-log id another row carries.
TEST_F(ScanTest, NoResetRefusesQueuedCustomersInAnyCaseAndQueuedCallLogIds) {
  setOption("Chk_CreditHold", true);
  for (const char* id : {"HELD1", "HELD2", "HELD3"}) addCustomer(id, {}, 0, true);
  const int64_t held2Log = addHeader("HELD2");
  addQueueRow("held1", 2, "earlier", 0);
  addQueueRow("OTHER", 2, "earlier", static_cast<int32_t>(held2Log));
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows["held1"].transType, 2);
  EXPECT_EQ(rows["OTHER"].logId, held2Log);
  EXPECT_EQ(rows["HELD3"].transType, 10);
}

// --- Queue entry writer -------------------------------------------------------

TEST_F(ScanTest, AddToQueueRefusalsAndNullRemark) {
  QueueEngine engine;
  ASSERT_TRUE(QueueEngineTestAccess::init(engine, files_.dt.string(), files_.ar.string()));
  int64_t log = addHeader("A");
  using A = QueueEngineTestAccess;
  EXPECT_EQ(A::addToQueue(engine, "", 0, 1, "x"), kQueueNoCustomer);
  EXPECT_EQ(A::addToQueue(engine, "A", static_cast<int32_t>(log), 1, ""), -1);
  EXPECT_EQ(A::addToQueue(engine, "A", 0, 2, "again"), kQueueCustomerQueued);
  EXPECT_EQ(A::addToQueue(engine, "B", static_cast<int32_t>(log), 2, "same log"), kQueueLogIdQueued);
  EXPECT_EQ(A::addToQueue(engine, "C", 12345, 2, "no such header"), -1);
  auto rows = queue();
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows["A"].remark.isNull());
  EXPECT_TRUE(systemRemark(log).isNull());
  EXPECT_EQ(rows["C"].logId, 12345);
  EXPECT_EQ(dt_->query("SELECT EntryDate, EntryTime FROM tblDTQueue WHERE CustID = 'A'")[0],
            (std::vector<Variant>{Variant("2026-12-07"), Variant("10:30:00")}));
}

TEST_F(ScanTest, GetLogIdBeforeAnyRunIsNullAndQuotesInIdsAreData) {
  QueueEngine fresh;
  std::string id = "A";
  EXPECT_TRUE(fresh.GetLogID(id).isNull());

  setOption("Chk_CreditHold", true);
  const std::string tricky = R"(Q""); DELETE FROM tblDTQueue; --")";
  addCustomer(tricky, {}, 0, true);
  int64_t log = addHeader(tricky);
  addQueueRow("KEEP", 2, "Account 30 days overdue.", 0);
  runOk();
  auto rows = queue();
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[tricky].logId, log);
  EXPECT_EQ(rows[tricky].transType, 10);
}

}  // namespace
}  // namespace tormel
