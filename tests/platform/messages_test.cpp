#include "platform/messages.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"

namespace {

std::mutex g_logLock;
std::vector<UINT> g_log;
std::atomic<int> g_calls{0};

LRESULT LoggingProc(HWND, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_CREATE || msg == WM_DESTROY || msg == WM_NCDESTROY) return 0;
  std::lock_guard<std::mutex> l(g_logLock);
  g_log.push_back(msg);
  ++g_calls;
  return static_cast<LRESULT>(msg + wParam);
}

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    g_calls = 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = LoggingProc;
    wc.lpszClassName = "VtxTestClass";
    ASSERT_NE(RegisterClassA(&wc), 0);
    hwnd = CreateWindowExA(0, "VtxTestClass", "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    EXPECT_TRUE(UnregisterClassA("VtxTestClass", nullptr));
  }
  std::vector<UINT> Log() {
    std::lock_guard<std::mutex> l(g_logLock);
    return g_log;
  }
  HWND hwnd = nullptr;
};

TEST_F(Messages, ClassesAndWindowsFollowTheWindowsRules) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = LoggingProc;
  wc.lpszClassName = "vtxtestCLASS";
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(nullptr, "VTXTESTCLASS", &info));
  EXPECT_EQ(info.lpfnWndProc, &LoggingProc);
  EXPECT_FALSE(GetClassInfoA(nullptr, "NoSuchClass", &info));
  EXPECT_EQ(FindWindowA("vtxtestclass", nullptr), hwnd);
  EXPECT_EQ(FindWindowA("NoSuchClass", nullptr), nullptr);
  EXPECT_EQ(FindWindowA("VtxTestClass", "other title"), nullptr);
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());
  // A window lives as long as the thread that made it; the class cannot go while one exists.
  HWND other = nullptr;
  bool found = false;
  std::thread([&] {
    other = CreateWindowExA(0, "VtxTestClass", "t", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    found = FindWindowA("VtxTestClass", "T") == other;
  }).join();
  EXPECT_NE(other, nullptr);
  EXPECT_TRUE(found);
  EXPECT_FALSE(IsWindow(other));
  EXPECT_FALSE(UnregisterClassA("VtxTestClass", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  EXPECT_EQ(DefWindowProcA(hwnd, 0x1234, 1, 2), 0);
}

TEST_F(Messages, SentMessagesRunBeforePostedOnes) {
  ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 1, 0, 0));
  std::thread sender([&] { EXPECT_EQ(SendMessageA(hwnd, WM_USER + 2, 5, 0), WM_USER + 2 + 5); });
  // Wait until the sent message is queued, without taking it.
  ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_SENDMESSAGE), WAIT_OBJECT_0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1u);
  DispatchMessageA(&m);
  sender.join();
  EXPECT_EQ(Log(), (std::vector<UINT>{WM_USER + 2, WM_USER + 1}));
}

TEST_F(Messages, SentMessageRunsInsideNonRemovingPeekAndWaitMessage) {
  // A posted message that was already looked at must not make WaitMessage return at once.
  ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 9, 0, 0));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE));
  std::atomic<bool> busy{true};
  std::thread worker([&] {
    Sleep(50);
    EXPECT_EQ(SendMessageA(hwnd, WM_USER + 3, 0, 0), WM_USER + 3);
    busy = false;
    EXPECT_EQ(SendMessageA(hwnd, WM_USER + 4, 0, 0), WM_USER + 4);
  });
  int rounds = 0;
  while (busy) {
    WaitMessage();
    PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE);
    ++rounds;
  }
  EXPECT_LE(rounds, 3);  // it slept until the sends came instead of spinning on the old message
  while (g_calls < 2) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_SENDMESSAGE);
    PeekMessageA(&m, hwnd, 0, 0, PM_NOREMOVE);
  }
  worker.join();
  EXPECT_EQ(Log(), (std::vector<UINT>{WM_USER + 3, WM_USER + 4}));
  // The posted message is still there.
  ASSERT_TRUE(PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 9u);
}

TEST_F(Messages, SendTimeoutExpiresAndTheMessageIsWithdrawn) {
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread worker([&] {
    DWORD_PTR result = 77;
    EXPECT_EQ(SendMessageTimeoutA(hwnd, WM_USER + 5, 0, 0, SMTO_BLOCK, 100, &result), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(result, 77u);
    SetEvent(done);
  });
  // Not pumping: the owner is in a plain wait.
  EXPECT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
  worker.join();
  MSG m;
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(g_calls, 0);

  std::thread answered([&] {
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutA(hwnd, WM_USER + 6, 1, 0, SMTO_BLOCK, 5000, &result), 0);
    EXPECT_EQ(result, WM_USER + 7u);
  });
  while (g_calls < 1) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
  }
  answered.join();
  CloseHandle(done);
}

TEST_F(Messages, SenderIsReleasedWhenTheReceivingThreadEnds) {
  HWND other = nullptr;
  HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([&] {
    other = CreateWindowExA(0, "VtxTestClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SetEvent(created);
    WaitForSingleObject(quit, INFINITE);  // never pumps
  });
  WaitForSingleObject(created, INFINITE);
  std::thread killer([&] {
    Sleep(50);
    SetEvent(quit);
  });
  EXPECT_EQ(SendMessageA(other, WM_USER + 8, 0, 0), 0);
  owner.join();
  killer.join();
  EXPECT_FALSE(PostMessageA(other, WM_USER, 0, 0));
  EXPECT_EQ(g_calls, 0);
  CloseHandle(created);
  CloseHandle(quit);
}

TEST_F(Messages, SenderIsReleasedWhenTheWindowIsDestroyed) {
  HWND second = CreateWindowExA(0, "VtxTestClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(second, nullptr);
  std::atomic<int> answered{0};
  LRESULT toSecond = -1, toFirst = -1;
  std::thread sender([&] {
    toSecond = SendMessageA(second, WM_USER + 9, 0, 0);
    ++answered;
    toFirst = SendMessageA(hwnd, WM_USER + 10, 0, 0);
    ++answered;
  });
  // The message to `second` waits in the queue while this thread does not pump.
  while (true) {
    Sleep(10);
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_SENDMESSAGE) == WAIT_OBJECT_0) break;
  }
  ASSERT_TRUE(DestroyWindow(second));
  while (answered < 1) Sleep(5);
  EXPECT_EQ(toSecond, 0);
  // Messages to other windows of the thread still run.
  MSG m;
  while (answered < 2) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
  }
  sender.join();
  EXPECT_EQ(toFirst, static_cast<LRESULT>(WM_USER + 10));
  EXPECT_EQ(Log(), std::vector<UINT>{WM_USER + 10});
}

TEST_F(Messages, TimersRepeatAndStopWhenKilled) {
  ASSERT_EQ(SetTimer(hwnd, 7, 20, nullptr), 7u);
  MSG m;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_TIMER);
    EXPECT_EQ(m.hwnd, hwnd);
    EXPECT_EQ(m.wParam, 7u);
  }
  // Resetting the same id replaces the timer rather than adding one.
  ASSERT_EQ(SetTimer(hwnd, 7, 60000, nullptr), 7u);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 60, QS_ALLINPUT), WAIT_TIMEOUT);
  ASSERT_EQ(SetTimer(hwnd, 7, 10, nullptr), 7u);
  EXPECT_TRUE(KillTimer(hwnd, 7));
  EXPECT_FALSE(KillTimer(hwnd, 7));
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 60, QS_ALLINPUT), WAIT_TIMEOUT);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  // A due timer is reported after posted messages and survives a non-removing look.
  ASSERT_EQ(SetTimer(hwnd, 3, 10, nullptr), 3u);
  Sleep(30);
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1u);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  // Destroying the window ends its timers.
  DestroyWindow(hwnd);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 40, QS_ALLINPUT), WAIT_TIMEOUT);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, ThreadMessagesQuitAndWaitsOnHandles) {
  HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD main = GetCurrentThreadId();
  std::thread t([&] {
    EXPECT_TRUE(PostThreadMessageA(main, WM_USER + 20, 1, 2));
    EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0, WM_USER, 0, 0));
  });
  t.join();
  MSG m;
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 1000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_EQ(m.message, WM_USER + 20u);
  std::thread setter([&] { SetEvent(ev); });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 1000, QS_ALLINPUT), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // auto-reset: consumed
  PostQuitMessage(3);
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  CloseHandle(ev);
}

TEST_F(Messages, TerminationSignalsBecomeEndSession) {
  ASSERT_TRUE(vtx::messages::RouteEndSessionSignals(hwnd));
  raise(SIGTERM);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, WM_ENDSESSION);
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_FALSE(vtx::sync::StopRequested()) << "waits are not stopped unless asked";
  ASSERT_TRUE(vtx::messages::RouteEndSessionSignals(nullptr));
}

// A program that reloads on SIGHUP gets its own message for it; one that asks for it has its
// waits stopped by SIGTERM before the end of the session arrives.
TEST_F(Messages, HangUpCanReloadAndTerminationCanStopTheWaits) {
  constexpr UINT kReload = WM_USER + 7;
  ASSERT_TRUE(vtx::messages::RouteEndSessionSignals(hwnd, kReload, true));
  raise(SIGHUP);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, kReload);
  EXPECT_FALSE(vtx::sync::StopRequested());
  raise(SIGTERM);
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, WM_ENDSESSION);
  EXPECT_TRUE(vtx::sync::StopRequested());
  vtx::sync::ClearStop();
  ASSERT_TRUE(vtx::messages::RouteEndSessionSignals(nullptr));
}

}  // namespace
