#include "server/app.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "engine/notify/notifychannels.h"
#include "engine/notify/serversession.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/pipes.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/ui.h"

namespace vtx::server {

namespace {

constexpr DWORD kEventStarted = 0xA;
constexpr DWORD kEventStopped = 0xB;
constexpr UINT kTimerUpdate = 1;
constexpr UINT kTimerLastChange = 2;
constexpr UINT kTimerLastChangeEach = 3;
// A server killed a moment ago still holds its locks until its process is gone; one that is
// starting holds the instance lock before it answers. How long a new server waits for either.
constexpr DWORD kInstanceWaitMs = 10000;
constexpr DWORD kPingLimitMs = 2000;
// How long an import by the switch waits for each answer of the running server.
constexpr DWORD kImportLimitMs = 60000;
// Hit counts wait in memory at most this long before they are written, all in one step.
constexpr UINT kTimerHits = 4;
constexpr UINT kHitWriteMs = 1000;

// Process-wide state of the run; the main thread alone touches it.
struct Server {
  Seams seams;
  bool serviceMode = false;
  HWND hwndApp = nullptr;
  BYTE exitCode = 0;
  bool savedAtEndSession = false;
  HMODULE hResLib = nullptr;
  HICON hSmallIcon = nullptr;  // there are no icons here; the notification channels take null
  bool classRegistered = false;
  std::unique_ptr<Settings> settings;
  // Command state.
  bool configLocked = false;
  DWORD lockOwner = 0;
  DWORD pendingUpdateRequests = 0;
  HRESULT lastUpdateResult = S_OK;
  // The results applied so far, the latest few by number: an update-now that waits answers with the
  // result of the run it waited for, even when another run was started and ended inside its wait.
  uint64_t resultsApplied = 0;
  HRESULT recentResults[16] = {};
  // A reload asked for while an update ran waits for the update's result to be applied first; one
  // asked for while the configuration is locked comes with the unlock.
  bool reloadWhenIdle = false;
  // Hit counts not written yet, by code; the timer that writes them runs while there are some.
  std::map<std::string, uint64_t> pendingHits;
  bool hitTimerSet = false;
  bool reloadAtUnlock = false;
  // What the run ends with (RunServer's result).
  int status = 0;
};

Server* g_server = nullptr;

LRESULT Reply(HRESULT hr) { return static_cast<LRESULT>(static_cast<DWORD>(hr)); }

DWORD ReadU32(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// A NUL-terminated string at `offset` inside the payload, or null when it does not end there.
const char* StringIn(const BYTE* data, DWORD size, DWORD& offset) {
  if (offset >= size) return nullptr;
  const void* end = std::memchr(data + offset, 0, size - offset);
  if (!end) return nullptr;
  const char* s = reinterpret_cast<const char*>(data + offset);
  offset = static_cast<DWORD>(static_cast<const BYTE*>(end) - data) + 1;
  return s;
}

void ArmStalenessTimers(Server& s) {
  s.seams.scheduler->ArmLastChangeTimer(*s.settings, s.hwndApp);
  s.seams.scheduler->ArmLastChangeEachTimer(*s.settings, s.hwndApp);
}

// One line on stderr: what a start-up that fails says besides its channels.
void SayOnStderr(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  std::fprintf(stderr, "vtxserver: %s\n", text.c_str());
  std::fflush(stderr);
}

std::string LoadText(Server& s, UINT id, int max) {
  std::string buf(static_cast<size_t>(max) + 1, '\0');
  int n = s.seams.resources->LoadString(s.hResLib, id, buf.data(), max + 1);
  buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buf;
}

// Messages that the update thread sends are delivered inside the wait and the non-removing look,
// so the run's result is applied meanwhile. Pipe requests are served here too, one at a time,
// where Windows would deliver a message sent from another process: a ping or a lock attempt is
// answered during a long update instead of queueing behind it. False when the deadline passes
// with the update still running.
bool WaitWhileUpdating(Server& s, uint64_t deadline = vtx::sync::kNoDeadline) {
  MSG m;
  while (s.seams.scheduler->IsBusy()) {
    uint64_t now = vtx::sync::NowMs();
    if (deadline != vtx::sync::kNoDeadline && now >= deadline) return false;
    DWORD ms = deadline == vtx::sync::kNoDeadline ? INFINITE : static_cast<DWORD>(deadline - now);
    HANDLE ev = s.seams.pipe->GetEvent();
    DWORD count = ev ? 1 : 0;
    DWORD r = MsgWaitForMultipleObjects(count, &ev, FALSE, ms, QS_ALLINPUT);
    if (count == 1 && r == WAIT_OBJECT_0) {
      s.seams.pipe->ServeRequest(s.hwndApp, AppPipeProc);
      continue;
    }
    if (r == WAIT_TIMEOUT) continue;
    if (r == WAIT_FAILED) WaitMessage();
    PeekMessageA(&m, s.hwndApp, 0, 0, PM_NOREMOVE);
  }
  return true;
}

// A server that stops starts no update: the one under way is being abandoned.
bool Stopping() { return vtx::sync::StopRequested(); }

HRESULT StartUpdate(Server& s, bool manual) {
  HRESULT hr = s.seams.scheduler->StartUpdate(*s.settings, s.hwndApp, s.hSmallIcon);
  if (FAILED(hr) && !manual)
    s.seams.notifications->NotifyError(*s.settings, s.serviceMode, s.hwndApp, 83, 81, s.hResLib, hr);
  return hr;
}

void ApplyUpdateResult(Server& s, Settings* copy, HRESULT hr) {
  UpdateScheduler& sched = *s.seams.scheduler;
  if (copy) {
    if (FAILED(s.settings->CopyFrom(*copy)))
      s.lastUpdateResult = E_OUTOFMEMORY;
    else
      s.lastUpdateResult = s.settings->SaveINI();
    sched.SetLastAttempt(SUCCEEDED(s.lastUpdateResult));
    if (FAILED(s.lastUpdateResult))
      s.seams.notifications->NotifyError(*s.settings, s.serviceMode, s.hwndApp, 83, 81, s.hResLib,
                                         s.lastUpdateResult);
    ArmStalenessTimers(s);
  } else {
    s.lastUpdateResult = FAILED(hr) ? hr : E_FAIL;
    sched.SetLastAttempt(false);
  }
  s.recentResults[s.resultsApplied % 16] = s.lastUpdateResult;
  ++s.resultsApplied;
  // A run abandoned by the stop is a failed attempt and nothing more: no custom action follows it.
  if (sched.CustomActionDue() && !Stopping()) {
    std::string errorText;
    HRESULT ca = s.settings->ExecuteCustomAction(s.hwndApp, errorText);
    if (FAILED(ca)) {
      if (!errorText.empty()) {
        std::string caption = LoadText(s, 382, 500);
        s.seams.notifications->ShowNotification(*s.settings, s.serviceMode, s.hwndApp, errorText.c_str(),
                                                caption.c_str(), MB_ICONHAND, s.hResLib);
      } else {
        s.seams.notifications->NotifyError(*s.settings, s.serviceMode, s.hwndApp, 83, 382, s.hResLib, ca);
      }
    }
  }
  sched.Schedule(*s.settings, s.hwndApp);
}

HRESULT LockConfig(Server& s, WPARAM owner) {
  if (s.seams.scheduler->IsBusy()) return owner == 0 ? VX_E_UPDATING_MANAGER : VX_E_UPDATING_SERVER;
  if (s.configLocked) return owner == 0 && s.lockOwner != 0 ? VX_E_LOCKED_BY_SERVER : VX_E_LOCKED;
  HRESULT hr = s.settings->Save();
  if (hr == E_ACCESSDENIED)
    return s.seams.store->CanSaveSettings() == E_ACCESSDENIED ? VX_E_KEY_NOT_WRITABLE : E_ACCESSDENIED;
  if (FAILED(hr)) return hr;
  s.configLocked = true;
  s.lockOwner = static_cast<DWORD>(owner);
  s.pendingUpdateRequests = 0;
  KillTimer(s.hwndApp, kTimerLastChange);
  KillTimer(s.hwndApp, kTimerLastChangeEach);
  return hr;
}

void ReloadSettings(Server& s) {
  s.settings->Load();
  s.seams.scheduler->Schedule(*s.settings, s.hwndApp);
}

// The configuration is read again: now, or when the update under way has handed its result over.
void ReloadWhenIdle(Server& s) {
  if (s.seams.scheduler->IsBusy())
    s.reloadWhenIdle = true;
  else
    ReloadSettings(s);
}

HRESULT UnlockConfig(Server& s, WPARAM reload) {
  s.configLocked = false;
  if (reload || s.reloadAtUnlock) ReloadWhenIdle(s);
  s.reloadAtUnlock = false;
  ArmStalenessTimers(s);
  return S_OK;
}

// SIGHUP: as the end of a configuration session with reload; while a session holds the lock, the
// reload waits for its end, so that half an edit is never read.
void ReloadConfiguration(Server& s) {
  if (s.configLocked) {
    s.reloadAtUnlock = true;
    return;
  }
  ReloadWhenIdle(s);
  ArmStalenessTimers(s);
}

HRESULT UpdateNow(Server& s) {
  if (Stopping()) return HRESULT_FROM_WIN32(ERROR_SHUTDOWN_IN_PROGRESS);
  if (s.configLocked) {
    ++s.pendingUpdateRequests;
    return VX_E_LOCKED_COUNTED;
  }
  if (!s.seams.scheduler->IsBusy()) {
    HRESULT hr = StartUpdate(s, true);
    if (FAILED(hr)) return hr;
  }
  uint64_t next = s.resultsApplied;
  WaitWhileUpdating(s);
  // The result of the run this request waited for, even when another ran inside the wait.
  return s.resultsApplied > next && s.resultsApplied - next <= 16 ? s.recentResults[next % 16] : s.lastUpdateResult;
}

// Writes the counts that wait, in one step; those that could not be written wait for the next time.
void WriteHits(Server& s) {
  if (s.hitTimerSet) KillTimer(s.hwndApp, kTimerHits);
  s.hitTimerSet = false;
  if (s.pendingHits.empty()) return;
  std::vector<HitCount> counts;
  counts.reserve(s.pendingHits.size());
  for (const auto& [code, n] : s.pendingHits) counts.push_back({code, n});
  if (s.seams.store->AddUnitHits(counts)) {
    s.pendingHits.clear();
  } else {
    s.hitTimerSet = SetTimer(s.hwndApp, kTimerHits, kHitWriteMs, nullptr) != 0;
  }
}

void CountHits(Server& s, const char* code, uint64_t n) {
  s.pendingHits[code] += n;
  if (!s.hitTimerSet) s.hitTimerSet = SetTimer(s.hwndApp, kTimerHits, kHitWriteMs, nullptr) != 0;
  // Without a timer the counts are written at once rather than lost.
  if (!s.hitTimerSet) WriteHits(s);
}

void OnTimer(Server& s, WPARAM id) {
  switch (id) {
    case kTimerHits:
      WriteHits(s);
      break;
    case kTimerUpdate:
      if (Stopping())
        break;
      else if (s.configLocked)
        ++s.pendingUpdateRequests;
      else if (s.seams.scheduler->KillAndTestIdle(s.hwndApp))
        StartUpdate(s, false);
      break;
    case kTimerLastChange:
      if (!s.configLocked) {
        s.seams.scheduler->CheckLastChange(*s.settings, s.hwndApp);
        s.seams.scheduler->ArmLastChangeTimer(*s.settings, s.hwndApp);
      }
      break;
    case kTimerLastChangeEach:
      if (!s.configLocked) {
        s.seams.scheduler->CheckLastChangeEach(*s.settings, s.hwndApp);
        s.seams.scheduler->ArmLastChangeEachTimer(*s.settings, s.hwndApp);
      }
      break;
  }
}

// A currency code packed into wParam: 1 to 4 letters or digits, the first in the low byte, the
// rest of the bytes zero.
bool UnpackCode(WPARAM wParam, char code[5]) {
  if (wParam > 0xFFFFFFFFu) return false;
  int n = 0;
  bool ended = false;
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((wParam >> (8 * i)) & 0xFF);
    if (c == 0) {
      ended = true;
    } else if (ended || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
      return false;
    } else {
      code[n++] = c;
    }
  }
  code[n] = 0;
  return n > 0;
}

HRESULT ShowMessage(Server& s, const COPYDATASTRUCT& cds) {
  if (!cds.lpData || cds.cbData < 8) return E_INVALIDARG;
  auto* data = static_cast<const BYTE*>(cds.lpData);
  DWORD offset = 4;
  const char* text = StringIn(data, cds.cbData, offset);
  if (!text) return E_INVALIDARG;
  std::string caption = LoadText(s, 32, 1000);
  if (s.seams.scheduler->IsBusy()) WaitWhileUpdating(s);
  return s.seams.notifications->ShowNotification(*s.settings, s.serviceMode, s.hwndApp, text, caption.c_str(),
                                                 ReadU32(data), s.hResLib);
}

// The file of a request from another program is read or written with that program's rights: the
// server never reads or writes a file for a caller that the caller could not itself.
HRESULT ConfigurationFile(Server& s, const COPYDATASTRUCT& cds, bool import, Origin origin) {
  if (!cds.lpData || cds.cbData < 8) return E_INVALIDARG;
  vtx::Account caller{};
  if (origin == Origin::Outside && !s.seams.pipe->Caller(&caller)) return E_ACCESSDENIED;
  // A server under the product's account cannot take another account's rights, root's included:
  // it refuses, and the caller reads or writes its file itself inside a configuration session.
  const vtx::Account* as = origin == Origin::Outside ? &caller : nullptr;
  auto* data = static_cast<const BYTE*>(cds.lpData);
  DWORD offset = 4;
  const char* path = StringIn(data, cds.cbData, offset);
  if (!path) return E_INVALIDARG;
  std::string file = path;  // the payload is the caller's; keep our own copy across the calls
  HRESULT hr = static_cast<HRESULT>(AppCommand(Origin::Process, s.hwndApp, WM_VX_LOCKCONFIG, 1, 0));
  if (FAILED(hr)) return hr;
  DWORD flag = ReadU32(data);
  hr = import ? s.seams.store->ImportConfiguration(file.c_str(), flag, as)
              : s.seams.store->ExportConfiguration(file.c_str(), flag, as);
  AppCommand(Origin::Process, s.hwndApp, WM_VX_UNLOCKCONFIG, import ? 1 : 0, 0);
  return hr;
}

LRESULT TestNotification(Server& s, const COPYDATASTRUCT& cds) {
  if (!cds.lpData || cds.cbData < 20 || s.seams.scheduler->IsBusy()) return 0;
  auto* data = static_cast<const BYTE*>(cds.lpData);
  NotificationTest test;
  test.messagesToLog = ReadU32(data);
  test.messagesToFile = ReadU32(data + 4);
  test.messagesViaEmail = ReadU32(data + 8);
  test.messagesOnScreen = ReadU32(data + 12);
  DWORD offset = 16;
  for (auto& str : test.strings)
    if (!(str = StringIn(data, cds.cbData, offset))) return 0;
  std::unique_ptr<Settings> copy = s.seams.store->NewSettings();
  if (!copy || FAILED(copy->CopyFrom(*s.settings))) return 0;
  HRESULT refused = copy->SetNotificationTest(test);
  s.seams.notifications->ShowNotificationId(*copy, s.serviceMode, s.hwndApp, 175, 32, kNotifyInformation, s.hResLib,
                                            0, 0, 0);
  return Reply(FAILED(refused) ? refused : S_OK);
}

LRESULT CopyData(Server& s, const COPYDATASTRUCT* cds, Origin origin) {
  if (!cds) return 0;
  switch (cds->dwData) {
    case WM_VX_SHOWMESSAGE: return Reply(ShowMessage(s, *cds));
    case WM_VX_IMPORTSETTINGS: return Reply(ConfigurationFile(s, *cds, true, origin));
    case WM_VX_EXPORTSETTINGS: return Reply(ConfigurationFile(s, *cds, false, origin));
    case WM_VX_TESTNOTIFICATION: return TestNotification(s, *cds);
    default: return 0;
  }
}

// Requests that only this process may make: the update thread's reports carry pointers, and the
// timers and the end of the session are the system's own.
bool OnlyFromInside(UINT msg) {
  if (msg == WM_COPYDATA) return false;
  return msg < 0x8000 || (msg >= WM_VX_UPDATEDONE && msg <= WM_VX_DEFINITIONSDONE);
}

std::string ErrorText(DWORD win32) {
  const char* text = vtx::SystemErrorText(HRESULT_FROM_WIN32(win32));
  char code[32];
  std::snprintf(code, sizeof code, " (0x%08X)", static_cast<unsigned>(HRESULT_FROM_WIN32(win32)));
  return (text ? std::string(text) : std::string("error")) + code;
}

// A server that answers a ping is the machine's server; a socket or a lock left by one that is
// ending does not count.
bool AnotherServerAnswers(const Seams& seams) {
  DWORD reply = 0;
  return seams.link->CanSendVXVMessages() &&
         SUCCEEDED(seams.link->SendVXVMessageTimeout(WM_VX_PING, 0, 0, kPingLimitMs, &reply)) && reply == 1;
}

void ReleaseInstanceLock(HANDLE mutex) {
  if (!mutex) return;
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

HWND CreateAppWindow(Server& s, HINSTANCE instance) {
  WNDCLASSA wc{};
  if (!GetClassInfoA(instance, g_szAppWindowClass, &wc)) {
    wc = WNDCLASSA{};
    wc.lpfnWndProc = AppWindowProc;
    wc.hInstance = instance;
    wc.hCursor = const_cast<char*>(IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
    wc.lpszClassName = g_szAppWindowClass;
    if (RegisterClassA(&wc)) s.classRegistered = true;
  }
  return CreateWindowExA(0, g_szAppWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

// The server opens the file from its own folder: a relative name is made whole here first.
std::string FromWorkingFolder(const std::string& file) {
  if (file.empty() || file[0] == '/') return file;
  char cwd[4096];
  return vtx::sys::Getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + file : file;
}

// False when the file was not imported: it could not be handed over, or the import was declined
// or could not be asked about.
bool RunImport(const Seams& seams, const std::string& given, bool confirmed) {
  std::string file = FromWorkingFolder(given);
  // The server adds the extension to a name without it: say the name it looks for.
  std::string looked = file;
  if (looked.size() < 7 || _stricmp(looked.c_str() + looked.size() - 7, ".vx-cnf") != 0) looked += ".vx-cnf";
  Resources& res = *seams.resources;
  HMODULE lib = res.LoadResourceLibrary(g_szAppKey);
  if (!lib) {
    SayOnStderr("The resource library could not be loaded, so " + file +
                " was not imported. Register the product folder with vtxsetup first.");
    return false;
  }
  bool ok = false;
  HRESULT hr = seams.store->CanSaveSettings();
  if (SUCCEEDED(hr) && !confirmed && !res.CanAsk()) {
    // Nobody to ask: a default answer must not replace the whole configuration.
    SayOnStderr(looked + " was not imported: there is no terminal to ask on. Confirm the import with /y: "
                "vtxserver /l:" + given + " /y");
  } else if (SUCCEEDED(hr)) {
    if (confirmed || res.FormatMessageBox(nullptr, 440, 32, MB_YESNO | MB_ICONQUESTION, lib, looked.c_str()) == IDYES) {
      HRESULT sent = SendImportToServer(*seams.link, *seams.store, file.c_str());
      ok = SUCCEEDED(sent);
      if (ok)
        res.FormatMessageBox(nullptr, 441, 32, MB_ICONINFORMATION, lib, looked.c_str());
      else if (IsServerFacility(sent))
        res.FormatMessageBox(nullptr, sent & 0xFFFF, 32, 0, lib, nullptr);
      else
        res.MessageBoxHResultOK(nullptr, 83, 32, lib, sent);
      if (!ok) SayOnStderr(looked + " was not imported.");
    } else {
      SayOnStderr("the import of " + looked + " was cancelled.");
    }
  } else if (hr == E_ACCESSDENIED) {
    res.FormatMessageBox(nullptr, 442, 32, MB_ICONHAND, lib, nullptr);
  } else {
    res.MessageBoxHResultOK(nullptr, 83, 32, lib, hr);
  }
  res.FreeResourceLibrary(lib);
  return ok;
}

void MainLoop(Server& s) {
  bool pipeUsable = true;
  for (;;) {
    // What is queued goes first: a request served inside a nested wait (an update-now, a message
    // shown) may have looked at posted messages already, and a message once looked at no longer
    // ends a wait; the quit command's WM_VX_EXIT would wait forever.
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
      if (m.message == WM_VX_EXIT) {
        s.exitCode = LOBYTE(m.wParam);
        return;
      }
      DispatchMessageA(&m);
    }
    HANDLE ev = pipeUsable ? s.seams.pipe->GetEvent() : nullptr;
    DWORD count = ev ? 1 : 0;
    DWORD r = MsgWaitForMultipleObjects(count, &ev, FALSE, INFINITE, QS_ALLINPUT);
    if (count == 1 && r == WAIT_OBJECT_0) {
      s.seams.pipe->ServeRequest(s.hwndApp, AppPipeProc);
      continue;
    }
    if (r == WAIT_FAILED) {
      if (count == 0) return;  // the queue itself is gone: nothing can ever end the loop
      pipeUsable = false;      // a broken pipe event must not spin the loop; messages still work
    }
  }
}

}  // namespace

const char kServerUsage[] =
    "usage: vtxserver [/SERVICE] [/l:<configuration file> [/y]]\n"
    "The Vantrex server: keeps the exchange rates of the registry store ($VANTREX_REGISTRY) current\n"
    "and answers the other programs on its pipe ($VANTREX_RUNTIME_DIR/HulvaneVantrexAppPipe). It runs\n"
    "until SIGTERM or the quit command; SIGHUP reads the configuration again.\n"
    "  /SERVICE                  run as the service: event-log entries at the start and the end\n"
    "  /l:<configuration file>   hand a configuration export file to the running server and end;\n"
    "                            it asks first on the terminal (\".vx-cnf\" is added when missing)\n"
    "  /y                        the import is confirmed: nothing is asked (needed without a terminal)\n"
    "Switches may begin with '-' as well as '/'. The store needs a product folder registered with\n"
    "vtxsetup.\n";

CommandLine ParseCommandLine(const std::vector<std::string>& tokens) {
  CommandLine cl;
  for (const std::string& t : tokens) {
    if (t == "--help" || t == "-h" || t == "/?" || t == "-?") {
      cl.help = true;
      continue;
    }
    if (t.size() < 2 || (t[0] != '-' && t[0] != '/')) {
      cl.unknown.push_back(t);
      continue;
    }
    std::string rest = t.substr(1);
    if (_stricmp(rest.c_str(), "SERVICE") == 0) {
      cl.serviceMode = true;
    } else if (rest == "y") {
      cl.confirmed = true;
    } else if (rest[0] == 'l' && rest.size() > 1 && (rest[1] == ':' || rest[1] == '/')) {
      // On Linux a plain path such as "/lib/x" starts with the switch character too, so the
      // file must follow a colon or be an absolute path itself.
      cl.imports.push_back(rest[1] == ':' ? rest.substr(2) : rest.substr(1));
    } else {
      cl.unknown.push_back(t);
    }
  }
  return cl;
}

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    size_t end;
    if (text[i] == '"') {
      end = text.find('"', i + 1);
      if (end == std::string::npos) end = text.size();
      tokens.push_back(text.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      end = text.find(' ', i);
      if (end == std::string::npos) end = text.size();
      tokens.push_back(text.substr(i, end - i));
      i = end;
    }
  }
  return tokens;
}

HRESULT SendImportToServer(ServerLink& link, SettingsStore& store, const char* path) {
  auto call = [&link](UINT msg, WPARAM wParam, LPARAM lParam, DWORD* reply) {
    return link.SendVXVMessageTimeout(msg, wParam, lParam, kImportLimitMs, reply);
  };
  std::string file = path ? path : "";
  return vtx::notify::ConfigurationFileAsCaller(call, true, path,
                                                [&] { return store.ImportConfiguration(file.c_str(), 1, nullptr); });
}

void MigrateMessagesFile(SettingsStore& store) {
  std::string target, path;
  if (!store.ReadAppString("DisplayMessages", target) || !store.ReadAppString("Path", path)) return;
  if (target.empty() || path.empty()) return;
  std::string old = vtx::JoinPath(path, "messages.txt");
  // Never over an existing file; a failed copy leaves nothing behind and the old file in place.
  if (CopyFileA(old.c_str(), target.c_str(), TRUE)) DeleteFileA(old.c_str());
}

void ServeWhileSettingsLockWaits() {
  Server* s = g_server;
  if (!s || !s->hwndApp) return;
  DWORD msg = 0;
  while (s->seams.pipe->NextMessage(&msg) &&
         (msg == WM_VX_PING || msg == WM_VX_ISUPDATING || msg == WM_VX_GETPENDINGUPDATES))
    s->seams.pipe->ServeRequest(s->hwndApp, AppPipeProc);
}

LRESULT AppWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return AppCommand(Origin::Process, hwnd, msg, wParam, lParam);
}

LRESULT AppPipeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return AppCommand(Origin::Outside, hwnd, msg, wParam, lParam);
}

LRESULT AppCommand(Origin origin, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (origin == Origin::Outside && OnlyFromInside(msg)) return 0;
  Server* sp = g_server;
  if (!sp || !sp->settings || hwnd != sp->hwndApp) return msg >= 0x8000 ? 0 : DefWindowProcA(hwnd, msg, wParam, lParam);
  Server& s = *sp;
  switch (msg) {
    case WM_VX_UPDATEDONE:
    case WM_VX_DEFINITIONSDONE:
      ApplyUpdateResult(s, s.seams.scheduler->ReportedSettings(wParam), S_OK);
      return 0;
    case WM_VX_UPDATEFAILED:
      ApplyUpdateResult(s, nullptr, static_cast<HRESULT>(lParam));
      return 0;
    case WM_VX_UPDATEIDLE:
      s.seams.scheduler->OnUpdateIdle(*s.settings, s.hwndApp);
      if (s.reloadWhenIdle && !s.seams.scheduler->IsBusy()) {
        s.reloadWhenIdle = false;
        ReloadSettings(s);
        ArmStalenessTimers(s);
      }
      return 0;
    case WM_VX_LOCKCONFIG: {
      HRESULT hr = LockConfig(s, wParam);
      // A lock that its caller gave up on while it was taken has no session to end it.
      if (SUCCEEDED(hr) && origin == Origin::Outside && s.seams.pipe->CallerGone()) UnlockConfig(s, 0);
      return Reply(hr);
    }
    case WM_VX_UNLOCKCONFIG: return Reply(UnlockConfig(s, wParam));
    case WM_VX_QUIT:
      // Whatever a download, a filter or a notice is doing, it gives up now.
      vtx::sync::RequestStop();
      PostMessageA(hwnd, WM_VX_EXIT, wParam, 0);
      return 0;
    case kWmReloadConfiguration:
      if (origin == Origin::Process) ReloadConfiguration(s);
      return 0;
    case WM_VX_UPDATENOW: return Reply(UpdateNow(s));
    case WM_VX_USESMAPIEMAIL:
      return s.settings->MessagesViaEmail() && !s.settings->IsMessageEmailProfileSmtp() ? 1 : 0;
    case WM_VX_CANSAVESETTINGS: return Reply(s.seams.store->CanSaveSettings());
    case WM_VX_GETPENDINGUPDATES: return s.pendingUpdateRequests;
    case WM_VX_ISUPDATING: return s.seams.scheduler->IsBusy() ? 1 : 0;
    case WM_VX_EXIT: return 0;
    case WM_VX_PING: return 1;
    case WM_VX_COUNTHIT: {
      char code[5];
      if (!UnpackCode(wParam, code)) return 0;
      // lParam: the number of uses; 0 is one, as single counts have always been sent.
      const DWORD uses = static_cast<DWORD>(static_cast<uint64_t>(lParam));
      CountHits(s, code, uses ? uses : 1);
      return 1;
    }
    case WM_COPYDATA: return CopyData(s, reinterpret_cast<const COPYDATASTRUCT*>(lParam), origin);
    case WM_ENDSESSION:
      if (!wParam) return 0;
      vtx::sync::RequestStop();
      s.settings->Save();
      s.savedAtEndSession = true;
      PostMessageA(hwnd, WM_VX_EXIT, 2, 0);
      return 0;
    case WM_TIMER:
      OnTimer(s, wParam);
      return 0;
    default:
      return msg >= 0x8000 ? 0 : DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

namespace {

// Timers, the pipe and the main loop; then the way out while the window still exists.
void Serve(Server& s) {
  const Seams& seams = s.seams;
  seams.scheduler->Schedule(*s.settings, s.hwndApp);
  ArmStalenessTimers(s);
  // A killed server's pipe goes with its process, moments after the kill; without the pipe the
  // other programs could not reach this server, so it does not run.
  HRESULT piped = seams.pipe->Create(g_szAppPipe);
  for (uint64_t until = vtx::sync::DeadlineAfter(kInstanceWaitMs);
       piped == HRESULT_FROM_WIN32(ERROR_PIPE_BUSY) && vtx::sync::NowMs() < until;)
    Sleep(50), piped = seams.pipe->Create(g_szAppPipe);
  if (FAILED(piped)) {
    SayOnStderr("cannot serve its pipe " + vtx::pipes::SocketPath(g_szAppPipe) + ": " + ErrorText(piped & 0xFFFF));
    s.status = 1;
  } else {
    // SIGTERM and SIGINT end the run and stop the waits at once; SIGHUP reads the configuration again.
    vtx::messages::RouteEndSessionSignals(s.hwndApp, kWmReloadConfiguration, true);
    MainLoop(s);
    vtx::messages::RouteEndSessionSignals(nullptr);
  }
  // A run still under way hands its result over (and stores its rates) while the window exists; one
  // that the stop cannot end in time is left behind, a failed attempt, and nothing of it is stored.
  vtx::sync::RequestStop();
  WaitWhileUpdating(s, vtx::sync::DeadlineAfter(kStopLimitMs));
  // The hit counts that wait are written before the program ends.
  WriteHits(s);
  if (!s.savedAtEndSession) s.settings->Save();
  seams.scheduler->Kill(s.hwndApp);
  KillTimer(s.hwndApp, kTimerLastChange);
  KillTimer(s.hwndApp, kTimerLastChangeEach);
  DestroyWindow(s.hwndApp);
  if (s.classRegistered) {
    UnregisterClassA(g_szAppWindowClass, nullptr);
    s.classRegistered = false;
  }
  seams.pipe->Destroy();
}

// The run with its resource library: the settings, the command window and serving.
void RunWithResources(Server& s) {
  const Seams& seams = s.seams;
  seams.scheduler->Set(s.hResLib, kTimerUpdate, s.serviceMode);
  s.settings = seams.store->NewSettings();
  bool created = s.settings && s.settings->Create(s.hResLib);
  s.savedAtEndSession = false;
  s.pendingUpdateRequests = 0;
  if (created) {
    g_server = &s;
    s.hwndApp = CreateAppWindow(s, nullptr);
  }
  if (s.hwndApp) {
    Serve(s);
  } else {
    // Settings that could not be created end the run as a window that could not be made.
    std::string text = LoadText(s, 178, 4000);
    SayOnStderr(text.empty() ? "The Vantrex command window could not be created. The server stops." : text);
    s.status = 1;
    vtx::SetEventLogForeground(false);
    if (s.settings)
      seams.notifications->ShowNotificationId(*s.settings, s.serviceMode, nullptr, 178, 32, MB_ICONHAND, s.hResLib,
                                              0, 0, 0);
  }
  g_server = nullptr;
}

// Everything of a run that is the one server of the machine.
void RunAsTheServer(Server& s) {
  const Seams& seams = s.seams;
  // A store that cannot be used is named as such, not taken for one without a product folder.
  {
    vtx::RegTransaction probe(vtx::RegTransaction::Read);
    const DWORD e = probe.Status();
    if (e == ERROR_REGISTRY_CORRUPT || e == ERROR_ACCESS_DENIED) {
      SayOnStderr(std::string("the registry store ") + vtx::RegistryStorePath() +
                  (e == ERROR_REGISTRY_CORRUPT ? " is damaged or is not a Vantrex store"
                                               : " may not be used by this account: " + ErrorText(e)));
      s.status = 1;
      return;
    }
  }
  if (vtx::RegistryWriteProbe() == ERROR_ACCESS_DENIED)
    SayOnStderr(std::string("the registry store ") + vtx::RegistryStorePath() +
                " is read-only: updates run, but neither rates nor settings are kept");
  seams.internet->Construct();
  seams.store->UpgradeRegistryAtStartup();
  s.hResLib = seams.resources->LoadResourceLibrary(g_szAppKey);
  if (s.hResLib) {
    RunWithResources(s);
    seams.resources->FreeResourceLibrary(s.hResLib);
  } else {
    static const char kNoLibrary[] = "The resource library could not be loaded.";
    SayOnStderr(std::string(kNoLibrary) + " Register the product folder in the store " + vtx::RegistryStorePath() +
                " with: vtxsetup <product folder> (it names the language catalogue).");
    s.status = 1;
    std::unique_ptr<Settings> bare = seams.store->NewSettings();
    // stderr has it already: the event-log channel's entry goes to the system log alone.
    vtx::SetEventLogForeground(false);
    if (bare && bare->Create(nullptr))
      seams.notifications->ShowNotification(*bare, s.serviceMode, nullptr, kNoLibrary, "Vantrex", MB_ICONHAND,
                                            nullptr);
  }
  seams.internet->Destroy();
}

// The instance lock of the machine (a named mutex, which also closes the race of two servers
// starting together) and the one beside the store. True when this start holds both and no other
// server answers. A server killed a moment ago holds its locks until its process is gone (on a busy
// machine, some time after the kill) and answers nothing: locks whose holder does not answer are
// waited for, up to kInstanceWaitMs. False, with the reason said, when another server answers, or
// holds a lock without answering for that long, or the instance lock cannot be had at all (the
// machine would have no guard against a second server).
bool TakeInstanceLocks(const Seams& seams, HANDLE* mutex, vtx::LockFile& storeLock) {
  *mutex = nullptr;
  const std::string store = vtx::RegistryStorePath();
  HANDLE m = CreateMutexA(nullptr, FALSE, kInstanceMutexName);
  if (!m) {
    SayOnStderr("cannot make its instance lock in " + vtx::sync::RuntimeDir() + ": " + ErrorText(GetLastError()));
    return false;
  }
  bool mutexHeld = false;
  long holder = 0;
  uint64_t until = 0;
  auto giveUp = [&](const std::string& why) {
    if (mutexHeld) ReleaseMutex(m);
    CloseHandle(m);
    storeLock.Release();
    SayOnStderr(why);
    return false;
  };
  for (;;) {
    if (!mutexHeld) {
      DWORD r = WaitForSingleObject(m, 0);
      if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED)
        mutexHeld = true;
      else if (r != WAIT_TIMEOUT)
        return giveUp("cannot take its instance lock: " + ErrorText(GetLastError()));
    }
    // A store lock that cannot be had at all (a read-only folder) leaves the decision to the others.
    if (mutexHeld && storeLock.Take(store + kStoreLockSuffix, &holder) != HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION))
      break;
    std::string who = holder > 0 ? " (process " + std::to_string(holder) + ")" : "";
    if (AnotherServerAnswers(seams))
      return giveUp("Another vtxserver" + who + " runs on the store " + store +
                    "; this one ends. Stop that server first (SIGTERM or its quit command).");
    if (!until) until = vtx::sync::DeadlineAfter(kInstanceWaitMs);
    if (vtx::sync::NowMs() >= until)
      return giveUp("Another vtxserver" + who + " holds the lock of the store " + store + " or of " +
                    vtx::sync::RuntimeDir() + " and does not answer; this one ends.");
    Sleep(50);
  }
  *mutex = m;
  if (!AnotherServerAnswers(seams)) return true;
  *mutex = nullptr;
  return giveUp("Another vtxserver runs on " + vtx::sync::RuntimeDir() + "; this one ends.");
}

// The process-wide settings a run changes, as they were before it.
class RunScope {
 public:
  explicit RunScope(bool serviceMode) { vtx::SetEventLogForeground(!serviceMode); }
  ~RunScope() {
    vtx::SetEventLogForeground(true);
    vtx::sync::ClearStop();
  }
};

}  // namespace

int RunServer(const std::vector<std::string>& arguments, const Seams& seams) {
  CommandLine cl = ParseCommandLine(arguments);
  if (cl.help) {
    std::fputs(kServerUsage, stdout);
    return 0;
  }
  if (!cl.unknown.empty()) {
    std::string named;
    for (const std::string& u : cl.unknown) named += (named.empty() ? "" : " ") + u;
    SayOnStderr((cl.unknown.size() == 1 ? "unknown argument: " : "unknown arguments: ") + named +
                " (vtxserver --help shows the usage)");
    return 2;
  }
  Server s;
  s.seams = seams;
  RunScope scope(cl.serviceMode);
  MigrateMessagesFile(*seams.store);
  s.serviceMode = cl.serviceMode;
  for (const std::string& file : cl.imports)
    if (!RunImport(seams, file, cl.confirmed)) s.status = 1;

  // One server per machine and per store: an import hands its file over and ends, and so does a
  // start while another server holds an instance lock or answers. Only the run that became the
  // server is framed by the started and stopped entries: the log never shows a start that was not.
  HANDLE instanceLock = nullptr;
  vtx::LockFile storeLock;
  if (cl.imports.empty()) {
    if (TakeInstanceLocks(seams, &instanceLock, storeLock)) {
      if (s.serviceMode) seams.events->ReportServerEvent(kEventStarted, EVENTLOG_INFORMATION_TYPE, nullptr, 0);
      RunAsTheServer(s);
      if (s.serviceMode) seams.events->ReportServerEvent(kEventStopped, EVENTLOG_INFORMATION_TYPE, &s.exitCode, 1);
    } else {
      s.status = 1;
    }
  }
  ReleaseInstanceLock(instanceLock);
  return s.status;
}

}  // namespace vtx::server
