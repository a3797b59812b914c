#include "server/engine.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/currency/configfile.h"
#include "engine/foundation/regupgrade.h"
#include "engine/foundation/regvalue.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/reachserver.h"
#include "platform/codepage.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "server/app.h"

namespace vtx::server {

namespace {
const char kEventSource[] = "Hulvane Vantrex";

int TerminalMessageBox(void* window, const char* text, const char* caption, UINT type) {
  return ::MessageBoxA(static_cast<HWND>(window), text, caption, type);
}

CUpdateSettings& UpdateView(Settings& settings) { return static_cast<EngineSettings&>(settings).Update(); }
}  // namespace

// ---- resources and events ----

HMODULE CatalogueResources::LoadResourceLibrary(const char* appKeyPath) { return ::LoadResourceLibrary(appKeyPath); }

void CatalogueResources::FreeResourceLibrary(HMODULE module) {
  if (module) FreeLibrary(module);
}

int CatalogueResources::LoadString(HMODULE module, UINT id, char* buffer, int bufferSize) {
  return LoadStringA(module, id, buffer, bufferSize);
}

bool CatalogueResources::CanAsk() { return vtx::sys::Isatty(STDIN_FILENO) && vtx::sys::Isatty(STDERR_FILENO); }

int CatalogueResources::FormatMessageBox(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE module,
                                         const char* insert) {
  return insert ? ::FormatMessageBox(owner, textId, captionId, type, module, insert)
                : ::FormatMessageBox(owner, textId, captionId, type, module);
}

int CatalogueResources::MessageBoxHResultOK(HWND owner, UINT textId, UINT captionId, HMODULE module, HRESULT hr) {
  return ::MessageBoxHResultOK(owner, textId, captionId, module, hr);
}

void SystemEventLog::ReportServerEvent(DWORD eventId, WORD type, const void* data, DWORD dataSize) {
  if (!log_.IsAvailable()) return;
  HANDLE source = log_.m_pRegisterEventSourceA(nullptr, kEventSource);
  if (!source) return;
  log_.m_pReportEventA(source, type, 0, eventId, nullptr, 0, dataSize, nullptr, const_cast<void*>(data));
  log_.m_pDeregisterEventSource(source);
}

// ---- settings ----

EngineSettings::EngineSettings()
    : owned_(std::make_unique<CSettings>()), settings_(owned_.get()), update_(*settings_) {}

EngineSettings::EngineSettings(CSettings& settings) : settings_(&settings), update_(settings) {}

bool EngineSettings::Create(HMODULE resourceLibrary) { return settings_->Create(resourceLibrary); }

HRESULT EngineSettings::Load() {
  settings_->Load(false);
  return S_OK;
}

HRESULT EngineSettings::Save() { return settings_->Save(); }

HRESULT EngineSettings::SaveINI() { return settings_->SaveINI(); }

HRESULT EngineSettings::CopyFrom(const Settings& from) {
  const auto& other = static_cast<const EngineSettings&>(from);
  return settings_->CopyFrom(*other.settings_) ? S_OK : E_OUTOFMEMORY;
}

bool EngineSettings::MessagesViaEmail() const {
  return settings_->GetData() && settings_->GetData()->MessagesViaEmail != 0;
}

bool EngineSettings::IsMessageEmailProfileSmtp() const {
  const CSettingsData* d = settings_->GetData();
  return d && d->MessagesEmailProfile.GetBuffer() && _stricmp(d->MessagesEmailProfile.GetBuffer(), "<SMTP>") == 0;
}

bool IsTestMessagesFileAllowed(const char* configured, const char* requested) {
  if (!requested || !*requested) return true;  // nothing is written
  std::string wanted = vtx::notify::MessageFilePath(requested, true);
  if (configured && *configured && wanted == vtx::notify::MessageFilePath(configured, true)) return true;
  char logs[MAX_PATH];
  size_t slash = wanted.rfind('/');
  if (slash == std::string::npos || !GetLogPath(logs)) return false;
  return std::strlen(logs) == slash && wanted.compare(0, slash, logs) == 0 &&
         vtx::IsPlainFileName(wanted.c_str() + slash + 1);
}

HRESULT EngineSettings::SetNotificationTest(const NotificationTest& test) {
  CSettingsData* d = settings_->GetData();
  if (!d) return E_OUTOFMEMORY;
  // A caller of the pipe names the file: the server writes only where its administrator would.
  bool fileAllowed = IsTestMessagesFileAllowed(d->MessagesFile.c_str(), test.strings[4]);
  d->MessagesToLog = test.messagesToLog != 0;
  d->MessagesToFile = test.messagesToFile != 0 && fileAllowed;
  d->MessagesViaEmail = test.messagesViaEmail != 0;
  d->MessagesOnScreen = test.messagesOnScreen != 0;
  CStringA* strings[5] = {&d->MessagesEmailProfile, &d->MessagesEmailRecipients, &d->MessagesEmailSender,
                          &d->MessagesEmailSmtpServer, &d->MessagesFile};
  for (int i = 0; i < 5; ++i) {
    const char* text = test.strings[i];
    if (i == 4 && !fileAllowed) continue;
    *strings[i] = text && *text ? text : nullptr;
  }
  return fileAllowed || !test.messagesToFile ? S_OK : E_ACCESSDENIED;
}

HRESULT EngineSettings::ExecuteCustomAction(HWND window, std::string& errorText) {
  char* text = nullptr;
  HRESULT hr = update_.ExecuteCustomAction(window, &text);
  errorText = text ? text : "";
  if (text) GlobalFree(text);
  return hr;
}

// ---- the application key ----

std::unique_ptr<Settings> EngineStore::NewSettings() { return std::make_unique<EngineSettings>(); }

HRESULT EngineStore::CanSaveSettings() { return ::CanSaveSettings(); }

BOOL EngineStore::AddUnitHits(const std::vector<HitCount>& counts) {
  std::vector<UnitHitCount> rows;
  rows.reserve(counts.size());
  for (const HitCount& c : counts) rows.push_back({c.code.c_str(), c.count});
  return ::AddUnitHits(rows.data(), static_cast<uint32_t>(rows.size()));
}

HRESULT EngineStore::ImportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) {
  return ::ImportConfiguration(path, addExtension != 0, as);
}

HRESULT EngineStore::ExportConfiguration(const char* path, DWORD addExtension, const vtx::Account* as) {
  return ::ExportConfiguration(path, addExtension != 0, as);
}

bool EngineStore::ReadAppString(const char* name, std::string& value) {
  RegStringValueA text;
  if (FAILED(text.Load(HKEY_LOCAL_MACHINE, g_szAppKey, name)) || !text.GetString()) return false;
  value = text.GetString();
  return true;
}

void EngineStore::UpgradeRegistryAtStartup() { ::UpgradeRegistryAtStartup(); }

// ---- the update thread ----

void EngineScheduler::Set(HMODULE resourceLibrary, UINT timerId, bool serviceFlag) {
  timer_.Set(resourceLibrary, timerId, serviceFlag);
}

void EngineScheduler::Schedule(Settings& settings, HWND hwnd) { timer_.Schedule(UpdateView(settings), hwnd); }

void EngineScheduler::Kill(HWND hwnd) { timer_.Kill(hwnd); }

int EngineScheduler::KillAndTestIdle(HWND hwnd) { return timer_.KillAndTestIdle(hwnd); }

HRESULT EngineScheduler::StartUpdate(Settings& settings, HWND hwnd, HICON icon) {
  return timer_.StartUpdate(UpdateView(settings), hwnd, icon);
}

void EngineScheduler::SetLastAttempt(bool succeeded) { timer_.SetLastAttempt(succeeded); }

void EngineScheduler::ArmLastChangeTimer(Settings& settings, HWND hwnd) {
  timer_.ArmLastChangeTimer(UpdateView(settings), hwnd);
}

void EngineScheduler::CheckLastChange(Settings& settings, HWND hwnd) {
  timer_.CheckLastChange(UpdateView(settings), hwnd);
}

void EngineScheduler::ArmLastChangeEachTimer(Settings& settings, HWND hwnd) {
  timer_.ArmLastChangeEachTimer(UpdateView(settings), hwnd);
}

void EngineScheduler::CheckLastChangeEach(Settings& settings, HWND hwnd) {
  timer_.CheckLastChangeEach(UpdateView(settings), hwnd);
}

Settings* EngineScheduler::ReportedSettings(WPARAM wParam) {
  return reinterpret_cast<IUpdateSettings*>(wParam) == &timer_.GetThread().GetCopy() ? &reported_ : nullptr;
}

void EngineScheduler::OnUpdateIdle(Settings& settings, HWND hwnd) { timer_.OnUpdateIdle(UpdateView(settings), hwnd); }

HRESULT EngineNotifications::ShowNotification(Settings& settings, bool serviceFlag, HWND owner, const char* text,
                                              const char* caption, UINT type, HMODULE resourceLibrary) {
  return thread_.ShowNotification(UpdateView(settings), serviceFlag, owner, text, caption, type, resourceLibrary);
}

HRESULT EngineNotifications::ShowNotificationId(Settings& settings, bool serviceFlag, HWND owner, UINT textId,
                                                UINT captionId, UINT type, HMODULE resourceLibrary,
                                                DWORD_PTR insert1, DWORD_PTR insert2, DWORD_PTR insert3) {
  return thread_.ShowNotificationId(UpdateView(settings), serviceFlag, owner, textId, captionId, type,
                                    resourceLibrary, insert1, insert2, insert3);
}

HRESULT EngineNotifications::NotifyError(Settings& settings, bool serviceFlag, HWND owner, UINT textId,
                                         UINT captionId, HMODULE resourceLibrary, HRESULT hr) {
  return thread_.NotifyError(UpdateView(settings), serviceFlag, owner, textId, captionId, resourceLibrary, hr);
}

// ---- reaching the server, the application pipe ----

BOOL VxvLink::CanSendVXVMessages() { return ::CanSendVXVMessages(); }

HRESULT VxvLink::SendVXVMessage(UINT msg, WPARAM wParam, LPARAM lParam, DWORD* result) {
  return ::SendVXVMessage(msg, wParam, lParam, result);
}

HRESULT VxvLink::SendVXVMessageTimeout(UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, DWORD* result) {
  return ::SendVXVMessageTimeout(msg, wParam, lParam, timeoutMs, result);
}

namespace {
struct PipeTarget {
  HWND hwnd;
  WNDPROC proc;
};
DWORD PipeToProc(DWORD_PTR context, DWORD msg, WPARAM wParam, LPARAM lParam) {
  auto* t = reinterpret_cast<PipeTarget*>(context);
  return static_cast<DWORD>(t->proc(t->hwnd, msg, wParam, lParam));
}
}  // namespace

HRESULT AppPipe::ServeRequest(HWND hwnd, WNDPROC proc) {
  PipeTarget target{hwnd, proc};
  return server_.ServeRequest(reinterpret_cast<DWORD_PTR>(&target), PipeToProc);
}

ProgramSeams::ProgramSeams() : scheduler(engine), notifications(scheduler.Thread()) {
  engine.Notifier().m_pMessageWindow = &messageWindow;
  engine.Notifier().m_pNoticeQueue = &noticeQueue;
  // Built on the main thread: its waits for the settings lock answer pings meanwhile.
  SetSettingsLockWaitHook(ServeWhileSettingsLockWaits);
  // A box of the server is answered on the terminal when there is one, else at once.
  vtx::SetMessageBoxHandler(TerminalMessageBox);
  // Custom actions with an account are started by the messenger.
  vtx::settings::PipeExecute = ::PipeExecute;
}

}  // namespace vtx::server
