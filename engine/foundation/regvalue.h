// Holders of single registry values and the key operations (exists, delete, copy, version keys).
// Names and paths are ANSI texts; results are HRESULTs, BOOLs with the last error set, or Win32
// codes, as each operation says.
#pragma once
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "platform/errors.h"
#include "platform/registry.h"

// A block on the local heap and its size in bytes.
class RegBufferValue {
 public:
  RegBufferValue() = default;
  ~RegBufferValue() { FreeBuffer(); }
  RegBufferValue(const RegBufferValue&) = delete;
  RegBufferValue& operator=(const RegBufferValue&) = delete;

  // Frees the old block and allocates n bytes; false when out of memory (the holder is empty then).
  bool SetBuffer(uint32_t n);
  void FreeBuffer();
  void* GetBuffer() const { return m_pBuffer; }
  uint32_t GetSize() const { return m_dwSize; }

 protected:
  void* m_pBuffer = nullptr;
  uint32_t m_dwSize = 0;
};

// Text of width T read from and written to a string value. Load accepts REG_SZ and REG_EXPAND_SZ and
// keeps the type (nothing is expanded); the text is always terminated.
template <class T>
class RegStringValue : public RegBufferValue {
 public:
  HRESULT Load(HKEY root, const char* path, const char* name) { return LoadAs(root, path, name, true); }
  // Writes the text as REG_SZ with its NUL; with neither name nor text it only creates the key; a name
  // with no text is 0x8000FFFF.
  HRESULT Save(HKEY root, const char* path, const char* name);
  // REG_EXPAND_SZ marks the text expandable; REG_SZ expands a text so marked (an empty one stays
  // empty) and makes it a plain REG_SZ; any other type is 0x80070057. A failed expansion keeps the
  // text and its type.
  HRESULT SetType(DWORD type);
  // Copies a NUL-terminated text (null empties the holder).
  RegStringValue& operator=(const T* text);
  const T* GetString() const { return static_cast<const T*>(m_pBuffer); }
  operator const T*() const { return GetString(); }
  DWORD GetType() const { return m_dwType; }

 protected:
  HRESULT LoadAs(HKEY root, const char* path, const char* name, bool expandable);
  DWORD m_dwType = REG_SZ;
};

// The same with Load taking REG_SZ only (REG_EXPAND_SZ gives 0x8007000D).
class RegStringValueA : public RegStringValue<char> {
 public:
  HRESULT Load(HKEY root, const char* path, const char* name) { return LoadAs(root, path, name, false); }
  RegStringValueA& operator=(const char* text) {
    RegStringValue<char>::operator=(text);
    return *this;
  }
};
class RegStringValueW : public RegStringValue<char16_t> {
 public:
  HRESULT Load(HKEY root, const char* path, const char* name) { return LoadAs(root, path, name, false); }
  RegStringValueW& operator=(const char16_t* text) {
    RegStringValue<char16_t>::operator=(text);
    return *this;
  }
};

// One u32. Load takes a REG_DWORD or any other 4-byte value; a shorter one is 0x8007000D, a longer
// one 0x800700EA. Save writes REG_DWORD.
class RegDwordValue {
 public:
  RegDwordValue() = default;
  explicit RegDwordValue(DWORD value) : m_dwValue(value) {}
  HRESULT Load(HKEY root, const char* path, const char* name);
  HRESULT Save(HKEY root, const char* path, const char* name);
  RegDwordValue& operator=(DWORD value) {
    m_dwValue = value;
    return *this;
  }
  operator DWORD() const { return m_dwValue; }
  DWORD m_dwValue = 0;
};

// Bytes: Load reads a value of any type (the block has at least one byte; the size is the data's),
// Save writes REG_BINARY.
class RegBinaryValue : public RegBufferValue {
 public:
  HRESULT Load(HKEY root, const char* path, const char* name);
  HRESULT Save(HKEY root, const char* path, const char* name);
  // Copies bytes into a new block; false when out of memory.
  bool Copy(const void* data, uint32_t size);
};

// A null-terminated list of value names, compared ignoring case.
using RegNameList = const char* const*;

// Whether wide registry calls exist (always here); kept for the callers that ask.
bool UnicodeSupported();
// Reads a value as wide text under an ANSI name; with null data only the size is asked. Win32 code.
LONG RegQueryValueEx_U(HKEY key, const char* name, DWORD* reserved, DWORD* type, char16_t* data, DWORD* size);
// The wide environment expansion; characters written with the NUL, the count needed when `size`
// is too small, 0 on failure.
DWORD ExpandEnvironmentStrings_U(const char16_t* source, char16_t* destination, DWORD size);
// Writes wide data under an ANSI name; Win32 code.
LONG RegSetValueEx_U(HKEY key, const char* name, DWORD reserved, DWORD type, const char16_t* data, DWORD size);

// False for a null path or one ending with a backslash.
BOOL RegistryKeyExists(HKEY root, const char* path);
BOOL RegistryValueExists(HKEY root, const char* path, const char* name);
// A missing value counts as deleted; null path or name: FALSE, last error 13.
BOOL DeleteRegistryValue(HKEY root, const char* path, const char* name);
// Deletes every subkey and every value not in `keep`, all or nothing; stops at the first failure.
BOOL DeleteRegistryKeyContents(HKEY key, RegNameList keep);
// Deletes the key with everything under it, all or nothing. A null or empty path is refused (it would
// name the root): FALSE, last error 87.
BOOL DeleteRegistryKey(HKEY root, const char* path);
// Copies the values (except those named in the skip lists, at the top level only) and the subkeys,
// all or nothing.
BOOL CopyRegistryKeyContents(HKEY target, HKEY source, RegNameList skip1, RegNameList skip2, RegNameList skip3);
BOOL CopyRegistryKey(HKEY targetRoot, const char* targetPath, HKEY sourceRoot, const char* sourcePath,
                     RegNameList skip1, RegNameList skip2, RegNameList skip3);
BOOL IsSpecialRootValue(RegNameList list, const char* name);
// "major.minor" as major << 16 | minor.
BOOL GetAppVersion(const char* name, DWORD* version);
// The subkey of root\productPath of the highest version below the current one.
BOOL GetAppRegistryKey(HKEY root, const char* productPath, const char* currentName, CStringA& name);
// Copies the previous version's key into productPath\currentName, all or nothing; with flag bit 0
// clear, then deletes the previous key.
BOOL UpgradeAppRegistryKey(HKEY root, const char* productPath, const char* currentName, RegNameList skip1,
                           RegNameList skip2, RegNameList skip3, DWORD flags);
constexpr DWORD UPGRADE_KEEP_PREVIOUS = 0x1;
