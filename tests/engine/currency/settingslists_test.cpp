#include <gtest/gtest.h>

#include <string>

#include "engine/currency/settings.h"
#include "platform/heap.h"
#include "platform/systime.h"
#include "tests/support/dates.h"
#include "tests/support/storetest.h"

namespace {

std::string Take(char* text) {
  std::string s = text ? text : "<null>";
  if (text) GlobalFree(text);
  return s;
}

class SettingsListsTest : public vtxtest::PrivateStoreTest {
 protected:
  void SetUp() override {
    PrivateStoreTest::SetUp();
    ASSERT_TRUE(settings.Create(nullptr));
    settings.GetRates().Active.Empty();
  }
  void Add(const char* code, double rate, FILETIME lastChange) {
    CurrencyInfo rec;
    ASSERT_TRUE(settings.InitCurrencyInfo(rec, code));
    rec.dRate = rate;
    rec.ftLastChange = lastChange;
    ASSERT_NE(settings.Add(rec), nullptr);
  }

  CSettings settings;
  const FILETIME now = vtxtest::Utc(2024, 3, 15, 12);
};

TEST_F(SettingsListsTest, EmptyListHasNothingStaleAndNoTimes) {
  EXPECT_EQ(FileTimeToU64(settings.GetLastChange()), 0u);
  EXPECT_EQ(FileTimeToU64(settings.GetLeastRecentChange(&now)), 0u);
  uint32_t count = 9, floating = 9;
  EXPECT_EQ(Take(settings.GetLastChangeCurrencies(60, nullptr, &count, &floating, &now)), "<null>");
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(floating, 0u);
  EXPECT_EQ(Take(settings.GetNeverSetCurrencies(&count, &floating)), "<null>");
}

TEST_F(SettingsListsTest, FloatingCurrenciesOnlyAndTheirTimes) {
  Add("DEM", 1.95583, vtxtest::Utc(2024, 3, 1));   // euro area: skipped by the floating look-ups
  Add("XPF", 119.33, vtxtest::Utc(2024, 3, 2));    // pegged to the euro: skipped as well
  Add("USD", 1.08, vtxtest::Utc(2024, 3, 10));     // 5 days old
  Add("JPY", 160.0, vtxtest::Utc(2024, 3, 15, 11));  // 1 hour old
  Add("GBP", 0.0, vtxtest::Utc(2024, 3, 5));       // delivered without a rate
  Add("CHF", 0.95, FILETIME{});          // rate but never changed

  EXPECT_EQ(FileTimeToU64(settings.GetLastChange()), FileTimeToU64(vtxtest::Utc(2024, 3, 15, 11)));
  // CHF counts as changed now; GBP is the oldest floating record.
  EXPECT_EQ(FileTimeToU64(settings.GetLeastRecentChange(&now)), FileTimeToU64(vtxtest::Utc(2024, 3, 5)));

  FILETIME latest{};
  uint32_t count = 0, floating = 0;
  std::string stale = Take(settings.GetLastChangeCurrencies(86400, &latest, &count, &floating, &now));
  EXPECT_EQ(floating, 4u);
  // USD (5 days) and CHF (never changed: exactly as old as the limit); not JPY, not GBP (no rate).
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(stale.rfind("USD", 0), 0u) << stale;
  EXPECT_NE(stale.find("\tCHF"), std::string::npos) << stale;
  EXPECT_EQ(stale.find("JPY"), std::string::npos);
  EXPECT_EQ(stale.find("GBP"), std::string::npos);
  EXPECT_EQ(FileTimeToU64(latest), FileTimeToU64(vtxtest::Utc(2024, 3, 14, 12))) << "the most recent among those listed: CHF at now - limit";

  std::string never = Take(settings.GetNeverSetCurrencies(&count, &floating));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(floating, 4u);
  EXPECT_EQ(never.rfind("GBP", 0), 0u) << never;
}

TEST_F(SettingsListsTest, EntriesCarryTheEnglishName) {
  Add("USD", 1.08, vtxtest::Utc(2024, 3, 1));
  uint32_t count = 0;
  std::string stale = Take(settings.GetLastChangeCurrencies(60, nullptr, &count, nullptr, &now));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(stale.rfind("USD (", 0), 0u) << stale;
  EXPECT_EQ(stale.back(), ')');
}

TEST_F(SettingsListsTest, OutOfMemoryGivesNoList) {
  Add("USD", 1.08, vtxtest::Utc(2024, 3, 1));
  ASSERT_NE(settings.GetLocaleList(), nullptr);
  uint32_t count = 7;
  vtx::heap::FailAfter(0);
  char* text = settings.GetLastChangeCurrencies(60, nullptr, &count, nullptr, &now);
  vtx::heap::FailAfter(-1);
  EXPECT_EQ(Take(text), "<null>");
}

}  // namespace
