// A private store with rates for the web library's tests, and helpers that write settings.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/regvalue.h"
#include "tests/support/store.h"
#include "tests/support/text.h"
#include "webservice/web/operations.h"

namespace vtxtest {

inline PrivateStore& WebDir() { return SuiteStore(); }

// USD, GBP and JPY with rates, CHF with a rate of 0 (not set).
constexpr char kRates[] =
    "[General]\nSource = Test bank\n"
    "[EUR]\nUSD = 1.25\nGBP = 0.8\nJPY = 160\nCHF = 0\n"
    "[Smallest]\nJPY = 1\n";

inline void SeedStore(const std::string& rates = kRates) {
  ASSERT_TRUE(vtx::currency::DeleteKey(g_szAppKey));
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  CIniDataBuffer<char> ini;
  ASSERT_TRUE(ini.SetBuffer(rates.c_str()));
  ASSERT_EQ(0u, ini.Load(g_IniTable, kIniTableCount));
  s.LoadINIBegin();
  ASSERT_EQ(0u, s.LoadINI(ini, nullptr, nullptr, false));
  s.LoadINIEnd();
  ASSERT_EQ(0u, s.Save());
  ASSERT_EQ(0u, s.SaveINI());
}

inline void SetString(const char* name, const char* value) {
  HKEY key;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  ASSERT_EQ(0, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                              static_cast<DWORD>(std::strlen(value) + 1)));
  RegCloseKey(key);
}

// The store every test starts from: the rates above, no validator, no catalogue.
class WebTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WebDir().Use();
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void SetUp() override { SeedStore(); }
};

inline ManagedString M(const char* s) { return s ? ManagedString(Str<char16_t>(s)) : ManagedString(); }
// UTF-8 of a result, "<null>" for none.
inline std::string N(const ManagedString& s) {
  if (!s) return "<null>";
  std::string out;
  for (size_t i = 0; i < s->size(); ++i) {
    uint32_t c = (*s)[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s->size()) c = 0x10000 + ((c - 0xD800) << 10) + ((*s)[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
// A managed string from UTF-8.
inline ManagedString U(const char* utf8) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8);
  while (*p) {
    uint32_t c = *p++;
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (extra) c &= 0x3Fu >> extra;
    for (int i = 0; i < extra; ++i) c = (c << 6) | (*p++ & 0x3F);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace vtxtest
