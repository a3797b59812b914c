// The HTTP side of the SOAP host: libmicrohttpd with a pool of event loops (epoll) that answer quick
// calls where they are read, and a thread of its own for each call that may wait (a client
// validation, an update, a reading of the store), whose connection rests meanwhile, so that no call
// holds up a call on another connection. It answers POST <path> with the SOAP dispatch of a service
// and GET <path>?wsdl with its description.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "webservice/soap.h"

namespace vtx::soap {

struct HostOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 8080;  // 0: any free port
  std::string path = "/Vantrex";
  // The event loops that read requests and answer quick calls.
  unsigned threads = 8;
  // A connection that sends nothing for this long is closed, and so is one whose request (headers
  // and body) has not arrived whole in this time: a slow client holds no connection longer.
  unsigned idleTimeoutSeconds = 30;
  size_t maxBodyBytes = 1u << 20;
  // Where failed calls are reported, one line each, at most kLogLinesPerSecond lines a second with a
  // count of those left out; null: stderr.
  std::function<void(const std::string&)> log;
  // Whether a call of the operation may wait if it begins now (for a program, the server or a
  // reading of the store): such calls run apart from the quick ones. Null: no call waits.
  std::function<bool(const Operation&)> mayWait;
};

// "address:port", an IPv6 address in brackets.
std::string Authority(const std::string& address, uint16_t port);

class HttpHost {
 public:
  explicit HttpHost(const Service& service) : service_(service) {}
  ~HttpHost();
  HttpHost(const HttpHost&) = delete;
  HttpHost& operator=(const HttpHost&) = delete;

  // Starts listening; false with a reason when it cannot, among them an address and port that
  // another socket holds (the port is never shared).
  bool Start(const HostOptions& options, std::string* error);
  // The service's address: http://authority/path.
  std::string Url() const;
  // Reports one failed call through the options' log.
  void Log(const std::string& line);
  static constexpr unsigned kLogLinesPerSecond = 5;
  void Stop();
  uint16_t Port() const { return port_; }
  const HostOptions& Options() const { return options_; }
  const Service& GetService() const { return service_; }

  // The connections of the host as they come and go, and the receipt of their requests: what the
  // host's callbacks report (the pointer is the connection's own record).
  // The connection's own thread writes it; the sweeper reads it without a lock.
  struct Receipt {
    int fd = -1;
    std::atomic<bool> receiving{true};  // since `since`: the time to receive a request runs
    bool ended = false;                 // under lock_
    std::atomic<int64_t> since{0};      // steady clock, nanoseconds
  };
  Receipt* Opened(int fd);
  void Closed(Receipt* r);
  void Receiving(Receipt* r);
  void Received(Receipt* r);
  // Counts a call to run apart; false once the host stops.
  bool BeginApart();
  // Runs a call that may wait on a thread of its own; `work` resumes its connection when done.
  void RunApart(std::function<void()> work);
  // The call's answer has gone, or its connection has: Stop waits for these calls.
  void EndApart();

 private:
  // Ends the connections whose request has taken too long to arrive.
  void Sweep();
  // Ends every connection that waits for a request; those with a call under way answer first.
  void EndAll();

  const Service& service_;
  HostOptions options_;
  void* daemon_ = nullptr;
  std::atomic<uint16_t> port_{0};  // read by the workers while Start runs
  std::mutex lock_;  // the set of connections, as they open and close
  std::condition_variable wake_;
  bool stopping_ = false;
  std::unordered_map<Receipt*, std::unique_ptr<Receipt>> open_;
  std::thread sweeper_;
  // Calls run apart and not yet answered, under lock_; wake_ tells Stop when one ends.
  unsigned apart_ = 0;
  // Lines logged in the current second, the second, and the lines left out since the last report.
  std::atomic<int64_t> logSecond_{0};
  std::atomic<unsigned> logLines_{0};
  std::atomic<uint64_t> logDropped_{0};
};

}  // namespace vtx::soap
