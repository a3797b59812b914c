// The base of every extra thread: a thread with its own message queue, started with a handshake
// that waits until the thread has initialised, and driven afterwards by thread messages or by the
// windows that it creates.
#pragma once
#include <atomic>
#include <memory>

#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/types.h"

class CWorkerThread {
 public:
  CWorkerThread() = default;
  // Waits for a thread that is still running (owners call Stop first, while the derived object
  // still exists: the thread calls its operations until it ends).
  virtual ~CWorkerThread();
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Run on the new thread. A negative result of OnInitialize fails the start and ends the thread
  // without OnRun or OnExit.
  virtual HRESULT OnInitialize() = 0;
  // Once, after a successful OnInitialize, before the message loop.
  virtual void OnRun() = 0;
  // Sees every message of the loop first; nonzero when it handled the message.
  virtual BOOL PreTranslateMessage(MSG* msg) = 0;
  // After the loop received WM_QUIT.
  virtual void OnExit() = 0;

  // 0 at once when running; else starts the thread and waits up to `timeoutMs` for OnInitialize:
  // its result, 0x800705B4 on a time-out, 0x80070064 or 0x800700A4 when no semaphore or thread can
  // be made, 0x80004005 when the wait fails, 0x80070420 while an earlier thread is still stopping.
  HRESULT Start(DWORD timeoutMs);
  // Asks the thread to quit and waits up to `timeoutMs`, answering what the thread sends to the
  // caller's windows meanwhile: 0 when no thread is left, 0x800705B4 when it still runs. The
  // thread is never killed; it stays "stopping" until it has ended.
  HRESULT Stop(DWORD timeoutMs);
  bool IsRunning() const;
  // Told to quit and not ended yet.
  bool IsStopping() const;
  DWORD GetThreadId() const;
  HANDLE GetThreadHandle() const;
  // FALSE (last error set) when there is no thread.
  BOOL PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) const;

 private:
  struct Shared;
  static DWORD ThreadProc(void* parameter);

  // Held by the owner and by the thread, so the handles outlive whichever lets go first.
  std::shared_ptr<Shared> m_shared;
};
