// What ScanProgress passes on: the first rule always, later states only once
// the interval has passed, the rule count and the queued count as they stand.
#include "tormel/scan_progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace tormel {
namespace {

using namespace std::chrono_literals;

TEST(ScanProgressTest, ReportsTheFirstRuleAndThenOnlyOncePerInterval) {
  std::vector<ScanProgressState> reports;
  auto sink = [&](const ScanProgressState& s) { reports.push_back(s); };

  ScanProgress slow(3, sink, std::chrono::hours(1));
  slow.enterRule("EmptyQueue");
  slow.addQueued(500);
  slow.enterRule("Exceed30Days");
  for (int i = 0; i < 1000; ++i) slow.addQueued(1);
  ASSERT_EQ(reports.size(), 1u);  // within the hour: the first rule only
  EXPECT_EQ(reports[0].rule, "EmptyQueue");
  EXPECT_EQ(reports[0].done, 0);
  EXPECT_EQ(reports[0].total, 3);
  EXPECT_EQ(slow.state().queued, 1500);
  EXPECT_EQ(slow.state().done, 1);

  reports.clear();
  ScanProgress every(2, sink, 0ms);
  every.enterRule("OverLimit");
  for (int i = 0; i < 2 * ScanProgress::kClockStride; ++i) every.addQueued(1);
  every.enterRule("CreditHold");
  // The clock is looked at on each rule and every kClockStride customers.
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[1].queued, ScanProgress::kClockStride);
  EXPECT_EQ(reports[3].rule, "CreditHold");
  EXPECT_EQ(reports[3].done, 1);
  EXPECT_EQ(reports[3].queued, 2 * ScanProgress::kClockStride);
}

}  // namespace
}  // namespace tormel
