// Mail bodies with an HTML alternative and file attachments, read back by Python's email package.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "engine/notify/mailmessage.h"
#include "tests/support/command.h"

namespace {

// What Python's email package makes of a message: one line per part, "type|charset|filename|payload"
// with the payload decoded.
std::string PythonParts(const std::string& message) {
  int status = -1;
  std::string out = vtxtest::RunPython(
      "import sys, email, email.policy\n"
      "m = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.compat32)\n"
      "print('defects', len(m.defects))\n"
      "for p in m.walk():\n"
      "    if p.is_multipart():\n"
      "        print(p.get_content_type(), len(p.defects))\n"
      "        continue\n"
      "    data = p.get_payload(decode=True)\n"
      "    print(p.get_content_type(), p.get_content_charset(), p.get_filename(), repr(data))\n",
      message, &status);
  EXPECT_EQ(status, 0) << out;
  return out;
}

}  // namespace

TEST(MailBody, TextAndHtmlAlternatives) {
  MailMessage m("Vantrex", "rates@example.com", "localhost", "Hulvane Vantrex");
  m.To("ops@example.com", nullptr);
  m.Subject("Rates");
  m.Body("1 EUR = 1.25 USD\r\n.and a line with = sign", "<p>1 EUR = <b>1.25</b> USD</p>");
  std::string text = m.FormatForSending();
  EXPECT_NE(text.find("Content-Type: multipart/alternative; boundary=\"---=_Next_Part_of_Text_HTML_Alternatives_"
                      "13579820350782\""),
            std::string::npos);
  EXPECT_EQ(PythonParts(text),
            "defects 0\n"
            "multipart/alternative 0\n"
            "text/plain us-ascii None b'1 EUR = 1.25 USD\\r\\n.and a line with = sign'\n"
            "text/html us-ascii None b'<p>1 EUR = <b>1.25</b> USD</p>'\n")
      << text;
  MailMessage empty("", "a@example.com", "localhost", "");
  empty.Body("", "");
  EXPECT_EQ(PythonParts(empty.FormatForSending()),
            "defects 0\nmultipart/alternative 0\ntext/plain us-ascii None b''\ntext/html us-ascii None b''\n");
}

TEST(MailBody, FileAttachments) {
  vtxtest::TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
    const char* type;
  } files[] = {
      {"chart.JPG", std::string("\xFF\xD8\xFF\x00 jpeg", 9), "image/jpeg"},
      {"rates.txt", "USD 1.25", "text/plain"},
      {"page.html", "<html/>", "application/octet-stream"},  // only the last three characters count
      {"zz", "two", "application/octet-stream"},               // a name shorter than an ending
      {"block.bin", std::string(58, 'b'), "application/octet-stream"},
  };
  MailMessage m("", "rates@example.com", "localhost", "");
  m.To("ops@example.com", nullptr);
  m.Body("See the files.", "<p>See the files.</p>");
  std::string want = "defects 0\nmultipart/mixed 0\nmultipart/alternative 0\n"
                     "text/plain us-ascii None b'See the files.'\ntext/html us-ascii None b'<p>See the files.</p>'\n";
  for (const auto& f : files) {
    std::string path = dir / f.name;
    std::ofstream(path, std::ios::binary) << f.bytes;
    MailMessage::MailAttachment a;
    ASSERT_TRUE(a.Load(path.c_str())) << f.name;
    EXPECT_EQ(a.mimeType, f.type) << f.name;
    EXPECT_EQ(a.fileName, path);
    ASSERT_TRUE(m.Attach(path.c_str()));
    std::string bytes;
    for (unsigned char c : f.bytes) {
      char esc[8];
      std::snprintf(esc, sizeof esc, (c >= 32 && c < 127 && c != '\\' && c != '\'') ? "%c" : "\\x%02x", c);
      bytes += esc;
    }
    want += std::string(f.type) + " None " + f.name + " b'" + bytes + "'\n";
  }
  EXPECT_FALSE(m.Attach((dir / "missing.txt").c_str())) << "nothing is added for a file that cannot be read";
  std::string text = m.FormatForSending();
  EXPECT_EQ(PythonParts(text), want) << text;

  MailMessage::MailAttachment a;
  a.Base64Encode(std::string(57, 'x').data(), 57);
  std::string line;
  for (int i = 0; i < 19; ++i) line += "eHh4";
  EXPECT_EQ(a.Base64Data(), line + "\r\n") << "one full line of 76 characters and its line end";
  a.Base64Encode(std::string(58, 'x').data(), 58);
  EXPECT_EQ(a.Base64Data().substr(78), "eA==\r\n") << "a second line of four characters";
}

TEST(MailBody, FilePart) {
  EXPECT_STREQ(FilePart("C:\\data\\rates.txt"), "rates.txt");
  EXPECT_STREQ(FilePart("/var/lib/rates.txt"), "rates.txt");
  EXPECT_STREQ(FilePart("rates.txt"), "rates.txt");
  EXPECT_STREQ(FilePart(""), "");
  EXPECT_EQ(FilePart(nullptr), nullptr);
}
