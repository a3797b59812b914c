#include "platform/timezone.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/systime.h"

namespace vtx::tz {
namespace {

using vtx::CivilFromDays;
using vtx::DaysFromCivil;

constexpr int64_t kTicksPerSecond = static_cast<int64_t>(kFileTimeTicksPerSecond);

// Keys that Windows renamed after the classic zone list; ICU only knows the new names.
const struct {
  const char* oldName;
  const char* newName;
} kRenamedKeys[] = {
    {"Mexico Standard Time", "Central Standard Time (Mexico)"},
    {"Mexico Standard Time 2", "Mountain Standard Time (Mexico)"},
    {"Mid-Atlantic Standard Time", "UTC-02"},
};

// ---- civil dates ----

int64_t YearOf(int64_t days) {
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  return year;
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// ---- the POSIX TZ string of a TZif footer ----

struct Rule {
  char kind = 0;  // 'J' (1..365, no Feb 29), 'D' (0..365), 'M' (month.week.day)
  int day = 0, week = 0, month = 0;
  int32_t time = 7200;  // seconds after local midnight
};

struct PosixTz {
  bool valid = false;
  bool hasDst = false;
  int32_t stdOff = 0;  // east positive
  int32_t dstOff = 0;
  Rule start, end;
};

bool ParseName(const char*& p) {
  if (*p == '<') {
    while (*p && *p != '>') ++p;
    if (*p != '>') return false;
    ++p;
    return true;
  }
  const char* s = p;
  while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')) ++p;
  return p - s >= 3;
}

bool ParseNumber(const char*& p, int* out, int maxDigits) {
  if (*p < '0' || *p > '9') return false;
  int v = 0, n = 0;
  while (*p >= '0' && *p <= '9') {
    if (++n > maxDigits) return false;
    v = v * 10 + (*p++ - '0');
  }
  *out = v;
  return true;
}

// [+-]hh[:mm[:ss]], hours up to 167 (the extended form of version 3 files).
bool ParseClock(const char*& p, int32_t* seconds) {
  int sign = 1;
  if (*p == '+' || *p == '-') sign = (*p++ == '-') ? -1 : 1;
  int h = 0, m = 0, s = 0;
  if (!ParseNumber(p, &h, 3) || h > 167) return false;
  if (*p == ':') {
    ++p;
    if (!ParseNumber(p, &m, 2) || m > 59) return false;
    if (*p == ':') {
      ++p;
      if (!ParseNumber(p, &s, 2) || s > 59) return false;
    }
  }
  *seconds = sign * (h * 3600 + m * 60 + s);
  return true;
}

bool ParseRule(const char*& p, Rule* r) {
  if (*p == 'J') {
    ++p;
    r->kind = 'J';
    if (!ParseNumber(p, &r->day, 3) || r->day < 1 || r->day > 365) return false;
  } else if (*p == 'M') {
    ++p;
    r->kind = 'M';
    if (!ParseNumber(p, &r->month, 2) || r->month < 1 || r->month > 12 || *p++ != '.') return false;
    if (!ParseNumber(p, &r->week, 1) || r->week < 1 || r->week > 5 || *p++ != '.') return false;
    if (!ParseNumber(p, &r->day, 1) || r->day > 6) return false;
  } else {
    r->kind = 'D';
    if (!ParseNumber(p, &r->day, 3) || r->day > 365) return false;
  }
  r->time = 7200;
  if (*p == '/') {
    ++p;
    if (!ParseClock(p, &r->time)) return false;
  }
  return true;
}

PosixTz ParsePosixTz(const std::string& text) {
  PosixTz tz;
  const char* p = text.c_str();
  int32_t off = 0;
  if (!ParseName(p) || !ParseClock(p, &off)) return tz;
  tz.stdOff = -off;  // POSIX offsets count west
  if (*p) {
    if (!ParseName(p)) return tz;
    tz.hasDst = true;
    tz.dstOff = tz.stdOff + 3600;
    if (*p && *p != ',') {
      if (!ParseClock(p, &off)) return tz;
      tz.dstOff = -off;
    }
    if (*p == ',') {
      ++p;
      if (!ParseRule(p, &tz.start) || *p++ != ',' || !ParseRule(p, &tz.end)) return tz;
    } else {
      // No rule given: the United States rule that POSIX systems take as the default.
      tz.start = Rule{'M', 0, 2, 3, 7200};
      tz.end = Rule{'M', 0, 1, 11, 7200};
    }
  }
  if (*p) return tz;
  tz.valid = true;
  return tz;
}

// Local (wall-clock) seconds of the rule's moment in a year.
int64_t RuleLocalSeconds(const Rule& r, int64_t year) {
  int64_t jan1 = DaysFromCivil(year, 1, 1);
  int64_t day;
  if (r.kind == 'J') {
    day = jan1 + r.day - 1 + ((IsLeap(year) && r.day >= 60) ? 1 : 0);
  } else if (r.kind == 'D') {
    day = jan1 + r.day;
  } else {
    static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int64_t first = DaysFromCivil(year, static_cast<unsigned>(r.month), 1);
    int dowFirst = static_cast<int>(((first % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    int mday = 1 + (r.day - dowFirst + 7) % 7 + (r.week - 1) * 7;
    int length = kMonthDays[r.month - 1] + ((r.month == 2 && IsLeap(year)) ? 1 : 0);
    while (mday > length) mday -= 7;
    day = first + mday - 1;
  }
  return day * 86400 + r.time;
}

int32_t PosixOffsetAt(const PosixTz& tz, int64_t utc) {
  if (!tz.hasDst) return tz.stdOff;
  int64_t year = YearOf(FloorDiv(utc + tz.stdOff, 86400));
  // The start is given in standard time, the end in daylight time.
  int64_t start = RuleLocalSeconds(tz.start, year) - tz.stdOff;
  int64_t end = RuleLocalSeconds(tz.end, year) - tz.dstOff;
  bool dst = start < end ? (utc >= start && utc < end) : (utc < end || utc >= start);
  return dst ? tz.dstOff : tz.stdOff;
}

// ---- TZif files ----

struct Zone {
  std::vector<int64_t> times;     // transitions, ascending
  std::vector<uint8_t> indices;   // type of each transition
  std::vector<int32_t> offsets;   // offset of each type
  PosixTz footer;

  int32_t OffsetAt(int64_t utc) const {
    if (times.empty()) return footer.valid ? PosixOffsetAt(footer, utc) : offsets[0];
    if (utc < times.front()) return offsets[0];
    if (utc >= times.back() && footer.valid) return PosixOffsetAt(footer, utc);
    size_t lo = 0, hi = times.size();  // last transition <= utc
    while (hi - lo > 1) {
      size_t mid = (lo + hi) / 2;
      if (times[mid] <= utc) lo = mid;
      else hi = mid;
    }
    return offsets[indices[lo]];
  }
};

uint32_t Be32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) | (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
int64_t Be64(const unsigned char* p) {
  return static_cast<int64_t>((static_cast<uint64_t>(Be32(p)) << 32) | Be32(p + 4));
}

struct Header {
  uint32_t isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt;
  char version;
};

bool ReadHeader(const std::vector<unsigned char>& d, size_t at, Header* h) {
  if (d.size() < at + 44 || std::memcmp(&d[at], "TZif", 4) != 0) return false;
  h->version = static_cast<char>(d[at + 4]);
  const unsigned char* c = &d[at + 20];
  h->isutcnt = Be32(c);
  h->isstdcnt = Be32(c + 4);
  h->leapcnt = Be32(c + 8);
  h->timecnt = Be32(c + 12);
  h->typecnt = Be32(c + 16);
  h->charcnt = Be32(c + 20);
  if (h->typecnt == 0 || h->typecnt > 256 || h->timecnt > 1000000 || h->leapcnt > 100000 || h->charcnt > 1000000 ||
      (h->isutcnt != 0 && h->isutcnt != h->typecnt) || (h->isstdcnt != 0 && h->isstdcnt != h->typecnt))
    return false;
  return true;
}

size_t BlockSize(const Header& h, size_t timeSize) {
  return h.timecnt * timeSize + h.timecnt + h.typecnt * 6 + h.charcnt + h.leapcnt * (timeSize + 4) + h.isstdcnt + h.isutcnt;
}

bool ParseBlock(const std::vector<unsigned char>& d, size_t at, const Header& h, size_t timeSize, Zone* z) {
  if (d.size() < at + BlockSize(h, timeSize)) return false;
  const unsigned char* p = &d[at];
  z->times.resize(h.timecnt);
  for (uint32_t i = 0; i < h.timecnt; ++i, p += timeSize) {
    z->times[i] = timeSize == 8 ? Be64(p) : static_cast<int64_t>(static_cast<int32_t>(Be32(p)));
    if (i && z->times[i] <= z->times[i - 1]) return false;
  }
  z->indices.assign(p, p + h.timecnt);
  p += h.timecnt;
  for (uint8_t ix : z->indices)
    if (ix >= h.typecnt) return false;
  z->offsets.resize(h.typecnt);
  for (uint32_t i = 0; i < h.typecnt; ++i, p += 6) {
    int32_t off = static_cast<int32_t>(Be32(p));
    if (off < -89999 || off > 93599) return false;  // beyond +-25 hours is no civil offset
    z->offsets[i] = off;
  }
  return true;
}

bool SafeZoneId(const char* id) {
  if (!id || !*id || *id == '/' || std::strlen(id) >= sizeof(ZoneInformation::zoneId)) return false;
  if (std::strstr(id, "..")) return false;
  for (const char* p = id; *p; ++p) {
    char c = *p;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '_' ||
          c == '-' || c == '+'))
      return false;
  }
  return true;
}

bool LoadTzif(const std::string& path, Zone* z) {
  constexpr size_t kLargest = 16u << 20;  // no zone file is this large
  std::string text;
  vtx::FileStamp stamp;
  if (FAILED(vtx::ReadRegularFile(path.c_str(), kLargest + 1, &text, &stamp)) || text.size() > kLargest) return false;
  std::vector<unsigned char> d(text.begin(), text.end());

  Header h1;
  if (!ReadHeader(d, 0, &h1)) return false;
  if (h1.version == 0) return ParseBlock(d, 44, h1, 4, z);
  size_t second = 44 + BlockSize(h1, 4);
  Header h2;
  if (!ReadHeader(d, second, &h2)) return false;
  size_t data = second + 44;
  if (!ParseBlock(d, data, h2, 8, z)) return false;
  size_t footer = data + BlockSize(h2, 8);
  if (footer < d.size() && d[footer] == '\n') {
    size_t close = footer + 1;
    while (close < d.size() && d[close] != '\n') ++close;
    if (close >= d.size()) return false;
    std::string tzString(d.begin() + static_cast<long>(footer) + 1, d.begin() + static_cast<long>(close));
    if (!tzString.empty()) {
      z->footer = ParsePosixTz(tzString);
      if (!z->footer.valid) return false;
    }
  }
  return true;
}

std::string ZoneDirectory() {
  const char* dir = vtx::sys::Getenv("TZDIR");
  return dir && *dir ? dir : "/usr/share/zoneinfo";
}

// The zone's rules: its own file, else the file of an id that ICU counts as the same zone
// (systems differ in which of the old names they still carry).
bool LoadZone(const char* zoneId, Zone* z) {
  if (!SafeZoneId(zoneId)) return false;
  std::string dir = ZoneDirectory();
  if (LoadTzif(dir + "/" + zoneId, z)) return true;
  icu::UnicodeString id = icu::UnicodeString::fromUTF8(zoneId);
  int32_t count = icu::TimeZone::countEquivalentIDs(id);
  for (int32_t i = 0; i < count; ++i) {
    std::string other;
    icu::TimeZone::getEquivalentID(id, i).toUTF8String(other);
    if (other == zoneId || !SafeZoneId(other.c_str())) continue;
    *z = Zone();
    if (LoadTzif(dir + "/" + other, z)) return true;
  }
  return false;
}

}  // namespace

bool ReadWindowsZone(const char* keyName, ZoneInformation* info) {
  if (!keyName || !*keyName || !info) return false;
  for (const auto& r : kRenamedKeys)
    if (std::strcmp(keyName, r.oldName) == 0) keyName = r.newName;
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString id;
  icu::TimeZone::getIDForWindowsID(icu::UnicodeString::fromUTF8(keyName), nullptr, id, status);
  if (U_FAILURE(status) || id.isEmpty()) return false;
  std::string zoneId;
  id.toUTF8String(zoneId);
  if (!SafeZoneId(zoneId.c_str())) return false;
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
  if (!zone || *zone == icu::TimeZone::getUnknown()) return false;
  ZoneInformation out;
  out.Bias = -zone->getRawOffset() / 60000;
  out.StandardBias = 0;
  out.DaylightBias = zone->useDaylightTime() ? -zone->getDSTSavings() / 60000 : 0;
  std::memcpy(out.zoneId, zoneId.c_str(), zoneId.size() + 1);
  *info = out;
  return true;
}

bool UtcOffsetAt(const char* zoneId, int64_t unixSeconds, int32_t* offsetSeconds) {
  Zone z;
  if (!LoadZone(zoneId, &z)) return false;
  *offsetSeconds = z.OffsetAt(unixSeconds);
  return true;
}

bool LocalToUtc(const ZoneInformation& zone, const FILETIME& local, FILETIME* utc) {
  if (!utc) return false;
  Zone z;
  if (!LoadZone(zone.zoneId, &z)) return false;
  uint64_t ticks = FileTimeToU64(local);
  if (ticks >= (1ull << 62)) return false;  // far beyond any calendar date; keeps the sums in range
  int64_t wall = FloorDiv(static_cast<int64_t>(ticks) - static_cast<int64_t>(kUnixEpochFileTime), kTicksPerSecond);

  // Offsets in force a day either side; a wall time is valid under an offset when that offset
  // is the one in force at the moment it names.
  int32_t before = z.OffsetAt(wall - 100000);
  int32_t after = z.OffsetAt(wall + 100000);
  int32_t offset;
  if (z.OffsetAt(wall - before) == before) offset = before;  // also the first of two occurrences
  else if (z.OffsetAt(wall - after) == after) offset = after;
  else offset = before;  // skipped wall time
  int64_t result = static_cast<int64_t>(ticks) - static_cast<int64_t>(offset) * kTicksPerSecond;
  if (result < 0) return false;
  *utc = U64ToFileTime(static_cast<uint64_t>(result));
  return true;
}

}  // namespace vtx::tz
