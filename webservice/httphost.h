// The HTTP side of the SOAP host: a libmicrohttpd thread pool that answers POST <path> with the SOAP
// dispatch of a service and GET <path>?wsdl with its description.
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
  unsigned threads = 8;
  // A connection that sends nothing for this long is closed, and so is one whose request (headers
  // and body) has not arrived whole in this time: a slow client holds no connection longer.
  unsigned idleTimeoutSeconds = 30;
  size_t maxBodyBytes = 1u << 20;
  // Where each failed call is reported, one line each; null: stderr.
  std::function<void(const std::string&)> log;
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
  void Log(const std::string& line) const;
  void Stop();
  uint16_t Port() const { return port_; }
  const HostOptions& Options() const { return options_; }
  const Service& GetService() const { return service_; }

  // The connections of the host as they come and go, and the receipt of their requests: what the
  // host's callbacks report (the pointer is the connection's own record).
  struct Receipt {
    int fd = -1;
    bool receiving = true;  // since `since`: the time to receive a request runs
    bool ended = false;
    std::chrono::steady_clock::time_point since;
  };
  Receipt* Opened(int fd);
  void Closed(Receipt* r);
  void Receiving(Receipt* r);
  void Received(Receipt* r);

 private:
  // Ends the connections whose request has taken too long to arrive.
  void Sweep();

  const Service& service_;
  HostOptions options_;
  void* daemon_ = nullptr;
  std::atomic<uint16_t> port_{0};  // read by the workers while Start runs
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::unordered_map<Receipt*, std::unique_ptr<Receipt>> open_;
  std::thread sweeper_;
};

}  // namespace vtx::soap
