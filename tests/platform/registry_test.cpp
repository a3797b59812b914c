#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/native/productpaths.h"
#include "tests/support/child.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/text.h"

namespace {

using vtxtest::Str;

class Registry : public ::testing::Test {
 protected:

  HKEY Create(const char* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY k = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, access, nullptr, &k, nullptr));
    return k;
  }
  void SetSz(HKEY k, const char* name, const char* text) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                            static_cast<DWORD>(std::strlen(text) + 1)));
  }
  std::vector<std::string> SubKeys(HKEY k) {
    std::vector<std::string> out;
    for (DWORD i = 0;; ++i) {
      char name[300];
      DWORD n = sizeof name;
      LSTATUS r = RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
      if (r == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(ERROR_SUCCESS, r);
      if (r) break;
      out.emplace_back(name, n);
    }
    return out;
  }
  std::vector<std::string> Values(HKEY k) {
    std::vector<std::string> out;
    for (DWORD i = 0;; ++i) {
      char name[300];
      DWORD n = sizeof name;
      LSTATUS r = RegEnumValueA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
      if (r == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(ERROR_SUCCESS, r);
      if (r) break;
      out.emplace_back(name, n);
    }
    return out;
  }
  vtxtest::TempDir dir_;
  std::string store_ = dir_ / "lib/vantrex/registry.db";
  vtxtest::ScopedEnv registry_{vtx::env::kRegistry, store_};
};

TEST_F(Registry, CreatesStoreFileAndDirectoryWithPrivateModes) {
  HKEY k = Create("SOFTWARE\\Hulvane");
  ASSERT_NE(nullptr, k);
  RegCloseKey(k);
  struct stat st{};
  ASSERT_EQ(0, stat(store_.c_str(), &st));
  // The product's group (none here) administers the store; nobody else sees it.
  EXPECT_EQ(0660u, st.st_mode & 0777);
  ASSERT_EQ(0, stat((dir_ / "lib/vantrex").c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 0777);
}

TEST_F(Registry, NamesAreCaseInsensitiveAndKeepTheirCase) {
  DWORD disp = 0;
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hulvane\\Vantrex\\4.0", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &k, &disp));
  EXPECT_EQ(REG_CREATED_NEW_KEY, disp);
  SetSz(k, "UpdateAtLeast", "x");
  RegCloseKey(k);

  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\HULVANE\\vantrex\\4.0", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &k, &disp));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disp);
  // Writing under another case keeps the first spelling and the value's place.
  SetSz(k, "updateatleast", "y");
  char buf[8];
  DWORD size = sizeof buf, type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "UPDATEATLEAST", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ("y", buf);
  EXPECT_EQ(std::vector<std::string>{"UpdateAtLeast"}, Values(k));
  RegCloseKey(k);

  HKEY sw = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\hulvane", 0, KEY_READ, &sw));
  EXPECT_EQ(std::vector<std::string>{"Vantrex"}, SubKeys(sw));
  RegCloseKey(sw);

  // Non-ASCII letters fold too, in both widths.
  HKEY a = nullptr, w = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Ärger", 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &a, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\äRGER", 0, KEY_READ, &w));
  RegCloseKey(a);
  RegCloseKey(w);
}

TEST_F(Registry, PathRules) {
  HKEY base = Create("SOFTWARE\\Paths");
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(base, "a\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  RegCloseKey(k);
  std::string longName(256, 'n');
  std::string maxName(255, 'n');
  struct Case {
    std::string path;
    LSTATUS open;
  } cases[] = {
      {"a", ERROR_SUCCESS},         {"A\\B", ERROR_SUCCESS},        {"a\\b\\", ERROR_SUCCESS},
      {"", ERROR_SUCCESS},          {"\\a", ERROR_BAD_PATHNAME},    {"a\\\\b", ERROR_BAD_PATHNAME},
      {"a\\c", ERROR_FILE_NOT_FOUND}, {longName, ERROR_INVALID_PARAMETER}, {maxName, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    HKEY h = nullptr;
    EXPECT_EQ(c.open, RegOpenKeyExA(base, c.path.c_str(), 0, KEY_READ, &h)) << c.path;
    if (h) RegCloseKey(h);
  }
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(base, maxName.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &k, nullptr));
  RegCloseKey(k);
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            RegCreateKeyExA(base, longName.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &k, nullptr));
  EXPECT_EQ(nullptr, k);
  RegCloseKey(base);
}

TEST_F(Registry, ValuesKeepTypeAndBytes) {
  HKEY k = Create("SOFTWARE\\Values");
  const BYTE bin[] = {0, 1, 2, 0xFF, 0};
  DWORD dw = 0xFFFFFFFF;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "Bin", 0, REG_BINARY, bin, sizeof bin));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "Dword", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dw), 4));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "Empty", 0, REG_BINARY, nullptr, 0));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "Odd", 0, 0x1234, bin, 3));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("def"), 4));

  BYTE buf[16];
  DWORD type = 0, size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "bin", nullptr, &type, buf, &size));
  EXPECT_EQ(REG_BINARY, type);
  ASSERT_EQ(sizeof bin, size);
  EXPECT_EQ(0, std::memcmp(bin, buf, size));
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, u"Odd", nullptr, &type, buf, &size));
  EXPECT_EQ(0x1234u, type);
  EXPECT_EQ(3u, size);
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "Empty", nullptr, &type, buf, &size));
  EXPECT_EQ(0u, size);
  // The default value answers to a null and an empty name.
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "", nullptr, &type, buf, &size));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_STREQ("def", reinterpret_cast<char*>(buf));

  // Size questions and short buffers.
  size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "Dword", nullptr, &type, nullptr, &size));
  EXPECT_EQ(4u, size);
  size = 2;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(k, "Dword", nullptr, &type, buf, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(k, "Dword", nullptr, &type, buf, nullptr));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(k, "Missing", nullptr, &type, nullptr, &size));

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(k, "DWORD"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(k, "Dword"));
  RegCloseKey(k);
}

TEST_F(Registry, StringDataIsUtf16AndTheAnsiFormsConvert) {
  HKEY k = Create("SOFTWARE\\Strings");
  // "é€" in Windows-1252, then its UTF-16LE form with the NUL.
  const char ansi[] = "\xE9\x80";
  SetSz(k, "A", ansi);
  BYTE buf[32];
  DWORD type = 0, size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, u"A", nullptr, &type, buf, &size));
  ASSERT_EQ(6u, size);
  const char16_t wide[] = u"\u00E9\u20AC";
  EXPECT_EQ(0, std::memcmp(wide, buf, 6));

  // A list written wide reads back through the A form with every NUL in place.
  const char16_t multi[] = u"one\0two\0";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, u"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), 18));
  size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "List", nullptr, &type, nullptr, &size));
  EXPECT_EQ(9u, size);
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "List", nullptr, &type, buf, &size));
  EXPECT_EQ(REG_MULTI_SZ, type);
  EXPECT_EQ(0, std::memcmp("one\0two\0", buf, 9));

  // Text without a NUL stays without one.
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "Bare", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%P%"), 3));
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, u"Bare", nullptr, &type, buf, &size));
  EXPECT_EQ(REG_EXPAND_SZ, type);
  EXPECT_EQ(6u, size);
  RegCloseKey(k);
}

TEST_F(Registry, EnumerationOrder) {
  HKEY k = Create("SOFTWARE\\Order");
  for (const char* n : {"b", "A", "_x", "C", "10", "9", "a1"}) {
    HKEY s = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, n, 0, nullptr, 0, KEY_READ, nullptr, &s, nullptr));
    RegCloseKey(s);
  }
  // Case-insensitive order of the upper-cased names.
  EXPECT_EQ((std::vector<std::string>{"10", "9", "A", "a1", "b", "C", "_x"}), SubKeys(k));

  for (const char* n : {"Zeta", "alpha", "Mid", "beta"}) SetSz(k, n, "v");
  SetSz(k, "ALPHA", "again");  // rewriting keeps the place
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(k, "Mid"));
  SetSz(k, "Mid", "v");  // deleting and writing again moves it last
  EXPECT_EQ((std::vector<std::string>{"Zeta", "alpha", "beta", "Mid"}), Values(k));

  // Short buffers and the end, both widths.
  char small[3];
  DWORD n = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(k, 0, small, &n, nullptr, nullptr, nullptr, nullptr));
  n = 2;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(k, 3, small, &n, nullptr, nullptr, nullptr, nullptr));
  char16_t wname[8];
  n = 8;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueW(k, 4, wname, &n, nullptr, nullptr, nullptr, nullptr));
  n = 8;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExW(k, 7, wname, &n, nullptr, nullptr, nullptr, nullptr));
  n = 8;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(k, 6, wname, &n, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(u"_x", std::u16string(wname, n));
  BYTE data[2];
  DWORD size = sizeof data, type = 0;
  n = 8;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(k, 1, wname, &n, nullptr, &type, data, &size));
  EXPECT_EQ(12u, size);  // "again" and its NUL in UTF-16

  // Inside a scope the walk goes on from where it stood, and still counts from the start after a
  // change made between two steps.
  {
    vtx::RegTransaction tx;
    EXPECT_EQ((std::vector<std::string>{"Zeta", "alpha", "beta", "Mid"}), Values(k));
    EXPECT_EQ((std::vector<std::string>{"10", "9", "A", "a1", "b", "C", "_x"}), SubKeys(k));
    char name[16];
    DWORD len = sizeof name;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
    len = sizeof name;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 1, name, &len, nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(k, "Zeta"));
    len = sizeof name;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 2, name, &len, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("Mid", name);
    len = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(k, 3, name, &len, nullptr, nullptr, nullptr, nullptr));
    // the scope ends without Commit: "Zeta" stays
  }

  DWORD keys = 0, maxKey = 0, vals = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &keys, &maxKey, nullptr, &vals, &maxName,
                                            &maxData, nullptr, nullptr));
  EXPECT_EQ(7u, keys);
  EXPECT_EQ(2u, maxKey);
  EXPECT_EQ(4u, vals);
  EXPECT_EQ(5u, maxName);
  EXPECT_GE(maxData, 6u);  // at least the ANSI size of "again"
  RegCloseKey(k);
}

TEST_F(Registry, DeleteKeyNeedsAnEmptyKeyAndOldHandlesSeeItGone) {
  HKEY k = Create("SOFTWARE\\Del\\Sub");
  SetSz(k, "v", "1");
  HKEY parent = Create("SOFTWARE\\Del");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Del"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, "SUB"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(parent, "Sub"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(k, "v", 0, REG_BINARY, nullptr, 0));
  // The same name made again is another key: the old handle stays dead.
  RegCloseKey(Create("SOFTWARE\\Del\\Sub"));
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, &size));
  HKEY again = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, "Sub", 0, KEY_READ, &again));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(again, "v", nullptr, nullptr, nullptr, &size));
  RegCloseKey(again);
  RegCloseKey(k);
  RegCloseKey(parent);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
}

TEST_F(Registry, HandleAccessIsChecked) {
  RegCloseKey(Create("SOFTWARE\\Access"));
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Access", 0, KEY_READ, &k));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(k, "v", 0, REG_BINARY, nullptr, 0));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(k, "v"));
  HKEY s = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(k, "New", 0, nullptr, 0, KEY_READ, nullptr, &s, nullptr));
  RegCloseKey(k);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Access", 0, KEY_SET_VALUE, &k));
  DWORD size = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, &size));
  RegCloseKey(k);
}

TEST_F(Registry, TransactionScopesNest) {
  HKEY k = Create("SOFTWARE\\Tx");
  {
    vtx::RegTransaction outer;
    ASSERT_EQ(ERROR_SUCCESS, outer.Status());
    SetSz(k, "Outer", "1");
    {
      vtx::RegTransaction inner;
      ASSERT_EQ(ERROR_SUCCESS, inner.Status());
      SetSz(k, "Inner", "1");
      RegCloseKey(Create("SOFTWARE\\Tx\\Made"));
      // ends without Commit: only the inner changes go
    }
    {
      vtx::RegTransaction kept;
      SetSz(k, "Kept", "1");
      EXPECT_EQ(ERROR_SUCCESS, kept.Commit());
    }
    // Another thread has its own connection and sees nothing of this scope yet.
    std::thread([&] {
      HKEY o = nullptr;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tx", 0, KEY_READ, &o));
      EXPECT_TRUE(Values(o).empty());
      RegCloseKey(o);
    }).join();
    EXPECT_EQ(ERROR_SUCCESS, outer.Commit());
  }
  EXPECT_EQ((std::vector<std::string>{"Outer", "Kept"}), Values(k));
  EXPECT_TRUE(SubKeys(k).empty());
  {
    vtx::RegTransaction undone;
    SetSz(k, "Gone", "1");
    { vtx::RegTransaction inner; SetSz(k, "AlsoGone", "1"); inner.Commit(); }
  }
  EXPECT_EQ((std::vector<std::string>{"Outer", "Kept"}), Values(k));
  RegCloseKey(k);
}

TEST_F(Registry, NothingWritesInsideAReadScope) {
  HKEY k = Create("SOFTWARE\\ReadTx");
  SetSz(k, "Before", "1");
  auto writes = [&] {
    DWORD v = 1;
    HKEY s = nullptr;
    const DWORD results[] = {
        static_cast<DWORD>(RegSetValueExA(k, "In", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v)),
        static_cast<DWORD>(RegDeleteValueA(k, "Before")),
        static_cast<DWORD>(RegCreateKeyExA(k, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &s, nullptr)),
        vtx::RegTransaction(vtx::RegTransaction::Write).Status(),
    };
    for (DWORD r : results) EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), r);
  };
  {
    // Outermost, committed or not, and nested in a write scope: every change fails where it is made.
    vtx::RegTransaction read(vtx::RegTransaction::Read);
    ASSERT_EQ(ERROR_SUCCESS, read.Status());
    writes();
    { vtx::RegTransaction inner(vtx::RegTransaction::Read); writes(); }
    writes();
    EXPECT_EQ(ERROR_SUCCESS, read.Commit());
  }
  {
    vtx::RegTransaction outer;
    SetSz(k, "Outer", "1");
    {
      vtx::RegTransaction read(vtx::RegTransaction::Read);
      writes();
    }
    SetSz(k, "After", "1");  // the write scope writes again once the read scope has ended
    EXPECT_EQ(ERROR_SUCCESS, outer.Commit());
  }
  EXPECT_EQ((std::vector<std::string>{"Before", "Outer", "After"}), Values(k));
  EXPECT_TRUE(SubKeys(k).empty());
  RegCloseKey(k);
}

TEST_F(Registry, TwoProcessesWritingOneKeyLoseNothing) {
  RegCloseKey(Create("SOFTWARE\\Shared"));
  auto writer = [](const char* prefix) {
    for (int i = 0; i < 150; ++i) {
      HKEY k = nullptr;
      if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                          nullptr))
        return 1;
      std::string name = prefix + std::to_string(i);
      vtx::RegTransaction tx;
      if (tx.Status()) return 2;
      DWORD v = static_cast<DWORD>(i);
      if (RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4)) return 3;
      HKEY sub = nullptr;
      if (RegCreateKeyExA(k, name.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr)) return 4;
      RegCloseKey(sub);
      if (tx.Commit()) return 5;
      RegCloseKey(k);
    }
    return 0;
  };
  pid_t a = fork();
  if (a == 0) _exit(writer("a"));
  pid_t b = fork();
  if (b == 0) _exit(writer("b"));
  EXPECT_EQ(0, vtxtest::WaitExit(a));
  EXPECT_EQ(0, vtxtest::WaitExit(b));
  HKEY k = Create("SOFTWARE\\Shared");
  DWORD keys = 0, vals = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &vals, nullptr,
                                            nullptr, nullptr, nullptr));
  EXPECT_EQ(300u, keys);
  EXPECT_EQ(300u, vals);
  RegCloseKey(k);
}

uint64_t Changes() {
  uint64_t n = 0;
  EXPECT_EQ(ERROR_SUCCESS, vtx::RegistryChangeCount(&n));
  return n;
}

TEST_F(Registry, EveryCommittedChangeMovesTheCounterButQuietOnes) {
  HKEY k = Create("SOFTWARE\\Count");
  DWORD v = 1;
  auto set = [&](const char* name) {
    return RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  };
  // Each kind of change made on its own, and several in one transaction: the counter moves once each.
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"set", [&] { ASSERT_EQ(ERROR_SUCCESS, set("A")); }},
      {"delete value", [&] { ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(k, "A")); }},
      {"create key", [&] { RegCloseKey(Create("SOFTWARE\\Count\\Sub\\Deeper")); }},
      {"delete key", [&] { ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(k, "Sub\\Deeper")); }},
      {"delete tree", [&] { ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(k, "Sub")); }},
      {"transaction",
       [&] {
         vtx::RegTransaction tx;
         ASSERT_EQ(ERROR_SUCCESS, set("B"));
         { vtx::RegTransaction inner; ASSERT_EQ(ERROR_SUCCESS, set("C")); inner.Commit(); }
         ASSERT_EQ(ERROR_SUCCESS, tx.Commit());
       }},
      {"quiet inside a counted one",
       [&] {
         vtx::RegTransaction tx;
         ASSERT_EQ(ERROR_SUCCESS, set("D"));
         { vtx::RegTransaction quiet(vtx::RegTransaction::Quiet); ASSERT_EQ(ERROR_SUCCESS, set("E")); quiet.Commit(); }
         ASSERT_EQ(ERROR_SUCCESS, tx.Commit());
       }},
  };
  // The generation published beside the store moves with the counter, and only with it.
  auto generation = [] {
    uint64_t g = 0;
    EXPECT_TRUE(vtx::RegistryChangeGeneration(&g));
    return g;
  };
  for (const auto& [what, change] : changes) {
    uint64_t before = Changes(), published = generation();
    change();
    EXPECT_EQ(before + 1, Changes()) << what;
    EXPECT_EQ(published + 1, generation()) << what;
  }
  // Nothing committed, nothing changed, or only quiet changes: the counter stays.
  const std::vector<std::pair<const char*, std::function<void()>>> stays = {
      {"rolled back", [&] { vtx::RegTransaction tx; ASSERT_EQ(ERROR_SUCCESS, set("F")); }},
      {"failed change", [&] { EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(k, "Missing")); }},
      {"reads", [&] { EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "B", nullptr, nullptr, nullptr, nullptr)); }},
      {"write probe", [&] { EXPECT_EQ(ERROR_SUCCESS, vtx::RegistryWriteProbe()); }},
      {"quiet",
       [&] {
         vtx::RegTransaction quiet(vtx::RegTransaction::Quiet);
         ASSERT_EQ(ERROR_SUCCESS, set("G"));
         RegCloseKey(Create("SOFTWARE\\Count\\Quiet"));
         { vtx::RegTransaction inner; ASSERT_EQ(ERROR_SUCCESS, set("H")); inner.Commit(); }
         ASSERT_EQ(ERROR_SUCCESS, quiet.Commit());
       }},
  };
  for (const auto& [what, change] : stays) {
    uint64_t before = Changes(), published = generation();
    change();
    EXPECT_EQ(before, Changes()) << what;
    EXPECT_EQ(published, generation()) << what;
  }
  // The word's file has the store's mode, so that whoever may write the store may move it.
  struct stat store{}, word{};
  ASSERT_EQ(0, stat(store_.c_str(), &store));
  ASSERT_EQ(0, stat((store_ + "-changes").c_str(), &word));
  EXPECT_EQ(store.st_mode & 0777, word.st_mode & 0777);
  // Another process's commit is seen at once, and inside a read scope the counter is the snapshot's.
  {
    vtx::RegTransaction read(vtx::RegTransaction::Read);
    uint64_t snapshot = Changes();
    EXPECT_EQ(0, vtxtest::InChild([] {
      HKEY c = nullptr;
      DWORD one = 1;
      if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Count", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &c, nullptr))
        return 1;
      return RegSetValueExA(c, "Child", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) ? 2 : 0;
    }));
    EXPECT_EQ(snapshot, Changes());
    read.Commit();
    EXPECT_EQ(snapshot + 1, Changes());
  }
  // Another process's commit moves the generation that this one reads.
  uint64_t published = generation();
  EXPECT_EQ(0, vtxtest::InChild([] {
    HKEY c = nullptr;
    DWORD two = 2;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Count", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &c, nullptr))
      return 1;
    return RegSetValueExA(c, "Child", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4) ? 2 : 0;
  }));
  EXPECT_EQ(published + 1, generation());
  RegCloseKey(k);
}

TEST_F(Registry, ChangeCounterOfANewStoreAndOfAnEarlierSchema) {
  RegCloseKey(Create("SOFTWARE\\X"));
  uint64_t first = Changes();
  EXPECT_GT(first, 0u);
  // A store made anew elsewhere does not start where this one stands.
  std::string other = dir_ / "other.db";
  setenv(vtx::env::kRegistry, other.c_str(), 1);
  RegCloseKey(Create("SOFTWARE\\X"));
  EXPECT_NE(first, Changes());
  setenv(vtx::env::kRegistry, store_.c_str(), 1);

  // A store of the first schema (no counter) gets one when it is opened for writing, data kept.
  std::string old = dir_ / "old.db";
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(old.c_str(), &db));
    const char* sql =
        "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name BLOB NOT NULL,"
        " fold BLOB NOT NULL, written INTEGER NOT NULL DEFAULT 0); CREATE UNIQUE INDEX keys_child ON keys(parent, fold);"
        " CREATE TABLE vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL, name BLOB NOT NULL,"
        " fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);"
        " CREATE UNIQUE INDEX vals_name ON vals(key, fold); CREATE INDEX vals_key ON vals(key);"
        " INSERT INTO keys VALUES(1, 0, X'48', X'0048', 0), (2, 0, X'4C', X'004C', 0),"
        " (3, 2, X'4F006C006400', X'004F004C0044', 0); PRAGMA user_version = 1;";
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  setenv(vtx::env::kRegistry, old.c_str(), 1);
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Old", 0, KEY_READ, &k));
  RegCloseKey(k);
  uint64_t before = Changes();
  RegCloseKey(Create("Old\\New"));
  EXPECT_EQ(before + 1, Changes());
  setenv(vtx::env::kRegistry, store_.c_str(), 1);
}

// Reads inside a transaction are served from what the transaction read before; they must follow
// its own changes, savepoints undone included.
TEST_F(Registry, ReadsInsideATransactionFollowItsChanges) {
  HKEY k = Create("SOFTWARE\\Cache");
  SetSz(k, "A", "1");
  SetSz(k, "B", "1");
  auto text = [&](HKEY key, const char* name) {
    char buf[32] = "";
    DWORD size = sizeof buf, type = 0;
    LSTATUS r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    return r == ERROR_SUCCESS ? std::string(buf) : "error " + std::to_string(r);
  };
  {
    vtx::RegTransaction tx;
    EXPECT_EQ("1", text(k, "A"));
    EXPECT_EQ("1", text(k, "B"));  // the key's values are now read at once
    SetSz(k, "A", "2");
    EXPECT_EQ("2", text(k, "A"));
    EXPECT_EQ("2", text(k, "A"));
    {
      vtx::RegTransaction inner;
      SetSz(k, "B", "3");
      EXPECT_EQ("3", text(k, "B"));
      EXPECT_EQ("3", text(k, "B"));
    }
    EXPECT_EQ("1", text(k, "B"));
    EXPECT_EQ("1", text(k, "B"));
    // A subkey made and undone, then made again: its handle and its path follow.
    HKEY sub = nullptr;
    {
      vtx::RegTransaction inner;
      sub = Create("SOFTWARE\\Cache\\Sub");
      SetSz(sub, "V", "old");
      EXPECT_EQ("old", text(sub, "V"));
      EXPECT_EQ("old", text(sub, "V"));
    }
    EXPECT_EQ("error " + std::to_string(ERROR_KEY_DELETED), text(sub, "V"));
    RegCloseKey(sub);
    sub = Create("SOFTWARE\\Cache\\Sub");
    EXPECT_EQ("error 2", text(sub, "V"));
    SetSz(sub, "V", "new");
    HKEY again = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Cache\\Sub", 0, KEY_READ, &again));
    EXPECT_EQ("new", text(again, "V"));
    RegCloseKey(again);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(k, "Sub"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Cache\\Sub", 0, KEY_READ, &again));
    EXPECT_EQ("error " + std::to_string(ERROR_KEY_DELETED), text(sub, "V"));
    RegCloseKey(sub);
    ASSERT_EQ(ERROR_SUCCESS, tx.Commit());
  }
  EXPECT_EQ("2", text(k, "A"));
  EXPECT_EQ("1", text(k, "B"));
  EXPECT_TRUE(SubKeys(k).empty());
  RegCloseKey(k);
}

// Collects what RegReadTree delivers, as "name=value" lines with "[section]" lines.
class TreeLines : public vtx::RegTreeVisitor {
 public:
  explicit TreeLines(bool ansi, int stopAfter = -1) : ansi_(ansi), stopAfter_(stopAfter) {}
  DWORD OnSubkey(const void* name) override {
    lines.push_back("[" + Text(name) + "]");
    return Next();
  }
  DWORD OnValue(const void* name, DWORD type, const BYTE* data, DWORD size) override {
    std::string value;
    if (type == REG_DWORD) {
      DWORD v = 0;
      std::memcpy(&v, data, 4);
      value = std::to_string(v);
    } else if (ansi_) {
      value.assign(reinterpret_cast<const char*>(data), size);
      EXPECT_EQ(0, data[size]);
      EXPECT_EQ(0, data[size + 1]);
    } else {
      std::u16string w(reinterpret_cast<const char16_t*>(data), size / 2);
      value = vtx::WideToUtf8(w);
      EXPECT_EQ(0, reinterpret_cast<const char16_t*>(data)[size / 2]);
    }
    for (char& c : value)
      if (c == 0) c = '|';
    lines.push_back(Text(name) + "=" + value);
    return Next();
  }
  std::vector<std::string> lines;

 private:
  std::string Text(const void* name) {
    return ansi_ ? std::string(static_cast<const char*>(name)) : vtx::WideToUtf8(static_cast<const char16_t*>(name));
  }
  DWORD Next() {
    return stopAfter_ >= 0 && static_cast<int>(lines.size()) >= stopAfter_ ? static_cast<DWORD>(ERROR_CANCELLED) : 0;
  }
  bool ansi_;
  int stopAfter_;
};

TEST_F(Registry, TreeReadDeliversAKeyWithItsDirectSubkeys) {
  HKEY k = Create("SOFTWARE\\Tree");
  SetSz(k, "Top", "t");
  DWORD n = 7;
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "Num", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4));
  HKEY b = Create("SOFTWARE\\Tree\\b");
  SetSz(b, "Z", "last written first");
  SetSz(b, "Y", "\xE9t\xE9");  // Windows-1252: é
  const char list[] = "one\0two\0";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(b, "L", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), sizeof list));
  RegCloseKey(Create("SOFTWARE\\Tree\\A"));  // no values
  RegCloseKey(Create("SOFTWARE\\Tree\\b\\Deeper"));
  HKEY c = Create("SOFTWARE\\Tree\\c");
  SetSz(c, "only", "x");
  RegCloseKey(c);

  // String data come as stored, with their NULs.
  const std::vector<std::string> expected = {"Top=t|", "Num=7", "[A]", "[b]", "Z=last written first|",
                                             "Y=\xE9t\xE9|", "L=one|two||", "[c]", "only=x|"};
  TreeLines ansi(true);
  ASSERT_EQ(ERROR_SUCCESS, vtx::RegReadTree(k, true, ansi));
  EXPECT_EQ(expected, ansi.lines);
  TreeLines wide(false);
  ASSERT_EQ(ERROR_SUCCESS, vtx::RegReadTree(k, false, wide));
  std::vector<std::string> utf8 = expected;
  utf8[5] = "Y=\xC3\xA9t\xC3\xA9|";
  EXPECT_EQ(utf8, wide.lines);

  TreeLines stops(true, 3);
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANCELLED), vtx::RegReadTree(k, true, stops));
  EXPECT_EQ(3u, stops.lines.size());
  HKEY readOnly = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tree", 0, KEY_QUERY_VALUE, &readOnly));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), vtx::RegReadTree(readOnly, true, stops));
  RegCloseKey(readOnly);
  RegCloseKey(b);
  RegCloseKey(k);
}

TEST_F(Registry, DeleteTreeTakesEverythingUnderTheKey) {
  auto fill = [&] {
    RegCloseKey(Create("SOFTWARE\\Del\\A\\B\\C"));
    HKEY d = Create("SOFTWARE\\Del");
    SetSz(d, "v", "1");
    RegCloseKey(d);
    HKEY a = Create("SOFTWARE\\Del\\A\\B");
    SetSz(a, "w", "1");
    RegCloseKey(a);
  };
  HKEY soft = Create("SOFTWARE");
  HKEY delicate = Create("SOFTWARE\\Delicate");
  SetSz(delicate, "stays", "1");
  fill();
  // Contents only: the key stays, empty.
  HKEY d = Create("SOFTWARE\\Del");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(d, nullptr));
  EXPECT_TRUE(SubKeys(d).empty());
  EXPECT_TRUE(Values(d).empty());
  RegCloseKey(d);
  // With a subkey path: it goes with everything under it.
  fill();
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(soft, "del"));
  EXPECT_EQ((std::vector<std::string>{"Delicate"}), SubKeys(soft));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(soft, "Del"));
  HKEY readOnly = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &readOnly));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(readOnly, "Delicate"));
  RegCloseKey(readOnly);
  EXPECT_EQ((std::vector<std::string>{"stays"}), Values(delicate));
  RegCloseKey(delicate);
  RegCloseKey(soft);
}

// Writes as a user who may only read the store file, or on a read-only mount.
class ReadOnlyRegistry : public Registry {
 protected:
  void Fill() {
    HKEY k = Create("SOFTWARE\\RO");
    SetSz(k, "v", "kept");
    RegCloseKey(k);
  }
  // What a writer sees: 0 when every answer was as expected, else the step that differed.
  static int Check() {
    if (vtx::RegistryWriteProbe() != ERROR_ACCESS_DENIED) return 10;
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\RO", 0, KEY_WRITE, &k) != ERROR_ACCESS_DENIED) return 11;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\RO", 0, KEY_READ | KEY_SET_VALUE, &k) != ERROR_ACCESS_DENIED)
      return 12;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\RO\\New", 0, nullptr, 0, KEY_READ, nullptr, &k, nullptr) !=
        ERROR_ACCESS_DENIED)
      return 13;
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\RO") != ERROR_ACCESS_DENIED) return 14;
    vtx::RegTransaction tx;
    if (tx.Status() != ERROR_ACCESS_DENIED) return 15;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\RO", 0, KEY_READ, &k) != ERROR_SUCCESS) return 16;
    char buf[8];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(k, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) || std::strcmp(buf, "kept"))
      return 17;
    RegCloseKey(k);
    vtx::RegTransaction read(vtx::RegTransaction::Read);
    if (read.Status() != ERROR_SUCCESS) return 18;
    return 0;
  }
};

TEST_F(ReadOnlyRegistry, FileModeDeniesWrites) {
  Fill();
  std::string d = dir_.path();
  int r = vtxtest::InChild([&] {
    // Root ignores file modes: become a user without rights to the file.
    if (geteuid() == 0) {
      chmod(d.c_str(), 0755);
      chmod((d + "/lib").c_str(), 0755);
      chmod((d + "/lib/vantrex").c_str(), 0755);
      for (const char* x : {"", "-wal", "-shm"}) chmod((store_ + x).c_str(), 0644);
      if (!vtxtest::DropRoot()) return 99;
    } else {
      chmod(store_.c_str(), 0444);
    }
    return Check();
  });
  EXPECT_EQ(0, r);
  EXPECT_EQ(ERROR_SUCCESS, vtx::RegistryWriteProbe());
}

TEST_F(ReadOnlyRegistry, ReadOnlyFileSystemDeniesWrites) {
  Fill();
  std::string d = dir_.path();
  int r = vtxtest::InChild([&] {
    // Unprivileged, a user namespace of its own grants the mount namespace.
    if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return 98;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 98;
    if (mount(d.c_str(), d.c_str(), nullptr, MS_BIND, nullptr) != 0) return 98;
    if (mount(nullptr, d.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) return 98;
    return Check();
  });
  if (r == 98) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(0, r);
}

TEST_F(ReadOnlyRegistry, MissingStoreThatCannotBeMadeReadsEmpty) {
  std::string d = dir_.path();
  int r = vtxtest::InChild([&] {
    if (geteuid() == 0) {
      chmod(d.c_str(), 0755);
      if (!vtxtest::DropRoot()) return 99;
    } else {
      chmod(d.c_str(), 0555);
    }
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &k) != ERROR_FILE_NOT_FOUND) return 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &k) != ERROR_SUCCESS) return 2;
    char name[8];
    DWORD n = sizeof name;
    if (RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS) return 3;
    RegCloseKey(k);
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
        ERROR_ACCESS_DENIED)
      return 4;
    if (vtx::RegistryWriteProbe() != ERROR_ACCESS_DENIED) return 5;
    return 0;
  });
  EXPECT_EQ(0, r);
}

TEST_F(Registry, DamagedStoreFileIsReported) {
  mkdir((dir_ / "lib").c_str(), 0700);
  mkdir((dir_ / "lib/vantrex").c_str(), 0700);
  FILE* f = fopen(store_.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  std::string junk(8192, 'x');
  fwrite(junk.data(), 1, junk.size(), f);
  fclose(f);
  HKEY k = nullptr;
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &k));
  EXPECT_EQ(ERROR_REGISTRY_CORRUPT, vtx::RegistryWriteProbe());
}

}  // namespace
