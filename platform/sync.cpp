#include "platform/sync.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/native/productpaths.h"
#include "platform/native/syscalls.h"

namespace vtx::sync {

uint64_t NowMs() {
  timespec ts;
  vtx::sys::ClockGettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint64_t DeadlineAfter(DWORD ms) { return ms == INFINITE ? kNoDeadline : NowMs() + ms; }

int MsUntil(uint64_t deadline) {
  if (deadline == kNoDeadline) return -1;
  uint64_t now = NowMs();
  if (deadline <= now) return 0;
  uint64_t left = deadline - now;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

std::string RuntimeDir() {
  return env::Get(env::kRuntimeDir, env::kDefaultRuntimeDir);
}

HRESULT MakeRuntimeDir(const char* sub) {
  std::string dir = RuntimeDir();
  bool made = vtx::sys::Access(dir.c_str(), F_OK) != 0;
  HRESULT hr = vtx::MakeDirectories(dir.c_str(), 0750);
  if (FAILED(hr)) return hr;
  // Made by root (the messenger, an installation), it still goes to the services' account.
  if (made && FAILED(hr = vtx::HandToProduct(dir.c_str(), 0750))) return hr;
  if (!sub) return S_OK;
  std::string inner = vtx::JoinPath(dir, sub);
  if (vtx::sys::Mkdir(inner.c_str(), 0770) == 0) return vtx::ShareWithProductGroup(inner.c_str(), 0770);
  if (errno != EEXIST) return HRESULT_FROM_WIN32(vtx::Win32FromErrno(errno));
  return S_OK;
}

// ---- the program's stop ----

namespace {
std::atomic<bool> g_stop{false};
std::once_flag g_stopFdOnce;
int g_stopFd = -1;
}  // namespace

int StopFd() {
  std::call_once(g_stopFdOnce, [] { g_stopFd = vtx::sys::Eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); });
  return g_stopFd;
}

void RequestStop() {
  int fd = StopFd();
  g_stop = true;
  uint64_t one = 1;
  if (fd >= 0 && vtx::sys::Write(fd, &one, sizeof one) < 0) {
  }
}

bool StopRequested() { return g_stop.load(); }

void ClearStop() {
  int fd = StopFd();
  g_stop = false;
  uint64_t count;
  if (fd >= 0 && vtx::sys::Read(fd, &count, sizeof count) < 0) {
  }
}

// ---- handle table ----

namespace {
std::mutex g_handleLock;
// Never destroyed: a thread still waiting when the process exits must not find the table gone.
std::unordered_map<uintptr_t, std::shared_ptr<Object>>& g_handles =
    *new std::unordered_map<uintptr_t, std::shared_ptr<Object>>;
uintptr_t g_nextHandle = 0x1000;
}  // namespace

HANDLE MakeHandle(std::shared_ptr<Object> object) {
  if (!object) return nullptr;
  std::lock_guard<std::mutex> l(g_handleLock);
  uintptr_t h = g_nextHandle;
  g_nextHandle += 4;
  g_handles.emplace(h, std::move(object));
  return reinterpret_cast<HANDLE>(h);
}

std::shared_ptr<Object> FromHandle(HANDLE handle) {
  std::lock_guard<std::mutex> l(g_handleLock);
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == g_handles.end() ? nullptr : it->second;
}

DWORD Object::Wait(uint64_t deadlineMs) {
  for (;;) {
    DWORD r = TryAcquire();
    if (r != WAIT_TIMEOUT) return r;
    int left = MsUntil(deadlineMs);
    if (left == 0) return WAIT_TIMEOUT;
    int fd = PollFd();
    if (fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      if (vtx::sys::Poll(&p, 1, left) < 0 && errno != EINTR) return WAIT_FAILED;
    } else {
      vtx::sys::SleepMs(static_cast<unsigned>(std::min(left < 0 ? 5 : left, 5)));
    }
  }
}

static void Drain(int fd) {
  uint64_t v;
  while (vtx::sys::Read(fd, &v, sizeof v) == sizeof v) {
  }
}

static void Signal(int fd, uint64_t n = 1) {
  while (vtx::sys::Write(fd, &n, sizeof n) < 0 && errno == EINTR) {
  }
}

// ---- events ----

class EventObject : public Object {
 public:
  EventObject(bool manual, bool initial) : manual_(manual), fd_(vtx::sys::Eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (initial) Set();
  }
  ~EventObject() override {
    if (fd_ >= 0) vtx::sys::Close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int PollFd() const override { return fd_; }
  DWORD TryAcquire() override {
    std::lock_guard<std::mutex> l(m_);
    if (!set_) return WAIT_TIMEOUT;
    if (!manual_) {
      set_ = false;
      Drain(fd_);
    }
    return WAIT_OBJECT_0;
  }
  void Set() {
    std::lock_guard<std::mutex> l(m_);
    if (!set_) {
      set_ = true;
      Signal(fd_);
    }
  }
  void Reset() {
    std::lock_guard<std::mutex> l(m_);
    if (set_) {
      set_ = false;
      Drain(fd_);
    }
  }

 private:
  std::mutex m_;
  bool manual_;
  bool set_ = false;
  int fd_;
};

// ---- semaphores ----

class SemaphoreObject : public Object {
 public:
  SemaphoreObject(LONG initial, LONG maximum)
      : max_(maximum), fd_(vtx::sys::Eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC | EFD_SEMAPHORE)) {
    if (initial > 0 && fd_ >= 0) {
      count_ = initial;
      Signal(fd_, static_cast<uint64_t>(initial));
    }
  }
  ~SemaphoreObject() override {
    if (fd_ >= 0) vtx::sys::Close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int PollFd() const override { return fd_; }
  DWORD TryAcquire() override {
    std::lock_guard<std::mutex> l(m_);
    if (count_ == 0) return WAIT_TIMEOUT;
    uint64_t v;
    if (vtx::sys::Read(fd_, &v, sizeof v) != sizeof v) return WAIT_TIMEOUT;
    --count_;
    return WAIT_OBJECT_0;
  }
  bool Release(LONG n, LONG* previous) {
    std::lock_guard<std::mutex> l(m_);
    if (n <= 0 || count_ + n > max_) return false;
    if (previous) *previous = count_;
    count_ += n;
    Signal(fd_, static_cast<uint64_t>(n));
    return true;
  }

 private:
  std::mutex m_;
  LONG count_ = 0;
  LONG max_;
  int fd_;
};

// ---- descriptor handles ----

class FdObject : public Object {
 public:
  explicit FdObject(int fd) : fd_(fd) {}
  int PollFd() const override { return fd_; }
  DWORD TryAcquire() override {
    pollfd p{fd_, POLLIN, 0};
    return vtx::sys::Poll(&p, 1, 0) > 0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

 private:
  int fd_;
};

HANDLE CreateFdHandle(int fd) {
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return MakeHandle(std::make_shared<FdObject>(fd));
}

// ---- threads ----

namespace {
std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;
}  // namespace

class ThreadObject : public Object {
 public:
  ThreadObject() : fd_(vtx::sys::Eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~ThreadObject() override {
    if (fd_ >= 0) vtx::sys::Close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int PollFd() const override { return fd_; }
  DWORD TryAcquire() override { return done_.load() ? WAIT_OBJECT_0 : WAIT_TIMEOUT; }
  void Finish(DWORD code) {
    exitCode_ = code;
    done_ = true;
    Signal(fd_);
  }
  DWORD ExitCode() const { return done_.load() ? exitCode_.load() : STILL_ACTIVE; }

  DWORD id = 0;
  LPTHREAD_START_ROUTINE start = nullptr;
  void* parameter = nullptr;

 private:
  std::atomic<bool> done_{false};
  std::atomic<DWORD> exitCode_{STILL_ACTIVE};
  int fd_;
};

static void* ThreadMain(void* arg) {
  auto* holder = static_cast<std::shared_ptr<ThreadObject>*>(arg);
  std::shared_ptr<ThreadObject> self = *holder;
  delete holder;
  t_threadId = self->id;
  DWORD code = self->start(self->parameter);
  self->Finish(code);
  return nullptr;
}

}  // namespace vtx::sync

using namespace vtx::sync;

DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
  return t_threadId;
}

HANDLE CreateThread(SECURITY_ATTRIBUTES*, size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD flags, DWORD* threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto t = std::make_shared<ThreadObject>();
  if (!t->ok()) {
    vtx::SetLastErrorFromErrno();
    return nullptr;
  }
  t->id = g_nextThreadId.fetch_add(1);
  t->start = start;
  t->parameter = parameter;
  if (flags & CREATE_SUSPENDED) {  // no ResumeThread here, so a suspended thread could never run
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize) pthread_attr_setstacksize(&attr, std::max<size_t>(stackSize, 65536));
  auto* holder = new std::shared_ptr<ThreadObject>(t);
  pthread_t th;
  int rc = pthread_create(&th, &attr, ThreadMain, holder);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete holder;
    SetLastError(vtx::Win32FromErrno(rc));
    return nullptr;
  }
  if (threadId) *threadId = t->id;
  return MakeHandle(t);
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  auto t = std::dynamic_pointer_cast<ThreadObject>(FromHandle(thread));
  if (!t || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = t->ExitCode();
  return TRUE;
}

void Sleep(DWORD ms) {
  if (ms == INFINITE) {
    for (;;) vtx::sys::SleepMs(0xFFFFFFFFu);
  }
  uint64_t deadline = NowMs() + ms;
  for (int left; (left = MsUntil(deadline)) > 0;) vtx::sys::SleepMs(static_cast<unsigned>(left));
}

HANDLE CreateEventA(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState, const char* name) {
  if (name && *name) {
    // Named events are not shared across processes here; no caller needs it.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto e = std::make_shared<EventObject>(manualReset != 0, initialState != 0);
  if (!e->ok()) {
    vtx::SetLastErrorFromErrno();
    return nullptr;
  }
  return MakeHandle(e);
}

BOOL SetEvent(HANDLE event) {
  auto e = std::dynamic_pointer_cast<EventObject>(FromHandle(event));
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  e->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto e = std::dynamic_pointer_cast<EventObject>(FromHandle(event));
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  e->Reset();
  return TRUE;
}

HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES*, LONG initialCount, LONG maximumCount, const char* name) {
  if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (name && *name) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto s = std::make_shared<SemaphoreObject>(initialCount, maximumCount);
  if (!s->ok()) {
    vtx::SetLastErrorFromErrno();
    return nullptr;
  }
  return MakeHandle(s);
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount) {
  auto s = std::dynamic_pointer_cast<SemaphoreObject>(FromHandle(semaphore));
  if (!s) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!s->Release(releaseCount, previousCount)) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  return TRUE;
}

// ---- mutexes ----

namespace vtx::sync {

class MutexObject;
// Mutexes the current thread owns, abandoned when the thread ends.
struct OwnedMutexes {
  std::vector<std::weak_ptr<MutexObject>> list;
  ~OwnedMutexes();
};
thread_local OwnedMutexes t_owned;

class MutexObject : public Object, public std::enable_shared_from_this<MutexObject> {
 public:
  // fd: the lock file of a named mutex, or -1 for a mutex of this process only.
  explicit MutexObject(int fd) : fd_(fd) {}
  ~MutexObject() override {
    if (fd_ >= 0) vtx::sys::Close(fd_);
  }

  DWORD TryAcquire() override { return Acquire(NowMs()); }
  DWORD Wait(uint64_t deadlineMs) override { return Acquire(deadlineMs); }

  DWORD Acquire(uint64_t deadline) {
    DWORD me = GetCurrentThreadId();
    std::unique_lock<std::mutex> l(m_);
    if (owner_ == me) {
      ++count_;
      return WAIT_OBJECT_0;
    }
    auto free = [&] { return owner_ == 0; };
    if (deadline == kNoDeadline) {
      cv_.wait(l, free);
    } else {
      int left = MsUntil(deadline);
      if (!cv_.wait_for(l, std::chrono::milliseconds(left), free)) return WAIT_TIMEOUT;
    }
    owner_ = me;  // reserved against this process's other threads while the file lock is taken
    count_ = 1;
    l.unlock();
    bool abandoned = false;
    if (fd_ >= 0) {
      DWORD kept = GetLastError();
      int left = MsUntil(deadline);
      HRESULT hr = vtx::LockWithin(fd_, left < 0 ? INFINITE : static_cast<DWORD>(left));
      if (FAILED(hr)) {
        bool timedOut = hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
        Unreserve();
        SetLastError(timedOut ? kept : static_cast<DWORD>(HRESULT_CODE(hr)));
        return timedOut ? WAIT_TIMEOUT : WAIT_FAILED;
      }
      // The file holds '1' while owned: finding it set means the last holder died holding it.
      char mark = 0;
      if (vtx::sys::Pread(fd_, &mark, 1, 0) == 1 && mark == '1') abandoned = true;
      mark = '1';
      if (vtx::sys::Pwrite(fd_, &mark, 1, 0) != 1) {
      }
    }
    l.lock();
    if (abandonedHere_) abandoned = true;
    abandonedHere_ = false;
    l.unlock();
    t_owned.list.push_back(weak_from_this());
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
  }

  bool Release() {
    DWORD me = GetCurrentThreadId();
    std::unique_lock<std::mutex> l(m_);
    if (owner_ != me || count_ == 0) return false;
    if (--count_ > 0) return true;
    if (fd_ >= 0) {
      char mark = '0';
      if (vtx::sys::Pwrite(fd_, &mark, 1, 0) != 1) {
      }
      vtx::sys::Flock(fd_, LOCK_UN);
    }
    owner_ = 0;
    l.unlock();
    cv_.notify_one();
    auto& v = t_owned.list;
    v.erase(std::remove_if(v.begin(), v.end(),
                           [this](const std::weak_ptr<MutexObject>& w) {
                             auto s = w.lock();
                             return !s || s.get() == this;
                           }),
            v.end());
    return true;
  }

  // The owning thread ended: the next owner is told the mutex was abandoned.
  void Abandon(DWORD thread) {
    std::unique_lock<std::mutex> l(m_);
    if (owner_ != thread) return;
    if (fd_ >= 0) vtx::sys::Flock(fd_, LOCK_UN);  // the file keeps its '1' mark
    owner_ = 0;
    count_ = 0;
    abandonedHere_ = true;
    l.unlock();
    cv_.notify_one();
  }

 private:
  void Unreserve() {
    std::lock_guard<std::mutex> l(m_);
    owner_ = 0;
    count_ = 0;
    cv_.notify_one();
  }

  std::mutex m_;
  std::condition_variable cv_;
  DWORD owner_ = 0;
  unsigned count_ = 0;
  bool abandonedHere_ = false;
  int fd_;
};

OwnedMutexes::~OwnedMutexes() {
  DWORD me = t_threadId;
  if (me == 0) return;
  for (auto& w : list)
    if (auto m = w.lock()) m->Abandon(me);
}

namespace {
std::mutex g_namedLock;
std::map<std::string, std::weak_ptr<MutexObject>> g_named;

// Object names may carry a "Global\" or "Local\" prefix; the rest becomes a file name.
std::string LockFileName(const char* name) {
  std::string n = name;
  for (const char* prefix : {"Global\\", "Local\\"})
    if (n.rfind(prefix, 0) == 0) n.erase(0, std::char_traits<char>::length(prefix));
  for (char& c : n)
    if (c == '/' || c == '\\' || c == 0) c = '_';
  if (n == "." || n == "..") n = "_" + n;
  return n;
}

// Opens the lock file of a named mutex; `create` false means it must exist. -1 with the last error
// set on failure.
int OpenLockFile(const std::string& file, bool create, bool* existed) {
  std::string locks = RuntimeDir() + "/locks";
  if (create) {
    HRESULT hr = MakeRuntimeDir("locks");
    if (FAILED(hr)) {
      SetLastError((hr & 0xFFFF0000u) == 0x80070000u ? (hr & 0xFFFF) : ERROR_PATH_NOT_FOUND);
      return -1;
    }
  }
  std::string path = locks + "/" + file;
  int fd = vtx::sys::Open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    *existed = true;
    return fd;
  }
  if (create && errno == ENOENT) {
    *existed = false;
    fd = vtx::sys::Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0660);
    if (fd >= 0) {
      // The product's programs under other accounts take the same locks.
      vtx::ShareWithProductGroup(fd, 0660);
      return fd;
    }
    if (errno == EEXIST) {  // another process made it first
      *existed = true;
      fd = vtx::sys::Open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
      if (fd >= 0) return fd;
    }
  }
  vtx::SetLastErrorFromErrno();
  return -1;
}

std::shared_ptr<MutexObject> NamedMutex(const char* name, bool create, bool* existed) {
  std::string file = LockFileName(name);
  std::lock_guard<std::mutex> l(g_namedLock);
  auto it = g_named.find(file);
  if (it != g_named.end())
    if (auto m = it->second.lock()) {
      *existed = true;
      return m;
    }
  int fd = OpenLockFile(file, create, existed);
  if (fd < 0) return nullptr;
  auto m = std::make_shared<MutexObject>(fd);
  g_named[file] = m;
  return m;
}
}  // namespace

}  // namespace vtx::sync

HANDLE CreateMutexA(SECURITY_ATTRIBUTES*, BOOL initialOwner, const char* name) {
  std::shared_ptr<MutexObject> m;
  bool existed = false;
  if (name && *name) {
    m = NamedMutex(name, true, &existed);
    if (!m) return nullptr;
  } else {
    m = std::make_shared<MutexObject>(-1);
  }
  // As on Windows, an existing mutex is opened without taking the initial ownership. A creator
  // that cannot lock its file does not own it: no handle, the last error says why.
  if (initialOwner && !existed && m->Acquire(kNoDeadline) == WAIT_FAILED) return nullptr;
  HANDLE h = MakeHandle(m);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE OpenMutexA(DWORD, BOOL, const char* name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  auto m = NamedMutex(name, false, &existed);
  if (!m) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return MakeHandle(m);
}

BOOL ReleaseMutex(HANDLE mutex) {
  auto m = std::dynamic_pointer_cast<MutexObject>(FromHandle(mutex));
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!m->Release()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

// ---- waits ----

DWORD vtx::sync::WaitAny(DWORD count, const HANDLE* handles, int extraFd, uint64_t deadlineMs, bool* abandoned) {
  *abandoned = false;
  if (count > MAXIMUM_WAIT_OBJECTS || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Object>> objects;
  for (DWORD i = 0; i < count; ++i) {
    auto o = FromHandle(handles[i]);
    if (!o) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(o));
  }
  std::vector<pollfd> fds;
  bool polled = false;  // some object has no descriptor: look again every few milliseconds
  for (auto& o : objects) {
    int fd = o->PollFd();
    if (fd >= 0)
      fds.push_back(pollfd{fd, POLLIN, 0});
    else
      polled = true;
  }
  if (extraFd >= 0) fds.push_back(pollfd{extraFd, POLLIN, 0});
  for (;;) {
    for (DWORD i = 0; i < count; ++i) {
      DWORD r = objects[i]->TryAcquire();
      if (r == WAIT_OBJECT_0) return i;
      if (r == WAIT_ABANDONED) {
        *abandoned = true;
        return i;
      }
      if (r == WAIT_FAILED) return WAIT_FAILED;
    }
    if (extraFd >= 0) {
      pollfd p{extraFd, POLLIN, 0};
      if (vtx::sys::Poll(&p, 1, 0) > 0) return count;
    }
    int left = MsUntil(deadlineMs);
    if (left == 0) return WAIT_TIMEOUT;
    if (polled && (left < 0 || left > 5)) left = 5;
    if (fds.empty()) {
      vtx::sys::SleepMs(static_cast<unsigned>(left < 0 ? 5 : left));
      continue;
    }
    if (vtx::sys::Poll(fds.data(), fds.size(), left) < 0 && errno != EINTR) {
      vtx::SetLastErrorFromErrno();
      return WAIT_FAILED;
    }
  }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) {
  auto o = FromHandle(handle);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return o->Wait(DeadlineAfter(ms));
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  if (waitAll || count == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (count == 1) return WaitForSingleObject(handles[0], ms);
  bool abandoned = false;
  DWORD r = WaitAny(count, handles, -1, DeadlineAfter(ms), &abandoned);
  if (r < count && abandoned) return WAIT_ABANDONED_0 + r;
  return r;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<Object> keep;  // destroyed outside the table lock
  {
    std::lock_guard<std::mutex> l(g_handleLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == g_handles.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    keep = std::move(it->second);
    g_handles.erase(it);
  }
  return TRUE;
}
