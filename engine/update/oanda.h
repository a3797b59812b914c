// Client of the vendor's quote protocol "fxp/1.1": the list of currencies, then one bid/ask quote
// per currency against EUR, written out as a rates file. The transport is either a TCP connection
// of its own ("fxp:") or one that the caller sets ("fxpd:", HTTP POSTs): a function that writes one
// query and one that reads answer bytes.
#pragma once
#include <cstdint>

#include "engine/foundation/buffer.h"
#include "engine/foundation/cstring.h"
#include "platform/errors.h"
#include "platform/socket.h"
#include "platform/types.h"

class CSettings;

using OandaWriteQueryFunc = HRESULT (*)(const char* query, DWORD_PTR context);
using OandaReadFunc = HRESULT (*)(void* destination, DWORD size, DWORD* count, DWORD_PTR context);

// The port of an "fxp:" address without one.
constexpr uint16_t kFxpDefaultPort = 5011;
// How long a connect, a send or a wait for answer bytes may take.
constexpr DWORD kFxpTimeoutMs = 60000;
// Bounds of one whole exchange, whatever the server sends or withholds: its time from the connect
// to the last reply, the bytes of all replies, and the length of one line.
constexpr DWORD kFxpTotalTimeoutMs = 300000;
constexpr DWORD kFxpMaxBytes = 16u * 1024u * 1024u;
constexpr DWORD kFxpMaxLineBytes = 64u * 1024u;

class COanda {
 public:
  COanda() = default;
  COanda(const COanda&) = delete;
  COanda& operator=(const COanda&) = delete;
  ~COanda() { Close(); }

  // "fxp:" addresses: a TCP connection of its own.
  HRESULT LoadFxp(const char* address, CBuffer<char>* output, CSettings* settings);
  // "fxpd:" addresses: over the transport that the caller set.
  HRESULT LoadFxpd(const char* address, CBuffer<char>* output, CSettings* settings);

  // Connects to the host of an "fxp:" address (port 5011 unless the address names one); 0 at once
  // when connected. 0x8007006E when the host is not found or refuses, 0x800705B4 on time-out.
  HRESULT Open(const char* address);
  HRESULT Close();

  // The socket transport. WriteQuery: 0x8007001D when the query cannot be sent, 0x800705B4 on
  // time-out. Read: 0x800705B4 when the server closed the connection or sent nothing in time,
  // 0x8007001E for other failures.
  static HRESULT WriteQuery(const char* text, DWORD_PTR object);
  static HRESULT Read(void* destination, DWORD size, DWORD* count, DWORD_PTR object);

  // One line without its line end (a CR before the LF goes too). A line longer than size - 1 is
  // cut and the rest of it read away, so that the stream stays in step. 0x800705B4 when the data
  // end before a line begins.
  HRESULT ReadLine(char* buffer, DWORD size);
  // Reads a reply's status line and headers: 0 success status, 1 error status (its text kept as
  // the error text), or a failure HRESULT (negative). `contentLines` gets "content-lines:".
  HRESULT ReadHeader(DWORD* contentLines);
  // The whole exchange; the rates text goes to the output.
  HRESULT GetData();

  void SetWriteQueryFunc(OandaWriteQueryFunc func, DWORD_PTR context) {
    m_pfnWrite = func;
    m_dwWriteContext = context;
  }
  void SetReadFunc(OandaReadFunc func, DWORD_PTR context) {
    m_pfnRead = func;
    m_dwReadContext = context;
  }
  // The status text of the quote server's last error; null or empty when there is none.
  const char* GetErrorString() const { return m_strError.GetBuffer(); }
  void ClearError() { m_strError.Empty(); }
  // The time limit of each connect, send and wait for answer bytes of the socket transport.
  void SetTimeout(DWORD ms) { m_dwTimeoutMs = ms; }
  // The bounds of a whole exchange (see kFxpTotalTimeoutMs); a bound that is hit fails the load
  // with an error text that names the server and the bound.
  void SetLimits(DWORD totalMs, DWORD maxBytes, DWORD maxLineBytes) {
    m_dwTotalMs = totalMs;
    m_dwMaxBytes = maxBytes;
    m_dwMaxLineBytes = maxLineBytes;
  }
  // Milliseconds the exchange under way has left (INFINITE without a limit), at least 1.
  DWORD RemainingMs() const;

 protected:
  // Reads and drops `count` content lines and the line that ends the reply.
  HRESULT SkipReply(DWORD count);
  // Starts the bounds of an exchange with the server of the address.
  void BeginExchange(const char* address, uint16_t defaultPort);
  // Ends the bounds; a failure for want of time gets the text of the time limit.
  HRESULT EndExchange(HRESULT hr);
  // Fails the exchange for a bound: the error text names the server and the bound.
  HRESULT Bound(HRESULT hr, const char* what);
  // The time a step may take: its own time-out, cut to what the exchange has left (0: none left).
  DWORD StepMs() const;

  vtx::TcpConnection m_Socket;
  uint16_t m_wPort = kFxpDefaultPort;
  CStringA m_strHost;
  CStringA m_strError;
  CBuffer<char>* m_pOutput = nullptr;
  BOOL m_bNamedProvider = FALSE;
  CSettings* m_pSettings = nullptr;
  OandaWriteQueryFunc m_pfnWrite = nullptr;
  DWORD_PTR m_dwWriteContext = 0;
  OandaReadFunc m_pfnRead = nullptr;
  DWORD_PTR m_dwReadContext = 0;
  DWORD m_dwTimeoutMs = kFxpTimeoutMs;
  DWORD m_dwTotalMs = kFxpTotalTimeoutMs;
  DWORD m_dwMaxBytes = kFxpMaxBytes;
  DWORD m_dwMaxLineBytes = kFxpMaxLineBytes;
  uint64_t m_deadline = ~0ull;
  uint64_t m_bytesRead = 0;
  CStringA m_strPeer;  // host:port, for the texts of the bounds
  // Bytes received but not yet read: the socket is read in blocks, lines byte by byte.
  char m_inbox[4096];
  DWORD m_inboxPos = 0, m_inboxEnd = 0;
};

// The host and port of an "fxp:" or "fxpd:" address: after the scheme and "//", the host runs to
// ':' (a decimal port follows) or '/', an IPv6 literal stands in brackets, and a path is ignored.
// 0x8007006E for an address without a host or with a bad port.
HRESULT ParseQuoteAddress(const char* address, uint16_t defaultPort, CStringA* host, uint16_t* port);
// The address names the vendor ("oanda" anywhere in it, any case).
BOOL IsOandaUrl(const char* address);
// Codes that are quoted but never written ("ADF", "CFP", any case).
BOOL IgnoreCurrency(const char* code);
// The number at the start of the text as strtod reads it in the C locale (exponents too), where it
// ends, and its count of digits after a '.' that belongs to it (0 without one). 0.0 with `end` = text
// when there is none.
double GetDouble(const char* text, const char** end, DWORD* decimals);
