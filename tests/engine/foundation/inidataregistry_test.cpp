#include "engine/foundation/inidataregistry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <list>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/heap.h"
#include "tests/support/store.h"
#include "tests/support/text.h"

namespace {

using vtxtest::Str;

const char kBase[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0\\INI";

template <class T>
std::string Utf8(const T* text) {
  if (!text) return "<null>";
  if constexpr (sizeof(T) == 1)
    return vtx::AnsiToUtf8(text);
  else
    return vtx::WideToUtf8(text);
}

// The rows as "type name=v1|v2" lines.
template <class T>
std::string Rows(const CIniData<T>& data) {
  std::string out;
  for (auto it = data.begin(); it; ++it) {
    const T* row = *it;
    out += std::to_string(data.GetTypeWord(row)) + " " + Utf8(data.GetName(row));
    for (uint32_t i = 0; i < data.GetStringCount(row); ++i) out += (i ? "|" : "=") + Utf8(data.GetStringN(row, i));
    out += "\n";
  }
  return out;
}

std::string Stored();

class IniRegistryBase : public ::testing::Test {
 protected:
  void TearDown() override { vtx::heap::FailAfter(-1); }
  static void Put(const std::string& path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(k);
  }
  static void PutDword(const std::string& path, const char* name, DWORD v) { Put(path, name, REG_DWORD, &v, 4); }
  vtxtest::PrivateStore dir_;
};

template <class T>
class IniRegistry : public IniRegistryBase {
 protected:
  using S = std::basic_string<T>;
  // Key tables hold pointers: keep the texts alive with the fixture.
  const T* Text(const char* ascii) {
    texts_.push_back(Str<T>(ascii));
    return texts_.back().c_str();
  }
  IniTableEntry<T> Entry(const char* section, const char* key, uint32_t id, uint32_t type) {
    return {section ? Text(section) : nullptr, key ? Text(key) : nullptr, id, type};
  }
  HRESULT LoadInto(CIniDataRegistry<T>& data, const std::vector<IniTableEntry<T>>& table) {
    data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
    return data.Load(table.data(), static_cast<uint32_t>(table.size()));
  }
  std::string Load(const std::vector<IniTableEntry<T>>& table = {}, HRESULT expect = S_OK) {
    CIniDataRegistry<T> data;
    EXPECT_EQ(expect, LoadInto(data, table));
    return Rows(data);
  }
  std::list<S> texts_{};
};
using Widths = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(IniRegistry, Widths);

TYPED_TEST(IniRegistry, BaseValuesWithoutSubkeysHaveNoSection) {
  this->Put(kBase, "Name", REG_SZ, "v", 2);
  this->PutDword(kBase, "Count", 3);
  EXPECT_EQ("2 Name=v\n4 Count=3\n", this->Load());
}

TYPED_TEST(IniRegistry, DwordTextFollowsTheTable) {
  this->PutDword(kBase, "U", 0xFFFFFFFF);
  this->PutDword(kBase, "L", 0xFFFFFFFF);
  this->PutDword(kBase, "Free", 0xFFFFFFFF);
  auto table = {this->Entry(nullptr, "U", 1, IniTypeULong), this->Entry(nullptr, "L", 2, IniTypeLong)};
  EXPECT_EQ("4 U=4294967295\n3 L=-1\n4 Free=4294967295\n", this->Load(table));
}

TYPED_TEST(IniRegistry, TypesThatDoNotFitTheTableFailTheLoad) {
  struct Case {
    DWORD regType;
    uint32_t tableType;  // 0: no entry
    HRESULT hr;
    const char* rows;
  } cases[] = {
      {REG_SZ, IniTypeLong, 0x80070057, ""},
      {REG_SZ, IniTypeULong, 0x80070057, ""},
      {REG_SZ, IniTypeMultiPath, S_OK, "7 K=a\n"},
      {REG_SZ, IniTypePath, S_OK, "6 K=a\n"},
      {REG_SZ, 0, S_OK, "2 K=a\n"},
      {REG_DWORD, IniTypeString, 0x80070057, ""},
      {REG_DWORD, IniTypeMultiString, 0x80070057, ""},
      {REG_MULTI_SZ, IniTypeString, 0x80070057, ""},
      {REG_MULTI_SZ, IniTypeLong, 0x80070057, ""},
      {REG_MULTI_SZ, IniTypeMultiPath, S_OK, "7 K=a|b\n"},
      {REG_MULTI_SZ, 0, S_OK, "5 K=a|b\n"},
      {REG_EXPAND_SZ, IniTypeString, S_OK, ""},
      {REG_BINARY, 0, S_OK, ""},
  };
  for (const auto& c : cases) {
    DeleteRegistryKey(HKEY_LOCAL_MACHINE, kBase);
    if (c.regType == REG_DWORD)
      this->PutDword(kBase, "K", 1);
    else if (c.regType == REG_MULTI_SZ)
      this->Put(kBase, "K", c.regType, "a\0b\0", 5);
    else
      this->Put(kBase, "K", c.regType, "a", 2);
    std::vector<IniTableEntry<TypeParam>> table;
    if (c.tableType) table.push_back(this->Entry(nullptr, "K", 1, c.tableType));
    EXPECT_EQ(c.rows, this->Load(table, c.hr)) << c.regType << " under " << c.tableType;
  }
}

TYPED_TEST(IniRegistry, AFailedLoadNamesTheValue) {
  using T = TypeParam;
  this->Put(kBase, "Fine", REG_SZ, "x", 2);
  this->Put(std::string(kBase) + "\\EUR", "USD", REG_SZ, "1.1", 4);
  auto table = {this->Entry("EUR", "USD", 1, IniTypeLong)};
  CIniDataRegistry<T> data;
  EXPECT_EQ(E_INVALIDARG, this->LoadInto(data, table));
  EXPECT_EQ("USD", Utf8(data.GetErrorName()));
  EXPECT_EQ("EUR", Utf8(data.GetErrorSection()));
  // The rows before it stay.
  EXPECT_EQ("2 Fine=x\n1 EUR\n", Rows(data));
  data.Empty();
  EXPECT_EQ(S_OK, this->LoadInto(data, {}));
  EXPECT_EQ(nullptr, data.GetErrorName());
}

TYPED_TEST(IniRegistry, SectionsAreOneLevelOfSubkeys) {
  this->Put(std::string(kBase) + "\\EUR", "USD", REG_SZ, "1.1", 4);
  this->Put(std::string(kBase) + "\\EUR\\Deeper", "X", REG_SZ, "ignored", 8);
  this->Put(std::string(kBase) + "\\Empty", "Bin", REG_BINARY, "x", 1);
  this->Put(kBase, "Top", REG_SZ, "t", 2);
  // A section table row types the keys of every section.
  std::vector<IniTableEntry<TypeParam>> table = {{IniAny<TypeParam>(), this->Text("USD"), 1, IniTypeString}};
  // Sections come in case-insensitive name order.
  EXPECT_EQ("2 Top=t\n1 Empty\n1 EUR\n2 USD=1.1\n", this->Load(table));
}

TYPED_TEST(IniRegistry, SaveAndLoadRoundTrip) {
  using T = TypeParam;
  CIniDataRegistry<T> data;
  ASSERT_TRUE(data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase));
  ASSERT_TRUE(data.AddString(this->Text("Application"), this->Text("vtx"), IniFlagQuote));
  ASSERT_TRUE(data.AddSection(this->Text("General")));
  ASSERT_TRUE(data.AddLong(this->Text("Neg"), -5, IniFlagHex));
  ASSERT_TRUE(data.AddULong(this->Text("Big"), 4000000000u));
  ASSERT_TRUE(data.AddPath(this->Text("Filters"), this->Text("/usr/share/vantrex/filters")));
  const T* list[] = {this->Text("a"), this->Text(""), this->Text("c,d")};
  ASSERT_TRUE(data.AddMultiString(this->Text("List"), list, 3));
  ASSERT_TRUE(data.AddMultiPath(this->Text("None"), list, 0));
  const T* one[] = {this->Text("")};
  ASSERT_TRUE(data.AddMultiString(this->Text("OneEmpty"), one, 1));
  ASSERT_TRUE(data.AddLine(this->Text("; a comment line has no place here")));
  ASSERT_TRUE(data.AddSection(this->Text("Empty")));
  ASSERT_TRUE(data.AddSection(this->Text("EUR")));
  ASSERT_TRUE(data.AddString(this->Text("USD"), this->Text("1.0876")));
  ASSERT_EQ(S_OK, data.Save());

  auto table = {this->Entry("General", "Neg", 1, IniTypeLong), this->Entry("General", "Filters", 2, IniTypePath),
                this->Entry("General", "None", 3, IniTypeMultiPath)};
  const char* expect =
      "2 Application=vtx\n"
      "1 Empty\n"
      "1 EUR\n2 USD=1.0876\n"
      "1 General\n3 Neg=-5\n4 Big=4000000000\n6 Filters=/usr/share/vantrex/filters\n5 List=a||c,d\n7 None\n"
      "5 OneEmpty=\n";
  EXPECT_EQ(expect, this->Load(table));
  // Saving again rewrites the same key; loading appends to the rows already there.
  ASSERT_EQ(S_OK, data.Save());
  CIniDataRegistry<T> again;
  ASSERT_TRUE(again.AddSection(this->Text("Kept")));
  ASSERT_EQ(S_OK, this->LoadInto(again, table));
  EXPECT_EQ(std::string("1 Kept\n") + expect, Rows(again));
}

TYPED_TEST(IniRegistry, SaveReplacesTheWholeKey) {
  this->Put(std::string(kBase) + "\\Old", "Stale", REG_SZ, "x", 2);
  this->Put(kBase, "Binary", REG_BINARY, "x", 1);
  CIniDataRegistry<TypeParam> data;
  data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
  ASSERT_TRUE(data.AddSection(this->Text("New")));
  ASSERT_EQ(S_OK, data.Save());
  EXPECT_EQ("1 New\n", this->Load());
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBase, 0, KEY_READ, &k));
  DWORD values = 9;
  RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(k);
  EXPECT_EQ(0u, values);
}

TYPED_TEST(IniRegistry, BadSectionNamesAreRefusedAndNothingChanges) {
  this->Put(kBase, "Old", REG_SZ, "kept", 5);
  for (const char* bad : {"EUR\\USD", "", "\\"}) {
    CIniDataRegistry<TypeParam> data;
    data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
    ASSERT_TRUE(data.AddSection(this->Text("Fine")));
    ASSERT_TRUE(data.AddSection(this->Text(bad)));
    EXPECT_EQ(E_INVALIDARG, data.Save()) << bad;
    EXPECT_EQ("2 Old=kept\n", this->Load()) << bad;
  }
}

TYPED_TEST(IniRegistry, AFailedSaveLeavesTheOldContentsWhole) {
  using T = TypeParam;
  this->Put(kBase, "Old", REG_SZ, "kept", 5);
  this->Put(std::string(kBase) + "\\Sec", "V", REG_SZ, "1", 2);
  std::string before = this->Load();
  CIniDataRegistry<T> data;
  data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
  const T* list[] = {this->Text("x")};
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(data.AddSection(this->Text(("S" + std::to_string(i)).c_str())));
    ASSERT_TRUE(data.AddMultiString(this->Text("L"), list, 1));
  }
  // A section name longer than a key name may be fails at the end, after everything else.
  ASSERT_TRUE(data.AddSection(this->Text(std::string(300, 'n').c_str())));
  EXPECT_EQ(E_INVALIDARG, data.Save());
  EXPECT_EQ(before, this->Load());
  // Memory running out in the middle of the rewrite.
  data.Empty();
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(data.AddSection(this->Text(("S" + std::to_string(i)).c_str())));
    ASSERT_TRUE(data.AddMultiString(this->Text("L"), list, 1));
  }
  vtx::heap::FailAfter(6);
  EXPECT_EQ(E_OUTOFMEMORY, data.Save());
  vtx::heap::FailAfter(-1);
  EXPECT_EQ(before, this->Load());
}

TYPED_TEST(IniRegistry, StoredTextWithoutNulIsTerminated) {
  using T = TypeParam;
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBase, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, u"Sz", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"abc"), 6));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, u"Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(u"ab\0cd"), 10));
  // An odd byte count cuts the last half character.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, u"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"xy"), 3));
  DWORD three = 7;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, u"Short", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 3));
  RegCloseKey(k);
  CIniDataRegistry<T> data;
  EXPECT_EQ(0x8007000Du, this->LoadInto(data, {}));
  EXPECT_EQ("2 Sz=abc\n5 Multi=ab|cd\n2 Odd=x\n", Rows(data));
}

TYPED_TEST(IniRegistry, NoBaseKeyAndMissingKey) {
  CIniDataRegistry<TypeParam> data;
  EXPECT_EQ(E_HANDLE, data.Load(nullptr, 0));
  EXPECT_EQ(E_HANDLE, data.Save());
  EXPECT_TRUE(data.SetBaseKey(HKEY_LOCAL_MACHINE, nullptr));
  EXPECT_EQ(E_HANDLE, data.Save());
  data.SetBaseKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing");
  EXPECT_EQ(0x80070002u, data.Load(nullptr, 0));
  // The root itself is never wiped.
  data.SetBaseKey(HKEY_LOCAL_MACHINE, "");
  EXPECT_EQ(E_INVALIDARG, data.Save());
}

TEST_F(IniRegistryBase, WideNamesAndTextsOutsideTheAnsiPage) {
  CIniDataRegistryW data;
  data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
  ASSERT_TRUE(data.AddSection(u"\u4E2D\u6587"));
  ASSERT_TRUE(data.AddString(u"\u540D", u"\u4EBA\u6C11\u5E01 \u00A5"));
  ASSERT_EQ(S_OK, data.Save());
  CIniDataRegistryW back;
  back.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
  ASSERT_EQ(S_OK, back.Load(nullptr, 0));
  EXPECT_EQ(Rows(data), Rows(back));
}

TEST_F(IniRegistryBase, ReadOnlyStoreRefusesSavesAndKeepsTheData) {
  this->Put(kBase, "Old", REG_SZ, "kept", 5);
  std::string d = dir_.path(), store = dir_ / "registry.db";
  pid_t pid = fork();
  if (pid == 0) {
    // Root ignores file modes: become a user who may only read the store.
    if (geteuid() == 0) {
      chmod(d.c_str(), 0755);
      for (const char* x : {"", "-wal", "-shm"}) chmod((store + x).c_str(), 0644);
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    } else {
      for (const char* x : {"", "-wal", "-shm"}) chmod((store + x).c_str(), 0444);
    }
    CIniDataRegistryA data;
    data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
    if (data.Load(nullptr, 0) != S_OK || data.GetCount() != 1) _exit(1);
    data.AddString("New", "x");
    if (data.Save() != E_ACCESSDENIED) _exit(2);
    RegDwordValue dw(1);
    if (dw.Save(HKEY_LOCAL_MACHINE, kBase, "N") != E_ACCESSDENIED) _exit(3);
    if (dw.Save(HKEY_LOCAL_MACHINE, "SOFTWARE\\Elsewhere", "N") != E_ACCESSDENIED) _exit(4);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ("2 Old=kept\n", Stored());
}

TEST_F(IniRegistryBase, SaveInsideAReadScopeFailsAndStoresNothing) {
  this->Put(kBase, "Old", REG_SZ, "kept", 5);
  {
    // The scope's end would undo whatever the save wrote: it must not report success.
    vtx::RegTransaction read(vtx::RegTransaction::Read);
    CIniDataRegistryA data;
    data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
    data.AddString("New", "x");
    EXPECT_EQ(E_ACCESSDENIED, data.Save());
  }
  EXPECT_EQ("2 Old=kept\n", Stored());
}

// ---- several processes ---------------------------------------------------------------------

// A rates-sized key: `sections` sections of `keys` values, every text carrying `tag`.
void Fill(CIniDataRegistryA& data, int sections, int keys, const std::string& tag) {
  data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
  data.AddString("Tag", tag.c_str());
  for (int s = 0; s < sections; ++s) {
    data.AddSection(("C" + std::to_string(s)).c_str());
    for (int k = 0; k < keys; ++k) {
      std::string v = tag + "-" + std::to_string(s * keys + k);
      data.AddString(("K" + std::to_string(k)).c_str(), v.c_str());
    }
  }
}
std::string Expected(int sections, int keys, const std::string& tag) {
  // Sections enumerate in name order, not in the order they were written.
  CIniDataRegistryA sorted;
  Fill(sorted, 0, 0, tag);
  std::vector<std::string> names;
  for (int s = 0; s < sections; ++s) names.push_back("C" + std::to_string(s));
  std::sort(names.begin(), names.end());
  for (const auto& n : names) {
    sorted.AddSection(n.c_str());
    int s = std::stoi(n.substr(1));
    for (int k = 0; k < keys; ++k)
      sorted.AddString(("K" + std::to_string(k)).c_str(), (tag + "-" + std::to_string(s * keys + k)).c_str());
  }
  return Rows(sorted);
}
std::string Stored() {
  CIniDataRegistryA data;
  data.SetBaseKey(HKEY_LOCAL_MACHINE, kBase);
  HRESULT hr = data.Load(nullptr, 0);
  return hr == S_OK ? Rows(data) : "load failed " + std::to_string(hr);
}

TEST_F(IniRegistryBase, TwoProcessesSavingOneKeyEachSaveWhole) {
  const int kSections = 40, kKeys = 10, kRounds = 8;
  std::string a = Expected(kSections, kKeys, "a"), b = Expected(kSections, kKeys, "b");
  auto saver = [&](const char* tag) {
    CIniDataRegistryA data;
    Fill(data, kSections, kKeys, tag);
    for (int i = 0; i < kRounds; ++i)
      if (data.Save() != S_OK) return 1;
    return 0;
  };
  pid_t pa = fork();
  if (pa == 0) _exit(saver("a"));
  pid_t pb = fork();
  if (pb == 0) _exit(saver("b"));
  // Meanwhile every load sees one whole save or none.
  int bad = 0;
  for (int i = 0; i < 30; ++i) {
    std::string now = Stored();
    if (now != a && now != b && now != "load failed 2147942402") ++bad;
  }
  int sa = 0, sb = 0;
  waitpid(pa, &sa, 0);
  waitpid(pb, &sb, 0);
  EXPECT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
  EXPECT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
  EXPECT_EQ(0, bad);
  std::string last = Stored();
  EXPECT_TRUE(last == a || last == b);
}

TEST_F(IniRegistryBase, WriterKilledMidSaveLeavesAWholeKey) {
  const int kSections = 240, kKeys = 8;
  std::string old = Expected(kSections, kKeys, "old");
  std::string x = Expected(kSections, kKeys, "x"), y = Expected(kSections, kKeys, "y");
  {
    CIniDataRegistryA data;
    Fill(data, kSections, kKeys, "old");
    ASSERT_EQ(S_OK, data.Save());
  }
  std::mt19937 rng(12345);
  int oldSeen = 0;
  for (int round = 0; round < 30; ++round) {
    pid_t pid = fork();
    if (pid == 0) {
      CIniDataRegistryA dx, dy;
      Fill(dx, kSections, kKeys, "x");
      Fill(dy, kSections, kKeys, "y");
      for (int i = 0;; ++i) (i % 2 ? dy : dx).Save();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300000));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string now = Stored();
    if (now == old) ++oldSeen;
    ASSERT_TRUE(now == old || now == x || now == y) << "round " << round << ": " << now.substr(0, 200);
  }
  // Kills land before the first commit, in the middle of a later save, or between saves.
  RecordProperty("old_contents_seen", oldSeen);
}

}  // namespace
