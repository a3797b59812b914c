#include "engine/update/runnotify.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/datasource.h"
#include "engine/currency/filterdef.h"
#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "engine/notify/mail.h"
#include "engine/notify/notifychannels.h"
#include "engine/update/runarchive.h"
#include "engine/update/updatesettings.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/inet.h"

namespace {

constexpr UINT kNoType = 0;

struct LocalText {
  char* p = nullptr;
  ~LocalText() { LocalFree(p); }
};

std::string SystemText(HRESULT hr) {
  LocalText t;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, hr, 0x400, reinterpret_cast<LPSTR>(&t.p), 0, nullptr);
  return t.p ? std::string(t.p) : std::string();
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

// The real settings behind the thread's settings in use, or null.
const CSettings* SettingsOf(CUpdateThread& thread) {
  auto* s = dynamic_cast<CUpdateSettings*>(&thread.GetSettings());
  return s && s->Get().GetData() ? &s->Get() : nullptr;
}

}  // namespace

namespace vtx::update {

std::string MissingTextNotice(UINT textId, const FormatInsert& insert1, const FormatInsert& insert2,
                              const FormatInsert& insert3) {
  std::string text = "Message ";
  text += std::to_string(textId);
  text += " (text missing from the resource library)";
  const FormatInsert* inserts[] = {&insert1, &insert2, &insert3};
  for (int i = 0; i < 3; ++i) {
    text += i ? ", %" : ": %";
    text += std::to_string(i + 1);
    text += " = ";
    text += InsertText(*inserts[i]);
  }
  return text;
}

void ReportMissingText(UINT textId, UINT captionId, bool captionMissing, bool textMissing) {
  std::string text = "The resource library has no text";
  if (textMissing) text.append(" ").append(std::to_string(textId));
  if (textMissing && captionMissing) text += " and no caption";
  if (captionMissing) text.append(" ").append(std::to_string(captionId));
  text += "; a notice went out without it.";
  CEventLog log;
  MessageToLog(text.c_str(), MB_ICONEXCLAMATION, &log);
}

std::string SourceNoticeText(const CSettings& settings, int32_t sourceIndex, const char* text, HMODULE module) {
  std::string plain = text ? text : "";
  if (sourceIndex < 0 || !settings.GetData()) return plain;
  const CDataSourceList& sources = settings.GetData()->Sources;
  uint32_t index = static_cast<uint32_t>(sourceIndex);
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
  LocalText composed{
      PrintFormatMessage(kSourceNoticeText, module, name ? name : "", address ? address : url, plain.c_str())};
  return composed.p ? std::string(composed.p) : plain;
}

}  // namespace vtx::update

void CRunNotifier::ReportMailFailure(HWND owner, HRESULT hr, const CStringA& errorText, HMODULE module,
                                     CEventLog& log) {
  std::string reason = errorText.IsEmpty() ? SystemText(hr) : std::string(errorText.c_str());
  if (reason.empty()) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%X", hr);
    reason = code;
  }
  LocalText message{PrintFormatMessage(kMailFailureText, module, reason.c_str())};
  std::string text = message.p ? std::string(message.p) : "A notification could not be sent by e-mail: " + reason;
  MessageToLog(text.c_str(), MB_ICONHAND, &log);
  ToScreen(owner, text.c_str(), nullptr, MB_ICONHAND, module, true, true, &log);
}

void CRunNotifier::ToScreen(HWND owner, const char* text, const char* caption, UINT type, HMODULE module, bool info,
                            bool logged, CEventLog* log) {
  HRESULT hr = info ? PipeMessageDialog(0, text) : PipeMessageBox(nullptr, text, caption ? caption : "", type);
  if (SUCCEEDED(hr)) return;
  // An informational text (type 0) shows with the user icon.
  UINT windowType = info && type == kNoType ? MB_USERICON : type;
  if (m_pMessageWindow && SUCCEEDED(m_pMessageWindow->AddMessage(owner, text, windowType, module)))
    return;
  // No screen to show it on: the event log keeps it, at least as a warning.
  if (!logged)
    MessageToLog(text, (type & 0xF0) == MB_ICONHAND ? MB_ICONHAND : MB_ICONEXCLAMATION, log ? log : &m_EventLog);
}

void CRunNotifier::SendMail(const CSettings& settings, bool serviceFlag, HWND owner, const char* text, UINT type,
                            HMODULE module) {
  const CSettingsData& s = *settings.GetData();
  // Everything the mail needs, copied: it may go out after these settings are gone.
  struct Mail {
    bool smtp;
    std::string profile, recipients, sender, server, text;
  };
  auto mail = std::make_shared<Mail>();
  mail->smtp = _stricmp(s.MessagesEmailProfile.c_str(), g_szSmtpProfile) == 0;
  const bool defaultProfile =
      s.MessagesEmailProfile.IsEmpty() || _stricmp(s.MessagesEmailProfile.c_str(), g_szDefaultMailProfile) == 0;
  mail->profile = defaultProfile ? "" : s.MessagesEmailProfile.c_str();
  mail->recipients = s.MessagesEmailRecipients.c_str();
  mail->sender = s.MessagesEmailSender.c_str();
  mail->server = s.MessagesEmailSmtpServer.c_str();
  mail->text = text ? text : "";
  auto send = [this, mail, serviceFlag, owner, type, module](CEventLog& log) {
    CStringA errorText;
    HRESULT hr =
        mail->smtp
            ? MessageToSMTPMail(mail->text.c_str(), type, mail->recipients.c_str(), mail->sender.c_str(),
                                mail->server.c_str(), module, &errorText)
            : MessageToEmail(mail->text.c_str(), type, mail->recipients.c_str(),
                             mail->profile.empty() ? nullptr : mail->profile.c_str(), serviceFlag ? TRUE : FALSE,
                             module, &errorText);
    if (FAILED(hr) || !errorText.IsEmpty()) ReportMailFailure(owner, hr, errorText, module, log);
  };
  if (m_pNoticeQueue && m_pNoticeQueue->Post([send] {
        CEventLog log;
        send(log);
      }))
    return;
  send(m_EventLog);
}

void CRunNotifier::FanOut(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
                          HMODULE module, bool info) {
  const CSettings* settings = SettingsOf(thread);
  std::string composed;
  try {
    composed = settings ? vtx::update::SourceNoticeText(*settings, thread.GetSourceIndex(), text, module)
                        : std::string(text ? text : "");
  } catch (const std::bad_alloc&) {
    composed.clear();
  }
  if (composed.empty() && text) composed = text;
  // Addresses of sources may carry a password: no channel shows it.
  composed = vtx::inet::MaskPasswords(composed);
  const char* message = composed.c_str();
  if (settings) {
    const CSettingsData& s = *settings->GetData();
    if (s.MessagesOnScreen) {
      const bool logged = s.MessagesToLog != 0;
      std::string shown = message, title = caption ? caption : "";
      const bool titled = caption != nullptr;
      if (!m_pNoticeQueue || !m_pNoticeQueue->Post([=, this] {
            CEventLog log;
            ToScreen(owner, shown.c_str(), titled ? title.c_str() : nullptr, type, module, info, logged, &log);
          }))
        ToScreen(owner, message, caption, type, module, info, logged);
    }
    if (s.MessagesToLog) MessageToLog(message, type, &m_EventLog);
    if (s.MessagesToFile) MessageToFile(message, type, s.MessagesFile, module, &m_EventLog, TRUE);
    if (s.MessagesViaEmail) SendMail(*settings, thread.GetServiceFlag(), owner, message, type, module);
  }
  if (!thread.IsCollectingOff()) MessageToString(message, type, thread.GetRunMessages(), module);
}

void CRunNotifier::Notify(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
                          HMODULE resourceLibrary) {
  FanOut(thread, owner, text, caption, type, resourceLibrary, false);
}

void CRunNotifier::NotifyInfo(CUpdateThread& thread, HWND owner, const char* text, HMODULE resourceLibrary) {
  FanOut(thread, owner, text, nullptr, kNoType, resourceLibrary, true);
}

HRESULT CRunNotifier::ArchiveRun(CUpdateThread& thread, const char* logsFolder) {
  RunLogLists lists;
  GetRunLogLists(thread, lists);
  return ArchiveRunLog(lists, thread.GetRunMessages().c_str(), logsFolder);
}
