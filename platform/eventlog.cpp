#include "platform/eventlog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"
#include "platform/resources.h"

namespace {

constexpr uint32_t kMagic = 0x45564C47;  // "EVLG"
constexpr size_t kMaxDatagram = 8192;
constexpr int kFacilityDaemon = 3;

std::mutex g_tableMutex;
const vtx::EventMessageText* g_table = nullptr;
size_t g_tableCount = 0;

bool OwnTableText(DWORD id, std::string& text) {
  std::lock_guard<std::mutex> lock(g_tableMutex);
  const vtx::EventMessageText* t = g_table;
  for (size_t i = 0; t && i < g_tableCount; ++i)
    if (t[i].id == id) {
      text = t[i].utf8;
      return true;
    }
  return false;
}

struct EventSource {
  uint32_t magic = kMagic;
  std::string ident;
};

EventSource* Source(HANDLE h) {
  auto* s = static_cast<EventSource*>(h);
  return s && s->magic == kMagic ? s : nullptr;
}

int Severity(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return 3;     // err
    case EVENTLOG_WARNING_TYPE: return 4;   // warning
    case EVENTLOG_AUDIT_FAILURE: return 4;
    case EVENTLOG_AUDIT_SUCCESS: return 5;  // notice
    default: return 6;                      // info
  }
}

const char* TypeName(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE: return "error";
    case EVENTLOG_WARNING_TYPE: return "warning";
    case EVENTLOG_AUDIT_SUCCESS: return "audit success";
    case EVENTLOG_AUDIT_FAILURE: return "audit failure";
    default: return "information";
  }
}

// The entry's text: the message-table text with its inserts; the inserts alone when the table
// has no such entry or the text names more inserts than were given.
std::string EntryText(DWORD eventId, WORD numStrings, LPCSTR* strings) {
  std::vector<FormatInsert> items;
  for (WORD i = 0; i < numStrings; ++i) items.emplace_back(strings && strings[i] ? strings[i] : "");
  FormatInserts inserts{items.data(), items.size()};
  std::string table;
  if (vtx::MessageTableText(nullptr, eventId, table) || OwnTableText(eventId, table)) {
    std::u16string source = vtx::Utf8ToWide(table);
    char16_t* out = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, source.c_str(), 0, 0,
                             reinterpret_cast<LPWSTR>(&out), 0, &inserts);
    // Inserts that make the text empty (an empty message for "%1") give an empty entry, not the
    // text with its inserts unfilled.
    if (!n && GetLastError() == ERROR_SUCCESS) return std::string();
    if (!n)
      n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                         source.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&out), 0, nullptr);
    std::string text = n ? vtx::WideToUtf8(std::u16string(out, n)) : std::string();
    LocalFree(out);
    if (n) return text;
  }
  std::string text;
  for (WORD i = 0; i < numStrings; ++i) {
    if (i) text += ' ';
    text += vtx::AnsiToUtf8(strings && strings[i] ? strings[i] : "");
  }
  return text;
}

// One line that a terminal shows as it is: line breaks become blanks, trailing blanks go, and
// every other control character (C0, DEL, and C1 in UTF-8) is written as \xNN.
std::string OneLine(const std::string& s) {
  std::string r;
  auto escape = [&r](unsigned char c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    r += hex;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '\r' || c == '\n') {
      if (!r.empty() && r.back() != ' ') r += ' ';
    } else if (c < 0x20 || c == 0x7F) {
      escape(c);
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
      escape(static_cast<unsigned char>(s[++i]));  // U+0080 to U+009F
    } else {
      r += static_cast<char>(c);
    }
  }
  while (!r.empty() && r.back() == ' ') r.pop_back();
  return r;
}

// True when the system log took the datagram.
bool Send(const std::string& datagram) {
  const char* path = vtx::env::Get(vtx::env::kSyslogSocket, vtx::env::kDefaultSyslogSocket);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) return false;
  std::strcpy(addr.sun_path, path);
  int fd = vtx::sys::Socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // A full or missing listener loses the entry rather than stopping the program.
  ssize_t r = vtx::sys::Sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  vtx::sys::Close(fd);
  return r == static_cast<ssize_t>(datagram.size());
}

std::atomic<bool> g_foreground{true};

}  // namespace

namespace vtx {
void SetEventLogForeground(bool foreground) { g_foreground = foreground; }

void SetEventMessageTable(const EventMessageText* table, size_t count) {
  std::lock_guard<std::mutex> lock(g_tableMutex);
  g_table = table;
  g_tableCount = table ? count : 0;
}
}  // namespace vtx

HANDLE RegisterEventSourceA(LPCSTR server, LPCSTR source) {
  if (server && *server) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (!source || !*source) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* s = vtx::heap::New<EventSource>();
  if (!s) return nullptr;
  for (const char* p = source; *p; ++p)
    if (*p != ' ' && *p != '\t') s->ident += *p;
  s->ident = vtx::AnsiToUtf8(s->ident);
  return s;
}

BOOL DeregisterEventSource(HANDLE eventLog) {
  EventSource* s = Source(eventLog);
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  s->magic = 0;
  delete s;
  return TRUE;
}

BOOL ReportEventA(HANDLE eventLog, WORD type, WORD, DWORD eventId, PSID, WORD numStrings, DWORD dataSize,
                  LPCSTR* strings, LPVOID rawData) {
  EventSource* s = Source(eventLog);
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((numStrings && !strings) || (dataSize && !rawData)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char head[128];
  timespec clock{};
  vtx::sys::ClockGettime(CLOCK_REALTIME, &clock);
  time_t now = clock.tv_sec;
  tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::snprintf(stamp, sizeof stamp, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon], local.tm_mday, local.tm_hour,
                local.tm_min, local.tm_sec);
  std::snprintf(head, sizeof head, "<%d>%s ", kFacilityDaemon * 8 + Severity(type), stamp);
  const size_t headLength = std::strlen(head);
  std::string msg = head + s->ident + "[" + std::to_string(vtx::sys::Getpid()) + "]: ";
  char id[64];
  std::snprintf(id, sizeof id, "event 0x%08X %s: ", eventId, TypeName(type));
  msg += id;
  msg += OneLine(EntryText(eventId, numStrings, strings));
  if (dataSize) {
    msg += " [data:";
    const auto* b = static_cast<const unsigned char*>(rawData);
    for (DWORD i = 0; i < dataSize && msg.size() < kMaxDatagram; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", b[i]);
      msg += hex;
    }
    msg += "]";
  }
  if (msg.size() > kMaxDatagram) {
    size_t n = kMaxDatagram;
    while (n > 0 && (static_cast<unsigned char>(msg[n]) & 0xC0) == 0x80) --n;
    msg.resize(n);
  }
  if (!Send(msg) && g_foreground) {
    // Nobody takes it: a program in the foreground shows it on stderr, one line per entry.
    std::string line = msg.substr(headLength) + "\n";
    ssize_t w = vtx::sys::Write(STDERR_FILENO, line.data(), line.size());
    (void)w;
  }
  return TRUE;
}
