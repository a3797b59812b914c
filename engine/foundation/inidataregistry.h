// Registry backend of the typed INI data: the values of the base key are the rows before any
// section, each direct subkey a section whose values are its rows.
#pragma once
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "engine/foundation/inidata.h"
#include "engine/foundation/regvalue.h"

template <class T>
class CIniDataRegistry : public CIniData<T> {
 public:
  CIniDataRegistry() = default;

  // Keeps the root and a copy of the path; false when the copy could not be made.
  bool SetBaseKey(HKEY root, const char* path);
  HKEY GetRootKey() const { return m_hRoot; }
  const char* GetBaseKey() const { return m_strBase.GetBuffer(); }

  // Appends the rows of the base key and its sections, read in one store snapshot: REG_SZ,
  // REG_DWORD and REG_MULTI_SZ values, typed by the key table; other value types and deeper
  // subkeys are skipped. A value whose type does not fit its table entry fails the load with
  // 0x80070057 (the rows read so far stay). No base key: 0x80070006.
  HRESULT Load(const IniTableEntry<T>* table, uint32_t count) override;
  // Replaces the base key with the rows, in one store transaction: on any failure the old contents
  // stay whole. A section name that cannot be a key name (empty, or holding '\') is 0x80070057.
  HRESULT Save() override;

  // Adds the values of an open key as rows of `section` (null: no section); Win32 code.
  DWORD LoadSection(HKEY key, const T* section, const IniTableEntry<T>* table, uint32_t count);
  // Adds one registry value as a row of `section` by the type mapping, `entry` being its key-table
  // row (null: none); `data` is terminated after its `size` bytes. Win32 code; a type that does not
  // fit the table entry is refused.
  DWORD AddValue(const IniTableEntry<T>* entry, const T* section, const T* name, DWORD type, const T* data,
                 DWORD size);

  // After a load that a value failed: the value's name and its section (null for the base key), for
  // the caller's report; null names when the last load met no such value.
  const T* GetErrorName() const { return m_errorName.GetBuffer(); }
  const T* GetErrorSection() const { return m_errorSection.GetBuffer(); }

 private:
  DWORD Refuse(DWORD code, const T* section, const T* name);

  HKEY m_hRoot = nullptr;
  CStringA m_strBase;
  CString<T> m_errorName;
  CString<T> m_errorSection;
};

extern template class CIniDataRegistry<char>;
extern template class CIniDataRegistry<char16_t>;

using CIniDataRegistryA = CIniDataRegistry<char>;
using CIniDataRegistryW = CIniDataRegistry<char16_t>;
