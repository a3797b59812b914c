// The server's command set through its pipe: every input is one request as a client would send it
// (head, then for WM_COPYDATA the data head and the payload), to a running server whose seams are
// the tests' stand-ins (settings in memory, an update thread without data sources). Whatever comes,
// the server answers or drops the request and stays up to answer a ping. Requests that end the
// server are sent as pings.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/notify/pipemessage.h"
#include "fuzz/privatestore.h"
#include "server/app.h"
#include "tests/server/fakes.h"

namespace {

using namespace vtx::server;

class QuietNotifications : public StderrNotifications {
 public:
  using StderrNotifications::StderrNotifications;

 protected:
  void Deliver(const std::string&, const std::string&, UINT) override {}
};

class QuietEvents : public EventLog {
 public:
  void ReportServerEvent(DWORD, WORD, const void*, DWORD) override {}
};

struct Running {
  MemoryStore store;
  BasicScheduler scheduler{store};
  BuiltInResources resources;
  QuietNotifications notifications{scheduler, resources};
  QuietEvents events;
  VxvLink link;
  AppPipe pipe;
  NoInternet internet;
  std::thread thread;

  Running() {
    scheduler.run = [](Settings&) { return S_OK; };
    thread = std::thread([this] {
      RunServer({}, Seams{&store, &scheduler, &notifications, &resources, &events, &link, &pipe, &internet});
      std::abort();  // nothing the fuzzer sends may end the server
    });
    for (int i = 0; i < 2000 && !CPipeMessageClient::PipeExists(g_szAppPipe); ++i) usleep(5000);
    if (!CPipeMessageClient::PipeExists(g_szAppPipe)) std::abort();
  }
};

// Sends the bytes and takes what comes back within the server's own deadline.
bool Exchange(const std::string& request, DWORD* reply) {
  int fd = -1;
  if (vtx::pipes::Connect(g_szAppPipe, vtx::sync::DeadlineAfter(5000), &fd) != 0) return false;
  DWORD e = vtx::pipes::WriteAll(fd, request.data(), request.size(), vtx::sync::DeadlineAfter(5000));
  shutdown(fd, SHUT_WR);  // a request shorter than it says is cut here, not at the deadline
  size_t got = 0;
  if (e == 0) vtx::pipes::ReadAll(fd, reply, 4, vtx::sync::DeadlineAfter(10000), &got);
  close(fd);
  return e == 0 && got == 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Running* server = [] {
    fuzzstore::UsePrivateStore("commands");
    return new Running;
  }();
  if (size > kPipeMaxData + 24 + 64) return 0;
  std::string request(reinterpret_cast<const char*>(data), size);
  if (request.size() >= 4) {
    DWORD msg;
    std::memcpy(&msg, request.data(), 4);
    if (msg == WM_VX_QUIT || msg == WM_VX_EXIT) {
      msg = WM_VX_PING;
      std::memcpy(request.data(), &msg, 4);
    }
  }
  DWORD reply = 0;
  Exchange(request, &reply);
  std::string ping(12, '\0');
  DWORD msg = WM_VX_PING;
  std::memcpy(ping.data(), &msg, 4);
  if (!Exchange(ping, &reply) || reply != 1) std::abort();
  {
    std::lock_guard<std::mutex> l(server->store.lock);
    server->store.imports.clear();
    server->store.exports.clear();
    server->store.hits.clear();
  }
  return 0;
}
