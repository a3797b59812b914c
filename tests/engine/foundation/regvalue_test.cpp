#include "engine/foundation/regvalue.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/foundation/regupgrade.h"
#include "platform/heap.h"
#include "tests/support/storetest.h"
#include "tests/support/text.h"

namespace {

using vtxtest::Str;

class RegValues : public vtxtest::PrivateStoreTest {
 protected:

  static void Put(const char* path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(k);
  }
  static void PutSz(const char* path, const char* name, const char* text) {
    Put(path, name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
  }
  static void MakeKey(const char* path) {
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    RegCloseKey(k);
  }
  // Every value and subkey below a key as "path=type:bytes" lines, in enumeration order.
  static std::string Dump(const char* path) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &k)) return "<missing>";
    std::string out;
    for (DWORD i = 0;; ++i) {
      char name[300];
      BYTE data[600];
      DWORD n = sizeof name, size = sizeof data, type = 0;
      if (RegEnumValueA(k, i, name, &n, nullptr, &type, data, &size)) break;
      out += std::string(name) + "=" + std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size) + "\n";
    }
    for (DWORD i = 0;; ++i) {
      char name[300];
      DWORD n = sizeof name;
      if (RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr)) break;
      out += "[" + std::string(name) + "]\n" + Dump((std::string(path) + "\\" + name).c_str());
    }
    RegCloseKey(k);
    return out;
  }

};

template <class T>
class RegStrings : public RegValues {};
using Widths = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(RegStrings, Widths);

TYPED_TEST(RegStrings, LoadCases) {
  using T = TypeParam;
  const char* key = "SOFTWARE\\Str";
  this->PutSz(key, "Plain", "abc");
  this->Put(key, "Expand", REG_EXPAND_SZ, "%TEMP%\\x", 9);
  this->PutSz(key, "Empty", "");
  this->Put(key, "NoBytes", REG_SZ, nullptr, 0);
  this->Put(key, "NoNul", REG_SZ, "abc", 3);
  DWORD dw = 7;
  this->Put(key, "Number", REG_DWORD, &dw, 4);
  struct Case {
    const char* name;
    HRESULT hr;
    const char* text;
    DWORD type;
  } cases[] = {
      {"Plain", S_OK, "abc", REG_SZ},
      {"Expand", S_OK, "%TEMP%\\x", REG_EXPAND_SZ},
      {"Empty", S_OK, "", REG_SZ},
      {"NoBytes", S_OK, "", REG_SZ},
      {"NoNul", S_OK, "abc", REG_SZ},
      {"Number", 0x8007000D, nullptr, 0},
      {"Missing", 0x80070002, nullptr, 0},
  };
  for (const auto& c : cases) {
    RegStringValue<T> v;
    ASSERT_EQ(c.hr, v.Load(HKEY_LOCAL_MACHINE, key, c.name)) << c.name;
    if (c.text) {
      EXPECT_EQ(Str<T>(c.text), std::basic_string<T>(v.GetString())) << c.name;
      EXPECT_EQ(c.type, v.GetType()) << c.name;
    } else {
      EXPECT_EQ(nullptr, v.GetString());
    }
  }
  RegStringValue<T> v;
  EXPECT_EQ(0x80070002u, v.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "Plain"));
}

TEST_F(RegValues, PlainHoldersRefuseExpandableStrings) {
  Put("SOFTWARE\\Str", "Expand", REG_EXPAND_SZ, "%P%", 4);
  PutSz("SOFTWARE\\Str", "Empty", "");
  RegStringValueA a;
  RegStringValueW w;
  EXPECT_EQ(0x8007000Du, a.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Str", "Expand"));
  EXPECT_EQ(0x8007000Du, w.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Str", "Expand"));
  // An empty text is a one-byte block.
  ASSERT_EQ(S_OK, a.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Str", "Empty"));
  EXPECT_EQ(1u, a.GetSize());
  EXPECT_STREQ("", a.GetString());
}

TYPED_TEST(RegStrings, SaveRules) {
  using T = TypeParam;
  RegStringValue<T> v;
  EXPECT_EQ(E_UNEXPECTED, v.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\S", "Name"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\S"));
  EXPECT_EQ(S_OK, v.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\S", nullptr));
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\S"));
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\S", ""));

  // "Zürich €" survives both widths; the store holds UTF-16 with its NUL.
  std::basic_string<T> text;
  if constexpr (sizeof(T) == 1)
    text = "Z\xFCrich \x80";
  else
    text = u"Z\u00FCrich \u20AC";
  v = text.c_str();
  ASSERT_EQ(S_OK, v.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\S", "City"));
  RegStringValue<T> back;
  ASSERT_EQ(S_OK, back.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\S", "City"));
  EXPECT_EQ(text, std::basic_string<T>(back.GetString()));
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\S", 0, KEY_READ, &k));
  char16_t wide[16];
  DWORD size = sizeof wide, type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, u"City", nullptr, &type, reinterpret_cast<BYTE*>(wide), &size));
  RegCloseKey(k);
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(std::u16string(u"Z\u00FCrich \u20AC", 9), std::u16string(wide, size / 2));
}

TEST_F(RegValues, DwordLoadCases) {
  const char* key = "SOFTWARE\\Dw";
  DWORD dw = 0xFFFFFFFF;
  BYTE four[4] = {1, 2, 3, 4}, two[2] = {1, 2}, eight[8] = {};
  Put(key, "Dword", REG_DWORD, &dw, 4);
  Put(key, "Bin4", REG_BINARY, four, 4);
  Put(key, "Bin2", REG_BINARY, two, 2);
  Put(key, "Bin8", REG_BINARY, eight, 8);
  Put(key, "Dword0", REG_DWORD, nullptr, 0);
  struct Case {
    const char* name;
    HRESULT hr;
    DWORD value;
  } cases[] = {
      {"Dword", S_OK, 0xFFFFFFFF},   {"Bin4", S_OK, 0x04030201},      {"Bin2", 0x8007000D, 99},
      {"Bin8", 0x800700EA, 99},      {"Dword0", 0x8007000D, 99},      {"Missing", 0x80070002, 99},
  };
  for (const auto& c : cases) {
    RegDwordValue v(99);
    EXPECT_EQ(c.hr, v.Load(HKEY_LOCAL_MACHINE, key, c.name)) << c.name;
    EXPECT_EQ(c.value, static_cast<DWORD>(v)) << c.name;
  }
  RegDwordValue w(0x12345678);
  ASSERT_EQ(S_OK, w.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dw\\New", "V"));
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dw\\New", 0, KEY_READ, &k));
  DWORD type = 0, got = 0, size = 4;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "V", nullptr, &type, reinterpret_cast<BYTE*>(&got), &size));
  RegCloseKey(k);
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(0x12345678u, got);
}

TEST_F(RegValues, BinaryLoadsAnyTypeAndSavesBinary) {
  PutSz("SOFTWARE\\Bin", "Text", "hi");
  Put("SOFTWARE\\Bin", "None", REG_BINARY, nullptr, 0);
  RegBinaryValue v;
  ASSERT_EQ(S_OK, v.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bin", "Text"));
  ASSERT_EQ(3u, v.GetSize());
  EXPECT_EQ(0, std::memcmp("hi", v.GetBuffer(), 3));
  ASSERT_EQ(S_OK, v.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bin", "None"));
  EXPECT_EQ(0u, v.GetSize());
  EXPECT_NE(nullptr, v.GetBuffer());
  const BYTE bytes[] = {0, 0xFF, 0, 7};
  ASSERT_TRUE(v.Copy(bytes, sizeof bytes));
  ASSERT_EQ(S_OK, v.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bin", "Copy"));
  EXPECT_EQ(std::string("Text=1:hi\0\nNone=3:\nCopy=3:", 26) + std::string("\0\xFF\0\x07\n", 5), Dump("SOFTWARE\\Bin"));
  EXPECT_EQ(0x80070002u, v.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bin", "Gone"));
  EXPECT_EQ(nullptr, v.GetBuffer());
}

TEST_F(RegValues, ExistsAndDeleteValue) {
  PutSz("SOFTWARE\\K", "V", "1");
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\K"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\K\\"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, nullptr));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other"));
  EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\K", "v"));
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\K", "W"));

  EXPECT_TRUE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\K", "V"));
  EXPECT_TRUE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\K", "V"));  // already gone: fine
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\K", "V"));
  EXPECT_FALSE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, nullptr, "V"));
  EXPECT_EQ(13u, GetLastError());
  EXPECT_FALSE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\K", nullptr));
  EXPECT_EQ(13u, GetLastError());
  EXPECT_FALSE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "V"));
  EXPECT_EQ(2u, GetLastError());
}

TEST_F(RegValues, DeleteContentsKeepsListedValuesAndEnds) {
  // The kept value comes first: deleting "at index 0" again and again would never end.
  PutSz("SOFTWARE\\App", "Server", "/usr/bin/vtxserver");
  PutSz("SOFTWARE\\App", "Drop1", "x");
  PutSz("SOFTWARE\\App", "Resources0409", "en.cat");
  PutSz("SOFTWARE\\App", "Drop2", "x");
  PutSz("SOFTWARE\\App\\INI\\EUR", "USD", "1.1");
  PutSz("SOFTWARE\\App\\Servers\\0", "Server", "kept only at the top");
  const char* keep[] = {"SERVER", "resources0409", nullptr};
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\App", 0, KEY_ALL_ACCESS, &k));
  EXPECT_TRUE(DeleteRegistryKeyContents(k, keep));
  RegCloseKey(k);
  EXPECT_EQ(std::string("Server=1:/usr/bin/vtxserver\0\nResources0409=1:en.cat\0\n", 53), Dump("SOFTWARE\\App"));
}

TEST_F(RegValues, DeleteKeyIsWholeAndRefusesTheRoot) {
  PutSz("SOFTWARE\\Del\\A\\B", "v", "1");
  PutSz("SOFTWARE\\Del", "w", "1");
  PutSz("SOFTWARE\\Keep", "k", "1");
  EXPECT_TRUE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\del"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del"));
  EXPECT_FALSE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del"));
  EXPECT_EQ(2u, GetLastError());
  for (const char* root : {"", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, root));
    EXPECT_EQ(87u, GetLastError());
  }
  EXPECT_TRUE(RegistryValueExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Keep", "k"));

  // Short of memory the key goes whole or stays as it was, never in part.
  for (int i = 0; i < 20; ++i) PutSz((std::string("SOFTWARE\\Big\\S") + std::to_string(i)).c_str(), "v", "1");
  std::string before = Dump("SOFTWARE\\Big");
  vtx::heap::FailAfter(8);
  bool deleted = DeleteRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Big");
  vtx::heap::FailAfter(-1);
  EXPECT_EQ(deleted ? std::string("<missing>") : before, Dump("SOFTWARE\\Big"));
}

TEST_F(RegValues, CopyKeySkipsTopLevelNamesOnly) {
  const char16_t wname[] = u"Name\u20AC\u4E2D";
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Src\\Sub\u4E2D", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &k, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, wname, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"\u4E2D"), 4));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, u"Skip", 0, REG_BINARY, reinterpret_cast<const BYTE*>("x"), 1));
  RegCloseKey(k);
  DWORD dw = 5;
  Put("SOFTWARE\\Src", "Skip", REG_DWORD, &dw, 4);
  Put("SOFTWARE\\Src", "Also", REG_DWORD, &dw, 4);
  Put("SOFTWARE\\Src", "Copied", 0x99, "raw", 3);
  const char* s1[] = {"skip", nullptr};
  const char* s3[] = {"ALSO", nullptr};
  EXPECT_TRUE(CopyRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", HKEY_LOCAL_MACHINE, "SOFTWARE\\Src", s1, nullptr, s3));
  EXPECT_EQ("Copied=153:raw\n", Dump("SOFTWARE\\Dst").substr(0, 15));
  // The subkey's names and data came through whole, its "Skip" too.
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Dst\\SUB\u4E2D", 0, KEY_READ, &k));
  char16_t data[4] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, wname, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size));
  EXPECT_EQ(u'\u4E2D', data[0]);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, u"Skip", nullptr, nullptr, nullptr, &size));
  RegCloseKey(k);
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Skip"));
  EXPECT_FALSE(RegistryValueExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst", "Also"));
  EXPECT_FALSE(CopyRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst2", HKEY_LOCAL_MACHINE, "SOFTWARE\\None", nullptr,
                               nullptr, nullptr));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dst2"));

  const char* list[] = {"Server", "Path", nullptr};
  EXPECT_TRUE(IsSpecialRootValue(list, "PATH"));
  EXPECT_FALSE(IsSpecialRootValue(list, "Paths"));
  EXPECT_FALSE(IsSpecialRootValue(nullptr, "Path"));
}

TEST_F(RegValues, AppVersions) {
  struct Case {
    const char* name;
    BOOL ok;
    DWORD version;
  } cases[] = {
      {"4.0", TRUE, 0x40000},  {"3.10", TRUE, 0x3000A}, {"3.5beta", TRUE, 0x30005}, {"0.0", TRUE, 0},
      {"Backup", FALSE, 0},    {"3.", FALSE, 0},        {".5", FALSE, 0},          {" 3.5", FALSE, 0},
      {"3", FALSE, 0},         {"3.x", FALSE, 0},       {"+3.5", FALSE, 0},        {"", FALSE, 0},
  };
  for (const auto& c : cases) {
    DWORD v = 0;
    EXPECT_EQ(c.ok, GetAppVersion(c.name, &v)) << c.name;
    if (c.ok) {
      EXPECT_EQ(c.version, v) << c.name;
    }
  }
}

TEST_F(RegValues, AppRegistryKeyTakesTheNewestOlderVersion) {
  struct Case {
    std::vector<const char*> keys;
    const char* expect;  // null: none found
  } cases[] = {
      {{"3.0", "3.5", "4.0", "Backup"}, "3.5"},
      {{"3.9", "3.10", "4.0"}, "3.10"},
      {{"3.5", "5.0", "4.1"}, "3.5"},  // newer versions are never taken
      {{"0.0", "Backup"}, "0.0"},
      {{"4.0", "Backup", "4.5"}, nullptr},
      {{}, nullptr},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string product = "SOFTWARE\\P" + std::to_string(n++);
    MakeKey(product.c_str());
    for (const char* k : c.keys) MakeKey((product + "\\" + k).c_str());
    CStringA name;
    BOOL found = GetAppRegistryKey(HKEY_LOCAL_MACHINE, product.c_str(), "4.0", name);
    EXPECT_EQ(c.expect != nullptr, found != FALSE) << product;
    if (c.expect && found) {
      EXPECT_STREQ(c.expect, name.GetBuffer()) << product;
    }
  }
  CStringA name;
  EXPECT_FALSE(GetAppRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "4.0", name));
}

TEST_F(RegValues, UpgradeAppKeyCopiesAndMaybeDeletesThePrevious) {
  PutSz("SOFTWARE\\V\\3.5", "Server", "old");
  PutSz("SOFTWARE\\V\\3.5", "Skip", "no");
  PutSz("SOFTWARE\\V\\3.5\\INI", "x", "1");
  const char* skip[] = {"skip", nullptr};
  EXPECT_TRUE(UpgradeAppRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\V", "4.0", skip, nullptr, nullptr, 0));
  EXPECT_EQ(std::string("Server=1:old\0\n[INI]\nx=1:1\0\n", 27), Dump("SOFTWARE\\V\\4.0"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\V\\3.5"));

  PutSz("SOFTWARE\\W\\3.5", "Server", "old");
  EXPECT_TRUE(UpgradeAppRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\W", "4.0", nullptr, nullptr, nullptr,
                                    UPGRADE_KEEP_PREVIOUS));
  EXPECT_EQ(Dump("SOFTWARE\\W\\3.5"), Dump("SOFTWARE\\W\\4.0"));
  EXPECT_FALSE(UpgradeAppRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\None", "4.0", nullptr, nullptr, nullptr, 0));
}

class StartupUpgrade : public RegValues {
 protected:
  void OldProduct() {
    PutSz("SOFTWARE\\Hulvane\\Vantrex\\3.5", "Server", "/opt/old/vtxserver");
    DWORD dw = 3600;
    Put("SOFTWARE\\Hulvane\\Vantrex\\3.5", "ApplicationMonitor", REG_DWORD, &dw, 4);
    for (int i = 0; i < 12; ++i) {
      std::string s = "SOFTWARE\\Hulvane\\Vantrex\\3.5\\Servers\\" + std::to_string(i);
      PutSz(s.c_str(), "URL", "http://example.invalid/rates");
      PutSz(s.c_str(), "Filter", "eurfeed");
    }
    PutSz("SOFTWARE\\Hulvane\\Vantrex\\3.0", "Server", "older still");
  }
  const char* kApp = "SOFTWARE\\Hulvane\\Vantrex\\4.0";
  const char* kOld = "SOFTWARE\\Hulvane\\Vantrex\\3.5";
};

TEST_F(StartupUpgrade, CopiesTheOldKeyWhenTheCurrentOneIsMissing) {
  OldProduct();
  UpgradeRegistryAtStartup();
  EXPECT_EQ(Dump(kOld), Dump(kApp));
  EXPECT_NE(std::string::npos, Dump(kApp).find("/opt/old/vtxserver"));
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kOld));  // the old version keeps its key
}

TEST_F(StartupUpgrade, LeavesAnExistingKeyAlone) {
  OldProduct();
  PutSz(kApp, "Server", "/usr/bin/vtxserver");
  UpgradeRegistryAtStartup();
  EXPECT_EQ(std::string("Server=1:/usr/bin/vtxserver\0\n", 29), Dump(kApp));
}

TEST_F(StartupUpgrade, ProgramsStartingTogetherMakeOneWholeCopy) {
  OldProduct();
  std::vector<pid_t> kids;
  for (int i = 0; i < 4; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      UpgradeRegistryAtStartup();
      _exit(RegistryKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hulvane\\Vantrex\\4.0") ? 0 : 1);
    }
    kids.push_back(pid);
  }
  for (pid_t pid : kids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Dump(kOld), Dump(kApp));
}

TEST_F(StartupUpgrade, NothingToUpgradeIsQuiet) {
  UpgradeRegistryAtStartup();
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kApp));
}

TEST_F(StartupUpgrade, CopiesAllOrNothingAndTriesAgainNextStart) {
  OldProduct();
  std::string whole = Dump(kOld);
  int failed = 0;
  // Fail the copy at every allocation in turn: the current key is either whole or absent.
  for (int n = 0; n < 1000; ++n) {
    vtx::heap::FailAfter(n);
    UpgradeRegistryAtStartup();
    vtx::heap::FailAfter(-1);
    std::string now = Dump(kApp);
    if (now == "<missing>") {
      ++failed;
      continue;
    }
    EXPECT_EQ(whole, now) << "failure after " << n << " allocations";
    break;
  }
  EXPECT_GT(failed, 3);
  EXPECT_EQ(whole, Dump(kApp));
}

}  // namespace

TEST_F(RegValues, SetTypeExpandsAnExpandableText) {
  setenv("VTX_TEST_HOME", "/home/rates", 1);
  RegStringValue<char> a;
  a = "%VTX_TEST_HOME%/x %NOT_SET_ANYWHERE% 100%";
  EXPECT_EQ(a.SetType(REG_SZ), S_OK) << "a text not marked stays as it is";
  EXPECT_STREQ(a.GetString(), "%VTX_TEST_HOME%/x %NOT_SET_ANYWHERE% 100%");
  EXPECT_EQ(a.SetType(REG_EXPAND_SZ), S_OK);
  EXPECT_EQ(a.GetType(), static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(a.SetType(REG_SZ), S_OK);
  EXPECT_STREQ(a.GetString(), "/home/rates/x %NOT_SET_ANYWHERE% 100%");
  EXPECT_EQ(a.GetType(), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(a.SetType(REG_SZ), S_OK) << "a second call changes nothing";
  EXPECT_STREQ(a.GetString(), "/home/rates/x %NOT_SET_ANYWHERE% 100%");
  EXPECT_EQ(a.SetType(REG_BINARY), E_INVALIDARG);

  RegStringValue<char16_t> w;
  w = u"%VTX_TEST_HOME%";
  w.SetType(REG_EXPAND_SZ);
  EXPECT_EQ(w.SetType(REG_SZ), S_OK);
  EXPECT_EQ(std::u16string(w.GetString()), u"/home/rates");

  RegStringValue<char> empty;
  empty = "";
  empty.SetType(REG_EXPAND_SZ);
  EXPECT_EQ(empty.SetType(REG_SZ), S_OK) << "an empty expandable text is an empty REG_SZ";
  EXPECT_STREQ(empty.GetString(), "");
  EXPECT_EQ(empty.GetType(), static_cast<DWORD>(REG_SZ));
  RegStringValue<char> none;
  EXPECT_EQ(none.SetType(REG_SZ), S_OK);
  unsetenv("VTX_TEST_HOME");
}

TEST_F(RegValues, WideQueryUnderAnAnsiName) {
  RegStringValueW v;
  v = u"Gr\u00fc\u00dfe";
  ASSERT_EQ(v.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wide", "Greeting"), S_OK);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wide", 0, KEY_READ, &key), 0);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueEx_U(key, "Greeting", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(size, 12u);
  char16_t text[6];
  EXPECT_EQ(RegQueryValueEx_U(key, "Greeting", nullptr, &type, text, &size), 0);
  EXPECT_EQ(std::u16string(text), u"Gr\u00fc\u00dfe");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  RegCloseKey(key);
  RegStringValue<char16_t> loaded;
  ASSERT_EQ(loaded.Load(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wide", "Greeting"), S_OK);
  EXPECT_EQ(std::u16string(loaded.GetString()), u"Gr\u00fc\u00dfe");
}
