// Points in time for tests, worked out without the code under test: UTC wall times as FILETIME
// (100 ns since 1601) and as SYSTEMTIME.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/types.h"

namespace vtxtest {

constexpr uint64_t kSecond = 10000000;  // FILETIME units
constexpr uint64_t kUnixEpoch = 11644473600ull * kSecond;

inline FILETIME Utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  int64_t units = static_cast<int64_t>(timegm(&tm)) * static_cast<int64_t>(kSecond) + int64_t{ms} * 10000;
  return U64ToFileTime(static_cast<uint64_t>(units + static_cast<int64_t>(kUnixEpoch)));
}

inline SYSTEMTIME SysTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(y);
  t.wMonth = static_cast<WORD>(mo);
  t.wDay = static_cast<WORD>(d);
  t.wHour = static_cast<WORD>(h);
  t.wMinute = static_cast<WORD>(mi);
  t.wSecond = static_cast<WORD>(s);
  t.wMilliseconds = static_cast<WORD>(ms);
  return t;
}

// Seconds since 1970 of a FILETIME.
inline int64_t UnixSeconds(const FILETIME& ft) {
  return (static_cast<int64_t>(FileTimeToU64(ft)) - static_cast<int64_t>(kUnixEpoch)) / static_cast<int64_t>(kSecond);
}

// The offset from UTC of the present moment, in seconds east.
inline long PresentOffset() {
  time_t now = time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_gmtoff;
}

// A UTC time text ("2005-02-28T13:05:09Z") as local time by the present offset, carrying it
// ("2005-02-28T14:05:09+01:00" asked in winter in Berlin).
inline std::string LocalByPresentOffset(const char* utc) {
  std::tm tm{};
  if (std::sscanf(utc, "%d-%d-%dT%d:%d:%dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                  &tm.tm_sec) != 6)
    return "bad time " + std::string(utc);
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  const long offset = PresentOffset();
  time_t t = timegm(&tm) + offset;
  std::tm out{};
  gmtime_r(&t, &out);
  const int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60 % (24 * 60));
  char text[96];
  std::snprintf(text, sizeof text, "%d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", out.tm_year + 1900, out.tm_mon + 1,
                out.tm_mday, out.tm_hour, out.tm_min, out.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

}  // namespace vtxtest
