#include "webservice/web/service.h"

#include <new>

#include "webservice/web/vantrex.h"

const char g_szServiceNamespace[] = "urn:hulvane:vantrex:webservice:4.0/";

namespace {
using vtx::soap::Type;
using vtx::soap::Value;
using Hulvane::Web::Services::Vantrex;

// UTF-8 from the wire to UTF-16 and back; a sequence that is not UTF-8 becomes U+FFFD.
ManagedString ToManaged(const Value& v) {
  if (!v.text) return std::nullopt;
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(v.text->data());
  const auto* end = p + v.text->size();
  while (p < end) {
    uint32_t c = *p;
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    bool ok = extra >= 0 && end - p > extra;
    if (ok && extra) {
      c &= 0x3Fu >> extra;
      for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) ok = false;
        c = (c << 6) | (p[i] & 0x3F);
      }
    }
    if (!ok) {
      out += u'\uFFFD';
      ++p;
      continue;
    }
    p += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

Value FromManaged(const ManagedString& s) {
  if (!s) return Value::Str(std::nullopt);
  std::string out;
  for (size_t i = 0; i < s->size(); ++i) {
    uint32_t c = (*s)[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s->size() && (*s)[i + 1] >= 0xDC00 && (*s)[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + ((*s)[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return Value::Str(out);
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
