#include "engine/foundation/workerthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"

namespace {

// Records what ran where; a handler can be held up on an event to keep the thread busy.
class Worker : public CWorkerThread {
 public:
  ~Worker() override { Stop(INFINITE); }

  HRESULT OnInitialize() override {
    initThread = GetCurrentThreadId();
    ++inits;
    if (initDelayMs) Sleep(initDelayMs);
    return initResult;
  }
  void OnRun() override { ++runs; }
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_USER + 1) {
      if (hold) WaitForSingleObject(hold, INFINITE);
      std::lock_guard<std::mutex> l(lock);
      seen.push_back(static_cast<int>(msg->wParam));
      return TRUE;
    }
    return FALSE;
  }
  void OnExit() override { ++exits; }

  std::vector<int> Seen() {
    std::lock_guard<std::mutex> l(lock);
    return seen;
  }

  HRESULT initResult = S_OK;
  DWORD initDelayMs = 0;
  HANDLE hold = nullptr;
  std::atomic<DWORD> initThread{0};
  std::atomic<int> inits{0}, runs{0}, exits{0};
  std::mutex lock;
  std::vector<int> seen;
};

// Waits up to two seconds for a condition that another thread makes true.
template <class F>
bool Eventually(F f) {
  for (int i = 0; i < 400; ++i) {
    if (f()) return true;
    Sleep(5);
  }
  return f();
}

TEST(WorkerThread, StartRunsOnItsOwnThreadAndKeepsEarlyMessages) {
  Worker w;
  ASSERT_EQ(w.Start(3000), S_OK);
  // Posted at once after the handshake: the queue was there before OnInitialize.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(w.PostThreadMessage(WM_USER + 1, i, 0));
  EXPECT_TRUE(w.IsRunning());
  EXPECT_NE(w.initThread.load(), GetCurrentThreadId());
  EXPECT_EQ(w.initThread.load(), w.GetThreadId());
  EXPECT_TRUE(Eventually([&] { return w.Seen().size() == 3; }));
  EXPECT_EQ(w.Seen(), (std::vector<int>{0, 1, 2}));

  // Already running: nothing starts again.
  EXPECT_EQ(w.Start(3000), S_OK);
  EXPECT_EQ(w.inits.load(), 1);

  HANDLE thread = w.GetThreadHandle();
  EXPECT_EQ(w.Stop(3000), S_OK);
  EXPECT_EQ(w.runs.load(), 1);
  EXPECT_EQ(w.exits.load(), 1);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.GetThreadHandle(), nullptr);
  EXPECT_EQ(w.GetThreadId(), 0u);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(thread, &code));  // the handle was closed
  EXPECT_FALSE(w.PostThreadMessage(WM_USER + 1, 9, 0));

  // A stopped object starts again.
  ASSERT_EQ(w.Start(3000), S_OK);
  EXPECT_EQ(w.inits.load(), 2);
  EXPECT_EQ(w.Stop(3000), S_OK);
  EXPECT_EQ(w.exits.load(), 2);
}

TEST(WorkerThread, FailedInitialisationEndsTheThread) {
  Worker w;
  w.initResult = E_FAIL;
  EXPECT_EQ(w.Start(3000), E_FAIL);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.GetThreadHandle(), nullptr);
  EXPECT_EQ(w.runs.load(), 0);
  EXPECT_EQ(w.exits.load(), 0);

  // A positive result is a success.
  w.initResult = 1;
  EXPECT_EQ(w.Start(3000), 1u);
  EXPECT_TRUE(w.IsRunning());
}

TEST(WorkerThread, SlowInitialisationTimesOutAndLeavesNoThread) {
  Worker w;
  w.initDelayMs = 300;
  uint64_t t0 = vtx::sync::NowMs();
  EXPECT_EQ(w.Start(50), E_TIMEOUT);
  // The start waited for the thread to end after its initialisation rather than leaving it behind.
  EXPECT_GE(vtx::sync::NowMs() - t0, 250u);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.GetThreadHandle(), nullptr);
  EXPECT_EQ(w.exits.load(), w.runs.load());
}

TEST(WorkerThread, StopOfANeverStartedObjectDoesNothing) {
  Worker w;
  EXPECT_EQ(w.Stop(0), S_OK);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_FALSE(w.IsStopping());
  EXPECT_EQ(w.GetThreadId(), 0u);
}

TEST(WorkerThread, StopThatTimesOutKeepsTheThreadsStateUntilItEnds) {
  HANDLE hold = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Worker w;
  w.hold = hold;
  ASSERT_EQ(w.Start(3000), S_OK);
  ASSERT_TRUE(w.PostThreadMessage(WM_USER + 1, 7, 0));
  EXPECT_EQ(w.Stop(50), E_TIMEOUT);
  EXPECT_TRUE(w.IsRunning());
  EXPECT_TRUE(w.IsStopping());
  EXPECT_NE(w.GetThreadHandle(), nullptr);
  // Not a second thread beside the one still ending.
  EXPECT_EQ(w.Start(3000), E_BUSY);
  EXPECT_EQ(w.inits.load(), 1);

  SetEvent(hold);
  EXPECT_EQ(w.Stop(3000), S_OK);
  EXPECT_EQ(w.Seen(), std::vector<int>{7});
  EXPECT_EQ(w.exits.load(), 1);
  EXPECT_FALSE(w.IsStopping());
  ASSERT_EQ(w.Start(3000), S_OK);
  EXPECT_EQ(w.inits.load(), 2);
  CloseHandle(hold);
}

TEST(WorkerThread, DestroyingAnObjectWhoseStopTimedOutWaitsForTheThread) {
  HANDLE hold = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto* w = new Worker;
  w->hold = hold;
  ASSERT_EQ(w->Start(3000), S_OK);
  ASSERT_TRUE(w->PostThreadMessage(WM_USER + 1, 1, 0));
  EXPECT_EQ(w->Stop(20), E_TIMEOUT);
  std::thread release([&] {
    Sleep(100);
    SetEvent(hold);
  });
  delete w;  // the thread still uses the object until it has ended
  release.join();
  CloseHandle(hold);
}

}  // namespace
