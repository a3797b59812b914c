#include "engine/foundation/numbertext.h"

#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/numtext.h"

namespace {

locale_t CLocale() {
  static locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
  return c;
}

double Strtod(const char* text, char** end) {
  locale_t c = CLocale();
  return c ? strtod_l(text, end, c) : std::strtod(text, end);
}

// The buffer still reads whole as one number (a lone '-' counts, as the start of one).
bool ReadsWhole(const std::string& buffer) {
  if (buffer == "-") return true;
  char* end = nullptr;
  Strtod(buffer.c_str(), &end);
  return end == buffer.c_str() + buffer.size();
}

std::string Separator(LCTYPE item, const char* fallback) {
  char text[4] = "";
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, item, text, sizeof text) <= 0 || !text[0]) return fallback;
  return text;
}

}  // namespace

double StringToDouble(const char* text, uint32_t* consumed, LCTYPE decimalItem, LCTYPE thousandItem) {
  if (consumed) *consumed = 0;
  if (!text) return 0.0;
  const std::string decimal = Separator(decimalItem, "."), thousand = Separator(thousandItem, ",");
  const char* p = text;
  while (*p == ' ' || *p == '\r' || *p == '\n' || *p == '\t') ++p;
  std::string buffer;
  bool digit = false;
  // A separator belongs to the number only when a digit follows it: the comma after "10, 20" and
  // the full stop that ends a sentence stay text.
  auto separatorAt = [&p](const std::string& sep) {
    return std::strncmp(p, sep.c_str(), sep.size()) == 0 && p[sep.size()] >= '0' && p[sep.size()] <= '9';
  };
  while (*p && buffer.size() < 199) {
    if (separatorAt(decimal)) {
      buffer += '.';
      if (!ReadsWhole(buffer)) {
        buffer.pop_back();
        break;
      }
      p += decimal.size();
    } else if (separatorAt(thousand) && digit) {
      p += thousand.size();
    } else {
      buffer += *p;
      if (!ReadsWhole(buffer)) {
        buffer.pop_back();
        break;
      }
      if (*p >= '0' && *p <= '9') digit = true;
      ++p;
    }
  }
  if (consumed && digit) *consumed = static_cast<uint32_t>(p - text);
  return digit ? Strtod(buffer.c_str(), nullptr) : 0.0;
}

double CurrencyStringToDouble(const char* text, uint32_t* consumed) {
  return StringToDouble(text, consumed, LOCALE_SMONDECIMALSEP, LOCALE_SMONTHOUSANDSEP);
}

double NumberStringToDouble(const char* text, uint32_t* consumed) {
  return StringToDouble(text, consumed, LOCALE_SDECIMAL, LOCALE_STHOUSAND);
}

double UnitStringToDouble(const char* text, uint32_t base, uint32_t* consumed) {
  if (consumed) *consumed = 0;
  if (!text) return 0.0;
  if (base == 0) return CurrencyStringToDouble(text, consumed);
  if (base == 10) return NumberStringToDouble(text, consumed);
  if (base < 2 || base > 36) return 0.0;
  const char* start = text;
  if (base == 16 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) start += 2;
  const char* end = start;
  vtx::ParseResult info;
  int32_t v = vtx::TextToSigned<char>(start, &end, static_cast<int>(base), &info);
  if (!info.any) return 0.0;
  if (consumed) *consumed = static_cast<uint32_t>(end - text);
  return v;
}

bool IsDigit(char c, uint32_t base) {
  switch (base) {
    case 2: return c == '0' || c == '1';
    case 8: return c >= '0' && c <= '7';
    case 16: return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    default: return (c >= '0' && c <= '9') || c == '.';
  }
}
