// Hit counts on their way from the calls to the store: summed in memory, handed to the server in
// the background, written by the server in batches; exact under load and through orderly stops.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/notify/reachserver.h"
#include "tests/support/net.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/wait.h"
#include "tests/webservice/web_fixture.h"

using namespace vtxtest;

namespace {

std::mutex g_lock;
std::map<std::string, uint64_t> g_received;
HRESULT Receive(UINT, WPARAM w, LPARAM l, DWORD, DWORD* result) {
  std::string code;
  for (int i = 0; i < 4; ++i)
    if (char c = static_cast<char>((w >> (8 * i)) & 0xFF)) code += c;
  std::lock_guard<std::mutex> lock(g_lock);
  g_received[code] += l ? static_cast<uint64_t>(l) : 1;
  *result = 1;
  return S_OK;
}

class Hits : public WebTest {
 protected:
  void TearDown() override {
    if (server_ > 0) {
      kill(server_, SIGKILL);
      waitpid(server_, nullptr, 0);
    }
    g_pfnSendVXVMessageTimeout = nullptr;
  }
  // vtxserver in service mode; it has no port, its pipe tells when it serves.
  void StartServer(const std::string& log) {
    const std::string program = Program("vtxserver");
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("/SERVICE"), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_EQ(0, posix_spawn(&server_, argv[0], &fa, nullptr, argv, environ));
    posix_spawn_file_actions_destroy(&fa);
    ASSERT_TRUE(Eventually([] { return CanSendVXVMessages() != 0; }));
  }
  // The server's quit command, and its orderly end.
  void StopServer() {
    DWORD reply = 0;
    ASSERT_EQ(SendVXVMessageTimeout(WM_VX_QUIT, 0, 0, 5000, &reply), S_OK);
    int status = -1;
    ASSERT_EQ(server_, waitpid(server_, &status, 0));
    server_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  static DWORD Stored(const char* code) {
    DWORD n = 0;
    EXPECT_TRUE(GetUnitHits(code, &n));
    return n;
  }
  pid_t server_ = -1;
};

const std::string kCall =
    "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
    "<ConvertToNum xmlns=\"urn:hulvane:vantrex:webservice:4.0/\"><clientKey>k</clientKey>"
    "<fromCurrency>EUR</fromCurrency><toCurrency>usd</toCurrency><amount>2</amount><rounding>true</rounding>"
    "</ConvertToNum></s:Body></s:Envelope>";

}  // namespace

// The background sender hands over everything that was counted before it stopped, whenever the
// stop comes.
TEST_F(Hits, StoppingTheSenderHandsOverWhatIsLeft) {
  g_pfnSendVXVMessageTimeout = Receive;
  g_received.clear();
  StartHitSender();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 5000; ++i) CountHit(i % 2 ? "USD" : "EUR");
    });
  for (auto& t : threads) t.join();
  CountHit("JPY");
  StopHitSender();
  EXPECT_EQ(g_received, (std::map<std::string, uint64_t>{{"EUR", 20000}, {"USD", 20000}, {"JPY", 1}}));
}

// 10,000 calls on 16 connections reach the store exactly, through a real vtxwebservice and a real
// vtxserver; the web service's counts of its last calls arrive because it is stopped in order.
TEST_F(Hits, CountsOfConcurrentCallsArriveExactly) {
  SetString("Resources0409", SourcePath("resources/0409/vantrex.cat").c_str());
  ASSERT_TRUE(SetUnitHits("USD", 5));
  const std::string log = WebDir() / "hits.log";
  StartServer(log);
  const int port = FreePort();
  ServerProcess web;
  ASSERT_EQ(web.Start({Program("vtxwebservice"), "--port", std::to_string(port), "--threads", "8"}, port, log), "");
  ASSERT_EQ(HttpConnection(port).Post("/Vantrex", kCall), 200);

  std::atomic<int> failed{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 16; ++c)
    clients.emplace_back([&] {
      HttpConnection http(port);
      std::string answer;
      for (int i = 0; i < 625; ++i)
        if (http.Post("/Vantrex", kCall, &answer) != 200 || answer.find(">2.5<") == std::string::npos) ++failed;
    });
  for (auto& t : clients) t.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(web.Stop(std::chrono::seconds(10)), 0);
  StopServer();
  // The first call that the service answered counted too; "usd" is counted as the list holds it.
  EXPECT_EQ(Stored("EUR"), 10001u);
  EXPECT_EQ(Stored("USD"), 10001u + 5);
}
