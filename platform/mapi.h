// Mail by profile, in place of MAPI: the default profile (a null or empty name) hands each message to
// the local mail transport through its sendmail interface ("sendmail -t -i": the recipients come
// from the To, Cc and Bcc headers, and a line of one '.' is text like any other). No other profile
// exists.
#pragma once
#include <string>

#include "platform/errors.h"
#include "platform/types.h"

namespace vtx::mapi {

constexpr HRESULT MAPI_E_NOT_FOUND = 0x8004010F;
constexpr HRESULT MAPI_E_LOGON_FAILED = 0x80040111;

// The transport's program: $VANTREX_SENDMAIL, else /usr/sbin/sendmail.
std::string TransportProgram();

// S_OK for the default profile when the transport program is there; MAPI_E_LOGON_FAILED for a
// profile of another name and for the default one without a transport.
HRESULT Logon(const char* profile);

// Hands a whole message (header lines, an empty line, the body; CR LF or LF line ends) to the
// transport and waits up to `timeoutMs` for it to take it. S_OK, or a failure (0x800705B4 when it
// took too long) with the transport's own complaint, or what went wrong, in `errorText`.
HRESULT Submit(const std::string& message, DWORD timeoutMs, std::string* errorText);

}  // namespace vtx::mapi
