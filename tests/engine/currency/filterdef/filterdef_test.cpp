#include "engine/currency/filterdef.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/files.h"
#include "tests/support/paths.h"

using vtxtest::TempDir;

namespace {

class Definitions : public testing::Test {
 protected:
  TempDir dir;
  void Write(const std::string& name, const std::string& text) { ASSERT_TRUE(vtxtest::WriteFile(dir / name, text)); }
  const char* Folder() const { return dir.path().c_str(); }
};

std::string Str(const char* s) { return s ? s : "<null>"; }

}  // namespace

TEST_F(Definitions, FileNamesAndTheirExtension) {
  const std::string body = "[General]\r\nName = Bank\r\n";
  for (const char* f : {"bank.INI", "bank.txt", "bank", "a.b.ini"}) Write(f, body);
  CFilter filter;
  ASSERT_EQ(filter.Create(Folder(), "bank.INI"), 1);
  EXPECT_STREQ(filter.GetName(), "bank.INI");
  EXPECT_STREQ(filter.GetShortName(), "bank");
  EXPECT_STREQ(filter.GetDisplayName(), "Bank");
  EXPECT_FALSE(filter.IsDefault());
  HRESULT hr = S_OK;
  for (const char* refused : {"bank.txt", "bank", "a.b.ini", "", "missing.ini"}) {
    EXPECT_EQ(filter.Create(Folder(), refused, &hr), 0) << refused;
    EXPECT_TRUE(FAILED(hr)) << refused;
    EXPECT_EQ(filter.GetName(), nullptr);
  }
  EXPECT_EQ(filter.Create(nullptr, "bank.INI"), 0);  // no filters folder
}

TEST_F(Definitions, NamesThatLeaveTheFolderAreRefused) {
  ASSERT_EQ(mkdir((dir / "Filters").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "Filters/sub").c_str(), 0755), 0);
  Write("outside.ini", "[General]\r\nName = Outside\r\n");
  Write("Filters/sub/inner.ini", "[General]\r\nName = Inner\r\n");
  std::string filters = dir / "Filters";
  CFilter filter;
  const std::string absolute = dir / "outside.ini";
  for (const char* name : {"../outside.ini", "..\\outside.ini", "sub/inner.ini", "C:outside.ini",
                           absolute.c_str(), ".", ".."}) {
    HRESULT hr = S_OK;
    EXPECT_EQ(filter.Create(filters.c_str(), name, &hr), 0) << name;
    EXPECT_EQ(hr, E_INVALIDARG) << name;
  }
}

TEST_F(Definitions, NameCaseNeedNotMatchTheDisk) {
  Write("sovfeed.INI", "[General]\r\nExecutable = sovfeed\r\n");
  CFilter filter;
  ASSERT_EQ(filter.Create(Folder(), "SovFeed.ini"), 1);
  EXPECT_STREQ(filter.GetExecutable(), "sovfeed");
  EXPECT_STREQ(filter.GetDisplayName(), "SovFeed");  // no Name: the short name
}

TEST_F(Definitions, EveryKeyOfBothSections) {
  Write("full.ini",
        "; a comment\r\n"
        "Name = ignored before any section\r\n"
        "[General]\r\n"
        "Name = \"Full, with comma\"\r\n"
        "Executable = C:\\filters\\full.exe\r\n"
        "Information = Info\r\n"
        "Append = \"[EUR]\\r\\nXAU = 0.0005\"\r\n"
        "RequiredVersion = 4.0\r\n"
        "Hide = 1\r\n"
        "Unknown = skipped\r\n"
        "[Other]\r\n"
        "Address = not an address\r\n"
        "[URL]\r\n"
        "Address = http://one/rates?a=1\r\n"
        "Replaces = http://OLD/one\r\n"
        "Replaces = http://older/one\r\n"
        "Description = The first\r\n"
        "Resource = http://one/list\r\n"
        "Name = One\r\n"
        "Type = FREE, EDIT\r\n"
        "Executable = one\r\n"
        "Append = more\r\n"
        "BaseUnit = USD, EUR\r\n"
        "DefaultRate = inverse\r\n"
        "TimeFormat = %d.%m.%Y\r\n"
        "Namespaces = a, b\r\n"
        "Namespaces = c\r\n"
        "XPathTime = /t\r\nXPathCode = /c\r\nXPathName = /n\r\nXPathMultiplier = /m\r\n"
        "XPathRate = /r\r\nXPathInvertRate = /i\r\n"
        "TimeInfo = 0x10, Europe\r\n"
        "RequiredVersion = 4.1\r\n"
        "[url]\r\n"
        "Address = http://two/\r\n"
        "Comment = The second\r\n"
        "Name = Two\r\n"
        "Type = free, other\r\n"
        "BaseUnit = CAD\r\n");
  CFilter f;
  ASSERT_EQ(f.Create(Folder(), "full.ini"), 1);
  EXPECT_STREQ(f.GetDisplayName(), "Full, with comma");
  EXPECT_STREQ(f.GetExecutable(), "C:\\filters\\full.exe");  // a path keeps its backslashes
  EXPECT_STREQ(f.GetInformation(), "Info");
  EXPECT_STREQ(f.GetAppend(), "[EUR]\r\nXAU = 0.0005");
  EXPECT_STREQ(f.GetRequiredVersion(), "4.0");
  EXPECT_EQ(f.GetHide(), 1u);
  ASSERT_EQ(f.GetURLCount(), 2u);

  const CFilter::CFilterURL* one = f.GetURL(0);
  EXPECT_STREQ(one->GetAddress(), "http://one/rates?a=1");
  EXPECT_STREQ(one->GetComment(), "The first");
  EXPECT_STREQ(one->GetResource(), "http://one/list");
  EXPECT_STREQ(one->GetName(), "One");
  EXPECT_EQ(one->GetFlags(), 12u);
  EXPECT_STREQ(one->GetExecutable(), "one");
  EXPECT_STREQ(one->GetAppend(), "more");
  EXPECT_STREQ(one->GetBaseUnit(), "USD");
  EXPECT_STREQ(one->GetSecondBaseUnit(), "EUR");
  EXPECT_EQ(one->GetDirection(), 0u);
  EXPECT_STREQ(one->GetTimeFormat(), "%d.%m.%Y");
  EXPECT_EQ(one->GetNamespaces().GetCount(), 3u);
  EXPECT_STREQ(one->GetNamespaces()[2], "c");
  EXPECT_STREQ(one->GetXPath(CFilter::CFilterURL::XPathTime), "/t");
  EXPECT_STREQ(one->GetXPath(CFilter::CFilterURL::XPathUnit), "/m");
  EXPECT_STREQ(one->GetXPath(CFilter::CFilterURL::XPathInvertRate), "/i");
  EXPECT_EQ(one->GetTimeInfo(), 16u);
  EXPECT_STREQ(one->GetTimeInfoText(), "Europe");
  EXPECT_STREQ(one->GetRequiredVersion(), "4.1");
  EXPECT_EQ(one->GetReplaces().GetCount(), 2u);

  const CFilter::CFilterURL* two = f.GetURL(1);
  EXPECT_STREQ(two->GetAddress(), "http://two/");
  EXPECT_EQ(two->GetFlags(), kUrlTypeFree);
  EXPECT_EQ(two->GetDirection(), 1u);  // defaults
  EXPECT_EQ(two->GetTimeInfo(), 360u);
  EXPECT_EQ(two->GetTimeInfoText(), nullptr);
  EXPECT_STREQ(two->GetBaseUnit(), "CAD");
  EXPECT_EQ(two->GetSecondBaseUnit(), nullptr);
  EXPECT_EQ(two->GetExecutable(), nullptr);
  EXPECT_EQ(f.GetURL(2), nullptr);

  // Look-ups over the addresses.
  EXPECT_STREQ(f.GetURLAddress(1), "http://two/");
  EXPECT_EQ(f.GetURLAddress(2), nullptr);
  EXPECT_EQ(f.FindURL("http://two/"), 1);
  EXPECT_EQ(f.FindURL("HTTP://TWO/"), -1);
  EXPECT_EQ(f.IFindURL("HTTP://TWO/"), 1);
  EXPECT_EQ(f.FindURL(nullptr), -1);
  EXPECT_EQ(f.GetAddressName("http://one/rates?a=1"), nullptr);  // EDIT addresses have no name
  EXPECT_STREQ(f.GetAddressName("HTTP://two/"), "Two");
  EXPECT_EQ(f.GetAddressName("http://three/"), nullptr);
  EXPECT_STREQ(f.ReplacedBy("http://old/ONE"), "http://one/rates?a=1");
  EXPECT_STREQ(f.ReplacedBy("http://older/one"), "http://one/rates?a=1");
  EXPECT_EQ(f.ReplacedBy("http://one/rates?a=1"), nullptr);
}

TEST_F(Definitions, MalformedFilesAreRejected) {
  struct Case {
    const char* text;
    HRESULT result;
  } cases[] = {
      {"[URL]\r\nDefaultRate = 1\r\n", E_INVALIDARG},
      {"[URL]\r\nDefaultRate = \r\n", E_INVALIDARG},
      {"[URL]\r\nTimeInfo = -1\r\n", E_INVALIDARG},
      {"[URL]\r\nTimeInfo = abc, text\r\n", E_INVALIDARG},
      {"[URL]\r\nTimeInfo = 12x\r\n", E_INVALIDARG},
      {"[General]\r\nHide = many\r\n", E_INVALIDDATA},
      {"[General]\r\nName Bank\r\n", E_INVALIDDATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Write("bad.ini", c.text);
    CFilter f;
    uint32_t line = 99;
    EXPECT_EQ(f.Load((dir / "bad.ini").c_str(), &line), c.result);
    EXPECT_EQ(line, c.result == E_INVALIDDATA ? 2u : 0u);
    HRESULT hr = S_OK;
    EXPECT_EQ(f.Create(Folder(), "bad.ini", &hr), 0);
    EXPECT_EQ(hr, c.result);
    EXPECT_EQ(f.GetURLCount(), 0u);
  }
  CFilter f;
  EXPECT_EQ(f.Load((dir / "none.ini").c_str()), 0x80070002u);
  Write("ok.ini", "[URL]\r\nTimeInfo = 017\r\nDefaultRate = Direct\r\n");
  ASSERT_EQ(f.Create(Folder(), "ok.ini"), 1);
  EXPECT_EQ(f.GetURL(0)->GetTimeInfo(), 15u);  // octal
}

TEST_F(Definitions, ListSortedAndUnsorted) {
  Write("c.ini", "[General]\r\nName = bank C\r\n");
  Write("a.INI", "[General]\r\nName = Bank B\r\n");
  Write("b.ini", "[General]\r\nName = \"Bank A\"\r\n");
  Write("bad.ini", "[URL]\r\nDefaultRate = sideways\r\n");
  Write("notes.txt", "[General]\r\nName = Notes\r\n");
  Write("x.y.ini", "[General]\r\nName = Two dots\r\n");

  CFilterList list;
  ASSERT_EQ(list.Create(Folder(), false), 1);
  ASSERT_EQ(list.GetCount(), 3u);
  EXPECT_STREQ(list[0]->GetName(), "a.INI");
  EXPECT_STREQ(list[1]->GetName(), "b.ini");
  EXPECT_STREQ(list[2]->GetName(), "c.ini");

  ASSERT_EQ(list.Create(Folder(), true), 1);
  ASSERT_EQ(list.GetCount(), 3u);
  EXPECT_STREQ(list[0]->GetDisplayName(), "Bank A");
  EXPECT_STREQ(list[1]->GetDisplayName(), "Bank B");
  EXPECT_STREQ(list[2]->GetDisplayName(), "bank C");

  // Find: file name, display name, part of either; a null text without "Default.ini" gives 0.
  EXPECT_EQ(list.Find("C.INI"), 2);
  EXPECT_EQ(list.Find("bank b"), -1);
  EXPECT_EQ(list.Find("bank b", 2), 1);
  EXPECT_EQ(list.Find("NK C", 3), 2);
  EXPECT_EQ(list.Find("a.i", 1), 1);
  EXPECT_EQ(list.Find("zzz", 3), -1);
  EXPECT_EQ(list.Find(nullptr), 0);

  Write("default.INI", "[General]\r\nName = \"Z default\"\r\n");
  ASSERT_EQ(list.Create(Folder(), true), 1);
  EXPECT_EQ(list.Find(nullptr), 3);
  EXPECT_TRUE(list[3]->IsDefault());

  ASSERT_EQ(list.Create((dir / "missing").c_str(), true), 1);
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.Find(nullptr), -1);
  EXPECT_EQ(list.Create(nullptr, false), 0);
}

TEST(ShippedDefinitions, EveryFilterProgramHasALoadableDefinition) {
  std::string folder = vtxtest::SourcePath("resources/filters");
  CFilterList list;
  ASSERT_EQ(list.Create(folder.c_str(), true), 1);
  EXPECT_EQ(list.GetCount(), 8u);
  int32_t def = list.Find(nullptr);
  ASSERT_GE(def, 0);
  const CFilter* d = list[static_cast<uint32_t>(def)];
  ASSERT_TRUE(d->IsDefault());
  ASSERT_GE(d->GetURLCount(), 1u);
  EXPECT_STREQ(d->GetURL(0)->GetExecutable(), "eurfeed");  // the default source converts itself

  for (const char* program : {"sovfeed", "sdrfeed", "cadfeed", "quofeed", "usdfeed", "eurfeed", "tolfeed"}) {
    SCOPED_TRACE(program);
    int32_t i = list.Find((std::string(program) + ".ini").c_str());
    ASSERT_GE(i, 0);
    const CFilter* f = list[static_cast<uint32_t>(i)];
    EXPECT_STREQ(f->GetExecutable(), program);
    ASSERT_GE(f->GetURLCount(), 1u);
    const char* address = f->GetURLAddress(0);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(Str(address).find("://") != std::string::npos, true) << Str(address);
    EXPECT_EQ(Str(f->GetURL(0)->GetBaseUnit()).size(), 3u);
    for (const char* old : f->GetURL(0)->GetReplaces()) EXPECT_STREQ(f->ReplacedBy(old), address);
  }
}
