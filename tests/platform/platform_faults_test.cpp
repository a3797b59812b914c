// The platform's pipes and program starts with each of their system calls failing in turn: a
// failure is reported with its code, and nothing opened or made for it stays behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "platform/errors.h"
#include "platform/native/productpaths.h"
#include "platform/pipes.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/iofaults.h"

namespace {

const std::string kPipe = "\\\\.\\pipe\\faults";
const HRESULT kFromEio = HRESULT_FROM_WIN32(vtx::Win32FromErrno(EIO));

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

class PlatformFaults : public ::testing::Test {
 protected:
  vtxtest::TempDir dir_;
  vtxtest::ScopedEnv runtime_{vtx::env::kRuntimeDir, dir_.path()};
  std::set<int> before_;
};

struct Listening {
  DWORD error = ERROR_SUCCESS;
  std::shared_ptr<void> server;
};

size_t WholeAsSent(const unsigned char*, size_t size) { return size; }

// A pipe's listener, alone or with a request server's reading thread around it.
TEST_F(PlatformFaults, AListenerIsMadeWholeOrNotAtAll) {
  const std::string socket = vtx::pipes::SocketPath(kPipe.c_str());
  struct Case {
    const char* name;
    std::function<Listening()> create;
    size_t descriptors;  // held while it listens
    std::set<std::string> calls;  // among those made to fail
  } cases[] = {
      {"a listener",
       [] {
         auto l = std::make_shared<vtx::pipes::Listener>();
         return Listening{l->Create(kPipe.c_str()), l};
       },
       2, {"open", "flock", "socket", "bind", "listen", "rename"}},
      {"a request server",
       [] {
         auto r = std::make_shared<vtx::pipes::RequestServer>();
         return Listening{r->Create(kPipe.c_str(), WholeAsSent, 1000), r};
       },
       5, {"getrlimit", "socket", "epoll_create1", "eventfd", "epoll_ctl"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::set<std::string> failed;
    vtxtest::WalkIoFaults<Listening>(
        [&] { before_ = vtxtest::OpenDescriptors(); }, k.create,
        [&](const vtxtest::IoFault& fault, const Listening& made) {
          failed.insert(fault.call);
          EXPECT_FALSE(Exists(socket + ".new")) << "the socket's temporary name stays behind";
          if (made.error == ERROR_SUCCESS) {
            EXPECT_EQ(vtxtest::OpenDescriptors().size(), before_.size() + k.descriptors);
            int fd = -1;
            EXPECT_EQ(vtx::pipes::Connect(kPipe.c_str(), vtx::sync::DeadlineAfter(2000), &fd), 0u);
            if (fd >= 0) close(fd);
            return;
          }
          EXPECT_FALSE(fault.call.empty()) << "fails only when made to";
          EXPECT_EQ(vtxtest::OpenDescriptors(), before_) << "a descriptor of the failed listener stays open";
          EXPECT_FALSE(Exists(socket)) << "a socket that nobody serves";
        });
    for (const std::string& call : k.calls) EXPECT_EQ(failed.count(call), 1u) << call << " was never made to fail";
  }
}

TEST_F(PlatformFaults, AClientThatCannotConnectHoldsNothing) {
  vtx::pipes::Listener listener;
  ASSERT_EQ(listener.Create(kPipe.c_str()), 0u);
  struct Connected {
    DWORD error;
    int fd;
  };
  std::set<std::string> failed;
  vtxtest::WalkIoFaults<Connected>(
      [&] { before_ = vtxtest::OpenDescriptors(); },
      [&] {
        Connected c{ERROR_SUCCESS, -1};
        c.error = vtx::pipes::Connect(kPipe.c_str(), vtx::sync::DeadlineAfter(2000), &c.fd);
        return c;
      },
      [&](const vtxtest::IoFault& fault, const Connected& c) {
        failed.insert(fault.call);
        if (c.error == ERROR_SUCCESS) {
          EXPECT_GE(c.fd, 0);
          int accepted = listener.Accept();
          EXPECT_GE(accepted, 0) << "the server sees the client";
          close(accepted);
          close(c.fd);
        } else {
          EXPECT_FALSE(fault.call.empty());
          EXPECT_EQ(c.error, vtx::Win32FromErrno(EIO)) << fault.call;
          EXPECT_EQ(c.fd, -1);
        }
        EXPECT_EQ(vtxtest::OpenDescriptors(), before_);
      });
  EXPECT_EQ(failed, (std::set<std::string>{"socket", "connect", ""}));
}

struct Created {
  HANDLE handle;
  DWORD error;
};

// A new named mutex that its creator is to own: owned (its lock file locked) when it is there.
TEST_F(PlatformFaults, ANamedMutexIsOwnedOrNotThere) {
  const std::string file = dir_ / "locks/faults";
  std::set<std::string> failed;
  vtxtest::WalkIoFaults<Created>(
      [&] {
        unlink(file.c_str());
        before_ = vtxtest::OpenDescriptors();
      },
      [] {
        HANDLE h = CreateMutexA(nullptr, TRUE, "Local\\faults");
        return Created{h, GetLastError()};
      },
      [&](const vtxtest::IoFault& fault, const Created& c) {
        failed.insert(fault.call);
        if (c.handle) {
          EXPECT_EQ(c.error, 0u);
          int other = open(file.c_str(), O_RDWR | O_CLOEXEC);
          EXPECT_TRUE(other >= 0 && flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
              << "a mutex reported as owned whose lock file nobody holds";
          close(other);
          EXPECT_TRUE(ReleaseMutex(c.handle));
          EXPECT_TRUE(CloseHandle(c.handle));
        } else {
          EXPECT_FALSE(fault.call.empty());
          EXPECT_NE(c.error, 0u);
        }
        EXPECT_EQ(vtxtest::OpenDescriptors(), before_);
      });
  for (const char* call : {"open", "flock", "pwrite"}) EXPECT_EQ(failed.count(call), 1u) << call;
}

struct Started {
  HRESULT hr = E_FAIL;
  std::unique_ptr<vtx::ChildProcess> child;
};

// A program started by spawning it, and one started under another account through a fork of our
// own (root's, as the messenger's is).
TEST_F(PlatformFaults, AProgramThatCannotStartLeavesNoDescriptorNorChild) {
  ASSERT_EQ(geteuid(), 0u) << "starting a program under another account is root's";
  passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const uid_t other = nobody->pw_uid;
  struct Case {
    const char* name;
    std::function<HRESULT(vtx::ChildProcess&)> start;
    std::set<std::string> calls;  // among those made to fail
  } cases[] = {
      {"spawned", [](vtx::ChildProcess& c) { return c.Start({"/bin/true", {}, ""}); }, {"posix_spawn", "pidfd_open"}},
      {"under another account", [other](vtx::ChildProcess& c) { return c.StartAsUid({"/bin/true", {}, ""}, other); },
       {"getpwuid_r", "pipe2", "fork", "read", "pidfd_open"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::set<std::string> failed;
    vtxtest::WalkIoFaults<Started>(
        [&] { before_ = vtxtest::OpenDescriptors(); },
        [&] {
          Started s{E_FAIL, std::make_unique<vtx::ChildProcess>()};
          s.hr = k.start(*s.child);
          return s;
        },
        [&](const vtxtest::IoFault& fault, const Started& s) {
        failed.insert(fault.call);
          if (SUCCEEDED(s.hr)) {
            DWORD code = E_FAIL;
            EXPECT_EQ(s.child->Wait(10000, &code), S_OK);
            EXPECT_EQ(code, 0u) << "the program ran";
          } else {
            EXPECT_FALSE(fault.call.empty());
            bool account = fault.call == "getpwuid_r" || fault.call == "getgrouplist";
            EXPECT_EQ(s.hr, account ? HRESULT_FROM_WIN32(ERROR_NO_SUCH_USER) : kFromEio) << fault.call;
            EXPECT_EQ(vtxtest::OpenDescriptors(), before_);
          }
          int status;
          EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "a child of the failed start was left";
        });
    for (const std::string& call : k.calls) EXPECT_EQ(failed.count(call), 1u) << call << " was never made to fail";
  }
}

}  // namespace
