#include "engine/update/useragent.h"

#include <cstdio>
#include <new>

#include "engine/foundation/sysinfo.h"
#include "engine/update/inetconnection.h"
#include "platform/locale.h"
#include "platform/sysinfo.h"

const char g_szProductAgent[] = "Hulvane Vantrex/%1 (%3; %4; %5)";
const char g_szDefaultAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; %3)";

namespace {
constexpr char kAgentVersion[] = "4.5";
constexpr char kFallbackAgent[] = "Hulvane Vantrex";
}  // namespace

namespace vtx::update {

std::string ExpandAgent(const char* pattern, const std::string (&inserts)[5]) {
  std::string out;
  if (!pattern) return out;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '%' && p[1] >= '1' && p[1] <= '5' && !(p[2] >= '0' && p[2] <= '9')) {
      out += inserts[p[1] - '1'];
      ++p;
      continue;
    }
    out += *p;
  }
  std::string clean;
  for (char c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) clean += c;
  }
  return clean;
}

std::string UserAgentFor(const char* userAgentSetting, const char* url, const std::string (&inserts)[5]) {
  const char* pattern = g_szDefaultAgent;
  if (url && IsHulvaneURL(url))
    pattern = g_szProductAgent;
  else if (userAgentSetting && *userAgentSetting)
    pattern = userAgentSetting;
  std::string agent = ExpandAgent(pattern, inserts);
  return agent.empty() ? kFallbackAgent : agent;
}

void AgentInserts(std::string (&inserts)[5]) {
  inserts[0] = kAgentVersion;
  inserts[1].clear();
  char name[81];
  inserts[2] = GetWindowsVersionName(name, sizeof name) ? name : "";
  char country[11];
  inserts[3] = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVCTRYNAME, country, sizeof country) ? country : "";
  char count[16];
  std::snprintf(count, sizeof count, "%d", static_cast<int>(vtx::ReadProcessorTopology().processors));
  inserts[4] = count;
}

}  // namespace vtx::update

void MakeUserAgent(const char* userAgentSetting, CINetConnection& connection, const char* url) {
  try {
    std::string inserts[5];
    vtx::update::AgentInserts(inserts);
    connection.SetAgent(vtx::update::UserAgentFor(userAgentSetting, url, inserts).c_str());
  } catch (const std::bad_alloc&) {
    connection.SetAgent(kFallbackAgent);
  }
}
