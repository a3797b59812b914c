// Currency locales: per locale (LCID), how amounts are written and each currency's name, symbol
// and custom text, kept in the registry under "Locales".
#pragma once
#include <cstdint>

#include "engine/currency/currencydata.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/listindex.h"
#include "engine/foundation/pointerlist.h"
#include "engine/foundation/stringlist.h"
#include "platform/locale.h"
#include "platform/types.h"

// One currency in one locale.
class CCurrencyLocaleInfo {
 public:
  CCurrencyLocaleInfo() = default;
  CCurrencyLocaleInfo(const CCurrencyLocaleInfo&) = delete;
  CCurrencyLocaleInfo& operator=(const CCurrencyLocaleInfo&) = delete;

  // Setters return false when out of memory. Name, symbol and custom text mark the info changed
  // when the text differs; the code does not.
  bool SetCurrency(const char* code);
  bool SetName(const char16_t* name);
  bool SetSymbol(const char16_t* symbol);
  bool SetCustom(const char16_t* custom);
  // Code, name and symbol from a default row; custom text emptied; changed cleared.
  bool Reset(const CurrencyInfoData& row);
  bool CopyFrom(const CCurrencyLocaleInfo& other);

  const char* GetCurrency() const { return m_code.GetBuffer(); }
  const char16_t* GetName() const { return m_name.GetBuffer(); }
  const char16_t* GetSymbol() const { return m_symbol.GetBuffer(); }
  const char16_t* GetCustom() const { return m_custom.GetBuffer(); }
  uint32_t GetChanged() const { return m_changed; }
  void SetChanged(uint32_t changed) { m_changed = changed; }

 private:
  static bool SetText(CStringW& field, const char16_t* text, uint32_t* changed);

  CStringA m_code;
  CStringW m_name;
  CStringW m_symbol;
  CStringW m_custom;
  uint32_t m_changed = 0;
};

// Grouping codes: 1-9 for "n;0", 32 for "3;2;0"; 0 for a text not in the table.
uint32_t GroupingCodeFromText(const char16_t* text);

// The system's currency formatting (GetCurrencyFormatW): the count written with the NUL, 0 on
// failure, among them a separator that cannot be formatted with (see GetCurrencyFormatW).
int GetCurrencyFormatU(LCID lcid, DWORD flags, const char16_t* value, const CURRENCYFMTW* format, char16_t* output,
                       int outputSize);

class CCurrencyLocale {
 public:
  // The formats from the system; no infos.
  explicit CCurrencyLocale(LCID lcid);
  ~CCurrencyLocale();
  CCurrencyLocale(const CCurrencyLocale&) = delete;
  CCurrencyLocale& operator=(const CCurrencyLocale&) = delete;

  // The default names and symbols for a locale's language: German, Italian, else English.
  static const CurrencyInfoData* GetDefaultInfoData(LCID lcid);

  // The formats, name and display name from the system.
  void ResetFormat();

  void SetPositiveSymFmt(uint32_t v) { Set(m_positiveSymbolFormat, v); }
  void SetPositiveIsoFmt(uint32_t v) { Set(m_positiveIsoFormat, v); }
  void SetNegativeSymFmt(uint32_t v) { Set(m_negativeSymbolFormat, v); }
  void SetNegativeIsoFmt(uint32_t v) { Set(m_negativeIsoFormat, v); }
  void SetDigitsAfterDecimal(uint32_t v) { Set(m_digitsAfterDecimal, v); }
  void SetGrouping(uint32_t v) { Set(m_grouping, v); }
  void SetCapitalizeTitles(uint32_t v) { Set(m_capitalizeTitles, v); }
  bool SetThousandSeparator(const char16_t* text) { return SetText(m_thousandSeparator, text); }
  bool SetDecimalSeparator(const char16_t* text) { return SetText(m_decimalSeparator, text); }

  LCID GetLCID() const { return m_lcid; }
  uint32_t GetPositiveSymFmt() const { return m_positiveSymbolFormat; }
  uint32_t GetPositiveIsoFmt() const { return m_positiveIsoFormat; }
  uint32_t GetNegativeSymFmt() const { return m_negativeSymbolFormat; }
  uint32_t GetNegativeIsoFmt() const { return m_negativeIsoFormat; }
  uint32_t GetDigitsAfterDecimal() const { return m_digitsAfterDecimal; }
  uint32_t GetGrouping() const { return m_grouping; }
  uint32_t GetCapitalizeTitles() const { return m_capitalizeTitles; }
  const char16_t* GetThousandSeparator() const { return m_thousandSeparator.c_str(); }
  const char16_t* GetDecimalSeparator() const { return m_decimalSeparator.c_str(); }
  const char* GetName() const { return m_name.c_str(); }
  const char* GetDisplayName() const { return m_displayName.c_str(); }
  uint32_t IsCreated() const { return m_created; }
  uint32_t GetChanged() const { return m_changed; }
  void SetChanged(uint32_t changed) { m_changed = changed; }

  uint32_t GetInfoCount() const { return m_infos.GetCount(); }
  CCurrencyLocaleInfo* GetInfo(uint32_t index) const { return m_infos[index]; }
  CPointerList<CCurrencyLocaleInfo>::Iterator begin() const { return m_infos.begin(); }
  CPointerList<CCurrencyLocaleInfo>::Iterator end() const { return m_infos.end(); }

  // The info with that code, ignoring case; null when none.
  CCurrencyLocaleInfo* IFind(const char* code) const;
  // Appends an empty info for a code; null when out of memory.
  CCurrencyLocaleInfo* AddLocaleInfo(const char* code);
  void EmptyInfos();

  // Flags of PrintCurrencyValue: the symbol formats with the currency's symbol (else the ISO-code
  // formats with the code), ASCII output with numeric character references, every digit of the
  // number text kept.
  static constexpr uint32_t kPrintSymbol = 1, kPrintAscii = 2, kPrintAllDigits = 4;
  // An amount ('.' as decimal point) in this locale's currency format, with the given separators or
  // the locale's; without a code (or symbol) no symbol and no blank for it. The count that the
  // formatting gave (with flag 2 the characters written with the NUL), 0 on failure.
  int PrintCurrencyValue(const char* number, const char* code, const char16_t* decimal, const char16_t* thousand,
                         char16_t* output, int outputSize, uint32_t flags) const;

  // Deletes the info of a code (ignoring case); false when there is none.
  bool RemoveLocaleInfo(const char* code);
  // Appends an info (code only, not marked changed) for each code of `add` that the locale lacks,
  // and deletes the infos of the codes of `remove`; either list may be null. 0x8007000E when out of
  // memory.
  HRESULT NormalizeList(const CStringList<char>* add, const CStringList<char>* remove);

  bool MustBeSaved() const;
  // A name in title style when the locale capitalises titles.
  HRESULT MakeTitleStyleString(CStringW& out, const char16_t* name) const;

  // The info from the default row of its code; false when the language's table lacks the code.
  bool Reset(CCurrencyLocaleInfo& info) const;
  // Resets the info of a code, or adds it from its default row; false when there is none.
  bool Reset(const char* code);
  // One info per default row of the language (237); false when out of memory.
  bool ResetList();

  // The registry key path of this locale.
  void GetKeyPath(char* buffer, size_t size) const;
  HRESULT Load();
  HRESULT Save() const;
  // Load, else the default names.
  HRESULT Create();
  // A deep copy; on failure the entry that could not be copied is gone again and the result is false.
  bool CopyFrom(const CCurrencyLocale& other);
  // Another locale's formats and currency texts, this locale keeping its own id and names; marked
  // changed. False when out of memory (the texts then are partly copied).
  bool CopyFormatsAndTexts(const CCurrencyLocale& other);

 private:
  void Set(uint32_t& field, uint32_t v) {
    if (field != v) m_changed = 1;
    field = v;
  }
  bool SetText(CStringW& field, const char16_t* text);

  LCID m_lcid;
  uint32_t m_positiveSymbolFormat = 0;
  uint32_t m_positiveIsoFormat = 2;
  uint32_t m_negativeSymbolFormat = 1;
  uint32_t m_negativeIsoFormat = 11;
  uint32_t m_digitsAfterDecimal = 2;
  CStringW m_thousandSeparator;
  CStringW m_decimalSeparator;
  uint32_t m_grouping = 3;
  uint32_t m_capitalizeTitles = 0;
  uint32_t m_created = 0;
  uint32_t m_changed = 0;
  CStringA m_name;
  CStringA m_displayName;
  CPointerList<CCurrencyLocaleInfo> m_infos;
  // Positions in m_infos by currency code (ASCII letters folded), for the longer lists.
  using InfoIndex = CListIndex<std::string>;
  static constexpr uint32_t kIndexFrom = 16;
  InfoIndex m_index;
};

class CCurrencyLocaleList {
 public:
  CCurrencyLocaleList() = default;
  ~CCurrencyLocaleList() { Empty(); }
  CCurrencyLocaleList(const CCurrencyLocaleList&) = delete;
  CCurrencyLocaleList& operator=(const CCurrencyLocaleList&) = delete;

  // A locale for every locale of the system, 1033, and every locale stored under "Locales"; in
  // reset mode nothing is read from the registry. Several lists may be created at once.
  HRESULT Create(bool resetMode);
  // Rewrites "Locales" (created lists that are not in reset mode only), all or nothing.
  HRESULT Save() const;
  void Empty();
  bool CopyFrom(const CCurrencyLocaleList& other);

  CCurrencyLocale* Find(LCID lcid) const;
  // By name: a two-character text matches the beginning of a locale's short name, else the whole
  // short name (ignoring case); else the default locale, the first English one, the first one.
  // Null only for an empty list; a null name starts at the default locale.
  CCurrencyLocale* Find(const char* name) const;
  // Removes a currency's info from every locale; true when any was removed.
  bool RemoveCurrency(const char* code);
  // The locale, filled with its defaults when it was not yet; null on failure.
  CCurrencyLocale* GetLocale(LCID lcid);
  // The same for a locale's name ("DEU"), ignoring case; null when no locale has that name.
  CCurrencyLocale* GetLocale(const char* name);
  // The currency's name in a locale (0 in the language bits: the default locale); false when there
  // is none.
  bool GetCurrencyName(CStringW& out, const char* code, bool titleStyle, LCID lcid);
  // Resets a currency in every created locale; true when any was reset.
  bool Reset(const char* code);
  // Every created locale's infos become the built-in rows of its language (custom texts emptied);
  // false when out of memory.
  bool ResetLists();

  LCID GetDefaultLocale() const { return m_defaultLCID; }
  void SetDefaultLocale(LCID lcid) { m_defaultLCID = lcid; }
  bool IsCreated() const { return m_created != 0; }
  bool IsResetMode() const { return m_resetMode != 0; }
  uint32_t GetCount() const { return m_locales.GetCount(); }
  CCurrencyLocale* operator[](uint32_t index) const { return m_locales[index]; }
  CPointerList<CCurrencyLocale>::Iterator begin() const { return m_locales.begin(); }
  CPointerList<CCurrencyLocale>::Iterator end() const { return m_locales.end(); }

 private:
  bool Append(LCID lcid);

  LCID m_defaultLCID = 1033;
  uint32_t m_created = 0;
  uint32_t m_resetMode = 0;
  CPointerList<CCurrencyLocale> m_locales;
};

extern const char g_szLocalesKey[];
extern const char g_szDefaultLocale[];
