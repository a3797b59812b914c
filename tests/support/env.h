// An environment variable set (or removed) for the lifetime of the object, restored afterwards.
#pragma once
#include <cstdlib>
#include <optional>
#include <string>

namespace vtxtest {

class ScopedEnv {
 public:
  // std::nullopt removes the variable.
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value) setenv(name_.c_str(), value->c_str(), 1);
    else unsetenv(name_.c_str());
  }
  // nullptr removes the variable.
  ScopedEnv(std::string name, const char* value)
      : ScopedEnv(std::move(name), value ? std::optional<std::string>(value) : std::nullopt) {}
  ~ScopedEnv() {
    if (old_) setenv(name_.c_str(), old_->c_str(), 1);
    else unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace vtxtest

namespace vtxtest {

// No proxy named by the environment, so that the tests' servers are reached directly.
class NoProxyEnv {
  ScopedEnv http_{"http_proxy", std::nullopt}, https_{"https_proxy", std::nullopt}, all_{"all_proxy", std::nullopt},
      no_{"no_proxy", std::nullopt}, noUpper_{"NO_PROXY", std::nullopt};
};

}  // namespace vtxtest
