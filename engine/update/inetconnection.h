// The one object through which the update engine fetches a data source: the internet session
// with its proxy, the dial-up line, and the loads of "file:", "fxp:", "fxpd:" and internet
// addresses into memory.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/foundation/buffer.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/timetext.h"
#include "engine/update/oanda.h"
#include "platform/dialup.h"
#include "platform/errors.h"
#include "platform/inet.h"
#include "platform/types.h"

class CSettings;

// No data source is anywhere near this; a larger answer is refused rather than held in memory.
constexpr uint32_t kMaxDownloadBytes = 64u * 1024u * 1024u;
// The last error of a download that passes the limit.
constexpr DWORD kErrorDownloadTooLarge = ERROR_FILE_TOO_LARGE;

// result = callback(kind, value, 0, context): kind 0 announces the total size, kind 1 the bytes
// read so far; a nonzero result stops the load and becomes its result.
using INetProgressCallback = HRESULT (*)(DWORD kind, DWORD value, DWORD reserved, DWORD_PTR context);

// The configuration values that configure a connection, named as the settings name them;
// the settings fill it, FillConnectionBlock hands it to a connection.
struct INetConnectionSettings {
  DWORD Proxy = 2;  // 0 direct, 1 the proxy named in ProxyServer, 2 the system's settings
  CStringA ProxyServer;  // host:port
  BOOL NoProxyForLAN = 1;
  BOOL HangUp = 1;
  BOOL Modem = 0;
  CStringA DialUp;  // dial-up connection name, used when Modem is on
  // The credentials, in their stored order.
  CStringA DialUpUserName;
  CStringA DialUpPassword;
  CStringA DialUpDomain;
  CStringA ServerUserName;
  CStringA ServerPassword;
  CStringA ProxyUserName;
  CStringA ProxyPassword;
};

class CINetConnection {
 public:
  CINetConnection();
  ~CINetConnection();
  CINetConnection(const CINetConnection&) = delete;
  CINetConnection& operator=(const CINetConnection&) = delete;

  HRESULT Open();
  void Close();
  // The output holds the bytes read. A bad HTTP status still loads (the error page) and leaves
  // its error for GetErrorString.
  HRESULT Load(const char* url, CBuffer<char>& output, DWORD flags, DWORD lineLimit, CSettings* settings,
               HWND parent);
  void SetAgent(const char* agent);
  // Text of the last error (null when there is none); kind 1 Windows, 2 internet, 3 dial-up,
  // 4 quote server, 0 none.
  const char* GetErrorString(DWORD* kind);
  // The host part of an address (GetUrlHostName).
  HRESULT GetHostName(const char* url, char* buffer, DWORD size);
  // The host that the server credentials belong to for the loads that follow (a data source whose
  // pages name further pages); null or empty: the host of each load's own address.
  void SetCredentialHost(const char* host) { m_strCredentialHost = host; }
  HRESULT CanonicalizeUrl(const char* url, CBuffer<char>& output, DWORD flags);
  BOOL CheckRasAPI();
  // The dial-up phone book's entries: a block the caller frees with LocalFree, and their number.
  // 0x80004002 without a dial-up library; a dial-up error is kept as the last error (0x80004005).
  HRESULT EnumEntries(RASENTRYNAMEA** entries, DWORD* count);
  // The system's editor of a phone-book entry; results as EnumEntries.
  HRESULT EditPhonebookEntry(HWND owner, const char* phonebook, const char* entry);
  BOOL AlreadyConnected();
  BOOL IsGlobalOffline();
  HRESULT LoadInternet(HINTERNET handle, CBuffer<char>& output, DWORD lineLimit, BOOL reportProgress);
  HRESULT LoadFile(int file, CBuffer<char>& output, DWORD lineLimit);
  HRESULT AppendRead(CBuffer<char>& output, const char* chunk, uint32_t got, bool progress, DWORD lineLimit,
                     uint32_t& linesSeen,
                     bool& done);
  HINTERNET OpenUrl(const char* url, const char* headers, DWORD headersLength, DWORD flags, DWORD_PTR context);
  void CheckRequest(HINTERNET request);
  static HRESULT PostOandaQuery(const char* query, DWORD_PTR connection);
  static HRESULT ReadOandaBuffer(void* destination, DWORD size, DWORD* count, DWORD_PTR connection);
  HRESULT LastError();
  BOOL GetConnectedState(DWORD* flags) { return InternetGetConnectedState(flags, 0); }
  BOOL SetGlobalOffline(BOOL offline) {
    DWORD state = offline ? INTERNET_STATE_DISCONNECTED_BY_USER : INTERNET_STATE_CONNECTED;
    return InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECTED_STATE, &state, sizeof state);
  }
  void ClearError() {
    m_dwLastError = 0;
    m_strBound.Empty();
    m_dwRasError = 0;
    m_dwHttpStatus = 0;
  }

  HINTERNET m_hSession = nullptr;
  HWND m_hParent = nullptr;
  BOOL m_bINetAvailable = FALSE;
  BOOL m_bRasAvailable = FALSE;
  BOOL m_bRasChecked = FALSE;
  CStringA m_strAgent;
  CStringA m_strProxyServer;
  CStringA m_strServerUserName;
  CStringA m_strServerPassword;
  CStringA m_strProxyUserName;
  CStringA m_strProxyPassword;
  BOOL m_bUseSystemProxy = FALSE;
  BOOL m_bNoProxyForLocal = TRUE;
  BOOL m_bHangUp = TRUE;
  RASDIALPARAMSA m_DialParams{};
  HRASCONN m_hRasConnection = nullptr;
  DWORD m_dwRasError = 0;
  CStringA m_strRasError;
  DWORD m_dwLastError = 0;
  CStringA m_strError;
  INetProgressCallback m_pfnProgress = nullptr;
  DWORD_PTR m_dwProgressContext = 0;
  COanda m_Oanda;
  CBuffer<char> m_Download{100, 100};
  DWORD m_dwReadPosition = 0;
  BOOL m_bQuoteMode = FALSE;
  HINTERNET m_hQuoteConnection = nullptr;
  DWORD m_dwRequestFlags = 0;
  DWORD_PTR m_dwRequestContext = 0;
  // Host of the address being loaded: only its own server gets the server credentials.
  CStringA m_strSourceHost;
  CStringA m_strCredentialHost;
  // The HTTP status behind a status error, so that its text can name it.
  DWORD m_dwHttpStatus = 0;
  // The bound of an answer that the last error hit, in words with the server's name; empty when none.
  CStringA m_strBound;
};

// Configures the connection from the settings; 0, 0x8004006D for a named proxy without a host, or,
// with a dial-up connection in use, 0x8004025B to 0x8004025E for a dial-up entry name, user name,
// password or domain too long for its field. The low word of a failure is the text that explains it.
HRESULT FillConnectionBlock(const INetConnectionSettings& settings, CINetConnection& connection);

// The number of bytes up to and including the n-th line feed; 0 when the buffer holds fewer.
uint32_t CountLines(const char* buffer, uint32_t length, uint32_t n);

// Whether the address points at one of the maker's own rate servers.
BOOL IsHulvaneURL(const char* url);
// Replaces the maker's rate servers of the build: host names (each with every host below it) and
// address literals. Two empty lists restore the build's own. For tests with a local server.
void SetHulvaneHosts(const std::vector<std::string>& domains, const std::vector<std::string>& addresses);
// EndsWith, the case-insensitive suffix test, is the foundation's (timetext.h).
