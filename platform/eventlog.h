// The event log: entries go to the system log as syslog datagrams on $VANTREX_SYSLOG_SOCKET
// (default /dev/log). The text is the message-table entry of the event id, from the loaded
// catalogues or else the program's own table, with the entry's insert strings. An entry that no
// listener takes goes to stderr while the program runs in the foreground; a service drops it.
#pragma once
#include "platform/types.h"

constexpr WORD EVENTLOG_SUCCESS = 0x0000;
constexpr WORD EVENTLOG_ERROR_TYPE = 0x0001;
constexpr WORD EVENTLOG_WARNING_TYPE = 0x0002;
constexpr WORD EVENTLOG_INFORMATION_TYPE = 0x0004;
constexpr WORD EVENTLOG_AUDIT_SUCCESS = 0x0008;
constexpr WORD EVENTLOG_AUDIT_FAILURE = 0x0010;

using PSID = void*;

// Null server = this machine (no other is reachable: null, last error 50). The handle carries the
// syslog ident: the source name without blanks.
HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source);
BOOL DeregisterEventSource(HANDLE eventLog);
// TRUE also when nobody listens; FALSE (last error 6 or 87) only for a bad handle or arguments.
BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid, WORD numStrings,
                  DWORD dataSize, LPCSTR* strings, LPVOID rawData);

namespace vtx {
// The program's own message table: the texts of event ids that no loaded catalogue has (a program
// that could not load its catalogue still logs readable entries). The table must outlive its use;
// null clears it.
struct EventMessageText {
  DWORD id;
  const char* utf8;
};
void SetEventMessageTable(const EventMessageText* table, size_t count);
// A program runs in the foreground unless it says it runs as a service.
void SetEventLogForeground(bool foreground);
}  // namespace vtx

using PFN_RegisterEventSourceA = HANDLE (*)(LPCSTR, LPCSTR);
using PFN_DeregisterEventSource = BOOL (*)(HANDLE);
using PFN_ReportEventA = BOOL (*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID);
