#include "engine/update/updatesettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/currency/ratesdata.h"
#include "engine/foundation/inidatabuffer.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/systime.h"
#include "tests/engine/update/ownerwindow.h"
#include "tests/support/store.h"

namespace {

HRESULT Apply(CSettings& s, const char* text) {
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text)) return E_OUTOFMEMORY;
  HRESULT hr = ini.Load(g_IniTable, kIniTableCount);
  if (hr) return hr;
  s.LoadINIBegin();
  hr = s.LoadINI(ini, nullptr, nullptr, false);
  if (hr == 0) s.LoadINIEnd();
  return hr;
}

double Rate(const CSettings& s, const char* code) {
  int32_t i = s.GetData()->IFind(code);
  return i < 0 ? -99.0 : s.GetRates()[static_cast<uint32_t>(i)]->dRate;
}

std::string Take(char* text) {
  std::string s = text ? text : "";
  if (text) GlobalFree(text);
  return s;
}

class UpdateSettingsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vtxtest::SuiteStore().Use();
  }
  void SetUp() override { ASSERT_TRUE(live.Create(nullptr)); }
  CSettings live;
};

TEST(IsTimeToLoadEMU, SevenDaysAfterTheLaterStamp) {
  constexpr uint64_t kDay = 864000000000ull;
  const uint64_t now = 1000 * kDay;
  struct Case {
    uint64_t success, failure;
    bool due;
  } cases[] = {
      {0, 0, true},
      {now - 7 * kDay, 0, true},
      {now - 7 * kDay + 1, 0, false},
      {now - 8 * kDay, now - 6 * kDay, false},  // the later one counts
      {now - 6 * kDay, now - 8 * kDay, false},
      {0, now - 9 * kDay, true},
      {now + kDay, 0, false},  // a stamp in the future
  };
  for (const auto& c : cases)
    EXPECT_EQ(vtx::settings::IsTimeToLoadEMU(c.success, c.failure, now), c.due) << c.success << " " << c.failure;
}

TEST_F(UpdateSettingsTest, ActiveRatesCompareByCodeAndRate) {
  ASSERT_EQ(Apply(live, "[EUR]\nUSD = 1.10\nJPY = 160\n"), 0u);
  CUpdateSettings s(live);
  CStringList<char> before;
  ASSERT_TRUE(s.CopyActiveCurrencies(before));
  EXPECT_EQ(before.GetCount(), live.GetRates().Active.GetCount());
  EXPECT_FALSE(s.ActiveRatesDiffer(before));

  ASSERT_EQ(Apply(live, "[EUR]\nusd = 1.10\nJPY = 160\n"), 0u);  // same rates again
  EXPECT_FALSE(s.ActiveRatesDiffer(before));
  ASSERT_EQ(Apply(live, "[EUR]\nUSD = 1.11\nJPY = 160\n"), 0u);
  EXPECT_TRUE(s.ActiveRatesDiffer(before));
  ASSERT_TRUE(s.CopyActiveCurrencies(before));
  ASSERT_EQ(Apply(live, "[EUR]\nUSD = 1.11\n"), 0u);  // JPY gone
  EXPECT_TRUE(s.ActiveRatesDiffer(before));
  ASSERT_TRUE(s.CopyActiveCurrencies(before));
  ASSERT_EQ(Apply(live, "[EUR]\nUSD = 1.11\nGBP = 0.85\n"), 0u);  // GBP new
  EXPECT_TRUE(s.ActiveRatesDiffer(before));
}

TEST_F(UpdateSettingsTest, ValuesAndCopies) {
  CSettingsData& d = *live.GetData();
  d.HangUp = 1;
  d.CustomAction = "action.sh";
  d.ExecuteCustomAction = 2;
  d.UnknownCurrencies = 2;
  d.Proxy = 1;
  d.ProxyServer = "proxy:8080";
  d.Modem = 1;
  d.DialUp = "line";
  d.ServerUserName = "user";
  d.EMULoadSuccess = FILETIME{0, 0};
  d.EMULoadFailure = FILETIME{0, 0};
  CUpdateSettings s(live);
  EXPECT_TRUE(s.IsTimeToLoadEMU());
  EXPECT_TRUE(s.HasCustomAction());
  EXPECT_EQ(s.GetExecuteCustomAction(), 2u);
  EXPECT_EQ(s.GetUnknownCurrencies(), 2u);
  INetConnectionSettings c;
  s.GetConnectionSettings(c);
  EXPECT_EQ(c.Proxy, 1u);
  EXPECT_STREQ(c.ProxyServer.c_str(), "proxy:8080");
  EXPECT_TRUE(c.Modem);
  EXPECT_STREQ(c.DialUp.c_str(), "line");
  EXPECT_STREQ(c.ServerUserName.c_str(), "user");

  CUpdateSettings copy;
  ASSERT_TRUE(copy.CopyFrom(s));
  copy.SetHangUp(FALSE);
  EXPECT_FALSE(copy.GetHangUp());
  EXPECT_TRUE(s.GetHangUp());  // a copy of its own
  EXPECT_STREQ(copy.Get().GetData()->CustomAction.c_str(), "action.sh");

  // The copy runs its own custom action: without a product folder there is nothing to start from.
  char* error = reinterpret_cast<char*>(1);
  EXPECT_TRUE(FAILED(copy.ExecuteCustomAction(nullptr, &error)));
  EXPECT_EQ(error, nullptr);
}

TEST_F(UpdateSettingsTest, NewCodesAgainstTheBuiltInTable) {
  CUpdateSettings s(live);
  char* codes = nullptr;
  uint32_t count = 9;
  ASSERT_EQ(s.CompareWithBuiltInTable(&codes, &count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Take(codes), "");

  CurrencyData added;
  InitCurrencyData(added, "XQZ");
  ASSERT_TRUE(live.GetData()->Currencies.Add(added));
  ASSERT_EQ(s.CompareWithBuiltInTable(&codes, &count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Take(codes), "XQZ");
}

// The run applies a rates file to the thread's copy; the hand-over stores it in the registry.
class RatesRun : public IUpdateEngine {
 public:
  HRESULT UpdateRun(CUpdateThread& t) override {
    return Apply(static_cast<CUpdateSettings&>(t.GetSettings()).Get(), "[EUR]\nUSD = 1.2345\n");
  }
  HRESULT CheckDefinitions(CUpdateThread&, const char*) override { return S_OK; }
  void Notify(CUpdateThread&, HWND, const char*, const char*, UINT, HMODULE) override {}
  void ArchiveRun(CUpdateThread&) override {}
  void HangUp(const IUpdateSettings&) override {}
};

class NoSchedule : public IUpdateSchedule {
 public:
  void SetLastAttempt(bool ok) override { succeeded = ok; }
  void Schedule(IUpdateSettings&, HWND) override {}
  void ArmLastChangeTimer(IUpdateSettings&, HWND) override {}
  void ArmLastChangeEachTimer(IUpdateSettings&, HWND) override {}
  bool succeeded = false;
};

UpdateServerState* g_state = nullptr;

LRESULT ServerProc(HWND, UINT msg, WPARAM w, LPARAM l) {
  LRESULT r = 0;
  if (g_state) HandleUpdateReport(*g_state, msg, w, l, &r);
  return r;
}

TEST_F(UpdateSettingsTest, ARunsRatesReachTheStoreThroughTheServersSettings) {
  // A definitions check is not due, so the run is the rates update alone.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  live.GetData()->EMULoadSuccess = now;
  CUpdateSettings liveView(live);
  RatesRun engine;
  NoSchedule schedule;
  CUpdateThread thread(std::make_unique<CUpdateSettings>(), engine);
  UpdateServerState state;
  std::thread server([&] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ServerProc;
    wc.lpszClassName = "UpdateSettingsTestServer";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    state = UpdateServerState{&liveView, &thread, &schedule, hwnd, nullptr, false, E_FAIL};
    g_state = &state;
    ASSERT_EQ(thread.Start(nullptr, false), S_OK);
    ASSERT_EQ(thread.PostUpdate(liveView, hwnd, nullptr, false), S_OK);
    WaitWhileUpdating(thread, hwnd);
    EXPECT_EQ(thread.Stop(INFINITE), S_OK);
    g_state = nullptr;
    DestroyWindow(hwnd);
    UnregisterClassA(wc.lpszClassName, nullptr);
  });
  server.join();
  EXPECT_EQ(state.lastUpdateResult, S_OK);
  EXPECT_TRUE(schedule.succeeded);
  EXPECT_EQ(Rate(live, "USD"), 1.2345);
  CSettings reloaded;
  ASSERT_TRUE(reloaded.Create(nullptr));
  EXPECT_EQ(Rate(reloaded, "USD"), 1.2345);
}

}  // namespace
