#include "engine/notify/notifychannels.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/timetext.h"
#include "engine/notify/pipemessage.h"
#include "platform/codepage.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/locale.h"
#include "platform/native/syscalls.h"
#include "platform/process.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"
#include "platform/systime.h"

const char g_szNotifyEventSource[] = "Hulvane Vantrex";

namespace {

constexpr HRESULT kEventLogMissing = 0x80070485;
constexpr UINT kFileFailureText = 215;
constexpr UINT kSourcePrefixText = 413;
constexpr UINT kEntryHeaderText = 414;
constexpr UINT kSourceEntryHeaderText = 415;
// How long a writer waits for another holder of the messages file before it gives up.
constexpr DWORD kFileLockWaitMs = 2000;


bool EndsWithNoCase(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && _stricmp(s.c_str() + s.size() - n, suffix) == 0;
}

DWORD WriteAt(int fd, const char* data, size_t size, off_t offset) {
  return FAILED(vtx::WriteFully(fd, data, size, offset)) ? GetLastError() : ERROR_SUCCESS;
}

DWORD ReadAt(int fd, char* data, size_t size, off_t offset) {
  size_t got = 0;
  if (FAILED(vtx::ReadFully(fd, data, size, &got, offset))) return GetLastError();
  return got == size ? ERROR_SUCCESS : ERROR_READ_FAULT;  // the file shrank under us
}

// Reserves the room first: a full disk then fails before a byte of the old contents is touched.
DWORD Reserve(int fd, off_t offset, off_t length) {
  int e = vtx::sys::Fallocate(fd, offset, length);
  return e ? vtx::Win32FromErrno(e) : ERROR_SUCCESS;
}

// Writes the entry into the locked file. On any failure the old contents and size are put back.
DWORD WriteEntry(int fd, const std::string& entry, bool onTop) {
  struct stat st{};
  if (vtx::sys::Fstat(fd, &st) != 0) return vtx::Win32FromErrno(errno);
  off_t oldSize = st.st_size;
  DWORD e;
  if (onTop && oldSize > 0) {
    std::string whole;
    try {
      whole.resize(entry.size() + static_cast<size_t>(oldSize));
    } catch (const std::bad_alloc&) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::memcpy(whole.data(), entry.data(), entry.size());
    e = ReadAt(fd, whole.data() + entry.size(), static_cast<size_t>(oldSize), 0);
    if (e) return e;
    e = Reserve(fd, 0, static_cast<off_t>(whole.size()));
    if (e) {
      // Nothing was overwritten; only the size may have moved.
      if (vtx::sys::Ftruncate(fd, oldSize) != 0) {
      }
      return e;
    }
    e = WriteAt(fd, whole.data(), whole.size(), 0);
    if (e) {
      // The room was there, so the old contents fit back where they were.
      if (WriteAt(fd, whole.data() + entry.size(), static_cast<size_t>(oldSize), 0) == ERROR_SUCCESS &&
          vtx::sys::Ftruncate(fd, oldSize) != 0) {
      }
      return e;
    }
  } else {
    e = Reserve(fd, oldSize, static_cast<off_t>(entry.size()));
    if (!e) e = WriteAt(fd, entry.data(), entry.size(), oldSize);
    if (e) {
      if (vtx::sys::Ftruncate(fd, oldSize) != 0) {
      }
      return e;
    }
  }
  return ERROR_SUCCESS;
}

void ReportFileFailure(HRESULT hr, const std::string& path, HMODULE module, CEventLog* eventLog) {
  char* system = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, hr, 0, reinterpret_cast<LPSTR>(&system), 0, nullptr);
  const char* reason = system && *system ? system : "-";
  char* text = PrintFormatMessage(kFileFailureText, module, reason);
  if (text) {
    MessageToLog(text, MB_ICONHAND, eventLog);
    LocalFree(text);
  } else {
    // Without the text the failure must still be seen.
    std::string fallback = "The messages file " + path + " could not be written: " + reason;
    MessageToLog(fallback.c_str(), MB_ICONHAND, eventLog);
  }
  LocalFree(system);
}

HRESULT SendToMessenger(DWORD request, const std::string& payload, DWORD timeoutMs, DWORD* reply) {
  COPYDATASTRUCT cds{request, static_cast<DWORD>(payload.size()), const_cast<char*>(payload.data())};
  CPipeMessageClient client;
  return client.SendMessageTimeoutA(g_szMessengerPipe, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), timeoutMs,
                                    reply);
}

void PutU32(std::string& out, DWORD v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void PutText(std::string& out, const char* text) {
  if (text) out += text;
  out.push_back('\0');
}
// The stated size has 4 bytes more than the fields; they travel as zeros.
void PutSlack(std::string& out) { out.append(4, '\0'); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

MessageKind GetMessageKind(UINT flags) {
  // Titles of entries ("... error from <machine>") and the words for their types.
  constexpr UINT kInformationTitleText = 167, kWarningTitleText = 168, kErrorTitleText = 169;
  constexpr UINT kErrorWordText = 370, kWarningWordText = 371, kInformationWordText = 372, kMessageWordText = 373;
  switch (flags & 0xF0) {
    case MB_ICONHAND: return {EVENTLOG_ERROR_TYPE, kErrorTitleText, kErrorWordText};
    case MB_ICONEXCLAMATION: return {EVENTLOG_WARNING_TYPE, kWarningTitleText, kWarningWordText};
    case MB_USERICON: return {EVENTLOG_INFORMATION_TYPE, kInformationTitleText, kMessageWordText};
    default: return {EVENTLOG_INFORMATION_TYPE, kInformationTitleText, kInformationWordText};
  }
}

BOOL GetComputerDomainName(char* buffer, DWORD size) {
  if (!buffer || !size) return FALSE;
  DWORD n = size;
  if (GetComputerNameExA(ComputerNameDnsFullyQualified, buffer, &n)) return TRUE;
  // The full name does not fit: the host label, then "." and as much of the domain as fits.
  n = size;
  if (!GetComputerNameA(buffer, &n)) return FALSE;
  size_t used = std::strlen(buffer);
  if (size - used < 2) return TRUE;
  char domain[256];
  DWORD d = sizeof domain;
  if (!GetComputerNameExA(ComputerNameDnsDomain, domain, &d) || !domain[0]) return TRUE;
  buffer[used++] = '.';
  size_t room = size - used - 1;
  size_t take = std::strlen(domain) < room ? std::strlen(domain) : room;
  std::memcpy(buffer + used, domain, take);
  buffer[used + take] = 0;
  return TRUE;
}

char* MakeMessageTitle(UINT flags, HMODULE resourceLibrary) {
  char name[115];
  if (!GetComputerDomainName(name, sizeof name)) std::strcpy(name, "-");
  return PrintFormatMessage(GetMessageKind(flags).titleId, resourceLibrary, name);
}

BOOL GetRecentOnTop() {
  RegDwordValue value;
  if (FAILED(value.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "MessagesFileRecentOnTop"))) return TRUE;
  return value != 0 ? TRUE : FALSE;
}

HRESULT MessageToLog(const char* text, UINT flags, CEventLog* eventLog) {
  if (!eventLog) return E_POINTER;
  if (!eventLog->IsAvailable()) return kEventLogMissing;
  HANDLE source = eventLog->m_pRegisterEventSourceA(nullptr, g_szNotifyEventSource);
  if (!source) return E_FAIL;
  LPCSTR strings[1] = {text ? text : ""};
  eventLog->m_pReportEventA(source, GetMessageKind(flags).eventType, 0, kNotificationEventId, nullptr, 1, 0, strings,
                            nullptr);
  eventLog->m_pDeregisterEventSource(source);
  return S_OK;
}

namespace vtx::notify {

bool FormatLogEntry(const char* text, UINT flags, HMODULE resourceLibrary, std::string& entry, const FILETIME* when) {
  FILETIME now{};
  if (when)
    now = *when;
  else
    GetSystemTimeAsFileTime(&now);
  char stamp[32] = "-";
  TimeToString(now, stamp);
  char* title = MakeMessageTitle(flags, resourceLibrary);
  std::string titleText;
  if (title) {
    titleText = title;
    LocalFree(title);
  } else {
    // Without its title string an entry still names the machine it came from.
    char name[115];
    titleText = GetComputerDomainName(name, sizeof name) ? name : "-";
  }
  try {
    entry = "---\r\n";
    entry += stamp;
    entry += ' ';
    entry += titleText;
    entry += "\r\n";
    entry += text ? text : "";
    entry += "\r\n";
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

std::string MessageFilePath(const char* fileName, bool addLogExtension) {
  std::string path = fileName ? fileName : "";
  if (addLogExtension && !path.empty() && !EndsWithNoCase(path, ".log")) path += ".log";
  return path;
}

int OpenMessageFile(const char* path, DWORD waitMs) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_NAME);
    return -1;
  }
  // Whoever names the file must not make us write through a link, into a device or a FIFO, or
  // into a file that has another name elsewhere; nor make root write where that one may not.
  vtx::ScopedFd fd;
  {
    vtx::ProductFileAccess rights(path);
    if (!rights.Ok()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return -1;
    }
    fd = vtx::OpenFile(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0640);
    if (!fd) {
      if (errno == ELOOP) SetLastError(ERROR_ACCESS_DENIED);
      return -1;
    }
  }
  struct stat st;
  if (vtx::sys::Fstat(fd.Get(), &st) != 0) {
    vtx::SetLastErrorFromErrno();
    return -1;
  }
  if (!S_ISREG(st.st_mode) || st.st_nlink > 1) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  int flags = vtx::sys::Fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || vtx::sys::Fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    vtx::SetLastErrorFromErrno();
    return -1;
  }
  if (FAILED(vtx::LockWithin(fd.Get(), waitMs))) return -1;
  return fd.Release();
}

std::string MessageBoxPayload(DWORD owner, DWORD style, const char* text, const char* caption) {
  std::string p;
  PutU32(p, owner);
  PutU32(p, style);
  PutText(p, text);
  PutText(p, caption);
  PutSlack(p);
  return p;
}

std::string MessageDialogPayload(DWORD word, const char* text) {
  std::string p;
  PutU32(p, word);
  PutText(p, text);
  PutSlack(p);
  return p;
}

std::string ExecutePayload(DWORD owner, DWORD wait, const char* file, const char* parameters, const char* directory,
                           const char* user, const char* domain, const char* password) {
  std::string p;
  PutU32(p, owner);
  PutU32(p, wait);
  for (const char* s : {file, parameters, directory, user, domain, password}) PutText(p, s);
  PutSlack(p);
  return p;
}

}  // namespace vtx::notify

HRESULT MessageToFile(const char* text, UINT flags, const char* fileName, HMODULE resourceLibrary,
                      CEventLog* eventLog, BOOL addLogExtension) {
  if (!text || !fileName || !*fileName) return S_OK;
  std::string path;
  std::string entry;
  DWORD e = ERROR_SUCCESS;
  try {
    path = vtx::notify::MessageFilePath(fileName, addLogExtension != FALSE);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!vtx::notify::FormatLogEntry(text, flags, resourceLibrary, entry)) {
    e = ERROR_NOT_ENOUGH_MEMORY;
  } else {
    vtx::ScopedFd fd(vtx::notify::OpenMessageFile(path.c_str(), kFileLockWaitMs));
    if (!fd) {
      e = GetLastError();
    } else {
      e = WriteEntry(fd.Get(), entry, GetRecentOnTop() != FALSE);
      if (e == ERROR_SUCCESS && FAILED(fd.Close())) e = GetLastError();
    }
  }
  if (e == ERROR_SUCCESS) return S_OK;
  HRESULT hr = HRESULT_FROM_WIN32(e);
  ReportFileFailure(hr, path, resourceLibrary, eventLog);
  return hr;
}

BOOL MessageToString(const char* text, UINT flags, CStringA& output, HMODULE resourceLibrary) {
  if (!text) return FALSE;
  std::string entry;
  if (!vtx::notify::FormatLogEntry(text, flags, resourceLibrary, entry)) return FALSE;
  if (GetRecentOnTop() && !output.IsEmpty()) {
    CString<char> joined;
    joined = entry.c_str();
    if (joined.IsNull() || !joined.Merge(output)) return FALSE;
    output = std::move(joined);
    return TRUE;
  }
  CString<char> appended;
  appended = output.c_str();
  if (appended.IsNull() || !appended.Merge(entry.c_str())) return FALSE;
  output = std::move(appended);
  return TRUE;
}

char* DisplayMessageEntry(const char* title, UINT flags, HMODULE resourceLibrary) {
  try {
    std::string typeWord = LoadText(resourceLibrary, GetMessageKind(flags).typeWordId, 149);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    std::string date, time;
    char stamp[32] = "";
    TimeToString(now, stamp);
    std::string timeText;
    if (vtx::FormatLocalDateTime(now, GetUserDefaultLCID(), &date, &time)) timeText = date + " " + time + " ";
    timeText += "(";
    timeText += stamp;
    timeText += ")";
    UINT format = kEntryHeaderText;
    std::string prefix = LoadText(resourceLibrary, kSourcePrefixText, 3999);
    size_t colon = prefix.find(':');
    if (title && colon != std::string::npos && std::strncmp(title, prefix.c_str(), colon + 1) == 0)
      format = kSourceEntryHeaderText;
    return PrintFormatMessage(format, resourceLibrary, timeText.c_str(), typeWord.c_str(), title ? title : "");
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HRESULT PipeMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
  if (!text || !caption) return E_INVALIDARG;
  std::string payload;
  try {
    payload = vtx::notify::MessageBoxPayload(static_cast<DWORD>(reinterpret_cast<uintptr_t>(owner)), style, text,
                                             caption);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  DWORD reply = 0;
  return SendToMessenger(VXMSG_MESSAGEBOX, payload, kMessengerTimeoutMs, &reply);
}

HRESULT PipeMessageDialog(DWORD word, const char* text) {
  if (!text) return E_INVALIDARG;
  std::string payload;
  try {
    payload = vtx::notify::MessageDialogPayload(word, text);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  DWORD reply = 0;
  return SendToMessenger(VXMSG_MESSAGEDIALOG, payload, kMessengerTimeoutMs, &reply);
}

HRESULT PipeExecute(HWND owner, const char* file, const char* parameters, const char* directory, const char* user,
                    const char* domain, const char* password, BOOL wait) {
  std::string payload;
  try {
    payload = vtx::notify::ExecutePayload(static_cast<DWORD>(reinterpret_cast<uintptr_t>(owner)), wait ? 1 : 0, file,
                                          parameters, directory, user, domain, password);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  DWORD reply = 0;
  // With the wait flag the reply comes when the program ends: the messenger's own limit for a waited
  // program, and a margin, bound it. Only a pipe that nobody serves means "messenger out of reach"; a
  // request that was delivered and then failed must not make the caller start the program again itself.
  HRESULT hr = SendToMessenger(VXMSG_EXECUTE, payload, wait ? kExecuteWaitTimeoutMs : kMessengerTimeoutMs, &reply);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return E_SERVER_UNAVAILABLE;
  if (FAILED(hr)) return hr;
  return reply;
}

HRESULT PipeDeleteDisplayLog() {
  CPipeMessageClient client;
  return client.SendMessageTimeoutA(g_szMessengerPipe, VXMSG_DELETEDISPLAYLOG, 0, 0, kDeleteDisplayLogTimeoutMs, nullptr);
}

BOOL CanSendVXMMessages() { return CPipeMessageClient::PipeExists(g_szMessengerPipe); }

BOOL GetMailAddress(const char** position, CStringA& name, CStringA& address) {
  name.Empty();
  address.Empty();
  if (!position || !*position) return FALSE;
  const char* p = *position;
  bool found = false;
  auto take = [](CStringA& out, const char* begin, const char* end) {
    size_t n = static_cast<size_t>(end - begin);
    char* block = static_cast<char*>(GlobalAlloc(0, n + 1));
    if (!block) return false;
    std::memcpy(block, begin, n);
    block[n] = 0;
    out.Attach(block);
    return true;
  };
  while (*p) {
    char c = *p;
    if (IsBlank(c)) {
      ++p;
    } else if (c == ',' || c == ';') {
      ++p;
      if (found) break;
      // An empty entry ("a;;b") is passed over rather than ending the list.
      name.Empty();
    } else if (c == '"') {
      const char* end = std::strchr(p + 1, '"');
      if (!end) {
        *position = p + std::strlen(p);
        return FALSE;
      }
      if (!take(name, p + 1, end)) return FALSE;
      p = end + 1;
    } else if (c == '<') {
      const char* end = std::strchr(p + 1, '>');
      if (!end) {
        *position = p + std::strlen(p);
        return FALSE;
      }
      if (!take(address, p + 1, end)) return FALSE;
      found = true;
      p = end + 1;
    } else {
      const char* end = p;
      while (*end && !IsBlank(*end) && *end != ',' && *end != ';') ++end;
      if (!take(address, p, end)) return FALSE;
      found = true;
      p = end;
    }
  }
  *position = p;
  return found ? TRUE : FALSE;
}

