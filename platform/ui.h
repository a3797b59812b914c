// MessageBox: a program with a GUI installs its own backend; without one the box is a prompt on a
// terminal, else the text on stderr and the default button as the answer (never blocking).
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/messages.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_USERICON = 0x80;
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_SERVICE_NOTIFICATION = 0x200000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Texts are in the ANSI code page. Goes to the installed backend; else asks on the terminal when
// stdin and stderr are both terminals.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

namespace vtx::ui {
// Shows the box and returns the button pressed (IDOK...); texts in the ANSI code page.
using MessageBoxBackend = int (*)(HWND owner, const char* text, const char* caption, UINT type);
// Installs the backend of MessageBoxA for the whole process (null: the terminal again) and returns
// the one it replaces.
MessageBoxBackend SetMessageBoxBackend(MessageBoxBackend backend);
// The buttons of a box style (MB_OK ... MB_RETRYCANCEL), in their order, and its default button's
// index (MB_DEFBUTTON2 is 1; a default past the last button is the first).
std::vector<int> ButtonsOf(UINT type);
size_t DefaultButtonIndex(UINT type);
// The box on the given streams; interactive false shows it and answers the default button.
// A prompt that reads end of input answers the default button too.
int MessageBoxOn(FILE* in, FILE* out, bool interactive, const char* text, const char* caption, UINT type);
}

namespace vtx::ui {

// The on-screen message window of a process: a dialog with a scrolling plain text and OK. Texts
// are in the ANSI code page. A program with a GUI installs its backend; without one (the server,
// the services) every call answers E_NOTIMPL (0x80004001) and nothing is shown.
using MessageDialogId = uint32_t;
struct MessageDialogSpec {
  HWND owner = nullptr;
  std::string title;
  UINT iconId = 0;  // resource number of the window icon; 0: none
  UINT flags = 0;   // bit 0: rich-edit control (shows the same plain text), bit 1: stays on top
  std::string text;
};
constexpr UINT kMessageDialogRichEdit = 1;
constexpr UINT kMessageDialogTopmost = 2;

class MessageDialogBackend {
 public:
  virtual ~MessageDialogBackend() = default;
  // Any thread: runs `task` on the dialogs' thread after the tasks posted before it, never inside
  // this call.
  virtual HRESULT Post(std::function<void()> task) = 0;
  // The dialogs' thread: opens a dialog that does not block the caller; `ended` gets its result
  // there when the user closes it (IDOK, or IDCANCEL when it is closed otherwise).
  virtual HRESULT Open(const MessageDialogSpec& spec, std::function<void(int result)> ended,
                       MessageDialogId* id) = 0;
  // The dialogs' thread: the whole text of an open dialog. Replace shows its first line; otherwise
  // the reader stays where he was, or follows to the end when he was there.
  virtual void SetText(MessageDialogId id, const char* text, bool replace) = 0;
  // Any thread: closes the dialog; its `ended` is not called.
  virtual void Close(MessageDialogId id) = 0;
  // The same dialog, modal: returns when the user closes it, with its result.
  virtual HRESULT ShowModal(const MessageDialogSpec& spec, int* result) = 0;
};

// Installs the process's backend (null: none) and returns the one it replaces.
MessageDialogBackend* SetMessageDialogBackend(MessageDialogBackend* backend);
// The installed backend, else the one that shows nothing.
MessageDialogBackend& MessageDialogs();

}  // namespace vtx::ui
