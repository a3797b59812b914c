#include "platform/eventlog.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/errors.h"
#include "platform/native/productpaths.h"
#include "platform/resources.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/syslog.h"

namespace {

using Listener = vtxtest::SyslogListener;

class EventLog : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string cat = dir_ / "msg.cat";
    std::ofstream(cat) << "[messages]\n0xA Vantrex application started.\n0x40000001 %1\n"
                          "0xC0000005 The Vantrex application could not be started.\\r\\n\n"
                          "0x20 %1 and %2\n";
    module_ = LoadLibraryA(cat.c_str());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }
  vtxtest::TempDir dir_;
  std::string socket_ = dir_ / "log";
  vtxtest::ScopedEnv syslog_{vtx::env::kSyslogSocket, socket_};
  HMODULE module_ = nullptr;
};

TEST_F(EventLog, EntryArrivesWithIdTypeAndText) {
  Listener listener(socket_);
  ASSERT_TRUE(listener.bound());
  HANDLE h = RegisterEventSourceA(nullptr, "Hulvane Vantrex");
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0xA, nullptr, 0, 0, nullptr, nullptr));
  std::string got = listener.Receive();
  EXPECT_EQ(got.rfind("<30>", 0), 0u) << got;  // daemon.info
  EXPECT_NE(got.find(" HulvaneVantrex["), std::string::npos) << got;
  EXPECT_NE(got.find("]: event 0x0000000A information: Vantrex application started."), std::string::npos) << got;

  LPCSTR strings[] = {"Rates of 2005-08-22\r\nwere stored."};
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_WARNING_TYPE, 0, 0x40000001, nullptr, 1, 0, strings, nullptr));
  got = listener.Receive();
  EXPECT_EQ(got.rfind("<28>", 0), 0u) << got;
  EXPECT_NE(got.find("event 0x40000001 warning: Rates of 2005-08-22 were stored."), std::string::npos) << got;

  // Control characters of a text reach the log escaped: no terminal or log line is steered by them.
  LPCSTR controls[] = {"\x1B[31mred\x07\tbell\x7F \x81 end"};
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_WARNING_TYPE, 0, 0x40000001, nullptr, 1, 0, controls, nullptr));
  got = listener.Receive();
  EXPECT_NE(got.find("warning: \\x1B[31mred\\x07\\x09bell\\x7F \\x81 end"), std::string::npos) << got;

  unsigned char exitCode = 0xFF;
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0xC0000005, nullptr, 0, 1, nullptr, &exitCode));
  got = listener.Receive();
  EXPECT_EQ(got.rfind("<27>", 0), 0u) << got;
  EXPECT_NE(got.find("error: The Vantrex application could not be started. [data: FF]"), std::string::npos) << got;
  EXPECT_TRUE(DeregisterEventSource(h));
}

TEST_F(EventLog, MissingTextOrInsertsStillLogs) {
  Listener listener(socket_);
  HANDLE h = RegisterEventSourceA(nullptr, "Src");
  LPCSTR strings[] = {"only one"};
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0x20, nullptr, 1, 0, strings, nullptr));
  EXPECT_NE(listener.Receive().find("event 0x00000020 information: %1 and %2"), std::string::npos);
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0x999, nullptr, 1, 0, strings, nullptr));
  EXPECT_NE(listener.Receive().find("event 0x00000999 information: only one"), std::string::npos);
  // An empty insert for "%1" is an empty entry, never the "%1" itself.
  LPCSTR empty[] = {""};
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0x40000001, nullptr, 1, 0, empty, nullptr));
  std::string got = listener.Receive();
  EXPECT_NE(got.find("event 0x40000001 information:"), std::string::npos) << got;
  EXPECT_EQ(got.find("%1"), std::string::npos) << got;
  DeregisterEventSource(h);
}

TEST_F(EventLog, OwnTableWhenNoCatalogueHasTheId) {
  Listener listener(socket_);
  static const vtx::EventMessageText table[] = {{0xC0000006, "The resource library could not be loaded.\r\n"},
                                                {0xA, "not this one"}};
  vtx::SetEventMessageTable(table, 2);
  HANDLE h = RegisterEventSourceA(nullptr, "Hulvane Vantrex Messenger");
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0xC0000006, nullptr, 0, 0, nullptr, nullptr));
  std::string got = listener.Receive();
  EXPECT_NE(got.find(" HulvaneVantrexMessenger["), std::string::npos) << got;
  EXPECT_NE(got.find("error: The resource library could not be loaded."), std::string::npos) << got;
  EXPECT_TRUE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0xA, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_NE(listener.Receive().find("Vantrex application started."), std::string::npos);  // the catalogue first
  vtx::SetEventMessageTable(nullptr, 0);
  DeregisterEventSource(h);
}

// What stderr receives while `report` runs.
template <class F>
std::string Stderr(F report) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  int saved = dup(2);
  dup2(fds[1], 2);
  close(fds[1]);
  report();
  dup2(saved, 2);
  close(saved);
  std::string out;
  char buf[4096];
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 0) == 1) {
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  return out;
}

// Nobody listens: never an error; in the foreground the entry shows on stderr, a service drops it.
TEST_F(EventLog, NoListenerIsNoErrorAndTheForegroundShowsTheEntry) {
  HANDLE h = RegisterEventSourceA(nullptr, "Hulvane Vantrex");
  ASSERT_NE(h, nullptr);
  LPCSTR strings[] = {"No data source is configured."};
  BOOL ok = FALSE;
  std::string shown =
      Stderr([&] { ok = ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0x40000001, nullptr, 1, 0, strings, nullptr); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(shown.rfind("HulvaneVantrex[", 0), 0u) << shown;
  EXPECT_NE(shown.find("]: event 0x40000001 error: No data source is configured.\n"), std::string::npos) << shown;
  vtx::SetEventLogForeground(false);
  shown = Stderr([&] { ok = ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0x40000001, nullptr, 1, 0, strings, nullptr); });
  vtx::SetEventLogForeground(true);
  EXPECT_TRUE(ok);
  EXPECT_EQ(shown, "");
  // A listener takes it: nothing on stderr.
  Listener listener(socket_);
  ASSERT_TRUE(listener.bound());
  shown = Stderr([&] { ReportEventA(h, EVENTLOG_ERROR_TYPE, 0, 0x40000001, nullptr, 1, 0, strings, nullptr); });
  EXPECT_EQ(shown, "");
  EXPECT_NE(listener.Receive().find("No data source is configured."), std::string::npos);
  EXPECT_TRUE(DeregisterEventSource(h));
}

TEST_F(EventLog, BadArguments) {
  EXPECT_EQ(RegisterEventSourceA("otherhost", "x"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(RegisterEventSourceA(nullptr, ""), nullptr);
  EXPECT_FALSE(ReportEventA(nullptr, EVENTLOG_INFORMATION_TYPE, 0, 0xA, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  HANDLE h = RegisterEventSourceA(nullptr, "x");
  EXPECT_FALSE(ReportEventA(h, EVENTLOG_INFORMATION_TYPE, 0, 0xA, nullptr, 2, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(DeregisterEventSource(h));
  EXPECT_FALSE(DeregisterEventSource(nullptr));
}

}  // namespace
