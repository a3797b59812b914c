// vtxmessenger: the display-messages file (entries, separators, concurrent writers, the writers'
// lock), the PAM service file under I/O faults, the EXECUTE payload, and the program in the
// foreground on a private store, asked with socat: messages, programs under a real account made
// for the test, refusals, the watchdog alarm.
#include "messenger/messenger.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "platform/native/productpaths.h"
#include "tests/support/accounts.h"
#include "tests/support/child.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/iofaults.h"
#include "tests/support/paths.h"
#include "tests/support/rawpipe.h"
#include "tests/support/store.h"
#include "tests/support/syslog.h"
#include "tests/support/wait.h"

extern char** environ;

namespace {

const char kAppKey[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0";
const std::string kSep = "\r\n\r\n---\r\n\r\n";

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  size_t pos = 0;
  for (;;) {
    size_t at = text.find(kSep, pos);
    parts.push_back(text.substr(pos, at == std::string::npos ? std::string::npos : at - pos));
    if (at == std::string::npos) return parts;
    pos = at + kSep.size();
  }
}

using vtxtest::CopyData;
using vtxtest::U32;

std::string Str(const std::string& s) { return s + std::string(1, '\0'); }
std::string Execute(uint32_t wait, const std::string& file, const std::string& parameters, const std::string& user = "",
                    const std::string& domain = "", const std::string& password = "", const std::string& dir = "") {
  std::string p = U32(0) + U32(wait) + Str(file) + Str(parameters) + Str(dir) + Str(user) + Str(domain) + Str(password) +
                  std::string(4, '\0');
  return CopyData(3, p);
}

class Store : public ::testing::Test {
 protected:
  void SetUp() override { Put("Resources0409", vtxtest::SourcePath("resources/0409/vantrex.cat")); }
  void Put(const char* name, const std::string& value) {
    RegStringValueA v;
    v = value.c_str();
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, kAppKey, name), S_OK);
  }
  void PutDword(const char* name, DWORD value) {
    ASSERT_EQ(RegDwordValue(value).Save(HKEY_LOCAL_MACHINE, kAppKey, name), S_OK);
  }
  vtxtest::PrivateStore dir_;
};

using DisplayLog = Store;

TEST_F(DisplayLog, NewestFirstWithSeparatorsAndNoForgedEntries) {
  HMODULE lib = LoadResourceLibrary(kAppKey);
  ASSERT_NE(lib, nullptr);
  std::string path = dir_ / "display.txt";
  EXPECT_EQ(vtx::msg::WriteDisplayLog(path, "first", 0x10010, lib), S_OK);
  std::string one = vtxtest::ReadFile(path);
  EXPECT_EQ(one.find(kSep), std::string::npos) << "the first entry has no separator";
  EXPECT_NE(one.find("Error: first"), std::string::npos) << one;
  EXPECT_EQ(vtx::msg::WriteDisplayLog(path, "second", 0x80, lib), S_OK);
  std::vector<std::string> entries = Split(vtxtest::ReadFile(path));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_NE(entries[0].find("Message: second"), std::string::npos) << entries[0];
  EXPECT_EQ(entries[1], one);

  // A text that holds the separator stays one entry.
  EXPECT_EQ(vtx::msg::WriteDisplayLog(path, ("a" + kSep + "forged\r\n---").c_str(), 0x40, lib), S_OK);
  EXPECT_EQ(Split(vtxtest::ReadFile(path)).size(), 3u);
  // Nothing to write: no path, no text.
  EXPECT_EQ(vtx::msg::WriteDisplayLog("", "x", 0, lib), S_FALSE);
  EXPECT_EQ(vtx::msg::WriteDisplayLog(path, nullptr, 0, lib), S_FALSE);
  EXPECT_TRUE(vtx::msg::DeleteDisplayLog(path));
  EXPECT_FALSE(vtx::msg::DeleteDisplayLog(path));
  FreeLibrary(lib);
}

TEST_F(DisplayLog, TheFileKeepsTheNewestEntriesWithinItsBound) {
  HMODULE lib = LoadResourceLibrary(kAppKey);
  ASSERT_NE(lib, nullptr);
  std::string path = dir_ / "display.txt";
  // Forty messages of 1 MiB each: every one is cut to its bound, and the oldest give way.
  std::string big(1024 * 1024, 'x');
  for (int i = 0; i < 40; ++i) {
    std::string text = "message " + std::to_string(i) + " " + big;
    ASSERT_EQ(vtx::msg::WriteDisplayLog(path, text.c_str(), 0x40, lib), S_OK) << i;
  }
  std::string whole = vtxtest::ReadFile(path);
  EXPECT_LE(whole.size(), vtx::msg::kMaxDisplayFileBytes);
  std::vector<std::string> entries = Split(whole);
  ASSERT_GE(entries.size(), 10u);
  for (const std::string& e : entries) EXPECT_LE(e.size(), vtx::msg::kMaxDisplayEntryBytes);
  EXPECT_NE(entries[0].find("message 39 "), std::string::npos);
  EXPECT_NE(entries[1].find("message 38 "), std::string::npos);
  EXPECT_EQ(whole.find("message 0 "), std::string::npos);
  FreeLibrary(lib);
}

TEST_F(DisplayLog, ConcurrentWritersLoseNothingAndReadersSeeWholeFiles) {
  HMODULE lib = LoadResourceLibrary(kAppKey);
  ASSERT_NE(lib, nullptr);
  std::string path = dir_ / "display.txt";
  constexpr int kWriters = 4, kEach = 20;
  std::atomic<bool> done{false};
  std::atomic<int> badReads{0};
  std::thread reader([&] {
    while (!done) {
      std::string text = vtxtest::ReadFile(path);
      for (const std::string& e : Split(text))
        if (e.find("entry ") == std::string::npos || e.back() == '\r') ++badReads;
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      for (int i = 0; i < kEach; ++i) {
        std::string text = "entry " + std::to_string(w) + "." + std::to_string(i);
        EXPECT_EQ(vtx::msg::WriteDisplayLog(path, text.c_str(), 0x40, lib), S_OK);
      }
    });
  for (auto& t : writers) t.join();
  done = true;
  reader.join();
  EXPECT_EQ(badReads, 0);
  std::vector<std::string> entries = Split(vtxtest::ReadFile(path));
  ASSERT_EQ(entries.size(), static_cast<size_t>(kWriters * kEach));
  for (int w = 0; w < kWriters; ++w) {
    // Each writer's entries stand newest first.
    size_t last = 0;
    for (int i = kEach - 1; i >= 0; --i) {
      std::string text = ": entry " + std::to_string(w) + "." + std::to_string(i);
      size_t at = 0;
      auto endsWith = [&](const std::string& e) {
        return e.size() >= text.size() && e.compare(e.size() - text.size(), text.size(), text) == 0;
      };
      while (at < entries.size() && !endsWith(entries[at])) ++at;
      ASSERT_LT(at, entries.size()) << text;
      EXPECT_GE(at, last);
      last = at;
    }
  }
  FreeLibrary(lib);
}

TEST_F(DisplayLog, AWriterWaitsForTheLockAndGivesUpAfterTenTries) {
  HMODULE lib = LoadResourceLibrary(kAppKey);
  ASSERT_NE(lib, nullptr);
  std::string path = dir_ / "display.txt";
  int fd = open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  std::thread release([fd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    flock(fd, LOCK_UN);
  });
  EXPECT_EQ(vtx::msg::WriteDisplayLog(path, "late", 0x40, lib), S_OK);
  release.join();
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(vtx::msg::WriteDisplayLog(path, "lost", 0x40, lib), E_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(4000));
  close(fd);
  EXPECT_EQ(Split(vtxtest::ReadFile(path)).size(), 1u);
  FreeLibrary(lib);
}

// The installation's PAM service file, each system call failing in turn: a file set up by hand
// is never replaced, and a write that fails says so and leaves neither a part nor a temporary.
using PamServiceFile = Store;

TEST_F(PamServiceFile, IsWrittenWholeOrNotAtAllUnderIoFaults) {
  struct Installer : vtx::msg::Messenger {
    using vtx::msg::Messenger::OnInstalled;
  };
  const std::string folder = dir_ / "pam.d", file = folder + "/hulvane-vantrex";
  const std::string byHand = "auth required pam_deny.so\n";
  vtxtest::ScopedEnv pam(vtx::env::kPamDir, folder);
  for (bool handMade : {false, true}) {
    SCOPED_TRACE(handMade ? "a file set up by hand" : "no file yet");
    Installer installer;
    std::string message;
    vtxtest::WalkIoFaults<HRESULT>(
        [&] {
          std::filesystem::remove_all(folder);
          message.clear();
          if (handMade) {
            ASSERT_TRUE(std::filesystem::create_directory(folder) && vtxtest::WriteFile(file, byHand));
          }
        },
        [&] { return installer.OnInstalled(&message); },
        [&](const vtxtest::IoFault& fault, const HRESULT& hr) {
          if (fault.call.empty()) {
            EXPECT_EQ(hr, S_OK);
          }
          if (FAILED(hr)) {
            EXPECT_FALSE(message.empty());
          }
          if (handMade) {
            EXPECT_EQ(vtxtest::ReadFile(file), byHand);
          } else if (hr == S_OK) {
            EXPECT_EQ(vtxtest::ReadFile(file), vtx::LogonServiceText());
          } else {
            EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
            EXPECT_FALSE(std::filesystem::exists(file));
          }
          std::vector<std::string> left = vtxtest::FolderNames(folder);
          if (handMade || hr == S_OK) {
            EXPECT_EQ(left, std::vector<std::string>{"hulvane-vantrex"});
          } else {
            EXPECT_TRUE(left.empty()) << left.front();
          }
        });
  }
}

TEST(ExecutePayload, StringsMustEndInsideTheData) {
  std::string good = U32(7) + U32(1) + Str("\"/a b/prog\"") + Str("-x \"two words\"") + Str("/tmp") + Str("u") +
                     Str("") + Str("pw");
  vtx::msg::ExecuteRequest r;
  ASSERT_TRUE(vtx::msg::ParseExecute(good.data(), static_cast<DWORD>(good.size()), &r));
  EXPECT_EQ(r.wait, 1u);
  EXPECT_EQ(r.user, "u");
  EXPECT_EQ(r.password, "pw");
  vtx::ProgramStart start = vtx::msg::BuildCommandLine(r);
  EXPECT_EQ(start.program, "/a b/prog");
  EXPECT_EQ(start.arguments, (std::vector<std::string>{"-x", "two words"}));
  EXPECT_EQ(start.directory, "/tmp");
  for (size_t cut : {size_t{0}, size_t{7}, size_t{12}, good.size() - 1})
    EXPECT_FALSE(vtx::msg::ParseExecute(good.data(), static_cast<DWORD>(cut), &r)) << cut;
}

// ---------------------------------------------------------------------------------------------
// The program.

class MessengerProgram : public Store {
 protected:
  // useradd, chpasswd and userdel refuse while another holds the account files' lock: tried again.
  static bool Retry(const std::string& cmd) {
    for (int i = 0; i < 40; ++i) {
      if (std::system(cmd.c_str()) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
  }
  static void SetUpTestSuite() {
    user_ = "vtxm" + std::to_string(getpid() % 100000);
    // An account left by an earlier run that ended early goes first.
    if (std::system(("id -u " + user_ + " >/dev/null 2>&1").c_str()) == 0) Retry("userdel " + user_);
    made_ = Retry("useradd -M -N -s /bin/sh " + user_) &&
            Retry("echo '" + user_ + ":Pw-" + user_ + "' | chpasswd");
    std::ifstream in("/etc/passwd");
    std::string line;
    while (std::getline(in, line)) {
      if (line.compare(0, user_.size() + 1, user_ + ":") != 0) continue;
      // name:x:uid:gid:...
      size_t a = line.find(':', user_.size() + 1) + 1, b = line.find(':', a), c = line.find(':', b + 1);
      uid_ = std::stoi(line.substr(a, b - a));
      gid_ = std::stoi(line.substr(b + 1, c - b - 1));
    }
  }
  static void TearDownTestSuite() {
    if (made_) Retry("userdel " + user_);
  }
  void SetUp() override {
    Store::SetUp();
    ASSERT_TRUE(made_) << "the test account could not be made";
    log_ = std::make_unique<vtxtest::SyslogListener>(dir_.syslog());
    notify_ = std::make_unique<vtxtest::SyslogListener>(dir_ / "notify.sock");
    Put("DisplayMessages", dir_ / "display.txt");
    PutDword("MessagesToLog", 0);
    PutDword("ApplicationMonitor", 0);
    // Programs run as the test account write here.
    chmod(dir_.path().c_str(), 0755);
    mkdir((dir_ / "out").c_str(), 0777);
    chmod((dir_ / "out").c_str(), 0777);
    std::ofstream(dir_ / "idu.sh") << "#!/bin/sh\nid -u > \"$1\"\nexit \"${2:-0}\"\n";
    chmod((dir_ / "idu.sh").c_str(), 0755);
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      vtxtest::WaitExit(pid_, std::chrono::seconds(5));
    }
  }

  int Run(const std::vector<std::string>& args) {
    pid_t pid = Spawn(args);
    return pid > 0 ? vtxtest::WaitExit(pid) : -1;
  }
  pid_t Spawn(const std::vector<std::string>& args) {
    std::string program = vtxtest::Program("vtxmessenger");
    std::vector<char*> argv{program.data()};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    return pid;
  }
  void Start() {
    // The installation writes the PAM service file that the logons use, and makes the product's
    // account, whose rights the messenger takes for the display-messages file.
    ASSERT_EQ(Run({"-RegServer"}), 0);
    ASSERT_EQ(vtxtest::ReadFile(dir_ / "pam.d/hulvane-vantrex"), vtx::LogonServiceText());
    uid_t uid;
    gid_t gid;
    ASSERT_TRUE(account_.Ids(&uid, &gid)) << "the installation made no account " << account_.name();
    ASSERT_EQ(chown(dir_.path().c_str(), uid, gid), 0);
    pid_ = Spawn({});
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i) ready = notify_->Receive(300).find("READY=1") != std::string::npos;
    ASSERT_TRUE(ready);
  }

  // One request with socat; `as` runs socat under the test account.
  std::string Ask(const std::string& request, bool asTestUser = false) {
    std::string prefix = asTestUser ? "setpriv --reuid=" + std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
                                          " --clear-groups "
                                    : "";
    return vtxtest::Socat(dir_ / "HulvaneVantrexMsngPipe", request, dir_.path(), prefix, 40);
  }

  static std::string user_;
  static int uid_, gid_;
  static bool made_;
  vtxtest::ThrowawayProductAccount account_{"q"};
  vtxtest::ScopedEnv units_{vtx::env::kUnitDir, dir_ / "units"}, pam_{vtx::env::kPamDir, dir_ / "pam.d"},
      notifySocket_{"NOTIFY_SOCKET", dir_ / "notify.sock"};
  std::unique_ptr<vtxtest::SyslogListener> log_, notify_;
  pid_t pid_ = -1;
};
std::string MessengerProgram::user_;
int MessengerProgram::uid_ = -1;
int MessengerProgram::gid_ = -1;
bool MessengerProgram::made_ = false;

TEST_F(MessengerProgram, MessagesGoToTheDisplayFile) {
  Start();
  std::string box11 = CopyData(1, U32(0) + U32(0x40) + std::string(3, '\0'), 11);
  EXPECT_EQ(Ask(box11), U32(0));
  EXPECT_EQ(access((dir_ / "display.txt").c_str(), F_OK), -1) << "cbData 11 is ignored";
  EXPECT_EQ(Ask(CopyData(1, U32(0) + U32(0x40) + std::string(4, '\0'), 12)), U32(0));
  EXPECT_EQ(Split(vtxtest::ReadFile(dir_ / "display.txt")).size(), 1u) << "cbData 12: an empty message";
  std::string text = "Rates are late";
  std::string box = U32(0) + U32(0x10030) + Str(text) + Str("Caption") + std::string(4, '\0');
  EXPECT_EQ(Ask(CopyData(1, box, static_cast<uint32_t>(box.size()))), U32(0));
  EXPECT_EQ(Ask(CopyData(2, U32(0) + Str("From a dialog") + std::string(4, '\0'), 22)), U32(0));
  // Unterminated texts are refused.
  EXPECT_EQ(Ask(CopyData(2, U32(0) + "abcdefgh", 12)), U32(0));
  std::vector<std::string> entries = Split(vtxtest::ReadFile(dir_ / "display.txt"));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NE(entries[0].find("Message: From a dialog"), std::string::npos) << entries[0];
  EXPECT_NE(entries[1].find("Warning: Rates are late"), std::string::npos) << entries[1];
  EXPECT_EQ(Ask(U32(0x8000) + U32(0) + U32(0)), U32(1));
  EXPECT_EQ(Ask(U32(0x8000) + U32(0) + U32(0)), U32(0));

  ASSERT_EQ(kill(pid_, SIGTERM), 0);
  EXPECT_EQ(vtxtest::WaitExit(pid_, std::chrono::seconds(10)), 0);
  pid_ = -1;
}

TEST_F(MessengerProgram, ProgramsRunUnderTheGivenAccountOrTheCaller) {
  Start();
  const std::string script = dir_ / "idu.sh";
  const std::string pw = "Pw-" + user_;
  struct Case {
    const char* what;
    std::string request;
    uint32_t reply;
    std::string uid;  // what the program wrote, "" when it must not run
  } cases[] = {
      {"the account, waited", Execute(1, script, dir_ / "out/a", user_, "", pw), 0, std::to_string(uid_)},
      {"this machine as domain", Execute(1, script, dir_ / "out/b", user_, ".", pw), 0, std::to_string(uid_)},
      {"an exit code (1-15 read back as a failure)", Execute(1, script, dir_ / "out/c 3", user_, "", pw), 0x80004005,
       std::to_string(uid_)},
      {"no account: the caller (root)", Execute(1, script, dir_ / "out/d"), 0, "0"},
      {"wrong password", Execute(1, script, dir_ / "out/e", user_, "", "wrong"), 0x8007052E, ""},
      {"unknown user", Execute(1, script, dir_ / "out/f", "no-such-vtx-user", "", "x"), 0x8007052E, ""},
      {"another domain", Execute(1, script, dir_ / "out/g", user_, "ELSEWHERE", pw), 0x8007054B, ""},
      {"missing program", Execute(1, dir_ / "nothing.sh", "", user_, "", pw), 0x80070002, ""},
      {"empty file name", Execute(1, "", ""), 0, ""},
      {"malformed", CopyData(3, U32(0) + U32(1) + "abc", 11), 0x80070057, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(c.request), U32(c.reply)) << c.what;
  }
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "out/a"), std::to_string(uid_) + "\n");
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "out/b"), std::to_string(uid_) + "\n");
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "out/c"), std::to_string(uid_) + "\n");
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "out/d"), "0\n");
  for (const char* f : {"out/e", "out/f", "out/g"}) EXPECT_NE(access((dir_ / f).c_str(), F_OK), 0) << f;

  // Not waited: the reply comes at once, the program runs on.
  EXPECT_EQ(Ask(Execute(0, script, dir_ / "out/h", user_, "", pw)), U32(0));
  EXPECT_TRUE(vtxtest::Eventually([&] { return vtxtest::ReadFile(dir_ / "out/h") == std::to_string(uid_) + "\n"; }));
}

TEST_F(MessengerProgram, AnUnprivilegedCallerIsRefusedAndAWaitedProgramBlocksNobody) {
  Start();
  // Let the test account reach the pipe at all.
  chmod(dir_.path().c_str(), 0777);
  chmod((dir_ / "HulvaneVantrexMsngPipe").c_str(), 0666);
  EXPECT_EQ(Ask(Execute(1, "/bin/true", ""), true), U32(0x80070005));
  EXPECT_EQ(Ask(Execute(1, dir_ / "idu.sh", dir_ / "out/x", user_, "", "Pw-" + user_), true), U32(0x80070005));
  EXPECT_NE(access((dir_ / "out/x").c_str(), F_OK), 0);
  // Messages are anyone's who can reach the pipe.
  std::string box = U32(0) + U32(0x40) + Str("hello") + Str("") + std::string(4, '\0');
  EXPECT_EQ(Ask(CopyData(1, box, static_cast<uint32_t>(box.size())), true), U32(0));

  // A program that takes two seconds; a message meanwhile is answered at once.
  std::string slow = U32(0) + U32(1) + Str("/bin/sleep") + Str("2") + Str("") + Str("") + Str("") + Str("") +
                     std::string(4, '\0');
  std::string slowReply;
  auto begin = std::chrono::steady_clock::now();
  std::thread waiter([&] { slowReply = Ask(CopyData(3, slow, static_cast<uint32_t>(slow.size()))); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask(CopyData(1, box, static_cast<uint32_t>(box.size()))), U32(0));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1500));
  waiter.join();
  EXPECT_EQ(slowReply, U32(0));
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(2000));
}

TEST_F(MessengerProgram, WatchdogAlarmWhenTheServiceIsSilent) {
  PutDword("ApplicationMonitor", 1);
  PutDword("MessagesToLog", 1);
  Start();
  // No vtxservice runs here: the alarm goes to the display file and the event log.
  EXPECT_TRUE(vtxtest::Eventually([&] { return vtxtest::ReadFile(dir_ / "display.txt").find("service does not answer") != std::string::npos; }))
      << vtxtest::ReadFile(dir_ / "display.txt");
  bool logged = false;
  for (int i = 0; i < 20 && !logged; ++i) logged = log_->Receive(500).find("service does not answer") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(MessengerProgram, ADisplayFileWhereTheProductAccountMayNotWriteIsNotWrittenAndTheAlarmIsLogged) {
  // A member of the product's group names a file that only root may write: the messenger, which
  // runs as root, writes with the product account's rights, so nothing is written there, and the
  // screen-only alarm reaches the event log instead.
  std::string closed = dir_ / "root-only";
  ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
  Put("DisplayMessages", closed + "/display.txt");
  PutDword("ApplicationMonitor", 1);
  PutDword("MessagesToLog", 0);
  Start();
  std::string box = U32(0) + U32(0x40) + Str("planted") + Str("") + std::string(4, '\0');
  EXPECT_EQ(Ask(CopyData(1, box, static_cast<uint32_t>(box.size()))), U32(0));
  bool logged = false;
  for (int i = 0; i < 20 && !logged; ++i)
    logged = log_->Receive(500).find("service does not answer") != std::string::npos;
  EXPECT_TRUE(logged);
  EXPECT_NE(access((closed + "/display.txt").c_str(), F_OK), 0);
  EXPECT_NE(access((closed + "/display.txt.lock").c_str(), F_OK), 0);
}

TEST_F(MessengerProgram, WithoutItsResourceLibraryItStopsWithCodeTwo) {
  Put("Resources0409", dir_ / "missing.cat");
  EXPECT_EQ(Run({}), 2);
  bool logged = false;
  for (int i = 0; i < 10 && !logged; ++i)
    logged = log_->Receive(500).find("The resource library could not be loaded.") != std::string::npos;
  EXPECT_TRUE(logged);
}

}  // namespace
