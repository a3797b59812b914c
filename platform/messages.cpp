#include "platform/messages.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/native/syscalls.h"

using vtx::sync::NowMs;

namespace {

enum class SentState { Queued, Running, Done, Failed };

struct Queue;

struct SentItem {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  std::atomic<SentState> state{SentState::Queued};
  std::shared_ptr<Queue> sender;
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT interval;
  uint64_t due;
  TIMERPROC proc;
  bool pending;  // due and not yet taken out as WM_TIMER
};

// One thread's queue. Its epoll descriptor is readable when the wake event or the timer fires;
// `newInput` is Windows' "new since the last look" that WaitMessage and message waits rely on.
struct Queue {
  DWORD tid = 0;
  std::mutex m;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentItem>> sent;
  std::vector<Timer> timers;
  UINT_PTR nextThreadTimer = 1;
  bool quit = false;
  int quitCode = 0;
  bool newInput = false;
  bool alive = true;
  int ep = -1, ev = -1, tf = -1;

  bool Open() {
    ep = vtx::sys::EpollCreate1(EPOLL_CLOEXEC);
    ev = vtx::sys::Eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    tf = vtx::sys::TimerfdCreate(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (ep < 0 || ev < 0 || tf < 0) return false;
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = ev;
    if (vtx::sys::EpollCtl(ep, EPOLL_CTL_ADD, ev, &e) != 0) return false;
    e.data.fd = tf;
    return vtx::sys::EpollCtl(ep, EPOLL_CTL_ADD, tf, &e) == 0;
  }
  ~Queue() {
    for (int fd : {ep, ev, tf})
      if (fd >= 0) vtx::sys::Close(fd);
  }
  void Wake() {
    uint64_t one = 1;
    while (vtx::sys::Write(ev, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  // Caller holds m: the timer descriptor fires at the earliest deadline not yet due.
  void ArmTimerFd() {
    uint64_t next = vtx::sync::kNoDeadline;
    for (auto& t : timers)
      if (!t.pending && t.due < next) next = t.due;
    itimerspec its{};
    if (next != vtx::sync::kNoDeadline) {
      if (next == 0) next = 1;
      its.it_value.tv_sec = static_cast<time_t>(next / 1000);
      its.it_value.tv_nsec = static_cast<long>((next % 1000) * 1000000);
    }
    vtx::sys::TimerfdSettime(tf, TFD_TIMER_ABSTIME, &its, nullptr);
  }
  // Caller holds m: timers whose deadline passed become pending (new input).
  void MarkDueTimers() {
    uint64_t now = NowMs();
    bool changed = false;
    for (auto& t : timers)
      if (!t.pending && t.due <= now) {
        t.pending = true;
        changed = true;
      }
    if (changed) {
      newInput = true;
      ArmTimerFd();
    }
  }
};

struct Window {
  HWND hwnd;
  std::string className;
  std::string title;
  WNDPROC proc;
  LONG_PTR userData = 0;
  DWORD tid;
  std::weak_ptr<Queue> queue;
};

struct Class {
  WNDCLASSA wc;
  std::string name;
  std::string menu;
  ATOM atom;
  int windows = 0;
};

// Lock order: g_lock is never held while a queue's lock is taken.
std::mutex g_lock;
std::unordered_map<HWND, std::shared_ptr<Window>> g_windows;
std::map<std::string, Class> g_classes;  // by lower-case name
std::unordered_map<DWORD, std::shared_ptr<Queue>> g_queues;
uintptr_t g_nextWindow = 0x10000;
ATOM g_nextAtom = 0xC000;

std::string Lower(const char* s) {
  std::string r = s ? s : "";
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool IsAtom(const char* name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// Caller holds g_lock.
Class* FindClass(const char* name) {
  if (!name) return nullptr;
  if (IsAtom(name)) {
    ATOM a = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    for (auto& [k, c] : g_classes)
      if (c.atom == a) return &c;
    return nullptr;
  }
  auto it = g_classes.find(Lower(name));
  return it == g_classes.end() ? nullptr : &it->second;
}

void TearDownQueue(const std::shared_ptr<Queue>& q);

struct ThreadState {
  std::shared_ptr<Queue> queue;
  ~ThreadState() {
    if (queue) TearDownQueue(queue);
  }
};
thread_local ThreadState t_state;

Queue* MyQueue() {
  if (!t_state.queue) {
    auto q = std::make_shared<Queue>();
    if (!q->Open()) return nullptr;
    q->tid = GetCurrentThreadId();
    std::lock_guard<std::mutex> l(g_lock);
    g_queues[q->tid] = q;
    t_state.queue = q;
  }
  return t_state.queue.get();
}

std::shared_ptr<Window> GetWindow(HWND hwnd) {
  std::lock_guard<std::mutex> l(g_lock);
  auto it = g_windows.find(hwnd);
  return it == g_windows.end() ? nullptr : it->second;
}

void FailSent(std::deque<std::shared_ptr<SentItem>>& items) {
  for (auto& s : items) {
    s->state = SentState::Failed;
    if (s->sender) s->sender->Wake();
  }
  items.clear();
}

// The thread ended: its windows go away and whoever waits on a message sent to it is let go.
void TearDownQueue(const std::shared_ptr<Queue>& q) {
  {
    std::lock_guard<std::mutex> l(g_lock);
    g_queues.erase(q->tid);
    for (auto it = g_windows.begin(); it != g_windows.end();) {
      if (it->second->tid == q->tid) {
        if (Class* c = FindClass(it->second->className.c_str())) --c->windows;
        it = g_windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::deque<std::shared_ptr<SentItem>> sent;
  {
    std::lock_guard<std::mutex> l(q->m);
    q->alive = false;
    sent.swap(q->sent);
    q->posted.clear();
    q->timers.clear();
  }
  FailSent(sent);
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = GetWindow(hwnd);
  if (!w || !w->proc) return 0;
  return w->proc(hwnd, msg, wParam, lParam);
}

// Empties the wake descriptors and turns passed deadlines into pending timers.
void Refresh(Queue* q) {
  uint64_t v;
  while (vtx::sys::Read(q->ev, &v, sizeof v) == sizeof v) {
  }
  while (vtx::sys::Read(q->tf, &v, sizeof v) == sizeof v) {
  }
  std::lock_guard<std::mutex> l(q->m);
  q->MarkDueTimers();
}

bool HasSent(Queue* q) {
  std::lock_guard<std::mutex> l(q->m);
  return !q->sent.empty();
}

// Runs every message that other threads sent to this thread's windows; true when there was one.
bool DeliverSent(Queue* q) {
  bool any = false;
  for (;;) {
    std::shared_ptr<SentItem> item;
    {
      std::lock_guard<std::mutex> l(q->m);
      if (q->sent.empty()) break;
      item = q->sent.front();
      q->sent.pop_front();
      item->state = SentState::Running;
    }
    any = true;
    item->result = CallProc(item->hwnd, item->msg, item->wParam, item->lParam);
    item->state = SentState::Done;
    if (item->sender) item->sender->Wake();
  }
  return any;
}

// Blocks until the queue's descriptor is readable or the deadline passes.
void WaitQueueFd(Queue* q, uint64_t deadline) {
  int ms = -1;
  if (deadline != vtx::sync::kNoDeadline) {
    uint64_t now = NowMs();
    ms = deadline <= now ? 0 : static_cast<int>(std::min<uint64_t>(deadline - now, 0x7FFFFFFF));
  }
  pollfd p{q->ep, POLLIN, 0};
  vtx::sys::Poll(&p, 1, ms);
}

bool Matches(const MSG& m, HWND filter, UINT lo, UINT hi) {
  if (filter == HWND_MESSAGE_ONLY) {
    if (m.hwnd) return false;
  } else if (filter && m.hwnd != filter) {
    return false;
  }
  return (lo == 0 && hi == 0) || (m.message >= lo && m.message <= hi);
}

bool ValidFilter(HWND hwnd) { return !hwnd || hwnd == HWND_MESSAGE_ONLY || IsWindow(hwnd); }

bool PostTo(const std::shared_ptr<Queue>& q, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> l(q->m);
    if (!q->alive) return false;
    q->posted.push_back(MSG{hwnd, msg, wParam, lParam, static_cast<DWORD>(NowMs()), {0, 0}});
    q->newInput = true;
  }
  q->Wake();
  return true;
}

std::shared_ptr<Queue> QueueOfWindow(HWND hwnd, DWORD* tid = nullptr) {
  auto w = GetWindow(hwnd);
  if (!w) return nullptr;
  if (tid) *tid = w->tid;
  return w->queue.lock();
}

std::shared_ptr<Queue> QueueOfThread(DWORD tid) {
  std::lock_guard<std::mutex> l(g_lock);
  auto it = g_queues.find(tid);
  return it == g_queues.end() ? nullptr : it->second;
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || IsAtom(wc->lpszClassName) || !*wc->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> l(g_lock);
  std::string key = Lower(wc->lpszClassName);
  if (g_classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  Class c;
  c.wc = *wc;
  c.name = wc->lpszClassName;
  if (wc->lpszMenuName && !IsAtom(wc->lpszMenuName)) c.menu = wc->lpszMenuName;
  c.atom = g_nextAtom++;
  auto& stored = g_classes[key] = std::move(c);
  stored.wc.lpszClassName = stored.name.c_str();
  stored.wc.lpszMenuName = stored.menu.empty() ? wc->lpszMenuName : stored.menu.c_str();
  return stored.atom;
}

BOOL UnregisterClassA(const char* className, HINSTANCE) {
  std::lock_guard<std::mutex> l(g_lock);
  Class* c = FindClass(className);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (c->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  g_classes.erase(Lower(c->name.c_str()));
  return TRUE;
}

BOOL GetClassInfoA(HINSTANCE, const char* className, WNDCLASSA* wc) {
  std::lock_guard<std::mutex> l(g_lock);
  Class* c = FindClass(className);
  if (!c || !wc) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *wc = c->wc;
  return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  Queue* q = MyQueue();
  if (!q) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  HWND hwnd;
  std::string clsName;
  {
    std::lock_guard<std::mutex> l(g_lock);
    Class* c = FindClass(className);
    if (!c) {
      SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
      return nullptr;
    }
    auto w = std::make_shared<Window>();
    hwnd = reinterpret_cast<HWND>(g_nextWindow);
    g_nextWindow += 2;
    w->hwnd = hwnd;
    w->className = c->name;
    w->title = windowName ? windowName : "";
    w->proc = c->wc.lpfnWndProc;
    w->tid = q->tid;
    w->queue = t_state.queue;
    ++c->windows;
    clsName = c->name;
    g_windows[hwnd] = w;
  }
  CREATESTRUCTA cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                   windowName, clsName.c_str(), exStyle};
  if (CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_CANNOT_MAKE);
    return nullptr;
  }
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  auto w = GetWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (w->tid != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  CallProc(hwnd, WM_DESTROY, 0, 0);
  CallProc(hwnd, WM_NCDESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> l(g_lock);
    if (g_windows.erase(hwnd))
      if (Class* c = FindClass(w->className.c_str())) --c->windows;
  }
  // Senders still waiting on the window are let go at once, as senders to a window that is gone.
  std::deque<std::shared_ptr<SentItem>> orphaned;
  if (auto q = w->queue.lock()) {
    std::lock_guard<std::mutex> l(q->m);
    std::erase_if(q->posted, [&](const MSG& m) { return m.hwnd == hwnd; });
    std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd; });
    for (auto it = q->sent.begin(); it != q->sent.end();) {
      if ((*it)->hwnd == hwnd) {
        orphaned.push_back(*it);
        it = q->sent.erase(it);
      } else {
        ++it;
      }
    }
    q->ArmTimerFd();
  }
  FailSent(orphaned);
  return TRUE;
}

HWND FindWindowA(const char* className, const char* windowName) {
  std::lock_guard<std::mutex> l(g_lock);
  std::string cls;
  if (className) {
    Class* c = FindClass(className);
    if (!c) return nullptr;
    cls = Lower(c->name.c_str());
  }
  HWND best = nullptr;
  for (auto& [h, w] : g_windows) {
    if (className && Lower(w->className.c_str()) != cls) continue;
    if (windowName && _stricmp(w->title.c_str(), windowName) != 0) continue;
    if (!best || h < best) best = h;  // the oldest window wins, as a stable choice
  }
  return best;
}

BOOL IsWindow(HWND hwnd) { return GetWindow(hwnd) ? TRUE : FALSE; }

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  auto w = GetWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (processId) *processId = static_cast<DWORD>(vtx::sys::Getpid());
  return w->tid;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
  auto w = GetWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> l(g_lock);
  if (index == GWLP_USERDATA) return w->userData;
  if (index == GWLP_WNDPROC) return reinterpret_cast<LONG_PTR>(w->proc);
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  auto w = GetWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> l(g_lock);
  LONG_PTR old;
  if (index == GWLP_USERDATA) {
    old = w->userData;
    w->userData = value;
  } else if (index == GWLP_WNDPROC) {
    old = reinterpret_cast<LONG_PTR>(w->proc);
    w->proc = reinterpret_cast<WNDPROC>(value);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return old;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> q;
  if (!hwnd) {
    if (!MyQueue()) return FALSE;
    q = t_state.queue;
  } else {
    q = QueueOfWindow(hwnd);
  }
  if (!q || !PostTo(q, hwnd, msg, wParam, lParam)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto q = threadId == GetCurrentThreadId() && MyQueue() ? t_state.queue : QueueOfThread(threadId);
  if (!q || !PostTo(q, nullptr, msg, wParam, lParam)) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  Queue* q = MyQueue();
  if (!q) return;
  {
    std::lock_guard<std::mutex> l(q->m);
    q->quit = true;
    q->quitCode = exitCode;
    q->newInput = true;
  }
  q->Wake();
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT lo, UINT hi, UINT removeFlags) {
  Queue* q = MyQueue();
  if (!q || !msg) return FALSE;
  Refresh(q);
  DeliverSent(q);
  bool remove = (removeFlags & PM_REMOVE) != 0;
  std::lock_guard<std::mutex> l(q->m);
  q->newInput = false;
  for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
    if (!Matches(*it, hwnd, lo, hi)) continue;
    *msg = *it;
    if (remove) q->posted.erase(it);
    return TRUE;
  }
  if (q->quit) {
    *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, static_cast<DWORD>(NowMs()), {0, 0}};
    if (remove) q->quit = false;
    return TRUE;
  }
  for (auto& t : q->timers) {
    if (!t.pending) continue;
    MSG m{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), static_cast<DWORD>(NowMs()), {0, 0}};
    if (!Matches(m, hwnd, lo, hi)) continue;
    *msg = m;
    if (remove) {
      t.pending = false;
      t.due = NowMs() + t.interval;
      q->ArmTimerFd();
    }
    return TRUE;
  }
  return FALSE;
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT lo, UINT hi) {
  if (!msg || !ValidFilter(hwnd)) {
    SetLastError(!msg ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  Queue* q = MyQueue();
  if (!q) return -1;
  for (;;) {
    if (PeekMessageA(msg, hwnd, lo, hi, PM_REMOVE)) return msg->message == WM_QUIT ? FALSE : TRUE;
    WaitQueueFd(q, vtx::sync::kNoDeadline);
  }
}

BOOL WaitMessage() {
  Queue* q = MyQueue();
  if (!q) return FALSE;
  for (;;) {
    Refresh(q);
    if (DeliverSent(q)) return TRUE;
    {
      std::lock_guard<std::mutex> l(q->m);
      if (q->newInput) return TRUE;
    }
    WaitQueueFd(q, vtx::sync::kNoDeadline);
  }
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  if (!msg->hwnd) return 0;
  return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

namespace {

// Sends across threads: 1 and *result on an answer, 0 on a time-out or a dead receiver.
bool SendAcross(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool serveOwn, uint64_t deadline,
                LRESULT* result) {
  DWORD tid = 0;
  auto target = QueueOfWindow(hwnd, &tid);
  if (!target) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (tid == GetCurrentThreadId()) {
    *result = CallProc(hwnd, msg, wParam, lParam);
    return true;
  }
  Queue* me = MyQueue();
  if (!me) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return false;
  }
  auto item = std::make_shared<SentItem>();
  item->hwnd = hwnd;
  item->msg = msg;
  item->wParam = wParam;
  item->lParam = lParam;
  item->sender = t_state.queue;
  {
    std::lock_guard<std::mutex> l(target->m);
    if (!target->alive) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    target->sent.push_back(item);
  }
  target->Wake();
  for (;;) {
    SentState s = item->state.load();
    if (s == SentState::Done) {
      *result = item->result;
      return true;
    }
    if (s == SentState::Failed) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (deadline != vtx::sync::kNoDeadline && NowMs() >= deadline) {
      std::lock_guard<std::mutex> l(target->m);
      auto it = std::find(target->sent.begin(), target->sent.end(), item);
      if (it != target->sent.end()) target->sent.erase(it);
      // A message already running finishes on its own; only its answer is lost.
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    // Keep the pending-timer state and the wake-ups that belong to posted messages.
    Refresh(me);
    if (serveOwn) DeliverSent(me);
    if (item->state.load() == SentState::Queued || item->state.load() == SentState::Running) {
      if (!serveOwn && HasSent(me)) {
        // Blocked senders leave their own sent messages waiting; sleep briefly instead of spinning.
        WaitQueueFd(me, std::min(deadline, NowMs() + 2));
      } else {
        WaitQueueFd(me, deadline);
      }
    }
  }
}

}  // namespace

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r = 0;
  return SendAcross(hwnd, msg, wParam, lParam, true, vtx::sync::kNoDeadline, &r) ? r : 0;
}

LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            DWORD_PTR* result) {
  LRESULT r = 0;
  if (!SendAcross(hwnd, msg, wParam, lParam, (flags & SMTO_BLOCK) == 0, vtx::sync::DeadlineAfter(timeoutMs),
                  &r))
    return 0;
  if (result) *result = static_cast<DWORD_PTR>(r);
  return 1;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms, DWORD wakeMask) {
  if (waitAll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  Queue* q = MyQueue();
  if (!q) return WAIT_FAILED;
  uint64_t deadline = vtx::sync::DeadlineAfter(ms);
  for (;;) {
    Refresh(q);
    if (HasSent(q)) {
      if (wakeMask & QS_SENDMESSAGE) return WAIT_OBJECT_0 + count;
      DeliverSent(q);
    }
    {
      std::lock_guard<std::mutex> l(q->m);
      if (q->newInput && (wakeMask & ~QS_SENDMESSAGE)) return WAIT_OBJECT_0 + count;
    }
    bool abandoned = false;
    DWORD r = vtx::sync::WaitAny(count, handles, q->ep, deadline, &abandoned);
    if (r < count) return abandoned ? WAIT_ABANDONED_0 + r : WAIT_OBJECT_0 + r;
    if (r == count) continue;
    return r;
  }
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  std::shared_ptr<Queue> q;
  if (hwnd) {
    q = QueueOfWindow(hwnd);
  } else if (MyQueue()) {
    q = t_state.queue;
  }
  if (!q) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (elapseMs < 10) elapseMs = 10;
  if (elapseMs > 0x7FFFFFFF) elapseMs = 0x7FFFFFFF;
  {
    std::lock_guard<std::mutex> l(q->m);
    if (!hwnd) {
      // Thread timers get their own ids, unless an existing one is being reset.
      bool exists = false;
      for (auto& t : q->timers)
        if (!t.hwnd && t.id == id) exists = true;
      if (!exists) id = q->nextThreadTimer++;
    }
    std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    q->timers.push_back(Timer{hwnd, id, elapseMs, NowMs() + elapseMs, proc, false});
    q->ArmTimerFd();
  }
  q->Wake();
  return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<Queue> q;
  if (hwnd) {
    q = QueueOfWindow(hwnd);
  } else if (MyQueue()) {
    q = t_state.queue;
  }
  if (!q) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> l(q->m);
  size_t n = std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  q->ArmTimerFd();
  if (!n) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

namespace vtx::messages {

int QueueFd() {
  Queue* q = MyQueue();
  return q ? q->ep : -1;
}

namespace {
std::atomic<HWND> g_signalTarget{nullptr};
std::atomic<UINT> g_hangUpMessage{WM_ENDSESSION};
std::atomic<bool> g_stopWaits{false};
int g_signalPipe[2] = {-1, -1};
std::once_flag g_signalOnce;

void OnSignal(int signo) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(signo);
  // Straight through the table: a test's faults count the arming thread's calls, and a signal
  // may arrive on that thread; its byte must not be lost, nor the count moved.
  if (vtx::sys::Calls().write(g_signalPipe[1], &b, 1) < 0) {
  }
  errno = saved;
}

// Turns the bytes the handler writes into messages outside of signal context.
void SignalThread() {
  unsigned char b;
  for (;;) {
    ssize_t n = vtx::sys::Read(g_signalPipe[0], &b, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    HWND h = g_signalTarget.load();
    if (!h) continue;
    if (b == SIGHUP && g_hangUpMessage.load() != WM_ENDSESSION) {
      PostMessageA(h, g_hangUpMessage.load(), 0, 0);
      continue;
    }
    // The owner's thread may be inside a long wait: the platform's waits give up at once.
    if (g_stopWaits.load()) vtx::sync::RequestStop();
    PostMessageA(h, WM_ENDSESSION, 1, 0);
  }
}
}  // namespace

bool RouteEndSessionSignals(HWND hwnd, UINT hangUpMessage, bool stopWaits) {
  bool ok = true;
  std::call_once(g_signalOnce, [&] {
    if (vtx::sys::Pipe2(g_signalPipe, O_CLOEXEC) != 0) {
      ok = false;
      return;
    }
    std::thread(SignalThread).detach();
  });
  if (!ok || g_signalPipe[1] < 0) return false;
  g_hangUpMessage = hangUpMessage;
  g_stopWaits = stopWaits;
  g_signalTarget = hwnd;
  struct sigaction sa{};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sa.sa_handler = hwnd ? OnSignal : SIG_DFL;
  for (int s : {SIGTERM, SIGINT, SIGHUP})
    if (vtx::sys::Sigaction(s, &sa, nullptr) != 0) ok = false;
  return ok;
}

}  // namespace vtx::messages
