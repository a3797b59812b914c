// What the calls of one process answer from: one immutable snapshot of the settings and rates,
// shared by the calls and replaced when the store has changed since it was read; and the calls' hit
// counts, summed in memory and handed to the server in the background.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "engine/currency/settings.h"
#include "platform/types.h"

class CSettingsSnapshot {
 public:
  CSettingsSnapshot() = default;
  ~CSettingsSnapshot();
  CSettingsSnapshot(const CSettingsSnapshot&) = delete;
  CSettingsSnapshot& operator=(const CSettingsSnapshot&) = delete;

  // The settings and rates as stored when the snapshot was read. The calls share them and only read
  // them: the locale list and each of its locales are created already, and a locale that the list
  // lacks is made for the call that asks for it (CallLocale), never added to the list.
  CSettings& GetSettings() const { return m_settings; }
  // The catalogue as registered then; null when none loaded.
  HMODULE GetResources() const { return m_resources; }
  // The list separator ("Separator") as stored then.
  char16_t GetSeparator() const { return m_separator; }

  // The snapshot for a call that begins now: the current one while the store's published change
  // generation, or else its change counter, stands where it stood when that one was read (the
  // generation costs a load from shared memory, the counter a read transaction), else a new one, read under the settings lock
  // (waited for at most g_dwSettingsLockTimeoutMs). Throws WebException when the settings cannot
  // be read.
  static std::shared_ptr<const CSettingsSnapshot> Current();
  // The current snapshot when the published generation shows it current, which costs no lock, no
  // transaction and no system call; else null, and Current may have to read the store.
  static std::shared_ptr<const CSettingsSnapshot> Published();

 private:
  static std::shared_ptr<const CSettingsSnapshot> Read();

  mutable CSettings m_settings;
  HMODULE m_resources = nullptr;
  char16_t m_separator = u';';
  // The change counter read before the settings; without one the snapshot serves no second call.
  uint64_t m_changes = 0;
  bool m_counted = false;
  // One more than the published generation under which the store last read as m_changes; 0: none.
  mutable std::atomic<uint64_t> m_published{0};
};

// A currency locale for one call: the shared list's own when the list holds it, else one made for
// this call alone, so that calls only ever read the list. Null when none can be made.
class CallLocale {
 public:
  CallLocale(CSettings& settings, LCID lcid);
  CallLocale(const CallLocale&) = delete;
  CallLocale& operator=(const CallLocale&) = delete;
  CCurrencyLocale* get() const { return m_locale; }

 private:
  CCurrencyLocale* m_locale = nullptr;
  std::unique_ptr<CCurrencyLocale> m_own;
};

// Hit counts.
// The server's answer waits this long; the counts are handed over this often.
constexpr DWORD kHitCountTimeoutMs = 2000;
constexpr DWORD kHitSendPeriodMs = 250;
// One use of a currency: its code as the active list holds it.
void CountHit(const char* code);
// Hands the summed counts to the server now (WM_VX_COUNTHIT with the count in lParam, through
// g_pfnSendVXVMessageTimeout). Counts that the server did not take stay for the next time, except
// when no server runs (0x8007053D, or no way to reach one): then nobody counts them and they go.
// S_OK when nothing is left, else the failure that stopped the hand-over.
HRESULT SendHitCounts();
// The background hand-over of the counts, every kHitSendPeriodMs. StopHitSender ends it and hands
// over what is left.
void StartHitSender();
void StopHitSender();
