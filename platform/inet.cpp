// WinINet subset on libcurl. Each session owns one multi handle, so that its requests share
// the connection cache (keep-alive); a request is an easy handle on it. Sending returns once
// the answer's headers are in; the body is then pulled through InternetReadFile, so a caller
// that stops early never downloads the rest.
#include "platform/inet.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/sync.h"

namespace {

// libcurl has no default time-outs; these stand in for WinINet's.
constexpr DWORD kDefaultConnectTimeoutMs = 60000;
constexpr DWORD kDefaultReceiveTimeoutMs = 60000;
// A server that sends a byte now and then never meets the receive time-out; this ends it.
constexpr DWORD kDefaultTotalTimeoutMs = 300000;

// The bound that the last failure of this thread hit, in words.
thread_local std::string t_boundText;
constexpr long kMaxRedirects = 10;

enum class Kind { Session, Connect, Request };

struct Session;

struct Handle {
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
  Kind kind;
};

struct Connect : Handle {
  Connect() : Handle(Kind::Connect) {}
  Session* session = nullptr;
  std::string host;  // as given, IPv6 literals bracketed
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  std::string user, password;
};

struct Request : Handle {
  Request() : Handle(Kind::Request) {}
  ~Request() override;
  Session* session = nullptr;
  Connect* connect = nullptr;
  CURL* easy = nullptr;
  std::string url;
  std::string verb = "GET";
  std::string body;
  bool sent = false;
  bool http = true;
  DWORD flags = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string user, password, proxyUser, proxyPassword;

  // The answer of the last send.
  bool active = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  std::string pending;
  size_t pos = 0;
  std::vector<std::string> answerHeaders;
  long status = 0;
  unsigned long authOffered = 0, proxyAuthOffered = 0;
  curl_slist* slist = nullptr;
  char errorText[CURL_ERROR_SIZE] = {};
  std::chrono::steady_clock::time_point lastData;  // the receive time-out counts from here
  DWORD totalTimeoutMs = INFINITE;
  std::chrono::steady_clock::time_point deadline;  // of the whole answer
  size_t headerBytes = 0;
  std::string bound;  // the bound that ended the answer, in words
};

struct Session : Handle {
  Session() : Handle(Kind::Session) {}
  std::string agent;
  DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
  std::string proxy;
  std::vector<std::string> bypass;
  std::string proxyUser, proxyPassword;
  DWORD connectTimeoutMs = kDefaultConnectTimeoutMs;
  DWORD receiveTimeoutMs = kDefaultReceiveTimeoutMs;
  DWORD totalTimeoutMs = kDefaultTotalTimeoutMs;
  CURLM* multi = nullptr;
  std::set<Handle*> children;
};

Request::~Request() {
  if (easy) {
    if (active && session) curl_multi_remove_handle(session->multi, easy);
    curl_easy_cleanup(easy);
  }
  if (slist) curl_slist_free_all(slist);
}

std::mutex g_lock;
std::set<Handle*> g_handles;
std::atomic<InternetErrorDialogHandler> g_dialog{nullptr};

bool g_curlReady = false;
std::once_flag g_curlOnce;

bool StartCurl() {
  std::call_once(g_curlOnce, [] { g_curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return g_curlReady;
}

template <class T>
T* Lookup(HINTERNET h, Kind kind) {
  std::lock_guard<std::mutex> guard(g_lock);
  auto* p = static_cast<Handle*>(h);
  if (!h || !g_handles.count(p)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (p->kind != kind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return static_cast<T*>(p);
}

Handle* LookupAny(HINTERNET h) {
  std::lock_guard<std::mutex> guard(g_lock);
  auto* p = static_cast<Handle*>(h);
  if (!h || !g_handles.count(p)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return p;
}

void Register(Handle* h) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_handles.insert(h);
}

void Unregister(Handle* h) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_handles.erase(h);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool IEquals(const std::string& a, const char* b) { return Lower(a) == Lower(b); }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

// A text argument with a WinINet length: (DWORD)-1 or 0 means NUL-terminated.
std::string TextArg(LPCSTR text, DWORD length) {
  if (!text) return {};
  if (length == 0 || length == 0xFFFFFFFFu) return text;
  return std::string(text, strnlen(text, length));
}

// ---- URL text ----

// Length of "scheme:" at the start (0 when there is none).
size_t SchemeLength(const std::string& url) {
  if (url.empty() || !std::isalpha(static_cast<unsigned char>(url[0]))) return 0;
  size_t i = 1;
  while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' || url[i] == '-' || url[i] == '.'))
    ++i;
  return i < url.size() && url[i] == ':' ? i + 1 : 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX to bytes; "%00" stays as it is, since a NUL would cut the text short.
std::string Decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int h = HexValue(s[i + 1]), l = HexValue(s[i + 2]);
      if (h >= 0 && l >= 0 && (h | l)) {
        out.push_back(static_cast<char>(h * 16 + l));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

std::string Encode(const std::string& s, DWORD flags) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool enc;
    if (flags & ICU_ENCODE_SPACES_ONLY)
      enc = c == ' ';
    else
      enc = c <= 0x20 || c >= 0x7F || std::strchr("\"<>^`{|}", c) != nullptr || (c == '%' && (flags & ICU_ENCODE_PERCENT));
    if (enc) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

// "." and ".." segments of an absolute path.
std::string RemoveDotSegments(const std::string& path) {
  std::vector<std::string> out;
  size_t i = 1;
  bool trailing = false;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string seg = path.substr(i, j - i);
    trailing = false;
    if (seg == ".") {
      trailing = true;
    } else if (seg == "..") {
      if (!out.empty()) out.pop_back();
      trailing = true;
    } else {
      out.push_back(seg);
    }
    i = j + 1;
  }
  std::string r;
  for (const auto& s : out) r += "/" + s;
  if (trailing || r.empty()) r += "/";
  return r;
}

bool CanonicalizeText(const std::string& input, DWORD flags, std::string& out) {
  std::string url = Trim(input);
  if (url.empty()) {
    out.clear();
    return true;
  }
  size_t sl = SchemeLength(url);
  if (!sl) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return false;
  }
  std::string scheme = Lower(url.substr(0, sl));
  std::string rest = url.substr(sl);
  std::string tail;
  if (scheme != "file:") {
    size_t t = rest.find_first_of("?#");
    if (t != std::string::npos) {
      tail = rest.substr(t);
      rest.erase(t);
    }
  }
  const bool browser = (flags & ICU_BROWSER_MODE) != 0;
  if (flags & (ICU_DECODE | ICU_ESCAPE)) {
    rest = Decode(rest);
    if (!browser) tail = Decode(tail);
  }
  if (!(flags & ICU_NO_META)) {
    size_t pathStart = 0;
    if (rest.compare(0, 2, "//") == 0) {
      pathStart = rest.find('/', 2);
      if (pathStart == std::string::npos) pathStart = rest.size();
    }
    if (pathStart < rest.size() && rest[pathStart] == '/')
      rest = rest.substr(0, pathStart) + RemoveDotSegments(rest.substr(pathStart));
  }
  if (!(flags & ICU_NO_ENCODE)) {
    rest = Encode(rest, flags);
    if (!browser) tail = Encode(tail, flags);
  }
  out = scheme + rest + tail;
  return true;
}

struct CrackedUrl {
  std::string scheme, user, password, host, path, extra;
  INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN;
  INTERNET_PORT port = 0;
  // Offsets into the address for the pointer form.
  size_t schemeAt = 0, userAt = 0, passwordAt = 0, hostAt = 0, pathAt = 0, extraAt = 0;
};

bool Crack(const std::string& url, CrackedUrl& c) {
  size_t sl = SchemeLength(url);
  if (!sl) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return false;
  }
  c.scheme = url.substr(0, sl - 1);
  std::string ls = Lower(c.scheme);
  INTERNET_PORT defPort = 0;
  if (ls == "http") { c.nScheme = INTERNET_SCHEME_HTTP; defPort = 80; }
  else if (ls == "https") { c.nScheme = INTERNET_SCHEME_HTTPS; defPort = 443; }
  else if (ls == "ftp") { c.nScheme = INTERNET_SCHEME_FTP; defPort = 21; }
  else if (ls == "file") c.nScheme = INTERNET_SCHEME_FILE;
  size_t i = sl;
  if (url.compare(i, 2, "//") == 0) {
    i += 2;
    size_t end = url.find_first_of("/?#", i);
    if (end == std::string::npos) end = url.size();
    size_t at = url.rfind('@', end - 1);
    if (at != std::string::npos && at >= i && end > i) {
      size_t colon = url.find(':', i);
      c.userAt = i;
      if (colon != std::string::npos && colon < at) {
        c.user = url.substr(i, colon - i);
        c.passwordAt = colon + 1;
        c.password = url.substr(colon + 1, at - colon - 1);
      } else {
        c.user = url.substr(i, at - i);
      }
      i = at + 1;
    }
    c.hostAt = i;
    std::string hostport = url.substr(i, end - i);
    size_t portColon = std::string::npos;
    if (!hostport.empty() && hostport[0] == '[') {
      size_t close = hostport.find(']');
      if (close == std::string::npos) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return false;
      }
      c.host = hostport.substr(0, close + 1);
      if (close + 1 < hostport.size()) {
        if (hostport[close + 1] != ':') {
          SetLastError(ERROR_INTERNET_INVALID_URL);
          return false;
        }
        portColon = close + 1;
      }
    } else {
      portColon = hostport.find(':');
      c.host = hostport.substr(0, portColon);
    }
    c.port = defPort;
    if (portColon != std::string::npos) {
      std::string digits = hostport.substr(portColon + 1);
      if (!digits.empty()) {
        unsigned long v = 0;
        for (char d : digits) {
          if (d < '0' || d > '9' || (v = v * 10 + (d - '0')) > 65535) {
            SetLastError(ERROR_INTERNET_INVALID_URL);
            return false;
          }
        }
        c.port = static_cast<INTERNET_PORT>(v);
      }
    }
    i = end;
  } else {
    c.port = defPort;
  }
  size_t q = url.find_first_of("?#", i);
  if (c.nScheme == INTERNET_SCHEME_FILE) q = std::string::npos;
  c.pathAt = i;
  c.path = url.substr(i, q == std::string::npos ? std::string::npos : q - i);
  if (q != std::string::npos) {
    c.extraAt = q;
    c.extra = url.substr(q);
  } else {
    c.extraAt = url.size();
  }
  return true;
}

bool FillComponent(LPCSTR url, const std::string& value, size_t at, bool decode, LPSTR& field, DWORD& length) {
  if (field) {
    std::string v = decode ? Decode(value) : value;
    if (length <= v.size()) {
      length = static_cast<DWORD>(v.size() + 1);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    std::memcpy(field, v.c_str(), v.size() + 1);
    length = static_cast<DWORD>(v.size());
  } else if (length) {
    field = value.empty() ? nullptr : const_cast<char*>(url) + at;
    length = static_cast<DWORD>(value.size());
  }
  return true;
}

// ---- Requests ----

bool Bypassed(const Session& s, const std::string& host) {
  auto match = [](const std::string& pat, const std::string& h) {
    // '*' matches any run of characters; case does not matter.
    std::string p = Lower(pat), t = Lower(h);
    size_t pi = 0, ti = 0, star = std::string::npos, mark = 0;
    while (ti < t.size()) {
      if (pi < p.size() && (p[pi] == t[ti] || p[pi] == '?')) { ++pi; ++ti; }
      else if (pi < p.size() && p[pi] == '*') { star = pi++; mark = ti; }
      else if (star != std::string::npos) { pi = star + 1; ti = ++mark; }
      else return false;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
  };
  for (const auto& entry : s.bypass) {
    if (entry == "<local>") {
      if (!host.empty() && host.find('.') == std::string::npos && host[0] != '[') return true;
    } else if (match(entry, host)) {
      return true;
    }
  }
  return false;
}

unsigned long AuthScheme(const std::string& headerValue) {
  std::string v = Lower(Trim(headerValue));
  if (v.compare(0, 5, "basic") == 0) return CURLAUTH_BASIC;
  if (v.compare(0, 6, "digest") == 0) return CURLAUTH_DIGEST;
  if (v.compare(0, 4, "ntlm") == 0) return CURLAUTH_NTLM;
  if (v.compare(0, 9, "negotiate") == 0) return CURLAUTH_NEGOTIATE;
  return 0;
}

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
  auto* r = static_cast<Request*>(user);
  size_t len = size * n;
  r->lastData = std::chrono::steady_clock::now();
  if (len >= 5 && std::memcmp(data, "HTTP/", 5) == 0) r->headerBytes = 0;
  r->headerBytes += len;
  if (len > vtx::inet::kMaxHeaderLine) {
    r->bound = "sent a header line longer than the limit of " + std::to_string(vtx::inet::kMaxHeaderLine) + " bytes";
    return 0;
  }
  if (r->headerBytes > vtx::inet::kMaxHeaderBytes) {
    r->bound = "sent more than the limit of " + std::to_string(vtx::inet::kMaxHeaderBytes) + " bytes of headers";
    return 0;
  }
  std::string line(data, len);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.compare(0, 5, "HTTP/") == 0) {
    r->answerHeaders.clear();
    r->authOffered = r->proxyAuthOffered = 0;
    size_t sp = line.find(' ');
    r->status = sp == std::string::npos ? 0 : std::strtol(line.c_str() + sp + 1, nullptr, 10);
  }
  if (!line.empty()) {
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = Lower(line.substr(0, colon));
      if (name == "www-authenticate") r->authOffered |= AuthScheme(line.substr(colon + 1));
      if (name == "proxy-authenticate") r->proxyAuthOffered |= AuthScheme(line.substr(colon + 1));
    }
    r->answerHeaders.push_back(line);
  }
  return len;
}

size_t OnData(char* data, size_t size, size_t n, void* user) {
  auto* r = static_cast<Request*>(user);
  r->lastData = std::chrono::steady_clock::now();
  r->pending.append(data, size * n);
  return size * n;
}

CURLcode NoTimeCheck(CURL*, void* ctx, void*) {
  X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(static_cast<SSL_CTX*>(ctx)), X509_V_FLAG_NO_CHECK_TIME);
  return CURLE_OK;
}

DWORD MapCurl(const Request& r) {
  t_boundText = r.bound;
  if (!r.bound.empty() && r.result != CURLE_ABORTED_BY_CALLBACK)
    return r.result == CURLE_OPERATION_TIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_HTTP_INVALID_SERVER_RESPONSE;
  switch (r.result) {
    case CURLE_OK: return ERROR_SUCCESS;
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_LOGIN_DENIED: return ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_OUT_OF_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_PEER_FAILED_VERIFICATION: {
      long verify = 0;
      curl_easy_getinfo(r.easy, CURLINFO_SSL_VERIFYRESULT, &verify);
      if (verify == X509_V_ERR_CERT_HAS_EXPIRED || verify == X509_V_ERR_CERT_NOT_YET_VALID)
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
      if (verify == X509_V_OK || verify == X509_V_ERR_HOSTNAME_MISMATCH) return ERROR_INTERNET_SEC_CERT_CN_INVALID;
      return ERROR_INTERNET_INVALID_CA;
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_USE_SSL_FAILED: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_QUOTE_ERROR: return ERROR_INTERNET_EXTENDED_ERROR;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

void CollectFinished(CURLM* multi) {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    char* priv = nullptr;
    curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &priv);
    if (auto* r = reinterpret_cast<Request*>(priv)) {
      r->done = true;
      r->result = msg->data.result;
    }
  }
}

// The answer's whole time is up.
void EndByDeadline(Request* r) {
  curl_multi_remove_handle(r->session->multi, r->easy);
  r->done = true;
  r->result = CURLE_OPERATION_TIMEDOUT;
  DWORD total = std::min(r->session->totalTimeoutMs, r->totalTimeoutMs);
  r->bound = "did not finish its answer within " + std::to_string((total + 999) / 1000) + " seconds";
}

// Runs the session's transfers until this request has body bytes waiting or has ended.
void Pump(Request* r) {
  CURLM* multi = r->session->multi;
  while (r->active && !r->done && r->pos >= r->pending.size()) {
    // Checked before each step, so that a server that always has the next bytes ready meets it too.
    if (std::chrono::steady_clock::now() > r->deadline) {
      EndByDeadline(r);
      break;
    }
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi, &running);
    CollectFinished(multi);
    if (mc != CURLM_OK) {
      r->done = true;
      r->result = CURLE_OUT_OF_MEMORY;
    }
    if (r->done || r->pos < r->pending.size()) break;
    curl_waitfd stop{vtx::sync::StopFd(), CURL_WAIT_POLLIN, 0};
    curl_multi_poll(multi, &stop, stop.fd >= 0 ? 1 : 0, 200, nullptr);
    auto idle = std::chrono::steady_clock::now() - r->lastData;
    if (vtx::sync::StopRequested()) {
      // The program stops: the transfer is given up at once.
      curl_multi_remove_handle(multi, r->easy);
      r->done = true;
      r->result = CURLE_ABORTED_BY_CALLBACK;
    } else if (idle > std::chrono::milliseconds(r->session->receiveTimeoutMs)) {
      curl_multi_remove_handle(multi, r->easy);
      r->done = true;
      r->result = CURLE_OPERATION_TIMEDOUT;
    } else if (std::chrono::steady_clock::now() > r->deadline) {
      EndByDeadline(r);
    }
  }
}

// Bytes a URL parser refuses outright (blanks, controls, 8-bit) are escaped; the rest is left
// as the caller canonicalised it.
std::string WireUrl(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : url) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

bool HasHeader(const Request& r, const char* name) {
  for (const auto& h : r.headers)
    if (IEquals(h.first, name)) return true;
  return false;
}

using HeaderList = std::vector<std::pair<std::string, std::string>>;

HeaderList ParseHeaders(const std::string& text) {
  HeaderList out;
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find('\n', i);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(i, e - i);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0) out.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    i = e + 1;
  }
  return out;
}

// (Re)starts the request and waits for its answer's headers.
bool Send(Request* r, const HeaderList& extra) {
  Session* s = r->session;
  CURL* e = r->easy;
  if (r->active) {
    curl_multi_remove_handle(s->multi, e);
    r->active = false;
  }
  // What the previous answer offered picks the authentication scheme of this send.
  unsigned long auth = r->authOffered ? r->authOffered : CURLAUTH_BASIC;
  unsigned long proxyAuth = r->proxyAuthOffered ? r->proxyAuthOffered : CURLAUTH_BASIC;
  r->done = false;
  r->result = CURLE_OK;
  r->pending.clear();
  r->pos = 0;
  r->answerHeaders.clear();
  r->status = 0;
  r->errorText[0] = 0;
  r->headerBytes = 0;
  r->bound.clear();
  t_boundText.clear();
  {
    DWORD total = std::min(s->totalTimeoutMs, r->totalTimeoutMs);
    r->deadline = total == INFINITE ? std::chrono::steady_clock::time_point::max()
                                    : std::chrono::steady_clock::now() + std::chrono::milliseconds(total);
  }
  if (r->slist) {
    curl_slist_free_all(r->slist);
    r->slist = nullptr;
  }

  curl_easy_reset(e);
  std::string wire = WireUrl(r->url);
  curl_easy_setopt(e, CURLOPT_URL, wire.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp,ftps");
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PRIVATE, reinterpret_cast<char*>(r));
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r->errorText);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, r);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, r);
  if (!s->agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, s->agent.c_str());
  if (!(r->flags & INTERNET_FLAG_NO_AUTO_REDIRECT)) {
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
  }
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s->connectTimeoutMs));

  CrackedUrl cracked;
  std::string host = Crack(r->url, cracked) ? cracked.host : std::string();
  switch (s->access) {
    case INTERNET_OPEN_TYPE_DIRECT:
      curl_easy_setopt(e, CURLOPT_PROXY, "");  // also overrides http_proxy and friends
      break;
    case INTERNET_OPEN_TYPE_PROXY:
      curl_easy_setopt(e, CURLOPT_PROXY, Bypassed(*s, host) ? "" : s->proxy.c_str());
      break;
    default:
      break;  // the environment decides
  }
  const std::string& pu = r->proxyUser.empty() ? s->proxyUser : r->proxyUser;
  const std::string& pp = r->proxyUser.empty() ? s->proxyPassword : r->proxyPassword;
  if (!pu.empty()) {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, pu.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, pp.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, proxyAuth);
  }
  if (!r->user.empty() && !HasHeader(*r, "Authorization")) {
    curl_easy_setopt(e, CURLOPT_USERNAME, r->user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, r->password.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, auth);
  }
  if (r->flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID) curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
  if (r->flags & INTERNET_FLAG_IGNORE_CERT_DATE_INVALID) curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, NoTimeCheck);

  if (r->http) {
    if (r->flags & INTERNET_FLAG_PRAGMA_NOCACHE) r->slist = curl_slist_append(r->slist, "Pragma: no-cache");
    auto add = [r](const std::pair<std::string, std::string>& h) {
      std::string line = h.first + ": " + h.second;
      if (curl_slist* n = curl_slist_append(r->slist, line.c_str())) r->slist = n;
    };
    for (const auto& h : r->headers) add(h);
    for (const auto& h : extra) add(h);
    if (r->slist) curl_easy_setopt(e, CURLOPT_HTTPHEADER, r->slist);
    if (IEquals(r->verb, "POST")) {
      curl_easy_setopt(e, CURLOPT_POST, 1L);
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, r->body.data());
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r->body.size()));
    } else if (IEquals(r->verb, "HEAD")) {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (!IEquals(r->verb, "GET")) {
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r->verb.c_str());
    }
  }

  if (curl_multi_add_handle(s->multi, e) != CURLM_OK) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return false;
  }
  r->active = true;
  r->sent = true;
  // Waiting for the connection has its own time-out; the receive time-out starts after it.
  r->lastData = std::chrono::steady_clock::now() + std::chrono::milliseconds(s->connectTimeoutMs);
  Pump(r);
  if (r->done && r->result != CURLE_OK && r->pending.empty()) {
    // A proxy that refuses a tunnel without credentials answers like any other request, so
    // that the caller can answer the challenge.
    long connectCode = 0;
    curl_easy_getinfo(e, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    if (connectCode == 407 && r->http) {
      r->status = 407;
      r->result = CURLE_OK;
      return true;
    }
    SetLastError(MapCurl(*r));
    return false;
  }
  return true;
}

Request* NewRequest(Session* s, const std::string& url, DWORD flags) {
  auto* r = new Request;
  r->session = s;
  r->url = url;
  r->flags = flags;
  r->proxyUser = s->proxyUser;
  r->proxyPassword = s->proxyPassword;
  r->easy = curl_easy_init();
  if (!r->easy) {
    delete r;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Register(r);
  s->children.insert(r);
  return r;
}

void CloseRequest(Request* r) {
  Unregister(r);
  if (r->session) r->session->children.erase(r);
  delete r;
}

bool SetText(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  std::string text = buffer ? TextArg(static_cast<LPCSTR>(buffer), length) : std::string();
  Handle* h = LookupAny(handle);
  if (!h) return false;
  if (h->kind == Kind::Request) {
    auto* r = static_cast<Request*>(h);
    switch (option) {
      case INTERNET_OPTION_USERNAME: r->user = text; return true;
      case INTERNET_OPTION_PASSWORD: r->password = text; return true;
      case INTERNET_OPTION_PROXY_USERNAME: r->proxyUser = text; return true;
      case INTERNET_OPTION_PROXY_PASSWORD: r->proxyPassword = text; return true;
    }
  } else if (h->kind == Kind::Connect) {
    auto* c = static_cast<Connect*>(h);
    if (option == INTERNET_OPTION_USERNAME) { c->user = text; return true; }
    if (option == INTERNET_OPTION_PASSWORD) { c->password = text; return true; }
  } else {
    auto* s = static_cast<Session*>(h);
    switch (option) {
      case INTERNET_OPTION_USER_AGENT: s->agent = text; return true;
      case INTERNET_OPTION_PROXY_USERNAME: s->proxyUser = text; return true;
      case INTERNET_OPTION_PROXY_PASSWORD: s->proxyPassword = text; return true;
    }
  }
  SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  return false;
}

bool ReturnText(const std::string& text, LPVOID buffer, DWORD* length) {
  if (!length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!buffer || *length <= text.size()) {
    *length = static_cast<DWORD>(text.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<DWORD>(text.size());
  return true;
}

bool ReturnNumber(DWORD value, LPVOID buffer, DWORD* length) {
  if (!length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!buffer || *length < sizeof(DWORD)) {
    *length = sizeof(DWORD);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(buffer, &value, sizeof value);
  *length = sizeof(DWORD);
  return true;
}

struct InetText {
  DWORD code;
  const char* text;
};

const InetText kTexts[] = {
    {ERROR_INTERNET_OUT_OF_HANDLES, "No more internet handles could be generated at this time."},
    {ERROR_INTERNET_TIMEOUT, "The operation timed out."},
    {ERROR_INTERNET_EXTENDED_ERROR, "The server returned extended information."},
    {ERROR_INTERNET_INTERNAL_ERROR, "An internal error occurred in the internet connection."},
    {ERROR_INTERNET_INVALID_URL, "The URL is invalid."},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "The URL does not use a recognized protocol."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name or address could not be resolved."},
    {ERROR_INTERNET_PROTOCOL_NOT_FOUND, "A protocol with the required capabilities was not found."},
    {ERROR_INTERNET_INVALID_OPTION, "The option is invalid."},
    {ERROR_INTERNET_BAD_OPTION_LENGTH, "The length is incorrect for the option type."},
    {ERROR_INTERNET_LOGIN_FAILURE, "The login request was denied."},
    {ERROR_INTERNET_OPERATION_CANCELLED, "The operation was canceled."},
    {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, "The supplied handle is the wrong type for the requested operation."},
    {ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The handle is in the wrong state for the requested operation."},
    {ERROR_INTERNET_INCORRECT_FORMAT, "The format of the request is invalid."},
    {ERROR_INTERNET_ITEM_NOT_FOUND, "The requested item could not be located."},
    {ERROR_INTERNET_CANNOT_CONNECT, "A connection with the server could not be established."},
    {ERROR_INTERNET_CONNECTION_ABORTED, "The connection with the server was terminated abnormally."},
    {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset."},
    {ERROR_INTERNET_FORCE_RETRY, "The request must be sent again."},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "The server's security certificate has expired or is not yet valid."},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, "The server's security certificate does not name this server."},
    {ERROR_INTERNET_INVALID_CA, "The server's security certificate was not issued by a trusted authority."},
    {ERROR_HTTP_HEADER_NOT_FOUND, "The requested header could not be located."},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server response could not be parsed."},
    {ERROR_HTTP_INVALID_HEADER, "The supplied header is invalid."},
    {ERROR_HTTP_REDIRECT_FAILED, "The redirection failed."},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "A secure connection to the server could not be established."},
    {ERROR_INTERNET_PROXY_SERVER_UNREACHABLE, "The proxy server could not be reached."},
};

}  // namespace

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass, DWORD) {
  if (!StartCurl()) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return nullptr;
  }
  if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
      accessType != INTERNET_OPEN_TYPE_PROXY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (accessType == INTERNET_OPEN_TYPE_PROXY && (!proxy || !*proxy)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* s = new Session;
  s->multi = curl_multi_init();
  if (!s->multi) {
    delete s;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  s->agent = agent ? agent : "";
  s->access = accessType;
  if (accessType == INTERNET_OPEN_TYPE_PROXY) {
    s->proxy = proxy;
    std::string list = proxyBypass ? proxyBypass : "";
    size_t i = 0;
    while (i < list.size()) {
      size_t e = list.find_first_of("; ,\t", i);
      if (e == std::string::npos) e = list.size();
      if (e > i) s->bypass.push_back(list.substr(i, e - i));
      i = e + 1;
    }
  }
  Register(s);
  return s;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  Handle* h = LookupAny(handle);
  if (!h) return FALSE;
  if (h->kind == Kind::Request) {
    CloseRequest(static_cast<Request*>(h));
  } else if (h->kind == Kind::Connect) {
    auto* c = static_cast<Connect*>(h);
    std::vector<Request*> mine;
    for (Handle* k : c->session->children)
      if (k->kind == Kind::Request && static_cast<Request*>(k)->connect == c) mine.push_back(static_cast<Request*>(k));
    for (Request* r : mine) CloseRequest(r);
    Unregister(c);
    c->session->children.erase(c);
    delete c;
  } else {
    auto* s = static_cast<Session*>(h);
    std::vector<Request*> requests;
    std::vector<Connect*> connects;
    for (Handle* k : s->children) {
      if (k->kind == Kind::Request)
        requests.push_back(static_cast<Request*>(k));
      else
        connects.push_back(static_cast<Connect*>(k));
    }
    for (Request* r : requests) CloseRequest(r);
    for (Connect* c : connects) {
      Unregister(c);
      delete c;
    }
    Unregister(s);
    curl_multi_cleanup(s->multi);
    delete s;
  }
  return TRUE;
}

HINTERNET InternetOpenUrlA(HINTERNET session, LPCSTR url, LPCSTR headers, DWORD headersLength, DWORD flags, DWORD_PTR) {
  auto* s = Lookup<Session>(session, Kind::Session);
  if (!s) return nullptr;
  if (!url) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  CrackedUrl c;
  if (!Crack(url, c)) return nullptr;
  std::string scheme = Lower(c.scheme);
  if (scheme != "http" && scheme != "https" && scheme != "ftp" && scheme != "ftps") {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return nullptr;
  }
  if (c.host.empty()) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  Request* r = NewRequest(s, url, flags);
  if (!r) return nullptr;
  r->http = scheme == "http" || scheme == "https";
  if (!Send(r, ParseHeaders(TextArg(headers, headersLength)))) {
    DWORD e = GetLastError();
    CloseRequest(r);
    SetLastError(e);
    return nullptr;
  }
  return r;
}

BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, DWORD* read) {
  if (read) *read = 0;
  auto* r = Lookup<Request>(request, Kind::Request);
  if (!r) return FALSE;
  if (!read || (!buffer && toRead)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!r->active) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return FALSE;
  }
  if (toRead == 0) return TRUE;
  Pump(r);
  size_t have = r->pending.size() - r->pos;
  if (have) {
    size_t n = std::min<size_t>(have, toRead);
    std::memcpy(buffer, r->pending.data() + r->pos, n);
    r->pos += n;
    if (r->pos == r->pending.size()) {
      r->pending.clear();
      r->pos = 0;
    }
    *read = static_cast<DWORD>(n);
    return TRUE;
  }
  if (r->result != CURLE_OK) {
    SetLastError(MapCurl(*r));
    return FALSE;
  }
  return TRUE;
}

BOOL InternetGoOnline(LPCSTR, HWND, DWORD) { return TRUE; }

BOOL InternetGetConnectedState(DWORD* flags, DWORD) {
  if (flags) *flags = INTERNET_CONNECTION_LAN;
  return TRUE;
}

BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD* bufferLength) {
  if (option == INTERNET_OPTION_CONNECTED_STATE) return ReturnNumber(INTERNET_STATE_CONNECTED, buffer, bufferLength);
  Handle* h = LookupAny(handle);
  if (!h) return FALSE;
  if (h->kind == Kind::Request) {
    auto* r = static_cast<Request*>(h);
    switch (option) {
      case INTERNET_OPTION_URL: {
        char* effective = nullptr;
        if (r->active) curl_easy_getinfo(r->easy, CURLINFO_EFFECTIVE_URL, &effective);
        return ReturnText(effective ? effective : r->url, buffer, bufferLength);
      }
      case INTERNET_OPTION_USERNAME: return ReturnText(r->user, buffer, bufferLength);
      case INTERNET_OPTION_PASSWORD: return ReturnText(r->password, buffer, bufferLength);
      case INTERNET_OPTION_USER_AGENT: return ReturnText(r->session->agent, buffer, bufferLength);
    }
  } else if (h->kind == Kind::Session) {
    auto* s = static_cast<Session*>(h);
    switch (option) {
      case INTERNET_OPTION_USER_AGENT: return ReturnText(s->agent, buffer, bufferLength);
      case INTERNET_OPTION_CONNECT_TIMEOUT: return ReturnNumber(s->connectTimeoutMs, buffer, bufferLength);
      case INTERNET_OPTION_RECEIVE_TIMEOUT: return ReturnNumber(s->receiveTimeoutMs, buffer, bufferLength);
      case INTERNET_OPTION_TOTAL_TIMEOUT: return ReturnNumber(s->totalTimeoutMs, buffer, bufferLength);
    }
  }
  SetLastError(ERROR_INTERNET_INVALID_OPTION);
  return FALSE;
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) {
  switch (option) {
    case INTERNET_OPTION_CONNECTED_STATE: {
      DWORD state = 0;
      if (!buffer || bufferLength < sizeof state) {
        SetLastError(ERROR_INTERNET_BAD_OPTION_LENGTH);
        return FALSE;
      }
      std::memcpy(&state, buffer, sizeof state);
      if (state & INTERNET_STATE_DISCONNECTED_BY_USER) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
      }
      return TRUE;
    }
    case INTERNET_OPTION_USERNAME:
    case INTERNET_OPTION_PASSWORD:
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD:
    case INTERNET_OPTION_USER_AGENT:
      return SetText(handle, option, buffer, bufferLength);
    case INTERNET_OPTION_CONNECT_TIMEOUT:
    case INTERNET_OPTION_RECEIVE_TIMEOUT: {
      Handle* h = LookupAny(handle);
      if (!h) return FALSE;
      if (!buffer || bufferLength < sizeof(DWORD)) {
        SetLastError(ERROR_INTERNET_BAD_OPTION_LENGTH);
        return FALSE;
      }
      Session* s = h->kind == Kind::Session   ? static_cast<Session*>(h)
                   : h->kind == Kind::Request ? static_cast<Request*>(h)->session
                                              : static_cast<Connect*>(h)->session;
      DWORD v;
      std::memcpy(&v, buffer, sizeof v);
      (option == INTERNET_OPTION_CONNECT_TIMEOUT ? s->connectTimeoutMs : s->receiveTimeoutMs) = v;
      return TRUE;
    }
    case INTERNET_OPTION_TOTAL_TIMEOUT: {
      Handle* h = LookupAny(handle);
      if (!h) return FALSE;
      if (!buffer || bufferLength < sizeof(DWORD) || h->kind == Kind::Connect) {
        SetLastError(ERROR_INTERNET_BAD_OPTION_LENGTH);
        return FALSE;
      }
      DWORD v;
      std::memcpy(&v, buffer, sizeof v);
      (h->kind == Kind::Session ? static_cast<Session*>(h)->totalTimeoutMs : static_cast<Request*>(h)->totalTimeoutMs) = v;
      return TRUE;
    }
  }
  SetLastError(ERROR_INTERNET_INVALID_OPTION);
  return FALSE;
}

HINTERNET InternetConnectA(HINTERNET session, LPCSTR server, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                           DWORD service, DWORD, DWORD_PTR) {
  auto* s = Lookup<Session>(session, Kind::Session);
  if (!s) return nullptr;
  if (!server || !*server) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (service != INTERNET_SERVICE_HTTP) {
    SetLastError(ERROR_INTERNET_PROTOCOL_NOT_FOUND);
    return nullptr;
  }
  for (const char* p = server; *p; ++p)
    if (static_cast<unsigned char>(*p) <= 0x20 || std::strchr("/?#@", *p)) {
      SetLastError(ERROR_INTERNET_INVALID_URL);
      return nullptr;
    }
  auto* c = new Connect;
  c->session = s;
  c->host = server;
  if (c->host.find(':') != std::string::npos && c->host[0] != '[') c->host = "[" + c->host + "]";
  c->port = port ? port : INTERNET_DEFAULT_HTTP_PORT;
  c->user = user ? user : "";
  c->password = password ? password : "";
  Register(c);
  s->children.insert(c);
  return c;
}

HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR, LPCSTR, LPCSTR*, DWORD flags,
                           DWORD_PTR) {
  auto* c = Lookup<Connect>(connection, Kind::Connect);
  if (!c) return nullptr;
  std::string path = object ? object : "";
  if (path.empty() || path[0] != '/') path = "/" + path;
  bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
  std::string url = std::string(secure ? "https://" : "http://") + c->host + ":" + std::to_string(c->port) + path;
  Request* r = NewRequest(c->session, url, flags);
  if (!r) return nullptr;
  r->connect = c;
  r->verb = verb && *verb ? verb : "GET";
  r->user = c->user;
  r->password = c->password;
  return r;
}

BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength) {
  auto* r = Lookup<Request>(request, Kind::Request);
  if (!r) return FALSE;
  if (!r->http) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  // A send again without a body repeats the request as it was.
  if (optional)
    r->body.assign(static_cast<const char*>(optional), optionalLength);
  else if (!r->sent)
    r->body.clear();
  return Send(r, ParseHeaders(TextArg(headers, headersLength))) ? TRUE : FALSE;
}

BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength, DWORD modifiers) {
  auto* r = Lookup<Request>(request, Kind::Request);
  if (!r) return FALSE;
  if (!headers) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HeaderList list = ParseHeaders(TextArg(headers, headersLength));
  if (list.empty()) {
    SetLastError(ERROR_HTTP_INVALID_HEADER);
    return FALSE;
  }
  for (auto& h : list) {
    bool exists = HasHeader(*r, h.first.c_str());
    if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
      std::erase_if(r->headers, [&](const auto& x) { return IEquals(x.first, h.first.c_str()); });
      if (!h.second.empty()) r->headers.push_back(h);
    } else if (modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) {
      if (!exists) r->headers.push_back(h);
    } else if (!h.second.empty()) {
      r->headers.push_back(h);
    }
  }
  return TRUE;
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* bufferLength, DWORD*) {
  auto* r = Lookup<Request>(request, Kind::Request);
  if (!r) return FALSE;
  if (!r->http) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  if (!r->active) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    return FALSE;
  }
  std::string value;
  bool found = false;
  auto header = [&](const char* name) {
    for (const auto& line : r->answerHeaders) {
      size_t colon = line.find(':');
      if (colon != std::string::npos && line.compare(0, 5, "HTTP/") != 0 && IEquals(Trim(line.substr(0, colon)), name)) {
        value = Trim(line.substr(colon + 1));
        found = true;
      }
    }
  };
  switch (infoLevel & 0xFFFF) {
    case HTTP_QUERY_STATUS_CODE:
      if (r->status) {
        value = std::to_string(r->status);
        found = true;
      }
      break;
    case HTTP_QUERY_STATUS_TEXT:
      if (!r->answerHeaders.empty() && r->answerHeaders[0].compare(0, 5, "HTTP/") == 0) {
        const std::string& s = r->answerHeaders[0];
        size_t a = s.find(' ');
        size_t b = a == std::string::npos ? a : s.find(' ', a + 1);
        value = b == std::string::npos ? "" : s.substr(b + 1);
        found = true;
      }
      break;
    case HTTP_QUERY_CONTENT_LENGTH: header("Content-Length"); break;
    case HTTP_QUERY_RAW_HEADERS_CRLF:
      for (const auto& line : r->answerHeaders) value += line + "\r\n";
      value += "\r\n";
      found = !r->answerHeaders.empty();
      break;
    default:
      SetLastError(ERROR_INTERNET_INVALID_OPTION);
      return FALSE;
  }
  if (!found) {
    SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
  }
  if (infoLevel & HTTP_QUERY_FLAG_NUMBER) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(value.c_str(), &end, 10);
    if (value.empty() || *end || v > 0xFFFFFFFFull) {
      SetLastError(ERROR_HTTP_INVALID_HEADER);
      return FALSE;
    }
    return ReturnNumber(static_cast<DWORD>(v), buffer, bufferLength);
  }
  return ReturnText(value, buffer, bufferLength);
}

BOOL InternetCanonicalizeUrlA(LPCSTR url, LPSTR buffer, DWORD* bufferLength, DWORD flags) {
  if (!url || !bufferLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string out;
  if (!CanonicalizeText(url, flags, out)) return FALSE;
  return ReturnText(out, buffer, bufferLength);
}

BOOL InternetCrackUrlA(LPCSTR url, DWORD urlLength, DWORD flags, URL_COMPONENTSA* parts) {
  if (!url || !parts || parts->dwStructSize < sizeof(URL_COMPONENTSA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Offsets of the cracked text are offsets into the caller's text too.
  std::string text = TextArg(url, urlLength);
  CrackedUrl c;
  if (!Crack(text, c)) return FALSE;
  bool decode = (flags & (ICU_DECODE | ICU_ESCAPE)) != 0;
  parts->nScheme = c.nScheme;
  parts->nPort = c.port;
  return FillComponent(url, c.scheme, 0, false, parts->lpszScheme, parts->dwSchemeLength) &&
                 FillComponent(url, c.host, c.hostAt, decode, parts->lpszHostName, parts->dwHostNameLength) &&
                 FillComponent(url, c.user, c.userAt, decode, parts->lpszUserName, parts->dwUserNameLength) &&
                 FillComponent(url, c.password, c.passwordAt, decode, parts->lpszPassword, parts->dwPasswordLength) &&
                 FillComponent(url, c.path, c.pathAt, decode, parts->lpszUrlPath, parts->dwUrlPathLength) &&
                 FillComponent(url, c.extra, c.extraAt, decode, parts->lpszExtraInfo, parts->dwExtraInfoLength)
             ? TRUE
             : FALSE;
}

void SetInternetErrorDialog(InternetErrorDialogHandler handler) { g_dialog.store(handler); }

DWORD InternetErrorDlg(HWND parent, HINTERNET request, DWORD error, DWORD flags, LPVOID*) {
  InternetErrorDialogHandler handler = g_dialog.load();
  if (!handler) return ERROR_CANCELLED;
  return handler(parent, request, error, flags);
}

namespace vtx::inet {

std::string LastBoundText() { return t_boundText; }

void ParseAnswerHeaders(const char* data, size_t size) {
  Request r;
  r.active = true;
  Register(&r);
  // Line by line, each with its line end, as the transfer library hands them over.
  for (size_t start = 0; start < size;) {
    const void* lf = std::memchr(data + start, '\n', size - start);
    size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : size;
    if (OnHeader(const_cast<char*>(data + start), 1, end - start, &r) != end - start) break;
    start = end;
  }
  static const DWORD kLevels[] = {HTTP_QUERY_STATUS_CODE, HTTP_QUERY_STATUS_TEXT, HTTP_QUERY_CONTENT_LENGTH,
                                  HTTP_QUERY_RAW_HEADERS_CRLF};
  char text[512];
  for (DWORD level : kLevels) {
    for (DWORD flags : {0u, HTTP_QUERY_FLAG_NUMBER}) {
      DWORD length = sizeof text;
      HttpQueryInfoA(&r, level | flags, text, &length, nullptr);
    }
  }
  Unregister(&r);
}

bool Available() { return StartCurl(); }

const char* ErrorText(DWORD code) {
  for (const auto& t : kTexts)
    if (t.code == code) return t.text;
  return nullptr;
}

std::string MaskPasswords(const std::string& text) {
  std::string out;
  size_t from = 0;
  for (size_t at = text.find("://"); at != std::string::npos; at = text.find("://", at + 3)) {
    size_t start = at + 3;
    size_t end = text.find_first_of("/?#\"'<> \t\r\n", start);
    if (end == std::string::npos) end = text.size();
    size_t userEnd = text.rfind('@', end - 1);
    if (userEnd == std::string::npos || userEnd < start || end == start) continue;
    size_t colon = text.find(':', start);
    if (colon >= userEnd) continue;  // a user name alone
    out.append(text, from, colon + 1 - from).append("***");
    from = userEnd;
  }
  return from == 0 ? text : out.append(text, from, std::string::npos);
}

}  // namespace vtx::inet
