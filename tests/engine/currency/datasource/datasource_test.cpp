#include "engine/currency/datasource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/scramble.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "tests/support/dates.h"
#include "tests/support/storetest.h"

namespace {

constexpr const char* kApp = "SOFTWARE\\Hulvane\\Vantrex\\4.0";

std::string Parsed(const char* url, const SYSTEMTIME& t, const char* data1 = nullptr, const char* data2 = nullptr) {
  CDataSource s;
  s.SetURL(url);
  s.SetUserData1(data1);
  s.SetUserData2(data2);
  CStringA out;
  if (!s.GetParsedURL(out, &t)) return "<failed>";
  return out.c_str();
}

TEST(DataSourceAddress, PlaceholdersExpand) {
  const SYSTEMTIME wed = vtxtest::SysTime(2026, 12, 9, 15, 45, 9);  // a Wednesday afternoon
  const SYSTEMTIME early = vtxtest::SysTime(2009, 3, 1, 0, 5, 3);   // a Sunday just after midnight
  struct {
    const char* url;
    const SYSTEMTIME* t;
    const char* expected;
  } cases[] = {
      {"http://x/rates[yyyy][MM][dd].txt", &wed, "http://x/rates20261209.txt"},
      {"[dddd] [ddd] [dd] [d]", &wed, "Wednesday Wed 09 9"},
      {"[dddd] [ddd] [dd] [d]", &early, "Sunday Sun 01 1"},
      {"[MMMM] [MMM] [MM] [M]", &early, "March Mar 03 3"},
      {"[yyyy] [yy] [y]", &early, "2009 09 9"},
      {"[hh] [h] [HH] [H] [tt] [t]", &wed, "03 3 15 15 PM P"},
      {"[hh] [h] [HH] [H] [tt] [t]", &early, "12 12 00 0 AM A"},
      {"[mm] [m] [ss] [s]", &early, "05 5 03 3"},
      {"[3] [x] [yyy] [D] [] [MMMMM] [y", &wed, "[3] [x] [yyy] [D] [] [MMMMM] [y"},
      {"a[[yyyy]]b[", &wed, "a[2026]b["},
      {"q=[1]&r=[2]&s=[1]", &wed, "q=one&r=&s=one"},
      {"", &wed, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.url, *c.t, "one"), c.expected) << c.url;
}

TEST(DataSourceAddress, ImpossibleTimeFails) {
  EXPECT_EQ(Parsed("r[yyyy]", vtxtest::SysTime(2026, 13, 1, 0, 0, 0)), "<failed>");
  EXPECT_EQ(Parsed("r[HH]", vtxtest::SysTime(2026, 2, 30, 0, 0, 0)), "<failed>");
  // An address without pictures needs no time.
  EXPECT_EQ(Parsed("plain[1]", vtxtest::SysTime(2026, 13, 1, 0, 0, 0), "x"), "plainx");
}

TEST(DataSourceAddress, CurrentTimeIsUsedWithoutOne) {
  CDataSource s;
  s.SetURL("[yyyy]");
  CStringA out;
  ASSERT_EQ(s.GetParsedURL(out), 1);
  ASSERT_EQ(out.GetLength(), 4u);
  EXPECT_GE(std::atoi(out.c_str()), 2024);
}

TEST(DataSourceAddress, PictureTexts) {
  const SYSTEMTIME t = vtxtest::SysTime(2026, 12, 9, 15, 45, 9);
  CStringA out;
  EXPECT_EQ(ExpandDateExpression(13, "d 'of' MMMM yyyy", out, &t), 16u);
  EXPECT_STREQ(out.c_str(), "9 of December 26");  // only the first 17 characters are the picture
  EXPECT_EQ(ExpandDateExpression(13, "dd''MM'd''x'y", out, &t), 10u);
  EXPECT_STREQ(out.c_str(), "09'12d'x26");
  EXPECT_EQ(ExpandTimeExpression(8, "HH:mm:ss", out, &t), 8u);
  EXPECT_STREQ(out.c_str(), "15:45:09");
  // Letters of the other kind stay as they are.
  EXPECT_EQ(ExpandTimeExpression(4, "yyHH", out, &t), 4u);
  EXPECT_STREQ(out.c_str(), "yy15");
  EXPECT_EQ(ExpandDateExpression(4, nullptr, out, &t), 0u);

  EXPECT_EQ(IsDateExpression("dddd]x"), 4u);
  EXPECT_EQ(IsDateExpression("MMM]"), 3u);
  EXPECT_EQ(IsDateExpression("mm]"), 0u);
  EXPECT_EQ(IsDateExpression("dd"), 0u);
  EXPECT_EQ(IsTimeExpression("mm]"), 2u);
  EXPECT_EQ(IsTimeExpression("T]"), 0u);
  EXPECT_EQ(IsTimeExpression(nullptr), 0u);
}

TEST(DataSourceAddress, UserDataAndParsable) {
  struct {
    const char* url;
    bool any, one, two, parsable;
  } cases[] = {
      {"http://x/?id=[1]", true, true, false, true},
      {"http://x/?id=[2]", true, false, true, true},
      {"http://x/[3]/[x]", false, false, false, false},
      {"http://x/[HH]", false, false, false, true},
      {"http://x/[1", false, false, false, false},
      {nullptr, false, false, false, false},
  };
  for (const auto& c : cases) {
    CDataSource s;
    s.SetURL(c.url);
    EXPECT_EQ(s.IsUserDataURL(0), c.any) << (c.url ? c.url : "null");
    EXPECT_EQ(s.IsUserDataURL(-1), c.any);
    EXPECT_EQ(s.IsUserDataURL(1), c.one);
    EXPECT_EQ(s.IsUserDataURL(2), c.two);
    EXPECT_EQ(s.IsParsableURL(), c.parsable);
  }
  CDataSource s;
  s.SetURL("a[3]");
  EXPECT_TRUE(s.IsUserDataURL(3));
}

CDataSource* NewSource(const char* url, const char* filter = nullptr) {
  CDataSource* s = new CDataSource;
  s->SetURL(url);
  s->SetFilter(filter);
  return s;
}

TEST(DataSourceList, OrderFindCopyRemove) {
  CDataSourceList list;
  CDataSource* a = NewSource("http://a", "A.ini");
  CDataSource* b = NewSource("http://b");
  CDataSource* c = NewSource("http://c", "C.ini");
  list.Add(a);
  list.Add(b);
  list.Add(c);
  CDataSource stranger;

  EXPECT_EQ(list.MoveUp(a), 0);
  EXPECT_EQ(list.MoveDown(c), 0);
  EXPECT_EQ(list.MoveUp(&stranger), 0);
  EXPECT_EQ(list.MoveDown(&stranger), 0);
  EXPECT_EQ(list.MoveUp(c), 1);
  EXPECT_EQ(list[1], c);
  EXPECT_EQ(list.MoveDown(a), 1);
  EXPECT_EQ(list[0], c);
  EXPECT_EQ(list[1], a);
  EXPECT_EQ(list[2], b);

  EXPECT_EQ(list.Find("a.INI", "HTTP://A"), a);
  EXPECT_EQ(list.Find(nullptr, "http://b"), b);
  EXPECT_EQ(list.Find("", "http://b"), nullptr);  // null matches only null
  EXPECT_EQ(list.Find("A.ini", nullptr), nullptr);

  CDataSourceList copy;
  copy.Add(NewSource("old"));
  ASSERT_EQ(copy.CopyFrom(list), 1);
  ASSERT_EQ(copy.GetCount(), 3u);
  EXPECT_NE(copy[0], c);
  EXPECT_STREQ(copy[0]->GetURL(), "http://c");
  EXPECT_STREQ(copy[1]->GetFilter(), "A.ini");
  EXPECT_EQ(copy[2]->GetFilter(), nullptr);
  EXPECT_EQ(copy.CopyFrom(copy), 1);
  EXPECT_EQ(copy.GetCount(), 3u);

  EXPECT_FALSE(list.Remove(&stranger));
  EXPECT_FALSE(list.Remove(3u));
  EXPECT_TRUE(list.Remove(a));
  EXPECT_TRUE(list.Remove(0u));
  ASSERT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(list[0], b);
}

class DataSourceStore : public vtxtest::PrivateStoreTest {
 protected:

  static std::string Path(int n) { return std::string(kApp) + "\\Servers\\" + std::to_string(n); }
  static void PutSz(const std::string& path, const char* name, const char* text) {
    RegStringValueA v;
    v = text;
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, path.c_str(), name), S_OK);
  }
  static void PutBinary(const std::string& path, const char* name, std::vector<uint8_t> bytes) {
    RegBinaryValue v;
    v.Copy(bytes.data(), static_cast<uint32_t>(bytes.size()));
    ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, path.c_str(), name), S_OK);
  }
  // The plain bytes of a stored credentials value, or "<none>".
  static std::string Credentials(int n) {
    RegBinaryValue v;
    if (v.Load(HKEY_LOCAL_MACHINE, Path(n).c_str(), "Authentication") != S_OK) return "<none>";
    DecryptBuffer(v.GetBuffer(), v.GetSize());
    return std::string(static_cast<char*>(v.GetBuffer()), v.GetSize());
  }
  static std::string Text(const std::string& path, const char* name) {
    RegStringValueA v;
    if (v.Load(HKEY_LOCAL_MACHINE, path.c_str(), name) != S_OK) return "<none>";
    return v.GetString();
  }
  // Every stored source as "url|filter|data1|data2|user|password" lines.
  static std::string Listing(const CDataSourceList& list) {
    std::string out;
    auto t = [](const char* s) { return s ? std::string(s) : std::string("-"); };
    for (const CDataSource* s : list)
      out += t(s->GetURL()) + "|" + t(s->GetFilter()) + "|" + t(s->GetUserData1()) + "|" + t(s->GetUserData2()) + "|" +
             t(s->GetUserNameA()) + "|" + t(s->GetPassword()) + "\n";
    return out;
  }
  static HRESULT LoadAll(CDataSourceList& list) {
    return list.Load(HKEY_LOCAL_MACHINE, kApp, "http://old", "Old.ini", "id", "olduser", "oldpass");
  }

};

TEST_F(DataSourceStore, LoadStopsAtTheFirstGap) {
  PutSz(Path(1), "URL", "http://one");
  PutSz(Path(1), "Filter", "One.ini");
  PutSz(Path(1), "UserData1", "u1");
  PutSz(Path(2), "URL", "http://two");
  PutSz(Path(2), "UserData2", "u2");
  PutSz(Path(4), "URL", "http://four");
  CDataSourceList list;
  ASSERT_EQ(LoadAll(list), S_OK);
  EXPECT_EQ(Listing(list), "http://one|One.ini|u1|-|-|-\nhttp://two|-|-|u2|-|-\n");
}

TEST_F(DataSourceStore, OldSingleSourceWithoutServers) {
  CDataSourceList list;
  list.Add(NewSource("left over"));
  ASSERT_EQ(LoadAll(list), S_OK);
  EXPECT_EQ(Listing(list), "http://old|Old.ini|id|-|olduser|oldpass\n");

  // An empty "Servers" key is an empty list: the old values are not used.
  PutSz(std::string(kApp) + "\\Servers", nullptr, nullptr);
  ASSERT_EQ(LoadAll(list), S_OK);
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST_F(DataSourceStore, NoOldAddressGivesNoSource) {
  CDataSourceList list;
  ASSERT_EQ(list.Load(HKEY_LOCAL_MACHINE, kApp, nullptr, "Old.ini", "id", "u", "p"), S_OK);
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.Save(HKEY_LOCAL_MACHINE, kApp), S_OK);
}

TEST_F(DataSourceStore, AnEmptyListStaysEmpty) {
  CDataSourceList list;
  list.Add(NewSource("http://a/", "A.ini"));
  ASSERT_EQ(list.Save(HKEY_LOCAL_MACHINE, kApp), S_OK);
  list.Empty();
  ASSERT_EQ(list.Save(HKEY_LOCAL_MACHINE, kApp), S_OK);
  // No sources is a configuration of its own, not an older version's that needs the default source.
  CDataSourceList back;
  ASSERT_EQ(back.Load(HKEY_LOCAL_MACHINE, kApp, "http://default/", "Default.ini", nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(back.GetCount(), 0u);
}

TEST_F(DataSourceStore, SaveAndLoadAgain) {
  CDataSourceList list;
  CDataSource* a = NewSource("http://a/[yyyy]", "A.ini");
  a->SetUserData1("d1");
  a->SetUserData2("d2");
  a->SetUserNameA("user");
  a->SetPassword("secret");
  CDataSource* b = NewSource("http://b");
  b->SetFilter("");  // empty texts are not written
  b->SetUserNameA("name only");
  b->SetPassword("");
  CDataSource* c = NewSource("");
  c->SetPassword("pw");
  CDataSource* d = NewSource("http://d");
  d->SetUserNameA("");
  list.Add(a);
  list.Add(b);
  list.Add(c);
  list.Add(d);
  PutSz(Path(7), "URL", "stale");
  ASSERT_EQ(list.Save(HKEY_LOCAL_MACHINE, kApp), S_OK);

  EXPECT_EQ(Text(Path(2), "Filter"), "<none>");
  EXPECT_EQ(Text(Path(3), "URL"), "");
  EXPECT_EQ(Text(Path(7), "URL"), "<none>");
  EXPECT_EQ(Credentials(4), "<none>");
  // Count byte 7, both texts with their NULs, padded to the next multiple of 32.
  std::string plain = Credentials(2);
  ASSERT_EQ(plain.size(), 32u);
  EXPECT_EQ(plain.substr(0, 12), std::string("\x07name only\0\0", 12));
  EXPECT_EQ(Credentials(1).size(), 32u);  // 1 + 5 + 7 = 13 bytes

  CDataSourceList back;
  ASSERT_EQ(LoadAll(back), S_OK);
  EXPECT_EQ(Listing(back),
            "http://a/[yyyy]|A.ini|d1|d2|user|secret\n"
            "http://b|-|-|-|name only|\n"
            "|-|-|-||pw\n"
            "http://d|-|-|-|-|-\n");
}

TEST_F(DataSourceStore, CredentialsOfExactlyThirtyTwoBytesGetAFullPad) {
  CDataSourceList list;
  CDataSource* a = NewSource("x");
  a->SetUserNameA(std::string(20, 'u').c_str());
  a->SetPassword(std::string(9, 'p').c_str());  // 1 + 21 + 10 = 32
  list.Add(a);
  ASSERT_EQ(list.Save(HKEY_LOCAL_MACHINE, kApp), S_OK);
  EXPECT_EQ(Credentials(1).size(), 64u);
}

TEST_F(DataSourceStore, DamagedCredentialsStayInsideTheValue) {
  auto scrambled = [](std::string plain) {
    std::vector<uint8_t> bytes(plain.begin(), plain.end());
    EncryptBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return bytes;
  };
  PutSz(Path(1), "URL", "one");
  PutBinary(Path(1), "Authentication", scrambled(std::string("\x07user", 5)));  // no NUL, no password
  PutSz(Path(2), "URL", "two");
  PutBinary(Path(2), "Authentication", scrambled(std::string("\x07", 1)));
  PutSz(Path(3), "URL", "three");
  PutBinary(Path(3), "Authentication", scrambled(std::string("\x02u\0p", 4)));  // the count is not checked
  CDataSourceList list;
  ASSERT_EQ(LoadAll(list), S_OK);
  EXPECT_EQ(Listing(list), "one|-|-|-|user|-\ntwo|-|-|-|-|-\nthree|-|-|-|u|p\n");
}

TEST_F(DataSourceStore, SaveWithAMissingURLChangesNothing) {
  PutSz(Path(1), "URL", "http://kept");
  PutSz(Path(1), "Filter", "Kept.ini");
  CDataSourceList list;
  list.Add(NewSource("http://new"));
  list.Add(NewSource(nullptr, "Broken.ini"));
  EXPECT_EQ(list.Save(HKEY_LOCAL_MACHINE, kApp), E_UNEXPECTED);
  CDataSourceList back;
  ASSERT_EQ(LoadAll(back), S_OK);
  EXPECT_EQ(Listing(back), "http://kept|Kept.ini|-|-|-|-\n");
}

TEST_F(DataSourceStore, SaveJoinsTheCallersTransaction) {
  PutSz(Path(1), "URL", "http://kept");
  CDataSourceList list;
  list.Add(NewSource("http://new"));
  list.Add(NewSource("http://newer"));
  {
    vtx::RegTransaction outer;
    ASSERT_EQ(outer.Status(), 0u);
    ASSERT_EQ(list.Save(HKEY_LOCAL_MACHINE, kApp), S_OK);
    EXPECT_EQ(Text(Path(2), "URL"), "http://newer");
  }  // not committed: the whole settings save is undone
  EXPECT_EQ(Text(Path(1), "URL"), "http://kept");
  EXPECT_EQ(Text(Path(2), "URL"), "<none>");
}

TEST_F(DataSourceStore, ReplacedAddressesAreBroughtUpToDate) {
  std::string folder = dir_ / "filters";
  ASSERT_EQ(vtx::MakeDirectories(folder.c_str()), S_OK);
  const char* def =
      "[General]\r\nName = Bank\r\n"
      "[URL]\r\nAddress = http://new/rates\r\nReplaces = http://old/rates\r\n";
  ASSERT_EQ(vtx::WriteWholeFile((folder + "/bank.ini").c_str(), def, std::strlen(def)), S_OK);
  PutSz(Path(1), "URL", "HTTP://OLD/rates");
  PutSz(Path(1), "Filter", "BANK.INI");
  PutSz(Path(2), "URL", "http://old/rates");  // no filter: left alone
  PutSz(Path(3), "URL", "http://old/rates");
  PutSz(Path(3), "Filter", "Other.ini");  // no such definition
  PutSz(Path(4), "URL", "http://elsewhere");
  PutSz(Path(4), "Filter", "bank.ini");

  CDataSourceList list;
  ASSERT_EQ(LoadAll(list), S_OK);  // no "Filters" value yet
  EXPECT_STREQ(list[0]->GetURL(), "HTTP://OLD/rates");

  PutSz(kApp, "Filters", folder.c_str());
  ASSERT_EQ(LoadAll(list), S_OK);
  EXPECT_EQ(Listing(list),
            "http://new/rates|BANK.INI|-|-|-|-\n"
            "http://old/rates|-|-|-|-|-\n"
            "http://old/rates|Other.ini|-|-|-|-\n"
            "http://elsewhere|bank.ini|-|-|-|-\n");

  PutSz(kApp, "Filters", (dir_ / "missing").c_str());
  ASSERT_EQ(LoadAll(list), S_OK);
  EXPECT_STREQ(list[0]->GetURL(), "HTTP://OLD/rates");
}

TEST_F(DataSourceStore, OutOfMemoryIsReported) {
  for (int i = 1; i <= 3; ++i) {
    PutSz(Path(i), "URL", ("http://" + std::to_string(i)).c_str());
    PutSz(Path(i), "Filter", "F.ini");
  }
  PutBinary(Path(2), "Authentication", {1, 2, 3, 4});
  bool sawFailure = false;
  for (long n = 0; n < 400; ++n) {
    CDataSourceList list;
    vtx::heap::FailAfter(n);
    HRESULT hr = LoadAll(list);
    vtx::heap::FailAfter(-1);
    if (hr == S_OK) {
      EXPECT_EQ(list.GetCount(), 3u);
      break;
    }
    ASSERT_EQ(hr, E_OUTOFMEMORY) << n;
    EXPECT_LE(list.GetCount(), 3u);
    sawFailure = true;
  }
  EXPECT_TRUE(sawFailure);

  CDataSourceList list;
  ASSERT_EQ(LoadAll(list), S_OK);
  for (long n = 0; n < 400; ++n) {
    vtx::heap::FailAfter(n);
    HRESULT hr = list.Save(HKEY_LOCAL_MACHINE, kApp);
    vtx::heap::FailAfter(-1);
    CDataSourceList back;
    ASSERT_EQ(LoadAll(back), S_OK);
    ASSERT_EQ(back.GetCount(), 3u) << n;  // a failed save leaves the old list whole
    if (hr == S_OK) break;
    ASSERT_EQ(hr, E_OUTOFMEMORY) << n;
  }

  // A copy that runs short says so.
  for (long n = 0;; ++n) {
    CDataSourceList copy;
    vtx::heap::FailAfter(n);
    int copied = copy.CopyFrom(list);
    vtx::heap::FailAfter(-1);
    if (copied) {
      EXPECT_EQ(copy.GetCount(), 3u);
      EXPECT_GT(n, 3);
      break;
    }
    ASSERT_LT(copy.GetCount(), 3u) << n;
  }
}

}  // namespace
