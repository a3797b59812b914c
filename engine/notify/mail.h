// The e-mail channels: mail by profile (the local mail transport stands in for the profiles) and
// plain SMTP.
#pragma once
#include <string>
#include <vector>

#include "engine/foundation/cstring.h"
#include "engine/foundation/stringlist.h"
#include "engine/notify/mailmessage.h"
#include "platform/mapi.h"
#include "platform/types.h"

struct HWND__;
using HWND = HWND__*;

// The profile names with a meaning of their own.
extern const char g_szSmtpProfile[];            // "<SMTP>"
extern const char g_szDefaultMailProfile[];     // "<Windows Messaging Default>"
// The subject of a mail without a title, and the mailer that the mails name.
extern const char g_szMailFallbackSubject[];    // "Hulvane Vantrex"

// Results of mail by profile.
constexpr HRESULT kMailNoDefaultProfile = 0x8004FFFF;  // string 182
constexpr HRESULT kMailNoAddressBook = 0x8004FFFE;     // string 181
constexpr HRESULT kMailNoRecipientResolved = vtx::mapi::MAPI_E_NOT_FOUND;
constexpr UINT kMailUnresolvedText = 174;
constexpr UINT kMailNoAddressBookText = 181;
constexpr UINT kMailNoDefaultProfileText = 182;
// The sender flag of a service.
constexpr DWORD MAPI_NT_SERVICE = 0x10000;

// Splits a recipients text at ';' and ',' (blanks and TABs before an entry skipped; an empty entry
// counts) and "resolves" each entry: it is resolved when it is one valid address with an optional
// name (see ParseMailEntry). The resolved ones go to `resolved`; the rest are counted.
void StringToMAPIAddrList(const char* recipients, std::vector<MailMessage::MailAddress>* resolved,
                          uint32_t* unresolved, std::vector<std::string>* unresolvedEntries = nullptr);

// The address book of mail by profile. Each logs on (a failed logon to the default profile gives
// 0x8004FFFF) and "resolves" as StringToMAPIAddrList does; texts out are LocalAlloc'd.
constexpr HRESULT kMapiNotAvailable = 0x800704DB;
// The entries joined by "; ", each "name <address>" ('"name"' when the name holds a '"'), or the
// address alone, so that the text resolves to the same list again. 0x80004003 for a null output.
HRESULT MAPIAddrListToString(const std::vector<MailMessage::MailAddress>& list, char** text);
// The address book's dialog does not exist here: 0x800704DB (0x80004003 for a null output, which
// is cleared first).
HRESULT MAPIAddressBookDialog(HWND owner, const char* caption, const char* newEntryTitle, const char* wellTitle,
                              ULONG recipientType, const char* recipients, const char* profile, char** chosen);
// Resolves the recipients without a dialog: the resolved ones as text and the number of entries
// that could not be resolved, each when asked for. Profile null or empty: the default one.
HRESULT CheckMAPIRecipients(HWND owner, const char* newEntryTitle, const char* recipients, const char* profile,
                            char** resolved, uint32_t* unresolved);
// Adds the names of the mail profiles besides the default one: there are none.
HRESULT GetMAPIProfiles(CStringList<char>& list);

// One mail through a profile.
class CMAPISender {
 public:
  explicit CMAPISender(DWORD flags) : m_dwFlags(flags) {}
  // Profile null: the default one. 0x8004FFFF when the default profile cannot be used (no
  // transport), the logon error for a named profile, 0x8004010F when no recipient resolves.
  HRESULT Send(const char* profile, const char* recipients, const char* subject, const char* body);
  // MAPI_NT_SERVICE in a service; the transport runs the same either way.
  DWORD GetFlags() const { return m_dwFlags; }
  uint32_t GetResolved() const { return m_resolved; }
  uint32_t GetUnresolved() const { return m_unresolved; }
  // The entries that were not resolved, as they stood in the list.
  const std::vector<std::string>& GetUnresolvedEntries() const { return m_unresolvedEntries; }
  // What the transport said when it refused the message or failed.
  const std::string& GetErrorText() const { return m_error; }
  void SetTimeout(DWORD ms) { m_timeoutMs = ms; }

 private:
  DWORD m_dwFlags;
  uint32_t m_resolved = 0;
  uint32_t m_unresolved = 0;
  std::vector<std::string> m_unresolvedEntries;
  std::string m_error;
  DWORD m_timeoutMs = kMailTimeoutMs;
};

// Sends the text to the recipients through the profile (null: the default one). An explanation
// of a failure, or of recipients that could not be resolved, goes to *errorText when given.
// No recipients: 0 and nothing sent.
HRESULT MessageToEmail(const char* text, UINT flags, const char* recipients, const char* profile, BOOL serviceMode,
                       HMODULE resourceLibrary, CStringA* errorText);
// Sends the text as plain SMTP mail from the first sender entry to every recipient entry. The
// server may carry a port ("host:port"). 0x80070057 without a server, a sender or a recipient, or
// for an address or name that cannot stand in a header; 0x80004005 with the SMTP failure's text.
HRESULT MessageToSMTPMail(const char* text, UINT flags, const char* recipients, const char* sender, const char* server,
                          HMODULE resourceLibrary, CStringA* errorText);
