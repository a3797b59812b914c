// The rate and conversion operations.
#include <cmath>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "engine/foundation/calculator.h"
#include "engine/foundation/timetext.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/numtext.h"
#include "platform/systime.h"
#include "webservice/web/operations.h"

namespace Hulvane::Web::Services {

const char* const Vantrex::kDescription = "Vantrex - An exchange rate information and currency conversion Web service.";

namespace {

constexpr uint32_t kNumberTextSize = 34;
constexpr int kFormattedSize = 534;

void CheckReserved(const ManagedString& date, const ManagedString& type) {
  if (date && !date->empty()) ThrowArgument("Value does not fall within the expected range.", "date");
  if (type && !type->empty()) ThrowArgument("Value does not fall within the expected range.", "type");
}

void ThrowConversion(HRESULT hr) {
  if (hr == E_NOTFOUND) ThrowNoCurrencyException();
  if (hr == E_RATE_NOT_SET) ThrowNotSetException();
  ThrowHResult(hr);
}

// Counts the uses of currencies of one call. Only codes of the active list are counted, under the
// code the list holds; the counts reach the server in the background (SendHitCounts).
class HitCounter {
 public:
  explicit HitCounter(const CSettings& settings) : m_settings(settings) {}
  void Count(const char* text) const {
    if (!text) return;
    int32_t i = m_settings.GetData()->IFind(text);
    if (i >= 0) CountHit(m_settings.GetRates()[static_cast<uint32_t>(i)]->szCode);
  }

 private:
  const CSettings& m_settings;
};

std::vector<std::string> SplitList(const char* text, char separator) {
  std::vector<std::string> items;
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p == separator || !*p) {
      items.push_back(item);
      if (items.size() > kMaxListItems) ThrowArgument("A currency list holds more than 1000 items.");
      item.clear();
      if (!*p) break;
    } else {
      item += *p;
    }
  }
  return items;
}

void CheckAmount(double v) {
  if (!std::isfinite(v)) ThrowArgument("The amount is not a finite number.", "amount");
}

struct Format {
  bool on = false;
  bool indication = false;  // '<' or '>' given
  uint32_t flags = 0;
  LCID lcid = LOCALE_SYSTEM_DEFAULT;
  std::string name;
  std::u16string separators[2];
  int separatorCount = 0;
};

Format ReadFormat(const char16_t* text) {
  Format f;
  if (text[0] == u'+' && text[1] == 0) return f;
  f.on = true;
  auto asciiLetter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  for (const char16_t* p = text; *p;) {
    char16_t c = *p;
    if (c == u'<') {
      f.flags &= ~CCurrencyLocale::kPrintSymbol, f.indication = true, ++p;
    } else if (c == u'>') {
      f.flags |= CCurrencyLocale::kPrintSymbol, f.indication = true, ++p;
    } else if (c == u'&') {
      f.flags |= CCurrencyLocale::kPrintAscii, ++p;
    } else if (c >= u'0' && c <= u'9') {
      const char16_t* end = p;
      f.lcid = vtx::TextToUnsigned<char16_t>(p, &end, 0);
      p = end > p ? end : p + 1;
    } else if (asciiLetter(c) && asciiLetter(p[1])) {
      f.name.clear();
      while (asciiLetter(*p)) f.name += static_cast<char>(*p++);
    } else {
      // One character, a surrogate pair included.
      size_t n = (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) ? 2 : 1;
      f.name.clear();
      if (f.separatorCount < 2) f.separators[f.separatorCount++] = std::u16string(p, n);
      p += n;
    }
  }
  return f;
}

}  // namespace

double Vantrex::ConvertToNum(const ManagedString& clientKey, const ManagedString& fromCurrency,
                             const ManagedString& toCurrency, double amount, bool rounding, const ManagedString& date,
                             const ManagedString& type) {
  CVantrexSession session;
  Validate(session, clientKey);
  if (!fromCurrency) ThrowNull("FromCurrency");
  if (!toCurrency) ThrowNull("ToCurrency");
  CheckReserved(date, type);
  CheckAmount(amount);
  StringToAnsi from(fromCurrency), to(toCurrency);
  CSettings& settings = session.GetSettings();
  HitCounter hits(settings);
  hits.Count(from.GetAnsi());
  hits.Count(to.GetAnsi());
  double value = 0;
  HRESULT hr = settings.ConvertUnit(amount, from.GetAnsi(), to.GetAnsi(), nullptr, 0,
                                    rounding ? CSettings::kConvertRound : 0, nullptr, &value);
  if (hr) ThrowConversion(hr);
  if (!std::isfinite(value)) ThrowArgument("The result is not a finite number.");
  return value;
}

ManagedString Vantrex::ConvertToStr(const ManagedString& clientKey, const ManagedString& fromCurrency,
                                    const ManagedString& toCurrency, double amount, bool rounding,
                                    const ManagedString& format, const ManagedString& date,
                                    const ManagedString& type) {
  CVantrexSession session;
  Validate(session, clientKey);
  if (!fromCurrency) ThrowNull("FromCurrency");
  if (!toCurrency) ThrowNull("ToCurrency");
  if (!format) ThrowNull("Format");
  CheckReserved(date, type);
  CheckAmount(amount);
  StringToAnsi from(fromCurrency), to(toCurrency);
  StringToUni fmtText(format);
  CSettings& settings = session.GetSettings();

  Format f = ReadFormat(fmtText.GetUni());
  std::optional<CallLocale> held;
  CCurrencyLocale* locale = nullptr;
  if (f.on) {
    const CCurrencyLocaleList* list = settings.GetLocaleList();
    if (list && list->GetCount()) {
      if (!f.name.empty()) {
        if (const CCurrencyLocale* found = list->Find(f.name.c_str())) held.emplace(settings, found->GetLCID());
      } else {
        held.emplace(settings, (f.lcid & 0x3FF) == 0 ? list->GetDefaultLocale() : f.lcid);
      }
      if (held) locale = held->get();
    }
    if (!f.indication) f.flags |= CCurrencyLocale::kPrintSymbol;
    if (!rounding) f.flags |= CCurrencyLocale::kPrintAllDigits;
  }

  const char separator = static_cast<char>(session.GetSeparator());
  std::vector<std::string> froms = SplitList(from.GetAnsi(), separator);
  std::vector<std::string> tos = SplitList(to.GetAnsi(), separator);
  if (froms.size() > 1 && tos.size() > 1) ThrowArgument("Only one side may hold a list of currencies.");
  const size_t count = froms.size() > tos.size() ? froms.size() : tos.size();
  const bool fromIsSingle = froms.size() == 1;
  HitCounter hits(settings);
  hits.Count(fromIsSingle ? froms[0].c_str() : tos[0].c_str());

  std::u16string result;
  for (size_t i = 0; i < count; ++i) {
    const std::string& fi = fromIsSingle ? froms[0] : froms[i];
    const std::string& ti = fromIsSingle ? tos[i] : tos[0];
    hits.Count(fromIsSingle ? ti.c_str() : fi.c_str());
    if (i) result += static_cast<char16_t>(static_cast<unsigned char>(separator));
    char number[kNumberTextSize] = "";
    HRESULT hr = settings.ConvertUnit(amount, fi.c_str(), ti.c_str(), number, kNumberTextSize,
                                      rounding ? CSettings::kConvertRound : 0, nullptr, nullptr);
    if (hr) ThrowConversion(hr);
    if (std::strcmp(number, CCalculator::kErrorText) == 0)
      ThrowArgument("The result is not a finite number.");
    std::u16string plain = *FromAnsi(number);
    if (locale) {
      char16_t out[kFormattedSize];
      const char* code = f.indication ? settings.GetData()->GetCurrencyName(ti.c_str()) : nullptr;
      int n = locale->PrintCurrencyValue(number, code, f.separatorCount > 0 ? f.separators[0].c_str() : nullptr,
                                 f.separatorCount > 1 ? f.separators[1].c_str() : nullptr, out, kFormattedSize,
                                 f.flags);
      result += n ? std::u16string(out) : plain;
    } else {
      result += plain;
    }
  }
  return result;
}

double Vantrex::RateNum(const ManagedString& clientKey, const ManagedString& baseCurrency,
                        const ManagedString& toCurrency, bool rounding, const ManagedString& date,
                        const ManagedString& type) {
  return ConvertToNum(clientKey, baseCurrency, toCurrency, 1.0, rounding, date, type);
}

ManagedString Vantrex::RateStr(const ManagedString& clientKey, const ManagedString& baseCurrency,
                               const ManagedString& toCurrency, bool rounding, const ManagedString& format,
                               const ManagedString& date, const ManagedString& type) {
  return ConvertToStr(clientKey, baseCurrency, toCurrency, 1.0, rounding, format, date, type);
}

ManagedString Vantrex::RateTime(const ManagedString& clientKey, const ManagedString& baseCurrency,
                                const ManagedString& toCurrency, const ManagedString& priority,
                                const ManagedString& date, const ManagedString& type, bool local) {
  CVantrexSession session;
  Validate(session, clientKey);
  if (!baseCurrency || !toCurrency) ThrowNull("Currency");
  bool newest = false;
  if (priority && !priority->empty()) {
    StringToAnsi p(priority);
    if (_stricmp(p.GetAnsi(), "newest") == 0)
      newest = true;
    else if (_stricmp(p.GetAnsi(), "oldest") != 0)
      ThrowArgument("Value does not fall within the expected range.", "priority");
  }
  CheckReserved(date, type);
  StringToAnsi base(baseCurrency), to(toCurrency);
  CSettings& settings = session.GetSettings();
  int32_t a = settings.GetData()->IFind(base.GetAnsi());
  int32_t b = settings.GetData()->IFind(to.GetAnsi());
  if (a < 0 || b < 0) ThrowNoCurrencyException();
  uint64_t ta = FileTimeToU64(settings.GetRates()[static_cast<uint32_t>(a)]->ftLastChange);
  uint64_t tb = FileTimeToU64(settings.GetRates()[static_cast<uint32_t>(b)]->ftLastChange);
  uint64_t t;
  if (!ta && !tb) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    t = FileTimeToU64(now);
  } else if (!ta || !tb) {
    t = ta ? ta : tb;
  } else {
    t = newest ? (ta > tb ? ta : tb) : (ta < tb ? ta : tb);
  }
  char text[64] = "";
  bool ok = local ? TimeToLocalString(U64ToFileTime(t), text, sizeof text) : TimeToString(U64ToFileTime(t), text);
  if (!ok) ThrowHResult(E_FAIL);
  return FromAnsi(text);
}

ManagedString Vantrex::RateTimeLocal(const ManagedString& clientKey, const ManagedString& baseCurrency,
                                     const ManagedString& toCurrency, const ManagedString& priority,
                                     const ManagedString& date, const ManagedString& type) {
  return RateTime(clientKey, baseCurrency, toCurrency, priority, date, type, true);
}

ManagedString Vantrex::RateTimeUT(const ManagedString& clientKey, const ManagedString& baseCurrency,
                                  const ManagedString& toCurrency, const ManagedString& priority,
                                  const ManagedString& date, const ManagedString& type) {
  return RateTime(clientKey, baseCurrency, toCurrency, priority, date, type, false);
}

}  // namespace Hulvane::Web::Services
