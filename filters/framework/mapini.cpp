#include "filters/framework/mapini.h"

#include <cstring>

#include "platform/codepage.h"

namespace {

// A row record: kind, the value count in two halves, the name, then the values, each with its NUL.
constexpr uint32_t kHeadChars = 3;

bool IsBlank(char16_t c) { return c == ' ' || c == '\t' || c == 0x00A0; }

bool SameIgnoringCase(char16_t a, char16_t b) { return a == b || vtx::UnicodeFold(a) == vtx::UnicodeFold(b); }

// One name of a [Names] list against the text. A TAB in the name stands for any run of blanks,
// TABs and no-break spaces in the text, or none.
bool MatchName(const char16_t* text, const char16_t* name, bool wholeMatch) {
  const char16_t* p = text;
  const char16_t* word = name;
  for (;;) {
    const char16_t* wordEnd = word;
    while (*wordEnd && *wordEnd != '\t') ++wordEnd;
    size_t length = static_cast<size_t>(wordEnd - word);
    for (size_t i = 0; i < length; ++i)
      if (!p[i] || !SameIgnoringCase(p[i], word[i])) return false;
    p += length;
    if (!*wordEnd) return !wholeMatch || !*p;
    while (IsBlank(*p)) ++p;
    word = wordEnd + 1;
  }
}

enum class Section { kNone, kNames, kCodes };

Section SectionOf(const char16_t* name) {
  if (_wcsicmp(name, u"Names") == 0) return Section::kNames;
  if (_wcsicmp(name, u"Codes") == 0) return Section::kCodes;
  return Section::kNone;
}

// A key as a result: keys of more than three characters are no currency code.
const char* KeyResult(const char16_t* key, char* buffer) {
  size_t length = vtx::StrLen16(key);
  if (length == 0 || length > 3) return nullptr;
  int n = WideCharToMultiByte(CP_ACP, 0, key, static_cast<int>(length), buffer, CMapIni::kResultChars - 1, nullptr, nullptr);
  if (n <= 0) return nullptr;
  buffer[n] = 0;
  return buffer;
}

bool ToWide(const char* ansi, CStringW* wide) {
  *wide = ansi;
  return !wide->IsNull();
}

bool CopyCode(const char* result, char code[4]) {
  size_t length = std::strlen(result);
  if (length == 0 || length > 3) return false;
  std::memcpy(code, result, length + 1);
  return true;
}

}  // namespace

bool CMapIni::AddSection(const char16_t* name) { return AddRow(kSectionRow, name, nullptr, 0); }

bool CMapIni::AddMultiString(const char16_t* key, const char16_t* const* values, uint32_t count) {
  return AddRow(kListRow, key, values, count);
}

bool CMapIni::AddRow(RowKind kind, const char16_t* key, const char16_t* const* values, uint32_t count) {
  if (!key || (count && !values)) return false;
  uint64_t chars = kHeadChars + vtx::StrLen16(key) + 1;
  for (uint32_t i = 0; i < count; ++i) chars += (values[i] ? vtx::StrLen16(values[i]) : 0) + 1;
  if (chars * sizeof(char16_t) > UINT32_MAX) return false;
  char16_t* block = static_cast<char16_t*>(GlobalAlloc(0, static_cast<size_t>(chars) * sizeof(char16_t)));
  if (!block) return false;
  block[0] = kind;
  block[1] = static_cast<char16_t>(count & 0xFFFF);
  block[2] = static_cast<char16_t>(count >> 16);
  char16_t* p = block + kHeadChars;
  size_t n = vtx::StrLen16(key) + 1;
  std::memcpy(p, key, n * sizeof(char16_t));
  p += n;
  for (uint32_t i = 0; i < count; ++i) {
    n = values[i] ? vtx::StrLen16(values[i]) : 0;
    if (n) std::memcpy(p, values[i], n * sizeof(char16_t));
    p[n] = 0;
    p += n + 1;
  }
  bool added = m_rows.AddEx(block, kListAppend, static_cast<uint32_t>(chars * sizeof(char16_t)));
  GlobalFree(block);
  return added;
}

CMapIni::Row CMapIni::Decode(const char16_t* record) {
  Row row;
  row.kind = static_cast<RowKind>(record[0]);
  row.count = static_cast<uint32_t>(record[1]) | (static_cast<uint32_t>(record[2]) << 16);
  row.name = record + kHeadChars;
  row.values = row.name + vtx::StrLen16(row.name) + 1;
  return row;
}

bool CMapDocument::Set(const char* ansi) {
  m_ansi = ansi;
  m_length = ansi ? CStringUtil<char>::StringLen(ansi) : 0;
  m_wide.Empty();
  if (!ansi) return false;
  if (vtx::AnsiCodePageIsUtf8()) return true;  // no fixed width: At() has nothing to offer
  if (!ToWide(ansi, &m_wide)) return false;
  // A single-byte page gives one character per byte.
  return m_wide.GetLength() == m_length;
}

const char16_t* CMapDocument::At(const char* place) const {
  if (m_wide.IsNull() || !m_ansi || place < m_ansi || place > m_ansi + m_length) return nullptr;
  return m_wide.GetBuffer() + (place - m_ansi);
}

const char* FindNameCodeW(CMapIni& map, const char16_t* text, bool wholeMatch) {
  if (!text) return nullptr;
  Section section = Section::kNone;
  for (const char16_t* record : map) {
    CMapIni::Row row = CMapIni::Decode(record);
    if (row.kind == CMapIni::kSectionRow) {
      section = SectionOf(row.name);
      continue;
    }
    if (section != Section::kNames) continue;
    const char16_t* name = row.values;
    for (uint32_t i = 0; i < row.count; ++i, name += vtx::StrLen16(name) + 1) {
      if (!MatchName(text, name, wholeMatch)) continue;
      const char* code = KeyResult(row.name, map.NameResult());
      if (!code || _stricmp(code, "XXX") == 0) return nullptr;
      return code;
    }
  }
  return nullptr;
}

const char* FindNameCode(CMapIni& map, const char* text, bool wholeMatch) {
  if (!text) return nullptr;
  CStringW wide;
  if (!ToWide(text, &wide)) return nullptr;
  return FindNameCodeW(map, wide.GetBuffer(), wholeMatch);
}

const char* FindNameCodeAt(CMapIni& map, const CMapDocument& document, const char* place, bool wholeMatch) {
  if (const char16_t* wide = document.At(place)) return FindNameCodeW(map, wide, wholeMatch);
  return FindNameCode(map, place, wholeMatch);
}

const char* FindCodeAlias(CMapIni& map, const char* code) {
  if (!code) return nullptr;
  CStringW wide;
  if (!ToWide(code, &wide)) return nullptr;
  Section section = Section::kNone;
  for (const char16_t* record : map) {
    CMapIni::Row row = CMapIni::Decode(record);
    if (row.kind == CMapIni::kSectionRow) {
      section = SectionOf(row.name);
      continue;
    }
    if (section != Section::kCodes) continue;
    const char16_t* item = row.values;
    for (uint32_t i = 0; i < row.count; ++i, item += vtx::StrLen16(item) + 1)
      if (_wcsicmp(item, wide.GetBuffer()) == 0) return KeyResult(row.name, map.CodeResult());
  }
  return nullptr;
}

namespace {
bool ResolveNameCode(CMapIni& map, const char* found, char code[4]) {
  if (!found || !CopyCode(found, code)) return false;
  const char* alias = FindCodeAlias(map, code);
  if (!alias) return true;
  if (_stricmp(alias, "XXX") == 0) return false;
  return CopyCode(alias, code);
}
}  // namespace

bool LookupCurrencyName(CMapIni& map, const char* text, bool wholeMatch, char code[4]) {
  return ResolveNameCode(map, FindNameCode(map, text, wholeMatch), code);
}

bool LookupCurrencyNameAt(CMapIni& map, const CMapDocument& document, const char* place, bool wholeMatch, char code[4]) {
  return ResolveNameCode(map, FindNameCodeAt(map, document, place, wholeMatch), code);
}

bool LookupCurrencyCode(CMapIni& map, const char* providerCode, char code[4]) {
  if (!providerCode) return false;
  const char* alias = FindCodeAlias(map, providerCode);
  if (alias && _stricmp(alias, "XXX") == 0) return false;
  return CopyCode(alias ? alias : providerCode, code);
}
