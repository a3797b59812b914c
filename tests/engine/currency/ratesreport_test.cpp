// The rates information report: its time lines in the locale's long date and time, and one group
// per data source.
#include "engine/currency/ratesreport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/dates.h"
#include "tests/support/env.h"
#include "tests/support/paths.h"

namespace {

constexpr LCID kEnglishUs = 0x0409;

class RatesReport : public ::testing::Test {
 protected:
  void SetUp() override {
    // Before the first conversion: the zone is read once. Central Europe changes its offset in
    // the year, so a time of the other half shows whether the rules of its own moment apply.
    zone_ = std::make_unique<vtxtest::ScopedEnv>("TZ", "Europe/Berlin");
    module_ = LoadLibraryA(vtxtest::SourcePath("resources/0409/vantrex.cat").c_str());
    ASSERT_NE(module_, nullptr);
    rates_.Created = vtxtest::Utc(2024, 1, 15, 12, 0);  // winter: UTC+1
    rates_.Expires = vtxtest::Utc(2024, 7, 15, 12, 5);  // summer: UTC+2
  }
  void TearDown() override { FreeLibrary(module_); }
  std::string Build() { return BuildRatesInformation(rates_, module_, kEnglishUs); }

  std::unique_ptr<vtxtest::ScopedEnv> zone_;
  HMODULE module_ = nullptr;
  CRatesData rates_;
};

const std::string kTimes =
    "Rates created: Monday, January 15, 2024 - 1:00:00 PM\r\n"
    "Rates expire: Monday, July 15, 2024 - 2:05:00 PM";

TEST_F(RatesReport, OneGroupPerSourceEntry) {
  struct Case {
    const char* what;
    const char* source;
    const char* copyright;
    const char* message;
    std::string groups;
  };
  const Case cases[] = {
      {"two sources, one copyright, no message", "ECB|Fed", "(c) ECB", nullptr,
       "\r\n\r\nRates from: ECB\r\nCopyright: (c) ECB\r\nMessage: -"
       "\r\n\r\nRates from: Fed\r\nCopyright: -\r\nMessage: -"},
      {"all texts empty: the time lines alone", "", "", "", ""},
      {"a source without a name", "|Fed", "", "Late|", 
       "\r\n\r\nRates from: Data source\r\nCopyright: -\r\nMessage: Late"
       "\r\n\r\nRates from: Fed\r\nCopyright: -\r\nMessage: -"},
      {"more messages than sources", "ECB", "", "a|b",
       "\r\n\r\nRates from: ECB\r\nCopyright: -\r\nMessage: a"
       "\r\n\r\nRates from: Data source\r\nCopyright: -\r\nMessage: b"},
  };
  for (const Case& c : cases) {
    rates_.Source = c.source;
    rates_.Copyright = c.copyright;
    rates_.Message = c.message;
    EXPECT_EQ(Build(), kTimes + c.groups) << c.what;
  }
}

TEST_F(RatesReport, ZeroTimesAndTheDateAlone) {
  rates_.DateNoTime = 1;
  EXPECT_EQ(Build(), "Rates created: Monday, January 15, 2024\r\nRates expire: Monday, July 15, 2024 - 2:05:00 PM");
  rates_.Created = FILETIME{};
  rates_.Expires = FILETIME{};
  EXPECT_EQ(Build(), "Rates created: -\r\nRates expire: -");
}

TEST_F(RatesReport, LinesWithoutTheirStringAreLeftOut) {
  rates_.Source = "ECB";
  EXPECT_EQ(BuildRatesInformation(rates_, nullptr, kEnglishUs), "");
}

}  // namespace
