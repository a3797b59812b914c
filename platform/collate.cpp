// CompareString on ICU's collators, one per locale and case rule on each thread.
#include <unicode/coll.h>
#include <unicode/uloc.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/locale.h"

namespace {

icu::Collator* CollatorFor(LCID lcid, bool ignoreCase) {
  thread_local std::map<std::pair<LCID, bool>, std::unique_ptr<icu::Collator>> cache;
  auto& slot = cache[{lcid, ignoreCase}];
  if (!slot) {
    char name[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
    if (U_FAILURE(status) || len <= 0) std::snprintf(name, sizeof name, "en_US");
    status = U_ZERO_ERROR;
    slot.reset(icu::Collator::createInstance(icu::Locale(name), status));
    if (U_FAILURE(status) || !slot) {
      status = U_ZERO_ERROR;
      slot.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
      if (U_FAILURE(status)) slot.reset();
    }
    if (slot) slot->setStrength(ignoreCase ? icu::Collator::SECONDARY : icu::Collator::TERTIARY);
  }
  return slot.get();
}

int Length(LPCWSTR s, int chars) {
  if (chars >= 0) return chars;
  int n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace

int CompareStringW(LCID locale, DWORD flags, LPCWSTR a, int aChars, LPCWSTR b, int bChars) {
  if (!a || !b) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  icu::Collator* c = CollatorFor(vtx::ResolveLcid(locale), (flags & NORM_IGNORECASE) != 0);
  if (!c) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult r = c->compare(a, Length(a, aChars), b, Length(b, bChars), status);
  if (U_FAILURE(status)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return r == UCOL_LESS ? CSTR_LESS_THAN : r == UCOL_EQUAL ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

int CompareStringA(LCID locale, DWORD flags, LPCSTR a, int aChars, LPCSTR b, int bChars) {
  if (!a || !b) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto widen = [](LPCSTR s, int chars) {
    int n = MultiByteToWideChar(CP_ACP, 0, s, chars, nullptr, 0);
    std::u16string w(n > 0 ? static_cast<size_t>(n) : 0, u'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, s, chars, w.data(), n);
    while (!w.empty() && w.back() == 0) w.pop_back();
    return w;
  };
  std::u16string wa = widen(a, aChars), wb = widen(b, bChars);
  return CompareStringW(locale, flags, wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()));
}
