#include "platform/sync.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "tests/support/text.h"

extern char** environ;

namespace {

class Sync : public ::testing::Test {
 protected:
  void SetUp() override { setenv("VANTREX_RUNTIME_DIR", dir.path().c_str(), 1); }
  vtxtest::TempDir dir;
};

TEST_F(Sync, EventsSemaphoresAndThreads) {
  HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays set
  ResetEvent(manual);
  uint64_t t0 = vtx::sync::NowMs();
  EXPECT_EQ(WaitForSingleObject(manual, 50), WAIT_TIMEOUT);
  EXPECT_GE(vtx::sync::NowMs() - t0, 45u);

  HANDLE sem = CreateSemaphoreA(nullptr, 1, 2, nullptr);
  LONG prev = -1;
  EXPECT_TRUE(ReleaseSemaphore(sem, 1, &prev));
  EXPECT_EQ(prev, 1);
  EXPECT_FALSE(ReleaseSemaphore(sem, 1, nullptr));  // above the maximum
  EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);

  HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  struct Ctx {
    HANDLE go;
    DWORD seenId;
  } ctx{go, 0};
  DWORD tid = 0;
  HANDLE th = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* c = static_cast<Ctx*>(p);
        c->seenId = GetCurrentThreadId();
        WaitForSingleObject(c->go, INFINITE);
        return 42;
      },
      &ctx, 0, &tid);
  ASSERT_NE(th, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  HANDLE both[2] = {manual, th};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 30), WAIT_TIMEOUT);
  SetEvent(go);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(ctx.seenId, tid);
  EXPECT_NE(tid, GetCurrentThreadId());

  for (HANDLE h : {manual, sem, go, th}) EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
}

TEST_F(Sync, NamedMutexIsRecursivePerThreadAndAbandonedByItsThread) {
  HANDLE m = CreateMutexA(nullptr, FALSE, "VtxTest_Mutex");
  ASSERT_NE(m, nullptr);
  HANDLE again = CreateMutexA(nullptr, FALSE, "VtxTest_Mutex");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0);  // same mutex, same thread
  EXPECT_TRUE(ReleaseMutex(m));
  DWORD other = 0;
  std::thread([&] {
    other = WaitForSingleObject(m, 30);
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  }).join();
  EXPECT_EQ(other, WAIT_TIMEOUT);  // still held once
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));

  std::thread([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0); }).join();  // ends holding it
  EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(m));

  HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, "VtxTest_Mutex");
  EXPECT_NE(opened, nullptr);
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "VtxTest_Nobody"), nullptr);
  for (HANDLE h : {m, again, opened}) CloseHandle(h);
}

// Runs this test program again as a child that takes the mutex, says so on its stdout, and on a
// byte from its stdin either releases it ("release") or dies holding it ("die").
struct Child {
  pid_t pid = -1;
  int toChild = -1, fromChild = -1;
  explicit Child(const char* mode) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    setenv("VTX_MUTEX_CHILD", mode, 1);
    std::string self = "/proc/self/exe";
    char filter[] = "--gtest_filter=MutexChild.Run";
    char* argv[] = {self.data(), filter, nullptr};
    posix_spawn(&pid, self.c_str(), &fa, nullptr, argv, environ);
    unsetenv("VTX_MUTEX_CHILD");
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    toChild = in[1];
    fromChild = out[0];
  }
  bool WaitHeld() {
    // The child's gtest output shares the pipe; the marker line is what counts.
    std::string seen;
    char c;
    while (read(fromChild, &c, 1) == 1) {
      seen.push_back(c);
      if (seen.find("HELD\n") != std::string::npos) return true;
    }
    return false;
  }
  int Finish() {
    if (write(toChild, "x", 1) != 1) {
    }
    close(toChild);
    close(fromChild);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }
};

// The runtime folder is made with its missing parents, closed to others; the lock files in it are
// for the product's accounts, and a link in a lock file's place is not followed.
TEST_F(Sync, RuntimeFolderAndLockFilesAreTheProducts) {
  std::string runtime = dir / "a/b/run";
  setenv("VANTREX_RUNTIME_DIR", runtime.c_str(), 1);
  mode_t old = umask(0);
  HANDLE m = CreateMutexA(nullptr, FALSE, "VtxTest_Modes");
  umask(old);
  ASSERT_NE(m, nullptr);
  struct stat st;
  for (const std::string& folder : {dir / "a", dir / "a/b", runtime}) {
    ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mode & 0777, 0750u) << folder;
  }
  ASSERT_EQ(stat((runtime + "/locks").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0770u);
  ASSERT_EQ(stat((runtime + "/locks/VtxTest_Modes").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  CloseHandle(m);

  std::string target = dir / "target";
  ASSERT_EQ(symlink(target.c_str(), (runtime + "/locks/VtxTest_Link").c_str()), 0);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, "VtxTest_Link"), nullptr);
  EXPECT_NE(access(target.c_str(), F_OK), 0);
}

TEST(MutexChild, Run) {
  const char* mode = std::getenv("VTX_MUTEX_CHILD");
  if (!mode) GTEST_SKIP() << "only runs as the child of the cross-process test";
  HANDLE m = CreateMutexA(nullptr, FALSE, "VtxTest_Shared");
  ASSERT_EQ(WaitForSingleObject(m, 5000), WAIT_OBJECT_0);
  if (write(1, "HELD\n", 5) != 5) _exit(3);
  char c;
  if (read(0, &c, 1) != 1) _exit(4);
  if (std::string(mode) == "die") _exit(0);
  ReleaseMutex(m);
  CloseHandle(m);
}

TEST_F(Sync, NamedMutexAcrossProcessesAndItsAbandonment) {
  HANDLE m = CreateMutexA(nullptr, FALSE, "VtxTest_Shared");
  ASSERT_NE(m, nullptr);
  {
    Child child("release");
    ASSERT_TRUE(child.WaitHeld());
    EXPECT_EQ(WaitForSingleObject(m, 50), WAIT_TIMEOUT);
    // Waiting in a worker, released by the child: a normal acquisition.
    DWORD r = 0;
    std::thread waiter([&] {
      r = WaitForSingleObject(m, 10000);
      ReleaseMutex(m);
    });
    Sleep(20);
    EXPECT_EQ(WEXITSTATUS(child.Finish()), 0);
    waiter.join();
    EXPECT_EQ(r, WAIT_OBJECT_0);
  }
  {
    Child child("die");
    ASSERT_TRUE(child.WaitHeld());
    child.Finish();
    EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
  }
  CloseHandle(m);
}

}  // namespace
