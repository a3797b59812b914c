#include "platform/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on a free port of 127.0.0.1.
class Listener {
 public:
  explicit Listener(int backlog = 8) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, backlog) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
  }
  ~Listener() { close(fd_); }
  uint16_t port() const { return port_; }
  int Accept() { return accept(fd_, nullptr, nullptr); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST(Socket, ConnectFailures) {
  vtx::TcpConnection c;
  uint16_t port;
  {
    Listener closed;  // a port that nobody listens on any more
    port = closed.port();
  }
  EXPECT_EQ(c.Connect("127.0.0.1", port, 2000), static_cast<DWORD>(WSAECONNREFUSED));
  DWORD unknown = c.Connect("no-such-host.invalid", 80, 5000);
  EXPECT_TRUE(unknown == WSAHOST_NOT_FOUND || unknown == WSATRY_AGAIN) << unknown;
  EXPECT_EQ(c.Connect("", 80, 100), static_cast<DWORD>(WSAEINVAL));
  EXPECT_EQ(c.Connect("127.0.0.1", 0, 100), static_cast<DWORD>(WSAEINVAL));
  EXPECT_FALSE(c.IsConnected());
  EXPECT_EQ(c.Send("x", 1, 100), static_cast<DWORD>(WSAENOTCONN));
}

TEST(Socket, ConnectToAServerThatNeverAcceptsTimesOut) {
  // A full accept queue drops further connection requests: the connect waits for an answer.
  Listener full(0);
  std::vector<std::unique_ptr<vtx::TcpConnection>> fillers;
  bool timedOut = false;
  for (int i = 0; i < 8 && !timedOut; ++i) {
    auto c = std::make_unique<vtx::TcpConnection>();
    auto start = Clock::now();
    DWORD e = c->Connect("127.0.0.1", full.port(), 300);
    if (e == WSAETIMEDOUT) {
      timedOut = true;
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
      EXPECT_FALSE(c->IsConnected());
    } else {
      ASSERT_EQ(e, 0u);
    }
    fillers.push_back(std::move(c));
  }
  EXPECT_TRUE(timedOut);
}

TEST(Socket, SendsEverythingAndReceivesUntilTheServerCloses) {
  Listener l;
  const std::string big(8 << 20, 'v');  // far more than one send takes at once
  std::string got;
  std::thread server([&] {
    int s = l.Accept();
    char buf[65536];
    while (got.size() < big.size()) {
      ssize_t n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    send(s, "bye", 3, 0);
    close(s);
  });
  vtx::TcpConnection c;
  ASSERT_EQ(c.Connect("localhost", l.port(), 2000), 0u);
  EXPECT_EQ(c.Send(big.data(), big.size(), 5000), 0u);
  char buf[16];
  size_t n = 0;
  std::string answer;
  do {
    ASSERT_EQ(c.Receive(buf, sizeof buf, &n, 5000), 0u);
    answer.append(buf, n);
  } while (n);  // 0 bytes: the server closed
  server.join();
  EXPECT_EQ(got.size(), big.size());
  EXPECT_EQ(answer, "bye");
}

TEST(Socket, SilentServerTimesOutAndAClosedOneRaisesNoSignal) {
  Listener l;
  std::thread server([&] {
    int s = l.Accept();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    // Gone without a word: the peer's next sends meet a reset, never SIGPIPE.
    linger hard{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(s);
  });
  vtx::TcpConnection c;
  ASSERT_EQ(c.Connect("127.0.0.1", l.port(), 2000), 0u);
  char buf[8];
  size_t n = 99;
  auto start = Clock::now();
  EXPECT_EQ(c.Receive(buf, sizeof buf, &n, 200), static_cast<DWORD>(WSAETIMEDOUT));
  EXPECT_EQ(n, 0u);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  server.join();
  DWORD e = 0;
  for (int i = 0; i < 50 && e == 0; ++i) e = c.Send("data", 4, 1000);
  EXPECT_EQ(e, static_cast<DWORD>(WSAECONNRESET));
  // Once the reset is reported, a send meets a broken pipe: still an error, not a signal.
  EXPECT_EQ(c.Send("more", 4, 1000), static_cast<DWORD>(WSAECONNRESET));
}

}  // namespace
