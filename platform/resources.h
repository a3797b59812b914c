// The language resource library: a UTF-8 catalogue file of numbered texts and the message table
// (format: resources/README.md), loaded through LoadLibrary stand-ins; LoadString; FormatMessage
// over typed, counted inserts.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/types.h"

// Loads a catalogue file. Loading the same file again returns the same handle with one more
// reference. Null with last error 126 for a missing file, 11 for a malformed catalogue (the reason
// is in vtx::LastCatalogueError()).
HMODULE LoadLibraryA(LPCSTR path);
// Drops one reference; FALSE (last error 6) for a handle that is not loaded.
BOOL FreeLibrary(HMODULE module);

// Copies the text of string `id` into `buffer`, cut to size - 1 characters and terminated, and
// returns its length; 0 (last error 1814) when the string does not exist. LoadStringW with a size
// of 0 stores a read-only pointer to the text in `buffer` instead and returns its length.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int size);
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);

constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

// One insert of a formatted message. The type travels with the value, so that a format that does
// not fit the insert (a number shown with !s!) fails instead of reading garbage.
struct FormatInsert {
  enum class Kind : uint8_t { Text, WideText, Signed, Unsigned };
  Kind kind = Kind::Unsigned;
  const char* text = nullptr;
  const char16_t* wide = nullptr;
  int64_t i = 0;
  uint64_t u = 0;

  FormatInsert() = default;
  FormatInsert(const char* s) : kind(Kind::Text), text(s) {}
  FormatInsert(char* s) : kind(Kind::Text), text(s) {}
  FormatInsert(const char16_t* s) : kind(Kind::WideText), wide(s) {}
  FormatInsert(char16_t* s) : kind(Kind::WideText), wide(s) {}
  template <class N, std::enable_if_t<std::is_integral_v<N> && std::is_signed_v<N>, int> = 0>
  FormatInsert(N n) : kind(Kind::Signed), i(n) {}
  template <class N, std::enable_if_t<std::is_integral_v<N> && std::is_unsigned_v<N>, int> = 0>
  FormatInsert(N n) : kind(Kind::Unsigned), u(n) {}
};

// A counted array of inserts: %k with k above `count` fails the call (last error 87).
struct FormatInserts {
  const FormatInsert* items = nullptr;
  size_t count = 0;
};

// Windows FormatMessage: %1..%99 with optional !printf format!, %0 ends the text, %n line break,
// %r CR, %t TAB, %% and the like; IGNORE_INSERTS copies inserts as written. FROM_HMODULE reads
// the catalogue's message table (a null module: every loaded catalogue), FROM_SYSTEM the system
// texts of platform/errors. With ALLOCATE_BUFFER, `buffer` is the address of a pointer that
// receives a LocalAlloc block. Returns the characters stored without the NUL; 0 on failure.
// The language is accepted and ignored (a catalogue holds one language).
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     const FormatInserts* inserts);
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     const FormatInserts* inserts);

namespace vtx {

// The inserts of a call, as one array: `auto a = MakeInserts(name, count); FormatInserts in = a;`
template <class... A>
std::array<FormatInsert, sizeof...(A)> MakeInserts(const A&... args) {
  return {FormatInsert(args)...};
}
template <size_t N>
FormatInserts InsertsOf(const std::array<FormatInsert, N>& a) {
  return FormatInserts{a.data(), N};
}

// Why the last LoadLibraryA of this thread refused a catalogue ("file:line: reason").
const std::string& LastCatalogueError();

// The message-table text of `id` in `module`, or (null module) in the first loaded catalogue that
// has it, as UTF-8; false when there is none.
bool MessageTableText(HMODULE module, DWORD id, std::string& utf8);

}  // namespace vtx
