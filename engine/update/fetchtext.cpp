#include "engine/update/fetchtext.h"

#include <cstdio>
#include <string>

#include "engine/foundation/resourcelib.h"
#include "engine/foundation/timetext.h"
#include "platform/errors.h"
#include "platform/systime.h"

namespace {

// A resource string, empty when it is missing.
CStringA ResourceText(HMODULE module, UINT id) { return CStringA(LoadText(module, id, 1023).c_str()); }

}  // namespace

void FormatFetchText(CStringA* out, const char* fallback, UINT id, HMODULE module, const char* insert1,
                     const char* insert2) {
  if (!out) return;
  char* text = nullptr;
  if (module) {
    text = insert2 ? PrintFormatMessage(id, module, insert1 ? insert1 : "", insert2)
                   : PrintFormatMessage(id, module, insert1 ? insert1 : "");
  }
  if (text) {
    *out = text;
    LocalFree(text);
  } else {
    *out = fallback;
  }
}

void FilterExitText(DWORD code, HMODULE module, CStringA* errorText) {
  if (!errorText) return;
  CStringA first, second;
  DWORD low = code & 0x1FFF;
  DWORD family = (code >> 13) & 7;
  if ((code & 0x1FFF0000) == 0x00040000 && family != 0) {
    // The family's text; the content failures (family 6) and the data provider's (family 7) by number.
    static const UINT kFamilyText[] = {0, 445, 446, 447, 448, 449, 450};
    static const UINT kContentText[] = {451, 452, 453, 454};
    static const UINT kProviderText[] = {466, 467, 468, 469, 470, 471};
    if (family <= 6) first = ResourceText(module, kFamilyText[family]);
    if (family == 6 && low <= 3) second = ResourceText(module, kContentText[low]);
    if (family == 7 && low <= 5) first = ResourceText(module, kProviderText[low]);
  } else {
    const char* system = vtx::SystemErrorText(code);
    std::string text = system ? system : "";
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '.')) text.pop_back();
    first = text.c_str();
  }
  char insert[2400];
  if (!first.IsEmpty() && !second.IsEmpty())
    std::snprintf(insert, sizeof insert, "0x%X (%s - %s)", code, first.c_str(), second.c_str());
  else if (!first.IsEmpty())
    std::snprintf(insert, sizeof insert, "0x%X (%s)", code, first.c_str());
  else
    std::snprintf(insert, sizeof insert, "0x%X", code);
  FormatFetchText(errorText, insert, 209, module, insert);
}

void FetchTimeText(char* buffer, size_t size) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (!TimeToString(now, buffer, size) && size) buffer[0] = 0;
}
