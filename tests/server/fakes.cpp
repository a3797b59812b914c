#include "tests/server/fakes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/ui.h"

namespace vtx::server {

// ---- settings in memory ----

bool MemorySettings::Create(HMODULE) {
  if (store_.createFails) return false;
  Load();
  std::lock_guard<std::mutex> l(store_.lock);
  store_.live = this;
  return true;
}

HRESULT MemorySettings::Load() {
  std::lock_guard<std::mutex> l(store_.lock);
  ++store_.loads;
  values = store_.stored;
  return S_OK;
}

HRESULT MemorySettings::Save() {
  std::lock_guard<std::mutex> l(store_.lock);
  ++store_.saves;
  if (FAILED(store_.saveResult)) return store_.saveResult;
  std::string rates = store_.stored.rates;  // the rates data are stored by SaveINI alone
  store_.stored = values;
  store_.stored.rates = rates;
  return store_.saveResult;
}

HRESULT MemorySettings::SaveINI() {
  std::lock_guard<std::mutex> l(store_.lock);
  ++store_.saveINIs;
  if (FAILED(store_.saveIniResult)) return store_.saveIniResult;
  store_.stored.rates = values.rates;
  return S_OK;
}

HRESULT MemorySettings::CopyFrom(const Settings& from) {
  auto* other = dynamic_cast<const MemorySettings*>(&from);
  if (!other) return E_INVALIDARG;
  if (other != this) values = other->values;
  return S_OK;
}

bool MemorySettings::IsMessageEmailProfileSmtp() const {
  return _stricmp(values.emailProfile.c_str(), "<SMTP>") == 0;
}

HRESULT MemorySettings::SetNotificationTest(const NotificationTest& test) {
  values.channels = test;
  for (int i = 0; i < 5; ++i) {
    values.channelStrings[i] = test.strings[i] ? test.strings[i] : "";
    values.channels.strings[i] = "";  // the payload's pointers do not outlive the command
  }
  values.messagesViaEmail = test.messagesViaEmail != 0;
  values.emailProfile = values.channelStrings[0];
  return S_OK;
}

HRESULT MemorySettings::ExecuteCustomAction(HWND, std::string& errorText) {
  // Nothing is started in memory: a configured action reports E_NOTIMPL.
  errorText.clear();
  return values.customAction.empty() ? S_OK : E_NOTIMPL;
}

std::unique_ptr<Settings> MemoryStore::NewSettings() { return std::make_unique<MemorySettings>(*this); }

BOOL MemoryStore::AddUnitHits(const std::vector<HitCount>& counts) {
  std::lock_guard<std::mutex> l(lock);
  ++hitWrites;
  for (const HitCount& c : counts) {
    DWORD& n = hits[c.code];
    n = c.count >= 0xFFFFFFFFull - n ? 0xFFFFFFFF : static_cast<DWORD>(n + c.count);
  }
  return TRUE;
}

HRESULT MemoryStore::ImportConfiguration(const char* path, DWORD, const vtx::Account*) {
  std::lock_guard<std::mutex> l(lock);
  imports.push_back(path);
  return configFileResult;
}

HRESULT MemoryStore::ExportConfiguration(const char* path, DWORD, const vtx::Account*) {
  std::lock_guard<std::mutex> l(lock);
  exports.push_back(path);
  return configFileResult;
}

bool MemoryStore::ReadAppString(const char* name, std::string& value) {
  std::lock_guard<std::mutex> l(lock);
  auto it = appStrings.find(name);
  if (it == appStrings.end()) return false;
  value = it->second;
  return true;
}

void MemoryStore::UpgradeRegistryAtStartup() {
  // Nothing to copy in memory.
}

// ---- update thread ----

BasicScheduler::~BasicScheduler() {
  if (thread_) {
    DWORD code = 0;
    if (GetExitCodeThread(thread_, &code) && code == STILL_ACTIVE) {
      PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
      WaitForSingleObject(thread_, INFINITE);
    }
    CloseHandle(thread_);
  }
  if (started_) CloseHandle(started_);
}

void BasicScheduler::Set(HMODULE, UINT timerId, bool) { timerId_ = timerId; }

void BasicScheduler::Kill(HWND hwnd) {
  if (timerId_ != 0xFFFFFFFF) KillTimer(hwnd, timerId_);
}

int BasicScheduler::KillAndTestIdle(HWND hwnd) {
  if (timerId_ >= 0xFFFFFFFE) return 0;
  KillTimer(hwnd, timerId_);
  return IsBusy() ? 0 : 1;
}

DWORD BasicScheduler::ThreadMain(void* p) {
  auto* self = static_cast<BasicScheduler*>(p);
  MSG m;
  PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists before anyone posts
  SetEvent(self->started_);
  while (GetMessageA(&m, nullptr, 0, 0) > 0)
    if (m.message == WM_VX_RUNUPDATE) self->OnRunUpdate();
  return 0;
}

void BasicScheduler::OnRunUpdate() {
  HRESULT hr = run ? run(*copy_) : E_NOTIMPL;
  if (FAILED(hr))
    SendMessageA(owner_, WM_VX_UPDATEFAILED, 0, static_cast<LPARAM>(hr));
  else
    SendMessageA(owner_, WM_VX_UPDATEDONE, reinterpret_cast<WPARAM>(static_cast<Settings*>(copy_.get())), 0);
  busy_ = false;
  SendMessageA(owner_, WM_VX_UPDATEIDLE, 0, 0);
}

HRESULT BasicScheduler::StartUpdate(Settings& settings, HWND hwnd, HICON) {
  DWORD code = 0;
  if (!thread_ || !GetExitCodeThread(thread_, &code) || code != STILL_ACTIVE) {
    if (thread_) CloseHandle(thread_);
    if (!started_) started_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread_ = started_ ? CreateThread(nullptr, 0, ThreadMain, this, 0, &threadId_) : nullptr;
    if (!thread_) return 0x800700A4;
    if (WaitForSingleObject(started_, 3000) != WAIT_OBJECT_0) return E_TIMEOUT;
  }
  if (IsBusy()) return E_UNEXPECTED;
  if (!copy_) copy_ = store_.NewSettings();
  if (!copy_ || FAILED(copy_->CopyFrom(settings))) return E_OUTOFMEMORY;
  owner_ = hwnd;
  customActionDue = false;
  busy_ = true;
  if (!PostThreadMessageA(threadId_, WM_VX_RUNUPDATE, 0, 0)) {
    busy_ = false;
    return HRESULT_FROM_WIN32(GetLastError());
  }
  return S_OK;
}

// ---- notifications ----

void StderrNotifications::Deliver(const std::string& caption, const std::string& text, UINT) {
  std::fprintf(stderr, "vtxserver: %s: %s\n", vtx::AnsiToUtf8(caption).c_str(), vtx::AnsiToUtf8(text).c_str());
}

HRESULT StderrNotifications::ShowNotification(Settings&, bool, HWND, const char* text, const char* caption,
                                              UINT type, HMODULE) {
  if (scheduler_.IsBusy()) return E_BUSY;
  Deliver(caption ? caption : "", text ? text : "", type);
  return S_OK;
}

HRESULT StderrNotifications::ShowNotificationId(Settings&, bool, HWND, UINT textId, UINT captionId, UINT type,
                                                HMODULE module, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (scheduler_.IsBusy()) return E_BUSY;
  char caption[501], text[4001];
  if (resources_.LoadString(module, captionId, caption, sizeof caption) <= 0) return S_OK;
  if (resources_.LoadString(module, textId, text, sizeof text) <= 0) return S_OK;
  Deliver(caption, text, type);
  return S_OK;
}

HRESULT StderrNotifications::NotifyError(Settings&, bool, HWND, UINT textId, UINT captionId, HMODULE module,
                                         HRESULT hr) {
  if (scheduler_.IsBusy()) return E_BUSY;
  char caption[501] = "";
  resources_.LoadString(module, captionId, caption, sizeof caption);
  if (const char* system = vtx::SystemErrorText(hr)) {
    Deliver(caption, system, 0x10010);
  } else if (auto* res = dynamic_cast<BuiltInResources*>(&resources_)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", hr);
    Deliver(caption, res->Format(module, textId, code), 0x10010);
  }
  return S_OK;
}

// ---- texts ----

namespace {
struct Text {
  UINT id;
  const char* text;
};
// The wording is ours; the language catalogues replace these.
const Text kTexts[] = {
    {32, "Vantrex"},
    {81, "Vantrex update"},
    {83, "The operation failed with error %1."},
    {175, "This is a test notification from the Vantrex server."},
    {178, "The Vantrex server could not create its command window."},
    {382, "Vantrex custom action"},
    {440, "Import the configuration file %1 into the running Vantrex server?"},
    {441, "The configuration file %1 was imported."},
    {442, "You may not change the Vantrex configuration."},
    {0x201, "The configuration is locked; the update request was recorded."},
    {0x204, "The configuration cannot be locked while an update runs."},
    {0x205, "The server cannot lock the configuration while an update runs."},
    {0x206, "The server itself holds the configuration lock."},
    {0x207, "The configuration is already locked."},
    {0x208, "The settings cannot be saved: the configuration store is not writable."},
};
int g_builtInModule;
}  // namespace

HMODULE BuiltInResources::LoadResourceLibrary(const char*) { return loadFails ? nullptr : &g_builtInModule; }

int BuiltInResources::LoadString(HMODULE, UINT id, char* buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0) return 0;
  for (const Text& t : kTexts)
    if (t.id == id) {
      size_t n = std::min(std::strlen(t.text), static_cast<size_t>(bufferSize - 1));
      std::memcpy(buffer, t.text, n);
      buffer[n] = 0;
      return static_cast<int>(n);
    }
  buffer[0] = 0;
  return 0;
}

std::string BuiltInResources::Format(HMODULE module, UINT id, const char* insert) {
  char text[4001];
  if (LoadString(module, id, text, sizeof text) <= 0) return "";
  std::string s = text;
  size_t at = s.find("%1");
  if (at != std::string::npos) s.replace(at, 2, insert ? insert : "");
  return s;
}

int BuiltInResources::FormatMessageBox(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE module,
                                       const char* insert) {
  char caption[501];
  if (LoadString(module, captionId, caption, sizeof caption) <= 0) return 0;
  std::string text = Format(module, textId, insert);
  if (text.empty()) return 0;
  return MessageBoxA(owner, text.c_str(), caption, type);
}

int BuiltInResources::MessageBoxHResultOK(HWND owner, UINT textId, UINT captionId, HMODULE module, HRESULT hr) {
  if (const char* system = vtx::SystemErrorText(hr)) {
    char caption[201];
    if (LoadString(module, captionId, caption, sizeof caption) <= 0) caption[0] = 0;
    return MessageBoxA(owner, system, caption, 0x10010);
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", hr);
  return FormatMessageBox(owner, textId, captionId, 0x10010, module, code);
}

// ---- event log ----

void StderrEventLog::ReportServerEvent(DWORD eventId, WORD type, const void* data, DWORD dataSize) {
  const char* text = eventId == 0xA ? "Vantrex application started." : eventId == 0xB ? "Vantrex application stopped." : "";
  std::fprintf(stderr, "vtxserver: event 0x%X (type %u): %s", eventId, type, text);
  if (data && dataSize == 1) std::fprintf(stderr, " [exit code %u]", *static_cast<const BYTE*>(data));
  std::fprintf(stderr, "\n");
}

}  // namespace vtx::server
