// The built eurfeed program on copies of pages in the bank's format: its exit code as the server
// decodes it, and the file it leaves, unscrambled.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/foundation/scramble.h"
#include "platform/native/productpaths.h"
#include "platform/process.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"

namespace {

using vtxtest::ReadFile;
using vtxtest::WriteFile;

// The bank's pages, and the built program.
std::string PagePath(const std::string& name) { return vtxtest::SourcePath("tests/filters/eurfeed/pages/" + name); }
std::string EurfeedProgram() { return vtxtest::Program("eurfeed"); }

std::string Unscrambled(std::string data) {
  ScrambleBuffer(data.data(), static_cast<uint32_t>(data.size()));
  return data;
}

const std::string kGeneral =
    "[General]\r\n\r\n"
    "Application = \"Hulvane(R) Vantrex(TM)\"\r\n"
    "Source = \"European Central Bank\"\r\n"
    "Copyright = \"Please refer to the data provider for information concerning copyrights and terms of use.\"\r\n";

class Eurfeed : public ::testing::Test {
 protected:
  // Copies a fixture into the temporary folder; its path.
  std::string Page(const char* name) {
    std::string path = dir / name;
    std::filesystem::copy_file(PagePath(name), path);
    return path;
  }

  DWORD Run(std::vector<std::string> arguments, const std::string& program = EurfeedProgram()) {
    vtx::ProgramStart start;
    start.program = program;
    start.arguments = std::move(arguments);
    DWORD code = 0xFFFFFFFFu;
    EXPECT_EQ(vtx::RunProgram(start, 60000, &code), 0u);
    return code;
  }
  // As the server starts it: the file, the address, the filter name, the address's index.
  DWORD Convert(const std::string& page, const std::string& program = EurfeedProgram()) {
    return Run({page, "https://www.ecb.europa.eu/stats/eurofxref/index.en.html", "eurfeed", "0"}, program);
  }

  vtxtest::TempDir dir;
  vtxtest::ScopedEnv codePage{vtx::env::kCodePage, "Windows-1252"};  // the pages' names are ANSI text of it
};

TEST_F(Eurfeed, NormalPage) {
  std::string page = Page("normal.html");
  ASSERT_EQ(Convert(page), 0u);
  std::string written = ReadFile(page);
  // Scrambled: the server tells it from plain text by its first byte.
  ASSERT_FALSE(written.empty());
  EXPECT_NE(written[0], '[');
  EXPECT_EQ(Unscrambled(written),
            kGeneral +
                // 14:15 in Frankfurt is 13:15 UTC in winter.
                "Date = 2026-12-10T13:15:00Z\r\n"
                "\r\n[EUR]\r\n\r\n"
                "USD = 1.0856\r\n"
                "JPY = 163.42\r\n"
                "GBP = 0.83945\r\n"
                "ISK = 148.90\r\n"
                "SEK = 11.2340\r\n"
                "AUD = 1.2345\r\n"
                "EUR = 1.00\r\n"
                "\r\n[Names]\r\n\r\n"
                "USD = \"US dollar\"\r\n"
                "JPY = \"Japanese yen\"\r\n"
                "GBP = \"Pound sterling\"\r\n"
                "ISK = \"Icelandic kr\\xf3na\"\r\n"
                "SEK = \"Swedish krona\"\r\n"
                "AUD = \"Australian dollar\"\r\n"
                "EUR = \"EU euro\"\r\n");
}

TEST_F(Eurfeed, OddSpacingAndLineBreaks) {
  std::string page = Page("spacing.html");
  ASSERT_EQ(Convert(page), 0u);
  EXPECT_EQ(Unscrambled(ReadFile(page)),
            kGeneral +
                // Summer time: 14:15 is 12:15 UTC.
                "Date = 2026-07-02T12:15:00Z\r\n"
                "\r\n[EUR]\r\n\r\n"
                "USD = 1.0856\r\n"
                "JPY = 163.42\r\n"
                "GBP = 0.83945\r\n"
                "CHF = 0.9418\r\n"
                "NOK = 11.6925\r\n"
                "EUR = 1.00\r\n"
                "\r\n[Names]\r\n\r\n"
                "USD = \"US dollar\"\r\n"
                "JPY = \"Japanese yen\"\r\n"
                "GBP = \"Pound sterling\"\r\n"
                "CHF = \"Swiss franc\"\r\n"
                "NOK = \"Norwegian krone\"\r\n"
                "EUR = \"EU euro\"\r\n");
}

TEST_F(Eurfeed, RatesThatReadWholeAsNumbersAreCopiedOthersLoseTheirRows) {
  // A rate the server cannot take (negative, an exponent, inf) is passed on as written, and the
  // server refuses the whole file for it; "163,42", "24.615.1" and "n/a" are no numbers.
  std::string page = Page("malformed.html");
  ASSERT_EQ(Convert(page), 0u);
  EXPECT_EQ(Unscrambled(ReadFile(page)),
            kGeneral +
                "Date = 2026-12-10T13:15:00Z\r\n"
                "\r\n[EUR]\r\n\r\n"
                "USD = 1.0856\r\nDKK = -7.4612\r\nGBP = 8.3945e-1\r\nPLN = 0.0000\r\nRON = .5092\r\nSEK = 11.\r\n"
                "CHF = inf\r\nBRL = +5.98\r\nZAR = 19.6432\r\n"
                "EUR = 1.00\r\n"
                "\r\n[Names]\r\n\r\n"
                "USD = \"US dollar\"\r\nDKK = \"Danish krone\"\r\nGBP = \"Pound sterling\"\r\nPLN = \"Polish zloty\"\r\n"
                "RON = \"Romanian leu\"\r\nSEK = \"Swedish krona\"\r\nCHF = \"Swiss franc\"\r\nBRL = \"Brazilian real\"\r\n"
                "ZAR = \"South African rand\"\r\n"
                "EUR = \"EU euro\"\r\n");
}

TEST_F(Eurfeed, PagesWithoutRatesLeaveTheFileAsItWas) {
  // Only "EUR = 1.00" would make the server drop every other currency.
  std::string page = Page("norows.html");
  std::string before = ReadFile(page);
  EXPECT_EQ(Convert(page), 0x8004C001u);
  EXPECT_EQ(ReadFile(page), before);

  std::string undated = dir / "undated.html";
  std::string text = ReadFile(PagePath("normal.html"));
  text.replace(text.find("10 December 2026"), 16, "10 Dec 2026");
  WriteFile(undated, text);
  EXPECT_EQ(Convert(undated), 0x8004C001u);
  EXPECT_EQ(ReadFile(undated), text);

  std::string empty = dir / "empty.html";
  WriteFile(empty, "");
  EXPECT_EQ(Convert(empty), 0x8004C001u);
}

TEST_F(Eurfeed, CommandLineAndInput) {
  std::string page = Page("normal.html");
  EXPECT_EQ(Run({}), 0x80042000u);
  // The file alone: two arguments are required though only the first is used.
  EXPECT_EQ(Run({page}), 0x80042001u);
  EXPECT_EQ(Run({dir / "missing.html", "address"}), 0x80046000u);
  // A path with blanks is one argument.
  std::string spaced = dir / "a page with blanks.html";
  std::filesystem::copy_file(page, spaced);
  EXPECT_EQ(Run({spaced, "address"}), 0u);
}

TEST_F(Eurfeed, MapIniBesideTheProgram) {
  // A copy of the program in a folder of its own finds no map.ini there.
  std::string program = dir / "eurfeed";
  std::filesystem::copy_file(EurfeedProgram(), program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  std::string page = Page("normal.html");
  std::string before = ReadFile(page);
  EXPECT_EQ(Convert(page, program), 0x80046002u);
  EXPECT_EQ(ReadFile(page), before);

  WriteFile(dir / "map.ini", "[Codes]\r\nCNY = RMB\r\nnot a key\r\n");
  EXPECT_EQ(Convert(page, program), 0x80046002u);

  // Its [Codes] rename and drop the page's codes.
  WriteFile(dir / "map.ini", "[Codes]\r\nCNY = RMB\r\nXXX = JPY, xts\r\n");
  std::string coded = dir / "coded.html";
  WriteFile(coded,
            "<p>1 March 2026</p><table>"
            "<tr><td>RMB</td><td>Chinese yuan renminbi</td><td>7.7814</td></tr>"
            "<tr><td>JPY</td><td>Japanese yen</td><td>163.42</td></tr>"
            "<tr><td>XTS</td><td>Test code</td><td>1.5</td></tr>"
            "<tr><td>USD</td><td>US dollar</td><td>1.0856</td></tr></table>");
  ASSERT_EQ(Convert(coded, program), 0u);
  std::string text = Unscrambled(ReadFile(coded));
  EXPECT_NE(text.find("\r\n[EUR]\r\n\r\nCNY = 7.7814\r\nUSD = 1.0856\r\nEUR = 1.00\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Date = 2026-03-01T13:15:00Z\r\n"), std::string::npos) << text;
}

TEST_F(Eurfeed, BundledSamplePage) {
  std::string page = dir / "eurofxref.html";
  std::filesystem::copy_file(vtxtest::SourcePath("resources/samples/eurofxref.html"), page);
  ASSERT_EQ(Convert(page), 0u);
  std::string text = Unscrambled(ReadFile(page));
  size_t rates = text.find("\r\n[EUR]\r\n\r\n");
  size_t names = text.find("\r\n[Names]\r\n\r\n");
  ASSERT_NE(rates, std::string::npos);
  ASSERT_NE(names, std::string::npos);
  // Every currency of the page has its rate and its name.
  std::string section = text.substr(rates, names - rates);
  size_t count = 0;
  for (size_t at = section.find(" = "); at != std::string::npos; at = section.find(" = ", at + 1)) ++count;
  EXPECT_EQ(count, 30u);  // 29 currencies and the euro
  EXPECT_NE(section.find("USD = 1.0856\r\n"), std::string::npos);
}

}  // namespace
