// E-mail against real peers: aiosmtpd on 127.0.0.1 (tests/engine/notify/smtpserver.py, each message
// parsed by Python's email package), and the local mail transport (msmtp as sendmail) delivering to
// the same server.
#include "engine/notify/mail.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <algorithm>
#include <memory>
#include <tuple>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/notify/notifychannels.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "platform/resources.h"
#include "tests/support/env.h"
#include "tests/support/paths.h"
#include "tests/support/servers.h"
#include "tests/support/storetest.h"
#include "tests/support/wait.h"

using vtxtest::ReadFile;
using vtxtest::ServerProcess;
using vtxtest::WriteFile;

namespace {

// A JSON string as UTF-8 text.
std::string FromJson(const std::string& json) {
  std::string out;
  for (size_t i = 1; i + 1 < json.size(); ++i) {
    char c = json[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    c = json[++i];
    switch (c) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        unsigned cp = static_cast<unsigned>(std::stoul(json.substr(i + 1, 4), nullptr, 16));
        i += 4;
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        break;
      }
      default: out += c;
    }
  }
  return out;
}

// One received message as the server wrote it down.
struct Received {
  std::string text;
  // Every value of a key ("rcpt", "header To", ...), decoded.
  std::vector<std::string> All(const std::string& key) const {
    std::vector<std::string> values;
    size_t at = 0;
    const std::string head = key + ": ";
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      std::string line = text.substr(at, end - at);
      if (line.rfind(head, 0) == 0) {
        std::string v = line.substr(head.size());
        values.push_back(v.size() && v[0] == '"' ? FromJson(v) : v);
      }
      at = end == std::string::npos ? text.size() : end + 1;
    }
    return values;
  }
  std::string One(const std::string& key) const {
    auto v = All(key);
    return v.size() == 1 ? v[0] : "<" + std::to_string(v.size()) + " values of " + key + ">";
  }
};

class Mail : public vtxtest::PrivateStoreTest {
 protected:
  void SetUp() override {
    PrivateStoreTest::SetUp();
    mkdir((dir_ / "mails").c_str(), 0700);
    module = LoadLibraryA((vtxtest::SourcePath("resources/0409/vantrex.cat")).c_str());
    ASSERT_NE(module, nullptr);
  }
  void TearDown() override {
    FreeLibrary(module);
    PrivateStoreTest::TearDown();
  }

  // Starts the SMTP server with the modes; "127.0.0.1:<port>".
  std::string Serve(std::vector<std::string> modes = {}) {
    port = vtxtest::FreePort();
    std::vector<std::string> argv = {"/usr/bin/python3", vtxtest::SourcePath("tests/engine/notify/smtpserver.py"),
                                     std::to_string(port), dir_ / "mails"};
    argv.insert(argv.end(), modes.begin(), modes.end());
    server = std::make_unique<ServerProcess>();
    EXPECT_EQ(server->Start(argv, port, dir_ / "smtpserver.log"), "");
    return "127.0.0.1:" + std::to_string(port);
  }

  // The n-th message the server received (1 = the first), waiting up to 10 s for it.
  Received WaitMail(int n = 1) {
    std::string path = dir_ / ("mails/mail-" + std::to_string(n) + ".txt");
    vtxtest::Eventually([&] {
      struct stat st;
      return stat(path.c_str(), &st) == 0;
    });
    return Received{ReadFile(path)};
  }
  bool NothingReceived() {
    struct stat st;
    return stat((dir_ / "mails/mail-1.txt").c_str(), &st) != 0;
  }

  std::string Title(UINT flags) {
    char* t = MakeMessageTitle(flags, module);
    std::string s = t ? t : "";
    if (t) LocalFree(t);
    return s;
  }

  HMODULE module = nullptr;
  int port = 0;
  std::unique_ptr<ServerProcess> server;
};

// ---- SMTP ----

TEST_F(Mail, SmtpMailReachesEveryRecipientWithItsTextWhole) {
  std::string smtp = Serve();
  // A line that starts with '.', one of 200 characters, a blank before a line end, a lone CR, a
  // bare LF, a '=' and an 8-bit letter of the code page.
  const std::string line200(200, 'x');
  std::string text = ".hidden dot line\r\n" + line200 + "\r\ntrailing blank \r\nlone\rCR\nbare LF = sign caf\xE9";
  CStringA error;
  ASSERT_EQ(MessageToSMTPMail(text.c_str(), 0x10010, "admin@example.org; \"Ops, Team\" <ops@example.org>, moved@example.org",
                              "\"Vantrex \\ Server\" <vantrex@example.org>", smtp.c_str(), module, &error),
            S_OK)
      << error.c_str();
  EXPECT_TRUE(error.IsEmpty());
  Received m = WaitMail();
  EXPECT_EQ(m.One("mail_from"), "vantrex@example.org");
  // 251 (the server forwards) takes a recipient as 250 does.
  EXPECT_EQ(m.All("rcpt"), (std::vector<std::string>{"admin@example.org", "ops@example.org", "moved@example.org"}));
  EXPECT_EQ(m.One("header From"), "\"Vantrex \\\\ Server\" <vantrex@example.org>");
  EXPECT_EQ(m.One("header To"), "admin@example.org, \"Ops, Team\" <ops@example.org>, moved@example.org");
  EXPECT_EQ(m.One("header Subject"), Title(0x10010));
  EXPECT_EQ(m.One("header X-Mailer"), "Hulvane Vantrex");
  EXPECT_EQ(m.One("charset"), "windows-1252");
  // The line end that closes the body is the dialogue's.
  EXPECT_EQ(m.One("body"),
            ".hidden dot line\r\n" + line200 + "\r\ntrailing blank \r\nlone\rCR\r\nbare LF = sign caf\xC3\xA9\r\n");
  EXPECT_EQ(m.One("dot_lines"), "1");
  // Quoted-printable lines stay within 76 characters (plus the line end).
  EXPECT_LE(std::stoi(m.One("longest_line")), 76);
  // The dialogue ends with QUIT.
  vtxtest::Eventually([&] { return !ReadFile(dir_ / "mails/quit.log").empty(); }, std::chrono::seconds(5));
  EXPECT_EQ(ReadFile(dir_ / "mails/quit.log"), "QUIT\n");
}

TEST_F(Mail, MultiLineGreetingInSeveralPackets) {
  std::string smtp = Serve({"split-greeting"});
  CStringA error;
  EXPECT_EQ(MessageToSMTPMail("Split greeting.", 0x10040, "admin@example.org", "vantrex@example.org", smtp.c_str(),
                              module, &error),
            S_OK)
      << error.c_str();
  EXPECT_EQ(WaitMail().One("body"), "Split greeting.\r\n");
}

TEST_F(Mail, RefusalsEndTheDialogueWithTheServersReply) {
  struct Case {
    const char* mode;
    const char* recipients;
    const char* error;
  } cases[] = {
      {"refuse-helo", "admin@example.org", "Unacceptable response to HELO: 550 5.7.1 no mail from you"},
      {"refuse-rcpt", "admin@example.org; nobody@example.org",
       "Unacceptable response to RCPT TO: 550 5.1.1 <nobody@example.org>: no such user here"},
  };
  for (const Case& c : cases) {
    std::string smtp = Serve({c.mode});
    CStringA error;
    EXPECT_EQ(MessageToSMTPMail("x", 0x10010, c.recipients, "vantrex@example.org", smtp.c_str(), module, &error),
              E_FAIL)
        << c.mode;
    EXPECT_STREQ(error.c_str(), c.error);
    server->Stop();
  }
  EXPECT_TRUE(NothingReceived());

  // Nobody listening, and a name that no resolver knows.
  CStringA error;
  EXPECT_EQ(MessageToSMTPMail("x", 0, "a@example.org", "v@example.org",
                              ("127.0.0.1:" + std::to_string(vtxtest::FreePort())).c_str(), module, &error),
            E_FAIL);
  EXPECT_EQ(std::string(error.c_str()).rfind("Unable to connect to SMTP server port ", 0), 0u) << error.c_str();
  EXPECT_EQ(MessageToSMTPMail("x", 0, "a@example.org", "v@example.org", "no-such-host.invalid", module, &error), E_FAIL);
  EXPECT_STREQ(error.c_str(), "Unable to resolve SMTP server's hostname");
}

TEST_F(Mail, SilentServersTimeOut) {
  struct Case {
    const char* mode;
    const char* error;
  } cases[] = {
      {"silent", "No greeting from SMTP server 127.0.0.1:%d within 1 seconds"},
      {"slow-data", "No response from SMTP server 127.0.0.1:%d to message body within "},
      // Each reply comes within its own limit, the dialogue as a whole does not.
      {"slow-replies", "The SMTP server 127.0.0.1:%d did not finish the dialogue within 1 seconds"},
  };
  for (const Case& c : cases) {
    std::string smtp = Serve({c.mode});
    MailMessage message("", "vantrex@example.org", smtp.c_str(), "Hulvane Vantrex");
    ASSERT_TRUE(message.To("admin@example.org", nullptr));
    message.Body("waiting");
    message.SetTimeout(400);
    message.SetTotalTimeout(1000);
    auto start = std::chrono::steady_clock::now();
    std::string error;
    message.Send(error);
    char expected[200];
    std::snprintf(expected, sizeof expected, c.error, port);
    EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    server->Stop();
  }
}

TEST_F(Mail, AddressesAndNamesCannotInjectCommandsOrHeaders) {
  std::string smtp = Serve();
  struct Case {
    const char* recipients;
    const char* sender;
  } cases[] = {
      {"victim@example.org\r\nRCPT TO:<x@evil.example>", "vantrex@example.org"},
      {"\"Eve\r\nBcc: x@evil.example\" <eve@example.org>", "vantrex@example.org"},
      {"<a b@example.org>", "vantrex@example.org"},
      {"admin@example.org", "vantrex@example.org>\r\nRCPT TO:<x@evil.example"},
      {"admin@example.org", "\"Vantrex\x01\" <vantrex@example.org>"},
      {"admin@example.org, \"unclosed <x@example.org>", "vantrex@example.org"},
      {"ops@example.org desk@example.org", "vantrex@example.org"},
      {"admin@example.org", "1\r\nvantrex@example.org"},
      {"admin@example.org", "vantrex@example.org other@example.org"},
  };
  for (const Case& c : cases) {
    CStringA error;
    EXPECT_EQ(MessageToSMTPMail("x", 0, c.recipients, c.sender, smtp.c_str(), module, &error), E_INVALIDARG)
        << c.recipients << " from " << c.sender;
    EXPECT_FALSE(error.IsEmpty());
    EXPECT_EQ(std::string(error.c_str()).find_first_of("\r\n"), std::string::npos);
  }
  // An entry of two addresses is named, not cut down to its last one.
  CStringA two;
  EXPECT_EQ(MessageToSMTPMail("x", 0, "a@example.org; ops@example.org desk@example.org", "v@example.org",
                              smtp.c_str(), module, &two),
            E_INVALIDARG);
  EXPECT_STREQ(two.c_str(), "The recipient entry \"ops@example.org desk@example.org\" is not one e-mail address.");
  // The Part's own refusals: no server, no sender, no recipient.
  for (auto [recipients, sender, server] : {std::tuple{"a@example.org", "v@example.org", ""},
                                            std::tuple{"a@example.org", "", smtp.c_str()},
                                            std::tuple{" ;, ", "v@example.org", smtp.c_str()}})
    EXPECT_EQ(MessageToSMTPMail("x", 0, recipients, sender, server, module, nullptr), E_INVALIDARG);

  // A quote in a name is escaped; control characters in the subject cannot start a header.
  MailMessage message("Say \"hi\"", "vantrex@example.org", smtp.c_str(), "");
  ASSERT_TRUE(message.To("admin@example.org", "Admin \"the\" Boss"));
  message.Subject("Rates\r\nBcc: x@evil.example");
  message.Body("b");
  std::string error;
  message.Send(error);
  ASSERT_EQ(error, "");
  Received m = WaitMail();
  EXPECT_EQ(m.One("header From"), "\"Say \\\"hi\\\"\" <vantrex@example.org>");
  EXPECT_EQ(m.One("header To"), "\"Admin \\\"the\\\" Boss\" <admin@example.org>");
  EXPECT_EQ(m.All("header Bcc").size(), 0u);
  EXPECT_EQ(m.All("rcpt"), std::vector<std::string>{"admin@example.org"});
  EXPECT_EQ(m.All("header X-Mailer").size(), 0u);  // an empty mailer names none
}

TEST_F(Mail, EightBitSubjectNameAndAnAttachment) {
  std::string smtp = Serve();
  MailMessage message("Fran\xE7ois", "vantrex@example.org", smtp.c_str(), "Hulvane Vantrex");
  ASSERT_TRUE(message.To("admin@example.org", nullptr));
  const std::string subject = "Kurse f\xFCr heute: \xE9t\xE9 " + std::string(60, 'z');  // longer than one word
  message.Subject(subject.c_str());
  message.Body("plain");
  const std::string data = "EUR;USD\r\n1;1.08\r\n" + std::string(300, '\xFF');
  message.Attach(data.data(), data.size(), "C:\\exports\\rates.csv", "application/octet-stream");
  std::string error;
  message.Send(error);
  ASSERT_EQ(error, "");
  Received m = WaitMail();
  EXPECT_EQ(m.One("header Subject"), "Kurse f\xC3\xBCr heute: \xC3\xA9t\xC3\xA9 " + std::string(60, 'z'));
  EXPECT_EQ(m.One("header From"), "Fran\xC3\xA7ois <vantrex@example.org>");
  EXPECT_EQ(m.One("charset"), "us-ascii");
  EXPECT_EQ(m.One("body"), "plain");
  EXPECT_EQ(m.One("attachment_name"), "rates.csv");
  EXPECT_EQ(m.One("attachment_type"), "application/octet-stream");
  std::string latin1;  // the data as the server shows bytes
  for (unsigned char c : data) {
    if (c < 0x80) {
      latin1 += static_cast<char>(c);
    } else {
      latin1 += static_cast<char>(0xC0 | (c >> 6));
      latin1 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  EXPECT_EQ(m.One("attachment"), latin1);
  EXPECT_LE(std::stoi(m.One("longest_line")), 998);
}

TEST(MailText, QuotedPrintable) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {".dot", ".dot"},  // dots are the SMTP dialogue's business
      {"a \r\nb\t\nend ", "a=20\r\nb=09\r\nend=20"},
      {"x\ny\r\nz", "x\r\ny\r\nz"},
      {"\nfirst", "\r\nfirst"},
      {"a\rb", "a=0Db"},
      {"1+1=2", "1+1=3D2"},
      {"caf\xE9\x7F\x01", "caf=E9=7F=01"},
  };
  for (const Case& c : cases) EXPECT_EQ(MailMessage::EncodeQuotedPrintable(c.in.c_str()), c.out) << c.in;

  // Long runs, plain and of high bytes: soft breaks keep every line within 76 characters.
  for (const std::string& in : {std::string(200, 'a'), std::string(400, '\xFF'), std::string(150, 'b') + " " + "c"}) {
    std::string out = MailMessage::EncodeQuotedPrintable(in.c_str());
    std::string decoded;
    size_t longest = 0, at = 0;
    while (at <= out.size()) {
      size_t end = out.find("\r\n", at);
      std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
      longest = std::max(longest, line.size());
      bool soft = !line.empty() && line.back() == '=';
      if (soft) line.pop_back();
      for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=') {
          decoded += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          decoded += line[i];
        }
      }
      if (end == std::string::npos) break;
      at = end + 2;
    }
    EXPECT_LE(longest, 76u);
    EXPECT_EQ(decoded, in);
  }
}

TEST(MailText, ToHeaderIsFoldedBefore998Characters) {
  MailMessage message("", "v@example.org", "", "");
  for (int i = 0; i < 60; ++i) {
    char address[32];
    std::snprintf(address, sizeof address, "user%02d@example.org", i);  // 20 characters
    ASSERT_TRUE(message.To(address, nullptr));
  }
  std::string text = message.FormatForSending();
  std::string to = text.substr(text.find("To: "));
  to = to.substr(0, to.find("\r\nCc: "));
  size_t fold = to.find("\r\n ");
  ASSERT_NE(fold, std::string::npos);
  EXPECT_EQ(to.find("\r\n ", fold + 1), std::string::npos);
  EXPECT_LE(fold, 998u);
  EXPECT_GT(fold, 950u);
  EXPECT_EQ(to.substr(fold - 2, 2), ", ");
  EXPECT_EQ(to.find("user59@example.org"), to.size() - 18);
}

TEST(MailText, RecipientEntriesForTheProfile) {
  std::vector<MailMessage::MailAddress> list;
  uint32_t unresolved = 99;
  std::vector<std::string> entries;
  StringToMAPIAddrList(" a@example.org;;\t\"Bee\" <b@example.org>, Cee <c@example.org>,ops@example.org desk@example.org",
                       &list, &unresolved, &entries);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1].name, "Bee");
  EXPECT_EQ(list[2].name, "Cee");
  EXPECT_EQ(list[2].address, "c@example.org");
  EXPECT_EQ(unresolved, 2u);  // the empty entry and the one that is not one address
  EXPECT_EQ(entries, (std::vector<std::string>{"", "ops@example.org desk@example.org"}));
  StringToMAPIAddrList(" \t", &list, &unresolved);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(unresolved, 0u);
}

// The address book of mail by profile: resolving is the transport's address check, and the text
// it gives back resolves to the same list again.
TEST(MailAddressBook, ResolvesToATextThatResolvesAgain) {
  vtxtest::ScopedEnv transport(vtx::env::kSendmail, "/bin/true");
  char* resolved = reinterpret_cast<char*>(1);
  uint32_t unresolved = 99;
  ASSERT_EQ(CheckMAPIRecipients(nullptr, "t", " a@example.org;; Bee <b@example.org>,two words, \"Say \"\"Hi\"\"\" <c@example.org>",
                                nullptr, &resolved, &unresolved),
            S_OK);
  ASSERT_TRUE(resolved);
  std::string text = resolved;
  LocalFree(resolved);
  EXPECT_EQ(text, "a@example.org; Bee <b@example.org>; \"Say \"\"Hi\"\"\" <c@example.org>");
  EXPECT_EQ(unresolved, 2u);
  ASSERT_EQ(CheckMAPIRecipients(nullptr, "t", text.c_str(), "", &resolved, &unresolved), S_OK);
  EXPECT_EQ(std::string(resolved), text);
  EXPECT_EQ(unresolved, 0u);
  LocalFree(resolved);
  EXPECT_EQ(CheckMAPIRecipients(nullptr, "t", "", nullptr, nullptr, nullptr), S_OK);

  // Another profile does not exist; without a transport the default one cannot be used.
  resolved = reinterpret_cast<char*>(1);
  EXPECT_EQ(CheckMAPIRecipients(nullptr, "t", "a@example.org", "Outlook", &resolved, nullptr), 0x80040111u);
  EXPECT_EQ(resolved, nullptr);
  vtxtest::ScopedEnv none(vtx::env::kSendmail, "/nonexistent/sendmail");
  EXPECT_EQ(CheckMAPIRecipients(nullptr, "t", "a@example.org", nullptr, &resolved, nullptr), 0x8004FFFFu);

  std::vector<MailMessage::MailAddress> empty;
  EXPECT_EQ(MAPIAddrListToString(empty, nullptr), E_POINTER);
  ASSERT_EQ(MAPIAddrListToString(empty, &resolved), S_OK);
  EXPECT_STREQ(resolved, "");
  LocalFree(resolved);
}

TEST(MailAddressBook, NoDialogAndNoProfiles) {
  char* chosen = reinterpret_cast<char*>(1);
  EXPECT_EQ(MAPIAddressBookDialog(nullptr, "c", "n", "w", 1, "a@example.org", nullptr, &chosen), 0x800704DBu);
  EXPECT_EQ(chosen, nullptr);
  EXPECT_EQ(MAPIAddressBookDialog(nullptr, "c", "n", "w", 1, "", nullptr, nullptr), E_POINTER);
  CStringList<char> profiles;
  EXPECT_EQ(GetMAPIProfiles(profiles), S_OK);
  EXPECT_EQ(profiles.GetCount(), 0u);
}

// ---- The local mail transport: msmtp in sendmail's place, delivering to the same server ----

class TransportMail : public Mail {
 protected:
  void SetUp() override {
    Mail::SetUp();
    // msmtp itself rather than its sendmail link, which would displace a host's own mail transport.
    sendmail_.emplace(vtx::env::kSendmail, kMsmtp);
  }

  // msmtp reads its configuration from $HOME/.msmtprc.
  void Configure(int smtpPort) {
    home_.emplace("HOME", dir_.path());
    std::string rc = dir_ / ".msmtprc";
    WriteFile(rc, "defaults\nauth off\ntls off\nlogfile " + dir_ / "msmtp.log" +
                     "\naccount default\nhost 127.0.0.1\nport " + std::to_string(smtpPort) +
                     "\nfrom vantrex@example.org\n");
    chmod(rc.c_str(), 0600);
  }

  static constexpr const char* kMsmtp = "/usr/bin/msmtp";
  std::optional<vtxtest::ScopedEnv> sendmail_, home_;
};

TEST_F(TransportMail, DefaultProfileHandsTheMailToTheTransport) {
  Serve();
  Configure(port);
  CStringA error;
  std::string text = "Update failed.\r\n.\r\nA line of one dot above.";
  EXPECT_EQ(MessageToEmail(text.c_str(), 0x10030, "admin@example.org; Ops <ops@example.org>;; two words", nullptr,
                           FALSE, module, &error),
            S_OK);
  // Two of four entries are no addresses: the mail went to the other two, and says so, naming them.
  EXPECT_STREQ(error.c_str(),
               "2 recipients of the e-mail could not be resolved; the mail went to 2 recipients. Not resolved: "
               "\"two words\".");
  Received m = WaitMail();
  EXPECT_EQ(m.All("rcpt"), (std::vector<std::string>{"admin@example.org", "ops@example.org"}));
  EXPECT_EQ(m.One("mail_from"), "vantrex@example.org");
  EXPECT_EQ(m.One("header Subject"), Title(0x10030));
  EXPECT_EQ(m.One("header To"), "admin@example.org, Ops <ops@example.org>");
  EXPECT_EQ(m.One("body"), text + "\r\n");  // the transport's own line end closes the text
}

TEST_F(TransportMail, ProfilesAndTransportsThatCannotSend) {
  Serve();
  Configure(port);
  CStringA error;
  // No recipients: nothing to do.
  EXPECT_EQ(MessageToEmail("x", 0, "", nullptr, FALSE, module, &error), S_OK);
  EXPECT_TRUE(error.IsEmpty());
  // A profile of another name does not exist: the logon fails with its own error.
  EXPECT_EQ(MessageToEmail("x", 0, "a@example.org", "Outlook", TRUE, module, &error), 0x80040111u);
  // No recipient resolves.
  EXPECT_EQ(MessageToEmail("x", 0, "two words; ;", nullptr, FALSE, module, &error), 0x8004010Fu);
  EXPECT_STREQ(error.c_str(),
               "3 recipients of the e-mail could not be resolved; the mail went to nobody. Not resolved: "
               "\"two words\".");
  // No transport: the default profile cannot be used (string 182).
  sendmail_.reset();
  sendmail_.emplace(vtx::env::kSendmail, dir_ / "no-sendmail");
  EXPECT_EQ(MessageToEmail("x", 0, "a@example.org", nullptr, FALSE, module, &error), 0x8004FFFFu);
  char said[512];
  ASSERT_GT(LoadStringA(module, 182, said, sizeof said), 0);
  EXPECT_STREQ(error.c_str(), said);
  sendmail_.reset();
  sendmail_.emplace(vtx::env::kSendmail, kMsmtp);
  // A transport that cannot deliver: its own complaint is the error text.
  Configure(vtxtest::FreePort());
  EXPECT_EQ(MessageToEmail("x", 0, "a@example.org", nullptr, FALSE, module, &error), E_FAIL);
  EXPECT_EQ(std::string(error.c_str()).rfind("The local mail transport (/usr/bin/msmtp) refused the message: ", 0), 0u)
      << error.c_str();
  EXPECT_TRUE(NothingReceived());
}

}  // namespace
