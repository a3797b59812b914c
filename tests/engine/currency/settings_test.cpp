#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/scramble.h"
#include "platform/native/productpaths.h"
#include "platform/sync.h"
#include "tests/engine/currency/settings_fixture.h"
#include "tests/support/child.h"

namespace {

using vtxtest::FillEverything;
using vtxtest::SettingsTest;

const char* const kApp = "SOFTWARE\\Hulvane\\Vantrex\\4.0";

uint32_t StoredDword(const char* name, uint32_t missing = 0xDEADBEEF) {
  RegDwordValue v;
  return v.Load(HKEY_LOCAL_MACHINE, kApp, name) == 0 ? static_cast<uint32_t>(v) : missing;
}
void PutDword(const char* name, uint32_t value) {
  ASSERT_EQ(0u, RegDwordValue(value).Save(HKEY_LOCAL_MACHINE, kApp, name));
}
void PutString(const char* name, const char* text) {
  ASSERT_EQ(0u, SaveRegistryCStringA(text, HKEY_LOCAL_MACHINE, kApp, name));
}
// The stored bytes of a value, unscrambled; empty when it is missing.
std::vector<uint8_t> StoredPlain(const char* name) {
  RegBinaryValue v;
  if (v.Load(HKEY_LOCAL_MACHINE, kApp, name) != 0) return {};
  std::vector<uint8_t> b(static_cast<uint8_t*>(v.GetBuffer()), static_cast<uint8_t*>(v.GetBuffer()) + v.GetSize());
  DecryptBuffer(b.data(), static_cast<uint32_t>(b.size()));
  return b;
}

struct DefaultRow {
  const char* name;
  uint32_t CSettingsValues::*field;
  uint32_t constructed;  // a new block
  uint32_t loaded;       // after Load on an empty key
};

TEST_F(SettingsTest, DefaultsOfANewBlockAndOfAnEmptyKey) {
  const DefaultRow rows[] = {
      {"MessagesOnScreen", &CSettingsValues::MessagesOnScreen, 1, 1},
      {"MessagesToLog", &CSettingsValues::MessagesToLog, 1, 1},
      {"MessagesToFile", &CSettingsValues::MessagesToFile, 0, 0},
      {"MessagesViaEmail", &CSettingsValues::MessagesViaEmail, 0, 0},
      {"LastChangeMaxSeconds", &CSettingsValues::LastChangeMaxSeconds, 91200, 91200},
      {"LastChangeWarningPause", &CSettingsValues::LastChangeWarningPause, 86400, 86400},
      {"LastChangeEachMaxSeconds", &CSettingsValues::LastChangeEachMaxSeconds, 0, 0},
      {"LastChangeNoWeekendWarnings", &CSettingsValues::LastChangeNoWeekendWarnings, 1, 1},
      {"PartialDataWarnings", &CSettingsValues::PartialDataWarnings, 1, 1},
      {"ConflictingEMU", &CSettingsValues::ConflictingEMU, 0, 0},
      {"ConflictingPegged", &CSettingsValues::ConflictingPegged, 0, 0},
      {"UnknownCurrencies", &CSettingsValues::UnknownCurrencies, 0, 0},
      {"MultiServerMode", &CSettingsValues::MultiServerMode, 0, 0},
      {"AllowAdminCOM", &CSettingsValues::AllowAdminCOM, 1, 0},
      {"AllowAdminWebService", &CSettingsValues::AllowAdminWebService, 1, 0},
      {"ExecuteCustomAction", &CSettingsValues::ExecuteCustomAction, 0, 0},
      {"CrossCheckError", &CSettingsValues::CrossCheckError, 0, 0},
      {"CrossCheckMaxFluctuation", &CSettingsValues::CrossCheckMaxFluctuation, 15, 15},
      {"OnlyUpdateExisting", &CSettingsValues::OnlyUpdateExisting, 0, 0},
      {"AlwaysRetainEuro", &CSettingsValues::AlwaysRetainEuro, 1, 1},
      {"MessageOnlyOnce", &CSettingsValues::MessageOnlyOnce, 0, 1},
      {"AutoUpdate", &CSettingsValues::AutoUpdate, 0, 0},
      {"Modem", &CSettingsValues::Modem, 0, 0},
      {"Proxy", &CSettingsValues::Proxy, 2, 2},
      {"NoProxyForLAN", &CSettingsValues::NoProxyForLAN, 1, 1},
      {"HangUp", &CSettingsValues::HangUp, 1, 1},
      {"FluctuationError", &CSettingsValues::FluctuationError, 0, 0},
      {"MaxFluctuation", &CSettingsValues::MaxFluctuation, 15, 15},
      {"UpdateAtLeast", &CSettingsValues::UpdateAtLeast, 0, 86400},
      {"UpdateAtMost", &CSettingsValues::UpdateAtMost, 0, 3600},
      {"UpdateAttempts", &CSettingsValues::UpdateAttempts, 0, 2},
      {"UpdateRetryPause", &CSettingsValues::UpdateRetryPause, 0, 5},
  };
  CSettingsData fresh;
  for (const auto& r : rows) EXPECT_EQ(r.constructed, fresh.*r.field) << r.name;
  EXPECT_STREQ("EUR", fresh.BaseUnit);
  EXPECT_TRUE(fresh.ProxyServer.IsNull());
  EXPECT_TRUE(fresh.MessagesEmailProfile.IsNull());

  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  const CSettingsData& d = *s.GetData();
  for (const auto& r : rows) EXPECT_EQ(r.loaded, d.*r.field) << r.name;
  EXPECT_STREQ("EUR", d.BaseUnit);
  EXPECT_STREQ("<SMTP>", d.MessagesEmailProfile.c_str());
  EXPECT_STREQ("localhost", d.MessagesEmailSmtpServer.c_str());
  EXPECT_STREQ(":80", d.ProxyServer.c_str());
  EXPECT_TRUE(d.DialUp.IsNull());
  EXPECT_TRUE(d.UserAgent.IsNull());
  EXPECT_TRUE(d.MessagesEmailRecipients.IsNull());
  EXPECT_TRUE(d.MessagesFile.IsNull());
  EXPECT_TRUE(d.CustomAction.IsNull());
  EXPECT_TRUE(d.ServerPassword.IsNull());
  EXPECT_EQ(0u, FileTimeToU64(d.LastChangeChecked));
  EXPECT_EQ(0u, FileTimeToU64(d.EMULoadSuccess));
  // No stored rates: the euro alone.
  ASSERT_EQ(1u, s.GetRates().Active.GetCount());
  EXPECT_STREQ("EUR", s.GetRates()[0]->szCode);
  EXPECT_EQ(237u, d.Currencies.GetCount());
}

TEST_F(SettingsTest, LoadFallbacksOfSingleValues) {
  PutDword("MessagesViaEmail", 0);
  PutString("BaseUnit", "");
  PutString("MessagesEmailSmtpServer", "");
  // A string of another type is unreadable.
  ASSERT_EQ(0u, RegDwordValue(7).Save(HKEY_LOCAL_MACHINE, kApp, "ProxyServer"));
  // A time shorter than 8 bytes is missing.
  RegBinaryValue shortTime;
  ASSERT_TRUE(shortTime.Copy("\x01\x02\x03", 3));
  ASSERT_EQ(0u, shortTime.Save(HKEY_LOCAL_MACHINE, kApp, "LastChangeChecked"));
  PutDword("HangUp", 7);  // a bool loads as 1
  PutDword("MaxFluctuation", 40);

  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  const CSettingsData& d = *s.GetData();
  EXPECT_STREQ("<Windows Messaging Default>", d.MessagesEmailProfile.c_str());
  EXPECT_STREQ("EUR", d.BaseUnit);
  EXPECT_STREQ("localhost", d.MessagesEmailSmtpServer.c_str());
  EXPECT_STREQ(":80", d.ProxyServer.c_str());
  EXPECT_EQ(0u, FileTimeToU64(d.LastChangeChecked));
  EXPECT_EQ(1u, d.HangUp);
  EXPECT_EQ(40u, d.MaxFluctuation);

  PutString("BaseUnit", "ABCDEFGHIJKLMNOPQRST");
  s.Load(false);
  EXPECT_STREQ("ABCDEFGHIJKLMNO", d.BaseUnit);
}

TEST_F(SettingsTest, OldAdminValueMovesToItsNewName) {
  PutDword("WebServiceAllowAdmin", 1);
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  EXPECT_EQ(1u, s.GetData()->AllowAdminWebService);
  EXPECT_EQ(1u, StoredDword("AllowAdminWebService"));
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kApp, "WebServiceAllowAdmin"));
  s.Load(false);
  EXPECT_EQ(1u, s.GetData()->AllowAdminWebService);
}

TEST_F(SettingsTest, LoadThatCannotWriteKeepsTheOldAdminValueInForceAndStored) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  PutDword("WebServiceAllowAdmin", 1);
  {
    // Inside a read scope the load's write scope cannot start: it loads in a read scope of its own.
    vtx::RegTransaction read(vtx::RegTransaction::Read);
    s.Load(false);
    EXPECT_EQ(1u, s.GetData()->AllowAdminWebService);
  }
  EXPECT_EQ(1u, StoredDword("WebServiceAllowAdmin"));
  EXPECT_EQ(0xDEADBEEFu, StoredDword("AllowAdminWebService"));
  s.Load(false);
  EXPECT_EQ(1u, s.GetData()->AllowAdminWebService);
  EXPECT_EQ(1u, StoredDword("AllowAdminWebService"));
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kApp, "WebServiceAllowAdmin"));
}

TEST_F(SettingsTest, ChangedStalenessLimitRestartsTheChecksOnReloadOnly) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  CSettingsData& d = *s.GetData();
  d.LastChangeChecked = U64ToFileTime(1111);
  d.LastChangeEachChecked = U64ToFileTime(2222);
  d.LastChangeLastWarning = U64ToFileTime(3333);
  ASSERT_EQ(0u, s.Save());

  s.Load(false);  // nothing changed
  EXPECT_EQ(1111u, FileTimeToU64(d.LastChangeChecked));
  PutDword("LastChangeMaxSeconds", 5000);
  s.Load(false);
  EXPECT_EQ(0u, FileTimeToU64(d.LastChangeChecked));
  EXPECT_EQ(0u, FileTimeToU64(d.LastChangeEachChecked));
  EXPECT_EQ(3333u, FileTimeToU64(d.LastChangeLastWarning));

  PutDword("LastChangeMaxSeconds", 6000);
  CSettings first;
  ASSERT_TRUE(first.Create(nullptr));
  EXPECT_EQ(1111u, FileTimeToU64(first.GetData()->LastChangeChecked));
}

TEST_F(SettingsTest, CredentialsValueSizesAndDeletion) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  CSettingsData& d = *s.GetData();
  ASSERT_EQ(0u, s.Save());
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kApp, "Authentication"));
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kApp, "CustomActionRunAs"));

  d.ProxyPassword = "abc";  // 1 + 4 + 6 = 11 bytes before padding
  ASSERT_EQ(0u, s.Save());
  std::vector<uint8_t> plain = StoredPlain("Authentication");
  ASSERT_EQ(32u, plain.size());
  EXPECT_EQ(7, plain[0]);
  EXPECT_EQ(0, std::memcmp(plain.data() + 1, "\0\0\0\0\0\0abc\0", 10));

  // 1 + 25 + 6 = 32 bytes: a whole further block of padding.
  d.ProxyPassword = "abcdefghijklmnopqrstuvwx";
  ASSERT_EQ(0u, s.Save());
  EXPECT_EQ(64u, StoredPlain("Authentication").size());

  d.ProxyPassword.Empty();
  d.ClientValidationUserName = "svc";
  ASSERT_EQ(0u, s.Save());
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kApp, "Authentication"));
  plain = StoredPlain("ClientValidationRunAs");
  ASSERT_EQ(32u, plain.size());
  EXPECT_EQ(2, plain[0]);
}

TEST_F(SettingsTest, CredentialsReadBackOnlyWithinTheStoredValue) {
  // A value cut after the second string's first bytes: that string ends at the end, the rest are null.
  const char raw[] = "\x07user\0pa";
  std::vector<uint8_t> b(raw, raw + sizeof raw - 1);
  EncryptBuffer(b.data(), static_cast<uint32_t>(b.size()));
  RegBinaryValue v;
  ASSERT_TRUE(v.Copy(b.data(), static_cast<uint32_t>(b.size())));
  ASSERT_EQ(0u, v.Save(HKEY_LOCAL_MACHINE, kApp, "Authentication"));
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  const CSettingsData& d = *s.GetData();
  EXPECT_STREQ("user", d.DialUpUserName.c_str());
  EXPECT_STREQ("pa", d.DialUpPassword.c_str());
  EXPECT_TRUE(d.DialUpDomain.IsNull());
  EXPECT_TRUE(d.ProxyPassword.IsNull());
}

TEST_F(SettingsTest, SaveAndLoadRoundTripOfAFullConfiguration) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  FillEverything(s);
  s.GetData()->OnlyUpdateExisting = 0;
  ASSERT_EQ(0u, Apply(s,
                      "[General]\r\nApplication = x\r\nSource = Bank\r\nCopyright = (c) Bank\r\nMessage = Hello\r\n"
                      "Date = 2026-12-09T14:15:00Z\r\nExpires = 2026-12-10T14:15:00Z\r\n"
                      "[EUR]\r\nUSD = 1.0523\r\nJPY = 163.12\r\nDEM = 1.95583\r\n"
                      "[Smallest]\r\nJPY = 1\r\n"
                      "[Private-HulvaneVantrex]\r\nDateNoTime = 1\r\n"));
  s.GetData()->OnlyUpdateExisting = 1;
  ASSERT_EQ(0u, s.Save());
  EXPECT_NE(0u, FileTimeToU64(s.GetLastSaved()));

  CSettings t;
  ASSERT_TRUE(t.Create(nullptr));
  const CSettingsData& a = *s.GetData();
  const CSettingsData& b = *t.GetData();
  EXPECT_EQ(0, std::memcmp(static_cast<const CSettingsValues*>(&a), static_cast<const CSettingsValues*>(&b),
                           sizeof(CSettingsValues)));
  CStringA CSettingsData::*strings[] = {
      &CSettingsData::ProxyServer, &CSettingsData::DialUp, &CSettingsData::UserAgent,
      &CSettingsData::DialUpUserName, &CSettingsData::DialUpPassword, &CSettingsData::DialUpDomain,
      &CSettingsData::ServerUserName, &CSettingsData::ServerPassword, &CSettingsData::ProxyUserName,
      &CSettingsData::ProxyPassword, &CSettingsData::MessagesEmailProfile, &CSettingsData::MessagesEmailRecipients,
      &CSettingsData::MessagesEmailSmtpServer, &CSettingsData::MessagesEmailSender, &CSettingsData::MessagesFile,
      &CSettingsData::CustomAction, &CSettingsData::CustomActionUserName, &CSettingsData::CustomActionPassword,
      &CSettingsData::ClientValidation, &CSettingsData::ClientValidationUserName,
      &CSettingsData::ClientValidationPassword};
  for (auto m : strings) EXPECT_EQ(Text(a.*m), Text(b.*m));

  ASSERT_EQ(2u, b.Sources.GetCount());
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Text(a.Sources[i]->GetURL()), Text(b.Sources[i]->GetURL()));
    EXPECT_EQ(Text(a.Sources[i]->GetFilter()), Text(b.Sources[i]->GetFilter()));
    EXPECT_EQ(Text(a.Sources[i]->GetUserData1()), Text(b.Sources[i]->GetUserData1()));
    EXPECT_EQ(Text(a.Sources[i]->GetUserNameA()), Text(b.Sources[i]->GetUserNameA()));
    EXPECT_EQ(Text(a.Sources[i]->GetPassword()), Text(b.Sources[i]->GetPassword()));
  }

  const CRatesData& r = t.GetRates();
  EXPECT_EQ("Bank", Text(r.Source));
  EXPECT_EQ("(c) Bank", Text(r.Copyright));
  EXPECT_EQ("Hello", Text(r.Message));
  EXPECT_EQ(FileTimeToU64(s.GetRates().Created), FileTimeToU64(r.Created));
  EXPECT_EQ(FileTimeToU64(s.GetRates().Expires), FileTimeToU64(r.Expires));
  EXPECT_EQ(1u, r.DateNoTime);
  ASSERT_EQ(s.GetRates().Active.GetCount(), r.Active.GetCount());
  for (uint32_t i = 0; i < r.Active.GetCount(); ++i) {
    const CurrencyInfo& x = *s.GetRates()[i];
    const CurrencyInfo& y = *r[i];
    EXPECT_STREQ(x.szCode, y.szCode);
    EXPECT_EQ(x.dRate, y.dRate) << x.szCode;
    EXPECT_EQ(x.dwRateDecimals, y.dwRateDecimals) << x.szCode;
    EXPECT_EQ(x.dSmallest, y.dSmallest) << x.szCode;
    EXPECT_EQ(x.dwSmallestDecimals, y.dwSmallestDecimals) << x.szCode;
    EXPECT_EQ(FileTimeToU64(x.ftLastChange) / 10000000, FileTimeToU64(y.ftLastChange) / 10000000) << x.szCode;  // to the second
  }
  EXPECT_EQ(163.12, Rate(t, "JPY"));
  EXPECT_EQ(1.0, Find(t, "JPY")->dSmallest);
}

TEST_F(SettingsTest, AFailedSaveLeavesTheOldConfigurationWhole) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  ASSERT_EQ(0u, s.Save());
  FILETIME saved = s.GetLastSaved();

  CSettings f;
  ASSERT_TRUE(f.Create(nullptr));
  f.GetData()->MessagesToFile = 1;
  f.GetData()->MaxFluctuation = 77;
  f.GetData()->ProxyPassword = "secret";
  // The data sources come after these values in a save; one without an address fails it.
  auto* source = new CDataSource;
  ASSERT_TRUE(f.GetData()->Sources.Add(source));
  EXPECT_EQ(E_UNEXPECTED, f.Save());

  EXPECT_EQ(0u, StoredDword("MessagesToFile"));
  EXPECT_EQ(15u, StoredDword("MaxFluctuation"));
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kApp, "Authentication"));
  EXPECT_EQ(FileTimeToU64(saved), FileTimeToU64(s.GetLastSaved()));
  CSettings t;
  ASSERT_TRUE(t.Create(nullptr));
  ASSERT_EQ(1u, t.GetData()->Sources.GetCount());
  EXPECT_NE(nullptr, t.GetData()->Sources[0]->GetURL());
}

TEST_F(SettingsTest, CopyFromIsDeepAndKeepsTheOldBlockWhenItFails) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  FillEverything(s);
  ASSERT_EQ(0u, Apply(s, "[EUR]\nUSD = 1.05\n", true));
  CSettings c;
  ASSERT_TRUE(c.CopyFrom(s));
  ASSERT_NE(s.GetData(), c.GetData());
  EXPECT_EQ("proxy.example:3128", Text(c.GetData()->ProxyServer));
  EXPECT_EQ("sp", Text(c.GetData()->ServerPassword));
  EXPECT_EQ(1.05, Rate(c, "USD"));
  EXPECT_EQ(237u, c.GetData()->Currencies.GetCount());
  c.GetData()->ProxyServer = "other";
  c.GetData()->MaxFluctuation = 1;
  ASSERT_EQ(0u, Apply(c, "[EUR]\nUSD = 2\n"));
  EXPECT_EQ("proxy.example:3128", Text(s.GetData()->ProxyServer));
  EXPECT_EQ(9u, s.GetData()->MaxFluctuation);
  EXPECT_EQ(1.05, Rate(s, "USD"));

  CSettings empty;
  CSettingsData* before = c.GetData();
  EXPECT_FALSE(c.CopyFrom(empty));
  EXPECT_EQ(before, c.GetData());
}

TEST_F(SettingsTest, WithoutServersTheOldSourceOrTheDefaultOne) {
  {
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    ASSERT_EQ(1u, s.GetData()->Sources.GetCount());
    EXPECT_EQ(0u, Text(s.GetData()->Sources[0]->GetURL()).rfind("https://", 0));
    EXPECT_EQ(nullptr, s.GetData()->Sources[0]->GetFilter());
  }
  vtxtest::TempDir filters;
  {
    std::ofstream(filters / "default.INI") << "[URL]\r\nAddress = \"https://bank.example/rates.html\"\r\n";
  }
  PutString("Filters", filters.path().c_str());
  {
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    ASSERT_EQ(1u, s.GetData()->Sources.GetCount());
    EXPECT_EQ("https://bank.example/rates.html", Text(s.GetData()->Sources[0]->GetURL()));
    EXPECT_EQ("default.INI", Text(s.GetData()->Sources[0]->GetFilter()));
  }
  PutString("DataSource", "http://old.example/rates.txt");
  PutString("DataSourceFilter", "old.ini");
  PutString("UserID", "me");
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  s.GetData()->ServerUserName = "su";
  s.Load(false);
  ASSERT_EQ(1u, s.GetData()->Sources.GetCount());
  const CDataSource& old = *s.GetData()->Sources[0];
  EXPECT_EQ("http://old.example/rates.txt", Text(old.GetURL()));
  EXPECT_EQ("old.ini", Text(old.GetFilter()));
  EXPECT_EQ("me", Text(old.GetUserData1()));
}

TEST_F(SettingsTest, CanSaveLeavesNothingBehind) {
  EXPECT_EQ(0u, CanSaveSettings());
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, kApp, "_RegWriteTest"));
  EXPECT_EQ(0u, SaveRegistryCStringA(nullptr, HKEY_LOCAL_MACHINE, kApp, "NotThere"));
}

// Settings on a store the account may only read: they load, and saving them is refused. In a child
// as an account that file modes bind (root ignores them), with a runtime folder it may write.
TEST_F(SettingsTest, ReadOnlyStoreRefusesSaves) {
  vtxtest::TempDir dir;
  const std::string path = dir / "ro.db", run = dir / "run";
  vtxtest::ScopedEnv store(vtx::env::kRegistry, path);
  {
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    s.GetData()->MaxFluctuation = 7;
    ASSERT_EQ(0u, s.Save());
  }
  ASSERT_EQ(0, mkdir(run.c_str(), 0777));
  ASSERT_EQ(0, chmod(run.c_str(), 0777));
  for (const char* x : {"", "-wal", "-shm"}) chmod((path + x).c_str(), 0444);
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0555));
  int r = vtxtest::InChild([&run] {
    setenv(vtx::env::kRuntimeDir, run.c_str(), 1);
    if (!vtxtest::DropRoot()) return 99;
    // A thread of its own: store connections are per thread and opened on first use.
    int step = 0;
    std::thread([&] {
      CSettings s;
      if (!s.Create(nullptr)) step = 1;
      else if (s.GetData()->MaxFluctuation != 7) step = 2;  // what is stored reads back
      else if (CanSaveSettings() != E_ACCESSDENIED) step = 3;
      else if (s.Save() != E_ACCESSDENIED) step = 4;
    }).join();
    return step;
  });
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(0, r) << "the step that differed (99: root could not be given up)";
}

// ---------------------------------------------------------------------------------------------
// Several processes.

// A holder of the settings lock that never lets go makes the waiting operations fail with the
// time-out instead of hanging them; once it lets go, they go through again.
TEST_F(SettingsTest, SettingsLockIsWaitedForWithALimit) {
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    CSettingsAccess lock;
    held = lock.IsHeld();
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  {
    CSettingsAccess lock(100);
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(lock.Status(), E_TIMEOUT);
  }
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(s.Save(), E_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(kSettingsLockWaitMs + 5000));
  release = true;
  holder.join();
  EXPECT_EQ(s.Save(), S_OK);
}

TEST_F(SettingsTest, TwoProcessesSavingAtOnce) {
  {
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    s.GetData()->MaxFluctuation = s.GetData()->UpdateAttempts = 1;
    ASSERT_EQ(0u, s.Save());
  }
  std::string counter = vtxtest::SuiteStore() / "counter";
  { std::ofstream(counter) << 0; }
  const int kRounds = 12;
  // Each save writes a pair of values that belong together; the lock also guards a slow
  // read-modify-write of a counter file.
  auto saver = [&](uint32_t base) {
    CSettings s;
    if (!s.Create(nullptr)) return 1;
    for (int i = 0; i < kRounds; ++i) {
      s.GetData()->MaxFluctuation = base + i;
      s.GetData()->UpdateAttempts = base + i;
      {
        CSettingsAccess lock;
        if (!lock.IsHeld()) return 2;
        int n = 0;
        { std::ifstream(counter) >> n; }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        { std::ofstream(counter) << n + 1; }
        if (s.Save() != 0) return 3;  // the lock is recursive within a thread
      }
    }
    return 0;
  };
  pid_t a = fork();
  if (a == 0) _exit(saver(1000));
  pid_t b = fork();
  if (b == 0) _exit(saver(2000));
  int mixed = 0;
  for (int i = 0; i < 25; ++i) {
    CSettings r;
    ASSERT_TRUE(r.Create(nullptr));
    if (r.GetData()->MaxFluctuation != r.GetData()->UpdateAttempts) {
      ++mixed;
    }
  }
  EXPECT_EQ(0, vtxtest::WaitExit(a));
  EXPECT_EQ(0, vtxtest::WaitExit(b));
  EXPECT_EQ(0, mixed);
  int n = 0;
  std::ifstream(counter) >> n;
  EXPECT_EQ(2 * kRounds, n);
  CSettings last;
  ASSERT_TRUE(last.Create(nullptr));
  uint32_t v = last.GetData()->MaxFluctuation;
  EXPECT_TRUE(v == 1000 + kRounds - 1 || v == 2000 + kRounds - 1) << v;
}

std::string RatesText(int generation, int count) {
  std::string text = "[General]\nSource = gen" + std::to_string(generation) + "\n[EUR]\n";
  for (int i = 0; i < count; ++i) {
    char code[4] = {static_cast<char>('A' + i / 26 % 26), static_cast<char>('A' + i % 26), 'Q', 0};
    text += std::string(code) + " = " + std::to_string(generation) + ".5\n";
  }
  return text;
}

TEST_F(SettingsTest, KilledDuringSaveIniLeavesTheOldRatesWhole) {
  const int kCount = 400;
  {
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    ASSERT_EQ(0u, Apply(s, RatesText(1, kCount)));
    ASSERT_EQ(0u, s.SaveINI());
  }
  std::mt19937 rng(4711);
  for (int round = 0; round < 12; ++round) {
    pid_t pid = fork();
    if (pid == 0) {
      CSettings s;
      if (!s.Create(nullptr)) _exit(1);
      for (int g = 2;; ++g) {
        s.ClearInfo();  // a new run's texts, not an accumulation
        if (Apply(s, RatesText(g, kCount), true) != 0) _exit(2);
        s.SaveINI();
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(20000 + rng() % 200000));
    kill(pid, SIGKILL);
    vtxtest::WaitExit(pid);

    CSettings r;
    ASSERT_TRUE(r.Create(nullptr));
    const CRatesData& rates = r.GetRates();
    ASSERT_EQ(static_cast<uint32_t>(kCount) + 1, rates.Active.GetCount()) << "round " << round;
    std::string source = Text(rates.Source);
    ASSERT_EQ(0u, source.rfind("gen", 0));
    double expected = std::stoi(source.substr(3)) + 0.5;
    for (uint32_t i = 0; i < rates.Active.GetCount(); ++i)
      if (std::strcmp(rates[i]->szCode, "EUR") != 0) {
        ASSERT_EQ(expected, rates[i]->dRate) << rates[i]->szCode;
      }
    // The lock the killed process held is free again.
    CSettingsAccess lock;
    EXPECT_TRUE(lock.IsHeld());
  }
}

}  // namespace
