// The test notification as the server's pipe receives it, from a peer that is not ours (socat).
#include "engine/notify/testnotification.h"

#include <gtest/gtest.h>

#include "engine/foundation/servercommands.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/native/productpaths.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/rawpipe.h"

namespace {

using vtxtest::U32;

TEST(TestNotification, RecordOnThePipe) {
  vtxtest::TempDir dir;
  vtxtest::ScopedEnv runtime(vtx::env::kRuntimeDir, dir.path());
  TestNotificationValues v;
  v.messagesToLog = 1;
  v.messagesToFile = 0;
  v.messagesViaEmail = 1;
  v.messagesOnScreen = 0;
  v.profile = "<SMTP>";
  v.recipients = "a@example.org; b@example.org";
  v.sender = "";
  v.smtpServer = "127.0.0.1:2525";
  v.file = "/var/log/x.log";
  const std::string strings = std::string("<SMTP>\0a@example.org; b@example.org\0\0" "127.0.0.1:2525\0/var/log/x.log\0", 67);
  const uint32_t cbData = 6 + 28 + 0 + 14 + 14 + 25;  // the texts' lengths + 25
  const std::string payload = U32(1) + U32(0) + U32(1) + U32(0) + strings + std::string(4, '\0');
  ASSERT_EQ(payload.size(), cbData);
  EXPECT_EQ(MakeTestNotificationData(v), payload);

  vtxtest::SocatPeer peer(dir.path());
  const size_t headSize = 24;
  ASSERT_EQ(peer.Listen(dir / "HulvaneVantrexAppPipe", headSize + cbData, 0), "");
  EXPECT_EQ(SendTestNotification(v, 10000), S_OK);
  std::string got = peer.Received();
  ASSERT_EQ(got.size(), headSize + cbData);
  got.replace(8, 4, 4, '\0');   // lParam and the data pointer: the sender's addresses
  got.replace(20, 4, 4, '\0');
  EXPECT_EQ(got, U32(WM_COPYDATA) + U32(0) + U32(0) + U32(WM_VX_TESTNOTIFICATION) + U32(cbData) + U32(0) + payload);
}

TEST(TestNotification, NoServer) {
  vtxtest::TempDir dir;
  vtxtest::ScopedEnv runtime(vtx::env::kRuntimeDir, dir.path());
  EXPECT_EQ(SendTestNotification(TestNotificationValues{}, 1000), E_SERVER_UNAVAILABLE);
}

}  // namespace
