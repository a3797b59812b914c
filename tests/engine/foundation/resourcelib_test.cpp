#include "engine/foundation/resourcelib.h"

#include "engine/foundation/eventlog.h"
#include "engine/foundation/eventmessages.h"
#include "engine/foundation/regvalue.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/native/productpaths.h"
#include "tests/support/child.h"
#include "tests/support/env.h"
#include "tests/support/files.h"
#include "tests/support/paths.h"

namespace {

struct Box {
  std::string text, caption;
  UINT type = 0;
  int calls = 0;
};
Box g_box;

int RecordBox(void*, const char* text, const char* caption, UINT type) {
  g_box.text = text;
  g_box.caption = caption;
  g_box.type = type;
  ++g_box.calls;
  return 6;
}

const char* kCatalogue =
    "[strings]\n"
    "32 Vantrex\n"
    "83 The operation failed with error 0x%1!08X!.\n"
    "96 ,\n"
    "97  and\n"
    "100 Import \"%1\" (%2 bytes)?\n"
    "101 @%1 1 one day:*%1 days:\n"
    "102 @%1 0 no rates:1 one rate:-1 all rates:*%1 rates: were stored.\n"
    "103 Done in @%1 1 one step\\: quick:*%1 steps:\n"
    "104 @%3 1 x:*y: and %1\n"
    "105 end @%1\n"
    "106 cost @% 5 and 50@%\n"
    "107 @%2 1 a:*b:\n"
    "108 %1 of %3\n"
    "109 @%1 7x seven:2 two:*other:\n";

class ResourceLib : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "en.cat";
    std::ofstream(path_) << kCatalogue;
    module_ = LoadLibraryA(path_.c_str());
    ASSERT_NE(module_, nullptr) << vtx::LastCatalogueError();
    old_ = vtx::SetMessageBoxHandler(RecordBox);
    g_box = Box{};
  }
  void TearDown() override {
    vtx::SetMessageBoxHandler(old_);
    FreeLibrary(module_);
  }
  vtxtest::TempDir dir_;
  std::string path_;
  HMODULE module_ = nullptr;
  vtx::MessageBoxHandler old_ = nullptr;
};

std::string Take(char* text) {
  std::string r = text ? text : "<null>";
  LocalFree(text);
  return r;
}

TEST_F(ResourceLib, PrintFormatMessage) {
  EXPECT_EQ(Take(PrintFormatMessage(100, module_, "rates.vx-cnf", 1024u)), "Import \"rates.vx-cnf\" (1024 bytes)?");
  EXPECT_EQ(Take(PrintFormatMessage(100, module_, "only one")), "<null>");  // names %2
  EXPECT_EQ(Take(PrintFormatMessage(999, module_, "x")), "<null>");
  EXPECT_EQ(Take(PrintFormatMessage(83, module_, static_cast<DWORD>(0x80070005))),
            "The operation failed with error 0x80070005.");
}

TEST_F(ResourceLib, PrintFormatMessageNumChoices) {
  const struct {
    UINT id;
    std::vector<DWORD> values;
    const char* expected;
  } rows[] = {
      {101, {1}, "one day"},
      {101, {2}, "2 days"},
      {102, {0}, "no rates were stored."},
      {102, {1}, "one rate were stored."},
      {102, {0xFFFFFFFF}, "all rates were stored."},
      {102, {5}, "5 rates were stored."},
      {103, {1}, "Done in one step: quick"},
      {103, {3}, "Done in 3 steps"},
      {104, {9, 9, 1}, "x and 9"},
      {104, {9}, " and 9"},   // a choice on an insert not passed shows nothing
      {105, {1}, "end "},     // a choice at the very end stops at the NUL
      {106, {1}, "cost  5 and 50"},  // "@%" without a number: dropped, the next character kept
      {107, {1}, ""},         // no alternative of a choice on an insert not passed
      {108, {1, 2}, "<null>"},  // names %3, two inserts passed
      {109, {7}, " seven"},
      {109, {2}, "two"},
  };
  for (const auto& r : rows) {
    std::string got = Take(vtx::PrintFormatMessageNumV(r.id, module_, r.values.data(), r.values.size()));
    EXPECT_EQ(got, r.expected) << r.id << " " << r.values[0];
  }
  EXPECT_EQ(Take(PrintFormatMessageNum(101, module_, 1)), "one day");
  EXPECT_EQ(Take(PrintFormatMessageNum(102, module_, -1)), "all rates were stored.");
}

TEST(PercentArgNum, Digits) {
  const char* end;
  const char* t = "12x";
  EXPECT_EQ(GetPercentArgNum(t, &end), 12);
  EXPECT_EQ(end, t + 2);
  t = "123";
  EXPECT_EQ(GetPercentArgNum(t, &end), 12);
  EXPECT_EQ(end, t + 2);
  t = "x1";
  EXPECT_EQ(GetPercentArgNum(t, &end), -1);
  EXPECT_EQ(end, t);
  EXPECT_EQ(GetPercentArgNum("", &end), -1);
}

TEST_F(ResourceLib, FormatItems) {
  const struct {
    const char* items;
    const char* expected;
  } rows[] = {
      {"USD\tGBP\tJPY", "USD, GBP and JPY"},
      {"USD\tGBP", "USD and GBP"},
      {"USD", "USD"},
      {"", ""},
      {"\tUSD\t\tGBP\t", "USD and GBP"},
      {"\t\t", ""},
      {"A\tB\tC\tD", "A, B, C and D"},
  };
  for (const auto& r : rows) EXPECT_EQ(Take(FormatItems(r.items, 96, 97, module_)), r.expected) << r.items;
  EXPECT_EQ(Take(FormatItems("a\tb", 96, 999, module_)), "<null>");
  EXPECT_EQ(Take(FormatItems(nullptr, 96, 97, module_)), "<null>");
}

TEST_F(ResourceLib, MessageBoxes) {
  EXPECT_EQ(FormatMessageBox(nullptr, 100, 32, 0x24, module_, "a.vx-cnf", 3u), 6);
  EXPECT_EQ(g_box.text, "Import \"a.vx-cnf\" (3 bytes)?");
  EXPECT_EQ(g_box.caption, "Vantrex");
  EXPECT_EQ(g_box.type, 0x24u);
  EXPECT_EQ(FormatMessageBox(nullptr, 100, 999, 0, module_, "a", 1u), 0);
  EXPECT_EQ(FormatMessageBox(nullptr, 100, 32, 0, module_, "too few"), 0);
  EXPECT_EQ(g_box.calls, 1);

  EXPECT_EQ(MessageBoxHResultOK(nullptr, 83, 32, module_, 0x80070005), 6);
  EXPECT_EQ(g_box.text, "Access is denied.");
  EXPECT_EQ(g_box.type, 0x10010u);
  EXPECT_EQ(MessageBoxHResultOK(nullptr, 83, 32, module_, 0x80041234), 6);
  EXPECT_EQ(g_box.text, "The operation failed with error 0x80041234.");
  EXPECT_EQ(g_box.caption, "Vantrex");
  EXPECT_EQ(g_box.type, 0x10010u);
}

TEST(HeadlessBox, AnswersWithTheDefaultButton) {
  const struct {
    UINT type;
    int answer;
  } rows[] = {
      {0x0, 1}, {0x1, 1}, {0x101, 2}, {0x2, 3}, {0x202, 5}, {0x3, 6}, {0x103, 7}, {0x203, 2},
      {0x4, 6}, {0x104, 7}, {0x304, 6}, {0x5, 4}, {0x105, 2}, {0x24, 6}, {0x10010, 1}, {0xF, 1},
  };
  for (const auto& r : rows) EXPECT_EQ(vtx::DefaultMessageBoxAnswer(r.type), r.answer) << std::hex << r.type;
  // The handler in force without a program's own returns at once.
  EXPECT_EQ(vtx::ShowMessageBox(nullptr, "text", "caption", 0x24), 6);
}

// The value names tried, in order: each one found names a catalogue that is not there, so the
// next one is read.
TEST_F(ResourceLib, LoadResourceLibraryCandidates) {
  vtxtest::ScopedEnv store(vtx::env::kRegistry, dir_ / "registry.db"), locale("LC_ALL", "de_DE.UTF-8");
  const char* key = "SOFTWARE\\Hulvane\\Vantrex\\4.0";
  EXPECT_EQ(LoadResourceLibrary(key), nullptr);  // no values at all
  std::string bad = dir_ / "bad.cat";
  std::ofstream(bad) << "junk\n";
  const struct {
    const char* name;
    std::string path;
  } values[] = {{"Resources0407", dir_ / "missing.cat"},
                {"Resources0007", bad},
                {"Resources0807", ""},
                {"Resources0000", path_}};
  for (const auto& v : values) {
    RegStringValueA s;
    s = v.path.c_str();
    ASSERT_EQ(s.Save(HKEY_LOCAL_MACHINE, key, v.name), S_OK);
  }
  HMODULE m = LoadResourceLibrary(key);
  EXPECT_EQ(m, module_);
  char buf[32];
  EXPECT_GT(LoadStringA(m, 32, buf, sizeof buf), 0);
  FreeLibrary(m);
  // The primary language's own value comes before "Resources0000".
  RegStringValueA s;
  std::string other = dir_ / "de.cat";
  std::ofstream(other) << "[strings]\n32 Vantrex (Deutsch)\n";
  s = other.c_str();
  ASSERT_EQ(s.Save(HKEY_LOCAL_MACHINE, key, "Resources0807"), S_OK);
  m = LoadResourceLibrary(key);
  ASSERT_NE(m, nullptr);
  EXPECT_NE(m, module_);
  LoadStringA(m, 32, buf, sizeof buf);
  EXPECT_STREQ(buf, "Vantrex (Deutsch)");
  FreeLibrary(m);
}

TEST(ResourceLibEnglish, TheShippedCatalogueLoads) {
  std::string path = vtxtest::SourcePath("resources/0409/vantrex.cat");
  HMODULE m = LoadLibraryA(path.c_str());
  ASSERT_NE(m, nullptr) << vtx::LastCatalogueError();
  for (DWORD id : {0x2u, 0x3u, 0xAu, 0xBu, 0x40000001u, 0x80000007u, 0x80000008u, 0x80000009u, 0xC0000004u,
                   0xC0000005u, 0xC0000006u}) {
    std::string text;
    EXPECT_TRUE(vtx::MessageTableText(m, id, text)) << std::hex << id;
  }
  std::string text;
  vtx::MessageTableText(m, 0xC0000006, text);
  EXPECT_EQ(text, "The resource library could not be loaded.\r\n");
  // The programs' own table says the same as the English catalogue.
  ASSERT_EQ(vtx::kEventMessageCount, 11u);
  for (size_t i = 0; i < vtx::kEventMessageCount; ++i) {
    EXPECT_TRUE(vtx::MessageTableText(m, vtx::kEventMessages[i].id, text));
    EXPECT_EQ(text, vtx::kEventMessages[i].utf8);
  }
  EXPECT_EQ(Take(FormatItems("USD\tGBP\tJPY", 96, 97, m)), "USD, GBP and JPY");
  EXPECT_EQ(Take(PrintFormatMessage(83, m, 0x8007000Eu)), "The operation failed with error 0x8007000E.");
  FreeLibrary(m);
}

TEST(EventLogEntryPoints, Available) {
  CEventLog log;
  EXPECT_TRUE(log.IsAvailable());
  HANDLE h = log.m_pRegisterEventSourceA(nullptr, "Hulvane Vantrex");
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(log.m_pDeregisterEventSource(h));
}

bool IsDir(const std::string& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool Exists(const std::string& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0;
}

TEST(DirectoryPath, CreatesFoldersNotTheFile) {
  vtxtest::TempDir dir;
  std::string file = dir / "logs/2005/run.txt";
  EXPECT_EQ(MakeSureDirectoryPathExists(file.c_str()), S_OK);
  EXPECT_TRUE(IsDir(dir / "logs"));
  EXPECT_TRUE(IsDir(dir / "logs/2005"));
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(MakeSureDirectoryPathExists((dir / "a//b/").c_str()), S_OK);
  EXPECT_TRUE(IsDir(dir / "a/b"));
  EXPECT_EQ(MakeSureDirectoryPathExists(dir.path().c_str()), S_OK);  // exists already
  std::string longPath = dir.path() + "/" + std::string(300, 'x') + "/f";
  EXPECT_EQ(MakeSureDirectoryPathExists(longPath.c_str()), 0x8007006Fu);
  std::ofstream(dir / "plain") << "x";
  EXPECT_TRUE(FAILED(MakeSureDirectoryPathExists((dir / "plain/sub/f").c_str())));
  // A folder the account may not write to, in a child as an account that file modes bind.
  chmod(dir.path().c_str(), 0555);
  std::string denied = dir / "denied/f";
  EXPECT_EQ(vtxtest::InChild([&] {
              if (!vtxtest::DropRoot()) return 99;
              return static_cast<uint32_t>(MakeSureDirectoryPathExists(denied.c_str())) == 0x80070005u ? 0 : 1;
            }),
            0);
  chmod(dir.path().c_str(), 0700);
}

TEST(SpecialFolders, FromTheEnvironment) {
  vtxtest::TempDir dir;
  char buf[MAX_PATH];
  {
    vtxtest::ScopedEnv appdata(vtx::env::kAppData, dir.path());
    EXPECT_TRUE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA, buf));
    EXPECT_EQ(std::string(buf), dir.path());
  }
  {
    vtxtest::ScopedEnv appdata(vtx::env::kAppData, dir / "new");
    EXPECT_TRUE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, buf));
    EXPECT_TRUE(IsDir(dir / "new"));
  }
  vtxtest::ScopedEnv appdata(vtx::env::kAppData, std::nullopt);
  EXPECT_TRUE(GetSpecialFolderPath(CSIDL_COMMON_APPDATA, buf));
  EXPECT_EQ(std::string(buf), "/var/lib");
  EXPECT_FALSE(GetSpecialFolderPath(0x0026, buf));
}

}  // namespace
