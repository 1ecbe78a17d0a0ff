// Text forms of values: each type's form, and that reading a form back gives the same value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "jet/base/error.h"
#include "jet/base/value.h"
#include "jet/base/value_text.h"
#include "support/error_of.h"

using namespace jet;

namespace {

int errorNumber(ColumnType type, const std::string& text) {
  return errorOf([&] { fromText(type, text); });
}

uint64_t bitsOf(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}

}  // namespace

// Each type's text form (Currency drops trailing zeros only; floating point is the shortest text
// that reads back; before 1899-12-30 a date's whole part counts backwards and its fraction still
// forwards), and the value that form reads back as: the same, bit for bit.
TEST(ValueText, EveryTypesFormReadsBackToTheSameValue) {
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i * 17);
  Decimal big;
  big.magnitude = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  const struct {
    ColumnType type;
    Value value;
    const char* text;  // nullptr: only read back
  } forms[] = {
      {ColumnType::Boolean, true, "True"},
      {ColumnType::Boolean, false, "False"},
      {ColumnType::Byte, int64_t{255}, "255"},
      {ColumnType::Integer, int64_t{-32768}, "-32768"},
      {ColumnType::Long, int64_t{std::numeric_limits<int32_t>::min()}, nullptr},
      {ColumnType::Text, std::string("a,\"b\""), "a,\"b\""},
      {ColumnType::Text, std::string(""), ""},
      {ColumnType::Memo, std::string(" spaced "), " spaced "},
      {ColumnType::Binary, Bytes{0x00, 0xAB, 0x10}, "0x00ab10"},
      {ColumnType::Ole, Bytes{}, "0x"},
      {ColumnType::Currency, Currency{125000}, "12.5"},
      {ColumnType::Currency, Currency{120000}, "12"},
      {ColumnType::Currency, Currency{-5}, "-0.0005"},
      {ColumnType::Currency, Currency{-1}, "-0.0001"},
      {ColumnType::Currency, Currency{0}, "0"},
      {ColumnType::Currency, Currency{10000000000LL}, "1000000"},  // no grouping
      {ColumnType::Currency, Currency{std::numeric_limits<int64_t>::min()}, "-922337203685477.5808"},
      {ColumnType::Currency, Currency{std::numeric_limits<int64_t>::max()}, nullptr},
      {ColumnType::Double, 0.1, "0.1"},
      {ColumnType::Single, 0.1f, "0.1"},  // not the double expansion of the float
      {ColumnType::Single, 3.4028235e38f, nullptr},
      {ColumnType::Double, 1.0 / 3, "0.3333333333333333"},
      {ColumnType::Double, -2.5, "-2.5"},
      {ColumnType::Double, -0.0, nullptr},
      {ColumnType::Double, 5e-324, nullptr},
      {ColumnType::DateTime, DateTime{0}, "1899-12-30"},
      {ColumnType::DateTime, DateTime{36526}, "2000-01-01"},
      {ColumnType::DateTime, DateTime{36526.5}, "2000-01-01 12:00:00"},
      {ColumnType::DateTime, DateTime{0.75}, "18:00:00"},  // time alone on day zero
      {ColumnType::DateTime, DateTime{2}, "1900-01-01"},
      {ColumnType::DateTime, DateTime{60}, "1900-02-28"},
      {ColumnType::DateTime, DateTime{61}, "1900-03-01"},  // 1900 is no leap year
      {ColumnType::DateTime, DateTime{-1.25}, "1899-12-29 06:00:00"},
      {ColumnType::DateTime, DateTime{-1.5}, nullptr},
      {ColumnType::DateTime, DateTime{-36522}, "1800-01-01"},
      {ColumnType::DateTime, DateTime{-657434}, "0100-01-01"},
      {ColumnType::DateTime, DateTime{2958465.0}, "9999-12-31"},
      {ColumnType::DateTime, DateTime{45000 + 13.0 / 24}, nullptr},
      {ColumnType::Guid, g, "{33221100-5544-7766-8899-AABBCCDDEEFF}"},
      {ColumnType::Numeric, big, "79228162514264337593543950335"},
  };
  for (const auto& f : forms) {
    const std::string text = toText(f.value);
    if (f.text) EXPECT_EQ(text, f.text);
    const Value back = fromText(f.type, text);
    EXPECT_EQ(back, f.value) << text;
    if (auto* d = std::get_if<double>(&f.value)) EXPECT_EQ(bitsOf(std::get<double>(back)), bitsOf(*d)) << text;
  }
  EXPECT_EQ(toText(Null{}), "");
  EXPECT_EQ(currencyText(-123400, true), "-12.3400");
  EXPECT_EQ(currencyText(0, true), "0.0000");
  // A day-zero time below zero is the same moment as its positive twin.
  EXPECT_EQ(toText(DateTime{-0.25}), "06:00:00");
  // Values a hair off a second are the second (float noise from other writers).
  EXPECT_EQ(toText(DateTime{36526.5 - 1e-9}), "2000-01-01 12:00:00");
  EXPECT_EQ(dateText(36526.5 + 0.123 / 86400, true, true), "2000-01-01T12:00:00.123");
  EXPECT_EQ(dateText(36526.5 + 0.007 / 86400, true, true), "2000-01-01T12:00:00.007");
  EXPECT_EQ(dateText(36526, true, true), "2000-01-01T00:00:00");
  EXPECT_EQ(dateText(-1.25, true, true), "1899-12-29T06:00:00");
  // Out of range: still readable.
  std::string text = toText(DateTime{1e12});
  EXPECT_EQ(std::get<DateTime>(fromText(ColumnType::DateTime, text)).days, 1e12);
  EXPECT_NO_THROW(toText(DateTime{std::numeric_limits<double>::quiet_NaN()}));
  // GUIDs read in either case, braced or not; decimals keep their scale and round half to even.
  EXPECT_EQ(std::get<Guid>(fromText(ColumnType::Guid, "33221100-5544-7766-8899-aabbccddeeff")), g);
  Decimal d;
  d.scale = 2;
  d.magnitude = {5, 0, 0};
  EXPECT_EQ(toText(d), "0.05");
  d.negative = true;
  d.magnitude = {123456, 0, 0};
  EXPECT_EQ(toText(d), "-1234.56");
  EXPECT_EQ(errorNumber(ColumnType::Numeric, "79228162514264337593543950336"), err::kConversion);
  EXPECT_EQ(std::get<Decimal>(fromText(ColumnType::Numeric, "1.005", 2)).magnitude[0], 100u);
  EXPECT_EQ(std::get<Decimal>(fromText(ColumnType::Numeric, "1.015", 2)).magnitude[0], 102u);
}

// Random doubles and floats, and whole-second times of every day from year 100 to 9999 (written as
// day + seconds/86400): the text reads back bit for bit (a date's with a four-digit year), and a
// date's JSON form to the same instant.
TEST(ValueText, RandomValuesReadBackBitForBit) {
  std::mt19937_64 rng64(7);
  for (int i = 0; i < 2000; ++i) {
    uint64_t bits = rng64();
    double d;
    std::memcpy(&d, &bits, 8);
    if (std::isnan(d)) continue;
    Value back = fromText(ColumnType::Double, toText(d));
    ASSERT_EQ(bitsOf(std::get<double>(back)), bits) << toText(d);
    float f = static_cast<float>(d);
    if (std::isnan(f)) continue;
    ASSERT_EQ(std::get<float>(fromText(ColumnType::Single, toText(f))), f);
  }
  std::mt19937 rng(3);
  for (int i = 0; i < 5000; ++i) {
    const int64_t day = int64_t(rng() % (2958465 + 657434)) - 657434;
    const double days = composeOleDate(day, i % 2 ? 0 : int64_t(rng() % 86400) * 1000);
    const std::string text = toText(DateTime{days});
    ASSERT_TRUE(text.size() >= 10 && text[4] == '-' && text[7] == '-') << days << " " << text;
    const double back = std::get<DateTime>(fromText(ColumnType::DateTime, text)).days;
    // Day zero's negative twin is the same moment.
    if (day != 0 || days == 0) {
      ASSERT_EQ(bitsOf(back), bitsOf(days)) << text;
    }
    const std::string iso = dateText(days, true, true);
    ASSERT_EQ(iso.substr(0, 10), text.substr(0, 10));
    ASSERT_EQ(dateText(std::get<DateTime>(fromText(ColumnType::DateTime, iso)).days, true, true), iso);
  }
}

// What input is read leniently (spaces, signs, Yes/No, exponents, ISO dates, whole numbers rounded
// half to even) and what is refused as a conversion error (nothing: Null).
TEST(ValueText, LenientInputsAndRefusals) {
  const struct {
    ColumnType type;
    const char* text;
    Value value;
  } cases[] = {
      {ColumnType::Boolean, "yes", true},         {ColumnType::Boolean, "No", false},
      {ColumnType::Boolean, "-1", true},          {ColumnType::Boolean, "0", false},
      {ColumnType::Long, " 42 ", int64_t{42}},    {ColumnType::Long, "+7", int64_t{7}},
      {ColumnType::Integer, "2.5", int64_t{2}},   {ColumnType::Integer, "3.5", int64_t{4}},
      {ColumnType::Currency, "1.23456", Currency{12346}}, {ColumnType::Currency, "1e2", Currency{1000000}},
      {ColumnType::Double, "1e3", 1000.0},        {ColumnType::DateTime, "2000-01-01T12:00:00", DateTime{36526.5}},
      {ColumnType::DateTime, "2000-01-01 6:00", DateTime{36526.25}}, {ColumnType::DateTime, "12:00:00", DateTime{0.5}},
      {ColumnType::Binary, "0XFF", Bytes{0xFF}},  {ColumnType::Text, "", std::string()},
      {ColumnType::DateTime, "abc", Null{}},      {ColumnType::DateTime, "2001-02-29", Null{}},
      {ColumnType::DateTime, "2001-01-01 24:00:00", Null{}}, {ColumnType::Byte, "256", Null{}},
      {ColumnType::Byte, "-1", Null{}},           {ColumnType::Integer, "32768", Null{}},
      {ColumnType::Long, "2147483648", Null{}},   {ColumnType::Long, "99999999999999999999999999", Null{}},
      {ColumnType::Long, "12abc", Null{}},        {ColumnType::Long, "--1", Null{}},
      {ColumnType::Currency, "922337203685477.5808", Null{}}, {ColumnType::Currency, "1,5", Null{}},
      {ColumnType::Double, "1.5.2", Null{}},      {ColumnType::Single, "++1", Null{}},
      {ColumnType::Boolean, "maybe", Null{}},     {ColumnType::Binary, "0x1", Null{}},
      {ColumnType::Binary, "abcd", Null{}},       {ColumnType::Guid, "{33221100-5544-7766-8899-AABBCCDDEEF}", Null{}},
  };
  for (const auto& c : cases) {
    if (isNull(c.value)) EXPECT_EQ(errorNumber(c.type, c.text), err::kConversion) << c.text;
    else EXPECT_EQ(fromText(c.type, c.text), c.value) << c.text;
  }
  for (ColumnType t : {ColumnType::Boolean, ColumnType::Byte, ColumnType::Long, ColumnType::Currency,
                       ColumnType::Double, ColumnType::DateTime, ColumnType::Guid, ColumnType::Numeric,
                       ColumnType::Binary})
    EXPECT_EQ(errorNumber(t, ""), err::kConversion) << static_cast<int>(t);
}
