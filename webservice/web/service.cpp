#include "webservice/web/service.h"

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
  return s;
}
