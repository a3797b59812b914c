// vtxservice as a program: its verbs against a private unit folder, and the service run in the
// foreground with the real vtxserver on a private store, asked over its pipe with socat, watched
// through its notifications to the service manager, its event log and the messages file.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "service/frame.h"
#include "tests/support/child.h"
#include "tests/support/env.h"
#include "tests/support/paths.h"
#include "tests/support/rawpipe.h"
#include "tests/support/store.h"
#include "tests/support/syslog.h"
#include "tests/support/wait.h"

extern char** environ;

namespace {

const char kAppKey[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0";

pid_t Spawn(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int RunToEnd(const std::string& program, const std::vector<std::string>& args) {
  pid_t pid = Spawn(program, args);
  return pid < 0 ? -1 : vtxtest::WaitExit(pid);
}

using vtxtest::CopyData;
using vtxtest::Request;
using vtxtest::U32;

class ServiceProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = std::make_unique<vtxtest::SyslogListener>(dir_.syslog());
    notify_ = std::make_unique<vtxtest::SyslogListener>(dir_ / "notify.sock");
    ASSERT_TRUE(log_->bound() && notify_->bound());
    Put("Server", vtxtest::Program("vtxserver"));
    Put("Resources0409", vtxtest::SourcePath("resources/0409/vantrex.cat"));
    Put("Path", dir_.path());
    Put("MessagesFile", dir_ / "alarm");
    PutDword("MessagesOnScreen", 0);
    PutDword("MessagesToFile", 1);
    PutDword("ApplicationMonitor", 0);
  }
  void TearDown() override {
    for (pid_t p : {service_, Server()})
      if (p > 0) kill(p, SIGKILL);
    if (service_ > 0) vtxtest::WaitExit(service_, std::chrono::seconds(5));
  }

  void Put(const char* name, const std::string& value) {
    RegStringValueA v;
    v = value.c_str();
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, kAppKey, name), S_OK);
  }
  void PutDword(const char* name, DWORD value) {
    ASSERT_EQ(RegDwordValue(value).Save(HKEY_LOCAL_MACHINE, kAppKey, name), S_OK);
  }

  // Waits for a notification to the service manager that holds `text`; all of them so far.
  bool Notified(const std::string& text, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (const std::string& n : notices_)
        if (n.find(text) != std::string::npos) return true;
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
      if (left <= 0) return false;
      std::string n = notify_->Receive(left);
      if (n != "<nothing>") notices_.push_back(n);
    }
  }

  void StartService() {
    service_ = Spawn(vtxtest::Program("vtxservice"), {});
    ASSERT_GT(service_, 0);
    ASSERT_TRUE(Notified("READY=1", 30000)) << "the service never reported that it runs";
  }
  // The service's child, vtxserver.
  pid_t Server() const {
    if (service_ <= 0) return -1;
    std::ifstream in("/proc/" + std::to_string(service_) + "/task/" + std::to_string(service_) + "/children");
    pid_t pid = -1;
    in >> pid;
    return pid;
  }

  std::string Socat(const std::string& pipe, const std::string& request) {
    return vtxtest::Socat(dir_ / pipe, request, dir_.path());
  }

  bool LogHas(const std::string& text) {
    for (const std::string& e : log_->Drain(200)) events_.push_back(e);
    for (const std::string& e : events_)
      if (e.find(text) != std::string::npos) return true;
    return false;
  }

  vtxtest::PrivateStore dir_;
  vtxtest::ScopedEnv units_{"VANTREX_UNIT_DIR", dir_ / "units"}, notifySocket_{"NOTIFY_SOCKET", dir_ / "notify.sock"};
  std::unique_ptr<vtxtest::SyslogListener> log_, notify_;
  std::vector<std::string> notices_, events_;
  pid_t service_ = -1;
};

TEST(ServiceVerbs, TheTextAfterTheSwitchIsComparedWhole) {
  using vtx::svc::ServiceModule;
  struct Case {
    std::vector<std::string> args;
    const char* verb;
  } cases[] = {
      {{"-RegServer"}, "RegServer"},
      {{"/regserver"}, "RegServer"},
      {{"-RegServerStartService"}, "RegServerStartService"},
      {{"x", "/UNREGSERVER"}, "UnregServer"},
      {{"--StopService"}, "StopService"},
      {{"/RegServer", "/x"}, ""},
      {{"RegServer"}, ""},
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ServiceModule::FindVerb(c.args), c.verb) << ::testing::PrintToString(c.args);
}

TEST_F(ServiceProgram, RegisterWritesAVerifiedUnitAndTheSystemctlVerbsFailWithoutSystemd) {
  const std::string program = vtxtest::Program("vtxservice");
  const std::string unit = dir_ / "units/hulvane-vantrex.service";
  ASSERT_EQ(RunToEnd(program, {"-RegServer"}), 0);
  std::string text = vtxtest::ReadFile(unit);
  EXPECT_NE(text.find("ExecStart=\"" + program + "\""), std::string::npos) << text;
  EXPECT_NE(text.find("Description=Provides exchange rate services"), std::string::npos);
  std::string cmd = "systemd-analyze verify --man=no '" + unit + "' > '" + (dir_ / "verify.out") + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << vtxtest::ReadFile(dir_ / "verify.out");
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "verify.out"), "");

  if (!vtx::service::SystemdRunning()) {
    // The Part's code for a failed start or stop is 0x80004005: a failure status, and a reason.
    EXPECT_EQ(RunToEnd(program, {"-StartService"}), 1);
    EXPECT_EQ(RunToEnd(program, {"/stopservice"}), 1);
    EXPECT_EQ(RunToEnd(program, {"-RegServerStartService"}), 1);
  }
  EXPECT_EQ(RunToEnd(program, {"-UnregServer"}), 0);
  EXPECT_NE(access(unit.c_str(), F_OK), 0);
  EXPECT_EQ(RunToEnd(program, {"-UnregServer"}), 0);
}

TEST_F(ServiceProgram, AnswersItsPipeAndStopsItsServer) {
  StartService();
  pid_t server = Server();
  ASSERT_GT(server, 0);
  EXPECT_TRUE(LogHas("Service started."));
  struct Case {
    const char* what;
    std::string request;
    uint32_t reply;
  } cases[] = {
      {"ping", Request(3), 1},
      {"is local system (runs as root)", Request(1), 1},
      {"unknown message", Request(7), 0},
      {"account root", CopyData(2, std::string("root\0", 5), 5), 1},
      {"account LocalSystem", CopyData(2, std::string("LocalSystem\0", 12), 12), 1},
      {"account DOMAIN\\root", CopyData(2, std::string("DOMAIN\\root\0", 12), 12), 1},
      {"account root@REALM", CopyData(2, std::string("root@REALM\0", 11), 11), 1},
      {"another account", CopyData(2, std::string("daemon\0", 7), 7), 0},
      {"unknown account", CopyData(2, std::string("no-such-user\0", 13), 13), 0},
      {"empty account", CopyData(2, std::string("\0", 1), 1), 0},
      {"unterminated account", CopyData(2, "root", 4), 0},
      {"no data", CopyData(2, "", 0), 0},
      {"other data block", CopyData(5, std::string("root\0", 5), 5), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Socat("HulvaneVantrexSvcPipe", c.request), U32(c.reply)) << c.what;

  // A second service would take this one's server for its own: it refuses to run.
  EXPECT_EQ(RunToEnd(vtxtest::Program("vtxservice"), {}), 1);
  EXPECT_EQ(kill(server, 0), 0);

  ASSERT_EQ(kill(service_, SIGTERM), 0);
  EXPECT_EQ(vtxtest::WaitExit(service_, std::chrono::seconds(15)), 0);
  service_ = -1;
  EXPECT_TRUE(Notified("STOPPING=1", 1000));
  EXPECT_NE(kill(server, 0), 0) << "vtxserver outlived its service";
  EXPECT_TRUE(LogHas("Service stopped."));
  EXPECT_TRUE(LogHas("Vantrex application stopped."));
}

TEST_F(ServiceProgram, WatchdogAlarmsForASilentServerAndStopEndsBothWithinTheLimit) {
  PutDword("ApplicationMonitor", 1);
  StartService();
  pid_t server = Server();
  ASSERT_GT(server, 0);
  ASSERT_TRUE(Notified("STATUS=vtxserver answered", 10000)) << "no watchdog tick";
  EXPECT_EQ(access((dir_ / "alarm.log").c_str(), F_OK), -1) << "an alarm for a live server";

  // A server that no longer answers: the alarm goes to the messages file and the event log.
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  EXPECT_TRUE(Notified("STATUS=vtxserver did not answer", 15000));
  EXPECT_TRUE(vtxtest::Eventually([&] { return vtxtest::ReadFile(dir_ / "alarm.log").find("does not answer") != std::string::npos; }))
      << vtxtest::ReadFile(dir_ / "alarm.log");
  EXPECT_TRUE(LogHas("Vantrex server does not answer"));
  // The service's own pipe is served meanwhile.
  EXPECT_EQ(Socat("HulvaneVantrexSvcPipe", Request(3)), U32(1));

  // The stop tells the silent server to quit, gives it the limit, then kills it.
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(service_, SIGTERM), 0);
  EXPECT_EQ(vtxtest::WaitExit(service_, std::chrono::seconds(50)), 0);
  service_ = -1;
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 45);
  EXPECT_NE(kill(server, 0), 0) << "vtxserver outlived its service";
}

TEST_F(ServiceProgram, AServerThatCannotStartStopsTheServiceWithItsCode) {
  struct Case {
    const char* server;  // null: the value is missing
    int status;
  } cases[] = {
      {nullptr, 2},                   // ERROR_FILE_NOT_FOUND
      {"/no/such/vtxserver", 2},      // the start fails with the system's code
      {"/bin/false", 1},              // started, ended, never answered: 1062
  };
  for (const Case& c : cases) {
    if (c.server)
      Put("Server", c.server);
    else
      ASSERT_TRUE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, kAppKey, "Server"));
    events_.clear();
    log_->Drain(100);
    EXPECT_EQ(RunToEnd(vtxtest::Program("vtxservice"), {}), c.status) << (c.server ? c.server : "no value");
    EXPECT_TRUE(LogHas("The Vantrex application could not be started.")) << (c.server ? c.server : "no value");
  }
}

}  // namespace
