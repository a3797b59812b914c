// The settings operations that run when the web service reads the store again and after every
// update: loading a full configuration with all 237 currencies active, storing those rates, and
// copying the block; beside them, SQLite itself reading the same rows that Load reads and
// rewriting the rows that SaveINI rewrites, on its own connection to the same store.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/currency/currencydata.h"
#include "engine/currency/ratesdata.h"
#include "engine/currency/settings.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/inidataregistry.h"
#include "platform/native/productpaths.h"
#include "platform/registry.h"

namespace {

std::string g_dir;

// Every currency of the built-in table at a rate of its own.
std::string FullRatesFile() {
  std::string text = "[General]\nApplication = Bench\nSource = Bench\nDate = 2026-12-10T14:15:00Z\n[EUR]\n";
  for (uint32_t i = 0; i < kCurrencyDataCount; ++i) {
    char rate[32];
    std::snprintf(rate, sizeof rate, " = %.4f\n", 1.0 + i * 0.731);
    text += std::string(g_CurrencyData[i].szCode) + rate;
  }
  return text;
}

HRESULT Apply(CSettings& s, const std::string& text, bool stored) {
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str()) || ini.Load(g_IniTable, kIniTableCount) != 0) return E_FAIL;
  s.LoadINIBegin();
  HRESULT hr = s.LoadINI(ini, nullptr, nullptr, stored);
  if (hr == 0) s.LoadINIEnd();
  return hr;
}

// A store holding a whole configuration: every value, the currency database, the locales and the
// rates of all currencies.
void MakeStore() {
  char tmpl[] = "/tmp/vtx-bench-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  g_dir = tmpl;
  setenv(vtx::env::kRegistry, (g_dir + "/registry.db").c_str(), 1);
  setenv(vtx::env::kRuntimeDir, g_dir.c_str(), 1);
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  s.GetData()->OnlyUpdateExisting = 0;
  s.GetData()->ProxyPassword = "secret";
  s.GetData()->CustomAction = "after.sh";
  if (Apply(s, FullRatesFile(), false) != 0 || !s.GetLocaleList() || s.Save() != 0) std::abort();
}

void BM_Load(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  for (auto _ : state) {
    s.Load(false);
    benchmark::DoNotOptimize(s.GetRates().Active.GetCount());
  }
  if (s.GetRates().Active.GetCount() != kCurrencyDataCount) state.SkipWithError("not all currencies loaded");
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// What a web-service session does: a new block, loaded under the lock.
void BM_CreateUnderLock(benchmark::State& state) {
  for (auto _ : state) {
    CSettingsAccess lock;
    CSettings s;
    if (!s.Create(nullptr)) std::abort();
    benchmark::DoNotOptimize(s.GetData());
  }
}
BENCHMARK(BM_CreateUnderLock)->Unit(benchmark::kMillisecond);

void BM_SaveINI(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  for (auto _ : state)
    if (s.SaveINI() != 0) state.SkipWithError("SaveINI failed");
}
BENCHMARK(BM_SaveINI)->Unit(benchmark::kMillisecond);

// Applying a fresh download of all currencies.
void BM_LoadINI(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  const std::string text = FullRatesFile();
  CIniDataBuffer<char> ini;
  if (!ini.SetBuffer(text.c_str()) || ini.Load(g_IniTable, kIniTableCount) != 0) std::abort();
  for (auto _ : state) {
    s.LoadINIBegin();
    if (s.LoadINI(ini, nullptr, nullptr, false) != 0) state.SkipWithError("LoadINI failed");
    s.LoadINIEnd();
  }
}
BENCHMARK(BM_LoadINI)->Unit(benchmark::kMicrosecond);

void BM_CopyFrom(benchmark::State& state) {
  CSettings s, t;
  if (!s.Create(nullptr)) std::abort();
  for (auto _ : state)
    if (!t.CopyFrom(s)) state.SkipWithError("CopyFrom failed");
}
BENCHMARK(BM_CopyFrom)->Unit(benchmark::kMicrosecond);

void BM_CopyFromWithLocales(benchmark::State& state) {
  CSettings s, t;
  if (!s.Create(nullptr) || !s.GetLocaleList()) std::abort();
  for (auto _ : state)
    if (!t.CopyFrom(s)) state.SkipWithError("CopyFrom failed");
}
BENCHMARK(BM_CopyFromWithLocales)->Unit(benchmark::kMicrosecond);


// Where a load's time goes: the currency database, reading the stored rates key, applying it.
void BM_LoadPart_Currencies(benchmark::State& state) {
  CAllCurrencies c;
  for (auto _ : state)
    if (c.Create(false) != 0) state.SkipWithError("database not loaded from the store");
}
BENCHMARK(BM_LoadPart_Currencies)->Unit(benchmark::kMillisecond);

void BM_LoadPart_RatesKey(benchmark::State& state) {
  for (auto _ : state) {
    CIniDataRegistry<char> ini;
    if (!ini.SetBaseKey(HKEY_LOCAL_MACHINE, g_szIniKey) || ini.Load(g_IniTable, kIniTableCount) != 0)
      state.SkipWithError("rates key not loaded");
  }
}
BENCHMARK(BM_LoadPart_RatesKey)->Unit(benchmark::kMillisecond);

void BM_LoadPart_StoredRates(benchmark::State& state) {
  CSettings s;
  if (!s.Create(nullptr)) std::abort();
  CIniDataRegistry<char> ini;
  if (!ini.SetBaseKey(HKEY_LOCAL_MACHINE, g_szIniKey) || ini.Load(g_IniTable, kIniTableCount) != 0) std::abort();
  for (auto _ : state) {
    s.GetRates().Active.Empty();
    s.LoadINIBegin();
    if (s.LoadINI(ini, nullptr, nullptr, true) != 0) state.SkipWithError("LoadINI failed");
    s.LoadINIEnd();
  }
}
BENCHMARK(BM_LoadPart_StoredRates)->Unit(benchmark::kMillisecond);

// ---- SQLite alone, on the same store -----------------------------------------------------------

sqlite3* RawStore() {
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    if (sqlite3_open_v2(vtx::RegistryStorePath(), &d, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) std::abort();
    sqlite3_busy_timeout(d, 30000);
    return d;
  }();
  return db;
}

// The id of a key below a parent, by its stored (upper-case, big-endian UTF-16) fold.
int64_t Child(sqlite3* db, int64_t parent, const std::string& name) {
  std::string fold;
  for (char c : name) {
    fold += '\0';
    fold += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE parent = ? AND fold = ?", -1, &s, nullptr);
  sqlite3_bind_int64(s, 1, parent);
  sqlite3_bind_blob(s, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_TRANSIENT);
  int64_t id = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
  sqlite3_finalize(s);
  return id;
}

int64_t AppKey(sqlite3* db) {
  int64_t id = 2;  // HKEY_LOCAL_MACHINE
  for (const char* part : {"SOFTWARE", "Hulvane", "Vantrex", "4.0"}) id = Child(db, id, part);
  return id;
}

// The rows Load reads: the application key's values and the "INI", "AllCurrencies" and "Servers"
// keys with all that lies below them, in one read transaction.
void BM_RawReadOfLoadRows(benchmark::State& state) {
  sqlite3* db = RawStore();
  const int64_t app = AppKey(db);
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db,
                         "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent ="
                         " t.id WHERE t.id <> ?1 OR k.fold IN (X'0049004E0049', X'0041004C004C00430055005200520045004E"
                         "0043004900450053', X'0053004500520056004500520053'))"
                         " SELECT k.name, v.name, v.type, v.data FROM t JOIN keys k ON k.id = t.id"
                         " JOIN vals v ON v.key = t.id",
                         -1, &s, nullptr) != SQLITE_OK)
    std::abort();
  size_t rows = 0, bytes = 0;
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_bind_int64(s, 1, app);
    rows = bytes = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      ++rows;
      bytes += static_cast<size_t>(sqlite3_column_bytes(s, 0) + sqlite3_column_bytes(s, 1) + sqlite3_column_bytes(s, 3));
      benchmark::DoNotOptimize(sqlite3_column_blob(s, 3));
    }
    sqlite3_reset(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(s);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RawReadOfLoadRows)->Unit(benchmark::kMillisecond);

// The rows SaveINI rewrites: "LastSaved" and the "INI" key with its sections and values, deleted and
// inserted again in one write transaction.
void BM_RawRewriteOfSaveINIRows(benchmark::State& state) {
  sqlite3* db = RawStore();
  const int64_t app = AppKey(db);
  struct Row {
    std::string key, name, fold, data;
    int type;
  };
  struct Key {
    std::string name, fold;
    std::vector<Row> values;
  };
  std::vector<Key> keys;
  {
    const int64_t ini = Child(db, app, "INI");
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT k.id, k.name, k.fold, v.name, v.fold, v.type, v.data FROM keys k LEFT JOIN vals v ON"
                       " v.key = k.id WHERE k.id = ?1 OR k.parent = ?1 ORDER BY k.id, v.id",
                       -1, &s, nullptr);
    sqlite3_bind_int64(s, 1, ini);
    int64_t last = -1;
    auto text = [&](int i) {
      return std::string(static_cast<const char*>(sqlite3_column_blob(s, i)) ? static_cast<const char*>(sqlite3_column_blob(s, i)) : "",
                         static_cast<size_t>(sqlite3_column_bytes(s, i)));
    };
    while (sqlite3_step(s) == SQLITE_ROW) {
      if (sqlite3_column_int64(s, 0) != last) {
        last = sqlite3_column_int64(s, 0);
        keys.push_back({text(1), text(2), {}});
      }
      if (sqlite3_column_type(s, 3) != SQLITE_NULL) keys.back().values.push_back({"", text(3), text(4), text(6), sqlite3_column_int(s, 5)});
    }
    sqlite3_finalize(s);
  }
  sqlite3_stmt *insKey = nullptr, *insVal = nullptr, *stamp = nullptr, *del = nullptr, *delKeys = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO keys(parent, name, fold, written) VALUES(?, ?, ?, 0)", -1, &insKey, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?)", -1, &insVal, nullptr);
  // "LastSaved": UTF-16LE name, big-endian upper-case fold.
  std::string stampName, stampFold;
  for (char c : std::string("LastSaved")) {
    stampName += c;
    stampName += '\0';
    stampFold += '\0';
    stampFold += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  sqlite3_prepare_v2(db,
                     "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?3, ?4, 3, ?2) ON CONFLICT(key, fold)"
                     " DO UPDATE SET data = excluded.data",
                     -1, &stamp, nullptr);
  sqlite3_bind_blob(stamp, 3, stampName.data(), static_cast<int>(stampName.size()), SQLITE_STATIC);
  sqlite3_bind_blob(stamp, 4, stampFold.data(), static_cast<int>(stampFold.size()), SQLITE_STATIC);
  const char* subtree = "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent = t.id)";
  sqlite3_prepare_v2(db, (std::string(subtree) + " DELETE FROM vals WHERE key IN (SELECT id FROM t)").c_str(), -1, &del,
                     nullptr);
  sqlite3_prepare_v2(db, (std::string(subtree) + " DELETE FROM keys WHERE id IN (SELECT id FROM t)").c_str(), -1,
                     &delKeys, nullptr);
  auto run = [](sqlite3_stmt* st) {
    sqlite3_step(st);
    sqlite3_reset(st);
  };
  size_t rows = 0;
  for (auto _ : state) {
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    const int64_t ini = Child(db, app, "INI");
    int64_t now = 1;
    sqlite3_bind_int64(stamp, 1, app);
    sqlite3_bind_blob(stamp, 2, &now, sizeof now, SQLITE_STATIC);
    run(stamp);
    sqlite3_bind_int64(del, 1, ini);
    run(del);
    sqlite3_bind_int64(delKeys, 1, ini);
    run(delKeys);
    int64_t base = 0;
    rows = 0;
    for (const Key& k : keys) {
      sqlite3_bind_int64(insKey, 1, base ? base : app);
      sqlite3_bind_blob(insKey, 2, k.name.data(), static_cast<int>(k.name.size()), SQLITE_STATIC);
      sqlite3_bind_blob(insKey, 3, k.fold.data(), static_cast<int>(k.fold.size()), SQLITE_STATIC);
      run(insKey);
      const int64_t id = sqlite3_last_insert_rowid(db);
      if (!base) base = id;
      for (const Row& v : k.values) {
        sqlite3_bind_int64(insVal, 1, id);
        sqlite3_bind_blob(insVal, 2, v.name.data(), static_cast<int>(v.name.size()), SQLITE_STATIC);
        sqlite3_bind_blob(insVal, 3, v.fold.data(), static_cast<int>(v.fold.size()), SQLITE_STATIC);
        sqlite3_bind_int(insVal, 4, v.type);
        sqlite3_bind_blob(insVal, 5, v.data.data(), static_cast<int>(v.data.size()), SQLITE_STATIC);
        run(insVal);
        ++rows;
      }
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) state.SkipWithError("commit failed");
  }
  for (sqlite3_stmt* st : {insKey, insVal, stamp, del, delKeys}) sqlite3_finalize(st);
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_RawRewriteOfSaveINIRows)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  MakeStore();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
