// MessageBox: a program with a GUI installs its own backend; without one the box is a prompt on a
// terminal, else the text on stderr and the default button as the answer (never blocking).
#pragma once
#include <cstdio>
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
