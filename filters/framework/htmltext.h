// HTML text of the providers' pages: character entities, tag stripping, and the test that
// tells a web page from the plain text a filter expected.
#pragma once
#include <cstdint>

struct HtmlEntity {
  const char* name;
  char16_t codePoint;
};

// The 252 character entity references of HTML 4.01, in the order they are tried.
constexpr uint32_t kHtmlEntityCount = 252;
extern const HtmlEntity g_HtmlEntities[kHtmlEntityCount];

// `text` starts after the '&'. Returns how many characters the entity takes (its ';' included),
// 0 when the text is no entity; `codePoint` receives the character.
uint32_t DecodeEntity(const char16_t* text, char16_t* codePoint);

// The same for ANSI text; `byte` receives the character in the ANSI code page ('?' when the
// page has no single byte for it).
uint32_t DecodeEntityAnsi(const char* text, char* byte);

// Rewrites the text in place as plain text: tags removed, entities decoded.
void StripHtml(char* text);

// True when the first character that is not a blank, TAB, CR or LF is '<'.
bool IsHtmlText(const char* text);
