// GetCurrencyFormatW: the sixteen negative and four positive currency orders of the other platform.
#include <unicode/uchar.h>

#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/locale.h"

namespace {

std::u16string Text(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

// A separator the format can hold: `min` to 3 characters, no digit, no control character.
bool UsableSeparator(const std::u16string& s, size_t min) {
  if (s.size() < min || s.size() > 3) return false;
  for (char16_t c : s)
    if (u_isdigit(c) || c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
  return true;
}

// The locale's own currency format.
void LocaleFormat(LCID lcid, CURRENCYFMTW* f, std::u16string* decimal, std::u16string* thousand,
                  std::u16string* symbol) {
  auto number = [lcid](LCTYPE item, UINT fallback) {
    DWORD n = fallback;
    return GetLocaleInfoW(lcid, item | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&n), 2) ? n : fallback;
  };
  auto text = [lcid](LCTYPE item, const char16_t* fallback) {
    char16_t buffer[32];
    return GetLocaleInfoW(lcid, item, buffer, 32) ? std::u16string(buffer) : std::u16string(fallback);
  };
  f->NumDigits = number(LOCALE_ICURRDIGITS, 2);
  f->LeadingZero = 1;
  std::u16string g = text(LOCALE_SMONGROUPING, u"3;0");
  f->Grouping = g == u"3;2;0" ? 32 : (g.size() >= 1 && g[0] >= u'0' && g[0] <= u'9' && (g.size() == 1 || g[1] == u';')) ? g[0] - u'0' : 3;
  f->PositiveOrder = number(LOCALE_ICURRENCY, 0);
  f->NegativeOrder = number(LOCALE_INEGCURR, 1);
  *decimal = text(LOCALE_SMONDECIMALSEP, u".");
  *thousand = text(LOCALE_SMONTHOUSANDSEP, u",");
  *symbol = text(LOCALE_SCURRENCY, u"$");
}

}  // namespace

namespace vtx {

bool FormatCurrencyText(const std::u16string& value, const CURRENCYFMTW& f, std::u16string* out, size_t* fraction) {
  const std::u16string decimal = Text(f.lpDecimalSep), thousand = Text(f.lpThousandSep), s = Text(f.lpCurrencySymbol);
  std::string text;
  for (char16_t c : value) text += c < 0x80 ? static_cast<char>(c) : '?';  // refused below
  vtx::NumberParts parts;
  if (!f.lpDecimalSep || !f.lpThousandSep || f.NumDigits > 9 || f.NegativeOrder > 15 || f.PositiveOrder > 3 ||
      (f.Grouping > 9 && f.Grouping != 32) || !UsableSeparator(decimal, 1) || !UsableSeparator(thousand, 0) ||
      !vtx::SplitNumberText(text, f.NumDigits, f.LeadingZero != 0, &parts)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::u16string n = vtx::GroupDigits(parts.integer, f.Grouping, thousand);
  size_t at = std::u16string::npos;  // within n
  if (f.NumDigits) {
    n += decimal;
    at = n.size();
    for (char c : parts.fraction) n += static_cast<char16_t>(c);
  }
  // Each order as text before the number and text after it.
  std::u16string before, after;
  if (!parts.negative) {
    switch (f.PositiveOrder) {
      case 0: before = s; break;
      case 1: after = s; break;
      case 2: before = s + u" "; break;
      default: after = u" " + s; break;
    }
  } else {
    switch (f.NegativeOrder) {
      case 0: before = u"(" + s, after = u")"; break;
      case 1: before = u"-" + s; break;
      case 2: before = s + u"-"; break;
      case 3: before = s, after = u"-"; break;
      case 4: before = u"(", after = s + u")"; break;
      case 5: before = u"-", after = s; break;
      case 6: after = u"-" + s; break;
      case 7: after = s + u"-"; break;
      case 8: before = u"-", after = u" " + s; break;
      case 9: before = u"-" + s + u" "; break;
      case 10: after = u" " + s + u"-"; break;
      case 11: before = s + u" ", after = u"-"; break;
      case 12: before = s + u" -"; break;
      case 13: after = u"- " + s; break;
      case 14: before = u"(" + s + u" ", after = u")"; break;
      default: before = u"(", after = u" " + s + u")"; break;
    }
  }
  *out = before + n + after;
  if (fraction) *fraction = at == std::u16string::npos ? at : before.size() + at;
  return true;
}

}  // namespace vtx

int GetCurrencyFormatW(LCID locale, DWORD flags, LPCWSTR value, const CURRENCYFMTW* format, LPWSTR currency,
                       int size) {
  if (!value || size < 0 || (size > 0 && !currency) || (format && flags)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  CURRENCYFMTW f{};
  std::u16string decimal, thousand, symbol;
  if (format) {
    f = *format;
  } else {
    LocaleFormat(vtx::ResolveLcid(locale), &f, &decimal, &thousand, &symbol);
    f.lpDecimalSep = decimal.data();
    f.lpThousandSep = thousand.data();
    f.lpCurrencySymbol = symbol.data();
  }
  std::u16string out;
  if (!vtx::FormatCurrencyText(value, f, &out, nullptr)) return 0;
  int need = static_cast<int>(out.size()) + 1;
  if (size == 0) return need;
  if (need > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(currency, out.c_str(), sizeof(char16_t) * out.size() + sizeof(char16_t));
  return need;
}
