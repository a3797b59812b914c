// A private store and runtime folder for the settings tests, and rates files applied from text.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "tests/engine/currency/store_fixture.h"

namespace vtxtest {

class SettingsTest : public CurrencyStoreTest {
 public:
  // Applies a rates file as the server does: begin, load, end.
  static HRESULT Apply(CSettings& s, const std::string& text, bool stored = false, uint32_t* line = nullptr,
                       CStringA* next = nullptr) {
    CIniDataBuffer<char> ini;
    if (!ini.SetBuffer(text.c_str())) return E_OUTOFMEMORY;
    HRESULT hr = ini.Load(g_IniTable, kIniTableCount);
    if (hr) return hr;
    s.LoadINIBegin();
    hr = s.LoadINI(ini, next, line, stored);
    if (hr == 0) s.LoadINIEnd();
    return hr;
  }

  static CurrencyInfo* Find(const CSettings& s, const char* code) {
    int32_t i = s.GetData()->IFind(code);
    return i < 0 ? nullptr : s.GetRates()[static_cast<uint32_t>(i)];
  }

  static double Rate(const CSettings& s, const char* code) {
    const CurrencyInfo* c = Find(s, code);
    return c ? c->dRate : -99.0;
  }

  static std::string Text(const char* s) { return s ? s : "<null>"; }
};

}  // namespace vtxtest
