// Addresses through URL cracking and canonicalisation, the connection's host name, the maker-host
// test, the password mask, the archive's extension and the next-page rule. The first byte picks the
// flags; the rest is the address (and, after a NUL, a second one for the next-page rule).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/update/fetchsource.h"
#include "engine/update/inetconnection.h"
#include "engine/update/runarchive.h"
#include "platform/inet.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}

// Cracking into buffers of `room` characters: each component fits with its NUL, and pointers into
// the address stay inside it.
void Crack(const std::string& url, DWORD flags, DWORD room) {
  char scheme[64] = "", host[256] = "", user[256] = "", password[256] = "", path[1024] = "", extra[1024] = "";
  URL_COMPONENTSA c{};
  c.dwStructSize = sizeof c;
  char* buffers[] = {scheme, host, user, password, path, extra};
  DWORD sizes[] = {sizeof scheme, sizeof host, sizeof user, sizeof password, sizeof path, sizeof extra};
  if (room) {
    c.lpszScheme = scheme, c.dwSchemeLength = std::min(room, sizes[0]);
    c.lpszHostName = host, c.dwHostNameLength = std::min(room, sizes[1]);
    c.lpszUserName = user, c.dwUserNameLength = std::min(room, sizes[2]);
    c.lpszPassword = password, c.dwPasswordLength = std::min(room, sizes[3]);
    c.lpszUrlPath = path, c.dwUrlPathLength = std::min(room, sizes[4]);
    c.lpszExtraInfo = extra, c.dwExtraInfoLength = std::min(room, sizes[5]);
  } else {
    c.dwSchemeLength = c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength = 1;
    c.dwUrlPathLength = c.dwExtraInfoLength = 1;
  }
  if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), flags, &c)) return;
  const char* begin = url.c_str();
  const char* end = begin + url.size();
  LPSTR parts[] = {c.lpszScheme, c.lpszHostName, c.lpszUserName, c.lpszPassword, c.lpszUrlPath, c.lpszExtraInfo};
  DWORD lengths[] = {c.dwSchemeLength, c.dwHostNameLength, c.dwUserNameLength, c.dwPasswordLength, c.dwUrlPathLength,
                     c.dwExtraInfoLength};
  for (int i = 0; i < 6; ++i) {
    if (!parts[i]) continue;
    if (room) {
      Check(parts[i] == buffers[i] && lengths[i] < std::min(room, sizes[i]) && std::strlen(parts[i]) == lengths[i]);
    } else {
      Check(parts[i] >= begin && parts[i] + lengths[i] <= end);
    }
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1u << 16) return 0;
  static const DWORD kFlags[] = {0, ICU_DECODE, ICU_ESCAPE, ICU_DECODE | ICU_ESCAPE, ICU_BROWSER_MODE,
                                 ICU_NO_ENCODE | ICU_DECODE, ICU_NO_META, ICU_ENCODE_SPACES_ONLY, ICU_ENCODE_PERCENT};
  DWORD flags = kFlags[data[0] % (sizeof kFlags / sizeof kFlags[0])];
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t nul = rest.find('\0');
  std::string url = rest.substr(0, nul);
  std::string next = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
  next.resize(std::strlen(next.c_str()));

  // Canonical text: asked for its size first, then written in exactly that room.
  DWORD need = 1;
  char probe[1];
  if (!InternetCanonicalizeUrlA(url.c_str(), probe, &need, flags) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    std::string out(need, '\0');
    DWORD room = need;
    if (InternetCanonicalizeUrlA(url.c_str(), out.data(), &room, flags)) Check(room < need && out[room] == 0);
  }
  Crack(url, flags & (ICU_DECODE | ICU_ESCAPE), 0);
  Crack(url, flags & (ICU_DECODE | ICU_ESCAPE), data[0] & 0x80 ? 8 : 1024);

  CINetConnection connection;
  char host[64];
  if (SUCCEEDED(connection.GetHostName(url.c_str(), host, sizeof host))) Check(std::strlen(host) < sizeof host);
  CBuffer<char> canonical(16, 16);
  connection.CanonicalizeUrl(url.c_str(), canonical, flags);
  IsHulvaneURL(url.c_str());
  std::string masked = vtx::inet::MaskPasswords(url);
  Check(vtx::inet::MaskPasswords(masked) == masked);
  CStringA extension;
  RunFileExtension(url.c_str(), extension);
  Check(extension.GetLength() <= 16);
  NextKeepsScheme(url.c_str(), next.c_str());
  return 0;
}
