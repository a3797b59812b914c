#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "engine/update/inetconnection.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/wait.h"

using vtxtest::ReadFile;
using vtxtest::ServerProcess;
using vtxtest::WriteFile;

namespace {

constexpr DWORD kRunFlags = 0x84402100;  // the update run's request flags

constexpr HRESULT FromInet(DWORD e) { return 0x80070000u | e; }

std::string Lines(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += "line " + std::to_string(i) + " " + std::string(300, 'a' + i % 26) + "\r\n";
  return s;
}

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(www().c_str(), 0700);
  }

  std::string www() const { return dir / "www"; }

  int Start(const std::vector<std::string>& argv, int port, const char* name) {
    servers.push_back(std::make_unique<ServerProcess>());
    std::string error = servers.back()->Start(argv, port, dir / (std::string(name) + ".log"));
    EXPECT_EQ(error, "");
    return error.empty() ? port : -1;
  }

  int StartFiles() {
    int port = vtxtest::FreePort();
    return Start({"/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", www(),
                  std::to_string(port)},
                 port, "files");
  }

  int StartTestServer() {
    int port = vtxtest::FreePort();
    return Start({"/usr/bin/python3", vtxtest::SourcePath("tests/engine/update/testhttpd.py"), std::to_string(port)},
                 port, "testhttpd");
  }

  // Basic authentication for everything under /secret/ (user "rates", password "s3cret").
  int StartLighttpd() {
    int port = vtxtest::FreePort();
    mkdir((www() + "/secret").c_str(), 0700);
    WriteFile(www() + "/secret/rates.txt", "EUR = 1\r\n");
    WriteFile(dir / "users", "rates:s3cret\n");
    WriteFile(dir / "lighttpd.conf",
             "server.modules = (\"mod_access\", \"mod_auth\", \"mod_authn_file\", \"mod_accesslog\")\n"
             "server.document-root = \"" + www() + "\"\n"
             "server.bind = \"127.0.0.1\"\n"
             "server.port = " + std::to_string(port) + "\n"
             "server.errorlog = \"" + dir / "lighttpd-error.log" + "\"\n"
             "accesslog.filename = \"" + dir / "access.log" + "\"\n"
             "server.feature-flags = ( \"auth.delay-invalid-creds\" => \"disable\" )\n"
             "auth.backend = \"plain\"\n"
             "auth.backend.plain.userfile = \"" + dir / "users" + "\"\n"
             "auth.require = ( \"/secret/\" => ( \"method\" => \"basic\", \"realm\" => \"rates\","
             " \"require\" => \"valid-user\" ) )\n");
    lighttpd = Start({"/usr/sbin/lighttpd", "-D", "-f", dir / "lighttpd.conf"}, port, "lighttpd");
    return lighttpd;
  }

  // Requests to /secret/ that lighttpd has logged so far. It writes its log in order, about once a
  // second: a request of our own, made now, is in it once every earlier one is.
  int SecretRequests() {
    std::string marker = "/marker-" + std::to_string(++markers);
    std::string curl = "curl -s -o /dev/null 'http://127.0.0.1:" + std::to_string(lighttpd) + marker + "'";
    EXPECT_EQ(std::system(curl.c_str()), 0);
    std::string log;
    EXPECT_TRUE(vtxtest::Eventually([&] {
      log = ReadFile(dir / "access.log");
      return log.find(marker + " ") != std::string::npos;
    })) << "lighttpd did not log " << marker;
    int n = 0;
    for (size_t p = 0; (p = log.find("/secret/", p)) != std::string::npos; ++p) ++n;
    return n;
  }

  int StartTinyproxy(bool withAuth) {
    int port = vtxtest::FreePort();
    std::string conf = "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\n"
                       "LogLevel Info\nMaxClients 10\nDisableViaHeader Yes\n";
    if (withAuth) conf += "BasicAuth proxyuser proxypass\n";
    WriteFile(dir / "tinyproxy.conf", conf);
    return Start({"/usr/bin/tinyproxy", "-d", "-c", dir / "tinyproxy.conf"}, port, "tinyproxy");
  }

  int StartFtp() {
    int port = vtxtest::FreePort();
    return Start({"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port), "-d", www()},
                 port, "ftp");
  }

  HRESULT Load(CINetConnection& c, const std::string& url, std::string& out, DWORD lineLimit = 0,
               HWND parent = nullptr) {
    CBuffer<char> buffer(4096, 16u << 20);
    HRESULT hr = c.Load(url.c_str(), buffer, kRunFlags, lineLimit, nullptr, parent);
    out.assign(buffer.GetData() ? buffer.GetData() : "", buffer.GetCount());
    return hr;
  }

  std::string ErrorText(CINetConnection& c, DWORD* kind) {
    const char* t = c.GetErrorString(kind);
    return t ? t : "";
  }

  vtxtest::TempDir dir;
  vtxtest::NoProxyEnv noProxy;
  std::vector<std::unique_ptr<ServerProcess>> servers;
  int lighttpd = -1, markers = 0;
};

// ---- file: addresses ----

TEST_F(Connection, FileAddressesWithAndWithoutSlashesAndEscapes) {
  WriteFile(www() + "/rates.txt", "EUR = 1\r\n");
  WriteFile(www() + "/two words.txt", "spaced\r\n");
  WriteFile(www() + "/100%.txt", "percent\r\n");
  CINetConnection c;  // file: needs no session
  const struct { std::string url, data; } cases[] = {
      {"file://" + www() + "/rates.txt", "EUR = 1\r\n"},
      {"file:" + www() + "/rates.txt", "EUR = 1\r\n"},
      {"FILE://" + www() + "/rates.txt", "EUR = 1\r\n"},
      {"file://" + www() + "/two%20words.txt", "spaced\r\n"},
      {"file://" + www() + "/two words.txt", "spaced\r\n"},
      {"file://" + www() + "/100%25.txt", "percent\r\n"},
      {"file://" + www() + "/sub/../rates.txt", "EUR = 1\r\n"},
  };
  mkdir((www() + "/sub").c_str(), 0700);
  for (const auto& k : cases) {
    std::string out;
    EXPECT_EQ(Load(c, k.url, out), S_OK) << k.url;
    EXPECT_EQ(out, k.data) << k.url;
    EXPECT_EQ(c.GetErrorString(nullptr), nullptr) << k.url;
  }
}

TEST_F(Connection, FilePathsKeepDriveLettersAndBackslashes) {
  // Relative to the working directory, the names are ordinary file names here.
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  mkdir("C:", 0700);
  WriteFile("C:/rates.txt", "slash\n");
  WriteFile("C:\\rates.txt", "backslash\n");
  CINetConnection c;
  std::string out;
  EXPECT_EQ(Load(c, "file://C:/rates.txt", out), S_OK);
  EXPECT_EQ(out, "slash\n");
  EXPECT_EQ(Load(c, "file:C:\\rates.txt", out), S_OK);
  EXPECT_EQ(out, "backslash\n");
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(Connection, MissingFileFailsWithTheSystemText) {
  CINetConnection c;
  std::string out;
  EXPECT_EQ(Load(c, "file://" + www() + "/none.txt", out), 0x80070002u);
  DWORD kind = 9;
  EXPECT_EQ(ErrorText(c, &kind), "The system cannot find the file specified.");
  EXPECT_EQ(kind, 1u);
}

TEST_F(Connection, LineLimitKeepsExactlyTheFirstLines) {
  WriteFile(www() + "/ten.prn", Lines(10));
  CINetConnection c;
  std::string out;
  ASSERT_EQ(Load(c, "file://" + www() + "/ten.prn", out, 2), S_OK);
  EXPECT_EQ(out, Lines(2));
  ASSERT_EQ(Load(c, "file://" + www() + "/ten.prn", out, 11), S_OK);
  EXPECT_EQ(out, Lines(10)) << "fewer lines than the limit: all of them";

  int port = StartFiles();
  ASSERT_GT(port, 0);
  ASSERT_EQ(c.Open(), S_OK);
  ASSERT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(port) + "/ten.prn", out, 2), S_OK);
  EXPECT_EQ(out, Lines(2));
}

TEST_F(Connection, FilesOverTheSizeLimitAreRefusedUnread) {
  std::string path = www() + "/huge.csv";
  WriteFile(path, "");
  ASSERT_EQ(truncate(path.c_str(), kMaxDownloadBytes), 0);
  CINetConnection c;
  std::string out;
  EXPECT_EQ(Load(c, "file://" + path, out), S_OK);
  EXPECT_EQ(out.size(), kMaxDownloadBytes) << "the limit itself still loads";

  ASSERT_EQ(truncate(path.c_str(), kMaxDownloadBytes + 1), 0);
  EXPECT_EQ(Load(c, "file://" + path, out), HRESULT_FROM_WIN32(kErrorDownloadTooLarge));
  EXPECT_TRUE(out.empty());
  EXPECT_NE(ErrorText(c, nullptr).find("64 MiB"), std::string::npos);

  int port = StartFiles();
  ASSERT_GT(port, 0);
  ASSERT_EQ(c.Open(), S_OK);
  EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(port) + "/huge.csv", out),
            HRESULT_FROM_WIN32(kErrorDownloadTooLarge)) << "announced too large";
  EXPECT_TRUE(out.empty());
}

// A device or a FIFO is no file to download: refused at once, without waiting for a writer or
// reading an endless device up to the limit.
TEST_F(Connection, DevicesAndFifosAreRefused) {
  std::string fifo = www() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  CINetConnection c;
  std::string out;
  for (const std::string& path : {std::string("/dev/zero"), fifo, www()}) {
    EXPECT_EQ(Load(c, "file://" + path, out), HRESULT_FROM_WIN32(ERROR_OPEN_FAILED)) << path;
    EXPECT_TRUE(out.empty()) << path;
  }
  EXPECT_EQ(ErrorText(c, nullptr), "The system cannot open the device or file specified.");
}

// ---- HTTP ----

struct Progress {
  std::vector<std::pair<DWORD, DWORD>> calls;
  HRESULT refuseWith = 0;
  static HRESULT Callback(DWORD kind, DWORD value, DWORD, DWORD_PTR context) {
    auto* self = reinterpret_cast<Progress*>(context);
    self->calls.emplace_back(kind, value);
    return self->refuseWith;
  }
};

TEST_F(Connection, HttpLoadReportsProgressAndMayBeStopped) {
  std::string data = Lines(40);  // several read chunks
  WriteFile(www() + "/rates.csv", data);
  int port = StartFiles();
  ASSERT_GT(port, 0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  Progress progress;
  c.m_pfnProgress = Progress::Callback;
  c.m_dwProgressContext = reinterpret_cast<DWORD_PTR>(&progress);
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/rates.csv", out;
  ASSERT_EQ(Load(c, url, out), S_OK);
  EXPECT_EQ(out, data);
  EXPECT_EQ(c.GetErrorString(nullptr), nullptr);
  ASSERT_GE(progress.calls.size(), 3u);
  EXPECT_EQ(progress.calls.front(), std::make_pair(DWORD{0}, DWORD(data.size())));
  EXPECT_EQ(progress.calls.back(), std::make_pair(DWORD{1}, DWORD(data.size())));

  progress.calls.clear();
  progress.refuseWith = 0x80004004;
  EXPECT_EQ(Load(c, url, out), 0x80004004u);
  EXPECT_EQ(progress.calls.size(), 1u) << "refused at the announced size";
}

TEST_F(Connection, NotFoundPageLoadsWithItsError) {
  int port = StartFiles();
  ASSERT_GT(port, 0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  std::string out;
  EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(port) + "/missing.csv", out), S_OK);
  EXPECT_NE(out.find("404"), std::string::npos) << out;
  DWORD kind = 0;
  EXPECT_EQ(ErrorText(c, &kind), vtx::inet::ErrorText(12028));
  EXPECT_EQ(kind, 2u);
  EXPECT_EQ(c.m_dwLastError, 12028u);
}

TEST_F(Connection, EveryFailingStatusLeavesAnError) {
  int port = StartTestServer();
  ASSERT_GT(port, 0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  const struct { int status; DWORD error; } cases[] = {
      {200, 0}, {204, 0}, {300, 12027}, {400, 12027}, {403, 12015}, {405, 12008}, {504, 12002},
      {410, 12003}, {429, 12003}, {500, 12003}, {502, 12003}, {503, 12003},
  };
  for (const auto& k : cases) {
    std::string out;
    EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(port) + "/status/" + std::to_string(k.status), out), S_OK);
    EXPECT_EQ(c.m_dwLastError, k.error) << k.status;
    std::string text = ErrorText(c, nullptr);
    if (k.error == 12003) {
      EXPECT_NE(text.find(std::to_string(k.status)), std::string::npos) << text;
    }
    if (!k.error) {
      EXPECT_EQ(text, "");
    }
  }
}

TEST_F(Connection, StreamOverTheSizeLimitFails) {
  int port = StartTestServer();
  ASSERT_GT(port, 0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  std::string out, base = "http://127.0.0.1:" + std::to_string(port) + "/stream/";
  EXPECT_EQ(Load(c, base + "100000", out), S_OK);
  EXPECT_EQ(out.size(), 100000u);
  EXPECT_EQ(Load(c, base + std::to_string(kMaxDownloadBytes + 1), out), HRESULT_FROM_WIN32(kErrorDownloadTooLarge));
  EXPECT_TRUE(out.empty());
}

TEST_F(Connection, DrippingServerFailsAtTheTotalTimeWithATextNamingIt) {
  int port = StartTestServer();
  ASSERT_GT(port, 0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  DWORD total = 1000;
  ASSERT_TRUE(InternetSetOptionA(c.m_hSession, INTERNET_OPTION_TOTAL_TIMEOUT, &total, sizeof total));
  std::string out;
  EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(port) + "/drip", out), HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT));
  const char* text = c.GetErrorString(nullptr);
  EXPECT_STREQ(text ? text : "", "The server 127.0.0.1 did not finish its answer within 1 seconds.");
  // The next load starts with a clean slate.
  EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(port) + "/status/200", out), S_OK);
  EXPECT_EQ(c.GetErrorString(nullptr), nullptr);
}

TEST_F(Connection, OneSessionKeepsItsConnectionAndSendsAgentAndNoCache) {
  int port = StartTestServer();
  ASSERT_GT(port, 0);
  CINetConnection c;
  c.SetAgent("Vantrex test agent");
  ASSERT_EQ(c.Open(), S_OK);
  std::string first, second, headers;
  std::string base = "http://127.0.0.1:" + std::to_string(port);
  ASSERT_EQ(Load(c, base + "/peer", first), S_OK);
  ASSERT_EQ(Load(c, base + "/peer", second), S_OK);
  EXPECT_EQ(first, second) << "the second request came over the same connection";
  ASSERT_EQ(Load(c, base + "/headers", headers), S_OK);
  EXPECT_NE(headers.find("User-Agent: Vantrex test agent"), std::string::npos) << headers;
  EXPECT_NE(headers.find("Pragma: no-cache"), std::string::npos) << headers;
}

TEST_F(Connection, UnreachableServerFailsWithTheInternetError) {
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  std::string out;
  EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(vtxtest::FreePort()) + "/x", out), FromInet(12029));
  DWORD kind = 0;
  EXPECT_EQ(ErrorText(c, &kind), vtx::inet::ErrorText(12029));
  EXPECT_EQ(kind, 2u);
  EXPECT_EQ(Load(c, "gopher://127.0.0.1/x", out), FromInet(12006));
}

TEST_F(Connection, LoadWithoutOpenNeedsASession) {
  CINetConnection c;
  std::string out;
  EXPECT_EQ(Load(c, "http://127.0.0.1:1/", out), 0x80004002u);
}

// ---- Authentication (lighttpd, Basic) ----

struct Dialog {
  static inline int calls = 0;
  static inline const char* password = nullptr;
  static DWORD Answer(HWND, HINTERNET request, DWORD, DWORD) {
    ++calls;
    InternetSetOptionA(request, INTERNET_OPTION_USERNAME, const_cast<char*>("rates"), 5);
    InternetSetOptionA(request, INTERNET_OPTION_PASSWORD, const_cast<char*>(password), std::strlen(password));
    return ERROR_INTERNET_FORCE_RETRY;
  }
};

TEST_F(Connection, BasicAuthenticationAnswersOnceThenFails) {
  int port = StartLighttpd();
  ASSERT_GT(port, 0);
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/secret/rates.txt", out;

  CINetConnection right;
  right.m_strServerUserName = "rates";
  right.m_strServerPassword = "s3cret";
  ASSERT_EQ(right.Open(), S_OK);
  EXPECT_EQ(Load(right, url, out), S_OK);
  EXPECT_EQ(out, "EUR = 1\r\n");
  EXPECT_EQ(right.m_dwLastError, 0u);
  EXPECT_EQ(SecretRequests(), 2) << "the challenge, then the answer";

  CINetConnection wrong;
  wrong.m_strServerUserName = "rates";
  wrong.m_strServerPassword = "guess";
  ASSERT_EQ(wrong.Open(), S_OK);
  EXPECT_EQ(Load(wrong, url, out), S_OK);
  EXPECT_EQ(wrong.m_dwLastError, 12015u);
  EXPECT_EQ(SecretRequests(), 4) << "one retry only";

  CINetConnection none;
  ASSERT_EQ(none.Open(), S_OK);
  EXPECT_EQ(Load(none, url, out), S_OK);
  EXPECT_EQ(none.m_dwLastError, 12015u);
  EXPECT_EQ(SecretRequests(), 5) << "nothing to answer with";
}

TEST_F(Connection, DialogGetsTheSecondChallengeOnlyWithAParentWindow) {
  int port = StartLighttpd();
  ASSERT_GT(port, 0);
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/secret/rates.txt", out;
  SetInternetErrorDialog(Dialog::Answer);
  HWND parent = reinterpret_cast<HWND>(0x1234);

  CINetConnection c;
  c.m_strServerUserName = "rates";
  c.m_strServerPassword = "guess";
  ASSERT_EQ(c.Open(), S_OK);
  Dialog::password = "s3cret";
  EXPECT_EQ(Load(c, url, out, 0, parent), S_OK);
  EXPECT_EQ(out, "EUR = 1\r\n");
  EXPECT_EQ(c.m_dwLastError, 0u);
  EXPECT_EQ(Dialog::calls, 1);

  Dialog::password = "still wrong";
  EXPECT_EQ(Load(c, url, out, 0, parent), S_OK);
  EXPECT_EQ(c.m_dwLastError, 12015u) << "a third challenge ends the attempts";
  EXPECT_EQ(Dialog::calls, 2);

  EXPECT_EQ(Load(c, url, out), S_OK);
  EXPECT_EQ(Dialog::calls, 2) << "no parent window, no dialog";
  SetInternetErrorDialog(nullptr);
}

TEST_F(Connection, CredentialsGoOnlyToTheSourcesOwnHost) {
  int auth = StartLighttpd();
  int redirector = StartTestServer();
  ASSERT_GT(auth, 0);
  ASSERT_GT(redirector, 0);
  CINetConnection c;
  c.m_strServerUserName = "rates";
  c.m_strServerPassword = "s3cret";
  ASSERT_EQ(c.Open(), S_OK);
  std::string out;
  // The source is 127.0.0.1; the challenge comes from "localhost".
  std::string target = "http://localhost:" + std::to_string(auth) + "/secret/rates.txt";
  EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(redirector) + "/redirect?to=" + target, out), S_OK);
  EXPECT_EQ(c.m_dwLastError, 12015u);
  EXPECT_EQ(SecretRequests(), 1) << "the other host's challenge was not answered";

  // A page that another page named is loaded on its own, but the credentials still belong to the
  // data source's host.
  c.SetCredentialHost("rates.example");
  EXPECT_EQ(Load(c, "http://127.0.0.1:" + std::to_string(auth) + "/secret/rates.txt", out), S_OK);
  EXPECT_EQ(c.m_dwLastError, 12015u);
  EXPECT_EQ(SecretRequests(), 2) << "a challenge of a host other than the source's is not answered";
  c.SetCredentialHost(nullptr);
}

// ---- Proxies (tinyproxy) ----

TEST_F(Connection, NamedProxyAnswersItsChallengeWithTheProxyCredentials) {
  WriteFile(www() + "/rates.txt", "via proxy\n");
  int files = StartFiles();
  int proxy = StartTinyproxy(true);
  ASSERT_GT(files, 0);
  ASSERT_GT(proxy, 0);
  std::string url = "http://127.0.0.1:" + std::to_string(files) + "/rates.txt", out;

  INetConnectionSettings s;
  s.Proxy = 1;
  s.ProxyServer = ("127.0.0.1:" + std::to_string(proxy)).c_str();
  CINetConnection anonymous;
  ASSERT_EQ(FillConnectionBlock(s, anonymous), S_OK);
  ASSERT_EQ(anonymous.Open(), S_OK);
  EXPECT_EQ(Load(anonymous, url, out), S_OK);
  EXPECT_EQ(anonymous.m_dwLastError, 12015u) << "407 without credentials";

  s.ProxyUserName = "proxyuser";
  s.ProxyPassword = "proxypass";
  CINetConnection c;
  ASSERT_EQ(FillConnectionBlock(s, c), S_OK);
  ASSERT_EQ(c.Open(), S_OK);
  EXPECT_EQ(Load(c, url, out), S_OK);
  EXPECT_EQ(out, "via proxy\n");
  EXPECT_EQ(c.m_dwLastError, 0u);
  EXPECT_NE(ReadFile(dir / "tinyproxy.log").find("rates.txt"), std::string::npos) << "the request went through the proxy";
}

TEST_F(Connection, ProxyTunnelChallengeIsAnsweredToo) {
  int files = StartFiles();
  int proxy = StartTinyproxy(true);
  ASSERT_GT(files, 0);
  ASSERT_GT(proxy, 0);
  // The target speaks plain HTTP: a tunnel that opens then fails its TLS handshake.
  std::string url = "https://127.0.0.1:" + std::to_string(files) + "/", out;
  INetConnectionSettings s;
  s.Proxy = 1;
  s.ProxyServer = ("127.0.0.1:" + std::to_string(proxy)).c_str();
  CINetConnection anonymous;
  ASSERT_EQ(FillConnectionBlock(s, anonymous), S_OK);
  ASSERT_EQ(anonymous.Open(), S_OK);
  EXPECT_EQ(Load(anonymous, url, out), S_OK);
  EXPECT_EQ(anonymous.m_dwLastError, 12015u);

  s.ProxyUserName = "proxyuser";
  s.ProxyPassword = "proxypass";
  CINetConnection c;
  ASSERT_EQ(FillConnectionBlock(s, c), S_OK);
  ASSERT_EQ(c.Open(), S_OK);
  EXPECT_EQ(Load(c, url, out), FromInet(12157)) << "the tunnel was opened";
}

TEST_F(Connection, LocalNamesBypassTheNamedProxy) {
  WriteFile(www() + "/rates.txt", "direct\n");
  int files = StartFiles();
  ASSERT_GT(files, 0);
  INetConnectionSettings s;
  s.Proxy = 1;
  s.ProxyServer = ("127.0.0.1:" + std::to_string(vtxtest::FreePort())).c_str();  // nobody there
  std::string out, url = "http://localhost:" + std::to_string(files) + "/rates.txt";

  CINetConnection bypass;
  ASSERT_EQ(FillConnectionBlock(s, bypass), S_OK);
  ASSERT_EQ(bypass.Open(), S_OK);
  EXPECT_EQ(Load(bypass, url, out), S_OK);
  EXPECT_EQ(out, "direct\n");

  s.NoProxyForLAN = 0;
  CINetConnection through;
  ASSERT_EQ(FillConnectionBlock(s, through), S_OK);
  ASSERT_EQ(through.Open(), S_OK);
  EXPECT_EQ(Load(through, url, out), FromInet(12029));
}

TEST_F(Connection, DirectModeIgnoresTheEnvironmentAndSystemModeFollowsIt) {
  WriteFile(www() + "/rates.txt", "EUR = 1\n");
  int files = StartFiles();
  ASSERT_GT(files, 0);
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(vtxtest::FreePort())).c_str(), 1);
  std::string out, url = "http://127.0.0.1:" + std::to_string(files) + "/rates.txt";
  INetConnectionSettings s;
  s.Proxy = 0;
  CINetConnection direct;
  ASSERT_EQ(FillConnectionBlock(s, direct), S_OK);
  ASSERT_EQ(direct.Open(), S_OK);
  EXPECT_EQ(Load(direct, url, out), S_OK);
  EXPECT_EQ(out, "EUR = 1\n");

  s.Proxy = 2;
  CINetConnection system;
  ASSERT_EQ(FillConnectionBlock(s, system), S_OK);
  EXPECT_TRUE(system.m_bUseSystemProxy);
  ASSERT_EQ(system.Open(), S_OK);
  EXPECT_EQ(Load(system, url, out), FromInet(12029)) << "the environment's proxy was used";
  unsetenv("http_proxy");
}

// ---- FTP (pyftpdlib) ----

TEST_F(Connection, FtpDownload) {
  std::string data = Lines(30);
  WriteFile(www() + "/rates.csv", data);
  int port = StartFtp();
  ASSERT_GT(port, 0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  std::string out, base = "ftp://127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(Load(c, base + "/rates.csv", out), S_OK);
  EXPECT_EQ(out, data);
  EXPECT_EQ(c.GetErrorString(nullptr), nullptr);
  EXPECT_EQ(Load(c, base + "/rates.csv", out, 3), S_OK);
  EXPECT_EQ(out, Lines(3));
  EXPECT_EQ(Load(c, base + "/missing.csv", out), FromInet(12003));
}

// ---- Quote addresses ----

// An "fxpd:" answer that drips: the exchange ends at the answer's time limit, with its text.
TEST_F(Connection, DrippingQuoteAnswerEndsAtItsBound) {
  int port = vtxtest::FreePort();
  ASSERT_GT(Start({"/usr/bin/python3", vtxtest::SourcePath("tests/engine/update/testhttpd.py"), std::to_string(port),
                   "drip-posts"},
                  port, "testhttpd"),
            0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  DWORD total = 1000;
  ASSERT_TRUE(InternetSetOptionA(c.m_hSession, INTERNET_OPTION_TOTAL_TIMEOUT, &total, sizeof total));
  std::string out;
  EXPECT_EQ(Load(c, "fxpd://127.0.0.1:" + std::to_string(port), out), HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT));
  const char* text = c.GetErrorString(nullptr);
  EXPECT_STREQ(text ? text : "", "The server 127.0.0.1 did not finish its answer within 1 seconds.");
}

TEST_F(Connection, QuoteExchangeIsOnePostPerQuery) {
  int port = StartTestServer();
  ASSERT_GT(port, 0);
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  c.m_hQuoteConnection = InternetConnectA(c.m_hSession, "127.0.0.1", static_cast<INTERNET_PORT>(port), "", "",
                                          INTERNET_SERVICE_HTTP, 0, 0);
  ASSERT_NE(c.m_hQuoteConnection, nullptr);
  auto self = reinterpret_cast<DWORD_PTR>(&c);
  const char* query = "fxp/1.1\r\nquery: currencies\r\n\r\n";
  ASSERT_EQ(CINetConnection::PostOandaQuery(query, self), S_OK);
  std::string answer;
  char piece[7];
  DWORD got = 0;
  do {
    ASSERT_EQ(CINetConnection::ReadOandaBuffer(piece, sizeof piece, &got, self), S_OK);
    answer.append(piece, got);
  } while (got);
  EXPECT_EQ(answer, std::string("answer to ") + query);
  ASSERT_EQ(CINetConnection::PostOandaQuery("second", self), S_OK);
  ASSERT_EQ(CINetConnection::ReadOandaBuffer(piece, sizeof piece, &got, self), S_OK);
  EXPECT_EQ(std::string(piece, got), "answer ");

  EXPECT_EQ(CINetConnection::PostOandaQuery(query, 0), E_POINTER);
  EXPECT_EQ(CINetConnection::PostOandaQuery(nullptr, self), E_INVALIDARG);
  EXPECT_EQ(CINetConnection::ReadOandaBuffer(piece, 1, &got, 0), E_POINTER);
  EXPECT_EQ(CINetConnection::ReadOandaBuffer(nullptr, 1, &got, self), E_INVALIDARG);
}

TEST_F(Connection, QuoteAddressesGoToTheQuoteClient) {
  CINetConnection c;
  ASSERT_EQ(c.Open(), S_OK);
  std::string out;
  const std::string unused = "127.0.0.1:" + std::to_string(vtxtest::FreePort());  // nothing listens there
  EXPECT_EQ(Load(c, "fxp://" + unused, out), 0x8007006Eu);
  EXPECT_TRUE(c.m_bQuoteMode);
  EXPECT_EQ(Load(c, "fxpd://" + unused, out), HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_TRUE(c.m_bQuoteMode);
  EXPECT_EQ(c.m_hQuoteConnection, nullptr);
  WriteFile(www() + "/a.txt", "a");
  EXPECT_EQ(Load(c, "file://" + www() + "/a.txt", out), S_OK);
  EXPECT_FALSE(c.m_bQuoteMode);
}

// ---- Dial-up, settings, errors ----

TEST_F(Connection, DialUpIsNotAvailableAndNothingIsDialled) {
  INetConnectionSettings s;
  s.Modem = 1;
  s.DialUp = "Provider";
  s.DialUpUserName = "me";
  CINetConnection c;
  ASSERT_EQ(FillConnectionBlock(s, c), S_OK);
  EXPECT_STREQ(c.m_DialParams.szEntryName, "Provider");
  EXPECT_EQ(c.m_DialParams.dwSize, 1052u);
  EXPECT_EQ(c.Open(), 0x80004002u);
  EXPECT_TRUE(c.m_bRasChecked);
  EXPECT_FALSE(c.m_bRasAvailable);
  EXPECT_EQ(c.m_hRasConnection, nullptr);
  EXPECT_NE(c.m_hSession, nullptr) << "the session is open all the same";
  c.Close();
  c.Close();

  s.Modem = 0;  // the name alone dials nothing
  CINetConnection lan;
  ASSERT_EQ(FillConnectionBlock(s, lan), S_OK);
  EXPECT_EQ(lan.Open(), S_OK);
}

TEST(ConnectionDialUp, PhoneBookIsNotAvailable) {
  CINetConnection c;
  c.m_dwLastError = 5;
  RASENTRYNAMEA* entries = reinterpret_cast<RASENTRYNAMEA*>(&c);
  DWORD count = 9;
  EXPECT_EQ(c.EnumEntries(&entries, &count), 0x80004002u);
  EXPECT_EQ(entries, nullptr) << "both outputs say none";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(c.m_dwLastError, 0u) << "earlier errors are cleared";
  EXPECT_EQ(c.EnumEntries(nullptr, &count), E_INVALIDARG);
  EXPECT_EQ(c.EnumEntries(&entries, nullptr), E_INVALIDARG);
  EXPECT_EQ(c.EditPhonebookEntry(nullptr, nullptr, "Provider"), 0x80004002u);
}

TEST_F(Connection, ConnectionBlockFromTheSettings) {
  CINetConnection c;
  INetConnectionSettings s;
  s.ServerUserName = "user";
  s.ServerPassword = "pw";
  s.HangUp = 0;
  s.Proxy = 1;
  EXPECT_EQ(FillConnectionBlock(s, c), 0x8004006Du) << "named proxy without a server";
  s.ProxyServer = ":80";
  EXPECT_EQ(FillConnectionBlock(s, c), 0x8004006Du) << "named proxy without a host";
  s.ProxyServer = "proxy.example:3128";
  s.ProxyUserName = "pu";
  s.NoProxyForLAN = 0;
  ASSERT_EQ(FillConnectionBlock(s, c), S_OK);
  EXPECT_STREQ(c.m_strProxyServer.c_str(), "proxy.example:3128");
  EXPECT_STREQ(c.m_strProxyUserName.c_str(), "pu");
  EXPECT_STREQ(c.m_strServerUserName.c_str(), "user");
  EXPECT_FALSE(c.m_bNoProxyForLocal);
  EXPECT_FALSE(c.m_bHangUp);
  s.Proxy = 2;
  ASSERT_EQ(FillConnectionBlock(s, c), S_OK);
  EXPECT_TRUE(c.m_bUseSystemProxy);
  EXPECT_TRUE(c.m_strProxyServer.IsEmpty());
  EXPECT_STREQ(c.m_strServerUserName.c_str(), "user") << "in every proxy mode";
  s.Proxy = 7;
  CINetConnection fresh;
  ASSERT_EQ(FillConnectionBlock(s, fresh), S_OK);
  EXPECT_FALSE(fresh.m_bUseSystemProxy);
  EXPECT_TRUE(fresh.m_strProxyServer.IsEmpty());
}

// Dial-up texts too long for their fields matter only with a dial-up connection in use; then each
// is refused (never cut) with the code whose text names the field.
TEST_F(Connection, DialUpFieldsAreCheckedOnlyForADialUpConnection) {
  const std::string tooLong(300, 'x');
  struct Case {
    CStringA INetConnectionSettings::*field;
    HRESULT refused;
  } cases[] = {{&INetConnectionSettings::DialUp, 0x8004025B},
               {&INetConnectionSettings::DialUpUserName, 0x8004025C},
               {&INetConnectionSettings::DialUpPassword, 0x8004025D},
               {&INetConnectionSettings::DialUpDomain, 0x8004025E}};
  for (const Case& k : cases) {
    INetConnectionSettings s;
    s.DialUp = "Provider";
    s.*k.field = tooLong.c_str();
    CINetConnection lan;
    EXPECT_EQ(FillConnectionBlock(s, lan), S_OK);
    EXPECT_STREQ(lan.m_DialParams.szUserName, "");
    s.Modem = 1;
    CINetConnection dialled;
    EXPECT_EQ(FillConnectionBlock(s, dialled), k.refused);
  }
  INetConnectionSettings s;
  s.Modem = 1;
  s.DialUp = "Provider";
  s.DialUpDomain = std::string(15, 'd').c_str();
  CINetConnection fits;
  EXPECT_EQ(FillConnectionBlock(s, fits), S_OK);
  EXPECT_STREQ(fits.m_DialParams.szDomain, std::string(15, 'd').c_str());
}

TEST(ConnectionText, NothingRecordedGivesNoText) {
  CINetConnection c;
  DWORD kind = 7;
  EXPECT_EQ(c.GetErrorString(&kind), nullptr);
  EXPECT_EQ(kind, 0u);
  c.m_dwLastError = 12999;
  EXPECT_STREQ(c.GetErrorString(&kind), "Error 12999.") << "an error never passes for success";
  EXPECT_EQ(kind, 2u);
}

TEST(ConnectionText, HostNamesAreTheUrlHostNames) {
  // The parsing itself is GetUrlHostName's (its own tests hold the cases).
  CINetConnection c;
  char host[100];
  EXPECT_EQ(c.GetHostName("http://user:pw@Rates.Example.com:8080/a/b?c=d", host, sizeof host), S_OK);
  EXPECT_STREQ(host, "Rates.Example.com");
  EXPECT_EQ(c.GetHostName(nullptr, host, 4), E_INVALIDARG);
}

TEST(ConnectionText, CanonicalUrls) {
  CINetConnection c;
  CBuffer<char> out(0, 0);
  ASSERT_EQ(c.CanonicalizeUrl("HTTP://h/a/./b/../c d.csv?x=1 2", out, ICU_BROWSER_MODE), S_OK);
  EXPECT_STREQ(out.GetData(), "http://h/a/c%20d.csv?x=1 2");
  EXPECT_EQ(out.GetCount(), std::strlen(out.GetData()));
  ASSERT_EQ(c.CanonicalizeUrl("file:///t/a%20b.txt", out, ICU_NO_ENCODE | ICU_DECODE), S_OK);
  EXPECT_STREQ(out.GetData(), "file:///t/a b.txt");
  EXPECT_EQ(c.CanonicalizeUrl("", out, 0), E_UNEXPECTED);
  EXPECT_EQ(c.CanonicalizeUrl("no scheme here", out, 0), FromInet(12005));
}

TEST(ConnectionText, CountLinesAndMakerHosts) {
  EXPECT_EQ(CountLines("a\nb\nc", 5, 2), 4u);
  EXPECT_EQ(CountLines("a\nb\nc", 5, 3), 0u);
  EXPECT_EQ(CountLines("a\r\n\r\n", 5, 2), 5u);
  EXPECT_EQ(CountLines("a\nb\n", 2, 2), 0u) << "only within the length";
  EXPECT_EQ(CountLines(nullptr, 0, 1), 0u);

  const struct { const char* url; BOOL maker; } cases[] = {
      {"http://www.hulvane.com/rates", TRUE}, {"https://HULVANE.NET", TRUE}, {"http://rates.vantrex-rates.com/x", TRUE},
      {"http://192.0.2.41/x", TRUE}, {"http://nothulvane.com/", FALSE}, {"http://hulvane.com.example.org/", FALSE},
      {"http://www.ecb.europa.eu/", FALSE}, {"", FALSE}, {nullptr, FALSE},
  };
  for (const auto& k : cases) EXPECT_EQ(IsHulvaneURL(k.url), k.maker) << (k.url ? k.url : "(null)");
  EXPECT_FALSE(EndsWith("com", ".com"));
  EXPECT_TRUE(EndsWith("a.COM", ".com"));
  EXPECT_FALSE(EndsWith(nullptr, "x"));
}

}  // namespace
