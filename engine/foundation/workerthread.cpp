#include "engine/foundation/workerthread.h"

#include "platform/errors.h"

namespace {
constexpr HRESULT kNoSemaphore = 0x80070064;
constexpr HRESULT kNoThread = 0x800700A4;
constexpr DWORD kStartFailureStopMs = 10000;
}  // namespace

struct CWorkerThread::Shared {
  ~Shared() {
    if (thread) CloseHandle(thread);
    if (semaphore) CloseHandle(semaphore);
  }
  CWorkerThread* owner = nullptr;
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  HANDLE semaphore = nullptr;
  std::atomic<HRESULT> initResult{0};
  // Set before WM_QUIT is posted, for a thread that has no queue yet to take the post.
  std::atomic<bool> quit{false};
};

namespace {
// Handed to the new thread, which takes over the reference.
struct StartBlock {
  std::shared_ptr<void> keep;
};
}  // namespace

CWorkerThread::~CWorkerThread() {
  if (m_shared) Stop(INFINITE);
}

bool CWorkerThread::IsRunning() const {
  DWORD code = 0;
  return m_shared && m_shared->thread && GetExitCodeThread(m_shared->thread, &code) && code == STILL_ACTIVE;
}

bool CWorkerThread::IsStopping() const { return m_shared && m_shared->quit.load() && IsRunning(); }

DWORD CWorkerThread::GetThreadId() const { return m_shared ? m_shared->threadId : 0; }

HANDLE CWorkerThread::GetThreadHandle() const { return m_shared ? m_shared->thread : nullptr; }

BOOL CWorkerThread::PostThreadMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  if (!m_shared || !m_shared->threadId) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return PostThreadMessageA(m_shared->threadId, msg, wParam, lParam);
}

HRESULT CWorkerThread::Start(DWORD timeoutMs) {
  if (IsStopping()) return E_BUSY;
  if (IsRunning()) return S_OK;
  Stop(INFINITE);  // what a finished thread left behind

  auto shared = std::make_shared<Shared>();
  shared->owner = this;
  shared->semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
  if (!shared->semaphore) return kNoSemaphore;
  auto* block = new StartBlock{shared};
  shared->thread = CreateThread(nullptr, 0, ThreadProc, block, 0, &shared->threadId);
  if (!shared->thread) {
    delete block;
    return kNoThread;
  }
  m_shared = shared;

  DWORD wait = WaitForSingleObject(shared->semaphore, timeoutMs);
  if (wait != WAIT_OBJECT_0) {
    Stop(kStartFailureStopMs);
    return wait == WAIT_TIMEOUT ? E_TIMEOUT : E_FAIL;
  }
  HRESULT hr = shared->initResult.load();
  if (FAILED(hr)) Stop(kStartFailureStopMs);
  return hr;
}

HRESULT CWorkerThread::Stop(DWORD timeoutMs) {
  if (!m_shared) return S_OK;
  if (IsRunning()) {
    m_shared->quit = true;
    PostThreadMessageA(m_shared->threadId, WM_QUIT, 0, 0);
    // Messages that the thread sends to our windows are answered meanwhile: a thread that reports
    // to its owner by SendMessage could otherwise never end.
    if (MsgWaitForMultipleObjects(1, &m_shared->thread, FALSE, timeoutMs, 0) != WAIT_OBJECT_0 && IsRunning())
      return E_TIMEOUT;
  }
  m_shared.reset();
  return S_OK;
}

DWORD CWorkerThread::ThreadProc(void* parameter) {
  auto* block = static_cast<StartBlock*>(parameter);
  std::shared_ptr<Shared> shared = std::static_pointer_cast<Shared>(block->keep);
  delete block;
  CWorkerThread* self = shared->owner;

  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists before anyone posts

  HRESULT hr = self->OnInitialize();
  shared->initResult = hr;
  ReleaseSemaphore(shared->semaphore, 1, nullptr);
  if (FAILED(hr)) return 0;

  self->OnRun();
  // A quit that came before this thread had a queue to receive it.
  if (shared->quit.load()) PostQuitMessage(0);
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!self->PreTranslateMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  self->OnExit();
  return 0;
}
