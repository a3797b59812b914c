// Accounts that tests make and remove: the product's account and group under a name of the test's
// own, so that an installation run by a test never makes or changes the host's "vantrex".
#pragma once
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/native/productpaths.h"
#include "tests/support/env.h"

namespace vtxtest {

// The product's account for every test that makes none of its own: a name no host has, so that an
// installed product's "vantrex" never changes what a test sees (main.cpp, vtxtest.py).
inline constexpr const char* kNoProductAccount = "vtxtest-none";

// useradd, userdel and their kin refuse while another program holds the account files' lock:
// tried again for up to ten seconds.
inline bool RunAccountCommand(const std::string& command) {
  for (int i = 0; i < 40; ++i) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  return false;
}

// VANTREX_ACCOUNT names an account and group of this test program for as long as the object lives;
// whatever an installation made under that name is removed at the end (and one left by an earlier
// run that ended early at the start).
class ThrowawayProductAccount {
 public:
  explicit ThrowawayProductAccount(const std::string& tag = "p")
      : name_("vtx" + tag + std::to_string(getpid() % 100000)), env_(vtx::env::kAccount, name_) {
    Remove();
  }
  ~ThrowawayProductAccount() { Remove(); }
  ThrowawayProductAccount(const ThrowawayProductAccount&) = delete;
  ThrowawayProductAccount& operator=(const ThrowawayProductAccount&) = delete;

  const std::string& name() const { return name_; }
  // The account's uid and its group's gid; false while there is none.
  bool Ids(uid_t* uid, gid_t* gid) const {
    passwd* pw = getpwnam(name_.c_str());
    group* gr = getgrnam(name_.c_str());
    if (!pw || !gr) return false;
    *uid = pw->pw_uid;
    *gid = gr->gr_gid;
    return true;
  }
  bool GroupExists() const { return getgrnam(name_.c_str()) != nullptr; }
  // Makes the group and the system account as an installation does.
  bool Make() const {
    return RunAccountCommand("groupadd --system " + name_) &&
           RunAccountCommand("useradd --system --gid " + name_ + " --no-create-home --shell /usr/sbin/nologin " +
                             name_);
  }

 private:
  void Remove() {
    if (getpwnam(name_.c_str())) RunAccountCommand("userdel " + name_);
    if (getgrnam(name_.c_str())) RunAccountCommand("groupdel " + name_);
  }

  std::string name_;
  ScopedEnv env_;
};

}  // namespace vtxtest
