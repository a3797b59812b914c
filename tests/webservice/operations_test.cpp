// The currency, mapping, information and administrative operations called directly, on a private
// store; the server seam records what the administrative operations send.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/foundation/timetext.h"
#include "platform/systime.h"
#include "engine/foundation/servercommands.h"
#include "tests/support/dates.h"
#include "tests/support/paths.h"
#include "tests/webservice/web_fixture.h"

using namespace vtxtest;
using Hulvane::Web::Services::Vantrex;

namespace {

// USD and GBP with times, JPY, CHF not set, DEM (euro area) and XPF (pegged to the euro).
constexpr char kRates[] =
    "[General]\nSource = Test bank\nCopyright = (c) Test bank\nDate = 2005-03-01T13:05:09Z\n"
    "Expires = 2005-03-02T13:05:09Z\n"
    "[EUR]\nUSD = 1.25\nGBP = 0.8\nJPY = 160\nCHF = 0\nDEM = 1.95583\nXPF = 119.3317422\n"
    "[Smallest]\nJPY = 1\n";

struct Sent {
  UINT msg = 0;
  ULONG_PTR code = 0;
  uint32_t head = 0;
  std::string text;
  DWORD size = 0;
  DWORD timeout = 0;
};
std::vector<Sent> g_sent;
DWORD g_answer = 0;
HRESULT g_transport = S_OK;

HRESULT Record(UINT msg, WPARAM, LPARAM lParam, DWORD timeout, DWORD* result) {
  Sent s;
  s.msg = msg;
  s.timeout = timeout;
  if (msg == WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    s.code = cds->dwData;
    s.size = cds->cbData;
    std::memcpy(&s.head, cds->lpData, 4);
    s.text = static_cast<const char*>(cds->lpData) + 4;
  }
  g_sent.push_back(s);
  if (result) *result = g_answer;
  return g_transport;
}

class Operations : public WebTest {
 protected:
  void SetUp() override {
    SeedStore(kRates);
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    FILETIME winter;
    ASSERT_TRUE(StringToTime("2005-02-28T13:05:09Z", &winter));
    s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("USD"))]->ftLastChange = winter;
    s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("CHF"))]->ftLastChange = FILETIME{};
    s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("GBP"))]->dwFlags |= kInfoWarning;
    s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("GBP"))]->dwServers = 3;
    s.GetRates().Message = "Rates & more <b>\r\nsecond line\x01";
    ASSERT_EQ(0u, s.SaveINI());
    std::string cat = SourcePath("resources/0409/vantrex.cat");
    SetString("Resources0409", cat.c_str());
    SetString("Resources0000", cat.c_str());
    SetString("Path", WebDir().path().c_str());
    mkdir((WebDir() / "Configurations").c_str(), 0750);
    SetDword("AllowAdminWebService", 1);  // off unless the administrator turns it on
    g_sent.clear();
    g_answer = 0;
    g_transport = S_OK;
    g_pfnSendVXVMessageTimeout = Record;
  }
  void TearDown() override {
    g_pfnSendVXVMessageTimeout = nullptr;
    g_dwAdminUpdateTimeoutMs = 900000;
  }

  template <class F>
  static std::string Fails(F f) {
    try {
      f();
    } catch (const WebException& e) {
      char hr[12];
      std::snprintf(hr, sizeof hr, "%08X", e.GetHResult());
      return std::string(e.TypeName()) + "|" + e.what() + "|" + e.GetParamName() + "|" + hr;
    }
    return "no exception";
  }
  static void SetDword(const char* name, DWORD value) {
    HKEY key;
    ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(0, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    RegCloseKey(key);
  }
  Vantrex v;
  const ManagedString k = M("key");
};

const char kNotFound[] = "System.ArgumentException|Currency not found.||80070057";

}  // namespace

TEST_F(Operations, CurrencyFacts) {
  EXPECT_EQ(N(v.Currencies(k)), "EUR;USD;GBP;JPY;CHF;DEM;XPF");
  SetString("Separator", "|");
  EXPECT_EQ(N(v.Currencies(k)), "EUR|USD|GBP|JPY|CHF|DEM|XPF");

  EXPECT_TRUE(v.CurrencyExists(k, M("usd")));
  EXPECT_TRUE(v.CurrencyExists(k, M("840")));
  EXPECT_FALSE(v.CurrencyExists(k, M("ATS")));
  const struct {
    const char* code;
    const char* regime;
    bool subUnit, euro, legal, physical, warning;
    int32_t servers;
    const char* smallest;
  } cases[] = {
      {"EUR", "EMU", true, true, true, true, false, 0, "0.01"},
      {"DEM", "EMU", true, true, false, true, false, 0, "0.01"},
      {"XPF", "Pegged-EUR", true, false, true, true, false, 0, "1"},
      {"usd", "", false, false, true, true, false, 0, "0.01"},
      {"826", "", false, false, true, true, true, 3, "0.01"},
      {"JPY", "", false, false, true, true, false, 0, "1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(N(v.CurrencyRegime(k, M(c.code))), c.regime) << c.code;
    EXPECT_EQ(v.CurrencySubUnit(k, M(c.code)), c.subUnit) << c.code;
    EXPECT_EQ(v.CurrencyIsEuro(k, M(c.code)), c.euro) << c.code;
    EXPECT_EQ(v.CurrencyLegalTender(k, M(c.code)), c.legal) << c.code;
    EXPECT_EQ(v.CurrencyPhysical(k, M(c.code)), c.physical) << c.code;
    EXPECT_EQ(v.CurrencyWarning(k, M(c.code)), c.warning) << c.code;
    EXPECT_EQ(v.Vantrexs(k, M(c.code)), c.servers) << c.code;
    EXPECT_EQ(N(v.CurrencySmallestUnit(k, M(c.code))), c.smallest) << c.code;
  }
  // The database knows currencies the active list does not hold.
  EXPECT_FALSE(v.CurrencyLegalTender(k, M("ATS")));
  EXPECT_EQ(N(v.CurrencySmallestUnit(k, M("KWD"))), "0.001");
  EXPECT_EQ(Fails([&] { v.CurrencyRegime(k, M("ATS")); }), kNotFound);
  EXPECT_EQ(Fails([&] { v.CurrencyLegalTender(k, M("QQQ")); }), kNotFound);
  for (auto call : std::vector<std::function<void()>>{
           [&] { v.CurrencyExists(k, M(nullptr)); }, [&] { v.CurrencyHits(k, M(nullptr)); },
           [&] { v.CurrencyName(k, M(nullptr), M(nullptr), false); }, [&] { v.Vantrexs(k, M(nullptr)); },
           [&] { v.CurrencyIsEuro(k, M(nullptr)); }})
    EXPECT_EQ(Fails(call),
              "System.ArgumentNullException|Value cannot be null. Parameter name: Currency|Currency|80004003");
}

TEST_F(Operations, TimesAndSeconds) {
  EXPECT_EQ(N(v.CurrencyLastChangeTimeUT(k, M("USD"))), "2005-02-28T13:05:09Z");
  EXPECT_EQ(N(v.CurrencyLastChangeTimeLocal(k, M("USD"))), LocalByPresentOffset("2005-02-28T13:05:09Z"));
  EXPECT_EQ(N(v.CurrencyLastChangeTimeUT(k, M("CHF"))), "") << "never set";
  EXPECT_EQ(v.CurrencySecondsSinceLastChange(k, M("CHF")), 2147483647);
  int32_t since = v.CurrencySecondsSinceLastChange(k, M("USD"));
  EXPECT_GT(since, 600000000);
  EXPECT_EQ(N(v.InformationCreationTimeUT(k)), "2005-03-01T13:05:09Z");
  EXPECT_EQ(N(v.InformationExpirationTimeUT(k)), "2005-03-02T13:05:09Z");
  EXPECT_EQ(N(v.InformationExpirationTimeLocal(k)), LocalByPresentOffset("2005-03-02T13:05:09Z"));
  EXPECT_EQ(N(v.LastChangeTimeUT(k)), N(v.LastChangeTimeUT(k)));
  EXPECT_EQ(N(v.Version(k)), "4.0");
  EXPECT_EQ(N(v.InformationSource(k)), "Test bank");
  EXPECT_EQ(N(v.InformationCopyright(k)), "(c) Test bank");
  EXPECT_EQ(N(v.InformationMessage(k)), "Rates & more <b>\r\nsecond line\x01");
  std::string now = N(v.CurrentTimeUT(k));
  FILETIME t;
  ASSERT_TRUE(StringToTime(now.c_str(), &t)) << now;
  EXPECT_LE(std::llabs(SecondsSince(t)), 5);

  // Times outside xs:int are clamped, at both ends.
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  FILETIME old{}, ahead;
  old.dwLowDateTime = 1;  // 1601
  ASSERT_TRUE(StringToTime("2200-01-01T00:00:00Z", &ahead));
  s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("GBP"))]->ftLastChange = old;
  s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("JPY"))]->ftLastChange = ahead;
  ASSERT_EQ(0u, s.SaveINI());
  EXPECT_EQ(v.CurrencySecondsSinceLastChange(k, M("GBP")), 2147483647);
  EXPECT_EQ(v.CurrencySecondsSinceLastChange(k, M("JPY")), -2147483647 - 1);
  EXPECT_EQ(v.SecondsSinceLastChange(k), -2147483647 - 1) << "the latest change is the one ahead";

  // A time before 1970 answers in local time as in universal time.
  FILETIME moon;
  ASSERT_TRUE(StringToTime("1969-07-20T20:17:40Z", &moon));
  s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("USD"))]->ftLastChange = moon;
  ASSERT_EQ(0u, s.SaveINI());
  EXPECT_EQ(N(v.CurrencyLastChangeTimeUT(k, M("USD"))), "1969-07-20T20:17:40Z");
  EXPECT_EQ(N(v.CurrencyLastChangeTimeLocal(k, M("USD"))), LocalByPresentOffset("1969-07-20T20:17:40Z"));
}

TEST_F(Operations, HitsNamesAndSymbols) {
  EXPECT_EQ(v.CurrencyHits(k, M("XYZ")), 0) << "a code never counted";
  ASSERT_TRUE(SetUnitHits("USD", 12));
  ASSERT_TRUE(SetUnitHits("GBP", 0xFFFFFFFF));
  EXPECT_EQ(v.CurrencyHits(k, M("840")), 12);
  EXPECT_EQ(v.CurrencyHits(k, M("GBP")), 2147483647);
  EXPECT_EQ(N(v.CurrencyName(k, M("USD"), M("1033"), true)), "US Dollar");
  EXPECT_EQ(N(v.CurrencyName(k, M("GBP"), M("DEU"), false)), "Pfund Sterling");
  EXPECT_EQ(N(v.CurrencyName(k, M("GBP"), M("0x410"), false)), "Lira sterlina");
  EXPECT_EQ(N(v.CurrencySymbol(k, M("EUR"), M("1031"))), "\xE2\x82\xAC");
  EXPECT_EQ(N(v.CurrencySymbol(k, M("USD"), M(nullptr))), "$") << "the system default locale";
  EXPECT_EQ(N(v.CurrencyCustom(k, M("USD"), M("1033"))), "");
  EXPECT_EQ(Fails([&] { v.CurrencySymbol(k, M("ATS"), M(nullptr)); }), kNotFound);
}

TEST_F(Operations, Mappings) {
  const struct {
    const char* text;
    bool activeOnly;
    const char* country;
    const char* domain;
  } cases[] = {
      {"de", false, "EUR", "EUR"}, {"040", false, "EUR", "USD"}, {"792", false, "TRY", "USD"},
      {"gb", true, "GBP", "GBP"},  {"ch", true, "CHF", "CHF"},   {"www.example.gov", false, "USD", "USD"},
      {"gov", false, "USD", "USD"}, {"http://www.bank.co.uk/", false, "USD", "GBP"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(N(v.CountryToCurrency(k, M(c.text), c.activeOnly)), c.country) << c.text;
    EXPECT_EQ(N(v.DomainToCurrency(k, M(c.text), c.activeOnly)), c.domain) << c.text;
  }
  EXPECT_EQ(N(v.LocaleToCurrency(k, M("1031"), true)), "EUR");
  EXPECT_EQ(N(v.LocaleToCurrency(k, M("0x411"), false)), "JPY");
  EXPECT_EQ(N(v.LocaleToCurrency(k, M("no locale bears this name"), false)), "USD") << "the default locale";
  EXPECT_EQ(Fails([&] { v.CountryToCurrency(k, M(nullptr), false); }),
            "System.ArgumentException|Value does not fall within the expected range.||80070057");
  EXPECT_EQ(Fails([&] { v.DomainToCurrency(k, M("http:///"), false); }),
            "System.ArgumentException|Value does not fall within the expected range.||80070057");
}

TEST_F(Operations, AdministrationIsGatedBeforeItsArguments) {
  SetDword("AllowAdminWebService", 0);
  const std::string off =
      "System.ApplicationException|The administrative operations of the Web service are turned off.||80131600";
  EXPECT_EQ(Fails([&] { v.AdminMessage(k, M(nullptr), 1); }), off);
  EXPECT_EQ(Fails([&] { v.AdminLoad(k, M("../x")); }), off);
  EXPECT_EQ(Fails([&] { v.AdminSave(k, M("a")); }), off);
  EXPECT_EQ(Fails([&] { v.AdminUpdateNow(k); }), off);
  EXPECT_TRUE(g_sent.empty());
}

TEST_F(Operations, ConfigurationFilesStayInTheirFolder) {
  const std::string folder = WebDir() / "Configurations";
  symlink("/etc", (folder + "/out").c_str());
  symlink("/etc/passwd", (folder + "/passwd.vx-cnf").c_str());
  v.AdminSave(k, M("backup"));
  v.AdminSave(k, M("team/Monday.VX-CNF"));
  v.AdminLoad(k, U((folder + "/backup.vx-cnf").c_str()));
  ASSERT_EQ(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[0].code, WM_VX_EXPORTSETTINGS);
  EXPECT_EQ(g_sent[0].text, folder + "/backup.vx-cnf");
  EXPECT_EQ(g_sent[0].head, 1u);
  EXPECT_EQ(g_sent[0].size, g_sent[0].text.size() + 8);
  EXPECT_EQ(g_sent[1].text, folder + "/team/Monday.VX-CNF");
  EXPECT_EQ(g_sent[2].code, WM_VX_IMPORTSETTINGS);
  EXPECT_EQ(g_sent[2].text, folder + "/backup.vx-cnf");

  const std::string refused = "System.UnauthorizedAccessException|";
  for (const char* name : {"../registry.db", "a/../../x", "..\\x", "/etc/passwd", "/tmp/x.vx-cnf", "out/passwd",
                           "passwd"}) {
    std::string f = Fails([&] { v.AdminLoad(k, M(name)); });
    EXPECT_EQ(f.compare(0, refused.size(), refused), 0) << name << ": " << f;
  }
  EXPECT_EQ(Fails([&] { v.AdminSave(k, M("")); }),
            "System.ArgumentException|Value does not fall within the expected range.||80070057");
  EXPECT_EQ(Fails([&] { v.AdminSave(k, M(nullptr)); }),
            "System.ArgumentException|Value does not fall within the expected range.||80070057");
  EXPECT_EQ(g_sent.size(), 3u) << "nothing refused reaches the server";

  g_answer = 0x80040207;
  EXPECT_EQ(Fails([&] { v.AdminLoad(k, M("backup")); }),
            "System.ApplicationException|The configuration is locked by another session.||80131600");
  g_answer = 0x8007000D;
  EXPECT_EQ(Fails([&] { v.AdminLoad(k, M("backup")); }).substr(0, 44),
            "System.Runtime.InteropServices.COMException|");
}

TEST_F(Operations, MessagesAndUpdates) {
  v.AdminMessage(k, U("Rates & <more>"), 3);
  v.AdminMessage(k, U("warn"), 2);
  v.AdminMessage(k, U("info"), 7);
  ASSERT_EQ(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[0].code, WM_VX_SHOWMESSAGE);
  EXPECT_EQ(g_sent[0].head, 0x10010u);
  EXPECT_EQ(g_sent[0].text, "Rates & <more>");
  EXPECT_EQ(g_sent[1].head, 0x10030u);
  EXPECT_EQ(g_sent[2].head, 0x10000u);
  EXPECT_EQ(Fails([&] { v.AdminMessage(k, M(nullptr), 1); }),
            "System.ArgumentNullException|Value cannot be null. Parameter name: Text|Text|80004003");
  std::string longest(kMaxAdminMessageBytes, 'm');
  v.AdminMessage(k, M(longest.c_str()), 1);
  EXPECT_EQ(g_sent.back().text.size(), kMaxAdminMessageBytes);
  longest += 'm';
  EXPECT_EQ(Fails([&] { v.AdminMessage(k, M(longest.c_str()), 1); }),
            "System.ArgumentException|The message is longer than 8192 bytes.|text|80070057");

  g_sent.clear();
  g_dwAdminUpdateTimeoutMs = 1234;
  v.AdminUpdateNow(k);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_sent[0].msg, WM_VX_UPDATENOW);
  EXPECT_EQ(g_sent[0].timeout, 1234u) << "an update is waited for with a limit";
  g_answer = 0x80040201;
  EXPECT_EQ(Fails([&] { v.AdminUpdateNow(k); }),
            "System.ApplicationException|The configuration is being edited. The update will run when the editing "
            "session ends.||80131600");
  g_answer = 0x80042001;  // a filter's exit code: a family, not a text
  EXPECT_EQ(Fails([&] { v.AdminUpdateNow(k); }),
            "System.Runtime.InteropServices.COMException|Exception from HRESULT: 0x80042001||80042001");
  g_answer = 0;
  g_transport = 0x800705B4;
  EXPECT_EQ(Fails([&] { v.AdminUpdateNow(k); }).substr(0, 44), "System.Runtime.InteropServices.COMException|");
  g_transport = 0x8007053D;
  std::string gone = Fails([&] { v.AdminMessage(k, U("x"), 1); });
  EXPECT_NE(gone.find("8007053D"), std::string::npos) << gone;
}
