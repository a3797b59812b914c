#include "engine/update/ratechecks.h"

#include <cstring>

#include "platform/heap.h"

namespace vtx::update {

// A record's block begins with its code, so the list's own search finds it.
int32_t FindRecord(const CStringList<char>& list, const char* code) { return list.IFind(code); }

namespace {
// " (English name)", or empty.
std::string NameSuffix(CCurrencyLocaleList* locales, const char* code) {
  CStringW wide;
  if (!locales || !code || !locales->GetCurrencyName(wide, code, false, 1033) || wide.IsEmpty()) return "";
  CStringA name;
  name = wide.c_str();
  return name.IsEmpty() ? "" : std::string(" (") + name.c_str() + ")";
}
}  // namespace

std::string CodeWithName(CSettings& settings, const char* code) {
  return CodeWithName(settings.GetLocaleList(), code);
}

std::string CodeWithName(CCurrencyLocaleList* locales, const char* code) {
  return std::string(code ? code : "") + NameSuffix(locales, code);
}

std::string CheckFlags(CSettings& settings, uint32_t bits, uint32_t mode, uint32_t* count) {
  char* text = settings.CheckFlags(bits, count, mode);
  std::string out = text ? text : "";
  if (text) GlobalFree(text);
  return out;
}

}  // namespace vtx::update
