#include "platform/clipboard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/errors.h"
#include "platform/heap.h"
#include "tests/support/clipboard.h"

namespace {

using vtxtest::MemoryClipboard;

HGLOBAL Block(const void* data, size_t bytes) {
  HGLOBAL b = GlobalAlloc(GMEM_FIXED, bytes);
  std::memcpy(b, data, bytes);
  return b;
}

TEST(Clipboard, WithoutADesktopNothingOpens) {
  vtx::clipboard::SetBackend(nullptr);
  EXPECT_FALSE(OpenClipboard(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
}

TEST(Clipboard, TextInBothWidths) {
  MemoryClipboard memory;
  vtx::clipboard::SetBackend(&memory);
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);  // not open
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_EQ(GetClipboardData(CF_TEXT), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
  // ANSI text (Windows-1252 0xE9 is U+00E9) in, both widths out.
  const char ansi[] = "1 EUR = 1.08 USD, caf\xE9";
  ASSERT_NE(SetClipboardData(CF_TEXT, Block(ansi, sizeof ansi)), nullptr);
  EXPECT_EQ(memory.text, u"1 EUR = 1.08 USD, caf\u00E9");
  EXPECT_STREQ(static_cast<const char*>(GetClipboardData(CF_TEXT)), ansi);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(GetClipboardData(CF_UNICODETEXT))), memory.text);
  EXPECT_EQ(GetClipboardData(2), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // A block without its NUL ends at its size.
  const char16_t wide[] = {u'a', u'b'};
  ASSERT_NE(SetClipboardData(CF_UNICODETEXT, Block(wide, sizeof wide)), nullptr);
  EXPECT_EQ(memory.text, u"ab");
  // Another thread waits its turn.
  bool other = true;
  std::thread([&] { other = OpenClipboard(nullptr); }).join();
  EXPECT_FALSE(other);
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
  EXPECT_TRUE(CloseClipboard());
  EXPECT_FALSE(CloseClipboard());
  std::thread([&] {
    other = OpenClipboard(nullptr);
    CloseClipboard();
  }).join();
  EXPECT_TRUE(other);
  vtx::clipboard::SetBackend(nullptr);
}

}  // namespace
