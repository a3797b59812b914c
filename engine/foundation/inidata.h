// Typed INI data: an ordered list of rows (a section row, then the rows of that section) that the
// registry and text backends fill and write out. Key tables give known (section, key) pairs an id
// and a value type.
#pragma once
#include <cstdint>
#include <cstring>

#include "engine/foundation/stringlist.h"
#include "engine/foundation/stringutil.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/numtext.h"

// The low byte of a row's type word.
enum IniDataType : uint32_t {
  IniTypeSection = 1,      // starts a section named by the row's name; no values
  IniTypeString = 2,       // one text
  IniTypeLong = 3,         // signed 32-bit number, stored as decimal text
  IniTypeULong = 4,        // unsigned 32-bit number, stored as decimal text
  IniTypeMultiString = 5,  // any number of texts
  IniTypePath = 6,         // one text that the text backend never escapes
  IniTypeMultiPath = 7,    // any number of texts that the text backend never escapes
  IniTypeLine = 8,         // the text backend writes the name alone as a line
};

// Flag above the low byte: numbers are written as 0x + hexadecimal, strings always quoted.
constexpr uint32_t IniFlagHex = 0x100;
constexpr uint32_t IniFlagQuote = IniFlagHex;
constexpr uint32_t IniTypeMask = 0xFF;

// FindIniTableEntryID when no table row matches.
constexpr uint32_t IniNoId = 0xFFFFFFFFu;

// A key-table row. A name pointer of all ones matches any name; a null key matches only a null key
// (the row describing a section itself). Several rows may share an id (synonyms).
template <class T>
struct IniTableEntry {
  const T* section;
  const T* key;
  uint32_t id;
  uint32_t type;
};

// The "any name" pointer for key tables.
template <class T>
inline const T* IniAny() {
  return reinterpret_cast<const T*>(~static_cast<uintptr_t>(0));
}
template <class T>
inline bool IsIniAny(const T* name) {
  return reinterpret_cast<uintptr_t>(name) == ~static_cast<uintptr_t>(0);
}

namespace vtx::ini {
template <class T>
inline bool NameMatches(const T* pattern, const T* name) {
  if (IsIniAny(pattern)) return true;
  if (!pattern || !name) return !pattern && !name;
  // Most rows differ in their first letter: settle those without a call.
  auto fold = [](T c) { return c >= 'A' && c <= 'Z' ? static_cast<T>(c - 'A' + 'a') : c; };
  if (fold(*pattern) != fold(*name)) return false;
  return CStringUtil<T>::StringICmp(pattern, name) == 0;
}

// A number as the INI data read it: the words true/yes/false/no, else strtol/strtoul with radix 0.
// A 0x-prefixed number is the 32-bit pattern even for a signed result, so that the hexadecimal
// text of a negative value reads back as that value. `info` reports digits read and overflow.
template <class T>
inline uint32_t ParseNumber(const T* text, const T** end, bool isSigned, ParseResult* info) {
  ParseResult r;
  if (end) *end = text;
  if (!text) {
    if (info) *info = r;
    return 0;
  }
  int b = CStringUtil<T>::StringToBool(text, end);
  if (b >= 0) {
    r.any = true;
    if (info) *info = r;
    return static_cast<uint32_t>(b);
  }
  const T* p = text;
  while (IsAsciiSpace(*p)) ++p;
  bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
  uint32_t v;
  if (isSigned && !hex)
    v = static_cast<uint32_t>(TextToSigned(text, end, 0, &r));
  else
    v = TextToUnsigned(text, end, 0, &r);
  if (info) *info = r;
  return v;
}
}  // namespace vtx::ini

// The first table row whose section and key match (names ignore case); null when none.
template <class T>
const IniTableEntry<T>* FindIniTableEntry(const T* section, const T* key, const IniTableEntry<T>* table, uint32_t count) {
  if (!table || static_cast<int32_t>(count) < 1) return nullptr;
  for (uint32_t i = 0; i < count; ++i)
    if (vtx::ini::NameMatches(table[i].section, section) && vtx::ini::NameMatches(table[i].key, key)) return &table[i];
  return nullptr;
}

// The id of that row, IniNoId (-1) when none.
template <class T>
uint32_t FindIniTableEntryID(const T* section, const T* key, const IniTableEntry<T>* table, uint32_t count) {
  const IniTableEntry<T>* e = FindIniTableEntry(section, key, table, count);
  return e ? e->id : IniNoId;
}

// Rows are records in one block: u32 type word, u32 line, u32 number of values, the name, then the
// values, each NUL-terminated. A row is the address of its record.
template <class T>
class CIniData {
 public:
  using Row = const T*;

  CIniData() = default;
  virtual ~CIniData() = default;
  CIniData(const CIniData&) = delete;
  CIniData& operator=(const CIniData&) = delete;

  // Replaces or extends the rows from the backend's store; HRESULT.
  virtual HRESULT Load(const IniTableEntry<T>* table, uint32_t count) = 0;
  // Writes the rows to the backend's store; HRESULT.
  virtual HRESULT Save() = 0;

  // Appends a row with the current line. False for a null name or when memory runs out (the list
  // is then unchanged). A null value stands for an empty text.
  bool Add(uint32_t typeWord, const T* name, const T* const* values, uint32_t count) {
    if (!name || (count && !values)) return false;
    uint64_t chars = static_cast<uint64_t>(CStringUtil<T>::StringLen(name)) + 1;
    for (uint32_t i = 0; i < count; ++i) chars += static_cast<uint64_t>(CStringUtil<T>::StringLen(values[i])) + 1;
    uint64_t bytes = kHeaderBytes + chars * sizeof(T);
    if (bytes > UINT32_MAX) return false;
    auto* block = static_cast<unsigned char*>(GlobalAlloc(0, static_cast<size_t>(bytes)));
    if (!block) return false;
    const uint32_t head[3] = {typeWord, m_line, count};
    std::memcpy(block, head, sizeof head);
    T* p = reinterpret_cast<T*>(block + kHeaderBytes);
    p = CopyText(p, name);
    for (uint32_t i = 0; i < count; ++i) p = CopyText(p, values[i]);
    bool ok = m_rows.Add(block, kListAppend, static_cast<uint32_t>(bytes));
    GlobalFree(block);
    return ok;
  }
  bool AddSection(const T* name) { return Add(IniTypeSection, name, nullptr, 0); }
  bool AddString(const T* name, const T* value, uint32_t flags = 0) { return Add(flags | IniTypeString, name, &value, 1); }
  bool AddPath(const T* name, const T* value, uint32_t flags = 0) { return Add(flags | IniTypePath, name, &value, 1); }
  bool AddLong(const T* name, int32_t value, uint32_t flags = 0) {
    T text[16];
    CStringUtil<T>::LongToString(value, text, 10, 0);
    const T* v = text;
    return Add(flags | IniTypeLong, name, &v, 1);
  }
  bool AddULong(const T* name, uint32_t value, uint32_t flags = 0) {
    T text[16];
    CStringUtil<T>::ULongToString(value, text, 10, 0);
    const T* v = text;
    return Add(flags | IniTypeULong, name, &v, 1);
  }
  bool AddMultiString(const T* name, const T* const* values, uint32_t count, uint32_t flags = 0) {
    return Add(flags | IniTypeMultiString, name, values, count);
  }
  bool AddMultiPath(const T* name, const T* const* values, uint32_t count, uint32_t flags = 0) {
    return Add(flags | IniTypeMultiPath, name, values, count);
  }
  // A line the text backend writes as it stands.
  bool AddLine(const T* text) { return Add(IniTypeLine, text, nullptr, 0); }

  // Row access. A row comes from the iterator (or from operator[]).
  static uint32_t GetTypeWord(Row row) { return Head(row, 0); }
  static uint32_t GetType(Row row) { return Head(row, 0) & IniTypeMask; }
  static uint32_t GetFlags(Row row) { return Head(row, 0) & ~IniTypeMask; }
  static uint32_t GetLine(Row row) { return Head(row, 1); }
  static const T* GetName(Row row) { return row + kHeaderBytes / sizeof(T); }
  static const T* GetSection(Row row) { return GetName(row); }
  static const T* GetString1(Row row) { return GetName(row); }
  static uint32_t GetStringCount(Row row) { return Head(row, 2); }
  static uint32_t GetPathCount(Row row) { return Head(row, 2); }
  // The value with index n (0-based); null when the row has no such value.
  static const T* GetStringN(Row row, uint32_t n) {
    if (n >= GetStringCount(row)) return nullptr;
    const T* p = GetName(row);
    for (uint32_t i = 0; i <= n; ++i) p += CStringUtil<T>::StringLen(p) + 1;
    return p;
  }
  static const T* GetPathValue(Row row, uint32_t n = 0) { return GetStringN(row, n); }
  // The first value; null when the row has none.
  static const T* GetStringValue(Row row) { return GetStringN(row, 0); }
  static const T* GetString2(Row row) { return GetStringN(row, 0); }
  // The first value as a number (true/yes/false/no count as 1 and 0; 0x and a leading 0 select
  // hexadecimal and octal); 0 when the row has no value.
  static int32_t GetLongValue(Row row) {
    return static_cast<int32_t>(vtx::ini::ParseNumber<T>(GetStringValue(row), nullptr, true, nullptr));
  }
  static uint32_t GetULongValue(Row row) { return vtx::ini::ParseNumber<T>(GetStringValue(row), nullptr, false, nullptr); }

  // The data's current line: new rows get it.
  uint32_t GetLine() const { return m_line; }
  void SetLine(uint32_t n) { m_line = n; }

  uint32_t GetCount() const { return m_rows.GetCount(); }
  // The row at an index; an index out of range throws an integer.
  Row operator[](uint32_t index) const { return m_rows[index]; }
  void Empty() { m_rows.Empty(); }

  // Walks the rows in order.
  class Iterator {
   public:
    Iterator() = default;
    explicit Iterator(const CIniData& data, uint32_t start = 0) : m_it(data.m_rows.begin()) {
      while (start-- && m_it) ++m_it;
    }
    explicit operator bool() const { return static_cast<bool>(m_it); }
    bool IsEnd() const { return !m_it; }
    Row operator*() const { return *m_it; }
    Iterator& operator++() {
      ++m_it;
      return *this;
    }
    bool operator==(const Iterator& o) const { return m_it == o.m_it; }
    bool operator!=(const Iterator& o) const { return m_it != o.m_it; }

   private:
    typename CStringList<T>::Iterator m_it;
  };
  Iterator begin() const { return Iterator(*this); }
  Iterator end() const { return Iterator(); }

 protected:
  static constexpr uint32_t kHeaderBytes = 3 * sizeof(uint32_t);
  static_assert(kHeaderBytes % sizeof(T) == 0);

  static uint32_t Head(Row row, int i) {
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(row) + i * sizeof(uint32_t), sizeof v);
    return v;
  }
  static T* CopyText(T* dst, const T* src) {
    uint32_t n = CStringUtil<T>::StringLen(src);
    if (n) std::memcpy(dst, src, n * sizeof(T));
    dst[n] = 0;
    return dst + n + 1;
  }

  CStringList<T> m_rows;
  uint32_t m_line = 1;
};

using CIniDataA = CIniData<char>;
using CIniDataW = CIniData<char16_t>;
