// The shared settings snapshot and the calls' hit counts.
#include "webservice/web/snapshot.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <string>
#include <thread>
#include <unordered_map>

#include "engine/currency/currencylocale.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "webservice/web/operations.h"

namespace {

// The current snapshot. Never destroyed: calls may still run while the process ends.
std::atomic<std::shared_ptr<const CSettingsSnapshot>>& TheCurrent() {
  static auto* const current = new std::atomic<std::shared_ptr<const CSettingsSnapshot>>();
  return *current;
}
std::timed_mutex g_reload;  // one reading of the store at a time in this process

[[noreturn]] void ThrowLoad(HRESULT hr) {
  char text[200];
  std::snprintf(text, sizeof text, "The Vantrex settings could not be loaded (0x%08X).", hr);
  throw WebException(hr == E_OUTOFMEMORY ? WebException::Kind::OutOfMemory : WebException::Kind::HResult, text, "",
                     hr);
}

}  // namespace

CSettingsSnapshot::~CSettingsSnapshot() {
  if (m_resources) FreeLibrary(m_resources);
}

std::shared_ptr<const CSettingsSnapshot> CSettingsSnapshot::Current() {
  if (std::shared_ptr<const CSettingsSnapshot> s = Published()) return s;
  // The published generation first: a commit it has not seen yet is one that this call began before.
  uint64_t generation = 0;
  const bool published = vtx::RegistryChangeGeneration(&generation);
  std::shared_ptr<const CSettingsSnapshot> s = TheCurrent().load(std::memory_order_acquire);
  // Without it, or once it moved, the store's own counter decides.
  uint64_t changes = 0;
  const bool counted = vtx::RegistryChangeCount(&changes) == ERROR_SUCCESS;
  auto fresh = [&](const std::shared_ptr<const CSettingsSnapshot>& s) {
    return s && counted && s->m_counted && s->m_changes == changes;
  };
  if (fresh(s)) {
    // Nothing changed since this generation was read: the next call needs no transaction.
    if (published) s->m_published.store(generation + 1, std::memory_order_release);
    return s;
  }
  // A call waits for another's reading no longer than it would wait for the settings lock itself.
  std::unique_lock<std::timed_mutex> reload(g_reload, std::defer_lock);
  if (!reload.try_lock_for(std::chrono::milliseconds(g_dwSettingsLockTimeoutMs))) ThrowLoad(E_TIMEOUT);
  // Another call may have read the store meanwhile.
  s = TheCurrent().load(std::memory_order_acquire);
  if (fresh(s)) return s;
  s = Read();
  TheCurrent().store(s, std::memory_order_release);
  return s;
}

std::shared_ptr<const CSettingsSnapshot> CSettingsSnapshot::Published() {
  uint64_t generation = 0;
  if (!vtx::RegistryChangeGeneration(&generation)) return nullptr;
  std::shared_ptr<const CSettingsSnapshot> s = TheCurrent().load(std::memory_order_acquire);
  if (s && s->m_counted && s->m_published.load(std::memory_order_acquire) == generation + 1) return s;
  return nullptr;
}

std::shared_ptr<const CSettingsSnapshot> CSettingsSnapshot::Read() {
  // The settings come from the store whether or not a catalogue loads; a store that cannot be read
  // ends the call before anything is decided from defaults.
  HKEY key = nullptr;
  LSTATUS st = RegOpenKeyExA(HKEY_LOCAL_MACHINE, g_szAppKey, 0, KEY_READ, &key);
  if (st != ERROR_SUCCESS) ThrowLoad(HRESULT_FROM_WIN32(st));
  RegCloseKey(key);
  auto snapshot = std::make_shared<CSettingsSnapshot>();
  snapshot->m_resources = LoadResourceLibrary(g_szAppKey);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, g_szSettingsMutex);
  DWORD wait = mutex ? WaitForSingleObject(mutex, g_dwSettingsLockTimeoutMs) : WAIT_FAILED;
  HRESULT hr = S_OK;
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    // The generation and the counter before the data: a change committed in between is read with
    // the data but makes the next call read again, never the other way round.
    uint64_t generation = 0;
    if (vtx::RegistryChangeGeneration(&generation)) snapshot->m_published.store(generation + 1, std::memory_order_relaxed);
    snapshot->m_counted = vtx::RegistryChangeCount(&snapshot->m_changes) == ERROR_SUCCESS;
    CSettings& settings = snapshot->m_settings;
    if (!settings.Create(snapshot->m_resources)) {
      hr = E_OUTOFMEMORY;
    } else {
      // What the calls would otherwise fill in on first use, while they share the settings.
      // The system default locale, which calls without a locale ask for, beside the list's own.
      if (CCurrencyLocaleList* list = settings.GetLocaleList()) list->GetLocale(LOCALE_SYSTEM_DEFAULT);
      settings.IsEuroCurrency("DEM");
      snapshot->m_separator = ::GetSeparator();
    }
    ReleaseMutex(mutex);
  } else {
    hr = wait == WAIT_TIMEOUT ? E_TIMEOUT : HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_INTERNAL_ERROR);
  }
  if (mutex) CloseHandle(mutex);
  if (FAILED(hr)) ThrowLoad(hr);
  return snapshot;
}

CallLocale::CallLocale(CSettings& settings, LCID lcid) {
  const CCurrencyLocaleList* list = settings.GetLocaleList();
  if (!list) return;
  CCurrencyLocale* shared = list->Find(lcid);
  if (shared && shared->IsCreated()) {
    m_locale = shared;
    return;
  }
  m_own.reset(vtx::heap::New<CCurrencyLocale>(lcid));
  if (m_own && (list->IsResetMode() ? m_own->ResetList() : m_own->Create() == 0)) m_locale = m_own.get();
}

// ---------------------------------------------------------------------------------------------
// Hit counts: summed per code in shards, so that calls on different threads seldom meet on a lock.

namespace {

constexpr unsigned kShards = 16;

struct alignas(64) Shard {
  std::mutex lock;
  std::unordered_map<std::string, uint64_t> counts;
};
Shard g_shards[kShards];
std::atomic<unsigned> g_nextShard{0};

std::mutex g_handOver;                               // one hand-over at a time
std::unordered_map<std::string, uint64_t> g_kept;  // what the server has not taken yet

std::mutex g_senderLock;
std::condition_variable g_senderWake;
bool g_senderStop = false;
std::thread g_sender;

Shard& MyShard() {
  thread_local unsigned index = g_nextShard.fetch_add(1, std::memory_order_relaxed) % kShards;
  return g_shards[index];
}

// The first four characters of the code, the first in the low byte.
WPARAM Packed(const std::string& code) {
  uint32_t packed = 0;
  for (size_t k = 0; k < 4 && k < code.size(); ++k)
    packed |= static_cast<uint32_t>(static_cast<unsigned char>(code[k])) << (8 * k);
  return packed;
}

}  // namespace

void CountHit(const char* code) {
  if (!code || !*code) return;
  Shard& shard = MyShard();
  std::lock_guard<std::mutex> lock(shard.lock);
  ++shard.counts[code];
}

HRESULT SendHitCounts() {
  std::lock_guard<std::mutex> handOver(g_handOver);
  for (Shard& shard : g_shards) {
    std::unordered_map<std::string, uint64_t> taken;
    {
      std::lock_guard<std::mutex> lock(shard.lock);
      taken.swap(shard.counts);
    }
    for (const auto& [code, n] : taken) g_kept[code] += n;
  }
  if (g_kept.empty()) return S_OK;
  if (!g_pfnSendVXVMessageTimeout) {
    g_kept.clear();
    return E_SERVER_UNAVAILABLE;
  }
  for (auto it = g_kept.begin(); it != g_kept.end();) {
    uint64_t& left = it->second;
    while (left) {
      const DWORD n = left > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(left);
      DWORD answer = 0;
      // lParam 0 means one use, as every sender of single counts has always sent it.
      HRESULT hr = g_pfnSendVXVMessageTimeout(WM_VX_COUNTHIT, Packed(it->first), n == 1 ? 0 : n, kHitCountTimeoutMs,
                                              &answer);
      if (hr == E_SERVER_UNAVAILABLE) {
        g_kept.clear();
        return hr;
      }
      // One failure ends the round: a server that does not answer costs one time-out per round.
      if (FAILED(hr)) return hr;
      if (answer != 1) break;  // a code the server does not count
      left -= n;
    }
    it = g_kept.erase(it);
  }
  return S_OK;
}

void StartHitSender() {
  std::lock_guard<std::mutex> lock(g_senderLock);
  if (g_sender.joinable()) return;
  g_senderStop = false;
  g_sender = std::thread([] {
    std::unique_lock<std::mutex> lock(g_senderLock);
    while (!g_senderStop) {
      g_senderWake.wait_for(lock, std::chrono::milliseconds(kHitSendPeriodMs), [] { return g_senderStop; });
      if (g_senderStop) break;
      lock.unlock();
      SendHitCounts();
      lock.lock();
    }
  });
}

void StopHitSender() {
  std::thread sender;
  {
    std::lock_guard<std::mutex> lock(g_senderLock);
    g_senderStop = true;
    sender.swap(g_sender);
  }
  g_senderWake.notify_all();
  if (sender.joinable()) sender.join();
  SendHitCounts();
}
