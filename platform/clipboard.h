// The clipboard of the desktop, where a program has one (the manager's): a program that shows a
// desktop installs a provider; without one every call fails cleanly with last error 50.
#pragma once
#include <string>

#include "platform/messages.h"
#include "platform/types.h"

constexpr UINT CF_TEXT = 1;
constexpr UINT CF_UNICODETEXT = 13;

// FALSE with last error 50 without a desktop clipboard, 5 while another thread holds it open.
BOOL OpenClipboard(HWND owner);
BOOL CloseClipboard();
// Removes every format; the clipboard must be open.
BOOL EmptyClipboard();
// The data of a format as a global block that the clipboard owns until it is closed; null with
// last error 1168 when the format is not there (or 1418 when the clipboard is not open).
HGLOBAL GetClipboardData(UINT format);
// Hands a global block to the clipboard (it frees it); null on failure (the block stays the
// caller's).
HGLOBAL SetClipboardData(UINT format, HGLOBAL block);
BOOL IsClipboardFormatAvailable(UINT format);

namespace vtx {

// The desktop's clipboard: CF_TEXT as ANSI bytes, CF_UNICODETEXT as UTF-16 bytes, each with its
// terminator. Called with the clipboard open, on the thread that opened it.
class ClipboardProvider {
 public:
  virtual ~ClipboardProvider() = default;
  virtual bool Get(UINT format, std::string* bytes) = 0;
  virtual bool Set(UINT format, const std::string& bytes) = 0;
  virtual bool Clear() = 0;
};
// Installs (null removes) the provider; it must outlive its use.
void SetClipboardProvider(ClipboardProvider* provider);

}  // namespace vtx
