// The e-mail channels: MAPI profiles through the local mail transport, and plain SMTP.
#pragma once
#include "engine/foundation/cstring.h"
#include "platform/types.h"

// The profile names with a meaning of their own.
extern const char g_szSmtpProfile[];            // "<SMTP>"
extern const char g_szDefaultMailProfile[];     // "<Windows Messaging Default>"

// Sends the text to the recipients through the profile (null: the default one). An explanation
// of a failure, or of recipients that could not be resolved, goes to *errorText when given.
HRESULT MessageToEmail(const char* text, UINT flags, const char* recipients, const char* profile, BOOL serviceMode,
                       HMODULE resourceLibrary, CStringA* errorText);
// Sends the text as plain SMTP mail from the first sender entry to every recipient entry.
HRESULT MessageToSMTPMail(const char* text, UINT flags, const char* recipients, const char* sender, const char* server,
                          HMODULE resourceLibrary, CStringA* errorText);
