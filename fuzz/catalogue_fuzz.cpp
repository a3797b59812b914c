// A language catalogue as the programs load it (written to a private file first), its texts and
// message table, and message formatting over any format text: the catalogue's own texts and the
// input's first line as a format, each with inserts of every kind, plural choices included.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "engine/foundation/resourcelib.h"
#include "fuzz/privatestore.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "platform/resources.h"

namespace {

void Format(DWORD flags, const void* source, DWORD id) {
  static const char16_t wide[] = u"wide \u00E9";
  auto inserts = vtx::MakeInserts("text", 7u, -3, wide, 0xFFFFFFFFu, "", 2u, 1u, 0u);
  FormatInserts in = vtx::InsertsOf(inserts);
  char* out = nullptr;
  if (FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, id, 0, reinterpret_cast<LPSTR>(&out), 0, &in))
    LocalFree(out);
  char small[16];
  FormatMessageA(flags, source, id, 0, small, sizeof small, &in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    fuzzstore::UsePrivateStore("catalogue");
    return std::string(std::getenv(vtx::env::kRuntimeDir)) + "/fuzz.cat";
  }();
  if (size > 1u << 20) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  // The input's first line as a format text of its own.
  std::string first = text.substr(0, text.find('\n'));
  first.resize(std::strlen(first.c_str()));
  Format(FORMAT_MESSAGE_FROM_STRING, first.c_str(), 0);
  const DWORD values[] = {0, 1, 2, 17};
  CStringA chosen;
  vtx::RewriteChoices(first.c_str(), values, 4, chosen);
  const char* end = nullptr;
  GetPercentArgNum(first.c_str(), &end);

  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) return 0;
  // The ids the text names at its line starts, and a few fixed ones.
  DWORD ids[16] = {32, 83, 94, 174, 0x40000001, 0xC0000004};
  size_t count = 6;
  for (size_t at = 0; at < text.size() && count < 16; at = text.find('\n', at) + 1) {
    char* stop = nullptr;
    unsigned long id = std::strtoul(text.c_str() + at, &stop, 0);
    if (stop != text.c_str() + at) ids[count++] = static_cast<DWORD>(id);
    if (text.find('\n', at) == std::string::npos) break;
  }
  for (size_t i = 0; i < count; ++i) {
    char buffer[64];
    LoadStringA(module, ids[i], buffer, sizeof buffer);
    char16_t* direct = nullptr;
    LoadStringW(module, ids[i], reinterpret_cast<LPWSTR>(&direct), 0);
    std::string table;
    vtx::MessageTableText(module, ids[i], table);
    Format(FORMAT_MESSAGE_FROM_HMODULE, module, ids[i]);
    if (char* p = PrintFormatMessage(ids[i], module, "a", "b", "c")) LocalFree(p);
    if (char* p = PrintFormatMessageNum(ids[i], module, 0u, 1u, 5u)) LocalFree(p);
    LoadText(module, ids[i]);
  }
  if (char* items = FormatItems("a\tb\tc", 96, 97, module)) LocalFree(items);
  FreeLibrary(module);
  return 0;
}
