// Amounts read from free text with the user's separators.
#include "engine/foundation/numbertext.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class NumberText : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("LC_ALL"); }
};

}  // namespace

TEST_F(NumberText, StringToDoubleWithTheUsersSeparators) {
  const struct {
    const char* locale;
    const char* text;
    double value;
    uint32_t consumed;
  } cases[] = {
      {"de_DE.UTF-8", "  1.234,5 EUR", 1234.5, 9},  // up to the blank before EUR
      {"de_DE.UTF-8", "12,50.", 12.5, 5},           // a full stop after the number stays text
      {"en_US.UTF-8", "\t\r\n1,234.5x", 1234.5, 10},
      {"en_US.UTF-8", "10, 20", 10, 2},             // the comma of a list stays text
      {"en_US.UTF-8", "-3.25", -3.25, 5},
      {"en_US.UTF-8", "1e3 units", 1, 1},          // "1e" is no number: exponents are not read
      {"en_US.UTF-8", "EUR 5", 0, 0},
      {"en_US.UTF-8", "-", 0, 0},
      {"en_US.UTF-8", "0x1A", 0, 1},                 // no hexadecimal in amounts
  };
  for (const auto& k : cases) {
    setenv("LC_ALL", k.locale, 1);
    uint32_t used = 99;
    EXPECT_DOUBLE_EQ(CurrencyStringToDouble(k.text, &used), k.value) << k.text;
    EXPECT_EQ(used, k.consumed) << k.text;
  }
  uint32_t used = 7;
  EXPECT_EQ(StringToDouble(nullptr, &used, LOCALE_SDECIMAL, LOCALE_STHOUSAND), 0.0);
  EXPECT_EQ(used, 0u);
}

TEST_F(NumberText, UnitStringToDoubleInABase) {
  setenv("LC_ALL", "en_US.UTF-8", 1);
  uint32_t used = 0;
  EXPECT_EQ(UnitStringToDouble("0x1Az", 16, &used), 26.0);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(UnitStringToDouble("1011 ", 2, &used), 11.0);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(UnitStringToDouble("9", 8, &used), 0.0);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(UnitStringToDouble("1,5", 10, &used), 15.0) << "number separators: the comma groups";
}

TEST_F(NumberText, IsDigit) {
  EXPECT_TRUE(IsDigit('1', 2));
  EXPECT_FALSE(IsDigit('2', 2));
  EXPECT_TRUE(IsDigit('7', 8));
  EXPECT_FALSE(IsDigit('8', 8));
  EXPECT_TRUE(IsDigit('f', 16));
  EXPECT_FALSE(IsDigit('g', 16));
  EXPECT_TRUE(IsDigit('.', 10));
  EXPECT_FALSE(IsDigit('A', 10));
}
