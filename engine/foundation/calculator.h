// The calculator engine that rounds and renders amounts, and the number text every amount passes through.
#pragma once
#include <cstdint>

#include "platform/types.h"

// Half away from zero to a multiple of `unit`; unit 0 cuts to an integer. A value that is not
// finite comes back unchanged.
double RoundCurrency(double value, double unit);
// Rates are units per euro; an "is base" side is the euro itself.
double ConvertCurrency(double amount, double rate1, bool rate1IsBase, double rate2, bool rate2IsBase);
// 10 to the power of minus the user locale's number of digits.
double GetNumberRoundingValue();
// The shortest plain text of `value` that fits `width` characters with its NUL ('.' as decimal
// point); the exponent form when no plain form fits. Fewer significant digits are tried, one at a
// time, before giving up. False for a value that is not finite or when not even one digit fits.
bool DoubleToString(double value, char* buffer, uint32_t width, uint32_t minFractionDigits = 0);
// A rate or unit as rates files carry it: the shortest plain text that reads back as the same
// number, with at least `decimals` fraction digits. Never an exponent form, which rates-file
// readers refuse, and no digits lost to a width. False for negative or non-finite values.
bool PlainAmountText(double value, uint32_t decimals, char* buffer, uint32_t size);

class CCalculator {
 public:
  enum : uint32_t { ValueCurrency = 0, ValueNumber = 1 };
  static constexpr const char* kErrorText = "- E -";

  explicit CCalculator(uint32_t owner = 0);

  bool ClearDisplay();
  bool IsClearedDisplay() const;
  bool IsError() const;
  void SetError();
  void SetDisplay(double value, uint32_t digits = 0, bool noRounding = false);
  int SetDisplayValue(double value);
  void Constant(double value);
  void SetRounding(bool on);
  void Round();
  int SetBase(uint32_t base);
  void SetValueType(uint32_t type);
  const char* GetDisplay(uint32_t digits = 0);

  // Keypad. Operators: 1 add, 2 subtract, 3 divide, 4 multiply, 5 square root of the left operand,
  // 6 AND, 7 OR, 8 XOR, 9 shift left, 10 shift right (bitwise ones on 32-bit patterns). Each
  // answers true when the key was taken; errors show "- E -" and drop the pending state.
  enum : uint32_t { OpAdd = 1, OpSubtract, OpDivide, OpMultiply, OpSquareRoot, OpAnd, OpOr, OpXor, OpShiftLeft,
                    OpShiftRight };
  using ConversionFunction = double (*)(double value, double a, double b, double c);
  bool AddDigit(uint32_t digit);
  bool AddDot();
  bool Backspace();
  bool Clear();
  bool ClearAll();
  // True when the memory changed between zero and non-zero.
  bool SetMemory(double value, const char* label);
  double GetMemory() const { return m_memory; }
  const char* GetMemoryLabel() const { return m_memoryLabel; }
  bool IsZeroDisplay() const;
  // The display text as a number: decimal in base 10, else the unsigned pattern in the base.
  double DisplayToF() const;
  // An operator key: a pending operation with a value entered since is evaluated first (true).
  bool SimpleOperation(uint32_t op);
  // a op b, shown and returned as shown; 0 after an error.
  double Evaluate(double a, uint32_t op, double b);
  // "=": the pending operation with the value entered since (or, with nothing entered, with the
  // left operand itself); `repeat` applies the last operator and right operand again.
  bool Equal(bool repeat);
  bool Percent();
  bool ChangeSign();
  bool SquareRoot();
  bool Square();
  bool Reciprocal();
  bool Not();
  bool DivideBy(double d);
  bool MultiplyBy(double m);
  // SetDisplayValue, then the conversion applied to the pending and repeat operands as well.
  int SetDisplayValueEx(double value, ConversionFunction function, double a, double b, double c);
  // Round: mode 1 rounds to the locale's number of digits, 0 to the rounding value.
  void SetRoundingMode(uint32_t mode) { m_roundingMode = mode; }
  bool IsEntering() const { return m_entering != 0; }
  bool IsEntered() const { return m_entered != 0; }
  bool HasPendingOperation() const { return m_pendingFlag && m_pendingOperator; }

  void SetRoundingValue(double unit) { m_roundingValue = unit; }
  void SetMinFractDigits(uint32_t digits) { m_minFractDigits = digits; }
  void SetDecimalSeparator(char c) { m_decimalSeparator = c; }
  void SetThousandSeparator(char c) { m_thousandSeparator = c; }
  void SetFormatting(bool on) { m_formatting = on ? 1 : 0; }
  bool HasMemory() const { return m_memory != 0.0; }
  uint32_t ValueType() const { return m_valueType; }
  uint32_t Base() const { return m_base; }
  double Value() const { return m_value; }
  const char* DisplayText() const { return m_display; }
  uint32_t Owner() const { return m_owner; }

 private:
  // Keeps the pending and repeat state clean after an error; true when the display is in error.
  bool EndOnError();
  bool DisplayIsFull() const;
  // A new entry over a display of "0"; false when it showed an unentered "0" already.
  bool ZeroDisplay();

  char m_display[34];
  char m_formatted[70];
  double m_value = 0.0;
  // Keypad state: the left operand and operator of a pending operation, and the right operand and
  // operator that a repeated "=" applies again.
  double m_pendingOperand = 0.0;
  uint32_t m_pendingOperator = 0;
  uint32_t m_pendingFlag = 0;
  double m_repeatOperand = 0.0;
  uint32_t m_repeatFlag = 0;
  uint32_t m_repeatOperator = 0;
  double m_memory = 0.0;
  char m_memoryLabel[16] = "";
  double m_roundingValue = 1.0;
  uint32_t m_minFractDigits = 0;
  char m_decimalSeparator = 0;
  char m_thousandSeparator = 0;
  uint32_t m_base = 10;
  uint32_t m_freshEntry = 1;
  uint32_t m_constant = 0;
  uint32_t m_rounding = 1;
  uint32_t m_roundingMode = 0;
  uint32_t m_formatting = 0;
  uint32_t m_valueType = ValueCurrency;
  uint32_t m_owner;
  uint32_t m_pendingOperation = 0;
  uint32_t m_entering = 0;  // digits are appended to the display
  uint32_t m_entered = 0;   // the display holds a value entered or computed since the last operator
};
