#include "engine/notify/testnotification.h"

#include "engine/foundation/servercommands.h"
#include "engine/notify/reachserver.h"
#include "platform/messages.h"

namespace {

void PutU32(std::string& out, DWORD v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutText(std::string& out, const std::string& text) {
  // A text ends at its first NUL, as the server reads it.
  out.append(text.c_str());
  out.push_back('\0');
}

}  // namespace

std::string MakeTestNotificationData(const TestNotificationValues& v) {
  std::string out;
  PutU32(out, v.messagesToLog);
  PutU32(out, v.messagesToFile);
  PutU32(out, v.messagesViaEmail);
  PutU32(out, v.messagesOnScreen);
  for (const std::string* text : {&v.profile, &v.recipients, &v.sender, &v.smtpServer, &v.file}) PutText(out, *text);
  out.append(4, '\0');
  return out;
}

HRESULT SendTestNotification(const TestNotificationValues& values, DWORD timeoutMs, DWORD* reply) {
  std::string data = MakeTestNotificationData(values);
  COPYDATASTRUCT cds{WM_VX_TESTNOTIFICATION, static_cast<DWORD>(data.size()), data.data()};
  DWORD answer = 0;
  HRESULT hr = SendVXVMessageTimeout(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), timeoutMs, &answer);
  if (reply) *reply = hr == 0 ? answer : 0;
  return hr;
}
