// The clipboard (text formats only). A program with a desktop installs its clipboard as the
// backend; without one, opening the clipboard fails cleanly (last error 1418), as in a daemon.
#pragma once
#include <string>

#include "platform/messages.h"
#include "platform/types.h"

constexpr UINT CF_TEXT = 1;
constexpr UINT CF_UNICODETEXT = 13;
constexpr DWORD ERROR_CLIPBOARD_NOT_OPEN = 1418;

// One opener at a time in the process; the others get FALSE with ERROR_ACCESS_DENIED.
BOOL OpenClipboard(HWND owner);
// Frees the blocks that GetClipboardData handed out.
BOOL CloseClipboard();
BOOL EmptyClipboard();
// The text as a GlobalAlloc block (CF_TEXT: ANSI code page; CF_UNICODETEXT: UTF-16), terminated,
// owned by the clipboard until it is closed. Null with last error 1168 when there is no text,
// 1418 when the clipboard is not open, 87 for other formats.
HANDLE GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);
// Puts the text of a GlobalAlloc block (up to its NUL or its size) on the clipboard and takes
// the block; returns it, or null with the last error set.
HANDLE SetClipboardData(UINT format, HANDLE block);

namespace vtx::clipboard {

class Backend {
 public:
  virtual ~Backend() = default;
  // False when the clipboard holds no text.
  virtual bool ReadText(std::u16string* text) = 0;
  virtual bool WriteText(const std::u16string& text) = 0;
};

// Installs the desktop's clipboard for the process (null: none); returns the previous one.
Backend* SetBackend(Backend* backend);

}  // namespace vtx::clipboard
