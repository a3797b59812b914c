// The manager's peers in the session tests: a real vtxserver on the test's store with its own
// runtime folder, and an endpoint on a pipe of the manager's runtime folder that records every
// request and either passes it on to that server or answers from a script.
#pragma once
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/servercommands.h"
#include "platform/messages.h"
#include "platform/native/productpaths.h"
#include "platform/pipes.h"
#include "platform/sync.h"
#include "tests/manager/fixture.h"

namespace vtxtest {

inline std::string CommandName(DWORD msg) {
  switch (msg) {
    case WM_VX_LOCKCONFIG: return "LOCK";
    case WM_VX_UNLOCKCONFIG: return "UNLOCK";
    case WM_VX_GETPENDINGUPDATES: return "GETPENDING";
    case WM_VX_ISUPDATING: return "ISUPDATING";
    case WM_VX_UPDATENOW: return "UPDATENOW";
    case WM_COPYDATA: return "COPYDATA";
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", msg);
  return hex;
}

inline DWORD GetU32(const std::string& s, size_t at) {
  DWORD v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

// One pipe: every request is recorded as "<COMMAND> <wParam>" (with the data of a WM_COPYDATA).
class Endpoint {
 public:
  struct Script {
    std::map<DWORD, DWORD> answers;  // by message; a message not named answers 0
    std::set<DWORD> silent;          // never answered
    std::map<DWORD, int> delayMs;    // answered late
  };
  ~Endpoint() { Stop(); }

  // Passes requests on to the server's socket `target`. `afterLock` runs once the server has
  // granted a lock, before the manager hears of it.
  bool Relay(const char* pipe, const std::string& target, std::function<void()> afterLock = {}) {
    target_ = target;
    afterLock_ = std::move(afterLock);
    return Listen(pipe);
  }
  bool Answer(const char* pipe, Script script) {
    script_ = std::move(script);
    return Listen(pipe);
  }
  void Stop() {
    if (stop_ >= 0) {
      uint64_t one = 1;
      if (write(stop_, &one, sizeof one) < 0) {
      }
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : held_) close(fd);
    held_.clear();
    if (stop_ >= 0) close(stop_);
    stop_ = -1;
    listener_.Close();
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }
  const std::string& Path() const { return path_; }

 private:
  bool Listen(const char* pipe) {
    path_ = vtx::pipes::SocketPath(pipe);
    if (listener_.Create(pipe) != 0) return false;
    chmod(path_.c_str(), 0666);  // an unprivileged manager connects too
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Serve(); });
    return true;
  }
  void Serve() {
    for (;;) {
      pollfd p[2] = {{listener_.Fd(), POLLIN, 0}, {stop_, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      if (p[1].revents) return;
      int fd = listener_.Accept();
      if (fd >= 0) Handle(fd);
    }
  }
  void Handle(int fd) {
    std::string request(12, '\0');
    size_t got = 0;
    uint64_t deadline = vtx::sync::DeadlineAfter(5000);
    if (vtx::pipes::ReadAll(fd, request.data(), 12, deadline, &got) != 0) {
      close(fd);
      return;
    }
    DWORD msg = GetU32(request, 0), wParam = GetU32(request, 4);
    std::string line = CommandName(msg) + " " + std::to_string(wParam);
    if (msg == WM_COPYDATA) {
      std::string head(12, '\0');
      if (vtx::pipes::ReadAll(fd, head.data(), 12, deadline, &got) != 0) {
        close(fd);
        return;
      }
      std::string data(GetU32(head, 4), '\0');
      if (!data.empty() && vtx::pipes::ReadAll(fd, data.data(), data.size(), deadline, &got) != 0) {
        close(fd);
        return;
      }
      request += head + data;
      line = CommandName(msg) + " " + std::to_string(GetU32(head, 0)) + " " + data.substr(0, data.find('\0'));
    }
    {
      std::lock_guard<std::mutex> l(m_);
      requests_.push_back(line);
    }
    DWORD reply = 0;
    if (!target_.empty()) {
      int server = -1;
      std::string answer(4, '\0');
      if (vtx::pipes::Connect(target_.c_str(), vtx::sync::DeadlineAfter(5000), &server) != 0 ||
          vtx::pipes::WriteAll(server, request.data(), request.size(), vtx::sync::DeadlineAfter(5000)) != 0 ||
          vtx::pipes::ReadAll(server, answer.data(), 4, vtx::sync::DeadlineAfter(120000), &got) != 0) {
        if (server >= 0) close(server);
        close(fd);
        return;
      }
      close(server);
      reply = GetU32(answer, 0);
      if (msg == WM_VX_LOCKCONFIG && static_cast<int32_t>(reply) >= 0 && afterLock_) afterLock_();
    } else {
      if (script_.silent.count(msg)) {
        held_.push_back(fd);
        return;
      }
      if (auto it = script_.delayMs.find(msg); it != script_.delayMs.end())
        std::this_thread::sleep_for(std::chrono::milliseconds(it->second));
      if (auto it = script_.answers.find(msg); it != script_.answers.end()) reply = it->second;
    }
    char out[4] = {static_cast<char>(reply), static_cast<char>(reply >> 8), static_cast<char>(reply >> 16),
                   static_cast<char>(reply >> 24)};
    vtx::pipes::WriteAll(fd, out, 4, vtx::sync::DeadlineAfter(5000));
    close(fd);
  }

  vtx::pipes::Listener listener_;
  std::string path_;
  std::string target_;
  std::function<void()> afterLock_;
  Script script_;
  int stop_ = -1;
  std::thread thread_;
  std::vector<int> held_;
  std::mutex m_;
  std::vector<std::string> requests_;
};

// A plain request of the server command set to a socket, with the reply; -1 when it failed.
inline int64_t AskServer(const std::string& socket, DWORD msg, DWORD wParam = 0) {
  int fd = -1;
  if (vtx::pipes::Connect(socket.c_str(), vtx::sync::DeadlineAfter(5000), &fd) != 0) return -1;
  char request[12] = {};
  for (int i = 0; i < 4; ++i) {
    request[i] = static_cast<char>(msg >> (8 * i));
    request[4 + i] = static_cast<char>(wParam >> (8 * i));
  }
  std::string answer(4, '\0');
  size_t got = 0;
  bool ok = vtx::pipes::WriteAll(fd, request, 12, vtx::sync::DeadlineAfter(5000)) == 0 &&
            vtx::pipes::ReadAll(fd, answer.data(), 4, vtx::sync::DeadlineAfter(60000), &got) == 0;
  close(fd);
  return ok ? static_cast<int64_t>(GetU32(answer, 0)) : -1;
}

// vtxserver on the test's store, with a runtime folder of its own whose named locks are the
// manager's (so that both take the same settings lock), and its event log on a private socket.
class ServerProcess {
 public:
  explicit ServerProcess(const ManagerEnvironment& env) : env_(env), run_(env / "server-run") {}
  ~ServerProcess() { Stop(); }

  bool Start() {
    std::string managerRun = std::getenv(vtx::env::kRuntimeDir);
    mkdir(managerRun.c_str(), 0777);
    mkdir((managerRun + "/locks").c_str(), 0777);
    mkdir(run_.c_str(), 0755);
    if (symlink((managerRun + "/locks").c_str(), (run_ + "/locks").c_str()) != 0) return false;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(vtx::env::kRuntimeDir, QString::fromStdString(run_));
    e.insert(vtx::env::kAppData, QString::fromStdString(env_ / "appdata"));
    e.insert(vtx::env::kSyslogSocket, QString::fromStdString(env_ / "no-syslog"));
    process_.setProcessEnvironment(e);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(QString::fromStdString(BuildDir() + "/server/vtxserver"), {"/SERVICE"});
    if (!process_.waitForStarted(10000)) return false;
    for (int i = 0; i < 500; ++i) {
      if (AskServer(Pipe(), WM_VX_PING) == 1) return true;
      usleep(20000);
    }
    return false;
  }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    AskServer(Pipe(), WM_VX_QUIT);
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  std::string Pipe() const { return run_ + "/HulvaneVantrexAppPipe"; }

 private:
  const ManagerEnvironment& env_;
  std::string run_;
  QProcess process_;
};

}  // namespace vtxtest
