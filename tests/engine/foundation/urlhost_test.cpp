#include "engine/foundation/urlhost.h"

#include <gtest/gtest.h>

TEST(UrlHostName, Table) {
  const struct {
    const char* url;
    DWORD size;
    const char* host;
  } cases[] = {
      {"http://user:pw@Rates.Example.com:8080/a/b?c=d", 100, "Rates.Example.com"},
      {"https://www.ecb.europa.eu", 100, "www.ecb.europa.eu"},
      {"http://%72ates.example/", 100, "rates.example"},
      {"http://rates.example.com./x", 100, "rates.example.com"},  // a fully qualified name
      {"fxpd://quotes.example.net", 100, "quotes.example.net"},
      {"www.ecb.int", 100, "www.ecb.int"},
      {"www.example.co.uk/rates.html", 100, "www.example.co.uk"},
      {"example.gov?q=1", 100, "example.gov"},
      {"example.de#top", 100, "example.de"},
      {"example.de.", 100, "example.de"},
      {"odd://user@h.example:1/x", 100, "h.example"},
      {"odd://h.example?x", 100, "h.example"},
      {"http://rates.example.com/", 6, "rates"},
      {"www.ecb.int", 4, "www"},
      {"", 10, ""},
  };
  for (const auto& k : cases) {
    char host[100];
    EXPECT_EQ(GetUrlHostName(k.url, host, k.size), S_OK) << k.url;
    EXPECT_STREQ(host, k.host) << k.url;
  }
  char host[4];
  EXPECT_EQ(GetUrlHostName(nullptr, host, 4), E_INVALIDARG);
  EXPECT_EQ(GetUrlHostName("x", nullptr, 4), E_INVALIDARG);
  EXPECT_EQ(GetUrlHostName("x", host, 0), E_INVALIDARG);
}
