// Windows time zones on Linux: a Windows zone key name leads through ICU's Windows zone table to
// an IANA zone, whose rules come from the system's tzdata (TZDIR, else /usr/share/zoneinfo).
#pragma once
#include <cstdint>

#include "platform/types.h"

namespace vtx::tz {

// What the machine knows of one Windows zone key: the biases its "TZI" value would hold and the
// IANA zone behind it.
struct ZoneInformation {
  LONG Bias = 0;          // minutes; UTC = local standard time + Bias
  LONG StandardBias = 0;  // minutes added to Bias in standard time
  LONG DaylightBias = 0;  // minutes added to Bias in daylight time (0 for zones without it)
  char zoneId[64] = {};   // IANA zone id
};

// Looks a Windows zone key name ("W. Europe Standard Time") up in ICU's table, keys that Windows
// has since renamed included. The biases are the zone's present ones. False when ICU knows no zone.
bool ReadWindowsZone(const char* keyName, ZoneInformation* info);

// Local wall time -> UTC with the tzdata rules in force on that date (the stand-in for
// TzSpecificLocalTimeToSystemTime). A wall time that occurs twice is taken at its first
// occurrence, one that is skipped with the offset before the change. False, with `utc`
// unchanged, when the system has no readable rules for the zone.
bool LocalToUtc(const ZoneInformation& zone, const FILETIME& local, FILETIME* utc);

// The UTC offset in seconds (east positive) at a UTC moment, from the system's tzdata.
bool UtcOffsetAt(const char* zoneId, int64_t unixSeconds, int32_t* offsetSeconds);

}  // namespace vtx::tz
