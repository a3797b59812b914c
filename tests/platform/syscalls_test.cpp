#include "platform/native/syscalls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/native/files.h"
#include "tests/support/files.h"
#include "tests/support/iofaults.h"

namespace faults = vtx::sys::faults;
using vtxtest::TempDir;

namespace {

// Disarms the faults whatever a test left armed.
class Seam : public ::testing::Test {
 protected:
  void TearDown() override { faults::FailCall(-1, 0); }
};

int g_unlinks = 0;
int CountingUnlink(const char*) {
  ++g_unlinks;
  errno = EROFS;
  return -1;
}

TEST_F(Seam, ATableEntryCanBeReplacedAndPutBack) {
  TempDir dir;
  std::string file = dir / "file";
  ASSERT_TRUE(vtxtest::WriteFile(file, "x"));
  auto original = vtx::sys::Calls().unlink;
  vtx::sys::Calls().unlink = CountingUnlink;
  errno = 0;
  EXPECT_EQ(vtx::sys::Unlink(file.c_str()), -1);
  EXPECT_EQ(errno, EROFS);
  EXPECT_EQ(g_unlinks, 1);
  EXPECT_EQ(access(file.c_str(), F_OK), 0);
  vtx::sys::Calls().unlink = original;
  EXPECT_EQ(vtx::sys::Unlink(file.c_str()), 0);
  EXPECT_EQ(g_unlinks, 1);
  EXPECT_NE(access(file.c_str(), F_OK), 0);
}

TEST_F(Seam, TheNthCountedCallFailsWithItsErrorOnTheArmingThreadOnly) {
  TempDir dir;
  struct stat st;
  faults::FailCall(2, ENOSPC);
  // Another thread's calls, the clock, the environment and our own ids do not move the count.
  std::thread other([&] {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(vtx::sys::Stat(dir.path().c_str(), &st), 0);
  });
  other.join();
  timespec now;
  vtx::sys::ClockGettime(CLOCK_MONOTONIC, &now);
  vtx::sys::Getenv("HOME");
  vtx::sys::Getpid();
  vtx::sys::Geteuid();
  EXPECT_EQ(faults::Counted(), 0);
  EXPECT_EQ(vtx::sys::Stat(dir.path().c_str(), &st), 0);
  EXPECT_EQ(vtx::sys::Access(dir.path().c_str(), F_OK), 0);
  EXPECT_FALSE(faults::Hit());
  errno = 0;
  EXPECT_EQ(vtx::sys::Mkdir((dir / "sub").c_str(), 0700), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_TRUE(faults::Hit());
  EXPECT_STREQ(faults::HitName(), "mkdir");
  // Not sticky: the calls after it work again, and nothing was made by the failed one.
  EXPECT_NE(vtx::sys::Stat((dir / "sub").c_str(), &st), 0);
  EXPECT_EQ(vtx::sys::Mkdir((dir / "sub").c_str(), 0700), 0);
  EXPECT_EQ(faults::Counted(), 5);
  faults::FailCall(-1, 0);
  EXPECT_FALSE(faults::Hit());
}

TEST_F(Seam, AStickyFaultFailsEveryCallFromItsOwnOn) {
  TempDir dir;
  struct stat st;
  faults::FailCall(1, EIO, faults::Kind::kError, true);
  EXPECT_EQ(vtx::sys::Stat(dir.path().c_str(), &st), 0);
  for (int i = 0; i < 3; ++i) {
    errno = 0;
    EXPECT_EQ(vtx::sys::Stat(dir.path().c_str(), &st), -1);
    EXPECT_EQ(errno, EIO);
  }
  EXPECT_STREQ(faults::HitName(), "stat");
  faults::FailCall(-1, 0);
  EXPECT_EQ(vtx::sys::Stat(dir.path().c_str(), &st), 0);
}

TEST_F(Seam, AShortFaultMovesHalfTheBytesAndCountsOnlyReadsAndWrites) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  vtx::ScopedFd in(fds[0]), out(fds[1]);
  struct stat st;
  faults::FailCall(1, 0, faults::Kind::kShort);
  EXPECT_EQ(vtx::sys::Fstat(out.Get(), &st), 0);  // not counted
  EXPECT_EQ(vtx::sys::Write(out.Get(), "0123456789", 10), 10);
  EXPECT_EQ(vtx::sys::Write(out.Get(), "abcdefghij", 10), 5);
  EXPECT_STREQ(faults::HitName(), "write");
  EXPECT_EQ(vtx::sys::Write(out.Get(), "z", 1), 1);
  char buffer[32] = {};
  faults::FailCall(0, 0, faults::Kind::kShort);
  EXPECT_EQ(vtx::sys::Read(in.Get(), buffer, 16), 8);
  EXPECT_EQ(std::string(buffer, 8), "01234567");
  // One byte is still moved when one is asked for.
  faults::FailCall(0, 0, faults::Kind::kShort);
  EXPECT_EQ(vtx::sys::Read(in.Get(), buffer, 1), 1);
  EXPECT_EQ(buffer[0], '8');
  // The whole-buffer helpers go on until everything is moved.
  faults::FailCall(0, 0, faults::Kind::kShort, true);
  size_t got = 0;
  EXPECT_EQ(vtx::ReadFully(in.Get(), buffer, 7, &got), S_OK);
  EXPECT_EQ(std::string(buffer, got), "9abcdez");
}

TEST_F(Seam, ACloseMadeToFailStillCloses) {
  TempDir dir;
  int fd = vtx::sys::Open((dir / "file").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  faults::FailCall(0, EIO);
  errno = 0;
  EXPECT_EQ(vtx::sys::Close(fd), -1);
  EXPECT_EQ(errno, EIO);
  faults::FailCall(-1, 0);
  errno = 0;
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  // The holder reports it, and lets go of the descriptor as well.
  vtx::ScopedFd held(vtx::sys::Open((dir / "file").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(held);
  int number = held.Get();
  faults::FailCall(0, EIO);
  EXPECT_EQ(held.Close(), HRESULT_FROM_WIN32(ERROR_READ_FAULT));
  faults::FailCall(-1, 0);
  EXPECT_FALSE(held);
  EXPECT_EQ(fcntl(number, F_GETFD), -1);
}

// A lock's release is never made to fail, nor counted; taking the lock is.
TEST_F(Seam, ALockIsReleasedWhateverTheFaults) {
  TempDir dir;
  vtx::ScopedFd fd(vtx::sys::Open((dir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(fd);
  struct flock record = {};
  record.l_type = F_WRLCK;
  record.l_whence = SEEK_SET;
  record.l_len = 1;
  faults::FailCall(0, EIO, faults::Kind::kError, true);
  EXPECT_EQ(vtx::sys::Flock(fd.Get(), LOCK_EX | LOCK_NB), -1);
  EXPECT_EQ(vtx::sys::Fcntl(fd.Get(), F_SETLK, &record), -1);
  EXPECT_EQ(faults::Counted(), 2);
  faults::FailCall(-1, 0);
  ASSERT_EQ(vtx::sys::Flock(fd.Get(), LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(vtx::sys::Fcntl(fd.Get(), F_OFD_SETLK, &record), 0);
  faults::FailCall(0, EIO, faults::Kind::kError, true);
  EXPECT_EQ(vtx::sys::Flock(fd.Get(), LOCK_UN), 0);
  record.l_type = F_UNLCK;
  EXPECT_EQ(vtx::sys::Fcntl(fd.Get(), F_OFD_SETLK, &record), 0);
  EXPECT_EQ(faults::Counted(), 0);
  faults::FailCall(-1, 0);
  // Another descriptor of the file now gets both locks.
  vtx::ScopedFd other(vtx::sys::Open((dir / "lock").c_str(), O_RDWR | O_CLOEXEC));
  EXPECT_EQ(flock(other.Get(), LOCK_EX | LOCK_NB), 0);
  record.l_type = F_WRLCK;
  EXPECT_EQ(fcntl(other.Get(), F_OFD_SETLK, &record), 0);
}

// An atomic replace under a fault at each of its calls: the file holds the old contents or (only
// after a success) the new ones with the old mode, no temporary file stays, and a failure carries
// the error that was met.
void WalkReplace(int error, bool sticky, faults::Kind kind) {
  TempDir dir;
  const std::string target = dir / "settings.conf";
  const std::string before = "old contents\n";
  const std::string after(100000, 'n');
  vtxtest::WalkIoFaults<HRESULT>(
      [&] {
        ASSERT_TRUE(vtxtest::WriteFile(target, before));
        ASSERT_EQ(chmod(target.c_str(), 0640), 0);
      },
      [&] { return vtx::WriteFileReplacing(target.c_str(), after.data(), after.size(), 0600); },
      [&](const vtxtest::IoFault& fault, const HRESULT& hr) {
        std::string now = vtxtest::ReadFile(target);
        struct stat st{};
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        if (SUCCEEDED(hr)) {
          EXPECT_EQ(hr, S_OK);
          EXPECT_TRUE(now == after) << "a success without the new contents";
        } else {
          EXPECT_TRUE(now == before) << "a failure that changed the file";
          EXPECT_EQ(hr, HRESULT_FROM_WIN32(vtx::Win32FromErrno(fault.error)));
        }
        if (fault.call.empty()) {
          EXPECT_EQ(hr, S_OK);
        }
        // Under a sticky fault the clean-up's unlink fails as well, and the temporary file stays.
        if (!sticky) {
          EXPECT_EQ(vtxtest::FolderNames(dir.path()), std::vector<std::string>{"settings.conf"});
        }
      },
      error, sticky, kind);
}

TEST_F(Seam, AReplaceLeavesTheOldFileOrTheNewOneUnderEveryFault) {
  {
    SCOPED_TRACE("EIO");
    WalkReplace(EIO, false, faults::Kind::kError);
  }
  {
    SCOPED_TRACE("sticky ENOSPC");
    WalkReplace(ENOSPC, true, faults::Kind::kError);
  }
  {
    SCOPED_TRACE("short reads and writes");
    WalkReplace(0, false, faults::Kind::kShort);
  }
}

}  // namespace
