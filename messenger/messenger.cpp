#include "messenger/messenger.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "engine/foundation/regvalue.h"
#include "engine/notify/displayfile.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/servicepipe.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/service.h"

namespace vtx::msg {

namespace {

constexpr char kServiceName[] = "Hulvane Vantrex Messenger";
constexpr char kDescription[] =
    "Displays Hulvane Vantrex messages and provides a default user context for Client Validation and Custom "
    "Action functions.";
constexpr DWORD kEventWrongAccount = 0x80000007;
constexpr DWORD kEventNoResources = 0xC0000006;
constexpr UINT kAlarmText = 228;
constexpr UINT kAlarmFlags = 0x10010;
constexpr UINT kDialogFlags = 0x80;
constexpr DWORD kPingLimitMs = 120000;
constexpr size_t kMaxPath = 260;

// A line of a text that begins with "---" would let the text pose as more than one entry.
std::string Neutralised(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    out += *p;
    if (*p == '\n' && std::strncmp(p + 1, "---", 3) == 0) out += ' ';
  }
  return out;
}

// The string at `offset`, which must end inside the data.
bool TakeString(const char* data, DWORD size, DWORD& offset, std::string* out) {
  if (offset >= size) return false;
  const void* end = std::memchr(data + offset, 0, size - offset);
  if (!end) return false;
  size_t n = static_cast<size_t>(static_cast<const char*>(end) - (data + offset));
  out->assign(data + offset, n);
  offset += static_cast<DWORD>(n) + 1;
  return true;
}

DWORD ReadU32(const void* p) {
  const auto* b = static_cast<const BYTE*>(p);
  return static_cast<DWORD>(b[0]) | static_cast<DWORD>(b[1]) << 8 | static_cast<DWORD>(b[2]) << 16 |
         static_cast<DWORD>(b[3]) << 24;
}

}  // namespace

HRESULT WriteDisplayLog(const std::string& path, const char* text, UINT flags, HMODULE resourceLibrary) {
  if (path.empty() || !text) return S_FALSE;
  std::string title = Neutralised(text);
  char* header = DisplayMessageEntry(title.c_str(), flags, resourceLibrary);
  if (!header) return S_FALSE;
  std::string entry = header;
  LocalFree(header);
  if (entry.size() > kMaxDisplayEntryBytes) entry.resize(kMaxDisplayEntryBytes);
  vtx::notify::DisplayFileLock lock(path);
  if (!lock.held()) return E_TIMEOUT;
  // The oldest entries give way, so that the file stays within its bound.
  std::string old;
  size_t room = kMaxDisplayFileBytes - entry.size() - std::strlen(vtx::notify::kDisplaySeparator);
  vtx::FileStamp stamp;
  HRESULT hr = vtx::notify::ReadDisplayFile(path.c_str(), room, &old, &stamp);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
    old.clear();
  } else if (FAILED(hr)) {
    return hr;  // never replace a file whose contents could not be read
  }
  std::string whole = old.empty() ? entry : entry + vtx::notify::kDisplaySeparator + old;
  // The product's group reads it (the manager) and deletes it.
  return vtx::WriteFileReplacing(path.c_str(), whole.data(), whole.size(), 0660);
}

bool DeleteDisplayLog(const std::string& path) {
  if (path.empty()) return false;
  vtx::notify::DisplayFileLock lock(path);
  return lock.held() && DeleteFileA(path.c_str());
}

bool ReadDisplayRequest(ULONG_PTR kind, const void* data, DWORD size, std::string* text, UINT* flags) {
  if (!data) return false;
  const auto* bytes = static_cast<const char*>(data);
  DWORD offset;
  switch (kind) {
    case VXMSG_MESSAGEBOX:
      offset = 8;
      if (size <= 11 || !TakeString(bytes, size, offset, text)) return false;
      *flags = ReadU32(bytes + 4);
      return true;
    case VXMSG_MESSAGEDIALOG:
      offset = 4;
      if (size <= 7 || !TakeString(bytes, size, offset, text)) return false;
      *flags = kDialogFlags;
      return true;
    default: return false;
  }
}

bool ParseExecute(const void* data, DWORD size, ExecuteRequest* r) {
  if (!data || size < 8) return false;
  const auto* bytes = static_cast<const char*>(data);
  r->owner = ReadU32(bytes);
  r->wait = ReadU32(bytes + 4);
  DWORD offset = 8;
  for (std::string* s : {&r->file, &r->parameters, &r->directory, &r->user, &r->domain, &r->password})
    if (!TakeString(bytes, size, offset, s)) return false;
  return true;
}

vtx::ProgramStart BuildCommandLine(const ExecuteRequest& r) {
  vtx::ProgramStart start;
  start.program = r.file;
  // A path with blanks may come quoted already.
  if (start.program.size() >= 2 && start.program.front() == '"') {
    size_t close = start.program.find('"', 1);
    start.program = start.program.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  start.arguments = vtx::SplitParameterText(r.parameters.c_str());
  start.directory = r.directory;
  return start;
}

// ---------------------------------------------------------------------------------------------

struct Messenger::WaitedRun {
  vtx::ChildProcess child;
  PipeReply reply;
  HANDLE handle = nullptr;
  WatchId watch = 0;
};

Messenger::Messenger() : ServiceModule("vtxmessenger", kServiceName, kDescription, kServiceName, g_szMessengerPipe) {}

Messenger::~Messenger() {
  OnRunEnded();
}

std::vector<vtx::service::UnitConfig> Messenger::Units() const {
  std::vector<vtx::service::UnitConfig> units = ServiceModule::Units();
  vtx::service::UnitConfig& own = units.front();
  // The messenger keeps root to start programs under other accounts, which get its sandbox too:
  // only what no such program needs is taken away.
  own.after = {vtx::service::UnitName("Hulvane Vantrex")};
  own.killMode = "mixed";
  own.stopTimeoutSec = 30;
  own.startTimeoutSec = 30;
  own.extraLines = {"ProtectKernelTunables=yes", "ProtectKernelModules=yes", "ProtectKernelLogs=yes",
                    "ProtectControlGroups=yes", "ProtectClock=yes", "ProtectHostname=yes",
                    "RestrictRealtime=yes", "LockPersonality=yes", "SystemCallArchitectures=native"};
  return units;
}

HRESULT Messenger::OnInstalled(std::string* message) {
  // Our own PAM service for the accounts that programs run under; one set up by hand stays.
  std::string path = vtx::LogonServicePath();
  if (vtx::sys::Access(path.c_str(), F_OK) == 0) return S_OK;
  // Only a file that is surely missing is written: one that could not be looked at may be there.
  if (errno != ENOENT) {
    HRESULT hr = HRESULT_FROM_WIN32(vtx::Win32FromErrno(errno));
    if (message) *message = "cannot tell whether " + path + " exists";
    return hr;
  }
  const char* text = vtx::LogonServiceText();
  std::string dir = path.substr(0, path.rfind('/'));
  HRESULT hr = vtx::MakeDirectories(dir.c_str());
  if (SUCCEEDED(hr)) hr = vtx::WriteFileReplacing(path.c_str(), text, std::strlen(text), 0644);
  if (FAILED(hr) && message) *message = "cannot write " + path;
  return hr;
}

void Messenger::OnUninstalled() {
  std::string path = vtx::LogonServicePath(), text;
  if (SUCCEEDED(vtx::ReadWholeFile(path.c_str(), &text)) && text == vtx::LogonServiceText())
    vtx::sys::Unlink(path.c_str());
}

HRESULT Messenger::WriteDisplay(const char* text, UINT flags) {
  // The product's group names the file: root writes it with the product account's rights.
  vtx::ProductFileAccess rights(displayLog_);
  if (!rights.Ok()) return E_ACCESSDENIED;
  return WriteDisplayLog(displayLog_, text, flags, resources_);
}

DWORD Messenger::OnStart() {
  {
    // The store names the catalogue: root reads it with the product account's rights.
    std::optional<vtx::FileAccessAs> rights;
    uid_t uid;
    gid_t gid;
    if (vtx::sys::Geteuid() == 0 && vtx::ProductAccount(&uid, &gid)) rights.emplace(uid, gid);
    if (!rights || rights->Ok()) resources_ = LoadResourceLibrary(g_szAppKey);
  }
  if (!resources_) {
    LogEvent(kEventNoResources, EVENTLOG_ERROR_TYPE);
    Say("the resource library could not be loaded");
    return 2;
  }
  RegStringValueA display;
  if (SUCCEEDED(display.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "DisplayMessages")) && display.GetString() &&
      std::strlen(display.GetString()) < kMaxPath)
    displayLog_ = display.GetString();
  // The messenger runs as root (LocalSystem); there is no interactive flag here to check.
  if (!RunsAsAccount(nullptr)) LogEvent(kEventWrongAccount, EVENTLOG_WARNING_TYPE);
  return 0;
}

void Messenger::OnRunEnded() {
  // Programs still waited for end with the service; their callers learn it.
  for (auto& run : runs_) {
    if (run->watch) Unwatch(run->watch);
    DWORD code = 0;
    run->child.Wait(0, &code);
    run->reply.Send(E_ABORT);
    if (run->handle) CloseHandle(run->handle);
  }
  runs_.clear();
  if (resources_) FreeLibrary(resources_);
  resources_ = nullptr;
}

bool Messenger::MayExecute() {
  uid_t uid;
  gid_t gid;
  if (!Pipe().Caller(&uid, &gid)) return false;
  if (uid == 0 || uid == vtx::sys::Geteuid()) return true;
  gid_t product;
  return vtx::ProductGroup(&product) && product == gid;
}

DWORD Messenger::Execute(const COPYDATASTRUCT& cds) {
  ExecuteRequest r;
  if (cds.cbData <= 11 || !ParseExecute(cds.lpData, cds.cbData, &r)) return E_INVALIDARG;
  // Only root and the product's own accounts may have programs started, with or without an account.
  if (!MayExecute()) return E_ACCESSDENIED;
  if (r.file.empty()) return 0;
  if (r.wait && runs_.size() >= kMaxWaitedRuns) return E_BUSY;
  vtx::ProgramStart start = BuildCommandLine(r);
  auto run = std::make_unique<WaitedRun>();
  HRESULT hr;
  if (r.user.empty()) {
    // Without an account the program runs as its caller, never with the messenger's rights.
    uid_t uid = 0;
    gid_t gid = 0;
    if (!Pipe().Caller(&uid, &gid)) return E_ACCESSDENIED;
    hr = run->child.StartAsUid(start, uid);
  } else {
    hr = run->child.StartWithLogon(start, r.user.c_str(), r.domain.c_str(), r.password.c_str());
  }
  std::fill(r.password.begin(), r.password.end(), '\0');
  if (FAILED(hr)) return hr;
  if (!r.wait) return 0;  // the child is collected when it ends
  WaitedRun* p = run.get();
  p->handle = p->child.PidFd() >= 0 ? vtx::sync::CreateFdHandle(p->child.PidFd()) : nullptr;
  if (!p->handle) {
    // Without a descriptor to wait on, the wait happens here, within the same limit.
    DWORD code = E_FAIL;
    hr = p->child.Wait(kExecuteRunLimitMs, &code);
    return FAILED(hr) ? hr : code;
  }
  // Other requests are served while the program runs; its caller gets the answer when it ends.
  p->reply = Pipe().DeferReply();
  p->watch = Watch(p->handle, vtx::sync::DeadlineAfter(kExecuteRunLimitMs), [this, p](bool ended) {
    p->watch = 0;
    FinishRun(p, ended);
  });
  runs_.push_back(std::move(run));
  return 0;
}

void Messenger::FinishRun(WaitedRun* run, bool ended) {
  DWORD code = E_FAIL;
  // Not ended within the limit: killed with everything it started.
  HRESULT hr = run->child.Wait(0, &code);
  (void)ended;
  run->reply.Send(FAILED(hr) ? hr : code);
  if (run->handle) CloseHandle(run->handle);
  std::erase_if(runs_, [run](const std::unique_ptr<WaitedRun>& r) { return r.get() == run; });
}

DWORD Messenger::OnRequest(DWORD msg, WPARAM, LPARAM lParam) {
  if (msg == VXMSG_DELETEDISPLAYLOG) {
    vtx::ProductFileAccess rights(displayLog_);
    return rights.Ok() && DeleteDisplayLog(displayLog_) ? 1 : 0;
  }
  if (msg != WM_COPYDATA) return 0;
  auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (!cds || !cds->lpData) return 0;
  if (cds->dwData == VXMSG_EXECUTE) return Execute(*cds);
  std::string text;
  UINT flags = 0;
  if (ReadDisplayRequest(cds->dwData, cds->lpData, cds->cbData, &text, &flags)) WriteDisplay(text.c_str(), flags);
  return 0;
}

void Messenger::OnWatchdogTick() {
  CheckPeer("vtxservice", CPipeMessageClient::PipeExists(g_szServicePipe) != FALSE, g_szServicePipe, VXSVC_PING,
            kPingLimitMs);
}

void Messenger::OnPeerSilent() {
  char text[2000] = "";
  if (LoadStringA(resources_, kAlarmText, text, sizeof text) <= 0) return;
  vtx::svc::AlarmChannels c = vtx::svc::ReadAlarmChannels();
  // The messenger sends no e-mail: when that is the only channel, the event log takes it.
  bool log = c.log || (c.email && !c.screen && !c.file);
  // A screen notice without a display-messages file to take it goes to the event log instead.
  bool shown = c.screen && WriteDisplay(text, kAlarmFlags) == S_OK;
  if (log || (c.screen && !shown)) MessageToLog(text, kAlarmFlags, &EventLog());
  if (c.file) MessageToFile(text, kAlarmFlags, c.messagesFile.c_str(), resources_, &EventLog(), TRUE);
}

}  // namespace vtx::msg
