#include "varrick/result_string.h"

#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <stdexcept>

namespace varrick {
namespace {

TEST(ResultStringTest, NumberTextHasABlankBeforeZeroAndPositiveNumbersOnly) {
  EXPECT_EQ(trappedFailureResult(tag::kUpdateQueue, 3021, "No current record."),
            "-1[ 3021] No current record.");
  EXPECT_EQ(trappedFailureResult(tag::kUpdateQueue, 0, "x"), "-1[ 0] x");
  EXPECT_EQ(trappedFailureResult(tag::kUpdateQueue, -2147220504, "x"), "-1[-2147220504] x");
  EXPECT_EQ(trappedFailureResult(tag::kUpdateQueue, std::numeric_limits<int32_t>::min(), "x"),
            "-1[-2147483648] x");
  EXPECT_EQ(trappedFailureResult(tag::kUpdateQueue, std::numeric_limits<int32_t>::max(), "x"),
            "-1[ 2147483647] x");
}

TEST(ResultStringTest, EngineFailureFormsForResultAndMessageBox) {
  EXPECT_EQ(engineFailureResult(-2147220504, "Error at InitOptions."),
            "-1Error in Queue Engine Object !\r\n[-2147220504] Error at InitOptions.");
  EXPECT_EQ(engineFailureResult(3078, "[ProcessQueue]Table 'x' not found."),
            "-1Error in Queue Engine Object !\r\n[ 3078] [ProcessQueue]Table 'x' not found.");
  EXPECT_EQ(engineFailureResult(0, ""), "-1Error in Queue Engine Object !\r\n[ 0] ");
  // The box puts the number first and a dash between number and text.
  EXPECT_EQ(engineFailureMessage(-2147220386, "Missing Options record."),
            "Error in Queue Engine Object !\r\n-2147220386 - Missing Options record.");
  EXPECT_EQ(engineFailureMessage(5, "x"), "Error in Queue Engine Object !\r\n 5 - x");
}

TEST(ResultStringTest, TrappedFailureCarriesTheMethodsTag) {
  EXPECT_EQ(trappedFailureResult(tag::kUpdateQueueAsync, 429, "t"), "-1[UpdateQueueAsync][ 429] t");
  EXPECT_EQ(trappedFailureResult(tag::kUpdQAsyncStatus, -1, "t"), "-1[UpdQAsyncStatus][-1] t");
  EXPECT_EQ(trappedFailureResult(tag::kLogon, 3044, "t"), "-1[Logon][ 3044] t");
  EXPECT_EQ(trappedFailureResult(tag::kLogOff, 91, "t"), "-1[LogOff][ 91] t");
  EXPECT_EQ(messageResult("Queue is being processed."), "-1Queue is being processed.");
}

TEST(ResultStringTest, OnlyALeadingMinusOneIsAFailure) {
  EXPECT_FALSE(isFailureResult(kResultSuccess));
  EXPECT_FALSE(isFailureResult(kResultStillRunning));
  EXPECT_FALSE(isFailureResult("-"));
  EXPECT_FALSE(isFailureResult(" -1"));
  EXPECT_TRUE(isFailureResult("-1"));
  EXPECT_TRUE(isFailureResult(engineFailureResult(1, "x")));
}

// trapFailure inside the catch block of `thrower`, with a pair already holding values.
struct Trapped {
  std::string result;
  int32_t lErr = 77;
  std::string sError = "before";
};
template <class F>
Trapped trap(std::string_view tag, F thrower) {
  Trapped t;
  try {
    thrower();
  } catch (...) {
    t.result = trapFailure(tag, t.lErr, t.sError);
  }
  return t;
}

TEST(ResultStringTest, TrapFailureWritesThePairAndKeepsTheErrorsNumberAndText) {
  Trapped t = trap(tag::kLogon, [] { throw oskara::Error(3044, "Not a valid path.", "OpenDb"); });
  EXPECT_EQ(t.result, "-1[Logon][ 3044] Not a valid path.");
  EXPECT_EQ(t.lErr, 3044);
  EXPECT_EQ(t.sError, "Not a valid path.");
}

TEST(ResultStringTest, TrapFailureGivesOtherFailuresARuntimeNumber) {
  Trapped memory = trap(tag::kUpdateQueue, [] { throw std::bad_alloc(); });
  EXPECT_EQ(memory.lErr, 7);
  EXPECT_EQ(memory.result, "-1[ 7] Out of memory.");

  Trapped internal = trap(tag::kUpdateQueue, [] { throw std::logic_error("broken invariant"); });
  EXPECT_EQ(internal.lErr, 51);
  EXPECT_EQ(internal.sError, "Internal error: broken invariant");

  Trapped unknown = trap(tag::kUpdateQueue, [] { throw 42; });
  EXPECT_EQ(unknown.lErr, 51);
  EXPECT_TRUE(isFailureResult(unknown.result));
}

}  // namespace
}  // namespace varrick
