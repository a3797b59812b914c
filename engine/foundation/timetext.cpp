#include "engine/foundation/timetext.h"

#include <cstdio>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/numtext.h"
#include "platform/systime.h"

namespace vtx::timetext {

const char16_t* const kUncapitalizeWords[] = {
    u"de", u"a", u"aback", u"abaft", u"abeam", u"aboard", u"about", u"above", u"across", u"aft", u"after",
    u"again", u"against", u"aground", u"ahead", u"aloft", u"along", u"alongside", u"amidships", u"among",
    u"an", u"and", u"apart", u"aport", u"around", u"as", u"ashore", u"aside", u"astarboard", u"astern",
    u"astray", u"asunder", u"at", u"athwart", u"away", u"back", u"before", u"behind", u"below", u"beneath",
    u"beside", u"between", u"beyond", u"but", u"by", u"concerning", u"despite", u"down", u"during",
    u"except", u"excepting", u"for", u"forth", u"forward", u"from", u"in", u"inside", u"into", u"like",
    u"near", u"nor", u"of", u"off", u"on", u"onto", u"or", u"out", u"outside", u"over", u"overboard",
    u"past", u"regarding", u"round", u"since", u"the", u"through", u"throughout", u"till", u"to",
    u"together", u"toward", u"under", u"underneath", u"unlike", u"until", u"up", u"upon", u"with", u"within",
    u"without",
};
const size_t kUncapitalizeWordCount = sizeof kUncapitalizeWords / sizeof kUncapitalizeWords[0];

// Some tags stand for several LCIDs; look-ups by tag take the first row.
const LangRow kLangs[] = {
    {0x0436, u"af", u"af"},
    {0x041C, u"sq", u"sq"},
    {0x0401, u"ar-sa", u"arsa"},
    {0x0801, u"ar-iq", u"ariq"},
    {0x0C01, u"ar-eg", u"areg"},
    {0x1001, u"ar-ly", u"arly"},
    {0x1401, u"ar-dz", u"ardz"},
    {0x1801, u"ar-ma", u"arma"},
    {0x1C01, u"ar-tn", u"artn"},
    {0x2001, u"ar-om", u"arom"},
    {0x2401, u"ar-ye", u"arye"},
    {0x2801, u"ar-sy", u"arsy"},
    {0x2C01, u"ar-jo", u"arjo"},
    {0x3001, u"ar-lb", u"arlb"},
    {0x3401, u"ar-kw", u"arkw"},
    {0x3801, u"ar-ae", u"arae"},
    {0x3C01, u"ar-bh", u"arbh"},
    {0x4001, u"ar-qa", u"arqa"},
    {0x042D, u"eu", u"eu"},
    {0x0402, u"bg", u"bg"},
    {0x0423, u"be", u"be"},
    {0x0403, u"ca", u"ca"},
    {0x0404, u"zh-tw", u"zhtw"},
    {0x0804, u"zh-cn", u"zhcn"},
    {0x0C04, u"zh-hk", u"zhhk"},
    {0x1004, u"zh-sg", u"zhsg"},
    {0x041A, u"hr", u"hr"},
    {0x0405, u"cs", u"cs"},
    {0x0406, u"da", u"da"},
    {0x0413, u"nl", u"nl"},
    {0x0813, u"nl-be", u"nlbe"},
    {0x0009, u"en", u"en"},
    {0x0409, u"en-us", u"enus"},
    {0x0809, u"en-gb", u"engb"},
    {0x0C09, u"en-au", u"enau"},
    {0x1009, u"en-ca", u"enca"},
    {0x1409, u"en-nz", u"ennz"},
    {0x1809, u"en-ie", u"enie"},
    {0x1C09, u"en-za", u"enza"},
    {0x2009, u"en-jm", u"enjm"},
    {0x2409, u"en", u"en"},
    {0x2809, u"en-bz", u"enbz"},
    {0x2C09, u"en-tt", u"entt"},
    {0x0425, u"et", u"et"},
    {0x0438, u"fo", u"fo"},
    {0x0429, u"fa", u"fa"},
    {0x040B, u"fi", u"fi"},
    {0x040C, u"fr", u"fr"},
    {0x080C, u"fr-be", u"frbe"},
    {0x0C0C, u"fr-ca", u"frca"},
    {0x100C, u"fr-ch", u"frch"},
    {0x140C, u"fr-lu", u"frlu"},
    {0x043C, u"gd", u"gd"},
    {0x083C, u"gd-ie", u"gdie"},
    {0x0407, u"de", u"de"},
    {0x0807, u"de-ch", u"dech"},
    {0x0C07, u"de-at", u"deat"},
    {0x1007, u"de-lu", u"delu"},
    {0x1407, u"de-li", u"deli"},
    {0x0408, u"el", u"el"},
    {0x040D, u"he", u"he"},
    {0x0439, u"hi", u"hi"},
    {0x040E, u"hu", u"hu"},
    {0x040F, u"is", u"is"},
    {0x0421, u"in", u"in"},
    {0x0410, u"it", u"it"},
    {0x0810, u"it-ch", u"itch"},
    {0x0411, u"ja", u"ja"},
    {0x0412, u"ko", u"ko"},
    {0x0812, u"ko", u"ko"},
    {0x0426, u"lv", u"lv"},
    {0x0427, u"lt", u"lt"},
    {0x042F, u"mk", u"mk"},
    {0x043E, u"ms", u"ms"},
    {0x043A, u"mt", u"mt"},
    {0x0414, u"no", u"no"},
    {0x0814, u"no", u"no"},
    {0x0415, u"pl", u"pl"},
    {0x0416, u"pt-br", u"ptbr"},
    {0x0816, u"pt", u"pt"},
    {0x0417, u"rm", u"rm"},
    {0x0418, u"ro", u"ro"},
    {0x0818, u"ro-mo", u"romo"},
    {0x0419, u"ru", u"ru"},
    {0x0819, u"ru-mo", u"rumo"},
    {0x043B, u"sz", u"sz"},
    {0x0C1A, u"sr", u"sr"},
    {0x081A, u"sr", u"sr"},
    {0x041B, u"sk", u"sk"},
    {0x0424, u"sl", u"sl"},
    {0x042E, u"sb", u"sb"},
    {0x040A, u"es", u"es"},
    {0x080A, u"es-mx", u"esmx"},
    {0x0C0A, u"es", u"es"},
    {0x100A, u"es-gt", u"esgt"},
    {0x140A, u"es-cr", u"escr"},
    {0x180A, u"es-pa", u"espa"},
    {0x1C0A, u"es-do", u"esdo"},
    {0x200A, u"es-ve", u"esve"},
    {0x240A, u"es-co", u"esco"},
    {0x280A, u"es-pe", u"espe"},
    {0x2C0A, u"es-ar", u"esar"},
    {0x300A, u"es-ec", u"esec"},
    {0x340A, u"es-cl", u"escl"},
    {0x380A, u"es-uy", u"esuy"},
    {0x3C0A, u"es-py", u"espy"},
    {0x400A, u"es-bo", u"esbo"},
    {0x440A, u"es-sv", u"essv"},
    {0x480A, u"es-hn", u"eshn"},
    {0x4C0A, u"es-ni", u"esni"},
    {0x500A, u"es-pr", u"espr"},
    {0x0430, u"sx", u"sx"},
    {0x041D, u"sv", u"sv"},
    {0x081D, u"sv-fi", u"svfi"},
    {0x041E, u"th", u"th"},
    {0x0431, u"ts", u"ts"},
    {0x0432, u"tn", u"tn"},
    {0x041F, u"tr", u"tr"},
    {0x0422, u"uk", u"uk"},
    {0x0420, u"ur", u"ur"},
    {0x0433, u"ve", u"ve"},
    {0x042A, u"vi", u"vi"},
    {0x0434, u"xh", u"xh"},
    {0x043D, u"ji", u"ji"},
    {0x0435, u"zu", u"zu"},
};
const size_t kLangCount = sizeof kLangs / sizeof kLangs[0];

}  // namespace vtx::timetext

using vtx::timetext::kLangCount;
using vtx::timetext::kLangs;
using vtx::timetext::kUncapitalizeWordCount;
using vtx::timetext::kUncapitalizeWords;

namespace {
constexpr int64_t kTicksPerSecond = static_cast<int64_t>(kFileTimeTicksPerSecond);

bool AsciiLetterOrDigit(char16_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Reads one decimal field as strtol does (leading blanks, a sign); false when no digit is there.
template <class T>
bool Field(const T*& p, int32_t& value) {
  const T* end;
  vtx::ParseResult info;
  value = vtx::TextToSigned(p, &end, 10, &info);
  if (!info.any || info.overflow) return false;
  p = end;
  return true;
}
}  // namespace

template <class T>
bool TimeToString(const FILETIME& time, T* buffer, size_t size) {
  SYSTEMTIME st;
  if (!buffer || !size || !FileTimeToSystemTime(&time, &st)) return false;
  char text[32];
  int n = std::snprintf(text, sizeof text, "%d-%02d-%02dT%02d:%02d:%02dZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                        st.wMinute, st.wSecond);
  if (n < 0 || static_cast<size_t>(n) >= size) return false;
  for (int i = 0; i <= n; ++i) buffer[i] = static_cast<T>(text[i]);
  return true;
}

template <class T>
bool StringToTime(const T* text, FILETIME* out) {
  if (!text || !out) return false;
  static const char kAfter[] = {'-', '-', 'T', ':', ':', 'Z'};
  static const int32_t kMin[] = {1601, 1, 1, 0, 0, 0};
  static const int32_t kMax[] = {65535, 12, 31, 23, 59, 59};
  int32_t f[6];
  const T* p = text;
  for (int i = 0; i < 6; ++i) {
    if (!Field(p, f[i]) || f[i] < kMin[i] || f[i] > kMax[i] || *p != static_cast<T>(kAfter[i])) return false;
    ++p;
  }
  SYSTEMTIME st{static_cast<WORD>(f[0]), static_cast<WORD>(f[1]), 0, static_cast<WORD>(f[2]), static_cast<WORD>(f[3]),
                static_cast<WORD>(f[4]), static_cast<WORD>(f[5]), 0};
  return SystemTimeToFileTime(&st, out) != FALSE;
}

template bool TimeToString<char>(const FILETIME&, char*, size_t);
template bool TimeToString<char16_t>(const FILETIME&, char16_t*, size_t);
template bool StringToTime<char>(const char*, FILETIME*);
template bool StringToTime<char16_t>(const char16_t*, FILETIME*);

int64_t SecondsSince(const FILETIME& time) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // Both values are below 2^64; the difference of two 100-ns counts, taken in 128 bits, fits
  // 64 bits once divided.
  __int128 diff = static_cast<__int128>(FileTimeToU64(now)) - static_cast<__int128>(FileTimeToU64(time));
  return static_cast<int64_t>(diff / kTicksPerSecond);
}

void AddSeconds(FILETIME& time, int64_t seconds) {
  __int128 t = static_cast<__int128>(FileTimeToU64(time)) + static_cast<__int128>(seconds) * kTicksPerSecond;
  const __int128 max = static_cast<__int128>(kFileTimeLimit - 1);
  if (t < 0) t = 0;
  if (t > max) t = max;
  time = U64ToFileTime(static_cast<uint64_t>(t));
}

FILETIME WholeSeconds(const FILETIME& time) {
  const uint64_t t = FileTimeToU64(time);
  return U64ToFileTime(t - t % kFileTimeTicksPerSecond);
}

bool SameSecond(uint64_t a, uint64_t b) { return a / kFileTimeTicksPerSecond == b / kFileTimeTicksPerSecond; }

bool IsAlphaNumeric(char16_t c) { return IsCharAlphaNumericW(c) != FALSE; }

bool IsUncapitalizeWord(const char16_t* position) {
  if (!position) return false;
  for (size_t i = 0; i < kUncapitalizeWordCount; ++i) {
    const char16_t* w = kUncapitalizeWords[i];
    size_t n = vtx::StrLen16(w);
    if (_wcsnicmp(position, w, n) != 0) continue;
    char16_t next = position[n];
    if (!next || IsAlphaNumeric(next)) continue;
    if (next == '-' && IsAlphaNumeric(position[n + 1])) continue;
    return true;
  }
  return false;
}

HRESULT TitleString(CStringBase<char16_t>& out, const char16_t* text, LCID lcid, BOOL allWords) {
  if (!text) return E_POINTER;
  int size = LCMapStringW(lcid, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, text, -1, nullptr, 0);
  size_t len = vtx::StrLen16(text);
  if (size <= 0 || static_cast<size_t>(size) < len + 1) size = static_cast<int>(len + 1);
  char16_t* block = static_cast<char16_t*>(GlobalAlloc(0, static_cast<size_t>(size) * sizeof(char16_t)));
  if (!block) return E_OUTOFMEMORY;
  bool first = true, afterColon = false, done = false;
  for (size_t i = 0; i < len; ++i) {
    char16_t c = text[i];
    block[i] = c;
    if (done) continue;
    bool wordStart = IsAlphaNumeric(c) && (i == 0 || !IsAlphaNumeric(text[i - 1]));
    if (wordStart) {
      bool cap;
      if (first || afterColon) cap = true;
      else {
        bool hyphenated = i >= 2 && text[i - 1] == '-' && IsAlphaNumeric(text[i - 2]);
        cap = hyphenated || !IsUncapitalizeWord(text + i);
      }
      first = afterColon = false;
      if (cap) {
        char16_t upper = 0;
        if (LCMapStringW(lcid, LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, &c, 1, &upper, 1) != 1 || !upper)
          upper = vtx::UnicodeUpper(c);
        block[i] = upper;
        if (!allWords) done = true;
      }
    } else if (c == ':') {
      afterColon = true;
    }
  }
  block[len] = 0;
  out.Attach(block);
  return S_OK;
}

bool IsKeyword(const char16_t* text, const char16_t* word) {
  if (!text || !word) return false;
  size_t n = vtx::StrLen16(word);
  if (_wcsnicmp(text, word, n) != 0) return false;
  for (size_t i = 0; i < n; ++i)
    if (!text[i]) return false;
  char16_t next = text[n];
  return !(AsciiLetterOrDigit(next) || next == '-');
}

namespace {
LCID FindTag(const char16_t* text, uint32_t* length) {
  for (size_t i = 0; i < kLangCount; ++i) {
    if (IsKeyword(text, kLangs[i].tag)) {
      if (length) *length = vtx::StrLen16(kLangs[i].tag);
      return kLangs[i].lcid;
    }
    if (IsKeyword(text, kLangs[i].plain)) {
      if (length) *length = vtx::StrLen16(kLangs[i].plain);
      return kLangs[i].lcid;
    }
  }
  return 0;
}
}  // namespace

LCID LocalNameToLCID(const char16_t* text, uint32_t* length) {
  if (length) *length = 0;
  if (!text) return 0;
  LCID lcid = FindTag(text, length);
  if (lcid) return lcid;
  // A full tag without a row of its own: its primary language's row, the whole tag consumed.
  size_t primary = 0;
  while ((text[primary] >= 'a' && text[primary] <= 'z') || (text[primary] >= 'A' && text[primary] <= 'Z')) ++primary;
  if (primary == 0 || primary > 8 || text[primary] != '-' || !AsciiLetterOrDigit(text[primary + 1])) return 0;
  char16_t language[9] = {};
  for (size_t i = 0; i < primary; ++i) language[i] = text[i];
  lcid = FindTag(language, nullptr);
  if (!lcid) return 0;
  size_t end = primary;
  while (AsciiLetterOrDigit(text[end]) || (text[end] == '-' && AsciiLetterOrDigit(text[end + 1]))) ++end;
  if (length) *length = static_cast<uint32_t>(end);
  return lcid;
}

uint32_t LCIDToLocalName(LCID lcid, char16_t* buffer, uint32_t size, BOOL withHyphen) {
  if (!buffer || !size) return 0;
  for (size_t i = 0; i < kLangCount; ++i) {
    if (kLangs[i].lcid != lcid) continue;
    const char16_t* tag = withHyphen ? kLangs[i].tag : kLangs[i].plain;
    uint32_t n = 0;
    while (tag[n] && n + 1 < size) {
      buffer[n] = tag[n];
      ++n;
    }
    buffer[n] = 0;
    return n;
  }
  return 0;
}

bool EndsWith(const char* text, const char* suffix) {
  if (!text || !suffix) return false;
  size_t t = std::strlen(text), s = std::strlen(suffix);
  if (s > t) return false;
  return _stricmp(text + t - s, suffix) == 0;
}
