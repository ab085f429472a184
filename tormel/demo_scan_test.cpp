// The demo databases exist to show every queue reason: a full scan with the
// options record of a new DT file must queue customers under all ten codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "contract/tables.h"
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

}  // namespace
}  // namespace tormel
