#include "engine/update/runnotify.h"

#include <cstdio>
#include <new>
#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/datasource.h"
#include "engine/currency/filterdef.h"
#include "engine/foundation/regvalue.h"
#include "engine/notify/mail.h"
#include "engine/notify/notifychannels.h"
#include "platform/codepage.h"
#include "platform/heap.h"

namespace {

constexpr UINT kNoType = 0;

// Frees a LocalAlloc text when it goes out of scope.
struct LocalText {
  char* p = nullptr;
  ~LocalText() { LocalFree(p); }
};

std::string LoadText(HMODULE module, UINT id, int size, bool* found) {
  std::string buf(static_cast<size_t>(size), '\0');
  int n = LoadStringA(module, id, buf.data(), size);
  *found = n > 0;
  buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buf;
}

// "Data source: <name> (<address>)" and the text during a fetch; otherwise the text itself.
std::string ComposeText(const CUpdateThreadNotify& thread, const char* text, HMODULE module) {
  std::string plain = text ? text : "";
  if (thread.m_nSourceIndex < 0 || !thread.m_pSettings || !thread.m_pSettings->GetData()) return plain;
  const CDataSourceList& sources = thread.m_pSettings->GetData()->Sources;
  uint32_t index = static_cast<uint32_t>(thread.m_nSourceIndex);
  if (index >= sources.GetCount() || !sources[index]) return plain;
  const CDataSource* source = sources[index];
  RegStringValueA folder;
  if (FAILED(folder.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Filters")) || !folder.GetString()) return plain;
  CFilterList filters;
  if (!filters.Create(folder.GetString(), false)) return plain;
  int32_t found = filters.Find(source->GetFilter());
  if (found < 0) found = filters.Find(nullptr);
  if (found < 0 || !filters[static_cast<uint32_t>(found)]) return plain;
  const CFilter* filter = filters[static_cast<uint32_t>(found)];
  const char* url = source->GetURL() ? source->GetURL() : "";
  const char* address = filter->GetAddressName(url);
  const char* name = filter->GetDisplayName();
  LocalText composed{PrintFormatMessage(kSourceNoticeText, module, name ? name : "", address ? address : url,
                                        plain.c_str())};
  return composed.p ? std::string(composed.p) : plain;
}

std::string SystemText(HRESULT hr) {
  LocalText t;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, hr, 0x400, reinterpret_cast<LPSTR>(&t.p), 0, nullptr);
  return t.p ? std::string(t.p) : std::string();
}

// Mail failures go to the event log and the display log; the caller never hears of them.
void ReportMailFailure(CUpdateThreadNotify& thread, HWND owner, HRESULT hr, const CStringA& errorText,
                       HMODULE module) {
  std::string reason = errorText.IsEmpty() ? SystemText(hr) : std::string(errorText.c_str());
  if (reason.empty()) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%X", hr);
    reason = code;
  }
  LocalText message{PrintFormatMessage(kMailFailureText, module, reason.c_str())};
  std::string text = message.p ? std::string(message.p) : "A notification could not be sent by e-mail: " + reason;
  MessageToLog(text.c_str(), MB_ICONHAND, &thread.m_EventLog);
  if (FAILED(PipeMessageDialog(0, text.c_str())) && thread.m_pMessageWindow)
    thread.m_pMessageWindow->AddMessage(owner, text.c_str(), MB_ICONHAND, module);
}

void SendMail(CUpdateThreadNotify& thread, HWND owner, const char* text, UINT type, HMODULE module,
              const CSettingsData& s) {
  CStringA errorText;
  HRESULT hr;
  if (_stricmp(s.MessagesEmailProfile.c_str(), g_szSmtpProfile) == 0) {
    hr = MessageToSMTPMail(text, type, s.MessagesEmailRecipients, s.MessagesEmailSender, s.MessagesEmailSmtpServer,
                           module, &errorText);
  } else {
    const char* profile = s.MessagesEmailProfile.IsEmpty() ||
                                  _stricmp(s.MessagesEmailProfile.c_str(), g_szDefaultMailProfile) == 0
                              ? nullptr
                              : s.MessagesEmailProfile.c_str();
    hr = MessageToEmail(text, type, s.MessagesEmailRecipients, profile, thread.m_bServiceFlag, module, &errorText);
  }
  if (FAILED(hr) || !errorText.IsEmpty()) ReportMailFailure(thread, owner, hr, errorText, module);
}

void FanOut(CUpdateThreadNotify& thread, HWND owner, const char* text, const char* caption, UINT type,
            HMODULE module, bool info) {
  std::string composed;
  try {
    composed = ComposeText(thread, text, module);
  } catch (const std::bad_alloc&) {
    composed.clear();
  }
  const char* message = composed.empty() && text ? text : composed.c_str();
  const CSettingsData* s = thread.m_pSettings ? thread.m_pSettings->GetData() : nullptr;
  if (s) {
    if (s->MessagesOnScreen) {
      HRESULT hr = info ? PipeMessageDialog(0, message) : PipeMessageBox(nullptr, message, caption ? caption : "", type);
      if (FAILED(hr) && thread.m_pMessageWindow)
        thread.m_pMessageWindow->AddMessage(owner, message, info ? MB_USERICON : type, module);
    }
    if (s->MessagesToLog) MessageToLog(message, type, &thread.m_EventLog);
    if (s->MessagesToFile) MessageToFile(message, type, s->MessagesFile, module, &thread.m_EventLog, TRUE);
    if (s->MessagesViaEmail) SendMail(thread, owner, message, type, module, *s);
  }
  if (!thread.m_bCollectingOff) MessageToString(message, type, thread.m_strRunMessages, module);
}

std::string InsertText(const FormatInsert& insert) {
  char number[48];
  switch (insert.kind) {
    case FormatInsert::Kind::Text: return insert.text ? insert.text : "";
    case FormatInsert::Kind::WideText: return insert.wide ? vtx::WideToAnsi(insert.wide) : "";
    case FormatInsert::Kind::Signed:
      std::snprintf(number, sizeof number, "%lld", static_cast<long long>(insert.i));
      return number;
    case FormatInsert::Kind::Unsigned:
      std::snprintf(number, sizeof number, "%llu (0x%llX)", static_cast<unsigned long long>(insert.u),
                    static_cast<unsigned long long>(insert.u));
      return number;
  }
  return "";
}

bool PrepareFromMainThread(CUpdateThreadNotify& thread, const CSettings& settings, bool serviceFlag, HWND owner,
                           HRESULT* result) {
  if (thread.m_bBusy.load()) {
    *result = E_BUSY;
    return false;
  }
  if (!thread.m_Settings.CopyFrom(settings)) {
    *result = E_OUTOFMEMORY;
    return false;
  }
  thread.m_pSettings = &thread.m_Settings;
  thread.m_hOwner = owner;
  thread.m_bServiceFlag = serviceFlag;
  thread.m_hIcon = nullptr;
  *result = S_OK;
  return true;
}

}  // namespace

void Notify(CUpdateThreadNotify& thread, HWND owner, const char* text, const char* caption, UINT type,
            HMODULE resourceLibrary) {
  FanOut(thread, owner, text, caption, type, resourceLibrary, false);
}

void NotifyInfo(CUpdateThreadNotify& thread, HWND owner, const char* text, HMODULE resourceLibrary) {
  FanOut(thread, owner, text, nullptr, kNoType, resourceLibrary, true);
}

void NotifyId(CUpdateThreadNotify& thread, HWND owner, UINT textId, UINT captionId, UINT type,
              HMODULE resourceLibrary, const FormatInsert& insert1, const FormatInsert& insert2,
              const FormatInsert& insert3) {
  try {
    bool haveCaption = false, haveText = false;
    std::string caption = LoadText(resourceLibrary, captionId, 501, &haveCaption);
    std::string pattern = LoadText(resourceLibrary, textId, 4001, &haveText);
    std::string text;
    if (haveText) {
      FormatInsert items[3] = {insert1, insert2, insert3};
      FormatInserts inserts{items, 3};
      LocalText formatted;
      if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                         pattern.c_str(), 0, 0, reinterpret_cast<LPSTR>(&formatted.p), 0, &inserts))
        text = formatted.p;
      else
        haveText = false;
    }
    if (!haveCaption) caption = g_szNotifyEventSource;
    if (haveText) {
      Notify(thread, owner, text.c_str(), caption.c_str(), type, resourceLibrary);
      return;
    }
    // The notice still goes out, and the event log keeps a trace of the missing text.
    char head[96];
    std::snprintf(head, sizeof head, "Message %u (text missing from the resource library)", textId);
    text = head;
    const FormatInsert* inserts[] = {&insert1, &insert2, &insert3};
    for (int i = 0; i < 3; ++i) text += (i ? ", %" : ": %") + std::to_string(i + 1) + " = " + InsertText(*inserts[i]);
    Notify(thread, owner, text.c_str(), caption.c_str(), type, resourceLibrary);
    const CSettingsData* s = thread.m_pSettings ? thread.m_pSettings->GetData() : nullptr;
    if (!s || !s->MessagesToLog) MessageToLog(text.c_str(), type, &thread.m_EventLog);
  } catch (const std::bad_alloc&) {
  }
}

HRESULT ShowNotification(CUpdateThreadNotify& thread, const CSettings& settings, bool serviceFlag, HWND owner,
                         const char* text, const char* caption, UINT type, HMODULE resourceLibrary) {
  HRESULT hr;
  if (!PrepareFromMainThread(thread, settings, serviceFlag, owner, &hr)) return hr;
  Notify(thread, owner, text, caption, type, resourceLibrary);
  return S_OK;
}

HRESULT ShowNotificationId(CUpdateThreadNotify& thread, const CSettings& settings, bool serviceFlag, HWND owner,
                           UINT textId, UINT captionId, UINT type, HMODULE resourceLibrary,
                           const FormatInsert& insert1, const FormatInsert& insert2, const FormatInsert& insert3) {
  HRESULT hr;
  if (!PrepareFromMainThread(thread, settings, serviceFlag, owner, &hr)) return hr;
  NotifyId(thread, owner, textId, captionId, type, resourceLibrary, insert1, insert2, insert3);
  return S_OK;
}

HRESULT NotifyError(CUpdateThreadNotify& thread, const CSettings& settings, bool serviceFlag, HWND owner,
                    UINT textId, UINT captionId, HMODULE resourceLibrary, HRESULT hr) {
  HRESULT result;
  if (!PrepareFromMainThread(thread, settings, serviceFlag, owner, &result)) return result;
  constexpr UINT kErrorType = MB_ICONHAND | MB_SETFOREGROUND;
  std::string system;
  try {
    system = SystemText(hr);
  } catch (const std::bad_alloc&) {
  }
  if (!system.empty()) {
    bool haveCaption = false;
    std::string caption = LoadText(resourceLibrary, captionId, 501, &haveCaption);
    Notify(thread, owner, system.c_str(), haveCaption ? caption.c_str() : g_szNotifyEventSource, kErrorType,
           resourceLibrary);
  } else {
    NotifyId(thread, owner, textId, captionId, kErrorType, resourceLibrary, hr);
  }
  return S_OK;
}

DWORD GetRunArchiveMode() {
  RegDwordValue value;
  if (FAILED(value.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "LogFXData"))) return 1;
  return value;
}

HRESULT ArchiveRun(CUpdateThreadNotify& thread, const char* logsFolder) {
  DWORD mode = GetRunArchiveMode();
  if (mode != 2 && !(mode == 1 && !thread.m_strRunMessages.IsEmpty())) return S_FALSE;
  return ArchiveRun(thread.m_RunLog, thread.m_strRunMessages.c_str(), logsFolder);
}
