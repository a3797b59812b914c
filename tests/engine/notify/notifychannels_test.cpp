#include "engine/notify/notifychannels.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "engine/notify/pipemessage.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/sysinfo.h"
#include "tests/support/accounts.h"
#include "tests/support/child.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/iofaults.h"
#include "tests/support/net.h"
#include "tests/support/paths.h"
#include "tests/support/rawpipe.h"
#include "tests/support/store.h"
#include "tests/support/syslog.h"
#include "tests/support/text.h"
#include "tests/support/wait.h"

namespace {

// How many descriptors of this process have the file open.
int OpenCount(const std::string& path) {
  int n = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator i("/proc/self/fd", error), end; !error && i != end; i.increment(error))
    if (std::filesystem::read_symlink(i->path(), error) == path) ++n;
  return n;
}

using vtxtest::ReadFile;

using vtxtest::SyslogListener;

class Channels : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(vtxtest::SourcePath("resources/0409/vantrex.cat").c_str());
    ASSERT_NE(module_, nullptr);
    char name[256];
    ASSERT_TRUE(GetComputerDomainName(name, sizeof name));
    computer_ = name;
  }
  void TearDown() override { FreeLibrary(module_); }
  void SetRecentOnTop(DWORD value) {
    RegDwordValue v(value);
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, "MessagesFileRecentOnTop"), S_OK);
  }
  // The texts of the entries in file order.
  static std::vector<std::string> EntryTexts(const std::string& file) {
    std::vector<std::string> texts;
    static const std::regex entry("---\r\n\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ [^\r\n]+\r\n([^\r\n]*)\r\n");
    for (std::sregex_iterator i(file.begin(), file.end(), entry), end; i != end; ++i) texts.push_back((*i)[1]);
    return texts;
  }

  vtxtest::PrivateStore store_;
  HMODULE module_ = nullptr;
  std::string computer_;
  CEventLog eventLog_;
};

TEST_F(Channels, KindOfEachIconPicksEventTypeTitleAndTypeWord) {
  struct Case {
    UINT flags;
    WORD eventType;
    UINT title, typeWord;
  } cases[] = {
      {0x10010, EVENTLOG_ERROR_TYPE, 169, 370},       {0x10030, EVENTLOG_WARNING_TYPE, 168, 371},
      {0x10040, EVENTLOG_INFORMATION_TYPE, 167, 372}, {0x10000, EVENTLOG_INFORMATION_TYPE, 167, 372},
      {0x80, EVENTLOG_INFORMATION_TYPE, 167, 373},    {0x20, EVENTLOG_INFORMATION_TYPE, 167, 372},
  };
  for (const Case& c : cases) {
    MessageKind k = GetMessageKind(c.flags);
    EXPECT_EQ(k.eventType, c.eventType) << std::hex << c.flags;
    EXPECT_EQ(k.titleId, c.title) << std::hex << c.flags;
    EXPECT_EQ(k.typeWordId, c.typeWord) << std::hex << c.flags;
  }
  char* title = MakeMessageTitle(0x10030, module_);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(std::string(title), "Vantrex warning from " + computer_);
  LocalFree(title);
  EXPECT_EQ(MakeMessageTitle(0x10010, nullptr), nullptr);  // no catalogue, no string
}

// In a host-name namespace of its own, so that the machine has a domain whatever it is called.
TEST(ComputerName, DomainNameIsCutToTheBuffer) {
  int r = vtxtest::InChild([] {
    const char name[] = "relay.example.org";
    // Unprivileged, a user namespace of its own grants the host-name namespace.
    if (unshare(CLONE_NEWUTS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWUTS) != 0) return 77;
    if (sethostname(name, sizeof name - 1) != 0) return 77;
    char full[64], cut[9], label[6];
    bool ok = GetComputerDomainName(full, sizeof full) && std::strcmp(full, name) == 0 &&
              GetComputerDomainName(cut, sizeof cut) && std::strcmp(cut, "relay.ex") == 0 &&
              GetComputerDomainName(label, sizeof label) && std::strcmp(label, "relay") == 0;
    return ok ? 0 : 1;
  });
  if (r == 77) GTEST_SKIP() << "no host-name namespace here";
  EXPECT_EQ(r, 0);
}

TEST_F(Channels, EventLogEntryHasTheKindsTypeAndTheText) {
  SyslogListener listener(store_ / "log");
  ASSERT_TRUE(listener.bound());
  EXPECT_EQ(MessageToLog("Rates are stale.", 0x10030, &eventLog_), S_OK);
  std::string got = listener.Receive();
  EXPECT_NE(got.find(" HulvaneVantrex["), std::string::npos) << got;
  EXPECT_NE(got.find("event 0x40000001 warning: Rates are stale."), std::string::npos) << got;
  EXPECT_EQ(MessageToLog("Stored.", 0x10040, &eventLog_), S_OK);
  EXPECT_NE(listener.Receive().find("event 0x40000001 information: Stored."), std::string::npos);

  EXPECT_EQ(MessageToLog("x", 0x10, nullptr), E_POINTER);
  CEventLog missing;
  missing.m_pReportEventA = nullptr;
  EXPECT_EQ(MessageToLog("x", 0x10, &missing), 0x80070485u);
}

TEST_F(Channels, LogFileNewestFirstUnlessTurnedOff) {
  std::string base = store_ / "messages";
  ASSERT_EQ(MessageToFile("first", 0x10040, base.c_str(), module_, &eventLog_, TRUE), S_OK);
  ASSERT_EQ(MessageToFile("second", 0x10010, base.c_str(), module_, &eventLog_, TRUE), S_OK);
  std::string file = ReadFile(base + ".log");
  EXPECT_EQ(EntryTexts(file), (std::vector<std::string>{"second", "first"})) << file;
  EXPECT_EQ(file.rfind("---\r\n", 0), 0u);
  EXPECT_NE(file.find("Z Vantrex error from " + computer_ + "\r\nsecond\r\n"), std::string::npos) << file;
  // Nothing but the two entries: "---\r\n", time, blank, title, CR LF, text, CR LF each.
  size_t fixed = 5 + 20 + 1 + 2 + 2;
  EXPECT_EQ(file.size(), fixed + std::strlen("Vantrex information from ") + computer_.size() + std::strlen("first") +
                             fixed + std::strlen("Vantrex error from ") + computer_.size() + std::strlen("second"));

  SetRecentOnTop(0);
  ASSERT_EQ(MessageToFile("third", 0x10030, base.c_str(), module_, &eventLog_, TRUE), S_OK);
  EXPECT_EQ(EntryTexts(ReadFile(base + ".log")), (std::vector<std::string>{"second", "first", "third"}));
  SetRecentOnTop(1);
  ASSERT_EQ(MessageToFile("fourth", 0x10030, base.c_str(), module_, &eventLog_, TRUE), S_OK);
  EXPECT_EQ(EntryTexts(ReadFile(base + ".log"))[0], "fourth");
}

TEST_F(Channels, LogExtensionIsAddedOnlyWhenMissingAndAskedFor) {
  struct Case {
    const char* name;
    BOOL add;
    const char* written;
  } cases[] = {{"a", TRUE, "a.log"}, {"b.LOG", TRUE, "b.LOG"}, {"c.txt", TRUE, "c.txt.log"}, {"d.txt", FALSE, "d.txt"}};
  for (const Case& c : cases) {
    EXPECT_EQ(MessageToFile("m", 0, (store_ / c.name).c_str(), module_, &eventLog_, c.add), S_OK);
    EXPECT_EQ(EntryTexts(ReadFile(store_ / c.written)).size(), 1u) << c.name;
  }
  // Nothing to write and nowhere to write it are no failures.
  EXPECT_EQ(MessageToFile(nullptr, 0, (store_ / "e").c_str(), module_, &eventLog_, TRUE), S_OK);
  EXPECT_EQ(MessageToFile("m", 0, "", module_, &eventLog_, TRUE), S_OK);
  EXPECT_NE(access((store_ / "e.log").c_str(), F_OK), 0);
}

TEST_F(Channels, LockedLogFileFailsWithSharingViolationAndTellsTheEventLog) {
  SyslogListener listener(store_ / "log");
  ASSERT_TRUE(listener.bound());
  std::string path = store_ / "held.log";
  ASSERT_EQ(MessageToFile("kept", 0, path.c_str(), module_, &eventLog_, FALSE), S_OK);
  int fd = vtx::notify::OpenMessageFile(path.c_str(), 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(MessageToFile("lost", 0, path.c_str(), module_, &eventLog_, FALSE), HRESULT_FROM_WIN32(32));
  std::string got = listener.Receive();
  EXPECT_NE(got.find("event 0x40000001 error: A notification could not be written to the messages file:"),
            std::string::npos)
      << got;
  // A second opener of the same file inside this process is held off too.
  EXPECT_EQ(vtx::notify::OpenMessageFile(path.c_str(), 0), -1);
  close(fd);
  EXPECT_EQ(EntryTexts(ReadFile(path)), (std::vector<std::string>{"kept"}));
  // Once released, a writer that waits gets its turn.
  fd = vtx::notify::OpenMessageFile(path.c_str(), 0);
  ASSERT_GE(fd, 0);
  std::thread release([&path, fd] {
    // Once the writer below has the file open too, and so waits for its turn.
    EXPECT_TRUE(vtxtest::Eventually([&] { return OpenCount(path) == 2; }));
    close(fd);
  });
  EXPECT_EQ(MessageToFile("after", 0, path.c_str(), module_, &eventLog_, FALSE), S_OK);
  release.join();
  EXPECT_EQ(EntryTexts(ReadFile(path)), (std::vector<std::string>{"after", "kept"}));
}

// The store names the messages file, and the product's group writes the store: a root process
// writes it with the rights of the product's account, never where only root may write; without
// that account (but with the group) only in the store's folder.
TEST_F(Channels, RootWritesTheMessagesFileOnlyWhereTheProductAccountMay) {
  ASSERT_EQ(geteuid(), 0u) << "the case is root's";
  vtxtest::ThrowawayProductAccount account("n");
  ASSERT_TRUE(account.Make());
  uid_t uid;
  gid_t gid;
  ASSERT_TRUE(account.Ids(&uid, &gid));
  std::string closed = store_ / "root-only";
  std::string open = store_ / "accounts";
  ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(chown(open.c_str(), uid, gid), 0);
  chmod(store_.path().c_str(), 0755);
  std::ofstream(closed + "/secret.log") << "root's own\n";
  EXPECT_EQ(MessageToFile("planted", 0, (closed + "/secret.log").c_str(), module_, &eventLog_, FALSE),
            HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadFile(closed + "/secret.log"), "root's own\n");
  EXPECT_EQ(MessageToFile("new", 0, (closed + "/new.log").c_str(), module_, &eventLog_, FALSE),
            HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_NE(access((closed + "/new.log").c_str(), F_OK), 0);
  // Where the account may write, the file is written, and it is the account's.
  ASSERT_EQ(MessageToFile("kept", 0, (open + "/alarm.log").c_str(), module_, &eventLog_, FALSE), S_OK);
  struct stat st{};
  ASSERT_EQ(stat((open + "/alarm.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid);
  EXPECT_EQ(EntryTexts(ReadFile(open + "/alarm.log")), (std::vector<std::string>{"kept"}));
}

// The messages file is a plain file of ours: a link in its place, a second name, a FIFO or a folder
// is refused and left as it was; a new file is private to the product.
TEST_F(Channels, LogFileIsOnlyAPlainFileAndNewOnesArePrivate) {
  std::string target = store_ / "target.txt";
  std::ofstream(target) << "untouched";
  std::string link = store_ / "link.log";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  std::string hard = store_ / "hard.log";
  ASSERT_EQ(::link(target.c_str(), hard.c_str()), 0);
  std::string fifo = store_ / "fifo.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string folder = store_ / "folder.log";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string& path : {link, hard, fifo})
    EXPECT_EQ(MessageToFile("m", 0, path.c_str(), module_, &eventLog_, FALSE), E_ACCESSDENIED) << path;
  EXPECT_TRUE(FAILED(MessageToFile("m", 0, folder.c_str(), module_, &eventLog_, FALSE)));
  EXPECT_EQ(ReadFile(target), "untouched");

  mode_t old = umask(0);
  HRESULT hr = MessageToFile("m", 0, (store_ / "new").c_str(), module_, &eventLog_, TRUE);
  umask(old);
  EXPECT_EQ(hr, S_OK);
  struct stat st;
  ASSERT_EQ(stat((store_ / "new.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A full disk, made by a file size limit: the write fails before the file changes, in both orders.
TEST_F(Channels, FullDiskLeavesTheLogFileWhole) {
  SyslogListener listener(store_ / "log");
  ASSERT_TRUE(listener.bound());
  std::string path = store_ / "full.log";
  std::string big(3000, 'x');
  ASSERT_EQ(MessageToFile(big.c_str(), 0, path.c_str(), module_, &eventLog_, FALSE), S_OK);
  ASSERT_EQ(MessageToFile("second", 0, path.c_str(), module_, &eventLog_, FALSE), S_OK);
  const std::string before = ReadFile(path);

  for (DWORD onTop : {1u, 0u}) {
    SetRecentOnTop(onTop);
    sighandler_t old = signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = before.size() + 20;  // room for a part of the entry only
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    HRESULT hr = MessageToFile("does not fit", 0, path.c_str(), module_, &eventLog_, FALSE);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_DISK_FULL)) << onTop;
    EXPECT_EQ(ReadFile(path), before) << onTop;
    EXPECT_NE(listener.Receive().find("could not be written to the messages file"), std::string::npos);
  }
}

// An entry fails at each system call in turn, on top and at the end, with EIO and with short
// transfers: the file holds its old entries, or those and the new one whole; a success always has
// it. (A full disk is the file size limit's test above: the room is reserved before anything is
// written, so later calls do not run out of it.)
TEST_F(Channels, AnEntryIsWholeOrAbsentWhateverCallFails) {
  const std::string path = store_ / "walk.log";
  ASSERT_EQ(MessageToFile("first", 0, path.c_str(), module_, &eventLog_, FALSE), S_OK);
  ASSERT_EQ(MessageToFile("second", 0, path.c_str(), module_, &eventLog_, FALSE), S_OK);
  const std::string before = ReadFile(path);
  const std::vector<std::string> oldTexts = EntryTexts(before);
  // One whole entry; its title names "localhost" where the computer's name could not be had.
  static const std::regex walkEntry("---\r\n\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ Vantrex information from "
                                    "([^\r\n]+)\r\nwalk\r\n");
  using Kind = vtx::sys::faults::Kind;
  for (DWORD onTop : {1u, 0u}) {
    SetRecentOnTop(onTop);
    std::vector<std::string> withEntry = oldTexts;
    withEntry.insert(onTop ? withEntry.begin() : withEntry.end(), "walk");
    for (Kind kind : {Kind::kError, Kind::kShort}) {
      SCOPED_TRACE(std::string(onTop ? "on top" : "at the end") + (kind == Kind::kShort ? ", short" : ", EIO"));
      vtxtest::WalkIoFaults<HRESULT>(
          [&] { ASSERT_TRUE(vtxtest::WriteFile(path, before)); },
          [&] { return MessageToFile("walk", 0, path.c_str(), module_, &eventLog_, FALSE); },
          [&](const vtxtest::IoFault&, const HRESULT& hr) {
            std::string now = ReadFile(path);
            if (now == before) {
              EXPECT_TRUE(FAILED(hr)) << "a success without the entry";
              return;
            }
            // The old bytes untouched, and exactly one whole entry beside them.
            ASSERT_GT(now.size(), before.size()) << now;
            const size_t added = now.size() - before.size();
            EXPECT_EQ(onTop ? now.substr(added) : now.substr(0, before.size()), before);
            std::smatch entry;
            const std::string entryBytes = onTop ? now.substr(0, added) : now.substr(before.size());
            ASSERT_TRUE(std::regex_match(entryBytes, entry, walkEntry)) << now;
            EXPECT_TRUE(entry[1] == computer_ || entry[1] == "localhost") << now;
            EXPECT_EQ(EntryTexts(now), withEntry) << now;
          },
          EIO, false, kind);
    }
  }
}

TEST_F(Channels, RunMessagesTextStacksLikeTheFile) {
  CStringA log;
  EXPECT_FALSE(MessageToString(nullptr, 0, log, module_));
  ASSERT_TRUE(MessageToString("one", 0x10040, log, module_));
  ASSERT_TRUE(MessageToString("two", 0x10030, log, module_));
  EXPECT_EQ(EntryTexts(log.c_str()), (std::vector<std::string>{"two", "one"}));
  SetRecentOnTop(0);
  ASSERT_TRUE(MessageToString("three", 0, log, module_));
  EXPECT_EQ(EntryTexts(log.c_str()), (std::vector<std::string>{"two", "one", "three"}));
}

TEST_F(Channels, DisplayHeaderPicksTheSourceFormForSourceNotices) {
  char* plain = DisplayMessageEntry("Rates stored", 0x10030, module_);
  ASSERT_NE(plain, nullptr);
  std::string p = plain;
  LocalFree(plain);
  static const std::regex header(
      ".+ \\(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\\) Warning: Rates stored");
  EXPECT_TRUE(std::regex_match(p, header)) << p;

  char* source = DisplayMessageEntry("Data source: ECB (daily)\r\nNo rates", 0x80, module_);
  ASSERT_NE(source, nullptr);
  std::string s = source;
  LocalFree(source);
  EXPECT_NE(s.find(") Message from a data source: Data source: ECB"), std::string::npos) << s;
}

TEST(MailAddress, ListsOfEntries) {
  struct Case {
    const char* list;
    std::vector<std::pair<std::string, std::string>> entries;  // name, address
  } cases[] = {
      {"a@x.org; \"Ann Lee\" <ann@y.org>, c@z.org",
       {{"", "a@x.org"}, {"Ann Lee", "ann@y.org"}, {"", "c@z.org"}}},
      {"<only@x.org>", {{"", "only@x.org"}}},
      {"  first@x.org second@x.org ", {{"", "second@x.org"}}},  // a later word replaces the address
      {"a@x.org;;  ,b@x.org", {{"", "a@x.org"}, {"", "b@x.org"}}},
      {"", {}},
      {" \t ;", {}},
  };
  for (const Case& c : cases) {
    const char* pos = c.list;
    CStringA name, address;
    for (const auto& e : c.entries) {
      ASSERT_TRUE(GetMailAddress(&pos, name, address)) << c.list;
      EXPECT_EQ(vtxtest::Narrow(name.c_str()), e.first) << c.list;
      EXPECT_EQ(vtxtest::Narrow(address.c_str()), e.second) << c.list;
    }
    EXPECT_FALSE(GetMailAddress(&pos, name, address)) << c.list;
    EXPECT_EQ(*pos, '\0') << c.list;
  }
  for (const char* broken : {"\"Ann <ann@y.org>", "Ann <ann@y.org", "a@x.org \"unclosed"}) {
    const char* pos = broken;
    CStringA name, address;
    EXPECT_FALSE(GetMailAddress(&pos, name, address)) << broken;
  }
}

TEST(CommandLine, ProgramAndArguments) {
  struct Case {
    const char* line;
    const char* program;
    const char* arguments;
  } cases[] = {
      {"  \"/opt/my tools/check\"  -k  KEY ", "/opt/my tools/check", "-k  KEY "},
      {"/usr/bin/act a b", "/usr/bin/act", "a b"},
      {"/usr/bin/act", "/usr/bin/act", ""},
      {"\"/no/closing quote", "/no/closing quote", ""},
      {"\"\" args", "", "args"},
      {"   ", "", ""},
  };
  for (const Case& c : cases) {
    CStringA program = "stale", arguments = "stale";
    SplitCommandLine(c.line, program, arguments);
    EXPECT_EQ(vtxtest::Narrow(program.c_str()), c.program) << c.line;
    EXPECT_EQ(vtxtest::Narrow(arguments.c_str()), c.arguments) << c.line;
  }
}

// The messenger requests as a listener that is not ours (socat) receives them.
class Messenger : public ::testing::Test {
 protected:
  // `size` bytes of each request are kept, then `reply` goes back.
  void Listen(size_t size, uint32_t reply) { ASSERT_EQ(peer_.Listen(dir_ / "HulvaneVantrexMsngPipe", size, reply), ""); }
  // What arrived, with the sender's data pointer (bytes 20-23) blanked.
  std::string Received() {
    std::string got = peer_.Received();
    if (got.size() >= 24) got.replace(20, 4, 4, '\0');
    return got;
  }
  static std::string Head(uint32_t dwData, uint32_t cbData) {
    std::string h;
    auto put = [&h](uint32_t v) {
      for (int i = 0; i < 4; ++i) h.push_back(static_cast<char>(v >> (8 * i)));
    };
    put(74);
    put(0);
    h.append(4, '\0');  // lParam: the sender's pointer, blanked below
    put(dwData);
    put(cbData);
    put(0);
    return h;
  }
  static std::string Blank8(std::string s) {
    s.replace(8, 4, 4, '\0');
    return s;
  }

  vtxtest::TempDir dir_;
  vtxtest::ScopedEnv runtime_{vtx::env::kRuntimeDir, dir_.path()};
  vtxtest::SocatPeer peer_{dir_.path()};
};

TEST_F(Messenger, MessageBoxBytes) {
  std::string expected = Head(1, 5 + 7 + 14) + std::string("\x34\x12\x00\x00\x30\x00\x01\x00", 8) +
                         std::string("Stale\0Vantrex\0\0\0\0\0", 18);
  Listen(expected.size(), 0);
  EXPECT_EQ(PipeMessageBox(reinterpret_cast<HWND>(0x1234), "Stale", "Vantrex", 0x10030), S_OK);
  EXPECT_EQ(Blank8(Received()), expected);
}

TEST_F(Messenger, MessageDialogBytes) {
  std::string expected = Head(2, 4 + 9) + std::string("\x07\x00\x00\x00" "Info\0\0\0\0\0", 13);
  Listen(expected.size(), 0);
  EXPECT_EQ(PipeMessageDialog(7, "Info"), S_OK);
  EXPECT_EQ(Blank8(Received()), expected);
}

TEST_F(Messenger, ExecuteBytesAndReply) {
  // A missing string travels as an empty one.
  std::string strings("/bin/act\0-x\0/tmp\0\0\0pw\0", 22);
  std::string expected = Head(3, 18 + 8 + 2 + 4 + 0 + 0 + 2) + std::string("\x00\x00\x00\x00\x01\x00\x00\x00", 8) +
                         strings + std::string(4, '\0');
  Listen(expected.size(), 3);
  EXPECT_EQ(PipeExecute(nullptr, "/bin/act", "-x", "/tmp", nullptr, "", "pw", TRUE), 3u);
  EXPECT_EQ(Blank8(Received()), expected);
}

// The request is delivered without data; what the messenger answers does not matter.
TEST_F(Messenger, DeleteDisplayLogBytes) {
  EXPECT_EQ(PipeDeleteDisplayLog(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  Listen(12, 0x12345678);
  EXPECT_EQ(PipeDeleteDisplayLog(), S_OK);
  EXPECT_EQ(Received(), std::string("\x00\x80\x00\x00", 4) + std::string(8, '\0'));
}

TEST_F(Messenger, CanSendOnlyWhileTheMessengerServes) {
  EXPECT_FALSE(CanSendVXMMessages());
  {
    CPipeMessageServer server;
    ASSERT_EQ(server.Create(g_szMessengerPipe), S_OK);
    EXPECT_TRUE(CanSendVXMMessages());
  }
  EXPECT_FALSE(CanSendVXMMessages());
}

TEST_F(Messenger, WithoutTheMessenger) {
  EXPECT_EQ(PipeExecute(nullptr, "/bin/true", "", "", "", "", "", FALSE), E_SERVER_UNAVAILABLE);
  EXPECT_EQ(PipeMessageBox(nullptr, "t", "c", 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(PipeMessageBox(nullptr, nullptr, "c", 0), E_INVALIDARG);
  EXPECT_EQ(PipeMessageDialog(0, nullptr), E_INVALIDARG);
}

}  // namespace
