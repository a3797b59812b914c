// The server's screen channel: without the messenger its own message window refuses (the server
// shows no dialogs), and the notice reaches the event log instead of vanishing.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/update/updatesettings.h"
#include "server/engine.h"
#include "tests/support/paths.h"
#include "tests/support/storetest.h"
#include "tests/support/syslog.h"

namespace {

class ServerScreen : public vtxtest::PrivateStoreTest {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(vtxtest::SourcePath("resources/0409/vantrex.cat").c_str());
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    FreeLibrary(module_);
    PrivateStoreTest::TearDown();
  }
  HMODULE module_ = nullptr;
};

TEST_F(ServerScreen, ANoticeForTheScreenAloneReachesTheEventLog) {
  vtxtest::SyslogListener log(dir_.syslog());
  ASSERT_TRUE(log.bound());
  vtx::server::ProgramSeams program;
  ASSERT_EQ(program.engine.Notifier().m_pMessageWindow, &program.messageWindow);
  EXPECT_EQ(program.messageWindow.AddMessage(nullptr, "Rates are stale.", MB_ICONWARNING, module_), E_NOTIMPL);

  CSettings settings;
  ASSERT_TRUE(settings.Create(module_));
  CSettingsData& d = *settings.GetData();
  d.MessagesOnScreen = 1;
  d.MessagesToLog = 0;
  d.MessagesToFile = 0;
  d.MessagesViaEmail = 0;
  CUpdateSettings live(settings);
  CUpdateThread thread(std::make_unique<CUpdateSettings>(), program.engine);
  thread.SetSettingsInUse(&live);
  program.engine.Notify(thread, nullptr, "Rates are stale.", "Vantrex", MB_ICONWARNING | MB_SETFOREGROUND, module_);
  bool logged = false;
  for (const std::string& entry : log.Drain(1000)) logged = logged || entry.find("Rates are stale.") != std::string::npos;
  EXPECT_TRUE(logged);
}

}  // namespace
