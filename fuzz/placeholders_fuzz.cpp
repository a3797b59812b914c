// A data source's address with its placeholders ("[yyyy]", "[MMM]", "[1]" and the like) filled in
// for a moment the input chooses: the first 8 bytes give the time, the rest is the address, then
// (after NULs) the two user data texts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/currency/datasource.h"
#include "platform/systime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 1u << 16) return 0;
  uint64_t ticks = 0;
  std::memcpy(&ticks, data, 8);
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>((ticks >> 32) & 0x00FFFFFF)};
  SYSTEMTIME now{};
  if (!FileTimeToSystemTime(&ft, &now)) return 0;
  std::string rest(reinterpret_cast<const char*>(data + 8), size - 8);
  std::string parts[3];
  for (size_t i = 0, at = 0; i < 3 && at <= rest.size(); ++i) {
    size_t end = rest.find('\0', at);
    parts[i] = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  CDataSource source;
  if (!source.SetURL(parts[0].c_str()) || !source.SetUserData1(parts[1].c_str()) ||
      !source.SetUserData2(parts[2].c_str()))
    return 0;
  source.IsUserDataURL(0);
  source.IsUserDataURL(1);
  source.IsUserDataURL(2);
  CStringA parsed;
  if (source.IsParsableURL()) source.GetParsedURL(parsed, &now);
  return 0;
}
