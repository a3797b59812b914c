// vtxwebservice as a program on 127.0.0.1, called with zeep from its WSDL, with curl and xmllint.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "engine/foundation/timetext.h"
#include "platform/native/productpaths.h"
#include "tests/support/net.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/wait.h"
#include "tests/webservice/web_fixture.h"

using namespace vtxtest;

namespace {

std::string Shell(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int st = pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

class Host : public WebTest {
 protected:
  static void SetUpTestSuite() {
    WebTest::SetUpTestSuite();
    SeedStore();
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    FILETIME winter, summer;
    ASSERT_TRUE(StringToTime("2005-02-28T13:05:09Z", &winter));
    ASSERT_TRUE(StringToTime("2005-07-17T10:00:00Z", &summer));
    s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("USD"))]->ftLastChange = winter;
    s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind("GBP"))]->ftLastChange = summer;
    ASSERT_EQ(0u, s.SaveINI());

    port_ = FreePort();
    std::string port = std::to_string(port_);
    ASSERT_EQ(server_.Start({Program("vtxwebservice"), "--port", port, "--path", "/Vantrex.asmx", "--idle-timeout", "2"},
                            port_, WebDir() / "host.log"),
              "");
    url_ = "http://127.0.0.1:" + port + "/Vantrex.asmx";
  }
  static void TearDownTestSuite() {
    if (server_.Running()) {
      EXPECT_EQ(server_.Stop(std::chrono::seconds(10)), 0);
    }
  }
  void SetUp() override {}

  // POSTs a body from a file: "<status>\n<body>".
  static std::string Post(const std::string& body, const std::string& type = "text/xml; charset=utf-8") {
    std::string file = WebDir() / "body.xml";
    WriteFile(file, body);
    return Shell("curl -s -w '\\n%{http_code}' -H 'Content-Type: " + type + "' --data-binary @" + file + " '" + url_ +
               "'");
  }
  static std::string Envelope(const std::string& inner, const char* ns = "http://schemas.xmlsoap.org/soap/envelope/") {
    return std::string("<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"") + ns +
           "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><s:Body>" + inner + "</s:Body></s:Envelope>";
  }

  static inline ServerProcess server_;
  static inline uint16_t port_ = 0;
  static inline std::string url_;
};

const char kOps[] = "urn:hulvane:vantrex:webservice:4.0/";

std::string Envelope(const std::string& inner) {
  return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>" + inner +
         "</s:Body></s:Envelope>";
}

}  // namespace

TEST_F(Host, ZeepCallsEveryOperationFromTheWsdl) {
  int st = -1;
  std::string out =
      Shell("/usr/bin/python3 " + SourcePath("tests/webservice/zeep_client.py") + " '" + url_ + "?wsdl' 2>&1", &st);
  EXPECT_EQ(st, 0) << out;
}

// A second host on the port in use is refused and says so; the usage is there for the asking.
TEST_F(Host, APortInUseIsRefusedAndHelpShowsTheUsage) {
  std::string program = Program("vtxwebservice");
  int st = -1;
  std::string out = Shell(program + " --port " + std::to_string(port_) + " 2>&1", &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(out, "vtxwebservice: cannot listen on 127.0.0.1:" + std::to_string(port_) +
                     ": the port is in use by another program\n");
  out = Shell(program + " --help", &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(out.rfind("usage: vtxwebservice", 0), 0u) << out;
  out = Shell(program + " --port 2>&1", &st);
  EXPECT_EQ(st, 2);
  EXPECT_EQ(out, "vtxwebservice: missing value after --port (vtxwebservice --help shows the usage)\n");
}

TEST_F(Host, WsdlIsValidXml) {
  std::string file = WebDir() / "service.wsdl";
  int st = -1;
  Shell("curl -s -o " + file + " '" + url_ + "?WSDL'", &st);
  ASSERT_EQ(st, 0);
  Shell("xmllint --noout --nonet " + file, &st);
  EXPECT_EQ(st, 0);
  std::string wsdl = Shell("cat " + file);
  EXPECT_NE(wsdl.find("<soap:address location=\"http://127.0.0.1:" + std::to_string(port_) + "/Vantrex.asmx\"/>"),
            std::string::npos);
  EXPECT_NE(wsdl.find("Vantrex - An exchange rate information and currency conversion Web service."),
            std::string::npos);
  EXPECT_EQ(Shell("curl -s -o /dev/null -w '%{http_code}' 'http://127.0.0.1:" + std::to_string(port_) + "/other'"), "404");
}

TEST_F(Host, RawEnvelopes) {
  const std::string op = std::string("<ConvertToNum xmlns=\"") + kOps + "\">";
  const std::string args = "<fromCurrency>EUR</fromCurrency><toCurrency>USD</toCurrency><amount>4</amount>"
                           "<rounding>false</rounding>";
  struct {
    std::string body;
    std::string type;
    const char* status;
    const char* part;
  } cases[] = {
      {Envelope(op + args + "<date xsi:nil=\"true\"/></ConvertToNum>"), "text/xml", "200",
       "<ConvertToNumResult>5</ConvertToNumResult>"},
      {Envelope(op + args + "<date/></ConvertToNum>"), "text/xml", "200", "<ConvertToNumResult>5</ConvertToNumResult>"},
      {Envelope(op + args + "<date>x</date></ConvertToNum>"), "text/xml", "500", "<faultcode>soap:Client</faultcode>"},
      {Envelope(op + args + "</ConvertToNum>", "http://www.w3.org/2003/05/soap-envelope"), "application/soap+xml",
       "200", "<ConvertToNumResult>5</ConvertToNumResult>"},
      {Envelope(op + "</ConvertToNum>", "http://www.w3.org/2003/05/soap-envelope"), "application/soap+xml", "400",
       "<soap:Value>soap:Sender</soap:Value>"},
      {"<!DOCTYPE lol [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>" +
           Envelope(op + "<fromCurrency>&b;</fromCurrency></ConvertToNum>"),
       "text/xml", "500", "document type declaration is not allowed"},
      {"<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>", "text/xml", "500",
       "not well-formed"},
      {Envelope(std::string("<ConvertAll xmlns=\"") + kOps + "\"/>"), "text/xml", "500", "Unknown operation: ConvertAll"},
  };
  for (const auto& c : cases) {
    std::string r = Post(c.body, c.type);
    EXPECT_EQ(r.substr(r.rfind('\n') + 1), c.status) << c.body << "\n" << r;
    EXPECT_NE(r.find(c.part), std::string::npos) << c.body << "\n" << r;
  }
  std::string big = Envelope(op + "<fromCurrency>" + std::string(2u << 20, 'x') + "</fromCurrency></ConvertToNum>");
  std::string r = Post(big);
  EXPECT_EQ(r.substr(r.rfind('\n') + 1), "413");
  // The host goes on serving after all of these.
  r = Post(Envelope(op + args + "</ConvertToNum>"));
  EXPECT_EQ(r.substr(r.rfind('\n') + 1), "200");
}

TEST_F(Host, CallsRunConcurrently) {
  const std::string body = Envelope(std::string("<ConvertToStr xmlns=\"") + kOps +
                                    "\"><fromCurrency>EUR</fromCurrency><toCurrency>USD;GBP</toCurrency>"
                                    "<amount>2</amount><rounding>true</rounding><format>+</format></ConvertToStr>");
  std::string file = WebDir() / "concurrent.xml";
  ASSERT_TRUE(WriteFile(file, body));
  std::string cmd;
  for (int i = 0; i < 16; ++i)
    cmd += "curl -s -H 'Content-Type: text/xml' --data-binary @" + file + " '" + url_ + "' & ";
  cmd += "wait";
  std::string out = Shell(cmd);
  size_t count = 0;
  for (size_t at = 0; (at = out.find("<ConvertToStrResult>2.50;1.60</ConvertToStrResult>", at)) != std::string::npos; ++at)
    ++count;
  EXPECT_EQ(count, 16u) << out;
}

TEST_F(Host, IdleConnectionsAreClosed) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port_);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(3, send(s, "POS", 3, 0));  // a request that never ends
  pollfd p{s, POLLIN, 0};
  ASSERT_EQ(1, poll(&p, 1, 8000));  // the host runs with a 2 s idle time-out
  char c;
  EXPECT_LE(recv(s, &c, 1, 0), 0);
  close(s);
}

// A client that trickles its request in, a byte at a time but never idle for long, holds its
// connection no longer than the time to receive a request (here 2 s), and 64 such clients hold the
// places of their address no longer either.
TEST_F(Host, SlowRequestsEndAtTheirDeadlineAndFreeTheirPlaces) {
  auto open = [] {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a));
    return s;
  };
  std::vector<int> slow;
  for (int i = 0; i < 64; ++i) slow.push_back(open());
  const std::string head = "POST /Vantrex.asmx HTTP/1.1\r\nHost: x\r\nX-Slow: ";
  auto started = std::chrono::steady_clock::now();
  std::vector<bool> ended(slow.size(), false);
  size_t endedCount = 0;
  for (size_t sent = 0; endedCount < slow.size() && std::chrono::steady_clock::now() - started < std::chrono::seconds(20);
       ++sent) {
    for (size_t i = 0; i < slow.size(); ++i) {
      if (ended[i]) continue;
      char c = sent < head.size() ? head[sent] : 'a';
      if (send(slow[i], &c, 1, MSG_NOSIGNAL) != 1) {
        ended[i] = true;
        ++endedCount;
        continue;
      }
      pollfd p{slow[i], POLLIN, 0};
      char r;
      if (poll(&p, 1, 0) == 1 && recv(slow[i], &r, 1, MSG_DONTWAIT) <= 0) {
        ended[i] = true;
        ++endedCount;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(endedCount, slow.size());
  EXPECT_LT(took, std::chrono::seconds(15));
  for (int s : slow) close(s);
  // Their places are free again: an ordinary call goes through.
  std::string r = Post(Envelope(std::string("<RateNum xmlns=\"") + kOps +
                                "\"><clientKey>k</clientKey><baseCurrency>EUR</baseCurrency><toCurrency>USD</toCurrency>"
                                "<rounding>false</rounding></RateNum>"));
  EXPECT_NE(r.find("\n200"), std::string::npos) << r;
}

namespace {

// A validation program that keeps the call whose key is "slow" until the test lets it go (or 20 s
// have passed), and accepts every other call at once.
class SlowValidator {
 public:
  SlowValidator() {
    mkdir((WebDir() / "Validators").c_str(), 0755);
    std::remove(started().c_str());
    std::remove(release().c_str());
    WriteScript(WebDir() / "Validators/gate.sh",
                "[ \"$1\" = slow ] || exit 0\ntouch '" + started() + "'\ni=0\nwhile [ ! -e '" + release() +
                    "' ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done\nexit 0\n");
    SetString("Path", WebDir().path().c_str());
    SetString("ClientValidation", "gate.sh");
  }
  ~SlowValidator() {
    Release();
    SetString("ClientValidation", "");
  }
  static std::string started() { return WebDir() / "gate.started"; }
  static std::string release() { return WebDir() / "gate.release"; }
  static bool Started() { return access(started().c_str(), 0) == 0; }
  static void Release() { WriteFile(release(), ""); }
};

std::string RateCall(const char* key) {
  return Envelope(std::string("<RateNum xmlns=\"") + kOps + "\"><clientKey>" + key +
                  "</clientKey><baseCurrency>EUR</baseCurrency><toCurrency>USD</toCurrency><rounding>false</rounding>"
                  "</RateNum>");
}

}  // namespace

// While a call waits for its validation, quick calls on other keep-alive connections are answered:
// a connection never waits for a call of another.
TEST_F(Host, AQuickCallIsAnsweredWhileASlowOneWaits) {
  std::vector<std::unique_ptr<HttpConnection>> quick;
  for (int i = 0; i < 16; ++i) {
    quick.push_back(std::make_unique<HttpConnection>(port_));
    ASSERT_EQ(quick.back()->Post("/Vantrex.asmx", RateCall("quick")), 200);
  }
  SlowValidator gate;
  HttpConnection slow(port_);
  std::atomic<int> slowStatus{-1};
  std::thread slowCall([&] { slowStatus = slow.Post("/Vantrex.asmx", RateCall("slow")); });
  ASSERT_TRUE(Eventually([] { return SlowValidator::Started(); }));
  for (auto& c : quick) {
    std::string answer;
    EXPECT_EQ(c->Post("/Vantrex.asmx", RateCall("quick"), &answer), 200) << answer;
    EXPECT_NE(answer.find("<RateNumResult>1.25</RateNumResult>"), std::string::npos) << answer;
  }
  EXPECT_EQ(slowStatus.load(), -1) << "the slow call ended before the quick ones";
  SlowValidator::Release();
  slowCall.join();
  EXPECT_EQ(slowStatus.load(), 200);
}

// The service description over one connection, again and again, as a browser or a client asks.
TEST_F(Host, GetAnswersKeepTheConnection) {
  HttpConnection c(port_);
  for (int i = 0; i < 3; ++i) {
    std::string answer;
    ASSERT_EQ(c.Get("/Vantrex.asmx?wsdl", &answer), 200) << i;
    EXPECT_NE(answer.find("<wsdl:definitions"), std::string::npos);
    ASSERT_EQ(c.Get("/Vantrex.asmx", &answer), 200) << i;
    EXPECT_NE(answer.find("<html>"), std::string::npos);
  }
  EXPECT_EQ(c.Post("/Vantrex.asmx", RateCall("k")), 200);
}

// A service of its own for the tests that end it.
class HostAlone : public WebTest {
 protected:
  void SetUp() override { SeedStore(); }
  std::string Start(const std::vector<std::string>& extra = {}) {
    port_ = FreePort();
    std::vector<std::string> argv = {Program("vtxwebservice"), "--port", std::to_string(port_)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::remove(log().c_str());
    return server_.Start(argv, port_, log());
  }
  static std::string log() { return WebDir() / "alone.log"; }
  ServerProcess server_;
  uint16_t port_ = 0;
};

// SIGTERM ends the service within seconds while many requests from two addresses are half sent, a
// call waits for its validation, and the time-out for idle connections is far off.
TEST_F(HostAlone, SigtermEndsTheServiceWhateverItsConnectionsDo) {
  ASSERT_EQ(Start({"--idle-timeout", "120"}), "");
  std::vector<std::unique_ptr<HttpConnection>> half;
  for (int i = 0; i < 100; ++i) {
    half.push_back(std::make_unique<HttpConnection>(port_, i % 2 ? "127.0.0.2" : nullptr));
    ASSERT_TRUE(half.back()->SendRaw("POST /Vantrex HTTP/1.1\r\nHost: x\r\nContent-Length: 300\r\n\r\n<?xml"));
  }
  SlowValidator gate;
  HttpConnection slow(port_);
  std::thread slowCall([&] { slow.Post("/Vantrex", RateCall("slow")); });
  ASSERT_TRUE(Eventually([] { return SlowValidator::Started(); }));
  EXPECT_EQ(server_.Stop(std::chrono::seconds(10)), 0) << ReadFile(log());
  SlowValidator::Release();
  slowCall.join();
}

// A flood of failing calls leaves a few lines a second in the log and a count of the others.
TEST_F(HostAlone, FailedCallsAreLoggedAFewLinesASecond) {
  ASSERT_EQ(Start(), "");
  HttpConnection c(port_);
  const auto begun = std::chrono::steady_clock::now();
  for (int i = 0; i < 60; ++i) ASSERT_EQ(c.Post("/Vantrex", "<a/>", nullptr, "text/plain"), 415);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begun);
  ASSERT_EQ(server_.Stop(std::chrono::seconds(10)), 0);
  std::string text = ReadFile(log());
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("a request refused", at)) != std::string::npos; ++at) ++lines;
  EXPECT_GE(lines, 1u) << text;
  EXPECT_LE(lines, 5u * static_cast<size_t>(seconds.count() + 1)) << text;
  EXPECT_NE(text.find(" more failed calls not logged"), std::string::npos) << text;
}

// The service never makes a store: without one, each call fails and none appears.
TEST_F(HostAlone, AMissingStoreIsAFaultOfEachCallAndIsNeverMade) {
  const std::string missing = WebDir() / "none/registry.db";
  ScopedEnv store(vtx::env::kRegistry, missing.c_str());
  ASSERT_EQ(Start(), "");
  HttpConnection c(port_);
  for (int i = 0; i < 2; ++i) {
    std::string answer;
    EXPECT_EQ(c.Post("/Vantrex", RateCall("k"), &answer), 500) << answer;
    EXPECT_NE(answer.find("The Vantrex settings could not be loaded (0x80070002)"), std::string::npos) << answer;
  }
  EXPECT_NE(access((WebDir() / "none").c_str(), 0), 0);
}
