// 32-bit number text for both character widths, independent of the process locale:
// _ltoa/_ultoa and strtol/strtoul with the 32-bit results the engine was written for.
#pragma once
#include <locale.h>

#include <cstdint>
#include <cstdlib>

namespace vtx {

// strtod as the C locale reads numbers, whatever the process locale says.
inline double CStrtod(const char* text, char** end) {
  static locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
  return c ? strtod_l(text, end, c) : std::strtod(text, end);
}

template <class T>
inline bool IsAsciiSpace(T c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <class T>
inline int DigitValue(T c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'z') return static_cast<int>(c - 'a') + 10;
  if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A') + 10;
  return 99;
}

// Writes the digits of `value` in `radix` (2..36, lower case) and a NUL; returns `buffer`.
template <class T>
T* UnsignedToText(uint32_t value, T* buffer, int radix, bool negative = false) {
  if (radix < 2 || radix > 36) {
    buffer[0] = 0;
    return buffer;
  }
  T tmp[40];
  int n = 0;
  do {
    unsigned d = value % static_cast<unsigned>(radix);
    tmp[n++] = static_cast<T>(d < 10 ? '0' + d : 'a' + d - 10);
    value /= static_cast<unsigned>(radix);
  } while (value);
  T* p = buffer;
  if (negative) *p++ = '-';
  while (n) *p++ = tmp[--n];
  *p = 0;
  return buffer;
}

// _ltoa: '-' only in radix 10; other radixes show the 32-bit pattern.
template <class T>
T* LongToText(int32_t value, T* buffer, int radix) {
  if (radix == 10 && value < 0)
    return UnsignedToText(static_cast<uint32_t>(0) - static_cast<uint32_t>(value), buffer, radix, true);
  return UnsignedToText(static_cast<uint32_t>(value), buffer, radix);
}

struct ParseResult {
  bool any = false;       // at least one digit was read
  bool overflow = false;  // the value did not fit and was saturated
};

// strtoul semantics on 32 bits: blanks, an optional sign (a '-' negates the result), radix 0
// picks 0x/0 prefixes, saturates to 0xFFFFFFFF on overflow. `end` receives the first unread char
// (the start of the text when nothing was read).
template <class T>
uint32_t TextToUnsigned(const T* text, const T** end, int radix, ParseResult* info = nullptr, bool* negativeOut = nullptr) {
  ParseResult r;
  const T* p = text;
  if (end) *end = text;
  if (!text || radix < 0 || radix == 1 || radix > 36) {
    if (info) *info = r;
    return 0;
  }
  while (IsAsciiSpace(*p)) ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = (*p++ == '-');
  if ((radix == 0 || radix == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
    p += 2;
    radix = 16;
  } else if (radix == 0) {
    radix = p[0] == '0' ? 8 : 10;
  }
  uint64_t v = 0;
  while (DigitValue(*p) < radix) {
    r.any = true;
    v = v * static_cast<unsigned>(radix) + static_cast<unsigned>(DigitValue(*p));
    if (v > 0xFFFFFFFFull) {
      r.overflow = true;
      v = 0x100000000ull;  // keeps reading digits without wrapping
    }
    ++p;
  }
  if (end && r.any) *end = p;
  if (info) *info = r;
  if (negativeOut) *negativeOut = negative;
  if (!r.any) return 0;
  if (r.overflow) return 0xFFFFFFFFu;
  uint32_t u = static_cast<uint32_t>(v);
  return negative ? static_cast<uint32_t>(0) - u : u;
}

// strtol semantics on 32 bits: saturates to INT32_MAX / INT32_MIN.
template <class T>
int32_t TextToSigned(const T* text, const T** end, int radix, ParseResult* info = nullptr) {
  ParseResult r;
  bool negative = false;
  // Read the magnitude without the sign's negation, then apply the signed range.
  uint32_t mag = TextToUnsigned(text, end, radix, &r, &negative);
  if (r.any && !r.overflow && negative) mag = static_cast<uint32_t>(0) - mag;  // undo strtoul's negation
  int32_t result = 0;
  if (r.any) {
    if (!negative) {
      if (r.overflow || mag > 0x7FFFFFFFu) { r.overflow = true; result = INT32_MAX; }
      else result = static_cast<int32_t>(mag);
    } else {
      if (r.overflow || mag > 0x80000000u) { r.overflow = true; result = INT32_MIN; }
      else result = static_cast<int32_t>(static_cast<uint32_t>(0) - mag);
    }
  }
  if (info) *info = r;
  return result;
}

}  // namespace vtx
