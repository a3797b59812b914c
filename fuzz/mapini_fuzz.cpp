// map.ini as the filters read it, and the name look-ups over a page: the input is a map.ini text,
// then (after the first NUL) a page. Whatever the map holds, the look-ups at every place of the
// page agree with one another (the first-character index with the walk over the map, the document
// with the text) and give three-letter codes only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filters/framework/feedtext.h"
#include "filters/framework/mapini.h"
#include "platform/codepage.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1u << 16) return 0;  // every place of the page walks the whole map
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t nul = input.find('\0');
  std::string mapText = input.substr(0, nul);
  std::string page = nul == std::string::npos ? std::string("Euro 1.0\r\nU.S. dollar 1.2") : input.substr(nul + 1);
  page.resize(std::strlen(page.c_str()));

  CMapIni map;
  CStringW wide;
  wide = mapText.c_str();
  if (wide.IsNull() || !map.SetBuffer(wide.GetBuffer())) return 0;
  if (FAILED(map.Load(g_MapIniTable, kMapIniTableRows))) return 0;

  CMapDocument document;
  bool converted = document.Set(page.c_str());
  CNameIndex index;
  bool indexed = index.Build(map);
  CNameScanner scanner(map, page.c_str());
  for (size_t i = 0; i <= page.size(); ++i) {
    const char* place = page.c_str() + i;
    char viaScanner[4] = "", viaWalk[4] = "";
    bool found = scanner.LookupAt(place, viaScanner);
    if (found) Check(IsCurrencyCode(viaScanner));
    if (!converted) continue;
    const char16_t* at = document.At(place);
    if (!at) continue;
    bool walked = LookupCurrencyNameAt(map, document, place, false, viaWalk);
    if (indexed) {
      char viaIndex[4] = "";
      Check(index.Lookup(at, viaIndex) == walked);
      Check(!walked || std::strcmp(viaIndex, viaWalk) == 0);
    }
    Check(!found || (walked && std::strcmp(viaScanner, viaWalk) == 0));
  }
  char code[4];
  LookupCurrencyCode(map, page.c_str(), code);
  FindCodeAlias(map, page.c_str());
  LookupCurrencyName(map, page.c_str(), true, code);
  return 0;
}
