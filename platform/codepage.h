// Code-page conversions and case-insensitive comparisons of both character widths.
#pragma once
#include <string>

#include "platform/types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_PRECOMPOSED = 0x1;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// Windows semantics: a source length of -1 means NUL-terminated, the NUL included in the count;
// a destination size of 0 asks for the length needed; a short destination gives 0 and last error 122.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcBytes, char16_t* dst, int dstChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* src, int srcChars, char* dst, int dstBytes,
                        const char* defaultChar, BOOL* usedDefault);

// _stricmp / _strnicmp / _wcsicmp / _wcsnicmp: ASCII letters fold to lower case, nothing else.
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t n);
int _wcsicmp(const char16_t* a, const char16_t* b);
int _wcsnicmp(const char16_t* a, const char16_t* b, size_t n);

namespace vtx {
// The code page that CP_ACP stands for ($VANTREX_CODEPAGE, else Windows-1252), as its iconv name.
const char* AnsiCodePageName();
bool AnsiCodePageIsUtf8();
// The character of the UTF-8 text at `text` (n bytes there) and the bytes it takes, as the
// conversions decode it: an invalid byte stands for U+FFFD and takes one byte, an encoded surrogate
// for one U+FFFD and its three bytes. 0 only when n is 0.
size_t Utf8Next(const char* text, size_t n, uint32_t* cp, bool* valid = nullptr);
// ASCII characters are the same bytes in the ANSI code page (UTF-8 and every common page).
bool AnsiCodePageKeepsAscii();
// Unicode case-insensitive comparison (simple case folding, locale-independent).
int UnicodeICompare(const char16_t* a, const char16_t* b);
int UnicodeICompare(const char* aUtf8, const char* bUtf8);
char16_t UnicodeFold(char16_t c);
char16_t UnicodeUpper(char16_t c);
char16_t UnicodeLower(char16_t c);
bool UnicodeIsAlphaNumeric(char16_t c);
bool UnicodeIsAlpha(char16_t c);

size_t StrLen16(const char16_t* s);
// Conversions for the layer and for tests (the engine calls the Windows forms).
std::u16string AnsiToWide(const std::string& s);
std::string WideToAnsi(const std::u16string& s);
std::u16string Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::u16string& s);
std::string AnsiToUtf8(const std::string& s);
std::string Utf8ToAnsi(const std::string& s);
}  // namespace vtx
