// Operations on loaded settings beyond loading and saving: hit counters, the filter and custom-action
// programs, the product folders, lists of active currencies, conversions and a few tests.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/currency/settings.h"
#include "engine/foundation/calculator.h"
#include "engine/foundation/commandline.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/systime.h"

namespace vtx::settings {
PipeExecuteFunction PipeExecute = nullptr;
}  // namespace vtx::settings

namespace {

constexpr char kHitsKey[] = VTX_APP_KEY "\\Hits";
constexpr uint32_t kHitAttempts = 5;
constexpr DWORD kHitRetryMs = 250;
constexpr UINT kMsgProgramRefused = 439;           // %1 program, %2 folder
constexpr UINT kMsgProgramNotStarted = 206;        // %1 program
constexpr char kProfileSmtp[] = "<SMTP>";
constexpr char kProfileDefault[] = "<Windows Messaging Default>";
constexpr uint64_t kWeek = 6048000000000ull;  // 7 days in 100 ns units
constexpr LCID kEnglish = 1033;

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeToU64(now);
}

const CurrencyInfo* Info(const CStringList<char>& list, uint32_t i) {
  return reinterpret_cast<const CurrencyInfo*>(list[i]);
}

// String `id` with its inserts; `fallback` when the resource library has no such string.
void SetErrorText(CStringA* out, const char* fallback, UINT id, HMODULE module, const char* insert1,
                  const char* insert2 = nullptr) {
  if (!out) return;
  char* text = nullptr;
  if (module)
    text = insert2 ? PrintFormatMessage(id, module, insert1, insert2) : PrintFormatMessage(id, module, insert1);
  if (text) {
    *out = text;
    LocalFree(text);
  } else {
    *out = fallback;
  }
}

// A copy on the global heap for the caller to GlobalFree; null for an empty text or out of memory.
char* GlobalText(const std::string& text) {
  if (text.empty()) return nullptr;
  char* block = static_cast<char*>(GlobalAlloc(0, text.size() + 1));
  if (block) std::memcpy(block, text.c_str(), text.size() + 1);
  return block;
}


// The filter run behind both entry points; `folderResult` is 1 when `folder` holds the folder.
HRESULT RunFilterProgram(HRESULT folderResult, const char* folder, const char* program, const char* text1,
                         const char* text2, const char* text3, int32_t number, DWORD timeoutMs, HMODULE module,
                         DWORD* exitCode, CStringA* errorText) {
  if (exitCode) *exitCode = 0;
  if (!program || !text1 || !text2) return E_INVALIDARG;
  if (!vtx::IsPlainFileName(program)) {
    std::string fallback = std::string("The program name \"") + program + "\" is refused.";
    SetErrorText(errorText, fallback.c_str(), kMsgProgramRefused, module, program, "Filters");
    return E_INVALIDARG;
  }
  if (folderResult != 1) return folderResult;
  if (!folder || !*folder) return E_NOTFOUND_PATH;
  std::string address(text2);
  if (address.size() > 254) address.resize(254);
  vtx::ProgramStart start;
  start.program = program;
  // An argument vector, never a quoted command line: a '"' in an address stays inside its argument.
  start.arguments = {text1, address, text3 ? text3 : "", std::to_string(number)};
  start.directory = folder;
  // The folder comes from the store, which the product's group writes.
  if (std::string why = vtx::UntrustedProgramReason(start); !why.empty()) {
    std::string text = std::string("The filter program \"") + program + "\" is refused: " + why;
    if (errorText) *errorText = text.c_str();
    return E_ACCESSDENIED;
  }
  vtx::ChildProcess child;
  if (FAILED(child.Start(start))) {
    std::string fallback = std::string("The filter program \"") + program + "\" could not be started.";
    SetErrorText(errorText, fallback.c_str(), kMsgProgramNotStarted, module, program);
    return E_FAIL;
  }
  DWORD code = 0;
  HRESULT hr = child.Wait(timeoutMs, &code);
  if (exitCode) *exitCode = code;
  return hr;
}

// " (name)" in English from the locale list; empty when it has none.
std::string EnglishName(CSettings& settings, const char* code) {
  CCurrencyLocaleList* locales = settings.GetLocaleList();
  CStringW name;
  if (!locales || !locales->GetCurrencyName(name, code, false, kEnglish) || name.IsEmpty()) return {};
  return " (" + vtx::WideToAnsi(std::u16string(name.c_str())) + ")";
}

void AppendEntry(std::string& list, const std::string& entry) {
  if (!list.empty()) list += '\t';
  list += entry;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Hit counters.

BOOL SetUnitHits(const char* code, DWORD count) {
  if (!code || !*code) return 0;
  for (uint32_t attempt = 0; attempt < kHitAttempts; ++attempt) {
    if (attempt) Sleep(kHitRetryMs);
    // Hit counts are no configuration: readers of the settings need not look again.
    vtx::RegTransaction quiet(vtx::RegTransaction::Quiet);
    if (quiet.Status() != ERROR_SUCCESS) continue;
    if (count == 0) {
      if ((DeleteRegistryValue(HKEY_LOCAL_MACHINE, kHitsKey, code) ||
           !RegistryValueExists(HKEY_LOCAL_MACHINE, kHitsKey, code)) &&
          quiet.Commit() == ERROR_SUCCESS)
        return 1;
    } else if (RegDwordValue(count).Save(HKEY_LOCAL_MACHINE, kHitsKey, code) == 0 && quiet.Commit() == ERROR_SUCCESS) {
      return 1;
    }
  }
  return 0;
}

BOOL GetUnitHits(const char* code, DWORD* count) {
  if (!code || !*code || !count) return 0;
  for (uint32_t attempt = 0; attempt < kHitAttempts; ++attempt) {
    if (attempt) Sleep(kHitRetryMs);
    RegDwordValue v;
    HRESULT hr = v.Load(HKEY_LOCAL_MACHINE, kHitsKey, code);
    if (hr == 0) {
      *count = v;
      return 1;
    }
    if (hr == E_NOTFOUND_FILE || hr == E_NOTFOUND_PATH) {
      *count = 0;
      return 1;
    }
  }
  return 0;
}

BOOL AddUnitHits(const UnitHitCount* counts, uint32_t n) {
  if (!counts && n) return 0;
  for (uint32_t i = 0; i < n; ++i)
    if (!counts[i].code || !*counts[i].code) return 0;
  for (uint32_t attempt = 0; attempt < kHitAttempts; ++attempt) {
    if (attempt) Sleep(kHitRetryMs);
    // Read and write in one step, for all codes at once; the change counter stays, since hit
    // counts are no configuration.
    vtx::RegTransaction quiet(vtx::RegTransaction::Quiet);
    if (quiet.Status() != ERROR_SUCCESS) continue;
    bool ok = true;
    for (uint32_t i = 0; i < n && ok; ++i) {
      if (!counts[i].count) continue;
      RegDwordValue stored;
      HRESULT hr = stored.Load(HKEY_LOCAL_MACHINE, kHitsKey, counts[i].code);
      if (hr != 0 && hr != E_NOTFOUND_FILE && hr != E_NOTFOUND_PATH) {
        ok = false;
        break;
      }
      uint64_t total = (hr == 0 ? stored.m_dwValue : 0) + counts[i].count;
      if (hr == 0 && stored.m_dwValue == 0xFFFFFFFFu) continue;
      ok = RegDwordValue(total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(total))
               .Save(HKEY_LOCAL_MACHINE, kHitsKey, counts[i].code) == 0;
    }
    if (ok && quiet.Commit() == ERROR_SUCCESS) return 1;
  }
  return 0;
}

BOOL IncrementUnitHits(const char* code) {
  const UnitHitCount one{code, 1};
  return AddUnitHits(&one, 1);
}

// ---------------------------------------------------------------------------------------------
// Folders.

HRESULT GetVXFolderName(CStringA& result, const char* subfolder) {
  if (!subfolder) return E_INVALIDARG;
  RegStringValue<char> path;
  HRESULT hr = path.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Path");
  if (FAILED(hr)) return hr;
  // An empty product folder would put the programs' folders at the root of the file system.
  if (!path.GetString() || !*path.GetString()) return E_NOTFOUND_PATH;
  std::string folder = path.GetString();
  if (folder.back() != '/') folder += '/';
  folder += subfolder;
  result = folder.c_str();
  return result.IsNull() ? E_OUTOFMEMORY : 1;
}

bool LogFolderPath(std::string& path) {
  char appData[MAX_PATH];
  if (GetSpecialFolderPath(CSIDL_COMMON_APPDATA, appData)) {
    path = appData;
    if (path.empty() || path.back() != '/') path += '/';
    path += "Hulvane/Vantrex/Logs";
  } else {
    CStringA logs;
    if (GetVXFolderName(logs, "Logs") != 1) return false;
    path = logs.c_str();
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.size() + 1 < MAX_PATH;
}

bool GetLogPath(char* buffer) {
  if (!buffer) return false;
  buffer[0] = 0;
  char appData[MAX_PATH];
  // The common application data folder is made when missing, as on the first run of a machine.
  if (!GetSpecialFolderPath(CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, appData)) appData[0] = 0;
  std::string path;
  if (!LogFolderPath(path)) return false;
  if (FAILED(MakeSureDirectoryPathExists((path + "/").c_str()))) return false;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Programs.

HRESULT ExecuteFilterProgram(const char* directory, const char* program, const char* text1, const char* text2,
                             const char* text3, int32_t number, DWORD timeoutMs, HMODULE resourceLibrary,
                             DWORD* exitCode, CStringA* errorText) {
  return RunFilterProgram(1, directory, program, text1, text2, text3, number, timeoutMs, resourceLibrary, exitCode,
                          errorText);
}

HRESULT CSettings::ExecuteFilter(const char* program, const char* text1, const char* text2, const char* text3,
                                 int32_t number, DWORD* exitCode, CStringA* errorText) const {
  CStringA folder;
  // A refused name is refused before the folder is looked up.
  HRESULT folderResult = program && vtx::IsPlainFileName(program) ? GetVXFolderName(folder, "Filters") : 1;
  return RunFilterProgram(folderResult, folder.c_str(), program, text1, text2, text3, number, m_filterTimeoutMs,
                          m_resources, exitCode, errorText);
}

HRESULT CSettings::ExecuteCustomAction(HWND window, char** errorText) const {
  if (errorText) *errorText = nullptr;
  if (!m_data) return E_POINTER;
  const CSettingsData& d = *m_data;
  CStringA programText, argumentText;
  SplitCommandLine(d.CustomAction.c_str(), programText, argumentText);
  if (programText.IsEmpty()) return 0;
  std::string program = programText.c_str(), arguments = argumentText.c_str();
  if (!vtx::IsPlainFileName(program.c_str())) {
    if (errorText) {
      CStringA text;
      std::string fallback = "The program name \"" + program + "\" is refused.";
      SetErrorText(&text, fallback.c_str(), kMsgProgramRefused, m_resources, program.c_str(), "Actions");
      *errorText = GlobalText(text.c_str() ? text.c_str() : "");
    }
    return E_INVALIDARG;
  }
  std::string account = d.CustomActionUserName.c_str() ? d.CustomActionUserName.c_str() : "";
  std::string domain, user = account;
  if (size_t slash = account.find('\\'); slash != std::string::npos) {
    domain = account.substr(0, slash);
    user = account.substr(slash + 1);
  }
  CStringA folder;
  HRESULT hr = GetVXFolderName(folder, "Actions");
  if (hr != 1) return hr;
  {
    // The folder comes from the store, which the product's group writes.
    vtx::ProgramStart named;
    named.program = program;
    named.directory = folder.c_str();
    if (std::string why = vtx::UntrustedProgramReason(named); !why.empty()) {
      if (errorText) *errorText = GlobalText(("The custom action \"" + program + "\" is refused: " + why).c_str());
      return E_ACCESSDENIED;
    }
  }

  hr = E_SERVER_UNAVAILABLE;
  if (vtx::settings::PipeExecute)
    hr = vtx::settings::PipeExecute(window, program.c_str(), arguments.c_str(), folder.c_str(), user.c_str(),
                                    domain.c_str(), d.CustomActionPassword.c_str() ? d.CustomActionPassword.c_str() : "",
                                    FALSE);
  if (hr != E_SERVER_UNAVAILABLE) return hr;
  // Only the messenger can start a program under another account; with one configured, running it
  // with the server's own rights instead would be a silent escalation.
  if (!account.empty()) return E_SERVER_UNAVAILABLE;
  vtx::ProgramStart start;
  start.program = program;
  start.arguments = vtx::SplitParameterText(arguments.c_str());
  start.directory = folder.c_str();
  hr = vtx::StartDetached(start);
  return FAILED(hr) ? hr : 0;
}

// ---------------------------------------------------------------------------------------------
// Lists of active currencies.

char* CSettings::CheckFlags(uint32_t bits, uint32_t* count, uint32_t mode) {
  if (count) *count = 0;
  if (!m_data) return nullptr;
  std::string list;
  uint32_t matched = 0;
  for (char* e : m_data->Rates->Active) {
    auto* rec = reinterpret_cast<CurrencyInfo*>(e);
    bool match = (mode & kCheckAllBits) ? (rec->dwFlags & bits) == bits : (rec->dwFlags & bits) == 0;
    if (!match) continue;
    if (!(mode & kCheckEuroArea) && IsEuroCurrency(rec->szCode)) continue;
    if (!(mode & kCheckPegged) && IsPeggedToEURCurrency(rec->szCode)) continue;
    std::string entry = rec->szCode;
    if (mode & kCheckShowRate) {
      char rate[80];
      if (CurrencyRateToString(rec->szCode, m_data->BaseUnit, rate, sizeof rate) == 0)
        entry += std::string(" 1 = ") + rate + " " + m_data->BaseUnit;
      else if (CurrencyRateToString(rec->szCode, "EUR", rate, sizeof rate) == 0)
        entry += std::string(" 1 = ") + rate + " EUR";
    }
    entry += EnglishName(*this, rec->szCode);
    AppendEntry(list, entry);
    ++matched;
    if (mode & kCheckMark) rec->dwFlags |= kInfoWarning;
  }
  if (count) *count = matched;
  return GlobalText(list);
}

bool CSettings::OnlyConstantCurrencies() const {
  if (!m_data) return true;
  for (uint32_t i = 0; i < m_data->Rates->Active.GetCount(); ++i) {
    int32_t j = m_data->Currencies.IFind(Info(m_data->Rates->Active, i)->szCode);
    if (j < 0 || !(m_data->Currencies[static_cast<uint32_t>(j)]->dwFlags & (kCurrencyEuroArea | kCurrencyPeggedEuro)))
      return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Conversions.

HRESULT CSettings::ConvertUnit(double amount, const char* from, const char* to, char* text, uint32_t textSize,
                               uint32_t flags, const char* separators, double* result) {
  if (!from || !to || !std::isfinite(amount)) return E_INVALIDARG;
  if (!m_data) return E_POINTER;
  const CurrencyInfo* euro = IsEuroCurrency("EUR");  // the constant euro record
  auto look = [&](const char* code, const CurrencyInfo** out) -> HRESULT {
    if ((flags & kConvertEuroItself) && (_stricmp(code, "EUR") == 0 || std::strcmp(code, "978") == 0)) {
      *out = euro;
      return 0;
    }
    int32_t i = m_data->IFind(code);
    if (i < 0) return E_NOTFOUND;
    *out = GetRates()[static_cast<uint32_t>(i)];
    // -1.0 marks a rate never set: converting with it would give a negative amount.
    return (*out)->dRate > 0 && std::isfinite((*out)->dRate) ? 0 : E_RATE_NOT_SET;
  };
  const CurrencyInfo* a = nullptr;
  const CurrencyInfo* b = nullptr;
  HRESULT hr = look(from, &a);
  if (hr == 0) hr = look(to, &b);
  if (hr) return hr;
  double value = ConvertCurrency(amount, a->dRate, a == euro, b->dRate, b == euro);
  if (text && textSize) {
    CCalculator calc(0);
    calc.SetValueType(CCalculator::ValueCurrency);
    calc.SetRounding((flags & kConvertRound) != 0);
    calc.SetFormatting((flags & kConvertFormat) != 0);
    calc.SetRoundingValue(b->dSmallest);
    calc.SetMinFractDigits(b->dwSmallestDecimals);
    if (separators && *separators) {
      calc.SetDecimalSeparator(separators[0]);
      calc.SetThousandSeparator(separators[1] ? separators[1] : 1);
    }
    calc.Constant(value);
    const char* display = calc.GetDisplay();
    std::snprintf(text, textSize, "%s", display ? display : "");
    size_t n = std::strlen(text);
    if (n && text[n - 1] == '.') text[n - 1] = 0;
  }
  if (result) *result = (flags & kConvertRound) ? RoundCurrency(value, b->dSmallest) : value;
  return 0;
}

HRESULT CSettings::CurrencyRateToString(const char* code, const char* base, char* text, uint32_t textSize) {
  return ConvertUnit(1.0, code, base, text, textSize, kConvertEuroItself, nullptr, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Tests on the configuration.

bool CSettings::IsMessageEmailProfileSmtp() const {
  return m_data && m_data->MessagesEmailProfile.c_str() && _stricmp(m_data->MessagesEmailProfile.c_str(), kProfileSmtp) == 0;
}

bool CSettings::IsMessageEmailProfileDefault() const {
  return m_data && m_data->MessagesEmailProfile.c_str() &&
         _stricmp(m_data->MessagesEmailProfile.c_str(), kProfileDefault) == 0;
}

bool CSettings::SetMessageEmailProfileSmtp() {
  if (!m_data) return false;
  m_data->MessagesEmailProfile = kProfileSmtp;
  return !m_data->MessagesEmailProfile.IsNull();
}

bool CSettings::SetMessageEmailProfileDefault() {
  if (!m_data) return false;
  m_data->MessagesEmailProfile = kProfileDefault;
  return !m_data->MessagesEmailProfile.IsNull();
}

bool CSettings::HasHulvaneDataSource(BOOL (*isHulvaneURL)(const char* url)) const {
  if (!m_data || !isHulvaneURL) return false;
  for (const CDataSource* source : m_data->Sources)
    if (source && source->GetURL() && isHulvaneURL(source->GetURL())) return true;
  return false;
}

bool vtx::settings::IsTimeToLoadEMU(uint64_t lastSuccess, uint64_t lastFailure, uint64_t now) {
  uint64_t last = std::max(lastSuccess, lastFailure);
  if (last == 0) return true;
  if (last > now) return false;
  return now - last >= kWeek;
}

bool CSettings::IsTimeToLoadEMU() const {
  if (!m_data) return true;
  return vtx::settings::IsTimeToLoadEMU(FileTimeToU64(m_data->EMULoadSuccess), FileTimeToU64(m_data->EMULoadFailure), Now());
}

HRESULT CSettings::EMUUpdateCompleted(bool success) {
  if (!m_data) return E_POINTER;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  (success ? m_data->EMULoadSuccess : m_data->EMULoadFailure) = now;
  RegBinaryValue v;
  if (!v.Copy(&now, sizeof now)) return E_OUTOFMEMORY;
  return v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, success ? "EMULoadSuccess" : "EMULoadFailure");
}

// ---------------------------------------------------------------------------------------------

bool CCurrencyList::CopyFrom(const CSettings& settings) {
  Empty();
  if (!settings.GetData()) return true;
  for (char* e : settings.GetRates().Active)
    if (!Add(e, kListAppend, sizeof(CurrencyInfo))) return false;
  return true;
}

bool CCurrencyList::CopyTo(CSettings& settings) const {
  if (!settings.GetData()) return false;
  CStringList<char>& active = settings.GetRates().Active;
  // The copies go behind the old records first, so that running out of memory changes nothing.
  const uint32_t old = active.GetCount();
  for (char* e : *this)
    if (!active.Add(e, kListAppend, sizeof(CurrencyInfo))) {
      while (active.GetCount() > old) active.Remove(active.GetCount() - 1);
      return false;
    }
  for (uint32_t i = 0; i < old; ++i) active.Remove(0u);
  return true;
}

bool CCurrencyList::CompareRates(const CCurrencyList& other) const {
  for (uint32_t i = 0; i < GetCount(); ++i) {
    int32_t j = other.IFind(Info(*this, i)->szCode);
    if (j < 0 || Info(other, static_cast<uint32_t>(j))->dRate != Info(*this, i)->dRate) return true;
  }
  for (uint32_t j = 0; j < other.GetCount(); ++j)
    if (IFind(Info(other, j)->szCode) < 0) return true;
  return false;
}
