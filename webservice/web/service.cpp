#include "webservice/web/service.h"

#include <cstring>
#include <new>

#include "platform/codepage.h"
#include "webservice/web/operations.h"

const char g_szServiceNamespace[] = "urn:hulvane:vantrex:webservice:4.0/";

namespace {
using vtx::soap::Type;
using vtx::soap::Value;
using Hulvane::Web::Services::Vantrex;

// UTF-8 from the wire to UTF-16 and back; a sequence that is not UTF-8 becomes U+FFFD.
ManagedString ToManaged(const Value& v) {
  if (!v.text) return std::nullopt;
  return vtx::Utf8ToWide(*v.text);
}

Value FromManaged(const ManagedString& s) {
  if (!s) return Value::Str(std::nullopt);
  return Value::Str(vtx::WideToUtf8(*s));
}

template <class F>
std::function<Value(const std::vector<Value>&)> Guard(F f) {
  return [f](const std::vector<Value>& a) -> Value {
    try {
      Vantrex service;
      return f(service, a);
    } catch (const WebException& e) {
      throw vtx::soap::ServiceFault(e.IsClientFault(), e.TypeName(), e.what(), e.GetParamName(), e.GetHResult());
    }
  };
}

ManagedString S(const std::vector<Value>& a, size_t i) { return ToManaged(a[i]); }
}  // namespace

vtx::soap::Service MakeVantrexService() {
  vtx::soap::Service s{"Vantrex", g_szServiceNamespace, Vantrex::kDescription, {}};
  const Type Str = Type::String, Dbl = Type::Double, Bool = Type::Boolean;
  s.operations.push_back(
      {"ConvertToNum",
       "Converts a currency amount. The result is a number which can optionally be rounded. Leave the date and type "
       "parameters empty for forward compatibility.",
       {{"clientKey", Str}, {"fromCurrency", Str}, {"toCurrency", Str}, {"amount", Dbl}, {"rounding", Bool},
        {"date", Str}, {"type", Str}},
       Dbl, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Num(v.ConvertToNum(S(a, 0), S(a, 1), S(a, 2), a[3].number, a[4].flag, S(a, 5), S(a, 6)));
       })});
  s.operations.push_back(
      {"ConvertToStr",
       "Converts a currency amount. The result is a string which can optionally be rounded and formatted. Either "
       "fromCurrency or toCurrency (but not both) may contain a list of semicolon-separated active currencies. Leave "
       "the date and type parameters empty for forward compatibility.",
       {{"clientKey", Str}, {"fromCurrency", Str}, {"toCurrency", Str}, {"amount", Dbl}, {"rounding", Bool},
        {"format", Str}, {"date", Str}, {"type", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(
             v.ConvertToStr(S(a, 0), S(a, 1), S(a, 2), a[3].number, a[4].flag, S(a, 5), S(a, 6), S(a, 7)));
       })});
  s.operations.push_back(
      {"RateNum",
       "Returns the exchange (conversion) rate. The result is a number which can optionally be rounded. Leave the "
       "date and type parameters empty for forward compatibility.",
       {{"clientKey", Str}, {"baseCurrency", Str}, {"toCurrency", Str}, {"rounding", Bool}, {"date", Str},
        {"type", Str}},
       Dbl, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Num(v.RateNum(S(a, 0), S(a, 1), S(a, 2), a[3].flag, S(a, 4), S(a, 5)));
       })});
  s.operations.push_back(
      {"RateStr",
       "Returns the exchange (conversion) rate. The result is a string which can optionally be rounded and "
       "formatted. Either baseCurrency or toCurrency (but not both) may contain a list of semicolon-separated active "
       "currencies. Leave the date and type parameters empty for forward compatibility.",
       {{"clientKey", Str}, {"baseCurrency", Str}, {"toCurrency", Str}, {"rounding", Bool}, {"format", Str},
        {"date", Str}, {"type", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.RateStr(S(a, 0), S(a, 1), S(a, 2), a[3].flag, S(a, 4), S(a, 5), S(a, 6)));
       })});
  s.operations.push_back(
      {"RateTimeLocal",
       "Returns the effective date and time (local time) of the exchange or conversion rate of toCurrency, relative "
       "to baseCurrency. Leave the date and type parameters empty for forward compatibility.",
       {{"clientKey", Str}, {"baseCurrency", Str}, {"toCurrency", Str}, {"priority", Str}, {"date", Str},
        {"type", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.RateTimeLocal(S(a, 0), S(a, 1), S(a, 2), S(a, 3), S(a, 4), S(a, 5)));
       })});
  s.operations.push_back(
      {"RateTimeUT",
       "Returns the effective date and time (Universal Time) of the exchange or conversion rate of toCurrency, "
       "relative to baseCurrency. Leave the date and type parameters empty for forward compatibility.",
       {{"clientKey", Str}, {"baseCurrency", Str}, {"toCurrency", Str}, {"priority", Str}, {"date", Str},
        {"type", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.RateTimeUT(S(a, 0), S(a, 1), S(a, 2), S(a, 3), S(a, 4), S(a, 5)));
       })});
  // The currency, information and administrative operations.
  const Type Int = Type::Int, None = Type::None;
  s.operations.push_back(
      {"Currencies",
       "Returns a semicolon-separated list of active currencies.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.Currencies(S(a, 0)));
       })});
  s.operations.push_back(
      {"CurrencyExists",
       "Returns a Boolean value indicating whether the currency is included in the list of active "
       "currencies.",
       {{"clientKey", Str}, {"currency", Str}},
       Bool, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Bool(v.CurrencyExists(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyHits",
       "Returns the number of times this currency has been referenced by a COM object or by the Web service.",
       {{"clientKey", Str}, {"currency", Str}},
       Int, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Int(v.CurrencyHits(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyLastChangeTimeLocal",
       "Returns the date and time of the last modification to the Rate property (local time). If the rate "
       "has never been set or changed an empty string is returned.",
       {{"clientKey", Str}, {"currency", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrencyLastChangeTimeLocal(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyLastChangeTimeUT",
       "Returns the date and time of the last modification to the Rate property (Universal Time). If the "
       "rate has never been set or changed an empty string is returned.",
       {{"clientKey", Str}, {"currency", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrencyLastChangeTimeUT(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyLegalTender",
       "Returns a Boolean value indicating whether the currency is legal tender.",
       {{"clientKey", Str}, {"currency", Str}},
       Bool, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Bool(v.CurrencyLegalTender(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyPhysical",
       "Returns a Boolean value indicating whether the currency is a physical currency.",
       {{"clientKey", Str}, {"currency", Str}},
       Bool, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Bool(v.CurrencyPhysical(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyRegime",
       "Returns the identifier of a regime or monetary union or an empty string.",
       {{"clientKey", Str}, {"currency", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrencyRegime(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencySecondsSinceLastChange",
       "Returns the seconds elapsed since the last modification to the currency's exchange rate.",
       {{"clientKey", Str}, {"currency", Str}},
       Int, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Int(v.CurrencySecondsSinceLastChange(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"Vantrexs",
       "Returns the number of servers providing exchange rate data for the currency.",
       {{"clientKey", Str}, {"currency", Str}},
       Int, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Int(v.Vantrexs(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencySmallestUnit",
       "Returns the smallest unit for the currency. Trailing zero characters are used to specify the "
       "preferred format for rounding.",
       {{"clientKey", Str}, {"currency", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrencySmallestUnit(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencySubUnit",
       "Returns a Boolean value indicating whether the currency is a subunit of BaseUnit at a constant rate.",
       {{"clientKey", Str}, {"currency", Str}},
       Bool, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Bool(v.CurrencySubUnit(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyWarning",
       "Returns a Boolean value indicating whether the currency has been referenced by a recent warning "
       "condition.",
       {{"clientKey", Str}, {"currency", Str}},
       Bool, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Bool(v.CurrencyWarning(S(a, 0), S(a, 1)));
       })});
  s.operations.push_back(
      {"CurrencyName",
       "Returns the extended name of the currency based on the specified locale and title style.",
       {{"clientKey", Str}, {"currency", Str}, {"locale", Str}, {"titleStyle", Bool}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrencyName(S(a, 0), S(a, 1), S(a, 2), a[3].flag));
       })});
  s.operations.push_back(
      {"CurrencySymbol",
       "Returns the currency symbol based on the specified locale.",
       {{"clientKey", Str}, {"currency", Str}, {"locale", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrencySymbol(S(a, 0), S(a, 1), S(a, 2)));
       })});
  s.operations.push_back(
      {"CurrencyCustom",
       "Returns the currency custom string based on the specified locale.",
       {{"clientKey", Str}, {"currency", Str}, {"locale", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrencyCustom(S(a, 0), S(a, 1), S(a, 2)));
       })});
  s.operations.push_back(
      {"CountryToCurrency",
       "Returns a currency code (ISO 4217 Alpha-3) associated to the specified country (ISO 3166 Alpha-2).",
       {{"clientKey", Str}, {"country", Str}, {"activeOnly", Bool}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CountryToCurrency(S(a, 0), S(a, 1), a[2].flag));
       })});
  s.operations.push_back(
      {"DomainToCurrency",
       "Returns a currency code (ISO 4217 Alpha-3) associated to the specified domain (string ending with "
       "IANA TLD).",
       {{"clientKey", Str}, {"domain", Str}, {"activeOnly", Bool}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.DomainToCurrency(S(a, 0), S(a, 1), a[2].flag));
       })});
  s.operations.push_back(
      {"LocaleToCurrency",
       "Returns a currency code (ISO 4217 Alpha-3) associated to the specified locale (Windows LCID or ISO "
       "639-2 Alpha-2).",
       {{"clientKey", Str}, {"locale", Str}, {"activeOnly", Bool}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.LocaleToCurrency(S(a, 0), S(a, 1), a[2].flag));
       })});
  s.operations.push_back(
      {"CurrentTimeLocal",
       "Returns the current date and time (local time).",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrentTimeLocal(S(a, 0)));
       })});
  s.operations.push_back(
      {"CurrentTimeUT",
       "Returns the current date and time (Universal Time).",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.CurrentTimeUT(S(a, 0)));
       })});
  s.operations.push_back(
      {"InformationCopyright",
       "Returns the copyright information provided by the data source(s), if any.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.InformationCopyright(S(a, 0)));
       })});
  s.operations.push_back(
      {"InformationMessage",
       "Returns the message(s) from the data source(s), if any.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.InformationMessage(S(a, 0)));
       })});
  s.operations.push_back(
      {"InformationSource",
       "Returns the name(s) of the data source(s).",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.InformationSource(S(a, 0)));
       })});
  s.operations.push_back(
      {"InformationCreationTimeLocal",
       "Returns the creation date and time of the current exchange rate data (local time). If this "
       "information is not available an empty string is returned.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.InformationCreationTimeLocal(S(a, 0)));
       })});
  s.operations.push_back(
      {"InformationCreationTimeUT",
       "Returns the creation date and time of the current exchange rate data (Universal Time). If this "
       "information is not available an empty string is returned.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.InformationCreationTimeUT(S(a, 0)));
       })});
  s.operations.push_back(
      {"InformationExpirationTimeLocal",
       "Returns the expiration date and time of the current exchange rate data (local time). If this "
       "information is not available an empty string is returned.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.InformationExpirationTimeLocal(S(a, 0)));
       })});
  s.operations.push_back(
      {"InformationExpirationTimeUT",
       "Returns the expiration date and time of the current exchange rate data (Universal Time). If this "
       "information is not available an empty string is returned.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.InformationExpirationTimeUT(S(a, 0)));
       })});
  s.operations.push_back(
      {"LastChangeTimeLocal",
       "Returns the date and time of the last modification to the current exchange rate data (local time). "
       "If the rates have never been set or changed an empty string is returned.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.LastChangeTimeLocal(S(a, 0)));
       })});
  s.operations.push_back(
      {"LastChangeTimeUT",
       "Returns the date and time of the last modification to the current exchange rate data (Universal "
       "Time). If the rates have never been set or changed an empty string is returned.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.LastChangeTimeUT(S(a, 0)));
       })});
  s.operations.push_back(
      {"SecondsSinceLastChange",
       "Returns the seconds elapsed since the last modification to one or more exchange rates.",
       {{"clientKey", Str}},
       Int, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return Value::Int(v.SecondsSinceLastChange(S(a, 0)));
       })});
  s.operations.push_back(
      {"Version",
       "Returns the software version.",
       {{"clientKey", Str}},
       Str, Guard([](Vantrex& v, const std::vector<Value>& a) {
         return FromManaged(v.Version(S(a, 0)));
       })});
  s.operations.push_back(
      {"AdminLoad",
       "Loads a settings file. Access to this administrative operation may be restricted.",
       {{"clientKey", Str}, {"file", Str}},
       None, Guard([](Vantrex& v, const std::vector<Value>& a) {
         v.AdminLoad(S(a, 0), S(a, 1));
         return Value::Nothing();
       })});
  s.operations.push_back(
      {"AdminSave",
       "Saves a settings file. Access to this administrative operation may be restricted.",
       {{"clientKey", Str}, {"file", Str}},
       None, Guard([](Vantrex& v, const std::vector<Value>& a) {
         v.AdminSave(S(a, 0), S(a, 1));
         return Value::Nothing();
       })});
  s.operations.push_back(
      {"AdminMessage",
       "Sends a message as specified in the notification options. Access to this administrative operation "
       "may be restricted.",
       {{"clientKey", Str}, {"text", Str}, {"type", Int}},
       None, Guard([](Vantrex& v, const std::vector<Value>& a) {
         v.AdminMessage(S(a, 0), S(a, 1), a[2].integer);
         return Value::Nothing();
       })});
  s.operations.push_back(
      {"AdminUpdateNow",
       "Establishes a connection to the data source(s) and updates the currency data. Access to this "
       "administrative operation may be restricted.",
       {{"clientKey", Str}},
       None, Guard([](Vantrex& v, const std::vector<Value>& a) {
         v.AdminUpdateNow(S(a, 0));
         return Value::Nothing();
       })});
  return s;
}

bool VantrexCallMayWait(const vtx::soap::Operation& op) {
  // The administrative calls wait for the server; any call may wait for a validation program or
  // for a reading of the store that has changed.
  if (std::strncmp(op.name, "Admin", 5) == 0) return true;
  std::shared_ptr<const CSettingsSnapshot> current = CSettingsSnapshot::Published();
  if (!current) return true;
  const auto* data = current->GetSettings().GetData();
  return !data || !data->ClientValidation.IsEmpty();
}
