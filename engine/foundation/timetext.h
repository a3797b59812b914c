// The UTC time text of files, logs and the registry, second arithmetic on FILETIME, English
// title case, and language tags.
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/types.h"

// "%d-%02d-%02dT%02d:%02d:%02dZ" (no milliseconds); false when the time has no calendar date or
// the buffer is too small.
template <class T>
bool TimeToString(const FILETIME& time, T* buffer, size_t size);
template <class T, size_t N>
bool TimeToString(const FILETIME& time, T (&buffer)[N]) {
  return TimeToString(time, buffer, N);
}
// The text above; anything after the 'Z' is ignored. False for a malformed text or an impossible date.
template <class T>
bool StringToTime(const T* text, FILETIME* out);

// Whole seconds from `time` to now, negative for a time ahead; 64 bits, so that a time of 0
// ("never") fits.
int64_t SecondsSince(const FILETIME& time);
// Adds (or with a negative count subtracts) seconds, clamped to the FILETIME range.
void AddSeconds(FILETIME& time, int64_t seconds);
// The time cut to whole seconds, the precision in which the text above stores it.
FILETIME WholeSeconds(const FILETIME& time);
// Two times fall in the same second: a time read back from its text equals the one written.
bool SameSecond(uint64_t a, uint64_t b);

bool IsAlphaNumeric(char16_t c);
// A small word of the title-case list stands at `position`, followed by a separator.
bool IsUncapitalizeWord(const char16_t* position);
// English title case: the first letter of each word is capitalised, except small words inside
// the text (with `allWords` 0 only the first letter of the text). 0, E_POINTER or E_OUTOFMEMORY.
HRESULT TitleString(CStringBase<char16_t>& out, const char16_t* text, LCID lcid, BOOL allWords);

// The LCID of the language tag at the start of `text` ("en-us;q=0.8" gives 0x0409 and length 5);
// a full tag without a row of its own ("de-DE") takes its primary language's row. 0 when none.
LCID LocalNameToLCID(const char16_t* text, uint32_t* length);
// The first row's tag for the LCID, cut to size - 1 characters; the length copied, 0 when unknown.
uint32_t LCIDToLocalName(LCID lcid, char16_t* buffer, uint32_t size, BOOL withHyphen);
// The text begins with the word (ignoring case) and no letter, digit or '-' follows it.
bool IsKeyword(const char16_t* text, const char16_t* word);
// The text ends with the suffix, ignoring case.
bool EndsWith(const char* text, const char* suffix);

namespace vtx::timetext {
extern const char16_t* const kUncapitalizeWords[];
extern const size_t kUncapitalizeWordCount;
struct LangRow {
  LCID lcid;
  const char16_t* tag;
  const char16_t* plain;
};
extern const LangRow kLangs[];
extern const size_t kLangCount;
}  // namespace vtx::timetext
