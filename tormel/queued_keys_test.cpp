#include "tormel/queued_keys.h"

#include <gtest/gtest.h>

#include <string>

namespace tormel {
namespace {

// The one promise that matters: a key added is never reported absent, in any
// ASCII letter case; what it cannot key is always left to the database. And
// it must answer "absent" for most keys never added, or it saves nothing.
TEST(QueuedKeys, NeverForgetsAKeyRarelyImaginesOneAndLeavesUnkeyableIdsToTheDatabase) {
  QueuedKeys keys;
  EXPECT_TRUE(keys.mayHoldCustomer("\xc3\x85lund"));  // folded by the server's locale, not here
  for (int i = 0; i < 20000; ++i) {
    keys.addCustomer("Cust-" + std::to_string(i));
    keys.addLogId(i * 7);
  }
  int added = 0, imagined = 0;
  for (int i = 0; i < 20000; ++i) {
    added += keys.mayHoldCustomer("cUST-" + std::to_string(i)) + keys.mayHoldLogId(i * 7);
    imagined += keys.mayHoldCustomer("Other-" + std::to_string(i)) + keys.mayHoldLogId(i * 7 + 3);
  }
  EXPECT_EQ(added, 40000);
  EXPECT_LT(imagined, 40);
  keys.clear();
  EXPECT_FALSE(keys.mayHoldCustomer("Cust-1"));
  EXPECT_FALSE(keys.mayHoldLogId(7));
  // A server may fold the Kelvin sign to "k": once such an id is queued, no
  // customer is certainly absent.
  keys.addCustomer("\xe2\x84\xaa-1");
  EXPECT_TRUE(keys.mayHoldCustomer("k-1"));
  keys.clear();
  EXPECT_FALSE(keys.mayHoldCustomer("k-1"));
}

}  // namespace
}  // namespace tormel
