// eurfeed's page parser on arbitrary pages. A page either has no rates (0x8004C001) or gives a
// rates text that the server's INI reader loads whole, every rate a text that reads whole as a
// number (the server itself refuses the ones it cannot take).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/foundation/inidatabuffer.h"
#include "filters/eurfeed/refrates.h"
#include "filters/framework/feedtext.h"

namespace {

CMapIni& Map() {
  static CMapIni* map = [] {
    auto* m = new CMapIni;
    if (!m->SetBuffer(u"[Codes]\r\nCNY = RMB\r\nXXX = XTS\r\n") || m->Load(g_MapIniTable, kMapIniTableRows) != 0)
      __builtin_trap();
    return m;
  }();
  return *map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The program reads the file with a NUL after it; a NUL inside ends the page there.
  std::string page(reinterpret_cast<const char*>(data), size);
  CFilterOutput out;
  DWORD code = ConvertReferencePage(page.c_str(), static_cast<uint32_t>(size), Map(), out);
  if (code == 0x8004C001u) return 0;
  if (code != 0) __builtin_trap();

  std::string text(out.Text(), out.Length());
  if (text.compare(0, 11, "[General]\r\n") != 0 || std::strlen(text.c_str()) != text.size()) __builtin_trap();
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str()) || ini.Load(nullptr, 0) != 0) __builtin_trap();
  const char* section = "";
  for (CIniDataBuffer<char>::Row row : ini) {
    const char* name = CIniDataBuffer<char>::GetName(row);
    if (CIniDataBuffer<char>::GetType(row) == IniTypeSection) {
      section = name;
      continue;
    }
    const char* value = CIniDataBuffer<char>::GetStringValue(row);
    if (!value) __builtin_trap();
    if (std::strcmp(section, "EUR") == 0 && (std::strlen(name) != 3 || !ReadsWholeAsNumber(value))) __builtin_trap();
  }
  return 0;
}
