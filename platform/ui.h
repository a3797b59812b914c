// MessageBox for programs without a GUI: a prompt on a terminal, else the text on stderr and the
// default button as the answer. It never blocks when there is no terminal.
#pragma once
#include <cstdio>

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

// Texts are in the ANSI code page. Asks on the terminal when stdin and stderr are both terminals.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

namespace vtx::ui {
// The box on the given streams; interactive false shows it and answers the default button.
// A prompt that reads end of input answers the default button too.
int MessageBoxOn(FILE* in, FILE* out, bool interactive, const char* text, const char* caption, UINT type);
}
