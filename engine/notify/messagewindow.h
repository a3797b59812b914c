// The on-screen message window of a process: messages gather in one dialog with a scrolling
// text, the newest below, until the user closes it; the next message opens a new one. The dialog
// lives on the thread of the process's dialogs (platform/ui); the callers never wait for it.
#pragma once
#include <memory>

#include "engine/notify/screenwindow.h"
#include "platform/messages.h"
#include "platform/resources.h"
#include "platform/ui.h"

constexpr UINT kMessageWindowIcon = 101;
constexpr UINT kMessageWindowTitle = 32;

// The dialog part: one dialog of the backend.
class CMessageDialog {
 public:
  // The modal dialog over `text`, titled with string `titleId` of the library (at most 200
  // characters); the dialog's result, or -1 when this process shows no dialogs.
  static int ShowId(HWND owner, HMODULE resourceLibrary, UINT iconId, UINT titleId, UINT flags, const char* text);

  // On the dialogs' thread: opens the dialog without waiting for the user; `ended` gets its
  // result when the user closes it.
  HRESULT Open(HWND owner, HMODULE resourceLibrary, UINT iconId, UINT titleId, UINT flags, const char* text,
               std::function<void(int)> ended);
  // The whole text: replaced shows the first line; appended keeps the reader where he was, or
  // at the end when he was there.
  void SetText(const char* text, BOOL replace);
  // Closes an open dialog without reporting its end.
  void Close();
  bool IsOpen() const { return id_ != 0; }
  // The dialog has ended by itself.
  void Ended() { id_ = 0; }

 private:
  vtx::ui::MessageDialogId id_ = 0;
};

class CMessageWindow : public IMessageWindow {
 public:
  CMessageWindow();
  // Closes an open dialog; nothing is posted.
  ~CMessageWindow() override;
  CMessageWindow(const CMessageWindow&) = delete;
  CMessageWindow& operator=(const CMessageWindow&) = delete;

  // Any thread; returns at once. The message (its DisplayMessageEntry) is appended to the open
  // dialog after "\r\n\r\n---\r\n\r\n", or opens a new dialog with it alone. 0x80004003 without
  // text, 0x8007000E when it cannot be held, 0x80004001 when the process shows no dialogs.
  HRESULT AddMessage(HWND owner, const char* text, UINT flags, HMODULE resourceLibrary) override;
  // Any thread; returns at once. The whole text of the window: it replaces an open dialog's text
  // (shown from its first line), or opens a dialog with it. Results as AddMessage.
  HRESULT SetText(HWND owner, const char* text, HMODULE resourceLibrary);
  // Where the window reports its end: `message` with the dialog's result as wParam is posted to
  // `window` (null: nowhere).
  void SetNotify(HWND window, UINT message);
  // Closes an open dialog without reporting; messages still on their way are dropped.
  void Close();
  // A dialog is open, or texts are on their way to one.
  bool IsShowing();

 private:
  struct State;
  std::shared_ptr<State> state_;
};
