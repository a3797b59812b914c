#include "platform/timezone.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/support/dates.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace {

vtx::tz::ZoneInformation Zone(const char* key) {
  vtx::tz::ZoneInformation z;
  EXPECT_TRUE(vtx::tz::ReadWindowsZone(key, &z)) << key;
  return z;
}

TEST(WindowsZone, KeyNamesLeadToIanaZonesWithTheirBiases) {
  vtx::tz::ZoneInformation z = Zone("W. Europe Standard Time");
  EXPECT_STREQ(z.zoneId, "Europe/Berlin");
  EXPECT_EQ(z.Bias, -60);
  EXPECT_EQ(z.DaylightBias, -60);
  z = Zone("Eastern Standard Time");
  EXPECT_EQ(z.Bias, 300);
  z = Zone("India Standard Time");
  EXPECT_EQ(z.Bias, -330);
  EXPECT_EQ(z.DaylightBias, 0);
  // Keys that Windows renamed still resolve.
  EXPECT_STREQ(Zone("Mexico Standard Time").zoneId, "America/Mexico_City");
  EXPECT_STREQ(Zone("Mid-Atlantic Standard Time").zoneId, "Etc/GMT+2");

  vtx::tz::ZoneInformation none;
  for (const char* key : {"", "Russian", "Nowhere Standard Time"})
    EXPECT_FALSE(vtx::tz::ReadWindowsZone(key, &none)) << key;
  EXPECT_FALSE(vtx::tz::ReadWindowsZone(nullptr, &none));
}

TEST(WindowsZone, ConvertsWithTheRulesOfTheDate) {
  struct Case {
    const char* key;
    FILETIME local;
    FILETIME utc;
  } cases[] = {
      {"W. Europe Standard Time", vtxtest::Utc(2005, 1, 10, 14, 15), vtxtest::Utc(2005, 1, 10, 13, 15)},
      {"W. Europe Standard Time", vtxtest::Utc(2005, 7, 1, 14, 15), vtxtest::Utc(2005, 7, 1, 12, 15)},
      // Moscow: +3 with summer time in 2005, +4 all year in 2012, +3 all year since 2014.
      {"Russian Standard Time", vtxtest::Utc(2005, 3, 1, 12, 0), vtxtest::Utc(2005, 3, 1, 9, 0)},
      {"Russian Standard Time", vtxtest::Utc(2005, 7, 1, 12, 0), vtxtest::Utc(2005, 7, 1, 8, 0)},
      {"Russian Standard Time", vtxtest::Utc(2012, 1, 10, 12, 0), vtxtest::Utc(2012, 1, 10, 8, 0)},
      {"Russian Standard Time", vtxtest::Utc(2016, 7, 1, 12, 0), vtxtest::Utc(2016, 7, 1, 9, 0)},
      {"Eastern Standard Time", vtxtest::Utc(2005, 1, 3, 12, 0), vtxtest::Utc(2005, 1, 3, 17, 0)},
      {"Eastern Standard Time", vtxtest::Utc(2005, 7, 1, 12, 0), vtxtest::Utc(2005, 7, 1, 16, 0)},
      // Southern hemisphere: summer time around the turn of the year.
      {"AUS Eastern Standard Time", vtxtest::Utc(2005, 1, 10, 12, 0), vtxtest::Utc(2005, 1, 10, 1, 0)},
      {"AUS Eastern Standard Time", vtxtest::Utc(2005, 7, 1, 12, 0), vtxtest::Utc(2005, 7, 1, 2, 0)},
      // Beyond the file's transitions the rule of its footer holds.
      {"W. Europe Standard Time", vtxtest::Utc(2100, 7, 1, 12, 0), vtxtest::Utc(2100, 7, 1, 10, 0)},
      {"W. Europe Standard Time", vtxtest::Utc(2100, 12, 1, 12, 0), vtxtest::Utc(2100, 12, 1, 11, 0)},
      // A wall time skipped at the spring change takes the offset before it; one that occurs
      // twice in autumn is taken the first time.
      {"W. Europe Standard Time", vtxtest::Utc(2005, 3, 27, 2, 30), vtxtest::Utc(2005, 3, 27, 1, 30)},
      {"W. Europe Standard Time", vtxtest::Utc(2005, 10, 30, 2, 30), vtxtest::Utc(2005, 10, 30, 0, 30)},
  };
  for (const Case& c : cases) {
    FILETIME out{};
    ASSERT_TRUE(vtx::tz::LocalToUtc(Zone(c.key), c.local, &out)) << c.key;
    EXPECT_EQ(vtxtest::UnixSeconds(out), vtxtest::UnixSeconds(c.utc)) << c.key << " at " << vtxtest::UnixSeconds(c.local);
  }
}

TEST(WindowsZone, SubSecondPartIsKept) {
  FILETIME local = U64ToFileTime(FileTimeToU64(vtxtest::Utc(2005, 1, 10, 14, 15)) + 1234567);
  FILETIME out{};
  ASSERT_TRUE(vtx::tz::LocalToUtc(Zone("W. Europe Standard Time"), local, &out));
  EXPECT_EQ(FileTimeToU64(out), FileTimeToU64(vtxtest::Utc(2005, 1, 10, 13, 15)) + 1234567);
}

TEST(WindowsZone, NoRulesOnTheSystemIsAFailure) {
  vtxtest::TempDir dir;
  vtxtest::ScopedEnv tzdir("TZDIR", dir.path());
  FILETIME out = U64ToFileTime(42);
  EXPECT_FALSE(vtx::tz::LocalToUtc(Zone("W. Europe Standard Time"), vtxtest::Utc(2005, 1, 10, 14, 15), &out));
  EXPECT_EQ(FileTimeToU64(out), 42u);
}

using vtxtest::WriteFile;

std::string Be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A version-2 file without transitions: one type and the rule in its footer.
std::string SlimZone(int32_t offset, const std::string& footer) {
  std::string header = std::string("TZif2") + std::string(15, '\0');
  std::string counts = Be32(0) + Be32(0) + Be32(0) + Be32(0) + Be32(1) + Be32(4);
  std::string type = Be32(static_cast<uint32_t>(offset)) + std::string(1, '\0') + std::string(1, '\0') + std::string("XST", 4);
  std::string block = header + counts + type;
  return block + block + "\n" + footer + "\n";
}

TEST(WindowsZone, ReadsSlimFilesAndRefusesBrokenOnes) {
  vtxtest::TempDir dir;
  vtxtest::ScopedEnv tzdir("TZDIR", dir.path());
  ASSERT_EQ(system(("mkdir -p '" + dir.path() + "/Europe' '" + dir.path() + "/America'").c_str()), 0);
  WriteFile(dir / "Europe/Berlin", SlimZone(3600, "CET-1CEST,M3.5.0,M10.5.0/3"));
  vtx::tz::ZoneInformation berlin = Zone("W. Europe Standard Time");
  FILETIME out{};
  ASSERT_TRUE(vtx::tz::LocalToUtc(berlin, vtxtest::Utc(2005, 7, 1, 14, 15), &out));
  EXPECT_EQ(vtxtest::UnixSeconds(out), vtxtest::UnixSeconds(vtxtest::Utc(2005, 7, 1, 12, 15)));
  ASSERT_TRUE(vtx::tz::LocalToUtc(berlin, vtxtest::Utc(2005, 1, 10, 14, 15), &out));
  EXPECT_EQ(vtxtest::UnixSeconds(out), vtxtest::UnixSeconds(vtxtest::Utc(2005, 1, 10, 13, 15)));

  // Quoted names and an explicit daylight offset.
  WriteFile(dir / "America/Sao_Paulo", SlimZone(-10800, "<-03>3<-02>2,M10.3.0/0,M2.3.0/0"));
  ASSERT_TRUE(vtx::tz::LocalToUtc(Zone("E. South America Standard Time"), vtxtest::Utc(2005, 1, 10, 12, 0), &out));
  EXPECT_EQ(vtxtest::UnixSeconds(out), vtxtest::UnixSeconds(vtxtest::Utc(2005, 1, 10, 14, 0)));

  for (const std::string& broken : {std::string("TZif2"), SlimZone(3600, "CET-1CEST,M3.5"), std::string("not a zone file"),
                                    SlimZone(3600, "CET-1CEST,M13.1.0,M10.5.0")}) {
    WriteFile(dir / "Europe/Berlin", broken);
    EXPECT_FALSE(vtx::tz::LocalToUtc(berlin, vtxtest::Utc(2005, 7, 1, 14, 15), &out));
  }
}

TEST(WindowsZone, ZoneIdsCannotLeaveTheZoneFolder) {
  vtx::tz::ZoneInformation z;
  std::snprintf(z.zoneId, sizeof z.zoneId, "../../etc/passwd");
  FILETIME out{};
  EXPECT_FALSE(vtx::tz::LocalToUtc(z, vtxtest::Utc(2005, 1, 1, 0, 0), &out));
  int32_t offset = 0;
  EXPECT_FALSE(vtx::tz::UtcOffsetAt("/etc/localtime", 0, &offset));
}

}  // namespace
