// Whole update runs on real settings: "file:" sources and a real HTTP server, the three orders of
// the data sources, the checks of the new rates and what the run tells the user.
#include "engine/update/updaterun.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/currency/ratesdata.h"
#include "engine/currency/update.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/timetext.h"
#include "platform/resources.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/store.h"
#include "tests/support/syslog.h"
#include "tests/support/wait.h"

using vtxtest::ReadFile;
using vtxtest::ServerProcess;
using vtxtest::WriteFile;

namespace {

constexpr char kOwn[] = "[General]\r\nApplication = \"Hulvane(R) Vantrex(TM)\"\r\n";
constexpr char kBefore[] = "2020-01-01T00:00:00Z";

// Every text names its id and shows its inserts, so that a notice tells what was said.
const char kCatalogue[] =
    "[strings]\n"
    "32 Rates\n"
    "81 Error\n"
    "82 #82 %1|%2|%3\n"
    "85 #85\n"
    "86 #86\n"
    "90 #90 %1\n"
    "94 #94 %1|%2|%3\n"
    "96 ,\n"
    "97  and\n"
    "98 #98 %1|%2\n"
    "107 #107\n"
    "108 #108\n"
    "109 #109\n"
    "110 #110 %1|%2|%3\n"
    "113 #113 %1|%2|%3\n"
    "127 #127 %1\n"
    "140 #140 %1\n"
    "141 #141 %1\n"
    "142 #142 %1\n"
    "213 #213 %1|%2|%3|%4\n"
    "214 #214 %1|%2|%3|%4\n"
    "223 #223 %1\n"
    "416 Unnamed\n"
    "426 #426 %1\n"
    "427 #427\n"
    "430 #430 %1|%2|%3\n"
    "431 #431 %1|%2|%3\n"
    "432 #432 %1|%2\n"
    "433 #433 %1|%2\n"
    "455 #455 %1\n"
    "3453 #3453 %1|%2|%3\n";

struct Notice {
  std::string text, caption;
  UINT type;
  int32_t source;
};

class RecordingEngine : public CUpdateEngine {
 public:
  void Notify(CUpdateThread& t, HWND, const char* text, const char* caption, UINT type, HMODULE) override {
    std::lock_guard<std::mutex> l(lock);
    notices.push_back(Notice{text ? text : "", caption ? caption : "", type, t.GetSourceIndex()});
  }
  // The sources' own messages, recorded as the type-0 notices they are.
  void NotifyInfo(CUpdateThread& t, HWND owner, const char* text, HMODULE module) override {
    Notify(t, owner, text, "Vantrex", 0, module);
  }
  HRESULT CheckDefinitions(CUpdateThread& t, const char* codes) override {
    checked.push_back(codes ? codes : "<periodic>");
    collectingOffInCheck = t.IsCollectingOff();
    return E_NOTIMPL;
  }

  std::mutex lock;
  std::vector<Notice> notices;
  std::vector<std::string> checked;
  bool collectingOffInCheck = false;
};

class UpdateRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"www", "definitions", "product", "product/Filters"}) mkdir((dir / d).c_str(), 0700);
    SetString("Filters", dir / "definitions");
    SetString("Path", dir / "product");
    WriteFile(dir / "test.cat", kCatalogue);
    module = LoadLibraryA((dir / "test.cat").c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(live.Create(module));
    D().Sources.Empty();  // not the default source of a new installation
    D().UpdateAttempts = 1;
    ASSERT_EQ(thread.Start(module, false), S_OK);
  }
  void TearDown() override {
    thread.Stop(INFINITE);
    FreeLibrary(module);
  }

  static void SetString(const char* name, const std::string& value) {
    RegStringValue<char> v;
    v = value.c_str();
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, name), S_OK);
  }

  CSettingsData& D() { return *live.GetData(); }

  // The rates before the run, as stored ones, all last changed at kBefore.
  void Seed(const std::map<std::string, std::string>& rates) {
    std::string text = "[EUR]\r\n";
    for (auto& [code, rate] : rates) text += code + " = " + rate + "\r\n";
    text += "[Private-HulvaneVantrex_LastChange]\r\n";
    for (auto& [code, rate] : rates) text += code + " = " + kBefore + "\r\n";
    CIniDataBuffer<char> ini;
    ASSERT_TRUE(ini.SetBuffer(text.c_str()));
    ASSERT_EQ(ini.Load(g_IniTable, kIniTableCount), S_OK);
    live.LoadINIBegin();
    ASSERT_EQ(live.LoadINI(ini, nullptr, nullptr, true), S_OK);
    live.LoadINIEnd();
  }

  // A rates file of this system in the served folder; its "file:" address.
  std::string File(const std::string& name, const std::string& rates, const std::string& general = "") {
    WriteFile(dir / ("www/" + name), std::string(kOwn) + general + "[EUR]\r\n" + rates);
    return "file://" + dir / ("www/" + name);
  }

  void AddSource(const std::string& url, const char* filter = nullptr) {
    auto* s = new CDataSource;
    ASSERT_TRUE(s->SetURL(url.c_str()));
    ASSERT_TRUE(s->SetFilter(filter));
    ASSERT_TRUE(D().Sources.Add(s));
  }

  std::string StartHttp() {
    port = vtxtest::FreePort();
    EXPECT_EQ(http.Start({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", dir / "www",
                          std::to_string(port)},
                         port, dir / "http.log"),
              "");
    return "http://127.0.0.1:" + std::to_string(port) + "/";
  }

  // One run on the live settings, straight on the calling thread.
  HRESULT Run() {
    engine.notices.clear();
    CUpdateSettings work(live);
    thread.SetSettingsInUse(&work);
    for (uint32_t i = 0; i < RunLogListCount; ++i) thread.GetRunLog(static_cast<RunLogList>(i)).Empty();
    HRESULT hr = engine.UpdateRun(thread);
    thread.SetSettingsInUse(nullptr);
    return hr;
  }

  const CurrencyInfo* Info(const char* code) {
    int32_t i = D().IFind(code);
    return i < 0 ? nullptr : live.GetRates()[static_cast<uint32_t>(i)];
  }
  double Rate(const char* code) {
    const CurrencyInfo* c = Info(code);
    return c ? c->dRate : -99.0;
  }
  uint32_t Flags(const char* code) {
    const CurrencyInfo* c = Info(code);
    return c ? c->dwFlags : 0xDEAD;
  }
  bool ChangedAtBefore(const char* code) {
    FILETIME before;
    StringToTime(kBefore, &before);
    const CurrencyInfo* c = Info(code);
    return c && FileTimeToU64(c->ftLastChange) == FileTimeToU64(before);
  }

  // The ids the run said, in order ("#id" texts; other texts as they are).
  std::vector<std::string> Said() {
    std::vector<std::string> ids;
    for (auto& n : engine.notices) ids.push_back(n.text.rfind("#", 0) == 0 ? n.text.substr(0, n.text.find(' ')) : n.text);
    return ids;
  }
  const Notice* Find(const std::string& id) {
    for (auto& n : engine.notices)
      if (n.text.rfind(id + " ", 0) == 0 || n.text == id) return &n;
    return nullptr;
  }
  bool SaidId(const std::string& id) { return Find(id) != nullptr; }

  vtxtest::PrivateStore dir;
  vtxtest::ScopedEnv tmpdir{"TMPDIR", dir.path()};
  vtxtest::NoProxyEnv noProxy;
  HMODULE module = nullptr;
  CSettings live;
  RecordingEngine engine;
  CUpdateThread thread{std::make_unique<CUpdateSettings>(), engine};
  ServerProcess http;
  int port = 0;
};

// ---- the three orders ----

TEST_F(UpdateRun, AllSourcesLastToFirstTheFirstListedWins) {
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  D().MultiServerMode = 0;
  std::string a = File("a.ini", "USD = 1.05\r\n", "Source = \"A|1\"\r\nMessage = \"from A\"\r\n");
  std::string b = File("b.ini", "USD = 1.07\r\nGBP = 0.81\r\n", "Source = \"B\"\r\n");
  AddSource(a);
  AddSource(b);
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(Rate("USD"), 1.05);
  EXPECT_EQ(Rate("GBP"), 0.81);
  EXPECT_EQ(Info("USD")->dwServers, 2u);
  EXPECT_EQ(Info("GBP")->dwServers, 1u);
  EXPECT_TRUE(Flags("USD") & kInfoFromRatesFile);
  // Fetch order B, A; one "|"-part per source, a "|" of a source's own becomes ";".
  EXPECT_EQ(std::string(thread.GetRunLog(RunLogUrl)[0]), b);
  EXPECT_STREQ(live.GetRates().Source.c_str(), "B|A;1");
  EXPECT_STREQ(live.GetRates().Message.c_str(), "|from A");
  EXPECT_NE(FileTimeToU64(live.GetRates().LastLoaded), 0u);
  // The sources' message names its source.
  const Notice* info = nullptr;
  for (auto& n : engine.notices)
    if (n.type == 0) info = &n;
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->text, "A;1:\r\nfrom A");
  EXPECT_EQ(info->source, -1);
}

TEST_F(UpdateRun, AllSourcesLastToFirstRecheckFluctuationAgainstTheRatesBeforeTheRun) {
  D().MaxFluctuation = 15;
  struct Case {
    const char *a, *b;
    bool flagged, changed;
  } cases[] = {
      {"1.05", "1.5", false, true},  // B's 1.5 would flag A's 1.05; the rate before was 1.0
      {"1.0", "1.5", false, false},  // back where it began: no change at all
      {"1.2", "1.0", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a);
    D().Sources.Empty();
    Seed({{"USD", "1.0"}});
    AddSource(File("a.ini", std::string("USD = ") + c.a + "\r\n"));
    AddSource(File("b.ini", std::string("USD = ") + c.b + "\r\n"));
    ASSERT_EQ(Run(), S_OK);
    EXPECT_EQ(Flags("USD") & kInfoFluctuation ? true : false, c.flagged);
    EXPECT_EQ(SaidId("#213"), c.flagged);
    EXPECT_EQ(!ChangedAtBefore("USD"), c.changed);
  }
}

TEST_F(UpdateRun, CrossCheckOfAllSourcesFirstToLast) {
  D().MultiServerMode = 1;
  D().CrossCheckMaxFluctuation = 15;
  struct Case {
    const char* b;
    uint32_t crossError;
    HRESULT result;
    const char* said;
  } cases[] = {
      {"1.15", 0, S_OK, nullptr},
      {"1.20", 0, S_OK, "#430"},
      {"1.20", 1, E_INVALIDDATA, "#431"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.b) + " " + std::to_string(c.crossError));
    D().Sources.Empty();
    Seed({{"USD", "0.5"}});
    D().CrossCheckError = c.crossError;
    AddSource(File("a.ini", "USD = 1.00\r\n"));
    AddSource(File("b.ini", std::string("USD = ") + c.b + "\r\n"));
    EXPECT_EQ(Run(), c.result);
    EXPECT_EQ(std::string(thread.GetRunLog(RunLogUrl)[0]).find("a.ini") != std::string::npos, true);
    if (c.said) {
      const Notice* n = Find(c.said);
      ASSERT_NE(n, nullptr);
      EXPECT_EQ(n->text.substr(5), "1|USD (US Dollar)|15");
      EXPECT_EQ(n->type, c.crossError ? kNotifyError : kNotifyWarning);
      EXPECT_EQ(n->caption, "Rates");
    } else {
      EXPECT_FALSE(SaidId("#430"));
    }
    if (SUCCEEDED(c.result)) {
      EXPECT_EQ(Rate("USD"), 1.0);  // the first source's rate
      EXPECT_EQ(Info("USD")->dwServers, 2u);
      EXPECT_EQ((Flags("USD") & kInfoCrossCheck) != 0, c.said != nullptr);
      // Far more than MaxFluctuation from 0.5, but a cross-check never reports a fluctuation.
      EXPECT_FALSE(Flags("USD") & kInfoFluctuation);
      EXPECT_FALSE(SaidId("#213"));
    }
  }
}

TEST_F(UpdateRun, CrossCheckACodeThatOneSourceLacksKeepsItsRateAndTime) {
  D().MultiServerMode = 1;
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  AddSource(File("a.ini", "USD = 1.1\r\nGBP = 0.85\r\nJPY = 130\r\n"));
  AddSource(File("b.ini", "USD = 1.12\r\n"));
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(Rate("USD"), 1.1);
  EXPECT_EQ(Rate("GBP"), 0.8);
  EXPECT_TRUE(ChangedAtBefore("GBP"));
  EXPECT_TRUE(Flags("GBP") & kInfoWarning);
  EXPECT_EQ(Info("JPY"), nullptr);  // new, and not from every source
  const Notice* n = Find("#432");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->text, "#432 2|GBP (Pound Sterling) and JPY (Yen)");
  // Named once already, not again as a code that nobody set.
  EXPECT_FALSE(SaidId("#94"));

  D().CrossCheckError = 1;
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  EXPECT_EQ(Run(), E_INVALIDDATA);
  EXPECT_TRUE(SaidId("#433"));
}

TEST_F(UpdateRun, FailOverTakesTheFirstSourceThatWorks) {
  D().MultiServerMode = 2;
  Seed({{"USD", "1.0"}});
  AddSource("file://" + dir / "www/missing.ini");
  AddSource(File("b.ini", "USD = 1.1\r\n", "Source = \"B\"\r\n"));
  AddSource(File("c.ini", "USD = 1.05\r\n"));
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(Rate("USD"), 1.1);
  EXPECT_STREQ(live.GetRates().Source.c_str(), "B");
  ASSERT_EQ(Said(), (std::vector<std::string>{"#426"}));
  // The warning names the failed source and why it failed.
  EXPECT_EQ(engine.notices[0].source, 0);
  EXPECT_EQ(engine.notices[0].type, kNotifyWarning);
  EXPECT_EQ(engine.notices[0].text, std::string("#426 ") + vtx::SystemErrorText(HRESULT_FROM_WIN32(2)));
  EXPECT_EQ(thread.GetRunLog(RunLogUrl).GetCount(), 2u);  // c.ini is never fetched
}

TEST_F(UpdateRun, FailOverWhenEverySourceFails) {
  D().MultiServerMode = 2;
  Seed({{"USD", "1.0"}});
  AddSource("file://" + dir / "www/missing1.ini");
  WriteFile(dir / "www/bad.ini", std::string(kOwn) + "[EUR]\r\nUSD = -1\r\n");
  AddSource("file://" + dir / "www/bad.ini");
  EXPECT_EQ(Run(), E_INVALIDARG);
  EXPECT_EQ(Said(), (std::vector<std::string>{"#426", "#427", "#82"}));
  EXPECT_EQ(engine.notices[1].type, kNotifyError);
  // The last failure is reported with the failed source: its address and bad line.
  EXPECT_EQ(engine.notices[2].source, 1);
  EXPECT_EQ(engine.notices[2].text.rfind("#82 file://" + dir / "www/bad.ini|4|", 0), 0u) << engine.notices[2].text;
}

// ---- the checks of the new rates ----

TEST_F(UpdateRun, FluctuationAgainstThePreviousRate) {
  D().MaxFluctuation = 15;
  struct Case {
    const char* rate;
    uint32_t error;
    HRESULT result;
    const char* said;
  } cases[] = {
      {"1.15", 0, S_OK, nullptr}, {"1.16", 0, S_OK, "#213"}, {"0.84", 0, S_OK, "#213"}, {"1.16", 1, E_INVALIDDATA, "#214"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rate) + " " + std::to_string(c.error));
    D().Sources.Empty();
    Seed({{"USD", "1.0"}});
    D().FluctuationError = c.error;
    AddSource(File("a.ini", std::string("USD = ") + c.rate + "\r\n"));
    EXPECT_EQ(Run(), c.result);
    EXPECT_FALSE(SaidId(c.error ? "#213" : "#214"));
    if (!c.said) {
      EXPECT_FALSE(SaidId("#213"));
      continue;
    }
    const Notice* n = Find(c.said);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->text.rfind(std::string(c.said) + " 1|USD (US Dollar)|15|USD 1 = ", 0), 0u) << n->text;
    EXPECT_NE(n->text.find("USD 1 = "), std::string::npos);
  }
}

TEST_F(UpdateRun, NothingSetKeepsTheStoredFloatingRates) {
  Seed({{"USD", "1.0"}});
  AddSource(File("empty.ini", ""));
  EXPECT_EQ(Run(), kNoRatesSet);
  EXPECT_EQ(Said(), (std::vector<std::string>{"#141"}));
  EXPECT_EQ(engine.notices[0].text, "#141 1");

  // Only updating what exists: accepted, with a warning instead.
  D().OnlyUpdateExisting = 1;
  Seed({{"USD", "1.0"}});
  EXPECT_EQ(Run(), S_OK);
  EXPECT_EQ(Rate("USD"), 1.0);
  EXPECT_EQ(Said(), (std::vector<std::string>{"#140"}));
}

TEST_F(UpdateRun, PartialDataAndTheSourcesWarningText) {
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  D().OnlyUpdateExisting = 1;
  AddSource(File("a.ini", "USD = 1.01\r\n", "Warning = \"Rates are late today\"\r\n"));
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(Said(), (std::vector<std::string>{"#94", "Rates are late today"}));
  EXPECT_EQ(engine.notices[0].text, "#94 1|GBP (Pound Sterling)|1");
  EXPECT_TRUE(Flags("GBP") & kInfoWarning);
}

TEST_F(UpdateRun, RatesThatAnUpdateLeavesUnsetAreNamedInTheEventLog) {
  // The real engine's notices, to the event log only.
  vtxtest::SyslogListener events(dir.syslog());
  ASSERT_TRUE(events.bound());
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}, {"JPY", "130"}, {"CHF", "0.95"}});
  D().PartialDataWarnings = 0;  // the loss is named whatever that setting says
  D().MessagesOnScreen = 0;
  D().MessagesToLog = 1;
  D().MessagesViaEmail = 0;
  // GBP is gone from the source, JPY comes as zero; a currency new to the list is no loss.
  AddSource(File("a.ini", "USD = 1.1\r\nJPY = 0\r\nCHF = 0.96\r\nSEK = 11.2\r\n"));

  CUpdateEngine real;
  CUpdateThread logging{std::make_unique<CUpdateSettings>(), real};
  ASSERT_EQ(logging.Start(module, false), S_OK);
  CUpdateSettings work(live);
  logging.SetSettingsInUse(&work);
  EXPECT_EQ(real.UpdateRun(logging), S_OK);
  logging.SetSettingsInUse(nullptr);
  logging.Stop(INFINITE);

  EXPECT_EQ(Info("GBP"), nullptr);
  EXPECT_EQ(Rate("JPY"), 0.0);
  std::vector<std::string> entries = events.Drain(1000);
  std::string lost;
  for (const std::string& e : entries)
    if (e.find("#3453 ") != std::string::npos) lost += e;
  EXPECT_NE(lost.find("#3453 1|GBP (Pound Sterling) and JPY (Yen)|2"), std::string::npos)
      << ::testing::PrintToString(entries);

  // A run that keeps every rate says nothing of the kind.
  D().Sources.Empty();
  AddSource(File("b.ini", "USD = 1.2\r\nJPY = 131\r\nCHF = 0.97\r\nSEK = 11.3\r\n"));
  ASSERT_EQ(Run(), S_OK);
  EXPECT_FALSE(SaidId("#3453")) << ::testing::PrintToString(Said());
}

TEST_F(UpdateRun, IncomingRatesReplacedByFixedOnes) {
  D().AlwaysRetainEuro = 0;
  Seed({{"USD", "1.0"}});
  AddSource(File("a.ini", "USD = 1.01\r\nDEM = 2.0\r\nXOF = 600\r\n"));
  for (uint32_t warn : {0u, 1u}) {
    SCOPED_TRACE(warn);
    D().ConflictingEMU = warn;
    D().ConflictingPegged = warn;
    ASSERT_EQ(Run(), S_OK);
    EXPECT_EQ(Rate("DEM"), 1.95583);
    EXPECT_EQ(Rate("XOF"), 655.957);
    std::vector<std::string> said;
    for (auto& n : engine.notices) said.push_back(n.text);
    if (warn)
      EXPECT_EQ(said, (std::vector<std::string>{"#98 1|DEM (German mark)", "#98 1|XOF (CFA Franc BCEAO)"}));
    else
      EXPECT_TRUE(said.empty());
  }
}

TEST_F(UpdateRun, UnmatchedColumnsOfTheTwoLineConverter) {
  Seed({{"USD", "1.0"}});
  std::string url = "file://" + dir / "www/rates.prn";
  WriteFile(dir / "www/rates.prn", "DATE USD CHF GBP\r\n2006-03-01 1.01 1.5.0.8\r\n");
  WriteFile(dir / "definitions/twoline.ini",
           "[URL]\r\nAddress = \"" + url +
               "\"\r\nAppend = \"[General]\\r\\nApplication = \\\"Hulvane(R) Vantrex(TM)\\\"\\r\\n\"\r\n");
  AddSource(url, "twoline.ini");
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(Rate("USD"), 1.01);
  EXPECT_EQ(Said(), std::vector<std::string>{"#113"});
  EXPECT_EQ(engine.notices[0].text, "#113 " + url + "|CHF (Swiss Franc) and GBP (Pound Sterling)|2");
}

TEST_F(UpdateRun, SourcesMessageOnlyOnce) {
  D().MessageOnlyOnce = 1;
  Seed({{"USD", "1.0"}});
  AddSource(File("a.ini", "USD = 1.01\r\n", "Message = \"Holiday\"\r\n"));
  ASSERT_EQ(Run(), S_OK);
  ASSERT_EQ(engine.notices.size(), 1u);
  EXPECT_EQ(engine.notices[0].text, "Unnamed:\r\nHoliday");
  ASSERT_EQ(Run(), S_OK);
  EXPECT_TRUE(engine.notices.empty());
}

TEST_F(UpdateRun, UnknownCodesStartADefinitionsCheck) {
  Seed({{"USD", "1.0"}});
  // A code that the stored definitions update defines is known.
  CUpdate stored;
  const std::string text = "[NumericalCodes]\r\nXQY = 1\r\n";
  ASSERT_EQ(stored.Load(text.data(), static_cast<uint32_t>(text.size()), nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr),
            S_OK);
  ASSERT_EQ(stored.Save(), S_OK);
  AddSource(File("a.ini", "USD = 1.01\r\nXQZ = 5\r\nXQY = 6\r\n"));
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(engine.checked, std::vector<std::string>{"XQZ"});
  EXPECT_TRUE(engine.collectingOffInCheck);
  EXPECT_FALSE(thread.IsCollectingOff());
  D().UnknownCurrencies = 1;
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(engine.checked.size(), 1u);
}

// ---- refusals and failures ----

TEST_F(UpdateRun, RefusedBeforeAnythingIsFetched) {
  struct Case {
    const char* name;
    void (*set)(CSettingsData&);
    const char* said;
  } cases[] = {
      {"modem without entry", [](CSettingsData& d) { d.Modem = 1; }, "#107"},
      {"no source", [](CSettingsData& d) { d.Sources.Empty(); }, "#108"},
      {"proxy without host",
       [](CSettingsData& d) {
         d.Proxy = 1;
         d.ProxyServer = ":8080";
       },
       "#109"},
      {"unknown order", [](CSettingsData& d) { d.MultiServerMode = 3; }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(live.Create(module));
    live.Load(true);
    D().Sources.Empty();
    AddSource(File("a.ini", "USD = 1.01\r\n"));
    c.set(D());
    EXPECT_EQ(Run(), E_INVALIDARG);
    EXPECT_EQ(thread.GetRunLog(RunLogUrl).GetCount(), 0u);
    if (c.said) {
      EXPECT_EQ(Said(), std::vector<std::string>{c.said});
      EXPECT_EQ(engine.notices[0].type, kNotifyError);
    }
  }
}

TEST_F(UpdateRun, DialUpWithoutADialUpLibrary) {
  Seed({{"USD", "1.0"}});
  D().Modem = 1;
  D().DialUp = "Office";
  AddSource(File("a.ini", "USD = 1.01\r\n"));
  EXPECT_EQ(Run(), static_cast<HRESULT>(0x80004002));
  EXPECT_EQ(Said(), std::vector<std::string>{"#86"});
  EXPECT_EQ(thread.GetRunLog(RunLogUrl).GetCount(), 0u);
}

TEST_F(UpdateRun, FailedFetchesAreReportedWithAddressLineAndReason) {
  std::string base = StartHttp();
  WriteFile(dir / "www/bad.ini", std::string(kOwn) + "[EUR]\r\nUSD = 1.1\r\nGBP = -2\r\n");
  WriteFile(dir / "www/empty.ini", "  \r\n");
  struct Case {
    std::string url;
    std::string said;
    bool reason;  // a reason follows
  } cases[] = {
      {base + "bad.ini", "#82 " + base + "bad.ini|5|", true},
      {base + "missing.ini", "#110 " + base + "missing.ini|0|", true},
      {base + "empty.ini", "#142 " + base + "empty.ini", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    D().Sources.Empty();
    AddSource(c.url);
    EXPECT_TRUE(FAILED(Run()));
    ASSERT_EQ(engine.notices.size(), 1u);
    EXPECT_EQ(engine.notices[0].text.substr(0, c.said.size()), c.said);
    EXPECT_EQ(engine.notices[0].text.size() > c.said.size(), c.reason) << engine.notices[0].text;
    EXPECT_EQ(engine.notices[0].source, 0);
    EXPECT_EQ(engine.notices[0].type, kNotifyError);
  }
}

TEST_F(UpdateRun, HttpSourcesWithAFilterProgram) {
  std::string base = StartHttp();
  WriteFile(dir / "www/page.html", "<html>GBP 0.86</html>");
  std::string script = dir / "product/Filters/feed.sh";
  ASSERT_TRUE(vtxtest::WriteScript(
      script, "printf '[General]\\r\\nApplication = \"Hulvane(R) Vantrex(TM)\"\\r\\n[EUR]\\r\\nGBP = 0.86\\r\\n' > \"$1\"\n"));
  WriteFile(dir / "definitions/bank.ini", "[General]\r\nName = \"Bank\"\r\nExecutable = feed.sh\r\n");
  File("rates.ini", "USD = 1.2\r\n");
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  D().MultiServerMode = 0;
  AddSource(base + "rates.ini");
  AddSource(base + "page.html", "bank.ini");
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(Rate("USD"), 1.2);
  EXPECT_EQ(Rate("GBP"), 0.86);
  EXPECT_EQ(thread.GetRunLog(RunLogConverted).GetCount(), 2u);
  EXPECT_NE(std::string(thread.GetRunLog(RunLogConverted)[0]).find("GBP = 0.86"), std::string::npos);
}

TEST_F(UpdateRun, QuoteServerSourcesDeliverRatesOrTheServersText) {
  // The scripted quote server: the currency list, then one quote each.
  WriteFile(dir / "fxp.json",
           "{\"currencies\": \"fxp/1.1 200 OK\\r\\ncontent-lines: 2\\r\\n\\r\\nUSD US Dollar\\r\\n"
           "JPY Japanese Yen\\r\\n.\\r\\n\",\n"
           " \"USD\": \"fxp/1.1 200 OK\\r\\ncontent-lines: 1\\r\\n\\r\\n1.1000 1.1002\\r\\n.\\r\\n\",\n"
           " \"JPY\": \"fxp/1.1 503 JPY is closed\\r\\ncontent-lines: 0\\r\\n\\r\\n.\\r\\n\"}\n");
  int fxpPort = vtxtest::FreePort();
  ServerProcess fxp;
  ASSERT_EQ(fxp.Start({"/usr/bin/python3", vtxtest::SourcePath("tests/engine/update/fxpserver.py"),
                       std::to_string(fxpPort), dir / "fxp.json", dir / "fxp-queries.log"},
                      fxpPort, dir / "fxp.log"),
            "");
  Seed({{"USD", "1.0"}, {"JPY", "120"}});
  AddSource("fxp://127.0.0.1:" + std::to_string(fxpPort));
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(Rate("USD"), 1.1001);
  EXPECT_EQ(Info("JPY"), nullptr);  // its quote failed: the source did not deliver it
  EXPECT_EQ(ReadFile(dir / "fxp-queries.log"), "currencies\nUSD\nJPY\n");

  // A server that refuses the whole exchange: the run fails with the server's own words.
  WriteFile(dir / "fxp.json",
           "{\"currencies\": \"fxp/1.1 500 maintenance until noon\\r\\ncontent-lines: 0\\r\\n\\r\\n.\\r\\n\"}\n");
  fxp.Stop();
  ASSERT_EQ(fxp.Start({"/usr/bin/python3", vtxtest::SourcePath("tests/engine/update/fxpserver.py"),
                       std::to_string(fxpPort), dir / "fxp.json", dir / "fxp-queries.log"},
                      fxpPort, dir / "fxp.log"),
            "");
  EXPECT_TRUE(FAILED(Run()));
  ASSERT_EQ(engine.notices.size(), 1u);
  EXPECT_NE(engine.notices[0].text.find("maintenance until noon"), std::string::npos) << engine.notices[0].text;
}

TEST_F(UpdateRun, FailedUpdateMailsItsNotice) {
  // The real engine's notices through the channels, e-mail by SMTP to aiosmtpd.
  int smtpPort = vtxtest::FreePort();
  mkdir((dir / "mails").c_str(), 0700);
  ServerProcess smtp;
  ASSERT_EQ(smtp.Start({"/usr/bin/python3", vtxtest::SourcePath("tests/engine/notify/smtpserver.py"),
                        std::to_string(smtpPort), dir / "mails"},
                       smtpPort, dir / "smtp.log"),
            "");
  D().MessagesOnScreen = 0;
  D().MessagesToLog = 0;
  D().MessagesViaEmail = 1;
  D().MessagesEmailProfile = "<SMTP>";
  D().MessagesEmailRecipients = "\"Rates Admin\" <admin@example.org>";
  D().MessagesEmailSender = "vantrex@example.org";
  D().MessagesEmailSmtpServer = ("127.0.0.1:" + std::to_string(smtpPort)).c_str();
  AddSource("file://" + dir / "www/missing.ini");

  CUpdateEngine real;
  CUpdateThread mailing{std::make_unique<CUpdateSettings>(), real};
  ASSERT_EQ(mailing.Start(module, false), S_OK);
  CUpdateSettings work(live);
  mailing.SetSettingsInUse(&work);
  EXPECT_TRUE(FAILED(real.UpdateRun(mailing)));
  mailing.SetSettingsInUse(nullptr);
  mailing.Stop(INFINITE);

  std::string mail;
  vtxtest::Eventually([&] { return !(mail = ReadFile(dir / "mails/mail-1.txt")).empty(); });
  EXPECT_NE(mail.find("rcpt: \"admin@example.org\""), std::string::npos) << mail;
  EXPECT_NE(mail.find("body: \"#110 file://" + dir / "www/missing.ini"), std::string::npos) << mail;
  EXPECT_NE(mail.find("header Subject: \"Hulvane Vantrex\""), std::string::npos) << mail;  // no title text here
}

TEST_F(UpdateRun, ShippedTextsFormatWithTheirInserts) {
  HMODULE shipped = LoadLibraryA((vtxtest::SourcePath("resources/0409/vantrex.cat")).c_str());
  ASSERT_NE(shipped, nullptr);
  struct Release {
    CUpdateThread& t;
    HMODULE m;
    ~Release() {
      t.Stop(INFINITE);
      FreeLibrary(m);
    }
  } release{thread, shipped};
  thread.Stop(INFINITE);
  ASSERT_EQ(thread.Start(shipped, false), S_OK);
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  D().MultiServerMode = 1;
  AddSource(File("a.ini", "USD = 1.0\r\nGBP = 0.9\r\n"));
  AddSource(File("b.ini", "USD = 1.5\r\n"));
  ASSERT_EQ(Run(), S_OK);
  std::vector<std::string> texts;
  for (auto& n : engine.notices) texts.push_back(n.text);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find("GBP (Pound Sterling)"), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("One currency was not"), std::string::npos) << texts[0];
  EXPECT_NE(texts[1].find("15 percent on one currency: USD"), std::string::npos) << texts[1];

  D().Sources.Empty();
  D().MultiServerMode = 0;
  AddSource(File("none.ini", ""));
  EXPECT_EQ(Run(), kNoRatesSet);
  ASSERT_EQ(engine.notices.size(), 1u);
  EXPECT_NE(engine.notices[0].text.find("one page was fetched"), std::string::npos) << engine.notices[0].text;

  // A currency that no source gives any more.
  D().Sources.Empty();
  D().PartialDataWarnings = 0;
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  AddSource(File("usd.ini", "USD = 1.01\r\n"));
  ASSERT_EQ(Run(), S_OK);
  ASSERT_EQ(engine.notices.size(), 1u);
  EXPECT_EQ(engine.notices[0].text,
            "One currency has no rate any more: no data source gave a usable rate for it (one page was fetched): "
            "GBP (Pound Sterling).");
}

TEST_F(UpdateRun, PausesBetweenTriesEndWhenTheThreadStops) {
  CUpdateFetchThread fetch(thread, engine, live);
  EXPECT_TRUE(fetch.Sleep(1));
  bool slept = true;
  std::thread sleeper([&] { slept = fetch.Sleep(600000); });
  thread.Stop(INFINITE);
  sleeper.join();
  EXPECT_FALSE(slept);
}

// ---- through the update thread, as the server runs it ----

class UpdateThroughThread : public UpdateRun {
 protected:
  // The server's side: a window of its own takes the thread's reports, stores an accepted run's
  // rates as the server does, and waits for the run while it takes them.
  void RunOnServerThread() {
    std::thread server([&] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = Proc;
      wc.lpszClassName = "UpdateRunTestServer";
      RegisterClassA(&wc);
      HWND hwnd = CreateWindowExA(0, "UpdateRunTestServer", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      ASSERT_NE(hwnd, nullptr);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      CUpdateThread worker(std::make_unique<CUpdateSettings>(), engine);
      ASSERT_EQ(worker.Start(module, false), S_OK);
      ASSERT_EQ(worker.PostUpdate(liveUpdate, hwnd, nullptr, false), S_OK);
      MSG m;
      for (int i = 0; i < 4000 && (worker.IsBusy() || !idle); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      }
      worker.Stop(INFINITE);
      DestroyWindow(hwnd);
      UnregisterClassA("UpdateRunTestServer", nullptr);
    });
    server.join();
  }
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<UpdateThroughThread*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self || msg < WM_VX_UPDATEDONE || msg > WM_VX_DEFINITIONSDONE) return 0;
    self->reports.push_back(msg);
    if (msg == WM_VX_UPDATEDONE) {
      auto* copy = reinterpret_cast<IUpdateSettings*>(w);
      self->result = self->liveUpdate.CopyFrom(*copy) ? self->liveUpdate.SaveINI() : E_OUTOFMEMORY;
    } else if (msg == WM_VX_UPDATEFAILED) {
      self->result = static_cast<HRESULT>(l);
    } else if (msg == WM_VX_UPDATEIDLE) {
      self->idle = true;
    }
    return 0;
  }

  CUpdateSettings liveUpdate{live};
  std::vector<UINT> reports;
  HRESULT result = E_UNEXPECTED;
  bool idle = false;
};

TEST_F(UpdateThroughThread, AcceptedRatesAreStoredWithLastSaved) {
  Seed({{"USD", "1.0"}});
  AddSource(File("a.ini", "USD = 1.25\r\n"));
  ASSERT_EQ(FileTimeToU64(live.GetLastSaved()), 0u);
  RunOnServerThread();
  EXPECT_EQ(reports, (std::vector<UINT>{WM_VX_UPDATEDONE, WM_VX_UPDATEIDLE}));
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(Rate("USD"), 1.25);
  EXPECT_NE(FileTimeToU64(live.GetLastSaved()), 0u);
  CSettings stored;
  ASSERT_TRUE(stored.Create(module));
  int32_t i = stored.GetData()->IFind("USD");
  ASSERT_GE(i, 0);
  EXPECT_EQ(stored.GetRates()[static_cast<uint32_t>(i)]->dRate, 1.25);
  EXPECT_EQ(stored.GetRates()[static_cast<uint32_t>(i)]->dwServers, 1u);
  // The periodic definitions check was due too.
  EXPECT_EQ(engine.checked, std::vector<std::string>{"<periodic>"});
}

TEST_F(UpdateThroughThread, ANegativeRateRefusesTheWholeFileAndKeepsTheOldRates) {
  Seed({{"USD", "1.0"}, {"GBP", "0.8"}});
  AddSource(File("a.ini", "USD = 1.1\r\nGBP = -0.8\r\nJPY = 130\r\n"));
  RunOnServerThread();
  EXPECT_EQ(reports, (std::vector<UINT>{WM_VX_UPDATEFAILED, WM_VX_UPDATEIDLE}));
  EXPECT_EQ(result, E_INVALIDARG);
  ASSERT_EQ(engine.notices.size(), 1u);
  EXPECT_EQ(engine.notices[0].text.find("#82 file://" + dir / "www/a.ini|5|"), 0u) << engine.notices[0].text;
  EXPECT_EQ(engine.notices[0].type, kNotifyError);
  EXPECT_EQ(Rate("USD"), 1.0);
  EXPECT_EQ(Rate("GBP"), 0.8);
  EXPECT_EQ(Info("JPY"), nullptr);
  EXPECT_TRUE(ChangedAtBefore("USD"));
}

TEST_F(UpdateThroughThread, AFailedRunLeavesTheServersRatesAlone) {
  Seed({{"USD", "1.0"}});
  AddSource(File("empty.ini", ""));
  RunOnServerThread();
  EXPECT_EQ(reports, (std::vector<UINT>{WM_VX_UPDATEFAILED, WM_VX_UPDATEIDLE}));
  EXPECT_EQ(result, kNoRatesSet);
  EXPECT_EQ(Rate("USD"), 1.0);
  EXPECT_EQ(FileTimeToU64(live.GetLastSaved()), 0u);
}

}  // namespace
