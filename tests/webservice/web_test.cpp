// The web library called directly, on a private store.
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "engine/foundation/timetext.h"
#include "engine/foundation/servercommands.h"
#include "tests/support/dates.h"
#include "tests/webservice/web_fixture.h"

using namespace vtxtest;
using Hulvane::Web::Services::Vantrex;

namespace {

// The server as the hit counts reach it: uses by code, and the number of hand-overs tried.
using Hits = std::map<std::string, uint64_t>;
Hits g_hits;
int g_hitAttempts = 0;
HRESULT g_hitAnswer = S_OK;
HRESULT RecordHit(UINT msg, WPARAM w, LPARAM l, DWORD timeout, DWORD* result) {
  EXPECT_EQ(msg, WM_VX_COUNTHIT);
  EXPECT_EQ(timeout, kHitCountTimeoutMs);
  EXPECT_NE(l, 1);  // one use travels as 0, as it always has
  ++g_hitAttempts;
  if (FAILED(g_hitAnswer)) return g_hitAnswer;
  std::string code;
  for (int i = 0; i < 4; ++i)
    if (char c = static_cast<char>((w >> (8 * i)) & 0xFF)) code += c;
  g_hits[code + (w >> 24 ? "+" : "")] += l ? static_cast<uint64_t>(l) : 1;
  if (result) *result = 1;
  return S_OK;
}

class WebOps : public WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    g_pfnSendVXVMessageTimeout = nullptr;
    SendHitCounts();  // what earlier tests counted goes nowhere
    g_hits.clear();
    g_hitAttempts = 0;
    g_hitAnswer = S_OK;
    g_pfnSendVXVMessageTimeout = RecordHit;
  }
  void TearDown() override { g_pfnSendVXVMessageTimeout = nullptr; }
  // What the server has received once the counts so far are handed over.
  static Hits Sent() {
    EXPECT_EQ(SendHitCounts(), S_OK);
    Hits h = g_hits;
    g_hits.clear();
    return h;
  }

  // The exception of a call, as "kind|message|param".
  template <class F>
  static std::string Fails(F f) {
    try {
      f();
    } catch (const WebException& e) {
      return std::string(e.TypeName()) + "|" + e.what() + "|" + e.GetParamName();
    }
    return "no exception";
  }
  Vantrex v;
  std::string Str(const char* from, const char* to, double amount, bool rounding, const char* format) {
    return N(v.ConvertToStr(M("k"), M(from), M(to), amount, rounding, U(format), M(nullptr), M(nullptr)));
  }
};

}  // namespace

TEST_F(WebOps, ConvertToNumConvertsByCodeOrNumericCodeAndRounds) {
  EXPECT_DOUBLE_EQ(v.ConvertToNum(M("k"), M("EUR"), M("USD"), 10, false, M(nullptr), M("")), 12.5);
  EXPECT_DOUBLE_EQ(v.ConvertToNum(M(nullptr), M("978"), M("usd"), 10, false, M(""), M(nullptr)), 12.5);
  EXPECT_DOUBLE_EQ(v.ConvertToNum(M("k"), M("USD"), M("GBP"), 1, false, M(nullptr), M(nullptr)), 0.64);
  EXPECT_DOUBLE_EQ(v.ConvertToNum(M("k"), M("EUR"), M("JPY"), 1.2345, true, M(nullptr), M(nullptr)), 198);
  EXPECT_DOUBLE_EQ(v.ConvertToNum(M("k"), M("JPY"), M("EUR"), 1, true, M(nullptr), M(nullptr)), 0.01);
  EXPECT_DOUBLE_EQ(v.RateNum(M("k"), M("GBP"), M("USD"), false, M(nullptr), M(nullptr)), 1.5625);
  EXPECT_EQ(Sent(), (Hits{{"EUR", 4}, {"USD", 4}, {"GBP", 2}, {"JPY", 2}}));
}

TEST_F(WebOps, ArgumentErrorsNameTheirParameter) {
  struct {
    std::function<void()> call;
    const char* expected;
  } cases[] = {
      {[&] { v.ConvertToNum(M("k"), M(nullptr), M("USD"), 1, false, M(nullptr), M(nullptr)); },
       "System.ArgumentNullException|Value cannot be null. Parameter name: FromCurrency|FromCurrency"},
      {[&] { v.RateNum(M("k"), M("EUR"), M(nullptr), false, M(nullptr), M(nullptr)); },
       "System.ArgumentNullException|Value cannot be null. Parameter name: ToCurrency|ToCurrency"},
      {[&] { v.ConvertToStr(M("k"), M("EUR"), M("USD"), 1, false, M(nullptr), M(nullptr), M(nullptr)); },
       "System.ArgumentNullException|Value cannot be null. Parameter name: Format|Format"},
      {[&] { v.RateTimeUT(M("k"), M("EUR"), M(nullptr), M(nullptr), M(nullptr), M(nullptr)); },
       "System.ArgumentNullException|Value cannot be null. Parameter name: Currency|Currency"},
      {[&] { v.ConvertToNum(M("k"), M("EUR"), M("USD"), 1, false, M("2005-01-01"), M(nullptr)); },
       "System.ArgumentException|Value does not fall within the expected range.|date"},
      {[&] { v.ConvertToStr(M("k"), M("EUR"), M("USD"), 1, false, M("+"), M(nullptr), M("bid")); },
       "System.ArgumentException|Value does not fall within the expected range.|type"},
      {[&] { v.ConvertToNum(M("k"), M("EUR"), M("XXX"), 1, false, M(nullptr), M(nullptr)); },
       "System.ArgumentException|Currency not found.|"},
      {[&] { v.ConvertToNum(M("k"), M("CHF"), M("EUR"), 1, false, M(nullptr), M(nullptr)); },
       "System.ArgumentException|Currency rate not set.|"},
      {[&] { v.ConvertToNum(M("k"), M("EUR"), M("USD"), NAN, false, M(nullptr), M(nullptr)); },
       "System.ArgumentException|The amount is not a finite number.|amount"},
      {[&] { v.ConvertToNum(M("k"), M("EUR"), M("JPY"), 1e307, false, M(nullptr), M(nullptr)); },
       "System.ArgumentException|The result is not a finite number.|"},
      {[&] { v.ConvertToStr(M("k"), M("USD;GBP"), M("EUR;JPY"), 1, false, M("+"), M(nullptr), M(nullptr)); },
       "System.ArgumentException|Only one side may hold a list of currencies.|"},
      {[&] { v.ConvertToStr(M("k"), M("EUR"), M("USD;XXX"), 1, false, M("+"), M(nullptr), M(nullptr)); },
       "System.ArgumentException|Currency not found.|"},
      {[&] { v.RateTimeLocal(M("k"), M("EUR"), M("USD"), M("latest"), M(nullptr), M(nullptr)); },
       "System.ArgumentException|Value does not fall within the expected range.|priority"},
      {[&] { v.RateTimeUT(M("k"), M("EUR"), M("XXX"), M(nullptr), M(nullptr), M(nullptr)); },
       "System.ArgumentException|Currency not found.|"},
  };
  for (const auto& c : cases) EXPECT_EQ(Fails(c.call), c.expected);
  // Reserved arguments are refused before anything is counted; unknown codes are never counted.
  EXPECT_EQ(Sent(), (Hits{{"EUR", 4}, {"CHF", 1}, {"JPY", 1}, {"USD", 1}}));
}

TEST_F(WebOps, ConvertToStrPlainNumbersAndLists) {
  EXPECT_EQ(Str("EUR", "USD", 10, false, "+"), "12.5");
  EXPECT_EQ(Str("EUR", "JPY", 1.23456, false, "+"), "197.5296");
  EXPECT_EQ(Str("EUR", "JPY", 1.23456, true, "+"), "198");
  Sent();
  EXPECT_EQ(Str("EUR", "USD;GBP;JPY", 2, false, "+"), "2.5;1.6;320");
  EXPECT_EQ(Sent(), (Hits{{"EUR", 1}, {"USD", 1}, {"GBP", 1}, {"JPY", 1}}));
  EXPECT_EQ(Str("USD;GBP", "EUR", 2, false, "+"), "1.6;2.5");
  EXPECT_EQ(Sent(), (Hits{{"EUR", 1}, {"USD", 1}, {"GBP", 1}}));
  EXPECT_EQ(N(v.RateStr(M("k"), M("EUR"), M("USD"), true, M("+"), M(nullptr), M(nullptr))), "1.25");

  SetString("Separator", "|");
  EXPECT_EQ(Str("EUR", "USD|GBP", 2, false, "+"), "2.5|1.6");
  for (const char* bad : {"", "x", "7", " "}) {
    SetString("Separator", bad);
    EXPECT_EQ(Str("EUR", "USD;GBP", 2, false, "+"), "2.5;1.6") << "separator '" << bad << "'";
  }
  std::string many = "USD";
  for (int i = 1; i < 1001; ++i) many += ";USD";
  EXPECT_NE(Fails([&] { Str("EUR", many.c_str(), 1, false, "+"); }).find("more than 1000"), std::string::npos);
}

// The calls never wait for the server: counts that it did not take are handed over later, exactly
// once; with no server running nobody counts them.
TEST_F(WebOps, CountsTheServerDidNotTakeWaitForTheNextHandOver) {
  for (int i = 0; i < 3; ++i) Str("EUR", "USD;GBP;JPY", 2, false, "+");
  g_hitAnswer = E_TIMEOUT;
  EXPECT_EQ(SendHitCounts(), E_TIMEOUT);
  EXPECT_EQ(g_hitAttempts, 1);  // one time-out ends the round
  Str("EUR", "USD", 2, false, "+");
  g_hitAnswer = S_OK;
  EXPECT_EQ(Sent(), (Hits{{"EUR", 4}, {"USD", 4}, {"GBP", 3}, {"JPY", 3}}));
  EXPECT_EQ(Sent(), Hits{});

  Str("EUR", "USD", 2, false, "+");
  g_hitAnswer = E_SERVER_UNAVAILABLE;
  EXPECT_EQ(SendHitCounts(), E_SERVER_UNAVAILABLE);
  g_hitAnswer = S_OK;
  EXPECT_EQ(Sent(), Hits{});
}

TEST_F(WebOps, ConvertToStrFormatsThroughTheLocales) {
  // English (the default locale): symbol before the amount.
  EXPECT_EQ(Str("EUR", "USD", 987.6, true, ""), "1,234.50");
  EXPECT_EQ(Str("EUR", "USD", 987.6, true, ">"), "$1,234.50");
  EXPECT_EQ(Str("EUR", "USD", 987.6, true, "<"), "USD 1,234.50");
  EXPECT_EQ(Str("EUR", "USD", -2, true, ">"), "($2.50)");
  // German by short name, by its LCID in decimal and in hexadecimal.
  std::string de = Str("USD", "EUR", 1234.5 * 1.25, true, "DEU>");
  EXPECT_EQ(de, "1.234,50 \xE2\x82\xAC") << de;
  EXPECT_EQ(Str("USD", "EUR", 1234.5 * 1.25, true, "1031>"), de);
  EXPECT_EQ(Str("USD", "EUR", 1234.5 * 1.25, true, "0x407>"), de);
  EXPECT_EQ(Str("USD", "EUR", 1234.5 * 1.25, true, "de>"), de);
  // Arabic-script locales print Latin digits, with the separators that go with them.
  EXPECT_EQ(Str("EUR", "USD", 987654, true, "ARA<"), "USD 1,234,567.50");
  // A name followed by a single character loses the name; separators before a name stay.
  EXPECT_EQ(Str("EUR", "USD", 987.6, true, "DEU."), "1,234.50");
  EXPECT_EQ(Str("EUR", "USD", 987.6, true, ",.DEU"), "1.234,50");
  EXPECT_EQ(Str("EUR", "USD", 987.6, true, "Nowhere"), "1,234.50");
  // All digits when rounding is off; the ASCII form with character references.
  EXPECT_EQ(Str("EUR", "JPY", 1.23456, false, ""), "197.5296");
  EXPECT_EQ(Str("EUR", "USD", 7.99968, false, ""), "9.9996");
  EXPECT_EQ(Str("USD", "EUR", 1.25, true, "DEU>&"), "1,00 &#8364;");
  // A surrogate pair is one separator.
  EXPECT_EQ(Str("EUR", "USD", 987.6, true, "\xF0\x9F\x92\xB6"), "1,234\xF0\x9F\x92\xB6" "50");
}

TEST_F(WebOps, RateTimesPickTheOldestOrNewestSetTime) {
  // Stamp USD and GBP with known times; JPY never set.
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  auto set = [&](const char* code, uint64_t t) {
    s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind(code))]->ftLastChange = U64ToFileTime(t);
  };
  FILETIME winter, summer;
  ASSERT_TRUE(StringToTime("2005-02-28T13:05:09Z", &winter));
  ASSERT_TRUE(StringToTime("2005-07-17T10:00:00Z", &summer));
  const uint64_t kWinter = FileTimeToU64(winter), kSummer = FileTimeToU64(summer);
  set("USD", kWinter);
  set("GBP", kSummer);
  set("JPY", 0);
  ASSERT_EQ(0u, s.SaveINI());
  EXPECT_EQ(N(v.RateTimeUT(M("k"), M("USD"), M("GBP"), M(nullptr), M(nullptr), M(nullptr))), "2005-02-28T13:05:09Z");
  std::string newest = N(v.RateTimeUT(M("k"), M("USD"), M("826"), M("NEWEST"), M(nullptr), M(nullptr)));
  EXPECT_EQ(newest.substr(0, 10), "2005-07-17");
  EXPECT_EQ(N(v.RateTimeUT(M("k"), M("JPY"), M("USD"), M("newest"), M(""), M(""))), "2005-02-28T13:05:09Z");
  // Local time, of a moment in winter and of one in summer, carries the offset of the present moment.
  EXPECT_EQ(N(v.RateTimeLocal(M("k"), M("USD"), M("USD"), M("Oldest"), M(nullptr), M(nullptr))),
            LocalByPresentOffset("2005-02-28T13:05:09Z"));
  EXPECT_EQ(N(v.RateTimeLocal(M("k"), M("GBP"), M("GBP"), M(nullptr), M(nullptr), M(nullptr))),
            LocalByPresentOffset("2005-07-17T10:00:00Z"));
  // Never set: the current time.
  std::string now = N(v.RateTimeUT(M("k"), M("JPY"), M("CHF"), M(nullptr), M(nullptr), M(nullptr)));
  FILETIME parsed;
  ASSERT_TRUE(StringToTime(now.c_str(), &parsed)) << now;
  EXPECT_LT(std::llabs(SecondsSince(parsed)), 5) << now;
}
