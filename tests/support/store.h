// A registry store, runtime folder, application-data folder and event-log socket of the test's own,
// in a fresh temporary folder: what the programs otherwise find under /var/lib, /run and /dev/log.
#pragma once
#include <string>

#include "platform/native/productpaths.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace vtxtest {

class PrivateStore {
 public:
  PrivateStore()
      : registry_(vtx::env::kRegistry, registry()),
        runtime_(vtx::env::kRuntimeDir, dir_.path()),
        appdata_(vtx::env::kAppData, dir_.path()),
        syslog_(vtx::env::kSyslogSocket, syslog()) {}

  // Points the variables here again, after a test of another store in the same program.
  void Use() const {
    setenv(vtx::env::kRegistry, registry().c_str(), 1);
    setenv(vtx::env::kRuntimeDir, dir_.path().c_str(), 1);
    setenv(vtx::env::kAppData, dir_.path().c_str(), 1);
    setenv(vtx::env::kSyslogSocket, syslog().c_str(), 1);
  }

  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& name) const { return dir_ / name; }
  std::string registry() const { return dir_ / "registry.db"; }
  // Where a vtxtest::SyslogListener hears the event log.
  std::string syslog() const { return dir_ / "log"; }

 private:
  TempDir dir_;
  ScopedEnv registry_, runtime_, appdata_, syslog_;
};

// A store shared by the tests of a suite: call Use() in SetUpTestSuite.
inline PrivateStore& SuiteStore() {
  static PrivateStore store;
  return store;
}

}  // namespace vtxtest
