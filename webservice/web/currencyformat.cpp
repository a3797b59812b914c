// Amounts in a locale's currency format, and the locale look-up by name.
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "webservice/web/operations.h"

namespace {

struct CurrencyFormat {
  uint32_t digits;
  uint32_t leadingZero;
  uint32_t grouping;  // 3, 32 (3 then 2), 0 none
  std::u16string decimal, thousand, symbol;
  uint32_t negativeOrder, positiveOrder;
};

// The system's currency formatting with an explicit format: `value` is "-?digits(.digits)?".
// Result: characters written with the NUL, 0 on failure (last error 87 or 122).
int FormatCurrency(const std::u16string& value, const CurrencyFormat& f, char16_t* out, int outSize) {
  std::string text;
  for (char16_t c : value) text += c < 0x80 ? static_cast<char>(c) : '?';  // anything else is refused below
  vtx::NumberParts parts;
  if (f.digits > 9 || f.negativeOrder > 15 || f.positiveOrder > 3 ||
      !vtx::SplitNumberText(text, f.digits, f.leadingZero != 0, &parts)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const bool negative = parts.negative;
  std::u16string number = vtx::GroupDigits(parts.integer, f.grouping, f.thousand);
  if (f.digits) {
    number += f.decimal;
    for (char c : parts.fraction) number += static_cast<char16_t>(c);
  }
  const std::u16string& s = f.symbol;
  const std::u16string n = number;
  std::u16string r;
  if (!negative) {
    switch (f.positiveOrder) {
      case 0: r = s + n; break;
      case 1: r = n + s; break;
      case 2: r = s + u" " + n; break;
      default: r = n + u" " + s; break;
    }
  } else {
    switch (f.negativeOrder) {
      case 0: r = u"(" + s + n + u")"; break;
      case 1: r = u"-" + s + n; break;
      case 2: r = s + u"-" + n; break;
      case 3: r = s + n + u"-"; break;
      case 4: r = u"(" + n + s + u")"; break;
      case 5: r = u"-" + n + s; break;
      case 6: r = n + u"-" + s; break;
      case 7: r = n + s + u"-"; break;
      case 8: r = u"-" + n + u" " + s; break;
      case 9: r = u"-" + s + u" " + n; break;
      case 10: r = n + u" " + s + u"-"; break;
      case 11: r = s + u" " + n + u"-"; break;
      case 12: r = s + u" -" + n; break;
      case 13: r = n + u"- " + s; break;
      case 14: r = u"(" + s + u" " + n + u")"; break;
      default: r = u"(" + n + u" " + s + u")"; break;
    }
  }
  int needed = static_cast<int>(r.size()) + 1;
  if (outSize == 0) return needed;
  if (!out || needed > outSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, r.c_str(), sizeof(char16_t) * static_cast<size_t>(needed));
  return needed;
}

std::u16string Text(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

}  // namespace

CCurrencyLocale* FindLocale(const CCurrencyLocaleList& list, const char* name) { return list.Find(name); }

int PrintCurrencyValue(const CCurrencyLocale& locale, const char* number, const char* code, const char16_t* decimal,
                       const char16_t* thousand, char16_t* output, int outputSize, uint32_t flags) {
  if (!number || !output || outputSize <= 0) return 0;
  CurrencyFormat f;
  f.decimal = decimal ? Text(decimal) : Text(locale.GetDecimalSeparator());
  f.thousand = thousand ? Text(thousand) : Text(locale.GetThousandSeparator());
  f.digits = (flags & kPrintAllDigits) ? 1 : locale.GetDigitsAfterDecimal();
  f.leadingZero = 1;
  f.grouping = locale.GetGrouping();
  if (flags & kPrintSymbol) {
    f.positiveOrder = locale.GetPositiveSymFmt();
    f.negativeOrder = locale.GetNegativeSymFmt();
    const CCurrencyLocaleInfo* info = code ? locale.IFind(code) : nullptr;
    if (info && info->GetSymbol() && *info->GetSymbol())
      f.symbol = info->GetSymbol();
    else if (code)
      for (const char* p = code; *p; ++p) f.symbol += static_cast<char16_t>(static_cast<unsigned char>(*p));
  } else {
    f.positiveOrder = locale.GetPositiveIsoFmt();
    f.negativeOrder = locale.GetNegativeIsoFmt();
    if (code)
      for (const char* p = code; *p; ++p) f.symbol += static_cast<char16_t>(static_cast<unsigned char>(*p));
  }
  if (!code || f.symbol.empty()) {
    f.symbol.clear();
    if (f.positiveOrder <= 3) f.positiveOrder = 0;
    static const uint32_t withoutBlank[16] = {0, 1, 2, 3, 4, 5, 6, 7, 5, 1, 7, 3, 2, 6, 0, 4};
    if (f.negativeOrder < 16) f.negativeOrder = withoutBlank[f.negativeOrder];
  }
  std::string text = number;
  const char* dot = std::strchr(number, '.');
  // All digits are put back after formatting one; format the integer part alone so that a carry
  // of the one digit cannot change it.
  if ((flags & kPrintAllDigits) && dot) text = std::string(number, dot) + ".0";
  std::u16string wide;
  for (char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  int written = FormatCurrency(wide, f, output, outputSize);
  if (written == 0) return 0;
  if ((flags & kPrintAllDigits) && dot && !f.decimal.empty()) {
    std::u16string out(output);
    size_t at = out.find(f.decimal);
    size_t tail = std::strlen(dot + 1);
    if (at != std::u16string::npos && at + f.decimal.size() + tail + 1 < static_cast<size_t>(outputSize)) {
      out.resize(at + f.decimal.size());
      for (const char* p = dot + 1; *p; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
      std::memcpy(output, out.c_str(), sizeof(char16_t) * (out.size() + 1));
      written = static_cast<int>(out.size()) + 1;
    }
  }
  if (flags & kPrintAscii) {
    std::u16string copy(output);
    std::u16string out;
    size_t left = static_cast<size_t>(outputSize);
    for (size_t k = 0; k < copy.size(); ++k) {
      char32_t c = copy[k];
      if (c >= 0xD800 && c < 0xDC00 && k + 1 < copy.size() && copy[k + 1] >= 0xDC00 && copy[k + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (copy[k + 1] - 0xDC00);
        ++k;
      }
      if (c <= 0x7F) {
        if (left < 2) {
          SetLastError(ERROR_INSUFFICIENT_BUFFER);
          return 0;
        }
        out += static_cast<char16_t>(c);
        --left;
      } else {
        std::string ref = "&#" + std::to_string(static_cast<uint32_t>(c)) + ";";
        if (ref.size() >= left) {
          SetLastError(ERROR_INSUFFICIENT_BUFFER);
          return 0;
        }
        for (char ch : ref) out += static_cast<char16_t>(ch);
        left -= ref.size();
      }
    }
    std::memcpy(output, out.c_str(), sizeof(char16_t) * (out.size() + 1));
    written = static_cast<int>(out.size()) + 1;
  }
  return written;
}
