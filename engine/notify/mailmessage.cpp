#include "engine/notify/mailmessage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/foundation/base64.h"
#include "platform/files.h"
#include "platform/codepage.h"
#include "platform/native/syscalls.h"
#include "platform/sync.h"

namespace {

constexpr char kBoundary[] = "---=_Next_Part_of_Message_987456321147852369";
constexpr char kAlternativesBoundary[] = "---=_Next_Part_of_Text_HTML_Alternatives_13579820350782";
constexpr size_t kHeaderLineLimit = 998;

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e + 1 - b);
}

// A quoted string of a header: '"' and '\' escaped.
std::string QuotedString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The MIME name of an iconv code-page name.
std::string MimeCharset(const std::string& name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (lower.rfind("cp", 0) == 0 && lower.size() > 2 && lower.find_first_not_of("0123456789", 2) == std::string::npos) {
    int number = std::atoi(lower.c_str() + 2);
    if ((number >= 1250 && number <= 1258) || number == 874) return "windows-" + lower.substr(2);
    return "ibm" + lower.substr(2);
  }
  if (lower == "utf8") return "utf-8";
  return lower;
}

// The reply's lines as one line of text, for a failure message.
std::string OneLine(const std::string& reply) {
  std::string out;
  for (char c : reply) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
  }
  return out;
}

// Lines that begin with '.' get one more, so that none of them ends the DATA part.
std::string DotStuffed(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = c == '\n';
  }
  return out;
}

void AddDate(std::string& out) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  timespec clock{};
  vtx::sys::ClockGettime(CLOCK_REALTIME, &clock);
  std::time_t now = clock.tv_sec;
  std::tm t{};
  localtime_r(&now, &t);
  long offset = t.tm_gmtoff / 60;  // east of UTC is positive
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[80];
  std::snprintf(text, sizeof text, "Date: %s, %u %s %u %02u:%02u:%02u %c%02ld%02ld\r\n", kDays[t.tm_wday % 7],
                static_cast<unsigned>(t.tm_mday), kMonths[t.tm_mon % 12], static_cast<unsigned>(t.tm_year + 1900),
                static_cast<unsigned>(t.tm_hour), static_cast<unsigned>(t.tm_min), static_cast<unsigned>(t.tm_sec), sign,
                offset / 60, offset % 60);
  out += text;
}

// "To: " or "Cc: " with the addresses, folded before a line would pass 998 characters.
void AddAddressHeader(std::string& out, const char* header, const std::vector<MailMessage::MailAddress>& list) {
  out += header;
  size_t length = 4;
  for (size_t i = 0; i < list.size(); ++i) {
    std::string text = list[i].toString();
    if (i) {
      out += ", ";
      length += 2;
    }
    if (length + text.size() > kHeaderLineLimit) {
      out += "\r\n ";
      length = 1;
    }
    out += text;
    length += text.size();
  }
  out += "\r\n";
}

std::string Base64Lines(const void* data, size_t size) {
  Base64Coder coder;
  if (size > UINT32_MAX || !coder.Encode(static_cast<const BYTE*>(data), static_cast<uint32_t>(size))) return "";
  std::string all(coder.EncodedMessage() ? coder.EncodedMessage() : "", coder.GetEncodedLength());
  std::string out;
  for (size_t i = 0; i < all.size(); i += 76) out += all.substr(i, 76) + "\r\n";
  return out;
}

// A file name as a quoted header parameter: no path, no control characters.
std::string FileParameter(const std::string& name) {
  std::string clean;
  for (unsigned char c : name) clean += IsControl(c) ? '_' : static_cast<char>(c);
  return QuotedString(clean);
}

// The content headers of the body: a multipart body carries its parts' encodings, not one of its own.
std::string BodyHeaders(const std::string& contentType) {
  std::string out = "Content-Type: " + contentType + "\r\n";
  if (contentType.compare(0, 10, "multipart/") != 0) out += "Content-Transfer-Encoding: quoted-printable\r\n";
  return out;
}

}  // namespace

bool IsValidMailAddress(const char* address) {
  if (!address || !*address) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(address); *p; ++p)
    if (IsControl(*p) || *p == ' ' || *p == '<' || *p == '>') return false;
  return true;
}

bool IsValidMailName(const char* name) {
  if (!name) return true;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
    if (IsControl(*p)) return false;
  return true;
}

bool ParseMailEntry(const std::string& entry, std::string* name, std::string* address) {
  name->clear();
  address->clear();
  std::string e = Trim(entry);
  if (e.empty()) return false;
  size_t open = e.find('<');
  if (open == std::string::npos) {
    *address = e;
  } else {
    size_t close = e.find('>', open);
    if (close == std::string::npos || close + 1 != e.size()) return false;
    *address = e.substr(open + 1, close - open - 1);
    std::string n = Trim(e.substr(0, open));
    if (n.size() >= 2 && n.front() == '"' && n.back() == '"') n = n.substr(1, n.size() - 2);
    else if (n.find('"') != std::string::npos) return false;
    *name = n;
  }
  return IsValidMailAddress(address->c_str()) && IsValidMailName(name->c_str());
}

namespace vtx::mail {

std::string CharsetOf(const std::string& text) {
  return IsAscii(text) ? "us-ascii" : MimeCharset(vtx::AnsiCodePageName());
}

std::string EncodeHeaderText(const std::string& text) {
  if (IsAscii(text)) return text;
  const std::string charset = CharsetOf(text);
  const bool utf8 = charset == "utf-8";
  std::string out;
  // Words of at most 75 characters; a UTF-8 character never spans two of them.
  const size_t chunk = 39;
  for (size_t i = 0; i < text.size();) {
    size_t n = std::min(chunk, text.size() - i);
    if (utf8)
      while (n > 1 && i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) --n;
    std::string b64 = Base64Lines(text.data() + i, n);
    b64.resize(b64.size() - 2);  // one line: no line end
    if (!out.empty()) out += "\r\n ";
    out += "=?" + charset + "?B?" + b64 + "?=";
    i += n;
  }
  return out;
}

}  // namespace vtx::mail

std::string MailMessage::MailAddress::toString() const {
  if (name.empty()) return address;
  std::string shown = IsAscii(name) ? QuotedString(name) : vtx::mail::EncodeHeaderText(name);
  return shown + " <" + address + ">";
}

// ---------------------------------------------------------------- socket

ClientStreamSocket::ClientStreamSocket(const char* host, uint16_t port, DWORD timeoutMs) : m_dwTimeoutMs(timeoutMs) {
  m_dwError = m_socket.Connect(host, port, timeoutMs);
  if (m_dwError == 0) {
    m_state = Connected;
    m_bConnected = TRUE;
  } else if (m_dwError == WSAHOST_NOT_FOUND || m_dwError == WSATRY_AGAIN || m_dwError == WSANO_DATA ||
             m_dwError == WSANO_RECOVERY) {
    m_state = HostNotResolved;
  } else {
    m_state = ConnectFailed;
  }
}

ClientStreamSocket::~ClientStreamSocket() { Close(); }

uint64_t ClientStreamSocket::StepDeadline() {
  uint64_t own = vtx::sync::DeadlineAfter(m_dwTimeoutMs);
  m_deadlinePassed = false;
  if (m_deadline < own) {
    m_deadlinePassed = true;  // true only when the step fails for lack of time
    return m_deadline;
  }
  return own;
}

BOOL ClientStreamSocket::Send(const std::string& text) {
  if (!m_bConnected) return FALSE;
  const uint64_t deadline = StepDeadline();
  const bool byDeadline = m_deadlinePassed;
  int left = vtx::sync::MsUntil(deadline);
  m_dwError = left == 0 ? static_cast<DWORD>(WSAETIMEDOUT)
                        : m_socket.Send(text.data(), text.size(), left < 0 ? INFINITE : static_cast<DWORD>(left));
  m_deadlinePassed = byDeadline && m_dwError == WSAETIMEDOUT;
  return m_dwError == 0 ? TRUE : FALSE;
}

std::string ClientStreamSocket::Receive() {
  if (!m_bConnected) return "";
  char buffer[4096];
  size_t got = 0;
  m_dwError = m_socket.Receive(buffer, sizeof buffer, &got, m_dwTimeoutMs);
  return m_dwError ? std::string() : std::string(buffer, got);
}

int SmtpReplyReader::Take(std::string* reply) {
  size_t end;
  while ((end = m_pending.find('\n')) != std::string::npos) {
    std::string line = m_pending.substr(0, end + 1);
    m_pending.erase(0, end + 1);
    m_partial += line;
    // "250-..." goes on; "250 ...", a bare "250" or a line of another form ends the reply.
    bool more = line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == '-';
    if (!more) {
      *reply = std::move(m_partial);
      m_partial.clear();
      while (!reply->empty() && (reply->back() == '\n' || reply->back() == '\r')) reply->pop_back();
      return 1;
    }
    if (m_partial.size() > kMaxReply) return -1;
  }
  return m_partial.size() + m_pending.size() > kMaxReply ? -1 : 0;
}

bool ClientStreamSocket::ReceiveReply(std::string* reply) {
  reply->clear();
  if (!m_bConnected) return false;
  const uint64_t deadline = StepDeadline();
  const bool byDeadline = m_deadlinePassed;
  m_deadlinePassed = false;
  for (;;) {
    int taken = m_reader.Take(reply);
    if (taken > 0) return true;
    if (taken < 0) {
      m_dwError = WSAENOBUFS;
      return false;
    }
    char buffer[4096];
    size_t got = 0;
    int left = vtx::sync::MsUntil(deadline);
    m_dwError = left == 0 ? static_cast<DWORD>(WSAETIMEDOUT)
                          : m_socket.Receive(buffer, sizeof buffer, &got, left < 0 ? INFINITE : static_cast<DWORD>(left));
    if (m_dwError) {
      m_deadlinePassed = byDeadline && m_dwError == WSAETIMEDOUT;
      return false;
    }
    if (got == 0) return false;  // closed
    m_reader.Add(buffer, got);
  }
}

void ClientStreamSocket::Close() {
  if (m_bConnected) {
    m_socket.Close();
    m_bConnected = FALSE;
  }
}

// ---------------------------------------------------------------- message

MailMessage::MailMessage(const char* fromName, const char* fromAddress, const char* server, const char* mailer)
    : m_server(server ? server : ""), m_mailer(mailer ? mailer : "") {
  m_from.name = fromName ? fromName : "";
  m_from.address = fromAddress ? fromAddress : "";
  m_valid = (m_from.address.empty() || IsValidMailAddress(m_from.address.c_str())) &&
            IsValidMailName(m_from.name.c_str());
  Body("");
}

bool MailMessage::Add(std::vector<MailAddress>& list, const char* address, const char* name) {
  if (!IsValidMailAddress(address) || !IsValidMailName(name)) return false;
  list.push_back(MailAddress{name ? name : "", address});
  return true;
}

bool MailMessage::To(const char* address, const char* name) { return Add(m_to, address, name); }
bool MailMessage::Cc(const char* address, const char* name) { return Add(m_cc, address, name); }
bool MailMessage::Bcc(const char* address, const char* name) { return Add(m_bcc, address, name); }

void MailMessage::Subject(const char* text) {
  // The subject is one header line: control characters become blanks.
  m_subject.clear();
  for (const char* p = text ? text : ""; *p; ++p) m_subject += IsControl(static_cast<unsigned char>(*p)) ? ' ' : *p;
}

void MailMessage::Body(const char* text) {
  m_contentType = "text/plain; charset=\"" + vtx::mail::CharsetOf(text ? text : "") + "\"";
  m_body = EncodeQuotedPrintable(text);
}

void MailMessage::Body(const char* text, const char* html) {
  const std::string b = kAlternativesBoundary;
  auto part = [&b](const char* type, const char* content) {
    return "--" + b + "\r\nContent-Type: " + type + "; charset=\"" + vtx::mail::CharsetOf(content ? content : "") +
           "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + EncodeQuotedPrintable(content) + "\r\n";
  };
  m_contentType = "multipart/alternative; boundary=\"" + b + "\"";
  m_body = "\r\n" + part("text/plain", text) + part("text/html", html) + "--" + b + "--";
}

bool MailMessage::Attach(const char* fileName) {
  MailAttachment a;
  if (!a.Load(fileName)) return false;
  m_attachments.push_back(std::move(a));
  return true;
}

bool MailMessage::MailAttachment::Load(const char* file) {
  if (!file) return false;
  std::string bytes;
  try {
    if (FAILED(vtx::ReadWholeFile(file, &bytes))) return false;
    std::string name = file;
    // The type of the name's last three characters; a shorter name has none.
    std::string ending = name.size() >= 3 ? name.substr(name.size() - 3) : std::string();
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const struct {
      const char* ending;
      const char* type;
    } kTypes[] = {{"gif", "image/gif"},          {"jpg", "image/jpeg"}, {"zip", "application/zip"},
                  {"wav", "audio/microsoft-wav"}, {"htm", "text/html"},  {"txt", "text/plain"}};
    std::string type = "application/octet-stream";
    for (const auto& t : kTypes)
      if (ending == t.ending) type = t.type;
    std::string encoded = Base64Lines(bytes.data(), bytes.size());
    if (encoded.empty() && !bytes.empty()) return false;
    data = std::move(encoded);
    fileName = std::move(name);
    mimeType = std::move(type);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void MailMessage::MailAttachment::Base64Encode(const void* bytes, size_t length) { data = Base64Lines(bytes, length); }

const char* FilePart(const char* path) {
  if (!path) return nullptr;
  const char* part = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') part = p + 1;
  return part;
}

void MailMessage::Attach(const void* data, size_t size, const char* fileName, const char* mimeType) {
  m_attachments.push_back(MailAttachment{Base64Lines(data, size), fileName ? fileName : "",
                                         mimeType && *mimeType ? mimeType : "application/octet-stream"});
}

std::string MailMessage::EncodeQuotedPrintable(const char* text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  if (!text) return out;
  size_t column = 0;
  auto encode = [&](unsigned char c) {
    out += '=';
    out += kHex[c >> 4];
    out += kHex[c & 15];
    column += 3;
  };
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (column >= 73) {
      out += "=\r\n";
      column = 0;
    }
    if (c == '\n' || (c == '\r' && p[1] == '\n')) {
      // Every line end goes out as CR LF, a lone LF as well.
      if (c == '\r') ++p;
      out += "\r\n";
      column = 0;
    } else if (c == ' ' || c == '\t') {
      // A blank at the end of a line (or of the text) would be lost on the way.
      if (p[1] == '\r' || p[1] == '\n' || p[1] == 0) {
        encode(c);
      } else {
        out += static_cast<char>(c);
        ++column;
      }
    } else if ((c >= 33 && c <= 60) || (c >= 62 && c <= 126)) {
      out += static_cast<char>(c);
      ++column;
    } else {
      encode(c);  // '=', bytes of 127 and above, a lone CR and the other control characters
    }
  }
  return out;
}

std::string MailMessage::FormatForSending() const {
  std::string out;
  if (!m_from.address.empty()) out += "From: " + m_from.toString() + "\r\n";
  AddAddressHeader(out, "To: ", m_to);
  AddAddressHeader(out, "Cc: ", m_cc);
  out += "Subject: " + vtx::mail::EncodeHeaderText(m_subject) + "\r\n";
  AddDate(out);
  out += "Mime-Version: 1.0\r\n";
  if (!m_mailer.empty()) out += "X-Mailer: " + m_mailer + "\r\n";
  if (m_attachments.empty()) {
    out += BodyHeaders(m_contentType) + "\r\n" + m_body;
    return out;
  }
  out += std::string("Content-Type: multipart/mixed; boundary=\"") + kBoundary + "\"\r\n\r\n";
  out += std::string("--") + kBoundary + "\r\n" + BodyHeaders(m_contentType) + "\r\n" + m_body + "\r\n";
  for (const MailAttachment& a : m_attachments) {
    size_t slash = a.fileName.find_last_of("\\/");
    std::string base = slash == std::string::npos ? a.fileName : a.fileName.substr(slash + 1);
    out += std::string("--") + kBoundary + "\r\nContent-Type: " + a.mimeType + "; name=" + FileParameter(a.fileName) +
           "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" +
           FileParameter(base) + "\r\n\r\n" + a.data;
  }
  out += std::string("--") + kBoundary + "--\r\n";
  return out;
}

void MailMessage::Send(std::string& error) {
  error.clear();
  if (!m_valid || m_from.address.empty()) {
    error = "The sender address \"" + m_from.address + "\" is not a valid e-mail address";
    return;
  }
  // The server may name its port: "host:port" (an IPv6 literal in brackets).
  std::string host = m_server;
  uint16_t port = kSmtpPort;
  size_t colon = host.rfind(':');
  const bool bareIpv6 = host[0] != '[' && std::count(host.begin(), host.end(), ':') > 1;
  if (colon != std::string::npos && !bareIpv6 && (host[0] != '[' || host[colon - 1] == ']')) {
    std::string digits = host.substr(colon + 1);
    unsigned long number = digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos
                               ? 0
                               : std::strtoul(digits.c_str(), nullptr, 10);
    if (number == 0 || number > 0xFFFF) {
      error = "Unable to resolve SMTP server's hostname";
      return;
    }
    port = static_cast<uint16_t>(number);
    host.erase(colon);
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);

  // The whole dialogue has a limit of its own, so that a server that answers each step just in time
  // cannot hold the sender for long.
  const uint64_t deadline = vtx::sync::DeadlineAfter(m_totalMs);
  const std::string total = std::to_string((m_totalMs + 999) / 1000);
  ClientStreamSocket socket(host.c_str(), port, m_totalMs < m_timeoutMs ? m_totalMs : m_timeoutMs);
  socket.SetDeadline(deadline);
  if (!socket.IsConnected()) {
    const char* reason = vtx::SystemErrorText(socket.GetLastSocketError());
    if (socket.GetState() == ClientStreamSocket::HostNotResolved)
      error = "Unable to resolve SMTP server's hostname";
    else
      error = "Unable to connect to SMTP server port " + std::to_string(port) + (reason ? std::string(": ") + reason : "");
    return;
  }

  const std::string seconds = std::to_string((m_timeoutMs + 999) / 1000);
  // One command and its reply (no command: the greeting); false with the error set when the reply
  // is not the expected one.
  auto step = [&](const std::string& command, const char* what, const char* expected, const char* alsoGood) {
    const bool greeting = command.empty();
    auto late = [&] {
      error = "The SMTP server " + m_server + " did not finish the dialogue within " + total +
              " seconds (stopped at " + what + ")";
      return false;
    };
    if (!greeting && !socket.Send(command)) {
      if (socket.DeadlinePassed()) return late();
      const char* reason = vtx::SystemErrorText(socket.GetLastSocketError());
      error = std::string("Unable to send ") + what + " to the SMTP server" + (reason ? std::string(": ") + reason : "");
      return false;
    }
    std::string reply;
    if (!socket.ReceiveReply(&reply)) {
      DWORD e = socket.GetLastSocketError();
      if (socket.DeadlinePassed())
        return late();
      if (e == WSAETIMEDOUT)
        error = greeting ? "No greeting from SMTP server " + m_server + " within " + seconds + " seconds"
                         : "No response from SMTP server " + m_server + " to " + what + " within " + seconds +
                               " seconds";
      else if (e == 0)
        error = greeting ? std::string("The SMTP server closed the connection without a greeting")
                         : std::string("The SMTP server closed the connection instead of answering ") + what;
      else
        error = std::string("No usable response from SMTP server to ") + what;
      return false;
    }
    if (reply.compare(0, 3, expected) != 0 && !(alsoGood && reply.compare(0, 3, alsoGood) == 0)) {
      error = (greeting ? std::string("Unacceptable greeting from SMTP server: ")
                        : std::string("Unacceptable response to ") + what + ": ") +
              OneLine(reply);
      std::string ignored;
      if (socket.Send("QUIT\r\n")) socket.ReceiveReply(&ignored);
      return false;
    }
    return true;
  };

  bool ok = step("", "the greeting", "220", nullptr) && step("HELO localhost\r\n", "HELO", "250", nullptr) &&
            step("MAIL FROM:<" + m_from.address + ">\r\n", "MAIL FROM", "250", nullptr);
  for (const auto* list : {&m_to, &m_cc, &m_bcc})
    for (size_t i = 0; ok && i < list->size(); ++i)
      ok = step("RCPT TO:<" + (*list)[i].address + ">\r\n", "RCPT TO", "250", "251");
  ok = ok && step("DATA\r\n", "DATA", "354", nullptr) &&
       step(DotStuffed(FormatForSending()) + "\r\n.\r\n", "message body", "250", nullptr);
  if (ok) {
    std::string ignored;
    if (socket.Send("QUIT\r\n")) socket.ReceiveReply(&ignored);
  }
  socket.Close();
}
