// The display-messages file as the manager reads and deletes it, and the message window of a
// process that shows no dialogs.
#include "engine/notify/displayfile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/notify/messagewindow.h"
#include "tests/support/files.h"

namespace {

using vtx::notify::kDisplaySeparator;

TEST(DisplayFile, ALongFileKeepsItsNewestWholeEntries) {
  vtxtest::TempDir dir;
  const std::string path = dir / "display.txt";
  const std::string a(40, 'a'), b(40, 'b'), c(40, 'c');
  const std::string whole = a + kDisplaySeparator + b + kDisplaySeparator + c;
  struct Case {
    size_t cap;
    std::string shown;
  };
  const Case cases[] = {
      {whole.size(), whole},                        // fits exactly
      {whole.size() - 1, a + kDisplaySeparator + b},  // the last entry is cut off whole
      {60, a},                                      // the cap falls inside the second entry
      {30, a.substr(0, 30)},                        // no separator before the cap
  };
  ASSERT_TRUE(vtxtest::WriteFile(path, whole));
  for (const Case& k : cases) {
    std::string text;
    vtx::FileStamp stamp;
    ASSERT_EQ(vtx::notify::ReadDisplayFile(path.c_str(), k.cap, &text, &stamp), S_OK) << k.cap;
    EXPECT_EQ(text, k.shown) << k.cap;
  }
}

TEST(DisplayFile, DeletedOnlyWhileUnchanged) {
  vtxtest::TempDir dir;
  const std::string path = dir / "display.txt";
  ASSERT_TRUE(vtxtest::WriteFile(path, "first"));
  std::string text;
  vtx::FileStamp shown;
  ASSERT_EQ(vtx::notify::ReadDisplayFile(path.c_str(), 100, &text, &shown), S_OK);

  // A newer file in its place (as the messenger writes) stays.
  ASSERT_TRUE(vtxtest::WriteFile(path + ".new", "first"));
  ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
  EXPECT_FALSE(vtx::notify::DeleteDisplayFileIfUnchanged(path, shown));
  EXPECT_EQ(vtxtest::ReadFile(path), "first");

  ASSERT_EQ(vtx::notify::ReadDisplayFile(path.c_str(), 100, &text, &shown), S_OK);
  EXPECT_TRUE(vtx::notify::DeleteDisplayFileIfUnchanged(path, shown));
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_FALSE(vtx::notify::DeleteDisplayFileIfUnchanged(path, shown)) << "nothing left to delete";
}

TEST(DisplayFile, ALockFileThatIsALinkIsNotFollowed) {
  vtxtest::TempDir dir;
  const std::string path = dir / "display.txt";
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (path + ".lock").c_str()), 0);
  vtx::notify::DisplayFileLock lock(path);
  EXPECT_FALSE(lock.held());
  EXPECT_NE(access((dir / "elsewhere").c_str(), F_OK), 0) << "nothing made where the link points";
}

// Without a screen (the server, the services) the window refuses at once, so the caller can take
// another way; a null text is refused before that.
TEST(MessageWindow, AProcessWithoutDialogsRefuses) {
  CMessageWindow window;
  EXPECT_EQ(window.AddMessage(nullptr, "Rates are late.", 0x30, nullptr), E_NOTIMPL);
  EXPECT_EQ(window.SetText(nullptr, "whole text", nullptr), E_NOTIMPL);
  EXPECT_EQ(window.AddMessage(nullptr, nullptr, 0x30, nullptr), E_POINTER);
  EXPECT_EQ(window.SetText(nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_FALSE(window.IsShowing());
  EXPECT_EQ(CMessageDialog::ShowId(nullptr, nullptr, 101, 422, 0, "report"), -1);
}

}  // namespace
