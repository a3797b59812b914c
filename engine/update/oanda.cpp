#include "engine/update/oanda.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/currency/settings.h"
#include "engine/foundation/calculator.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/stringlist.h"
#include "platform/codepage.h"
#include "platform/numtext.h"
#include "platform/sync.h"

namespace {

constexpr HRESULT kNoConnection = 0x8007006E;     // ERROR_OPEN_FAILED: host not found, refused
constexpr HRESULT kOldVersion = 0x8007051A;       // ERROR_REVISION_MISMATCH
constexpr HRESULT kSendFailed = 0x8007001D;       // ERROR_WRITE_FAULT
constexpr HRESULT kReceiveFailed = 0x8007001E;    // ERROR_READ_FAULT
constexpr DWORD kHeaderLineSize = 1024;
constexpr DWORD kLineSize = 4096;
// No list of currencies comes near this; a reply that announces more is no reply of the protocol.
constexpr DWORD kMaxContentLines = 100000;

const char kCurrenciesQuery[] = "fxp/1.1\r\nquery: currencies\r\n\r\n";
const char kQuoteQuery[] = "fxp/1.1\r\nquotecurrency: EUR\r\nbasecurrency: %s\r\nquotetype: bid ask\r\n\r\n";

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AddText(CBuffer<char>& out, const char* text) {
  return out.Add(text, static_cast<uint32_t>(std::strlen(text)));
}

// Decimal digits at *p as a number; false when there is none or it does not fit 32 bits.
bool ReadNumber(const char*& p, DWORD* value) {
  if (!IsDigit(*p)) return false;
  uint64_t v = 0;
  while (IsDigit(*p)) {
    v = v * 10 + static_cast<unsigned>(*p++ - '0');
    if (v > 0xFFFFFFFFull) return false;
  }
  *value = static_cast<DWORD>(v);
  return true;
}

HRESULT FromSocketError(DWORD e, HRESULT other) {
  return e == WSAETIMEDOUT ? E_TIMEOUT : other;
}

}  // namespace

BOOL IsOandaUrl(const char* address) {
  if (!address) return FALSE;
  for (const char* p = address; *p; ++p)
    if (_strnicmp(p, "oanda", 5) == 0) return TRUE;
  return FALSE;
}

BOOL IgnoreCurrency(const char* code) {
  return code && (_stricmp(code, "ADF") == 0 || _stricmp(code, "CFP") == 0) ? TRUE : FALSE;
}

double GetDouble(const char* text, const char** end, DWORD* decimals) {
  if (end) *end = text;
  if (decimals) *decimals = 0;
  if (!text) return 0.0;
  // As strtod reads it (exponents too), in the C locale's notation.
  char* stop = nullptr;
  double value = vtx::CStrtod(text, &stop);
  if (!stop || stop == text) return 0.0;
  if (end) *end = stop;
  const char* dot = static_cast<const char*>(std::memchr(text, '.', static_cast<size_t>(stop - text)));
  if (decimals && dot) {
    DWORD n = 0;
    for (const char* p = dot + 1; p < stop && IsDigit(*p); ++p) ++n;
    *decimals = n;
  }
  return value;
}

HRESULT ParseQuoteAddress(const char* address, uint16_t defaultPort, CStringA* host, uint16_t* port) {
  if (!address || !host || !port) return E_POINTER;
  const char* p = address;
  if (_strnicmp(p, "fxp:", 4) == 0) p += 4;
  else if (_strnicmp(p, "fxpd:", 5) == 0) p += 5;
  if (p[0] == '/' && p[1] == '/') p += 2;

  const char* begin = p;
  const char* end;
  if (*p == '[') {
    begin = p + 1;
    end = std::strchr(begin, ']');
    if (!end) return kNoConnection;
    p = end + 1;
  } else {
    end = p + std::strcspn(p, ":/");
    p = end;
  }
  DWORD number = defaultPort;
  if (*p == ':') {
    ++p;
    if (!ReadNumber(p, &number) || number == 0 || number > 0xFFFF) return kNoConnection;
  }
  if ((*p && *p != '/') || end == begin) return kNoConnection;

  CStringA name;
  const size_t n = static_cast<size_t>(end - begin);
  if (!name.Resize(static_cast<uint32_t>(n) + 1)) return E_OUTOFMEMORY;
  std::memcpy(name.GetBuffer(), begin, n);
  name.GetBuffer()[n] = 0;
  *host = name.c_str();
  if (host->IsNull()) return E_OUTOFMEMORY;
  *port = static_cast<uint16_t>(number);
  return S_OK;
}

void COanda::BeginExchange(const char* address, uint16_t defaultPort) {
  m_deadline = vtx::sync::DeadlineAfter(m_dwTotalMs);
  m_bytesRead = 0;
  m_inboxPos = m_inboxEnd = 0;
  CStringA host;
  uint16_t port = defaultPort;
  m_strPeer = "";
  if (address && SUCCEEDED(ParseQuoteAddress(address, defaultPort, &host, &port))) {
    std::string peer = std::string(host.c_str()) + ":" + std::to_string(port);
    m_strPeer = peer.c_str();
  }
}

DWORD COanda::RemainingMs() const {
  if (m_deadline == vtx::sync::kNoDeadline) return INFINITE;
  int left = vtx::sync::MsUntil(m_deadline);
  return left <= 0 ? 1 : static_cast<DWORD>(left);
}

DWORD COanda::StepMs() const {
  if (m_deadline == vtx::sync::kNoDeadline) return m_dwTimeoutMs;
  int left = vtx::sync::MsUntil(m_deadline);
  if (left <= 0) return 0;
  return static_cast<DWORD>(left) < m_dwTimeoutMs ? static_cast<DWORD>(left) : m_dwTimeoutMs;
}

HRESULT COanda::Bound(HRESULT hr, const char* what) {
  std::string text = "The quote server ";
  text += m_strPeer.IsEmpty() ? "" : m_strPeer.c_str();
  text += " ";
  text += what;
  m_strError = text.c_str();
  return hr;
}

HRESULT COanda::EndExchange(HRESULT hr) {
  // A step that failed for want of time is the exchange's time limit, whichever step it was.
  if (FAILED(hr) && m_strError.IsEmpty() && m_deadline != vtx::sync::kNoDeadline &&
      vtx::sync::MsUntil(m_deadline) == 0)
    Bound(hr, ("did not finish its replies within " + std::to_string((m_dwTotalMs + 999) / 1000) + " seconds").c_str());
  m_deadline = vtx::sync::kNoDeadline;
  return hr;
}

HRESULT COanda::Open(const char* address) {
  if (!address) return E_POINTER;
  if (m_Socket.IsConnected()) return S_OK;
  HRESULT hr = ParseQuoteAddress(address, kFxpDefaultPort, &m_strHost, &m_wPort);
  if (FAILED(hr)) return hr;
  m_inboxPos = m_inboxEnd = 0;
  DWORD e = m_Socket.Connect(m_strHost.c_str(), m_wPort, StepMs() ? StepMs() : 1);
  if (e) return FromSocketError(e, kNoConnection);
  return S_OK;
}

HRESULT COanda::Close() {
  m_Socket.Close();
  return S_OK;
}

HRESULT COanda::WriteQuery(const char* text, DWORD_PTR object) {
  auto* self = reinterpret_cast<COanda*>(object);
  if (!self) return E_POINTER;
  if (!self->m_Socket.IsConnected()) return E_UNEXPECTED;
  if (!text) return E_INVALIDARG;
  if (!*text) return S_OK;
  DWORD ms = self->StepMs();
  DWORD e = ms ? self->m_Socket.Send(text, std::strlen(text), ms) : static_cast<DWORD>(WSAETIMEDOUT);
  return e ? FromSocketError(e, kSendFailed) : S_OK;
}

HRESULT COanda::Read(void* destination, DWORD size, DWORD* count, DWORD_PTR object) {
  if (count) *count = 0;
  auto* self = reinterpret_cast<COanda*>(object);
  if (!self) return E_POINTER;
  if (!self->m_Socket.IsConnected()) return E_UNEXPECTED;
  if (!destination) return E_INVALIDARG;
  if (self->m_inboxPos == self->m_inboxEnd) {
    size_t got = 0;
    DWORD ms = self->StepMs();
    DWORD e = ms ? self->m_Socket.Receive(self->m_inbox, sizeof self->m_inbox, &got, ms)
                 : static_cast<DWORD>(WSAETIMEDOUT);
    if (e) return FromSocketError(e, kReceiveFailed);
    if (got == 0) return E_TIMEOUT;  // the server closed the connection
    self->m_inboxPos = 0;
    self->m_inboxEnd = static_cast<DWORD>(got);
  }
  DWORD n = self->m_inboxEnd - self->m_inboxPos;
  if (n > size) n = size;
  std::memcpy(destination, self->m_inbox + self->m_inboxPos, n);
  self->m_inboxPos += n;
  if (count) *count = n;
  return S_OK;
}

HRESULT COanda::ReadLine(char* buffer, DWORD size) {
  if (!m_pfnRead) return E_POINTER;
  if (!buffer || size == 0) return E_INVALIDARG;
  DWORD stored = 0;
  uint64_t length = 0;
  bool any = false;
  for (;;) {
    char c;
    DWORD got = 0;
    HRESULT hr = m_pfnRead(&c, 1, &got, m_dwReadContext);
    if (FAILED(hr)) {
      buffer[stored] = 0;
      return hr;
    }
    m_bytesRead += got;
    if (got && m_bytesRead > m_dwMaxBytes) {
      buffer[stored] = 0;
      return Bound(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                   ("sent more than the limit of " + std::to_string(m_dwMaxBytes) + " bytes").c_str());
    }
    if (got && ++length > m_dwMaxLineBytes) {
      buffer[stored] = 0;
      return Bound(E_INVALIDDATA,
                   ("sent a line longer than the limit of " + std::to_string(m_dwMaxLineBytes) + " bytes").c_str());
    }
    if (got == 0) {
      // A transport without more data: the reply ended early.
      if (!any) {
        buffer[0] = 0;
        return E_TIMEOUT;
      }
      break;
    }
    any = true;
    if (c == '\n') break;
    if (stored < size - 1) buffer[stored++] = c;
  }
  if (stored && buffer[stored - 1] == '\r') --stored;
  buffer[stored] = 0;
  return S_OK;
}

HRESULT COanda::ReadHeader(DWORD* contentLines) {
  DWORD lines = 0;
  if (contentLines) *contentLines = 0;
  char line[kHeaderLineSize];
  HRESULT hr = ReadLine(line, sizeof line);
  if (FAILED(hr)) return hr;

  const char* p = line;
  if (_strnicmp(p, "fxp/", 4) != 0) return E_INVALIDDATA;
  p += 4;
  DWORD major = 0, minor = 0;
  if (!ReadNumber(p, &major) || *p++ != '.' || !ReadNumber(p, &minor) || *p++ != ' ') return E_INVALIDDATA;
  if (major < 1 || (major == 1 && minor < 1)) return kOldVersion;
  DWORD status = 0;
  if (!ReadNumber(p, &status)) return E_INVALIDDATA;
  HRESULT result;
  if (status >= 200 && status <= 299) {
    result = 0;
    m_strError.Empty();
  } else {
    result = 1;
    if (*p == ' ') ++p;
    m_strError = p;
    if (m_strError.IsNull()) return E_OUTOFMEMORY;
  }

  for (;;) {
    hr = ReadLine(line, sizeof line);
    if (FAILED(hr)) return hr;
    if (!line[0]) break;
    if (_strnicmp(line, "content-lines: ", 15) == 0) {
      const char* n = line + 15;
      if (!ReadNumber(n, &lines) || lines > kMaxContentLines) return E_INVALIDDATA;
    }
  }
  if (contentLines) *contentLines = lines;
  return result;
}

HRESULT COanda::SkipReply(DWORD count) {
  char line[kLineSize];
  for (uint64_t i = 0; i <= count; ++i) {
    HRESULT hr = ReadLine(line, sizeof line);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT COanda::GetData() {
  if (!m_pfnWrite) return E_POINTER;
  if (!m_pOutput) return E_INVALIDARG;
  const CSettingsData* data = m_pSettings ? m_pSettings->GetData() : nullptr;
  const bool onlyExisting = data && data->OnlyUpdateExisting;
  const bool skipEuro = data && data->AlwaysRetainEuro && !onlyExisting;

  CStringList<char> codes, names, values;
  char line[kLineSize];
  HRESULT hr;

  if (onlyExisting) {
    for (char* e : m_pSettings->GetRates().Active) {
      const CurrencyInfo* info = reinterpret_cast<const CurrencyInfo*>(e);
      if (!codes.Add(info->szCode) || !names.Add("")) return E_OUTOFMEMORY;
    }
  } else {
    hr = m_pfnWrite(kCurrenciesQuery, m_dwWriteContext);
    if (FAILED(hr)) return hr;
    DWORD count = 0;
    hr = ReadHeader(&count);
    if (FAILED(hr)) return hr;
    if (hr == 1) return E_FAIL;
    for (DWORD i = 0; i < count; ++i) {
      hr = ReadLine(line, sizeof line);
      if (FAILED(hr)) return hr;
      if (!IsLetter(line[0]) || !IsLetter(line[1]) || !IsLetter(line[2]) || line[3] != ' ') continue;
      char code[4] = {line[0], line[1], line[2], 0};
      if (!codes.Add(code) || !names.Add(line + 4)) return E_OUTOFMEMORY;
    }
    hr = ReadLine(line, sizeof line);
    if (FAILED(hr)) return hr;
  }

  for (const char* code : codes) {
    if (skipEuro && m_pSettings->IsEuroCurrency(code)) {
      if (!values.Add("")) return E_OUTOFMEMORY;
      continue;
    }
    char query[sizeof kQuoteQuery + 16];
    std::snprintf(query, sizeof query, kQuoteQuery, code);
    hr = m_pfnWrite(query, m_dwWriteContext);
    if (FAILED(hr)) return hr;
    DWORD count = 0;
    hr = ReadHeader(&count);
    if (FAILED(hr)) return hr;
    if (hr == 1) {
      // This currency is left out; the rest of its reply is read away so that the next one starts
      // in step.
      m_strError.Empty();
      hr = SkipReply(count);
      if (FAILED(hr)) return hr;
      if (!values.Add("")) return E_OUTOFMEMORY;
      continue;
    }
    if (count != 1) return E_UNEXPECTED;
    hr = ReadLine(line, sizeof line);
    if (FAILED(hr)) return hr;
    const char* end = line;
    DWORD bidDecimals = 0, askDecimals = 0;
    double bid = GetDouble(line, &end, &bidDecimals);
    double ask = GetDouble(end, &end, &askDecimals);
    // Zero, negative and endless quotes are no quotes.
    if (!(bid > 0.0) || !(ask > 0.0) || !std::isfinite(bid) || !std::isfinite(ask)) return E_INVALIDDATA;
    DWORD decimals = bidDecimals < askDecimals ? bidDecimals : askDecimals;
    double unit = 1.0;
    for (DWORD i = 0; i < decimals; ++i) unit /= 10.0;
    CCalculator calculator;
    calculator.SetRounding(true);
    calculator.SetRoundingValue(unit);
    calculator.SetMinFractDigits(decimals);
    calculator.SetDisplay((bid + ask) * 0.5);
    if (calculator.IsError()) return E_INVALIDDATA;
    char value[40];
    std::snprintf(value, sizeof value, "%s", calculator.GetDisplay());
    size_t n = std::strlen(value);
    if (n && value[n - 1] == '.') value[n - 1] = 0;
    if (!values.Add(value)) return E_OUTOFMEMORY;
    hr = ReadLine(line, sizeof line);
    if (FAILED(hr)) return hr;
  }
  if (values.GetCount() != codes.GetCount()) return E_UNEXPECTED;

  CBuffer<char>& out = *m_pOutput;
  bool ok = AddText(out, "[General]\r\nApplication = \"Hulvane(R) Vantrex(TM)\"\r\n");
  if (ok && m_bNamedProvider && m_pSettings) {
    char text[1024];
    if (m_pSettings->GetOandaSource(text, sizeof text) > 0)
      ok = AddText(out, "Source = ") && vtx::ini::QuoteStringValue(text, out) && AddText(out, "\r\n");
    if (ok && m_pSettings->GetOandaMessage(text, sizeof text) > 0)
      ok = AddText(out, ";Message = ") && vtx::ini::QuoteStringValue(text, out) && AddText(out, "\r\n");
  }
  ok = ok && AddText(out, "[EUR]\r\n");
  auto written = [&](uint32_t i) { return *values[i] && !IgnoreCurrency(codes[i]); };
  for (uint32_t i = 0; ok && i < codes.GetCount(); ++i)
    if (written(i)) ok = AddText(out, codes[i]) && AddText(out, " = ") && AddText(out, values[i]) && AddText(out, "\r\n");
  if (ok && !onlyExisting) {
    ok = AddText(out, "[Names]\r\n");
    for (uint32_t i = 0; ok && i < codes.GetCount(); ++i)
      if (written(i))
        ok = AddText(out, codes[i]) && AddText(out, " = ") && vtx::ini::QuoteStringValue(names[i], out) &&
             AddText(out, "\r\n");
  }
  // The text ends with a NUL that the count leaves out, as every other load's does not hold one.
  ok = ok && out.Add('\0') && out.Seek(-1, 1) == ERROR_SUCCESS;
  if (!ok) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT COanda::LoadFxp(const char* address, CBuffer<char>* output, CSettings* settings) {
  if (!address || !output) return E_INVALIDARG;
  m_pOutput = output;
  m_pSettings = settings;
  m_bNamedProvider = IsOandaUrl(address);
  m_strError.Empty();
  BeginExchange(address, kFxpDefaultPort);
  SetWriteQueryFunc(WriteQuery, reinterpret_cast<DWORD_PTR>(this));
  SetReadFunc(Read, reinterpret_cast<DWORD_PTR>(this));
  HRESULT hr = Open(address);
  if (SUCCEEDED(hr)) hr = GetData();
  Close();
  hr = EndExchange(hr);
  SetWriteQueryFunc(nullptr, 0);
  SetReadFunc(nullptr, 0);
  return hr;
}

HRESULT COanda::LoadFxpd(const char* address, CBuffer<char>* output, CSettings* settings) {
  if (!output) return E_INVALIDARG;
  m_pOutput = output;
  m_pSettings = settings;
  m_bNamedProvider = IsOandaUrl(address);
  m_strError.Empty();
  BeginExchange(address, 80);
  return EndExchange(GetData());
}
