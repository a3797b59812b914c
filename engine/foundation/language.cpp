#include "engine/foundation/language.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/foundation/resourcelib.h"
#include "engine/foundation/timetext.h"
#include "platform/codepage.h"

BOOL GetTwoLetterLanguageCode(char* buffer, LCID lcid) {
  if (!buffer) return FALSE;
  char name[16] = "";
  if (GetLocaleInfoA(lcid, LOCALE_SISO639LANGNAME, name, 15) > 0) {
    if (std::strlen(name) != 2) return FALSE;
    std::memcpy(buffer, name, 3);
    return TRUE;
  }
  // Systems without the item: the codes that the abbreviations do not give.
  if (lcid == LOCALE_USER_DEFAULT) lcid = GetUserDefaultLCID();
  const char* code = nullptr;
  if (lcid == 0x0414) code = "nb";
  else if (lcid == 0x0814) code = "nn";
  else {
    switch (lcid & 0x3FF) {
      case 0x04: code = "zh"; break;
      case 0x11: code = "ja"; break;
      case 0x14: code = "nb"; break;
      case 0x21: code = "id"; break;
      case 0x4B: code = "kn"; break;
      case 0x4E: code = "mr"; break;
      default: break;
    }
  }
  if (code) {
    std::memcpy(buffer, code, 3);
    return TRUE;
  }
  if (GetLocaleInfoA(lcid, LOCALE_SABBREVLANGNAME, name, sizeof name) <= 0 || std::strlen(name) < 2) return FALSE;
  buffer[0] = name[0];
  buffer[1] = name[1];
  buffer[2] = 0;
  return TRUE;
}

BOOL IsLocaleLanguage(const char* code, LCID lcid) {
  if (!code) return FALSE;
  const size_t length = std::strlen(code);
  if (length == 2) {
    char two[3];
    if (GetTwoLetterLanguageCode(two, lcid) && _stricmp(two, code) == 0) return TRUE;
  } else {
    char abbreviation[16];
    if (GetLocaleInfoA(lcid, LOCALE_SABBREVLANGNAME, abbreviation, sizeof abbreviation) > 0 &&
        _stricmp(abbreviation, code) == 0)
      return TRUE;
  }
  // A language tag.
  if (length > 15) return FALSE;
  char16_t tag[16];
  if (MultiByteToWideChar(CP_ACP, 0, code, -1, tag, 16) <= 0) return FALSE;
  uint32_t used = 0;
  LCID tagged = LocalNameToLCID(tag, &used);
  if (!tagged) return FALSE;
  char language[16];
  if (GetLocaleInfoA(lcid, LOCALE_ILANGUAGE, language, sizeof language) <= 0) return FALSE;
  char* end = nullptr;
  unsigned long id = std::strtoul(language, &end, 16);
  if (end == language) return FALSE;
  if ((id & 0xFFFF) == (tagged & 0xFFFF)) return TRUE;
  return length == 2 && (id & 0x3FF) == (tagged & 0x3FF);
}

LCID GetLCIDItem(uint32_t index) {
  return index < vtx::timetext::kLangCount ? vtx::timetext::kLangs[index].lcid : 0;
}

LANGID GetApplicationLanguage() { return LANG_ENGLISH; }

LANGID AvailableResourceLanguage(LANGID) { return 0x0409; }

namespace {

std::string LocaleText(LCTYPE item, const char* fallback) {
  char text[16];
  return GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, item, text, sizeof text) > 0 ? text : fallback;
}

}  // namespace

int FormatByteSize(_FORMATBYTESIZE* r) {
  if (!r || !r->output || r->outputSize <= 0) return 0;
  r->output[0] = 0;
  const bool range = (r->flags & FBS_RANGE) != 0;
  // 64-bit throughout: the rounding additions pass 32 bits near 4 GB.
  uint64_t high = r->sizeLow, low = r->sizeLow;
  bool large = r->sizeHigh != 0;
  bool fractional = (r->flags & FBS_FRACTIONAL) != 0;
  if (range) {
    high = r->sizeLow > r->size2Low ? r->sizeLow : r->size2Low;
    low = r->sizeLow > r->size2Low ? r->size2Low : r->sizeLow;
    large = r->sizeHigh != 0 || r->size2High != 0;
    fractional = false;
  }
  const uint64_t n = r->unitReference ? r->unitReference : high;
  char highText[64], lowText[64];
  uint32_t id;
  bool wroteFraction = false;
  if (large) {
    std::strcpy(highText, "1");
    std::strcpy(lowText, "1");
    id = r->idLarge;
  } else {
    uint64_t unit, add;
    if (n < 1000) {
      unit = 1, add = 0, id = r->idBytes;
    } else if (n < 1024000) {
      unit = 1024, add = 1023, id = r->idKilobytes;
    } else if (n < 1048576000) {
      unit = 1048576, add = 524287, id = r->idMegabytes;
    } else {
      unit = 1073741824, add = 536870911, id = r->idGigabytes;
    }
    std::snprintf(lowText, sizeof lowText, "%llu", static_cast<unsigned long long>((low + add) / unit));
    if (fractional && unit > 1) {
      std::snprintf(highText, sizeof highText, "%f", static_cast<double>(high) / static_cast<double>(unit));
      wroteFraction = true;
    } else {
      std::snprintf(highText, sizeof highText, "%llu", static_cast<unsigned long long>((high + add) / unit));
    }
  }
  UINT decimals = 0;
  if (wroteFraction)
    if (const char* dot = std::strchr(highText, '.'))
      for (const char* p = dot + 1; *p; ++p)
        if (*p != '0') decimals = 2;
  std::string decimal = LocaleText(LOCALE_SDECIMAL, "."), thousand = LocaleText(LOCALE_STHOUSAND, ",");
  NUMBERFMTA format{decimals, 1, static_cast<UINT>(std::atoi(LocaleText(LOCALE_SGROUPING, "3").c_str())),
                    decimal.data(), thousand.data(),
                    static_cast<UINT>(std::atoi(LocaleText(LOCALE_INEGNUMBER, "1").c_str()))};
  if (format.Grouping > 9) format.Grouping = 3;
  char highNumber[80], lowNumber[80];
  if (!GetNumberFormatA(LOCALE_SYSTEM_DEFAULT, 0, highText, &format, highNumber, sizeof highNumber)) return 0;
  if (range && !GetNumberFormatA(LOCALE_SYSTEM_DEFAULT, 0, lowText, &format, lowNumber, sizeof lowNumber)) return 0;
  char* text = PrintFormatMessage(id, r->resources, highNumber);
  if (!text) return 0;
  std::string out = text;
  LocalFree(text);
  if (range) {
    if (std::strlen(lowNumber) + 1 + out.size() + 1 > static_cast<size_t>(r->outputSize)) return 0;
    out = std::string(lowNumber) + "-" + out;
  } else if (out.size() >= static_cast<size_t>(r->outputSize)) {
    return 0;
  }
  std::memcpy(r->output, out.c_str(), out.size() + 1);
  return static_cast<int>(out.size());
}
