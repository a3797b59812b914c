// Language codes of locales, the product's languages, and byte counts as text with their unit.
#pragma once
#include <cstdint>

#include "platform/locale.h"
#include "platform/types.h"

// The ISO 639 two-letter code of the locale's language into `buffer` (3 characters); false when
// the locale has none.
BOOL GetTwoLetterLanguageCode(char* buffer, LCID lcid);
// Whether a two-letter code, an abbreviated language name ("DEU") or a language tag ("de-ch")
// names the locale's language.
BOOL IsLocaleLanguage(const char* code, LCID lcid);
// The LCID of row `index` of the language-tag table; 0 beyond its last row.
LCID GetLCIDItem(uint32_t index);
// The language of the program's own texts, and the language of the catalogue offered for a language.
LANGID GetApplicationLanguage();
LANGID AvailableResourceLanguage(LANGID language);

// A request of FormatByteSize.
struct _FORMATBYTESIZE {
  uint32_t reserved;
  uint32_t sizeHigh;
  uint32_t sizeLow;
  char* output;
  int32_t outputSize;
  uint32_t flags;
  uint32_t unitReference;  // not 0: picks the unit instead of the size
  HMODULE resources;
  uint32_t idBytes, idKilobytes, idMegabytes, idGigabytes;  // texts with the number as insert %1
  uint32_t idLarge;                                         // for a size of 4 GiB or more
  uint32_t size2High;
  uint32_t size2Low;
};
constexpr uint32_t FBS_FRACTIONAL = 1;  // up to two decimals instead of a whole number
constexpr uint32_t FBS_RANGE = 2;       // "smaller-larger unit"
// The text of a byte count (or range) in the system locale's number form; its length, 0 (with an
// empty output) when a number cannot be formatted, its text is missing or the output is too small.
int FormatByteSize(_FORMATBYTESIZE* request);
