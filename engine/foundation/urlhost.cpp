#include "engine/foundation/urlhost.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/inet.h"

namespace {

// By hand, for what the cracker does not take (a bare host name, an unknown scheme): after "://"
// the host runs to the path, query or fragment; user information before an '@' is skipped and a
// port after a ':' is cut, unless a '\' follows (a drive letter of a file address).
std::string ParseHost(const char* url) {
  const char* start = std::strstr(url, "://");
  start = start ? start + 3 : url;
  const char* end = start + std::strcspn(start, "/?#");
  if (start != url) {
    for (const char* p = start; p < end; ++p)
      if (*p == '@') start = p + 1;
    const char* colon = static_cast<const char*>(std::memchr(start, ':', static_cast<size_t>(end - start)));
    if (colon && !std::strchr(colon, '\\')) end = colon;
  }
  return std::string(start, end);
}

}  // namespace

HRESULT GetUrlHostName(const char* url, char* buffer, DWORD size) {
  if (!url || !buffer || size == 0) return E_INVALIDARG;
  buffer[0] = 0;
  // A decoded host is never longer than the address it came from.
  std::vector<char> cracked(std::strlen(url) + 1, 0);
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = cracked.data();
  parts.dwHostNameLength = static_cast<DWORD>(cracked.size());
  std::string host;
  if (InternetCrackUrlA(url, 0, ICU_ESCAPE | ICU_DECODE, &parts) && cracked[0])
    host = cracked.data();
  else
    host = ParseHost(url);
  if (!host.empty() && host.back() == '.') host.pop_back();
  size_t n = host.size() < size - 1 ? host.size() : size - 1;
  std::memcpy(buffer, host.data(), n);
  buffer[n] = 0;
  return S_OK;
}
