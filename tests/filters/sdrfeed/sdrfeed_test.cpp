#include "filters/sdrfeed/sdrparse.h"

#include <gtest/gtest.h>

#include "tests/filters/feedtest.h"

namespace {

using feedtest::Rate;
using feedtest::RateLines;

class Sdrfeed : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(feedtest::LoadInstalledMap(map)); }

  // A report with the header line and the lines given.
  static std::string Report(const std::string& header, std::initializer_list<std::string> lines) {
    std::string text = "\"SDRs per Currency unit\"\r\nCurrency\t" + header + "\r\n";
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
  }

  DWORD Convert(std::string text, std::string* out = nullptr) {
    CFilterOutput output;
    DWORD code = ConvertSdrfeed(map, text.c_str(), static_cast<uint32_t>(text.size()), output);
    if (out) *out = code ? std::string() : feedtest::Text(output);
    return code;
  }

  std::vector<std::string> Codes(const std::string& text, std::vector<std::vector<double>>* values = nullptr) {
    SdrHeader header{};
    CFeedList<SdrRecord> rows;
    EXPECT_EQ(ParseSdrfeed(map, text.c_str(), &header, rows), 0u);
    std::vector<std::string> codes;
    for (const SdrRecord* r = rows.First(); r; r = r->next) {
      codes.push_back(r->code);
      if (values) values->emplace_back(r->values, r->values + r->count);
    }
    return codes;
  }

  CMapIni map;
};

const char* const kTwoDays = "\"March 01, 2005\"\t\"March 02, 2005\"";

TEST_F(Sdrfeed, Fixture) {
  std::string text = feedtest::Fixture("sdrfeed", "rates.tsv");
  SdrHeader header{};
  ASSERT_NE(FindDateHeader(text.c_str(), &header), nullptr);
  EXPECT_EQ(header.count, 3u);
  // The second block is not read; the unknown currency is passed over.
  EXPECT_EQ(Codes(text), (std::vector<std::string>{"CNY", "EUR", "JPY", "GBP", "USD"}));

  std::string out;
  ASSERT_EQ(Convert(text, &out), 0u);
  // The euro has no value on the 3rd: the 2nd is used for every currency.
  EXPECT_NE(out.find("Date = 2005-03-02T17:00:00Z\r\n"), std::string::npos);
  EXPECT_NEAR(Rate(out, "JPY"), 0.871234 / 0.00630018, 1e-7);
  EXPECT_NEAR(Rate(out, "XDR"), 0.871234, 1e-12);
  EXPECT_EQ(Rate(out, "EUR"), 1);
  EXPECT_EQ(out.find("EUR = 1.00"), std::string::npos);
}

TEST_F(Sdrfeed, CommaSeparatedFields) {
  std::vector<std::vector<double>> values;
  // Each comma ends a field: an empty one is a missing value, not a shift of the others.
  EXPECT_EQ(Codes(Report(kTwoDays, {"Euro,,0.87", "\"U.S. Dollar\", 0.66 , 0.67", "\"Japanese Yen\",0.0063"}), &values),
            (std::vector<std::string>{"EUR", "USD", "JPY"}));
  EXPECT_EQ(values, (std::vector<std::vector<double>>{{0, 0.87}, {0.66, 0.67}, {0.0063}}));
  std::string out;
  ASSERT_EQ(Convert(Report(kTwoDays, {"Euro,0.9,,", "\"U.S. Dollar\",0.6,0.67"}), &out), 0u);
  EXPECT_NEAR(Rate(out, "USD"), 1.5, 1e-12);
  EXPECT_NE(out.find("Date = 2005-03-01T17:00:00Z\r\n"), std::string::npos);
}

TEST_F(Sdrfeed, RowsEnd) {
  // The end of the text ends the last line.
  EXPECT_EQ(Codes("\"SDRs per Currency unit\"\nCurrency \"May 2, 2005\"\nEuro 0.87"), (std::vector<std::string>{"EUR"}));
  // A word that is no value ends the rows; the rows before it stay.
  EXPECT_EQ(Codes(Report(kTwoDays, {"Euro 0.87 0.88", "\"U.S. Dollar\" NA 0.66", "\"Japanese Yen\" 0.0063 0.0064"})),
            (std::vector<std::string>{"EUR"}));
  // The second block's heading ends them even with more words after it.
  EXPECT_EQ(Codes(Report(kTwoDays, {"Euro 0.87 0.88", "\"Currency units per SDR for March\"", "\"U.S. Dollar\" 1 2"})),
            (std::vector<std::string>{"EUR"}));
  // So does a currency seen before.
  EXPECT_EQ(Codes(Report(kTwoDays, {"Euro 0.87 0.88", "\"U.S. Dollar\" 1 2", "Euro 1 1", "\"Japanese Yen\" 1 2"})),
            (std::vector<std::string>{"EUR", "USD"}));
}

TEST_F(Sdrfeed, ValuesThatAreNoRates) {
  std::vector<std::vector<double>> values;
  Codes(Report(kTwoDays, {"Euro -0.87 1e-1 nan inf 0x1A 0 \"\" \" x\" n.a. \"N. A.\" 0.5"}), &values);
  ASSERT_EQ(values.size(), 1u);
  // Numbers as strtod reads them; zero, nan and infinity are missing values.
  EXPECT_EQ(values[0], (std::vector<double>{-0.87, 0.1, 0, 0, 26, 0, 0, 0, 0, 0, 0.5}));
}

TEST_F(Sdrfeed, Header) {
  SdrHeader header{};
  // Dates outside the block, or not second on their line, are no header.
  EXPECT_EQ(FindDateHeader("Currency \"May 2, 2005\"\n", &header), nullptr);
  EXPECT_EQ(FindDateHeader("\"SDRs per currency unit\"\n\"May 2, 2005\"\n", &header), nullptr);
  EXPECT_EQ(FindDateHeader("\"SDRs per currency unit\"\nCurrency \"May 2, 2005\" x\n", &header), nullptr);
  EXPECT_EQ(FindDateHeader("\"SDRs per currency unit\"\n\"Currency units per SDR\"\nCurrency \"May 2, 2005\"\n", &header),
            nullptr);
  // 32 dates are a header; 33 are none.
  std::string dates;
  for (int i = 1; i <= 32; ++i) dates += " \"May " + std::to_string(i <= 31 ? i : 31) + ", 2005\"";
  std::string text = "\"SDRs per Currency unit\"\nCurrency" + dates + "\n";
  EXPECT_NE(FindDateHeader(text.c_str(), &header), nullptr);
  EXPECT_EQ(header.count, 32u);
  text = "\"SDRs per Currency unit\"\nCurrency" + dates + " \"June 1, 2005\"\nEuro 1\n";
  EXPECT_EQ(FindDateHeader(text.c_str(), &header), nullptr);
  EXPECT_EQ(Convert(text), 0x8004C001u);

  FILETIME date{};
  EXPECT_TRUE(ParseSdrDate("september 30,2005", &date));
  EXPECT_FALSE(ParseSdrDate("February 30, 2005", &date));
  EXPECT_FALSE(ParseSdrDate("May 2, 1899", &date));
  EXPECT_FALSE(ParseSdrDate("May", &date));
}

TEST_F(Sdrfeed, WithoutAEuroValueNothingIsWritten) {
  EXPECT_EQ(Convert(Report(kTwoDays, {})), 0x8004C003u);
  EXPECT_EQ(Convert(Report(kTwoDays, {"\"U.S. Dollar\" 0.66 0.67"})), 0x8004C003u);
  EXPECT_EQ(Convert(Report(kTwoDays, {"Euro n.a. 0", "\"U.S. Dollar\" 0.66 0.67"})), 0x8004C003u);
}

TEST(SdrfeedProgram, ConvertsTheFixture) {
  feedtest::ExpectFixtureConverts("sdrfeed", "rates.tsv", "rates.expected");
}

TEST(SdrfeedProgram, Failures) {
  const std::string page = "\r\n <html><body>Service unavailable</body></html>";
  feedtest::Run run = feedtest::RunFilter("sdrfeed", page);
  EXPECT_EQ(run.code, 0x8004C000u);
  EXPECT_EQ(run.file, page);
  EXPECT_EQ(feedtest::RunFilter("sdrfeed", "").code, 0x8004C001u);
  EXPECT_EQ(feedtest::RunFilter("sdrfeed", "x", {}).code, 0x80042002u);
}

}  // namespace
