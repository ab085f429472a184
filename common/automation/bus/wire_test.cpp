// Decoding of values as they arrive from the bus, including hand-typed ones.
#include "automation/bus/wire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace oskara::automation::wire {
namespace {

Variant decodeAs(uchar tag, const QVariant& value) {
  return decode(Value{tag, QDBusVariant(value)}, [](const ObjectAddress&) -> ObjectRef {
    ADD_FAILURE() << "no object expected";
    return nullptr;
  });
}

int32_t errorNumber(uchar tag, const QVariant& value) {
  try {
    decodeAs(tag, value);
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(WireDecode, TheTypeCodeDecidesTheType) {
  EXPECT_EQ(decodeAs(3, QString("5")), Variant(int32_t{5}));  // typed by hand as text
  EXPECT_EQ(decodeAs(2, QVariant::fromValue<int>(7)), Variant(int16_t{7}));
  EXPECT_EQ(decodeAs(11, QVariant::fromValue<int>(1)), Variant(true));
  EXPECT_EQ(decodeAs(7, 45351.5), Variant(DateTime{45351.5}));
  EXPECT_EQ(decodeAs(7, QString("2024-02-29")), Variant(DateTime::fromParts(2024, 2, 29)));
  EXPECT_EQ(decodeAs(10, QVariant::fromValue<int>(1238)), Variant::error(1238));
  EXPECT_EQ(decodeAs(1, QString("ignored")), Variant::null());
  EXPECT_EQ(decodeAs(0, QString()), Variant());
}

TEST(WireDecode, MalformedValuesAreTypeMismatches) {
  EXPECT_EQ(errorNumber(99, QString("x")), 13);                       // unknown type code
  EXPECT_EQ(errorNumber(3, QString("five")), 13);                     // does not convert
  EXPECT_EQ(errorNumber(2, QVariant::fromValue<int>(40000)), 13);     // out of range
  EXPECT_EQ(errorNumber(9, QString("/oskara/objects/1")), 13);        // a reference must be (so)
  // Numbers no date or Double of the runtime holds.
  const double inf = std::numeric_limits<double>::infinity();
  for (double serial : {1e308, -1e308, inf, -inf, std::nan(""), 2958466.0})
    EXPECT_EQ(errorNumber(7, serial), 13) << serial;
  EXPECT_EQ(errorNumber(5, inf), 13);
  EXPECT_EQ(errorNumber(5, std::nan("")), 13);
  EXPECT_EQ(errorNumber(3, QString("1e999")), 13);
}

}  // namespace
}  // namespace oskara::automation::wire
