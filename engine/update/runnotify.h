// The update thread's notification fan-out: one message to every channel that the thread's
// settings in use switch on (screen, event log, messages file, e-mail), prefixed with the data
// source being fetched and collected into the run's messages; and the run archive of the thread.
// The update engine holds one CRunNotifier and hands its IUpdateEngine::Notify and ArchiveRun
// to it.
#pragma once
#include <string>

#include "engine/foundation/resourcelib.h"
#include "engine/notify/noticequeue.h"
#include "engine/notify/screenwindow.h"
#include "engine/update/updatethread.h"
#include "platform/resources.h"
#include "platform/types.h"

constexpr UINT kSourceNoticeText = 413;
constexpr UINT kMailFailureText = 183;

class CSettings;

class CRunNotifier {
 public:
  // Sends one message through every switched-on channel of thread.GetSettings(); no channel's
  // failure reaches the caller, and mail failures are reported to the event log and the display
  // log. A notice for the screen that no screen takes goes to the event log unless that channel
  // has it. Settings that are not CUpdateSettings reach no channel; the run messages still get it.
  void Notify(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
              HMODULE resourceLibrary);
  // An informational text (type 0): on screen it goes into the messenger's display log, else into
  // the own window with the user icon.
  void NotifyInfo(CUpdateThread& thread, HWND owner, const char* text, HMODULE resourceLibrary);
  // Writes the thread's run log and messages into a new run folder under `logsFolder` (null: the
  // logs folder of the common application data).
  HRESULT ArchiveRun(CUpdateThread& thread, const char* logsFolder = nullptr);

  CEventLog m_EventLog;
  IMessageWindow* m_pMessageWindow = nullptr;  // the screen channel's own window; may be null
  // Where mail and the messenger's part of the screen channel go out, off the thread of the notice
  // (null: on that thread), in the notices' order. Their failures are reported from there as well.
  CNoticeQueue* m_pNoticeQueue = nullptr;

 private:
  void FanOut(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
              HMODULE resourceLibrary, bool info);
  void SendMail(const CSettings& settings, bool serviceFlag, HWND owner, const char* text, UINT type,
                HMODULE resourceLibrary);
  void ReportMailFailure(HWND owner, HRESULT hr, const CStringA& errorText, HMODULE resourceLibrary,
                         CEventLog& log);
  // The screen channel: the messenger (a box, or with `info` its display log), else the own message
  // window, else the event log (as a warning, an error staying an error) unless the entry is
  // `logged` there already.
  void ToScreen(HWND owner, const char* text, const char* caption, UINT type, HMODULE resourceLibrary, bool info,
                bool logged, CEventLog* log = nullptr);
};

namespace vtx::update {
// The notice that stands in for a text the resource library does not have: its id and inserts.
std::string MissingTextNotice(UINT textId, const FormatInsert& insert1, const FormatInsert& insert2,
                              const FormatInsert& insert3);
// Records in the event log that a text was missing, so that the gap gets fixed.
void ReportMissingText(UINT textId, UINT captionId, bool captionMissing, bool textMissing);
// The composed text of a notice during the fetch of data source `sourceIndex` of the settings
// (string 413: display name, address name, text); the text itself outside a fetch or when the
// source's filter definition cannot be found.
std::string SourceNoticeText(const CSettings& settings, int32_t sourceIndex, const char* text, HMODULE resourceLibrary);
}  // namespace vtx::update
