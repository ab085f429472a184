// The explanation of a customer must never disagree with the scan: on random
// demo data under random options, every customer's explained outcome is the
// reason the scan queued it with, or no reason for one it left out.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>

#include "contract/options.h"
#include "contract/tables.h"
#include "contract/testing/database_set.h"
#include "core/text.h"
#include "demo_data.h"
#include "dbengine/dbengine.h"
#include "scanrules/explain.h"
#include "tormel/queue_engine.h"

namespace tormel {
namespace {

namespace fs = std::filesystem;
namespace contract = oskara::contract;
namespace scanrules = oskara::scanrules;

std::string key(const std::string& custId) {
  std::string lower;
  for (char c : custId) lower += oskara::lowerAscii(c);
  return lower;
}

// Every row of a statement on `database`, through the engine.
std::vector<std::vector<oskara::Variant>> rowsOf(oskara::db::Database& database, const std::string& sql) {
  std::vector<std::vector<oskara::Variant>> rows;
  oskara::db::RecordsetPtr rs = database.openRecordset(sql, oskara::db::RecordsetType::ForwardOnly);
  for (; !rs->eof(); rs->moveNext()) {
    auto& row = rows.emplace_back();
    for (int c = 0; c < rs->fieldCount(); ++c) row.push_back(rs->field(c));
  }
  rs->close();
  return rows;
}

class ExplainScan : public oskara::db::testing::BothBackends {};

TEST_P(ExplainScan, EveryCustomersExplainedOutcomeIsTheScansOnRandomDemoData) {
  const uint64_t seed = std::random_device{}();
  SCOPED_TRACE("demo seed " + std::to_string(seed));
  const contract::DatabaseFiles files = contract::testing::makeDatabaseSet(databases, [seed](const fs::path& dir) {
    oskara::tool::createDemoDatabases(dir, {.customers = 300, .seed = seed});
  });
  const std::string dtPath = files.dt.string(), arPath = files.ar.string(), soPath = files.so.string();

  // Each rule on or off, its day counts and amount drawn too; the queue is
  // reset so that only this run's rules decide.
  oskara::tool::DemoRandom random(seed);
  contract::ScanOptions options = contract::newFileOptions();
  for (const scanrules::ScanRule& rule : scanrules::rulesInScanOrder())
    options.*rule.option = random.chance(70);
  options.Chk_ResetQueue = true;
  options.Chk_FollowUp3Priority = random.chance(50);
  options.Chk_FollowUp1_x = static_cast<int16_t>(random.between(0, 90));
  options.Chk_FollowUp2_x = static_cast<int16_t>(random.between(0, 30));
  options.Chk_NearLimit_Amt = static_cast<double>(random.between(-500, 3000)) / 4;
  oskara::db::DatabasePtr dt = oskara::db::Engine::instance().workspace(0).openDatabase(dtPath);
  {
    oskara::db::RecordsetPtr rs =
        dt->openRecordset(contract::kTblDTOptions, oskara::db::RecordsetType::Dynaset);
    rs->edit();
    for (const auto& [field, value] : contract::optionsRecord(options)) rs->setField(field, value);
    rs->update();
    rs->close();
  }

  QueueEngine engine;
  int32_t lErr = 0;
  std::string sError;
  ASSERT_TRUE(engine.ProcessQueue(dtPath, arPath, soPath, lErr, sError)) << lErr << " " << sError;

  std::map<std::string, int> queued;
  std::set<std::string> customers;
  for (const auto& row : rowsOf(*dt, "SELECT CustID, TransType FROM tblDTQueue")) {
    queued[key(row[0].toString())] = row[1].toInt32();
    customers.insert(row[0].toString());
  }
  for (const auto& row : rowsOf(*dt, "SELECT CustId FROM tblArCust")) customers.insert(row[0].toString());
  for (const auto& row : rowsOf(*dt, "SELECT CustID FROM tblDtCallLogHeader"))
    customers.insert(row[0].toString());
  dt.reset();

  std::set<int> reasonsSeen;
  const scanrules::CustomerExplainer explainer(dtPath, arPath, soPath);
  for (const std::string& custId : customers) {
    const scanrules::Explanation e = explainer.explain(custId);
    const auto it = queued.find(key(custId));
    const int scanned = it == queued.end() ? 0 : it->second;
    ASSERT_EQ(e.reason, scanned) << custId << "\n" << scanrules::explanationText(e);
    ASSERT_EQ(e.by ? e.by->transType : 0, scanned) << custId;
    reasonsSeen.insert(scanned);
  }
  // The demo data queues under every reason whose rule is on.
  EXPECT_GE(reasonsSeen.size(), 3u);
}

OSKARA_ON_BOTH_BACKENDS(ExplainScan);

}  // namespace
}  // namespace tormel
