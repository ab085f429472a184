// The explanation of a customer must never disagree with the scan: on random
// demo data under random options, every customer's explained outcome is the
// reason the scan queued it with, or no reason for one it left out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>

#include "contract/options.h"
#include "contract/tables.h"
#include "core/text.h"
#include "demo_data.h"
#include "directdb/sqlite_file.h"
#include "scanrules/explain.h"
#include "tormel/queue_engine.h"

namespace tormel {
namespace {

namespace fs = std::filesystem;
namespace contract = oskara::contract;
namespace scanrules = oskara::scanrules;
using oskara::directdb::SqliteFile;

std::string key(const std::string& custId) {
  std::string lower;
  for (char c : custId) lower += oskara::lowerAscii(c);
  return lower;
}

TEST(ExplainScan, EveryCustomersExplainedOutcomeIsTheScansOnRandomDemoData) {
  const uint64_t seed = std::random_device{}();
  SCOPED_TRACE("demo seed " + std::to_string(seed));
  const fs::path dir = fs::temp_directory_path() / ("tormel-explain-" + std::to_string(getpid()));
  fs::remove_all(dir);
  const auto files = oskara::tool::createDemoDatabases(dir, {.customers = 300, .seed = seed}).files;

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
  {
    SqliteFile dt(files.dt);
    dt.exec("DELETE FROM " + std::string(contract::kTblDTOptions));
    dt.insert(contract::kTblDTOptions, contract::optionsRecord(options));
  }

  QueueEngine engine;
  int32_t lErr = 0;
  std::string sError;
  ASSERT_TRUE(engine.ProcessQueue(files.dt.string(), files.ar.string(), files.so.string(), lErr, sError))
      << lErr << " " << sError;

  std::map<std::string, int> queued;
  std::set<std::string> customers;
  SqliteFile dt(files.dt), ar(files.ar);
  for (const auto& row : dt.query("SELECT CustID, TransType FROM tblDTQueue")) {
    queued[key(row[0].toString())] = row[1].toInt32();
    customers.insert(row[0].toString());
  }
  for (const auto& row : ar.query("SELECT CustId FROM tblArCust")) customers.insert(row[0].toString());
  for (const auto& row : dt.query("SELECT CustID FROM tblDtCallLogHeader")) customers.insert(row[0].toString());

  std::set<int> reasonsSeen;
  const scanrules::CustomerExplainer explainer(files.dt.string(), files.ar.string(), files.so.string());
  for (const std::string& custId : customers) {
    const scanrules::Explanation e = explainer.explain(custId);
    const auto it = queued.find(key(custId));
    const int scanned = it == queued.end() ? 0 : it->second;
    ASSERT_EQ(e.reason, scanned) << custId << "\n" << scanrules::explanationText(e);
    ASSERT_EQ(e.by ? e.by->transType : 0, scanned) << custId;
    reasonsSeen.insert(scanned);
  }
  fs::remove_all(dir);
  // The demo data queues under every reason whose rule is on.
  EXPECT_GE(reasonsSeen.size(), 3u);
}

}  // namespace
}  // namespace tormel
