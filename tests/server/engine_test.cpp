// The server with the engine behind its seams: the real settings in a private store and the real
// update thread, with a run of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/regvalue.h"
#include "engine/update/updatesettings.h"
#include "platform/native/productpaths.h"
#include "platform/sync.h"
#include "server/app.h"
#include "server/engine.h"
#include "tests/server/fakes.h"
#include "tests/support/storetest.h"
#include "tests/support/wait.h"

namespace {

using namespace vtx::server;

// Applies a fixed rates file to the thread's copy, or fails with `result`.
class TestEngine : public CUpdateEngine {
 public:
  HRESULT UpdateRun(CUpdateThread& thread) override {
    ++runs;
    if (delayMs) Sleep(delayMs);
    // A run that waits for something that never comes, until the program stops.
    while (untilStopped && !vtx::sync::StopRequested()) Sleep(5);
    if (untilStopped) return HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED);
    if (FAILED(result)) return result;
    CSettings& settings = static_cast<CUpdateSettings&>(thread.GetSettings()).Get();
    CIniDataBuffer<char> ini;
    if (!ini.SetBuffer("[General]\r\nSource = test\r\n[EUR]\r\nUSD = 1.25\r\nJPY = 130.5\r\n")) return E_OUTOFMEMORY;
    HRESULT hr = ini.Load(g_IniTable, kIniTableCount);
    if (FAILED(hr)) return hr;
    settings.LoadINIBegin();
    hr = settings.LoadINI(ini, nullptr, nullptr, false);
    settings.LoadINIEnd();
    return hr;
  }
  void Notify(CUpdateThread&, HWND, const char* text, const char*, UINT, HMODULE) override {
    notices.push_back(text ? text : "");
  }
  // The maker's host is no place for tests.
  HRESULT CheckDefinitions(CUpdateThread&, const char*) override { return S_OK; }
  HRESULT result = S_OK;
  DWORD delayMs = 0;
  bool untilStopped = false;
  std::atomic<int> runs{0};
  std::vector<std::string> notices;
};

struct EngineRig {
  EngineRig() : scheduler(engine), notifications(scheduler.Thread()) {}
  Seams seams() { return Seams{&store, &scheduler, &notifications, &resources, &events, &link, &pipe, &internet}; }
  EngineStore store;
  TestEngine engine;
  EngineScheduler scheduler;
  BuiltInResources resources;
  EngineNotifications notifications;
  StderrEventLog events;
  VxvLink link;
  AppPipe pipe;
  NoInternet internet;
};

class ServerWithEngine : public vtxtest::PrivateStoreTest {
 protected:
  void Start() {
    thread = std::thread([this] { RunServer({}, rig.seams()); });
    ASSERT_TRUE(vtxtest::Eventually([this] { return (hwnd = FindWindowA(g_szAppWindowClass, nullptr)) != nullptr; }));
  }
  void TearDown() override {
    if (thread.joinable()) {
      SendMessageA(hwnd, WM_VX_QUIT, 0, 0);
      thread.join();
    }
    vtxtest::PrivateStoreTest::TearDown();
  }
  double StoredRate(const char* code) {
    CSettings stored;
    if (!stored.Create(nullptr)) return -2;
    CRatesData& rates = stored.GetRates();
    for (uint32_t i = 0; i < rates.Active.GetCount(); ++i)
      if (std::strcmp(rates[i]->szCode, code) == 0) return rates[i]->dRate;
    return -3;
  }

  EngineRig rig;
  std::thread thread;
  HWND hwnd = nullptr;
};

TEST_F(ServerWithEngine, UpdateNowRunsOnTheThreadAndStoresItsRates) {
  Start();
  EXPECT_EQ(static_cast<HRESULT>(SendMessageA(hwnd, WM_VX_UPDATENOW, 0, 0)), S_OK);
  EXPECT_EQ(rig.engine.runs.load(), 1);
  EXPECT_DOUBLE_EQ(StoredRate("USD"), 1.25);
  EXPECT_DOUBLE_EQ(StoredRate("JPY"), 130.5);
  RegBinaryValue saved;
  EXPECT_EQ(saved.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "LastSaved"), S_OK);
}

TEST_F(ServerWithEngine, AFailedRunReturnsItsCodeAndStoresNothing) {
  rig.engine.result = 0x80040123;
  Start();
  EXPECT_EQ(static_cast<HRESULT>(SendMessageA(hwnd, WM_VX_UPDATENOW, 0, 0)), 0x80040123u);
  EXPECT_EQ(StoredRate("USD"), -3);  // no such record: nothing was stored
}

TEST_F(ServerWithEngine, QuitDuringAnAutomaticRunStillStoresItsRates) {
  RegDwordValue on(1);
  ASSERT_EQ(on.Save(HKEY_LOCAL_MACHINE, g_szAppKey, "AutoUpdate"), S_OK);
  rig.engine.delayMs = 500;
  Start();
  ASSERT_TRUE(vtxtest::Eventually([this] { return rig.engine.runs.load() != 0; }));
  ASSERT_EQ(rig.engine.runs.load(), 1);  // the first automatic run is under way
  SendMessageA(hwnd, WM_VX_QUIT, 0, 0);
  thread.join();
  EXPECT_FALSE(rig.scheduler.IsBusy());
  EXPECT_DOUBLE_EQ(StoredRate("USD"), 1.25);
}

// The quit command gives up a run that waits (for a download, a filter, a notice): the run is a
// failed attempt, the one who asked for it hears so, and the stored rates stay as they were.
TEST_F(ServerWithEngine, QuitAbandonsARunThatWaits) {
  rig.engine.untilStopped = true;
  Start();
  std::atomic<HRESULT> asked{S_OK};
  std::thread updater([&] { asked = static_cast<HRESULT>(SendMessageA(hwnd, WM_VX_UPDATENOW, 0, 0)); });
  for (int i = 0; i < 1000 && rig.engine.runs.load() == 0; ++i) Sleep(5);
  ASSERT_EQ(rig.engine.runs.load(), 1);
  HWND window = hwnd;
  std::thread quitter([window] { SendMessageA(window, WM_VX_QUIT, 0, 0); });
  updater.join();
  quitter.join();
  thread.join();
  EXPECT_EQ(asked.load(), HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(rig.scheduler.IsBusy());
  EXPECT_EQ(StoredRate("USD"), -3);
  EXPECT_FALSE(vtx::sync::StopRequested()) << "a run of the program ends with the stop taken back";
}

TEST_F(ServerWithEngine, HitsAreCountedInTheStore) {
  ASSERT_TRUE(SetUnitHits("USD", 5));
  uint64_t changes = 0, after = 0;
  ASSERT_EQ(vtx::RegistryChangeCount(&changes), ERROR_SUCCESS);
  Start();
  const DWORD usd = 'U' | 'S' << 8 | 'D' << 16;
  EXPECT_EQ(SendMessageA(hwnd, WM_VX_COUNTHIT, usd, 0), 1);
  EXPECT_EQ(SendMessageA(hwnd, WM_VX_COUNTHIT, usd, 20), 1);
  SendMessageA(hwnd, WM_VX_QUIT, 0, 0);
  thread.join();
  DWORD count = 0;
  ASSERT_TRUE(GetUnitHits("USD", &count));
  EXPECT_EQ(count, 26u);
  // Counting is no change of the configuration: the store's change counter moved only for the
  // server's own saves.
  ASSERT_TRUE(SetUnitHits("USD", 0));
  ASSERT_EQ(vtx::RegistryChangeCount(&changes), ERROR_SUCCESS);
  ASSERT_TRUE(IncrementUnitHits("GBP"));
  ASSERT_EQ(vtx::RegistryChangeCount(&after), ERROR_SUCCESS);
  EXPECT_EQ(after, changes);
}

// A caller of the test notification names the messages file: only the configured one or a file of
// the log folder is taken; any other is refused, with the file channel off and the rest as asked.
TEST_F(ServerWithEngine, TestNotificationTakesOnlyTheProductsMessagesFiles) {
  setenv(vtx::env::kAppData, (dir_ / "appdata").c_str(), 1);
  std::string configured = dir_ / "configured.log";
  RegStringValueA file;
  file = configured.c_str();
  ASSERT_EQ(file.Save(HKEY_LOCAL_MACHINE, g_szAppKey, "MessagesFile"), S_OK);
  char logs[MAX_PATH];
  ASSERT_TRUE(GetLogPath(logs));
  std::string logFolder = logs;
  struct {
    std::string path;
    bool allowed;
  } cases[] = {
      {dir_ / "configured", true},     {configured, true},
      {logFolder + "/test", true},      {logFolder + "/test.log", true},
      {"", true},                       {logFolder + "/../escaped", false},
      {logFolder + "/sub/deeper", false}, {logFolder + "x/name", false},
      {dir_ / "elsewhere", false},      {"relative", false},
  };
  for (const auto& c : cases) {
    EngineSettings settings;
    ASSERT_TRUE(settings.Create(nullptr));
    NotificationTest test;
    test.messagesToFile = 1;
    test.messagesOnScreen = 1;
    test.strings[4] = c.path.c_str();
    EXPECT_EQ(settings.SetNotificationTest(test), c.allowed ? S_OK : E_ACCESSDENIED) << c.path;
    const CSettingsData& d = *settings.Get().GetData();
    EXPECT_EQ(d.MessagesToFile != 0, c.allowed) << c.path;
    EXPECT_EQ(d.MessagesOnScreen != 0, true) << c.path;
    EXPECT_EQ(std::string(d.MessagesFile.c_str()), c.allowed ? c.path : configured) << c.path;
  }
  unsetenv(vtx::env::kAppData);
}

TEST_F(ServerWithEngine, SettingsReloadAndSaveGoThroughTheStore) {
  RegDwordValue proxy;
  proxy.m_dwValue = 0;
  ASSERT_EQ(proxy.Save(HKEY_LOCAL_MACHINE, g_szAppKey, "Proxy"), S_OK);
  Start();
  EXPECT_EQ(static_cast<HRESULT>(SendMessageA(hwnd, WM_VX_CANSAVESETTINGS, 0, 0)), S_OK);
  SendMessageA(hwnd, WM_VX_QUIT, 0, 0);
  thread.join();
  // The exit save wrote the whole configuration back, the stored value included.
  RegDwordValue back;
  ASSERT_EQ(back.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Proxy"), S_OK);
  EXPECT_EQ(back.m_dwValue, 0u);
  RegDwordValue attempts;
  EXPECT_EQ(attempts.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "UpdateAttempts"), S_OK);
}

}  // namespace
