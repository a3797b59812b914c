#include "filters/cadfeed/cadparse.h"

#include <gtest/gtest.h>

#include "platform/systime.h"
#include "tests/filters/feedtest.h"

namespace {

using feedtest::Rate;
using feedtest::RateLines;

class Cadfeed : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(feedtest::LoadInstalledMap(map)); }

  DWORD Convert(std::string page, std::string* text = nullptr) {
    CFilterOutput out;
    DWORD code = ConvertCadfeed(map, page.data(), static_cast<uint32_t>(page.size()), out);
    if (text) *text = code ? std::string() : feedtest::Text(out);
    return code;
  }

  // Codes and values of the rows that the plain text gives.
  std::vector<std::pair<std::string, double>> Rows(const std::string& text) {
    CFeedList<CadRecord> rows;
    FILETIME date{};
    EXPECT_EQ(ParseCadfeed(map, text.c_str(), rows, &date), 0u);
    std::vector<std::pair<std::string, double>> out;
    for (const CadRecord* r = rows.First(); r; r = r->next) out.emplace_back(r->code, r->value);
    return out;
  }

  CMapIni map;
};

using RowList = std::vector<std::pair<std::string, double>>;

TEST_F(Cadfeed, Fixture) {
  std::string text;
  ASSERT_EQ(Convert(feedtest::Fixture("cadfeed", "rates.html"), &text), 0u);
  // The closing rate is ignored, the yen has no rate on the latest day, the lira is per 10000.
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"USD = 1.3232803806145", "EUR = 1", "GBP = 0.6924050632911",
                                                       "TRL = 1764516.1290323", "CHF = 1.5569259962049",
                                                       "CAD = 1.641"}));
  EXPECT_NE(text.find("Date = 2005-03-01T17:00:00Z\r\n"), std::string::npos);
}

TEST_F(Cadfeed, Header) {
  uint32_t column = 99;
  FILETIME latest{};
  // The second date is the latest: column 1. A later third date equal to it does not move it.
  const char* rows = FindDateColumns("Date\t05-03-01   05-03-02   2005-03-02\nEuro", &column, &latest);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(std::string(rows), "Euro");
  EXPECT_EQ(column, 1u);
  SYSTEMTIME st{};
  ASSERT_TRUE(FileTimeToSystemTime(&latest, &st));
  EXPECT_EQ(st.wYear, 2005);
  EXPECT_EQ(st.wDay, 2);
  EXPECT_EQ(st.wHour, 12);
  // A revision line is no header; a date needs three blanks or a TAB before it, which the
  // start of the text cannot give.
  EXPECT_EQ(FindDateColumns("REVISED\t2005-03-01\t2005-03-02\n", &column, &latest), nullptr);
  EXPECT_EQ(FindDateColumns("2005-03-01   2005-03-02", &column, &latest), nullptr);
  ASSERT_NE(FindDateColumns("  2005-03-01   2005-03-02\n", &column, &latest), nullptr);
  EXPECT_EQ(column, 0u);
  // A number that is no date cancels the line.
  EXPECT_EQ(FindDateColumns("x   2005-03-01   12345\n", &column, &latest), nullptr);

  FILETIME date{};
  EXPECT_EQ(ParseIsoDate("99/12/31", &date), 8u);
  EXPECT_EQ(ParseIsoDate("2005\\3\\1x", &date), 8u);
  EXPECT_EQ(ParseIsoDate("2005-03/01", &date), 0u);
  EXPECT_EQ(ParseIsoDate("2005-02-30", &date), 0u);
}

TEST_F(Cadfeed, Rows) {
  const std::string head = "Date   2005-03-01   2005-03-02\n";
  // N/A in the wanted column leaves the row out; in another column it is a column all the same.
  EXPECT_EQ(Rows(head + "Euro 1.6 N/A\nU.S. Dollar n.a. 1.24\nSwiss Franc 1.05 1.06\n"),
            (RowList{{"USD", 1.24}, {"CHF", 1.06}}));
  // Numbers as strtod reads them (a negative one is the server's to refuse); zero, nan and a
  // decimal comma count as columns and give no row.
  EXPECT_EQ(Rows(head + "Euro 1.6 1.7\nU.S. Dollar -1.2 -1.24\nSwiss Franc 1.05 1e0\nU.K. Pound 0x1 nan\n"
                        "Japanese Yen 1 0.000\nDanish Krone 1 1,06\n"),
            (RowList{{"EUR", 1.7}, {"USD", -1.24}, {"CHF", 1}}));
  // A row shorter than the wanted column ends the rows.
  EXPECT_EQ(Rows(head + "Euro 1.6 1.7\nU.S. Dollar 1.2\nSwiss Franc 1.05 1.06\n"), (RowList{{"EUR", 1.7}}));
  // A name alone on its line does not take the numbers of the next one.
  EXPECT_EQ(Rows(head + "Euro\n   1.6 1.7\nSwiss Franc 1.05 1.06\n"), (RowList{{"CHF", 1.06}}));
  // A number glued to a word is no column.
  EXPECT_EQ(Rows(head + "Swiss Franc x1.05 1.06 1.07\n"), (RowList{{"CHF", 1.07}}));
}

TEST_F(Cadfeed, EuroValue) {
  const std::string head = "<pre>Date   2005-03-01   2005-03-02\n";
  std::string text;
  // A second euro row is another table's: the first table stands alone.
  ASSERT_EQ(Convert(head + "Euro 1 2\nU.S. Dollar 1 1\nEuro 1 4\n</pre>", &text), 0u);
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"EUR = 1", "USD = 2", "CAD = 2"}));
  EXPECT_EQ(Convert(head + "U.S. Dollar 1 1\n"), 0x8004C003u);
  EXPECT_EQ(Convert(head + "Euro 1 N/A\nU.S. Dollar 1 1\n"), 0x8004C003u);
  EXPECT_EQ(Convert(head), 0x8004C003u);
  EXPECT_EQ(Convert("<html><body>Page not found</body></html>"), 0x8004C001u);
}

TEST_F(Cadfeed, OnlyTheFirstTableCounts) {
  const std::string noon =
      "<pre>Noon rates\nDate (YYYY-MM-DD)      2005-02-28      2005-03-01\n"
      "U.S. Dollar            1.2390          1.2401\nEuro                   1.6402          1.6410\n\n";
  // A later table, with or without its own header of dates, and with its euro row first or last.
  const char* later[] = {
      "Ten-day averages\nDate (YYYY-MM-DD)      2005-02-28      2005-03-01\n"
      "U.S. Dollar            1.2340          1.2350\nEuro                   1.6340          1.6350\n",
      "Ten-day averages\n   2005-03-02   2005-03-03\nSwiss Franc   1.05   1.06\nEuro   1.6340   1.6350\n",
      "Ten-day averages\nEuro                   1.6340          1.6350\n"
      "U.S. Dollar            1.2340          1.2350\n",
  };
  for (const char* table : later) {
    std::string text;
    ASSERT_EQ(Convert(noon + table + "</pre>", &text), 0u) << table;
    EXPECT_EQ(RateLines(text), (std::vector<std::string>{"USD = 1.3232803806145", "EUR = 1", "CAD = 1.641"})) << table;
  }
}

TEST(CadfeedProgram, ConvertsTheFixture) {
  feedtest::ExpectFixtureConverts("cadfeed", "rates.html", "rates.expected");
}

TEST(CadfeedProgram, Failures) {
  const std::string page = "<html><body><p>Service unavailable</p></body></html>";
  feedtest::Run run = feedtest::RunFilter("cadfeed", page);
  EXPECT_EQ(run.code, 0x8004C001u);
  EXPECT_EQ(run.file, page);
  EXPECT_EQ(feedtest::RunFilter("cadfeed", "<pre>Date   2005-03-01\nU.S. Dollar 1.24\n").code, 0x8004C003u);
  EXPECT_EQ(feedtest::RunFilter("cadfeed", page, {}).code, 0x80042001u);
}

}  // namespace
