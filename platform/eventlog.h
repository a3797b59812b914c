// The event log: entries go to the system log as syslog datagrams on $VANTREX_SYSLOG_SOCKET
// (default /dev/log). The text is the message-table entry of the event id, from the loaded
// catalogues, with the entry's insert strings; no listener means the entry is dropped.
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

using PFN_RegisterEventSourceA = HANDLE (*)(LPCSTR, LPCSTR);
using PFN_DeregisterEventSource = BOOL (*)(HANDLE);
using PFN_ReportEventA = BOOL (*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID);
