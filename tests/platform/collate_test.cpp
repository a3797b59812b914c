// CompareString: a locale's collation, with and without case.
#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/locale.h"

namespace {

TEST(Collate, ComparesByTheLocalesRules) {
  struct Case {
    LCID lcid;
    DWORD flags;
    const char16_t* a;
    const char16_t* b;
    int result;
  } cases[] = {
      {1033, NORM_IGNORECASE, u"euro", u"EURO", CSTR_EQUAL},
      {1033, 0, u"euro", u"EURO", CSTR_LESS_THAN},
      {1033, NORM_IGNORECASE, u"\u00e9cu", u"Ecu", CSTR_GREATER_THAN},  // accents still count
      {1033, NORM_IGNORECASE, u"Zloty", u"\u00e9cu", CSTR_GREATER_THAN},  // not by code point
      {1033, NORM_IGNORECASE, u"", u"a", CSTR_LESS_THAN},
      {1053, NORM_IGNORECASE, u"\u00f6re", u"zloty", CSTR_GREATER_THAN},  // Swedish: after z
      {1031, NORM_IGNORECASE, u"\u00f6re", u"zloty", CSTR_LESS_THAN},
      {0x0400, NORM_IGNORECASE, u"b", u"A", CSTR_GREATER_THAN},
  };
  for (const Case& c : cases) EXPECT_EQ(CompareStringW(c.lcid, c.flags, c.a, -1, c.b, -1), c.result) << c.lcid;
  EXPECT_EQ(CompareStringW(1033, 0, u"abc", 2, u"abd", 2), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(1033, NORM_IGNORECASE, "Dollar", -1, "dollar", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringW(1033, 0, nullptr, -1, u"a", -1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
