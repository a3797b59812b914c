// The frame every operation shares: exceptions, the session, client validation and the utilities.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "engine/currency/allcurrencies.h"
#include "engine/foundation/calculator.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/timetext.h"
#include "engine/notify/notifychannels.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/native/syscalls.h"
#include "platform/numtext.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/systime.h"
#include "webservice/web/operations.h"

SendVXVMessageTimeoutFn g_pfnSendVXVMessageTimeout = nullptr;
PipeExecuteFn g_pfnPipeExecute = nullptr;
DWORD g_dwValidatorTimeoutMs = 30000;
DWORD g_dwSettingsLockTimeoutMs = 30000;

namespace {
constexpr UINT kTextBadValidator = 439;
constexpr UINT kTextNoCurrency = 512;
constexpr UINT kTextNotSet = 526;
constexpr HRESULT kCOR_E_APPLICATION = 0x80131600;

// A text of the catalogue, loaded for this one look-up.
std::string CatalogueText(UINT id) {
  HMODULE module = LoadResourceLibrary(g_szAppKey);
  if (!module) return {};
  std::string text = LoadText(module, id, 999);
  FreeLibrary(module);
  return text;
}

[[noreturn]] void ThrowText(WebException::Kind kind, UINT id, const char* fallback, HRESULT hr) {
  std::string text = CatalogueText(id);
  throw WebException(kind, text.empty() ? fallback : text, "", hr);
}
}  // namespace

const char* WebException::TypeName() const {
  switch (m_kind) {
    case Kind::Application: return "System.ApplicationException";
    case Kind::Argument: return "System.ArgumentException";
    case Kind::ArgumentNull: return "System.ArgumentNullException";
    case Kind::OutOfMemory: return "System.OutOfMemoryException";
    case Kind::Refused: return "System.UnauthorizedAccessException";
    case Kind::HResult: return "System.Runtime.InteropServices.COMException";
  }
  return "System.Exception";
}

bool WebException::IsClientFault() const {
  return m_kind == Kind::Argument || m_kind == Kind::ArgumentNull || m_kind == Kind::Refused;
}

void ThrowAppException(UINT id) { ThrowText(WebException::Kind::Application, id, "Undefined Exception", kCOR_E_APPLICATION); }
void ThrowNoCurrencyException() { ThrowText(WebException::Kind::Argument, kTextNoCurrency, "Currency not found.", E_INVALIDARG); }
void ThrowNotSetException() { ThrowText(WebException::Kind::Argument, kTextNotSet, "Currency rate not set.", E_INVALIDARG); }

void ThrowHResult(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) throw WebException(WebException::Kind::OutOfMemory, "Out of memory.", "", hr);
  if (hr == E_INVALIDARG)
    throw WebException(WebException::Kind::Argument, "Value does not fall within the expected range.", "", hr);
  char text[300];
  const char* system = vtx::SystemErrorText(hr);
  if (system)
    std::snprintf(text, sizeof text, "%s (0x%08X)", system, hr);
  else
    std::snprintf(text, sizeof text, "Exception from HRESULT: 0x%08X", hr);
  throw WebException(WebException::Kind::HResult, text, "", hr);
}

StringToAnsi::StringToAnsi(const ManagedString& s) {
  if (!s) return;
  m_text = s->c_str();
  if (m_text.IsNull()) throw std::bad_alloc();
}

StringToUni::StringToUni(const ManagedString& s) : m_text(s) {}

char16_t GetSeparator() {
  RegStringValueW value;
  if (SUCCEEDED(value.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Separator")) && value.GetString()) {
    char16_t c = value.GetString()[0];
    // A letter, digit, blank or control character would split the numbers themselves.
    if (c > 0x20 && c < 0x7F && !std::isalnum(static_cast<int>(c))) return c;
  }
  return u';';
}

LCID GetLocaleID(const ManagedString& text, CSettings* settings) {
  if (!text) return LOCALE_SYSTEM_DEFAULT;
  const char16_t* p = text->c_str();
  if (*p >= u'0' && *p <= u'9') return vtx::TextToUnsigned<char16_t>(p, nullptr, 0);
  if (settings) {
    StringToAnsi name(text);
    const CCurrencyLocaleList* list = settings->GetLocaleList();
    if (list)
      if (CCurrencyLocale* locale = list->Find(name.GetAnsi())) return locale->GetLCID();
  }
  return LOCALE_SYSTEM_DEFAULT;
}

bool TimeToLocalString(const FILETIME& utc, char* buffer, size_t size) {
  if (size == 0) return false;
  // The offset of the present moment, for the time and for its suffix, as the system's conversion
  // of a file time to local time has it: a moment in winter, asked in summer, carries the summer
  // offset.
  timespec realtime{};
  vtx::sys::ClockGettime(CLOCK_REALTIME, &realtime);
  const time_t now = realtime.tv_sec;
  tm present{};
  if (!localtime_r(&now, &present)) return false;
  const int64_t offset = present.tm_gmtoff;  // seconds east of UTC
  const int64_t ticks = static_cast<int64_t>(FileTimeToU64(utc));
  const int64_t shift = offset * static_cast<int64_t>(kFileTimeTicksPerSecond);
  if (ticks < 0 || (shift < 0 && ticks < -shift) || (shift > 0 && ticks > INT64_MAX - shift)) return false;
  const FILETIME local = U64ToFileTime(static_cast<uint64_t>(ticks + shift));
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&local, &st)) return false;
  const int64_t minutes = (offset < 0 ? -offset : offset) / 60;
  int n = std::snprintf(buffer, size, "%d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", st.wYear, st.wMonth, st.wDay,
                        st.wHour, st.wMinute, st.wSecond, offset < 0 ? '-' : '+', static_cast<int>(minutes / 60),
                        static_cast<int>(minutes % 60));
  return n > 0 && static_cast<size_t>(n) < size;
}

HRESULT ExecuteClientValidation(CSettings& settings, uint32_t, const char* clientKey, CStringA* error) {
  CSettingsData* data = settings.GetData();
  if (!data) return E_UNEXPECTED;
  if (data->ClientValidation.IsEmpty()) return S_OK;
  CStringA program, parameters;
  SplitCommandLine(data->ClientValidation, program, parameters);
  if (program.IsEmpty()) return S_OK;
  if (std::strpbrk(program, "\\/:")) {
    if (error) {
      char* text = PrintFormatMessage(kTextBadValidator, settings.GetResourceLibrary(), program.c_str(), "Validators");
      if (text) {
        *error = text;
        LocalFree(text);
      } else {
        std::string fallback = std::string("The client validation program \"") + program.c_str() +
                               "\" must be a plain file name in the \"Validators\" folder.";
        *error = fallback.c_str();
      }
    }
    return E_INVALIDARG;
  }
  CStringA domain, user;
  if (!data->ClientValidationUserName.IsEmpty()) {
    std::string account = data->ClientValidationUserName.c_str();
    size_t slash = account.find('\\');
    if (slash == std::string::npos) {
      user = account.c_str();
    } else {
      domain = account.substr(0, slash).c_str();
      user = account.substr(slash + 1).c_str();
    }
  }
  std::string key;
  bool hasKey = clientKey != nullptr;
  if (hasKey) {
    size_t cut = strnlen(clientKey, 254);
    // In a multi-byte code page the cut must not split a character.
    if (vtx::AnsiCodePageIsUtf8() && clientKey[cut])
      while (cut > 0 && (static_cast<unsigned char>(clientKey[cut]) & 0xC0) == 0x80) --cut;
    key.assign(clientKey, cut);
    for (char& c : key)
      if (c == '"' || c == '\\' || c == '/' || c == ':') c = '_';
  }
  CStringA folder;
  HRESULT hr = GetVXFolderName(folder, "Validators");
  if (FAILED(hr)) return hr;
  {
    // The folder comes from the store, which the product's group writes.
    vtx::ProgramStart named;
    named.program = program.c_str();
    named.directory = folder.c_str();
    if (std::string why = vtx::UntrustedProgramReason(named); !why.empty()) {
      std::string text = "The client validation program \"" + std::string(program.c_str()) + "\" is refused: " + why;
      if (error) *error = text.c_str();
      return E_ACCESSDENIED;
    }
  }

  hr = E_SERVER_UNAVAILABLE;
  if (g_pfnPipeExecute) {
    // The key travels as one quoted argument; it holds neither '"' nor '\' any more.
    std::string params = parameters.IsNull() ? "" : parameters.c_str();
    if (hasKey) params += (params.empty() ? "\"" : " \"") + key + "\"";
    hr = g_pfnPipeExecute(program, params.c_str(), folder, user.c_str(), domain.c_str(),
                          data->ClientValidationPassword.c_str(), 1);
  }
  if (hr != E_SERVER_UNAVAILABLE) return hr;
  // A configured account is never bypassed: without the messenger the program runs with the
  // service's own rights, so it runs directly only when no account is configured.
  if (!user.IsEmpty()) return E_SERVER_UNAVAILABLE;

  vtx::ProgramStart start;
  start.program = program.c_str();
  start.arguments = vtx::SplitParameterText(parameters.IsNull() ? "" : parameters.c_str());
  if (hasKey) start.arguments.push_back(key);
  start.directory = folder.c_str();
  DWORD code = E_FAIL;
  hr = vtx::RunProgram(start, g_dwValidatorTimeoutMs, &code);
  return FAILED(hr) ? hr : code;
}

namespace Hulvane::Web::Services {

void ThrowNull(const char* param) {
  throw WebException(WebException::Kind::ArgumentNull, std::string("Value cannot be null. Parameter name: ") + param,
                     param, 0x80004003);
}

void ThrowArgument(const char* message, const char* param) {
  throw WebException(WebException::Kind::Argument, message, param, E_INVALIDARG);
}

void Validate(CVantrexSession& session, const ManagedString& clientKey) {
  StringToAnsi key(clientKey);
  CStringA error;
  HRESULT hr = ExecuteClientValidation(session.GetSettings(), 0, key.GetAnsi(), &error);
  if (hr == 0) return;
  char text[120];
  std::snprintf(text, sizeof text, "The client was refused (0x%08X).", hr);
  throw WebException(WebException::Kind::Refused, error.IsEmpty() ? std::string(text) : std::string(error.c_str()),
                     "clientKey", hr);
}

ManagedString FromAnsi(const std::string& s) {
  CStringW w;
  w = s.c_str();
  if (w.IsNull()) throw std::bad_alloc();
  return std::u16string(w.c_str());
}

}  // namespace Hulvane::Web::Services
