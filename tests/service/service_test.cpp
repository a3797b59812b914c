// vtxservice as a program: its verbs against a private unit folder, and the service run in the
// foreground with the real vtxserver on a private store, asked over its pipe with socat, watched
// through its notifications to the service manager, its event log and the messages file.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <grp.h>
#include <pwd.h>
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
#include "platform/native/productpaths.h"
#include "serviceframe/frame.h"
#include "tests/support/accounts.h"
#include "tests/support/child.h"
#include "tests/support/command.h"
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
  vtxtest::ScopedEnv units_{vtx::env::kUnitDir, dir_ / "units"}, notifySocket_{"NOTIFY_SOCKET", dir_ / "notify.sock"};
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
  vtxtest::ThrowawayProductAccount account;
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

TEST_F(ServiceProgram, AFreshInstallMakesTheAccountAndGivesItTheStoreAndItsFolders) {
  vtxtest::ThrowawayProductAccount account;
  // A store in a folder of its own, as /var/lib/vantrex is.
  vtxtest::ScopedEnv store(vtx::env::kRegistry, dir_ / "data/registry.db");
  vtxtest::ScopedEnv appdata(vtx::env::kAppData, dir_ / "appdata");
  ASSERT_EQ(RunToEnd(vtxtest::Program("vtxservice"), {"-RegServer"}), 0);
  // Twice: the second run finds everything made and changes nothing.
  ASSERT_EQ(RunToEnd(vtxtest::Program("vtxservice"), {"-RegServer"}), 0);
  uid_t uid;
  gid_t gid;
  ASSERT_TRUE(account.Ids(&uid, &gid));
  passwd* pw = getpwnam(account.name().c_str());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(pw->pw_gid, gid);
  EXPECT_LT(pw->pw_uid, 1000u) << "a system account";
  EXPECT_STREQ(pw->pw_shell, "/usr/sbin/nologin");
  struct Case {
    std::string path;
    unsigned mode;
  } cases[] = {
      {dir_ / "data", 02770},
      {dir_ / "data/registry.db", 0660},
      {dir_ / "appdata/Hulvane/Vantrex", 02770},
      {dir_ / "appdata/Hulvane/Vantrex/Logs", 02770},
  };
  for (const Case& c : cases) {
    struct stat st{};
    ASSERT_EQ(stat(c.path.c_str(), &st), 0) << c.path;
    EXPECT_EQ(st.st_uid, uid) << c.path;
    EXPECT_EQ(st.st_gid, gid) << c.path;
    EXPECT_EQ(st.st_mode & 07777, c.mode) << c.path;
  }
  RegStringValueA display;
  ASSERT_EQ(display.Load(HKEY_LOCAL_MACHINE, kAppKey, "DisplayMessages"), S_OK);
  EXPECT_STREQ(display.GetString(), (dir_ / "data/DisplayMessages.txt").c_str());
  // The service runs under that account, in a sandbox that leaves it its folders.
  std::string unit = vtxtest::ReadFile(dir_ / "units/hulvane-vantrex.service");
  EXPECT_NE(unit.find("\nUser=" + account.name() + "\nGroup=" + account.name() + "\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("ReadWritePaths=\"-" + (dir_ / "data") + "\""), std::string::npos) << unit;
  EXPECT_NE(unit.find("Environment=\"VANTREX_ACCOUNT=" + account.name() + "\""), std::string::npos) << unit;
  std::string cmd = "systemd-analyze verify --man=no '" + (dir_ / "units/hulvane-vantrex.service") + "' 2>&1";
  int status = -1;
  std::string said = vtxtest::RunCommand(cmd, &status);
  EXPECT_EQ(status, 0) << said;
  // A display-messages file chosen before stays.
  RegStringValueA chosen;
  chosen = "/elsewhere/messages.txt";
  ASSERT_EQ(chosen.Save(HKEY_LOCAL_MACHINE, kAppKey, "DisplayMessages"), S_OK);
  ASSERT_EQ(RunToEnd(vtxtest::Program("vtxservice"), {"-RegServer"}), 0);
  ASSERT_EQ(display.Load(HKEY_LOCAL_MACHINE, kAppKey, "DisplayMessages"), S_OK);
  EXPECT_STREQ(display.GetString(), "/elsewhere/messages.txt");
}

TEST_F(ServiceProgram, OfTwoServicesStartedTogetherOneRunsAndTheOtherEndsWithoutTouchingIt) {
  std::vector<pid_t> services;
  for (int i = 0; i < 2; ++i) services.push_back(Spawn(vtxtest::Program("vtxservice"), {}));
  int status = -1;
  pid_t loser = -1;
  // The loser ends at once with status 1; the winner reports that it runs.
  ASSERT_TRUE(vtxtest::Eventually([&] {
    for (pid_t p : services)
      if (waitpid(p, &status, WNOHANG) == p) {
        loser = p;
        return true;
      }
    return false;
  }, std::chrono::seconds(30)));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  service_ = services[0] == loser ? services[1] : services[0];
  ASSERT_TRUE(Notified("READY=1", 30000));
  pid_t server = Server();
  ASSERT_GT(server, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(kill(server, 0), 0) << "the loser quit the winner's server";
  EXPECT_EQ(Socat("HulvaneVantrexSvcPipe", Request(3)), U32(1));
  ASSERT_EQ(kill(service_, SIGTERM), 0);
  EXPECT_EQ(vtxtest::WaitExit(service_, std::chrono::seconds(15)), 0);
  service_ = -1;
}

TEST_F(ServiceProgram, EverySilentTickOfAShortIntervalAlarmsAndAScreenNoticeWithoutMessengerIsLogged) {
  // Screen only, and no messenger runs: the alarm must still reach the event log.
  PutDword("MessagesToFile", 0);
  PutDword("MessagesToLog", 0);
  PutDword("MessagesOnScreen", 1);
  PutDword("ApplicationMonitor", 2);
  StartService();
  pid_t server = Server();
  ASSERT_GT(server, 0);
  ASSERT_EQ(kill(server, SIGSTOP), 0);
  // Ticks at 2 s apart: in 11 s at least four of them find the server silent.
  int alarms = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(11);
  while (std::chrono::steady_clock::now() < end) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
    if (log_->Receive(std::max(left, 1)).find("Vantrex server does not answer") != std::string::npos) ++alarms;
  }
  EXPECT_GE(alarms, 4);
  EXPECT_LE(alarms, 6);
  kill(server, SIGCONT);
}

TEST_F(ServiceProgram, AServerInAFolderThatAnotherAccountMayChangeIsNotRun) {
  // A member of the product's group registers a folder of its own; the service must not run
  // the program it puts there.
  struct Case {
    const char* what;
    uid_t owner;
    unsigned mode;
  } cases[] = {{"another account's folder", 65534, 0755}, {"a folder others may write", 0, 0777}};
  for (const Case& c : cases) {
    std::string folder = dir_ / ("member-" + std::to_string(c.owner) + "-" + std::to_string(c.mode));
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string marker = dir_ / "ran";
    std::ofstream(folder + "/vtxserver") << "#!/bin/sh\ntouch '" << marker << "'\nexit 0\n";
    chmod((folder + "/vtxserver").c_str(), 0755);
    ASSERT_EQ(chown(folder.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    Put("Server", folder + "/vtxserver");
    int status = -1;
    std::string said = vtxtest::RunCommand("'" + vtxtest::Program("vtxservice") + "' 2>&1", &status);
    EXPECT_EQ(status, 5) << c.what << ": " << said;  // access denied
    EXPECT_NE(said.find("is refused"), std::string::npos) << c.what << ": " << said;
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << c.what << ": the program ran";
  }
}

TEST_F(ServiceProgram, AStopDuringTheStartEndsAServerThatServesNoPipeYetAtOnce) {
  // A server that has not answered yet cannot be told to quit: it gets SIGTERM, as the system
  // would send it, instead of a wait for an answer that cannot come.
  std::string script = dir_ / "silent.sh";
  std::ofstream(script) << "#!/bin/sh\necho $$ > '" << (dir_ / "silent.pid") << "'\nexec sleep 120\n";
  chmod(script.c_str(), 0755);
  Put("Server", script);
  service_ = Spawn(vtxtest::Program("vtxservice"), {});
  ASSERT_GT(service_, 0);
  ASSERT_TRUE(vtxtest::Eventually([&] { return !vtxtest::ReadFile(dir_ / "silent.pid").empty(); }));
  pid_t server = std::stoi(vtxtest::ReadFile(dir_ / "silent.pid"));
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(service_, SIGTERM), 0);
  EXPECT_EQ(vtxtest::WaitExit(service_, std::chrono::seconds(30)), 0);
  service_ = -1;
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_NE(kill(server, 0), 0) << "the server outlived its service";
}

TEST_F(ServiceProgram, AServerThatEndsAtOnceIsNamedWithItsStatus) {
  std::string script = dir_ / "ends3.sh";
  std::ofstream(script) << "#!/bin/sh\nexit 3\n";
  chmod(script.c_str(), 0755);
  Put("Server", script);
  int status = -1;
  std::string said = vtxtest::RunCommand("'" + vtxtest::Program("vtxservice") + "' 2>&1", &status);
  EXPECT_EQ(status, 1) << said;
  EXPECT_NE(said.find("vtxserver ended at its start with status 3"), std::string::npos) << said;
  EXPECT_EQ(said.find("within a minute"), std::string::npos) << said;
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
