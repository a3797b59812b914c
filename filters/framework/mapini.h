// The code-mapping file map.ini as the filters look names and codes up in it: rows in file
// order, [Names] keys with the names providers use, [Codes] keys with the codes that stand for
// them; a key "XXX" marks rows to ignore.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/foundation/cstring.h"
#include "engine/foundation/inidatabuffer.h"

// Ids of the key table.
enum MapIniId : uint32_t { kMapNamesSection = 0, kMapNamesKey = 1, kMapCodesSection = 2, kMapCodesKey = 3 };
constexpr uint32_t kMapIniTableRows = 4;
extern const IniTableEntry<char16_t> g_MapIniTable[kMapIniTableRows];

// The loaded file: its rows in file order, and a result buffer for each kind of look-up.
class CMapIni : public CIniDataBuffer<char16_t> {
 public:
  static constexpr uint32_t kResultChars = 80;

  char* NameResult() { return m_nameResult; }
  char* CodeResult() { return m_codeResult; }

 private:
  char m_nameResult[kResultChars] = {};
  char m_codeResult[kResultChars] = {};
};

// Reads an INI file into the map: UTF-16 little-endian when it begins with the bytes FF FE,
// else text of the ANSI code page. An HRESULT: file errors as 0x8007xxxx, 0x8007000E without
// memory, 0x8007000D for malformed text.
HRESULT LoadIniFile(CMapIni* map, const char* path, const IniTableEntry<char16_t>* table, uint32_t count);

// Loads "map.ini" from the folder of the running program.
bool LoadMapIni(CMapIni* map);

// A document converted to wide text once, so that names can be looked up at every position of
// its ANSI text without converting the rest of it each time.
class CMapDocument {
 public:
  // False when out of memory or the text does not convert.
  bool Set(const char* ansi);
  // The ANSI text the document was made from.
  const char* GetText() const { return m_ansi; }
  // The wide text is there (Set succeeded).
  bool Converted() const { return !m_wide.IsNull(); }
  // The wide text at a place of the ANSI text; null when no character begins there (inside a
  // character of UTF-8) or the document has no wide text.
  const char16_t* At(const char* place) const;

 private:
  const char* m_ansi = nullptr;
  uint32_t m_length = 0;
  CStringW m_wide;
  // UTF-8 only: for every kMarkBytes-th byte, the first character that begins there or after it,
  // as its byte and its wide position; and the place last asked for, since a scan asks for place
  // after place.
  static constexpr uint32_t kMarkBytes = 64;
  std::vector<std::pair<uint32_t, uint32_t>> m_marks;
  mutable std::pair<uint32_t, uint32_t> m_last{0, 0};
};

// The code of a provider's currency name, or null: [Names] keys in file order, each name tried
// from the start of the text. Without `wholeMatch` the text need only begin with the name.
// The result stays valid until the next name look-up on the map.
const char* FindNameCode(CMapIni& map, const char* text, bool wholeMatch);
const char* FindNameCodeW(CMapIni& map, const char16_t* text, bool wholeMatch);
// The same at a place inside a converted document.
const char* FindNameCodeAt(CMapIni& map, const CMapDocument& document, const char* place, bool wholeMatch);

// The [Codes] key whose list holds the code (ignoring case), "XXX" included, or null.
const char* FindCodeAlias(CMapIni& map, const char* code);

// The combined look-ups of the filters. A name: its code, then the code's alias; false when the
// row has no currency. A provider's code: its alias or itself; false when it is to be ignored.
bool LookupCurrencyName(CMapIni& map, const char* text, bool wholeMatch, char code[4]);
bool LookupCurrencyNameAt(CMapIni& map, const CMapDocument& document, const char* place, bool wholeMatch, char code[4]);
bool LookupCurrencyCode(CMapIni& map, const char* providerCode, char code[4]);

// The [Names] of a map by the first character of each name (ignoring case), in file order: the
// look-ups at every place of a page then try only the names that can start there, with the same
// results as FindNameCodeW and LookupCurrencyName.
class CNameIndex {
 public:
  // False when a name may start anywhere (an empty first word): the index cannot serve that map.
  bool Build(CMapIni& map);
  // FindNameCodeW(map, text, false).
  const char* Find(const char16_t* text) const;
  // The code and its alias, as LookupCurrencyName.
  bool Lookup(const char16_t* text, char code[4]) const;
  // Some name begins with this character, ignoring case.
  bool MayStart(char16_t c) const;

 private:
  struct Entry {
    const char16_t* key;
    const char16_t* name;
  };
  CMapIni* m_map = nullptr;
  std::unordered_map<char16_t, std::vector<Entry>> m_byFirst;
};
