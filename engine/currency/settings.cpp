#include "engine/currency/settings.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <thread>

#include "engine/currency/currencystore.h"
#include "engine/currency/filterdef.h"
#include "engine/currency/ratesdata.h"
#include "engine/currency/update.h"
#include "engine/foundation/inidataregistry.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/scramble.h"
#include "platform/heap.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"
#include "platform/sync.h"
#include "platform/systime.h"

const char g_szSettingsMutex[] = "HulvaneVantrexMutex";
const char g_szIniKey[] = VTX_APP_KEY "\\INI";
const char g_szServersKey[] = VTX_APP_KEY "\\Servers";

namespace {

using vtx::RegTransaction;

constexpr char kProfileSmtp[] = "<SMTP>";
constexpr char kProfileDefault[] = "<Windows Messaging Default>";
constexpr uint32_t kOandaMessageText = 192;
constexpr uint32_t kOandaSourceText = 187;
// The maker's rates service: a rates file of this system's own form.
constexpr char kDefaultRatesService[] = "https://rates.hulvane.com/vantrex/4.0/rates.ini";

// ---------------------------------------------------------------------------------------------
// Values of the application key, read from one open key.

class KeyReader {
 public:
  KeyReader() {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, KEY_READ, &m_key) != ERROR_SUCCESS) m_key = nullptr;
  }
  ~KeyReader() {
    if (m_key) RegCloseKey(m_key);
  }
  KeyReader(const KeyReader&) = delete;
  KeyReader& operator=(const KeyReader&) = delete;

  // A REG_DWORD or any other 4-byte value.
  bool Dword(const char* name, uint32_t* value) const {
    if (!m_key) return false;
    DWORD type = 0, size = sizeof(uint32_t);
    uint32_t v = 0;
    if (RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
        size != sizeof v)
      return false;
    *value = v;
    return true;
  }
  uint32_t Number(const char* name, uint32_t fallback) const {
    uint32_t v;
    return Dword(name, &v) ? v : fallback;
  }
  uint32_t Bool(const char* name, uint32_t fallback) const {
    uint32_t v;
    return Dword(name, &v) ? (v != 0 ? 1 : 0) : fallback;
  }
  // A REG_SZ value; false (the text untouched) when missing, of another type or out of memory.
  bool String(const char* name, CStringA& out) const {
    if (!m_key) return false;
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0, size = 0;
      if (RegQueryValueExA(m_key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
      char* block = static_cast<char*>(GlobalAlloc(0, static_cast<size_t>(size) + 1));
      if (!block) return false;
      DWORD got = size;
      LONG r = RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(block), &got);
      if (r == ERROR_MORE_DATA) {
        GlobalFree(block);
        continue;  // the value grew between the two calls
      }
      if (r != ERROR_SUCCESS || type != REG_SZ) {
        GlobalFree(block);
        return false;
      }
      block[got < size + 1 ? got : size] = 0;
      out.Attach(block);
      return true;
    }
    return false;
  }
  // Bytes of any type; false when missing.
  bool Binary(const char* name, RegBinaryValue& out) const {
    if (!m_key) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(m_key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (!out.SetBuffer(size ? size : 1)) return false;
    DWORD got = size;
    if (RegQueryValueExA(m_key, name, nullptr, &type, static_cast<BYTE*>(out.GetBuffer()), &got) != ERROR_SUCCESS)
      return false;
    if (got != size) return false;
    return true;
  }
  // An 8-byte FILETIME; a shorter value counts as missing, so the time is zero.
  FILETIME Time(const char* name) const {
    FILETIME t{};
    RegBinaryValue v;
    if (Binary(name, v) && v.GetSize() >= sizeof t) std::memcpy(&t, v.GetBuffer(), sizeof t);
    return t;
  }

 private:
  HKEY m_key = nullptr;
};

// Values written into one open key; every call gives its HRESULT.
class KeyWriter {
 public:
  KeyWriter() {
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | KEY_READ,
                             nullptr, &m_key, nullptr);
    m_status = r == ERROR_SUCCESS ? 0 : HRESULT_FROM_WIN32(static_cast<DWORD>(r));
    if (r != ERROR_SUCCESS) m_key = nullptr;
  }
  ~KeyWriter() {
    if (m_key) RegCloseKey(m_key);
  }
  KeyWriter(const KeyWriter&) = delete;
  KeyWriter& operator=(const KeyWriter&) = delete;
  HRESULT Status() const { return m_status; }

  HRESULT Dword(const char* name, uint32_t value) const {
    return Result(RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
  }
  HRESULT Binary(const char* name, const void* data, uint32_t size) const {
    return Result(RegSetValueExA(m_key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size));
  }
  HRESULT Time(const char* name, const FILETIME& t) const { return Binary(name, &t, sizeof t); }
  // Null deletes the value; a missing value counts as deleted.
  HRESULT String(const char* name, const char* text) const {
    if (!text) {
      LONG r = RegDeleteValueA(m_key, name);
      return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND ? 0 : HRESULT_FROM_WIN32(static_cast<DWORD>(r));
    }
    return Result(RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                 static_cast<DWORD>(std::strlen(text) + 1)));
  }
  HRESULT Delete(const char* name) const { return String(name, nullptr); }

 private:
  static HRESULT Result(LONG r) { return r == ERROR_SUCCESS ? 0 : HRESULT_FROM_WIN32(static_cast<DWORD>(r)); }
  HKEY m_key = nullptr;
  HRESULT m_status = 0;
};

// ---------------------------------------------------------------------------------------------
// Credentials.

void Wipe(void* data, size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
  while (size--) *p++ = 0;
}

// Wipes the text before it is freed: a password must not stay behind in freed memory.
void WipeString(CStringA& s) {
  if (char* p = s.GetBuffer()) Wipe(p, std::strlen(p));
  s.Empty();
}

HRESULT ReadCredentials(const KeyReader& key, const char* name, CStringA* const* strings, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) WipeString(*strings[i]);
  RegBinaryValue v;
  if (!key.Binary(name, v)) return 0;
  bool ok = vtx::settings::ParseCredentials(static_cast<const uint8_t*>(v.GetBuffer()), v.GetSize(), strings, count);
  Wipe(v.GetBuffer(), v.GetSize());
  return ok ? 0 : E_OUTOFMEMORY;
}

HRESULT WriteCredentials(const KeyWriter& key, const char* name, const CStringA* const* strings, uint32_t count,
                         uint32_t deleteAtOrBelow) {
  const char* texts[7] = {};
  for (uint32_t i = 0; i < count && i < 7; ++i) texts[i] = strings[i]->GetBuffer();
  uint8_t* buffer = nullptr;
  uint32_t size = 0;
  if (!vtx::settings::BuildCredentials(texts, count, deleteAtOrBelow, &buffer, &size)) return E_OUTOFMEMORY;
  if (!size) return key.Delete(name);
  HRESULT hr = key.Binary(name, buffer, size);
  Wipe(buffer, size);
  GlobalFree(buffer);
  return hr;
}

// ---------------------------------------------------------------------------------------------
// The plain values of the application key: one table drives the load and the save.

enum class ValueType { Flag, Number, Time, Text, BaseUnit };

struct StoredValue {
  const char* name;
  ValueType type;
  uint32_t CSettingsValues::*number;  // Flag (read as "not 0") and Number
  FILETIME CSettingsValues::*time;
  CStringA CSettingsData::*text;      // a missing text is empty, or `textFallback`
  uint32_t fallback;
  const char* textFallback;
  bool loadedByHand;  // Load has a rule of its own for it
};

constexpr StoredValue Flag(const char* name, uint32_t CSettingsValues::*m, uint32_t fallback, bool byHand = false) {
  return {name, ValueType::Flag, m, nullptr, nullptr, fallback, nullptr, byHand};
}
constexpr StoredValue Number(const char* name, uint32_t CSettingsValues::*m, uint32_t fallback, bool byHand = false) {
  return {name, ValueType::Number, m, nullptr, nullptr, fallback, nullptr, byHand};
}
constexpr StoredValue Time(const char* name, FILETIME CSettingsValues::*m) {
  return {name, ValueType::Time, nullptr, m, nullptr, 0, nullptr, false};
}
constexpr StoredValue Text(const char* name, CStringA CSettingsData::*m, const char* fallback = nullptr,
                           bool byHand = false) {
  return {name, ValueType::Text, nullptr, nullptr, m, 0, fallback, byHand};
}

using V = CSettingsValues;
using D = CSettingsData;
const StoredValue kStoredValues[] = {
    Flag("MessagesOnScreen", &V::MessagesOnScreen, 1),
    Flag("MessagesToLog", &V::MessagesToLog, 1),
    Flag("MessagesToFile", &V::MessagesToFile, 0),
    Flag("MessagesViaEmail", &V::MessagesViaEmail, 0, true),
    Text("MessagesEmailProfile", &D::MessagesEmailProfile, nullptr, true),
    Text("MessagesEmailRecipients", &D::MessagesEmailRecipients),
    Text("MessagesEmailSender", &D::MessagesEmailSender),
    Text("MessagesEmailSmtpServer", &D::MessagesEmailSmtpServer),
    Text("MessagesFile", &D::MessagesFile),
    Number("LastChangeMaxSeconds", &V::LastChangeMaxSeconds, 91200),
    Number("LastChangeWarningPause", &V::LastChangeWarningPause, 86400),
    Number("LastChangeEachMaxSeconds", &V::LastChangeEachMaxSeconds, 0),
    Flag("LastChangeNoWeekendWarnings", &V::LastChangeNoWeekendWarnings, 1),
    Flag("PartialDataWarnings", &V::PartialDataWarnings, 1),
    Time("LastChangeChecked", &V::LastChangeChecked),
    Time("LastChangeLastWarning", &V::LastChangeLastWarning),
    Time("LastChangeEachChecked", &V::LastChangeEachChecked),
    Time("LastChangeEachLastWarning", &V::LastChangeEachLastWarning),
    Time("LastChangeReference", &V::LastChangeReference),
    Number("ConflictingEMU", &V::ConflictingEMU, 0),
    Number("ConflictingPegged", &V::ConflictingPegged, 0),
    Number("UnknownCurrencies", &V::UnknownCurrencies, 0),
    Number("MultiServerMode", &V::MultiServerMode, 0),
    Number("AllowAdminCOM", &V::AllowAdminCOM, 0),
    Number("AllowAdminWebService", &V::AllowAdminWebService, 0, true),
    Number("ExecuteCustomAction", &V::ExecuteCustomAction, 0),
    Flag("CrossCheckError", &V::CrossCheckError, 0),
    Number("CrossCheckMaxFluctuation", &V::CrossCheckMaxFluctuation, 15),
    Text("CustomAction", &D::CustomAction),
    Text("ClientValidation", &D::ClientValidation),
    Text("ProxyServer", &D::ProxyServer, ":80"),
    Text("DialUp", &D::DialUp),
    Text("UserAgent", &D::UserAgent),
    {"BaseUnit", ValueType::BaseUnit, nullptr, nullptr, nullptr, 0, nullptr, false},
    Flag("OnlyUpdateExisting", &V::OnlyUpdateExisting, 0),
    Flag("AlwaysRetainEuro", &V::AlwaysRetainEuro, 1),
    Flag("MessageOnlyOnce", &V::MessageOnlyOnce, 1),
    Flag("AutoUpdate", &V::AutoUpdate, 0),
    Flag("Modem", &V::Modem, 0),
    Number("Proxy", &V::Proxy, 2),
    Flag("NoProxyForLAN", &V::NoProxyForLAN, 1),
    Flag("HangUp", &V::HangUp, 1),
    Number("UpdateAtLeast", &V::UpdateAtLeast, 86400),
    Number("UpdateAtMost", &V::UpdateAtMost, 3600),
    Number("UpdateAttempts", &V::UpdateAttempts, 2),
    Number("UpdateRetryPause", &V::UpdateRetryPause, 5),
    Flag("FluctuationError", &V::FluctuationError, 0),
    Number("MaxFluctuation", &V::MaxFluctuation, 15),
    Time("EMULoadSuccess", &V::EMULoadSuccess),
    Time("EMULoadFailure", &V::EMULoadFailure),
};

// The scrambled credentials values: their strings in stored order, and the size at or below
// which the value is deleted instead of written.
struct StoredCredentials {
  const char* name;
  CStringA CSettingsData::*strings[7];
  uint32_t count;
  uint32_t deleteAtOrBelow;
};
const StoredCredentials kStoredCredentials[] = {
    {"Authentication",
     {&D::DialUpUserName, &D::DialUpPassword, &D::DialUpDomain, &D::ServerUserName, &D::ServerPassword,
      &D::ProxyUserName, &D::ProxyPassword},
     7,
     8},
    {"CustomActionRunAs", {&D::CustomActionUserName, &D::CustomActionPassword}, 2, 3},
    {"ClientValidationRunAs", {&D::ClientValidationUserName, &D::ClientValidationPassword}, 2, 3},
};

void LoadValue(const KeyReader& key, const StoredValue& v, CSettingsData& d) {
  switch (v.type) {
    case ValueType::Flag: d.*v.number = key.Bool(v.name, v.fallback); break;
    case ValueType::Number: d.*v.number = key.Number(v.name, v.fallback); break;
    case ValueType::Time: d.*v.time = key.Time(v.name); break;
    case ValueType::Text:
      if (!key.String(v.name, d.*v.text)) {
        if (v.textFallback) d.*v.text = v.textFallback;
        else (d.*v.text).Empty();
      }
      break;
    case ValueType::BaseUnit: {
      std::strcpy(d.BaseUnit, "EUR");
      CStringA base;
      if (key.String(v.name, base) && !base.IsEmpty()) std::snprintf(d.BaseUnit, sizeof d.BaseUnit, "%s", base.c_str());
      break;
    }
  }
}

HRESULT SaveValue(const KeyWriter& w, const StoredValue& v, const CSettingsData& d) {
  switch (v.type) {
    case ValueType::Flag:
    case ValueType::Number: return w.Dword(v.name, d.*v.number);
    case ValueType::Time: return w.Time(v.name, d.*v.time);
    case ValueType::Text: return w.String(v.name, d.*v.text);
    case ValueType::BaseUnit: return w.String(v.name, d.BaseUnit);
  }
  return E_UNEXPECTED;
}

void LoadCredentials(const KeyReader& key, CSettingsData& d) {
  for (const StoredCredentials& c : kStoredCredentials) {
    CStringA* strings[7] = {};
    for (uint32_t i = 0; i < c.count; ++i) strings[i] = &(d.*c.strings[i]);
    ReadCredentials(key, c.name, strings, c.count);
  }
}

HRESULT SaveCredentials(const KeyWriter& w, const CSettingsData& d) {
  for (const StoredCredentials& c : kStoredCredentials) {
    const CStringA* strings[7] = {};
    for (uint32_t i = 0; i < c.count; ++i) strings[i] = &(d.*c.strings[i]);
    if (HRESULT hr = WriteCredentials(w, c.name, strings, c.count, c.deleteAtOrBelow)) return hr;
  }
  return 0;
}

// The computer's DNS domain; empty when it has none.
void GetComputerDomainName(char* buffer, DWORD size) {
  buffer[0] = 0;
  DWORD n = size;
  if (!GetComputerNameExA(ComputerNameDnsDomain, buffer, &n)) buffer[0] = 0;
}

// The plain values; `first` is false for a reload, which restarts the staleness checks when their
// limits changed.
void LoadPlainValues(const KeyReader& key, CSettingsData& d, bool first) {
  // The staleness limits before, so that a changed limit restarts the checks.
  const uint32_t oldMax = d.LastChangeMaxSeconds, oldPause = d.LastChangeWarningPause,
                 oldEachMax = d.LastChangeEachMaxSeconds, oldWeekend = d.LastChangeNoWeekendWarnings;
  for (const StoredValue& v : kStoredValues)
    if (!v.loadedByHand) LoadValue(key, v, d);

  // Without a stored profile the choice of e-mail tells which transport was meant.
  uint32_t viaEmail = 0;
  bool viaEmailStored = key.Dword("MessagesViaEmail", &viaEmail);
  d.MessagesViaEmail = viaEmailStored && viaEmail ? 1 : 0;
  if (!key.String("MessagesEmailProfile", d.MessagesEmailProfile))
    d.MessagesEmailProfile = viaEmailStored ? kProfileDefault : kProfileSmtp;
  if (d.MessagesEmailSmtpServer.IsEmpty()) d.MessagesEmailSmtpServer = "localhost";
  if (d.MessagesEmailSender.IsEmpty()) {
    char domain[115 - 8];
    GetComputerDomainName(domain, sizeof domain);
    if (domain[0]) {
      char sender[115];
      std::snprintf(sender, sizeof sender, "vantrex@%s", domain);
      d.MessagesEmailSender = sender;
    }
  }

  // The old name of the web service's admin switch moves to the new one. A load that cannot write
  // (read-only store, or a read scope around it) keeps the old value in force and leaves it stored
  // for a later load to move.
  uint32_t oldAdmin = 0, adminDefault = 0;
  if (key.Dword("WebServiceAllowAdmin", &oldAdmin)) {
    KeyWriter w;
    if (w.Status() == 0 && w.Dword("AllowAdminWebService", oldAdmin) == 0) w.Delete("WebServiceAllowAdmin");
    else adminDefault = oldAdmin;
  }
  d.AllowAdminWebService = key.Number("AllowAdminWebService", adminDefault);

  if (!first && (oldMax != d.LastChangeMaxSeconds || oldPause != d.LastChangeWarningPause ||
                 oldEachMax != d.LastChangeEachMaxSeconds || oldWeekend != d.LastChangeNoWeekendWarnings)) {
    d.LastChangeChecked = FILETIME{};
    d.LastChangeEachChecked = FILETIME{};
  }
}

bool CopyString(CStringA& to, const CStringA& from) {
  to = from.GetBuffer();
  return from.IsNull() || !to.IsNull();
}

bool CopyInfoList(CStringList<char>& to, const CStringList<char>& from) {
  to.Empty();
  for (char* e : from)
    if (!to.Add(e, kListAppend, sizeof(CurrencyInfo))) return false;
  return true;
}

// Whether loading must write: the old admin value to migrate, or the database's stamp to renew.
bool LoadWillWrite() {
  if (RegistryValueExists(HKEY_LOCAL_MACHINE, g_szAppKey, "WebServiceAllowAdmin")) return true;
  uint64_t stored = 0;
  HRESULT hr = vtx::currency::ReadStamp(g_szAppKey, g_szAllCurrenciesStamp, &stored);
  return hr != 0 || stored < FileTimeToU64(g_ftCurrencyDataStamp);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

namespace vtx::settings {

bool BuildCredentials(const char* const* strings, uint32_t count, uint32_t deleteAtOrBelow, uint8_t** buffer,
                      uint32_t* size) {
  *buffer = nullptr;
  *size = 0;
  uint64_t n = 1;
  for (uint32_t i = 0; i < count; ++i) n += (strings[i] ? std::strlen(strings[i]) : 0) + 1;
  if (n <= deleteAtOrBelow) return true;
  uint64_t total = n + (32 - n % 32);
  if (total > 0xFFFFFFF0ull) return false;
  auto* b = static_cast<uint8_t*>(GlobalAlloc(0, static_cast<size_t>(total)));
  if (!b) return false;
  b[0] = static_cast<uint8_t>(count);
  size_t at = 1;
  for (uint32_t i = 0; i < count; ++i) {
    size_t len = strings[i] ? std::strlen(strings[i]) : 0;
    if (len) std::memcpy(b + at, strings[i], len);
    at += len;
    b[at++] = 0;
  }
  uint32_t t = static_cast<uint32_t>(vtx::sync::NowMs());
  for (; at < total; ++at) {
    b[at] = static_cast<uint8_t>(t);
    t = (t >> 1) | (t << 31);
  }
  EncryptBuffer(b, static_cast<uint32_t>(total));
  *buffer = b;
  *size = static_cast<uint32_t>(total);
  return true;
}

bool ParseCredentials(const uint8_t* data, uint32_t size, CStringA* const* strings, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) strings[i]->Empty();
  if (!data || !size) return true;
  auto* plain = static_cast<uint8_t*>(GlobalAlloc(0, size));
  if (!plain) return false;
  std::memcpy(plain, data, size);
  DecryptBuffer(plain, size);
  bool ok = true;
  uint32_t at = 1;
  for (uint32_t i = 0; i < count && at < size; ++i) {
    uint32_t end = at;
    while (end < size && plain[end]) ++end;
    uint32_t len = end - at;
    char* text = static_cast<char*>(GlobalAlloc(0, static_cast<size_t>(len) + 1));
    if (!text) {
      ok = false;
      break;
    }
    std::memcpy(text, plain + at, len);
    text[len] = 0;
    strings[i]->Attach(text);
    at = end + 1;
  }
  Wipe(plain, size);
  GlobalFree(plain);
  return ok;
}

}  // namespace vtx::settings

// ---------------------------------------------------------------------------------------------

bool CRatesData::CopyFrom(const CRatesData& other) {
  if (!CopyInfoList(Active, other.Active)) return false;
  if (!CopyString(Source, other.Source) || !CopyString(Copyright, other.Copyright) ||
      !CopyString(Message, other.Message) || !CopyString(Warning, other.Warning) || !CopyString(Error, other.Error))
    return false;
  OwnData = other.OwnData;
  LastLoaded = other.LastLoaded;
  Created = other.Created;
  DateNoTime = other.DateNoTime;
  Expires = other.Expires;
  return true;
}

CSettingsData::CSettingsData() { Rates = vtx::heap::New<CRatesData>(); }

CSettingsData::~CSettingsData() {
  for (CStringA* s : {&DialUpUserName, &DialUpPassword, &DialUpDomain, &ServerUserName, &ServerPassword,
                      &ProxyUserName, &ProxyPassword, &CustomActionUserName, &CustomActionPassword,
                      &ClientValidationUserName, &ClientValidationPassword})
    WipeString(*s);
  delete Rates;
}

bool CSettingsData::CopyFrom(const CSettingsData& other) {
  if (!Rates || !other.Rates) return false;
  if (!Rates->CopyFrom(*other.Rates)) return false;
  static_cast<CSettingsValues&>(*this) = other;
  static CStringA CSettingsData::*const kStrings[] = {
      &CSettingsData::ProxyServer,          &CSettingsData::DialUp,
      &CSettingsData::UserAgent,            &CSettingsData::DialUpUserName,
      &CSettingsData::DialUpPassword,       &CSettingsData::DialUpDomain,
      &CSettingsData::ServerUserName,       &CSettingsData::ServerPassword,
      &CSettingsData::ProxyUserName,        &CSettingsData::ProxyPassword,
      &CSettingsData::MessagesEmailProfile, &CSettingsData::MessagesEmailRecipients,
      &CSettingsData::MessagesEmailSmtpServer, &CSettingsData::MessagesEmailSender,
      &CSettingsData::MessagesFile,         &CSettingsData::CustomAction,
      &CSettingsData::CustomActionUserName, &CSettingsData::CustomActionPassword,
      &CSettingsData::ClientValidation,     &CSettingsData::ClientValidationUserName,
      &CSettingsData::ClientValidationPassword,
  };
  for (auto m : kStrings)
    if (!CopyString(this->*m, other.*m)) return false;
  if (!Currencies.CopyFrom(other.Currencies)) return false;
  if (!Locales.CopyFrom(other.Locales)) return false;
  if (!Sources.CopyFrom(other.Sources)) return false;
  EuroCache.Empty();
  EuroCacheFilled = false;
  return true;
}

int32_t CSettingsData::IFind(const char* text) const {
  if (!text || !Rates) return -1;
  int32_t i = Rates->Active.IFind(text);
  if (i >= 0) return i;
  const char* name = GetCurrencyName(text);
  return name != text ? Rates->Active.IFind(name) : -1;
}

const char* CSettingsData::GetCurrencyName(const char* text) const {
  if (!text || text[0] < '0' || text[0] > '9') return text;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return text;
  int32_t i = Currencies.IFind(text);
  return i >= 0 ? Currencies[static_cast<uint32_t>(i)]->szCode : text;
}

CSettingsData* CSettingsDataHolder::Create() {
  delete m_data;
  m_data = vtx::heap::New<CSettingsData>();
  if (m_data && !m_data->Rates) {
    delete m_data;
    m_data = nullptr;
  }
  return m_data;
}

// ---------------------------------------------------------------------------------------------

CSettings::~CSettings() { delete m_data; }

bool CSettings::Create(HMODULE resources) {
  if (!m_data) {
    CSettingsDataHolder holder;
    if (!holder.Create()) return false;
    m_data = holder.Detach();
  }
  m_resources = resources;
  Load(true);
  return true;
}

bool CSettings::CopyFrom(const CSettings& other) {
  if (!other.m_data) return false;
  CSettingsDataHolder holder;
  if (!holder.Create() || !holder.Get()->CopyFrom(*other.m_data)) return false;
  delete m_data;
  m_data = holder.Detach();
  m_resources = other.m_resources;
  return true;
}

int CSettings::GetOandaMessage(char* buffer, int size) const {
  return LoadStringA(m_resources, kOandaMessageText, buffer, size);
}
int CSettings::GetOandaSource(char* buffer, int size) const {
  return LoadStringA(m_resources, kOandaSourceText, buffer, size);
}

CCurrencyLocaleList* CSettings::GetLocaleList() {
  if (!m_data) return nullptr;
  if (!m_data->Locales.IsCreated()) {
    if (m_data->Locales.Create(false) != 0) return nullptr;
    ApplyStoredUpdate(nullptr, &m_data->Locales);
  }
  return &m_data->Locales;
}

bool CSettings::GetDefaultDataSource(CStringA& address, CStringA& filter) const {
  address.Empty();
  filter.Empty();
  RegStringValue<char> folder;
  if (folder.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Filters") == 0 && folder.GetString() && *folder.GetString()) {
    CFilterList filters;
    if (!filters.Create(folder.GetString(), false)) return false;
    int32_t i = filters.Find(nullptr);
    if (i >= 0) {
      const CFilter& f = *filters[static_cast<uint32_t>(i)];
      address = f.GetURLAddress(0);
      filter = f.GetName();
      return (!f.GetURLAddress(0) || !address.IsNull()) && (!f.GetName() || !filter.IsNull());
    }
  }
  address = kDefaultRatesService;
  return !address.IsNull();
}

void CSettings::Load(bool first) {
  if (!m_data) return;
  CSettingsData& d = *m_data;

  // One snapshot of the store, so that a save by another process is seen whole or not at all. Only
  // the rare load that has to write (a migration, a new database stamp) takes a write scope.
  std::optional<RegTransaction> scope;
  if (LoadWillWrite()) {
    scope.emplace(RegTransaction::Write);
    if (scope->Status() != ERROR_SUCCESS) scope.reset();
  }
  if (!scope) scope.emplace(RegTransaction::Read);

  KeyReader key;
  LoadPlainValues(key, d, first);
  LoadCredentials(key, d);

  // The currency database; the locale list and the euro cache follow it.
  bool builtIn = d.Currencies.Create(false) == 1;
  if (builtIn) ApplyStoredUpdate(&d.Currencies, nullptr);
  d.Locales.Empty();
  d.EuroCache.Empty();
  d.EuroCacheFilled = false;

  // Data sources; the single source of older versions only matters when "Servers" is missing.
  {
    CStringA address, filter, userId;
    if (!RegistryKeyExists(HKEY_LOCAL_MACHINE, g_szServersKey)) {
      if (key.String("DataSource", address)) {
        if (!key.String("DataSourceFilter", filter)) filter.Empty();
      } else {
        GetDefaultDataSource(address, filter);
      }
      if (!key.String("UserID", userId)) userId.Empty();
    }
    d.Sources.Load(HKEY_LOCAL_MACHINE, g_szAppKey, address, filter, userId, d.ServerUserName, d.ServerPassword);
  }

  d.Rates->Active.Empty();
  ClearInfo();
  d.Rates->Warning.Empty();
  d.Rates->Error.Empty();

  // The stored rates; without them the euro alone.
  bool loaded = false;
  {
    CIniDataRegistry<char> ini;
    if (ini.SetBaseKey(HKEY_LOCAL_MACHINE, g_szIniKey) && ini.Load(g_IniTable, kIniTableCount) == 0) {
      LoadINIBegin();
      if (LoadINI(ini, nullptr, nullptr, true) == 0) {
        LoadINIEnd();
        loaded = true;
      }
    }
  }
  if (!loaded) d.Currencies.GetEuroCurrencies(d.Rates->Active, 3);

  // An uncreated locale list would drop the names at its creation; it takes them then instead.
  if (builtIn)
    d.Currencies.SetRates(d.Rates->Active, d.Locales.IsCreated() ? &d.Locales : nullptr, 0, nullptr, nullptr,
                          nullptr, nullptr);

  if (scope->Status() == ERROR_SUCCESS) scope->Commit();
}

HRESULT CSettings::SaveValues() {
  CSettingsData& d = *m_data;
  KeyWriter w;
  HRESULT hr = w.Status();
  for (size_t i = 0; hr == 0 && i < sizeof kStoredValues / sizeof kStoredValues[0]; ++i)
    hr = SaveValue(w, kStoredValues[i], d);
  if (hr == 0) hr = SaveCredentials(w, d);
  if (hr == 0) hr = d.Locales.Save();
  if (hr == 0) hr = d.Currencies.Save();
  if (hr == 0) hr = d.Sources.Save(HKEY_LOCAL_MACHINE, g_szAppKey);
  return hr;
}

HRESULT CSettings::Save() { return SaveUnderLock(true); }

HRESULT CSettings::SaveUnderLock(bool values) {
  if (!m_data) return E_POINTER;
  CSettingsAccess lock;
  if (!lock.IsHeld()) return lock.Status();
  // Readers in other processes see the old configuration or the new one, never a mix.
  RegTransaction scope(RegTransaction::Write);
  if (scope.Status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(scope.Status());
  HRESULT hr = SetLastSaved();
  if (hr == 0 && values) hr = SaveValues();
  if (hr == 0) hr = DoSaveINI();
  if (hr != 0) {
    scope.Rollback();
    return hr;
  }
  DWORD rc = scope.Commit();
  return rc == ERROR_SUCCESS ? 0 : HRESULT_FROM_WIN32(rc);
}

HRESULT CSettings::CanSave() const { return CanSaveSettings(); }

HRESULT CSettings::SetLastSaved() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  RegBinaryValue v;
  if (!v.Copy(&now, sizeof now)) return E_OUTOFMEMORY;
  return v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, "LastSaved");
}

FILETIME CSettings::GetLastSaved() const {
  KeyReader key;
  return key.Time("LastSaved");
}

HRESULT CanSaveSettings() {
  RegTransaction scope(RegTransaction::Write);
  if (scope.Status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(scope.Status());
  HRESULT hr = RegDwordValue(0).Save(HKEY_LOCAL_MACHINE, g_szAppKey, "_RegWriteTest");
  if (hr == 0) DeleteRegistryValue(HKEY_LOCAL_MACHINE, g_szAppKey, "_RegWriteTest");
  // Nothing of the probe is kept, not even a newly created application key.
  scope.Rollback();
  return hr;
}

HRESULT SaveRegistryCStringA(const char* text, HKEY root, const char* key, const char* name) {
  if (!text) {
    DeleteRegistryValue(root, key, name);
    return 0;
  }
  RegStringValueA v;
  v = text;
  if (!v.GetString()) return E_OUTOFMEMORY;
  return v.Save(root, key, name);
}

namespace {
std::atomic<SettingsLockWaitHook> g_lockWaitHook{nullptr};
std::atomic<std::thread::id> g_lockWaitThread{};
constexpr DWORD kLockWaitSliceMs = 20;
}  // namespace

void SetSettingsLockWaitHook(SettingsLockWaitHook hook) {
  g_lockWaitThread = std::this_thread::get_id();
  g_lockWaitHook = hook;
}

CSettingsAccess::CSettingsAccess(DWORD timeoutMs) {
  // The lock file's rights are the product group's: there is no access list to open up here.
  m_mutex = CreateMutexA(nullptr, FALSE, g_szSettingsMutex);
  if (!m_mutex) {
    m_status = HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_INVALID_HANDLE);
    return;
  }
  SettingsLockWaitHook hook = g_lockWaitThread.load() == std::this_thread::get_id() ? g_lockWaitHook.load() : nullptr;
  DWORD w;
  if (!hook || timeoutMs == 0) {
    w = WaitForSingleObject(m_mutex, timeoutMs);
  } else {
    // In short slices, with the hook between them; the limit stays the whole wait's.
    const uint64_t deadline = vtx::sync::DeadlineAfter(timeoutMs);
    for (;;) {
      int left = vtx::sync::MsUntil(deadline);
      DWORD slice = left < 0 || static_cast<DWORD>(left) > kLockWaitSliceMs ? kLockWaitSliceMs : static_cast<DWORD>(left);
      w = WaitForSingleObject(m_mutex, slice);
      if (w != WAIT_TIMEOUT || left == 0 || static_cast<DWORD>(left) <= slice) break;
      hook();
    }
  }
  m_held = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
  m_status = m_held ? S_OK : w == WAIT_TIMEOUT ? E_TIMEOUT : HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_INVALID_HANDLE);
}

CSettingsAccess::~CSettingsAccess() {
  if (!m_mutex) return;
  if (m_held) ReleaseMutex(m_mutex);
  CloseHandle(m_mutex);
}
