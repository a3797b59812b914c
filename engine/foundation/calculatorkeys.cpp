// The calculator's keypad: digit entry, operators, "=", memory and the one-operand keys.
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "engine/foundation/calculator.h"
#include "platform/numtext.h"

namespace {

// The 32-bit pattern of a value (truncated; values beyond 64 bits give 0).
uint32_t Pattern(double v) {
  double t = std::trunc(v);
  if (!(t > -9.2e18 && t < 9.2e18)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(t)));
}
// A pattern shown as the signed number whose two's complement it is, as other bases display it.
double FromPattern(uint32_t p) { return static_cast<double>(static_cast<int32_t>(p)); }

double ParseDecimal(const char* text) {
  static locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
  return c ? strtod_l(text, nullptr, c) : std::strtod(text, nullptr);
}

}  // namespace

bool CCalculator::EndOnError() {
  if (!IsError()) return false;
  m_pendingFlag = 0;
  m_pendingOperator = 0;
  m_repeatFlag = 0;
  return true;
}

bool CCalculator::DisplayIsFull() const {
  size_t n = std::strlen(m_display);
  size_t digits = n - (m_display[0] == '-' ? 1 : 0);
  if (m_base == 16) return digits >= 8;
  if (m_base == 8) return digits >= 11;  // 32 bits
  if (m_base == 2) return digits >= 32;
  return n >= (std::strchr(m_display, '.') ? 33u : 32u);
}

double CCalculator::DisplayToF() const {
  if (m_base == 10) return ParseDecimal(m_display);
  const char* p = m_display;
  bool negative = *p == '-';
  if (negative) ++p;
  uint32_t v = vtx::TextToUnsigned<char>(p, nullptr, static_cast<int>(m_base));
  return negative ? -FromPattern(v) : FromPattern(v);
}

bool CCalculator::AddDigit(uint32_t digit) {
  if (digit >= m_base || digit > 15) return false;
  if (!m_entering || IsError()) {
    std::strcpy(m_display, "0");
    m_entering = 1;
  }
  if (std::strcmp(m_display, "0") == 0) m_display[0] = 0;
  else if (std::strcmp(m_display, "-0") == 0) m_display[1] = 0;
  else if (DisplayIsFull()) return false;
  size_t n = std::strlen(m_display);
  m_display[n] = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
  m_display[n + 1] = 0;
  m_entered = 1;
  m_constant = 0;
  m_value = DisplayToF();
  return true;
}

bool CCalculator::AddDot() {
  if (m_base != 10) return false;
  if (!m_entering || IsError()) {
    std::strcpy(m_display, "0");
    m_entering = 1;
  }
  if (std::strchr(m_display, '.') || std::strlen(m_display) >= 32) return false;
  std::strcat(m_display, ".");
  m_entered = 1;
  return true;
}

bool CCalculator::Backspace() {
  if (!m_entering) return false;
  size_t n = std::strlen(m_display);
  if (n <= 1 || (n == 2 && m_display[0] == '-')) {
    std::strcpy(m_display, "0");
  } else {
    m_display[n - 1] = 0;
  }
  m_value = DisplayToF();
  return true;
}

bool CCalculator::ZeroDisplay() {
  m_entering = 0;
  m_value = 0.0;
  if (std::strcmp(m_display, "0") == 0 && !m_entered) return false;
  std::strcpy(m_display, "0");
  m_entered = 0;
  m_constant = 0;
  return true;
}

bool CCalculator::Clear() {
  if (m_pendingFlag && !m_entered) {
    m_pendingFlag = 0;
    m_pendingOperator = 0;
  }
  return ZeroDisplay();
}

bool CCalculator::ClearAll() {
  m_pendingFlag = 0;
  m_pendingOperator = 0;
  m_pendingOperand = 0.0;
  m_repeatFlag = 0;
  return ZeroDisplay();
}

bool CCalculator::SetMemory(double value, const char* label) {
  bool had = m_memory != 0.0;
  m_memory = value;
  m_memoryLabel[0] = 0;
  if (label) {
    std::strncpy(m_memoryLabel, label, sizeof m_memoryLabel - 1);
    m_memoryLabel[sizeof m_memoryLabel - 1] = 0;
  }
  m_entering = 0;
  return had != (value != 0.0);
}

bool CCalculator::IsZeroDisplay() const {
  if (m_entered) return false;
  for (const char* p = m_display; *p; ++p)
    if (*p != '0' && *p != '.') return false;
  return true;
}

double CCalculator::Evaluate(double a, uint32_t op, double b) {
  double r = 0.0;
  switch (op) {
    case OpAdd: r = a + b; break;
    case OpSubtract: r = a - b; break;
    case OpDivide:
      if (b == 0.0) {
        SetError();
        EndOnError();
        return 0.0;
      }
      r = a / b;
      break;
    case OpMultiply: r = a * b; break;
    case OpSquareRoot:
      if (a < 0.0) {
        SetError();
        EndOnError();
        return 0.0;
      }
      r = std::sqrt(a);
      break;
    case OpAnd: r = FromPattern(Pattern(a) & Pattern(b)); break;
    case OpOr: r = FromPattern(Pattern(a) | Pattern(b)); break;
    case OpXor: r = FromPattern(Pattern(a) ^ Pattern(b)); break;
    case OpShiftLeft: r = FromPattern(Pattern(a) << (Pattern(b) & 31)); break;
    case OpShiftRight: r = FromPattern(Pattern(a) >> (Pattern(b) & 31)); break;
    default:
      SetError();
      EndOnError();
      SetDisplay(0.0);
      return 0.0;
  }
  SetDisplay(r);
  m_entering = 0;
  if (EndOnError()) return 0.0;
  return m_value;
}

bool CCalculator::SimpleOperation(uint32_t op) {
  bool evaluated = false;
  if (m_pendingFlag && m_pendingOperator && m_entered) {
    m_pendingOperand = Evaluate(m_pendingOperand, m_pendingOperator, m_value);
    evaluated = true;
  } else {
    m_pendingOperand = m_value;
  }
  m_pendingOperator = op;
  m_pendingFlag = 1;
  m_entered = 0;
  m_entering = 0;
  return evaluated;
}

bool CCalculator::Equal(bool repeat) {
  double a, b;
  uint32_t op;
  if (repeat) {
    if (!m_repeatFlag) return false;
    a = m_entered ? m_value : m_pendingOperand;
    op = m_repeatOperator;
    b = m_repeatOperand;
  } else if (HasPendingOperation()) {
    a = m_pendingOperand;
    op = m_pendingOperator;
    // Nothing entered since the operator: the left operand is the right one too (x / x for a
    // divide, never a square root in its place).
    b = m_entered ? m_value : m_pendingOperand;
  } else {
    if (!m_entered) return false;
    SetDisplay(m_value);
    m_entering = 0;
    return true;
  }
  double r = Evaluate(a, op, b);
  if (IsError()) return true;
  m_repeatOperand = b;
  m_repeatOperator = op;
  m_repeatFlag = 1;
  m_pendingOperand = r;
  m_pendingOperator = 0;
  m_pendingFlag = 1;
  m_entered = 0;
  return true;
}

bool CCalculator::Percent() {
  if (!m_entered) return false;
  double v;
  if (!HasPendingOperation()) {
    v = m_value * 0.01;
  } else if (m_pendingOperator == OpAdd || m_pendingOperator == OpSubtract) {
    v = m_value * 0.01 * m_pendingOperand;
  } else if (m_pendingOperator == OpDivide || m_pendingOperator == OpMultiply) {
    v = m_value * 0.01;
  } else {
    return false;
  }
  SetDisplay(v);
  m_entering = 0;
  m_entered = 1;
  EndOnError();
  return true;
}

bool CCalculator::ChangeSign() {
  if (m_value == 0.0 || IsError()) return false;
  if (m_entering && m_base == 10) {
    if (m_display[0] == '-') {
      std::memmove(m_display, m_display + 1, std::strlen(m_display));
    } else {
      if (DisplayIsFull()) return false;
      std::memmove(m_display + 1, m_display, std::strlen(m_display) + 1);
      m_display[0] = '-';
    }
    m_value = DisplayToF();
    return true;
  }
  SetDisplay(-m_value);
  m_entering = 0;
  m_entered = 1;
  EndOnError();
  return true;
}

bool CCalculator::SquareRoot() {
  if (m_value < 0.0) {
    SetError();
  } else {
    SetDisplay(std::sqrt(m_value));
    m_entered = 1;
  }
  m_entering = 0;
  EndOnError();
  return true;
}

bool CCalculator::Square() { return MultiplyBy(m_value); }

bool CCalculator::Reciprocal() {
  if (m_value == 0.0) {
    SetError();
    EndOnError();
    return true;
  }
  SetDisplay(1.0 / m_value);
  m_entering = 0;
  m_entered = 1;
  EndOnError();
  return true;
}

bool CCalculator::Not() {
  SetDisplay(FromPattern(~Pattern(m_value)));
  m_entering = 0;
  m_entered = 1;
  EndOnError();
  return true;
}

bool CCalculator::DivideBy(double d) {
  if (d == 0.0) {
    SetError();
  } else {
    SetDisplay(m_value / d);
    m_entered = 1;
  }
  m_entering = 0;
  EndOnError();
  return true;
}

bool CCalculator::MultiplyBy(double m) {
  SetDisplay(m_value * m);
  m_entering = 0;
  m_entered = 1;
  EndOnError();
  return true;
}

int CCalculator::SetDisplayValueEx(double value, ConversionFunction function, double a, double b, double c) {
  SetDisplayValue(value);
  if (function) {
    if (!m_pendingOperation) m_pendingOperand = function(m_pendingOperand, a, b, c);
    m_repeatOperand = function(m_repeatOperand, a, b, c);
  }
  return 1;
}
