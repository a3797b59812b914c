// Envelopes, faults and the description of a small service, and its HTTP host.
#include "webservice/soap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/net.h"
#include "tests/support/wait.h"
#include "webservice/httphost.h"

using namespace vtx::soap;
using vtxtest::Eventually;
using vtxtest::HttpConnection;

namespace {

const char kNs[] = "urn:test:echo/";

Service MakeService() {
  Service s{"Echo", kNs, "A test service.", {}};
  s.operations.push_back(Operation{"Echo", "Echoes text.", {{"clientKey", Type::String}, {"text", Type::String}},
                                   Type::String, [](const std::vector<Value>& a) {
                                     if (!a[1].text) return Value::Str("<null>");
                                     return Value::Str("[" + *a[1].text + "]");
                                   }});
  s.operations.push_back(Operation{"Half", "Halves.", {{"amount", Type::Double}, {"round", Type::Boolean}},
                                   Type::Double, [](const std::vector<Value>& a) {
                                     double v = a[0].number / 2;
                                     return Value::Num(a[1].flag ? std::round(v) : v);
                                   }});
  s.operations.push_back(Operation{"Add", "Adds & ends <here>.", {{"a", Type::Int}, {"b", Type::Int}}, Type::Int,
                                   [](const std::vector<Value>& a) {
                                     return Value::Int(static_cast<int32_t>(int64_t{a[0].integer} + a[1].integer));
                                   }});
  s.operations.push_back(Operation{"Ping", "Answers nothing.", {{"text", Type::String}}, Type::None,
                                   [](const std::vector<Value>&) { return Value::Nothing(); }});
  s.operations.push_back(Operation{"Fail", "Fails.", {}, Type::String, [](const std::vector<Value>&) -> Value {
                                     throw ServiceFault(true, "System.ArgumentNullException",
                                                        "Value cannot be null.\r\nParameter name: Currency",
                                                        "Currency", 0x80004003);
                                   }});
  return s;
}

std::string Envelope(const std::string& body, Version v = Version::Soap11, const std::string& prolog = "") {
  return prolog + "<e:Envelope xmlns:e=\"" + std::string(v == Version::Soap11 ? kSoap11Ns : kSoap12Ns) +
         "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><e:Body>" + body + "</e:Body></e:Envelope>";
}

Reply Call(const std::string& xml, const std::string& type = "text/xml; charset=utf-8", const std::string& action = "") {
  static Service s = MakeService();
  return Dispatch(s, xml.data(), xml.size(), type, action);
}

std::string Result(const Reply& r) {
  size_t b = r.body.find("Result>"), e = r.body.find("</", b);
  return b == std::string::npos ? "<none>" : r.body.substr(b + 7, e - b - 7);
}

}  // namespace

TEST(Soap, StringsAreNullWhenAbsentOrNilAndEmptyWhenEmpty) {
  struct {
    const char* inner;
    const char* result;
  } cases[] = {
      {"", "&lt;null&gt;"},
      {"<t:text xsi:nil=\"true\"/>", "&lt;null&gt;"},
      {"<t:text xsi:nil=\"1\">ignored</t:text>", "&lt;null&gt;"},
      {"<t:text/>", "[]"},
      {"<t:text>a&amp;b</t:text>", "[a&amp;b]"},
      {"<t:text><![CDATA[<x>]]></t:text>", "[&lt;x&gt;]"},
      {"<text>unqualified</text>", "&lt;null&gt;"},
  };
  for (const auto& c : cases) {
    Reply r = Call(Envelope(std::string("<t:Echo xmlns:t=\"") + kNs + "\">" + c.inner + "</t:Echo>"));
    EXPECT_EQ(r.status, 200) << c.inner << r.body;
    EXPECT_EQ(Result(r), c.result) << c.inner;
  }
}

TEST(Soap, ValueTypesAreRequiredAndChecked) {
  auto half = [](const std::string& inner) {
    return Call(Envelope(std::string("<Half xmlns=\"") + kNs + "\">" + inner + "</Half>"));
  };
  Reply ok = half("<amount> 3 </amount><round>false</round>");
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(Result(ok), "1.5");
  EXPECT_EQ(Result(half("<amount>5</amount><round>1</round>")), "3");
  EXPECT_EQ(Result(half("<amount>INF</amount><round>0</round>")), "INF");
  for (const char* bad : {"<round>true</round>", "<amount>1</amount>", "<amount>1,5</amount><round>true</round>",
                          "<amount>1</amount><round>yes</round>", "<amount>infinite</amount><round>true</round>",
                          "<amount xsi:nil=\"true\"/><round>true</round>",
                          "<amount>1</amount><amount>2</amount><round>true</round>"}) {
    Reply r = half(bad);
    EXPECT_EQ(r.status, 500) << bad;
    EXPECT_NE(r.body.find("<faultcode>soap:Client</faultcode>"), std::string::npos) << bad << r.body;
  }
}

TEST(Soap, MalformedRequestsAreClientFaults) {
  const std::string echo = std::string("<Echo xmlns=\"") + kNs + "\"/>";
  struct {
    std::string xml;
    const char* message;
  } cases[] = {
      {"<not xml", "not well-formed"},
      {Envelope(echo, Version::Soap11, "<!DOCTYPE e:Envelope [<!ENTITY a \"aaaa\">]>"), "document type"},
      {"<!DOCTYPE x SYSTEM \"http://127.0.0.1:1/x.dtd\"><x/>", "document type"},
      {"<x/>", "not a SOAP envelope"},
      {Envelope(echo, Version::Soap12), "namespace does not match"},
      {Envelope(""), "holds no operation"},
      {Envelope("<Nope xmlns=\"urn:test:echo/\"/>"), "Unknown operation: Nope"},
      {Envelope("<Echo xmlns=\"urn:other\"/>"), "Unknown operation: Echo"},
      {Envelope(echo + echo), "more than one"},
  };
  for (const auto& c : cases) {
    Reply r = Call(c.xml);
    EXPECT_EQ(r.status, 500) << c.xml;
    EXPECT_NE(r.body.find("soap:Client"), std::string::npos) << c.xml;
    EXPECT_NE(r.body.find(c.message), std::string::npos) << c.xml << "\n" << r.body;
  }
  EXPECT_EQ(Call(Envelope(echo), "application/json").status, 415);
  EXPECT_EQ(Call(Envelope(echo), "text/xml", "\"urn:test:echo/Half\"").status, 500);
  EXPECT_EQ(Call(Envelope(echo), "text/xml", "\"urn:test:echo/Echo\"").status, 200);
}

// Envelopes whose shape would make the parser's work grow beyond their size are refused before it
// starts; texts, values and comments that only look like markup count for nothing.
TEST(Soap, EnvelopesBeyondTheShapeLimitsAreRefused) {
  auto echo = [](const std::string& inner) {
    return Envelope(std::string("<t:Echo xmlns:t=\"") + kNs + "\">" + inner + "</t:Echo>");
  };
  auto attributes = [](size_t n) {
    std::string tag = "<x";
    for (size_t i = 0; i < n; ++i) tag += " a" + std::to_string(i) + "=\"v\"";
    return tag + "/>";
  };
  std::string elements;
  for (size_t i = 0; i < kMaxNodes; ++i) elements += "<y/>";
  std::string markupInText = "<t:text><![CDATA[";
  for (int i = 0; i < 2000; ++i) markupInText += "<z a='1' b=2>";
  markupInText += "]]>a=b&gt;c<!-- <w x=1> --></t:text>";
  struct {
    std::string xml;
    const char* message;  // null: accepted
  } cases[] = {
      {echo(attributes(90000)), "more than 256 attributes"},
      {echo(attributes(kMaxAttributes + 1)), "more than 256 attributes"},
      {echo(attributes(kMaxAttributes) + "<t:text a='=\"=' b=\"'>=\">x</t:text>"), nullptr},
      {echo(elements), "more than 1024 elements"},
      {echo(markupInText), nullptr},
  };
  for (const auto& c : cases) {
    Reply r = Call(c.xml);
    if (!c.message) {
      EXPECT_EQ(r.status, 200) << r.body.substr(0, 400);
      continue;
    }
    EXPECT_EQ(r.status, 500);
    EXPECT_NE(r.body.find("soap:Client"), std::string::npos);
    EXPECT_NE(r.body.find(c.message), std::string::npos) << r.body.substr(0, 400);
  }
}

TEST(Soap, FaultsCarryTypeParameterAndHResultInBothVersions) {
  const std::string fail = std::string("<Fail xmlns=\"") + kNs + "\"/>";
  Reply r11 = Call(Envelope(fail));
  EXPECT_EQ(r11.status, 500);
  for (const char* part : {"<faultcode>soap:Client</faultcode>", "<faultstring>Value cannot be null.&#xD;\nParameter name: Currency</faultstring>",
                           "<ExceptionType>System.ArgumentNullException</ExceptionType>",
                           "<ParameterName>Currency</ParameterName>", "<HResult>0x80004003</HResult>"})
    EXPECT_NE(r11.body.find(part), std::string::npos) << part << "\n" << r11.body;
  Reply r12 = Call(Envelope(fail, Version::Soap12), "application/soap+xml; charset=utf-8");
  EXPECT_EQ(r12.status, 400);
  EXPECT_NE(r12.body.find("<soap:Value>soap:Sender</soap:Value>"), std::string::npos) << r12.body;
  EXPECT_NE(r12.contentType.find("application/soap+xml"), std::string::npos);
}

TEST(Soap, TextIsMadeSafeForXml) {
  EXPECT_EQ(XmlEscape("a<b>&\"c\""), "a&lt;b&gt;&amp;&quot;c&quot;");
  EXPECT_EQ(XmlEscape("\x01" "x"), "\xEF\xBF\xBDx");                      // control character
  EXPECT_EQ(XmlEscape("\xC3\xA9\xE2\x82\xAC"), "\xC3\xA9\xE2\x82\xAC");  // é €
  EXPECT_EQ(XmlEscape("\xC3"), "\xEF\xBF\xBD");                          // cut sequence
  EXPECT_EQ(XmlEscape("\xED\xA0\x80"), "\xEF\xBF\xBD");                  // a lone surrogate
  EXPECT_EQ(XmlEscape("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");          // overlong
  EXPECT_EQ(XmlEscape("\xF0\x9F\x92\xB6"), "\xF0\x9F\x92\xB6");
}

TEST(Soap, DoublesReadAndPrintShortestRoundTrip) {
  for (double d : {0.1, 1.0 / 3, 1e21, -2.5e-300, 123456789.125, 0.0})
    {
      double back;
      ASSERT_TRUE(ParseDouble(DoubleText(d), &back)) << DoubleText(d);
      EXPECT_EQ(back, d);
    }
  EXPECT_EQ(DoubleText(0.1), "0.1");
  EXPECT_EQ(DoubleText(-HUGE_VAL), "-INF");
  double d;
  for (const char* inf : {"INF", "inf", "+Infinity"}) {
    EXPECT_TRUE(ParseDouble(inf, &d)) << inf;
    EXPECT_EQ(d, HUGE_VAL);
  }
  EXPECT_TRUE(ParseDouble("NaN", &d));
  EXPECT_TRUE(std::isnan(d));
  EXPECT_TRUE(ParseDouble("+.5", &d));
  EXPECT_EQ(d, 0.5);
  EXPECT_TRUE(ParseDouble("5.E2", &d));
  EXPECT_EQ(d, 500);
  for (const char* bad : {"", ".", "e5", "1e", "0x10", "1 2", "nan1", "Inf2", "1e999"})
    EXPECT_FALSE(ParseDouble(bad, &d)) << bad;
}

TEST(Soap, DescriptionIsValidXmlWithBothPorts) {
  Service s = MakeService();
  std::string wsdl = WriteWsdl(s, "http://127.0.0.1:1/echo");
  vtxtest::TempDir dir;
  std::ofstream(dir / "echo.wsdl") << wsdl;
  std::string cmd = "xmllint --noout --nonet '" + (dir / "echo.wsdl") + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  for (const char* part : {"elementFormDefault=\"qualified\"", "<wsdl:port name=\"EchoSoap\"",
                           "<wsdl:port name=\"EchoSoap12\"", "soapAction=\"urn:test:echo/Half\"",
                           "<s:element minOccurs=\"0\" maxOccurs=\"1\" name=\"text\" type=\"s:string\"/>",
                           "<s:element minOccurs=\"1\" maxOccurs=\"1\" name=\"amount\" type=\"s:double\"/>",
                           "<wsdl:documentation xmlns:wsdl=\"http://schemas.xmlsoap.org/wsdl/\">Halves.</wsdl:documentation>"})
    EXPECT_NE(wsdl.find(part), std::string::npos) << part;
}

TEST(Soap, IntsAndOperationsWithoutResult) {
  auto add = [](const std::string& a, const std::string& b) {
    return Call(Envelope(std::string("<Add xmlns=\"") + kNs + "\"><a>" + a + "</a><b>" + b + "</b></Add>"));
  };
  EXPECT_EQ(Result(add(" 40 ", "+2")), "42");
  EXPECT_EQ(Result(add("-2147483648", "0")), "-2147483648");
  for (const char* bad : {"2147483648", "1.0", "", "0x10", "- 1", "1e3"}) {
    Reply r = add(bad, "1");
    EXPECT_EQ(r.status, 500) << bad;
    EXPECT_NE(r.body.find("is not an int"), std::string::npos) << bad << r.body;
  }
  Reply ping = Call(Envelope(std::string("<Ping xmlns=\"") + kNs + "\"><text>x</text></Ping>"));
  EXPECT_EQ(ping.status, 200);
  EXPECT_NE(ping.body.find("<PingResponse xmlns=\"urn:test:echo/\"></PingResponse>"), std::string::npos) << ping.body;
  EXPECT_EQ(ping.body.find("PingResult"), std::string::npos);
  std::string wsdl = WriteWsdl(MakeService(), "http://127.0.0.1:1/echo");
  EXPECT_NE(wsdl.find("<s:element name=\"PingResponse\"><s:complexType/></s:element>"), std::string::npos);
  EXPECT_NE(wsdl.find("<s:element minOccurs=\"1\" maxOccurs=\"1\" name=\"a\" type=\"s:int\"/>"), std::string::npos);
  EXPECT_NE(wsdl.find("name=\"AddResult\" type=\"s:int\""), std::string::npos);
}

TEST(Soap, HeadersThatMustBeUnderstoodAndUnknownEnvelopes) {
  const std::string echo = std::string("<Echo xmlns=\"") + kNs + "\"><text>x</text></Echo>";
  auto withHeader = [&](const std::string& header, Version v) {
    const char* ns = v == Version::Soap11 ? kSoap11Ns : kSoap12Ns;
    return std::string("<e:Envelope xmlns:e=\"") + ns + "\"><e:Header>" + header + "</e:Header><e:Body>" + echo +
           "</e:Body></e:Envelope>";
  };
  const struct {
    std::string header;
    Version version;
    int status;
    const char* part;
  } cases[] = {
      {"<h:Auth xmlns:h=\"urn:h\" e:mustUnderstand=\"1\">k</h:Auth>", Version::Soap11, 500,
       "<faultcode>soap:MustUnderstand</faultcode><faultstring>The SOAP header Auth was not understood.</faultstring>"},
      {"<h:Auth xmlns:h=\"urn:h\" e:mustUnderstand=\"0\">k</h:Auth>", Version::Soap11, 200, "[x]"},
      {"<h:Auth xmlns:h=\"urn:h\">k</h:Auth>", Version::Soap11, 200, "[x]"},
      {"<h:Auth xmlns:h=\"urn:h\" mustUnderstand=\"1\">k</h:Auth>", Version::Soap11, 200, "[x]"},  // not SOAP's
      {"<h:Auth xmlns:h=\"urn:h\" e:mustUnderstand=\"1\" e:actor=\"urn:other-node\">k</h:Auth>", Version::Soap11,
       200, "[x]"},
      {"<h:Auth xmlns:h=\"urn:h\" e:mustUnderstand=\"true\">k</h:Auth>", Version::Soap12, 500,
       "<soap:Header><soap:NotUnderstood xmlns:h=\"urn:h\" qname=\"h:Auth\"/></soap:Header>"},
      {"<h:Auth xmlns:h=\"urn:h\" e:mustUnderstand=\"true\" "
       "e:role=\"http://www.w3.org/2003/05/soap-envelope/role/none\">k</h:Auth>",
       Version::Soap12, 200, "[x]"},
  };
  for (const auto& c : cases) {
    Reply r = Call(withHeader(c.header, c.version),
                   c.version == Version::Soap11 ? "text/xml" : "application/soap+xml");
    EXPECT_EQ(r.status, c.status) << c.header << r.body;
    EXPECT_NE(r.body.find(c.part), std::string::npos) << c.header << "\n" << r.body;
  }
  for (const char* ns : {"", " xmlns=\"http://example.com/not-soap\""}) {
    Reply r = Call(std::string("<Envelope") + ns + "><Body>" + echo + "</Body></Envelope>");
    EXPECT_EQ(r.status, 500);
    EXPECT_NE(r.body.find("<faultcode>soap:VersionMismatch</faultcode>"), std::string::npos) << r.body;
    r = Call(std::string("<Envelope") + ns + "/>", "application/soap+xml");
    EXPECT_EQ(r.status, 500);
    EXPECT_NE(r.body.find("<soap:Value>soap:VersionMismatch</soap:Value>"), std::string::npos) << r.body;
  }
}

TEST(Soap, ServicePageListsTheOperations) {
  std::string page = WriteServicePage(MakeService(), "http://127.0.0.1:1/echo?wsdl");
  vtxtest::TempDir dir;
  std::ofstream(dir / "page.html") << page;
  std::string cmd = "xmllint --html --noout --nonet '" + (dir / "page.html") + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  for (const char* part : {"<a href=\"http://127.0.0.1:1/echo?wsdl\">", "<dt>Half</dt><dd>Halves.</dd>",
                           "<dt>Add</dt><dd>Adds &amp; ends &lt;here&gt;.</dd>", "A test service."})
    EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
}

// Every failed call names its operation, its fault code and its text; successes say nothing.
TEST(Soap, FailedCallsCarryALogLine) {
  Reply ok = Call(Envelope("<Echo xmlns=\"urn:test:echo/\"><text>hi</text></Echo>"));
  EXPECT_EQ(ok.failure, "");
  Reply fault = Call(Envelope("<Fail xmlns=\"urn:test:echo/\"/>"));
  EXPECT_EQ(fault.failure,
            "Fail failed with 0x80004003 (System.ArgumentNullException, the caller's fault): Value cannot be null.  "
            "Parameter name: Currency");
  Reply unknown = Call(Envelope("<Nothing xmlns=\"urn:test:echo/\"/>"));
  EXPECT_EQ(unknown.failure.rfind("a request failed with 0x", 0), 0u) << unknown.failure;
  Reply type = Call(Envelope(""), "text/plain");
  EXPECT_EQ(type.failure, "a request refused: content type \"text/plain\"");
}

namespace {
std::string Curl(const std::string& args) {
  std::string out;
  FILE* p = popen(("curl -s -g " + args + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}
}  // namespace

// One listener per port: a second host on a port in use is refused with the reason; IPv6
// addresses are written in brackets; each failed call reaches the host's log.
TEST(Host, PortInUseIPv6AndTheLogOfFailedCalls) {
  static const Service service = MakeService();
  HostOptions options;
  options.port = 0;
  options.path = "/Echo";
  std::mutex m;
  std::vector<std::string> logged;
  options.log = [&](const std::string& line) {
    std::lock_guard<std::mutex> lock(m);
    logged.push_back(line);
  };
  HttpHost first(service);
  std::string error;
  ASSERT_TRUE(first.Start(options, &error)) << error;
  EXPECT_EQ(first.Url(), "http://127.0.0.1:" + std::to_string(first.Port()) + "/Echo");

  HostOptions same = options;
  same.port = first.Port();
  HttpHost second(service);
  EXPECT_FALSE(second.Start(same, &error));
  EXPECT_EQ(error, "cannot listen on 127.0.0.1:" + std::to_string(first.Port()) + ": the port is in use by another program");

  std::string body = Envelope("<Fail xmlns=\"urn:test:echo/\"/>");
  std::string answer = Curl("-H 'Content-Type: text/xml' --data-binary '" + body + "' " + first.Url());
  EXPECT_NE(answer.find("Value cannot be null."), std::string::npos) << answer;
  {
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("Fail failed with 0x80004003", 0), 0u) << logged[0];
  }

  HostOptions v6 = options;
  v6.address = "::1";
  HttpHost ipv6(service);
  ASSERT_TRUE(ipv6.Start(v6, &error)) << error;
  EXPECT_EQ(ipv6.Url(), "http://[::1]:" + std::to_string(ipv6.Port()) + "/Echo");
  std::string wsdl = Curl("'" + ipv6.Url() + "?wsdl'");
  EXPECT_NE(wsdl.find("location=\"http://[::1]:" + std::to_string(ipv6.Port()) + "/Echo\""), std::string::npos)
      << wsdl.substr(0, 300);
  EXPECT_EQ(Authority("fe80::1", 8080), "[fe80::1]:8080");
  EXPECT_EQ(Authority("10.0.0.1", 80), "10.0.0.1:80");
}

// A call that may wait runs apart from the host's one event loop: a quick call on another
// keep-alive connection answers meanwhile, the waiting call answers on its own connection, which
// serves on, and Stop lets a call under way give its answer.
TEST(Host, ACallThatMayWaitHoldsUpNoOtherConnection) {
  static std::atomic<bool> release{false};
  static std::atomic<int> waiting{0};
  static const Service service = [] {
    Service s = MakeService();
    s.operations.push_back(Operation{"Wait", "Waits to be let go.", {{"text", Type::String}}, Type::String,
                                     [](const std::vector<Value>& a) {
                                       ++waiting;
                                       Eventually([] { return release.load(); });
                                       --waiting;
                                       return Value::Str("waited " + a[0].text.value_or(""));
                                     }});
    return s;
  }();
  HostOptions options;
  options.port = 0;
  options.path = "/Echo";
  options.threads = 1;
  options.log = [](const std::string&) {};
  options.mayWait = [](const Operation& op) { return std::string(op.name) == "Wait"; };
  HttpHost host(service);
  std::string error;
  ASSERT_TRUE(host.Start(options, &error)) << error;
  const std::string wait = Envelope("<Wait xmlns=\"urn:test:echo/\"><text>w</text></Wait>");
  const std::string echo = Envelope("<Echo xmlns=\"urn:test:echo/\"><clientKey/><text>q</text></Echo>");

  HttpConnection slow(host.Port()), quick(host.Port());
  std::string slowAnswer;
  std::atomic<int> slowStatus{-1};
  std::thread slowCall([&] { slowStatus = slow.Post("/Echo", wait, &slowAnswer); });
  ASSERT_TRUE(Eventually([] { return waiting.load() == 1; }));
  for (int i = 0; i < 3; ++i) {
    std::string answer;
    EXPECT_EQ(quick.Post("/Echo", echo, &answer), 200);
    EXPECT_NE(answer.find("[q]"), std::string::npos) << answer;
  }
  EXPECT_EQ(slowStatus.load(), -1);
  release = true;
  slowCall.join();
  EXPECT_EQ(slowStatus.load(), 200);
  EXPECT_NE(slowAnswer.find("waited w"), std::string::npos) << slowAnswer;
  std::string answer;
  EXPECT_EQ(slow.Post("/Echo", echo, &answer), 200);
  EXPECT_NE(answer.find("[q]"), std::string::npos) << answer;

  release = false;
  HttpConnection last(host.Port());
  std::atomic<int> lastStatus{-1};
  std::thread lastCall([&] { lastStatus = last.Post("/Echo", wait, &answer); });
  ASSERT_TRUE(Eventually([] { return waiting.load() == 1; }));
  std::thread letGo([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    release = true;
  });
  host.Stop();
  letGo.join();
  lastCall.join();
  EXPECT_EQ(lastStatus.load(), 200);
  EXPECT_NE(answer.find("waited w"), std::string::npos) << answer;
}

// The HTTP charset reads a body whose document names no encoding; the document's own name, or a
// byte order mark, wins over it; a charset nobody knows is the caller's fault.
TEST(Soap, TheHttpCharsetReadsABodyThatNamesNoEncoding) {
  const std::string latin1 = Envelope(std::string("<t:Echo xmlns:t=\"") + kNs + "\"><t:text>caf\xE9</t:text></t:Echo>");
  const std::string utf8 = Envelope(std::string("<t:Echo xmlns:t=\"") + kNs + "\"><t:text>caf\xC3\xA9</t:text></t:Echo>");
  struct {
    std::string body, type;
    int status;
    const char* result;
  } cases[] = {
      {latin1, "text/xml; charset=ISO-8859-1", 200, "[caf\xC3\xA9]"},
      {latin1, "text/xml; Charset=\"iso-8859-1\"", 200, "[caf\xC3\xA9]"},
      {"<?xml version=\"1.0\"?>" + latin1, "text/xml; charset=iso-8859-1", 200, "[caf\xC3\xA9]"},
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?>" + utf8, "text/xml; charset=iso-8859-1", 200, "[caf\xC3\xA9]"},
      {"\xEF\xBB\xBF" + utf8, "text/xml; charset=iso-8859-1", 200, "[caf\xC3\xA9]"},
      {utf8, "text/xml", 200, "[caf\xC3\xA9]"},
      {utf8, "text/xml; charset=no-such-charset", 500, nullptr},
  };
  for (const auto& c : cases) {
    Reply r = Call(c.body, c.type);
    EXPECT_EQ(r.status, c.status) << c.type << " " << r.body;
    if (c.result)
      EXPECT_EQ(Result(r), c.result) << c.type;
    else
      EXPECT_NE(r.body.find("charset &quot;no-such-charset&quot; is not one the service reads"), std::string::npos) << r.body;
  }
  EXPECT_EQ(CharsetOf("text/xml; action=x; charset=\"utf-8\" "), "utf-8");
  EXPECT_EQ(CharsetOf("text/xml"), "");
}
