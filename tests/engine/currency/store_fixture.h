// A private registry store for the currency tests, emptied before each test.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "tests/support/store.h"

namespace vtxtest {

class CurrencyStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SuiteStore().Use(); }
  void SetUp() override { ASSERT_TRUE(vtx::currency::DeleteKey(g_szAppKey)); }
};

// INI data kept in memory, for building stored keys row by row.
template <class T>
class MemoryIni : public CIniData<T> {
 public:
  HRESULT Load(const IniTableEntry<T>*, uint32_t) override { return 0; }
  HRESULT Save() override { return 0; }
};

// Rewrites a key from rows that `fill` adds.
template <class T>
HRESULT WriteKey(const char* path, const std::function<void(CIniData<T>&)>& fill) {
  return vtx::currency::SaveIni(path, std::function<HRESULT(CIniData<T>&)>([&](CIniData<T>& data) {
                                  fill(data);
                                  return HRESULT{0};
                                }));
}

}  // namespace vtxtest
