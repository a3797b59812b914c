// The test notification: the server sends its test text through the channels the request names
// (WM_COPYDATA with dwData WM_VX_TESTNOTIFICATION and a TestNotificationData record).
#pragma once
#include <string>

#include "platform/types.h"

struct TestNotificationValues {
  DWORD messagesToLog = 0;
  DWORD messagesToFile = 0;
  DWORD messagesViaEmail = 0;
  DWORD messagesOnScreen = 0;
  // Empty means "not set".
  std::string profile, recipients, sender, smtpServer, file;
};

// The record: the four switches as u32 (little-endian), the five texts each NUL-terminated, and four
// zero bytes after them, so that its size is the texts' lengths + 25, as senders have always
// announced it.
std::string MakeTestNotificationData(const TestNotificationValues& values);

// Sends the record to the server and waits up to `timeoutMs` (0: without limit). 0x8007053D when no
// server runs. `reply` (when given) gets the server's answer: 0x80070005 when it refused the file.
HRESULT SendTestNotification(const TestNotificationValues& values, DWORD timeoutMs, DWORD* reply = nullptr);
