#include "result_table.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

namespace oskara::tool {
namespace {

ResultTable sample() {
  ResultTable t;
  t.columns = {"CustID", "TransType", "Remark", "EntryDate", "OnHold"};
  t.rows = {
      {Variant("C000012"), Variant(int16_t{9}), Variant("To call back the customer."),
       Variant(DateTime::fromParts(2026, 3, 15)), Variant(true)},
      {Variant("C000340"), Variant(int16_t{10}), Variant::null(), Variant(DateTime::fromParts(2026, 3, 1)),
       Variant(false)},
  };
  return t;
}

std::string render(const ResultTable& t, OutputFormat f) {
  std::ostringstream out;
  writeResult(out, t, f);
  return out.str();
}

TEST(CsvTest, QuotesOnlyWhatRfc4180Requires) {
  EXPECT_EQ(csvField("Harlow Timber Ltd"), "Harlow Timber Ltd");
  EXPECT_EQ(csvField(""), "");
  EXPECT_EQ(csvField("Smith, Jones & Co."), "\"Smith, Jones & Co.\"");
  EXPECT_EQ(csvField("the \"big\" one"), "\"the \"\"big\"\" one\"");
  EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(csvField("ends\r"), "\"ends\r\"");
  EXPECT_EQ(csvField("\""), "\"\"\"\"");
}

TEST(CsvTest, WritesAHeaderAndNullAsAnEmptyField) {
  ResultTable t = sample();
  t.rows[0][2] = Variant("Said \"call Friday\", then hung up");
  EXPECT_EQ(render(t, OutputFormat::Csv),
            "CustID,TransType,Remark,EntryDate,OnHold\n"
            "C000012,9,\"Said \"\"call Friday\"\", then hung up\",2026-03-15,True\n"
            "C000340,10,,2026-03-01,False\n");
}

TEST(TextTableTest, AlignsColumnsAndRightAlignsNumbers) {
  ResultTable t;
  t.columns = {"Name", "Amount", "Paid"};
  t.rows = {{Variant("Ørsted"), Variant(1250.5), Variant::null()},
            {Variant("Kestrel Marine Co."), Variant(3.0), Variant(DateTime::fromParts(2026, 1, 2))}};
  EXPECT_EQ(render(t, OutputFormat::Text),
            "Name                Amount  Paid\n"
            "------------------  ------  ----------\n"
            "Ørsted              1250.5  Null\n"
            "Kestrel Marine Co.       3  2026-01-02\n");
}

TEST(TextTableTest, EmptyResultStillShowsTheColumns) {
  ResultTable t;
  t.columns = {"CustID", "LogID"};
  EXPECT_EQ(render(t, OutputFormat::Text), "CustID  LogID\n------  -----\n");
}

TEST(JsonTest, GivesTypedValuesInColumnOrder) {
  const auto parsed = nlohmann::ordered_json::parse(render(sample(), OutputFormat::Json));
  ASSERT_TRUE(parsed.is_array());
  ASSERT_EQ(parsed.size(), 2u);
  const auto& first = parsed[0];
  EXPECT_EQ(first.begin().key(), "CustID");
  EXPECT_EQ(first["TransType"], 9);
  EXPECT_TRUE(first["TransType"].is_number_integer());
  EXPECT_EQ(first["EntryDate"], "2026-03-15");
  EXPECT_EQ(first["OnHold"], true);
  EXPECT_TRUE(parsed[1]["Remark"].is_null());

  ResultTable amounts;
  amounts.columns = {"CustId", "CustId", "Amount"};
  amounts.rows = {{Variant("A"), Variant("B"), Variant(0.1)}};
  const auto j = nlohmann::json::parse(render(amounts, OutputFormat::Json));
  EXPECT_EQ(j[0]["CustId"], "A");
  EXPECT_EQ(j[0]["CustId_2"], "B") << "a repeated column name must not hide the first";
  EXPECT_EQ(j[0]["Amount"].get<double>(), 0.1);
  EXPECT_EQ(render(ResultTable{{"X"}, {}}, OutputFormat::Json), "[]\n");
}

}  // namespace
}  // namespace oskara::tool
