#include "filters/framework/ratetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <unistd.h>

#include "tests/support/dates.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace {

std::string Text(const FILETIME& ft) {
  std::time_t s = static_cast<std::time_t>(vtxtest::UnixSeconds(ft));
  std::tm tm{};
  gmtime_r(&s, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

TEST(TimeZoneTable, HoldsTheZonesInTheirOrder) {
  EXPECT_EQ(TimeZoneTable[0].index, 175u);
  EXPECT_STREQ(TimeZoneTable[0].keyName, "Afghanistan Standard Time");
  EXPECT_STREQ(TimeZoneTable[0].secondName, "Afghanistan");
  EXPECT_EQ(TimeZoneTable[kTimeZoneTableRows - 1].index, 240u);
  std::set<uint32_t> indices;
  for (const TimeZoneRow& row : TimeZoneTable) indices.insert(row.index);
  EXPECT_EQ(indices.size(), kTimeZoneTableRows);

  const TimeZoneRow* r = FindTimeZoneRow(158);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->secondName, "Saudi Arabia Standard Time");
  EXPECT_STREQ(r->thirdName, "Arab");
  r = FindTimeZoneRow(13);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->keyName, "Mexico Standard Time 2");
  EXPECT_EQ(r->secondName, nullptr);
  r = FindTimeZoneRow(207);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->keyName, "North Asia Standard Time");
  EXPECT_EQ(r->secondName, nullptr);
  EXPECT_EQ(FindTimeZoneRow(999), nullptr);
  EXPECT_EQ(FindTimeZoneRow(360), nullptr);
}

TEST(LocalTimeToUtc, ConvertsTheFiltersZones) {
  struct Case {
    uint32_t zone;
    int32_t extra;
    FILETIME local;
    const char* utc;
  } cases[] = {
      {110, 0, vtxtest::Utc(2005, 1, 10, 14, 15), "2005-01-10 13:15:00"},  // eurfeed, winter
      {110, 0, vtxtest::Utc(2005, 7, 1, 14, 15), "2005-07-01 12:15:00"},   // eurfeed, summer
      {145, 43200, vtxtest::Utc(2005, 3, 1, 0, 0), "2005-03-01 09:00:00"},  // sovfeed: noon in Moscow
      {145, 43200, vtxtest::Utc(2005, 7, 1, 0, 0), "2005-07-01 08:00:00"},
      {95, 43200, vtxtest::Utc(2005, 8, 1, 0, 0), "2005-08-01 10:00:00"},   // tolfeed
      {35, 0, vtxtest::Utc(2005, 1, 3, 12, 0), "2005-01-03 17:00:00"},      // the New York filters
      {35, 0, vtxtest::Utc(2005, 7, 1, 12, 0), "2005-07-01 16:00:00"},
      {360, 0, vtxtest::Utc(2005, 3, 1, 12, 34), "2005-03-01 12:34:00"},
      {360, -3600, vtxtest::Utc(2005, 3, 1, 12, 34), "2005-03-01 11:34:00"},
      {13, 0, vtxtest::Utc(2005, 1, 10, 12, 0), "2005-01-10 19:00:00"},     // renamed key: Chihuahua
  };
  for (const Case& c : cases) {
    FILETIME t = c.local;
    ASSERT_TRUE(LocalTimeToUtc(&t, c.zone, c.extra)) << c.zone;
    EXPECT_EQ(Text(t), c.utc) << c.zone;
  }
}

TEST(LocalTimeToUtc, UnknownZoneFailsAndLeavesTheTime) {
  FILETIME t = vtxtest::Utc(2005, 3, 1, 12, 0);
  EXPECT_FALSE(LocalTimeToUtc(&t, 999, 0));
  EXPECT_EQ(Text(t), "2005-03-01 12:00:00");
  EXPECT_FALSE(LocalTimeToUtc(nullptr, 110, 0));
  // A result before 1601 is refused too.
  t = U64ToFileTime(10);
  EXPECT_FALSE(LocalTimeToUtc(&t, 360, -1));
  EXPECT_EQ(FileTimeToU64(t), 10u);
}

TEST(LocalTimeToUtc, WithoutRulesOnTheSystemTheFixedBiasHolds) {
  vtxtest::TempDir empty;
  vtxtest::ScopedEnv tzdir("TZDIR", empty.path());
  FILETIME t = vtxtest::Utc(2005, 1, 3, 12, 0);
  ASSERT_TRUE(LocalTimeToUtc(&t, 35, 0));  // Bias 300
  EXPECT_EQ(Text(t), "2005-01-03 17:00:00");
  // Summer time is unknown here: standard time all year.
  t = vtxtest::Utc(2005, 7, 1, 14, 15);
  ASSERT_TRUE(LocalTimeToUtc(&t, 110, 0));
  EXPECT_EQ(Text(t), "2005-07-01 13:15:00");
  t = vtxtest::Utc(2005, 7, 1, 0, 0);
  ASSERT_TRUE(LocalTimeToUtc(&t, 190, 43200));  // India, Bias -330
  EXPECT_EQ(Text(t), "2005-07-01 06:30:00");
}

// Every zone of the table converts, and agrees with the C library's reading of the same tzdata.
TEST(LocalTimeToUtc, EveryTableZoneAgreesWithTheCLibrary) {
  const int dates[][3] = {{1999, 1, 15}, {2005, 3, 1}, {2005, 7, 1}, {2009, 10, 20}, {2012, 7, 1},
                          {2016, 12, 1}, {2024, 6, 15}, {2045, 1, 10}, {2045, 8, 10}};
  vtxtest::ScopedEnv tz("TZ", "UTC");
  uint32_t compared = 0;
  for (const TimeZoneRow& row : TimeZoneTable) {
    vtx::tz::ZoneInformation zone;
    bool found = false;
    for (const char* name : {row.keyName, row.secondName, row.thirdName})
      if (name && ReadZoneInformation(&zone, name)) {
        found = true;
        break;
      }
    ASSERT_TRUE(found) << row.keyName;
    // The C library needs the zone's own file; some systems keep only the newer name of a zone.
    std::string file = std::string("/usr/share/zoneinfo/") + zone.zoneId;
    if (access(file.c_str(), R_OK) != 0) continue;
    setenv("TZ", zone.zoneId, 1);
    tzset();
    ++compared;
    for (const auto& d : dates) {
      std::tm tm{};
      tm.tm_year = d[0] - 1900;
      tm.tm_mon = d[1] - 1;
      tm.tm_mday = d[2];
      tm.tm_hour = 12;
      tm.tm_isdst = -1;
      std::time_t expected = mktime(&tm);
      FILETIME t = vtxtest::Utc(d[0], d[1], d[2], 12, 0);
      ASSERT_TRUE(LocalTimeToUtc(&t, row.index, 0)) << row.keyName;
      EXPECT_EQ(vtxtest::UnixSeconds(t), static_cast<int64_t>(expected))
          << row.keyName << " (" << zone.zoneId << ") " << d[0] << "-" << d[1] << "-" << d[2];
    }
  }
  EXPECT_GT(compared, kTimeZoneTableRows / 2);
}

}  // namespace
