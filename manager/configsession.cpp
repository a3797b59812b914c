#include "manager/configsession.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <strings.h>

#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <vector>

#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "engine/notify/pipemessage.h"
#include "engine/notify/reachserver.h"
#include "engine/notify/servicepipe.h"
#include "manager/browserview.h"
#include "manager/configtexts.h"
#include "manager/managerdefs.h"
#include "manager/propertysheet.h"
#include "manager/qtparts.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

constexpr UINT kLockOwnerManager = 0;
constexpr WPARAM kUnlockReload = 1;
constexpr WPARAM kUnlockDrop = 0;
constexpr size_t kAccountNameMax = 200;
constexpr size_t kCustomActionTextMax = 1000;

// The links of the pages open through the running session's browser and launcher.
CBrowserView* g_browser = nullptr;
ILauncher* g_linkLauncher = nullptr;

struct PublishedLinks {
  PublishedLinks(CBrowserView* browser, ILauncher* launcher) {
    g_browser = browser;
    g_linkLauncher = launcher;
  }
  ~PublishedLinks() {
    g_browser = nullptr;
    g_linkLauncher = nullptr;
  }
};

OffGuiReply Send(UINT msg, WPARAM wParam, DWORD boundMs) {
  DWORD value = 0;
  HRESULT hr = SendVXVMessageTimeout(msg, wParam, 0, boundMs, &value);
  return OffGuiReply{hr, value};
}

// Whether the server's answer to an unlock means the lock is gone.
bool LockGone(HRESULT hr) { return hr == S_OK || hr == E_SERVER_UNAVAILABLE; }

// How long a new holder waits for a manager that is giving back a killed manager's lock to let
// go of the holder file.
constexpr DWORD kHolderFileWaitMs = 3000;

// Takes the holder file: its flock lasts as long as this process holds the server's lock, and it
// names this process. False when it cannot be had.
bool TakeHolderFile(vtx::LockFile& file) {
  if (FAILED(vtx::sync::MakeRuntimeDir("locks"))) return false;
  uint64_t deadline = vtx::sync::DeadlineAfter(kHolderFileWaitMs);
  for (;;) {
    HRESULT hr = file.Take(ManagerLockFilePath());
    if (hr != HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION) || vtx::sync::MsUntil(deadline) == 0) return SUCCEEDED(hr);
    Sleep(20);
  }
}

// The lock went back: the file is emptied, so nobody gives it back again. While no answer came,
// the name stays, and a later manager tries again.
void LetGoOfHolderFile(vtx::LockFile& file, HRESULT unlocked) {
  if (LockGone(unlocked)) file.Clear();
  file.Release();
}

std::string UserName() {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (vtx::sys::GetpwuidR(vtx::sys::Geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !found->pw_name)
    return "";
  return found->pw_name;
}

std::string ShortHostName() {
  char name[256] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? name : "";
}

}  // namespace

// The server's configuration lock as this session holds it. The requests run off the GUI thread;
// what they find is kept here under a mutex, so that the quit path can wait for a request under
// way and give back what it got, and a lock granted after the session gave up waiting goes back
// at once.
class CConfigSession::Lock {
 public:
  Lock(OffGuiCalls& calls, SessionBounds bounds) : calls_(calls), bounds_(bounds), state_(std::make_shared<State>()) {}
  ~Lock() {
    if (!Locked()) return;
    if (calls_.Abandoned()) {
      ReleaseForQuit();
    } else {
      Unlock(kUnlockDrop);
    }
  }

  bool Locked() const {
    std::lock_guard<std::mutex> l(state_->m);
    return state_->locked;
  }

  // WM_VX_LOCKCONFIG(0).
  OffGuiOutcome Take(OffGuiReply* reply) {
    Begin();
    auto state = state_;
    SessionBounds b = bounds_;
    OffGuiOutcome outcome = calls_.RunOffGuiThread(
        [state, b] {
          OffGuiReply r = Send(WM_VX_LOCKCONFIG, kLockOwnerManager, b.requestMs);
          bool granted = r.hr == S_OK && static_cast<int32_t>(r.value) >= 0;
          bool giveBack = false;
          {
            std::lock_guard<std::mutex> l(state->m);
            if (granted) {
              giveBack = state->gaveUp;
              state->locked = !giveBack;
            }
          }
          if (giveBack) {
            Send(WM_VX_UNLOCKCONFIG, kUnlockDrop, b.quitMs);
          } else if (granted) {
            std::lock_guard<std::mutex> l(state->m);
            TakeHolderFile(state->holder);
          }
          End(state);
          return r;
        },
        bounds_.requestMs, reply);
    if (outcome == OffGuiOutcome::TimedOut) GiveUp();
    return outcome;
  }

  // WM_VX_UNLOCKCONFIG(reload); the lock counts as given back whatever the answer.
  void Unlock(WPARAM reload) {
    {
      std::lock_guard<std::mutex> l(state_->m);
      state_->locked = false;
    }
    Begin();
    auto state = state_;
    OffGuiReply r;
    calls_.RunOffGuiThread(UnlockCall(state, reload, bounds_.requestMs), bounds_.requestMs, &r);
  }

  // A lock request that timed out: the server may still grant it, so it is sent back.
  void GiveUp() {
    std::lock_guard<std::mutex> l(state_->m);
    state_->gaveUp = true;
  }

  // The quit path: waits for a request under way, then gives back the lock, within the bound;
  // with a reload when settings were saved meanwhile.
  void ReleaseForQuit(WPARAM reload = kUnlockDrop) {
    uint64_t deadline = vtx::sync::DeadlineAfter(bounds_.quitMs);
    bool wasLocked;
    {
      std::unique_lock<std::mutex> l(state_->m);
      state_->gaveUp = true;
      state_->done.wait_for(l, std::chrono::milliseconds(bounds_.quitMs), [&] { return state_->out == 0; });
      wasLocked = state_->locked;
      state_->locked = false;
    }
    if (!wasLocked) return;
    int left = std::max(vtx::sync::MsUntil(deadline), 1);
    Begin();
    OffGuiReply r;
    OffGuiCalls::RunAndWait(UnlockCall(state_, reload, static_cast<DWORD>(left)), static_cast<DWORD>(left), &r);
  }

 private:
  struct State {
    std::mutex m;
    std::condition_variable done;
    bool locked = false;
    bool gaveUp = false;
    int out = 0;  // requests under way
    vtx::LockFile holder;
  };

  void Begin() {
    std::lock_guard<std::mutex> l(state_->m);
    ++state_->out;
  }
  static void End(const std::shared_ptr<State>& state) {
    std::lock_guard<std::mutex> l(state->m);
    --state->out;
    state->done.notify_all();
  }
  static std::function<OffGuiReply()> UnlockCall(std::shared_ptr<State> state, WPARAM reload, DWORD boundMs) {
    return [state, reload, boundMs] {
      OffGuiReply r = Send(WM_VX_UNLOCKCONFIG, reload, boundMs);
      {
        std::lock_guard<std::mutex> l(state->m);
        LetGoOfHolderFile(state->holder, r.hr);
      }
      End(state);
      return r;
    };
  }

  OffGuiCalls& calls_;
  SessionBounds bounds_;
  std::shared_ptr<State> state_;
};

CConfigSession::CConfigSession(SessionOptions options)
    : options_(std::move(options)), launcher_(options_.launcher ? options_.launcher : &SystemLauncher()) {}

CConfigSession::~CConfigSession() { EndForQuit(); }

HRESULT CConfigSession::Start(HMODULE resources, HWND owner, HWND notifyWindow, UINT notifyMessage) {
  if (running_) {
    RaiseWindow();
    return S_OK;
  }
  resources_ = resources;
  owner_ = owner;
  notifyWindow_ = notifyWindow;
  notifyMessage_ = notifyMessage;
  running_ = true;
  quitting_ = false;
  calls_ = std::make_unique<OffGuiCalls>();
  // The steps begin from the event loop, never inside the caller.
  QTimer::singleShot(0, &context_, [this] { Run(); });
  return S_OK;
}

bool CConfigSession::RaiseWindow() {
  if (!window_) return false;
  // A minimized window comes back as it was before.
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->show();
  window_->raise();
  window_->activateWindow();
  // A box or dialog of the session stays above the window it belongs to.
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != window_) {
    modal->raise();
    modal->activateWindow();
  }
  return true;
}

void CConfigSession::EndForQuit() {
  if (!running_) return;
  quitting_ = true;
  running_ = false;
  if (calls_) calls_->Abandon();
  // Modal dialogs from the top down; their exec returns as a Cancel once the loops unwind.
  for (int i = 0; i < 64; ++i) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) break;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
    if (QApplication::activeModalWidget() == modal) modal->hide();
  }
  if (window_) window_->reject();
  if (lock_) lock_->ReleaseForQuit(sheet_ && sheet_->SavedByApply() ? kUnlockReload : kUnlockDrop);
}

namespace {

// The session whose lock goes back when the program ends by exit(): Qt's way out when the
// display goes away under an open configuration window.
CConfigSession* g_atExit = nullptr;
std::once_flag g_atExitOnce;

void ReleaseAtExit() {
  if (g_atExit) g_atExit->ReleaseLockAtExit();
}

}  // namespace

void CConfigSession::ReleaseLockAtExit() {
  // Nothing of Qt here: the display may be gone.
  if (lock_) lock_->ReleaseForQuit(sheet_ && sheet_->SavedByApply() ? kUnlockReload : kUnlockDrop);
}

void CConfigSession::Run() {
  if (quitting_) return;
  std::call_once(g_atExitOnce, [] { std::atexit(ReleaseAtExit); });
  {
    ConfigurationSheet sheet(resources_, options_.sheet);
    Lock lock(*calls_, options_.bounds);
    CBrowserView browser(*launcher_);
    PublishedLinks links(&browser, launcher_);
    sheet_ = &sheet;
    lock_ = &lock;
    g_atExit = this;
    Steps(sheet, lock);
    g_atExit = nullptr;
    sheet_ = nullptr;
    lock_ = nullptr;
  }
  if (quitting_) return;
  running_ = false;
  if (notifyWindow_) PostMessageA(notifyWindow_, notifyMessage_, 0, 0);
}

OffGuiOutcome CConfigSession::Request(UINT msg, WPARAM wParam, DWORD boundMs, OffGuiReply* reply) {
  return calls_->RunOffGuiThread([msg, wParam, boundMs] { return Send(msg, wParam, boundMs); }, boundMs, reply);
}

void CConfigSession::Steps(ConfigurationSheet& sheet, Lock& lock) {
  CSettings settings;
  // Write test: the user may look without the right to save.
  bool onlyLooking = settings.CanSave() == E_ACCESSDENIED;
  if (onlyLooking &&
      FormatMessageBox(owner_, kStrNoWriteAccess, kStrProduct, MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND,
                       resources_, vtx::ProductAccountName().c_str()) != IDOK)
    return;
  if (quitting_) return;
  QIcon icon = ManagerIcon();
  if (icon.isNull()) return;

  OffGuiReply reply;
  OffGuiOutcome outcome = lock.Take(&reply);
  if (outcome == OffGuiOutcome::Abandoned) return;
  if (outcome == OffGuiOutcome::TimedOut) reply.hr = E_TIMEOUT;
  if (reply.hr == E_TIMEOUT) {
    // The server may still take the request: the lock goes back before the session ends.
    lock.GiveUp();
    OffGuiReply ignored;
    Request(WM_VX_UNLOCKCONFIG, kUnlockDrop, options_.bounds.requestMs, &ignored);
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, E_TIMEOUT);
    return;
  }
  if (reply.hr == S_OK && static_cast<int32_t>(reply.value) < 0) {
    HRESULT refusal = reply.value;
    WORD text = static_cast<WORD>(refusal & 0xFFFF);
    if (!IsServerFacility(refusal)) {
      MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, refusal);
    } else if (text && !FormatMessageBox(owner_, text, kStrProduct, MB_ICONHAND | MB_SETFOREGROUND, resources_)) {
      MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, refusal);
    }
    return;
  }
  // An account that may only look may not reach the server either; it has agreed to look.
  if (reply.hr == E_ACCESSDENIED && onlyLooking) reply.hr = E_SERVER_UNAVAILABLE;
  if (reply.hr != S_OK && reply.hr != E_SERVER_UNAVAILABLE) {
    // Only a server that is not there lets the session go on unlocked.
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrProduct, resources_, reply.hr);
    return;
  }

  bool saved = false;
  if (settings.Create(resources_) &&
      RunConfigurationSheet(sheet, nullptr, icon, settings, -1, &window_) && !quitting_) {
    HRESULT hr = sheet.SaveSettings(settings);
    if (lock.Locked()) lock.Unlock(kUnlockReload);
    if (FAILED(hr)) {
      MessageBoxHResultOK(owner_, kStrOperationFailed, kStrSaveFailedCaption, resources_, hr);
    } else {
      saved = true;
      sheet.RunAfterSave();
    }
  }
  if (quitting_) return;
  if (saved) {
    CSettingsData* d = settings.GetData();
    if (d && d->MessagesViaEmail && !settings.IsMessageEmailProfileSmtp())
      CheckMapiServiceAccount(owner_, kStrServiceAccount, resources_, *calls_, options_.bounds.requestMs);
    if (!quitting_ && sheet.TestUpdateStarted() && sheet.TestUpdateChangedRates()) OfferCustomAction(settings);
  }
  if (quitting_) return;
  if (lock.Locked()) lock.Unlock(kUnlockDrop);
  if (!sheet.TestUpdateStarted() && !quitting_)
    AskForHeldBackUpdate(owner_, resources_, *calls_, options_.bounds.requestMs);
}

void CConfigSession::OfferCustomAction(const CSettings& settings) {
  if (FormatMessageBox(owner_, kStrRunCustomAction, kStrProduct, MB_YESNO | MB_SETFOREGROUND, resources_) != IDYES ||
      quitting_)
    return;
  // The call holds its own copy: it may outlive the wait.
  auto copy = std::make_shared<CSettings>();
  if (!copy->CopyFrom(settings)) {
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrCustomActionCaption, resources_, E_OUTOFMEMORY);
    return;
  }
  auto errorText = std::make_shared<std::string>();
  OffGuiReply reply;
  OffGuiOutcome outcome = calls_->RunOffGuiThread(
      [copy, errorText] {
        char* text = nullptr;
        HRESULT hr = copy->ExecuteCustomAction(nullptr, &text);
        if (text) {
          *errorText = text;
          GlobalFree(text);
        }
        return OffGuiReply{hr, 0};
      },
      options_.bounds.requestMs, &reply);
  if (outcome == OffGuiOutcome::Abandoned) return;
  if (outcome == OffGuiOutcome::TimedOut) reply.hr = E_TIMEOUT;
  if (SUCCEEDED(reply.hr)) return;
  if (outcome == OffGuiOutcome::Done && !errorText->empty()) {
    std::string caption = LoadText(resources_, kStrCustomActionCaption);
    vtx::ShowMessageBox(owner_, errorText->substr(0, kCustomActionTextMax).c_str(), caption.c_str(), MB_ICONHAND);
  } else {
    MessageBoxHResultOK(owner_, kStrOperationFailed, kStrCustomActionCaption, resources_, reply.hr);
  }
}

void AskForHeldBackUpdate(HWND owner, HMODULE resources, OffGuiCalls& calls, DWORD boundMs) {
  auto request = [&calls, boundMs](UINT msg, DWORD bound, OffGuiReply* reply) {
    return calls.RunOffGuiThread([msg, bound] { return Send(msg, 0, bound); }, bound, reply);
  };
  OffGuiReply pending;
  if (request(WM_VX_GETPENDINGUPDATES, boundMs, &pending) != OffGuiOutcome::Done || pending.hr != S_OK ||
      static_cast<int32_t>(pending.value) < 1)
    return;
  OffGuiReply busy;
  OffGuiOutcome asked = request(WM_VX_ISUPDATING, boundMs, &busy);
  if (asked == OffGuiOutcome::Abandoned) return;
  if (asked == OffGuiOutcome::Done && busy.hr == S_OK && busy.value != 0) return;
  if (FormatMessageBox(owner, kStrPendingUpdates, kStrProduct, MB_YESNO | MB_ICONWARNING | MB_SETFOREGROUND,
                       resources) != IDYES ||
      calls.Abandoned())
    return;
  // Returns when the server's update has ended; the quit path leaves it running in the server.
  OffGuiReply ignored;
  request(WM_VX_UPDATENOW, 0, &ignored);
}

BOOL CheckMapiServiceAccount(HWND owner, UINT stringId, HMODULE module, OffGuiCalls& calls, DWORD boundMs) {
  auto ask = [&calls, boundMs](DWORD msg, std::string data, OffGuiReply* reply) {
    return calls.RunOffGuiThread(
        [msg, data, boundMs] {
          CPipeMessageClient client;
          DWORD value = 0;
          HRESULT hr;
          if (msg == WM_COPYDATA) {
            COPYDATASTRUCT cds{VXSVC_ISSERVICEACCOUNT, static_cast<DWORD>(data.size() + 1),
                               const_cast<char*>(data.c_str())};
            hr = client.SendMessageTimeoutA(g_szServicePipe, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), boundMs,
                                            &value);
          } else {
            hr = client.SendMessageTimeoutA(g_szServicePipe, msg, 0, 0, boundMs, &value);
          }
          return OffGuiReply{hr, value};
        },
        boundMs, reply);
  };
  auto warn = [&] {
    FormatMessageBox(owner, stringId, kStrProduct, MB_ICONWARNING | MB_SETFOREGROUND, module);
    return FALSE;
  };
  OffGuiReply system;
  if (ask(VXSVC_ISLOCALSYSTEM, "", &system) != OffGuiOutcome::Done || system.hr != S_OK) return TRUE;
  if (system.value) return warn();
  std::string user = UserName(), domain = ShortHostName();
  if (user.empty() || domain.empty()) return TRUE;
  std::string account = domain + "\\" + user;
  // A name that does not fit is not asked about: a cut name would name someone else.
  if (account.size() + 1 > kAccountNameMax) return TRUE;
  OffGuiReply same;
  if (ask(WM_COPYDATA, account, &same) != OffGuiOutcome::Done || same.hr != S_OK) return TRUE;
  if (same.value == 0) return warn();
  return static_cast<BOOL>(same.value);
}

HRESULT OpenLink(const char* text, DWORD) {
  if (!text) return S_OK;
  if (strncasecmp(text, "mailto:", 7) == 0) {
    ILauncher& launcher = g_linkLauncher ? *g_linkLauncher : SystemLauncher();
    return FAILED(launcher.OpenUrl(text)) ? E_FAIL : S_OK;
  }
  if (!g_browser) return E_POINTER;
  return g_browser->Show(text, 0);
}

std::string ManagerLockFilePath() { return vtx::sync::RuntimeDir() + "/locks/vtxmanager.lock"; }

bool RecoverConfigurationLock(HWND owner, HMODULE resources, OffGuiCalls& calls, SessionBounds bounds) {
  auto holder = std::make_shared<vtx::LockFile>();
  std::string previous;
  // Held by a manager that runs, or nothing left behind.
  if (FAILED(holder->Take(ManagerLockFilePath(), nullptr, &previous))) return false;
  if (previous.empty()) {
    holder->Clear();
    holder->Release();
    return false;
  }
  // What the killed manager saved with Apply is in the store: the server takes it.
  OffGuiReply unlocked;
  OffGuiOutcome outcome = calls.RunOffGuiThread(
      [holder, bound = bounds.requestMs] {
        OffGuiReply r = Send(WM_VX_UNLOCKCONFIG, kUnlockReload, bound);
        LetGoOfHolderFile(*holder, r.hr);
        return r;
      },
      bounds.requestMs, &unlocked);
  if (outcome != OffGuiOutcome::Done || unlocked.hr != S_OK) return false;
  AskForHeldBackUpdate(owner, resources, calls, bounds.requestMs);
  return true;
}

}  // namespace vtx::manager
