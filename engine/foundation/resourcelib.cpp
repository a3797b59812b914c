#include "engine/foundation/resourcelib.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/locale.h"
#include "platform/numtext.h"

namespace {

constexpr int kTextMax = 4000;
constexpr int kSeparatorMax = 100;
constexpr int kCaptionMax = 500;
constexpr int kHResultCaptionMax = 200;
constexpr UINT kErrorBoxStyle = 0x10010;  // MB_OK | MB_ICONHAND | MB_SETFOREGROUND

int HeadlessBox(void*, const char* text, const char* caption, UINT type) {
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  return vtx::DefaultMessageBoxAnswer(type);
}

std::atomic<vtx::MessageBoxHandler> g_box{HeadlessBox};

char* LocalCopy(const std::string& s) {
  char* block = static_cast<char*>(LocalAlloc(0, s.size() + 1));
  if (block) std::memcpy(block, s.c_str(), s.size() + 1);
  return block;
}

// Formats a narrow text with the inserts into a LocalAlloc block.
char* FormatText(const char* text, DWORD extraFlags, const FormatInserts& inserts) {
  char* out = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | extraFlags, text, 0, 0,
                           reinterpret_cast<LPSTR>(&out), 0, &inserts);
  if (n) return out;
  // An empty text is still a text.
  if (GetLastError() == ERROR_SUCCESS) return LocalCopy("");
  return nullptr;
}

}  // namespace

std::string LoadText(HMODULE module, UINT id, int max) {
  if (max <= 0) return {};
  std::string text(static_cast<size_t>(max) + 1, '\0');
  int n = LoadStringA(module, id, text.data(), max + 1);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

namespace {
struct LocalString {
  char* p = nullptr;
  ~LocalString() {
    if (p) LocalFree(p);
  }
};
}  // namespace

std::string FormatString(HMODULE module, UINT id, std::initializer_list<FormatInsert> inserts) {
  std::string source = LoadText(module, id, kTextMax);
  if (source.empty()) return source;
  std::vector<FormatInsert> items(inserts);
  std::vector<DWORD> values;
  for (const FormatInsert& i : items)
    values.push_back(i.kind == FormatInsert::Kind::Unsigned ? static_cast<DWORD>(i.u)
                     : i.kind == FormatInsert::Kind::Signed ? static_cast<DWORD>(i.i)
                                                            : 0u);
  CStringA rewritten;
  if (!vtx::RewriteChoices(source.c_str(), values.data(), values.size(), rewritten)) return "";
  FormatInserts all{items.data(), items.size()};
  LocalString out;
  if (!FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                      rewritten.c_str(), 0, 0, reinterpret_cast<LPSTR>(&out.p), 0, &all) ||
      !out.p)
    return "";
  return out.p;
}

namespace vtx {

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  return g_box.exchange(handler ? handler : HeadlessBox);
}

int ShowMessageBox(void* window, const char* text, const char* caption, UINT type) {
  return g_box.load()(window, text, caption, type);
}

int DefaultMessageBoxAnswer(UINT type) {
  // IDOK 1, IDCANCEL 2, IDABORT 3, IDRETRY 4, IDIGNORE 5, IDYES 6, IDNO 7, IDTRYAGAIN 10, IDCONTINUE 11
  static const std::vector<int> kButtons[] = {{1}, {1, 2}, {3, 4, 5}, {6, 7, 2}, {6, 7}, {4, 2}, {2, 10, 11}};
  UINT set = type & 0xF;
  if (set >= sizeof kButtons / sizeof kButtons[0]) set = 0;
  size_t def = (type >> 8) & 0xF;
  const auto& buttons = kButtons[set];
  return def < buttons.size() ? buttons[def] : buttons[0];
}

char* PrintFormatMessageV(UINT id, HMODULE module, const FormatInserts& inserts) {
  char text[kTextMax];
  if (LoadStringA(module, id, text, kTextMax) <= 0) return nullptr;
  return FormatText(text, 0, inserts);
}

bool RewriteChoices(const char* text, const DWORD* values, size_t count, CStringA& result) {
  if (!text) return false;
  std::string out;
  const char* p = text;
  while (*p) {
    if (p[0] != '@' || p[1] != '%') {
      out += *p++;
      continue;
    }
    const char* end;
    int k = GetPercentArgNum(p + 2, &end);
    if (k < 0) {
      p += 2;
      if (*p) out += *p++;
      continue;
    }
    p = end;
    if (*p) ++p;  // the character after the number, never the NUL
    // An insert outside the ones given selects nothing.
    bool valid = k >= 1 && static_cast<size_t>(k) <= count && values;
    DWORD value = valid ? values[k - 1] : 0;
    bool taken = false;
    while (*p) {
      bool isDefault = false, take = false;
      if ((*p >= '0' && *p <= '9') || *p == '-') {
        const char* numberEnd;
        uint32_t n = vtx::TextToUnsigned(p, &numberEnd, 10);
        take = valid && !taken && n == value;
        p = numberEnd;
        if (*p) ++p;
      } else {
        isDefault = true;
        take = valid && !taken;
        ++p;
      }
      while (*p && *p != ':') {
        char c = *p;
        if (c == '\\' && p[1] == ':') {
          c = ':';
          p += 2;
        } else {
          ++p;
        }
        if (take) out += c;
      }
      if (*p == ':') ++p;
      if (take) taken = true;
      if (isDefault) break;
    }
  }
  result = out.c_str();
  return !result.IsNull();
}

char* PrintFormatMessageNumV(UINT id, HMODULE module, const DWORD* values, size_t count) {
  char text[kTextMax];
  if (LoadStringA(module, id, text, kTextMax) <= 0) return nullptr;
  CStringA rewritten;
  if (!RewriteChoices(text, values, count, rewritten)) return nullptr;
  std::vector<FormatInsert> items;
  for (size_t i = 0; i < count; ++i) items.emplace_back(values[i]);
  return FormatText(rewritten.c_str(), FORMAT_MESSAGE_ARGUMENT_ARRAY, FormatInserts{items.data(), items.size()});
}

int FormatMessageBoxV(void* window, UINT textId, UINT captionId, UINT type, HMODULE module,
                      const FormatInserts& inserts) {
  char caption[kCaptionMax];
  if (LoadStringA(module, captionId, caption, kCaptionMax) <= 0) return 0;
  char* text = PrintFormatMessageV(textId, module, inserts);
  if (!text) return 0;
  int result = ShowMessageBox(window, text, caption, type);
  LocalFree(text);
  return result;
}

}  // namespace vtx

HMODULE LoadResourceLibrary(const char* appKeyPath) {
  if (!appKeyPath) return nullptr;
  LANGID lang = GetUserDefaultLangID();
  LANGID primary = PRIMARYLANGID(lang);
  const LANGID candidates[] = {lang, primary, static_cast<LANGID>(primary | 0x400), static_cast<LANGID>(primary | 0x800),
                               0};
  for (LANGID id : candidates) {
    char name[32];
    std::snprintf(name, sizeof name, "Resources%04X", id);
    RegStringValueA path;
    if (FAILED(path.Load(HKEY_LOCAL_MACHINE, appKeyPath, name)) || !path.GetString() || !*path.GetString()) continue;
    if (HMODULE module = LoadLibraryA(path.GetString())) return module;
    // A catalogue that exists but does not load is worth a line: the program stops without it.
    if (GetLastError() == ERROR_BAD_FORMAT)
      std::fprintf(stderr, "vantrex: %s\n", vtx::LastCatalogueError().c_str());
  }
  return nullptr;
}

int GetPercentArgNum(const char* text, const char** end) {
  if (end) *end = text;
  if (!text || *text < '0' || *text > '9') return -1;
  int n = *text++ - '0';
  if (*text >= '0' && *text <= '9') n = n * 10 + (*text++ - '0');
  if (end) *end = text;
  return n;
}

char* FormatItems(const char* items, UINT separatorId, UINT lastSeparatorId, HMODULE module) {
  if (!items) return nullptr;
  char separator[kSeparatorMax], last[kSeparatorMax];
  if (LoadStringA(module, separatorId, separator, kSeparatorMax) <= 0 ||
      LoadStringA(module, lastSeparatorId, last, kSeparatorMax) <= 0)
    return nullptr;
  std::vector<std::string> parts;
  for (const char* p = items; *p;) {
    const char* tab = std::strchr(p, '\t');
    size_t n = tab ? static_cast<size_t>(tab - p) : std::strlen(p);
    if (n) parts.emplace_back(p, n);
    p += n;
    if (*p == '\t') ++p;
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) {
      out += i + 1 == parts.size() ? last : separator;
      out += ' ';
    }
    out += parts[i];
  }
  return LocalCopy(out);
}

int MessageBoxHResultOK(void* window, UINT textId, UINT captionId, HMODULE module, HRESULT hr) {
  char* system = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, hr, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&system), 0, nullptr);
  if (n && system) {
    char caption[kHResultCaptionMax];
    if (LoadStringA(module, captionId, caption, kHResultCaptionMax) <= 0) caption[0] = 0;
    int result = vtx::ShowMessageBox(window, system, caption, kErrorBoxStyle);
    LocalFree(system);
    return result;
  }
  return FormatMessageBox(window, textId, captionId, kErrorBoxStyle, module, static_cast<DWORD>(hr));
}
