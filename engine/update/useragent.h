// The HTTP user agent of the update engine's requests.
#pragma once
#include <string>

#include "platform/types.h"

class CINetConnection;

// The product's own agent, for the maker's rate servers: "Hulvane Vantrex/%1 (%3; %4; %5)".
extern const char g_szProductAgent[];
// The agent when the "UserAgent" setting is empty.
extern const char g_szDefaultAgent[];

// Sets the agent for a request to `url` (null: not yet known) on the connection: the product's
// agent for the maker's rate servers, else the UserAgent setting, else the default agent.
void MakeUserAgent(const char* userAgentSetting, CINetConnection& connection, const char* url);

namespace vtx::update {
// Replaces %1 to %5 of the pattern with the inserts; every other "%" sequence stays as written,
// and control characters are dropped, so a setting can neither read past the inserts nor break
// a request header.
std::string ExpandAgent(const char* pattern, const std::string (&inserts)[5]);
// The agent text MakeUserAgent sets; the inserts are %1 the version, %2 empty, %3 the system's
// name, %4 the user's country, %5 the processor count.
std::string UserAgentFor(const char* userAgentSetting, const char* url, const std::string (&inserts)[5]);
// The inserts of this machine.
void AgentInserts(std::string (&inserts)[5]);
}  // namespace vtx::update
