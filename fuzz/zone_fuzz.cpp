// A zone file (TZif, any version, with its POSIX rule at the end) as the filters' time conversion
// reads it from the zone folder: offsets at moments far apart and local times turned into UTC.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/privatestore.h"
#include "platform/native/productpaths.h"
#include "platform/timezone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = [] {
    fuzzstore::UsePrivateStore("zone");
    std::string dir = std::string(std::getenv(vtx::env::kRuntimeDir)) + "/zoneinfo";
    mkdir(dir.c_str(), 0700);
    mkdir((dir + "/Fuzz").c_str(), 0700);
    setenv("TZDIR", dir.c_str(), 1);
    return dir + "/Fuzz/Zone";
  }();
  if (size > 1u << 20) return 0;
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  static const int64_t kMoments[] = {INT64_MIN / 4, -2208988800, 0, 1111111111, 1700000000, 4102444800, INT64_MAX / 4};
  for (int64_t t : kMoments) {
    int32_t offset = 0;
    vtx::tz::UtcOffsetAt("Fuzz/Zone", t, &offset);
  }
  vtx::tz::ZoneInformation zone{};
  std::snprintf(zone.zoneId, sizeof zone.zoneId, "%s", "Fuzz/Zone");
  for (uint64_t ticks : {0ull, 116444736000000000ull, 132000000000000000ull, 0x3FFFFFFFFFFFFFFFull}) {
    FILETIME local{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, utc{};
    vtx::tz::LocalToUtc(zone, local, &utc);
  }
  return 0;
}
