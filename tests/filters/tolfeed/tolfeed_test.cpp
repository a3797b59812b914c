#include "filters/tolfeed/tolparse.h"

#include <gtest/gtest.h>

#include "tests/filters/feedtest.h"

namespace {

using feedtest::Rate;
using feedtest::RateLines;

DWORD Convert(std::string page, std::string* text = nullptr) {
  CFilterOutput out;
  DWORD code = ConvertTolfeed(page.data(), static_cast<uint32_t>(page.size()), out);
  if (text) *text = code ? std::string() : feedtest::Text(out);
  return code;
}

// A page with the date and one row per entry of cells.
std::string Page(std::initializer_list<std::vector<std::string>> rows, const std::string& date = "01.03.2005") {
  std::string page = "<html><body><p>" + date + "</p><table>\r\n";
  for (const auto& row : rows) {
    page += "<tr>";
    for (const auto& cell : row) page += "<td>" + cell + "</td>";
    page += "</tr>\r\n";
  }
  return page + "</table></body></html>\r\n";
}

std::vector<std::string> Row(const std::string& code, const std::string& units, const std::string& rate) {
  return {"country", "name", "999", code, units, "0,1", rate};
}

TEST(Tolfeed, OneDocument) {
  std::string text;
  ASSERT_EQ(Convert(feedtest::Fixture("tolfeed", "rates.html"), &text), 0u);
  // The forint has no middle rate: its row gives nothing.
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"USD = 1.3233198961842", "JPY = 138.87343532684",
                                                       "CHF = 1.5487623602404", "SIT = 239.64", "EUR = 1.00"}));
  // Noon in Ljubljana (UTC+1 in winter).
  EXPECT_NE(text.find("Date = 2005-03-01T11:00:00Z\r\n"), std::string::npos);
}

TEST(Tolfeed, TwoDocuments) {
  std::string page = feedtest::Fixture("tolfeed", "two.html");
  CFeedList<TolRecord> rows;
  FILETIME date{};
  ASSERT_EQ(ParseTolfeed(page.data(), rows, &date), 0u);
  std::vector<std::string> codes;
  for (const TolRecord* r = rows.First(); r; r = r->next) codes.push_back(r->code);
  // Only the euro row of the first document; then every row of the second.
  EXPECT_EQ(codes, (std::vector<std::string>{"EUR", "USD", "GBP", "HRK"}));
  // The text is whole again.
  EXPECT_EQ(page, feedtest::Fixture("tolfeed", "two.html"));

  std::string text;
  ASSERT_EQ(Convert(page, &text), 0u);
  EXPECT_NEAR(Rate(text, "USD"), 239.64 / 181.5, 1e-9);
  EXPECT_NE(text.find("Date = 2005-03-02T11:00:00Z\r\n"), std::string::npos);
}

TEST(Tolfeed, EuroRowWithSeveralUnits) {
  std::string text;
  ASSERT_EQ(Convert(Page({Row("EUR", "10", "2396,4"), Row("USD", "1", "181,09")}), &text), 0u);
  EXPECT_NEAR(Rate(text, "USD"), 239.64 / 181.09, 1e-9);
  EXPECT_NEAR(Rate(text, "SIT"), 239.64, 1e-9);
}

TEST(Tolfeed, WithoutAEuroValueNothingIsWritten) {
  EXPECT_EQ(Convert(Page({})), 0x8004C003u);
  EXPECT_EQ(Convert(Page({Row("USD", "1", "181,09")})), 0x8004C003u);
  EXPECT_EQ(Convert(Page({Row("EUR", "1", "0,00"), Row("USD", "1", "181,09")})), 0x8004C003u);
  EXPECT_EQ(Convert("<html><body>no date</body></html>"), 0x8004C001u);
}

TEST(Tolfeed, RowsThatFail) {
  std::string text;
  ASSERT_EQ(Convert(Page({
                        Row("EUR", "1", "239,64"),
                        Row("US", "1", "181,09"),        // no three-letter code
                        Row("USD", "-1", "181,09"),      // negative units: a negative rate, which the server refuses
                        Row("CHF", "1", "1e2"),          // an exponent, as strtod reads it
                        Row("GBP", "1", ""),             // empty rate cell: the row is incomplete
                        Row("NOK", "1", "0,00"),         // zero
                        Row("SEK", "1", "nan"),
                        Row("NZD", "1", "1," + std::string(350, '5')),  // longer than a cell keeps
                        Row("DKK", "1", "1.234,56"),     // two separators: not one number
                        {"short", "row", "1", "JPY", "1"},  // too few cells
                        Row("HUF", "100", "96,80"),
                    }),
                    &text),
            0u);
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"USD = -1.3233198961842", "CHF = 2.3964", "HUF = 247.56198347107",
                                                       "SIT = 239.64", "EUR = 1.00"}));
}

TEST(TolfeedProgram, ConvertsTheFixtures) {
  feedtest::ExpectFixtureConverts("tolfeed", "rates.html", "rates.expected");
  feedtest::ExpectFixtureConverts("tolfeed", "two.html", "two.expected");
}

TEST(TolfeedProgram, Failures) {
  // A page without rows used to give a file with only its "[General]" lines.
  std::string empty = Page({});
  feedtest::Run run = feedtest::RunFilter("tolfeed", empty);
  EXPECT_EQ(run.code, 0x8004C003u);
  EXPECT_EQ(run.file, empty);
  EXPECT_EQ(feedtest::RunFilter("tolfeed", "").code, 0x8004C001u);
  EXPECT_EQ(feedtest::RunFilter("tolfeed", empty, {}).code, 0x80042001u);
}

}  // namespace
