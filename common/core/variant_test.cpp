#include "core/variant.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/error.h"

namespace oskara {
namespace {

int32_t errorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(VariantConversion, BooleanFromNumbersAndText) {
  EXPECT_FALSE(Variant(int16_t{0}).toBool());
  EXPECT_TRUE(Variant(int32_t{-1}).toBool());
  EXPECT_TRUE(Variant(0.25).toBool());
  EXPECT_TRUE(Variant("True").toBool());
  EXPECT_FALSE(Variant("false").toBool());
  EXPECT_EQ(errorNumberOf([] { (void)Variant::null().toBool(); }), 94);
  EXPECT_EQ(errorNumberOf([] { (void)Variant("maybe").toBool(); }), 13);
  // True counts as -1 when a number is asked for.
  EXPECT_EQ(Variant(true).toInt32(), -1);
}

TEST(VariantConversion, SixteenBitRangeAndRounding) {
  EXPECT_EQ(Variant(int32_t{32767}).toInt16(), 32767);
  EXPECT_EQ(Variant(-32768.0).toInt16(), -32768);
  EXPECT_EQ(errorNumberOf([] { (void)Variant(int32_t{40000}).toInt16(); }), 6);
  EXPECT_EQ(errorNumberOf([] { (void)Variant(-32769.0).toInt16(); }), 6);
  EXPECT_EQ(Variant(2.5).toInt16(), 2);  // half to even
  EXPECT_EQ(Variant(3.5).toInt16(), 4);
  EXPECT_EQ(Variant(" 12 ").toInt16(), 12);
}

TEST(VariantConversion, NullAndEmptyToText) {
  EXPECT_EQ(errorNumberOf([] { (void)Variant::null().toString(); }), 94);
  EXPECT_EQ(Variant().toString(), "");
  EXPECT_EQ(Variant(int32_t{30}).toString(), "30");
  EXPECT_EQ(Variant(250.5).toString(), "250.5");
  EXPECT_EQ(Variant(true).toString(), "True");
}

TEST(VariantConversion, ObjectsDoNotBecomeValues) {
  EXPECT_EQ(errorNumberOf([] { (void)Variant(ObjectRef{}).toInt32(); }), 13);
  EXPECT_EQ(Variant().toObject(), nullptr);
}

// Values beyond what a type holds fail with the runtime's number and a text
// that names them; the edges of each range still convert.
TEST(VariantConversion, ValuesBeyondTheRangeOverflowOrMismatch) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    Variant value;
    VarType target;
    int32_t number;    // 0: converts
    const char* text;  // part of the failure's text
  };
  const Case cases[] = {
      {Variant(1e308), VarType::Date, 6, "1e+308"},
      {Variant(-1e308), VarType::Date, 6, "-1e+308"},
      {Variant(kInf), VarType::Date, 6, "inf"},
      {Variant(-kInf), VarType::Date, 6, "-inf"},
      {Variant(kNaN), VarType::Date, 13, "nan"},
      {Variant(kInf), VarType::Integer, 6, "inf"},
      {Variant(kNaN), VarType::Long, 13, "nan"},
      {Variant(kNaN), VarType::Boolean, 13, "nan"},
      {Variant(2958466.0), VarType::Date, 6, "2958466"},      // 10000-01-01
      {Variant(2958465.99998), VarType::Date, 0, ""},         // 9999-12-31 23:59:58
      {Variant(-693960.0), VarType::Date, 6, "-693960"},      // -0001-12-31
      {Variant(-693959.0), VarType::Date, 0, ""},             // 0000-01-01
      {Variant(int32_t{2958466}), VarType::Date, 6, "2958466"},
      {Variant("1e999"), VarType::Double, 6, "1e999"},
      {Variant("-1e999"), VarType::Long, 6, "-1e999"},
      {Variant("1e10"), VarType::Long, 6, "1e10"},
      {Variant("nan"), VarType::Double, 13, "nan"},
      {Variant("Infinity"), VarType::Integer, 13, "Infinity"},
      {Variant("+-5"), VarType::Long, 13, "+-5"},
      {Variant(" -.5 "), VarType::Double, 0, ""},
      {Variant(DateTime{1e308}), VarType::String, 6, "1e+308"},
      {Variant(DateTime{kNaN}), VarType::Long, 13, "nan"},
      {Variant(DateTime::fromParts(12026, 1, 1)), VarType::String, 6, "3698448"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.debugString() + " to " + std::string(varTypeName(c.target)));
    try {
      (void)c.value.convertTo(c.target);
      EXPECT_EQ(c.number, 0);
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), c.number);
      EXPECT_NE(e.text().find(c.text), std::string::npos) << e.text();
    }
  }
}

TEST(DateTimeValues, IsoTextPadsEveryFieldAndDropsAMidnightTime) {
  EXPECT_EQ(DateTime::fromParts(987, 1, 2, 3, 4, 5).toIso(), "0987-01-02 03:04:05");
  EXPECT_EQ(DateTime::fromParts(2026, 12, 7, 0, 0, 0).toIso(), "2026-12-07");
  EXPECT_EQ(DateTime::fromParts(0, 0, 0, 0, 0, 1).toIso(), "00:00:01");
  EXPECT_EQ(DateTime::fromParts(0, 0, 0, 0, 0, 0).toIso(), "00:00:00");
  EXPECT_EQ(DateTime{-1e-12}.toIso(), "00:00:00");  // rounds to day zero
}

TEST(DateTimeValues, IsoRoundTripsAndParts) {
  auto d = DateTime::parseIso("1968-01-01");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->toIso(), "1968-01-01");
  EXPECT_FALSE(d->hasTime());
  auto dt = DateTime::parseIso("2026-12-07 05:11:53");
  ASSERT_TRUE(dt);
  EXPECT_EQ(dt->toIso(), "2026-12-07 05:11:53");
  EXPECT_EQ(dt->datePart().toIso(), "2026-12-07");
  EXPECT_EQ(dt->timePart().toIso(), "05:11:53");
  auto t = DateTime::parseIso("23:59:59");
  ASSERT_TRUE(t);
  EXPECT_FALSE(t->hasDate());
  EXPECT_EQ(t->toIso(), "23:59:59");
  EXPECT_FALSE(DateTime::parseIso("2026-02-30"));
  // The last day of each month, leap years by the Gregorian rule, at both ends of the range.
  for (const char* last : {"2024-02-29", "2000-02-29", "0000-02-29", "2026-04-30", "9999-12-31 23:59:59"})
    EXPECT_EQ(DateTime::parseIso(last)->toIso(), last);
  for (const char* past : {"2026-02-29", "1900-02-29", "2026-04-31", "2026-11-31"})
    EXPECT_FALSE(DateTime::parseIso(past)) << past;
  EXPECT_FALSE(DateTime::parseIso("2026-13-01"));
  EXPECT_FALSE(DateTime::parseIso("yesterday"));
  // The serial counts days from 30 December 1899.
  EXPECT_EQ(DateTime::fromParts(1899, 12, 31).serial, 1);
  EXPECT_EQ(DateTime::fromParts(2000, 1, 1).serial, 36526);
}

// A stored date is read by a parser of its own, for speed; it must take the
// texts, and give the values, that the general parser gives for the three
// stored forms: every character of a sample of valid texts is also replaced
// by each of a few others.
TEST(DateTimeValues, StoredFormsReadAsTheGeneralParserReadsThem) {
  const auto expected = [](std::string_view text) -> std::optional<DateTime> {
    const bool form = (text.size() == 10 && text[4] == '-') ||
                      (text.size() == 19 && text[4] == '-' && text[10] == ' ') ||
                      (text.size() == 8 && text[2] == ':' && text[5] == ':');
    return form ? DateTime::parseIso(text) : std::nullopt;
  };
  for (const std::string valid : {"0000-02-29", "1899-12-30", "1900-02-28", "2024-02-29 23:59:59",
                                  "2026-12-31 00:00:01", "9999-12-31 23:59:59", "00:00:00", "19:09:59"}) {
    ASSERT_TRUE(DateTime::parseStored(valid)) << valid;
    EXPECT_EQ(DateTime::parseStored(valid), expected(valid)) << valid;
    for (size_t i = 0; i < valid.size(); ++i) {
      for (const char c : {'0', '1', '2', '3', '5', '6', '9', ':', '-', ' ', 'T', '/', '\0'}) {
        std::string text = valid;
        text[i] = c;
        EXPECT_EQ(DateTime::parseStored(text), expected(text)) << text;
      }
    }
    EXPECT_FALSE(DateTime::parseStored(valid.substr(1)));
    EXPECT_FALSE(DateTime::parseStored(valid + "0"));
  }
}

TEST(NumberText, BlankBeforeNonNegative) {
  EXPECT_EQ(numberText(int64_t{30}), " 30");
  EXPECT_EQ(numberText(int64_t{0}), " 0");
  EXPECT_EQ(numberText(int64_t{-2147220504}), "-2147220504");
  EXPECT_EQ(numberText(100.0), " 100");
  EXPECT_EQ(numberText(0.0), " 0");
  EXPECT_EQ(numberText(-50.0), "-50");
  EXPECT_EQ(numberText(250.5), " 250.5");
}

TEST(NumberText, AmountsOfAnySizeStayPlainDecimal) {
  EXPECT_EQ(numberText(100000.0), " 100000");
  EXPECT_EQ(numberText(1000000.0), " 1000000");
  EXPECT_EQ(numberText(0.0001), " 0.0001");
  EXPECT_EQ(numberText(-1e21), "-1000000000000000000000");
  EXPECT_EQ(numberText(123456.75), " 123456.75");
}

}  // namespace
}  // namespace oskara
