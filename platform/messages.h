// Windows, window procedures, per-thread message queues, sent messages across threads and timers.
// Windows exist only inside their process; the Windows rules hold between its threads.
#pragma once
#include "platform/sync.h"
#include "platform/types.h"

struct HWND__;
using HWND = HWND__*;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using HMENU = void*;
using ATOM = WORD;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ENDSESSION = 0x0016;
constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_BLOCK = 0x0001;
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;

constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_TIMER = 0x0010;
constexpr DWORD QS_SENDMESSAGE = 0x0040;
constexpr DWORD QS_ALLINPUT = 0x00FF;

constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
constexpr int COLOR_WINDOW = 5;
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_USERDATA = -21;
#define IDC_ARROW (reinterpret_cast<const char*>(static_cast<uintptr_t>(32512)))
// Thread messages only, for the window filter of Get/PeekMessage.
#define HWND_MESSAGE_ONLY (reinterpret_cast<HWND>(static_cast<intptr_t>(-1)))

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  const char* lpszMenuName;
  const char* lpszClassName;
};

struct CREATESTRUCTA {
  void* lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy, cx, y, x;
  LONG style;
  const char* lpszName;
  const char* lpszClass;
  DWORD dwExStyle;
};

struct COPYDATASTRUCT {
  ULONG_PTR dwData;
  DWORD cbData;
  void* lpData;
};

// Window classes (names compare without case) and windows.
ATOM RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(const char* className, HINSTANCE instance);
BOOL GetClassInfoA(HINSTANCE instance, const char* className, WNDCLASSA* wc);
// Sends WM_CREATE (lParam: the CREATESTRUCTA); a procedure that answers -1 refuses the window.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
// Only the window's own thread may destroy it; sends WM_DESTROY and WM_NCDESTROY. Messages other
// threads sent to it and that have not run yet fail at once (their senders get 0).
BOOL DestroyWindow(HWND hwnd);
// Windows of this process only; a null name matches any title.
HWND FindWindowA(const char* className, const char* windowName);
BOOL IsWindow(HWND hwnd);
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Queues. A thread gets its queue on its first call of any function here.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Sent messages from other threads run inside these calls, before any posted message is looked at.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL WaitMessage();
LRESULT DispatchMessageA(const MSG* msg);
BOOL TranslateMessage(const MSG* msg);
// Runs the procedure on the window's thread and blocks until it answers; the caller keeps
// answering messages sent to its own windows meanwhile.
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// 0 with last error ERROR_TIMEOUT (1460) when the time passes, else nonzero and *result.
LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            DWORD_PTR* result);
// Waits for one of the handles or for new input in the queue (WAIT_OBJECT_0 + count). Messages
// sent by other threads wake it when the mask holds QS_SENDMESSAGE, else they run inside the wait;
// posted messages and timers wake it when the mask holds any other bit.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms, DWORD wakeMask);

// Timers of a window (or of the thread, with a null window: the id is then chosen and returned).
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

inline ATOM RegisterClass(const WNDCLASSA* wc) { return RegisterClassA(wc); }
inline BOOL PostMessage(HWND h, UINT m, WPARAM w, LPARAM l) { return PostMessageA(h, m, w, l); }
inline LRESULT SendMessage(HWND h, UINT m, WPARAM w, LPARAM l) { return SendMessageA(h, m, w, l); }
inline LRESULT DefWindowProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

namespace vtx::messages {
// The descriptor that is readable while the calling thread's queue has something for it (posted,
// sent, a due timer), so that another event loop can pump the queue with PeekMessage.
int QueueFd();
// SIGTERM, SIGINT and SIGHUP post WM_ENDSESSION (wParam 1) to `hwnd`; null stops the routing and
// gives the signals their default actions back. SIGHUP posts `hangUpMessage` (wParam 0) instead
// when it is another message. With `stopWaits`, SIGTERM and SIGINT also ask the program to stop
// (vtx::sync::RequestStop), so that a long wait of the window's thread ends at once.
bool RouteEndSessionSignals(HWND hwnd, UINT hangUpMessage = WM_ENDSESSION, bool stopWaits = false);
}  // namespace vtx::messages
