#include "engine/update/inetconnection.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>

#include "engine/foundation/base64.h"
#include "engine/foundation/urlhost.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/syscalls.h"

namespace {

constexpr HRESULT kProxyWithoutHost = 0x8004006D;  // server code: text 109
// A dial-up setting longer than its field; the low word is the text that names the field.
constexpr HRESULT kDialUpEntryTooLong = 0x8004025B;     // text 603
constexpr HRESULT kDialUpUserTooLong = 0x8004025C;      // text 604
constexpr HRESULT kDialUpPasswordTooLong = 0x8004025D;  // text 605
constexpr HRESULT kDialUpDomainTooLong = 0x8004025E;    // text 606
constexpr DWORD kReadChunk = 1000;

// The maker's rate servers, as built; SetHulvaneHosts replaces them.
const char* const kHulvaneDomains[] = {"hulvane.com", "hulvane.net", "vantrex-rates.com"};
const char* const kHulvaneAddresses[] = {"192.0.2.41", "192.0.2.42", "198.51.100.17"};

struct HulvaneHosts {
  std::mutex lock;
  bool replaced = false;
  std::vector<std::string> domains, addresses;
};
HulvaneHosts& Hosts() {
  static HulvaneHosts hosts;
  return hosts;
}

bool IsHulvaneHost(const char* host, const std::vector<std::string>& domains,
                   const std::vector<std::string>& addresses) {
  for (const std::string& domain : domains)
    if (EndsWith(host, ("." + domain).c_str()) || _stricmp(host, domain.c_str()) == 0) return true;
  for (const std::string& address : addresses)
    if (address == host) return true;
  return false;
}

bool StartsWithNoCase(const char* text, const char* prefix) {
  return _strnicmp(text, prefix, std::strlen(prefix)) == 0;
}

// Copies a text into a fixed field; false when it does not fit.
bool CopyField(char* field, size_t size, const CStringA& text) {
  size_t n = text.GetLength();
  if (n >= size) return false;
  std::memcpy(field, text.c_str(), n + 1);
  return true;
}

}  // namespace

CINetConnection::CINetConnection() {
  m_bINetAvailable = vtx::inet::Available() ? TRUE : FALSE;
  m_DialParams.dwSize = sizeof(RASDIALPARAMSA);
}

CINetConnection::~CINetConnection() { Close(); }

HRESULT CINetConnection::LastError() {
  DWORD e = GetLastError();
  m_dwLastError = e;
  // A bound of the answer is named in the error's text, with the server that hit it.
  std::string bound = e == ERROR_INTERNET_TIMEOUT || e == ERROR_HTTP_INVALID_SERVER_RESPONSE
                          ? vtx::inet::LastBoundText()
                          : std::string();
  m_strBound = bound.empty() ? "" : ("The server " + std::string(m_strSourceHost.c_str()) + " " + bound + ".").c_str();
  return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

HRESULT CINetConnection::Open() {
  m_dwLastError = 0;
  m_dwRasError = 0;
  m_dwHttpStatus = 0;
  if (!m_hSession) {
    if (!m_bINetAvailable) return E_NOINTERFACE;
    DWORD access;
    const char* proxy = nullptr;
    const char* bypass = nullptr;
    if (m_bUseSystemProxy) {
      access = INTERNET_OPEN_TYPE_PRECONFIG;
    } else if (!m_strProxyServer.IsEmpty()) {
      access = INTERNET_OPEN_TYPE_PROXY;
      proxy = m_strProxyServer.c_str();
    } else {
      access = INTERNET_OPEN_TYPE_DIRECT;
    }
    if (m_bNoProxyForLocal && !m_bUseSystemProxy) bypass = "<local>";
    m_hSession = InternetOpenA(m_strAgent.c_str(), access, proxy, bypass, 0);
    if (!m_hSession) return LastError();
  }

  if (m_hRasConnection || (!m_DialParams.szEntryName[0] && !m_DialParams.szPhoneNumber[0])) return S_OK;
  if (!CheckRasAPI()) return E_NOINTERFACE;
  if (AlreadyConnected()) return S_OK;

  HRASCONN connection = nullptr;
  m_dwRasError = RasDialA(nullptr, nullptr, &m_DialParams, 0, nullptr, &connection);
  if (m_dwRasError == 0) {
    RASCONNSTATUSA status{};
    status.dwSize = sizeof status;
    m_dwRasError = RasGetConnectStatusA(connection, &status);
    if (m_dwRasError == 0 && status.rasconnstate != RASCS_Connected) m_dwRasError = ERROR_NO_CONNECTION;
  }
  if (m_dwRasError == 0) {
    m_hRasConnection = connection;
    return S_OK;
  }
  if (connection) RasHangUpA(connection);
  return E_FAIL;
}

void CINetConnection::Close() {
  if (m_hRasConnection && m_bHangUp && m_bRasAvailable) {
    RasHangUpA(m_hRasConnection);
    m_hRasConnection = nullptr;
  }
  if (m_hSession) {
    InternetCloseHandle(m_hSession);  // closes its connections and requests too
    m_hSession = nullptr;
    m_hQuoteConnection = nullptr;
  }
}

BOOL CINetConnection::CheckRasAPI() {
  if (!m_bRasChecked) {
    m_bRasChecked = TRUE;
    m_bRasAvailable = vtx::dialup::Available() ? TRUE : FALSE;
  }
  return m_bRasAvailable;
}

HRESULT CINetConnection::EnumEntries(RASENTRYNAMEA** entries, DWORD* count) {
  ClearError();
  if (!entries || !count) return E_INVALIDARG;
  *entries = nullptr;
  *count = 0;
  if (!CheckRasAPI()) return E_NOINTERFACE;
  DWORD bytes = sizeof(RASENTRYNAMEA);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto* block = static_cast<RASENTRYNAMEA*>(LocalAlloc(LMEM_ZEROINIT, bytes));
    if (!block) return E_OUTOFMEMORY;
    block->dwSize = sizeof(RASENTRYNAMEA);
    DWORD n = 0;
    DWORD rc = RasEnumEntriesA(nullptr, nullptr, block, &bytes, &n);
    if (rc == 0) {
      *entries = block;
      *count = n;
      return S_OK;
    }
    LocalFree(block);
    if (rc != ERROR_BUFFER_TOO_SMALL || attempt == 1 || bytes < sizeof(RASENTRYNAMEA)) {
      m_dwRasError = rc;
      return E_FAIL;
    }
  }
  return E_FAIL;
}

HRESULT CINetConnection::EditPhonebookEntry(HWND owner, const char* phonebook, const char* entry) {
  ClearError();
  if (!CheckRasAPI()) return E_NOINTERFACE;
  DWORD rc = RasEditPhonebookEntryA(owner, phonebook, entry);
  if (rc == 0) return S_OK;
  m_dwRasError = rc;
  return E_FAIL;
}

BOOL CINetConnection::AlreadyConnected() {
  if (!CheckRasAPI()) return FALSE;
  RASCONNA one{};
  one.dwSize = sizeof one;
  RASCONNA* list = &one;
  DWORD bytes = sizeof one, count = 0;
  DWORD rc = RasEnumConnectionsA(list, &bytes, &count);
  CBuffer<BYTE> more(0, 0);
  if (rc == ERROR_BUFFER_TOO_SMALL && bytes >= sizeof(RASCONNA)) {
    if (!more.Realloc(bytes)) return FALSE;
    std::memset(more.GetData(), 0, bytes);
    list = reinterpret_cast<RASCONNA*>(more.GetData());
    list->dwSize = sizeof(RASCONNA);
    rc = RasEnumConnectionsA(list, &bytes, &count);
  }
  if (rc != 0) return FALSE;
  const char* entry = m_DialParams.szEntryName;
  const char* phone = m_DialParams.szPhoneNumber;
  for (DWORD i = 0; i < count && (i + 1) * sizeof(RASCONNA) <= bytes; ++i) {
    const char* name = list[i].szEntryName;
    if (*entry) {
      if (_stricmp(entry, name) == 0) return TRUE;
    } else if (*phone && name[0] == '.' && _stricmp(name + 1, phone) == 0) {
      return TRUE;
    }
  }
  return FALSE;
}

BOOL CINetConnection::IsGlobalOffline() {
  DWORD state = 0, size = sizeof state;
  return InternetQueryOptionA(nullptr, INTERNET_OPTION_CONNECTED_STATE, &state, &size) &&
                 (state & INTERNET_STATE_DISCONNECTED_BY_USER)
             ? TRUE
             : FALSE;
}

void CINetConnection::SetAgent(const char* agent) {
  m_strAgent = agent;
  if (m_hSession && agent && *agent)
    InternetSetOptionA(m_hSession, INTERNET_OPTION_USER_AGENT, const_cast<char*>(agent),
                       static_cast<DWORD>(std::strlen(agent)));
}

HRESULT CINetConnection::CanonicalizeUrl(const char* url, CBuffer<char>& output, DWORD flags) {
  if (!m_bINetAvailable) return E_NOINTERFACE;
  char one[1];
  DWORD size = 1;
  if (InternetCanonicalizeUrlA(url, one, &size, flags)) return E_UNEXPECTED;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return LastError();
  if (!output.Realloc(size + 1)) return E_OUTOFMEMORY;
  DWORD room = size + 1;
  if (!InternetCanonicalizeUrlA(url, output.GetData(), &room, flags)) return LastError();
  output.Seek(static_cast<int32_t>(room), 0);
  return S_OK;
}

HRESULT CINetConnection::GetHostName(const char* url, char* buffer, DWORD size) {
  return GetUrlHostName(url, buffer, size);
}

HRESULT CINetConnection::Load(const char* url, CBuffer<char>& output, DWORD flags, DWORD lineLimit,
                              CSettings* settings, HWND parent) {
  m_hParent = parent;
  ClearError();
  m_Oanda.ClearError();
  // Each address sets its own kind, so that an old quote error never explains this load.
  m_bQuoteMode = FALSE;
  if (!url) return E_INVALIDARG;

  CBuffer<char> address(0, 0);
  if (m_bINetAvailable) {
    HRESULT hr = CanonicalizeUrl(url, address, ICU_BROWSER_MODE);
    if (FAILED(hr)) return hr;
  } else if (!address.Add(url, static_cast<uint32_t>(std::strlen(url)) + 1)) {
    return E_OUTOFMEMORY;
  }
  const char* canonical = address.GetData();
  output.Empty();

  char host[1024];
  m_strSourceHost = SUCCEEDED(GetHostName(canonical, host, sizeof host)) ? host : "";

  if (StartsWithNoCase(canonical, "file:")) {
    CBuffer<char> decoded(0, 0);
    if (m_bINetAvailable) {
      HRESULT hr = CanonicalizeUrl(canonical, decoded, ICU_NO_ENCODE | ICU_DECODE);
      if (FAILED(hr)) return hr;
      canonical = decoded.GetData();
    }
    const char* path = canonical + 5;
    if (path[0] == '/' && path[1] == '/') path += 2;
    // Not blocking: opening a FIFO would otherwise wait for a writer.
    vtx::ScopedFd file = vtx::OpenFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!file) return LastError();
    return LoadFile(file.Get(), output, lineLimit);
  }

  if (StartsWithNoCase(canonical, "fxp:")) {
    m_bQuoteMode = TRUE;
    return m_Oanda.LoadFxp(canonical, &output, settings);
  }

  if (!m_bINetAvailable || !m_hSession) return E_NOINTERFACE;

  if (StartsWithNoCase(canonical, "fxpd:")) {
    m_bQuoteMode = TRUE;
    // The server may name its port ("fxpd://host:8080"); 80 without one.
    CStringA server;
    uint16_t port = INTERNET_DEFAULT_HTTP_PORT;
    HRESULT parsed = ParseQuoteAddress(canonical, INTERNET_DEFAULT_HTTP_PORT, &server, &port);
    if (FAILED(parsed)) return parsed;
    m_hQuoteConnection = InternetConnectA(m_hSession, server.c_str(), port, m_strServerUserName.c_str(),
                                          m_strServerPassword.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
    if (!m_hQuoteConnection) return LastError();
    m_dwRequestFlags = flags;
    m_Oanda.SetWriteQueryFunc(PostOandaQuery, reinterpret_cast<DWORD_PTR>(this));
    m_Oanda.SetReadFunc(ReadOandaBuffer, reinterpret_cast<DWORD_PTR>(this));
    HRESULT hr = m_Oanda.LoadFxpd(canonical, &output, settings);
    m_Oanda.SetWriteQueryFunc(nullptr, 0);
    m_Oanda.SetReadFunc(nullptr, 0);
    InternetCloseHandle(m_hQuoteConnection);
    m_hQuoteConnection = nullptr;
    return hr;
  }

  HINTERNET request = OpenUrl(canonical, nullptr, 0, flags, 0);
  if (!request) {
    DWORD e = GetLastError();
    if (IsGlobalOffline() && m_hParent && InternetGoOnline(canonical, m_hParent, 0))
      request = OpenUrl(canonical, nullptr, 0, flags, 0);
    else
      SetLastError(e);
    if (!request) return LastError();
  }
  HRESULT hr = LoadInternet(request, output, lineLimit, TRUE);
  InternetCloseHandle(request);
  return hr;
}

HINTERNET CINetConnection::OpenUrl(const char* url, const char* headers, DWORD headersLength, DWORD flags,
                                   DWORD_PTR context) {
  HINTERNET request = InternetOpenUrlA(m_hSession, url, headers, headersLength, flags, context);
  if (request) CheckRequest(request);
  return request;
}

void CINetConnection::CheckRequest(HINTERNET request) {
  DWORD status = 200;
  int attempts401 = 0, attempts407 = 0;
  for (;;) {
    DWORD code = 0, size = sizeof code;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)) break;
    status = code;
    if (status != 401 && status != 407) break;
    int& attempts = status == 401 ? attempts401 : attempts407;
    if (attempts >= 2) break;
    bool resend = false;
    if (attempts == 0) {
      if (status == 401) {
        // The server credentials belong to the data source's host, never to a host that a
        // redirection led to.
        char where[2048];
        DWORD whereSize = sizeof where;
        char host[1024];
        const CStringA& owner = m_strCredentialHost.IsEmpty() ? m_strSourceHost : m_strCredentialHost;
        if (!InternetQueryOptionA(request, INTERNET_OPTION_URL, where, &whereSize) ||
            FAILED(GetHostName(where, host, sizeof host)) || owner.IsEmpty() || _stricmp(host, owner.c_str()) != 0)
          break;
      }
      CBuffer<char> scratch(100, 100);
      LoadInternet(request, scratch, 0, FALSE);
      const CStringA& user = status == 401 ? m_strServerUserName : m_strProxyUserName;
      const CStringA& password = status == 401 ? m_strServerPassword : m_strProxyPassword;
      DWORD userOption = status == 401 ? INTERNET_OPTION_USERNAME : INTERNET_OPTION_PROXY_USERNAME;
      DWORD passwordOption = status == 401 ? INTERNET_OPTION_PASSWORD : INTERNET_OPTION_PROXY_PASSWORD;
      const char* form = status == 401 ? "Authorization: Basic %s\r\n" : "Proxy-Authorization: Basic %s\r\n";
      if (!user.IsEmpty()) {
        if (InternetSetOptionA(request, userOption, const_cast<char*>(user.c_str()), user.GetLength()) &&
            InternetSetOptionA(request, passwordOption, const_cast<char*>(password.c_str()), password.GetLength())) {
          resend = true;
        } else {
          CStringA pair;
          size_t n = static_cast<size_t>(user.GetLength()) + password.GetLength() + 2;
          if (pair.Resize(static_cast<uint32_t>(n))) {
            std::snprintf(pair.GetBuffer(), n, "%s:%s", user.c_str(), password.c_str());
            Base64Coder coder;
            if (coder.Encode(pair.c_str())) {
              CStringA header;
              size_t hn = std::strlen(form) + coder.GetEncodedLength() + 1;
              if (header.Resize(static_cast<uint32_t>(hn))) {
                std::snprintf(header.GetBuffer(), hn, form, coder.EncodedMessage());
                resend = HttpAddRequestHeadersA(request, header.c_str(), header.GetLength(),
                                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE) != FALSE;
              }
            }
          }
        }
      }
    } else if (m_hParent) {
      const char* remove = status == 407 ? "Proxy-Authorization:\r\n" : "Authorization:\r\n";
      HttpAddRequestHeadersA(request, remove, static_cast<DWORD>(std::strlen(remove)), HTTP_ADDREQ_FLAG_REPLACE);
      DWORD answer = InternetErrorDlg(m_hParent, request, 0,
                                      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                          FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                      nullptr);
      resend = answer == ERROR_INTERNET_FORCE_RETRY;
    }
    if (!resend || !HttpSendRequestA(request, nullptr, 0, nullptr, 0)) break;
    ++attempts;
  }

  switch (status) {
    case 200: break;
    case 404: m_dwLastError = ERROR_INTERNET_ITEM_NOT_FOUND; break;
    case 300:
    case 400: m_dwLastError = ERROR_INTERNET_INCORRECT_FORMAT; break;
    case 401:
    case 403:
    case 407: m_dwLastError = ERROR_INTERNET_LOGIN_FAILURE; break;
    case 405: m_dwLastError = ERROR_INTERNET_PROTOCOL_NOT_FOUND; break;
    case 504: m_dwLastError = ERROR_INTERNET_TIMEOUT; break;
    default:
      // Every other failing status, so that no error page goes on as data.
      if (status >= 400) {
        m_dwLastError = ERROR_INTERNET_EXTENDED_ERROR;
        m_dwHttpStatus = status;
      }
      break;
  }
}

// One piece of a download: the size cap, the progress report and the line limit. `linesSeen` counts
// the line feeds of the pieces before (only the new piece is looked at); `done` is set when the line
// limit has been reached and the rest need not be read.
HRESULT CINetConnection::AppendRead(CBuffer<char>& output, const char* chunk, uint32_t got, bool progress,
                                    DWORD lineLimit, uint32_t& linesSeen, bool& done) {
  if (static_cast<uint64_t>(output.GetCount()) + got > kMaxDownloadBytes) {
    output.Empty();
    SetLastError(kErrorDownloadTooLarge);
    return LastError();
  }
  uint32_t before = output.GetCount();
  if (!output.Add(chunk, got)) return E_OUTOFMEMORY;
  if (progress) {
    HRESULT answer = m_pfnProgress(1, output.GetCount(), 0, m_dwProgressContext);
    if (answer) return answer;
  }
  if (lineLimit) {
    uint32_t keep = CountLines(chunk, got, lineLimit - linesSeen);
    if (!keep) {
      for (uint32_t i = 0; i < got; ++i) linesSeen += chunk[i] == '\n';
    } else {
      keep += before;
      if (keep < output.GetCount()) {
        DWORD e = output.Seek(static_cast<int32_t>(keep), 0);
        if (e) return HRESULT_FROM_WIN32(e);
      }
      done = true;
    }
  }
  return S_OK;
}

HRESULT CINetConnection::LoadInternet(HINTERNET handle, CBuffer<char>& output, DWORD lineLimit, BOOL reportProgress) {
  bool progress = false;
  DWORD length = 0, size = sizeof length;
  if (HttpQueryInfoA(handle, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr)) {
    // An announced size over the limit is refused before anything is read.
    if (length > kMaxDownloadBytes) {
      output.Empty();
      SetLastError(kErrorDownloadTooLarge);
      return LastError();
    }
    if (reportProgress && m_pfnProgress) {
      HRESULT answer = m_pfnProgress(0, length, 0, m_dwProgressContext);
      if (answer) return answer;
      progress = true;
    }
  }
  char chunk[kReadChunk];
  uint32_t lines = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(handle, chunk, sizeof chunk, &got)) return LastError();
    if (got == 0) return S_OK;
    bool done = false;
    HRESULT hr = AppendRead(output, chunk, static_cast<uint32_t>(got), progress, lineLimit, lines, done);
    if (hr != S_OK || done) return hr;
  }
}

HRESULT CINetConnection::LoadFile(int file, CBuffer<char>& output, DWORD lineLimit) {
  bool progress = false;
  struct stat st;
  if (vtx::sys::Fstat(file, &st) != 0) {
    vtx::SetLastErrorFromErrno();
    return LastError();
  }
  // A device or a FIFO has no end that the size limit could see coming, and may never answer.
  if (!S_ISREG(st.st_mode)) {
    SetLastError(ERROR_OPEN_FAILED);
    return LastError();
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxDownloadBytes) {
    SetLastError(kErrorDownloadTooLarge);
    return LastError();
  }
  int flags = vtx::sys::Fcntl(file, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK)) vtx::sys::Fcntl(file, F_SETFL, flags & ~O_NONBLOCK);
  if (m_pfnProgress) {
    HRESULT answer = m_pfnProgress(0, static_cast<DWORD>(st.st_size), 0, m_dwProgressContext);
    if (answer) return answer;
    progress = true;
  }
  char chunk[kReadChunk];
  uint32_t lines = 0;
  for (;;) {
    size_t got = 0;
    if (FAILED(vtx::ReadFully(file, chunk, sizeof chunk, &got))) return LastError();
    if (got == 0) return S_OK;
    bool done = false;
    HRESULT hr = AppendRead(output, chunk, static_cast<uint32_t>(got), progress, lineLimit, lines, done);
    if (hr != S_OK || done) return hr;
  }
}

HRESULT CINetConnection::PostOandaQuery(const char* query, DWORD_PTR connection) {
  auto* self = reinterpret_cast<CINetConnection*>(connection);
  if (!self) return E_POINTER;
  if (!query) return E_INVALIDARG;
  const char* accept[] = {"*/*", nullptr};
  HINTERNET request =
      HttpOpenRequestA(self->m_hQuoteConnection, "POST", "", nullptr, nullptr, accept, self->m_dwRequestFlags, 0);
  if (!request) return self->LastError();
  // Each answer gets no more than the whole exchange has left.
  DWORD left = self->m_Oanda.RemainingMs();
  InternetSetOptionA(request, INTERNET_OPTION_TOTAL_TIMEOUT, &left, sizeof left);
  if (!HttpSendRequestA(request, nullptr, 0, const_cast<char*>(query), static_cast<DWORD>(std::strlen(query)))) {
    HRESULT hr = self->LastError();
    InternetCloseHandle(request);
    return hr;
  }
  self->CheckRequest(request);
  self->m_Download.Empty();
  self->m_dwReadPosition = 0;
  HRESULT hr = self->LoadInternet(request, self->m_Download, 0, FALSE);
  InternetCloseHandle(request);
  return hr;
}

HRESULT CINetConnection::ReadOandaBuffer(void* destination, DWORD size, DWORD* count, DWORD_PTR connection) {
  auto* self = reinterpret_cast<CINetConnection*>(connection);
  if (!self) return E_POINTER;
  if (!destination) return E_INVALIDARG;
  uint32_t total = self->m_Download.GetCount();
  uint32_t left = self->m_dwReadPosition < total ? total - self->m_dwReadPosition : 0;
  uint32_t n = size < left ? size : left;
  if (n) std::memcpy(destination, self->m_Download.GetData() + self->m_dwReadPosition, n);
  self->m_dwReadPosition += n;
  if (count) *count = n;
  return S_OK;
}

const char* CINetConnection::GetErrorString(DWORD* kind) {
  m_strError.Empty();
  m_strRasError.Empty();
  if (kind) *kind = 0;
  const char* quote = m_Oanda.GetErrorString();
  if (m_bQuoteMode && quote && *quote) {
    if (kind) *kind = 4;
    m_strError = quote;
    return m_strError.c_str();
  }
  if (m_dwRasError) {
    if (kind) *kind = 3;
    char text[2000] = {};
    if (m_bRasAvailable) RasGetErrorStringA(m_dwRasError, text, sizeof text);
    m_strRasError = text;
    return m_strRasError.c_str();
  }
  if (m_dwLastError) {
    if (kind) *kind = m_dwLastError < INTERNET_ERROR_BASE ? 1 : 2;
    if (!m_strBound.IsEmpty()) {
      m_strError = m_strBound;
      return m_strError.c_str();
    }
    char text[200];
    const char* known = m_dwLastError >= INTERNET_ERROR_BASE ? vtx::inet::ErrorText(m_dwLastError)
                                                             : vtx::SystemErrorText(m_dwLastError);
    if (m_dwLastError == ERROR_INTERNET_EXTENDED_ERROR && m_dwHttpStatus) {
      std::snprintf(text, sizeof text, "The server answered with the HTTP status %u.", m_dwHttpStatus);
      known = text;
    } else if (m_dwLastError == kErrorDownloadTooLarge && !known) {
      std::snprintf(text, sizeof text, "The download is larger than the limit of %u MiB.",
                    kMaxDownloadBytes / (1024u * 1024u));
      known = text;
    } else if (!known) {
      // An error always has a text, or it would pass for success.
      std::snprintf(text, sizeof text, "Error %u.", m_dwLastError);
      known = text;
    }
    m_strError = known;
    return m_strError.c_str();
  }
  return nullptr;
}

HRESULT FillConnectionBlock(const INetConnectionSettings& s, CINetConnection& c) {
  RASDIALPARAMSA dial{};
  dial.dwSize = sizeof dial;
  // The dial-up part matters only when a dial-up connection is used. A text cut to its field would
  // dial the wrong entry or log on with a wrong password, so it is refused, naming the field.
  if (s.Modem) {
    if (!CopyField(dial.szEntryName, sizeof dial.szEntryName, s.DialUp)) return kDialUpEntryTooLong;
    if (!CopyField(dial.szUserName, sizeof dial.szUserName, s.DialUpUserName)) return kDialUpUserTooLong;
    if (!CopyField(dial.szPassword, sizeof dial.szPassword, s.DialUpPassword)) return kDialUpPasswordTooLong;
    if (!CopyField(dial.szDomain, sizeof dial.szDomain, s.DialUpDomain)) return kDialUpDomainTooLong;
  }
  if (s.Proxy == 1 && (s.ProxyServer.IsEmpty() || s.ProxyServer.c_str()[0] == ':')) return kProxyWithoutHost;
  c.m_DialParams = dial;
  c.m_bHangUp = s.HangUp;
  c.m_strServerUserName = s.ServerUserName;
  c.m_strServerPassword = s.ServerPassword;
  switch (s.Proxy) {
    case 0:
    case 2:
      c.m_bUseSystemProxy = s.Proxy == 2;
      c.m_strProxyServer.Empty();
      c.m_strProxyUserName.Empty();
      c.m_strProxyPassword.Empty();
      c.m_bNoProxyForLocal = FALSE;
      break;
    case 1:
      c.m_bUseSystemProxy = FALSE;
      c.m_strProxyServer = s.ProxyServer;
      c.m_strProxyUserName = s.ProxyUserName;
      c.m_strProxyPassword = s.ProxyPassword;
      c.m_bNoProxyForLocal = s.NoProxyForLAN;
      break;
    default:
      break;  // an unknown mode keeps the connection as it was built
  }
  return S_OK;
}

uint32_t CountLines(const char* buffer, uint32_t length, uint32_t n) {
  if (!buffer || n == 0) return 0;
  uint32_t seen = 0;
  for (uint32_t i = 0; i < length; ++i)
    if (buffer[i] == '\n' && ++seen == n) return i + 1;
  return 0;
}

BOOL IsHulvaneURL(const char* url) {
  if (!url || !*url) return FALSE;
  CINetConnection connection;
  char host[1024];
  if (FAILED(connection.GetHostName(url, host, sizeof host)) || !host[0]) return FALSE;
  HulvaneHosts& hosts = Hosts();
  std::lock_guard<std::mutex> guard(hosts.lock);
  if (hosts.replaced) return IsHulvaneHost(host, hosts.domains, hosts.addresses) ? TRUE : FALSE;
  return IsHulvaneHost(host, {std::begin(kHulvaneDomains), std::end(kHulvaneDomains)},
                       {std::begin(kHulvaneAddresses), std::end(kHulvaneAddresses)})
             ? TRUE
             : FALSE;
}

void SetHulvaneHosts(const std::vector<std::string>& domains, const std::vector<std::string>& addresses) {
  HulvaneHosts& hosts = Hosts();
  std::lock_guard<std::mutex> guard(hosts.lock);
  hosts.replaced = !domains.empty() || !addresses.empty();
  hosts.domains = domains;
  hosts.addresses = addresses;
}
