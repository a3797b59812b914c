#include "platform/systime.h"

#include <ctime>

#include "platform/errors.h"
#include "platform/native/syscalls.h"

namespace {

constexpr uint64_t kTicksPerSecond = kFileTimeTicksPerSecond;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86400ull;
constexpr int64_t kUnixEpochDays = static_cast<int64_t>(kUnixEpochFileTime / kTicksPerDay);

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

namespace vtx {

// H. Hinnant's algorithms.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

}  // namespace vtx

using vtx::CivilFromDays;
using vtx::DaysFromCivil;

void GetSystemTimeAsFileTime(FILETIME* out) {
  if (!out) return;
  timespec ts{};
  vtx::sys::ClockGettime(CLOCK_REALTIME, &ts);
  uint64_t t = kUnixEpochFileTime + static_cast<uint64_t>(ts.tv_sec) * kTicksPerSecond +
               static_cast<uint64_t>(ts.tv_nsec) / 100;
  *out = U64ToFileTime(t);
}

void GetSystemTime(SYSTEMTIME* out) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  FileTimeToSystemTime(&ft, out);
}

BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out) {
  if (!in || !out) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint64_t t = FileTimeToU64(*in);
  if (t >= kFileTimeLimit) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days = static_cast<int64_t>(t / kTicksPerDay);
  uint64_t rest = t % kTicksPerDay;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days - kUnixEpochDays, y, m, d);
  out->wYear = static_cast<WORD>(y);
  out->wMonth = static_cast<WORD>(m);
  out->wDay = static_cast<WORD>(d);
  out->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  out->wHour = static_cast<WORD>(rest / (3600 * kTicksPerSecond));
  out->wMinute = static_cast<WORD>(rest / (60 * kTicksPerSecond) % 60);
  out->wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
  out->wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (!in || !out || in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 ||
      in->wDay > kDays[in->wMonth - 1] + (in->wMonth == 2 && IsLeap(in->wYear) ? 1u : 0u) || in->wHour > 23 ||
      in->wMinute > 59 || in->wSecond > 59 || in->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days = DaysFromCivil(in->wYear, in->wMonth, in->wDay) + kUnixEpochDays;
  uint64_t t = static_cast<uint64_t>(days) * kTicksPerDay +
               ((in->wHour * 60ull + in->wMinute) * 60ull + in->wSecond) * kTicksPerSecond + in->wMilliseconds * 10000ull;
  *out = U64ToFileTime(t);
  return TRUE;
}
