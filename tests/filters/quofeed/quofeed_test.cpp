#include "filters/quofeed/quoparse.h"

#include <gtest/gtest.h>

#include "tests/filters/feedtest.h"

namespace {

using feedtest::Rate;
using feedtest::RateLines;

class Quofeed : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(feedtest::LoadInstalledMap(map)); }

  DWORD Convert(std::string feed, std::string* text = nullptr) {
    CFilterOutput out;
    DWORD code = ConvertQuofeed(map, feed.data(), static_cast<uint32_t>(feed.size()), out);
    if (text) *text = code ? std::string() : feedtest::Text(out);
    return code;
  }

  // The "[General]" lines after "Source".
  static std::string General(const std::string& text) {
    size_t from = text.find("Source = ");
    from = text.find("\r\n", from) + 2;
    size_t to = text.find("\r\n\r\n[EUR]");
    return text.substr(from, (to == std::string::npos ? text.size() : to + 2) - from);
  }

  CMapIni map;
};

std::vector<std::vector<std::string>> Split(std::string text) {
  CCsvTable table;
  EXPECT_EQ(table.Split(text.data()), 0u);
  std::vector<std::vector<std::string>> lines;
  for (uint32_t l = 0; l < table.Lines(); ++l) {
    lines.emplace_back();
    for (uint32_t f = 1; f <= table.FieldCount(l); ++f) lines.back().push_back(table.Field(l, f));
  }
  return lines;
}

TEST(QuofeedSplit, Fields) {
  using Lines = std::vector<std::vector<std::string>>;
  EXPECT_EQ(Split("a,b\r\n\r\n c , \"d, e\" x,f\n,,g\n"),
            (Lines{{"a", "b"}, {}, {"c", "d, e", "f"}, {"", "", "g"}, {}}));
  // Line feeds alone split as CR LF do.
  EXPECT_EQ(Split("EUR,Euro,0.8\nUSD,x,1\n"), Split("EUR,Euro,0.8\r\nUSD,x,1\r\n"));
  EXPECT_EQ(Split("a b c,d"), (Lines{{"a", "d"}}));
  EXPECT_EQ(Split("\"open"), (Lines{{"open"}}));
}

TEST(QuofeedSplit, Timestamp) {
  FILETIME t{};
  EXPECT_TRUE(ParseTimestamp("2005-03-01 16:00:00", &t));
  EXPECT_TRUE(ParseTimestamp("2005/3/1T16h0m0", &t));
  EXPECT_FALSE(ParseTimestamp("2005-03-01 16:00", &t));
  EXPECT_FALSE(ParseTimestamp("2005-03-01 16:00:", &t));
  EXPECT_FALSE(ParseTimestamp("2005-02-30 16:00:00", &t));
  EXPECT_FALSE(ParseTimestamp("", &t));
}

TEST_F(Quofeed, Fixture) {
  std::string text;
  ASSERT_EQ(Convert(feedtest::Fixture("quofeed", "rates.csv"), &text), 0u);
  EXPECT_EQ(General(text),
            "Date = 2005-03-01T21:00:00Z\r\n"
            "Expires = 2005-03-02T21:00:00Z\r\n"
            "Copyright = \"Rates (c) Xenon Laboratories, all rights reserved. Not for redistribution.\"\r\n");
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"EUR = 1", "USD = 1.3199577613516", "JPY = 138.99155227033",
                                                       "GBP = 0.6898099260824", "CNY = 10.924630411827",
                                                       "XAU = 0.0030491024287"}));
}

TEST_F(Quofeed, BaseEuroAndLocalTime) {
  std::string text;
  ASSERT_EQ(Convert("\"Base Currency\",eur\n\"Rate Timestamp\",\"2005-03-01 16:00:00\"\n\"Rate Type\",hourly\nUSD,\"US Dollar\",1.32\n", &text),
            0u);
  EXPECT_EQ(General(text),
            "Date = 2005-03-01T21:00:00Z\r\n"
            "Copyright = \"Please refer to the data provider for information concerning copyrights and terms of use.\"\r\n");
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"USD = 1.32"}));
}

TEST_F(Quofeed, Errors) {
  std::string text;
  // A failed request: no base currency, no "[EUR]" section, and no exit code of its own.
  ASSERT_EQ(Convert("Status,ERROR\nDetails,\"Bad\tclient\x01id \"\"x\"\" \\\"\n", &text), 0u);
  EXPECT_EQ(General(text),
            "Copyright = \"Please refer to the data provider for information concerning copyrights and terms of use.\"\r\n"
            "Error = \"Bad client id \"\r\n");
  EXPECT_EQ(text.find("[EUR]"), std::string::npos);
  ASSERT_EQ(Convert("Status,error\nNotice,mine\n", &text), 0u);
  EXPECT_EQ(General(text), "Copyright = \"mine\"\r\nError = \"Unknown error\"\r\n");
  ASSERT_EQ(Convert("Error,\"say \\\"no\\\"\"\nStatus,ERROR\nDetails,other\n", &text), 0u);
  EXPECT_EQ(General(text).substr(General(text).find("Error")), "Error = \"say \\\\\"\r\n");
  // A keyword line without a value is no keyword line.
  ASSERT_EQ(Convert("Error\nRedistribution,\"a\rb\"\n", &text), 0u);
  EXPECT_EQ(General(text), "Copyright = \"a b\"\r\n");
}

TEST_F(Quofeed, ProviderTextReadsBackWhole) {
  std::string text;
  ASSERT_EQ(Convert("Notice,\"C:\\feed \x01(c) caf\xE9\tco\"\nRedistribution,'no'\n", &text), 0u);
  EXPECT_EQ(feedtest::IniValue(text, "Copyright"), "C:\\feed  (c) caf\xE9 co 'no'");
  EXPECT_EQ(feedtest::IniValue(text, "Source"), "Xenon Laboratories Data Feed Service");
}

TEST_F(Quofeed, Rates) {
  std::string text;
  ASSERT_EQ(Convert("\"Base Currency\",USD\n"
                    "EUR,Euro,0.8,1.25\n"
                    "JPY,Yen,-1\n"
                    "CHF,Franc,1e0\n"
                    "GBP,Pound,nan\n"
                    "CNY,Yuan,0\n"
                    "MXN,Peso,11.2x\n"
                    "AB,Two,1\n"
                    "ABCD,Four,1\n"
                    "1AB,Digit,1\n"
                    "ntd,Taiwan,32\n"
                    "SEK,Krona\n",
                    &text),
            0u);
  // Numbers as strtod reads them, a negative one too (the server refuses the file for it).
  EXPECT_EQ(RateLines(text), (std::vector<std::string>{"EUR = 1", "JPY = -1.25", "CHF = 1.25", "TWD = 40"}));
  EXPECT_EQ(Convert("\"Base Currency\",USD\nEUR,Euro,0.8\nUSD,\"US Dollar\",1\n"), 0x8004C003u);
  EXPECT_EQ(Convert("\"Base Currency\",USD\nEUR,Euro,0,0\nUSD,\"US Dollar\",1\n"), 0x8004C003u);
  EXPECT_EQ(Convert("\"Base Currency\",USD\nUSD,\"US Dollar\",1\n"), 0x8004C003u);
}

TEST(QuofeedProgram, ConvertsTheFixture) {
  feedtest::ExpectFixtureConverts("quofeed", "rates.csv", "rates.expected");
}

TEST(QuofeedProgram, Failures) {
  const std::string page = "\t<!DOCTYPE html><html><body>Login</body></html>";
  feedtest::Run run = feedtest::RunFilter("quofeed", page);
  EXPECT_EQ(run.code, 0x8004C000u);
  EXPECT_EQ(run.file, page);
  EXPECT_EQ(feedtest::RunFilter("quofeed", "\"Base Currency\",USD\nJPY,Yen,105\n").code, 0x8004C003u);
  EXPECT_EQ(feedtest::RunFilter("quofeed", page, {}).code, 0x80042001u);
}

}  // namespace
