// The HTTP side of the SOAP host: a libmicrohttpd thread pool that answers POST <path> with the SOAP
// dispatch of a service and GET <path>?wsdl with its description.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "webservice/soap.h"

namespace vtx::soap {

struct HostOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 8080;  // 0: any free port
  std::string path = "/Vantrex";
  unsigned threads = 8;
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

 private:
  const Service& service_;
  HostOptions options_;
  void* daemon_ = nullptr;
  std::atomic<uint16_t> port_{0};  // read by the workers while Start runs
};

}  // namespace vtx::soap
