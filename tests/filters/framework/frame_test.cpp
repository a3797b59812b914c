#include "filters/framework/frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/scramble.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/systime.h"
#include "tests/support/files.h"

namespace {

using P = FilterProgram;
using F = FilterFailure;

using vtxtest::ReadFile;
using vtxtest::WriteFile;

std::string Text(const CFilterOutput& out) { return std::string(out.Text(), out.Length()); }

TEST(FilterFrame, ExitCodesPerProgram) {
  struct Case {
    P program;
    F failure;
    DWORD code;
  } cases[] = {
      {P::Sovfeed, F::NoCommandLine, 0x80042000},   {P::Cadfeed, F::NoCommandLine, 0x80042001},
      {P::Eurfeed, F::NoCommandLine, 0x80042000},   {P::Eurfeed, F::TooFewArguments, 0x80042001},
      {P::Sdrfeed, F::TooFewArguments, 0x80042002}, {P::Usdfeed, F::TooFewArguments, 0x80042002},
      {P::Cadfeed, F::TooFewArguments, 0x80042001}, {P::Tolfeed, F::CommandLineMemory, 0x80044000},
      {P::Quofeed, F::InputMemory, 0x80044001},     {P::Eurfeed, F::RecordMemory, 0x80044002},
      {P::Sdrfeed, F::HomeCurrencyMemory, 0x80044003}, {P::Eurfeed, F::OutputMemory, 0x80044003},
      {P::Sovfeed, F::OutputMemory, 0x80044003},    {P::Tolfeed, F::OutputMemory, 0x80044003},
      {P::Sdrfeed, F::OutputMemory, 0x80044004},    {P::Cadfeed, F::OutputMemory, 0x80044004},
      {P::Quofeed, F::OutputMemory, 0x80044004},    {P::Usdfeed, F::OutputMemory, 0x80044004},
      {P::Eurfeed, F::InputNotOpened, 0x80046000},  {P::Eurfeed, F::InputNotRead, 0x80046001},
      {P::Cadfeed, F::MapIniNotLoaded, 0x80046002}, {P::Eurfeed, F::MapIniNotLoaded, 0x80046002},
      {P::Sovfeed, F::MapIniNotLoaded, 0x8004600A}, {P::Usdfeed, F::MapIniNotLoaded, 0x8004600A},
      {P::Eurfeed, F::OutputNotWritten, 0x80048000}, {P::Sdrfeed, F::InputIsWebPage, 0x8004C000},
      {P::Eurfeed, F::NoDate, 0x8004C001},          {P::Sovfeed, F::NoEuro, 0x8004C003},
  };
  for (const Case& c : cases) {
    DWORD code = FilterExitCode(c.program, c.failure);
    EXPECT_EQ(code, c.code) << FilterProgramName(c.program) << " failure " << static_cast<int>(c.failure);
    // Every code survives the 8-bit exit status and reaches the server whole.
    int status = vtx::ExitStatusFromCode(code);
    EXPECT_GE(status, 16);
    EXPECT_LE(status, 127);
    EXPECT_EQ(vtx::CodeFromExitStatus(status), code);
  }
  EXPECT_STREQ(FilterSourceName(P::Quofeed), "Xenon Laboratories Data Feed Service");
  EXPECT_STREQ(FilterSourceName(P::Eurfeed), "European Central Bank");
  EXPECT_STREQ(FilterProgramName(P::Tolfeed), "tolfeed");
}

class FilterInputTest : public ::testing::Test {
 protected:
  DWORD Read(std::initializer_list<const char*> args) {
    std::vector<const char*> argv(args);
    return input.Read(P::Eurfeed, static_cast<int>(argv.size()), argv.data());
  }
  vtxtest::TempDir dir;
  CFilterInput input;
};

TEST_F(FilterInputTest, CommandLine) {
  std::string file = dir / "page";
  WriteFile(file, "some text");
  EXPECT_EQ(Read({"eurfeed"}), 0x80042000u);
  // The file alone is not enough, though only the file is used.
  EXPECT_EQ(Read({"eurfeed", file.c_str()}), 0x80042001u);
  EXPECT_EQ(Read({"eurfeed", file.c_str(), "http://example.org/a b"}), 0u);
  EXPECT_EQ(std::string(input.Text()), "some text");
  EXPECT_EQ(input.Size(), 9u);
  EXPECT_EQ(input.Path(), file);
  EXPECT_EQ(Read({"eurfeed", file.c_str(), "address", "eurfeed", "-1"}), 0u);
}

TEST_F(FilterInputTest, FileFailures) {
  std::string missing = dir / "missing";
  EXPECT_EQ(Read({"eurfeed", missing.c_str(), "x"}), 0x80046000u);
  EXPECT_EQ(Read({"eurfeed", dir.path().c_str(), "x"}), 0x80046000u);
  EXPECT_EQ(Read({"eurfeed", "", "x"}), 0x80046000u);

  std::string empty = dir / "empty";
  WriteFile(empty, "");
  EXPECT_EQ(Read({"eurfeed", empty.c_str(), "x"}), 0u);
  EXPECT_STREQ(input.Text(), "");

  std::string file = dir / "page";
  WriteFile(file, "text");
  vtx::heap::FailAfter(0);
  DWORD code = Read({"eurfeed", file.c_str(), "x"});
  vtx::heap::FailAfter(-1);
  EXPECT_EQ(code, 0x80044001u);
}

TEST(FilterOutput, StartingSizeAndGrowth) {
  EXPECT_EQ(CFilterOutput::InitialCapacity(0), 240u);
  EXPECT_EQ(CFilterOutput::InitialCapacity(10), 240u);
  EXPECT_EQ(CFilterOutput::InitialCapacity(119), 240u);
  EXPECT_EQ(CFilterOutput::InitialCapacity(120), 240u);
  EXPECT_EQ(CFilterOutput::InitialCapacity(121), 242u);
  EXPECT_EQ(CFilterOutput::InitialCapacity(1000), 2000u);

  // The fixed lines alone outgrow the buffer of a short input.
  CFilterOutput out;
  ASSERT_TRUE(out.Create(51));
  EXPECT_EQ(out.Capacity(), 240u);
  FILETIME date = {0x5A7D8000u, 0x01DD69C3u};
  ASSERT_TRUE(out.AddGeneralSection(P::Eurfeed, &date));
  ASSERT_TRUE(out.BeginRates());
  for (int i = 0; i < 50; ++i) ASSERT_EQ(out.AddRate("USD", 1.25), CFilterOutput::RateResult::Written);
  ASSERT_TRUE(out.AddEuroRate());
  EXPECT_GT(out.Length(), 240u);
  EXPECT_LE(out.Length(), out.Capacity());
  std::string text = Text(out);
  EXPECT_EQ(text.rfind("EUR = 1.00\r\n"), text.size() - 12);
}

TEST(FilterOutput, GeneralSectionInItsOrder) {
  CFilterOutput out;
  ASSERT_TRUE(out.Create(0));
  SYSTEMTIME st = {2026, 12, 0, 10, 13, 15, 0, 0};
  FILETIME date;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &date));
  ASSERT_TRUE(out.AddGeneralSection(P::Sovfeed, &date));
  ASSERT_TRUE(out.BeginRates());
  ASSERT_EQ(out.AddRate("AUD", 0.5), CFilterOutput::RateResult::Written);
  ASSERT_TRUE(out.AddEuroRate());
  EXPECT_EQ(Text(out),
            "[General]\r\n\r\n"
            "Application = \"Hulvane(R) Vantrex(TM)\"\r\n"
            "Source = \"Central Bank of the Russian Federation\"\r\n"
            "Copyright = \"Please refer to the data provider for information concerning copyrights and terms of use.\"\r\n"
            "Date = 2026-12-10T13:15:00Z\r\n"
            "\r\n[EUR]\r\n\r\n"
            "AUD = 0.5\r\n"
            "EUR = 1.00\r\n");

  // Without a converted time the Date line is left out.
  CFilterOutput undated;
  ASSERT_TRUE(undated.Create(0));
  ASSERT_TRUE(undated.AddGeneralSection(P::Eurfeed, nullptr));
  EXPECT_EQ(Text(undated).find("Date"), std::string::npos);
  EXPECT_NE(Text(undated).find("Source = \"European Central Bank\"\r\n"), std::string::npos);
}

TEST(FilterOutput, RatesThatCannotBeWrittenAreSkippedNegativeOnesAreNot) {
  CFilterOutput out;
  ASSERT_TRUE(out.Create(0));
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {inf, -inf, std::nan("")})
    EXPECT_EQ(out.AddRate("XYZ", bad), CFilterOutput::RateResult::Skipped) << bad;
  EXPECT_EQ(out.Length(), 0u);
  EXPECT_EQ(out.AddRate("ABC", -0.0), CFilterOutput::RateResult::Written);
  EXPECT_EQ(out.AddRate("JPY", 123.456789), CFilterOutput::RateResult::Written);
  // The server refuses the whole file for a negative rate: it is written, plain.
  EXPECT_EQ(out.AddRate("USD", -0.5), CFilterOutput::RateResult::Written);
  EXPECT_EQ(out.AddRate("XAU", -6.5e-20), CFilterOutput::RateResult::Written);
  EXPECT_EQ(Text(out), "ABC = 0\r\nJPY = 123.456789\r\nUSD = -0.5\r\nXAU = -0.000000000000000000065\r\n");
}

TEST(FilterOutput, ExtremeRatesAreWrittenPlainSoThatTheServerReadsThem) {
  CFilterOutput out;
  ASSERT_TRUE(out.Create(0));
  ASSERT_EQ(out.AddRate("XAU", 6.5e-20), CFilterOutput::RateResult::Written);
  ASSERT_EQ(out.AddRate("ZWD", 1e22), CFilterOutput::RateResult::Written);
  EXPECT_EQ(Text(out), "XAU = 0.000000000000000000065\r\nZWD = 10000000000000000000000\r\n");
}

TEST(FilterOutput, QuotedValuesAreEscapedAsTheIniWriterDoes) {
  struct Case {
    const char* value;
    const char* line;
  } cases[] = {
      {"US dollar", "K = \"US dollar\"\r\n"},
      {"say \"hi\" \\o/", "K = \"say \\\"hi\\\" \\\\o/\"\r\n"},
      {"kr\xF3na", "K = \"kr\\xf3na\"\r\n"},
      {"\xE9" "a", "K = \"\\x00e9a\"\r\n"},  // a hex digit follows: four digits
      {"tab\there", "K = \"tab\\x9here\"\r\n"},
      {"\x01" "f", "K = \"\\x0001f\"\r\n"},
      {"", "K = \"\"\r\n"},
  };
  for (const Case& c : cases) {
    CFilterOutput out;
    ASSERT_TRUE(out.Create(0));
    ASSERT_TRUE(out.AddQuoted("K", c.value));
    EXPECT_EQ(Text(out), c.line);
    // The server's reader gets the value back whole.
    CIniDataBuffer<char> ini;
    ASSERT_TRUE(ini.SetBuffer(Text(out).c_str()));
    ASSERT_EQ(ini.Load(nullptr, 0), 0u);
    ASSERT_EQ(ini.GetCount(), 1u);
    EXPECT_STREQ(CIniDataBuffer<char>::GetStringValue(ini[0]), c.value);
  }
}

TEST(FilterOutput, ScrambledAndWrittenOverTheInput) {
  vtxtest::TempDir dir;
  std::string file = dir / "page";
  WriteFile(file, "the downloaded page");
  CFilterOutput out;
  ASSERT_TRUE(out.Create(19));
  ASSERT_TRUE(out.AddGeneralSection(P::Eurfeed, nullptr));
  std::string plain = Text(out);
  ASSERT_EQ(WriteFilterOutput(P::Eurfeed, file.c_str(), out), 0u);
  std::string written = ReadFile(file);
  ASSERT_EQ(written.size(), plain.size());
  // The key repeats every eight bytes.
  const unsigned char key[8] = {'Q', 'u', 'i', 'l', 'l', 'o', 'p', 0xAE};
  for (size_t i : {size_t{0}, size_t{7}, size_t{8}, plain.size() - 1})
    EXPECT_EQ(static_cast<unsigned char>(written[i]), static_cast<unsigned char>(plain[i]) ^ key[i % 8]) << i;
  ScrambleBuffer(written.data(), static_cast<uint32_t>(written.size()));
  EXPECT_EQ(written, plain);

  CFilterOutput again;
  ASSERT_TRUE(again.Create(0));
  ASSERT_TRUE(again.AddLine("x"));
  EXPECT_EQ(WriteFilterOutput(P::Eurfeed, (dir / "no/such/folder").c_str(), again), 0x80048000u);
}

TEST(FilterOutput, NoMemory) {
  CFilterOutput out;
  vtx::heap::FailAfter(0);
  bool created = out.Create(10);
  vtx::heap::FailAfter(-1);
  EXPECT_FALSE(created);
  EXPECT_FALSE(out.AddLine("x"));
  EXPECT_EQ(out.AddRate("USD", 1.0), CFilterOutput::RateResult::NoMemory);

  // Growing fails: the text stays as it was and every later line is refused.
  CFilterOutput small;
  ASSERT_TRUE(small.Create(0));
  ASSERT_TRUE(small.AddLine(std::string(200, 'a').c_str()));
  vtx::heap::FailAfter(0);
  bool grown = small.AddLine(std::string(100, 'b').c_str());
  vtx::heap::FailAfter(-1);
  EXPECT_FALSE(grown);
  EXPECT_FALSE(small.AddLine("c"));
  EXPECT_EQ(small.Length(), 202u);
  EXPECT_EQ(WriteFilterOutput(P::Eurfeed, "/nonexistent/x", small), 0x80044003u);
}

}  // namespace
