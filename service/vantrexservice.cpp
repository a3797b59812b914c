// vtxservice: starts vtxserver, watches it, serves the service pipe, and tells the server to quit
// when the service stops.
#include "service/vantrexservice.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstring>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/servercommands.h"
#include "engine/notify/mail.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/reachserver.h"
#include "engine/notify/servicepipe.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/sync.h"

namespace vtx::svc {

namespace {

constexpr char kServiceName[] = "Hulvane Vantrex";
constexpr char kDescription[] = "Provides exchange rate services to clients and schedules currency data updates.";
constexpr char kServerValue[] = "Server";
constexpr DWORD kEventNotStarted = 0xC0000005;
constexpr DWORD kEventCannotSave = 0x80000009;
constexpr DWORD kEventMapiAsSystem = 0x80000008;
constexpr UINT kAlarmText = 196;
constexpr UINT kCaptionText = 32;
constexpr UINT kAlarmFlags = 0x10010;
// 120 polls 500 ms apart: the server has a minute to answer.
constexpr int kStartPolls = 120;
constexpr DWORD kStartPollMs = 500;
constexpr DWORD kPingLimitMs = 300000;
// The server is told to quit and given this long to end before it is killed; systemd's stop
// time-out of the unit is longer.
constexpr DWORD kStopLimitMs = 30000;
constexpr DWORD kLeastExitWaitMs = 5000;
// A server ends within 10 s of a SIGTERM, whatever it does.
constexpr DWORD kServerOwnStopMs = 12000;
// The checks at start-up wait this long for the server's answer.
constexpr DWORD kCheckTimeoutMs = 30000;

std::string CodeText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", hr);
  const char* text = vtx::SystemErrorText(hr);
  return text ? std::string(text) + " (" + code + ")" : code;
}

// How a program ended: its exit status, the signal that ended it, else its code in words.
std::string ExitText(int waitStatus, DWORD code) {
  if (waitStatus >= 0 && WIFEXITED(waitStatus)) return "status " + std::to_string(WEXITSTATUS(waitStatus));
  if (waitStatus >= 0 && WIFSIGNALED(waitStatus)) return "signal " + std::to_string(WTERMSIG(waitStatus));
  return "code " + CodeText(static_cast<HRESULT>(code));
}

}  // namespace

VantrexService::VantrexService()
    : ServiceModule("vtxservice", kServiceName, kDescription, kServiceName, g_szServicePipe) {}

VantrexService::~VantrexService() {
  if (serverHandle_) CloseHandle(serverHandle_);
}

std::vector<vtx::service::UnitConfig> VantrexService::Units() const {
  std::vector<vtx::service::UnitConfig> units = ServiceModule::Units();
  // The server runs under the product's account, in a sandbox that leaves it the store's folder,
  // its logs and the runtime folder. Homes are hidden: a configuration file of another account is
  // read or written by that account's own program, never by the server.
  vtx::service::UnitConfig& own = units.front();
  own.user = vtx::ProductAccountName();
  own.sandbox = true;
  own.addressFamilies = "AF_UNIX AF_INET AF_INET6 AF_NETLINK";
  own.writablePaths = {vtx::service::ProductDataDir(), vtx::service::ProductAppDataDir()};
  // The web service's administrator loads and saves configurations there, through the server.
  own.writablePaths.push_back(ConfigurationsFolder());
  // The start may take the server's minute to answer and two checks of kCheckTimeoutMs, or on
  // failure that minute and the stop of the server; the stop the server's own limit.
  own.startTimeoutSec = (kStartPolls * kStartPollMs + 2 * kCheckTimeoutMs) / 1000 + 30;
  own.stopTimeoutSec = (kStopLimitMs + kLeastExitWaitMs) / 1000 + 25;
  // A stop (or the death of vtxservice) tells every process of the unit to end: the server
  // ends itself on SIGTERM and writes its "stopped" event.
  own.killMode = "control-group";
  // Nothing else hosts the web service here: it gets a unit of its own, after the server's.
  std::string web = ProgramFolder() + "/vtxwebservice";
  struct stat st{};
  if (vtx::sys::Stat(web.c_str(), &st) == 0) {
    vtx::service::UnitConfig unit;
    unit.unit = "hulvane-vantrex-web.service";
    unit.description = "Answers rate, conversion and currency questions of SOAP clients from the stored data.";
    unit.program = web;
    unit.after = {units.front().unit};
    unit.notify = false;
    unit.user = vtx::ProductAccountName();
    unit.sandbox = true;
    unit.writablePaths = {vtx::service::ProductDataDir()};
    unit.startTimeoutSec = 30;
    unit.stopTimeoutSec = 30;
    unit.restart = "on-failure";
    units.push_back(unit);
  }
  return units;
}

std::string VantrexService::ConfigurationsFolder() {
  // The folder of this program, which root runs, never the one the store names: the product's
  // group writes the store.
  return ProgramFolder() + "/Configurations";
}

HRESULT VantrexService::OnInstalled(std::string* message) {
  // The only folder of the product that the server writes in: the product's account's.
  std::string configurations = ConfigurationsFolder();
  struct stat st{};
  if (vtx::sys::Lstat(configurations.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return S_OK;
  HRESULT hr = vtx::HandToProduct(configurations.c_str(), 02770);
  if (FAILED(hr) && message) *message = "cannot give " + configurations + " to the product's account";
  return hr;
}

void VantrexService::WatchServer() {
  if (serverHandle_) CloseHandle(serverHandle_);
  serverHandle_ = server_.PidFd() >= 0 ? vtx::sync::CreateFdHandle(server_.PidFd()) : nullptr;
  if (!serverHandle_) return;
  serverWatch_ = Watch(serverHandle_, vtx::sync::kNoDeadline, [this](bool) {
    // Collected at once, so that no ended server lingers; the watchdog reports the silence.
    DWORD code = 0;
    server_.Wait(0, &code);
    CloseHandle(serverHandle_);
    serverHandle_ = nullptr;
    serverWatch_ = 0;
    Say("vtxserver ended with code " + CodeText(code));
  });
}

HRESULT VantrexService::WaitForServer(std::string* why) {
  for (int i = 0; i < kStartPolls; ++i) {
    if (CanSendVXVMessages()) return S_OK;
    if (!PumpFor(kStartPollMs, serverHandle_)) return S_FALSE;
    if (!server_.Running() || (serverHandle_ && WaitForSingleObject(serverHandle_, 0) == WAIT_OBJECT_0)) {
      // The program ended: only a server that was running already can answer now.
      if (CanSendVXVMessages()) return S_OK;
      DWORD code = E_FAIL;
      server_.Wait(0, &code);
      *why = "vtxserver ended at its start with " + ExitText(server_.LastWaitStatus(), code);
      return E_FAIL;
    }
  }
  *why = "vtxserver did not answer within a minute";
  return E_FAIL;
}

HRESULT VantrexService::StopServerApp(DWORD timeoutMs) {
  DWORD reply = 0;
  return SendVXVMessageTimeout(WM_VX_QUIT, 1, 0, std::max<DWORD>(timeoutMs, 2), &reply);
}

void VantrexService::StopServer() {
  uint64_t deadline = vtx::sync::DeadlineAfter(kStopLimitMs);
  if (serverWatch_) Unwatch(serverWatch_);
  serverWatch_ = 0;
  // A server that cannot be told (it serves no pipe yet) is asked as the system asks, by SIGTERM,
  // and ends within its own limit.
  if (CanSendVXVMessages()) {
    StopServerApp(kStopLimitMs);
  } else if (server_.Running()) {
    vtx::sys::Kill(server_.Pid(), SIGTERM);
    deadline = vtx::sync::DeadlineAfter(kServerOwnStopMs);
  }
  if (server_.Running()) {
    uint64_t now = vtx::sync::NowMs();
    DWORD left = deadline > now ? static_cast<DWORD>(deadline - now) : 0;
    DWORD code = 0;
    // A server that has not ended by then is killed with everything it started.
    HRESULT hr = server_.Wait(std::max(left, kLeastExitWaitMs), &code);
    if (hr == E_TIMEOUT) Say("vtxserver did not end when told to quit; it was killed");
  }
  if (serverHandle_) CloseHandle(serverHandle_);
  serverHandle_ = nullptr;
}

DWORD VantrexService::OnStart() {
  // A second service on the same machine would take the first one's server for its own: the
  // lock comes before anything else, so that of two started at once one goes on.
  HRESULT taken = vtx::sync::MakeRuntimeDir();
  long holder = 0;
  if (SUCCEEDED(taken)) taken = instance_.Take(vtx::JoinPath(vtx::sync::RuntimeDir(), "vtxservice.lock"), &holder);
  if (taken == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION) || CPipeMessageClient::PipeExists(g_szServicePipe)) {
    std::string who = holder > 0 ? " (process " + std::to_string(holder) + ")" : "";
    Say("another vtxservice is running here" + who);
    return ERROR_SERVICE_ALREADY_RUNNING;
  }
  if (FAILED(taken)) {
    Say("cannot take the lock " + vtx::JoinPath(vtx::sync::RuntimeDir(), "vtxservice.lock") + ": " + CodeText(taken));
    return HRESULT_CODE(taken);
  }
  RegStringValueA path;
  HRESULT hr = path.Load(HKEY_LOCAL_MACHINE, g_szAppKey, kServerValue);
  std::string why;
  if (SUCCEEDED(hr) && (!path.GetString() || !*path.GetString())) hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  if (FAILED(hr)) {
    why = "the registry value \"Server\" names no program";
  } else {
    vtx::ProgramStart start;
    start.program = path.GetString();
    start.arguments = {"/SERVICE"};
    // "Server" comes from the store, which the product's group writes.
    std::string untrusted = vtx::UntrustedProgramReason(start);
    hr = untrusted.empty() ? server_.Start(start) : E_ACCESSDENIED;
    if (!untrusted.empty()) {
      why = std::string("the program ") + path.GetString() + " is refused: " + untrusted;
    } else if (FAILED(hr)) {
      why = std::string("cannot start ") + path.GetString();
    } else {
      if (serverHandle_) CloseHandle(serverHandle_);
      serverHandle_ = server_.PidFd() >= 0 ? vtx::sync::CreateFdHandle(server_.PidFd()) : nullptr;
      hr = WaitForServer(&why);
      if (hr == S_FALSE) {
        // Stopped while waiting: the run ends as a stop does.
        return 0;
      }
    }
  }
  if (FAILED(hr)) {
    LogEvent(kEventNotStarted, EVENTLOG_ERROR_TYPE);
    Say("the Vantrex application could not be started: " + why + ": " + CodeText(hr));
    StopServer();
    return HRESULT_FACILITY(hr) == 7 ? HRESULT_CODE(hr) : kExitNotStarted;
  }

  DWORD reply = 0;
  if (SUCCEEDED(SendVXVMessageTimeout(WM_VX_CANSAVESETTINGS, 0, 0, kCheckTimeoutMs, &reply)) &&
      reply == E_ACCESSDENIED)
    LogEvent(kEventCannotSave, EVENTLOG_WARNING_TYPE);
  reply = 0;
  if (RunsAsAccount(nullptr) &&
      SUCCEEDED(SendVXVMessageTimeout(WM_VX_USESMAPIEMAIL, 0, 0, kCheckTimeoutMs, &reply)) && reply)
    LogEvent(kEventMapiAsSystem, EVENTLOG_WARNING_TYPE);
  WatchServer();
  return 0;
}

void VantrexService::OnRunEnded() { StopServer(); }

DWORD VantrexService::OnRequest(DWORD msg, WPARAM, LPARAM lParam) {
  switch (msg) {
    case VXSVC_ISLOCALSYSTEM: return RunsAsAccount(nullptr) ? 1 : 0;
    case VXSVC_PING: return 1;
    case WM_COPYDATA: {
      const char* name = ServiceAccountRequestName(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
      return name && RunsAsAccount(name) ? 1 : 0;
    }
    default: return 0;
  }
}

void VantrexService::OnWatchdogTick() {
  CheckPeer("vtxserver", CanSendVXVMessages() != FALSE, g_szAppPipe, WM_VX_PING, kPingLimitMs);
}

void VantrexService::OnPeerSilent() {
  HMODULE lib = LoadResourceLibrary(g_szAppKey);
  if (!lib) return;
  char caption[100] = "";
  char text[2000] = "";
  LoadStringA(lib, kCaptionText, caption, sizeof caption);
  LoadStringA(lib, kAlarmText, text, sizeof text);
  AlarmChannels c = ReadAlarmChannels();
  // A screen notice that no messenger takes goes to the event log instead.
  bool shown = c.screen && SUCCEEDED(PipeMessageBox(nullptr, text, caption, kAlarmFlags));
  if (c.log || (c.screen && !shown)) MessageToLog(text, kAlarmFlags, &EventLog());
  if (c.file) MessageToFile(text, kAlarmFlags, c.messagesFile.c_str(), lib, &EventLog(), TRUE);
  if (c.email) {
    if (_stricmp(c.profile.c_str(), g_szSmtpProfile) == 0)
      MessageToSMTPMail(text, kAlarmFlags, c.recipients.c_str(), c.sender.c_str(), c.smtpServer.c_str(), lib, nullptr);
    else
      MessageToEmail(text, kAlarmFlags, c.recipients.c_str(),
                     _stricmp(c.profile.c_str(), g_szDefaultMailProfile) == 0 ? nullptr : c.profile.c_str(), TRUE, lib,
                     nullptr);
  }
  FreeLibrary(lib);
}

}  // namespace vtx::svc
