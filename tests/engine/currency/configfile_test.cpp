// The configuration file against a private store: the golden bytes of a tiny export, a full
// configuration through export and import, imports that fail midway, the machine's own names.
// Damaged and crafted files are the independent reader's and writer's part (vxcnf.py).
#include "engine/currency/configfile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "engine/foundation/regvalue.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "tests/engine/currency/settings_fixture.h"
#include "tests/support/iofaults.h"
#include "tests/support/paths.h"

namespace {

using vtxtest::SettingsTest;
using vtxtest::TempDir;

const char kApp[] = "SOFTWARE\\Hulvane\\Vantrex\\4.0";

std::u16string KeyPath(const std::u16string& sub) {
  std::u16string path = u"SOFTWARE\\Hulvane\\Vantrex\\4.0";
  return sub.empty() ? path : path + u"\\" + sub;
}

void Put(const std::u16string& sub, const std::u16string& name, DWORD type, const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                          static_cast<DWORD>(data.size())));
  RegCloseKey(key);
}
std::string Sz(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
}
std::string U32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
void PutSz(const std::u16string& sub, const std::u16string& name, const std::u16string& text) {
  Put(sub, name, REG_SZ, Sz(text));
}
void PutDword(const std::u16string& sub, const std::u16string& name, uint32_t v) { Put(sub, name, REG_DWORD, U32(v)); }

// One line per value, in the store's order: key path, name, type, data (texts as text).
void DumpKey(HKEY key, const std::string& path, std::string& out) {
  DWORD maxName = 0, maxData = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            &maxName, &maxData, nullptr, nullptr));
  std::u16string name(maxName + 1, u'\0');
  std::string data(maxData + 1, '\0');
  for (DWORD i = 0;; ++i) {
    DWORD chars = maxName + 1, size = maxData + 1, type = 0;
    LONG r = RegEnumValueW(key, i, name.data(), &chars, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, r);
    out += path + "|" + vtx::WideToUtf8(name.substr(0, chars)) + "|" + std::to_string(type) + "|";
    if (type == REG_SZ && size >= 2)
      out += vtx::WideToUtf8(std::u16string(reinterpret_cast<const char16_t*>(data.data()), size / 2 - 1));
    else if (type == REG_DWORD && size == 4)
      out += std::to_string(*reinterpret_cast<const uint32_t*>(data.data()));
    else
      for (DWORD b = 0; b < size; ++b) {
        out.push_back("0123456789abcdef"[(data[b] >> 4) & 15]);
        out.push_back("0123456789abcdef"[data[b] & 15]);
      }
    out += "\n";
  }
  out += path + "/\n";  // keys show even when empty
  std::u16string sub(REG_MAX_KEY_NAME + 1, u'\0');
  for (DWORD i = 0;; ++i) {
    DWORD chars = REG_MAX_KEY_NAME + 1;
    LONG r = RegEnumKeyExW(key, i, sub.data(), &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(ERROR_SUCCESS, r);
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, &child));
    DumpKey(child, path + "\\" + vtx::WideToUtf8(sub.substr(0, chars)), out);
    RegCloseKey(child);
  }
}

std::string Dump() {
  HKEY app = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApp, 0, KEY_READ, &app)) return "<no key>";
  std::string out;
  DumpKey(app, "", out);
  RegCloseKey(app);
  return out;
}

// A fixture beside this test: annotated hex ('#' comments) decoded to bytes.
std::string HexFixture(const char* name) {
  std::string text = vtxtest::ReadFile(vtxtest::SourcePath(std::string("tests/engine/currency/configfile/") + name));
  std::string bytes, digits;
  bool comment = false;
  for (char c : text) {
    if (c == '\n') comment = false;
    if (c == '#') comment = true;
    if (!comment && std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.' || (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

class ConfigFile : public SettingsTest {
 protected:
  TempDir dir_;
};

TEST_F(ConfigFile, ATinyExportIsTheGoldenFile) {
  PutSz(u"", u"Path", u"/opt/vantrex");  // the machine's own: not exported
  PutDword(u"", u"AutoUpdate", 1);
  PutSz(u"", u"BaseUnit", u"EUR");
  PutSz(u"Servers\\0", u"URL", u"file:/r.txt");
  ASSERT_EQ(S_OK, ExportConfiguration((dir_ / "tiny").c_str(), TRUE));
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "tiny.vx-cnf"), HexFixture("tiny.vx-cnf.hex"));
  EXPECT_EQ(ModeOf(dir_ / "tiny.vx-cnf"), 0600u);  // it holds the scrambled credentials
}

TEST_F(ConfigFile, ExportNamesReplacementAndFailures) {
  PutDword(u"", u"AutoUpdate", 1);
  struct {
    const char* given;
    BOOL addExtension;
    const char* written;
  } cases[] = {{"a", TRUE, "a.vx-cnf"},
               {"B.VX-CNF", TRUE, "B.VX-CNF"},
               {"c.vx-cnf.old", TRUE, "c.vx-cnf.old.vx-cnf"},
               {"d.txt", FALSE, "d.txt"}};
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    EXPECT_EQ(S_OK, ExportConfiguration((dir_ / c.given).c_str(), c.addExtension)) << c.given;
    expected.push_back(c.written);
  }
  // An existing file is replaced whole and becomes private.
  ASSERT_EQ(S_OK, vtx::WriteWholeFile((dir_ / "e.vx-cnf").c_str(), "old", 3));
  chmod((dir_ / "e.vx-cnf").c_str(), 0644);
  EXPECT_EQ(S_OK, ExportConfiguration((dir_ / "e").c_str(), TRUE));
  EXPECT_EQ(ModeOf(dir_ / "e.vx-cnf"), 0600u);
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "e.vx-cnf"), vtxtest::ReadFile(dir_ / "a.vx-cnf"));
  expected.push_back("e.vx-cnf");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(dir_.path()), expected);  // no temporary file stays behind

  // A failed export keeps the old file.
  ASSERT_EQ(S_OK, vtx::WriteWholeFile((dir_ / "keep.vx-cnf").c_str(), "old", 3));
  ASSERT_TRUE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, kApp));
  EXPECT_EQ(ExportConfiguration((dir_ / "keep").c_str(), TRUE), 0x80070002u);
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "keep.vx-cnf"), "old");
  PutDword(u"", u"AutoUpdate", 1);
  EXPECT_EQ(ExportConfiguration((dir_ / "missing/x").c_str(), TRUE), 0x80070002u);
  EXPECT_EQ(ExportConfiguration(nullptr, TRUE), E_POINTER);
  EXPECT_EQ(ImportConfiguration(nullptr, TRUE), E_POINTER);
  EXPECT_EQ(ImportConfiguration((dir_ / "none").c_str(), TRUE), 0x80070002u);
  EXPECT_EQ(ImportConfiguration(dir_.path().c_str(), FALSE), E_ACCESSDENIED);  // a folder
}

// A link in the export's place gives way to a private file; what it pointed to stays as it was.
TEST_F(ConfigFile, AnExportOverALinkIsAPrivateFileOfItsOwn) {
  PutDword(u"", u"AutoUpdate", 1);
  const std::string target = dir_ / "target", link = dir_ / "l.vx-cnf";
  ASSERT_TRUE(vtxtest::WriteFile(target, "kept"));
  ASSERT_EQ(chmod(target.c_str(), 0644), 0);
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(S_OK, ExportConfiguration(link.c_str(), FALSE));
  struct stat st{};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(vtxtest::ReadFile(target), "kept");
  EXPECT_EQ(ModeOf(target), 0644u);
}

// A file named by another program's request is read and written with that program's rights: an
// account that may not write a folder gets no file there, and its file in its own folder is its own.
TEST_F(ConfigFile, TheCallersRightsDecideWhereItsFileGoes) {
  PutDword(u"", u"AutoUpdate", 1);
  const vtx::Account other{65534, 65534};  // nobody
  std::string closed = dir_ / "closed", open = dir_ / "open";
  ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(open.c_str(), other.uid, other.gid), 0);
  }
  EXPECT_EQ(ExportConfiguration((closed + "/x").c_str(), TRUE, &other), E_ACCESSDENIED);
  EXPECT_TRUE(FilesIn(closed).empty());
  if (geteuid() != 0) {
    // A program that is not root cannot act for another account: the request is refused.
    EXPECT_EQ(ExportConfiguration((open + "/y").c_str(), TRUE, &other), E_ACCESSDENIED);
    return;
  }
  ASSERT_EQ(ExportConfiguration((open + "/y").c_str(), TRUE, &other), S_OK);
  struct stat st;
  ASSERT_EQ(stat((open + "/y.vx-cnf").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, other.uid);
  EXPECT_EQ(ImportConfiguration((open + "/y").c_str(), TRUE, &other), S_OK);
  // A file only root may read is not read for the other account.
  ASSERT_EQ(ExportConfiguration((closed + "/z").c_str(), TRUE), S_OK);
  EXPECT_EQ(ImportConfiguration((closed + "/z").c_str(), TRUE, &other), E_ACCESSDENIED);
  // The program's own rights are back afterwards.
  EXPECT_EQ(ExportConfiguration((closed + "/w").c_str(), TRUE), S_OK);
}

TEST_F(ConfigFile, AFullConfigurationComesBackWhole) {
  // The machine's own values first, so that they keep their place through the import.
  PutSz(u"", u"Path", u"/opt/vantrex");
  PutSz(u"", u"Server", u"/opt/vantrex/vtxserver");
  PutSz(u"", u"Resources0409", u"/opt/vantrex/Resources/0409/vantrex.cat");
  PutDword(u"", u"WebServicePort", 8081);
  {
    CSettings s;
    ASSERT_TRUE(s.Create(nullptr));
    vtxtest::FillEverything(s);
    s.GetData()->OnlyUpdateExisting = 0;
    ASSERT_EQ(S_OK, Apply(s, "[General]\r\nSource = Bank\r\n[EUR]\r\nUSD = 1.0523\r\nJPY = 163.12\r\n"));
    ASSERT_EQ(S_OK, s.Save());
  }
  ASSERT_TRUE(IncrementUnitHits("USD"));
  // Values the settings never write, of every kind, and names outside any code page.
  Put(u"", u"", REG_SZ, Sz(u"default value"));
  Put(u"", u"W\u00e4hrung \u20ac \u4e2d", REG_BINARY, std::string("\0\1\xff", 3));
  Put(u"", u"List", REG_MULTI_SZ, Sz(u"a") + Sz(u"b") + Sz(u""));
  Put(u"", u"Big", REG_QWORD, std::string("\1\2\3\4\5\6\7\x8", 8));
  Put(u"", u"Large", REG_BINARY, std::string(300000, 'x'));
  PutSz(u"Deep\\Er\\\u00c9st", u"v", u"1");
  HKEY empty = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hulvane\\Vantrex\\4.0\\Empty", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &empty, nullptr));
  RegCloseKey(empty);
  const std::string before = Dump();
  ASSERT_EQ(S_OK, ExportConfiguration((dir_ / "full").c_str(), TRUE));
  const std::string exported = vtxtest::ReadFile(dir_ / "full.vx-cnf");

  // Another state: a stray value and key, a changed value, a missing key.
  PutSz(u"", u"Stray", u"x");
  PutSz(u"Servers\\9", u"URL", u"stray");
  PutDword(u"", u"AutoUpdate", 0);
  ASSERT_TRUE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hulvane\\Vantrex\\4.0\\INI"));
  ASSERT_NE(Dump(), before);

  ASSERT_EQ(S_OK, ImportConfiguration((dir_ / "full").c_str(), TRUE));
  EXPECT_EQ(Dump(), before);
  ASSERT_EQ(S_OK, ExportConfiguration((dir_ / "again").c_str(), TRUE));
  EXPECT_EQ(vtxtest::ReadFile(dir_ / "again.vx-cnf"), exported);  // the same records in the same order
  CSettings loaded;
  ASSERT_TRUE(loaded.Create(nullptr));
  EXPECT_STREQ(loaded.GetData()->ServerPassword.c_str(), "sp");
  EXPECT_EQ(Rate(loaded, "JPY"), 163.12);
}

TEST_F(ConfigFile, AnImportThatFailsMidwayLeavesTheKeyAsItWas) {
  PutSz(u"", u"Path", u"/opt/vantrex");
  PutDword(u"", u"AutoUpdate", 1);
  PutSz(u"Servers\\0", u"URL", u"file:/a.txt");
  PutSz(u"Servers\\1", u"URL", u"file:/b.txt");
  PutSz(u"Locales\\1031", u"Name", u"Deutsch");
  ASSERT_EQ(S_OK, ExportConfiguration((dir_ / "a").c_str(), TRUE));
  ASSERT_TRUE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hulvane\\Vantrex\\4.0\\Servers"));
  PutSz(u"Servers\\5", u"URL", u"file:/other.txt");
  PutSz(u"Hits", u"USD", u"7");
  PutSz(u"", u"Stray", u"x");
  PutDword(u"", u"AutoUpdate", 0);
  const std::string before = Dump();

  // Every allocation of the import fails in turn: each failure leaves the key exactly as it was.
  long failures = 0;
  for (long n = 0;; ++n) {
    vtx::heap::FailAfter(n);
    HRESULT hr = ImportConfiguration((dir_ / "a").c_str(), TRUE);
    vtx::heap::FailAfter(-1);
    if (hr == S_OK) break;
    ASSERT_EQ(hr, E_OUTOFMEMORY) << n;
    ASSERT_EQ(Dump(), before) << "after failing at allocation " << n;
    ++failures;
    ASSERT_LT(n, 10000);
  }
  EXPECT_GT(failures, 8);  // the walk failed inside the clearing and inside the writing
  EXPECT_EQ(Dump(),
            "|Path|1|/opt/vantrex\n"
            "|AutoUpdate|4|1\n"
            "/\n"
            "\\Locales/\n"
            "\\Locales\\1031|Name|1|Deutsch\n"
            "\\Locales\\1031/\n"
            "\\Servers/\n"
            "\\Servers\\0|URL|1|file:/a.txt\n"
            "\\Servers\\0/\n"
            "\\Servers\\1|URL|1|file:/b.txt\n"
            "\\Servers\\1/\n");
}

// An export over an old file and an import into a store with settings, each failing at every
// system call in turn: the file holds its old bytes or the whole new export, no temporary stays
// beside it, and a failed import leaves the settings as they were.
TEST_F(ConfigFile, ExportAndImportLeaveNothingHalfWhateverCallFails) {
  PutSz(u"", u"Path", u"/opt/vantrex");
  PutDword(u"", u"AutoUpdate", 1);
  PutSz(u"Servers\\0", u"URL", u"file:/a.txt");
  ASSERT_EQ(S_OK, ExportConfiguration((dir_ / "new").c_str(), TRUE));
  const std::string fresh = vtxtest::ReadFile(dir_ / "new.vx-cnf");
  PutSz(u"Servers\\0", u"URL", u"file:/b.txt");
  PutSz(u"Hits", u"USD", u"7");
  ASSERT_EQ(S_OK, ExportConfiguration((dir_ / "old").c_str(), TRUE));
  // The store as each file leaves it.
  ASSERT_EQ(S_OK, ImportConfiguration((dir_ / "new").c_str(), TRUE));
  const std::string after = Dump();
  ASSERT_EQ(S_OK, ImportConfiguration((dir_ / "old").c_str(), TRUE));
  const std::string before = Dump();
  ASSERT_NE(before, after);
  const std::string file = dir_ / "e.vx-cnf";

  for (bool sticky : {false, true}) {
    SCOPED_TRACE(sticky ? "full disk from there on" : "one call fails");
    vtxtest::WalkIoFaults<HRESULT>(
        [&] {
          ASSERT_TRUE(vtxtest::WriteFile(file, "old export"));
          ASSERT_EQ(chmod(file.c_str(), 0644), 0);
          ASSERT_EQ(S_OK, ImportConfiguration((dir_ / "old").c_str(), TRUE));
        },
        [&] { return ExportConfiguration(file.c_str(), FALSE); },
        [&](const vtxtest::IoFault&, const HRESULT& hr) {
          const std::string now = vtxtest::ReadFile(file);
          EXPECT_EQ(now, SUCCEEDED(hr) ? vtxtest::ReadFile(dir_ / "old.vx-cnf") : "old export");
          // A failed export leaves the old file as it was, its mode too.
          EXPECT_EQ(ModeOf(file), SUCCEEDED(hr) ? 0600u : 0644u);
          if (!sticky) {
            EXPECT_EQ(FilesIn(dir_.path()), (std::vector<std::string>{"e.vx-cnf", "new.vx-cnf", "old.vx-cnf"}));
          }
        },
        sticky ? ENOSPC : EIO, sticky);

    vtxtest::WalkIoFaults<HRESULT>(
        [&] { ASSERT_EQ(S_OK, ImportConfiguration((dir_ / "old").c_str(), TRUE)); },
        [&] { return ImportConfiguration((dir_ / "new").c_str(), TRUE); },
        [&](const vtxtest::IoFault&, const HRESULT& hr) {
          EXPECT_EQ(Dump(), SUCCEEDED(hr) ? after : before);
          EXPECT_EQ(vtxtest::ReadFile(dir_ / "new.vx-cnf"), fresh);
        },
        sticky ? ENOSPC : EIO, sticky);
  }
}

TEST_F(ConfigFile, AnotherMachinesFileKeepsThisMachinesOwnNames) {
  // This machine: its own values and its own "Logs" key, and a stray value and key.
  PutSz(u"", u"Path", u"/here");
  PutSz(u"", u"Server", u"/here/vtxserver");
  PutSz(u"", u"Resources0409", u"/here/en.cat");
  PutDword(u"", u"WebServicePort", 8081);
  PutSz(u"Logs", u"Keep", u"me");
  PutSz(u"", u"Stray", u"x");
  PutSz(u"Old", u"v", u"1");
  // The other machine's file (written by vxcnf.py) holds its own Path, Server, DisplayMessages,
  // Resources0407, resources0c0a, WEBSERVICEPORT, WebServiceSiteURL and a "Logs" key.
  std::string file = HexFixture("othermachine.vx-cnf.hex");
  ASSERT_EQ(S_OK, vtx::WriteWholeFile((dir_ / "other.vx-cnf").c_str(), file.data(), file.size()));
  ASSERT_EQ(S_OK, ImportConfiguration((dir_ / "other.vx-cnf").c_str(), TRUE));
  EXPECT_EQ(Dump(),
            "|Path|1|/here\n"
            "|Server|1|/here/vtxserver\n"
            "|Resources0409|1|/here/en.cat\n"
            "|WebServicePort|4|8081\n"
            "|AutoUpdate|4|1\n"
            "|BaseUnit|1|CHF\n"
            "/\n"
            "\\Logs|Keep|1|me\n"
            "\\Logs/\n"
            "\\Servers/\n"
            "\\Servers\\0|URL|1|https://rates.example/eur.xml\n"
            "\\Servers\\0/\n");
}

}  // namespace
