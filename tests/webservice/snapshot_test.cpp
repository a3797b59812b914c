// The settings snapshot that the calls of a process share: a call that begins after a commit sees
// it, whoever made it, and a snapshot is never seen half replaced.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/foundation/inidatabuffer.h"
#include "tests/support/paths.h"
#include "tests/webservice/web_fixture.h"

using namespace vtxtest;
using Hulvane::Web::Services::Vantrex;

namespace {

class Snapshot : public WebTest {
 public:
  static double UsdPerEuro() {
    return Vantrex().ConvertToNum(M("k"), M("EUR"), M("USD"), 1, false, M(nullptr), M(nullptr));
  }
  // Stores rates as the server does after an update: a load of its own, the new file, SaveINI.
  static HRESULT StoreRates(const std::string& text) {
    CSettings s;
    if (!s.Create(nullptr)) return E_OUTOFMEMORY;
    CIniDataBuffer<char> ini;
    if (!ini.SetBuffer(text.c_str()) || ini.Load(g_IniTable, kIniTableCount) != 0) return E_FAIL;
    s.LoadINIBegin();
    HRESULT hr = s.LoadINI(ini, nullptr, nullptr, false);
    if (hr) return hr;
    s.LoadINIEnd();
    return s.SaveINI();
  }
  static std::string Rates(double usd) {
    char text[200];
    std::snprintf(text, sizeof text, "[General]\nSource = Test bank\n[EUR]\nUSD = %.6f\nGBP = %.6f\nJPY = 160\n",
                  usd, 2 * usd);
    return text;
  }
};

// Commits by each kind of writer, each seen by the next call.
void CommitsAreSeen(const std::string& folder) {
  EXPECT_DOUBLE_EQ(Snapshot::UsdPerEuro(), 1.25);
  struct Writer {
    const char* who;
    std::function<void()> commit;
    double usd;  // what the next call sees
  };
  const std::vector<Writer> writers = {
      {"the server's store of an update, in another process",
       [] {
         pid_t pid = fork();
         if (pid == 0) _exit(Snapshot::StoreRates(Snapshot::Rates(1.5)) == S_OK ? 0 : 1);
         int status = -1;
         waitpid(pid, &status, 0);
         ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
       },
       1.5},
      {"a raw write of one stored rate",
       [] {
         HKEY key = nullptr;
         ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, VTX_APP_KEY "\\INI\\EUR", 0, KEY_ALL_ACCESS, &key));
         const char rate[] = "1.75\0";
         ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "USD", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(rate),
                                                 sizeof rate));
         RegCloseKey(key);
       },
       1.75},
      {"a raw write of the whole rates key in one transaction",
       [] {
         vtx::RegTransaction tx;
         ASSERT_EQ(Snapshot::StoreRates(Snapshot::Rates(2.0)), S_OK);
         ASSERT_EQ(ERROR_SUCCESS, tx.Commit());
       },
       2.0},
  };
  for (const Writer& w : writers) {
    w.commit();
    EXPECT_DOUBLE_EQ(Snapshot::UsdPerEuro(), w.usd) << w.who;
  }

  // vtxsetup registers a data source: the next call's settings hold it. It asks for a product folder
  // with a server program and the source's filter definition.
  std::string program = Program("vtxsetup");
  std::string source = "file:///nowhere/rates.html", filter = "eurfeed.ini";
  mkdir(folder.c_str(), 0755);
  mkdir((folder + "/Filters").c_str(), 0755);
  std::ofstream(folder + "/Filters/" + filter) << std::ifstream(SourcePath("resources/filters/" + filter)).rdbuf();
  std::ofstream(folder + "/vtxserver") << "#!/bin/sh\n";
  chmod((folder + "/vtxserver").c_str(), 0755);
  const char* argv[] = {program.c_str(), folder.c_str(), "--source", source.c_str(), filter.c_str(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(0, posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ)) << program;
  int status = -1;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CVantrexSession session;
  const CDataSourceList& sources = session.GetSettings().GetData()->Sources;
  ASSERT_EQ(sources.GetCount(), 1u);
  EXPECT_STREQ(sources[0]->GetURL(), source.c_str());
}

TEST_F(Snapshot, ACallThatBeginsAfterACommitSeesIt) {
  // The generation that writers publish beside the store moves with each commit.
  uint64_t before = 0, after = 0;
  ASSERT_TRUE(vtx::RegistryChangeGeneration(&before));
  CommitsAreSeen(WebDir() / "product");
  ASSERT_TRUE(vtx::RegistryChangeGeneration(&after));
  EXPECT_GE(after - before, 4u);
}

// Without the published generation (here its place is taken, so nobody can make it) the store's own
// counter decides, and a commit is seen all the same.
TEST_F(Snapshot, ACallThatBeginsAfterACommitSeesItWithoutTheSharedCounter) {
  PrivateStore store;
  ASSERT_EQ(0, mkdir((store.registry() + "-changes").c_str(), 0755));
  SeedStore();
  uint64_t generation = 0;
  EXPECT_FALSE(vtx::RegistryChangeGeneration(&generation));
  CommitsAreSeen(store / "product");
  EXPECT_FALSE(vtx::RegistryChangeGeneration(&generation));
}

TEST_F(Snapshot, UnchangedStoreIsReadOnce) {
  std::shared_ptr<const CSettingsSnapshot> first = CSettingsSnapshot::Current();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(CSettingsSnapshot::Current(), first);
  // Hit counts and reads are no change; a write is.
  ASSERT_TRUE(SetUnitHits("USD", 3));
  EXPECT_EQ(CSettingsSnapshot::Current(), first);
  SetString("Separator", "|");
  std::shared_ptr<const CSettingsSnapshot> second = CSettingsSnapshot::Current();
  EXPECT_NE(second, first);
  EXPECT_EQ(second->GetSeparator(), u'|');
  EXPECT_EQ(first->GetSeparator(), u';');  // a call that holds the old one keeps it whole
}

// Threads call while another commits new rates in a loop. Every rates file keeps GBP at twice USD,
// so a call that mixed two snapshots would see another ratio; a call that begins after a commit
// sees that commit's rates or newer ones.
TEST_F(Snapshot, NeverSeenHalfReplaced) {
  std::atomic<bool> stop{false};
  std::atomic<int> committed{0};  // the highest commit number stored so far
  std::atomic<long> calls{0}, wrong{0};
  auto usdOf = [](int commit) { return 1.0 + commit * 0.001; };
  ASSERT_EQ(StoreRates(Rates(usdOf(0))), S_OK);
  std::vector<std::thread> callers;
  for (int t = 0; t < 6; ++t)
    callers.emplace_back([&] {
      Vantrex v;
      while (!stop) {
        int before = committed.load();
        try {
          double ratio = v.ConvertToNum(M("k"), M("USD"), M("GBP"), 1, false, M(nullptr), M(nullptr));
          double usd = v.ConvertToNum(M("k"), M("EUR"), M("USD"), 1, false, M(nullptr), M(nullptr));
          if (std::fabs(ratio - 2.0) > 1e-12 || usd < usdOf(before) - 1e-9) ++wrong;
        } catch (const WebException& e) {
          ADD_FAILURE() << e.what();
          ++wrong;
        }
        ++calls;
      }
    });
  for (int i = 1; i <= 60; ++i) {
    ASSERT_EQ(StoreRates(Rates(usdOf(i))), S_OK);
    committed = i;
    EXPECT_DOUBLE_EQ(UsdPerEuro(), usdOf(i));
  }
  stop = true;
  for (auto& t : callers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(calls.load(), 60);
}

}  // namespace
