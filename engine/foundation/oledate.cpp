#include "engine/foundation/oledate.h"

#include "platform/systime.h"

namespace {
// Days before each month of a year that is not a leap year.
const int _afxMonthDays[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
}  // namespace

BOOL _AfxOleDateFromTm(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, double* date) {
  if (!date || year > 9999 || month < 1 || month > 12) return FALSE;
  const bool leap = (year % 4 == 0) && ((year % 100 != 0) || (year % 400 == 0));
  int monthDays = _afxMonthDays[month] - _afxMonthDays[month - 1] + ((leap && month == 2) ? 1 : 0);
  if (day < 1 || day > monthDays || hour > 23 || minute > 59 || second > 59) return FALSE;
  long days = static_cast<long>(day) + _afxMonthDays[month - 1] + static_cast<long>(year) * 365 + year / 4 -
              year / 100 + year / 400;
  if (month <= 2 && leap) --days;
  days -= 693959L;
  double time = ((hour * 60.0 + minute) * 60.0 + second) / 86400.0;
  *date = static_cast<double>(days) + (days >= 0 ? time : -time);
  return TRUE;
}

BOOL FileTimeToOleDate(const FILETIME& time, double* date) {
  SYSTEMTIME st;
  if (!date || !FileTimeToSystemTime(&time, &st)) return FALSE;
  return _AfxOleDateFromTm(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, date);
}
