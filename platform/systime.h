// System time and FILETIME / SYSTEMTIME conversions (UTC, proleptic Gregorian calendar).
#pragma once
#include "platform/types.h"

// FILETIME values at or above this limit are rejected by the conversions, as on the other system.
constexpr uint64_t kFileTimeLimit = 0x8000000000000000ull;

namespace vtx {
// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);
}  // namespace vtx

void GetSystemTimeAsFileTime(FILETIME* out);
void GetSystemTime(SYSTEMTIME* out);
// FALSE (last error 87) for a time at or above the limit.
BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out);
// FALSE (last error 87) for an impossible date or time (30 February, hour 24, year before 1601).
BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out);
