// The whole service as clients meet it: vtxwebservice and vtxserver as programs on one private
// store, called through the WSDL by zeep and by npm's soap package, and by curl for the host's
// conventions.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "engine/foundation/timetext.h"
#include "engine/notify/reachserver.h"
#include "engine/foundation/servercommands.h"
#include "platform/native/productpaths.h"
#include "tests/support/command.h"
#include "tests/support/net.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/syslog.h"
#include "tests/support/wait.h"
#include "tests/webservice/web_fixture.h"

using namespace vtxtest;

namespace {

constexpr char kRates[] =
    "[General]\nSource = Test bank\nCopyright = (c) Test & <bank>\nDate = 2005-03-01T13:05:09Z\n"
    "Expires = 2005-03-02T13:05:09Z\n"
    "[EUR]\nUSD = 1.25\nGBP = 0.8\nJPY = 160\nCHF = 0\nDEM = 1.95583\nXPF = 119.3317422\n"
    "[Smallest]\nJPY = 1\n";

pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  pid_t pid = -1;
  int r = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return r == 0 ? pid : -1;
}

void SetDword(const char* name, DWORD value) {
  RegDwordValue v(value);
  ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, g_szAppKey, name), S_OK);
}

class Service : public WebTest {
 protected:
  static void SetUpTestSuite() {
    WebTest::SetUpTestSuite();
    setenv(vtx::env::kSyslogSocket, (WebDir() / "log.sock").c_str(), 1);
    events_ = new SyslogListener(WebDir() / "log.sock");
    ASSERT_TRUE(events_->bound());
    SeedStore(kRates);
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    FILETIME winter;
    ASSERT_TRUE(StringToTime("2005-02-28T13:05:09Z", &winter));
    auto rec = [&s](const char* code) { return s.GetRates()[static_cast<uint32_t>(s.GetData()->IFind(code))]; };
    rec("USD")->ftLastChange = winter;
    rec("CHF")->ftLastChange = FILETIME{};
    rec("GBP")->dwFlags |= kInfoWarning;
    rec("GBP")->dwServers = 3;
    s.GetRates().Message = "Rates & more <b>\r\nsecond line\x01";
    ASSERT_EQ(0u, s.SaveINI());
    ASSERT_TRUE(SetUnitHits("USD", 12));
    ASSERT_TRUE(SetUnitHits("GBP", 0xFFFFFFFF));
    source_ = SourceDir();
    std::string cat = source_ + "/resources/0409/vantrex.cat";
    SetString("Resources0409", cat.c_str());
    SetString("Resources0000", cat.c_str());
    product_ = WebDir() / "product";
    ASSERT_EQ(mkdir(product_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((product_ + "/Configurations").c_str(), 0750), 0);
    SetString("Path", product_.c_str());
    SetDword("AllowAdminWebService", 1);

    server_ = Spawn({Program("vtxserver"), "/SERVICE"}, WebDir() / "server.log");
    ASSERT_GT(server_, 0);
    ASSERT_TRUE(Eventually([] { return CanSendVXVMessages() != 0; }, std::chrono::seconds(20)))
        << ReadFile(WebDir() / "server.log");
    port_ = FreePort();
    url_ = "http://127.0.0.1:" + std::to_string(port_) + "/Vantrex.asmx";
    web_ = new ServerProcess;
    ASSERT_EQ(web_->Start({Program("vtxwebservice"), "--port", std::to_string(port_), "--path",
                           "/Vantrex.asmx"},
                          port_, WebDir() / "web.log"),
              "");
  }
  static void TearDownTestSuite() {
    delete web_;
    if (server_ > 0) {
      DWORD reply = 0;
      SendVXVMessageTimeout(WM_VX_QUIT, 0, 0, 10000, &reply);
      int st = 0;
      waitpid(server_, &st, 0);
      EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << ReadFile(WebDir() / "server.log");
    }
    delete events_;
  }
  void SetUp() override {}

  static std::string Zeep(const std::string& phase, int* status) {
    return RunCommand("/usr/bin/python3 " + source_ + "/tests/webservice/zeep_operations.py '" + url_ + "?wsdl' " + phase +
                     " '" + product_ + "/Configurations' 2>&1",
                 status);
  }

  static inline pid_t server_ = -1;
  static inline ServerProcess* web_ = nullptr;
  static inline uint16_t port_ = 0;
  static inline std::string url_, source_, product_;
  static inline SyslogListener* events_ = nullptr;
};

}  // namespace

TEST_F(Service, ZeepReadsCurrenciesMappingsTimesAndTexts) {
  int st = -1;
  std::string out = Zeep("read", &st);
  EXPECT_EQ(st, 0) << out;
}

TEST_F(Service, NpmSoapClient) {
  const std::string client = source_ + "/tests/webservice/soapjs";
  ASSERT_EQ(access((client + "/node_modules/soap").c_str(), F_OK), 0)
      << "the npm packages of " << client << " are not installed (./test.sh installs them)";
  for (const char* phase : {"read", "admin"}) {
    int st = -1;
    std::string out = RunCommand("node " + client + "/client.js '" + url_ + "?wsdl' " + phase + " 2>&1", &st);
    EXPECT_EQ(st, 0) << phase << ": " << out;
  }
}

TEST_F(Service, AdministrationAgainstTheServer) {
  // The switch off: every operation refused before its arguments are looked at.
  SetDword("AllowAdminWebService", 0);
  int st = -1;
  std::string out = Zeep("admin-off", &st);
  EXPECT_EQ(st, 0) << out;
  SetDword("AllowAdminWebService", 1);

  // Save, change, load: the configuration comes back through a file of the Configurations folder.
  SetString("RoundTrip", "before");
  out = Zeep("admin", &st);
  EXPECT_EQ(st, 0) << out;
  events_->Drain();
  g_pfnSendVXVMessageTimeout = ::SendVXVMessageTimeout;  // the library in this process, as the host wires it
  Hulvane::Web::Services::Vantrex v;
  v.AdminSave(M("k"), M("round-trip"));
  SetString("RoundTrip", "after");
  v.AdminLoad(M("k"), M("round-trip"));
  RegStringValueA value;
  ASSERT_EQ(value.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "RoundTrip"), S_OK);
  EXPECT_STREQ(value.GetString(), "before");
  CSettings s;
  ASSERT_TRUE(s.Create(nullptr));
  EXPECT_EQ(s.GetData()->AllowAdminWebService, 1u) << "the switch came back with the file";
  EXPECT_EQ(N(v.Version(M("k"))), "4.0") << "the rates are still there";
  EXPECT_TRUE(v.CurrencyExists(M("k"), M("XPF")));
  struct stat info{};
  ASSERT_EQ(stat((product_ + "/Configurations/round-trip.vx-cnf").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A message reaches the server's channels as an error.
  v.AdminMessage(M("k"), U("Rates & <more>"), 3);
  bool seen = false;
  for (const std::string& e : events_->Drain(1000))
    if (e.find("Rates & <more>") != std::string::npos) seen = e.find("error") != std::string::npos;
  EXPECT_TRUE(seen);

  // While a session holds the configuration, an update is only counted: string 513.
  DWORD reply = 0;
  ASSERT_EQ(SendVXVMessageTimeout(WM_VX_LOCKCONFIG, 0, 0, 10000, &reply), S_OK);
  ASSERT_EQ(reply, 0u);
  std::string fault = RunCommand("curl -s -H 'Content-Type: text/xml' --data-binary '<s:Envelope xmlns:s=\""
                            "http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><AdminUpdateNow xmlns=\""
                            "urn:hulvane:vantrex:webservice:4.0/\"/></s:Body></s:Envelope>' '" +
                            url_ + "'");
  EXPECT_NE(fault.find("The configuration is being edited. The update will run when the editing session ends."),
            std::string::npos)
      << fault;
  EXPECT_EQ(SendVXVMessageTimeout(WM_VX_UNLOCKCONFIG, 0, 0, 10000, &reply), S_OK);
  g_pfnSendVXVMessageTimeout = nullptr;
}

TEST_F(Service, HostConventions) {
  int st = -1;
  std::string page = RunCommand("curl -s -f '" + url_ + "'", &st);
  ASSERT_EQ(st, 0);
  EXPECT_NE(page.find("<a href=\"" + url_ + "?wsdl\">"), std::string::npos) << page;
  EXPECT_NE(page.find("<dt>DomainToCurrency</dt><dd>Returns a currency code (ISO 4217 Alpha-3) associated to the "
                      "specified domain (string ending with IANA TLD).</dd>"),
            std::string::npos);
  EXPECT_EQ(RunCommand("curl -s -o /dev/null -w '%{http_code}' '" + url_ + "?other'"), "404");
  const std::string header = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Header>"
                             "<a:Ticket xmlns:a=\"urn:a\" s:mustUnderstand=\"1\">t</a:Ticket></s:Header><s:Body>"
                             "<Version xmlns=\"urn:hulvane:vantrex:webservice:4.0/\"/></s:Body></s:Envelope>";
  std::ofstream(WebDir() / "header.xml") << header;
  std::string r = RunCommand("curl -s -w '\\n%{http_code}' -H 'Content-Type: text/xml' --data-binary @" +
                        (WebDir() / "header.xml") + " '" + url_ + "'");
  EXPECT_NE(r.find("<faultcode>soap:MustUnderstand</faultcode>"), std::string::npos) << r;
  EXPECT_EQ(r.substr(r.rfind('\n') + 1), "500");
  std::ofstream(WebDir() / "version.xml") << "<Envelope xmlns=\"urn:not-soap\"><Body/></Envelope>";
  r = RunCommand("curl -s -H 'Content-Type: text/xml' --data-binary @" + (WebDir() / "version.xml") + " '" + url_ + "'");
  EXPECT_NE(r.find("<faultcode>soap:VersionMismatch</faultcode>"), std::string::npos) << r;
}
