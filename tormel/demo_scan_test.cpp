// The demo databases exist to show every queue reason: a full scan with the
// options record of a new DT file must queue customers under all ten codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "contract/tables.h"
#include "contract/testing/database_set.h"
#include "dbengine/errors.h"
#include "dbengine/test_files.h"
#include "demo_data.h"
#include "tormel/queue_engine.h"

namespace tormel {
namespace {

namespace fs = std::filesystem;

TEST(DemoScan, FullRunQueuesEveryReasonCode) {
  const fs::path dir = fs::temp_directory_path() / ("tormel-demo-" + std::to_string(getpid()));
  fs::remove_all(dir);
  const auto summary = oskara::tool::createDemoDatabases(dir, {.customers = 2000, .seed = 7});

  QueueEngine engine;
  int32_t lErr = 0;
  std::string sError;
  ASSERT_TRUE(engine.ProcessQueue(summary.files.dt.string(), summary.files.ar.string(),
                                  summary.files.so.string(), lErr, sError))
      << lErr << " " << sError;

  auto db = oskara::db::Engine::instance().workspace(0).openDatabase(summary.files.dt.string());
  std::set<int> codes;
  auto rs = db->openRecordset("SELECT DISTINCT TransType FROM " + std::string(oskara::contract::kTblDTQueue),
                              oskara::db::RecordsetType::ForwardOnly);
  for (; !rs->eof(); rs->moveNext()) codes.insert(rs->field("TransType").toInt32());
  rs->close();
  db.reset();
  fs::remove_all(dir);
  EXPECT_EQ(codes, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

// A queue row the database refuses fails the whole scan with the database's
// number and text, also on a server, where the scan's writes travel without
// waiting for their outcome, and the DT database reads as before the scan.
class RefusedQueueRow : public oskara::db::testing::BothBackends {};

TEST_P(RefusedQueueRow, FailsTheScanWithItsErrorAndChangesNothing) {
  const oskara::contract::DatabaseFiles files =
      oskara::contract::testing::makeDatabaseSet(databases, [](const fs::path& dir) {
        oskara::tool::createDemoDatabases(dir, {.customers = 300, .seed = 7});
      });
  // At most one queued customer per reason: the scan's second of a reason is refused.
  databases.run("dt", "CREATE UNIQUE INDEX idx_one_per_reason ON tblDTQueue (TransType)");
  auto dtState = [&] {
    auto rows = databases.query("dt", "SELECT * FROM tblDTQueue ORDER BY QueueID");
    for (auto& row : databases.query("dt", "SELECT * FROM tblDTOptions")) rows.push_back(row);
    return rows;
  };
  const auto before = dtState();

  QueueEngine engine;
  int32_t lErr = 0;
  std::string sError;
  EXPECT_FALSE(engine.ProcessQueue(files.dt.string(), files.ar.string(), files.so.string(), lErr, sError));
  EXPECT_EQ(lErr, oskara::db::errc::kDuplicateKey) << sError;
  EXPECT_NE(sError.find("'tblDTQueue'"), std::string::npos) << sError;
  EXPECT_EQ(dtState(), before);
}
OSKARA_ON_BOTH_BACKENDS(RefusedQueueRow);

}  // namespace
}  // namespace tormel
