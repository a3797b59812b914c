// Units of the service manager, written into a private unit folder and checked by systemd's own
// verifier; the verbs that need a running systemd; service account names.
#include "platform/service.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/native/productpaths.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace {

using vtx::service::UnitConfig;

// systemd-analyze verify: its exit code and everything it said.
int Verify(const std::string& unitPath, std::string* output) {
  std::string cmd = "systemd-analyze verify --man=no '" + unitPath + "' 2>&1";
  output->clear();
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) *output += buf;
  int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class UnitFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    // A program whose path needs the unit's quoting: a blank, a '%', a '$'.
    std::string folder = dir_ / "my product";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    program_ = folder + "/vtx%svc$1";
    ASSERT_EQ(std::system(("cp /bin/true '" + program_ + "'").c_str()), 0);
  }
  UnitConfig Config() const {
    UnitConfig c;
    c.unit = "hulvane-vantrex.service";
    c.description = "Provides exchange rate services to clients and schedules currency data updates.";
    c.program = program_;
    return c;
  }
  std::string UnitPath() const { return dir_ / "units/hulvane-vantrex.service"; }

  vtxtest::TempDir dir_;
  vtxtest::ScopedEnv units_{vtx::env::kUnitDir, dir_ / "units"};
  std::string program_;
};

TEST(ServiceNames, UnitNames) {
  EXPECT_EQ(vtx::service::UnitName("Hulvane Vantrex"), "hulvane-vantrex.service");
  EXPECT_EQ(vtx::service::UnitName("Hulvane Vantrex Messenger"), "hulvane-vantrex-messenger.service");
  EXPECT_EQ(vtx::service::UnitName(" Odd  name!"), "odd-name.service");
}

TEST(ServiceNames, AccountsCompareByUid) {
  struct Case {
    const char* account;
    bool known;
    uid_t uid;
  } cases[] = {
      {"LocalSystem", true, 0}, {"localsystem", true, 0},  {"root", true, 0},
      {"HOST\\root", true, 0},  {"root@EXAMPLE.ORG", true, 0}, {".\\LocalSystem", true, 0},
      {"nobody", true, 65534},  {"no-such-account-here", false, 0}, {"", false, 0},
      {"DOMAIN\\", false, 0},
  };
  for (const Case& c : cases) {
    uid_t uid = 12345;
    EXPECT_EQ(vtx::service::AccountUid(c.account, &uid), c.known) << c.account;
    if (c.known) {
      EXPECT_EQ(uid, c.uid) << c.account;
    }
  }
}

TEST_F(UnitFolder, InstalledUnitPassesTheVerifierAndIsEnabled) {
  // The store's path travels into the unit; quotes and blanks must survive.
  vtxtest::ScopedEnv store(vtx::env::kRegistry, dir_ / "a \"quoted\" store%.db");
  std::string message;
  ASSERT_EQ(vtx::service::InstallUnit(Config(), &message), S_OK) << message;
  if (!vtx::service::SystemdRunning()) {
    EXPECT_NE(message.find("systemd is not running"), std::string::npos);
  }

  std::string text = vtxtest::ReadFile(UnitPath());
  EXPECT_NE(text.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(text.find("Restart=no\n"), std::string::npos);
  EXPECT_NE(text.find("After=network-online.target\n"), std::string::npos);
  EXPECT_NE(text.find("Environment=\"VANTREX_REGISTRY="), std::string::npos);
  std::string output;
  EXPECT_EQ(Verify(UnitPath(), &output), 0) << output;
  EXPECT_EQ(output, "");

  char target[4096] = {};
  ASSERT_GT(readlink((dir_ / "units/multi-user.target.wants/hulvane-vantrex.service").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), UnitPath());
}

TEST_F(UnitFolder, RewriteKeepsAUserSetByHand) {
  std::string message;
  ASSERT_EQ(vtx::service::InstallUnit(Config(), &message), S_OK);
  std::string text = vtxtest::ReadFile(UnitPath());
  size_t at = text.find("ExecStart=");
  ASSERT_NE(at, std::string::npos);
  text.insert(at, "User=daemon\n");
  FILE* f = fopen(UnitPath().c_str(), "w");
  fputs(text.c_str(), f);
  fclose(f);

  UnitConfig c = Config();
  c.description = "A new description.";
  ASSERT_EQ(vtx::service::InstallUnit(c, &message), S_OK);
  text = vtxtest::ReadFile(UnitPath());
  EXPECT_NE(text.find("Description=A new description.\n"), std::string::npos);
  size_t user = text.find("User=daemon\n");
  ASSERT_NE(user, std::string::npos);
  EXPECT_EQ(text.find("User=", user + 1), std::string::npos);
  EXPECT_GT(user, text.find("[Service]"));
  std::string output;
  EXPECT_EQ(Verify(UnitPath(), &output), 0) << output;
}

TEST_F(UnitFolder, ValuesWithLineBreaksAreRefusedAndNothingIsWritten) {
  vtxtest::ScopedEnv store(vtx::env::kRegistry, "/tmp/x\nExecStartPre=/bin/evil");
  std::string message;
  EXPECT_EQ(vtx::service::InstallUnit(Config(), &message), E_INVALIDARG);
  EXPECT_FALSE(message.empty());
  EXPECT_NE(access(UnitPath().c_str(), F_OK), 0);
}

TEST_F(UnitFolder, RemoveTakesUnitAndLinkAndIsQuietWhenNothingIsThere) {
  std::string message;
  ASSERT_EQ(vtx::service::InstallUnit(Config(), &message), S_OK);
  EXPECT_EQ(vtx::service::RemoveUnit("hulvane-vantrex.service", &message), S_OK) << message;
  EXPECT_NE(access(UnitPath().c_str(), F_OK), 0);
  struct stat st;
  EXPECT_NE(lstat((dir_ / "units/multi-user.target.wants/hulvane-vantrex.service").c_str(), &st), 0);
  EXPECT_EQ(vtx::service::RemoveUnit("hulvane-vantrex.service", &message), S_OK);
}

TEST_F(UnitFolder, StartAndStopFailClearlyWithoutSystemd) {
  // Under systemd a unit that does not exist fails as well, through systemctl.
  const std::string unit = "vantrex-test-no-such-unit.service";
  const char* reason = vtx::service::SystemdRunning() ? "systemctl" : "systemd is not running";
  std::string message;
  EXPECT_EQ(vtx::service::StartUnit(unit, &message), E_FAIL);
  EXPECT_NE(message.find(reason), std::string::npos) << message;
  message.clear();
  EXPECT_EQ(vtx::service::StopUnit(unit, &message), E_FAIL);
  EXPECT_NE(message.find(reason), std::string::npos) << message;
}

}  // namespace
