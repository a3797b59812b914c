#include "platform/codepage.h"

#include <iconv.h>
#include <unicode/uchar.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/errors.h"
#include "platform/native/files.h"
#include "platform/native/productpaths.h"

namespace {

const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A single-byte code page: 256 characters and the way back.
struct SingleByte {
  char16_t toWide[256];
  std::vector<uint16_t> toByte;  // 65536 entries: byte + 1, or 0 when the character is not in the page
  void BuildReverse() {
    toByte.assign(65536, 0);
    for (int b = 255; b >= 0; --b) toByte[toWide[b]] = static_cast<uint16_t>(b + 1);
  }
};

const SingleByte& Cp1252() {
  static const SingleByte t = [] {
    SingleByte p;
    for (int b = 0; b < 256; ++b) p.toWide[b] = static_cast<char16_t>(b);
    for (int b = 0; b < 32; ++b) p.toWide[0x80 + b] = kCp1252High[b];
    p.BuildReverse();
    return p;
  }();
  return t;
}

struct AnsiPage {
  std::string name;
  bool utf8 = false;
  SingleByte table;
  bool asciiSame = true;  // ASCII characters are the same bytes in this page
};

// The table of a single-byte page; false for an unknown page and for a multi-byte one (a byte
// that only begins a character), which the table cannot represent.
bool BuildFromIconv(const std::string& name, SingleByte& t) {
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  int converted = 0;
  bool multiByte = false;
  for (int b = 0; b < 256; ++b) {
    char in[1] = {static_cast<char>(b)};
    char out[8];
    char* pin = in;
    char* pout = out;
    size_t inLeft = 1, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
    if (r == static_cast<size_t>(-1) && errno == EINVAL) multiByte = true;
    // A page that composes letters with following marks holds the letter back until flushed.
    if (r != static_cast<size_t>(-1)) iconv(cd, nullptr, nullptr, &pout, &outLeft);
    if (r != static_cast<size_t>(-1) && inLeft == 0 && sizeof out - outLeft == 2) {
      t.toWide[b] = static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
      ++converted;
    } else {
      t.toWide[b] = static_cast<char16_t>(b);  // unmapped bytes pass as the same code point
    }
  }
  iconv_close(cd);
  return !multiByte && converted >= 128;
}

const AnsiPage& Ansi() {
  static AnsiPage page = [] {
    AnsiPage p;
    std::string name = vtx::env::Get(vtx::env::kCodePage, "");
    std::string upper;
    for (char c : name) upper += static_cast<char>((c >= 'a' && c <= 'z') ? c - 32 : c);
    if (upper == "UTF-8" || upper == "UTF8" || upper == "65001") {
      p.name = "UTF-8";
      p.utf8 = true;
      return p;
    }
    if (!upper.empty() && upper.find_first_not_of("0123456789") == std::string::npos) name = "CP" + name;
    if (!name.empty() && upper != "WINDOWS-1252" && upper != "CP1252" && upper != "1252") {
      if (BuildFromIconv(name, p.table)) {
        p.name = name;
        p.table.BuildReverse();
        for (int b = 0; b < 0x80; ++b) p.asciiSame = p.asciiSame && p.table.toWide[b] == b;
        return p;
      }
      std::fprintf(stderr, "vantrex: code page \"%s\" is not a single-byte code page known here; using Windows-1252\n",
                   name.c_str());
    }
    p.name = "WINDOWS-1252";
    p.table = Cp1252();
    return p;
  }();
  return page;
}

template <class C>
bool IsAscii(const C* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (static_cast<std::make_unsigned_t<C>>(p[i]) >= 0x80) return false;
  return true;
}

// The single-byte table of a code page that is not UTF-8.
const SingleByte& PageTable(UINT cp) { return cp == 1252 ? Cp1252() : Ansi().table; }

// Decodes UTF-8 into UTF-16; invalid sequences become U+FFFD (or fail with MB_ERR_INVALID_CHARS).
bool DecodeUtf8(const unsigned char* s, size_t n, std::u16string& out, bool strict) {
  size_t i = 0;
  while (i < n) {
    uint32_t cp;
    bool valid;
    i += vtx::Utf8Next(reinterpret_cast<const char*>(s + i), n - i, &cp, &valid);
    if (!valid && strict) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return true;
}

void EncodeUtf8(const char16_t* s, size_t n, std::string& out) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) out.push_back(static_cast<char>(cp));
    else if (cp < 0x800) { out.push_back(static_cast<char>(0xC0 | (cp >> 6))); out.push_back(static_cast<char>(0x80 | (cp & 0x3F))); }
    else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

bool IsUtf8(UINT cp) { return cp == CP_UTF8 || ((cp == CP_ACP || cp == CP_THREAD_ACP || cp == CP_OEMCP) && Ansi().utf8); }

int Deliver16(const std::u16string& w, char16_t* dst, int dstChars) {
  if (w.size() > 0x7FFFFFFF) { SetLastError(ERROR_INVALID_PARAMETER); return 0; }
  if (dstChars == 0) return static_cast<int>(w.size());
  if (static_cast<size_t>(dstChars) < w.size()) { SetLastError(ERROR_INSUFFICIENT_BUFFER); return 0; }
  std::memcpy(dst, w.data(), w.size() * sizeof(char16_t));
  return static_cast<int>(w.size());
}

int Deliver8(const std::string& s, char* dst, int dstBytes) {
  if (s.size() > 0x7FFFFFFF) { SetLastError(ERROR_INVALID_PARAMETER); return 0; }
  if (dstBytes == 0) return static_cast<int>(s.size());
  if (static_cast<size_t>(dstBytes) < s.size()) { SetLastError(ERROR_INSUFFICIENT_BUFFER); return 0; }
  std::memcpy(dst, s.data(), s.size());
  return static_cast<int>(s.size());
}

bool KnownPage(UINT cp) { return cp == CP_ACP || cp == CP_OEMCP || cp == CP_THREAD_ACP || cp == CP_UTF8 || cp == 1252; }

int FoldAscii(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcBytes, char16_t* dst, int dstChars) {
  if (!src || srcBytes == 0 || srcBytes < -1 || dstChars < 0 || (dstChars > 0 && !dst) || !KnownPage(codePage)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = srcBytes == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcBytes);
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  std::u16string w;
  w.reserve(n);
  if (IsUtf8(codePage)) {
    if (!DecodeUtf8(s, n, w, (flags & MB_ERR_INVALID_CHARS) != 0)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    const SingleByte& t = PageTable(codePage);
    for (size_t i = 0; i < n; ++i) w.push_back(t.toWide[s[i]]);
  }
  return Deliver16(w, dst, dstChars);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* src, int srcChars, char* dst, int dstBytes,
                        const char* defaultChar, BOOL* usedDefault) {
  (void)flags;
  if (!src || srcChars == 0 || srcChars < -1 || dstBytes < 0 || (dstBytes > 0 && !dst) || !KnownPage(codePage)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = srcChars == -1 ? vtx::StrLen16(src) + 1 : static_cast<size_t>(srcChars);
  std::string out;
  out.reserve(n);
  if (usedDefault) *usedDefault = FALSE;
  if (IsUtf8(codePage)) {
    EncodeUtf8(src, n, out);
  } else {
    const SingleByte& t = PageTable(codePage);
    char def = defaultChar ? *defaultChar : '?';
    for (size_t i = 0; i < n; ++i) {
      uint16_t b = t.toByte[src[i]];
      if (b) {
        out.push_back(static_cast<char>(b - 1));
      } else {
        out.push_back(def);
        if (usedDefault) *usedDefault = TRUE;
        // A surrogate pair is one character of the source: one default character for it.
        if (src[i] >= 0xD800 && src[i] <= 0xDBFF && i + 1 < n && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) ++i;
      }
    }
  }
  return Deliver8(out, dst, dstBytes);
}

int _stricmp(const char* a, const char* b) { return vtx::CompareNoCase(a, b); }

int _strnicmp(const char* a, const char* b, size_t n) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (; n; --n, ++x, ++y) {
    int d = FoldAscii(*x) - FoldAscii(*y);
    if (d || !*x) return d;
  }
  return 0;
}

int _wcsicmp(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    int d = FoldAscii(*a) - FoldAscii(*b);
    if (d || !*a) return d;
  }
}

int _wcsnicmp(const char16_t* a, const char16_t* b, size_t n) {
  for (; n; --n, ++a, ++b) {
    int d = FoldAscii(*a) - FoldAscii(*b);
    if (d || !*a) return d;
  }
  return 0;
}

namespace vtx {

const char* AnsiCodePageName() { return Ansi().name.c_str(); }
bool AnsiCodePageIsUtf8() { return Ansi().utf8; }
bool AnsiCodePageKeepsAscii() { return Ansi().asciiSame; }

size_t Utf8Next(const char* text, size_t n, uint32_t* cp, bool* valid) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  if (valid) *valid = false;
  *cp = 0xFFFD;
  if (n == 0) return 0;
  unsigned c = s[0];
  uint32_t v;
  size_t len;
  if (c < 0x80) { v = c; len = 1; }
  else if (c >= 0xC2 && c <= 0xDF) { v = c & 0x1F; len = 2; }
  else if (c >= 0xE0 && c <= 0xEF) { v = c & 0x0F; len = 3; }
  else if (c >= 0xF0 && c <= 0xF4) { v = c & 0x07; len = 4; }
  else return 1;
  if (len > n) return 1;
  for (size_t k = 1; k < len; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 1;
    v = (v << 6) | (s[k] & 0x3F);
  }
  // An encoded surrogate is well formed but no character: one U+FFFD for the whole sequence.
  if (len == 3 && v >= 0xD800 && v <= 0xDFFF) return 3;
  if ((len == 3 && v < 0x800) || (len == 4 && (v < 0x10000 || v > 0x10FFFF))) return 1;
  *cp = v;
  if (valid) *valid = true;
  return len;
}

char16_t UnicodeFold(char16_t c) { return static_cast<char16_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT)); }
char16_t UnicodeUpper(char16_t c) { return static_cast<char16_t>(u_toupper(c)); }
char16_t UnicodeLower(char16_t c) { return static_cast<char16_t>(u_tolower(c)); }
bool UnicodeIsAlphaNumeric(char16_t c) { return u_isalnum(c) != 0; }
bool UnicodeIsAlpha(char16_t c) { return u_isalpha(c) != 0; }

int UnicodeICompare(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    int d = static_cast<int>(UnicodeFold(*a)) - static_cast<int>(UnicodeFold(*b));
    if (d || !*a) return d;
  }
}

int UnicodeICompare(const char* aUtf8, const char* bUtf8) {
  std::u16string a = Utf8ToWide(aUtf8), b = Utf8ToWide(bUtf8);
  return UnicodeICompare(a.c_str(), b.c_str());
}

size_t StrLen16(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

std::u16string AnsiToWide(const std::string& s) {
  if (s.empty()) return {};
  // Names and numbers are mostly ASCII: those need no table.
  if (Ansi().asciiSame && IsAscii(s.data(), s.size())) return std::u16string(s.begin(), s.end());
  std::u16string w(s.size() * 2 + 1, u'\0');
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), static_cast<int>(w.size()));
  w.resize(n > 0 ? n : 0);
  return w;
}

std::string WideToAnsi(const std::u16string& s) {
  if (s.empty()) return {};
  if (Ansi().asciiSame && IsAscii(s.data(), s.size())) return std::string(s.begin(), s.end());
  std::string a(s.size() * 4 + 1, '\0');
  int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), a.data(), static_cast<int>(a.size()), nullptr, nullptr);
  a.resize(n > 0 ? n : 0);
  return a;
}

std::u16string Utf8ToWide(const std::string& s) {
  std::u16string w;
  DecodeUtf8(reinterpret_cast<const unsigned char*>(s.data()), s.size(), w, false);
  return w;
}

std::string WideToUtf8(const std::u16string& s) {
  std::string out;
  EncodeUtf8(s.data(), s.size(), out);
  return out;
}

std::string AnsiToUtf8(const std::string& s) { return WideToUtf8(AnsiToWide(s)); }
std::string Utf8ToAnsi(const std::string& s) { return WideToAnsi(Utf8ToWide(s)); }

}  // namespace vtx
