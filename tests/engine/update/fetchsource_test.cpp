#include "engine/update/fetchsource.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/currency/filterdef.h"
#include "engine/foundation/scramble.h"
#include "platform/codepage.h"
#include "platform/resources.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"

using vtxtest::ReadFile;
using vtxtest::ServerProcess;
using vtxtest::WriteFile;

namespace {

const char kOwn[] = "[General]\r\nApplication = \"Hulvane(R) Vantrex(TM)\"\r\n";

std::string Scrambled(std::string text) {
  ScrambleBuffer(text.data(), static_cast<uint32_t>(text.size()));
  return text;
}

// Applies rates files the way the settings do, as far as a fetch can tell: the own-data flag of
// the last file, the accumulated Error text, "Next", and the [EUR] rates.
class TestSettings : public CFetchSettings {
 public:
  HRESULT LoadINI(const CIniData<char>& data, CStringA* next, uint32_t* errorLine, bool stored) override {
    EXPECT_FALSE(stored);
    ++loads;
    if (next) next->Empty();
    if (errorLine) *errorLine = 0;
    own = FALSE;
    std::string section;
    for (CIniData<char>::Row row : data) {
      std::string name = CIniData<char>::GetName(row);
      if (CIniData<char>::GetType(row) == IniTypeSection) {
        section = name;
        continue;
      }
      const char* v = CIniData<char>::GetStringValue(row);
      std::string value = v ? v : "";
      if (section == "General" && name == "Application") own = _stricmp(value.c_str(), "Hulvane(R) Vantrex(TM)") == 0;
      if (section == "General" && name == "Error") error += value;
      if (section == "General" && name == "Next" && next) *next = value.c_str();
      if (section == "EUR") {
        if (value.size() && value[0] == '-') {
          if (errorLine) *errorLine = CIniData<char>::GetLine(row);
          return E_INVALIDARG;
        }
        rates[name] = value;
      }
    }
    return S_OK;
  }
  BOOL GetOwnData() const override { return own; }
  const char* GetError() const override { return error.c_str(); }
  HRESULT ExecuteFilter(const char* program, const char* text1, const char* text2, const char* text3, int32_t number,
                        DWORD* exitCode, CStringA* errorText) override {
    return ExecuteFilterProgram(programs.c_str(), program, text1, text2, text3, number, timeoutMs, module, exitCode,
                                errorText);
  }
  const char* GetFiltersFolder() const override { return filters.c_str(); }
  DWORD GetUpdateAttempts() const override { return attempts; }
  DWORD GetUpdateRetryPause() const override { return pause; }
  BOOL GetOnlyUpdateExisting() const override { return onlyExisting; }
  uint32_t GetActiveCount() const override { return static_cast<uint32_t>(active.size()); }
  const char* GetActiveCode(uint32_t i) const override { return active[i].c_str(); }
  CSettings* GetConnectionSettings() override { return nullptr; }

  std::string filters, programs;
  HMODULE module = nullptr;
  DWORD timeoutMs = kFilterTimeoutMs;
  DWORD attempts = 1, pause = 0;
  BOOL onlyExisting = FALSE;
  std::vector<std::string> active;
  BOOL own = FALSE;
  std::string error;
  std::map<std::string, std::string> rates;
  int loads = 0;
};

class TestThread : public CFetchThread {
 public:
  CFetchSettings& GetSettings() override { return settings; }
  HMODULE GetResourceLibrary() override { return settings.module; }
  CStringList<char>& GetRunLog(FetchLogList which) override { return runLog[which]; }
  void MakeUserAgent(CINetConnection& connection, const char*) override { connection.SetAgent("Vantrex test"); }
  bool Sleep(DWORD ms) override {
    sleeps.push_back(ms);
    return !stopped;
  }

  TestSettings settings;
  CStringList<char> runLog[FetchLogCount];
  std::vector<DWORD> sleeps;
  bool stopped = false;
};

using RunLog = CStringList<char>[FetchLogCount];
std::string Item(const RunLog& log, FetchLogList list, uint32_t page) { return log[list][page]; }

class Fetch : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(www().c_str(), 0700);
    mkdir((dir / "filters").c_str(), 0700);
    mkdir((dir / "programs").c_str(), 0700);
    thread.settings.filters = dir / "filters";
    thread.settings.programs = dir / "programs";
    std::string catalogue = vtxtest::SourcePath("resources/0409/vantrex.cat");
    thread.settings.module = LoadLibraryA(catalogue.c_str());
    ASSERT_NE(thread.settings.module, nullptr);
    connection.m_bUseSystemProxy = FALSE;
    connection.m_bNoProxyForLocal = FALSE;
    ASSERT_EQ(connection.Open(), S_OK);
    context.connection = &connection;
  }
  void TearDown() override {
    connection.Close();
    FreeLibrary(thread.settings.module);
  }

  std::string www() const { return dir / "www"; }

  // A plain file server on a free port; its request log is files.log.
  std::string StartFiles() {
    port = vtxtest::FreePort();
    std::string error = server.Start({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                                      www(), std::to_string(port)},
                                     port, dir / "files.log");
    EXPECT_EQ(error, "");
    return Base();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
  int Requests(const std::string& path) const {
    std::string log = ReadFile(dir / "files.log");
    int n = 0;
    for (size_t at = 0; (at = log.find("\"GET /" + path, at)) != std::string::npos; ++at) ++n;
    return n;
  }

  HRESULT Run(const std::string& address, const char* filter = nullptr) {
    context.address = address.c_str();
    context.rawAddress = address.c_str();
    context.filterName = filter;
    return FetchSource(thread, context);
  }

  void Serve(const std::string& name, const std::string& data) { WriteFile(www() + "/" + name, data); }
  void Definition(const std::string& name, const std::string& text) { WriteFile(dir / ("filters/" + name), text); }
  void Program(const std::string& name, const std::string& script) {
    ASSERT_TRUE(vtxtest::WriteScript(dir / ("programs/" + name), script));
  }

  vtxtest::TempDir dir;
  vtxtest::ScopedEnv tmpdir{"TMPDIR", dir.path()};
  vtxtest::NoProxyEnv noProxy;
  ServerProcess server;
  int port = 0;
  CINetConnection connection;
  TestThread thread;
  FetchContext context;
};

TEST_F(Fetch, PlainRatesFileIsAppliedAndLogged) {
  std::string text = std::string(kOwn) + "[EUR]\r\nUSD = 1.1\r\n";
  Serve("rates.ini", text);
  std::string base = StartFiles();
  ASSERT_EQ(Run(base + "rates.ini"), S_OK);
  EXPECT_EQ(thread.settings.rates["USD"], "1.1");
  EXPECT_EQ(context.messageId, -1);
  EXPECT_EQ(context.pageCount, 1u);
  const RunLog& log = thread.runLog;
  ASSERT_EQ(log[FetchLogUrl].GetCount(), 1u);
  EXPECT_EQ(Item(log, FetchLogUrl, 0), base + "rates.ini");
  EXPECT_EQ(Item(log, FetchLogContents, 0), text);
  EXPECT_EQ(Item(log, FetchLogLength, 0), std::to_string(text.size()));
  EXPECT_EQ(Item(log, FetchLogTime, 0).size(), 20u);
  EXPECT_EQ(Item(log, FetchLogConverted, 0), "");  // nothing had to be converted
}

TEST_F(Fetch, DataWithoutTheSystemsApplicationAreRefused) {
  Serve("foreign.ini", "[General]\r\nApplication = \"Other\"\r\n[EUR]\r\nUSD = 1.1\r\n");
  std::string base = StartFiles();
  EXPECT_EQ(Run(base + "foreign.ini"), E_INVALIDARG);
  EXPECT_EQ(context.messageId, 455);
}

TEST_F(Fetch, AnswersThatAreNoRatesData) {
  struct Case {
    const char* body;
    HRESULT hr;
    int32_t messageId;
    const char* errorText;
  } cases[] = {
      {" \r\n\t\r\n", E_INVALIDDATA, 142, ""},
      {"", E_INVALIDDATA, 142, ""},
      {"  error: unknown client\r\n", E_INVALIDDATA, -1, "error: unknown client\r\n"},
      {"\tFEHLER 17", E_INVALIDDATA, -1, "FEHLER 17"},
      {"\r\n  <html><body>Moved</body></html>", E_INVALIDDATA, 127, ""},
      {"[General]\r\nError = \"Subscription expired\"\r\n", E_FAIL, -1, "Subscription expired"},
  };
  int i = 0;
  for (const Case& c : cases) Serve("answer" + std::to_string(i++) + ".txt", c.body);
  std::string base = StartFiles();
  i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    thread.settings.error.clear();
    EXPECT_EQ(Run(base + "answer" + std::to_string(i++) + ".txt"), c.hr);
    EXPECT_EQ(context.messageId, c.messageId);
    EXPECT_STREQ(context.errorText.c_str(), c.errorText);
  }
}

TEST_F(Fetch, InvalidRatesDataReportTheirLine) {
  Serve("bad.ini", std::string(kOwn) + "[EUR]\r\nUSD = 1.1\r\nJPY = -3\r\n");
  Serve("broken.ini", std::string(kOwn) + "[EUR]\r\nUSD 1.1\r\n");
  std::string base = StartFiles();
  EXPECT_EQ(Run(base + "bad.ini"), E_INVALIDARG);
  EXPECT_EQ(context.errorLine, 5u);
  EXPECT_EQ(Run(base + "broken.ini"), E_INVALIDDATA);
  EXPECT_EQ(context.errorLine, 4u);
}

TEST_F(Fetch, ScrambledEniFileKeepsItsZeroBytes) {
  // Byte 8 is a 'Q', which the key's first byte turns into a zero byte.
  std::string plain = "[EUR]\r\n;Quote\r\nUSD = 1.25\r\n" + std::string(kOwn);
  ASSERT_EQ(plain[8], 'Q');
  std::string scrambled = Scrambled(plain);
  ASSERT_EQ(scrambled[8], '\0');
  Serve("rates.ENI", scrambled);
  std::string base = StartFiles();
  ASSERT_EQ(Run(base + "rates.ENI"), S_OK) << context.errorText.c_str();
  EXPECT_EQ(thread.settings.rates["USD"], "1.25");
  const RunLog& log = thread.runLog;
  EXPECT_EQ(Item(log, FetchLogLength, 0), std::to_string(scrambled.size()));
  EXPECT_EQ(std::memcmp(log[FetchLogContents][0], scrambled.data(), scrambled.size()), 0);
  EXPECT_EQ(Item(log, FetchLogConverted, 0), plain);
}

TEST_F(Fetch, AnswerWithAZeroByteInsideIsRefusedNotCut) {
  const char tail[] = "[EUR]\r\nUSD = 1.1\r\n\0JPY = 130\r\n";
  Serve("nul.ini", std::string(kOwn) + std::string(tail, sizeof tail - 1));
  std::string base = StartFiles();
  EXPECT_EQ(Run(base + "nul.ini"), E_INVALIDDATA);
  EXPECT_EQ(context.errorLine, 5u);
  EXPECT_EQ(thread.settings.loads, 0);
}

TEST_F(Fetch, TwoPartsJoinedByABarAreOneAnswer) {
  Serve("general.txt", kOwn);
  Serve("eur.txt", "[EUR]\r\nUSD = 1.3\r\n");
  std::string base = StartFiles();
  ASSERT_EQ(Run(base + "general.txt|" + base + "eur.txt"), S_OK);
  EXPECT_EQ(thread.settings.rates["USD"], "1.3");
  EXPECT_EQ(Requests("general.txt"), 1);
  EXPECT_EQ(Requests("eur.txt"), 1);
  EXPECT_EQ(thread.runLog[FetchLogUrl].GetCount(), 1u);
}

TEST_F(Fetch, NextChainFetchesEveryPageOnce) {
  std::string base = StartFiles();
  Serve("page1.ini", std::string(kOwn) + "Next = " + base + "page2.ini\r\n[EUR]\r\nUSD = 1.1\r\n");
  Serve("page2.ini", "[EUR]\r\nJPY = 130\r\n");
  ASSERT_EQ(Run(base + "page1.ini"), S_OK);
  EXPECT_EQ(context.pageCount, 2u);
  EXPECT_EQ(context.messageId, -1);
  EXPECT_EQ(thread.settings.rates["USD"], "1.1");
  EXPECT_EQ(thread.settings.rates["JPY"], "130");
  ASSERT_EQ(thread.runLog[FetchLogUrl].GetCount(), 2u);
  EXPECT_EQ(Item(thread.runLog, FetchLogUrl, 1), base + "page2.ini");
}

TEST_F(Fetch, NextLoopEndsWithMessage90AndSucceeds) {
  std::string base = StartFiles();
  Serve("a.ini", std::string(kOwn) + "Next = " + base + "b.ini\r\n[EUR]\r\nUSD = 1.1\r\n");
  Serve("b.ini", "[General]\r\nNext = " + base + "a.ini\r\n[EUR]\r\nJPY = 130\r\n");
  ASSERT_EQ(Run(base + "a.ini"), S_OK);
  EXPECT_EQ(context.messageId, 90);
  EXPECT_EQ(context.pageCount, 2u);
  EXPECT_STREQ(context.pageAddress.c_str(), (base + "b.ini").c_str());
  EXPECT_EQ(Requests("a.ini"), 1);
  EXPECT_EQ(Requests("b.ini"), 1);
}

TEST_F(Fetch, NextMayNotSwitchToAnotherKindOfAddress) {
  std::string base = StartFiles();
  WriteFile(dir / "local.ini", "[EUR]\r\nCHF = 1.5\r\n");
  const std::string targets[] = {"file://" + (dir / "local.ini"), "fxp://127.0.0.1:1/", "page.ini",
                                 base + "ok.ini|file://" + (dir / "local.ini")};
  Serve("ok.ini", "[EUR]\r\nGBP = 0.7\r\n");
  int i = 0;
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    std::string name = "switch" + std::to_string(i++) + ".ini";
    Serve(name, std::string(kOwn) + "Next = \"" + target + "\"\r\n[EUR]\r\nUSD = 1.1\r\n");
    thread.settings.rates.clear();
    ASSERT_EQ(Run(base + name), S_OK);
    EXPECT_EQ(context.messageId, 602);
    EXPECT_EQ(context.pageCount, 1u);
    EXPECT_EQ(thread.settings.rates.count("CHF"), 0u);
  }
  // Among web addresses a "Next" is followed.
  Serve("web.ini", std::string(kOwn) + "Next = " + base + "ok.ini\r\n");
  ASSERT_EQ(Run(base + "web.ini"), S_OK);
  EXPECT_EQ(context.pageCount, 2u);
}

TEST_F(Fetch, FileSourceFollowsAFileNextButNoWebNext) {
  std::string base = StartFiles();
  Serve("web.ini", "[EUR]\r\nGBP = 0.7\r\n");
  WriteFile(dir / "two.ini", "[General]\r\nNext = \"" + base + "web.ini\"\r\n[EUR]\r\nJPY = 130\r\n");
  WriteFile(dir / "one.ini", std::string(kOwn) + "Next = \"file://" + (dir / "two.ini") + "\"\r\n[EUR]\r\nUSD = 1.1\r\n");
  ASSERT_EQ(Run("file://" + (dir / "one.ini")), S_OK);
  EXPECT_EQ(context.pageCount, 2u);
  EXPECT_EQ(context.messageId, 602);
  EXPECT_EQ(thread.settings.rates["JPY"], "130");
  EXPECT_EQ(Requests("web.ini"), 0);
}

TEST_F(Fetch, EndlessChainStopsAfter100Pages) {
  std::string base = StartFiles();
  for (int i = 0; i < 105; ++i)
    Serve("p" + std::to_string(i) + ".ini", std::string(kOwn) + "Next = " + base + "p" + std::to_string(i + 1) + ".ini\r\n");
  ASSERT_EQ(Run(base + "p0.ini"), S_OK);
  EXPECT_EQ(context.pageCount, 100u);
  EXPECT_EQ(context.messageId, 601);
  EXPECT_EQ(Requests("p100.ini"), 0);
}

TEST_F(Fetch, PrnFileIsConvertedFromItsFirstTwoLinesAndOwnedThroughAppend) {
  Serve("rates.prn", "DATE    USD   JPY * CHF\r\n2005-08-22  1.2345  135.5 1.55\r\nignored line\r\n");
  std::string base = StartFiles();
  // Without the definition's Append nothing in a converted page says it is the system's own.
  EXPECT_EQ(Run(base + "rates.prn"), E_INVALIDARG);
  EXPECT_EQ(context.messageId, 455);

  Definition("twoline.ini", "[General]\r\nName = \"Two-line rates\"\r\n[URL]\r\nAddress = \"" + base +
                                "rates.prn\"\r\nName = \"Daily\"\r\nAppend = \"[General]\\r\\nApplication = "
                                "\\\"Hulvane(R) Vantrex(TM)\\\"\\r\\n\"\r\n");
  ASSERT_EQ(Run(base + "rates.prn", "twoline.ini"), S_OK) << context.errorText.c_str();
  EXPECT_EQ(thread.settings.rates["USD"], "1.2345");
  EXPECT_EQ(thread.settings.rates["JPY"], "135.5");
  EXPECT_EQ(thread.settings.rates["CHF"], "1.55");
  const RunLog& log = thread.runLog;
  uint32_t last = log[FetchLogUrl].GetCount() - 1;
  EXPECT_EQ(Item(log, FetchLogName, last), "Two-line rates");
  EXPECT_EQ(Item(log, FetchLogAddress, last), "Daily");
  EXPECT_EQ(Item(log, FetchLogConverted, last),
            "[General]\r\nDate = 2005-08-22T23:00:00Z\r\n[EUR]\r\nUSD = 1.2345\r\nJPY = 135.5\r\nCHF = 1.55\r\n"
            "[Private-HulvaneVantrex]\r\nDateNoTime = 1\r\n");
}

TEST_F(Fetch, MissingDefinitionOfANamedFilter) {
  Serve("rates.ini", std::string(kOwn) + "[EUR]\r\nUSD = 1.1\r\n");
  std::string base = StartFiles();
  EXPECT_EQ(Run(base + "rates.ini", "missing.ini"), E_NOTFOUND_FILE);
  EXPECT_EQ(context.messageId, 223);
}

TEST_F(Fetch, QuoteServiceCsvIsConverted) {
  std::string base = StartFiles();
  std::string address = base + "fxcsv?client_id=abc";
  Serve("currencies.txt", "USD|US Dollar|x\r\nJPY|Japanese \"Yen\"\r\nxx|no code\r\nCHF|\r\n");
  Serve("fxcsv",
        "Client_id,abc\r\nbase,quote,amount,date,ask,bid\r\nEUR,USD,1,2005-08-22,1.2340,1.2351\r\n"
        "USD,EUR,1,2005-08-22,0.81,0.82\r\nEUR,JPY,1,2005-08-22,135.50,135.60\r\nEUR,CHF,1,2005-08-22,1.5,1.6\r\n"
        "EUR,US,1,2005-08-22,1.5,1.5\r\n");  // no currency code: skipped
  Definition("quote.ini", "[General]\r\nName = \"Quote service\"\r\nAppend = \"[General]\\r\\nApplication = "
                          "\\\"Hulvane(R) Vantrex(TM)\\\"\\r\\n\"\r\n[URL]\r\nAddress = \"" +
                              address + "\"\r\nResource = \"" + base + "currencies.txt\"\r\n");
  ASSERT_EQ(Run(address, "quote.ini"), S_OK) << context.errorText.c_str();
  EXPECT_NE(ReadFile(dir / "files.log").find("/fxcsv?client_id=abc&exch=USD_JPY_CHF&expr=EUR"), std::string::npos);
  EXPECT_EQ(thread.settings.rates["USD"], "1.2346");  // (1.2340 + 1.2351) / 2, to 4 decimals
  EXPECT_EQ(thread.settings.rates["JPY"], "135.55");
  EXPECT_EQ(thread.settings.rates["CHF"], "1.6");  // 1.55 rounded half away from zero to 1 decimal
  EXPECT_EQ(Item(thread.runLog, FetchLogConverted, 0),
            "[EUR]\r\nUSD = 1.2346\r\nJPY = 135.55\r\nCHF = 1.6\r\n[Names]\r\nUSD = \"US Dollar\"\r\n"
            "JPY = \"Japanese \\\"Yen\\\"\"\r\n");

  // With OnlyUpdateExisting the query names the active codes.
  thread.settings.onlyExisting = TRUE;
  thread.settings.active = {"EUR", "GBP"};
  ASSERT_EQ(Run(address, "quote.ini"), S_OK);
  EXPECT_NE(ReadFile(dir / "files.log").find("&exch=EUR_GBP&expr=EUR"), std::string::npos);
}

TEST_F(Fetch, QuoteServiceCsvFailures) {
  std::string base = StartFiles();
  Serve("currencies.txt", "USD|US Dollar\r\n");
  Definition("quote.ini", "[URL]\r\nAddress = \"" + base + "fxcsv?client_id=abc\"\r\nResource = \"" + base +
                              "currencies.txt\"\r\n");
  struct Case {
    const char* answer;
    HRESULT hr;
    const char* errorText;
  } cases[] = {
      {"Invalid client id\r\nplease register\r\n", E_FAIL, "Invalid client id"},
      {"Client_id,abc\r\nbase,quote,amount,date,ask,bid\r\nEUR,USD,1,2005-08-22,1.2\r\n", E_FAIL, ""},
      {"Client_id,abc\r\nbase,quote,amount,date,ask,bid\r\nEUR,USD,1,2005-08-22,0.0,1.2\r\n", E_INVALIDDATA, ""},
      // negative quotes (a mean of zero among them) give no rate
      {"Client_id,abc\r\nbase,quote,amount,date,ask,bid\r\nEUR,USD,1,2005-08-22,-1.30,-1.32\r\n", E_INVALIDDATA, ""},
      {"Client_id,abc\r\nbase,quote,amount,date,ask,bid\r\nEUR,CHF,1,2005-08-22,1.5,-1.5\r\n", E_INVALIDDATA, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Serve("fxcsv", c.answer);
    EXPECT_EQ(Run(base + "fxcsv?client_id=abc", "quote.ini"), c.hr);
    EXPECT_STREQ(context.errorText.c_str(), c.errorText);
  }
  // The currency list that cannot be loaded ends the fetch before the rates are asked for.
  Definition("quote.ini", "[URL]\r\nAddress = \"" + base + "fxcsv?client_id=abc\"\r\nResource = \"" + base +
                              "nolist.txt\"\r\n");
  EXPECT_EQ(Run(base + "fxcsv?client_id=abc", "quote.ini"), E_FAIL);
  EXPECT_EQ(Requests("fxcsv?client_id=abc&"), 5);
}

// A server that closes every connection of /drop without an answer, and logs each request.
TEST_F(Fetch, FailedDownloadsAreTriedUpdateAttemptsTimes) {
  port = vtxtest::FreePort();
  WriteFile(dir / "drop.py",
           "import http.server, sys\n"
           "class H(http.server.BaseHTTPRequestHandler):\n"
           "    def do_GET(self):\n"
           "        sys.stderr.write('\"GET %s\"\\n' % self.path); sys.stderr.flush()\n"
           "        self.close_connection = True\n"
           "http.server.HTTPServer(('127.0.0.1', int(sys.argv[1])), H).serve_forever()\n");
  ASSERT_EQ(server.Start({"/usr/bin/python3", dir / "drop.py", std::to_string(port)}, port, dir / "files.log"), "");
  struct Case {
    DWORD attempts;
    int tries;
  } cases[] = {{0, 1}, {3, 3}, {20, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attempts);
    thread.settings.attempts = c.attempts;
    std::string path = "drop" + std::to_string(c.attempts);
    EXPECT_TRUE(FAILED(Run(Base() + path)));
    EXPECT_EQ(Requests(path), c.tries);
    EXPECT_TRUE(thread.sleeps.empty());  // UpdateRetryPause 0: no pause
  }
  // The pause is UpdateRetryPause seconds, and a stop request ends the tries.
  thread.settings.attempts = 5;
  thread.settings.pause = 7;
  thread.stopped = true;
  EXPECT_TRUE(FAILED(Run(Base() + "stopped")));
  EXPECT_EQ(Requests("stopped"), 1);
  EXPECT_EQ(thread.sleeps, std::vector<DWORD>{7000});
}

TEST_F(Fetch, FilterProgramGetsItsArgumentsAndATemporaryFile) {
  std::string base = StartFiles();
  Serve("page.html", "<html>rates</html>");
  Program("plain.sh",
          "echo \"$1|$2|$3|$4|$#\" > \"" + (dir / "args") + "\"\n"
          "cat \"$1\" > \"" + (dir / "input") + "\"\n"
          "printf '\\r\\n[General]\\r\\nApplication = \"Hulvane(R) Vantrex(TM)\"\\r\\n[EUR]\\r\\nUSD = 1.5\\r\\n' > \"$1\"\n");
  Definition("bank.ini", "[General]\r\nExecutable = plain.sh\r\n[URL]\r\nAddress = \"" + base + "other\"\r\n[URL]\r\nAddress = \"" +
                             base + "page.html\"\r\n");
  ASSERT_EQ(Run(base + "page.html", "bank.ini"), S_OK) << context.errorText.c_str();
  EXPECT_EQ(thread.settings.rates["USD"], "1.5");
  EXPECT_EQ(ReadFile(dir / "input"), "<html>rates</html>");
  std::string args = ReadFile(dir / "args");
  std::string temp = args.substr(0, args.find('|'));
  EXPECT_EQ(args.substr(temp.size()), "|" + base + "page.html|bank.ini|1|4\n");
  EXPECT_EQ(temp.rfind(dir / "HVX", 0), 0u) << temp;
  EXPECT_NE(access(temp.c_str(), F_OK), 0);  // deleted after the run
}

TEST_F(Fetch, ScrambledFilterOutputIsUnscrambled) {
  std::string base = StartFiles();
  Serve("page.html", "<html>rates</html>");
  // What every filter writes: it begins with "[General]", whose scrambled '[' is a line feed.
  std::string output = std::string(kOwn) + "Source = \"Bank\"\r\n\r\n[EUR]\r\n\r\nUSD = 1.75\r\n";
  std::string scrambled = Scrambled(output);
  ASSERT_EQ(scrambled[0], '\n');
  WriteFile(dir / "scrambled.out", scrambled);
  Program("feed.sh", "cat \"" + (dir / "scrambled.out") + "\" > \"$1\"\n");
  Definition("bank.ini", "[General]\r\nExecutable = feed.sh\r\n");
  ASSERT_EQ(Run(base + "page.html", "bank.ini"), S_OK) << context.errorText.c_str();
  EXPECT_EQ(thread.settings.rates["USD"], "1.75");
  EXPECT_EQ(Item(thread.runLog, FetchLogConverted, 0), output);
}

TEST_F(Fetch, FailingFilterExplainsItsExitCode) {
  std::string base = StartFiles();
  Serve("page.html", "<html>rates</html>");
  struct Case {
    const char* script;
    HRESULT hr;
    const char* errorText;
  } cases[] = {
      // family 6, low bits 3: strings 450 and 454
      {"exit 99\n", 0x8004C003,
       "The filter program failed with the code 0x8004C003 (unexpected content - the euro rate is missing or zero)."},
      // family 7, low bits 2: string 468 alone
      {"exit 114\n", 0x8004E002, "The filter program failed with the code 0x8004E002 (no rates found)."},
      // no family of ours: the system's text without its final dot
      {"kill -9 $$\n", 0x8007042B, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Program("fail.sh", c.script);
    Definition("bank.ini", "[General]\r\nExecutable = fail.sh\r\n");
    EXPECT_EQ(Run(base + "page.html", "bank.ini"), c.hr);
    if (c.errorText) {
      EXPECT_STREQ(context.errorText.c_str(), c.errorText);
    } else {
      std::string text = context.errorText.c_str();
      EXPECT_EQ(text.rfind("The filter program failed with the code 0x8007042B (", 0), 0u) << text;
      EXPECT_EQ(text.find(".)"), std::string::npos) << text;
    }
  }
}

TEST_F(Fetch, HungFilterIsKilledAtItsTimeLimit) {
  std::string base = StartFiles();
  Serve("page.html", "<html>rates</html>");
  Program("hang.sh", "sleep 30\n");
  Definition("bank.ini", "[General]\r\nExecutable = hang.sh\r\n");
  thread.settings.timeoutMs = 300;
  EXPECT_EQ(Run(base + "page.html", "bank.ini"), E_TIMEOUT);
  EXPECT_EQ(std::string(context.errorText.c_str()).rfind("The filter program failed with the code 0x800705B4", 0), 0u);
}

TEST_F(Fetch, FilterProgramNamesThatLeaveTheFolderAreRefused) {
  std::string base = StartFiles();
  Serve("page.html", "<html>rates</html>");
  for (const char* name : {"../x.sh", "/bin/true", "..", "c:x"}) {
    SCOPED_TRACE(name);
    Definition("bank.ini", std::string("[General]\r\nExecutable = \"") + name + "\"\r\n");
    EXPECT_EQ(Run(base + "page.html", "bank.ini"), E_INVALIDARG);
    EXPECT_NE(std::string(context.errorText.c_str()).find("is refused"), std::string::npos);
  }
}

TEST_F(Fetch, FilterThatLeavesNoOutputFile) {
  std::string base = StartFiles();
  Serve("page.html", "<html>rates</html>");
  Program("rm.sh", "rm -f \"$1\"\n");
  Definition("bank.ini", "[General]\r\nExecutable = rm.sh\r\n");
  EXPECT_EQ(Run(base + "page.html", "bank.ini"), E_FAIL);
  EXPECT_EQ(context.messageId, 221);
}

TEST_F(Fetch, FilterOutputFarLargerThanItsInputIsNotRead) {
  std::string base = StartFiles();
  Serve("page.html", "<html>rates</html>");
  Program("grow.sh", "truncate -s 200M \"$1\"\n");
  Definition("bank.ini", "[General]\r\nExecutable = grow.sh\r\n");
  EXPECT_EQ(Run(base + "page.html", "bank.ini"), HRESULT_FROM_WIN32(kErrorDownloadTooLarge));
}

TEST(FetchTests, ErrorAndMarkupDocuments) {
  struct Case {
    const char* text;
    int32_t error;
    bool markup;
  } cases[] = {
      {"ERROR 5", 0, false},        {" \terror", 2, false},      {"Erreur: x", 0, false},
      {"ERRORE", 0, false},         {"fehler", 0, false},        {"\r\nERROR", -1, false},
      {"ERRO", -1, false},          {"\r\n \t<!DOCTYPE", -1, true}, {"x<html>", -1, false},
      {"", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t n = static_cast<uint32_t>(std::strlen(c.text));
    EXPECT_EQ(IsErrorDocument(c.text, n), c.error);
    EXPECT_EQ(IsMarkupDocument(c.text, n), c.markup);
  }
}

TEST(FetchTests, ScrambledOutputIsToldFromPlainText) {
  EXPECT_FALSE(IsScrambledOutput("[General]", 9));
  EXPECT_FALSE(IsScrambledOutput(" \r\n\t; comment", 13));
  EXPECT_FALSE(IsScrambledOutput("\r\n", 2));
  EXPECT_TRUE(IsScrambledOutput("General", 7));
  for (const char* plain : {"[General]\r\n", "; note\r\n[EUR]\r\n", "\r\n[General]\r\n"}) {
    std::string s = Scrambled(plain);
    EXPECT_TRUE(IsScrambledOutput(s.data(), static_cast<uint32_t>(s.size()))) << plain;
  }
}

TEST(FetchTests, TwoLineDateConverter) {
  struct Case {
    const char* text;
    HRESULT hr;
    const char* out;
    const char* unmatched;
    uint32_t count;
  } cases[] = {
      {"USD\tJPY\r\n1.1\t130\r\n", S_OK,
       "[EUR]\r\nUSD = 1.1\r\nJPY = 130\r\n[Private-HulvaneVantrex]\r\nDateNoTime = 1\r\n", "", 0},
      // short codes and values are dropped
      {"  X USD JP\n 12 1.1 7\n", S_OK, "[EUR]\r\nUSD = 1.1\r\n[Private-HulvaneVantrex]\r\nDateNoTime = 1\r\n", "", 0},
      // two dots: this column and the next one ran together
      {"date USD JPY CHF\n2005-01-02 1.1 130.51.5 9.9\n", S_OK,
       "[General]\r\nDate = 2005-01-02T23:00:00Z\r\n[EUR]\r\nUSD = 1.1\r\n[Private-HulvaneVantrex]\r\nDateNoTime = 1\r\n",
       "JPY (Yen)\tCHF (Swiss Franc)", 2},
      // values that are no rate are reported, not written
      {"DATE USD JPY CHF\n2005-01-02 NA -1.5 1,2\n", S_OK,
       "[General]\r\nDate = 2005-01-02T23:00:00Z\r\n[EUR]\r\n[Private-HulvaneVantrex]\r\nDateNoTime = 1\r\n",
       "USD (US Dollar)\tJPY (Yen)\tCHF (Swiss Franc)", 3},
      {"DATE USD\n2005-01-02\n", E_INVALIDDATA, nullptr, "", 0},
      {"DATE USD\nx 1.1\n", E_INVALIDDATA, nullptr, "", 0},
      {"USD JPY\n1.1 130", E_INVALIDDATA, nullptr, "", 0},
      {"USD JPY", E_INVALIDDATA, nullptr, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CBuffer<char> text(10, 10);
    text.Add(c.text, static_cast<uint32_t>(std::strlen(c.text)));
    CStringA unmatched;
    uint32_t count = 0;
    EXPECT_EQ(ConvertTwoLineDate(text, unmatched, count), c.hr);
    if (c.out) {
      EXPECT_EQ(std::string(text.GetData(), text.GetCount()), c.out);
    }
    EXPECT_STREQ(unmatched.c_str(), c.unmatched);
    EXPECT_EQ(count, c.count);
  }
}

// Converted answers of the built-in converters say nothing about their origin: the shipped
// definitions of such addresses must carry the "Application" line in their Append text.
TEST(FetchTests, ShippedDefinitionsOfBuiltInConvertersMarkTheirDataAsOwn) {
  CFilterList list;
  ASSERT_EQ(list.Create((vtxtest::SourcePath("resources/filters")).c_str(), false), 1);
  for (uint32_t i = 0; i < list.GetCount(); ++i) {
    const CFilter* filter = list[i];
    for (uint32_t n = 0; n < filter->GetURLCount(); ++n) {
      std::string address = filter->GetURLAddress(n) ? filter->GetURLAddress(n) : "";
      bool prn = address.size() > 4 && _stricmp(address.c_str() + address.size() - 4, ".PRN") == 0;
      bool csv = address.find("/fxcsv?client_id=") != std::string::npos;
      if (!prn && !csv) continue;
      std::string append = std::string(filter->GetURL(n)->GetAppend() ? filter->GetURL(n)->GetAppend() : "") +
                           (filter->GetAppend() ? filter->GetAppend() : "");
      EXPECT_NE(append.find("Application = \"Hulvane(R) Vantrex(TM)\""), std::string::npos) << filter->GetName();
    }
  }
}

}  // namespace
