// The currency database: the built-in table with the user's and the update service's changes,
// kept in the registry under "AllCurrencies".
#pragma once
#include <cstdint>
#include <memory>

#include "engine/currency/currencydata.h"
#include "engine/currency/currencyinfo.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/inidata.h"
#include "engine/foundation/listindex.h"
#include "engine/foundation/servercommands.h"
#include "engine/foundation/stringlist.h"

class CAllCurrencies;
class CCurrencyLocaleList;
class CSettings;

// What the database needs from the stored currency-definitions update data ("Update").
class ICurrencyUpdate {
 public:
  virtual ~ICurrencyUpdate() = default;
  // Deletes the stored update data: 0, else a failure HRESULT.
  virtual HRESULT Reset() = 0;
  // Reads the stored update data; 0x8007000E when out of memory.
  virtual HRESULT Create() = 0;
  // Whether the update data define a currency of that code (ignoring case).
  virtual bool Defines(const char* code) const = 0;
  // Applies the update's record and removal of one code to the database; null: of every code.
  virtual HRESULT Update(CAllCurrencies& database, const char* code) = 0;
  // Puts the update's names and symbols of one code into the locales; null: of every code.
  virtual HRESULT Update(CCurrencyLocaleList& locales, const char* code) = 0;
};

// The stored update data ("Update", the definitions update's CUpdate); null when out of memory.
std::unique_ptr<ICurrencyUpdate> MakeStoredCurrencyUpdate();

namespace vtx::currency {
// Number texts of the stored forms, independent of the process locale. A whole decimal number
// (never octal: stored numeric codes are zero-padded).
bool ParseDecimal(const char* text, uint32_t* out);
// A flag: a number, or one of the words true/yes/false/no.
bool ParseSwitch(const char* text, bool* out);
// A plain decimal number ("1.95583", "-2"); `decimals` gets the count of digits after the '.'.
bool ParseAmount(const char* text, double* out, uint32_t* decimals);
}  // namespace vtx::currency

// Ids of g_AcIniTable.
enum AcIniId : uint32_t {
  AcIniEUR = 0,
  AcIniSmallest = 1,
  AcIniNumericalCodes = 2,
  AcIniLegalTender = 3,
  AcIniEMU = 4,
  AcIniPeggedEUR = 5,
  AcIniPhysical = 6,
  AcIniLastChange = 7,
  AcIniAdd = 8,
  AcIniRemove = 9,
  AcIniServers = 10,
};
constexpr uint32_t kAcIniTableCount = 12;
extern const IniTableEntry<char> g_AcIniTable[kAcIniTableCount];

extern const char g_szAllCurrenciesKey[];  // the database's subkey path
extern const char g_szAllCurrenciesStamp[];

// A record for a new code: no rate, smallest 0.01, flags legal tender and physical.
void InitCurrencyData(CurrencyData& record, const char* code);
// An active-list record made from a database record.
void CurrencyDataToCurrencyInfo(const CurrencyData& data, CurrencyInfo& info);
// Appends a copy of an active record; false when out of memory.
bool AddEuroCurrency(CStringList<char>& list, const CurrencyInfo& info);

class CAllCurrencies {
 public:
  CAllCurrencies() = default;
  CAllCurrencies(const CAllCurrencies&) = delete;
  CAllCurrencies& operator=(const CAllCurrencies&) = delete;

  // The update data that Create resets and SetRates consults (not owned); null: the stored ones.
  void SetUpdate(ICurrencyUpdate* update) { m_update = update; }
  // That update data; null only when out of memory.
  ICurrencyUpdate* GetUpdate();

  // Index in the built-in table (ignoring case); -1 when absent or null.
  static int32_t IFindHardcoded(const char* code);
  // Index of the record with that numeric code; -1 when absent. 0 (no numeric code) matches nothing.
  int32_t Find(uint32_t numericCode) const;
  // Index by code (ignoring case), else by the text as a decimal numeric code; -1 when absent.
  int32_t IFind(const char* text) const;
  // Index by code alone (ignoring case); -1 when absent or null.
  int32_t IFindCode(const char* code) const;

  // Adds or replaces a record; false when out of memory.
  bool Add(const CurrencyData& record);
  // Removes the record of a code (ignoring case); false when there is none or out of memory.
  bool IRemove(const char* code);
  bool CopyFrom(const CAllCurrencies& other);
  // Tab-separated codes that differ (GlobalFree the text; null when none).
  HRESULT Compare(const CAllCurrencies* other, char** text, uint32_t* count) const;

  // 1 when built from the built-in table, 0 when loaded from the registry, 0x8007000E when out of
  // memory. A stored database that does not load is replaced by the built-in table (1);
  // GetLoadError tells why.
  HRESULT Create(bool reset);
  HRESULT GetLoadError() const { return m_loadError; }
  uint32_t GetLoadErrorLine() const { return m_loadErrorLine; }

  // Rebuilds the database from INI data of the "AllCurrencies" form. On failure the lists hold
  // what was read before the bad row, and `errorLine` (when given) that row's position (1-based).
  HRESULT Load(const CIniData<char>& data, uint32_t* errorLine);
  // Appends the rows of the "AllCurrencies" form to `data`.
  HRESULT SaveTo(CIniData<char>& data) const;
  // Rewrites the registry key.
  HRESULT Save() const;

  // Brings the database in line with the active list (CurrencyInfo records). Mode bits: 1 drops
  // unknown currencies from the active list, 2 flags them, 4 drops currencies new to the database,
  // 8 flags them. Texts are tab-separated (GlobalFree them); any output may be null.
  HRESULT SetRates(CStringList<char>& active, CCurrencyLocaleList* locales, uint32_t mode, char** unknownText,
                   uint32_t* unknownCount, char** newText, uint32_t* newCount);
  // The other way for fixed rates: the active record of a currency whose database rate is not 0 takes
  // that rate, its decimals, last change and servers. With a code, that currency only (false without
  // settings, for an unknown or inactive code, or a database rate of 0); without, every active one
  // (true when any took them).
  bool Update(CSettings* settings, const char* code) const;

  // Euro-area records in table order. Mode bits: 1 built-in table, 2 legal tender only, 4 not legal
  // tender only. 1, or 0 when a record cannot be added.
  int GetEuroCurrencies(CStringList<char>& list, uint32_t mode) const;
  // The same codes joined by ", "; false when out of memory.
  bool GetEuroCurrencies(CStringA& text, uint32_t mode) const;

  // Gives a record the built-in row of its code (ignoring case), keeping a rate of its own with its
  // decimals, last change and servers; false when the code has no built-in row.
  static bool Reset(CurrencyData& record);
  // With a code: resets that record (false when there is none). Without: resets every record, drops
  // those without a built-in row, adds the missing built-in rows at their sorted places and empties
  // the "Add" and "Remove" lists; false when out of memory.
  bool Reset(const char* code);

  uint32_t GetCount() const { return m_records.GetCount(); }
  // An index below 0 or not below the count throws the list's integer; callers of the GUI check it first.
  CurrencyData* operator[](int64_t index) const {
    if (index < 0 || index >= GetCount()) throw static_cast<int>(index);
    return reinterpret_cast<CurrencyData*>(m_records[static_cast<uint32_t>(index)]);
  }
  const CStringList<char>& GetAddList() const { return m_add; }
  const CStringList<char>& GetRemoveList() const { return m_remove; }
  void Empty();

  class Iterator {
   public:
    explicit Iterator(CStringList<char>::Iterator it) : m_it(it) {}
    CurrencyData* operator*() const { return reinterpret_cast<CurrencyData*>(*m_it); }
    Iterator& operator++() {
      ++m_it;
      return *this;
    }
    bool operator!=(const Iterator& o) const { return m_it != o.m_it; }

   private:
    CStringList<char>::Iterator m_it;
  };
  Iterator begin() const { return Iterator(m_records.begin()); }
  Iterator end() const { return Iterator(m_records.end()); }

 private:
  HRESULT ResetStoredUpdate();
  // Replaces the record at `at` with one of the same code.
  void Overwrite(uint32_t at, const CurrencyData& record);

  using NumericIndex = CListIndex<uint32_t>;

  CStringList<char> m_records;  // CurrencyData blocks
  NumericIndex m_numeric;       // positions in m_records by numeric code
  uint64_t m_numericChanges = 0;  // numeric codes changed in place
  CStringList<char> m_add;      // codes not in the built-in table
  CStringList<char> m_remove;   // built-in codes that were removed
  ICurrencyUpdate* m_update = nullptr;
  std::unique_ptr<ICurrencyUpdate> m_storedUpdate;  // made on first need when none was set
  HRESULT m_loadError = 0;
  uint32_t m_loadErrorLine = 0;
};
