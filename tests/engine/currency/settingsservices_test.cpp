#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "platform/native/productpaths.h"
#include "platform/resources.h"
#include "platform/systime.h"
#include "tests/engine/currency/settings_fixture.h"
#include "tests/support/dates.h"
#include "tests/support/env.h"
#include "tests/support/paths.h"
#include "tests/support/wait.h"

namespace {

using vtxtest::SettingsTest;

const char* const kApp = "SOFTWARE\\Hulvane\\Vantrex\\4.0";
const char* const kHits = "SOFTWARE\\Hulvane\\Vantrex\\4.0\\Hits";
constexpr uint64_t kWeek = 6048000000000ull;
using vtxtest::kSecond;

using vtxtest::ReadFile;
using vtxtest::WriteFile;

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

uint64_t NowU64() {
  FILETIME t;
  GetSystemTimeAsFileTime(&t);
  return FileTimeToU64(t);
}

// Takes a GlobalAlloc'ed list text.
std::string Take(char* text) {
  std::string s = text ? text : "<null>";
  if (text) GlobalFree(text);
  return s;
}

class Services : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    mkdir(product().c_str(), 0700);
    mkdir((product() + "/Filters").c_str(), 0700);
    mkdir((product() + "/Actions").c_str(), 0700);
    module = LoadLibraryA(vtxtest::SourcePath("resources/0409/vantrex.cat").c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(s.Create(module));
    s.GetRates().Active.Empty();
  }
  void TearDown() override {
    vtx::settings::PipeExecute = nullptr;
    FreeLibrary(module);
  }

  std::string product() const { return dir / "product"; }
  void SetPath(const char* path) { ASSERT_EQ(0u, SaveRegistryCStringA(path, HKEY_LOCAL_MACHINE, kApp, "Path")); }
  void Script(const std::string& folder, const std::string& name, const std::string& body) {
    ASSERT_TRUE(vtxtest::WriteScript(product() + "/" + folder + "/" + name, body));
  }
  // An active record with a rate, flags and a last change.
  CurrencyInfo& Active(const char* code, double rate, uint64_t lastChange = 0, uint32_t flags = 0) {
    CurrencyInfo r;
    EXPECT_TRUE(s.InitCurrencyInfo(r, code));
    r.dRate = rate;
    r.ftLastChange = U64ToFileTime(lastChange);
    r.dwFlags = flags;
    int32_t i = s.GetData()->Currencies.IFind(code);
    if (i >= 0) {
      r.dSmallest = s.GetData()->Currencies[static_cast<uint32_t>(i)]->dSmallest;
      r.dwSmallestDecimals = s.GetData()->Currencies[static_cast<uint32_t>(i)]->dwSmallestDecimals;
    }
    return *s.Add(r);
  }

  vtxtest::TempDir dir;
  vtxtest::ScopedEnv appdata{vtx::env::kAppData, dir / "appdata"};
  HMODULE module = nullptr;
  CSettings s;
};

// ---------------------------------------------------------------------------------------------
// Hit counters.

TEST_F(Services, HitCountersCountDeleteAndSaturate) {
  DWORD n = 7;
  EXPECT_EQ(GetUnitHits("USD", &n), 1);  // no key at all
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(IncrementUnitHits("USD"), 1);
  EXPECT_EQ(IncrementUnitHits("usd"), 1);  // value names ignore case
  EXPECT_EQ(GetUnitHits("USD", &n), 1);
  EXPECT_EQ(n, 2u);

  EXPECT_EQ(SetUnitHits("USD", 0), 1);
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kHits, "USD"));
  EXPECT_EQ(SetUnitHits("USD", 0), 1);  // already gone

  EXPECT_EQ(SetUnitHits("JPY", 0xFFFFFFFFu), 1);
  EXPECT_EQ(IncrementUnitHits("JPY"), 1);
  EXPECT_EQ(GetUnitHits("JPY", &n), 1);
  EXPECT_EQ(n, 0xFFFFFFFFu);

  EXPECT_EQ(SetUnitHits(nullptr, 1), 0);
  EXPECT_EQ(GetUnitHits(nullptr, &n), 0);
  EXPECT_EQ(GetUnitHits("USD", nullptr), 0);
  EXPECT_EQ(IncrementUnitHits(nullptr), 0);
}

TEST_F(Services, AnUnreadableCounterFailsAfterItsRetriesAndIsNotOverwritten) {
  RegBinaryValue bad;
  ASSERT_TRUE(bad.Copy("\x01\x02", 2));
  ASSERT_EQ(0u, bad.Save(HKEY_LOCAL_MACHINE, kHits, "USD"));
  DWORD n = 0;
  EXPECT_EQ(GetUnitHits("USD", &n), 0);
  EXPECT_EQ(IncrementUnitHits("USD"), 0);
  RegBinaryValue after;
  ASSERT_EQ(0u, after.Load(HKEY_LOCAL_MACHINE, kHits, "USD"));
  EXPECT_EQ(after.GetSize(), 2u);
}

TEST_F(Services, ConcurrentIncrementsLoseNoCount) {
  constexpr int kThreads = 4, kEach = 25;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kEach; ++i)
        if (!IncrementUnitHits("CHF")) ++failures[t];
    });
  for (auto& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  DWORD n = 0;
  EXPECT_EQ(GetUnitHits("CHF", &n), 1);
  EXPECT_EQ(n, static_cast<DWORD>(kThreads * kEach));
}

// ---------------------------------------------------------------------------------------------
// Folders.

TEST_F(Services, ProductSubfolders) {
  CStringA out;
  EXPECT_EQ(GetVXFolderName(out, "Filters"), 0x80070002u);  // no "Path"
  SetPath("");
  EXPECT_EQ(GetVXFolderName(out, "Filters"), 0x80070003u);  // never the root folder
  EXPECT_EQ(GetVXFolderName(out, nullptr), E_INVALIDARG);
  for (const char* path : {"/opt/vantrex", "/opt/vantrex/"}) {
    SetPath(path);
    out.Empty();
    EXPECT_EQ(GetVXFolderName(out, "Actions"), 1u);
    EXPECT_STREQ(out.c_str(), "/opt/vantrex/Actions");
  }
}

TEST_F(Services, LogFolderIsCreatedUnderTheCommonDataFolderElseUnderTheProduct) {
  char path[MAX_PATH];
  ASSERT_TRUE(GetLogPath(path));
  EXPECT_EQ(std::string(path), dir / "appdata/Hulvane/Vantrex/Logs");
  struct stat st {};
  EXPECT_EQ(stat(path, &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  // A common data folder too long for a path: the product's "Logs".
  vtxtest::ScopedEnv tooLong(vtx::env::kAppData, dir / std::string(300, 'a'));
  EXPECT_FALSE(GetLogPath(path));  // no "Path" either
  SetPath(product().c_str());
  ASSERT_TRUE(GetLogPath(path));
  EXPECT_EQ(std::string(path), product() + "/Logs");
  EXPECT_TRUE(Exists(path));
  EXPECT_FALSE(GetLogPath(nullptr));
}

// ---------------------------------------------------------------------------------------------
// Filter programs.

TEST_F(Services, FilterGetsExactlyItsFourArgumentsFromTheFiltersFolder) {
  SetPath(product().c_str());
  Script("Filters", "args.sh",
         "pwd > \"" + (dir / "pwd") + "\"\nprintf '%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" \"$4\" > \"" + (dir / "args") + "\"\n");
  // A quote and blanks in the address stay inside its argument; the address is cut to 254.
  std::string address = "http://x/?a=\"b c\"&d=" + std::string(300, 'z');
  DWORD code = 1;
  CStringA error;
  ASSERT_EQ(s.ExecuteFilter("args.sh", "/tmp/in file", address.c_str(), nullptr, -1, &code, &error), S_OK);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadFile(dir / "args"), "4\n/tmp/in file\n" + address.substr(0, 254) + "\n\n-1\n");
  EXPECT_EQ(ReadFile(dir / "pwd"), product() + "/Filters\n");
}

TEST_F(Services, FilterEndings) {
  SetPath(product().c_str());
  s.SetFilterTimeout(300);
  struct Case {
    const char* script;
    HRESULT hr;
    DWORD code;
  } cases[] = {
      {"exit 0\n", S_OK, 0},
      {"exit 99\n", S_OK, 0x8004C003},  // family 6, low bits 3
      {"exit 1\n", S_OK, 0x80004005},  // no code of ours: a generic failure
      {"kill -9 $$\n", S_OK, 0x8007042B},
      {"exec sleep 30\n", 0x800705B4, 0x800705B4},  // killed at the limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Script("Filters", "end.sh", c.script);
    DWORD code = 12345;
    EXPECT_EQ(s.ExecuteFilter("end.sh", "f", "u", "n", 0, &code, nullptr), c.hr);
    EXPECT_EQ(code, c.code);
  }
}

TEST_F(Services, FilterNamesThatLeaveTheFolderAreRefusedBeforeAnythingStarts) {
  // Refused even before "Path" is looked up.
  for (const char* name : {".\\x.exe", "../args.sh", "/bin/true", "c:x", "..", ".", ""}) {
    SCOPED_TRACE(name);
    CStringA error;
    DWORD code = 5;
    EXPECT_EQ(s.ExecuteFilter(name, "f", "u", "n", 0, &code, &error), E_INVALIDARG);
    EXPECT_EQ(code, 0u);
    std::string text = error.c_str() ? error.c_str() : "";
    EXPECT_NE(text.find("is refused"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Filters\""), std::string::npos) << text;
  }
  EXPECT_EQ(s.ExecuteFilter(nullptr, "f", "u", "n", 0, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(s.ExecuteFilter("a.sh", nullptr, "u", "n", 0, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(s.ExecuteFilter("a.sh", "f", nullptr, "n", 0, nullptr, nullptr), E_INVALIDARG);
}

TEST_F(Services, FilterWithoutProductFolderOrProgram) {
  CStringA error;
  EXPECT_EQ(s.ExecuteFilter("a.sh", "f", "u", "n", 0, nullptr, &error), 0x80070002u);  // "Path" missing
  SetPath(product().c_str());
  EXPECT_EQ(s.ExecuteFilter("missing.sh", "f", "u", "n", 0, nullptr, &error), E_FAIL);
  EXPECT_STREQ(error.c_str(), "The filter program \"missing.sh\" could not be started.");
}

// ---------------------------------------------------------------------------------------------
// The custom action.

struct ExecuteCall {
  std::string file, parameters, directory, user, domain, password;
  BOOL wait = 2;
  int calls = 0;
};
ExecuteCall g_call;
HRESULT g_reply = 0;

HRESULT RecordingPipeExecute(HWND, const char* file, const char* parameters, const char* directory, const char* user,
                             const char* domain, const char* password, BOOL wait) {
  g_call = ExecuteCall{file, parameters, directory, user, domain, password, wait, g_call.calls + 1};
  return g_reply;
}

TEST_F(Services, CustomActionGoesToTheMessengerWithItsAccount) {
  SetPath(product().c_str());
  EXPECT_EQ(s.ExecuteCustomAction(nullptr), 0u);  // nothing configured
  g_call = {};
  vtx::settings::PipeExecute = RecordingPipeExecute;
  s.GetData()->CustomAction = "  \"act.sh\"  -a \"b c\"";
  s.GetData()->CustomActionUserName = "OFFICE\\rates";
  s.GetData()->CustomActionPassword = "secret";
  for (HRESULT reply : {HRESULT{0}, HRESULT{0x80070005}}) {
    g_reply = reply;
    EXPECT_EQ(s.ExecuteCustomAction(nullptr), reply);
  }
  EXPECT_EQ(g_call.calls, 2);
  EXPECT_EQ(g_call.file, "act.sh");
  EXPECT_EQ(g_call.parameters, "-a \"b c\"");
  EXPECT_EQ(g_call.directory, product() + "/Actions");
  EXPECT_EQ(g_call.domain, "OFFICE");
  EXPECT_EQ(g_call.user, "rates");
  EXPECT_EQ(g_call.password, "secret");
  EXPECT_EQ(g_call.wait, FALSE);
  s.GetData()->CustomActionUserName = "rates";
  g_reply = 0;
  EXPECT_EQ(s.ExecuteCustomAction(nullptr), 0u);
  EXPECT_EQ(g_call.domain, "");
  EXPECT_EQ(g_call.user, "rates");
}

TEST_F(Services, WithoutTheMessengerOnlyAnActionWithoutAccountRunsDirectly) {
  SetPath(product().c_str());
  // Each run appends its arguments, a line each, then "end".
  Script("Actions", "act.sh", "printf '%s\\n' \"$#\" \"$@\" end >> \"" + (dir / "ran") + "\"\n");
  s.GetData()->CustomAction = "act.sh refused";
  s.GetData()->CustomActionUserName = "OFFICE\\rates";
  for (auto seam : {static_cast<vtx::settings::PipeExecuteFunction>(nullptr), &RecordingPipeExecute}) {
    vtx::settings::PipeExecute = seam;
    g_reply = 0x8007053D;
    EXPECT_EQ(s.ExecuteCustomAction(nullptr), 0x8007053Du);
  }

  s.GetData()->CustomAction = "act.sh -a \"b c\"";
  s.GetData()->CustomActionUserName.Empty();
  EXPECT_EQ(s.ExecuteCustomAction(nullptr), 0u);
  EXPECT_TRUE(vtxtest::Eventually([&] { return ReadFile(dir / "ran").find("end\n") != std::string::npos; }));
  // Only this run: the refused ones never ran with the server's own rights.
  EXPECT_EQ(ReadFile(dir / "ran"), "2\n-a\nb c\nend\n");

  s.GetData()->CustomAction = "missing.sh";
  EXPECT_EQ(s.ExecuteCustomAction(nullptr), 0x80070002u);
}

TEST_F(Services, CustomActionNamesThatLeaveTheFolderAreRefused) {
  SetPath(product().c_str());
  vtx::settings::PipeExecute = RecordingPipeExecute;
  g_call = {};
  for (const char* action : {"../act.sh", "\"/bin/sh\" -c x", "\"..\"", "c:act"}) {
    SCOPED_TRACE(action);
    s.GetData()->CustomAction = action;
    char* error = nullptr;
    EXPECT_EQ(s.ExecuteCustomAction(nullptr, &error), E_INVALIDARG);
    std::string text = Take(error);
    EXPECT_NE(text.find("\"Actions\""), std::string::npos) << text;
  }
  EXPECT_EQ(g_call.calls, 0);
}

// ---------------------------------------------------------------------------------------------
// Lists and look-ups of the active currencies.

TEST_F(Services, OnlyConstantCurrencies) {
  EXPECT_TRUE(s.OnlyConstantCurrencies());  // empty
  Active("EUR", 1);
  Active("DEM", 1.95583);
  Active("FRF", 6.55957);
  Active("XAF", 655.957);  // pegged
  EXPECT_TRUE(s.OnlyConstantCurrencies());
  Active("USD", 1.25);
  EXPECT_FALSE(s.OnlyConstantCurrencies());
}

TEST_F(Services, CheckFlagsSelectsByFlagsAndKind) {
  Active("USD", 1.25, 0, kInfoWarning | kInfoFluctuation);
  Active("JPY", 130);
  Active("DEM", 1.95583, 0, kInfoWarning);
  Active("XAF", 655.957, 0, kInfoWarning);
  struct Case {
    uint32_t bits, mode;
    const char* list;
    uint32_t count;
  } cases[] = {
      {kInfoWarning, 1, "USD (US Dollar)", 1},
      {kInfoWarning | kInfoFluctuation, 1, "USD (US Dollar)", 1},
      {kInfoWarning, 1 | 2, "USD (US Dollar)\tDEM (German mark)", 2},
      {kInfoWarning, 1 | 2 | 4, "USD (US Dollar)\tDEM (German mark)\tXAF (CFA Franc BEAC)", 3},
      {kInfoWarning, 0, "JPY (Yen)", 1},
      {kInfoCrossCheck, 1, "<null>", 0},
      {kInfoWarning, 1 | 8, "USD 1 = 0.8 EUR (US Dollar)", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    uint32_t count = 99;
    EXPECT_EQ(Take(s.CheckFlags(c.bits, &count, c.mode)), c.list);
    EXPECT_EQ(count, c.count);
  }
  // Mode 8 shows the rate in the base unit; when the base unit is not active, in euros.
  std::strcpy(s.GetData()->BaseUnit, "JPY");
  EXPECT_EQ(Take(s.CheckFlags(kInfoWarning, nullptr, 1 | 8)), "USD 1 = 104 JPY (US Dollar)");
  std::strcpy(s.GetData()->BaseUnit, "GBP");
  EXPECT_EQ(Take(s.CheckFlags(kInfoWarning, nullptr, 1 | 8)), "USD 1 = 0.8 EUR (US Dollar)");

  // Mode 16 marks what matched.
  EXPECT_EQ(Take(s.CheckFlags(kInfoWarning, nullptr, 0 | 16)), "JPY (Yen)");
  EXPECT_TRUE(Find(s, "JPY")->dwFlags & kInfoWarning);
}

TEST_F(Services, ConvertUnit) {
  Active("USD", 1.25);
  Active("JPY", 130);
  Active("GBP", -1.0);
  struct Case {
    double amount;
    const char* from;
    const char* to;
    uint32_t flags;
    const char* separators;
    HRESULT hr;
    const char* text;
    double result;
  } cases[] = {
      {100, "USD", "JPY", 0, nullptr, 0, "10400", 10400},
      {100, "840", "392", 0, nullptr, 0, "10400", 10400},  // numeric codes
      {1, "USD", "EUR", 4, nullptr, 0, "0.8", 0.8},        // the euro itself
      {10, "EUR", "USD", 4 | 1, nullptr, 0, "12.50", 12.5},
      {1.234, "EUR", "USD", 4, nullptr, 0, "1.5425", 1.5425},
      {1.234, "EUR", "USD", 4 | 1, nullptr, 0, "1.54", 1.54},
      {1000000, "EUR", "USD", 4 | 1 | 2, ",.", 0, "1.250.000,00", 1250000},
      {1000000, "EUR", "USD", 4 | 1 | 2, ",", 0, "1250000,00", 1250000},
      {1, "USD", "EUR", 0, nullptr, 0x80070490, nullptr, 0},  // EUR is not active
      {1, "USD", "XXX", 0, nullptr, 0x80070490, nullptr, 0},
      {1, "GBP", "USD", 0, nullptr, 0x80020012, nullptr, 0},  // never set
      {1, nullptr, "USD", 0, nullptr, E_INVALIDARG, nullptr, 0},
      {std::nan(""), "USD", "JPY", 0, nullptr, E_INVALIDARG, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.from ? c.from : "null") + " " + (c.to ? c.to : "null") + " " +
                 std::to_string(c.flags));
    char text[64] = "untouched";
    double result = -7;
    ASSERT_EQ(s.ConvertUnit(c.amount, c.from, c.to, text, sizeof text, c.flags, c.separators, &result), c.hr);
    if (c.hr) continue;
    EXPECT_STREQ(text, c.text);
    EXPECT_NEAR(result, c.result, 1e-9);
  }
  char small[4];
  EXPECT_EQ(s.ConvertUnit(100, "USD", "JPY", small, sizeof small, 0, nullptr, nullptr), 0u);
  EXPECT_STREQ(small, "104");
  char rate[32];
  EXPECT_EQ(s.CurrencyRateToString("JPY", "EUR", rate, sizeof rate), 0u);
  EXPECT_STREQ(rate, "0.0076923076923");
}

TEST_F(Services, CurrencyListCopiesAndComparesRates) {
  Active("USD", 1.25);
  Active("JPY", 130);
  CCurrencyList a, b;
  ASSERT_TRUE(a.CopyFrom(s));
  ASSERT_TRUE(b.CopyFrom(s));
  EXPECT_EQ(a.GetCount(), 2u);
  EXPECT_FALSE(a.CompareRates(b));
  reinterpret_cast<CurrencyInfo*>(b[1])->dRate = 131;
  EXPECT_TRUE(a.CompareRates(b));
  EXPECT_TRUE(b.CompareRates(a));
  b.Remove(1u);
  EXPECT_TRUE(a.CompareRates(b));  // a code on one side only
  EXPECT_TRUE(b.CompareRates(a));

  ASSERT_TRUE(b.CopyTo(s));
  EXPECT_EQ(s.GetRates().Active.GetCount(), 1u);
  EXPECT_EQ(Rate(s, "USD"), 1.25);
  EXPECT_EQ(Find(s, "JPY"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Tests on the configuration.

TEST_F(Services, EmailProfiles) {
  s.GetData()->MessagesEmailProfile = "<smtp>";
  EXPECT_TRUE(s.IsMessageEmailProfileSmtp());
  EXPECT_FALSE(s.IsMessageEmailProfileDefault());
  ASSERT_TRUE(s.SetMessageEmailProfileDefault());
  EXPECT_STREQ(s.GetData()->MessagesEmailProfile.c_str(), "<Windows Messaging Default>");
  EXPECT_TRUE(s.IsMessageEmailProfileDefault());
  ASSERT_TRUE(s.SetMessageEmailProfileSmtp());
  EXPECT_STREQ(s.GetData()->MessagesEmailProfile.c_str(), "<SMTP>");
  s.GetData()->MessagesEmailProfile = "Outlook";
  EXPECT_FALSE(s.IsMessageEmailProfileSmtp());
  EXPECT_FALSE(s.IsMessageEmailProfileDefault());
}

BOOL IsTestMakerURL(const char* url) { return std::strstr(url, "maker.example") ? TRUE : FALSE; }

TEST_F(Services, HulvaneDataSource) {
  CDataSourceList& sources = s.GetData()->Sources;
  sources.Empty();
  EXPECT_FALSE(s.HasHulvaneDataSource(IsTestMakerURL));
  for (const char* url : {"http://bank.example/rates.html", "https://rates.maker.example/r.ini"}) {
    auto* source = new CDataSource;
    ASSERT_TRUE(source->SetURL(url));
    ASSERT_TRUE(sources.Add(source));
    EXPECT_EQ(s.HasHulvaneDataSource(IsTestMakerURL), std::strstr(url, "maker") != nullptr) << url;
  }
  EXPECT_FALSE(s.HasHulvaneDataSource(nullptr));
}

TEST_F(Services, DefinitionsCheckIsDueSevenDaysAfterTheLastAttempt) {
  const uint64_t now = NowU64();
  struct Case {
    uint64_t success, failure;
    bool due;
  } cases[] = {
      {0, 0, true},
      {now - kWeek, 0, true},  // exactly 7 days
      {0, now - kWeek - kSecond, true},
      {now - kWeek + 60 * kSecond, 0, false},
      {now - 2 * kWeek, now - 3600 * kSecond, false},  // the later of the two counts
      {now + 3600 * kSecond, 0, false},                // in the future
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.success) + " " + std::to_string(c.failure));
    s.GetData()->EMULoadSuccess = U64ToFileTime(c.success);
    s.GetData()->EMULoadFailure = U64ToFileTime(c.failure);
    EXPECT_EQ(s.IsTimeToLoadEMU(), c.due);
  }
}

TEST_F(Services, DefinitionsCheckStampsAreStored) {
  s.GetData()->EMULoadSuccess = FILETIME{};
  s.GetData()->EMULoadFailure = FILETIME{};
  ASSERT_EQ(s.EMUUpdateCompleted(false), 0u);
  EXPECT_FALSE(s.IsTimeToLoadEMU());
  EXPECT_EQ(FileTimeToU64(s.GetData()->EMULoadSuccess), 0u);
  EXPECT_NEAR(static_cast<double>(FileTimeToU64(s.GetData()->EMULoadFailure)), static_cast<double>(NowU64()),
              30.0 * kSecond);
  CSettings reloaded;
  ASSERT_TRUE(reloaded.Create(nullptr));
  EXPECT_EQ(FileTimeToU64(reloaded.GetData()->EMULoadFailure), FileTimeToU64(s.GetData()->EMULoadFailure));
  ASSERT_EQ(s.EMUUpdateCompleted(true), 0u);
  EXPECT_NE(FileTimeToU64(s.GetData()->EMULoadSuccess), 0u);
}

}  // namespace
