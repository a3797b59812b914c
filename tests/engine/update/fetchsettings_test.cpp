// The fetch of a data source on real settings: rates applied by the settings themselves, the
// folders and retry values read from the store.
#include "engine/update/fetchsettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/foundation/regvalue.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/servers.h"
#include "tests/support/store.h"

using vtxtest::ReadFile;
using vtxtest::ServerProcess;
using vtxtest::WriteFile;

namespace {

class SettingsThread : public CFetchThread {
 public:
  explicit SettingsThread(CSettings& settings) : fetch(settings) {}
  CFetchSettings& GetSettings() override { return fetch; }
  HMODULE GetResourceLibrary() override { return nullptr; }
  CStringList<char>& GetRunLog(FetchLogList which) override { return runLog[which]; }
  void MakeUserAgent(CINetConnection& connection, const char*) override { connection.SetAgent("Vantrex test"); }
  bool Sleep(DWORD) override { return true; }

  CSettingsFetch fetch;
  CStringList<char> runLog[FetchLogCount];
};

class FetchOnSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"www", "definitions", "product", "product/Filters"}) mkdir((dir / d).c_str(), 0700);
    SetString("Filters", dir / "definitions");
    SetString("Path", dir / "product");
    port = vtxtest::FreePort();
    ASSERT_EQ(server.Start({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", dir / "www",
                            std::to_string(port)},
                           port, dir / "files.log"),
              "");
    base = "http://127.0.0.1:" + std::to_string(port) + "/";
    connection.m_bUseSystemProxy = FALSE;
    ASSERT_EQ(connection.Open(), S_OK);
    context.connection = &connection;
  }

  static void SetString(const char* name, const std::string& value) {
    RegStringValue<char> v;
    v = value.c_str();
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, name), S_OK);
  }
  static void SetDword(const char* name, DWORD value) {
    RegDwordValue v;
    v = value;
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, name), S_OK);
  }

  // Fetches one source as the update run does: between the begin and end of applying files.
  HRESULT Fetch(CSettings& settings, const std::string& address, const char* filter = nullptr) {
    SettingsThread thread(settings);
    context.address = address.c_str();
    context.rawAddress = address.c_str();
    context.filterName = filter;
    settings.LoadINIBegin();
    HRESULT hr = FetchSource(thread, context);
    settings.LoadINIEnd();
    return hr;
  }

  static double Rate(const CSettings& s, const char* code) {
    int32_t i = s.GetData()->IFind(code);
    return i < 0 ? -99.0 : s.GetRates()[static_cast<uint32_t>(i)]->dRate;
  }

  vtxtest::PrivateStore dir;
  vtxtest::ScopedEnv tmpdir{"TMPDIR", dir.path()};
  vtxtest::NoProxyEnv noProxy;
  ServerProcess server;
  int port = 0;
  std::string base;
  CINetConnection connection;
  FetchContext context;
};

TEST_F(FetchOnSettings, RatesReachTheSettingsAndTheirOwnDataFlag) {
  WriteFile(dir / "www/rates.ini",
           "[General]\r\nApplication = \"hulvane(r) vantrex(tm)\"\r\nSource = \"Test bank\"\r\n[EUR]\r\nUSD = 1.2\r\n"
           "JPY = 130.5\r\n");
  WriteFile(dir / "www/foreign.ini", "[General]\r\nApplication = \"Other\"\r\n[EUR]\r\nUSD = 1.3\r\n");
  WriteFile(dir / "www/failed.ini", "[General]\r\nError = \"Service closed today\"\r\n");
  CSettings settings;
  ASSERT_TRUE(settings.Create(nullptr));

  ASSERT_EQ(Fetch(settings, base + "rates.ini"), S_OK);
  EXPECT_EQ(Rate(settings, "USD"), 1.2);
  EXPECT_EQ(Rate(settings, "JPY"), 130.5);
  EXPECT_STREQ(settings.GetRates().Source.c_str(), "Test bank");

  EXPECT_EQ(Fetch(settings, base + "foreign.ini"), E_INVALIDARG);
  EXPECT_EQ(context.messageId, 455);

  EXPECT_EQ(Fetch(settings, base + "failed.ini"), E_FAIL);
  EXPECT_STREQ(context.errorText.c_str(), "Service closed today");
}

TEST_F(FetchOnSettings, RetriesComeFromTheStoredValues) {
  SetDword("UpdateAttempts", 4);
  SetDword("UpdateRetryPause", 0);
  CSettings settings;
  ASSERT_TRUE(settings.Create(nullptr));
  // A port that nobody listens on: every try fails.
  std::string nobody = "http://127.0.0.1:" + std::to_string(vtxtest::FreePort()) + "/rates.ini";
  EXPECT_TRUE(FAILED(Fetch(settings, nobody)));
  SettingsThread thread(settings);
  EXPECT_EQ(thread.fetch.GetUpdateAttempts(), 4u);
}

TEST_F(FetchOnSettings, FilterProgramsRunFromTheProductsFiltersFolder) {
  WriteFile(dir / "www/page.html", "<html>USD 1.4</html>");
  std::string script = dir / "product/Filters/feed.sh";
  ASSERT_TRUE(vtxtest::WriteScript(
      script, "printf '[General]\\r\\nApplication = \"Hulvane(R) Vantrex(TM)\"\\r\\n[EUR]\\r\\nUSD = 1.4\\r\\n' > \"$1\"\n"));
  WriteFile(dir / "definitions/bank.ini", "[General]\r\nName = \"Bank\"\r\nExecutable = feed.sh\r\n");
  CSettings settings;
  ASSERT_TRUE(settings.Create(nullptr));
  ASSERT_EQ(Fetch(settings, base + "page.html", "bank.ini"), S_OK) << context.errorText.c_str();
  EXPECT_EQ(Rate(settings, "USD"), 1.4);
}

TEST_F(FetchOnSettings, PrnRatesOwnedThroughTheDefinitionsAppend) {
  WriteFile(dir / "www/rates.prn", "DATE USD CHF\r\n2006-03-01 1.19 1.56\r\n");
  WriteFile(dir / "definitions/twoline.ini",
           "[URL]\r\nAddress = \"" + base +
               "rates.prn\"\r\nAppend = \"[General]\\r\\nApplication = \\\"Hulvane(R) Vantrex(TM)\\\"\\r\\n\"\r\n");
  CSettings settings;
  ASSERT_TRUE(settings.Create(nullptr));
  ASSERT_EQ(Fetch(settings, base + "rates.prn", "twoline.ini"), S_OK) << context.errorText.c_str();
  EXPECT_EQ(Rate(settings, "USD"), 1.19);
  EXPECT_EQ(Rate(settings, "CHF"), 1.56);
  EXPECT_EQ(settings.GetRates().DateNoTime, 1u);
}

}  // namespace
