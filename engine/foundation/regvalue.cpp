#include "engine/foundation/regvalue.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/numtext.h"
#include "platform/process.h"

namespace {

HRESULT HR(LONG e) { return HRESULT_FROM_WIN32(static_cast<DWORD>(e)); }

// A value name in the width of the call.
template <class T>
struct CallName;
template <>
struct CallName<char> {
  explicit CallName(const char* n) : p(n) {}
  const char* p;
};
template <>
struct CallName<char16_t> {
  explicit CallName(const char* n) : p(n) {}
  const char* p;
};

LONG Query(HKEY key, const CallName<char>& n, DWORD* type, BYTE* data, DWORD* size) {
  return RegQueryValueExA(key, n.p, nullptr, type, data, size);
}
LONG Query(HKEY key, const CallName<char16_t>& n, DWORD* type, BYTE* data, DWORD* size) {
  return RegQueryValueEx_U(key, n.p, nullptr, type, reinterpret_cast<char16_t*>(data), size);
}

template <class T>
uint32_t BoundedLen(const T* text, uint32_t chars) {
  uint32_t n = 0;
  while (n < chars && text[n]) ++n;
  return n;
}

// Reads a value of any type into a fresh block; `extra` bytes of zeros follow the data.
LONG ReadBlock(HKEY root, const char* path, const char* name, RegBufferValue& holder, uint32_t extra, DWORD& type,
               DWORD& got, LONG (*query)(HKEY, const char*, DWORD*, BYTE*, DWORD*)) {
  HKEY key = nullptr;
  LONG r = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
  if (r) return r;
  // The value may grow between the two calls when another process writes it: ask again then.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    r = query(key, name, &type, nullptr, &size);
    if (r) break;
    uint32_t n = size + extra;
    if (n == 0) n = 1;
    if (!holder.SetBuffer(n)) {
      r = ERROR_OUTOFMEMORY;
      break;
    }
    std::memset(holder.GetBuffer(), 0, n);
    got = size;
    r = query(key, name, &type, static_cast<BYTE*>(holder.GetBuffer()), &got);
    if (r != ERROR_MORE_DATA) break;
  }
  RegCloseKey(key);
  if (r) holder.FreeBuffer();
  return r;
}

LONG QueryA(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  return RegQueryValueExA(key, name, nullptr, type, data, size);
}

}  // namespace

// ---- holders ---------------------------------------------------------------------------------

bool RegBufferValue::SetBuffer(uint32_t n) {
  FreeBuffer();
  m_pBuffer = LocalAlloc(LMEM_FIXED, n);
  if (!m_pBuffer) return false;
  m_dwSize = n;
  return true;
}

void RegBufferValue::FreeBuffer() {
  if (m_pBuffer) LocalFree(m_pBuffer);
  m_pBuffer = nullptr;
  m_dwSize = 0;
}

template <class T>
HRESULT RegStringValue<T>::LoadAs(HKEY root, const char* path, const char* name, bool expandable) {
  CallName<T> n(name);
  HKEY key = nullptr;
  LONG r = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
  if (r) return HR(r);
  DWORD type = 0, got = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    r = Query(key, n, &type, nullptr, &size);
    if (r) break;
    if (type != REG_SZ && !(expandable && type == REG_EXPAND_SZ)) {
      r = ERROR_INVALID_DATA;
      break;
    }
    if (size == 0) size = 1;
    // Room for the data rounded to whole characters and a terminator the data may lack.
    uint32_t chars = (size + sizeof(T) - 1) / sizeof(T);
    if (!this->SetBuffer((chars + 1) * sizeof(T))) {
      r = ERROR_OUTOFMEMORY;
      break;
    }
    std::memset(this->m_pBuffer, 0, (chars + 1) * sizeof(T));
    got = size;
    r = Query(key, n, &type, static_cast<BYTE*>(this->m_pBuffer), &got);
    if (r != ERROR_MORE_DATA) break;
  }
  RegCloseKey(key);
  if (r) {
    this->FreeBuffer();
    return HR(r);
  }
  T* text = static_cast<T*>(this->m_pBuffer);
  uint32_t chars = got / sizeof(T);
  text[chars] = 0;
  // The size is that of the text with one terminator.
  this->m_dwSize = (chars && text[chars - 1] == 0 ? chars : chars + 1) * sizeof(T);
  if (sizeof(T) == 1 && chars == 0) this->m_dwSize = 1;
  m_dwType = type;
  return S_OK;
}

template <class T>
HRESULT RegStringValue<T>::Save(HKEY root, const char* path, const char* name) {
  const T* text = GetString();
  if (name && !text) return E_UNEXPECTED;
  HKEY key = nullptr;
  LONG r = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (r) return HR(r);
  if (text) {
    uint32_t len = BoundedLen(text, this->m_dwSize / sizeof(T));
    if (len == this->m_dwSize / sizeof(T)) {
      r = ERROR_INVALID_DATA;  // never write past the block
    } else if constexpr (sizeof(T) == 1) {
      r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), len + 1);
    } else {
      r = RegSetValueEx_U(key, name, 0, REG_SZ, text, (len + 1) * 2);
    }
  }
  RegCloseKey(key);
  return HR(r);
}

template <class T>
RegStringValue<T>& RegStringValue<T>::operator=(const T* text) {
  if (text == GetString() && text) return *this;
  if (!text) {
    this->FreeBuffer();
    return *this;
  }
  uint32_t len = CStringUtil<T>::StringLen(text);
  void* block = LocalAlloc(LMEM_FIXED, (static_cast<size_t>(len) + 1) * sizeof(T));
  if (block) std::memcpy(block, text, (static_cast<size_t>(len) + 1) * sizeof(T));
  this->FreeBuffer();
  if (block) {
    this->m_pBuffer = block;
    this->m_dwSize = (len + 1) * sizeof(T);
  }
  m_dwType = REG_SZ;
  return *this;
}

namespace {
DWORD Expand(const char* source, char* destination, DWORD size) {
  return ExpandEnvironmentStringsA(source, destination, size);
}
DWORD Expand(const char16_t* source, char16_t* destination, DWORD size) {
  return ExpandEnvironmentStrings_U(source, destination, size);
}
}  // namespace

template <class T>
HRESULT RegStringValue<T>::SetType(DWORD type) {
  if (type == REG_EXPAND_SZ) {
    m_dwType = REG_EXPAND_SZ;
    return S_OK;
  }
  if (type != REG_SZ) return E_INVALIDARG;
  const T* text = GetString();
  if (m_dwType != REG_EXPAND_SZ || !text) return S_OK;
  DWORD need = Expand(text, nullptr, 0);
  if (need == 0) {
    DWORD e = GetLastError();
    return e ? HR(static_cast<LONG>(e)) : E_FAIL;
  }
  if (need <= 1) {
    // An empty text, or one that expands to nothing: an empty REG_SZ.
    static const T kEmpty[1] = {0};
    *this = kEmpty;
    if (!GetString()) return E_OUTOFMEMORY;
    m_dwType = REG_SZ;
    return S_OK;
  }
  T* expanded = static_cast<T*>(LocalAlloc(LMEM_FIXED, (static_cast<size_t>(need) + 1) * sizeof(T)));
  if (!expanded) return E_OUTOFMEMORY;
  DWORD got = Expand(text, expanded, need + 1);
  if (got == 0 || got > need + 1) {
    DWORD e = GetLastError();
    LocalFree(expanded);
    return got ? E_OUTOFMEMORY : (e ? HR(static_cast<LONG>(e)) : E_FAIL);
  }
  this->FreeBuffer();
  this->m_pBuffer = expanded;
  this->m_dwSize = got * sizeof(T);
  m_dwType = REG_SZ;
  return S_OK;
}

template class RegStringValue<char>;
template class RegStringValue<char16_t>;

HRESULT RegDwordValue::Load(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  LONG r = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
  if (r) return HR(r);
  DWORD type = 0, size = 0;
  r = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  if (!r) {
    if (size < 4) {
      r = ERROR_INVALID_DATA;
    } else if (size > 4) {
      r = ERROR_MORE_DATA;
    } else {
      BYTE bytes[4];
      size = 4;
      r = RegQueryValueExA(key, name, nullptr, &type, bytes, &size);
      if (!r && size != 4) r = ERROR_INVALID_DATA;
      if (!r) std::memcpy(&m_dwValue, bytes, 4);
    }
  }
  RegCloseKey(key);
  return HR(r);
}

HRESULT RegDwordValue::Save(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (r) return HR(r);
  r = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_dwValue), 4);
  RegCloseKey(key);
  return HR(r);
}

HRESULT RegBinaryValue::Load(HKEY root, const char* path, const char* name) {
  DWORD type = 0, got = 0;
  LONG r = ReadBlock(root, path, name, *this, 0, type, got, QueryA);
  if (r) return HR(r);
  m_dwSize = got;
  return S_OK;
}

HRESULT RegBinaryValue::Save(HKEY root, const char* path, const char* name) {
  if (m_dwSize && !m_pBuffer) return E_POINTER;
  HKEY key = nullptr;
  LONG r = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
  if (r) return HR(r);
  r = RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(m_pBuffer), m_dwSize);
  RegCloseKey(key);
  return HR(r);
}

bool RegBinaryValue::Copy(const void* data, uint32_t size) {
  if (!SetBuffer(size ? size : 1)) return false;
  if (size) std::memcpy(m_pBuffer, data, size);
  m_dwSize = size;
  return true;
}

// ---- wide writes -----------------------------------------------------------------------------

bool UnicodeSupported() { return true; }

LONG RegSetValueEx_U(HKEY key, const char* name, DWORD reserved, DWORD type, const char16_t* data, DWORD size) {
  CStringW wname;
  if (name) {
    wname = name;
    if (wname.IsNull()) return ERROR_OUTOFMEMORY;
  }
  LONG r = ERROR_CALL_NOT_IMPLEMENTED;
  if (UnicodeSupported()) r = RegSetValueExW(key, wname.GetBuffer(), reserved, type, reinterpret_cast<const BYTE*>(data), size);
  if (r != ERROR_CALL_NOT_IMPLEMENTED) return r;
  int chars = static_cast<int>(size / 2);
  if (chars == 0) return RegSetValueExA(key, name, reserved, type, nullptr, 0);
  int need = WideCharToMultiByte(CP_ACP, 0, data, chars, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return static_cast<LONG>(GetLastError());
  char* ansi = static_cast<char*>(LocalAlloc(LMEM_FIXED, static_cast<size_t>(need)));
  if (!ansi) return ERROR_OUTOFMEMORY;
  WideCharToMultiByte(CP_ACP, 0, data, chars, ansi, need, nullptr, nullptr);
  r = RegSetValueExA(key, name, reserved, type, reinterpret_cast<const BYTE*>(ansi), static_cast<DWORD>(need));
  LocalFree(ansi);
  return r;
}

LONG RegQueryValueEx_U(HKEY key, const char* name, DWORD* reserved, DWORD* type, char16_t* data, DWORD* size) {
  CStringW wname;
  if (name) {
    wname = name;
    if (wname.IsNull()) return ERROR_OUTOFMEMORY;
  }
  LONG r = ERROR_CALL_NOT_IMPLEMENTED;
  if (UnicodeSupported()) r = RegQueryValueExW(key, wname.GetBuffer(), reserved, type, reinterpret_cast<BYTE*>(data), size);
  if (r != ERROR_CALL_NOT_IMPLEMENTED) return r;
  if (!size) return ERROR_INVALID_PARAMETER;
  // Without the wide call: the ANSI text in half the room, converted back.
  DWORD ansiSize = data ? *size / 2 : 0;
  char* ansi = nullptr;
  if (data) {
    ansi = static_cast<char*>(LocalAlloc(LMEM_FIXED, ansiSize ? ansiSize : 1));
    if (!ansi) return ERROR_OUTOFMEMORY;
  }
  r = RegQueryValueExA(key, name, reserved, type, reinterpret_cast<BYTE*>(ansi), &ansiSize);
  if (r == ERROR_SUCCESS && data && ansiSize) {
    int chars = MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(ansiSize), data, static_cast<int>(*size / 2));
    if (chars <= 0) r = static_cast<LONG>(GetLastError());
  }
  if (ansi) LocalFree(ansi);
  if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) *size = ansiSize * 2;
  return r;
}

DWORD ExpandEnvironmentStrings_U(const char16_t* source, char16_t* destination, DWORD size) {
  return ExpandEnvironmentStringsW(source, destination, size);
}

// ---- key operations --------------------------------------------------------------------------

namespace {

// A list entry equal to a wide name, ignoring case as the store does.
bool InList(RegNameList list, const char16_t* name) {
  if (!list) return false;
  for (; *list; ++list) {
    CStringW entry;
    entry = *list;
    if (!entry.IsNull() && vtx::UnicodeICompare(entry.GetBuffer(), name) == 0) return true;
  }
  return false;
}

// Wide calls below, so that names and data outside the ANSI code page come through whole.
struct WideBlock {
  explicit WideBlock(size_t bytes) : p(LocalAlloc(LMEM_FIXED, bytes ? bytes : 1)) {}
  ~WideBlock() {
    if (p) LocalFree(p);
  }
  void* p;
};

constexpr DWORD kKeyNameChars = REG_MAX_KEY_NAME + 1;

LONG DeleteContents(HKEY key, RegNameList keep) {
  WideBlock keyName(kKeyNameChars * sizeof(char16_t));
  if (!keyName.p) return ERROR_OUTOFMEMORY;
  auto* kname = static_cast<char16_t*>(keyName.p);
  for (;;) {
    DWORD n = kKeyNameChars;
    LONG r = RegEnumKeyExW(key, 0, kname, &n, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r) return r;
    if ((r = RegDeleteTreeW(key, kname))) return r;
  }
  DWORD maxName = 0;
  LONG r = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr,
                            nullptr, nullptr);
  if (r) return r;
  WideBlock valueName((static_cast<size_t>(maxName) + 1) * sizeof(char16_t));
  if (!valueName.p) return ERROR_OUTOFMEMORY;
  auto* vname = static_cast<char16_t*>(valueName.p);
  // Kept values stay in place: step past them.
  for (DWORD index = 0;;) {
    DWORD n = maxName + 1;
    r = RegEnumValueW(key, index, vname, &n, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r) return r;
    if (InList(keep, vname)) {
      ++index;
      continue;
    }
    if ((r = RegDeleteValueW(key, vname))) return r;
  }
}

LONG CopyContents(HKEY target, HKEY source, RegNameList s1, RegNameList s2, RegNameList s3, bool top) {
  DWORD maxName = 0, maxData = 0;
  LONG r = RegQueryInfoKeyW(source, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                            nullptr, nullptr);
  if (r) return r;
  {
    WideBlock name((static_cast<size_t>(maxName) + 1) * sizeof(char16_t));
    WideBlock data(maxData);
    if (!name.p || !data.p) return ERROR_OUTOFMEMORY;
    auto* vname = static_cast<char16_t*>(name.p);
    for (DWORD index = 0;; ++index) {
      DWORD n = maxName + 1, size = maxData, type = 0;
      r = RegEnumValueW(source, index, vname, &n, nullptr, &type, static_cast<BYTE*>(data.p), &size);
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r) return r;
      if (top && (InList(s1, vname) || InList(s2, vname) || InList(s3, vname))) continue;
      if ((r = RegSetValueExW(target, vname, 0, type, static_cast<const BYTE*>(data.p), size))) return r;
    }
  }
  WideBlock keyName(kKeyNameChars * sizeof(char16_t));
  if (!keyName.p) return ERROR_OUTOFMEMORY;
  auto* kname = static_cast<char16_t*>(keyName.p);
  for (DWORD index = 0;; ++index) {
    DWORD n = kKeyNameChars;
    r = RegEnumKeyExW(source, index, kname, &n, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r) return r;
    HKEY from = nullptr, to = nullptr;
    if ((r = RegOpenKeyExW(source, kname, 0, KEY_READ, &from))) return r;
    r = RegCreateKeyExW(target, kname, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &to, nullptr);
    if (!r) {
      r = CopyContents(to, from, nullptr, nullptr, nullptr, false);
      RegCloseKey(to);
    }
    RegCloseKey(from);
    if (r) return r;
  }
}

// Runs a change in one store transaction: kept only when it succeeds. BOOL with the last error.
template <class F>
BOOL AllOrNothing(F change) {
  vtx::RegTransaction tx;
  LONG r = static_cast<LONG>(tx.Status());
  if (!r) r = change();
  if (!r) r = static_cast<LONG>(tx.Commit());
  if (r) tx.Rollback();
  SetLastError(static_cast<DWORD>(r));
  return r == ERROR_SUCCESS;
}

}  // namespace

BOOL RegistryKeyExists(HKEY root, const char* path) {
  if (!path) return FALSE;
  size_t len = std::strlen(path);
  if (len && path[len - 1] == '\\') return FALSE;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key)) return FALSE;
  RegCloseKey(key);
  return TRUE;
}

BOOL RegistryValueExists(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key)) return FALSE;
  LONG r = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

BOOL DeleteRegistryValue(HKEY root, const char* path, const char* name) {
  if (!path || !name) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  HKEY key = nullptr;
  LONG r = RegOpenKeyExA(root, path, 0, KEY_SET_VALUE, &key);
  if (!r) {
    r = RegDeleteValueA(key, name);
    if (r == ERROR_FILE_NOT_FOUND) r = ERROR_SUCCESS;
    RegCloseKey(key);
  }
  SetLastError(static_cast<DWORD>(r));
  return r == ERROR_SUCCESS;
}

BOOL DeleteRegistryKeyContents(HKEY key, RegNameList keep) {
  return AllOrNothing([&] { return DeleteContents(key, keep); });
}

BOOL DeleteRegistryKey(HKEY root, const char* path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HKEY key = nullptr;
  LONG r = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key);
  if (r) {
    SetLastError(static_cast<DWORD>(r));
    return FALSE;
  }
  RegCloseKey(key);
  return AllOrNothing([&] { return RegDeleteTreeA(root, path); });
}

BOOL CopyRegistryKeyContents(HKEY target, HKEY source, RegNameList skip1, RegNameList skip2, RegNameList skip3) {
  return AllOrNothing([&] { return CopyContents(target, source, skip1, skip2, skip3, true); });
}

BOOL CopyRegistryKey(HKEY targetRoot, const char* targetPath, HKEY sourceRoot, const char* sourcePath,
                     RegNameList skip1, RegNameList skip2, RegNameList skip3) {
  return AllOrNothing([&] {
    HKEY source = nullptr, target = nullptr;
    LONG r = RegOpenKeyExA(sourceRoot, sourcePath, 0, KEY_READ, &source);
    if (r) return r;
    r = RegCreateKeyExA(targetRoot, targetPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &target,
                        nullptr);
    if (!r) {
      r = CopyContents(target, source, skip1, skip2, skip3, true);
      RegCloseKey(target);
    }
    RegCloseKey(source);
    return r;
  });
}

BOOL IsSpecialRootValue(RegNameList list, const char* name) {
  if (!list || !name) return FALSE;
  for (; *list; ++list)
    if (_stricmp(*list, name) == 0) return TRUE;
  return FALSE;
}

BOOL GetAppVersion(const char* name, DWORD* version) {
  if (!name || !version || !(name[0] >= '0' && name[0] <= '9')) return FALSE;
  const char* end = nullptr;
  uint32_t major = vtx::TextToUnsigned(name, &end, 10);
  if (*end != '.' || !(end[1] >= '0' && end[1] <= '9')) return FALSE;
  uint32_t minor = vtx::TextToUnsigned(end + 1, &end, 10);
  *version = (major << 16) | (minor & 0xFFFF);
  return TRUE;
}

BOOL GetAppRegistryKey(HKEY root, const char* productPath, const char* currentName, CStringA& name) {
  // Reading is enough to find the key, so a read-only store answers too.
  HKEY product = nullptr;
  if (RegOpenKeyExA(root, productPath, 0, KEY_READ, &product)) return FALSE;
  DWORD current = 0;
  bool bounded = currentName && GetAppVersion(currentName, &current);
  DWORD maxChars = 0;
  BOOL found = FALSE;
  if (RegQueryInfoKeyA(product, nullptr, nullptr, nullptr, nullptr, &maxChars, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) == ERROR_SUCCESS) {
    CStringA candidate;
    if (candidate.Resize(maxChars + 1)) {
      DWORD best = 0;
      for (DWORD index = 0;; ++index) {
        DWORD n = maxChars + 1;
        if (RegEnumKeyExA(product, index, candidate.GetBuffer(), &n, nullptr, nullptr, nullptr, nullptr)) break;
        if (currentName && std::strcmp(candidate.GetBuffer(), currentName) == 0) continue;
        DWORD v = 0;
        if (!GetAppVersion(candidate.GetBuffer(), &v)) continue;
        // Never a newer version's key: copying it down would be a downgrade.
        if (bounded && v >= current) continue;
        if (!found || v > best) {
          name = candidate.GetBuffer();
          if (name.IsNull()) break;
          best = v;
          found = TRUE;
        }
      }
    }
  }
  RegCloseKey(product);
  return found && !name.IsNull();
}

BOOL UpgradeAppRegistryKey(HKEY root, const char* productPath, const char* currentName, RegNameList skip1,
                           RegNameList skip2, RegNameList skip3, DWORD flags) {
  if (!currentName || !*currentName) return FALSE;
  CStringA previous;
  if (!GetAppRegistryKey(root, productPath, currentName, previous)) return FALSE;
  HKEY product = nullptr;
  if (RegOpenKeyExA(root, productPath, 0, KEY_ALL_ACCESS, &product)) return FALSE;
  BOOL copied = CopyRegistryKey(product, currentName, product, previous.GetBuffer(), skip1, skip2, skip3);
  if (copied && !(flags & UPGRADE_KEEP_PREVIOUS)) DeleteRegistryKey(product, previous.GetBuffer());
  RegCloseKey(product);
  return copied;
}
