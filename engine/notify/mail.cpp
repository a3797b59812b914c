#include "engine/notify/mail.h"

#include <cstring>

#include "engine/foundation/resourcelib.h"
#include "engine/notify/notifychannels.h"
#include "platform/heap.h"
#include "platform/mapi.h"
#include "platform/resources.h"

const char g_szSmtpProfile[] = "<SMTP>";
const char g_szDefaultMailProfile[] = "<Windows Messaging Default>";
const char g_szMailFallbackSubject[] = "Hulvane Vantrex";

namespace {

// A LocalAlloc text as a string, freed; empty for null.
std::string Taken(char* text) {
  std::string s = text ? text : "";
  if (text) LocalFree(text);
  return s;
}

std::string Subject(UINT flags, HMODULE resourceLibrary) {
  std::string title = Taken(MakeMessageTitle(flags, resourceLibrary));
  return title.empty() ? g_szMailFallbackSubject : title;
}

void SetText(CStringA* out, const std::string& text) {
  if (out) *out = text.c_str();
}

// An address as a failure text may show it: control characters as '?'.
std::string Shown(const char* address) {
  std::string s = address ? address : "";
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

bool OnlySeparators(const char* p) {
  for (; p && *p; ++p)
    if (*p != ' ' && *p != '\t' && *p != ',' && *p != ';') return false;
  return true;
}

// The text of one list entry, without the separators and blanks around it.
std::string EntryText(const char* begin, const char* end) {
  while (begin < end && (*begin == ' ' || *begin == '\t' || *begin == ',' || *begin == ';')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == ',' || end[-1] == ';')) --end;
  return std::string(begin, end);
}

// The next entry of a list as one name and one address: an entry of two addresses, or one with a
// line break or another control character, is no entry (`entry` then says what it was).
enum class Entry { Found, None, Unusable };
Entry NextEntry(const char** position, CStringA& name, CStringA& address, std::string& entry) {
  const char* start = *position;
  const bool more = !OnlySeparators(start);
  if (!GetMailAddress(position, name, address)) {
    entry = EntryText(start, start + std::strlen(start));
    return more ? Entry::Unusable : Entry::None;
  }
  entry = EntryText(start, *position);
  std::string n, a;
  return ParseMailEntry(entry, &n, &a) ? Entry::Found : Entry::Unusable;
}

}  // namespace

void StringToMAPIAddrList(const char* recipients, std::vector<MailMessage::MailAddress>* resolved,
                          uint32_t* unresolved, std::vector<std::string>* unresolvedEntries) {
  resolved->clear();
  *unresolved = 0;
  if (unresolvedEntries) unresolvedEntries->clear();
  if (!recipients) return;
  const char* p = recipients;
  while (*p == ' ' || *p == '\t') ++p;
  if (!*p) return;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    const char* end = p;
    while (*end && *end != ';' && *end != ',') ++end;
    std::string name, address;
    if (ParseMailEntry(std::string(p, end), &name, &address)) {
      resolved->push_back(MailMessage::MailAddress{name, address});
    } else {
      ++*unresolved;
      if (unresolvedEntries) unresolvedEntries->push_back(EntryText(p, end));
    }
    if (!*end) break;
    p = end + 1;
  }
}

HRESULT MAPIAddrListToString(const std::vector<MailMessage::MailAddress>& list, char** text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  std::string joined;
  for (const auto& a : list) {
    if (!joined.empty()) joined += "; ";
    if (a.name.empty()) joined += a.address;
    else if (a.name.find('"') != std::string::npos) joined += "\"" + a.name + "\" <" + a.address + ">";
    else joined += a.name + " <" + a.address + ">";
  }
  auto* out = static_cast<char*>(LocalAlloc(0, joined.size() + 1));
  if (!out) return E_OUTOFMEMORY;
  std::memcpy(out, joined.c_str(), joined.size() + 1);
  *text = out;
  return S_OK;
}

HRESULT MAPIAddressBookDialog(HWND, const char*, const char*, const char*, ULONG, const char*, const char*,
                              char** chosen) {
  if (!chosen) return E_POINTER;
  *chosen = nullptr;
  return kMapiNotAvailable;
}

HRESULT CheckMAPIRecipients(HWND, const char*, const char* recipients, const char* profile, char** resolved,
                            uint32_t* unresolved) {
  if (resolved) *resolved = nullptr;
  HRESULT hr = vtx::mapi::Logon(profile);
  if (FAILED(hr)) return profile && *profile ? hr : kMailNoDefaultProfile;
  std::vector<MailMessage::MailAddress> list;
  uint32_t missing = 0;
  StringToMAPIAddrList(recipients, &list, &missing);
  if (resolved && FAILED(hr = MAPIAddrListToString(list, resolved))) return hr;
  if (unresolved) *unresolved = missing;
  return S_OK;
}

HRESULT GetMAPIProfiles(CStringList<char>&) { return S_OK; }

HRESULT CMAPISender::Send(const char* profile, const char* recipients, const char* subject, const char* body) {
  m_resolved = m_unresolved = 0;
  m_error.clear();
  HRESULT hr = vtx::mapi::Logon(profile);
  if (FAILED(hr)) return profile && *profile ? hr : kMailNoDefaultProfile;

  std::vector<MailMessage::MailAddress> list;
  StringToMAPIAddrList(recipients, &list, &m_unresolved, &m_unresolvedEntries);
  m_resolved = static_cast<uint32_t>(list.size());
  if (list.empty()) return kMailNoRecipientResolved;

  // The transport fills in the sender of its own account.
  MailMessage message(nullptr, nullptr, nullptr, g_szMailFallbackSubject);
  for (const auto& a : list) message.To(a.address.c_str(), a.name.c_str());
  message.Subject(subject);
  message.Body(body);
  return vtx::mapi::Submit(message.FormatForSending(), m_timeoutMs, &m_error);
}

HRESULT MessageToEmail(const char* text, UINT flags, const char* recipients, const char* profile, BOOL serviceMode,
                       HMODULE resourceLibrary, CStringA* errorText) {
  if (errorText) errorText->Empty();
  if (!recipients || !*recipients) return S_OK;
  CMAPISender sender(serviceMode ? MAPI_NT_SERVICE : 0);
  HRESULT hr = sender.Send(profile, recipients, Subject(flags, resourceLibrary).c_str(), text);
  if (!sender.GetErrorText().empty()) SetText(errorText, sender.GetErrorText());
  if (sender.GetUnresolved() && resourceLibrary) {
    std::string counts =
        Taken(PrintFormatMessageNum(kMailUnresolvedText, resourceLibrary, sender.GetUnresolved(), sender.GetResolved()));
    // Which entries they were, so that the list can be mended.
    std::string named;
    for (const std::string& entry : sender.GetUnresolvedEntries()) {
      if (entry.empty()) continue;
      if (!named.empty()) named += ", ";
      named.append("\"").append(Shown(entry.c_str())).append("\"");
    }
    while (!counts.empty() && (counts.back() == '\n' || counts.back() == '\r' || counts.back() == ' ')) counts.pop_back();
    if (!counts.empty() && !named.empty()) counts += " Not resolved: " + named + ".";
    if (!counts.empty()) SetText(errorText, counts);
  }
  if ((hr == kMailNoDefaultProfile || hr == kMailNoAddressBook) && resourceLibrary) {
    char said[512];
    UINT id = hr == kMailNoDefaultProfile ? kMailNoDefaultProfileText : kMailNoAddressBookText;
    if (LoadStringA(resourceLibrary, id, said, sizeof said) > 0) SetText(errorText, said);
  }
  return hr;
}

HRESULT MessageToSMTPMail(const char* text, UINT flags, const char* recipients, const char* sender, const char* server,
                          HMODULE resourceLibrary, CStringA* errorText) {
  if (errorText) errorText->Empty();
  if (!server || !*server || !recipients) return E_INVALIDARG;
  const char* position = sender;
  CStringA name, address;
  std::string entry;
  if (!sender) return E_INVALIDARG;
  switch (NextEntry(&position, name, address, entry)) {
    case Entry::None: return E_INVALIDARG;
    case Entry::Unusable:
      SetText(errorText, "The sender \"" + Shown(entry.c_str()) + "\" is not one e-mail address.");
      return E_INVALIDARG;
    case Entry::Found: break;
  }

  MailMessage message(name.c_str(), address.c_str(), server, g_szMailFallbackSubject);
  if (!message.IsValid()) {
    SetText(errorText, "The sender \"" + Shown(address.c_str()) + "\" cannot be used as an e-mail address.");
    return E_INVALIDARG;
  }
  message.Subject(Subject(flags, resourceLibrary).c_str());
  message.Body(text);
  // Every entry of the list must be one usable address: a mail to only some of them would pass
  // unnoticed.
  for (position = recipients;;) {
    Entry found = NextEntry(&position, name, address, entry);
    if (found == Entry::None) break;
    if (found == Entry::Unusable) {
      SetText(errorText, "The recipient entry \"" + Shown(entry.c_str()) + "\" is not one e-mail address.");
      return E_INVALIDARG;
    }
    if (!message.To(address.c_str(), name.c_str())) {
      SetText(errorText, "The recipient \"" + Shown(address.c_str()) + "\" cannot be used as an e-mail address.");
      return E_INVALIDARG;
    }
  }
  if (message.Recipients().empty()) return E_INVALIDARG;

  std::string error;
  message.Send(error);
  if (!error.empty()) {
    SetText(errorText, error);
    return E_FAIL;
  }
  return S_OK;
}
