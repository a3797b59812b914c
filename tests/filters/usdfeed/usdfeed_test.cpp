#include "filters/usdfeed/usdparse.h"

#include <gtest/gtest.h>

#include "platform/systime.h"
#include "tests/filters/feedtest.h"

namespace {

using feedtest::Rate;
using feedtest::RateLines;

class Usdfeed : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(feedtest::LoadInstalledMap(map)); }

  DWORD Convert(std::string page, std::string* text = nullptr) {
    CFilterOutput out;
    DWORD code = ConvertUsdfeed(map, page.data(), static_cast<uint32_t>(page.size()), out);
    if (text) *text = code ? std::string() : feedtest::Text(out);
    return code;
  }

  CMapIni map;
};

const std::string kDate = "<p>March 4, 2005</p>\r\n";

TEST_F(Usdfeed, Fixture) {
  std::string text;
  ASSERT_EQ(Convert(feedtest::Fixture("usdfeed", "rates.html"), &text), 0u);
  // The Canadian dollar and the Danish krone have no rate.
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"EUR = 1", "JPY = 139.174195", "GBP = 0.691145046125",
                                                       "CHF = 1.5502109", "CNY = 10.97546665", "MXN = 14.7979499",
                                                       "USD = 1.3261"}));
  EXPECT_NE(text.find("Date = 2005-03-04T17:00:00Z\r\n"), std::string::npos);
}

TEST_F(Usdfeed, DollarQuotedAndUnitsPerDollar) {
  for (const char* euro : {" +Euro 1.25", " Euro 0.8"}) {
    std::string text;
    ASSERT_EQ(Convert(kDate + euro + "\r\n Japanese Yen 110\r\n", &text), 0u) << euro;
    EXPECT_EQ(RateLines(text), (std::vector<std::string>{"EUR = 1", "JPY = 137.5", "USD = 1.25"})) << euro;
  }
}

TEST_F(Usdfeed, LinesWithoutARate) {
  std::string text;
  ASSERT_EQ(Convert(kDate +
                        " +Euro 1.25\n"
                        " Swiss Franc 0.00\n"
                        " Swiss Franc -1.2\n"
                        " Swiss Franc 1e1\n"
                        " Swiss Franc nan\n"
                        " Swiss Franc 1,2\n"
                        " Chinese Yuan n.a. 8.27\n"
                        " Japanese Yen ** 110\n"
                        " Mexican Peso11.15\n"
                        " Danish Krone 6.0",
                    &text),
            0u);
  // Numbers as strtod reads them, a negative one too (the server refuses the file for it); zero
  // and nan give no line.
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"EUR = 1", "CHF = -1.5", "CHF = 12.5", "DKK = 7.5", "USD = 1.25"}));
}

TEST_F(Usdfeed, WithoutAEuroValueNothingIsWritten) {
  EXPECT_EQ(Convert(kDate), 0x8004C003u);
  EXPECT_EQ(Convert(kDate + " Japanese Yen 110\n"), 0x8004C003u);
  EXPECT_EQ(Convert(kDate + " +Euro n/a\n Japanese Yen 110\n"), 0x8004C003u);
  EXPECT_EQ(Convert("<p>Rates are not available.</p>"), 0x8004C001u);
}

TEST_F(Usdfeed, MonthDate) {
  FILETIME date{};
  SYSTEMTIME st{};
  const char* after = FindMonthDate("Mayor said on MARCH  4 ,05 that", &date);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(std::string(after), " that");
  ASSERT_TRUE(FileTimeToSystemTime(&date, &st));
  EXPECT_EQ(st.wYear, 2005);
  EXPECT_EQ(st.wMonth, 3);
  EXPECT_EQ(st.wDay, 4);
  EXPECT_EQ(st.wHour, 12);
  ASSERT_NE(FindMonthDate("June 31, 2005 or december 31-99", &date), nullptr);
  ASSERT_TRUE(FileTimeToSystemTime(&date, &st));
  EXPECT_EQ(st.wYear, 1999);
  EXPECT_EQ(FindMonthDate("March, 2005", &date), nullptr);
  EXPECT_EQ(FindMonthDate("", &date), nullptr);
}

TEST(UsdfeedMarks, NotAvailable) {
  const char* text = "-- x ## n/A\tN.a.\n-1 --x ?";
  EXPECT_EQ(IsNotAvailable(text, text), 0u);  // nothing before the start of the text
  EXPECT_EQ(IsNotAvailable(text, text + 5), 2u);
  EXPECT_EQ(IsNotAvailable(text, text + 8), 3u);
  EXPECT_EQ(IsNotAvailable(text, text + 12), 4u);
  EXPECT_EQ(IsNotAvailable(text, text + 17), 0u);
  EXPECT_EQ(IsNotAvailable(text, text + 20), 0u);
  EXPECT_EQ(IsNotAvailable(text, text + 24), 1u);
  EXPECT_EQ(IsNotAvailable(text, text + 6), 0u);  // glued to the mark before it
}

TEST(UsdfeedProgram, ConvertsTheFixture) {
  feedtest::ExpectFixtureConverts("usdfeed", "rates.html", "rates.expected");
}

TEST(UsdfeedProgram, Failures) {
  const std::string page = "<html><body>March 4, 2005: no rates today</body></html>";
  feedtest::Run run = feedtest::RunFilter("usdfeed", page);
  EXPECT_EQ(run.code, 0x8004C003u);
  EXPECT_EQ(run.file, page);
  EXPECT_EQ(feedtest::RunFilter("usdfeed", "<html></html>").code, 0x8004C001u);
  EXPECT_EQ(feedtest::RunFilter("usdfeed", page, {}).code, 0x80042002u);
}

}  // namespace
