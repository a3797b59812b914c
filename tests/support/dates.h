// Points in time for tests, worked out without the code under test: UTC wall times as FILETIME
// (100 ns since 1601) and as SYSTEMTIME.
#pragma once
#include <ctime>
#include <cstdint>

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

}  // namespace vtxtest
