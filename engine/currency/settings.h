// The whole configuration and the current rates, their registry persistence under the application
// key, copies, and the system-wide settings lock.
#pragma once
#include <cstdint>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencyinfo.h"
#include "engine/currency/currencylocale.h"
#include "engine/currency/datasource.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/inidata.h"
#include "engine/foundation/stringlist.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/types.h"

extern const char g_szSettingsMutex[];  // "HulvaneVantrexMutex"
extern const char g_szIniKey[];         // the rates data: "<application key>\INI"
extern const char g_szServersKey[];

// The texts and times of the rates files applied last, with the active currency list. Applying a
// file works on a copy of this part alone and swaps it in whole.
struct CRatesData {
  CStringList<char> Active;  // CurrencyInfo blocks
  CStringA Source, Copyright, Message, Warning, Error;
  uint32_t OwnData = 0;  // the last file was written by this system
  FILETIME LastLoaded{};
  FILETIME Created{};
  uint32_t DateNoTime = 0;
  FILETIME Expires{};

  bool CopyFrom(const CRatesData& other);
  CurrencyInfo* operator[](uint32_t index) const { return reinterpret_cast<CurrencyInfo*>(Active[index]); }
};

// Every plain value of the block, with the defaults of a new block (Load has its own defaults).
struct CSettingsValues {
  char BaseUnit[16] = "EUR";
  uint32_t MessagesOnScreen = 1, MessagesToLog = 1, MessagesToFile = 0, MessagesViaEmail = 0;
  uint32_t LastChangeMaxSeconds = 91200, LastChangeWarningPause = 86400, LastChangeEachMaxSeconds = 0;
  uint32_t LastChangeNoWeekendWarnings = 1, PartialDataWarnings = 1;
  FILETIME LastChangeChecked{}, LastChangeLastWarning{}, LastChangeEachChecked{}, LastChangeEachLastWarning{},
      LastChangeReference{};
  uint32_t ConflictingEMU = 0, ConflictingPegged = 0, UnknownCurrencies = 0, MultiServerMode = 0;
  uint32_t AllowAdminCOM = 1, AllowAdminWebService = 1;
  uint32_t ExecuteCustomAction = 0;
  uint32_t CrossCheckError = 0;
  uint32_t CrossCheckMaxFluctuation = 15;
  uint32_t OnlyUpdateExisting = 0, AlwaysRetainEuro = 1, MessageOnlyOnce = 0, AutoUpdate = 0, Modem = 0;
  uint32_t Proxy = 2;  // 0 direct, 1 ProxyServer, 2 the system's settings
  uint32_t NoProxyForLAN = 1, HangUp = 1, FluctuationError = 0;
  uint32_t MaxFluctuation = 15;
  uint32_t UpdateAtLeast = 0, UpdateAtMost = 0;
  uint32_t UpdateAttempts = 0, UpdateRetryPause = 0;
  FILETIME EMULoadSuccess{}, EMULoadFailure{};
};

class CSettingsData : public CSettingsValues {
 public:
  CSettingsData();
  ~CSettingsData();
  CSettingsData(const CSettingsData&) = delete;
  CSettingsData& operator=(const CSettingsData&) = delete;

  // Deep copy; false when memory runs out (this block is then partly copied).
  bool CopyFrom(const CSettingsData& other);

  // Index in the active list by code (ignoring case), else by numeric code; -1 when none.
  int32_t IFind(const char* text) const;
  // The letter code for a text that is wholly a known numeric code, else the text itself.
  const char* GetCurrencyName(const char* text) const;

  CRatesData* Rates = nullptr;  // never null in a constructed block
  CStringA ProxyServer, DialUp, UserAgent;
  // The credentials stored in "Authentication", in their stored order.
  CStringA DialUpUserName, DialUpPassword, DialUpDomain, ServerUserName, ServerPassword, ProxyUserName,
      ProxyPassword;
  CStringA MessagesEmailProfile, MessagesEmailRecipients, MessagesEmailSmtpServer, MessagesEmailSender,
      MessagesFile;
  CStringA CustomAction, CustomActionUserName, CustomActionPassword;
  CStringA ClientValidation, ClientValidationUserName, ClientValidationPassword;
  CCurrencyLocaleList Locales;
  CAllCurrencies Currencies;
  CDataSourceList Sources;
  CStringList<char> EuroCache;         // CurrencyInfo blocks of the euro area, filled on demand
  bool EuroCacheFilled = false;        // once filled it is only read, even when the area is empty
};

// Owns a block while it is being built.
class CSettingsDataHolder {
 public:
  CSettingsDataHolder() = default;
  ~CSettingsDataHolder() { delete m_data; }
  CSettingsDataHolder(const CSettingsDataHolder&) = delete;
  CSettingsDataHolder& operator=(const CSettingsDataHolder&) = delete;
  // A new block; null when out of memory.
  CSettingsData* Create();
  CSettingsData* Detach() {
    CSettingsData* d = m_data;
    m_data = nullptr;
    return d;
  }
  CSettingsData* Get() const { return m_data; }

 private:
  CSettingsData* m_data = nullptr;
};

// Flags of CurrencyInfo (the record's "flags" word) that applying a file clears first.
constexpr uint32_t kInfoClearedByBegin = 0x77;

class CSettings {
 public:
  CSettings() = default;
  ~CSettings();
  CSettings(const CSettings&) = delete;
  CSettings& operator=(const CSettings&) = delete;

  // Makes the block when there is none and loads it; false when out of memory.
  bool Create(HMODULE resources);
  // Reads everything; missing or unreadable values take their defaults. `first` is false for a
  // reload, which restarts the staleness checks when their limits changed.
  void Load(bool first);
  // Writes everything under the lock, in one store transaction: all of it or nothing.
  HRESULT Save();
  // Deep copy into a new block; false (this one untouched) when out of memory.
  bool CopyFrom(const CSettings& other);
  HRESULT CanSave() const;

  // "LastSaved": the current time, and back (zero when missing).
  HRESULT SetLastSaved();
  FILETIME GetLastSaved() const;

  CSettingsData* GetData() const { return m_data; }
  // One-line accessors of the block (a block must exist).
  const char* GetBaseUnit() const { return m_data->BaseUnit; }
  // The active record of the base unit; null when it is not active.
  CurrencyInfo* GetBase() const {
    int32_t i = m_data->IFind(m_data->BaseUnit);
    return i < 0 ? nullptr : GetRates()[static_cast<uint32_t>(i)];
  }
  int32_t IFind(const char* code) const { return m_data->IFind(code); }
  const char* GetCurrencyName(const char* text) const { return m_data->GetCurrencyName(text); }
  uint32_t GetAllowAdminWebService() const { return m_data->AllowAdminWebService; }
  uint32_t GetOnlyUpdateExisting() const { return m_data->OnlyUpdateExisting; }
  uint32_t GetAlwaysRetainEuro() const { return m_data->AlwaysRetainEuro; }
  CAllCurrencies& GetAllCurrencies() const { return m_data->Currencies; }
  CDataSourceList& GetDataSourceList() const { return m_data->Sources; }
  const FILETIME& GetCreated() const { return m_data->Rates->Created; }
  const FILETIME& GetExpires() const { return m_data->Rates->Expires; }
  const char* GetSource() const { return m_data->Rates->Source; }
  const char* GetCopyright() const { return m_data->Rates->Copyright; }
  const char* GetMessageA() const { return m_data->Rates->Message; }
  // Restart the staleness checks of the rates as a whole, and of single currencies.
  void ResetLastChange() { m_data->LastChangeChecked = m_data->LastChangeLastWarning = FILETIME{}; }
  void ResetLastChangeEach() { m_data->LastChangeEachChecked = m_data->LastChangeEachLastWarning = FILETIME{}; }
  CRatesData& GetRates() const { return *m_data->Rates; }
  HMODULE GetResourceLibrary() const { return m_resources; }
  // Strings 192 and 187 of the resource library: the message and source lines of quoted rates.
  int GetOandaMessage(char* buffer, int size) const;
  int GetOandaSource(char* buffer, int size) const;
  // The locale list, created on first use; null when it cannot be.
  CCurrencyLocaleList* GetLocaleList();
  // The first address of the default filter definition and that definition's file name; without
  // definitions the maker's rates service and no filter. False when out of memory.
  bool GetDefaultDataSource(CStringA& address, CStringA& filter) const;

  // Services on the loaded settings: programs, lists of active currencies, conversions, tests.
  static constexpr DWORD kDefaultFilterTimeoutMs = 10u * 60u * 1000u;  // a hung filter must not block updates
  // ConvertUnit flags.
  static constexpr uint32_t kConvertRound = 1, kConvertFormat = 2, kConvertEuroItself = 4;
  // CheckFlags modes.
  static constexpr uint32_t kCheckAllBits = 1, kCheckEuroArea = 2, kCheckPegged = 4, kCheckShowRate = 8,
                            kCheckMark = 16;

  // Runs a filter program of the product folder's "Filters" subfolder with the filter command line's
  // four arguments (file, address cut to 254 characters, filter name, address index) and waits up to
  // the filter time limit. `exitCode` gets the program's code, a failure code (never 0) when its
  // status cannot be read; `errorText` explains a refused name or a failed start.
  HRESULT ExecuteFilter(const char* program, const char* text1, const char* text2, const char* text3,
                        int32_t number, DWORD* exitCode, CStringA* errorText) const;
  void SetFilterTimeout(DWORD ms) { m_filterTimeoutMs = ms; }
  // Starts CustomAction from the "Actions" subfolder through the messenger, under the run-as account;
  // without the messenger directly, but only when no account is configured (else 0x8007053D).
  // `errorText` (GlobalFree it) explains a refused program name.
  HRESULT ExecuteCustomAction(HWND window, char** errorText = nullptr) const;

  // Active currencies by their flags as a tab-separated list, each entry the code (with its rate in
  // mode 8) and the English name; GlobalFree it; null when nothing matched.
  char* CheckFlags(uint32_t bits, uint32_t* count, uint32_t mode);
  // Every active currency has a fixed euro rate (an empty list too).
  bool OnlyConstantCurrencies() const;

  // Converts between two active currencies (codes or numeric codes as text); `text` (optional)
  // receives the display of a currency calculator, `result` (optional) the amount.
  HRESULT ConvertUnit(double amount, const char* from, const char* to, char* text, uint32_t textSize, uint32_t flags,
                      const char* separators, double* result);
  // The value of one unit of `code` in `base`.
  HRESULT CurrencyRateToString(const char* code, const char* base, char* text, uint32_t textSize);

  bool IsMessageEmailProfileSmtp() const;
  bool IsMessageEmailProfileDefault() const;
  bool SetMessageEmailProfileSmtp();
  bool SetMessageEmailProfileDefault();
  // Some data source's address is on the maker's rates hosts; the test of an address is the
  // internet connection's IsHulvaneURL, which lives above this library.
  bool HasHulvaneDataSource(BOOL (*isHulvaneURL)(const char* url)) const;
  // No currency-definitions check stored yet, or the later of the last success and failure is
  // 7 days or more ago (never when it lies in the future).
  bool IsTimeToLoadEMU() const;
  // Stamps EMULoadSuccess or EMULoadFailure with the current time, in the block and the store.
  HRESULT EMUUpdateCompleted(bool success);

  // Country, domain and locale mappings: the ISO 4217 code (at most 3 characters and a NUL) into
  // `output`. A country is an ISO 3166 alpha-2, alpha-3 or numeric code; a domain a URL or host
  // name whose last label is looked up; without a row (or with `activeOnly` and an inactive
  // currency) the answer falls back to an active currency of the same two first letters, the
  // default locale's currency, then the first active currency; empty only when nothing is active.
  HRESULT CountryToCurrency(const char* country, bool activeOnly, char* output);
  HRESULT DomainToCurrency(const char* domain, bool activeOnly, char* output);
  HRESULT LocaleToCurrency(LCID lcid, bool activeOnly, char* output);
  // The table walk and its fallbacks; in domain mode the text is matched against the keys only.
  void DoCountryToCurrency(const char* text, bool activeOnly, bool domainMode, char* output);

  // The euro reset pass: the active list takes the euro-area rows of the database (the built-in
  // rows when ResetOriginalEuro says so). Currencies the euro replaced are kept with their fixed
  // rates or removed: with an owner the user is asked once (string 235), without one they are
  // removed. True when the active list changed.
  bool ResetEuroArea(void* owner);
  // One row of that pass; `answer` carries the user's answer through the pass (1: not asked yet).
  bool DoResetEuro(const CurrencyInfo& record, int& answer, void* owner);

  // Rates data.
  void LoadINIBegin();
  // Applies a rates file. `stored` is true for the system's own stored rates. On failure nothing
  // changes and `errorLine` (when given) holds the offending row's line.
  HRESULT LoadINI(const CIniData<char>& data, CStringA* next, uint32_t* errorLine, bool stored);
  void LoadINIEnd();
  // Rewrites "<application key>\INI" with the current rates, all or nothing.
  HRESULT DoSaveINI();
  // Under the lock: stamps "LastSaved" and stores the rates, in one transaction.
  HRESULT SaveINI();
  // Appends the rows of the stored form to any INI data (DoSaveINI's rows).
  HRESULT SaveRatesTo(CIniData<char>& ini) const;
  bool InitCurrencyInfo(CurrencyInfo& record, const char* code);
  void ClearInfo();

  // Active-list and database look-ups.
  // The constant euro record for "EUR" (or "978"), else the euro-area record of that code; null
  // when the code is not a euro-area currency.
  const CurrencyInfo* IsEuroCurrency(const char* code);
  // The database record when the database pegs the code to the euro; else null.
  const CurrencyData* IsPeggedToEURCurrency(const char* code) const;
  // Appends a copy; null when out of memory.
  CurrencyInfo* Add(const CurrencyInfo& record);
  bool Remove(const char* code);

  // "LastSaved" into *out (zero when it cannot be read).
  void GetLastSaved(FILETIME* out) const;
  // Brings a euro-area record into the active list: an existing one takes the record's rate (its
  // last change becomes now), smallest unit and decimals; a missing one is added at its sorted place.
  // True when anything changed.
  bool ResetEuro(const CurrencyInfo& record);
  // Remove every active currency that IsEuroCurrency does not (does) recognise; true when any went.
  bool RemoveNonEuro();
  bool RemoveEuro();
  // The database has the code and it is not legal tender (any more).
  bool IsReplacedCurrency(const char* code) const;
  // The code (or numeric code) is in the active list.
  bool IsValidUnit(const char* code) const;

  // Staleness of the active rates. `now` (UTC) defaults to the system time. The lists are
  // tab-separated entries "CODE (English name)" on the global heap (GlobalFree), null when empty.
  // The latest last change over the active records; zero when none was ever set.
  FILETIME GetLastChange() const;
  // The oldest last change over the floating records (euro-area and euro-pegged ones skipped); a
  // record never changed counts as `now`; zero when none floats.
  FILETIME GetLeastRecentChange(const FILETIME* now = nullptr);
  // Floating records with a rate whose last change is at least `seconds` old (never changed counts
  // as exactly that old); `latest` gets the most recent last change among those listed, `count`
  // their number, `floating` the number of floating records examined. Any output may be null.
  char* GetLastChangeCurrencies(uint32_t seconds, FILETIME* latest, uint32_t* count, uint32_t* floating,
                                const FILETIME* now = nullptr);
  // Floating records without a rate (0, or never set).
  char* GetNeverSetCurrencies(uint32_t* count, uint32_t* floating = nullptr);

 private:
  HRESULT SaveValues();
  bool RemoveEuroRecords(bool euro);
  // Under the lock, in one transaction: "LastSaved", the values when `values` is set, the rates.
  HRESULT SaveUnderLock(bool values);
  // One row of "[EUR]" (or "[EUR-Replaced]") applied to `rates`; `value` is null when the row holds
  // more than one text. 0, 0x80070057 when the value is no rate (the file is refused), or 0x8007000E.
  HRESULT ApplyRate(CRatesData& rates, const char* code, const char* value, bool replaced, bool stored,
                    const FILETIME& now);

  CSettingsData* m_data = nullptr;
  HMODULE m_resources = nullptr;
  DWORD m_filterTimeoutMs = kDefaultFilterTimeoutMs;
};

// "ResetOriginalEuro" (moved to "ResetOriginalEMU" when that can be written), else
// "ResetOriginalEMU", else 0: non-zero makes the euro reset pass take the built-in euro rows.
uint32_t ResetOriginalEuro();

// Hit counters: one REG_DWORD per currency code under "<application key>\Hits", a missing value
// counting 0. Each returns 1 on success, 0 on failure, retrying short store conflicts.
BOOL SetUnitHits(const char* code, DWORD count);  // 0 deletes the value
BOOL GetUnitHits(const char* code, DWORD* count);
// Read and write in one store transaction, so that concurrent counts are not lost; 0xFFFFFFFF stays.
BOOL IncrementUnitHits(const char* code);
// Adds counts to several counters in one store transaction, each stopping at 0xFFFFFFFF. Hit
// counts leave the store's change counter alone: they are no configuration.
struct UnitHitCount {
  const char* code;
  uint64_t count;
};
BOOL AddUnitHits(const UnitHitCount* counts, uint32_t n);

// "<Path>/<subfolder>" of the product folder "Path": 1 on success, else the HRESULT of the failure
// (0x80070003 for an empty "Path").
HRESULT GetVXFolderName(CStringA& result, const char* subfolder);
// The log folder (MAX_PATH characters), created when missing, without a trailing "/".
bool GetLogPath(char* buffer);
// The folder of the run archives, as GetLogPath names it, without making anything.
bool LogFolderPath(std::string& path);

// Runs a filter program from `directory` with the four arguments of the filter command line and a
// time limit; start failures and refused names leave a text in `errorText`.
HRESULT ExecuteFilterProgram(const char* directory, const char* program, const char* text1, const char* text2,
                             const char* text3, int32_t number, DWORD timeoutMs, HMODULE resourceLibrary,
                             DWORD* exitCode, CStringA* errorText);

// A copy of the active currency list (CurrencyInfo blocks).
class CCurrencyList : public CStringList<char> {
 public:
  // Empties the list and copies the settings' active list; false when out of memory.
  bool CopyFrom(const CSettings& settings);
  // Appends copies of every record of another list; false when out of memory.
  bool CopyFrom(const CCurrencyList& other);
  // Replaces the settings' active list whole; on failure it stays as it was.
  bool CopyTo(CSettings& settings) const;
  // True when the sets differ: a code on one side only, or a rate that is not equal.
  bool CompareRates(const CCurrencyList& other) const;
};

namespace vtx::settings {
// The messenger's program start (the notification channels' PipeExecute), set by the programs
// that link the channels in; null counts as a messenger out of reach (0x8007053D).
using PipeExecuteFunction = HRESULT (*)(HWND owner, const char* file, const char* parameters, const char* directory,
                                        const char* user, const char* domain, const char* password, BOOL wait);
extern PipeExecuteFunction PipeExecute;
// The definitions check is due: no stamp yet, or the later of the two 7 days old or more (FILETIME units).
bool IsTimeToLoadEMU(uint64_t lastSuccess, uint64_t lastFailure, uint64_t now);
}  // namespace vtx::settings

// Writes and deletes "_RegWriteTest": the HRESULT of the write (0x80070005 when access is denied).
HRESULT CanSaveSettings();
// A null string deletes the value (result 0); otherwise a REG_SZ write and its HRESULT.
HRESULT SaveRegistryCStringA(const char* text, HKEY root, const char* key, const char* name);

// The system-wide settings lock, held for the object's lifetime.
// How long an operation waits for the settings lock ("HulvaneVantrexMutex") before it gives up
// with 0x800705B4: a holder that never lets go makes that operation fail, not the waiter hang.
constexpr DWORD kSettingsLockWaitMs = 5000;

// Called now and then while a thread waits for the settings lock, on that thread: the server's
// main thread answers meanwhile the requests that do not need the lock. Null: a plain wait.
using SettingsLockWaitHook = void (*)();
void SetSettingsLockWaitHook(SettingsLockWaitHook hook);

class CSettingsAccess {
 public:
  explicit CSettingsAccess(DWORD timeoutMs = kSettingsLockWaitMs);
  ~CSettingsAccess();
  CSettingsAccess(const CSettingsAccess&) = delete;
  CSettingsAccess& operator=(const CSettingsAccess&) = delete;
  bool IsHeld() const { return m_held; }
  // 0 when held, else why not (0x800705B4 at the time limit).
  HRESULT Status() const { return m_status; }

 private:
  HANDLE m_mutex = nullptr;
  bool m_held = false;
  HRESULT m_status = E_FAIL;
};

namespace vtx::settings {
// Builds the scrambled credentials value of `count` strings (null strings are empty); `size` 0
// means the value is to be deleted. The buffer is GlobalAlloc'ed; the caller wipes and frees it.
bool BuildCredentials(const char* const* strings, uint32_t count, uint32_t minimum, uint8_t** buffer,
                      uint32_t* size);
// Unscrambles a stored value and takes out up to `count` strings; those beyond the end stay null.
bool ParseCredentials(const uint8_t* data, uint32_t size, CStringA* const* strings, uint32_t count);
}  // namespace vtx::settings
