#include "engine/update/definitions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "engine/currency/update.h"
#include "engine/update/ratechecks.h"
#include "engine/update/updaterun.h"
#include "platform/codepage.h"
#include "platform/native/productpaths.h"

const char g_szDefinitionsAddress[] = VANTREX_DEFINITIONS_URL;


namespace {

constexpr UINT kCaptionRates = 32;
constexpr UINT kCaptionError = 81;
constexpr UINT kPlain = 0x10000;
constexpr UINT kInformation = 0x10040;
constexpr UINT kMsgBadLine = 82;
constexpr UINT kMsgFetchFailed = 110;
constexpr int kCaptionMax = 500;
constexpr HRESULT kServerFacilityMask = 0x1FFF0000;
constexpr HRESULT kServerFacility = 0x00040000;

bool IsCodeChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// The value of a query parameter named "unknown" is there already.
bool HasUnknownParameter(const std::string& address) {
  size_t query = address.find('?');
  if (query == std::string::npos) return false;
  for (size_t p = query + 1; p < address.size();) {
    size_t end = address.find('&', p);
    if (end == std::string::npos) end = address.size();
    std::string name = address.substr(p, std::min(address.find('=', p), end) - p);
    if (_stricmp(name.c_str(), "unknown") == 0) return true;
    p = end + 1;
  }
  return false;
}

class DefinitionsRun {
 public:
  DefinitionsRun(CUpdateEngine& engine, CUpdateThread& thread, CUpdateSettings& settings, const char* unknownCodes)
      : m_engine(engine), m_thread(thread), m_update(settings), m_settings(settings.Get()),
        m_module(thread.GetResourceLibrary()), m_unknown(unknownCodes ? unknownCodes : "") {}

  HRESULT Execute(const char* address);

 private:
  HRESULT Prepare();
  HRESULT Connect();
  HRESULT FetchPages(const char* address);
  void Announce(UINT textId, const char* codes, const char* excluded);
  void Say(UINT textId, UINT captionId, UINT type, std::initializer_list<FormatInsert> inserts) {
    std::string text = FormatString(m_module, textId, inserts);
    std::string caption = LoadText(m_module, captionId, kCaptionMax);
    if (text.empty()) return;
    m_thread.Notify(m_thread.GetOwner(), text.c_str(), caption.c_str(), type, m_module);
  }

  CUpdateEngine& m_engine;
  CUpdateThread& m_thread;
  CUpdateSettings& m_update;
  CSettings& m_settings;
  HMODULE m_module;
  std::string m_unknown;

  // The working objects, in the order they are built.
  CUpdate m_stored;
  CAllCurrencies m_reference;  // built-in table and the stored update: the state before the run
  CAllCurrencies m_second;     // the same, then the merged update
  CCurrencyLocaleList m_locales;
  CUpdate m_merged;  // the stored update with the fetched pages on top
  CStringList<char> m_changed;
  CINetConnection m_connection;

  // The state before the run.
  CStringA m_removedBefore, m_euroBefore, m_euroLegalBefore, m_euroNotLegalBefore;
  CStringW m_storedMessage;

  std::string m_page;
  int32_t m_messageId = -1;
  std::string m_errorText;
  uint32_t m_errorLine = 0;
};

HRESULT DefinitionsRun::Prepare() {
  HRESULT hr = m_stored.Create();
  if (FAILED(hr)) return hr;
  for (CAllCurrencies* db : {&m_reference, &m_second}) {
    hr = db->Create(true);
    if (FAILED(hr)) return hr;
    hr = m_stored.Update(*db, nullptr);
    if (FAILED(hr)) return hr;
  }
  hr = m_locales.Create(false);
  if (FAILED(hr)) return hr;
  // As loaded settings show them: the stored update fills the names the locales lack.
  hr = m_stored.Update(m_locales, nullptr, true);
  if (FAILED(hr)) return hr;
  if (!m_merged.CopyFrom(m_stored)) return E_OUTOFMEMORY;
  // The message is the fetched pages' own.
  m_merged.EmptyMessage();

  bool ok = m_stored.GetRemovedCurrencies(m_removedBefore) && m_reference.GetEuroCurrencies(m_euroBefore, 0) &&
            m_reference.GetEuroCurrencies(m_euroLegalBefore, 2) &&
            m_reference.GetEuroCurrencies(m_euroNotLegalBefore, 4);
  m_storedMessage = m_stored.GetMessage().c_str();
  if (!ok || (!m_stored.GetMessage().IsNull() && m_storedMessage.IsNull())) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT DefinitionsRun::Connect() {
  INetConnectionSettings block;
  m_update.GetConnectionSettings(block);
  HRESULT hr = FillConnectionBlock(block, m_connection);
  if (FAILED(hr)) return (hr & kServerFacilityMask) == kServerFacility ? E_INVALIDARG : hr;
  m_engine.MakeUserAgent(m_thread, m_connection, nullptr);
  return m_connection.Open();
}

HRESULT DefinitionsRun::FetchPages(const char* first) {
  CUpdateFetchThread fetchThread(m_thread, m_engine, m_settings);
  FetchContext context;
  context.connection = &m_connection;
  const DWORD tries = FetchTries(m_settings.GetData()->UpdateAttempts);
  CStringList<char> visited;
  std::string address = first ? first : "";
  uint32_t pages = 0;
  while (!address.empty()) {
    if (!visited.Add(address.c_str())) return E_OUTOFMEMORY;
    ++pages;
    m_page = address;
    m_engine.MakeUserAgent(m_thread, m_connection, address.c_str());
    const std::string request =
        !m_unknown.empty() && IsHulvaneURL(address.c_str()) ? vtx::update::WithUnknownQuery(address, m_unknown.c_str())
                                                            : address;
    CBuffer<char> answer(1000, 1000);
    HRESULT hr = LoadWithRetries(fetchThread, context, request.c_str(), 0, tries, answer);
    if (FAILED(hr)) {
      const char* error = m_connection.GetErrorString(nullptr);
      if (hr == E_FAIL && error && *error) m_errorText = error;
      return hr;
    }
    const char* data = answer.GetData();
    const uint32_t length = answer.GetCount();
    if (IsErrorDocument(data, length) >= 0) return E_INVALIDDATA;
    if (IsMarkupDocument(data, length)) {
      m_messageId = kMsgMarkupPage;
      return E_INVALIDDATA;
    }
    CStringA next;
    hr = m_merged.Load(data ? data : "", length, &m_second, &m_locales, &m_stored, &m_changed, &next, &m_errorLine);
    if (FAILED(hr)) return hr;

    if (next.IsEmpty()) break;
    if (visited.Find(next) >= 0) {
      m_messageId = kMsgNextLoop;
      break;
    }
    if (!NextKeepsScheme(address.c_str(), next)) {
      m_messageId = kMsgNextSchemeChanged;
      break;
    }
    if (pages >= kMaxFetchPages) {
      m_messageId = kMsgNextPageLimit;
      break;
    }
    address = next.c_str();
  }
  return S_OK;
}

void DefinitionsRun::Announce(UINT textId, const char* codes, const char* excluded) {
  std::string list;
  uint32_t count = 0;
  for (const std::string& code : vtx::update::CodesOf(codes, excluded)) {
    if (!list.empty()) list += '\t';
    list += vtx::update::CodeWithName(&m_locales, code.c_str());
    ++count;
  }
  if (!count) return;
  std::string joined = vtx::update::Joined(list, m_module);
  Say(textId, kCaptionRates, kInformation, {count, joined.c_str()});
}

HRESULT DefinitionsRun::Execute(const char* address) {
  HRESULT hr = Prepare();
  if (SUCCEEDED(hr)) hr = Connect();
  if (SUCCEEDED(hr)) hr = FetchPages(address);
  m_connection.Close();

  if (SUCCEEDED(hr)) {
    hr = m_merged.Update(m_second, nullptr);
    // Only for the names in the notices below.
    m_merged.Update(m_locales, nullptr);
  }
  m_settings.EMUUpdateCompleted(SUCCEEDED(hr));

  const std::string page = m_page.empty() ? "--" : m_page;
  if (FAILED(hr)) {
    const std::string line = std::to_string(m_errorLine);
    const char* connection = m_connection.GetErrorString(nullptr);
    const std::string reason = !m_errorText.empty()        ? m_errorText
                               : connection && *connection ? std::string(connection)
                                                           : vtx::update::SystemText(hr);
    if (m_messageId >= 0 || !m_errorText.empty()) {
      // Not the user's to hear, but never lost: the event log keeps it.
      std::string text = m_messageId >= 0 ? FormatString(m_module, static_cast<UINT>(m_messageId), {page.c_str()})
                                          : FormatString(m_module, kMsgFetchFailed, {page.c_str(), line.c_str(),
                                                                                      reason.c_str()});
      if (text.empty()) text = "The currency definitions could not be updated from " + page + ": " + reason;
      m_engine.LogEvent(text.c_str(), kNotifyError);
    } else {
      Say(m_errorLine > 0 ? kMsgBadLine : kMsgFetchFailed, kCaptionError, kNotifyError,
          {page.c_str(), line.c_str(), reason.c_str()});
    }
    return hr;
  }

  if (m_messageId >= 0)
    Say(static_cast<UINT>(m_messageId), m_messageId == kMsgNextLoop ? kCaptionRates : kCaptionError, kPlain,
        {page.c_str()});

  const CStringW& message = m_merged.GetMessage();
  if (!message.IsEmpty() &&
      !(m_settings.GetData()->MessageOnlyOnce && vtx::UnicodeICompare(message.c_str(), m_storedMessage.c_str()) == 0)) {
    CStringA text;
    text = message.c_str();
    if (!text.IsEmpty()) m_engine.NotifyInfo(m_thread, m_thread.GetOwner(), text, m_module);
  }

  CStringA added, removed, legal, notLegal, euro;
  if (m_merged.GetNewCurrencies(m_changed, added)) Announce(kMsgNewCurrencies, added, m_unknown.c_str());
  if (m_merged.GetRemovedCurrencies(removed)) Announce(kMsgRemovedCurrencies, removed, m_removedBefore);
  if (m_second.GetEuroCurrencies(legal, 2)) Announce(kMsgNowEuroLegalTender, legal, m_euroLegalBefore);
  if (m_second.GetEuroCurrencies(notLegal, 4)) Announce(kMsgNowEuroNotLegalTender, notLegal, m_euroNotLegalBefore);
  if (m_second.GetEuroCurrencies(euro, 0)) Announce(kMsgLeftEuroArea, m_euroBefore, euro);

  // The run succeeded whether or not the store takes the result; the next run tries again.
  m_merged.Save();
  return hr;
}

}  // namespace

const char* DefinitionsAddress() {
  return vtx::env::Get(vtx::env::kDefinitionsUrl, g_szDefinitionsAddress);
}

HRESULT RunDefinitionsCheck(CUpdateEngine& engine, CUpdateThread& thread, const char* address,
                            const char* unknownCodes) {
  auto* settings = dynamic_cast<CUpdateSettings*>(&thread.GetSettings());
  if (!settings || !settings->Get().GetData()) return E_UNEXPECTED;
  DefinitionsRun run(engine, thread, *settings, unknownCodes);
  return run.Execute(address);
}

namespace vtx::update {

std::string WithUnknownQuery(const std::string& address, const char* unknownCodes) {
  if (!unknownCodes || !*unknownCodes || HasUnknownParameter(address)) return address;
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = address + (address.find('?') == std::string::npos ? "?unknown=" : "&unknown=");
  for (const char* p = unknownCodes; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::vector<std::string> CodesOf(const char* text, const char* excluded) {
  auto split = [](const char* t) {
    std::vector<std::string> codes;
    for (const char* p = t ? t : ""; *p;) {
      if (!IsCodeChar(*p)) {
        ++p;
        continue;
      }
      const char* start = p;
      while (IsCodeChar(*p)) ++p;
      codes.emplace_back(start, std::min<size_t>(static_cast<size_t>(p - start), 3));
    }
    return codes;
  };
  const std::vector<std::string> skip = split(excluded);
  std::vector<std::string> out;
  for (const std::string& code : split(text)) {
    auto same = [&](const std::string& other) { return _stricmp(other.c_str(), code.c_str()) == 0; };
    if (std::any_of(skip.begin(), skip.end(), same) || std::any_of(out.begin(), out.end(), same)) continue;
    out.push_back(code);
  }
  return out;
}

}  // namespace vtx::update
