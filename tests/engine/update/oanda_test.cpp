// The quote protocol client against a scripted fxp/1.1 server (tests/engine/update/fxpserver.py):
// over its own TCP connection, and over HTTP POSTs to a CGI script under lighttpd.
#include "engine/update/oanda.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/update/inetconnection.h"
#include "platform/resources.h"
#include "tests/support/env.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/storetest.h"

using vtxtest::ReadFile;
using vtxtest::ServerProcess;
using vtxtest::WriteFile;

namespace {

// A reply with the status line, the content lines and the line that ends it.
std::string Reply(const std::string& status, const std::vector<std::string>& content) {
  std::string r = status + "\r\ncontent-lines: " + std::to_string(content.size()) + "\r\nserver: test\r\n\r\n";
  for (const auto& c : content) r += c + "\r\n";
  return r + ".\r\n";
}
std::string Quote(const std::string& bidAsk) { return Reply("fxp/1.1 200 OK", {bidAsk}); }

// JSON text of a string.
std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char u[8];
      std::snprintf(u, sizeof u, "\\u%04x", c);
      out += u;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

struct Script {
  std::vector<std::pair<std::string, std::string>> replies;  // query -> raw reply or a JSON object
  Script& Add(const std::string& key, const std::string& reply) {
    replies.emplace_back(key, Json(reply));
    return *this;
  }
  Script& Then(const std::string& key, const std::string& reply, const char* then) {
    replies.emplace_back(key, "{\"text\": " + Json(reply) + ", \"then\": \"" + then + "\"}");
    return *this;
  }
  std::string Text() const {
    std::string s = "{";
    for (size_t i = 0; i < replies.size(); ++i) s += (i ? ", " : "") + Json(replies[i].first) + ": " + replies[i].second;
    return s + "}";
  }
};

const std::string kCurrencies = Reply("fxp/1.1 200 OK", {"USD US Dollar", "XY not a currency line", "GBP Pound \"Sterling\"",
                                                         "JPY Japanese Yen", "EUR Euro", "ADF Andorran Franc",
                                                         "DEM German Mark", "KRW Won\x01"});

Script FullScript() {
  Script s;
  s.Add("currencies", kCurrencies)
      .Add("USD", Quote("1.2345 1.23456"))
      // An error to one quote, with content lines of its own that must be read away.
      .Add("GBP", Reply("fxp/1.1 404 no quote for GBP", {"first", "second"}))
      .Add("JPY", Quote("130 132"))
      .Add("ADF", Quote("6.5 6.6"))
      .Add("KRW", Quote("1400.25 1400.75"));
  return s;
}

class Oanda : public vtxtest::PrivateStoreTest {
 protected:
  void SetUp() override {
    PrivateStoreTest::SetUp();
    module = LoadLibraryA((vtxtest::SourcePath("resources/0409/vantrex.cat")).c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(settings.Create(module));
  }
  void TearDown() override {
    FreeLibrary(module);
    PrivateStoreTest::TearDown();
  }

  // Starts the scripted server; its port.
  int Serve(const Script& script) {
    WriteFile(dir_ / "script.json", script.Text());
    int port = vtxtest::FreePort();
    server = std::make_unique<ServerProcess>();
    std::string error = server->Start({"/usr/bin/python3", vtxtest::SourcePath("tests/engine/update/fxpserver.py"),
                                       std::to_string(port), dir_ / "script.json", dir_ / "queries.log"},
                                      port, dir_ / "fxpserver.log");
    EXPECT_EQ(error, "");
    return port;
  }

  HRESULT Load(const std::string& address, std::string* text = nullptr) {
    CBuffer<char> out(100, 100);
    HRESULT hr = client.LoadFxp(address.c_str(), &out, &settings);
    if (text) *text = std::string(out.GetData() ? out.GetData() : "", out.GetCount());
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(out.GetData()[out.GetCount()], '\0');  // a NUL that the count leaves out
    }
    return hr;
  }

  // The queries the server received, one per line.
  std::string Queries() { return ReadFile(dir_ / "queries.log"); }

  HMODULE module = nullptr;
  CSettings settings;
  COanda client;
  std::unique_ptr<ServerProcess> server;
};

TEST_F(Oanda, FullExchangeWritesTheRatesFile) {
  int port = Serve(FullScript());
  std::string text;
  // "oanda" anywhere in the address names the vendor; the path goes nowhere else.
  ASSERT_EQ(Load("fxp://127.0.0.1:" + std::to_string(port) + "/oanda", &text), S_OK);
  EXPECT_EQ(text,
            "[General]\r\n"
            "Application = \"Hulvane(R) Vantrex(TM)\"\r\n"
            "Source = \"The currency data provider's quote server (fxp/1.1)\"\r\n"
            ";Message = \"Middle rates between the provider's bid and ask quotes against the euro.\"\r\n"
            "[EUR]\r\n"
            "USD = 1.2345\r\n"
            "JPY = 131\r\n"
            "KRW = 1400.50\r\n"
            "[Names]\r\n"
            "USD = \"US Dollar\"\r\n"
            "JPY = \"Japanese Yen\"\r\n"
            "KRW = \"Won\\x1\"\r\n");
  // The euro and the euro-area mark are never asked (AlwaysRetainEuro is on by default); ADF is
  // asked but not written; GBP's error reply did not put the stream out of step.
  EXPECT_EQ(Queries(), "currencies\nUSD\nGBP\nJPY\nADF\nKRW\n");
  EXPECT_EQ(client.GetErrorString() ? std::string(client.GetErrorString()) : "", "");

  // What it wrote reads back as rates data, the escaped name whole.
  CIniDataBuffer<char> ini;
  ASSERT_TRUE(ini.SetBuffer(text.c_str()));
  ASSERT_EQ(ini.Load(nullptr, 0), S_OK);
  bool found = false;
  for (auto row : ini)
    if (CIniData<char>::GetType(row) == IniTypeString && std::string(CIniData<char>::GetName(row)) == "KRW" &&
        std::string(CIniData<char>::GetStringValue(row)) == "Won\x01")
      found = true;
  EXPECT_TRUE(found);
}

TEST_F(Oanda, WithoutTheVendorsNameThereIsNoSourceLine) {
  int port = Serve(Script().Add("currencies", Reply("fxp/2.0 200 OK", {"USD US Dollar"})).Add("USD", Quote("1.5 1.7")));
  std::string text;
  // Version 2.0 is newer than 1.1 and accepted.
  ASSERT_EQ(Load("fxp://127.0.0.1:" + std::to_string(port), &text), S_OK);
  EXPECT_EQ(text, "[General]\r\nApplication = \"Hulvane(R) Vantrex(TM)\"\r\n[EUR]\r\nUSD = 1.6\r\n[Names]\r\nUSD = \"US Dollar\"\r\n");
}

TEST_F(Oanda, OnlyUpdateExistingAsksForTheActiveCurrenciesAndWritesNoNames) {
  CIniDataBuffer<char> ini;
  ASSERT_TRUE(ini.SetBuffer("[EUR]\r\nUSD = 1.1\r\nDEM = 1.95583\r\nJPY = 120\r\n"));
  ASSERT_EQ(ini.Load(g_IniTable, kIniTableCount), S_OK);
  settings.LoadINIBegin();
  ASSERT_EQ(settings.LoadINI(ini, nullptr, nullptr, true), S_OK);
  settings.LoadINIEnd();
  settings.GetData()->OnlyUpdateExisting = 1;  // also switches the euro skip off

  int port = Serve(Script().Add("USD", Quote("1.1 1.3")).Add("*", Quote("2 2")));
  std::string text;
  ASSERT_EQ(Load("fxp://127.0.0.1:" + std::to_string(port), &text), S_OK);
  std::string asked = Queries();
  EXPECT_EQ(asked.find("currencies"), std::string::npos);
  EXPECT_NE(asked.find("USD\n"), std::string::npos);
  EXPECT_NE(asked.find("DEM\n"), std::string::npos);
  EXPECT_NE(asked.find("JPY\n"), std::string::npos);
  EXPECT_NE(text.find("USD = 1.2\r\n"), std::string::npos);
  EXPECT_NE(text.find("JPY = 2\r\n"), std::string::npos);
  EXPECT_EQ(text.find("[Names]"), std::string::npos);
}

TEST_F(Oanda, WithoutAlwaysRetainEuroTheEuroAreaIsAskedToo) {
  settings.GetData()->AlwaysRetainEuro = 0;
  int port = Serve(Script().Add("currencies", Reply("fxp/1.1 200 OK", {"EUR Euro", "DEM German Mark"})).Add("*", Quote("1 1")));
  std::string text;
  ASSERT_EQ(Load("fxp://127.0.0.1:" + std::to_string(port), &text), S_OK);
  EXPECT_EQ(Queries(), "currencies\nEUR\nDEM\n");
  EXPECT_NE(text.find("EUR = 1\r\nDEM = 1\r\n"), std::string::npos);
}

TEST_F(Oanda, StatusLinesAndRepliesThatEndTheLoad) {
  const std::string ok = "fxp/1.1 200 OK";
  struct Case {
    const char* what;
    Script script;
    HRESULT expected;
    const char* errorText;
  } cases[] = {
      {"version 1.0", Script().Add("currencies", Reply("fxp/1.0 200 OK", {})), 0x8007051A, ""},
      {"version 0.9", Script().Add("currencies", Reply("FXP/0.9 200 OK", {})), 0x8007051A, ""},
      {"another protocol", Script().Add("currencies", Reply("HTTP/1.1 200 OK", {})), 0x8007000D, ""},
      {"no blank after the version", Script().Add("currencies", Reply("fxp/1.1200 OK", {})), 0x8007000D, ""},
      {"no status number", Script().Add("currencies", Reply("fxp/1.1 OK", {})), 0x8007000D, ""},
      {"a version without its minor", Script().Add("currencies", Reply("fxp/1 200 OK", {})), 0x8007000D, ""},
      {"an error to the currencies query", Script().Add("currencies", Reply("fxp/1.1 500 service closed today", {})),
       0x80004005, "service closed today"},
      {"a quote of two lines",
       Script().Add("currencies", Reply(ok, {"USD x"})).Add("USD", Reply(ok, {"1 2", "3 4"})), 0x8000FFFF, ""},
      {"a quote without a line",
       Script().Add("currencies", Reply(ok, {"USD x"})).Add("USD", Reply(ok, {})), 0x8000FFFF, ""},
      {"a bid of 0", Script().Add("currencies", Reply(ok, {"USD x"})).Add("USD", Quote("0 1.2")), 0x8007000D, ""},
      {"no numbers", Script().Add("currencies", Reply(ok, {"USD x"})).Add("USD", Quote("bid ask")), 0x8007000D, ""},
      {"a negative ask", Script().Add("currencies", Reply(ok, {"USD x"})).Add("USD", Quote("1 -1")), 0x8007000D, ""},
      {"a server that closes mid-reply",
       Script().Then("currencies", "fxp/1.1 200 OK\r\ncontent-lines: 3\r\n\r\nUSD x\r\n", "close"), 0x800705B4, ""},
      {"a server that closes instead of a quote",
       Script().Add("currencies", Reply(ok, {"USD x"})).Then("USD", "", "close"), 0x800705B4, ""},
  };
  for (auto& c : cases) {
    int port = Serve(c.script);
    std::string text;
    EXPECT_EQ(Load("fxp://127.0.0.1:" + std::to_string(port), &text), c.expected) << c.what;
    EXPECT_STREQ(client.GetErrorString() ? client.GetErrorString() : "", c.errorText) << c.what;
    server->Stop();
  }
}

TEST_F(Oanda, SilentServerTimesOut) {
  int port = Serve(Script().Then("currencies", "fxp/1.1 200 OK\r\n", "silent"));
  client.SetTimeout(300);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Load("fxp://127.0.0.1:" + std::to_string(port)), 0x800705B4u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(Oanda, ServersThatNeverEndAreStoppedAtTheirBound) {
  struct Case {
    const char* what;
    Script script;
    HRESULT expected;
    const char* text;  // after "The quote server 127.0.0.1:PORT "
  } cases[] = {
      {"an endless status line", Script().Then("currencies", "fxp/1.1 200 OK", "endless"), 0x8007000D,
       "sent a line longer than the limit of 65536 bytes"},
      {"an endless content line",
       Script().Then("currencies", "fxp/1.1 200 OK\r\ncontent-lines: 1\r\n\r\n", "endless"), 0x8007000D,
       "sent a line longer than the limit of 65536 bytes"},
      {"header lines without end", Script().Then("currencies", "fxp/1.1 200 OK\r\n", "endless-lines"), 0x800700DF,
       "sent more than the limit of 1048576 bytes"},
      // Each byte comes well within the wait for one, the reply as a whole never.
      {"a dripping header", Script().Then("currencies", "fxp/1.1 200 OK\r\n", "drip"), 0x800705B4,
       "did not finish its replies within 1 seconds"},
  };
  for (auto& c : cases) {
    int port = Serve(c.script);
    client.SetTimeout(500);
    client.SetLimits(1000, 1024 * 1024, kFxpMaxLineBytes);
    EXPECT_EQ(Load("fxp://127.0.0.1:" + std::to_string(port)), c.expected) << c.what;
    EXPECT_EQ(std::string(client.GetErrorString() ? client.GetErrorString() : ""),
              "The quote server 127.0.0.1:" + std::to_string(port) + " " + c.text)
        << c.what;
    server->Stop();
  }
}

TEST_F(Oanda, Addresses) {
  struct Case {
    const char* address;
    HRESULT result;
    const char* host;
    uint16_t port;
  } cases[] = {
      {"fxp://rates.example:6000/path", S_OK, "rates.example", 6000},
      {"fxp://rates.example", S_OK, "rates.example", 5011},
      {"FXP:rates.example/", S_OK, "rates.example", 5011},
      {"fxp://[::1]:7000/", S_OK, "::1", 7000},
      {"fxpd://quotes.example:8080", S_OK, "quotes.example", 8080},
      {"fxpd://quotes.example", S_OK, "quotes.example", 80},
      {"fxp://:6000", 0x8007006E, "", 0},
      {"fxp://host:0", 0x8007006E, "", 0},
      {"fxp://host:70000", 0x8007006E, "", 0},
      {"fxp://host:12x", 0x8007006E, "", 0},
      {"fxp://[::1", 0x8007006E, "", 0},
  };
  for (auto& c : cases) {
    CStringA host;
    uint16_t port = 0;
    uint16_t fallback = std::string(c.address).rfind("fxpd", 0) == 0 ? 80 : kFxpDefaultPort;
    ASSERT_EQ(ParseQuoteAddress(c.address, fallback, &host, &port), c.result) << c.address;
    if (c.result == S_OK) {
      EXPECT_STREQ(host.c_str(), c.host) << c.address;
      EXPECT_EQ(port, c.port) << c.address;
    }
  }
  // Nothing listens on a port that was free a moment ago; a name that no resolver knows.
  EXPECT_EQ(Load("fxp://127.0.0.1:" + std::to_string(vtxtest::FreePort())), 0x8007006Eu);
  EXPECT_EQ(Load("fxp://no-such-host.invalid:6000"), 0x8007006Eu);
}

TEST(OandaText, NumbersAndCodes) {
  const char* end = nullptr;
  DWORD decimals = 99;
  EXPECT_DOUBLE_EQ(GetDouble(" 1.2345 1.23456", &end, &decimals), 1.2345);
  EXPECT_EQ(decimals, 4u);
  EXPECT_DOUBLE_EQ(GetDouble(end, &end, &decimals), 1.23456);
  EXPECT_EQ(decimals, 5u);
  EXPECT_STREQ(end, "");
  EXPECT_DOUBLE_EQ(GetDouble("130 1.5", &end, &decimals), 130.0);
  EXPECT_EQ(decimals, 0u);  // the '.' of the next number is not this one's
  EXPECT_EQ(GetDouble("x1", &end, &decimals), 0.0);
  EXPECT_EQ(GetDouble("1,5", &end, &decimals), 1.0);  // never a locale's decimal comma
  // Exponent forms read as strtod reads them; the decimals are the digits after the '.'.
  EXPECT_DOUBLE_EQ(GetDouble("1.2345e0 1.2347E+0", &end, &decimals), 1.2345);
  EXPECT_EQ(decimals, 4u);
  EXPECT_DOUBLE_EQ(GetDouble(end, &end, &decimals), 1.2347);
  EXPECT_STREQ(end, "");
  EXPECT_DOUBLE_EQ(GetDouble("12345e-4", &end, &decimals), 1.2345);
  EXPECT_EQ(decimals, 0u);
  EXPECT_TRUE(IsOandaUrl("fxp://fxp.OANDA.com"));
  EXPECT_FALSE(IsOandaUrl("fxp://quotes.example"));
  EXPECT_TRUE(IgnoreCurrency("adf"));
  EXPECT_TRUE(IgnoreCurrency("CFP"));
  EXPECT_FALSE(IgnoreCurrency("USD"));
}

// ---- "fxpd:": each query one HTTP POST, through the internet connection ----

class OandaOverHttp : public Oanda {
 protected:
  // lighttpd runs the scripted server as a CGI program at the root.
  int ServeCgi(const Script& script) {
    WriteFile(dir_ / "script.json", script.Text());
    mkdir((dir_ / "www").c_str(), 0700);
    WriteFile(dir_ / "www/fxp.cgi", "import sys\nsys.dont_write_bytecode = True\nsys.path.insert(0, '" +
                                       vtxtest::SourcePath("tests/engine/update") + "')\nimport fxpserver\nfxpserver.cgi('" +
                                       dir_ / "script.json" + "', '" + dir_ / "queries.log" + "')\n");
    int port = vtxtest::FreePort();
    WriteFile(dir_ / "lighttpd.conf",
             "server.modules = (\"mod_cgi\")\n"
             "server.document-root = \"" + dir_ / "www" + "\"\n"
             "server.bind = \"127.0.0.1\"\n"
             "server.port = " + std::to_string(port) + "\n"
             "server.errorlog = \"" + dir_ / "lighttpd-error.log" + "\"\n"
             "index-file.names = (\"fxp.cgi\")\n"
             "cgi.assign = (\".cgi\" => \"/usr/bin/python3\")\n");
    server = std::make_unique<ServerProcess>();
    std::string error =
        server->Start({"/usr/sbin/lighttpd", "-D", "-f", dir_ / "lighttpd.conf"}, port, dir_ / "lighttpd.log");
    EXPECT_EQ(error, "");
    return port;
  }

  void SetUp() override {
    Oanda::SetUp();
    ASSERT_EQ(connection.Open(), S_OK);
  }

  HRESULT LoadHttp(const std::string& address, std::string* text) {
    CBuffer<char> out(100, 100);
    HRESULT hr = connection.Load(address.c_str(), out, 0x84402100, 0, &settings, nullptr);
    *text = std::string(out.GetData() ? out.GetData() : "", out.GetCount());
    return hr;
  }

  vtxtest::NoProxyEnv noProxy;
  CINetConnection connection;
};

TEST_F(OandaOverHttp, FullExchangeByPosts) {
  int port = ServeCgi(FullScript());
  std::string text;
  ASSERT_EQ(LoadHttp("fxpd://127.0.0.1:" + std::to_string(port), &text), S_OK);
  EXPECT_EQ(text,
            "[General]\r\nApplication = \"Hulvane(R) Vantrex(TM)\"\r\n[EUR]\r\nUSD = 1.2345\r\nJPY = 131\r\n"
            "KRW = 1400.50\r\n[Names]\r\nUSD = \"US Dollar\"\r\nJPY = \"Japanese Yen\"\r\nKRW = \"Won\\x1\"\r\n");
  EXPECT_EQ(Queries(), "currencies\nUSD\nGBP\nJPY\nADF\nKRW\n");
  DWORD kind = 99;
  EXPECT_EQ(connection.GetErrorString(&kind), nullptr);
  EXPECT_EQ(kind, 0u);
}

TEST_F(OandaOverHttp, ErrorToTheFirstQueryIsTheQuoteServersText) {
  int port = ServeCgi(Script().Add("currencies", Reply("fxp/1.1 503 quotes are not available", {})));
  std::string text;
  EXPECT_EQ(LoadHttp("fxpd://127.0.0.1:" + std::to_string(port), &text), E_FAIL);
  DWORD kind = 0;
  const char* error = connection.GetErrorString(&kind);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error, "quotes are not available");
  EXPECT_EQ(kind, 4u);
}

TEST_F(OandaOverHttp, AnswerThatEndsEarly) {
  // The POST's answer holds less than its header promises: the data end, the load fails.
  int port = ServeCgi(Script().Add("currencies", "fxp/1.1 200 OK\r\ncontent-lines: 2\r\n\r\nUSD x\r\n"));
  std::string text;
  EXPECT_EQ(LoadHttp("fxpd://127.0.0.1:" + std::to_string(port), &text), 0x800705B4u);
}

}  // namespace
