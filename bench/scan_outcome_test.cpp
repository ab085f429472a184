// The engine's scan against the set-based one on random demo data: the same
// queue rows, call-log ids and remarks, whatever the engine does to be fast.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench/set_based_scan.h"
#include "tormel/queue_engine.h"

namespace oskara::bench {
namespace {

namespace fs = std::filesystem;

TEST(ScanOutcome, EngineLeavesTheSetBasedQueueOnRandomDemoData) {
  const fs::path root = fs::temp_directory_path() / ("oskara-scan-outcome-" + std::to_string(getpid()));
  for (const uint32_t seed : {1u, 2u, 3u}) {
    for (const int64_t customers : {1500, 4000}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(customers) + " customers");
      fs::remove_all(root);
      makeScanDemo(root / "demo", customers, seed);
      for (const char* side : {"engine", "set-based"}) {
        fs::create_directories(root / side);
        for (const char* file : {"dt.db", "ar.db", "so.db"}) fs::copy_file(root / "demo" / file, root / side / file);
      }
      tormel::QueueEngine engine;
      int32_t lErr = 0;
      std::string sError;
      const fs::path mine = root / "engine", theirs = root / "set-based";
      ASSERT_TRUE(engine.ProcessQueue((mine / "dt.db").string(), (mine / "ar.db").string(),
                                      (mine / "so.db").string(), lErr, sError))
          << lErr << " " << sError;
      setBasedScan(theirs);
      EXPECT_EQ(countQueue(mine / "dt.db"), countQueue(theirs / "dt.db"));
      EXPECT_EQ(outcomeDigest(mine / "dt.db"), outcomeDigest(theirs / "dt.db"));
    }
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace oskara::bench
