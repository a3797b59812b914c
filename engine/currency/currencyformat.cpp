// Amounts in a currency locale's format: the locale's orders, symbol and separators, all digits
// kept on request, and ASCII output with character references.
#include <cstring>
#include <string>

#include "engine/currency/currencylocale.h"
#include "platform/errors.h"

namespace {

std::u16string Text(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }
std::u16string Widen(const char* s) {
  std::u16string w;
  if (s)
    for (; *s; ++s) w += static_cast<char16_t>(static_cast<unsigned char>(*s));
  return w;
}

bool Put(const std::u16string& text, char16_t* output, int outputSize) {
  if (text.size() + 1 > static_cast<size_t>(outputSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(output, text.c_str(), sizeof(char16_t) * (text.size() + 1));
  return true;
}

}  // namespace

int GetCurrencyFormatU(LCID lcid, DWORD flags, const char16_t* value, const CURRENCYFMTW* format, char16_t* output,
                       int outputSize) {
  return GetCurrencyFormatW(lcid, flags, value, format, output, outputSize);
}

int CCurrencyLocale::PrintCurrencyValue(const char* number, const char* code, const char16_t* decimal,
                                        const char16_t* thousand, char16_t* output, int outputSize,
                                        uint32_t flags) const {
  if (!number || !output || outputSize <= 0) return 0;
  std::u16string dec = decimal ? Text(decimal) : Text(GetDecimalSeparator());
  std::u16string sep = thousand ? Text(thousand) : Text(GetThousandSeparator());
  std::u16string symbol;
  CURRENCYFMTW f{};
  f.LeadingZero = 1;
  f.Grouping = m_grouping;
  if (flags & kPrintSymbol) {
    f.PositiveOrder = m_positiveSymbolFormat;
    f.NegativeOrder = m_negativeSymbolFormat;
    const CCurrencyLocaleInfo* info = code ? IFind(code) : nullptr;
    symbol = info && info->GetSymbol() && *info->GetSymbol() ? Text(info->GetSymbol()) : Widen(code);
  } else {
    f.PositiveOrder = m_positiveIsoFormat;
    f.NegativeOrder = m_negativeIsoFormat;
    symbol = Widen(code);
  }
  if (!code || symbol.empty()) {
    symbol.clear();
    if (f.PositiveOrder <= 3) f.PositiveOrder = 0;
    static const UINT withoutBlank[16] = {0, 1, 2, 3, 4, 5, 6, 7, 5, 1, 7, 3, 2, 6, 0, 4};
    if (f.NegativeOrder < 16) f.NegativeOrder = withoutBlank[f.NegativeOrder];
  }
  f.lpDecimalSep = dec.data();
  f.lpThousandSep = sep.data();
  f.lpCurrencySymbol = symbol.data();

  // Every digit kept: the integer part is formatted with one placeholder digit, which is then
  // replaced by the number's own fraction, so neither rounding nor the formatted text around the
  // amount changes. A number without a '.' has no fraction.
  const char* dot = std::strchr(number, '.');
  std::string text = number;
  std::string fraction;
  if (flags & kPrintAllDigits) {
    if (dot) {
      fraction = dot + 1;
      if (fraction.find_first_not_of("0123456789") != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      // A zero placeholder would lose the sign of "-0.5".
      bool zero = fraction.find_first_not_of('0') == std::string::npos;
      text = std::string(number, dot) + (zero ? ".0" : ".1");
      f.NumDigits = 1;
    } else {
      f.NumDigits = 0;
    }
  } else {
    f.NumDigits = m_digitsAfterDecimal;
  }
  std::u16string out;
  size_t at = std::u16string::npos;
  if (!vtx::FormatCurrencyText(Widen(text.c_str()), f, &out, &at)) return 0;
  if ((flags & kPrintAllDigits) && dot && at != std::u16string::npos)
    out.replace(at, 1, Widen(fraction.c_str()));

  if (flags & kPrintAscii) {
    std::u16string ascii;
    for (size_t k = 0; k < out.size(); ++k) {
      char32_t c = out[k];
      if (c >= 0xD800 && c < 0xDC00 && k + 1 < out.size() && out[k + 1] >= 0xDC00 && out[k + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (out[k + 1] - 0xDC00);
        ++k;
      }
      if (c <= 0x7F)
        ascii += static_cast<char16_t>(c);
      else
        ascii += Widen(("&#" + std::to_string(static_cast<uint32_t>(c)) + ";").c_str());
    }
    out = ascii;
  }
  if (!Put(out, output, outputSize)) return 0;
  return static_cast<int>(out.size()) + 1;
}
