// The channel primitives every program compiles in: the kind of a message, its title, the
// event-log entry, the messages log file, the in-memory log text, the header of an on-screen
// entry, the requests to the messenger pipe, and the parsing of recipient lists and command lines.
#pragma once
#include <cstdint>
#include <string>

#include "engine/foundation/commandline.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/eventlog.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/types.h"
#include "platform/ui.h"

// Notification types: MessageBox styles, always with MB_SETFOREGROUND.
constexpr UINT kNotifyPlain = 0x10000;
constexpr UINT kNotifyError = 0x10010;
constexpr UINT kNotifyWarning = 0x10030;
constexpr UINT kNotifyInformation = 0x10040;

// What the icon bits (flags & 0xF0) of a message make of it.
struct MessageKind {
  WORD eventType;  // EVENTLOG_ERROR_TYPE, _WARNING_TYPE or _INFORMATION_TYPE
  UINT titleId;    // 169 error, 168 warning, 167 information
  UINT typeWordId; // 370 error, 371 warning, 373 user icon, 372 other
};
MessageKind GetMessageKind(UINT flags);

// The event source of notifications and the application key that holds "MessagesFileRecentOnTop".
extern const char g_szNotifyEventSource[];  // "Hulvane Vantrex"
constexpr DWORD kNotificationEventId = 0x40000001;
// Requests of the messenger pipe.
constexpr DWORD VXMSG_MESSAGEBOX = 1;
constexpr DWORD VXMSG_MESSAGEDIALOG = 2;
constexpr DWORD VXMSG_EXECUTE = 3;
constexpr DWORD VXMSG_DELETEDISPLAYLOG = 0x8000;
// A messenger that does not take a message box or dialog request within this time counts as
// not running, so that the caller falls back to its own window.
constexpr DWORD kMessengerTimeoutMs = 30000;
// A program that the messenger starts and waits for ends within this time or is killed; its
// caller waits that long and a margin.
constexpr DWORD kExecuteRunLimitMs = 30000;
constexpr DWORD kExecuteWaitTimeoutMs = kExecuteRunLimitMs + 5000;

// The computer's full DNS name, cut to size - 1 characters; FALSE when no name is known.
BOOL GetComputerDomainName(char* buffer, DWORD size);
// The title of a message: string 167, 168 or 169 by kind with the computer name ("-" when it is
// unknown) as %1. A LocalAlloc text the caller frees, or null when the string is missing.
char* MakeMessageTitle(UINT flags, HMODULE resourceLibrary);
// "MessagesFileRecentOnTop" of the application key: nonzero or missing = newest entries first.
BOOL GetRecentOnTop();

// One event of the kind's type, id 0x40000001, the text as its one insert. E_POINTER without an
// event log, 0x80070485 when its entry points are missing, E_FAIL when the source cannot be
// registered.
HRESULT MessageToLog(const char* text, UINT flags, CEventLog* eventLog);

// Adds one entry "---\r\n<UTC time> <title>\r\n<text>\r\n" to the messages file, newest first
// unless "MessagesFileRecentOnTop" is 0. Nothing happens (0) without a text or a file name. The
// file is locked while it is read and written; the final size is reserved before anything is
// overwritten, and a failed write puts the old contents back, so a full disk never leaves a
// corrupted file. A failure is also reported to the event log (string 215) and returned.
HRESULT MessageToFile(const char* text, UINT flags, const char* fileName, HMODULE resourceLibrary,
                      CEventLog* eventLog, BOOL addLogExtension);
// The same entry added to an in-memory log; FALSE without a text or when memory runs out.
BOOL MessageToString(const char* text, UINT flags, CStringA& output, HMODULE resourceLibrary);
// The header of one on-screen message: string 415 when the title starts with the "...:" prefix of
// string 413, else 414, over %1 the local and UTC time, %2 the kind's type word, %3 the title.
// A LocalAlloc text, or null.
char* DisplayMessageEntry(const char* title, UINT flags, HMODULE resourceLibrary);

namespace vtx::notify {
// The entry text of the log file and the run messages (the time is UTC; null: now).
bool FormatLogEntry(const char* text, UINT flags, HMODULE resourceLibrary, std::string& entry,
                    const FILETIME* when = nullptr);
// The path that MessageToFile writes for a file name: ".log" added when asked and missing.
std::string MessageFilePath(const char* fileName, bool addLogExtension);
// Opens the messages file for reading and writing (created when missing, mode 0640) and takes its
// lock, waiting up to `waitMs`; -1 with the last error set (32 when another holds the lock). Only a
// regular file of one name is opened, and a symbolic link as the last part of the path is not
// followed (5 then). Readers of the file take the same lock.
int OpenMessageFile(const char* path, DWORD waitMs);

// The payloads of the messenger requests, exactly as they travel (cbData = the size).
std::string MessageBoxPayload(DWORD owner, DWORD style, const char* text, const char* caption);
std::string MessageDialogPayload(DWORD word, const char* text);
std::string ExecutePayload(DWORD owner, DWORD wait, const char* file, const char* parameters,
                           const char* directory, const char* user, const char* domain, const char* password);
}  // namespace vtx::notify

// Requests to the messenger. Only the low 32 bits of the owner window travel.
HRESULT PipeMessageBox(HWND owner, const char* text, const char* caption, UINT style);
HRESULT PipeMessageDialog(DWORD word, const char* text);
// The messenger's reply (the program's exit code when waiting, else 0, or an HRESULT when the
// start failed); 0x8007053D when the request could not be delivered, 0x8007000E without memory.
HRESULT PipeExecute(HWND owner, const char* file, const char* parameters, const char* directory, const char* user,
                    const char* domain, const char* password, BOOL wait);
// Asks the messenger to delete the display-messages file (VXMSG_DELETEDISPLAYLOG). The result of
// the pipe call (0 when the request was delivered), never the messenger's answer.
constexpr DWORD kDeleteDisplayLogTimeoutMs = 8000;
HRESULT PipeDeleteDisplayLog();
// True when the messenger serves its pipe.
BOOL CanSendVXMMessages();

// Reads the next entry of a recipient list at *position and moves past it: "name" <address>,
// <address> or a bare address, entries ended by ',' or ';'. TRUE when an address was found;
// FALSE also for a quote or '<' without its partner.
BOOL GetMailAddress(const char** position, CStringA& name, CStringA& address);
