#include "serviceframe/frame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/currency/settings.h"
#include "engine/foundation/regupgrade.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/timetext.h"
#include "engine/notify/displayfile.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/servicepipe.h"
#include "platform/codepage.h"
#include "platform/native/syscalls.h"
#include "platform/process.h"
#include "platform/systime.h"

namespace vtx::svc {

namespace {

constexpr char kControlClass[] = "HulvaneVantrexServiceControl";
constexpr DWORD kDefaultMonitorSeconds = 3600;

constexpr const char* kVerbs[] = {"RegServerStartService", "UnregServer", "RegServer", "StartService",
                                  "StopService"};

std::string Text(const CStringA& s) { return s.c_str() ? s.c_str() : ""; }

}  // namespace

// ---------------------------------------------------------------------------------------------

AlarmChannels ReadAlarmChannels() {
  AlarmChannels c;
  CSettings settings;
  if (!settings.Create(nullptr)) return c;
  const CSettingsData& d = *settings.GetData();
  c.screen = d.MessagesOnScreen != 0;
  c.log = d.MessagesToLog != 0;
  c.file = d.MessagesToFile != 0;
  c.email = d.MessagesViaEmail != 0;
  c.profile = Text(d.MessagesEmailProfile);
  c.recipients = Text(d.MessagesEmailRecipients);
  c.sender = Text(d.MessagesEmailSender);
  c.smtpServer = Text(d.MessagesEmailSmtpServer);
  c.messagesFile = Text(d.MessagesFile);
  return c;
}

DWORD ReadApplicationMonitor() {
  RegDwordValue value;
  if (FAILED(value.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "ApplicationMonitor"))) return kDefaultMonitorSeconds;
  return value;
}

// ---------------------------------------------------------------------------------------------

HRESULT PipePing::Send(const char* pipeName, DWORD msg, DWORD timeoutMs) {
  Cancel();
  deadline_ = vtx::sync::DeadlineAfter(timeoutMs);
  // A server that does not even take the connection within a second is as silent as one that
  // never answers.
  uint64_t connectBy = std::min(deadline_, vtx::sync::DeadlineAfter(1000));
  int fd = -1;
  DWORD e = vtx::pipes::Connect(pipeName, connectBy, &fd);
  BYTE request[12] = {};
  for (int i = 0; i < 4; ++i) request[i] = static_cast<BYTE>(msg >> (8 * i));
  if (e == ERROR_SUCCESS) e = vtx::pipes::WriteAll(fd, request, sizeof request, connectBy);
  if (e == ERROR_SUCCESS && !(handle_ = vtx::sync::CreateFdHandle(fd))) e = ERROR_NOT_ENOUGH_MEMORY;
  if (e != ERROR_SUCCESS) {
    if (fd >= 0) vtx::sys::Close(fd);
    return HRESULT_FROM_WIN32(e);
  }
  fd_ = fd;
  return S_OK;
}

HRESULT PipePing::Finish(DWORD* reply) {
  if (fd_ < 0) return E_UNEXPECTED;
  BYTE answer[4];
  // The handle is signalled: the answer is there, or the connection has ended.
  DWORD e = vtx::pipes::ReadAll(fd_, answer, sizeof answer, vtx::sync::DeadlineAfter(100), nullptr);
  Cancel();
  if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
  if (reply)
    *reply = static_cast<DWORD>(answer[0]) | static_cast<DWORD>(answer[1]) << 8 | static_cast<DWORD>(answer[2]) << 16 |
             static_cast<DWORD>(answer[3]) << 24;
  return S_OK;
}

void PipePing::Cancel() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
  if (fd_ >= 0) vtx::sys::Close(fd_);
  fd_ = -1;
}

// ---------------------------------------------------------------------------------------------

ServiceModule::ServiceModule(const char* program, const char* serviceName, const char* description,
                             const char* eventSource, const char* pipeName)
    : program_(program), serviceName_(serviceName), description_(description), eventSource_(eventSource),
      pipeName_(pipeName) {}

ServiceModule::~ServiceModule() { DestroyControlWindow(); }

std::string ServiceModule::FindVerb(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) line += (line.empty() ? "" : " ") + a;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '-' && line[i] != '/') continue;
    const char* rest = line.c_str() + i + 1;
    for (const char* verb : kVerbs)
      if (_stricmp(rest, verb) == 0) return verb;
  }
  return "";
}

void ServiceModule::PrintUsage() const {
  std::string description = description_;
  while (!description.empty() && description.back() == '.') description.pop_back();
  std::printf(
      "usage: %s [-RegServer | -RegServerStartService | -StartService | -StopService | -UnregServer]\n"
      "%s.\n"
      "Without a switch it runs in the foreground (as systemd starts it) until SIGTERM, serving\n"
      "%s.\n"
      "  -RegServer              write and enable its systemd unit\n"
      "  -RegServerStartService  the same, then start the unit\n"
      "  -StartService           start the unit (systemctl start)\n"
      "  -StopService            stop the unit (systemctl stop)\n"
      "  -UnregServer            stop and remove the unit\n"
      "Switches may begin with '/' as well as '-' and are compared without case.\n",
      program_.c_str(), description.c_str(), vtx::pipes::SocketPath(pipeName_.c_str()).c_str());
}

int ServiceModule::WinMain(const std::vector<std::string>& arguments) {
  for (const std::string& a : arguments)
    if (a == "--help" || a == "-h" || a == "-?" || a == "/?") {
      PrintUsage();
      return 0;
    }
  std::string verb = FindVerb(arguments);
  // Anything but one verb alone is a mistake, not a request to run the service.
  if (!arguments.empty() && (verb.empty() || arguments.size() > 1)) {
    std::string named;
    for (const std::string& a : arguments)
      if (a.size() < 2 || (a[0] != '-' && a[0] != '/') || _stricmp(a.c_str() + 1, verb.c_str()) != 0)
        named += (named.empty() ? "" : " ") + a;
    Say("unknown argument: " + named + " (" + program_ + " --help shows the usage)");
    return 2;
  }
  UpgradeRegistryAtStartup();
  if (verb.empty()) return ExitStatusFromCode(ServiceMain());
  HRESULT hr;
  if (verb == "RegServerStartService") {
    hr = Install();
    if (SUCCEEDED(hr)) hr = StartService();
  } else if (verb == "UnregServer") {
    hr = Uninstall();
  } else if (verb == "RegServer") {
    hr = Install();
  } else if (verb == "StartService") {
    hr = StartService();
  } else {
    hr = StopService();
  }
  return FAILED(hr) ? 1 : 0;
}

std::string ServiceModule::ProgramPath() {
  char path[4096];
  ssize_t n = vtx::sys::Readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  path[n] = 0;
  return path;
}

std::string ServiceModule::ProgramFolder() {
  std::string p = ProgramPath();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

std::vector<vtx::service::UnitConfig> ServiceModule::Units() const {
  vtx::service::UnitConfig unit;
  unit.unit = vtx::service::UnitName(serviceName_.c_str());
  unit.description = description_;
  unit.program = ProgramPath();
  // A service that ends by a failure (a crash, a kill) is started again by systemd; its own
  // programs it never restarts.
  unit.restart = "on-failure";
  return {unit};
}

std::string ServiceModule::NowText() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  char text[32] = "";
  TimeToString(now, text);
  return text;
}

void ServiceModule::CheckPeer(const char* peerName, bool reachable, const char* pipeName, DWORD msg, DWORD limitMs) {
  std::string peer = peerName;
  auto silent = [this, peer] {
    std::string status = peer + " did not answer at " + NowText();
    SetServiceStatus(SERVICE_RUNNING, status.c_str());
    OnPeerSilent();
  };
  if (peerPing_.Pending()) {
    // Still no answer to the last tick's question: that tick's silence is told now.
    if (peerWatch_) Unwatch(peerWatch_);
    peerWatch_ = 0;
    peerPing_.Cancel();
    silent();
  }
  // The answer has three quarters of the interval: every tick asks anew and every silent one is
  // told.
  DWORD interval = WatchdogMs();
  DWORD wait = std::min(limitMs, std::max<DWORD>(interval - interval / 4, 1));
  if (!reachable || FAILED(peerPing_.Send(pipeName, msg, wait))) {
    silent();
    return;
  }
  peerWatch_ = Watch(peerPing_.Handle(), peerPing_.Deadline(), [this, peer, silent](bool answered) {
    peerWatch_ = 0;
    DWORD reply = 0;
    HRESULT hr = answered ? peerPing_.Finish(&reply) : E_TIMEOUT;
    peerPing_.Cancel();
    // Any answer counts: the peer is alive.
    if (FAILED(hr)) return silent();
    std::string status = peer + " answered at " + NowText();
    SetServiceStatus(SERVICE_RUNNING, status.c_str());
  });
}

void ServiceModule::Say(const std::string& text) const { std::fprintf(stderr, "%s: %s\n", program_.c_str(), text.c_str()); }

HRESULT ServiceModule::Install() {
  // The screen notices need a display-messages file; one chosen before stays.
  if (HRESULT hr = vtx::notify::RegisterDisplayMessages(); FAILED(hr)) {
    const char* why = vtx::SystemErrorText(hr);
    Say(std::string("cannot register the display-messages file in the store: ") + (why ? why : "error"));
    return hr;
  }
  // The services' account and the rights on the store, before the units name that account.
  std::string prepared;
  HRESULT ready = vtx::service::PrepareProductHost(&prepared);
  if (!prepared.empty()) Say(prepared);
  if (FAILED(ready)) return ready;
  for (const vtx::service::UnitConfig& unit : Units()) {
    std::string message;
    HRESULT hr = vtx::service::InstallUnit(unit, &message);
    if (!message.empty()) Say(message);
    if (FAILED(hr)) return hr;
  }
  std::string message;
  HRESULT hr = OnInstalled(&message);
  if (!message.empty()) Say(message);
  return hr;
}

HRESULT ServiceModule::Uninstall() {
  std::vector<vtx::service::UnitConfig> units = Units();
  HRESULT result = S_OK;
  for (auto u = units.rbegin(); u != units.rend(); ++u) {
    std::string message;
    HRESULT hr = vtx::service::RemoveUnit(u->unit, &message);
    if (!message.empty()) Say(message);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  if (SUCCEEDED(result)) OnUninstalled();
  // Without systemd nothing stopped a copy started by hand: say so rather than leave it unseen.
  if (SUCCEEDED(result) && !vtx::service::SystemdRunning() && CPipeMessageClient::PipeExists(pipeName_.c_str())) {
    pid_t pid = vtx::pipes::ServerProcess(pipeName_.c_str());
    Say("systemd is not running here, so the " + program_ + " that serves " +
        vtx::pipes::SocketPath(pipeName_.c_str()) + " still runs: end it with kill " +
        (pid > 0 ? std::to_string(pid) : "<its process id>"));
  }
  return result;
}

HRESULT ServiceModule::StartService() {
  std::string message;
  // The service's own unit, and after it the others that it installs (the web service).
  std::vector<std::string> names;
  for (const vtx::service::UnitConfig& unit : Units()) names.push_back(unit.unit);
  HRESULT hr = vtx::service::StartUnits(names, &message);
  if (!message.empty()) Say(message);
  // Without systemd the service runs by hand, in the foreground of a shell or from an init script.
  if (FAILED(hr) && !vtx::service::SystemdRunning())
    Say("start it by hand instead, as the account it serves: " + ProgramPath() +
        " (it runs in the foreground until SIGTERM; add & or use nohup to leave it running)");
  return hr;
}

HRESULT ServiceModule::StopService() {
  std::string message;
  HRESULT hr = vtx::service::StopUnit(Units().front().unit, &message);
  if (!message.empty()) Say(message);
  return hr;
}

void ServiceModule::SetServiceStatus(DWORD state, const char* statusText) {
  state_ = state;
  std::string notice;
  switch (state) {
    case SERVICE_RUNNING: notice = "READY=1\n"; break;
    case SERVICE_STOP_PENDING: notice = "STOPPING=1\n"; break;
    default: break;
  }
  static const char* const kNames[] = {"", "Stopped", "Starting", "Stopping", "Running"};
  notice += "STATUS=";
  notice += statusText ? statusText : (state <= SERVICE_RUNNING ? kNames[state] : "");
  vtx::service::Notify(notice.c_str());
}

const char* ServiceAccountRequestName(const COPYDATASTRUCT* cds) {
  if (!cds || cds->dwData != VXSVC_ISSERVICEACCOUNT || !cds->lpData || cds->cbData == 0) return nullptr;
  const auto* name = static_cast<const char*>(cds->lpData);
  return std::memchr(name, 0, cds->cbData) && *name ? name : nullptr;
}

bool ServiceModule::RunsAsAccount(const char* account) const {
  uid_t self = vtx::sys::Geteuid();
  if (!account) return self == 0;
  uid_t uid;
  return vtx::service::AccountUid(account, &uid) && uid == self;
}

void ServiceModule::LogEvent(DWORD eventId, WORD type) {
  if (!eventLog_.IsAvailable()) return;
  HANDLE source = eventLog_.m_pRegisterEventSourceA(nullptr, eventSource_.c_str());
  if (!source) return;
  eventLog_.m_pReportEventA(source, type, 0, eventId, nullptr, 0, 0, nullptr, nullptr);
  eventLog_.m_pDeregisterEventSource(source);
}

LRESULT ServiceModule::ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // SIGTERM, SIGINT and SIGHUP arrive as the end of the session: the stop control.
  if (msg == WM_ENDSESSION && wParam) {
    if (auto* self = reinterpret_cast<ServiceModule*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) self->Handler();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool ServiceModule::CreateControlWindow() {
  WNDCLASSA wc{};
  if (!GetClassInfoA(nullptr, kControlClass, &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = ControlProc;
    wc.lpszClassName = kControlClass;
    if (!RegisterClassA(&wc)) return false;
  }
  controlWindow_ = CreateWindowExA(0, kControlClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (!controlWindow_) return false;
  SetWindowLongPtrA(controlWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return vtx::messages::RouteEndSessionSignals(controlWindow_);
}

void ServiceModule::DestroyControlWindow() {
  if (!controlWindow_) return;
  vtx::messages::RouteEndSessionSignals(nullptr);
  DestroyWindow(controlWindow_);
  controlWindow_ = nullptr;
}

void ServiceModule::Handler() {
  if (stopRequested_ || state_ == SERVICE_STOPPED) return;
  stopRequested_ = true;
  SetServiceStatus(SERVICE_STOP_PENDING);
  PostQuitMessage(0);
}

bool ServiceModule::PumpFor(DWORD ms, HANDLE handle) {
  uint64_t deadline = vtx::sync::DeadlineAfter(ms);
  while (!stopRequested_) {
    uint64_t now = vtx::sync::NowMs();
    if (now >= deadline) break;
    DWORD left = static_cast<DWORD>(std::min<uint64_t>(deadline - now, 0x7FFFFFFF));
    DWORD r = MsgWaitForMultipleObjects(handle ? 1 : 0, &handle, FALSE, left, QS_ALLINPUT);
    if (handle && r == WAIT_OBJECT_0) break;
    if (r == WAIT_TIMEOUT) break;
    if (r == WAIT_FAILED) {
      Sleep(std::min<DWORD>(left, 50));
      continue;
    }
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
      if (m.message != WM_QUIT) DispatchMessageA(&m);
  }
  return !stopRequested_;
}

ServiceModule::WatchId ServiceModule::Watch(HANDLE handle, uint64_t deadlineMs, std::function<void(bool)> done) {
  WatchId id = nextWatch_++;
  watches_.push_back(WatchEntry{id, handle, deadlineMs, std::move(done)});
  return id;
}

void ServiceModule::Unwatch(WatchId id) {
  std::erase_if(watches_, [id](const WatchEntry& w) { return w.id == id; });
}

void ServiceModule::FireWatches(HANDLE signalled) {
  uint64_t now = vtx::sync::NowMs();
  std::vector<std::pair<std::function<void(bool)>, bool>> due;
  for (auto it = watches_.begin(); it != watches_.end();) {
    bool hit = signalled && it->handle == signalled;
    if (hit || it->deadline <= now) {
      due.emplace_back(std::move(it->done), hit);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [done, hit] : due) done(hit);
}

void ServiceModule::TimerProc(HWND, UINT, UINT_PTR, DWORD) {
  // The timer belongs to the run loop's thread, whose module is the one running.
  if (ServiceModule* self = running_) self->OnWatchdogTick();
}

DWORD ServiceModule::PipeHandler(DWORD_PTR context, DWORD msg, WPARAM wParam, LPARAM lParam) {
  return reinterpret_cast<ServiceModule*>(context)->OnRequest(msg, wParam, lParam);
}

void ServiceModule::ArmWatchdog() {
  DWORD seconds = ReadApplicationMonitor();
  if (timer_ && seconds == interval_) return;
  if (timer_) KillTimer(nullptr, timer_);
  timer_ = 0;
  interval_ = seconds;
  if (seconds) timer_ = SetTimer(nullptr, 0, WatchdogMs(), TimerProc);
}

DWORD ServiceModule::WatchdogMs() const {
  // A timer waits at most 2^31 - 1 ms; a longer interval ticks at that.
  uint64_t ms = static_cast<uint64_t>(interval_) * 1000u;
  return static_cast<DWORD>(std::min<uint64_t>(ms, 0x7FFFFFFF));
}

ServiceModule* ServiceModule::running_ = nullptr;

DWORD ServiceModule::Run() {
  runThreadId_ = GetCurrentThreadId();
  // The pipe first: a service reported ready answers its pipe, and a second instance, which finds
  // it taken, ends.
  HRESULT piped = pipe_.Create(pipeName_.c_str());
  if (FAILED(piped)) {
    const char* why = vtx::SystemErrorText(piped);
    Say("cannot serve the pipe " + vtx::pipes::SocketPath(pipeName_.c_str()) + ": " + (why ? why : "error") +
        (piped == HRESULT_FROM_WIN32(ERROR_PIPE_BUSY) ? " (another " + program_ + " serves it)" : ""));
    return piped == HRESULT_FROM_WIN32(ERROR_PIPE_BUSY) ? ERROR_PIPE_BUSY : ERROR_INVALID_FUNCTION;
  }
  running_ = this;
  SetServiceStatus(SERVICE_RUNNING);
  LogEvent(2, EVENTLOG_INFORMATION_TYPE);
  ArmWatchdog();

  while (!stopRequested_) {
    std::vector<HANDLE> handles;
    HANDLE pipeEvent = pipe_.GetEvent();
    if (pipeEvent) handles.push_back(pipeEvent);
    uint64_t deadline = vtx::sync::kNoDeadline;
    for (const WatchEntry& w : watches_) {
      if (w.handle && handles.size() < MAXIMUM_WAIT_OBJECTS) handles.push_back(w.handle);
      deadline = std::min(deadline, w.deadline);
    }
    DWORD ms = INFINITE;
    if (deadline != vtx::sync::kNoDeadline) {
      uint64_t now = vtx::sync::NowMs();
      ms = deadline <= now ? 0 : static_cast<DWORD>(std::min<uint64_t>(deadline - now, 0x7FFFFFFE));
    }
    DWORD count = static_cast<DWORD>(handles.size());
    DWORD r = MsgWaitForMultipleObjects(count, handles.data(), FALSE, ms, QS_ALLINPUT);
    if (r < count) {
      if (pipeEvent && r == 0)
        pipe_.ServeRequest(reinterpret_cast<DWORD_PTR>(this), PipeHandler);
      else
        FireWatches(handles[r]);
    } else if (r == count) {
      MSG m;
      bool quit = false;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
          quit = true;
          break;
        }
        DispatchMessageA(&m);
        // A changed interval takes effect after the tick that reads it.
        if (m.message == WM_TIMER && !m.hwnd && m.wParam == timer_) ArmWatchdog();
      }
      if (quit) break;
    } else if (r == WAIT_FAILED) {
      Sleep(50);  // a broken handle must not spin the loop
    }
    FireWatches(nullptr);
  }

  if (timer_) KillTimer(nullptr, timer_);
  timer_ = 0;
  peerPing_.Cancel();
  pipe_.Close();
  running_ = nullptr;
  return 0;
}

DWORD ServiceModule::ServiceMain() {
  SetServiceStatus(SERVICE_START_PENDING);
  if (!CreateControlWindow()) {
    LogEvent(0xC0000004, EVENTLOG_ERROR_TYPE);
    Say("the stop control could not be installed");
    SetServiceStatus(SERVICE_STOPPED);
    return ERROR_INVALID_FUNCTION;
  }
  SetServiceStatus(SERVICE_START_PENDING);
  DWORD exitCode = OnStart();
  if (exitCode != 0) {
    SetServiceStatus(SERVICE_STOPPED);
    DestroyControlWindow();
    return exitCode;
  }
  DWORD runCode = stopRequested_ ? 0 : Run();
  OnRunEnded();
  SetServiceStatus(SERVICE_STOPPED);
  if (runCode == 0) LogEvent(3, EVENTLOG_INFORMATION_TYPE);
  DestroyControlWindow();
  return runCode;
}

}  // namespace vtx::svc
