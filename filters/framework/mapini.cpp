#include "filters/framework/mapini.h"

#include <cstring>
#include <new>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"

namespace {

bool IsBlank(char16_t c) { return c == ' ' || c == '\t' || c == 0x00A0; }

bool SameIgnoringCase(char16_t a, char16_t b) { return a == b || vtx::UnicodeFold(a) == vtx::UnicodeFold(b); }

// One name of a [Names] list against the text. A TAB in the name stands for any run of blanks,
// TABs and no-break spaces in the text, or none.
bool MatchName(const char16_t* text, const char16_t* name, bool wholeMatch) {
  // An empty item (two commas in a row) would match every text.
  const char16_t* q = name;
  while (*q == '\t') ++q;
  if (!*q) return false;
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

// Walks the keys of one section of the map in file order: the section is told by the key table
// at each section row. `visit` returns true to stop; the visited values follow one another.
template <class Visit>
void ForEachKey(const CMapIni& map, uint32_t sectionId, Visit visit) {
  uint32_t current = IniNoId;
  for (CMapIni::Row row : map) {
    uint32_t type = CMapIni::GetType(row);
    const char16_t* name = CMapIni::GetName(row);
    if (type == IniTypeSection) {
      current = FindIniTableEntryID<char16_t>(name, nullptr, g_MapIniTable, kMapIniTableRows);
      continue;
    }
    if (current != sectionId || type == IniTypeLine) continue;
    const char16_t* values = name + vtx::StrLen16(name) + 1;
    if (visit(name, values, CMapIni::GetStringCount(row))) return;
  }
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

const IniTableEntry<char16_t> g_MapIniTable[kMapIniTableRows] = {
    {u"Names", nullptr, kMapNamesSection, IniTypeSection},
    {u"Names", IniAny<char16_t>(), kMapNamesKey, IniTypeMultiString},
    {u"Codes", nullptr, kMapCodesSection, IniTypeSection},
    {u"Codes", IniAny<char16_t>(), kMapCodesKey, IniTypeMultiString},
};

HRESULT LoadIniFile(CMapIni* map, const char* path, const IniTableEntry<char16_t>* table, uint32_t count) {
  if (!map || !path) return E_POINTER;
  // Two NULs end the text in either width.
  char* text = nullptr;
  size_t got = 0;
  HRESULT read = vtx::ReadWholeFile(path, UINT32_MAX / 2, 2, &text, &got);
  if (read == E_OUTOFMEMORY) return read;
  if (FAILED(read)) return vtx::ini::FileErrorResult(GetLastError());
  auto* block = reinterpret_cast<unsigned char*>(text);

  HRESULT hr = S_OK;
  if (got >= 2 && block[0] == 0xFF && block[1] == 0xFE) {
    size_t chars = (got - 2) / 2;
    auto* wide = static_cast<char16_t*>(GlobalAlloc(0, (chars + 1) * sizeof(char16_t)));
    if (!wide) {
      hr = E_OUTOFMEMORY;
    } else {
      for (size_t i = 0; i < chars; ++i)
        wide[i] = static_cast<char16_t>(block[2 + 2 * i] | (block[3 + 2 * i] << 8));
      wide[chars] = 0;
      if (!map->SetBuffer(wide)) hr = E_OUTOFMEMORY;
      GlobalFree(wide);
    }
  } else {
    CStringW wide;
    wide = reinterpret_cast<const char*>(block);
    if (wide.IsNull() || !map->SetBuffer(wide.GetBuffer())) hr = E_OUTOFMEMORY;
  }
  GlobalFree(block);
  if (FAILED(hr)) return hr;
  return map->Load(table, count);
}

bool LoadMapIni(CMapIni* map) {
  char self[4096];
  ssize_t n = vtx::sys::Readlink("/proc/self/exe", self, sizeof self);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof self) return false;  // none, or cut short
  self[n] = 0;
  char* slash = std::strrchr(self, '/');
  if (!slash) return false;
  CString<char> path;
  slash[1] = 0;
  if (!path.Merge(self) || !path.Merge("map.ini")) return false;
  return SUCCEEDED(LoadIniFile(map, path.GetBuffer(), g_MapIniTable, kMapIniTableRows));
}

bool CMapDocument::Set(const char* ansi) {
  m_ansi = ansi;
  m_length = ansi ? CStringUtil<char>::StringLen(ansi) : 0;
  m_wide.Empty();
  m_marks.clear();
  m_last = {0, 0};
  if (!ansi) return false;
  if (!ToWide(ansi, &m_wide)) return false;
  if (!vtx::AnsiCodePageIsUtf8()) {
    // A single-byte page gives one character per byte.
    if (m_wide.GetLength() == m_length) return true;
    m_wide.Empty();
    return false;
  }
  // Characters of one to four bytes: where each begins is worked out once, by the same decoding
  // that made the wide text.
  try {
    m_marks.reserve(m_length / kMarkBytes + 2);
    uint32_t byte = 0, wide = 0;
    size_t next = 0;
    while (byte < m_length) {
      for (; next * kMarkBytes <= byte; ++next) m_marks.emplace_back(byte, wide);
      uint32_t cp;
      byte += static_cast<uint32_t>(vtx::Utf8Next(ansi + byte, m_length - byte, &cp));
      wide += cp >= 0x10000 ? 2 : 1;
    }
    for (; next * kMarkBytes <= m_length; ++next) m_marks.emplace_back(m_length, wide);
    if (wide == m_wide.GetLength()) return true;
  } catch (const std::bad_alloc&) {
  }
  m_marks.clear();
  m_wide.Empty();
  return false;
}

const char16_t* CMapDocument::At(const char* place) const {
  if (m_wide.IsNull() || !m_ansi || place < m_ansi || place > m_ansi + m_length) return nullptr;
  uint32_t offset = static_cast<uint32_t>(place - m_ansi);
  if (m_marks.empty()) return m_wide.GetBuffer() + offset;
  std::pair<uint32_t, uint32_t> from = m_marks[offset / kMarkBytes];
  if (from.first > offset) from = m_marks[offset / kMarkBytes - 1];
  if (m_last.first <= offset && m_last.first > from.first) from = m_last;
  while (from.first < offset) {
    uint32_t cp;
    from.first += static_cast<uint32_t>(vtx::Utf8Next(m_ansi + from.first, m_length - from.first, &cp));
    from.second += cp >= 0x10000 ? 2 : 1;
  }
  if (from.first != offset) return nullptr;
  m_last = from;
  return m_wide.GetBuffer() + from.second;
}

const char* FindNameCodeW(CMapIni& map, const char16_t* text, bool wholeMatch) {
  if (!text) return nullptr;
  const char* result = nullptr;
  ForEachKey(map, kMapNamesSection, [&](const char16_t* key, const char16_t* name, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, name += vtx::StrLen16(name) + 1) {
      if (!MatchName(text, name, wholeMatch)) continue;
      const char* code = KeyResult(key, map.NameResult());
      if (code && _stricmp(code, "XXX") != 0) result = code;
      return true;
    }
    return false;
  });
  return result;
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
  const char* result = nullptr;
  ForEachKey(map, kMapCodesSection, [&](const char16_t* key, const char16_t* item, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, item += vtx::StrLen16(item) + 1)
      if (*item && _wcsicmp(item, wide.GetBuffer()) == 0) {
        result = KeyResult(key, map.CodeResult());
        return true;
      }
    return false;
  });
  return result;
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

bool CNameIndex::Build(CMapIni& map) {
  m_map = &map;
  m_byFirst.clear();
  bool usable = true;
  ForEachKey(map, kMapNamesSection, [&](const char16_t* key, const char16_t* name, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, name += vtx::StrLen16(name) + 1) {
      if (!*name) continue;  // an empty item matches nothing
      if (*name == '\t') {
        usable = false;
        return true;
      }
      m_byFirst[vtx::UnicodeFold(*name)].push_back(Entry{key, name});
    }
    return false;
  });
  if (!usable) m_byFirst.clear();
  return usable;
}

const char* CNameIndex::Find(const char16_t* text) const {
  if (!m_map || !text || !*text) return nullptr;
  auto bucket = m_byFirst.find(vtx::UnicodeFold(*text));
  if (bucket == m_byFirst.end()) return nullptr;
  for (const Entry& e : bucket->second) {
    if (!MatchName(text, e.name, false)) continue;
    const char* code = KeyResult(e.key, m_map->NameResult());
    return code && _stricmp(code, "XXX") != 0 ? code : nullptr;
  }
  return nullptr;
}

bool CNameIndex::Lookup(const char16_t* text, char code[4]) const {
  return m_map && ResolveNameCode(*m_map, Find(text), code);
}

bool CNameIndex::MayStart(char16_t c) const { return m_byFirst.count(vtx::UnicodeFold(c)) != 0; }
