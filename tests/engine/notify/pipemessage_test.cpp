#include "engine/notify/pipemessage.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/notify/reachserver.h"
#include "platform/errors.h"
#include "platform/native/productpaths.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace {

constexpr char kPipe[] = "\\\\.\\pipe\\VtxTestPipe";

struct Seen {
  DWORD msg;
  WPARAM wParam;
  DWORD dwData;
  DWORD cbData;
  bool dataNull;
  std::string data;
};

std::mutex g_lock;
std::vector<Seen> g_seen;

DWORD Handler(DWORD_PTR context, DWORD msg, WPARAM wParam, LPARAM lParam) {
  Seen s{msg, wParam, 0, 0, true, ""};
  if (msg == WM_COPYDATA) {
    auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    s.dwData = static_cast<DWORD>(cds->dwData);
    s.cbData = cds->cbData;
    s.dataNull = cds->lpData == nullptr;
    if (cds->lpData) s.data.assign(static_cast<const char*>(cds->lpData), cds->cbData);
  }
  if (msg == WM_USER + 50) Sleep(100);  // a slow request
  std::lock_guard<std::mutex> l(g_lock);
  g_seen.push_back(s);
  return static_cast<DWORD>(context) + msg;
}

// A pipe server on its own thread, serving until told to stop.
class Pipes : public ::testing::Test {
 protected:
  void SetUp() override { g_seen.clear(); }
  void TearDown() override { StopServer(); }
  void StartServer() {
    ASSERT_EQ(server.Create(kPipe), S_OK);
    stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = std::thread([this] {
      HANDLE handles[2] = {server.GetEvent(), stop};
      for (;;) {
        DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (r != WAIT_OBJECT_0) break;
        results.push_back(server.ServeRequest(1000, Handler));
      }
    });
  }
  void StopServer() {
    if (!thread.joinable()) return;
    SetEvent(stop);
    thread.join();
    CloseHandle(stop);
    server.Close();
  }
  std::vector<Seen> SeenList() {
    std::lock_guard<std::mutex> l(g_lock);
    return g_seen;
  }
  // Writes raw bytes and reads the reply word, as a foreign client would.
  DWORD Raw(const std::string& bytes, bool closeWrite) {
    int fd = -1;
    EXPECT_EQ(vtx::pipes::Connect(kPipe, vtx::sync::DeadlineAfter(2000), &fd), 0u);
    EXPECT_EQ(vtx::pipes::WriteAll(fd, bytes.data(), bytes.size(), vtx::sync::DeadlineAfter(2000)), 0u);
    if (closeWrite) shutdown(fd, SHUT_WR);
    DWORD reply = 0xDEADBEEF;
    size_t got = 0;
    vtx::pipes::ReadAll(fd, &reply, 4, vtx::sync::DeadlineAfter(5000), &got);
    close(fd);
    return got == 4 ? reply : 0xDEADBEEF;
  }
  static std::string U32(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

  vtxtest::TempDir dir;
  vtxtest::ScopedEnv runtime{vtx::env::kRuntimeDir, dir.path()};
  CPipeMessageServer server;
  std::thread thread;
  HANDLE stop = nullptr;
  std::vector<HRESULT> results;
};

TEST_F(Pipes, RequestsAndCopyDataReachTheHandler) {
  StartServer();
  EXPECT_TRUE(CPipeMessageClient::PipeExists(kPipe));
  CPipeMessageClient client;
  DWORD reply = 0;
  EXPECT_EQ(client.SendMessageA(kPipe, WM_USER + 1, 7, 9, &reply), S_OK);
  EXPECT_EQ(reply, 1000u + WM_USER + 1);

  std::string payload("hello\0world", 11);
  COPYDATASTRUCT cds{0x8069, static_cast<DWORD>(payload.size()), payload.data()};
  EXPECT_EQ(client.SendMessageTimeoutA(kPipe, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), 5000, &reply), S_OK);
  COPYDATASTRUCT empty{0x8073, 0, nullptr};
  EXPECT_EQ(client.SendMessageA(kPipe, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty), &reply), S_OK);
  COPYDATASTRUCT sizeWithoutData{0x8074, 5, nullptr};  // sent with cbData 0, no stray bytes
  EXPECT_EQ(client.SendMessageA(kPipe, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&sizeWithoutData), &reply), S_OK);
  EXPECT_EQ(client.SendMessageA(kPipe, WM_COPYDATA, 0, 0, &reply), E_POINTER);

  auto seen = SeenList();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].wParam, 7u);
  EXPECT_EQ(seen[1].dwData, 0x8069u);
  EXPECT_EQ(seen[1].data, payload);
  EXPECT_EQ(seen[2].cbData, 0u);
  EXPECT_TRUE(seen[2].dataNull);
  EXPECT_EQ(seen[3].dwData, 0x8074u);
  EXPECT_EQ(seen[3].cbData, 0u);
  EXPECT_TRUE(seen[3].dataNull);
}

TEST_F(Pipes, NoServerTimeoutsAndBusyPipes) {
  CPipeMessageClient client;
  DWORD reply = 99;
  EXPECT_EQ(client.SendMessageA(kPipe, WM_USER, 0, 0, &reply), 0x80070002u);
  EXPECT_EQ(reply, 0u);
  EXPECT_FALSE(CPipeMessageClient::PipeExists(kPipe));
  EXPECT_EQ(SendVXVMessage(0x806F, 0, 0, &reply), E_SERVER_UNAVAILABLE);
  EXPECT_FALSE(CanSendVXVMessages());

  // A server that never serves: the whole call ends at its time-out.
  ASSERT_EQ(server.Create(kPipe), S_OK);
  uint64_t t0 = vtx::sync::NowMs();
  reply = 99;
  EXPECT_EQ(client.SendMessageTimeoutA(kPipe, WM_USER, 0, 0, 300, &reply), E_TIMEOUT);
  EXPECT_EQ(reply, 0u);
  uint64_t took = vtx::sync::NowMs() - t0;
  EXPECT_GE(took, 290u);
  EXPECT_LT(took, 3000u);
  // When the server comes to it, the request is there but its sender is gone: it is not served,
  // since its sender was told it failed.
  EXPECT_EQ(WaitForSingleObject(server.GetEvent(), 0), WAIT_OBJECT_0);
  bool served = false;
  EXPECT_EQ(server.ServeRequest(reinterpret_cast<DWORD_PTR>(&served),
                                [](DWORD_PTR served, DWORD, WPARAM, LPARAM) -> DWORD {
                                  *reinterpret_cast<bool*>(served) = true;
                                  return 0;
                                }),
            HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE));
  EXPECT_FALSE(served);

  // Only one process (here: one listener) serves a pipe name.
  CPipeMessageServer second;
  EXPECT_EQ(second.Create(kPipe), HRESULT_FROM_WIN32(ERROR_PIPE_BUSY));
  server.Close();
  EXPECT_FALSE(CPipeMessageClient::PipeExists(kPipe));
}

// A program that stops gives up a request to a server that does not answer, long before its time-out.
TEST_F(Pipes, AStopEndsARequestAtOnce) {
  ASSERT_EQ(server.Create(kPipe), S_OK);
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    vtx::sync::RequestStop();
  });
  CPipeMessageClient client;
  DWORD reply = 99;
  uint64_t t0 = vtx::sync::NowMs();
  HRESULT hr = client.SendMessageTimeoutA(kPipe, WM_USER, 0, 0, 30000, &reply);
  uint64_t took = vtx::sync::NowMs() - t0;
  stopper.join();
  vtx::sync::ClearStop();
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED));
  EXPECT_LT(took, 10000u);
  server.Close();
}

TEST_F(Pipes, StaleSocketFileIsReplacedAndTheSocketIsNotOpenToOthers) {
  std::ofstream(dir / "VtxTestPipe") << "left behind";
  StartServer();
  struct stat st;
  ASSERT_EQ(stat((dir / "VtxTestPipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  CPipeMessageClient client;
  DWORD reply = 0;
  EXPECT_EQ(client.SendMessageA(kPipe, WM_USER, 0, 0, &reply), S_OK);
  EXPECT_EQ(vtx::pipes::SocketPath("\\\\.\\pipe\\a/b"), "");
  EXPECT_EQ(vtx::pipes::SocketPath("/tmp/x"), "");
  EXPECT_EQ(vtx::pipes::SocketPath("\\\\.\\PIPE\\Name"), dir / "Name");
}

// A desktop program's own socket, named by its absolute path, is its user's alone: no group is
// asked for, so an account outside the product's group serves one as well.
TEST_F(Pipes, APersonalSocketIsItsUsersAlone) {
  std::string path = dir / "own/Manager";
  CPipeMessageServer own;
  ASSERT_EQ(own.Create(path.c_str()), S_OK);
  for (const std::string& file : {path, path + ".lock"}) {
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    EXPECT_EQ(st.st_gid, getegid()) << file;
  }
  EXPECT_TRUE(CPipeMessageClient::PipeExists(path.c_str()));
  own.Close();
}

TEST_F(Pipes, MalformedRequestsAreRefusedWithoutTheHandler) {
  StartServer();
  std::string head = U32(WM_COPYDATA) + U32(0) + U32(0);
  // Data larger than the cap: refused unread.
  EXPECT_EQ(Raw(head + U32(0x8069) + U32(2u << 20) + U32(0), false), E_INVALIDDATA);
  // Fewer data bytes than announced.
  EXPECT_EQ(Raw(head + U32(0x8069) + U32(100) + U32(0) + "only ten b", true), E_INVALIDDATA);
  EXPECT_TRUE(SeenList().empty());
  // Half a head: no reply, and the server goes on.
  EXPECT_EQ(Raw(U32(0x806F), true), 0xDEADBEEFu);
  EXPECT_EQ(Raw(U32(WM_USER) + U32(0) + U32(0), false), 1000u + WM_USER);
}

TEST_F(Pipes, SilentClientDoesNotHoldTheServer) {
  StartServer();
  int silent = -1;
  ASSERT_EQ(vtx::pipes::Connect(kPipe, vtx::sync::DeadlineAfter(1000), &silent), 0u);
  CPipeMessageClient client;
  DWORD reply = 0;
  EXPECT_EQ(client.SendMessageTimeoutA(kPipe, WM_USER + 2, 0, 0, 10000, &reply), S_OK);
  EXPECT_EQ(reply, 1000u + WM_USER + 2);
  close(silent);
}

// Silent clients hold connections without delaying anyone: a ping is answered while a thousand of
// them are open, a slow client's request is put together from its pieces, and a silent connection
// is ended once its deadline for the whole request has passed.
TEST_F(Pipes, SilentAndSlowClientsDelayNobody) {
  StartServer();
  std::vector<int> silent;
  for (int i = 0; i < 1000; ++i) {
    int fd = -1;
    ASSERT_EQ(vtx::pipes::Connect(kPipe, vtx::sync::DeadlineAfter(5000), &fd), 0u) << i;
    silent.push_back(fd);
  }
  int slow = -1;
  ASSERT_EQ(vtx::pipes::Connect(kPipe, vtx::sync::DeadlineAfter(5000), &slow), 0u);
  std::string request = U32(WM_USER + 4) + U32(0) + U32(0);
  ASSERT_EQ(vtx::pipes::WriteAll(slow, request.data(), 5, vtx::sync::DeadlineAfter(1000)), 0u);

  CPipeMessageClient client;
  for (int i = 0; i < 3; ++i) {
    DWORD reply = 0;
    EXPECT_EQ(client.SendMessageTimeoutA(kPipe, 0x806F, 0, 0, 2000, &reply), S_OK);
    EXPECT_EQ(reply, 1000u + 0x806F);
  }
  ASSERT_EQ(vtx::pipes::WriteAll(slow, request.data() + 5, request.size() - 5, vtx::sync::DeadlineAfter(1000)), 0u);
  DWORD reply = 0;
  size_t got = 0;
  EXPECT_EQ(vtx::pipes::ReadAll(slow, &reply, 4, vtx::sync::DeadlineAfter(2000), &got), 0u);
  EXPECT_EQ(reply, 1000u + WM_USER + 4);
  close(slow);

  // The silent ones are ended by the server (their reads see the end) after their deadline.
  char byte;
  EXPECT_EQ(vtx::pipes::ReadAll(silent.front(), &byte, 1, vtx::sync::DeadlineAfter(10000), &got),
            static_cast<DWORD>(ERROR_BROKEN_PIPE));
  for (int fd : silent) close(fd);
  for (const Seen& s : SeenList()) EXPECT_TRUE(s.msg == 0x806F || s.msg == WM_USER + 4u) << s.msg;
}

TEST_F(Pipes, ConcurrentClientsAreAllServedOneAtATime) {
  StartServer();
  std::vector<std::thread> clients;
  std::atomic<int> ok{0};
  for (int i = 0; i < 6; ++i)
    clients.emplace_back([&, i] {
      CPipeMessageClient client;
      DWORD reply = 0;
      UINT msg = i % 2 ? WM_USER + 50 : WM_USER + 3;
      if (client.SendMessageTimeoutA(kPipe, msg, i, 0, 20000, &reply) == S_OK && reply == 1000u + msg) ++ok;
    });
  for (auto& t : clients) t.join();
  EXPECT_EQ(ok, 6);
  EXPECT_EQ(SeenList().size(), 6u);
}

TEST(PipeRequestReader, ReadsWhatArrived) {
  auto u32 = [](DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  struct Case {
    std::string bytes;
    HRESULT hr;
  } cases[] = {
      {u32(0x806F) + u32(1) + u32(2), S_OK},
      {u32(0x806F) + u32(1), E_UNEXPECTED},
      {u32(WM_COPYDATA) + u32(0) + u32(0) + u32(5) + u32(3) + u32(0) + "abc", S_OK},
      {u32(WM_COPYDATA) + u32(0) + u32(0) + u32(5) + u32(3) + u32(0) + "ab", E_INVALIDDATA},
      {u32(WM_COPYDATA) + u32(0) + u32(0) + u32(5), E_UNEXPECTED},
      {u32(WM_COPYDATA) + u32(0) + u32(0) + u32(5) + u32(kPipeMaxData + 1) + u32(0), E_INVALIDDATA},
  };
  for (const Case& c : cases) {
    PipeRequest r;
    EXPECT_EQ(ReadPipeRequest(c.bytes.data(), c.bytes.size(), r), c.hr);
    if (c.hr == S_OK && r.hasData) {
      EXPECT_EQ(std::string(static_cast<char*>(r.cds.lpData), r.cds.cbData), "abc");
    }
    FreePipeRequest(r);
  }
}

}  // namespace
