#include "filters/framework/htmltext.h"
#include "platform/native/productpaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

bool AnsiIsUtf8() {
  const char* e = std::getenv(vtx::env::kCodePage);
  return e && std::string(e) == "UTF-8";
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

TEST(HtmlEntities, TableHoldsHtml401) {
  std::set<std::string> names;
  std::set<char16_t> points;
  for (const HtmlEntity& e : g_HtmlEntities) {
    names.insert(e.name);
    points.insert(e.codePoint);
  }
  EXPECT_EQ(names.size(), kHtmlEntityCount);
  EXPECT_EQ(points.size(), kHtmlEntityCount);
  EXPECT_STREQ(g_HtmlEntities[0].name, "quot");
  EXPECT_STREQ(g_HtmlEntities[kHtmlEntityCount - 1].name, "diams");
  EXPECT_EQ(g_HtmlEntities[kHtmlEntityCount - 1].codePoint, 9830);
  // Latin-1 is complete: every code point from 160 to 255 has its name.
  for (char16_t c = 160; c <= 255; ++c) EXPECT_TRUE(points.count(c)) << int(c);
  // No name may be taken in place of a longer one that it begins, unless a letter follows it.
  for (uint32_t i = 0; i < kHtmlEntityCount; ++i)
    for (uint32_t j = i + 1; j < kHtmlEntityCount; ++j) {
      const char* a = g_HtmlEntities[i].name;
      const char* b = g_HtmlEntities[j].name;
      size_t n = std::strlen(a);
      if (std::strncmp(a, b, n) == 0) {
        EXPECT_TRUE(IsLetter(b[n])) << a << " before " << b;
      }
    }
}

TEST(HtmlEntities, DecodesNamesAndNumbers) {
  struct Case {
    const char16_t* text;
    uint32_t count;
    char16_t cp;
  } cases[] = {
      {u"sup2;x", 5, 0x00B2}, {u"sup;", 4, 0x2283}, {u"sup1", 4, 0x00B9},  {u"notit", 3, 0x00AC},
      {u"notin;", 6, 0x2209}, {u"nbsp", 4, 0x00A0}, {u"amp;", 4, '&'},     {u"euro;", 5, 0x20AC},
      {u"#x41;", 5, 'A'},      {u"#X41", 4, 'A'},     {u"#65", 3, 'A'},     {u"#65;", 4, 'A'},
      {u"#8364;", 6, 0x20AC},  {u"#xFFFF;", 7, 0xFFFF}, {u"#00065", 6, 'A'},
      {u"thetasym;", 9, 977},  {u"theta ", 5, 952},  {u"lArr;", 5, 8656}, {u"larr;", 5, 8592},
  };
  for (const Case& c : cases) {
    char16_t cp = 0;
    EXPECT_EQ(DecodeEntity(c.text, &cp), c.count) << std::string(c.text, c.text + 4);
    EXPECT_EQ(cp, c.cp) << std::string(c.text, c.text + 4);
  }
}

TEST(HtmlEntities, RefusesWhatIsNoEntity) {
  // Code point 0 would cut the text short; digits must follow at once.
  for (const char16_t* text : {u"#0;", u"#x0;", u"#65536;", u"#x10000", u"#65601;", u"#99999999999;", u"#;", u"#", u"#x;", u"# 65;", u"#+65;",
                               u"#-65;", u"#x 41;", u"#x-41;", u"#x0x41;", u"", u"foo;", u"AMP;", u"Amp", u"su"}) {
    char16_t cp = 0x1234;
    EXPECT_EQ(DecodeEntity(text, &cp), 0u) << std::string(text, text + std::char_traits<char16_t>::length(text));
    EXPECT_EQ(cp, 0x1234);
  }
}

TEST(HtmlEntities, AnsiFormGivesTheCodePageByte) {
  if (AnsiIsUtf8()) GTEST_SKIP() << "one byte per character only in a single-byte code page";
  char b = 0;
  EXPECT_EQ(DecodeEntityAnsi("eacute;", &b), 7u);
  EXPECT_EQ(static_cast<unsigned char>(b), 0xE9);
  EXPECT_EQ(DecodeEntityAnsi("euro;rest", &b), 5u);
  EXPECT_EQ(static_cast<unsigned char>(b), 0x80);  // Windows-1252
  EXPECT_EQ(DecodeEntityAnsi("alpha;", &b), 6u);
  EXPECT_EQ(b, '?');
  EXPECT_EQ(DecodeEntityAnsi("#0;", &b), 0u);
  EXPECT_EQ(DecodeEntityAnsi("", &b), 0u);
  // Only the first 79 bytes are looked at; a long text is no trouble.
  std::string longText = "lt;" + std::string(500, 'x');
  EXPECT_EQ(DecodeEntityAnsi(longText.c_str(), &b), 3u);
  EXPECT_EQ(b, '<');
}

TEST(HtmlEntities, AnsiFormLooksOnlyAtTheEntity) {
  // A byte that is no character of the code page after the entity does not hide it.
  char b = 0;
  EXPECT_EQ(DecodeEntityAnsi("amp;\xFF\xFE", &b), 4u);
  EXPECT_EQ(b, '&');
  EXPECT_EQ(DecodeEntityAnsi("#x41\xC3\xA9", &b), 4u);
  EXPECT_EQ(b, 'A');
  EXPECT_EQ(DecodeEntityAnsi("\xE9" "acute;", &b), 0u);
}

TEST(StripHtml, RemovesTagsAndDecodesEntities) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a<b>c</b>d&amp;e", "acd&e"},
      {"<p><b><i>x</i></b></p>", "x"},
      {"before<unclosed tag", "before"},
      {"a > b", "a > b"},
      {"&lt;b&gt;", "<b>"},        // decoded brackets stay text
      {"&amp;lt;", "&lt;"},        // decoded once
      {"&#0;x&#x0;", "&#0;x&#x0;"},  // no entity: the text stays whole
      {"R&D &nosuch; &", "R&D &nosuch; &"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    StripHtml(text.data());
    EXPECT_STREQ(text.c_str(), c.out) << c.in;
  }
  // A character is one byte of the code page, or '?' where the page needs more.
  std::string nbsp = "1&nbsp;000";
  StripHtml(nbsp.data());
  EXPECT_STREQ(nbsp.c_str(), AnsiIsUtf8() ? "1?000" : "1\xA0" "000");
  StripHtml(nullptr);
}

TEST(IsHtmlText, LooksAtTheFirstNonBlank) {
  EXPECT_TRUE(IsHtmlText("<html>"));
  EXPECT_TRUE(IsHtmlText(" \t\r\n<!DOCTYPE html>"));
  EXPECT_FALSE(IsHtmlText("SDRs per Currency unit <b>"));
  EXPECT_FALSE(IsHtmlText(" \r\n"));
  EXPECT_FALSE(IsHtmlText(""));
  EXPECT_FALSE(IsHtmlText(nullptr));
}

}  // namespace
