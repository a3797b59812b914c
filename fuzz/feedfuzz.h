// Shared by the filters' fuzz targets: a small map.ini, the input as the frame hands it over
// (NUL-terminated), and the checks that every written rates text must pass.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filters/framework/frame.h"
#include "filters/framework/mapini.h"

namespace feedfuzz {

inline CMapIni& Map() {
  static CMapIni* map = [] {
    auto* m = new CMapIni;
    auto list = [m](const char16_t* key, std::vector<const char16_t*> values) {
      m->AddMultiString(key, values.data(), static_cast<uint32_t>(values.size()));
    };
    m->AddSection(u"Names");
    list(u"XXX", {u"U.S.\tDollar\t(Closing)"});
    list(u"EUR", {u"Euro", u"EMU\tMembers\tEuro"});
    list(u"USD", {u"U.S.\tDollar", u"US\tDollar"});
    list(u"JPY", {u"Japanese\tYen"});
    list(u"GBP", {u"U.K.\tPound"});
    list(u"TRL", {u"Turkish\tLira"});
    list(u"WIDE", {u"Wide"});
    m->AddSection(u"Codes");
    list(u"CNY", {u"RMB"});
    list(u"XXX", {u"XTS"});
    return m;
  }();
  return *map;
}

// The input with the NUL the frame puts after it.
inline std::string Input(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

inline bool IsCodeChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Every line of the "[EUR]" section is three letters, " = " and a finite number (a negative one
// is the provider's, which the server refuses).
inline void CheckRates(const CFilterOutput& out) {
  std::string text(out.Text(), out.Length());
  size_t at = text.find("\r\n[EUR]\r\n");
  if (at == std::string::npos) return;
  size_t p = at + 9;
  while (p < text.size()) {
    size_t end = text.find("\r\n", p);
    if (end == std::string::npos) std::abort();
    std::string line = text.substr(p, end - p);
    p = end + 2;
    if (line.empty()) continue;
    if (line[0] == '[') break;
    if (line.size() < 7 || !IsCodeChar(line[0]) || !IsCodeChar(line[1]) || !IsCodeChar(line[2]) ||
        line.compare(3, 3, " = ") != 0)
      std::abort();
    // Very small rates come out in exponent form, which the server reads as well.
    char* stop = nullptr;
    double v = std::strtod(line.c_str() + 6, &stop);
    if (*stop || !(v >= -1.7e308) || v > 1.7e308 || line.find_first_not_of("0123456789.e+-", 6) != std::string::npos)
      std::abort();
  }
}

}  // namespace feedfuzz
