#include "engine/foundation/inidataregistry.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/heap.h"

namespace {

HRESULT HR(DWORD e) { return HRESULT_FROM_WIN32(e); }

// The registry calls in the width of the data.
LONG QueryInfo(HKEY k, DWORD* subKeys, DWORD* maxSubKey, DWORD* values, DWORD* maxName, DWORD* maxData, char*) {
  return RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, subKeys, maxSubKey, nullptr, values, maxName, maxData, nullptr,
                          nullptr);
}
LONG QueryInfo(HKEY k, DWORD* subKeys, DWORD* maxSubKey, DWORD* values, DWORD* maxName, DWORD* maxData, char16_t*) {
  return RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, subKeys, maxSubKey, nullptr, values, maxName, maxData, nullptr,
                          nullptr);
}
LONG EnumValue(HKEY k, DWORD i, char* name, DWORD* chars, DWORD* type, BYTE* data, DWORD* size) {
  return RegEnumValueA(k, i, name, chars, nullptr, type, data, size);
}
LONG EnumValue(HKEY k, DWORD i, char16_t* name, DWORD* chars, DWORD* type, BYTE* data, DWORD* size) {
  return RegEnumValueW(k, i, name, chars, nullptr, type, data, size);
}
LONG CreateKey(HKEY k, const char* name, HKEY* out) {
  return RegCreateKeyExA(k, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, out, nullptr);
}
LONG CreateKey(HKEY k, const char16_t* name, HKEY* out) {
  return RegCreateKeyExW(k, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, out, nullptr);
}
LONG SetValue(HKEY k, const char* name, DWORD type, const void* data, DWORD size) {
  return RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
}
LONG SetValue(HKEY k, const char16_t* name, DWORD type, const void* data, DWORD size) {
  return RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size);
}

bool IsStringRow(uint32_t t) { return t == IniTypeString || t == IniTypePath; }
bool IsListRow(uint32_t t) { return t == IniTypeMultiString || t == IniTypeMultiPath; }
bool IsNumberRow(uint32_t t) { return t == IniTypeLong || t == IniTypeULong; }

class LocalBlock {
 public:
  explicit LocalBlock(size_t bytes) : p_(LocalAlloc(LMEM_ZEROINIT, bytes ? bytes : 1)) {}
  ~LocalBlock() {
    if (p_) LocalFree(p_);
  }
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;
  template <class P>
  P* as() const {
    return static_cast<P*>(p_);
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  void* p_;
};

}  // namespace

template <class T>
bool CIniDataRegistry<T>::SetBaseKey(HKEY root, const char* path) {
  m_hRoot = root;
  m_strBase = path;
  return !path || !m_strBase.IsNull();
}

template <class T>
DWORD CIniDataRegistry<T>::Refuse(DWORD code, const T* section, const T* name) {
  m_errorSection = section;
  m_errorName = name;
  return code;
}

template <class T>
DWORD CIniDataRegistry<T>::AddValue(const IniTableEntry<T>* entry, const T* section, const T* name, DWORD type,
                                    const T* data, DWORD size) {
  uint32_t want = entry ? (entry->type & IniTypeMask) : 0;
  uint32_t chars = size / sizeof(T);
  bool added;
  if (type == REG_SZ) {
    if (IsNumberRow(want)) return Refuse(ERROR_INVALID_PARAMETER, section, name);
    const T* text = data;
    added = this->Add(IsStringRow(want) || IsListRow(want) ? want : IniTypeString, name, &text, 1);
  } else if (type == REG_DWORD) {
    if (IsStringRow(want) || IsListRow(want)) return Refuse(ERROR_INVALID_PARAMETER, section, name);
    if (size != 4) return Refuse(ERROR_INVALID_DATA, section, name);
    DWORD v;
    std::memcpy(&v, data, 4);
    added = want == IniTypeLong ? this->AddLong(name, static_cast<int32_t>(v)) : this->AddULong(name, v);
  } else if (type == REG_MULTI_SZ) {
    // A list with no table entry reads as a list of strings.
    if (entry && !IsListRow(want)) return Refuse(ERROR_INVALID_PARAMETER, section, name);
    // The texts up to the end of the data; the empty text of the closing NUL is not one of them,
    // so that empty texts inside a list come back too.
    uint32_t items = 0;
    bool lastEmpty = false;
    for (uint32_t pos = 0; pos < chars;) {
      uint32_t len = CStringUtil<T>::StringLen(data + pos);
      ++items;
      lastEmpty = len == 0;
      pos += len + 1;
    }
    if (lastEmpty) --items;
    LocalBlock list(static_cast<size_t>(items) * sizeof(const T*));
    if (!list) return ERROR_OUTOFMEMORY;
    const T** texts = list.as<const T*>();
    uint32_t pos = 0;
    for (uint32_t i = 0; i < items; ++i) {
      texts[i] = data + pos;
      pos += CStringUtil<T>::StringLen(data + pos) + 1;
    }
    added = this->Add(entry ? want : IniTypeMultiString, name, texts, items);
  } else {
    return ERROR_SUCCESS;  // REG_EXPAND_SZ, REG_BINARY and the rest are not INI data
  }
  return added ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

template <class T>
DWORD CIniDataRegistry<T>::LoadSection(HKEY key, const T* section, const IniTableEntry<T>* table, uint32_t count) {
  DWORD values = 0, maxName = 0, maxData = 0;
  LONG r = QueryInfo(key, nullptr, nullptr, &values, &maxName, &maxData, static_cast<T*>(nullptr));
  if (r) return static_cast<DWORD>(r);
  // One block for a name and a value; the value gets room for two more NULs, so that text read from
  // the store is always terminated, lists too.
  size_t nameChars = static_cast<size_t>(maxName) + 1;
  size_t dataChars = (static_cast<size_t>(maxData) + sizeof(T) - 1) / sizeof(T) + 2;
  LocalBlock block((nameChars + dataChars) * sizeof(T));
  if (!block) return ERROR_OUTOFMEMORY;
  T* name = block.as<T>();
  T* data = name + nameChars;
  for (DWORD index = 0;; ++index) {
    DWORD n = static_cast<DWORD>(nameChars), size = maxData, type = 0;
    std::memset(data, 0, dataChars * sizeof(T));
    r = EnumValue(key, index, name, &n, &type, reinterpret_cast<BYTE*>(data), &size);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r) return static_cast<DWORD>(r);
    data[size / sizeof(T)] = 0;
    if (DWORD e = AddValue(FindIniTableEntry(section, static_cast<const T*>(name), table, count), section, name, type,
                           data, size))
      return e;
  }
}

namespace {

// Takes a whole key from the store's walk: the base key's values, then each section with its values.
template <class T>
class TreeLoader : public vtx::RegTreeVisitor {
 public:
  TreeLoader(CIniDataRegistry<T>& data, const IniTableEntry<T>* table, uint32_t count)
      : m_data(data), m_table(table), m_count(count) {
    Enter(nullptr);
  }
  DWORD OnSubkey(const void* name) override {
    m_section = static_cast<const T*>(name);
    Enter(m_section.c_str());
    return m_data.AddSection(m_section.c_str()) ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
  }
  DWORD OnValue(const void* name, DWORD type, const BYTE* data, DWORD size) override {
    // A text ends where its value ends: an odd last byte of 16-bit text is dropped, as on reading
    // value by value.
    m_value.assign(reinterpret_cast<const T*>(data), size / sizeof(T));
    const T* key = static_cast<const T*>(name);
    // The first table row of this section that names the key: FindIniTableEntry's answer.
    const IniTableEntry<T>* entry = nullptr;
    for (const IniTableEntry<T>* row : m_rows)
      if (vtx::ini::NameMatches(row->key, key)) {
        entry = row;
        break;
      }
    return m_data.AddValue(entry, m_inSection ? m_section.c_str() : nullptr, key, type, m_value.c_str(), size);
  }

 private:
  // The rows of the table that match a section, in table order.
  void Enter(const T* section) {
    m_inSection = section != nullptr;
    m_rows.clear();
    if (!m_table || static_cast<int32_t>(m_count) < 1) return;
    for (uint32_t i = 0; i < m_count; ++i)
      if (vtx::ini::NameMatches(m_table[i].section, section)) m_rows.push_back(&m_table[i]);
  }

  CIniDataRegistry<T>& m_data;
  const IniTableEntry<T>* m_table;
  uint32_t m_count;
  std::basic_string<T> m_section, m_value;
  std::vector<const IniTableEntry<T>*> m_rows;
  bool m_inSection = false;
};

}  // namespace

template <class T>
HRESULT CIniDataRegistry<T>::Load(const IniTableEntry<T>* table, uint32_t count) {
  m_errorName.Empty();
  m_errorSection.Empty();
  if (m_strBase.IsNull()) return E_HANDLE;
  // One snapshot: a writer in another process never shows half a save.
  vtx::RegTransaction snapshot(vtx::RegTransaction::Read);
  if (snapshot.Status()) return HR(snapshot.Status());
  HKEY base = nullptr;
  LONG r = RegOpenKeyExA(m_hRoot, m_strBase.GetBuffer(), 0, KEY_READ, &base);
  if (r) return HR(static_cast<DWORD>(r));
  TreeLoader<T> loader(*this, table, count);
  r = static_cast<LONG>(vtx::RegReadTree(base, sizeof(T) == 1, loader));
  RegCloseKey(base);
  return HR(static_cast<DWORD>(r));
}

template <class T>
HRESULT CIniDataRegistry<T>::Save() {
  if (m_strBase.IsNull()) return E_HANDLE;
  // A section that cannot be a key name would be saved where it is never read back: refuse it
  // before anything is touched.
  for (auto it = this->begin(); it; ++it) {
    const T* row = *it;
    if (this->GetType(row) != IniTypeSection) continue;
    const T* name = this->GetName(row);
    if (!*name) return E_INVALIDARG;
    for (const T* p = name; *p; ++p)
      if (*p == '\\') return E_INVALIDARG;
  }
  // Delete and rewrite as one change: a failure or a crash midway leaves the old contents whole.
  vtx::RegTransaction tx;
  if (tx.Status()) return HR(tx.Status());
  if (!DeleteRegistryKey(m_hRoot, m_strBase.GetBuffer()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    return HR(GetLastError());
  HKEY base = nullptr;
  LONG r = RegCreateKeyExA(m_hRoot, m_strBase.GetBuffer(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, &base, nullptr);
  if (r) return HR(static_cast<DWORD>(r));
  HKEY current = base;
  static const T kEmpty[1] = {0};
  for (auto it = this->begin(); it && !r; ++it) {
    const T* row = *it;
    const T* name = this->GetName(row);
    uint32_t type = this->GetType(row);
    if (type == IniTypeSection) {
      if (current != base) RegCloseKey(current);
      current = base;
      HKEY sub = nullptr;
      if (!(r = CreateKey(base, name, &sub))) current = sub;
    } else if (IsStringRow(type)) {
      const T* v = this->GetStringValue(row);
      if (!v) v = kEmpty;
      r = SetValue(current, name, REG_SZ, v, (CStringUtil<T>::StringLen(v) + 1) * sizeof(T));
    } else if (IsNumberRow(type)) {
      DWORD v = type == IniTypeLong ? static_cast<DWORD>(this->GetLongValue(row)) : this->GetULongValue(row);
      r = SetValue(current, name, REG_DWORD, &v, 4);
    } else if (IsListRow(type)) {
      uint32_t n = this->GetStringCount(row);
      uint64_t chars = 1;
      for (uint32_t i = 0; i < n; ++i) chars += CStringUtil<T>::StringLen(this->GetStringN(row, i)) + 1;
      if (chars * sizeof(T) > UINT32_MAX) {
        r = ERROR_INVALID_PARAMETER;
        break;
      }
      LocalBlock block(static_cast<size_t>(chars) * sizeof(T));
      if (!block) {
        r = ERROR_OUTOFMEMORY;
        break;
      }
      T* p = block.as<T>();
      for (uint32_t i = 0; i < n; ++i) {
        const T* s = this->GetStringN(row, i);
        uint32_t len = CStringUtil<T>::StringLen(s);
        std::memcpy(p, s, len * sizeof(T));
        p += len;
        *p++ = 0;
      }
      *p = 0;
      r = SetValue(current, name, REG_MULTI_SZ, block.as<T>(), static_cast<DWORD>(chars * sizeof(T)));
    }
    // Literal lines and unknown types have no place in the registry.
  }
  if (current != base) RegCloseKey(current);
  RegCloseKey(base);
  if (!r) r = static_cast<LONG>(tx.Commit());
  return HR(static_cast<DWORD>(r));
}

template class CIniDataRegistry<char>;
template class CIniDataRegistry<char16_t>;
