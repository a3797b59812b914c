// Stateless text operations for narrow (char) and wide (char16_t) text.
#pragma once
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"
#include "platform/numtext.h"

template <class T>
struct CStringUtil {
  static T* StringCopy(T* dst, const T* src) {
    T* d = dst;
    while ((*d++ = *src++) != 0) {
    }
    return dst;
  }
  static uint32_t StringLen(const T* s) {
    uint32_t n = 0;
    if (s)
      while (s[n]) ++n;
    return n;
  }
  static int StringCmp(const T* a, const T* b) {
    for (;; ++a, ++b) {
      int d = static_cast<int>(static_cast<std::make_unsigned_t<T>>(*a)) - static_cast<int>(static_cast<std::make_unsigned_t<T>>(*b));
      if (d || !*a) return d;
    }
  }
  static int StringICmp(const T* a, const T* b) {
    if constexpr (sizeof(T) == 1)
      return _stricmp(a, b);
    else
      return _wcsicmp(a, b);
  }
  static int StringNICmp(const T* a, const T* b, size_t n) {
    if constexpr (sizeof(T) == 1)
      return _strnicmp(a, b, n);
    else
      return _wcsnicmp(a, b, n);
  }

  // _ltoa / _ultoa, then zeros in front (before a minus sign too) up to `width`.
  static T* LongToString(int32_t value, T* buffer, int radix, uint32_t width) {
    vtx::LongToText(value, buffer, radix);
    return Pad(buffer, width);
  }
  static T* ULongToString(uint32_t value, T* buffer, int radix, uint32_t width) {
    vtx::UnsignedToText(value, buffer, radix);
    return Pad(buffer, width);
  }

  static int32_t StringToLong(const T* text, const T** end, int radix) {
    return vtx::TextToSigned(text, end, radix);
  }
  static uint32_t StringToULong(const T* text, const T** end, int radix) {
    return vtx::TextToUnsigned(text, end, radix);
  }

  // Prefix match ignoring case against true, false, yes, no (in that order): 1, 0, or -1.
  static int StringToBool(const T* text, const T** end) {
    if (!text) return -1;
    static const struct {
      const char* word;
      uint32_t len;
      int value;
    } kWords[] = {{"true", 4, 1}, {"false", 5, 0}, {"yes", 3, 1}, {"no", 2, 0}};
    for (const auto& w : kWords) {
      uint32_t i = 0;
      while (i < w.len && text[i] && Lower(text[i]) == static_cast<T>(w.word[i])) ++i;
      if (i == w.len) {
        if (end) *end = text + w.len;
        return w.value;
      }
    }
    return -1;
  }
  static int32_t StringToLongBool(const T* text, const T** end, int radix) {
    int b = StringToBool(text, end);
    return b >= 0 ? b : StringToLong(text, end, radix);
  }
  static uint32_t StringToULongBool(const T* text, const T** end, int radix) {
    int b = StringToBool(text, end);
    return b >= 0 ? static_cast<uint32_t>(b) : StringToULong(text, end, radix);
  }

 private:
  static T Lower(T c) { return (c >= 'A' && c <= 'Z') ? static_cast<T>(c + 32) : c; }
  static T* Pad(T* buffer, uint32_t width) {
    uint32_t len = StringLen(buffer);
    if (width > len) {
      uint32_t pad = width - len;
      std::memmove(buffer + pad, buffer, (len + 1) * sizeof(T));
      for (uint32_t i = 0; i < pad; ++i) buffer[i] = '0';
    }
    return buffer;
  }
};

using CStringUtilA = CStringUtil<char>;
using CStringUtilW = CStringUtil<char16_t>;
