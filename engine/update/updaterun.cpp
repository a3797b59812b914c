#include "engine/update/updaterun.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

#include "engine/currency/update.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/stringutil.h"
#include "engine/notify/notifychannels.h"
#include "engine/update/definitions.h"
#include "engine/update/ratechecks.h"
#include "engine/update/useragent.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/inet.h"
#include "platform/resources.h"
#include "platform/sync.h"
#include "platform/systime.h"


using vtx::update::CheckFlags;
using vtx::update::FindRecord;
using vtx::update::Record;

static_assert(static_cast<uint32_t>(FetchLogCount) == static_cast<uint32_t>(RunLogListCount),
              "the fetch fills the thread's run log lists one to one");

namespace {

constexpr UINT kCaptionRates = 32;
constexpr UINT kCaptionError = 81;
constexpr int kCaptionMax = 500;

enum : UINT {
  kMsgBadLine = 82,
  kMsgNoInternet = 85,
  kMsgNoDialUp = 86,
  kMsgPartialData = 94,
  kMsgFixedRates = 98,
  kMsgModemWithoutEntry = 107,
  kMsgNoSource = 108,
  kMsgFetchFailed = 110,
  kMsgUnmatched = 113,
  kMsgNothingSetKept = 140,
  kMsgNothingSet = 141,
  kMsgFluctuation = 213,
  kMsgFluctuationError = 214,
  kMsgNoSourceName = 416,
  kMsgNextSource = 426,
  kMsgAllSourcesFailed = 427,
  kMsgCrossCheck = 430,
  kMsgCrossCheckError = 431,
  kMsgMissing = 432,
  kMsgMissingError = 433,
  kMsgRatesLost = 3453,
};

struct LocalText {
  char* p = nullptr;
  ~LocalText() {
    if (p) LocalFree(p);
  }
};

}  // namespace

namespace vtx::update {

std::string Joined(const std::string& items, HMODULE module) {
  LocalText joined{FormatItems(items.c_str(), 96, 97, module)};
  if (joined.p) return joined.p;
  std::string out;
  for (char c : items) out += c == '\t' ? std::string(", ") : std::string(1, c);
  return out;
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", hr);
  return text;
}

std::string SystemText(HRESULT hr) {
  const char* text = vtx::SystemErrorText(hr);
  if (!text || !*text) return Hex(hr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
  return s;
}

}  // namespace vtx::update

namespace {

using vtx::update::Joined;
using vtx::update::SystemText;

// Collecting of run messages off for one scope, then as it was.
class CollectingOff {
 public:
  explicit CollectingOff(CUpdateThread& t) : t_(t), was_(t.IsCollectingOff()) { t_.SetCollectingOff(true); }
  ~CollectingOff() { t_.SetCollectingOff(was_); }

 private:
  CUpdateThread& t_;
  bool was_;
};

// Splits at "|"; an empty text is one empty part.
std::vector<std::string> SplitBars(const char* text) {
  std::vector<std::string> parts(1);
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '|')
      parts.emplace_back();
    else
      parts.back() += *p;
  }
  return parts;
}

bool OnlyBars(const char* text) {
  for (const char* p = text ? text : ""; *p; ++p)
    if (*p != '|') return false;
  return true;
}

bool CopyRecords(const CStringList<char>& from, CStringList<char>& to) {
  to.Empty();
  for (char* block : from)
    if (!to.Add(block, kListAppend, sizeof(CurrencyInfo))) return false;
  return true;
}

// One update run on the thread's settings copy.
class UpdateRunner {
 public:
  UpdateRunner(CUpdateEngine& engine, CUpdateThread& thread, CUpdateSettings& settings)
      : m_engine(engine), m_thread(thread), m_update(settings), m_settings(settings.Get()),
        m_module(thread.GetResourceLibrary()) {}

  HRESULT Execute();

 private:
  CSettingsData& Data() const { return *m_settings.GetData(); }
  CRatesData& Rates() const { return m_settings.GetRates(); }

  void Say(UINT textId, UINT captionId, UINT type, std::initializer_list<FormatInsert> inserts = {}) {
    std::string text = FormatString(m_module, textId, inserts);
    std::string caption = LoadText(m_module, captionId, kCaptionMax);
    if (text.empty() || caption.empty()) return;
    m_thread.Notify(m_thread.GetOwner(), text.c_str(), caption.c_str(), type, m_module);
  }
  void SayText(const char* text, UINT captionId, UINT type) {
    std::string caption = LoadText(m_module, captionId, kCaptionMax);
    m_thread.Notify(m_thread.GetOwner(), text, caption.c_str(), type, m_module);
  }

  HRESULT FetchAll();
  HRESULT FetchOne(int32_t index);
  void CountSource();
  HRESULT MergeTexts(const CStringA& source, const CStringA& copyright, const CStringA& message, bool first);
  void RecheckFluctuation();
  HRESULT CrossCheck();
  void EndLoad();
  void ReportSourceMessage();
  void ReportError(HRESULT hr);
  std::string FailureReason(HRESULT hr);
  std::string ConnectionOrSystemText(HRESULT hr);
  HRESULT CheckData();
  bool NotifyFlagged(UINT textId, UINT captionId, UINT type);
  void CheckUnknownCodes();
  void Warn();
  void WarnLostRates();

  CUpdateEngine& m_engine;
  CUpdateThread& m_thread;
  CUpdateSettings& m_update;
  CSettings& m_settings;
  HMODULE m_module;
  CINetConnection m_connection;
  FetchContext m_context;
  std::unique_ptr<CSettings> m_backup;
  std::vector<std::unique_ptr<CStringList<char>>> m_perSource;
  CStringA m_previousMessage;
  bool m_floated = false;
  uint32_t m_sourceCount = 0;
  uint32_t m_mode = 0;
  uint32_t m_fetched = 0;  // successful fetches whose texts were merged
  std::string m_missing;
  uint32_t m_missingCount = 0;
  bool m_warnNothingSet = false;
  std::vector<std::string> m_hadRate;  // codes with a usable rate before the run
};

HRESULT UpdateRunner::Execute() {
  CSettingsData& d = Data();
  m_floated = !m_settings.OnlyConstantCurrencies();
  if (d.Modem && d.DialUp.IsEmpty()) {
    Say(kMsgModemWithoutEntry, kCaptionError, kNotifyError);
    return E_INVALIDARG;
  }
  m_sourceCount = d.Sources.GetCount();
  if (!m_sourceCount) {
    Say(kMsgNoSource, kCaptionError, kNotifyError);
    return E_INVALIDARG;
  }
  INetConnectionSettings block;
  m_update.GetConnectionSettings(block);
  HRESULT hr = FillConnectionBlock(block, m_connection);
  if (FAILED(hr)) {
    Say(hr & 0xFFFF, kCaptionError, kNotifyError);
    return E_INVALIDARG;
  }
  m_context.connection = &m_connection;
  m_mode = d.MultiServerMode;

  m_previousMessage = Rates().Message;
  if (!Rates().Message.IsNull() && m_previousMessage.IsNull()) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) {
    for (char* block : Rates().Active) {
      const CurrencyInfo& r = *reinterpret_cast<const CurrencyInfo*>(block);
      if (r.dRate > 0) m_hadRate.emplace_back(r.szCode);
    }
    m_settings.ClearInfo();
    Rates().Warning.Empty();
    Rates().Error.Empty();
    m_settings.LoadINIBegin();
    m_engine.MakeUserAgent(m_thread, m_connection, nullptr);
    hr = m_connection.Open();
  }
  if (SUCCEEDED(hr)) {
    for (char* block : Rates().Active) reinterpret_cast<CurrencyInfo*>(block)->dwServers = 0;
    if (m_sourceCount > 1) {
      m_backup.reset(vtx::heap::New<CSettings>());
      if (!m_backup || !m_backup->CopyFrom(m_settings)) hr = E_OUTOFMEMORY;
    }
  }
  if (SUCCEEDED(hr) && m_mode > 2) hr = E_INVALIDARG;
  if (SUCCEEDED(hr)) hr = FetchAll();

  m_connection.Close();
  EndLoad();
  ReportSourceMessage();
  ReportError(hr);
  if (FAILED(hr)) return hr;

  hr = CheckData();
  if (FAILED(hr)) return hr;
  GetSystemTimeAsFileTime(&Rates().LastLoaded);
  CheckUnknownCodes();
  Warn();
  return S_OK;
}

HRESULT UpdateRunner::FetchOne(int32_t index) {
  m_thread.SetSourceIndex(index);
  const CDataSource* source = Data().Sources[static_cast<uint32_t>(index)];
  CStringA address;
  if (source->IsParsableURL()) {
    // A picture that does not expand is a bad address, not a lack of memory.
    if (!source->GetParsedURL(address)) return E_INVALIDARG;
  } else {
    address = source->GetURL();
  }
  m_context.address = address;
  m_context.rawAddress = source->GetURL();
  m_context.filterName = source->GetFilter();
  if ((source->GetURL() && (m_context.address.IsNull() || m_context.rawAddress.IsNull())) ||
      (source->GetFilter() && m_context.filterName.IsNull()))
    return E_OUTOFMEMORY;
  m_connection.m_strServerUserName = source->GetUserNameA();
  m_connection.m_strServerPassword = source->GetPassword();

  const bool merge = m_sourceCount > 1 && m_mode != 2;
  CStringA keptSource, keptCopyright, keptMessage;
  if (merge) {
    keptSource = Rates().Source;
    keptCopyright = Rates().Copyright;
    keptMessage = Rates().Message;
    if ((!Rates().Source.IsNull() && keptSource.IsNull()) || (!Rates().Copyright.IsNull() && keptCopyright.IsNull()) ||
        (!Rates().Message.IsNull() && keptMessage.IsNull()))
      return E_OUTOFMEMORY;
    Rates().Source.Empty();
    Rates().Copyright.Empty();
    Rates().Message.Empty();
  }

  CUpdateFetchThread fetchThread(m_thread, m_engine, m_settings);
  HRESULT hr = FetchSource(fetchThread, m_context);
  if (SUCCEEDED(hr) && merge) {
    hr = MergeTexts(keptSource, keptCopyright, keptMessage, m_fetched == 0);
    ++m_fetched;
  }
  return hr;
}

HRESULT UpdateRunner::FetchAll() {
  const int32_t n = static_cast<int32_t>(m_sourceCount);
  int32_t i = m_mode == 0 ? n - 1 : 0;
  HRESULT hr = S_OK;
  while (i >= 0 && i < n && SUCCEEDED(hr)) {
    // A program that stops abandons the run: no further source is tried.
    if (vtx::sync::StopRequested()) {
      hr = HRESULT_FROM_WIN32(ERROR_OPERATION_ABORTED);
      break;
    }
    hr = FetchOne(i);
    if (n == 1) {
      if (SUCCEEDED(hr)) CountSource();
      break;
    }
    if (m_mode == 0) {
      --i;
      if (SUCCEEDED(hr)) CountSource();
    } else if (m_mode == 1) {
      ++i;
      if (FAILED(hr)) break;
      // Each source starts from the rates before the run; what it set is kept for the cross-check.
      auto list = std::unique_ptr<CStringList<char>>(vtx::heap::New<CStringList<char>>());
      if (!list || !CopyRecords(Rates().Active, *list) || !CopyRecords(m_backup->GetRates().Active, Rates().Active)) {
        hr = E_OUTOFMEMORY;
        break;
      }
      m_perSource.push_back(std::move(list));
    } else {
      if (SUCCEEDED(hr)) {
        CountSource();
        break;
      }
      if (vtx::sync::StopRequested()) break;
      std::string reason = FailureReason(hr);
      if (!m_settings.CopyFrom(*m_backup)) {
        hr = E_OUTOFMEMORY;
        break;
      }
      ++i;
      if (i == n) {
        Say(kMsgAllSourcesFailed, kCaptionRates, kNotifyError);
      } else {
        Say(kMsgNextSource, kCaptionRates, kNotifyWarning, {reason.c_str()});
        hr = S_OK;
      }
    }
  }
  if (FAILED(hr)) return hr;

  m_thread.SetSourceIndex(-1);
  if (n > 1 && m_mode == 0) RecheckFluctuation();
  if (n > 1 && m_mode == 1) {
    hr = CrossCheck();
    if (FAILED(hr)) return hr;
  }
  for (char* block : Rates().Active) {
    CurrencyInfo& r = *reinterpret_cast<CurrencyInfo*>(block);
    if (r.dwServers > 0) r.dwFlags |= kInfoFromRatesFile;
  }
  return S_OK;
}

void UpdateRunner::CountSource() {
  for (char* block : Rates().Active) {
    CurrencyInfo& r = *reinterpret_cast<CurrencyInfo*>(block);
    if (r.dwFlags & kInfoFromRatesFile) {
      ++r.dwServers;
      r.dwFlags &= ~kInfoFromRatesFile;
    }
  }
}

HRESULT UpdateRunner::MergeTexts(const CStringA& source, const CStringA& copyright, const CStringA& message,
                                 bool first) {
  const CStringA* kept[3] = {&source, &copyright, &message};
  CStringA* now[3] = {&Rates().Source, &Rates().Copyright, &Rates().Message};
  for (int k = 0; k < 3; ++k) {
    std::string text = now[k]->c_str();
    for (char& c : text)
      if (c == '|') c = ';';
    if (!first) text = std::string(kept[k]->c_str()) + "|" + text;
    *now[k] = text.c_str();
    if (now[k]->IsNull()) return E_OUTOFMEMORY;
  }
  return S_OK;
}

void UpdateRunner::RecheckFluctuation() {
  const CStringList<char>& before = m_backup->GetRates().Active;
  const double limit = Data().MaxFluctuation;
  for (char* block : Rates().Active) {
    CurrencyInfo& r = *reinterpret_cast<CurrencyInfo*>(block);
    if (r.dwServers == 0) continue;
    r.dwFlags &= ~kInfoFluctuation;
    int32_t j = FindRecord(before, r.szCode);
    if (j < 0) continue;
    const CurrencyInfo& old = *Record(before, static_cast<uint32_t>(j));
    // A rate that ends where it began did not change, whatever the sources said on the way.
    if (old.dRate == r.dRate) r.ftLastChange = old.ftLastChange;
    if (old.dRate == 0.0 || FileTimeToU64(old.ftLastChange) == 0) continue;
    const double p = limit * old.dRate * 0.01;
    if ((r.dRate > old.dRate && r.dRate > old.dRate + p) || (r.dRate < old.dRate && r.dRate < old.dRate - p))
      r.dwFlags |= kInfoFluctuation;
  }
}

// A record of that code with flag 1 in the list, or null.
const CurrencyInfo* FindSet(const CStringList<char>& list, const char* code) {
  for (char* block : list) {
    const CurrencyInfo& r = *reinterpret_cast<const CurrencyInfo*>(block);
    if ((r.dwFlags & kInfoFromRatesFile) && CStringUtil<char>::StringICmp(r.szCode, code) == 0) return &r;
  }
  return nullptr;
}

HRESULT UpdateRunner::CrossCheck() {
  const bool onlyExisting = Data().OnlyUpdateExisting != 0;
  const size_t k = m_perSource.size();
  for (size_t s = 0; s < k; ++s) {
    for (char* block : *m_perSource[s]) {
      CurrencyInfo& r = *reinterpret_cast<CurrencyInfo*>(block);
      if (!(r.dwFlags & kInfoFromRatesFile)) continue;
      for (size_t t = 0; t < k; ++t) {
        if (t == s || FindSet(*m_perSource[t], r.szCode)) continue;
        r.dwFlags |= kInfoWarning | kInfoNotFromEverySource;
        if (!onlyExisting || FindRecord(Rates().Active, r.szCode) >= 0) {
          if (!m_missing.empty()) m_missing += '\t';
          m_missing += vtx::update::CodeWithName(m_settings, r.szCode);
          ++m_missingCount;
        }
        break;
      }
    }
  }

  const double limit = Data().CrossCheckMaxFluctuation;
  for (char* block : *m_perSource[0]) {
    CurrencyInfo& r = *reinterpret_cast<CurrencyInfo*>(block);
    if (!(r.dwFlags & kInfoFromRatesFile) || (r.dwFlags & kInfoNotFromEverySource)) continue;
    double low = r.dRate, high = r.dRate;
    for (size_t t = 0; t < k; ++t) {
      const CurrencyInfo* other = FindSet(*m_perSource[t], r.szCode);
      if (!other) continue;
      if (other->dRate < low) low = other->dRate;
      if (other->dRate > high) high = other->dRate;
    }
    if (low + limit * low * 0.01 < high) r.dwFlags |= kInfoCrossCheck;
    r.dwFlags &= ~kInfoFluctuation;
    r.dwServers = static_cast<uint32_t>(k);
    int32_t j = FindRecord(Rates().Active, r.szCode);
    if (j >= 0)
      std::memcpy(Record(Rates().Active, static_cast<uint32_t>(j)), &r, sizeof r);
    else if (!onlyExisting && !m_settings.Add(r))
      return E_OUTOFMEMORY;
  }

  // A code that some source lacks keeps its rate from before the run, in the warning list.
  for (auto& list : m_perSource)
    for (char* block : *list) {
      const CurrencyInfo& r = *reinterpret_cast<const CurrencyInfo*>(block);
      if (!(r.dwFlags & kInfoNotFromEverySource)) continue;
      int32_t j = FindRecord(Rates().Active, r.szCode);
      if (j >= 0) Record(Rates().Active, static_cast<uint32_t>(j))->dwFlags |= kInfoWarning | kInfoNotFromEverySource;
    }
  return S_OK;
}

void UpdateRunner::EndLoad() {
  // The end of the load drops every rate that nobody set; the codes that only some sources of a
  // cross-check had keep their rate, so they pass as set for that one step.
  std::vector<CurrencyInfo*> kept;
  for (char* block : Rates().Active) {
    CurrencyInfo& r = *reinterpret_cast<CurrencyInfo*>(block);
    if ((r.dwFlags & kInfoNotFromEverySource) && !(r.dwFlags & kInfoFromRatesFile) && r.dRate != -1.0) {
      r.dwFlags |= kInfoFromRatesFile;
      kept.push_back(&r);
    }
  }
  m_settings.LoadINIEnd();
  for (CurrencyInfo* r : kept) r->dwFlags &= ~kInfoFromRatesFile;
}

void UpdateRunner::ReportSourceMessage() {
  const CRatesData& rates = Rates();
  if (rates.Message.IsEmpty() || OnlyBars(rates.Message)) return;
  if (Data().MessageOnlyOnce && CStringUtil<char>::StringICmp(rates.Message.c_str(), m_previousMessage.c_str()) == 0)
    return;
  std::vector<std::string> messages = SplitBars(rates.Message), sources = SplitBars(rates.Source);
  std::string text;
  for (size_t i = 0; i < messages.size() && i < sources.size(); ++i) {
    if (messages[i].empty()) continue;
    if (!text.empty()) text += "\r\n\r\n";
    text += sources[i].empty() ? LoadText(m_module, kMsgNoSourceName, kCaptionMax) : sources[i];
    text += ":\r\n" + messages[i];
  }
  if (!text.empty()) m_engine.NotifyInfo(m_thread, m_thread.GetOwner(), text.c_str(), m_module);
}

std::string UpdateRunner::ConnectionOrSystemText(HRESULT hr) {
  const char* error = m_connection.GetErrorString(nullptr);
  if (error && *error) return error;
  return SystemText(hr);
}

std::string UpdateRunner::FailureReason(HRESULT hr) {
  if (m_context.messageId >= 0) {
    std::string text = FormatString(m_module, static_cast<UINT>(m_context.messageId), {m_context.pageAddress.c_str()});
    if (!text.empty()) return text;
  }
  if (!m_context.errorText.IsEmpty()) return m_context.errorText.c_str();
  return ConnectionOrSystemText(hr);
}

void UpdateRunner::ReportError(HRESULT hr) {
  const bool failed = FAILED(hr);
  if (m_context.messageId >= 0) {
    UINT id = static_cast<UINT>(m_context.messageId);
    Say(id, id == 90 ? kCaptionRates : kCaptionError, failed ? kNotifyError : kNotifyPlain, {m_context.pageAddress.c_str()});
    return;
  }
  if (!m_context.errorText.IsEmpty()) {
    SayText(m_context.errorText, kCaptionError, failed ? kNotifyError : kNotifyWarning);
    return;
  }
  if (!failed) return;
  if (hr == E_NOINTERFACE) {
    bool said = false;
    if (!m_connection.m_bINetAvailable) {
      Say(kMsgNoInternet, kCaptionError, kNotifyError);
      said = true;
    }
    // Only a dial-up library that was needed and did not load is worth a word.
    if (m_connection.m_bRasChecked && !m_connection.m_bRasAvailable) {
      Say(kMsgNoDialUp, kCaptionError, kNotifyError);
      said = true;
    }
    if (said) return;
  }
  DWORD kind = 0;
  const char* error = m_connection.GetErrorString(&kind);
  if (error && *error && kind == 3) {
    SayText(error, kCaptionError, kNotifyError);
    return;
  }
  std::string address = m_context.pageAddress.IsEmpty() ? "--" : m_context.pageAddress.c_str();
  std::string line = std::to_string(m_context.errorLine);
  std::string reason = error && *error ? std::string(error) : SystemText(hr);
  Say(m_context.errorLine > 0 ? kMsgBadLine : kMsgFetchFailed, kCaptionError, kNotifyError,
      {address.c_str(), line.c_str(), reason.c_str()});
}

bool UpdateRunner::NotifyFlagged(UINT textId, UINT captionId, UINT type) {
  uint32_t count = 0;
  std::string names = CheckFlags(m_settings, kInfoFluctuation, 21, &count);
  if (!count) return false;
  uint32_t rateCount = 0;
  std::string rates = CheckFlags(m_settings, kInfoFluctuation, 13, &rateCount);
  std::string joinedNames = Joined(names, m_module), joinedRates = Joined(rates, m_module);
  Say(textId, captionId, type,
      {count, joinedNames.c_str(), static_cast<uint32_t>(Data().MaxFluctuation), joinedRates.c_str()});
  return true;
}

HRESULT UpdateRunner::CheckData() {
  const CSettingsData& d = Data();
  if (d.FluctuationError && NotifyFlagged(kMsgFluctuationError, kCaptionError, kNotifyError)) return E_INVALIDDATA;

  const bool crossError = d.CrossCheckError != 0;
  const UINT crossType = crossError ? kNotifyError : kNotifyWarning;
  if (m_missingCount) {
    std::string joined = Joined(m_missing, m_module);
    Say(crossError ? kMsgMissingError : kMsgMissing, kCaptionRates, crossType, {m_missingCount, joined.c_str()});
    if (crossError) return E_INVALIDDATA;
  }
  uint32_t count = 0;
  std::string disagree = CheckFlags(m_settings, kInfoCrossCheck, 21, &count);
  if (count) {
    std::string joined = Joined(disagree, m_module);
    Say(crossError ? kMsgCrossCheckError : kMsgCrossCheck, kCaptionRates, crossType,
        {count, joined.c_str(), static_cast<uint32_t>(d.CrossCheckMaxFluctuation)});
    if (crossError) return E_INVALIDDATA;
  }

  bool anySet = false;
  for (char* block : Rates().Active)
    if (reinterpret_cast<const CurrencyInfo*>(block)->dwFlags & kInfoFromRatesFile) anySet = true;
  if (!anySet) {
    if (m_floated && d.OnlyUpdateExisting) {
      m_warnNothingSet = d.PartialDataWarnings != 0;
    } else if (m_floated || Rates().Active.GetCount() == 0) {
      // With floating rates and nothing new, the end of the load has already dropped them:
      // accepting the run would wipe the stored rates.
      Say(kMsgNothingSet, kCaptionError, kNotifyError, {m_context.pageCount});
      return kNoRatesSet;
    }
  }
  return S_OK;
}

void UpdateRunner::CheckUnknownCodes() {
  const CSettingsData& d = Data();
  if (d.UnknownCurrencies == 1) return;
  std::string codes;
  CUpdate stored;  // read on first need
  for (char* block : Rates().Active) {
    const char* code = reinterpret_cast<const CurrencyInfo*>(block)->szCode;
    if (d.Currencies.IFind(code) >= 0 || CAllCurrencies::IFindHardcoded(code) >= 0) continue;
    if (!stored.IsLoaded()) stored.Create();
    if (stored.Defines(code)) continue;
    if (!codes.empty()) codes += ';';
    codes += code;
  }
  if (codes.empty()) return;
  CollectingOff off(m_thread);
  m_engine.CheckDefinitions(m_thread, codes.c_str());
}

void UpdateRunner::Warn() {
  const CSettingsData& d = Data();
  if (m_context.unmatchedCount) {
    std::string joined = Joined(m_context.unmatchedList.c_str(), m_module);
    Say(kMsgUnmatched, kCaptionRates, kNotifyWarning,
        {m_context.unmatchedAddress.c_str(), joined.c_str(), m_context.unmatchedCount});
  }
  if (m_warnNothingSet) {
    Say(kMsgNothingSetKept, kCaptionRates, kNotifyWarning, {m_context.pageCount});
  } else if (d.PartialDataWarnings) {
    // Codes that only some sources of a cross-check had were named already.
    uint32_t count = 0;
    std::string unset = CheckFlags(m_settings, kInfoFromRatesFile | kInfoNotFromEverySource, 16, &count);
    if (count) {
      std::string joined = Joined(unset, m_module);
      Say(kMsgPartialData, kCaptionRates, kNotifyWarning, {m_context.pageCount, joined.c_str(), count});
    }
  }
  WarnLostRates();
  NotifyFlagged(kMsgFluctuation, kCaptionRates, kNotifyWarning);
  const uint32_t fixedModes[2] = {d.ConflictingEMU == 1 ? 19u : 0u, d.ConflictingPegged == 1 ? 21u : 0u};
  for (uint32_t mode : fixedModes) {
    if (!mode) continue;
    uint32_t count = 0;
    std::string fixed = CheckFlags(m_settings, kInfoFixedRate, mode, &count);
    if (!count) continue;
    std::string joined = Joined(fixed, m_module);
    Say(kMsgFixedRates, kCaptionRates, kNotifyWarning, {count, joined.c_str()});
  }
  if (!Rates().Warning.IsEmpty()) SayText(Rates().Warning, kCaptionRates, kNotifyWarning);
}

void UpdateRunner::WarnLostRates() {
  // A currency that had a rate and has none now (dropped by the end of the load, or set to zero)
  // would otherwise vanish from conversions without a word: whatever the partial-data setting, the
  // loss is named.
  std::string lost;
  uint32_t count = 0;
  for (const std::string& code : m_hadRate) {
    int32_t i = FindRecord(Rates().Active, code.c_str());
    if (i >= 0 && Record(Rates().Active, static_cast<uint32_t>(i))->dRate > 0) continue;
    if (count++) lost += '\t';
    lost += vtx::update::CodeWithName(m_settings, code.c_str());
  }
  if (!count) return;
  std::string joined = Joined(lost, m_module);
  Say(kMsgRatesLost, kCaptionRates, kNotifyWarning, {m_context.pageCount, joined.c_str(), count});
}

}  // namespace

// ---- the engine ----

HRESULT CUpdateEngine::UpdateRun(CUpdateThread& thread) {
  auto* settings = dynamic_cast<CUpdateSettings*>(&thread.GetSettings());
  if (!settings || !settings->Get().GetData()) return E_UNEXPECTED;
  UpdateRunner run(*this, thread, *settings);
  return run.Execute();
}

HRESULT CUpdateEngine::CheckDefinitions(CUpdateThread& thread, const char* unknownCodes) {
  const char* address = m_definitionsAddress.empty() ? DefinitionsAddress() : m_definitionsAddress.c_str();
  return RunDefinitionsCheck(*this, thread, address, unknownCodes);
}

void CUpdateEngine::LogEvent(const char* text, UINT type) {
  MessageToLog(vtx::inet::MaskPasswords(text ? text : "").c_str(), type, &m_notifier.m_EventLog);
}

void CUpdateEngine::Notify(CUpdateThread& thread, HWND owner, const char* text, const char* caption, UINT type,
                           HMODULE resourceLibrary) {
  m_notifier.Notify(thread, owner, text, caption, type, resourceLibrary);
}

void CUpdateEngine::ArchiveRun(CUpdateThread& thread) { m_notifier.ArchiveRun(thread); }

void CUpdateEngine::NotifyInfo(CUpdateThread& thread, HWND owner, const char* text, HMODULE resourceLibrary) {
  m_notifier.NotifyInfo(thread, owner, text, resourceLibrary);
}

void CUpdateEngine::MakeUserAgent(CUpdateThread& thread, CINetConnection& connection, const char* address) {
  auto* settings = dynamic_cast<CUpdateSettings*>(&thread.GetSettings());
  const CSettingsData* d = settings ? settings->Get().GetData() : nullptr;
  ::MakeUserAgent(d ? d->UserAgent.c_str() : nullptr, connection, address);
}

std::unique_ptr<IUpdateEngine> MakeUpdateEngine() { return std::make_unique<CUpdateEngine>(); }

// ---- the fetch's view of the thread ----

CUpdateFetchThread::CUpdateFetchThread(CUpdateThread& thread, CUpdateEngine& engine, CSettings& settings)
    : m_thread(thread), m_engine(engine), m_fetch(settings) {}

CStringList<char>& CUpdateFetchThread::GetRunLog(FetchLogList which) {
  return m_thread.GetRunLog(static_cast<RunLogList>(which));
}

void CUpdateFetchThread::MakeUserAgent(CINetConnection& connection, const char* address) {
  m_engine.MakeUserAgent(m_thread, connection, address);
}

bool CUpdateFetchThread::Sleep(DWORD ms) {
  constexpr DWORD kSliceMs = 20;
  for (;;) {
    // A thread that is not running any more cannot be waited for either, nor a program that stops.
    if (m_thread.IsStopping() || !m_thread.IsRunning() || vtx::sync::StopRequested()) return false;
    if (!ms) return true;
    DWORD step = ms < kSliceMs ? ms : kSliceMs;
    ::Sleep(step);
    ms -= step;
  }
}
