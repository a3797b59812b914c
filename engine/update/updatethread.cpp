#include "engine/update/updatethread.h"

#include <cstdio>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/notify/notifychannels.h"
#include "engine/update/runnotify.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/registry.h"
#include "platform/resources.h"

namespace {

constexpr DWORD kStartTimeoutMs = 3000;
constexpr int kCaptionMax = 500;
constexpr int kTextMax = 4000;

// A text on the global or local heap, freed with the scope.
struct GlobalText {
  char* p = nullptr;
  ~GlobalText() {
    if (p) GlobalFree(p);
  }
};
struct LocalText {
  char* p = nullptr;
  ~LocalText() {
    if (p) LocalFree(p);
  }
};

// A DWORD of the application key; false when it cannot be read.
bool ReadAppDword(const char* name, DWORD* value) {
  RegDwordValue v;
  if (FAILED(v.Load(HKEY_LOCAL_MACHINE, g_szAppKey, name))) return false;
  *value = v;
  return true;
}

void DeleteAppValue(const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

// Collecting off for one scope, then as it was.
class CollectingOff {
 public:
  explicit CollectingOff(CUpdateThread& t) : t_(t), was_(t.IsCollectingOff()) { t_.SetCollectingOff(true); }
  ~CollectingOff() { t_.SetCollectingOff(was_); }

 private:
  CUpdateThread& t_;
  bool was_;
};

}  // namespace

void IUpdateEngine::HangUp(const IUpdateSettings& settings) {
  INetConnectionSettings block;
  settings.GetConnectionSettings(block);
  CINetConnection connection;
  if (FAILED(FillConnectionBlock(block, connection))) return;
  connection.Open();
  connection.Close();
}

CUpdateThread::CUpdateThread(std::unique_ptr<IUpdateSettings> copy, IUpdateEngine& engine)
    : m_copy(std::move(copy)), m_engine(engine), m_settingsInUse(m_copy.get()) {}

CUpdateThread::~CUpdateThread() { Stop(INFINITE); }

HRESULT CUpdateThread::Start(HMODULE resourceLibrary, bool serviceFlag) {
  if (IsRunning() && !IsStopping()) return S_OK;
  m_resourceLibrary = resourceLibrary;
  m_serviceFlag = serviceFlag;
  return CWorkerThread::Start(kStartTimeoutMs);
}

HRESULT CUpdateThread::PostUpdate(const IUpdateSettings& settings, HWND owner, HICON icon, bool definitionsOnly) {
  if (!IsRunning() || IsStopping()) return E_FAIL;
  if (m_busy.load()) return E_BUSY;
  if (!m_copy || !m_copy->CopyFrom(settings)) return E_OUTOFMEMORY;
  m_owner = owner;
  m_icon = icon;
  m_settingsInUse = m_copy.get();
  m_customActionDue = false;
  // Busy before the post: the thread may finish before this call returns when the owner window
  // does not take its reports.
  m_busy = true;
  if (!PostThreadMessage(definitionsOnly ? WM_VX_CHECKDEFINITIONS : WM_VX_RUNUPDATE, 0, 0)) {
    m_busy = false;
    return HRESULT_FROM_WIN32(GetLastError());
  }
  return S_OK;
}

// ---- notifications ----

void CUpdateThread::Notify(HWND owner, const char* text, const char* caption, UINT type, HMODULE resourceLibrary) {
  m_engine.Notify(*this, owner, text, caption, type, resourceLibrary);
}

namespace {
// String `textId` formatted over three inserts, with its caption. A missing string does not
// swallow the notice: it goes out as a text naming the id and the inserts, under the product's
// name, and the event log records the gap. Always true.
bool FormatNotice(HMODULE module, UINT textId, UINT captionId, const FormatInsert& i1, const FormatInsert& i2,
                  const FormatInsert& i3, std::string& text, std::string& caption) {
  caption = LoadText(module, captionId, kCaptionMax);
  std::string source = LoadText(module, textId, kTextMax);
  const FormatInsert items[3] = {i1, i2, i3};
  FormatInserts inserts{items, 3};
  LocalText out;
  bool formatted =
      !source.empty() &&
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                     source.c_str(), 0, 0, reinterpret_cast<LPSTR>(&out.p), 0, &inserts) &&
      out.p;
  bool captionMissing = caption.empty();
  if (captionMissing) caption = g_szNotifyEventSource;
  text = formatted ? std::string(out.p) : vtx::update::MissingTextNotice(textId, i1, i2, i3);
  if (!formatted || captionMissing) vtx::update::ReportMissingText(textId, captionId, captionMissing, !formatted);
  return true;
}
}  // namespace

void CUpdateThread::NotifyId(HWND owner, UINT textId, UINT captionId, UINT type, HMODULE resourceLibrary,
                             DWORD_PTR insert1, DWORD_PTR insert2, DWORD_PTR insert3) {
  std::string text, caption;
  if (!FormatNotice(resourceLibrary, textId, captionId, FormatInsert(insert1), FormatInsert(insert2),
                    FormatInsert(insert3), text, caption))
    return;
  Notify(owner, text.c_str(), caption.c_str(), type, resourceLibrary);
}

HRESULT CUpdateThread::Admit(bool* deferred) {
  *deferred = false;
  if (!m_busy.load()) return S_OK;
  if (!m_handingOver.load()) return E_BUSY;
  *deferred = true;
  return S_OK;
}

HRESULT CUpdateThread::Deliver(const IUpdateSettings& settings, bool serviceFlag, HWND owner, const char* text,
                               const char* caption, UINT type, HMODULE resourceLibrary) {
  if (!m_copy->CopyFrom(settings)) return E_OUTOFMEMORY;
  m_settingsInUse = m_copy.get();
  m_owner = owner;
  m_serviceFlag = serviceFlag;
  m_icon = nullptr;
  Notify(owner, text, caption, type, resourceLibrary);
  return S_OK;
}

HRESULT CUpdateThread::ShowNotification(const IUpdateSettings& settings, bool serviceFlag, HWND owner,
                                        const char* text, const char* caption, UINT type, HMODULE resourceLibrary) {
  bool deferred;
  HRESULT hr = Admit(&deferred);
  if (FAILED(hr)) return hr;
  if (deferred) {
    m_deferred.push_back(DeferredNotice{text ? text : "", caption ? caption : "", type, owner, serviceFlag,
                                        resourceLibrary});
    return S_OK;
  }
  return Deliver(settings, serviceFlag, owner, text, caption, type, resourceLibrary);
}

HRESULT CUpdateThread::ShowNotificationId(const IUpdateSettings& settings, bool serviceFlag, HWND owner,
                                          UINT textId, UINT captionId, UINT type, HMODULE resourceLibrary,
                                          DWORD_PTR insert1, DWORD_PTR insert2, DWORD_PTR insert3) {
  bool deferred;
  HRESULT hr = Admit(&deferred);
  if (FAILED(hr)) return hr;
  std::string text, caption;
  if (!FormatNotice(resourceLibrary, textId, captionId, FormatInsert(insert1), FormatInsert(insert2),
                    FormatInsert(insert3), text, caption))
    return S_OK;  // a missing string ends it silently
  return ShowNotification(settings, serviceFlag, owner, text.c_str(), caption.c_str(), type, resourceLibrary);
}

HRESULT CUpdateThread::NotifyError(const IUpdateSettings& settings, bool serviceFlag, HWND owner, UINT textId,
                                   UINT captionId, HMODULE resourceLibrary, HRESULT hr) {
  bool deferred;
  HRESULT admitted = Admit(&deferred);
  if (FAILED(admitted)) return admitted;
  std::string text, caption;
  if (const char* system = vtx::SystemErrorText(hr)) {
    text = system;
    caption = LoadText(resourceLibrary, captionId, kCaptionMax);
  } else if (!FormatNotice(resourceLibrary, textId, captionId, FormatInsert(hr), FormatInsert(0u),
                           FormatInsert(0u), text, caption)) {
    return S_OK;
  }
  return ShowNotification(settings, serviceFlag, owner, text.c_str(), caption.c_str(), kNotifyError,
                          resourceLibrary);
}

void CUpdateThread::SendDeferredNotices(const IUpdateSettings& settings) {
  std::vector<DeferredNotice> notices;
  notices.swap(m_deferred);
  for (const DeferredNotice& n : notices)
    ShowNotification(settings, n.serviceFlag, n.owner, n.text.c_str(), n.caption.c_str(), n.type,
                     n.resourceLibrary);
}

// ---- the run ----

void CUpdateThread::AnnounceCodes(UINT textId, const char* codes, uint32_t count) {
  LocalText joined{FormatItems(codes, 96, 97, m_resourceLibrary)};
  if (!joined.p) return;
  LocalText text{PrintFormatMessage(textId, m_resourceLibrary, count, static_cast<const char*>(joined.p))};
  std::string caption = LoadText(m_resourceLibrary, 32, kCaptionMax);
  if (!text.p) return;
  Notify(m_owner, text.p, caption.c_str(), kNotifyWarning, m_resourceLibrary);
}

void CUpdateThread::Report(UINT msg, WPARAM wParam, LPARAM lParam) {
  m_handingOver = true;
  SendMessageA(m_owner, msg, wParam, lParam);
  m_handingOver = false;
}

BOOL CUpdateThread::OnMessage(MSG* msg) {
  // The thread has no windows of its own; every other message is taken as handled.
  if (msg->message != WM_VX_RUNUPDATE && msg->message != WM_VX_CHECKDEFINITIONS) return TRUE;
  const bool definitionsOnly = msg->message == WM_VX_CHECKDEFINITIONS;
  IUpdateSettings& settings = *m_copy;

  bool definitionsDue = definitionsOnly || settings.IsTimeToLoadEMU();
  CStringList<char> before;
  bool keptBefore = settings.CopyActiveCurrencies(before);
  m_sourceIndex = -1;
  for (auto& list : m_runLog) list.Empty();
  m_runMessages.Empty();

  HRESULT result = S_OK;
  bool hangUpKept = false;
  BOOL hangUp = FALSE;
  if (!definitionsOnly) {
    if (definitionsDue) {
      // The line stays up for the definitions check that follows.
      hangUp = settings.GetHangUp();
      hangUpKept = true;
      settings.SetHangUp(FALSE);
    }
    result = m_engine.UpdateRun(*this);

    if (settings.HasCustomAction()) {
      switch (settings.GetExecuteCustomAction()) {
        case 0: m_customActionDue = true; break;
        case 1: m_customActionDue = SUCCEEDED(result); break;
        // Without the list from before the run a change cannot be ruled out.
        case 2: m_customActionDue = SUCCEEDED(result) && (!keptBefore || settings.ActiveRatesDiffer(before)); break;
        default: break;
      }
    }

    if (SUCCEEDED(result)) {
      DWORD unknownMode = settings.GetUnknownCurrencies();
      GlobalText unknown, removed;
      uint32_t unknownCount = 0, removedCount = 0;
      result = settings.SetRates(unknownMode == 2 ? 10 : 15, &unknown.p, &unknownCount, &removed.p, &removedCount);
      if (unknownMode != 1) {
        if (unknown.p && *unknown.p) AnnounceCodes(unknownMode == 0 ? 318 : 319, unknown.p, unknownCount);
        if (removed.p && *removed.p) AnnounceCodes(unknownMode == 0 ? 479 : 480, removed.p, removedCount);
      }
    }
  }

  DWORD recentlyInstalled = 0;
  if (ReadAppDword("RecentlyInstalled", &recentlyInstalled) && recentlyInstalled) {
    GlobalText codes;
    uint32_t count = 0;
    if (SUCCEEDED(settings.CompareWithBuiltInTable(&codes.p, &count)) && count && codes.p && *codes.p) {
      {
        CollectingOff off(*this);
        AnnounceCodes(481, codes.p, count);
      }
      DeleteAppValue("RecentlyInstalled");
    }
  }

  // Its own failures are its own to report; they do not undo the rates of the run.
  if (definitionsDue && SUCCEEDED(result)) {
    CollectingOff off(*this);
    m_engine.CheckDefinitions(*this, nullptr);
  }

  if (hangUpKept) {
    settings.SetHangUp(hangUp);
    if (hangUp) m_engine.HangUp(settings);
  }

  DWORD logFXData = 1;
  if (!ReadAppDword("LogFXData", &logFXData)) logFXData = 1;
  if (logFXData == 2 || (logFXData == 1 && !m_runMessages.IsEmpty())) m_engine.ArchiveRun(*this);

  if (definitionsOnly)
    Report(WM_VX_DEFINITIONSDONE, reinterpret_cast<WPARAM>(&settings), 0);
  else if (FAILED(result))
    Report(WM_VX_UPDATEFAILED, 0, static_cast<LPARAM>(result));
  else
    Report(WM_VX_UPDATEDONE, reinterpret_cast<WPARAM>(&settings), 0);
  m_sourceIndex = -1;
  // Once busy is clear the owner may hand out the next run (and its window): read it first.
  HWND owner = m_owner;
  m_busy = false;
  SendMessageA(owner, WM_VX_UPDATEIDLE, 0, 0);
  return FALSE;
}
