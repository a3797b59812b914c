// The update thread's notification fan-out: one message to every channel the settings in use
// switch on (screen, event log, messages file, e-mail), prefixed with the data source being
// fetched and collected into the run's messages; and the calls through which the main thread
// notifies while the thread is idle.
#pragma once
#include <atomic>
#include <cstdint>

#include "engine/currency/settings.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/resourcelib.h"
#include "engine/notify/screenwindow.h"
#include "engine/update/runarchive.h"
#include "platform/messages.h"
#include "platform/resources.h"
#include "platform/types.h"

constexpr UINT kSourceNoticeText = 413;
constexpr UINT kMailFailureText = 183;

// The part of the update thread that the notifications use.
class CUpdateThreadNotify {
 public:
  CUpdateThreadNotify() = default;
  CUpdateThreadNotify(const CUpdateThreadNotify&) = delete;
  CUpdateThreadNotify& operator=(const CUpdateThreadNotify&) = delete;

  HWND m_hOwner = nullptr;
  HMODULE m_hResourceLibrary = nullptr;
  void* m_hIcon = nullptr;
  std::atomic<bool> m_bBusy{false};
  bool m_bServiceFlag = false;
  CSettings m_Settings;             // the thread's private copy
  CSettings* m_pSettings = nullptr; // the settings in use
  IMessageWindow* m_pMessageWindow = nullptr;  // the screen channel's own window; may be null
  CEventLog m_EventLog;
  int32_t m_nSourceIndex = -1;      // the data source being fetched, -1 outside a fetch
  CRunLog m_RunLog;
  CString<char> m_strRunMessages;
  bool m_bCollectingOff = false;
};

// Sends one message through every switched-on channel; no channel's failure reaches the caller.
void Notify(CUpdateThreadNotify& thread, HWND owner, const char* text, const char* caption, UINT type,
            HMODULE resourceLibrary);
// An informational text (type 0): on screen it goes into the messenger's display log.
void NotifyInfo(CUpdateThreadNotify& thread, HWND owner, const char* text, HMODULE resourceLibrary);
// The caption (at most 500 characters) and the text (at most 4000) by id, the text formatted over
// the three inserts. A missing string does not swallow the notice: a generic text naming the id
// and the inserts goes out instead, and always to the event log.
void NotifyId(CUpdateThreadNotify& thread, HWND owner, UINT textId, UINT captionId, UINT type,
              HMODULE resourceLibrary, const FormatInsert& insert1 = {}, const FormatInsert& insert2 = {},
              const FormatInsert& insert3 = {});

// From the main thread: 0x80070420 while the update thread is busy, 0x8007000E when the settings
// cannot be copied; otherwise the notice goes out on a copy of `settings` and the result is 0.
HRESULT ShowNotification(CUpdateThreadNotify& thread, const CSettings& settings, bool serviceFlag, HWND owner,
                         const char* text, const char* caption, UINT type, HMODULE resourceLibrary);
HRESULT ShowNotificationId(CUpdateThreadNotify& thread, const CSettings& settings, bool serviceFlag, HWND owner,
                           UINT textId, UINT captionId, UINT type, HMODULE resourceLibrary,
                           const FormatInsert& insert1 = {}, const FormatInsert& insert2 = {},
                           const FormatInsert& insert3 = {});
// The system's text of `hr` under the caption string as an error; without one, the text `textId`
// with the code as its insert.
HRESULT NotifyError(CUpdateThreadNotify& thread, const CSettings& settings, bool serviceFlag, HWND owner,
                    UINT textId, UINT captionId, HMODULE resourceLibrary, HRESULT hr);

// "LogFXData" of the application key: missing = 1 (archive runs with messages), 2 = every run.
DWORD GetRunArchiveMode();
// Archives the thread's run when the mode asks for it; the result of ArchiveRun, or S_FALSE when
// nothing was to be archived.
HRESULT ArchiveRun(CUpdateThreadNotify& thread, const char* logsFolder = nullptr);
