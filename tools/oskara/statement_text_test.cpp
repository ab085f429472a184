#include "statement_text.h"

#include <gtest/gtest.h>

namespace oskara::tool {
namespace {

TEST(StatementTextTest, TellsRowQueriesFromActionStatements) {
  EXPECT_TRUE(returnsRows("SELECT * FROM tblDTQueue"));
  EXPECT_TRUE(returnsRows("  select DISTINCTROW CustId FROM tblArCust;"));
  EXPECT_TRUE(returnsRows("(SELECT 1)"));
  EXPECT_TRUE(returnsRows("PARAMETERS Chk_FollowUp2_x Short; SELECT * FROM tblDtCallLogHeader"));
  EXPECT_TRUE(returnsRows("PARAMETERS [Start] DateTime, Amt Double;\nSELECT 1"));
  EXPECT_FALSE(returnsRows("PARAMETERS X Short; DELETE FROM tblDTQueue"));
  EXPECT_FALSE(returnsRows("PARAMETERS X Short"));
  EXPECT_FALSE(returnsRows("DELETE DISTINCTROW tblDTQueue.* FROM tblDTQueue;"));
  EXPECT_FALSE(returnsRows("UPDATE tblDTOptions SET Chk_ResetQueue = False"));
  EXPECT_FALSE(returnsRows("INSERT INTO tblDTQueue (CustID) SELECT CustId FROM tblArCust"));
  EXPECT_FALSE(returnsRows("SELECTED"));  // a word that only starts like the keyword
  EXPECT_FALSE(returnsRows(""));
}

TEST(StatementTextTest, RecognisesABareTableOrQueryName) {
  EXPECT_EQ(bareName("tblDTQueue"), "tblDTQueue");
  EXPECT_EQ(bareName("  qryDtFollowUp2b; "), "qryDtFollowUp2b");
  EXPECT_EQ(bareName("[Customer List]"), "Customer List");
  EXPECT_EQ(bareName("SELECT"), "");
  EXPECT_EQ(bareName("SELECT * FROM x"), "");
  EXPECT_EQ(bareName("tblArCust.CustId"), "");
  EXPECT_EQ(bareName("1abc"), "");
  EXPECT_EQ(bareName("[]"), "");
  EXPECT_EQ(bareName(""), "");
}

TEST(StatementTextTest, TypesParameterValues) {
  EXPECT_EQ(parameterValue("7"), Variant(int32_t{7}));
  EXPECT_EQ(parameterValue("-40000"), Variant(int32_t{-40000}));
  EXPECT_EQ(parameterValue("3000000000"), Variant(3000000000.0)) << "beyond 32 bits stays a number";
  EXPECT_EQ(parameterValue("250.5"), Variant(250.5));
  EXPECT_EQ(parameterValue("true"), Variant(true));
  EXPECT_EQ(parameterValue("False"), Variant(false));
  EXPECT_TRUE(parameterValue("Null").isNull());
  EXPECT_EQ(parameterValue("2026-03-15"), Variant(DateTime::fromParts(2026, 3, 15)));
  EXPECT_EQ(parameterValue("C000012"), Variant("C000012"));
  EXPECT_EQ(parameterValue("12abc"), Variant("12abc"));
  EXPECT_EQ(parameterValue("nan"), Variant("nan"));  // no number of the runtime
  EXPECT_EQ(parameterValue(""), Variant(""));
}

}  // namespace
}  // namespace oskara::tool
