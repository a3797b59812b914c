// The page parser in-process: the date search, the cells and the row state machine.
#include "filters/eurfeed/refrates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/heap.h"
#include "platform/systime.h"

namespace {

std::string LocalText(const FILETIME& time) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&time, &st)) return "(none)";
  char text[40];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
  return text;
}

TEST(FindDayMonthDate, Dates) {
  struct Case {
    const char* text;
    const char* date;  // null: none
    const char* after;  // the text after the year
  } cases[] = {
      {"10 December 2026 rest", "2026-12-10 14:15", " rest"},
      {"<h3>\t<b>2</b> \t <i>july</i>\t2026</h3>", "2026-07-02 14:15", "</h3>"},
      {"Updated 16:00 CET. 1 MARCH 2026", "2026-03-01 14:15", ""},
      // The month is a prefix of the text; an abbreviation is no month.
      {"10 Dec 2026", nullptr, nullptr},
      {"3 may2026", "2026-05-03 14:15", ""},
      {"3 Mayday 2026", nullptr, nullptr},
      // An impossible date: the search goes on after its year.
      {"31 February 2026, 28 February 2026", "2026-02-28 14:15", ""},
      {"0 June 2026 32 June 2026", "2026-06-02 14:15", ""},
      {"10 December 1500", nullptr, nullptr},
      {"10 December", nullptr, nullptr},
      // A day is tried at every place of its digits.
      {"99999999999999999999 December 2026", "2026-12-09 14:15", ""},
      {"0012 December 2026", "2026-12-12 14:15", ""},
      {"123 December 2026", "2026-12-23 14:15", ""},
      {"132 December 2026", "2026-12-02 14:15", ""},
      {"100 December 2026", nullptr, nullptr},
      {"31 June 2026 5", nullptr, nullptr},
      {"10 December 99999999999999999999", nullptr, nullptr},
      {"<td>10</td><td>December", nullptr, nullptr},
      {"<unclosed 10 December 2026", nullptr, nullptr},
      {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    FILETIME t = {};
    const char* after = FindDayMonthDate(c.text, &t);
    if (!c.date) {
      EXPECT_EQ(after, nullptr) << c.text;
      continue;
    }
    ASSERT_NE(after, nullptr) << c.text;
    EXPECT_EQ(LocalText(t), c.date) << c.text;
    EXPECT_STREQ(after, c.after) << c.text;
  }
}

std::vector<std::string> Cells(const char* text) {
  std::vector<std::string> out;
  CCellReader cells(text);
  while (const char* cell = cells.Next()) out.push_back(cell);
  return out;
}

TEST(CellReader, TextOfCells) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Cells("<td>a</td><TD class=\"x\"> <a href=\"#\">b</a> c </Td>"), (V{"a", "b c"}));
  // Header cells, text outside cells and empty cells give nothing.
  EXPECT_EQ(Cells("out<th>head</th><td></td><td> \t\r\n&nbsp;&NbSp; </td><tdx>no</tdx><td>in"), (V{}));
  EXPECT_EQ(Cells("<td>&nbsp;x&amp;y&lt;</td><td>&bogus; &#0;</td>"), (V{"x&y<", "&bogus; &#0;"}));
  // A cell left open ends at the next cell tag.
  EXPECT_EQ(Cells("<tr><td>USD<td>US dollar<td>1.5</tr><tr><td>JPY</td>"), (V{"USD", "US dollar", "1.5", "JPY"}));
  std::string longCell = "<td>" + std::string(150, 'x') + "</td>";
  EXPECT_EQ(Cells(longCell.c_str()), (V{std::string(99, 'x')}));

  // The place after a cell is after the tag that ended it.
  CCellReader cells("<td>USD</td>rest");
  ASSERT_NE(cells.Next(), nullptr);
  EXPECT_STREQ(cells.Place(), "rest");
}

class ReferencePage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(map.SetBuffer(u"[Codes]\r\nCNY = RMB\r\nXXX = XTS\r\n"));
    ASSERT_EQ(map.Load(g_MapIniTable, kMapIniTableRows), 0u);
  }

  // code=rate name; lines of the rows found.
  std::vector<std::string> Rows(const std::string& cellsText) {
    std::vector<std::string> out;
    CCellReader cells(cellsText.c_str());
    ReferenceRow row;
    while (ParseReferenceRow(cells, map, &row)) out.push_back(std::string(row.code) + "=" + row.rate + " " + row.name);
    return out;
  }

  CMapIni map;
};

std::string Row(const char* code, const std::string& name, const char* rate) {
  return "<tr><td>" + std::string(code) + "</td><td>" + name + "</td><td>" + rate + "</td><td>chart</td></tr>";
}

TEST_F(ReferencePage, Rows) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Rows(Row("USD", "US dollar", "1.0856") + Row("RMB", "Yuan", "7.78") + Row("XTS", "Test", "1.5") +
                 Row("usd", "US dollar", "1.1") + Row("US", "US dollar", "1.1") + Row("USDX", "US dollar", "1.1")),
            (V{"USD=1.0856 US dollar", "CNY=7.78 Yuan"}));
  // Names of fewer than 80 characters only; rates of fewer than 40.
  EXPECT_EQ(Rows(Row("AAA", std::string(79, 'n'), "1") + Row("BBB", std::string(80, 'n'), "2") +
                 Row("CCC", "c", ("1." + std::string(37, '5')).c_str()) +
                 Row("DDD", "d", ("1." + std::string(38, '5')).c_str())),
            (V{"AAA=1 " + std::string(79, 'n'), "CCC=1." + std::string(37, '5') + " c"}));
  // A cell that reads whole as a number is the rate as written, whatever its value; the server
  // decides on it. Anything else is no rate, and the row is not read.
  const std::string digits400(400, '7'), decimals350 = "1." + std::string(350, '0');
  struct Cell {
    std::string text;
    bool taken;
  } cells[] = {
      {"-1.0856", true}, {"0", true},         {"0.0000", true},     {"NaN", true},
      {"inf", true},     {"1e300", true},     {"1.2345e0", true},   {digits400, false},
      {decimals350, false}, {"1,5", false},   {"1.08 EUR", false},  {"n/a", false},
  };
  for (const Cell& c : cells)
    EXPECT_EQ(Rows(Row("USD", "US dollar", c.text.c_str())),
              c.taken ? V{"USD=" + c.text + " US dollar"} : V{})
        << c.text;
  // A cell that does not fit sends the search back to a code: the code of the next row is found.
  EXPECT_EQ(Rows("<td>USD</td><td>US dollar</td><td>n/a</td><td>JPY</td><td>Japanese yen</td><td>163.42</td>"),
            (V{"JPY=163.42 Japanese yen"}));
}

TEST_F(ReferencePage, WholePage) {
  CFilterOutput out;
  std::string page = "<h3>10 December 2026</h3>" + Row("USD", "Say \"hi\"", "1.5");
  ASSERT_EQ(ConvertReferencePage(page.c_str(), static_cast<uint32_t>(page.size()), map, out), 0u);
  std::string text(out.Text(), out.Length());
  EXPECT_NE(text.find("\r\n[EUR]\r\n\r\nUSD = 1.5\r\nEUR = 1.00\r\n\r\n[Names]\r\n\r\nUSD = \"Say \\\"hi\\\"\"\r\nEUR = \"EU euro\"\r\n"),
            std::string::npos)
      << text;

  // Rows before the date are not read.
  std::string early = Row("USD", "US dollar", "1.5") + "<h3>10 December 2026</h3>";
  CFilterOutput none;
  EXPECT_EQ(ConvertReferencePage(early.c_str(), static_cast<uint32_t>(early.size()), map, none), 0x8004C001u);

  // Out of memory for a row.
  CFilterOutput failed;
  vtx::heap::FailAfter(0);
  DWORD code = ConvertReferencePage(page.c_str(), static_cast<uint32_t>(page.size()), map, failed);
  vtx::heap::FailAfter(-1);
  EXPECT_EQ(code, 0x80044002u);
}

}  // namespace
