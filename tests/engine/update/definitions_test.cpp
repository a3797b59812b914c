// Whole currency-definitions runs against python3's http.server: the "Next" chain with its loop,
// the unknown codes in the query (read back from the server's log), the merge into the stored
// update data, the change notices, the time stamps and the failures.
#include "engine/update/definitions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/currency/currencystore.h"
#include "engine/currency/update.h"
#include "engine/update/updaterun.h"
#include "platform/codepage.h"
#include "platform/resources.h"
#include "tests/support/env.h"
#include "tests/support/servers.h"
#include "tests/support/store.h"
#include "tests/support/syslog.h"

using vtxtest::ReadFile;
using vtxtest::WriteFile;

namespace {

// Every text names its id and shows its inserts.
const char kCatalogue[] =
    "[strings]\n"
    "32 Rates\n"
    "81 Error\n"
    "82 #82 %1|%2|%3\n"
    "90 #90 %1\n"
    "96 ,\n"
    "97  and\n"
    "110 #110 %1|%2|%3\n"
    "127 #127 %1\n"
    "210 #210 %1|%2\n"
    "211 #211 %1|%2\n"
    "212 #212 %1|%2\n"
    "428 #428 %1|%2\n"
    "429 #429 %1|%2\n"
    "602 #602 %1\n";

struct Notice {
  std::string text, caption;
  UINT type;
};

class RecordingEngine : public CUpdateEngine {
 public:
  void Notify(CUpdateThread&, HWND, const char* text, const char* caption, UINT type, HMODULE) override {
    notices.push_back(Notice{text ? text : "", caption ? caption : "", type});
  }
  void NotifyInfo(CUpdateThread& t, HWND owner, const char* text, HMODULE module) override {
    Notify(t, owner, text, "<info>", 0, module);
  }
  std::vector<Notice> notices;
};

class DefinitionsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((dir / "www").c_str(), 0700);
    WriteFile(dir / "test.cat", kCatalogue);
    module = LoadLibraryA((dir / "test.cat").c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(live.Create(module));
    live.GetData()->UpdateAttempts = 1;
    ASSERT_EQ(thread.Start(module, false), S_OK);
    port = vtxtest::FreePort();
    ASSERT_EQ(http.Start({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", dir / "www",
                          std::to_string(port)},
                         port, dir / "http.log"),
              "");
    base = "http://127.0.0.1:" + std::to_string(port) + "/";
    SetHulvaneHosts({}, {"127.0.0.1"});
  }
  void TearDown() override {
    SetHulvaneHosts({}, {});
    thread.Stop(INFINITE);
    FreeLibrary(module);
  }

  void Page(const std::string& name, const std::string& text) { WriteFile(dir / ("www/" + name), text); }

  HRESULT Check(const std::string& first, const char* unknown = nullptr) {
    engine.notices.clear();
    engine.SetDefinitionsAddress(first.c_str());
    CUpdateSettings work(live);
    thread.SetSettingsInUse(&work);
    HRESULT hr = engine.CheckDefinitions(thread, unknown);
    thread.SetSettingsInUse(nullptr);
    return hr;
  }

  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const Notice& n : engine.notices) out.push_back(n.text);
    return out;
  }
  // The requests the server saw, as "GET /path?query".
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    std::string log = ReadFile(dir / "http.log");
    for (size_t p = 0; (p = log.find("\"GET ", p)) != std::string::npos; ++p)
      out.push_back(log.substr(p + 1, log.find(" HTTP/", p) - p - 1));
    return out;
  }
  vtxtest::PrivateStore dir;
  vtxtest::NoProxyEnv noProxy;
  HMODULE module = nullptr;
  CSettings live;
  RecordingEngine engine;
  CUpdateThread thread{std::make_unique<CUpdateSettings>(), engine};
  vtxtest::ServerProcess http;
  int port = 0;
  std::string base;
};

TEST_F(DefinitionsRun, TwoPagesWithTheirQueryMergeAndAnnounceTheirChanges) {
  Page("page1.txt",
       "[General]\r\nMessage = \"Definitions of this year\"\r\n"
       "Next = " + base + "page2.txt?unknown=ABC\r\n"
       "[EUR]\r\nSIT = 239.640\r\n[Regime]\r\nSIT = EMU\r\n"
       "[NumericalCodes]\r\nXYZ = 999\r\nQQA = 1\r\n"
       "[Names]\r\nXYZ-en-US = Xyz dollar\r\nQQA = en-US, Qqa mark\r\n");
  Page("page2.txt",
       "[General]\r\nNext = " + base + "page1.txt\r\n"
       "[Regime]\r\nDEM = None\r\nSKK = EMU\r\n[LegalTender]\r\nSKK = 0\r\n[Remove]\r\nITL = 1\r\n");
  live.GetData()->MessageOnlyOnce = 1;

  ASSERT_EQ(Check(base + "page1.txt", "XYZ;A&B"), S_OK);
  // The codes go to the first page; the second page's address carries its own.
  EXPECT_EQ(Requests(), (std::vector<std::string>{"GET /page1.txt?unknown=XYZ%3BA%26B", "GET /page2.txt?unknown=ABC"}));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"#90 " + base + "page2.txt?unknown=ABC", "Definitions of this year",
                                               "#428 1|QQA (Qqa mark)",  // XYZ was asked about
                                               "#429 1|ITL (Italian lira)", "#210 1|SIT (Tolar)",
                                               "#211 1|SKK (Slovak Koruna)",
                                               "#212 2|DEM (German mark) and ITL (Italian lira)"}));
  EXPECT_EQ(engine.notices[0].caption, "Rates");
  EXPECT_EQ(engine.notices[0].type, 0x10000u);
  EXPECT_EQ(engine.notices[2].type, 0x10040u);
  EXPECT_NE(FileTimeToU64(live.GetData()->EMULoadSuccess), 0u);
  EXPECT_FALSE(live.IsTimeToLoadEMU());

  CUpdate stored;
  ASSERT_EQ(stored.Create(), S_OK);
  for (const char* code : {"SIT", "XYZ", "QQA", "DEM", "SKK"}) EXPECT_TRUE(stored.Defines(code)) << code;
  EXPECT_EQ(stored.GetRemoved().IFind("ITL"), 0);
  EXPECT_EQ(vtx::WideToUtf8(stored.GetMessage().c_str()), "Definitions of this year");

  // The next run merges on top: what the first stored stays, and only news are told.
  Page("page2.txt", "[Smallest]\r\nJPY = 5\r\n");
  ASSERT_EQ(Check(base + "page1.txt"), S_OK);
  EXPECT_EQ(Texts(), std::vector<std::string>{});
  ASSERT_EQ(stored.Create(), S_OK);
  for (const char* code : {"SIT", "XYZ", "QQA", "DEM", "SKK", "JPY"}) EXPECT_TRUE(stored.Defines(code)) << code;
  EXPECT_EQ(Requests().back(), "GET /page2.txt?unknown=ABC");

  // The settings loaded next take the definitions.
  CSettings next;
  ASSERT_TRUE(next.Create(module));
  const CAllCurrencies& db = next.GetData()->Currencies;
  EXPECT_EQ(db[static_cast<uint32_t>(db.IFindCode("SIT"))]->dwFlags, 7u);
  EXPECT_EQ(db[static_cast<uint32_t>(db.IFindCode("JPY"))]->dSmallest, 5.0);
  EXPECT_LT(db.IFindCode("ITL"), 0);
}

TEST_F(DefinitionsRun, TheQueryGoesOnlyToTheMakersHosts) {
  SetHulvaneHosts({}, {});
  Page("only.txt", "[General]\r\nMessage = \"Nothing new\"\r\n");
  ASSERT_EQ(Check(base + "only.txt", "XYZ"), S_OK);
  EXPECT_EQ(Requests(), std::vector<std::string>{"GET /only.txt"});
  // A "Next" of another kind of address is not followed.
  Page("only.txt", "[General]\r\nNext = file:///etc/passwd\r\n");
  ASSERT_EQ(Check(base + "only.txt"), S_OK);
  EXPECT_EQ(Texts(), std::vector<std::string>{"#602 " + base + "only.txt"});
}

TEST_F(DefinitionsRun, FailuresStampTheFailureAndStoreNothing) {
  Page("markup.txt", "\r\n  <html><body>Moved</body></html>");
  Page("error.txt", "  Error: maintenance until noon\r\n");
  Page("bad.txt", "[EUR]\r\nUSD = -1\r\n");
  const int closed = vtxtest::FreePort();
  const struct {
    std::string address;
    HRESULT hr;
    std::string notice;  // "" when the user is not told
    std::string logged;  // what the event log gets instead
  } cases[] = {
      {base + "markup.txt", E_INVALIDDATA, "", "#127 " + base + "markup.txt"},
      {base + "missing.txt", E_FAIL, "", "#110 " + base + "missing.txt|0|"},
      {base + "error.txt", E_INVALIDDATA, "#110 " + base + "error.txt|0|" + vtx::update::SystemText(E_INVALIDDATA), ""},
      {base + "bad.txt", E_INVALIDARG, "#82 " + base + "bad.txt|2|" + vtx::update::SystemText(E_INVALIDARG), ""},
      {"http://127.0.0.1:" + std::to_string(closed) + "/x.txt", 0, "#110 http://127.0.0.1:" + std::to_string(closed) + "/x.txt|0|", ""},
  };
  vtxtest::SyslogListener log(dir.syslog());
  ASSERT_TRUE(log.bound());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    live.GetData()->EMULoadSuccess = FILETIME{};
    live.GetData()->EMULoadFailure = FILETIME{};
    HRESULT hr = Check(c.address);
    if (c.hr)
      EXPECT_EQ(hr, c.hr);
    else
      EXPECT_TRUE(FAILED(hr));
    if (c.notice.empty()) {
      EXPECT_EQ(Texts(), std::vector<std::string>{});
      std::vector<std::string> events = log.Drain();
      ASSERT_EQ(events.size(), 1u);
      EXPECT_NE(events[0].find(c.logged), std::string::npos) << events[0];
      EXPECT_NE(events[0].find("error"), std::string::npos) << events[0];
    } else {
      ASSERT_EQ(Texts().size(), 1u);
      EXPECT_EQ(Texts()[0].rfind(c.notice, 0), 0u) << Texts()[0];
      EXPECT_EQ(engine.notices[0].type, 0x10010u);
      EXPECT_EQ(engine.notices[0].caption, "Error");
    }
    EXPECT_NE(FileTimeToU64(live.GetData()->EMULoadFailure), 0u);
    EXPECT_EQ(FileTimeToU64(live.GetData()->EMULoadSuccess), 0u);
    EXPECT_FALSE(live.IsTimeToLoadEMU());
    EXPECT_FALSE(vtx::currency::KeyExists(vtx::currency::UpdateKeyPath()));
  }
}

TEST(DefinitionsQuery, UnknownCodesAreEncodedOnce) {
  using vtx::update::WithUnknownQuery;
  EXPECT_EQ(WithUnknownQuery("http://h/d.txt", "XYZ;A B"), "http://h/d.txt?unknown=XYZ%3BA%20B");
  EXPECT_EQ(WithUnknownQuery("http://h/d.txt?v=4", "XYZ"), "http://h/d.txt?v=4&unknown=XYZ");
  EXPECT_EQ(WithUnknownQuery("http://h/d.txt?v=4&Unknown=Q", "XYZ"), "http://h/d.txt?v=4&Unknown=Q");
  EXPECT_EQ(WithUnknownQuery("http://h/d.txt?unknownish=1", "XYZ"), "http://h/d.txt?unknownish=1&unknown=XYZ");
  EXPECT_EQ(WithUnknownQuery("http://h/d.txt", ""), "http://h/d.txt");

  using vtx::update::CodesOf;
  EXPECT_EQ(CodesOf("XYZ, dem\tEURO;XYZ", "Dem"), (std::vector<std::string>{"XYZ", "EUR"}));
  EXPECT_EQ(CodesOf(nullptr, "X"), std::vector<std::string>{});
}

}  // namespace
