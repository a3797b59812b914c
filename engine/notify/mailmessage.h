// A mail as MIME text (quoted-printable text body, base64 attachments) and its SMTP dialogue through
// a small client socket. Addresses and names are checked before they go into any command or header.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/socket.h"
#include "platform/types.h"

// The SMTP port of a server named without one.
constexpr uint16_t kSmtpPort = 25;
// How long a connect, a send and the wait for one reply may take.
constexpr DWORD kMailTimeoutMs = 60000;
// How long the whole dialogue with the server may take, however it paces its replies.
constexpr DWORD kMailTotalTimeoutMs = 180000;

// An address that can stand in a command or header as it is: not empty, and without blanks, control
// characters, '<' or '>'.
bool IsValidMailAddress(const char* address);
// A display name that can go into a header: no control characters.
bool IsValidMailName(const char* name);

// One recipient entry of a list: "name" <address>, name <address>, <address> or a bare address, with
// blanks around it. False when it is not exactly one of these or the address is not valid.
bool ParseMailEntry(const std::string& entry, std::string* name, std::string* address);

// SMTP replies out of the bytes of a server, however its packets cut them: every line up to the one
// whose code is followed by a blank (or that stands alone or has another form).
class SmtpReplyReader {
 public:
  // No reply of a server comes near this; a longer one is no reply.
  static constexpr size_t kMaxReply = 64 * 1024;
  void Add(const char* data, size_t size) { m_pending.append(data, size); }
  // 1: a whole reply went to `reply` (without its last line end); 0: more bytes are needed; -1: the
  // reply under way is longer than kMaxReply.
  int Take(std::string* reply);

 private:
  std::string m_pending;  // bytes after the last whole line
  std::string m_partial;  // the lines of the reply under way
};

class ClientStreamSocket {
 public:
  enum State : uint32_t { Connected = 0, HostNotResolved = 1, ConnectFailed = 2 };

  // Connects to the host (a name or an address) on the port, within `timeoutMs`.
  ClientStreamSocket(const char* host, uint16_t port, DWORD timeoutMs = kMailTimeoutMs);
  virtual ~ClientStreamSocket();
  ClientStreamSocket(const ClientStreamSocket&) = delete;
  ClientStreamSocket& operator=(const ClientStreamSocket&) = delete;

  // Sends the whole text within the time-out; FALSE when not connected or the send fails.
  BOOL Send(const std::string& text);
  // The text of one receive (empty when nothing came).
  std::string Receive();
  // One whole SMTP reply: every line up to the one whose code is followed by a blank (or stands
  // alone), however the server's packets cut it, within the time-out. False on time-out, a closed
  // connection or a reply that will not end.
  bool ReceiveReply(std::string* reply);
  // A deadline for every send and receive from now on, on top of each one's own time-out.
  void SetDeadline(uint64_t deadline) { m_deadline = deadline; }
  // The last failure was the deadline's, not a single step's time-out.
  bool DeadlinePassed() const { return m_deadlinePassed; }
  void Close();

  uint32_t GetState() const { return m_state; }
  BOOL IsConnected() const { return m_bConnected; }
  // The Windows Sockets error of the last failure (WSAETIMEDOUT, ...); 0 when the peer closed.
  DWORD GetLastSocketError() const { return m_dwError; }

 private:
  vtx::TcpConnection m_socket;
  uint32_t m_state = ConnectFailed;
  BOOL m_bConnected = FALSE;
  DWORD m_dwTimeoutMs;
  DWORD m_dwError = 0;
  uint64_t m_deadline = ~0ull;
  bool m_deadlinePassed = false;
  SmtpReplyReader m_reader;
  // The time a step may take: its own time-out, cut to what the deadline leaves.
  uint64_t StepDeadline();
};

class MailMessage {
 public:
  struct MailAddress {
    std::string name;
    std::string address;
    // "name" <address> (the name's '"' and '\' escaped; a name beyond ASCII as an encoded word),
    // or the address alone.
    std::string toString() const;
  };
  struct MailAttachment {
    std::string data;  // base64, in lines of 76 characters each ending CR LF
    std::string fileName;
    std::string mimeType;

    // The file, its name and the MIME type of its ending ("gif", "jpg", "zip", "wav", "htm", "txt",
    // any case; else application/octet-stream); false (nothing changed) when it cannot be read.
    bool Load(const char* file);
    // The bytes in base64 as `data`.
    void Base64Encode(const void* bytes, size_t length);
    const std::string& Base64Data() const { return data; }
  };

  MailMessage(const char* fromName, const char* fromAddress, const char* server, const char* mailer);

  // Adds a recipient; false when the address or the name could not stand in a header.
  bool To(const char* address, const char* name);
  bool Cc(const char* address, const char* name);
  bool Bcc(const char* address, const char* name);
  void Subject(const char* text);
  // Sets the text body: its charset label and its quoted-printable text.
  void Body(const char* text);
  // A body of two alternatives, the text and its HTML form (multipart/alternative).
  void Body(const char* text, const char* html);
  void Attach(const void* data, size_t size, const char* fileName, const char* mimeType);
  // Attaches a file (MailAttachment::Load); false, with nothing added, when it cannot be read.
  bool Attach(const char* fileName);

  // Quoted-printable text: lines of at most 76 characters, CR LF line ends whatever the text held.
  static std::string EncodeQuotedPrintable(const char* text);
  // The whole message text. Without a sender address there is no From header (the transport
  // puts in its own).
  std::string FormatForSending() const;
  // The SMTP dialogue; `error` is empty when the message was sent, else says what failed.
  void Send(std::string& error);

  void SetTimeout(DWORD ms) { m_timeoutMs = ms; }
  // The limit of the whole dialogue, from the connect to the last reply.
  void SetTotalTimeout(DWORD ms) { m_totalMs = ms; }
  bool IsValid() const { return m_valid; }
  const std::vector<MailAddress>& Recipients() const { return m_to; }

 private:
  bool Add(std::vector<MailAddress>& list, const char* address, const char* name);

  MailAddress m_from;
  std::vector<MailAddress> m_to, m_cc, m_bcc;
  std::string m_subject;
  std::string m_contentType;
  std::string m_body;
  std::vector<MailAttachment> m_attachments;
  std::string m_server;
  std::string m_mailer;
  DWORD m_timeoutMs = kMailTimeoutMs;
  DWORD m_totalMs = kMailTotalTimeoutMs;
  bool m_valid = true;  // the sender could stand in a header
};

// The part of a path after its last '/' or '\'; the whole text without one; null for null.
const char* FilePart(const char* path);

namespace vtx::mail {
// The MIME label of the ANSI code page the texts are in; "us-ascii" for a text of ASCII only.
std::string CharsetOf(const std::string& text);
// A header value: as it is when it is ASCII, else RFC 2047 encoded words in the texts' charset.
std::string EncodeHeaderText(const std::string& text);
}  // namespace vtx::mail
