// The registry, time and number text calls of the currency data, in one place.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/foundation/cstring.h"
#include "engine/foundation/inidata.h"
#include "platform/types.h"

namespace vtx::currency {

// Paths are under HKEY_LOCAL_MACHINE.
const char* UpdateKeyPath();
bool KeyExists(const char* path);
// Deletes a key with everything below it; true when it is gone (or was never there).
bool DeleteKey(const char* path);
// An 8-byte REG_BINARY stamp as a 64-bit FILETIME: 0, E_OUTOFMEMORY, or another failure when it is
// missing or shorter than 8 bytes.
HRESULT ReadStamp(const char* path, const char* name, uint64_t* stamp);
bool WriteStamp(const char* path, const char* name, uint64_t stamp);
bool ReadDword(const char* path, const char* name, uint32_t* value);
HRESULT WriteDword(const char* path, const char* name, uint32_t value);

// Loads a key as INI data with a key table and hands it to `use`; the load's or `use`'s result.
HRESULT LoadIni(const char* path, const IniTableEntry<char>* table, uint32_t count,
                const std::function<HRESULT(const CIniData<char>&)>& use);
HRESULT LoadIni(const char* path, const IniTableEntry<char16_t>* table, uint32_t count,
                const std::function<HRESULT(const CIniData<char16_t>&)>& use);
// Lets `fill` build INI data and rewrites the key with it, all or nothing.
HRESULT SaveIni(const char* path, const std::function<HRESULT(CIniData<char>&)>& fill);
HRESULT SaveIni(const char* path, const std::function<HRESULT(CIniData<char16_t>&)>& fill);

// "2005-08-22T09:57:19Z" and back.
bool TimeToText(const FILETIME& time, char* buffer, size_t size);
bool TextToTime(const char* text, FILETIME* time);
// A stored amount with at least `decimals` fraction digits.
bool AmountToText(double value, uint32_t decimals, char* buffer, size_t size);

// Runs `work` in one store transaction, kept when it returns 0 and undone otherwise.
HRESULT InTransaction(const std::function<HRESULT()>& work);
// Calls `each` with the name of every direct subkey; false when `each` returned false.
bool ForEachSubkey(const char* path, const std::function<bool(const char*)>& each);

// Locale items that the currency locales read.
enum class LocaleItem {
  PositiveFormat,
  NegativeFormat,
  Digits,
  ThousandSeparator,
  DecimalSeparator,
  Grouping,
  AbbrevLanguageName,
  EnglishLanguage,
  EnglishCountry,
};
uint32_t LocaleNumber(DWORD lcid, LocaleItem item, uint32_t fallback);
// The wide text, else the ANSI text converted; false when the system has none.
bool LocaleText(DWORD lcid, LocaleItem item, CStringW& out);
bool LocaleTextA(DWORD lcid, LocaleItem item, CStringA& out);
// Every locale the system supports; 0x80004005 when they cannot be listed, 0x8007000E when `each`
// returns false.
HRESULT ForEachSystemLocale(const std::function<bool(DWORD)>& each);
HRESULT TitleText(CStringW& out, const char16_t* text, DWORD lcid, uint32_t allWords);

}  // namespace vtx::currency
