// How the row parsers of the filters read the number texts of a provider's page.
#include "filters/framework/feedtext.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

// Every filter that does arithmetic on a page's numbers reads them here; eurfeed copies a cell
// that reads whole as a number.
TEST(FeedNumbers, BadCellsOfAProvidersPage) {
  const std::string digits400(400, '7'), decimals350 = "0." + std::string(349, '0') + "1",
                    long1 = "1." + std::string(350, '0');
  struct Case {
    std::string text;
    FeedNumber kind;  // of the number at the start
    double value;     // for a Rate
    bool whole;       // a rate that is the whole text
    bool number;      // reads whole as a number, whatever its value
  } cases[] = {
      {"1.0856", FeedNumber::Rate, 1.0856, true, true},
      {"-1.0856", FeedNumber::Rate, -1.0856, true, true},  // passed on: the server refuses the file
      {"+2", FeedNumber::Rate, 2, true, true},
      {"1.2345e0", FeedNumber::Rate, 1.2345, true, true},  // strtod reads exponents
      {"1e300", FeedNumber::Rate, 1e300, true, true},
      {long1, FeedNumber::Rate, 1, true, true},
      {"0", FeedNumber::Refused, 0, false, true},
      {"0.0000", FeedNumber::Refused, 0, false, true},
      {"NaN", FeedNumber::Refused, 0, false, true},
      {"inf", FeedNumber::Refused, 0, false, true},
      {digits400, FeedNumber::Refused, 0, false, true},     // beyond a double
      {decimals350, FeedNumber::Refused, 0, false, true},   // below the smallest one
      {"1,5", FeedNumber::Refused, 0, false, false},        // a decimal comma: not the number 1
      {"1,234.56", FeedNumber::Refused, 0, false, false},
      {"1.08 EUR", FeedNumber::Rate, 1.08, false, false},
      {"n/a", FeedNumber::None, 0, false, false},
      {"", FeedNumber::None, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const char* end = nullptr;
    double value = -99;
    EXPECT_EQ(ReadFeedNumber(c.text.c_str(), &end, &value), c.kind);
    if (c.kind == FeedNumber::Rate) {
      EXPECT_DOUBLE_EQ(value, c.value);
    }
    EXPECT_EQ(end == c.text.c_str(), c.kind == FeedNumber::None);
    double whole = -99;
    EXPECT_EQ(ReadWholeRate(c.text.c_str(), &whole), c.whole);
    EXPECT_EQ(ReadsWholeAsNumber(c.text.c_str()), c.number);
  }
  // Blanks around a whole rate are the cell's, not the number's; eurfeed keeps no blank.
  EXPECT_TRUE(ReadWholeRate(" 1.5\r\n", nullptr));
  EXPECT_FALSE(ReadsWholeAsNumber(" 1.5"));
  EXPECT_FALSE(ReadsWholeAsNumber("1.5 "));
}

TEST(FeedNumbers, ThePointIsTheDecimalSeparatorWhateverTheLocale) {
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  double value = 0;
  EXPECT_TRUE(ReadWholeRate("1.5", &value));
  EXPECT_EQ(value, 1.5);
  EXPECT_FALSE(ReadWholeRate("1,5", &value));
  if (german) std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
