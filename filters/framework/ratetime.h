// The time of the rates: a provider's local time turned into UTC by its Windows zone index.
#pragma once
#include <cstdint>

#include "platform/timezone.h"
#include "platform/types.h"

// Zone index that stands for no zone: the time is already UTC.
constexpr uint32_t kZoneIndexUtc = 360;

struct TimeZoneRow {
  uint32_t index;
  const char* keyName;
  const char* secondName;  // null when none
  const char* thirdName;   // null when none
};

constexpr uint32_t kTimeZoneTableRows = 75;
extern const TimeZoneRow TimeZoneTable[kTimeZoneTableRows];

// The first table row with the index, or null.
const TimeZoneRow* FindTimeZoneRow(uint32_t zoneIndex);

// The zone data of a Windows zone key name.
bool ReadZoneInformation(vtx::tz::ZoneInformation* info, const char* keyName);

// Local time -> UTC, then `extraSeconds` added. False, with the time unchanged, when the zone
// is unknown or the result leaves the FILETIME range.
bool LocalTimeToUtc(FILETIME* time, uint32_t zoneIndex, int32_t extraSeconds);
