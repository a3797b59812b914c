// The e-mail channels until the mail transports are built in: every send fails and says why, so
// that the fan-out reports it as a mail failure and nothing is taken for sent.
#include "engine/notify/mail.h"

#include "platform/errors.h"

const char g_szSmtpProfile[] = "<SMTP>";
const char g_szDefaultMailProfile[] = "<Windows Messaging Default>";

namespace {
HRESULT Unavailable(CStringA* errorText) {
  if (errorText) *errorText = "E-mail notifications are not available in this build.";
  return E_NOTIMPL;
}
}  // namespace

HRESULT MessageToEmail(const char*, UINT, const char*, const char*, BOOL, HMODULE, CStringA* errorText) {
  return Unavailable(errorText);
}

HRESULT MessageToSMTPMail(const char*, UINT, const char*, const char*, const char*, HMODULE, CStringA* errorText) {
  return Unavailable(errorText);
}
