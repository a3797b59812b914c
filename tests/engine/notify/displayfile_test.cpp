// The display-messages file as the manager reads and deletes it and the messenger writes it, also
// under a failing system call, and the message window of a process that shows no dialogs.
#include "engine/notify/displayfile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "engine/notify/messagewindow.h"
#include "messenger/messenger.h"
#include "platform/resources.h"
#include "tests/support/files.h"
#include "tests/support/iofaults.h"
#include "tests/support/paths.h"

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

// An entry on top fails at each system call in turn: the file holds the old entries, or the new
// one whole above them, and no temporary file stays.
TEST(DisplayFile, AnEntryOnTopIsWholeOrAbsentWhateverCallFails) {
  HMODULE lib = LoadLibraryA(vtxtest::SourcePath("resources/0409/vantrex.cat").c_str());
  ASSERT_NE(lib, nullptr);
  vtxtest::TempDir dir;
  const std::string path = dir / "display.txt";
  const std::string old = std::string("older entry") + kDisplaySeparator + "oldest entry";
  ASSERT_EQ(vtx::msg::WriteDisplayLog(path, "fresh", 0x40, lib), S_OK);
  const std::string alone = vtxtest::ReadFile(path);  // the new entry by itself, for its length
  ASSERT_NE(alone.find("fresh"), std::string::npos);
  const std::vector<std::string> files = vtxtest::FolderNames(dir.path());
  for (bool sticky : {false, true}) {
    vtxtest::WalkIoFaults<HRESULT>(
        [&] { ASSERT_TRUE(vtxtest::WriteFile(path, old)); },
        [&] { return vtx::msg::WriteDisplayLog(path, "fresh", 0x40, lib); },
        [&](const vtxtest::IoFault&, const HRESULT& hr) {
          std::string now = vtxtest::ReadFile(path);
          if (now != old) {
            ASSERT_EQ(now.size(), alone.size() + std::strlen(kDisplaySeparator) + old.size());
            EXPECT_EQ(now.substr(alone.size()), kDisplaySeparator + old);
            EXPECT_NE(now.find("fresh"), std::string::npos);
          }
          if (SUCCEEDED(hr)) {
            EXPECT_NE(now, old) << "a success without the entry";
          }
          if (FAILED(hr)) {
            EXPECT_EQ(now, old);
          }
          if (!sticky) {
            EXPECT_EQ(vtxtest::FolderNames(dir.path()), files);
          }
        },
        sticky ? ENOSPC : EIO, sticky);
  }
  FreeLibrary(lib);
}

// The delete of a shown file fails at each system call in turn: the file is gone when the call
// said so, and else still holds what was shown.
TEST(DisplayFile, TheDeleteOfAShownFileSaysWhatItDidWhateverCallFails) {
  vtxtest::TempDir dir;
  const std::string path = dir / "display.txt";
  vtx::FileStamp shown;
  for (int way = 0; way < 2; ++way) {
    vtxtest::WalkIoFaults<bool>(
        [&] {
          ASSERT_TRUE(vtxtest::WriteFile(path, "shown"));
          std::string text;
          ASSERT_EQ(vtx::notify::ReadDisplayFile(path.c_str(), 100, &text, &shown), S_OK);
        },
        [&] {
          return way == 0 ? vtx::notify::DeleteDisplayFileIfUnchanged(path, shown) : vtx::msg::DeleteDisplayLog(path);
        },
        [&](const vtxtest::IoFault&, const bool& deleted) {
          EXPECT_EQ(deleted, access(path.c_str(), F_OK) != 0);
          if (!deleted) {
            EXPECT_EQ(vtxtest::ReadFile(path), "shown");
          }
        });
  }
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
