#include "filters/framework/ratetime.h"

#include <cstring>

#define ST " Standard Time"

// Most second names are the key without " Standard Time": the names of older systems.
#define ROW(index, name) {index, name ST, name, nullptr}
#define ROW1(index, name) {index, name ST, nullptr, nullptr}

const TimeZoneRow TimeZoneTable[kTimeZoneTableRows] = {
    ROW(175, "Afghanistan"),
    ROW(3, "Alaskan"),
    ROW(150, "Arab"),
    ROW(165, "Arabian"),
    {158, "Arabic" ST, "Saudi Arabia" ST, "Arab"},
    ROW(50, "Atlantic"),
    ROW(245, "AUS Central"),
    {255, "AUS Eastern" ST, "Sydney" ST, "AUS Eastern"},
    ROW(80, "Azores"),
    ROW(25, "Canada Central"),
    {83, "Cape Verde" ST, "Azores", nullptr},
    ROW(170, "Caucasus"),
    ROW(250, "Cen. Australia"),
    {33, "Central America" ST, "Central", nullptr},
    ROW(195, "Central Asia"),
    ROW(95, "Central Europe"),
    ROW(100, "Central European"),
    ROW(280, "Central Pacific"),
    ROW(20, "Central"),
    ROW(210, "China"),
    ROW(0, "Dateline"),
    ROW(155, "E. Africa"),
    ROW(260, "E. Australia"),
    ROW(115, "E. Europe"),
    ROW(65, "E. South America"),
    ROW(35, "Eastern"),
    ROW(120, "Egypt"),
    ROW(180, "Ekaterinburg"),
    ROW(285, "Fiji"),
    ROW(125, "FLE"),
    ROW(85, "GMT"),
    ROW1(73, "Greenland"),
    ROW(90, "Greenwich"),
    {130, "GTB" ST, "GFT" ST, "GTB"},
    ROW(2, "Hawaiian"),
    ROW(190, "India"),
    ROW(160, "Iran"),
    ROW(135, "Israel"),
    ROW(230, "Korea"),
    ROW(30, "Mexico"),
    {13, "Mexico Standard Time 2", nullptr, nullptr},
    ROW(75, "Mid-Atlantic"),
    ROW(10, "Mountain"),
    ROW1(203, "Myanmar"),
    {201, "N. Central Asia" ST, "Central Asia", nullptr},
    ROW1(193, "Nepal"),
    ROW(290, "New Zealand"),
    ROW(60, "Newfoundland"),
    {227, "North Asia East" ST, "China", nullptr},
    ROW1(207, "North Asia"),
    ROW(56, "Pacific SA"),
    ROW(4, "Pacific"),
    ROW(105, "Romance"),
    ROW(145, "Russian"),
    ROW(70, "SA Eastern"),
    ROW(45, "SA Pacific"),
    ROW(55, "SA Western"),
    ROW(1, "Samoa"),
    {205, "SE Asia" ST, "Bangkok" ST, "SE Asia"},
    ROW(215, "Singapore"),
    ROW(140, "South Africa"),
    ROW(200, "Sri Lanka"),
    ROW(220, "Taipei"),
    ROW(265, "Tasmania"),
    ROW(235, "Tokyo"),
    ROW1(300, "Tonga"),
    ROW(40, "US Eastern"),
    ROW(15, "US Mountain"),
    ROW(270, "Vladivostok"),
    ROW(225, "W. Australia"),
    ROW1(113, "W. Central Africa"),
    ROW(110, "W. Europe"),
    ROW(185, "West Asia"),
    ROW(275, "West Pacific"),
    ROW(240, "Yakutsk"),
};

const TimeZoneRow* FindTimeZoneRow(uint32_t zoneIndex) {
  for (const TimeZoneRow& row : TimeZoneTable)
    if (row.index == zoneIndex) return &row;
  return nullptr;
}

bool ReadZoneInformation(vtx::tz::ZoneInformation* info, const char* keyName) {
  return vtx::tz::ReadWindowsZone(keyName, info);
}

bool LocalTimeToUtc(FILETIME* time, uint32_t zoneIndex, int32_t extraSeconds) {
  if (!time) return false;
  uint64_t ticks = FileTimeToU64(*time);
  if (ticks >= (1ull << 62)) return false;  // far beyond any calendar date; keeps the sums in range
  int64_t value = static_cast<int64_t>(ticks);

  if (zoneIndex != kZoneIndexUtc) {
    // This system's zones carry no Windows index: the table leads from the index to key names.
    const TimeZoneRow* row = FindTimeZoneRow(zoneIndex);
    if (!row) return false;
    vtx::tz::ZoneInformation zone;
    const char* candidates[3] = {row->keyName, row->secondName, row->thirdName};
    bool found = false;
    for (const char* name : candidates)
      if (name && ReadZoneInformation(&zone, name)) {
        found = true;
        break;
      }
    if (!found) return false;

    FILETIME utc;
    if (vtx::tz::LocalToUtc(zone, *time, &utc)) {
      value = static_cast<int64_t>(FileTimeToU64(utc));
    } else {
      // The system has no rules for the zone: its fixed standard bias is all there is.
      value += static_cast<int64_t>(zone.Bias) * 60 * 10000000;
    }
  }
  value += static_cast<int64_t>(extraSeconds) * 10000000;
  if (value < 0) return false;
  *time = U64ToFileTime(static_cast<uint64_t>(value));
  return true;
}
