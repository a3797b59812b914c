// The operations that describe one currency, and the mappings of a country, a domain or a locale
// to a currency.
#include <cstdint>
#include <string>

#include "engine/foundation/calculator.h"
#include "engine/foundation/timetext.h"
#include "webservice/web/operations.h"

namespace Hulvane::Web::Services {

bool IsPeggedToEUR(CSettings* settings, const char* code) {
  if (!settings || !settings->GetData() || !code) return false;
  const CAllCurrencies& db = settings->GetData()->Currencies;
  int32_t i = db.IFind(code);
  return i >= 0 && (db[static_cast<uint32_t>(i)]->dwFlags & kCurrencyPeggedEuro);
}

namespace {

int32_t ClampToInt(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// One call about one currency: the session, the validation, the null check and the currency as
// ANSI text.
class CurrencyCall {
 public:
  CurrencyCall(const ManagedString& clientKey, const ManagedString& currency) {
    Validate(m_session, clientKey);
    if (!currency) ThrowNull("Currency");
    m_code = std::make_unique<StringToAnsi>(currency);
  }
  CSettings& Settings() { return m_session.GetSettings(); }
  const char* Text() const { return m_code->GetAnsi(); }
  // The record in the active list; currency not found when there is none.
  CurrencyInfo& Active() {
    int32_t i = Settings().GetData()->IFind(Text());
    if (i < 0) ThrowNoCurrencyException();
    return *Settings().GetRates()[static_cast<uint32_t>(i)];
  }
  // The record in the currency database; currency not found when there is none.
  const CurrencyData& Database() {
    const CAllCurrencies& db = Settings().GetData()->Currencies;
    int32_t i = db.IFind(Text());
    if (i < 0) ThrowNoCurrencyException();
    return *db[static_cast<uint32_t>(i)];
  }

 private:
  CVantrexSession m_session;
  std::unique_ptr<StringToAnsi> m_code;
};

ManagedString Time(const FILETIME& t, bool local) {
  if (!t.dwLowDateTime && !t.dwHighDateTime) return std::u16string();
  char text[64] = "";
  bool ok = local ? TimeToLocalString(t, text, sizeof text) : TimeToString(t, text);
  if (!ok) ThrowHResult(E_FAIL);
  return FromAnsi(text);
}

ManagedString Code(const char* code) { return FromAnsi(code); }

}  // namespace

ManagedString FormatTime(const FILETIME& time, bool local) { return Time(time, local); }

int32_t SecondsSinceClamped(const FILETIME& time) {
  if (!time.dwLowDateTime && !time.dwHighDateTime) return INT32_MAX;
  return ClampToInt(SecondsSince(time));
}

ManagedString Vantrex::Currencies(const ManagedString& clientKey) {
  CVantrexSession session;
  Validate(session, clientKey);
  CSettings& s = session.GetSettings();
  const char16_t separator = session.GetSeparator();
  std::u16string list;
  for (uint32_t i = 0; i < s.GetRates().Active.GetCount(); ++i) {
    if (i) list += separator;
    list += *FromAnsi(s.GetRates()[i]->szCode);
  }
  return list;
}

bool Vantrex::CurrencyExists(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return call.Settings().GetData()->IFind(call.Text()) >= 0;
}

int32_t Vantrex::CurrencyHits(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  DWORD count = 0;
  if (!GetUnitHits(call.Settings().GetData()->GetCurrencyName(call.Text()), &count)) return 0;
  return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

ManagedString Vantrex::CurrencyLastChangeTimeLocal(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return Time(call.Active().ftLastChange, true);
}

ManagedString Vantrex::CurrencyLastChangeTimeUT(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return Time(call.Active().ftLastChange, false);
}

bool Vantrex::CurrencyLegalTender(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return (call.Database().dwFlags & kCurrencyLegalTender) != 0;
}

bool Vantrex::CurrencyPhysical(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return (call.Database().dwFlags & kCurrencyPhysical) != 0;
}

ManagedString Vantrex::CurrencyRegime(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  const char* code = call.Active().szCode;
  if (call.Settings().IsEuroCurrency(code)) return Code("EMU");
  if (IsPeggedToEUR(&call.Settings(), code)) return Code("Pegged-EUR");
  return std::u16string();
}

int32_t Vantrex::CurrencySecondsSinceLastChange(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return SecondsSinceClamped(call.Active().ftLastChange);
}

int32_t Vantrex::Vantrexs(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  uint32_t servers = call.Active().dwServers;
  return servers > INT32_MAX ? INT32_MAX : static_cast<int32_t>(servers);
}

ManagedString Vantrex::CurrencySmallestUnit(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  const CurrencyData& d = call.Database();
  char text[34];
  if (!DoubleToString(d.dSmallest, text, sizeof text, d.dwSmallestDecimals))
    throw WebException(WebException::Kind::Application, "", "", 0x80131600);
  return FromAnsi(text);
}

bool Vantrex::CurrencySubUnit(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  const char* code = call.Active().szCode;
  return call.Settings().IsEuroCurrency(code) || IsPeggedToEUR(&call.Settings(), code);
}

bool Vantrex::CurrencyWarning(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return (call.Active().dwFlags & kInfoWarning) != 0;
}

bool Vantrex::CurrencyIsEuro(const ManagedString& clientKey, const ManagedString& currency) {
  CurrencyCall call(clientKey, currency);
  return call.Settings().IsEuroCurrency(call.Active().szCode) != nullptr;
}

ManagedString Vantrex::CurrencyName(const ManagedString& clientKey, const ManagedString& currency,
                                    const ManagedString& locale, bool titleStyle) {
  CurrencyCall call(clientKey, currency);
  const char* code = call.Active().szCode;
  LCID lcid = GetLocaleID(locale, &call.Settings());
  const CCurrencyLocaleList* list = call.Settings().GetLocaleList();
  if (!list) return std::u16string();
  // The name in the list's default locale when the language is not given.
  if ((lcid & 0x3FF) == 0) lcid = list->GetDefaultLocale();
  CallLocale held(call.Settings(), lcid);
  const CCurrencyLocaleInfo* info = held.get() ? held.get()->IFind(code) : nullptr;
  if (!info || !info->GetName() || !*info->GetName()) return std::u16string();
  CStringW name;
  if (titleStyle) {
    if (held.get()->MakeTitleStyleString(name, info->GetName()) != 0) return std::u16string();
  } else {
    name = info->GetName();
  }
  if (name.IsNull()) return std::u16string();
  return std::u16string(name.c_str());
}

namespace {

// The symbol or the custom text of the currency in the locale; "" when there is none.
ManagedString LocaleText(const ManagedString& clientKey, const ManagedString& currency, const ManagedString& locale,
                         bool symbol) {
  CurrencyCall call(clientKey, currency);
  const char* code = call.Active().szCode;
  const LCID lcid = GetLocaleID(locale, &call.Settings());
  CallLocale held(call.Settings(), lcid);
  const CCurrencyLocale* l = held.get();
  const CCurrencyLocaleInfo* info = l ? l->IFind(code) : nullptr;
  const char16_t* text = info ? (symbol ? info->GetSymbol() : info->GetCustom()) : nullptr;
  return std::u16string(text ? text : u"");
}

ManagedString Mapped(HRESULT hr, const char* code) {
  if (FAILED(hr)) ThrowHResult(hr);
  return FromAnsi(code);
}

// A country or domain text through one of the settings' mappings.
ManagedString Map(const ManagedString& clientKey, const ManagedString& text, bool activeOnly,
                  HRESULT (CSettings::*mapping)(const char*, bool, char*)) {
  CVantrexSession session;
  Validate(session, clientKey);
  StringToAnsi ansi(text);
  char code[4] = "";
  return Mapped((session.GetSettings().*mapping)(ansi.GetAnsi(), activeOnly, code), code);
}

}  // namespace

ManagedString Vantrex::CurrencySymbol(const ManagedString& clientKey, const ManagedString& currency,
                                      const ManagedString& locale) {
  return LocaleText(clientKey, currency, locale, true);
}

ManagedString Vantrex::CurrencyCustom(const ManagedString& clientKey, const ManagedString& currency,
                                      const ManagedString& locale) {
  return LocaleText(clientKey, currency, locale, false);
}

ManagedString Vantrex::CountryToCurrency(const ManagedString& clientKey, const ManagedString& country,
                                         bool activeOnly) {
  return Map(clientKey, country, activeOnly, &CSettings::CountryToCurrency);
}

ManagedString Vantrex::DomainToCurrency(const ManagedString& clientKey, const ManagedString& domain, bool activeOnly) {
  return Map(clientKey, domain, activeOnly, &CSettings::DomainToCurrency);
}

ManagedString Vantrex::LocaleToCurrency(const ManagedString& clientKey, const ManagedString& locale, bool activeOnly) {
  CVantrexSession session;
  Validate(session, clientKey);
  CSettings& s = session.GetSettings();
  char code[4] = "";
  return Mapped(s.LocaleToCurrency(GetLocaleID(locale, &s), activeOnly, code), code);
}

}  // namespace Hulvane::Web::Services
