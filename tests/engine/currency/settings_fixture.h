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

// Every value away from its default, the credentials and a few rates.
inline void FillEverything(CSettings& s) {
  CSettingsData& d = *s.GetData();
  std::strcpy(d.BaseUnit, "USD");
  d.MessagesOnScreen = 0;
  d.MessagesToLog = 0;
  d.MessagesToFile = 1;
  d.MessagesViaEmail = 1;
  d.LastChangeMaxSeconds = 1;
  d.LastChangeWarningPause = 2;
  d.LastChangeEachMaxSeconds = 3;
  d.LastChangeNoWeekendWarnings = 0;
  d.PartialDataWarnings = 0;
  d.LastChangeChecked = U64ToFileTime(11);
  d.LastChangeLastWarning = U64ToFileTime(12);
  d.LastChangeEachChecked = U64ToFileTime(13);
  d.LastChangeEachLastWarning = U64ToFileTime(14);
  d.LastChangeReference = U64ToFileTime(15);
  d.ConflictingEMU = 2;
  d.ConflictingPegged = 1;
  d.UnknownCurrencies = 3;
  d.MultiServerMode = 2;
  d.AllowAdminCOM = 1;
  d.AllowAdminWebService = 1;
  d.ExecuteCustomAction = 4;
  d.CrossCheckError = 1;
  d.CrossCheckMaxFluctuation = 7;
  d.OnlyUpdateExisting = 1;
  d.AlwaysRetainEuro = 0;
  d.MessageOnlyOnce = 0;
  d.AutoUpdate = 1;
  d.Modem = 1;
  d.Proxy = 1;
  d.NoProxyForLAN = 0;
  d.HangUp = 0;
  d.FluctuationError = 1;
  d.MaxFluctuation = 9;
  d.UpdateAtLeast = 100;
  d.UpdateAtMost = 50;
  d.UpdateAttempts = 6;
  d.UpdateRetryPause = 8;
  d.EMULoadSuccess = U64ToFileTime(21);
  d.EMULoadFailure = U64ToFileTime(22);
  d.ProxyServer = "proxy.example:3128";
  d.DialUp = "Provider";
  d.UserAgent = "Agent/1";
  d.MessagesEmailProfile = "<SMTP>";
  d.MessagesEmailRecipients = "ops@example.org";
  d.MessagesEmailSmtpServer = "mail.example.org";
  d.MessagesEmailSender = "vtx@example.org";
  d.MessagesFile = "/tmp/messages.log";
  d.CustomAction = "after.sh -q";
  d.ClientValidation = "check.sh";
  const char* creds[] = {"du", "dp", "dd", "su", "sp", "pu", "pp", "cu", "cp", "vu", "vp"};
  CStringA* fields[] = {&d.DialUpUserName,       &d.DialUpPassword,      &d.DialUpDomain,     &d.ServerUserName,
                        &d.ServerPassword,       &d.ProxyUserName,       &d.ProxyPassword,    &d.CustomActionUserName,
                        &d.CustomActionPassword, &d.ClientValidationUserName, &d.ClientValidationPassword};
  for (size_t i = 0; i < 11; ++i) *fields[i] = creds[i];
  d.Sources.Empty();
  for (int i = 1; i <= 2; ++i) {
    auto* src = new CDataSource;
    src->SetURL(("https://rates.example/" + std::to_string(i) + "/[yyyy].txt").c_str());
    src->SetFilter("eurfeed.ini");
    src->SetUserData1("u1");
    src->SetUserNameA(i == 1 ? "srcuser" : nullptr);
    src->SetPassword(i == 1 ? "srcpass" : nullptr);
    d.Sources.Add(src);
  }
}

}  // namespace vtxtest
