#include "engine/foundation/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// The user's locale is US English for every test here.
const bool kLocale = [] {
  setenv("LC_ALL", "en_US.UTF-8", 1);
  return true;
}();

TEST(RoundCurrency, HalfAwayFromZeroToTheUnit) {
  const struct {
    double value, unit, expected;
  } rows[] = {
      {2.675, 0.01, 2.68},     {-2.5, 1, -3},          {2.5, 1, 3},          {1234.5678, 0.05, 1234.55},
      {1234.575, 0.05, 1234.6}, {0.125, 0.25, 0.25},   {0.124, 0.25, 0},     {-0.005, 0.01, -0.01},
      {1.005, 0.01, 1.01},     {7.9, 0, 7},           {-7.9, 0, -7},        {123456789.125, 0.01, 123456789.13},
      {0, 0.01, 0},            {1e20, 0.01, 1e20},
  };
  for (const auto& r : rows) EXPECT_NEAR(RoundCurrency(r.value, r.unit), r.expected, 1e-9) << r.value << " " << r.unit;
  EXPECT_TRUE(std::isinf(RoundCurrency(std::numeric_limits<double>::infinity(), 0.01)));
  EXPECT_TRUE(std::isnan(RoundCurrency(std::nan(""), 0.01)));
}

TEST(ConvertCurrency, ThroughTheEuro) {
  const struct {
    double amount, rate1;
    bool base1;
    double rate2;
    bool base2;
    double expected;
  } rows[] = {
      {100, 1.95583, false, 6.55957, false, 335.386},
      {100, 0, false, 6.55957, false, 100},
      {100, 1.5, false, 1.5, false, 100},
      {100, 1, true, 1.2, false, 120},
      {120, 1.2, false, 1, true, 100},
      {120, 0, false, 1, true, 120},
      {50, 3, true, 4, true, 50},
  };
  for (const auto& r : rows)
    EXPECT_NEAR(ConvertCurrency(r.amount, r.rate1, r.base1, r.rate2, r.base2), r.expected, 1e-3) << r.amount;
}

std::string Text(double value, uint32_t width, uint32_t minFraction = 0) {
  char buf[40];
  return DoubleToString(value, buf, width, minFraction) ? buf : "<false>";
}

TEST(DoubleToString, ShortestTextThatFits) {
  const struct {
    double value;
    uint32_t width, minFraction;
    const char* expected;
  } rows[] = {
      {1234.5678, 16, 0, "1234.5678"},
      {-1234.5678, 9, 0, "-1234.57"},
      {-1234.5678, 8, 0, "-1234.6"},
      {1234.5678, 5, 0, "1235"},
      {0.5, 16, 0, "0.5"},
      {0, 16, 0, "0"},
      {-0.0, 16, 0, "0"},
      {100, 16, 0, "100"},
      {0.000012345, 16, 0, "0.000012345"},
      // Fewer digits, plain form first at each count: seven and six digits fit neither form.
      {0.000012345, 8, 0, "1.2e-05"},
      {1e300, 8, 0, "1e+300"},
      {1.5e300, 9, 0, "1.5e+300"},
      {1.5e300, 8, 0, "2e+300"},
      {12.5, 16, 2, "12.50"},
      {12, 16, 2, "12.00"},
      {12.5, 5, 2, "12.5"},  // no room for the zero
      {1e15, 40, 0, "1e+15"}, // the width stops at 16
      {123456789012345.0, 16, 0, "123456789012345"},
      {2.675 / 0.01 + 0.5, 34, 0, "268"},
  };
  for (const auto& r : rows) EXPECT_EQ(Text(r.value, r.width, r.minFraction), r.expected) << r.value << " w" << r.width;
  EXPECT_EQ(Text(std::numeric_limits<double>::infinity(), 16), "<false>");
  EXPECT_EQ(Text(-std::numeric_limits<double>::infinity(), 16), "<false>");
  EXPECT_EQ(Text(std::nan(""), 16), "<false>");
  EXPECT_EQ(Text(5, 1), "<false>");   // not even one digit
  EXPECT_EQ(Text(-5, 2), "<false>");  // the sign takes the only place
  EXPECT_EQ(Text(5, 2), "5");
}

TEST(Calculator, Construction) {
  CCalculator c(7);
  EXPECT_TRUE(c.IsClearedDisplay());
  EXPECT_STREQ(c.GetDisplay(), "0");
  EXPECT_EQ(c.Base(), 10u);
  EXPECT_EQ(c.ValueType(), CCalculator::ValueCurrency);
  EXPECT_EQ(c.Owner(), 7u);
  EXPECT_FALSE(c.HasMemory());
  EXPECT_FALSE(c.ClearDisplay());  // already cleared
}

TEST(Calculator, CurrencyRoundingAndDigits) {
  CCalculator c;
  c.SetRoundingValue(0.05);
  c.SetMinFractDigits(2);
  c.SetDisplayValue(1234.5678);
  EXPECT_STREQ(c.GetDisplay(), "1234.55");
  EXPECT_DOUBLE_EQ(c.Value(), RoundCurrency(1234.5678, 0.05));
  c.SetDisplayValue(2);
  EXPECT_STREQ(c.GetDisplay(), "2.00");
  c.SetRounding(false);
  c.SetDisplayValue(1.23456);
  EXPECT_STREQ(c.GetDisplay(), "1.23456");  // nothing rounded, no minimum digits
  c.SetValueType(CCalculator::ValueNumber);
  c.SetRounding(true);
  c.SetDisplayValue(3.14159);
  EXPECT_STREQ(c.GetDisplay(), "3.14");  // the locale's two digits
  EXPECT_NEAR(GetNumberRoundingValue(), 0.01, 1e-15);
}

TEST(Calculator, OtherBases) {
  CCalculator c;
  c.SetDisplayValue(255);
  EXPECT_EQ(c.SetBase(16), 1);
  EXPECT_EQ(c.SetBase(16), 0);
  EXPECT_STREQ(c.GetDisplay(), "FF");
  EXPECT_EQ(c.ValueType(), CCalculator::ValueNumber);
  c.SetDisplayValue(-1);
  EXPECT_STREQ(c.GetDisplay(), "FFFFFFFF");
  c.SetDisplayValue(-2.9);  // toward zero
  EXPECT_STREQ(c.GetDisplay(), "FFFFFFFE");
  c.SetDisplayValue(4294967296.0);  // outside 32 bits
  EXPECT_TRUE(c.IsError());
  EXPECT_STREQ(c.GetDisplay(), "- E -");
  c.SetDisplayValue(65535);
  EXPECT_STREQ(c.GetDisplay(), "FFFF");
  EXPECT_EQ(c.SetBase(2), 1);
  EXPECT_STREQ(c.GetDisplay(), "1111111111111111");
  c.SetDisplay(65535, 8);
  EXPECT_TRUE(c.IsError());  // 16 binary digits do not fit 8
  c.SetValueType(CCalculator::ValueCurrency);
  EXPECT_EQ(c.Base(), 10u);
  EXPECT_EQ(c.SetBase(1), 0);
}

TEST(Calculator, ErrorStateAndClear) {
  CCalculator c;
  c.SetError();
  EXPECT_TRUE(c.IsError());
  EXPECT_FALSE(c.IsClearedDisplay());
  EXPECT_DOUBLE_EQ(c.Value(), 0.0);
  c.SetFormatting(true);
  EXPECT_STREQ(c.GetDisplay(), "- E -");
  EXPECT_TRUE(c.ClearDisplay());
  EXPECT_TRUE(c.IsClearedDisplay());
  c.SetDisplayValue(std::numeric_limits<double>::infinity());
  EXPECT_TRUE(c.IsError());
  c.Constant(5);
  EXPECT_FALSE(c.IsClearedDisplay());
  EXPECT_STREQ(c.DisplayText(), "5");
}

TEST(Calculator, FormattedDisplay) {
  const struct {
    double value;
    char decimal, thousand;
    const char* expected;
  } rows[] = {
      {1234567.5, 0, 0, "1,234,567.5"},
      {123456, 0, 0, "123,456"},  // no separator before the first group or the point
      {-123456.25, 0, 0, "-123,456.25"},
      {999, 0, 0, "999"},
      {1234.5, ',', '.', "1.234,5"},
      {1234.5, 0, 1, "1234.5"},  // below 0x20: no separator
      {0.5, 0, 0, "0.5"},
  };
  for (const auto& r : rows) {
    CCalculator c;
    c.SetRoundingValue(0.01);
    c.SetFormatting(true);
    c.SetDecimalSeparator(r.decimal);
    c.SetThousandSeparator(r.thousand);
    c.SetDisplayValue(r.value);
    EXPECT_STREQ(c.GetDisplay(), r.expected) << r.value;
  }
  CCalculator hex;
  hex.SetFormatting(true);
  hex.SetDisplayValue(0x12345);
  hex.SetBase(16);
  EXPECT_STREQ(hex.GetDisplay(), "1 2345");
  EXPECT_STREQ(hex.DisplayText(), "12345");
}

TEST(Calculator, GetDisplayWithDigits) {
  CCalculator c;
  c.SetRounding(false);
  c.SetDisplayValue(3.14159265);
  EXPECT_STREQ(c.GetDisplay(4), "3.14");
}

}  // namespace
