// vtxservice: starts vtxserver, watches it, serves the service pipe, and tells the server to quit
// when the service stops.
#include "service/vantrexservice.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "engine/foundation/regvalue.h"
#include "engine/notify/mail.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/reachserver.h"
#include "engine/notify/servicepipe.h"
#include "engine/notify/servercommands.h"

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
// The checks at start-up wait this long for the server's answer.
constexpr DWORD kCheckTimeoutMs = 30000;

std::string CodeText(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", hr);
  const char* text = vtx::SystemErrorText(hr);
  return text ? std::string(text) + " (" + code + ")" : code;
}

}  // namespace

VantrexService::VantrexService()
    : ServiceModule("vtxservice", kServiceName, kDescription, kServiceName, g_szServicePipe) {}

VantrexService::~VantrexService() {
  if (serverHandle_) CloseHandle(serverHandle_);
}

std::vector<vtx::service::UnitConfig> VantrexService::Units() const {
  std::vector<vtx::service::UnitConfig> units = ServiceModule::Units();
  // Nothing else hosts the web service here: it gets a unit of its own, after the server's.
  std::string web = ProgramFolder() + "/vtxwebservice";
  struct stat st{};
  if (stat(web.c_str(), &st) == 0) {
    vtx::service::UnitConfig unit;
    unit.unit = "hulvane-vantrex-web.service";
    unit.description = "Answers rate, conversion and currency questions of SOAP clients from the stored data.";
    unit.program = web;
    unit.after = {units.front().unit};
    unit.notify = false;
    unit.stopTimeoutSec = 30;
    units.push_back(unit);
  }
  return units;
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

HRESULT VantrexService::WaitForServer() {
  for (int i = 0; i < kStartPolls; ++i) {
    if (CanSendVXVMessages()) return S_OK;
    if (!PumpFor(kStartPollMs, serverHandle_)) return S_FALSE;
    if (!server_.Running() || (serverHandle_ && WaitForSingleObject(serverHandle_, 0) == WAIT_OBJECT_0)) {
      // The program ended: only a server that was running already can answer now.
      if (CanSendVXVMessages()) return S_OK;
      DWORD code = E_FAIL;
      server_.Wait(0, &code);
      Say("vtxserver ended at start with code " + CodeText(code));
      return E_FAIL;
    }
  }
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
  StopServerApp(kStopLimitMs);
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
  // A second service on the same machine would take the first one's server for its own.
  if (CPipeMessageClient::PipeExists(g_szServicePipe)) {
    Say("another vtxservice is running here");
    return ERROR_SERVICE_ALREADY_RUNNING;
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
    hr = server_.Start(start);
    if (FAILED(hr)) {
      why = std::string("cannot start ") + path.GetString();
    } else {
      if (serverHandle_) CloseHandle(serverHandle_);
      serverHandle_ = server_.PidFd() >= 0 ? vtx::sync::CreateFdHandle(server_.PidFd()) : nullptr;
      hr = WaitForServer();
      if (hr == S_FALSE) {
        // Stopped while waiting: the run ends as a stop does.
        return 0;
      }
      if (FAILED(hr)) why = "vtxserver did not answer within a minute";
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
  if (c.screen) PipeMessageBox(nullptr, text, caption, kAlarmFlags);
  if (c.log) MessageToLog(text, kAlarmFlags, &EventLog());
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
