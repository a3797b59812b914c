#include "engine/foundation/calculator.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/locale.h"
#include "platform/numtext.h"

namespace {

constexpr uint32_t kMaxWidth = 16;

// `digits` significant digits of |value| and the position of the decimal point (as _ecvt gives).
void Significant(double value, uint32_t digits, std::string& out, int& decpt) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific,
                         static_cast<int>(digits) - 1);
  std::string s(buf, r.ptr);
  size_t e = s.find('e');
  out.clear();
  for (size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') out += s[i];
  decpt = std::atoi(s.c_str() + e + 1) + 1;
  if (value == 0.0) decpt = 1;
}

std::string PlainForm(double value, uint32_t digits) {
  std::string d;
  int decpt;
  Significant(value, digits, d, decpt);
  std::string t = value < 0 ? "-" : "";
  if (decpt > 0) {
    size_t ip = static_cast<size_t>(decpt);
    if (ip <= d.size()) {
      t += d.substr(0, ip);
      t += '.';
      t += d.substr(ip);
    } else {
      t += d;
      t.append(ip - d.size(), '0');
      t += '.';
    }
  } else {
    t += "0.";
    t.append(static_cast<size_t>(-decpt), '0');
    t += d;
  }
  while (t.back() == '0') t.pop_back();
  if (t.back() == '.') t.pop_back();
  return t;
}

std::string ExponentForm(double value, uint32_t digits) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, static_cast<int>(digits));
  std::string s(buf, r.ptr);
  size_t e = s.find('e');
  if (e != std::string::npos && e > 0 && s[e - 1] == '.') s.erase(e - 1, 1);
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

std::string LocaleText(LCTYPE type) {
  char buf[32];
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buf, sizeof buf) > 0) return buf;
  return {};
}

}  // namespace

bool DoubleToString(double value, char* buffer, uint32_t width, uint32_t minFractionDigits) {
  if (!buffer || width == 0) return false;
  buffer[0] = 0;
  if (!std::isfinite(value)) return false;
  if (width > kMaxWidth) width = kMaxWidth;
  if (value == 0.0) value = 0.0;  // no "-0"
  const uint32_t room = width - 1;
  uint32_t digits = room - (value < 0 ? 1 : 0);
  std::string text;
  for (; digits >= 1; --digits) {
    text = PlainForm(value, digits);
    if (text.size() <= room) break;
    text = ExponentForm(value, digits);
    if (text.size() <= room) break;
  }
  if (digits == 0) return false;
  if (minFractionDigits && text.find('e') == std::string::npos) {
    size_t dot = text.find('.');
    size_t have = dot == std::string::npos ? 0 : text.size() - dot - 1;
    if (have < minFractionDigits) {
      size_t add = minFractionDigits - have + (dot == std::string::npos ? 1 : 0);
      if (text.size() + add <= room) {
        if (dot == std::string::npos) text += '.';
        text.append(minFractionDigits - have, '0');
      }
    }
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

double RoundCurrency(double value, double unit) {
  if (!std::isfinite(value)) return value;
  bool negative = value < 0;
  double x = std::fabs(value);
  if (unit != 0) x = x / unit + 0.5;
  char text[34];
  if (DoubleToString(x, text, sizeof text, 0) && std::strchr(text, '.')) {
    double integral;
    std::modf(x, &integral);
    x = integral;
  }
  double result = unit != 0 ? x * unit : x;
  return negative ? -result : result;
}

double ConvertCurrency(double amount, double rate1, bool rate1IsBase, double rate2, bool rate2IsBase) {
  if (rate1IsBase && rate2IsBase) return amount;
  if (rate1IsBase) return amount * rate2;
  if (rate2IsBase) return rate1 == 0 ? amount : amount / rate1;
  if (rate1 == rate2 || rate1 == 0) return amount;
  return amount / rate1 * rate2;
}

double GetNumberRoundingValue() {
  DWORD digits = 2;
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDIGITS | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&digits),
                     sizeof digits) <= 0)
    digits = 2;
  if (static_cast<int32_t>(digits) < 1) return 1.0;
  return std::pow(10.0, -static_cast<double>(digits));
}

CCalculator::CCalculator(uint32_t owner) : m_owner(owner) {
  std::strcpy(m_display, "0");
  m_formatted[0] = 0;
  ClearDisplay();
}

bool CCalculator::ClearDisplay() {
  m_value = 0.0;
  m_freshEntry = 1;
  if (IsClearedDisplay()) return false;
  m_constant = 0;
  std::strcpy(m_display, "0");
  return true;
}

bool CCalculator::IsClearedDisplay() const { return std::strcmp(m_display, "0") == 0 && !m_constant; }

bool CCalculator::IsError() const { return std::strcmp(m_display, kErrorText) == 0; }

void CCalculator::SetError() {
  std::strcpy(m_display, kErrorText);
  m_value = 0.0;
  m_pendingOperand = 0.0;
  m_pendingOperator = 0;
  m_pendingFlag = 0;
  m_repeatFlag = 0;
  m_freshEntry = 0;
  m_constant = 0;
  m_entering = 0;
  m_entered = 0;
}

void CCalculator::SetDisplay(double value, uint32_t digits, bool noRounding) {
  bool rounded = false;
  if (m_rounding && !noRounding && m_base == 10) {
    value = RoundCurrency(value, m_valueType == ValueCurrency ? m_roundingValue : GetNumberRoundingValue());
    rounded = true;
  }
  if (digits < 1 || digits > 33) digits = 33;
  if (m_base == 10) {
    uint32_t fraction;
    if (m_valueType == ValueNumber) {
      DWORD d = 2;
      if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDIGITS | LOCALE_RETURN_NUMBER, reinterpret_cast<LPSTR>(&d),
                         sizeof d) <= 0)
        d = 2;
      fraction = d;
    } else {
      fraction = rounded ? m_minFractDigits : 0;
    }
    if (!DoubleToString(value, m_display, digits + 1, fraction)) {
      SetError();
      return;
    }
  } else {
    // Outside the signed 32-bit range the value has no pattern to show.
    double t = std::trunc(value);
    if (!std::isfinite(t) || t < -2147483648.0 || t > 2147483647.0) {
      SetError();
      return;
    }
    uint32_t pattern = static_cast<uint32_t>(static_cast<int32_t>(t));
    char text[40];
    vtx::UnsignedToText(pattern, text, static_cast<int>(m_base));
    if (std::strlen(text) > digits) {
      SetError();
      return;
    }
    for (char* p = text; *p; ++p)
      if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 32);
    std::strcpy(m_display, text);
  }
  m_value = value;
}

int CCalculator::SetDisplayValue(double value) {
  double shown = m_value;
  m_pendingOperation = 0;
  SetDisplay(value);
  if (m_pendingOperator && m_pendingOperand == shown && (m_pendingFlag || m_repeatFlag) && !m_freshEntry &&
      !m_constant) {
    m_pendingOperand = m_value;
    m_pendingOperation = 1;
  } else {
    m_freshEntry = 0;
  }
  return 1;
}

void CCalculator::Constant(double value) {
  SetDisplay(value);
  m_freshEntry = 0;
  m_constant = 1;
  m_entering = 0;
  m_entered = 1;
}

void CCalculator::SetRounding(bool on) {
  m_rounding = on ? 1 : 0;
  if (!m_freshEntry) SetDisplayValue(m_value);
}

void CCalculator::Round() {
  const bool number = m_roundingMode == 1 || m_valueType == ValueNumber;
  SetDisplayValue(RoundCurrency(m_value, number ? GetNumberRoundingValue() : m_roundingValue));
}

int CCalculator::SetBase(uint32_t base) {
  if (base == m_base || base < 2 || base > 36) return 0;
  m_base = base;
  if (base != 10) m_valueType = ValueNumber;
  SetDisplay(m_value);
  m_freshEntry = 0;
  return 1;
}

void CCalculator::SetValueType(uint32_t type) {
  m_valueType = type;
  if (type == ValueCurrency) m_base = 10;
}

const char* CCalculator::GetDisplay(uint32_t digits) {
  if (!IsError() && digits) SetDisplay(m_value, digits);
  if (!m_formatting) return m_display;
  if (IsError()) {
    std::strcpy(m_formatted, kErrorText);
    return m_formatted;
  }
  const char* p = m_display;
  std::string out;
  if (*p == '-') out += *p++;
  const char* intEnd = p;
  while (*intEnd && *intEnd != '.') ++intEnd;
  std::string integer(p, intEnd);
  size_t group = 0;
  std::string thousand, decimal = ".";
  if (m_base == 2 || m_base == 16) {
    group = 4;
    thousand = " ";
  } else if (m_base == 10) {
    bool number = m_valueType == ValueNumber;
    std::string grouping = LocaleText(number ? LOCALE_SGROUPING : LOCALE_SMONGROUPING);
    int g = grouping.empty() ? 3 : std::atoi(grouping.c_str());
    group = g > 0 ? static_cast<size_t>(g) : 0;
    if (m_thousandSeparator == 0) thousand = LocaleText(number ? LOCALE_STHOUSAND : LOCALE_SMONTHOUSANDSEP);
    else if (static_cast<unsigned char>(m_thousandSeparator) >= 0x20) thousand = std::string(1, m_thousandSeparator);
    if (m_decimalSeparator) decimal = std::string(1, m_decimalSeparator);
    else {
      decimal = LocaleText(number ? LOCALE_SDECIMAL : LOCALE_SMONDECIMALSEP);
      if (decimal.empty()) decimal.assign(1, '.');
    }
  }
  // Separators stand between groups only.
  for (size_t i = 0; i < integer.size(); ++i) {
    if (i && group && !thousand.empty() && (integer.size() - i) % group == 0) out += thousand;
    out += integer[i];
  }
  if (*intEnd == '.') {
    out += decimal;
    out += intEnd + 1;
  }
  if (out.size() > 65) out.resize(65);
  std::memcpy(m_formatted, out.c_str(), out.size() + 1);
  return m_formatted;
}

bool PlainAmountText(double value, uint32_t decimals, char* buffer, uint32_t size) {
  if (!std::isfinite(value) || value < 0 || size < 2) return false;
  auto [end, ec] = std::to_chars(buffer, buffer + size - 1, value + 0.0, std::chars_format::fixed);
  if (ec != std::errc()) return false;
  const char* dot = static_cast<const char*>(std::memchr(buffer, '.', static_cast<size_t>(end - buffer)));
  uint32_t have = dot ? static_cast<uint32_t>(end - dot - 1) : 0;
  if (have < decimals) {
    if (!dot && end < buffer + size - 1) *end++ = '.';
    while (have < decimals && end < buffer + size - 1) *end++ = '0', ++have;
  }
  *end = 0;
  return true;
}
