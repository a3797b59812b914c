#include "filters/sovfeed/sovparse.h"

#include <gtest/gtest.h>

#include "platform/systime.h"
#include "tests/filters/feedtest.h"

namespace {

using feedtest::Rate;
using feedtest::RateLines;

class Sovfeed : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(feedtest::LoadInstalledMap(map)); }

  // A page with the date and one table row per entry of cells.
  static std::string Page(const std::string& date, std::initializer_list<std::vector<std::string>> rows) {
    std::string page = "<html><body><p>Rates on <b>" + date + "</b></p><table>\r\n";
    for (const auto& row : rows) {
      page += "<tr>";
      for (const auto& cell : row) page += "<td>" + cell + "</td>";
      page += "</tr>\r\n";
    }
    return page + "</table></body></html>\r\n";
  }

  DWORD Convert(std::string page, std::string* text = nullptr) {
    CFilterOutput out;
    DWORD code = ConvertSovfeed(map, page.data(), static_cast<uint32_t>(page.size()), out);
    if (text) *text = code ? std::string() : feedtest::Text(out);
    return code;
  }

  CMapIni map;
};

TEST_F(Sovfeed, RowsOfTheFixture) {
  std::string page = feedtest::Fixture("sovfeed", "rates.html");
  CFeedList<SovRecord> rows;
  FILETIME date{};
  ASSERT_EQ(ParseSovfeed(map, page.c_str(), rows, &date), 0u);
  std::vector<std::string> codes;
  for (const SovRecord* r = rows.First(); r; r = r->next) codes.push_back(r->code);
  // The unknown currency is passed over up to its row's end.
  EXPECT_EQ(codes, (std::vector<std::string>{"AUD", "GBP", "EUR", "JPY", "USD"}));
  const SovRecord* yen = rows.First()->next->next->next;
  EXPECT_EQ(yen->units, 100);
  EXPECT_EQ(yen->rate, 26.44);
}

TEST_F(Sovfeed, RebasesToTheEuro) {
  std::string text;
  ASSERT_EQ(Convert(Page("01/03/2005", {{"1", "Australian Dollar", "20.5"}, {"100", "Japanese Yen", "25.1"},
                                        {"1", "Euro", "41"}}),
                    &text),
            0u);
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"AUD = 2", "JPY = 163.34661354582", "RUB = 41", "EUR = 1.00"}));
  // Noon in Moscow (UTC+3 in 2005).
  EXPECT_NE(text.find("Date = 2005-03-01T09:00:00Z\r\n"), std::string::npos);
}

TEST_F(Sovfeed, EuroRowForSeveralEuros) {
  std::string text;
  ASSERT_EQ(Convert(Page("01/03/2005", {{"10", "Euro", "410"}, {"1", "US Dollar", "20.5"}}), &text), 0u);
  EXPECT_DOUBLE_EQ(Rate(text, "USD"), 2);
  EXPECT_DOUBLE_EQ(Rate(text, "RUB"), 41);
}

TEST_F(Sovfeed, WithoutAEuroValueNothingIsWritten) {
  const DWORD noEuro = 0x8004C003;
  EXPECT_EQ(Convert(Page("01/03/2005", {})), noEuro);
  EXPECT_EQ(Convert(Page("01/03/2005", {{"1", "US Dollar", "20.5"}})), noEuro);
  EXPECT_EQ(Convert(Page("01/03/2005", {{"1", "Euro", "0"}, {"1", "US Dollar", "20.5"}})), noEuro);
  EXPECT_EQ(Convert("no date in here"), 0x8004C001u);
}

TEST_F(Sovfeed, BadCellsAsUnitsAndAsRate) {
  // A cell that reads whole as a non-zero number is taken, a negative one too (its rate comes out
  // negative and the server refuses the file for it); anything else fails the row.
  using V = std::vector<std::string>;
  const V skipped{"CHF = 2", "RUB = 41", "EUR = 1.00"};
  const struct {
    std::string cell;
    V lines;
  } cases[] = {
      {"0", skipped},
      {"0.0000", skipped},
      {"-20.5", {"CHF = 2", "USD = -2", "JPY = -33.62", "RUB = 41", "EUR = 1.00"}},
      {"1e1", {"CHF = 2", "USD = 4.1", "JPY = 16.4", "RUB = 41", "EUR = 1.00"}},
      {"nan", skipped},
      {std::string(400, '9'), skipped},  // more than a cell keeps: not cut down to a number
      {"inf", skipped},
      {"0." + std::string(349, '0') + "1", skipped},
      {"20,5", skipped},
      {"", skipped},
  };
  for (const auto& c : cases) {
    std::string text;
    ASSERT_EQ(Convert(Page("01/03/2005", {{"1", "Euro", "41"}, {"1", "Swiss Franc", "20.5"}, {"1", "US Dollar", c.cell},
                                          {c.cell, "Japanese Yen", "25"}}),
                      &text),
              0u)
        << c.cell;
    EXPECT_EQ(RateLines(text), c.lines) << c.cell.substr(0, 40);
  }
}

TEST_F(Sovfeed, RowThatFailsIsLeftAtItsEnd) {
  // The unknown name sends the search past the row's end tag, in whichever case it is written;
  // its rate cell is not taken as the next row's units.
  std::string page =
      "<p>01/03/2005</p><table>"
      "<tr><td>1</td><td>Unknown Money</td><td>7</td></TR>"
      "<tr><td>1</td><td>Euro</td><td>41</td></Tr>"
      "<tr><td>2</td><td>Swiss Franc</td><td>41</td></tr></table>";
  std::string text;
  ASSERT_EQ(Convert(page, &text), 0u);
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"CHF = 2", "RUB = 41", "EUR = 1.00"}));
}

TEST_F(Sovfeed, DateSearch) {
  FILETIME date{};
  // 31 February is no date: the search goes on after it.
  const char* text = "<b>31/02/2005</b> <i>1/03/2005</i> 01/03/20055 <b>02/03/2005</b>x";
  const char* after = FindDayMonthYear(text, '/', &date);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(std::string(after), "</b>x");
  SYSTEMTIME st{};
  ASSERT_TRUE(FileTimeToSystemTime(&date, &st));
  EXPECT_EQ(st.wDay, 2);
  EXPECT_EQ(st.wMonth, 3);
  EXPECT_EQ(st.wHour, 0);
  EXPECT_EQ(FindDayMonthYear("13/13/2005 00/01/2005", '/', &date), nullptr);
  EXPECT_EQ(FindDayMonthYear("<b unclosed 01/03/2005", '/', &date), nullptr);
}

TEST(SovfeedProgram, ConvertsTheFixture) {
  feedtest::ExpectFixtureConverts("sovfeed", "rates.html", "rates.expected");
}

TEST(SovfeedProgram, Failures) {
  const std::string page = feedtest::Fixture("sovfeed", "rates.html");
  feedtest::Run run = feedtest::RunFilter("sovfeed", "");
  EXPECT_EQ(run.code, 0x8004C001u);
  // The page without its euro row: the file stays as it was.
  std::string noEuro = page;
  noEuro.erase(noEuro.find("<tr><td>EUR"), noEuro.find("</tr>", noEuro.find("<tr><td>EUR")) + 5 - noEuro.find("<tr><td>EUR"));
  run = feedtest::RunFilter("sovfeed", noEuro);
  EXPECT_EQ(run.code, 0x8004C003u);
  EXPECT_EQ(run.file, noEuro);
  EXPECT_EQ(feedtest::RunFilter("sovfeed", page, {}).code, 0x80042001u);
}

}  // namespace
