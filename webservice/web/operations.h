// The web library: the service class Hulvane.Web.Services.Vantrex as a plain C++ API, the per-call
// session, client validation and the rate and conversion operations. Knows nothing of HTTP or XML.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/currency/settings.h"
#include "engine/foundation/cstring.h"
#include "platform/types.h"
#include "webservice/web/snapshot.h"

// A string of the web interface: UTF-16, or null.
using ManagedString = std::optional<std::u16string>;

// What an operation throws; the host turns it into a fault.
class WebException : public std::runtime_error {
 public:
  enum class Kind { Application, Argument, ArgumentNull, OutOfMemory, Refused, HResult };
  WebException(Kind kind, const std::string& message, std::string param, HRESULT hr)
      : std::runtime_error(message), m_kind(kind), m_param(std::move(param)), m_hr(hr) {}
  Kind GetKind() const { return m_kind; }
  const std::string& GetParamName() const { return m_param; }
  HRESULT GetHResult() const { return m_hr; }
  // The exception's type name, as "System.ArgumentNullException".
  const char* TypeName() const;
  // The caller's fault (argument errors and refused validation), as against the server's.
  bool IsClientFault() const;

 private:
  Kind m_kind;
  std::string m_param;
  HRESULT m_hr;
};

// Seams to the server and the messenger, set by the program that links their clients. Null (the
// default) means that side cannot be reached: nothing is counted, validators run directly.
using SendVXVMessageTimeoutFn = HRESULT (*)(UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, DWORD* result);
extern SendVXVMessageTimeoutFn g_pfnSendVXVMessageTimeout;
using PipeExecuteFn = HRESULT (*)(const char* program, const char* parameters, const char* folder, const char* user,
                                  const char* domain, const char* password, DWORD wait);
extern PipeExecuteFn g_pfnPipeExecute;

// Limits of the frame.
// The validator's limit; a variable so that tests need not wait half a minute.
extern DWORD g_dwValidatorTimeoutMs;     // 30000
extern DWORD g_dwSettingsLockTimeoutMs;  // 30000
// How long an update started by the web service may take before the caller is told it timed out;
// a variable so that tests need not wait.
extern DWORD g_dwAdminUpdateTimeoutMs;  // 900000
// The other administrative commands.
constexpr DWORD kAdminCommandTimeoutMs = 60000;
// The longest text AdminMessage passes on.
constexpr size_t kMaxAdminMessageBytes = 8192;
constexpr size_t kMaxListItems = 1000;

// Native text made from a managed string; null stays null.
class StringToAnsi {
 public:
  explicit StringToAnsi(const ManagedString& s);
  const char* GetAnsi() const { return m_text.GetBuffer(); }

 private:
  CStringA m_text;
};
class StringToUni {
 public:
  explicit StringToUni(const ManagedString& s);
  const char16_t* GetUni() const { return m_text ? m_text->c_str() : nullptr; }

 private:
  std::optional<std::u16string> m_text;
};

// One per call: the settings and rates as stored when the call began, which the call shares with
// the other calls of the snapshot and only reads (see CSettingsSnapshot), and the catalogue. The
// settings never depend on the catalogue; when they cannot be loaded the constructor throws.
class CVantrexSession {
 public:
  CVantrexSession() : m_snapshot(CSettingsSnapshot::Current()) {}
  CVantrexSession(const CVantrexSession&) = delete;
  CVantrexSession& operator=(const CVantrexSession&) = delete;
  CSettings& GetSettings() const { return m_snapshot->GetSettings(); }
  HMODULE GetResources() const { return m_snapshot->GetResources(); }
  char16_t GetSeparator() const { return m_snapshot->GetSeparator(); }

 private:
  std::shared_ptr<const CSettingsSnapshot> m_snapshot;
};

// Utility functions of the web module.
[[noreturn]] void ThrowAppException(UINT id);
[[noreturn]] void ThrowNoCurrencyException();
[[noreturn]] void ThrowNotSetException();
// Throws the exception that stands for a failing HRESULT.
[[noreturn]] void ThrowHResult(HRESULT hr);
// The list separator as stored now (a call takes its session's).
char16_t GetSeparator();
LCID GetLocaleID(const ManagedString& text, CSettings* settings);
// Local time by the offset from UTC of the present moment, with that offset, as
// 2005-03-01T14:05:09+01:00 (asked in winter).
bool TimeToLocalString(const FILETIME& utc, char* buffer, size_t size);

// Settings services the operations build on.
// 0 accepts the client; `error` (optional) receives a text that explains a refusal.
HRESULT ExecuteClientValidation(CSettings& settings, uint32_t window, const char* clientKey, CStringA* error);

namespace Hulvane::Web::Services {

// Steps every operation shares.
// The session's client validation with the operation's first parameter; a refusal throws.
void Validate(CVantrexSession& session, const ManagedString& clientKey);
[[noreturn]] void ThrowNull(const char* param);
[[noreturn]] void ThrowArgument(const char* message = "Value does not fall within the expected range.",
                                const char* param = "");
// A managed string of ANSI text.
ManagedString FromAnsi(const std::string& s);
// A time as the operations give it: universal or local time text, "" for a time never set.
ManagedString FormatTime(const FILETIME& time, bool local);
// Whole seconds since a time within xs:int; 2147483647 for a time never set.
int32_t SecondsSinceClamped(const FILETIME& time);
// The database flags the code as pegged to the euro; false without settings.
bool IsPeggedToEUR(CSettings* settings, const char* code);

class Vantrex {
 public:
  static const char* const kDescription;

  double ConvertToNum(const ManagedString& clientKey, const ManagedString& fromCurrency,
                      const ManagedString& toCurrency, double amount, bool rounding, const ManagedString& date,
                      const ManagedString& type);
  ManagedString ConvertToStr(const ManagedString& clientKey, const ManagedString& fromCurrency,
                             const ManagedString& toCurrency, double amount, bool rounding,
                             const ManagedString& format, const ManagedString& date, const ManagedString& type);
  double RateNum(const ManagedString& clientKey, const ManagedString& baseCurrency, const ManagedString& toCurrency,
                 bool rounding, const ManagedString& date, const ManagedString& type);
  ManagedString RateStr(const ManagedString& clientKey, const ManagedString& baseCurrency,
                        const ManagedString& toCurrency, bool rounding, const ManagedString& format,
                        const ManagedString& date, const ManagedString& type);
  ManagedString RateTimeLocal(const ManagedString& clientKey, const ManagedString& baseCurrency,
                              const ManagedString& toCurrency, const ManagedString& priority,
                              const ManagedString& date, const ManagedString& type);
  ManagedString RateTimeUT(const ManagedString& clientKey, const ManagedString& baseCurrency,
                           const ManagedString& toCurrency, const ManagedString& priority, const ManagedString& date,
                           const ManagedString& type);

  // Currencies.
  ManagedString Currencies(const ManagedString& clientKey);
  bool CurrencyExists(const ManagedString& clientKey, const ManagedString& currency);
  int32_t CurrencyHits(const ManagedString& clientKey, const ManagedString& currency);
  ManagedString CurrencyLastChangeTimeLocal(const ManagedString& clientKey, const ManagedString& currency);
  ManagedString CurrencyLastChangeTimeUT(const ManagedString& clientKey, const ManagedString& currency);
  bool CurrencyLegalTender(const ManagedString& clientKey, const ManagedString& currency);
  bool CurrencyPhysical(const ManagedString& clientKey, const ManagedString& currency);
  ManagedString CurrencyRegime(const ManagedString& clientKey, const ManagedString& currency);
  int32_t CurrencySecondsSinceLastChange(const ManagedString& clientKey, const ManagedString& currency);
  int32_t Vantrexs(const ManagedString& clientKey, const ManagedString& currency);
  ManagedString CurrencySmallestUnit(const ManagedString& clientKey, const ManagedString& currency);
  bool CurrencySubUnit(const ManagedString& clientKey, const ManagedString& currency);
  bool CurrencyWarning(const ManagedString& clientKey, const ManagedString& currency);
  // Not published as a web operation.
  bool CurrencyIsEuro(const ManagedString& clientKey, const ManagedString& currency);
  ManagedString CurrencyName(const ManagedString& clientKey, const ManagedString& currency,
                             const ManagedString& locale, bool titleStyle);
  ManagedString CurrencySymbol(const ManagedString& clientKey, const ManagedString& currency,
                               const ManagedString& locale);
  ManagedString CurrencyCustom(const ManagedString& clientKey, const ManagedString& currency,
                               const ManagedString& locale);
  ManagedString CountryToCurrency(const ManagedString& clientKey, const ManagedString& country, bool activeOnly);
  ManagedString DomainToCurrency(const ManagedString& clientKey, const ManagedString& domain, bool activeOnly);
  ManagedString LocaleToCurrency(const ManagedString& clientKey, const ManagedString& locale, bool activeOnly);

  // Information and times.
  ManagedString CurrentTimeLocal(const ManagedString& clientKey);
  ManagedString CurrentTimeUT(const ManagedString& clientKey);
  ManagedString InformationCopyright(const ManagedString& clientKey);
  ManagedString InformationMessage(const ManagedString& clientKey);
  ManagedString InformationSource(const ManagedString& clientKey);
  ManagedString InformationCreationTimeLocal(const ManagedString& clientKey);
  ManagedString InformationCreationTimeUT(const ManagedString& clientKey);
  ManagedString InformationExpirationTimeLocal(const ManagedString& clientKey);
  ManagedString InformationExpirationTimeUT(const ManagedString& clientKey);
  ManagedString LastChangeTimeLocal(const ManagedString& clientKey);
  ManagedString LastChangeTimeUT(const ManagedString& clientKey);
  int32_t SecondsSinceLastChange(const ManagedString& clientKey);
  ManagedString Version(const ManagedString& clientKey);

  // Administration, when the setting AllowAdminWebService allows it. Configuration files are named
  // inside the product's "Configurations" folder.
  void AdminLoad(const ManagedString& clientKey, const ManagedString& file);
  void AdminSave(const ManagedString& clientKey, const ManagedString& file);
  void AdminMessage(const ManagedString& clientKey, const ManagedString& text, int32_t type);
  void AdminUpdateNow(const ManagedString& clientKey);

 private:
  ManagedString RateTime(const ManagedString& clientKey, const ManagedString& baseCurrency,
                         const ManagedString& toCurrency, const ManagedString& priority, const ManagedString& date,
                         const ManagedString& type, bool local);
};

}  // namespace Hulvane::Web::Services
