// The language resource library, texts formatted with numbered inserts and message boxes for
// results.
#pragma once
#include <cstddef>
#include <initializer_list>
#include <string>

#include "engine/foundation/cstring.h"
#include "platform/resources.h"
#include "platform/types.h"

// Tries the resource library of the user's language, then its primary language, the primary
// with sublanguages 1 and 2, then "Resources0000": the value "Resources%04X" under
// HKEY_LOCAL_MACHINE\<appKeyPath> names the catalogue. The caller frees the handle.
HMODULE LoadResourceLibrary(const char* appKeyPath);

// String `id` of the library, at most `max` characters; empty when it is missing.
std::string LoadText(HMODULE module, UINT id, int max = 4000);
// String `id` (at most 4000 characters) over the inserts; numeric inserts also pick the text's
// choices (vtx::RewriteChoices). Empty when the string is missing or names more inserts than given.
std::string FormatString(HMODULE module, UINT id, std::initializer_list<FormatInsert> inserts);

namespace vtx {
// Shows a message box and returns the button pressed. The handler in force until a program
// sets its own never waits: it writes the text to stderr and answers with the default button.
using MessageBoxHandler = int (*)(void* window, const char* text, const char* caption, UINT type);
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
int ShowMessageBox(void* window, const char* text, const char* caption, UINT type);
// The answer of a box nobody can see: its default button.
int DefaultMessageBoxAnswer(UINT type);

char* PrintFormatMessageV(UINT id, HMODULE module, const FormatInserts& inserts);
char* PrintFormatMessageNumV(UINT id, HMODULE module, const DWORD* values, size_t count);
int FormatMessageBoxV(void* window, UINT textId, UINT captionId, UINT type, HMODULE module,
                      const FormatInserts& inserts);
// The choice rewrite of PrintFormatMessageNum on a text: "@%k" followed by one character
// starts a choice on insert k; alternatives "<number><char>text:" and a default "<char>text:".
bool RewriteChoices(const char* text, const DWORD* values, size_t count, CStringA& out);
}  // namespace vtx

// String `id` (at most 4000 characters) formatted with the inserts; a LocalAlloc text the caller
// frees with LocalFree, or null. A text naming more inserts than were passed gives null.
template <class... A>
char* PrintFormatMessage(UINT id, HMODULE module, const A&... inserts) {
  auto a = vtx::MakeInserts(inserts...);
  return vtx::PrintFormatMessageV(id, module, FormatInserts{a.data(), a.size()});
}

// One or two decimal digits at `text` as a number, -1 when no digit is there; `end` follows them.
int GetPercentArgNum(const char* text, const char** end);

// String `id` with numeric inserts and choices (see vtx::RewriteChoices); LocalAlloc text or null.
template <class... A>
char* PrintFormatMessageNum(UINT id, HMODULE module, A... values) {
  const DWORD v[sizeof...(A) + 1] = {static_cast<DWORD>(values)..., 0};
  return vtx::PrintFormatMessageNumV(id, module, v, sizeof...(A));
}

// TAB-separated items joined with string `separatorId` and, before the last, `lastSeparatorId`,
// each followed by a blank; empty items are dropped. LocalAlloc text or null.
char* FormatItems(const char* items, UINT separatorId, UINT lastSeparatorId, HMODULE module);

// The text of `textId` formatted with the inserts, shown under the caption `captionId`; the box's
// result, or 0 when a string is missing.
template <class... A>
int FormatMessageBox(void* window, UINT textId, UINT captionId, UINT type, HMODULE module, const A&... inserts) {
  auto a = vtx::MakeInserts(inserts...);
  return vtx::FormatMessageBoxV(window, textId, captionId, type, module, FormatInserts{a.data(), a.size()});
}

// The system text of `hr` under the caption; without one, the text `textId` with the code as %1.
int MessageBoxHResultOK(void* window, UINT textId, UINT captionId, HMODULE module, HRESULT hr);
