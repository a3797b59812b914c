// Threads, events, semaphores, mutexes (named ones shared across processes) and the waits on them.
#pragma once
#include <memory>
#include <string>

#include "platform/types.h"

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;
constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD ERROR_TOO_MANY_POSTS = 298;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

// Threads. Thread ids are small numbers of this process, never 0.
HANDLE CreateThread(SECURITY_ATTRIBUTES* sa, size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD flags, DWORD* threadId);
DWORD GetCurrentThreadId();
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
void Sleep(DWORD ms);

// Events and semaphores.
HANDLE CreateEventA(SECURITY_ATTRIBUTES* sa, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES* sa, LONG initialCount, LONG maximumCount, const char* name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// Mutexes. A named mutex is one lock for every process with the same $VANTREX_RUNTIME_DIR (a flock
// on locks/NAME there); it is recursive per thread and abandoned when its holder thread or process
// ends without releasing it: the next waiter then owns it with WAIT_ABANDONED.
HANDLE CreateMutexA(SECURITY_ATTRIBUTES* sa, BOOL initialOwner, const char* name);
HANDLE OpenMutexA(DWORD access, BOOL inheritHandle, const char* name);
BOOL ReleaseMutex(HANDLE mutex);

// Waits. Events, semaphores, threads and descriptor handles can be mixed freely; wait-all is not
// supported (ERROR_INVALID_PARAMETER).
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
BOOL CloseHandle(HANDLE handle);

namespace vtx::sync {

// A waitable kernel object. Other platform areas (files, processes, pipes) derive their own kinds
// and hand them out through MakeHandle so that CloseHandle and the waits work on them.
class Object {
 public:
  virtual ~Object() = default;
  // A descriptor that becomes readable when the object may be signalled, or -1 (then it is polled).
  virtual int PollFd() const { return -1; }
  // Takes the object when it is signalled (consumes an auto-reset event or a semaphore count).
  // Returns WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_TIMEOUT (not signalled).
  virtual DWORD TryAcquire() = 0;
  // Waits for this object alone; the default polls PollFd / TryAcquire.
  virtual DWORD Wait(uint64_t deadlineMs);
};

HANDLE MakeHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> FromHandle(HANDLE handle);

// A handle that is signalled while `fd` is readable; the descriptor stays the caller's.
HANDLE CreateFdHandle(int fd);

// Milliseconds of the monotonic clock.
uint64_t NowMs();
// The deadline `ms` from now on the monotonic clock (INFINITE: never).
uint64_t DeadlineAfter(DWORD ms);
constexpr uint64_t kNoDeadline = ~0ull;
// Milliseconds left until the deadline as poll takes them: 0 when it has passed, -1 for none.
int MsUntil(uint64_t deadline);

// $VANTREX_RUNTIME_DIR, else /run/vantrex.
std::string RuntimeDir();
// The runtime folder, created with its missing parents (0750, the last one in the product group)
// when it is not there; S_OK when it exists afterwards. `sub` names a folder inside it that the
// product's accounts write into (0770, the product group), created as well.
HRESULT MakeRuntimeDir(const char* sub = nullptr);

// The program's stop. Once it is asked for (SIGTERM, a quit command), the long waits of the platform
// (transfers, child processes, pipe exchanges) give up within a fraction of a second with
// ERROR_OPERATION_ABORTED, so that the program ends within seconds whatever it is doing.
void RequestStop();
bool StopRequested();
// Readable once a stop is asked for, to be polled beside other descriptors; -1 when none can be made.
int StopFd();
// Takes the request back, for a program (or a test) that goes on.
void ClearStop();

// Waits on pollable handles plus an extra descriptor (the message queue's), up to a deadline.
// Returns the index of the signalled handle, `count` when extraFd became readable,
// WAIT_TIMEOUT, or WAIT_FAILED; *abandoned tells whether the handle was an abandoned mutex.
DWORD WaitAny(DWORD count, const HANDLE* handles, int extraFd, uint64_t deadlineMs, bool* abandoned);

}  // namespace vtx::sync
