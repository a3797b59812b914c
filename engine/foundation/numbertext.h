// Amounts read from free text with the user's separators ("  1.234,5 EUR" in a German locale).
#pragma once
#include <cstdint>

#include "platform/locale.h"
#include "platform/types.h"

// Reads a number at the start of `text`: leading blanks, CR, LF and TAB skipped, the decimal
// separator read as '.', the thousands separator skipped, as long as what was read is still a
// number. `consumed` (optional) gets the characters read when a digit was seen, else 0. 0 for a
// null text. The separators are the user locale's items (at most 3 characters; "." and ",").
double StringToDouble(const char* text, uint32_t* consumed, LCTYPE decimalItem, LCTYPE thousandItem);
// With the monetary separators, and with the number separators.
double CurrencyStringToDouble(const char* text, uint32_t* consumed);
double NumberStringToDouble(const char* text, uint32_t* consumed);
// Base 0: a currency amount; base 10: a number; any other base: an integer in that base (base 16
// skips a leading "0x").
double UnitStringToDouble(const char* text, uint32_t base, uint32_t* consumed);
// A digit of the base: 2, 8, 16, and otherwise '0'-'9' and '.'.
bool IsDigit(char c, uint32_t base);
