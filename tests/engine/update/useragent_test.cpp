#include "engine/update/useragent.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/update/inetconnection.h"
#include "platform/locale.h"

namespace {

const std::string kInserts[5] = {"4.5", "", "Debian GNU/Linux 12, Linux 6.1", "USA", "8"};

TEST(UserAgent, OnlyTheFiveInsertsAreReplaced) {
  struct Case {
    const char* pattern;
    const char* agent;
  } cases[] = {
      {"A/%1 (%3; %4; %5)", "A/4.5 (Debian GNU/Linux 12, Linux 6.1; USA; 8)"},
      {"[%2]", "[]"},
      {"%6 %9 %0 %15 %99", "%6 %9 %0 %15 %99"},  // nothing is read past the inserts
      {"a%%b %n %r %t %!", "a%%b %n %r %t %!"},
      {"%1!s! end%", "4.5!s! end%"},
      {"line\r\nbreak\tand\x7f" "del", "linebreakanddel"},  // no header splitting
  };
  for (const Case& c : cases) EXPECT_EQ(vtx::update::ExpandAgent(c.pattern, kInserts), c.agent) << c.pattern;
  const std::string hostile[5] = {"4.5\r\nX-Injected: 1", "", "", "", ""};
  EXPECT_EQ(vtx::update::ExpandAgent("A/%1", hostile), "A/4.5X-Injected: 1");
}

TEST(UserAgent, ChoiceByHostAndSetting) {
  using vtx::update::UserAgentFor;
  EXPECT_EQ(UserAgentFor("Mine/%1", "http://rates.hulvane.com/eur.csv", kInserts),
            "Hulvane Vantrex/4.5 (Debian GNU/Linux 12, Linux 6.1; USA; 8)");
  EXPECT_EQ(UserAgentFor("Mine/%1", "https://www.ecb.europa.eu/x.xml", kInserts), "Mine/4.5");
  EXPECT_EQ(UserAgentFor("Mine/%1", nullptr, kInserts), "Mine/4.5");
  EXPECT_EQ(UserAgentFor("", "https://www.ecb.europa.eu/x.xml", kInserts),
            "Mozilla/4.0 (compatible; MSIE 6.0; Debian GNU/Linux 12, Linux 6.1)");
  EXPECT_EQ(UserAgentFor(nullptr, nullptr, kInserts), "Mozilla/4.0 (compatible; MSIE 6.0; Debian GNU/Linux 12, Linux 6.1)");
  EXPECT_EQ(UserAgentFor("%2\r\n", nullptr, kInserts), "Hulvane Vantrex");  // nothing left
}

TEST(UserAgent, SetOnTheConnectionWithThisMachinesFacts) {
  std::string inserts[5];
  vtx::update::AgentInserts(inserts);
  EXPECT_EQ(inserts[0], "4.5");
  EXPECT_GE(std::stoi(inserts[4]), 1);
  EXPECT_LE(inserts[2].size(), 80u);
  EXPECT_LE(inserts[3].size(), 10u);
  CINetConnection connection;
  MakeUserAgent("Probe/%1 on %5", connection, nullptr);
  EXPECT_EQ(std::string(connection.m_strAgent.c_str()), "Probe/4.5 on " + inserts[4]);
  MakeUserAgent(nullptr, connection, "http://hulvane.net/r");
  EXPECT_EQ(std::string(connection.m_strAgent.c_str()).rfind("Hulvane Vantrex/4.5 (", 0), 0u);
}

TEST(UserAgent, CountryAbbreviationOfTheLocale) {
  char text[11];
  ASSERT_GT(GetLocaleInfoA(0x0407, LOCALE_SABBREVCTRYNAME, text, sizeof text), 0);
  EXPECT_STREQ(text, "DEU");
  ASSERT_GT(GetLocaleInfoA(0x0409, LOCALE_SABBREVCTRYNAME, text, sizeof text), 0);
  EXPECT_STREQ(text, "USA");
}

}  // namespace
