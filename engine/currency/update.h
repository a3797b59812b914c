// The currency-definitions update data: the changes to the currency database and to the
// currencies' names and symbols that the maker publishes as update text, kept under "Update" and
// applied to the database and the locales.
#pragma once
#include <cstdint>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencydata.h"
#include "engine/currency/currencylocale.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/inidata.h"
#include "engine/foundation/pointerlist.h"
#include "engine/foundation/stringlist.h"
#include "platform/types.h"

// Which fields of a record the update sets: high bits of the record's flag word.
constexpr uint32_t kUpdFixedRate = 0x80000000u;    // rate and its decimals
constexpr uint32_t kUpdNumericCode = 0x40000000u;
constexpr uint32_t kUpdSmallest = 0x20000000u;     // smallest unit and its decimals
constexpr uint32_t kUpdLegalTender = 0x10000000u;  // flag 1
constexpr uint32_t kUpdRegime = 0x08000000u;       // flags 2 and 8
constexpr uint32_t kUpdPhysical = 0x04000000u;     // flag 4

// Ids of g_UpdIniTable.
enum UpdIniId : uint32_t {
  UpdGeneral = 0,
  UpdMessage = 1,
  UpdNext = 2,
  UpdEUR = 3,
  UpdSmallest = 4,
  UpdNumericalCodes = 5,
  UpdLegalTender = 6,
  UpdRegime = 7,
  UpdPhysical = 8,
  UpdRemove = 9,
  UpdRemoveKey = 10,
  UpdNames = 11,
  UpdNamesKey = 12,
  UpdSymbols = 13,
  UpdSymbolsKey = 14,
};
constexpr uint32_t kUpdIniTableCount = 16;
extern const IniTableEntry<char16_t> g_UpdIniTable[kUpdIniTableCount];

// One name or symbol of a currency in one locale.
struct CUpdateText {
  LCID lcid = 0;
  CStringA code;
  CStringW text;
};

class CUpdate : public ICurrencyUpdate {
 public:
  CUpdate() = default;
  ~CUpdate() override { Empty(); }
  CUpdate(const CUpdate&) = delete;
  CUpdate& operator=(const CUpdate&) = delete;

  // Update text as downloaded: UTF-16 or UTF-8 after its byte-order mark, UTF-8 without a mark
  // when the bytes are valid UTF-8, else text in the ANSI code page. Parsed and loaded with the row loader below; a parse error gives the parser's
  // HRESULT and its line, a NUL inside the text 0x8007000D. Null bytes: 0x80004003.
  HRESULT Load(const char* bytes, uint32_t length, const CAllCurrencies* database, CCurrencyLocaleList* locales,
               const CUpdate* previous, CStringList<char>* changed, CStringA* next, uint32_t* errorLine);
  // Loads the rows on top of what the update holds. A row that `database` (when given) already
  // agrees with changes nothing, and so does a name or symbol that its locale in `locales` (when
  // given) already shows. A code whose change `previous` does not already make goes on `changed`
  // (when given) once. Codes longer than 3 characters are skipped; an invalid value or language
  // tag gives 0x80070057 with the row's line in `errorLine`. `next` gets the "Next" address.
  HRESULT Load(const CIniData<char16_t>& data, const CAllCurrencies* database, CCurrencyLocaleList* locales,
               const CUpdate* previous, CStringList<char>* changed, CStringA* next, uint32_t* errorLine);

  // Empties the update and reads the stored one, without comparisons.
  HRESULT Create() override;
  // Rewrites "Update", all or nothing. Names and symbols are stored under "CODE-tag": several
  // locales that share a tag come back under the first of them.
  HRESULT Save() const;
  // Deletes "Update": 0, else 0x80004005.
  HRESULT Reset() override;

  bool Defines(const char* code) const override;
  // Applies the records, then the removals, of one code (ignoring case) or, for null, of all.
  HRESULT Update(CAllCurrencies& database, const char* code) override;
  // Puts the names, then the symbols, of one code or of all into their locales.
  HRESULT Update(CCurrencyLocaleList& locales, const char* code) override;
  // The same; with `onlyMissing` a locale keeps every name and symbol it has.
  HRESULT Update(CCurrencyLocaleList& locales, const char* code, bool onlyMissing);

  // Codes joined by ", " (empty for none); false when out of memory.
  static bool GetCurrencies(const CStringList<char>& codes, CStringA& text);
  // Those of the codes that a load found missing from its database: new currencies.
  bool GetNewCurrencies(const CStringList<char>& codes, CStringA& text) const;
  bool GetRemovedCurrencies(CStringA& text) const;
  // A record's LCID, with its code and text when asked.
  static LCID GetLCIDString(const CUpdateText& record, CStringA* code, CStringW* text);
  // The record's code, '-' and the language tag of its LCID; false when the LCID has no tag or
  // out of memory.
  static bool GetLangString(const CUpdateText& record, CStringW& text);

  bool CopyFrom(const CUpdate& other);
  void Empty();
  bool IsLoaded() const { return m_loaded != 0; }

  const CStringW& GetMessage() const { return m_message; }
  void EmptyMessage() { m_message.Empty(); }
  // The record of a code (ignoring case); null when the update sets nothing for it.
  const CurrencyData* FindRecord(const char* code) const;
  const CStringList<char>& GetRecords() const { return m_records; }  // CurrencyData blocks
  const CStringList<char>& GetRemoved() const { return m_removed; }
  const CPointerList<CUpdateText>& GetNames() const { return m_names; }
  const CPointerList<CUpdateText>& GetSymbols() const { return m_symbols; }

 private:
  HRESULT LoadValue(uint32_t section, const char* code, const char16_t* value, const CAllCurrencies* database,
                    const CUpdate* previous, CStringList<char>* changed);
  HRESULT LoadText(bool symbols, const char16_t* key, const char16_t* const* values, uint32_t count,
                   CCurrencyLocaleList* locales, const CUpdate* previous, CStringList<char>* changed);
  bool HasText(bool symbols, LCID lcid, const char* code, const char16_t* text) const;

  CStringList<char> m_records;  // CurrencyData blocks with their presence bits
  CStringList<char> m_removed;
  CStringList<char> m_new;  // codes that a load found missing from its database
  CPointerList<CUpdateText> m_names;
  CPointerList<CUpdateText> m_symbols;
  CString<char16_t> m_message;
  uint32_t m_loaded = 0;
};

// What loaded settings take from the stored update data: a database built from the built-in table
// takes every record and removal; locales take the names and symbols they lack. Either may be null.
HRESULT ApplyStoredUpdate(CAllCurrencies* database, CCurrencyLocaleList* locales);
