#include "engine/update/fetchsource.h"

#include <algorithm>
#include <cmath>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/currency/currencydata.h"
#include "engine/currency/filterdef.h"
#include "engine/currency/ratesdata.h"
#include "engine/foundation/calculator.h"
#include "engine/foundation/inidatabuffer.h"
#include "engine/foundation/scramble.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/resources.h"

namespace {


bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpaceOrLineEnd(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A NUL after the count, for readers of C texts; the count stays the length.
bool Terminate(CBuffer<char>& buffer) {
  if (!buffer.Add('\0')) return false;
  buffer.Seek(-1, 1);
  return true;
}

bool SetBytes(CBuffer<char>& buffer, const char* data, uint32_t length) {
  buffer.Seek(0, 0);
  return buffer.Add(data, length) && Terminate(buffer);
}

bool EndsWithNoCase(const char* text, uint32_t length, const char* suffix) {
  uint32_t n = static_cast<uint32_t>(std::strlen(suffix));
  return length > n && _strnicmp(text + length - n, suffix, n) == 0;
}

bool AddText(CBuffer<char>& out, const char* text) {
  return out.Add(text, static_cast<uint32_t>(std::strlen(text)));
}

// Which addresses a "Next" may lead to: web addresses among themselves, files to files; the
// quote protocol never.
enum class SchemeFamily { Unknown, Web, File, Quote };

SchemeFamily FamilyOf(const char* part, size_t length) {
  size_t n = 0;
  while (n < length && IsLetter(part[n])) ++n;
  if (n == length || part[n] != ':' || n < 2) return SchemeFamily::Unknown;
  std::string scheme(part, n);
  for (char& c : scheme) c = static_cast<char>(c | 0x20);
  if (scheme == "http" || scheme == "https" || scheme == "ftp") return SchemeFamily::Web;
  if (scheme == "file") return SchemeFamily::File;
  if (scheme == "fxp" || scheme == "fxpd") return SchemeFamily::Quote;
  return SchemeFamily::Unknown;
}

// The "|"-separated parts of the address, downloaded in turn and joined into one answer.
HRESULT DownloadParts(CFetchThread& thread, FetchContext& context, const char* address, DWORD lineLimit,
                      CBuffer<char>& answer) {
  const DWORD attempts = FetchTries(thread.GetSettings().GetUpdateAttempts());
  answer.Seek(0, 0);
  for (const char* p = address;;) {
    const char* end = std::strchr(p, '|');
    CStringA part;
    if (end) {
      std::string piece(p, static_cast<size_t>(end - p));
      part = piece.c_str();
    } else {
      part = p;
    }
    if (part.IsNull()) return E_OUTOFMEMORY;
    CBuffer<char> bytes(1000, 1000);
    HRESULT hr = LoadWithRetries(thread, context, part, lineLimit, attempts, bytes);
    if (FAILED(hr)) return hr;
    if (!answer.Add(bytes.GetData(), bytes.GetCount())) return E_OUTOFMEMORY;
    if (!end) break;
    p = end + 1;
  }
  return Terminate(answer) ? S_OK : E_OUTOFMEMORY;
}

bool OnlyBlanks(const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (!IsSpaceOrLineEnd(text[i])) return false;
  return true;
}

// Parses rates text and applies it to the settings; the parser's or the settings' line on failure.
HRESULT ApplyRatesText(CFetchSettings& settings, const char* text, uint32_t length, CStringA* next,
                       uint32_t* errorLine) {
  // The reader stops at a NUL: a text that goes on after one would be applied in part.
  const char* nul = static_cast<const char*>(std::memchr(text, 0, length));
  if (nul) {
    for (const char* p = nul; p < text + length; ++p)
      if (*p) {
        uint32_t line = 1;
        for (const char* q = text; q < nul; ++q)
          if (*q == '\n') ++line;
        *errorLine = line;
        return E_INVALIDDATA;
      }
  }
  CIniDataBuffer<char> data;
  if (!data.SetBuffer(text)) return E_OUTOFMEMORY;
  HRESULT hr = data.Load(g_IniTable, kIniTableCount);
  if (FAILED(hr)) {
    *errorLine = data.GetErrorLine();
    return hr;
  }
  uint32_t line = 0;
  hr = settings.LoadINI(data, next, &line, false);
  if (FAILED(hr)) *errorLine = line;
  return hr;
}

// The English name of a currency from the built-in table; empty when it has none.
CStringA EnglishName(const std::string& code) {
  for (const auto& info : g_CurrencyInfoDataEnglish)
    if (info.szCode && _stricmp(info.szCode, code.c_str()) == 0 && info.szName) {
      CStringA name;
      name = info.szName;
      return name;
    }
  return CStringA("");
}

// The next token of a line; `separators` end it. Empty at the line's end.
std::string NextToken(const char*& p, const char* end, const char* separators) {
  while (p < end && std::strchr(separators, *p)) ++p;
  const char* start = p;
  while (p < end && !std::strchr(separators, *p)) ++p;
  return std::string(start, static_cast<size_t>(p - start));
}

// Finds the end of the line that starts at p: the CR or LF, or null when the text ends first.
const char* LineEnd(const char* p, const char* end) {
  while (p < end && *p != '\r' && *p != '\n') ++p;
  return p < end ? p : nullptr;
}
const char* AfterLineEnd(const char* p, const char* end) {
  if (p < end && *p == '\r') ++p;
  if (p < end && *p == '\n') ++p;
  return p;
}

// A CSV number: the value and the number of its digits after the point; false when it is none.
bool ParseCsvNumber(const std::string& field, double* value, uint32_t* decimals) {
  const char* b = field.data();
  const char* e = b + field.size();
  while (b < e && IsBlank(*b)) ++b;
  while (e > b && IsBlank(e[-1])) --e;
  auto [ptr, ec] = std::from_chars(b, e, *value);
  if (ec != std::errc() || ptr != e) return false;
  const char* dot = static_cast<const char*>(std::memchr(b, '.', static_cast<size_t>(e - b)));
  *decimals = dot ? static_cast<uint32_t>(e - dot - 1) : 0;
  return true;
}

// The name on the currency list's line "CODE|name|...", empty when there is none.
std::string ListName(const char* list, const std::string& code) {
  for (const char* p = list; p && *p;) {
    if (std::strncmp(p, code.c_str(), code.size()) == 0 && p[code.size()] == '|') {
      const char* name = p + code.size() + 1;
      size_t n = std::strcspn(name, "\r\n|");
      return std::string(name, n);
    }
    const char* nl = std::strpbrk(p, "\r\n");
    if (!nl) break;
    p = nl + 1;
  }
  return std::string();
}

// A text in double quotes as the INI reader reads it back.
std::string Quoted(const std::string& text) {
  CBuffer<char> out(0, 64);
  if (!vtx::ini::QuoteStringValue(text.c_str(), out)) throw std::bad_alloc();
  return std::string(out.GetData(), out.GetCount());
}

// Appends one page to the run log with empty contents; false when out of memory (nothing is
// left appended then).
bool AddLogPage(CFetchThread& thread, const char* url, const char* name, const char* address) {
  const char* items[FetchLogCount] = {url ? url : "", name ? name : "", address ? address : "", "", "", "", ""};
  for (uint32_t i = 0; i < FetchLogCount; ++i) {
    if (!thread.GetRunLog(static_cast<FetchLogList>(i)).Add(items[i])) {
      for (uint32_t j = 0; j < i; ++j) {
        CStringList<char>& list = thread.GetRunLog(static_cast<FetchLogList>(j));
        list.Remove(list.GetCount() - 1);
      }
      return false;
    }
  }
  return true;
}

// Replaces an item of the last page; `size` 0 takes a NUL-terminated text.
bool SetLogItem(CFetchThread& thread, FetchLogList which, const char* data, uint32_t size = 0) {
  CStringList<char>& list = thread.GetRunLog(which);
  uint32_t n = list.GetCount();
  if (!n) return false;
  // The new item goes in before the old one is dropped, so that a failure changes nothing.
  if (!list.Add(data ? data : "", n - 1, data ? size : 0)) return false;
  return list.Remove(n);
}

}  // namespace

bool NextKeepsScheme(const char* page, const char* next) {
  const char* bar = std::strchr(page, '|');
  SchemeFamily family = FamilyOf(page, bar ? static_cast<size_t>(bar - page) : std::strlen(page));
  if (family != SchemeFamily::Web && family != SchemeFamily::File) return false;
  for (const char* p = next;;) {
    const char* end = std::strchr(p, '|');
    size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (FamilyOf(p, n) != family) return false;
    if (!end) return true;
    p = end + 1;
  }
}

DWORD FetchTries(DWORD updateAttempts) {
  if (updateAttempts == 0) return 1;
  return updateAttempts > 10 ? 10 : updateAttempts;
}

HRESULT LoadWithRetries(CFetchThread& thread, FetchContext& context, const char* address, DWORD lineLimit,
                        DWORD attempts, CBuffer<char>& out) {
  CFetchSettings& settings = thread.GetSettings();
  uint64_t pauseMs = static_cast<uint64_t>(settings.GetUpdateRetryPause()) * 1000u;
  if (pauseMs >= INFINITE) pauseMs = INFINITE - 1;
  HRESULT hr = E_FAIL;
  for (DWORD attempt = 1; attempt <= attempts; ++attempt) {
    hr = context.connection->Load(address, out, kFetchLoadFlags, lineLimit, settings.GetConnectionSettings(),
                                  context.parentWindow);
    if (SUCCEEDED(hr) || attempt == attempts) break;
    if (pauseMs && !thread.Sleep(static_cast<DWORD>(pauseMs))) break;
  }
  if (FAILED(hr)) return hr;
  const char* error = context.connection->GetErrorString(nullptr);
  if (error && *error) return E_FAIL;
  return S_OK;
}

int32_t IsErrorDocument(const char* text, uint32_t length) {
  if (!text) return -1;
  uint32_t i = 0;
  while (i < length && IsBlank(text[i])) ++i;
  static const char* const kWords[] = {"ERROR", "FEHLER", "ERREUR", "ERRORE"};
  for (const char* word : kWords) {
    uint32_t n = static_cast<uint32_t>(std::strlen(word));
    if (length - i >= n && _strnicmp(text + i, word, n) == 0) return static_cast<int32_t>(i);
  }
  return -1;
}

bool IsMarkupDocument(const char* text, uint32_t length) {
  if (!text) return false;
  uint32_t i = 0;
  while (i < length && IsSpaceOrLineEnd(text[i])) ++i;
  return i < length && text[i] == '<';
}

bool IsScrambledOutput(const char* text, uint32_t length) {
  if (!text) return false;
  uint32_t i = 0;
  while (i < length && IsSpaceOrLineEnd(text[i])) ++i;
  if (i == length) return false;
  return text[i] != '[' && text[i] != ';';
}

HRESULT ConvertTwoLineDate(CBuffer<char>& text, CStringA& unmatchedList, uint32_t& unmatchedCount) {
  const char* begin = text.GetData();
  const char* end = begin + text.GetCount();
  if (!begin) return E_INVALIDDATA;
  const char* headerEnd = LineEnd(begin, end);
  if (!headerEnd) return E_INVALIDDATA;
  const char* values = AfterLineEnd(headerEnd, end);
  const char* valuesEnd = LineEnd(values, end);
  if (!valuesEnd) return E_INVALIDDATA;

  const char* h = begin;
  while (h < headerEnd && IsBlank(*h)) ++h;
  const char* v = values;
  while (v < valuesEnd && IsBlank(*v)) ++v;

  CBuffer<char> out(1000, 1000);
  bool ok = true;
  if (headerEnd - h >= 4 && _strnicmp(h, "DATE", 4) == 0) {
    const char* t = v;
    while (t < valuesEnd && ((*t >= '0' && *t <= '9') || *t == '-')) ++t;
    if (t == v || t == valuesEnd || !IsBlank(*t)) return E_INVALIDDATA;
    ok = AddText(out, "[General]\r\nDate = ") && out.Add(v, static_cast<uint32_t>(t - v)) &&
         AddText(out, "T23:00:00Z\r\n");
    // The date column is no rate.
    NextToken(h, headerEnd, " \t*");
    v = t;
  }
  ok = ok && AddText(out, "[EUR]\r\n");

  // Built here and handed over once: a page may have very many unmatched columns.
  std::string list = unmatchedList.IsEmpty() ? std::string() : std::string(unmatchedList.c_str());
  for (;;) {
    std::string code = NextToken(h, headerEnd, " \t*");
    std::string value = NextToken(v, valuesEnd, " \t");
    if (code.empty() || value.empty()) break;
    size_t dots = 0;
    for (char c : value) dots += c == '.';
    auto unmatched = [&](const std::string& which) {
      if (!list.empty()) list += '\t';
      list += which;
      CStringA name = EnglishName(which);
      if (!name.IsEmpty()) list.append(" (").append(name.c_str()).append(")");
      ++unmatchedCount;
      return true;
    };
    if (dots > 1) {
      // Several columns run together: this code and the next ones have no value of their own.
      for (size_t k = 0; k < dots && !code.empty(); ++k) {
        if (!unmatched(code)) return E_OUTOFMEMORY;
        if (k + 1 < dots) code = NextToken(h, headerEnd, " \t*");
      }
      continue;
    }
    if (code.size() < 2 || value.size() < 2) continue;
    // A column without a usable rate ("NA", a sign, a comma) is reported, never written: one such
    // row would make the whole file unreadable to the rates reader.
    double rate = 0.0;
    if (!vtx::rates::ParseDecimal(value.c_str(), &rate, nullptr) || rate < 0.0) {
      if (!unmatched(code)) return E_OUTOFMEMORY;
      continue;
    }
    ok = ok && out.Add(code.data(), static_cast<uint32_t>(code.size())) && AddText(out, " = ") &&
         out.Add(value.data(), static_cast<uint32_t>(value.size())) && AddText(out, "\r\n");
  }
  ok = ok && AddText(out, "[Private-HulvaneVantrex]\r\nDateNoTime = 1\r\n");
  if (!list.empty() && (unmatchedList = list.c_str()).IsNull()) return E_OUTOFMEMORY;
  if (!ok || !SetBytes(text, out.GetData(), out.GetCount())) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT MakeQuoteCsvQuery(CFetchSettings& settings, const char* currencyList, CStringA* query) {
  std::string q = "&exch=";
  bool first = true;
  auto add = [&](const char* code, size_t n) {
    if (!first) q += '_';
    q.append(code, n);
    first = false;
  };
  if (settings.GetOnlyUpdateExisting()) {
    for (uint32_t i = 0; i < settings.GetActiveCount(); ++i) {
      const char* code = settings.GetActiveCode(i);
      if (code && *code) add(code, std::strlen(code));
    }
  } else {
    for (const char* p = currencyList; p && *p;) {
      if (IsLetter(p[0]) && IsLetter(p[1]) && IsLetter(p[2]) && p[3] == '|') add(p, 3);
      const char* nl = std::strpbrk(p, "\r\n");
      if (!nl) break;
      p = nl + 1;
    }
  }
  q += "&expr=EUR";
  *query = q.c_str();
  return query->IsNull() ? E_OUTOFMEMORY : S_OK;
}

HRESULT ConvertQuoteCsv(CBuffer<char>& text, const char* currencyList, CStringA* errorText) {
  const char* p = text.GetData();
  const char* end = p + text.GetCount();
  if (!p) return E_INVALIDDATA;
  auto lineOf = [&](const char* from) {
    const char* e = from;
    while (e < end && *e != '\r' && *e != '\n') ++e;
    return std::string(from, static_cast<size_t>(e - from));
  };
  auto nextLine = [&](const char* from) {
    while (from < end && *from != '\r' && *from != '\n') ++from;
    return AfterLineEnd(from, end);
  };
  std::string first = lineOf(p);
  const char* second = nextLine(p);
  if (first.compare(0, 9, "Client_id") != 0 || lineOf(second).compare(0, 30, "base,quote,amount,date,ask,bid") != 0) {
    if (errorText) *errorText = first.c_str();
    return E_FAIL;
  }

  std::string rates = "[EUR]\r\n";
  std::string names = "[Names]\r\n";
  for (const char* line = nextLine(second); line < end; line = nextLine(line)) {
    std::string row = lineOf(line);
    if (row.compare(0, 4, "EUR,") != 0) continue;
    std::string fields[5];
    size_t pos = 4;
    for (int f = 0; f < 5; ++f) {
      size_t comma = row.find(',', pos);
      if (f < 4 && comma == std::string::npos) return E_FAIL;
      fields[f] = row.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
      pos = comma == std::string::npos ? row.size() : comma + 1;
    }
    // fields: quote, amount, date, ask, bid
    const std::string& code = fields[0];
    if (code.size() != 3 || !std::all_of(code.begin(), code.end(), [](char c) {
          return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        }))
      continue;  // not a currency code: nothing the rates reader could use
    double ask = 0.0, bid = 0.0;
    uint32_t askDecimals = 0, bidDecimals = 0;
    if (!ParseCsvNumber(fields[3], &ask, &askDecimals) || !ParseCsvNumber(fields[4], &bid, &bidDecimals))
      return E_INVALIDDATA;
    // Zero, negative and non-finite quotes give no rate.
    if (!(ask > 0.0) || !(bid > 0.0) || !std::isfinite(ask) || !std::isfinite(bid)) return E_INVALIDDATA;
    uint32_t decimals = askDecimals > bidDecimals ? askDecimals : bidDecimals;
    double unit = 1.0;
    for (uint32_t i = 0; i < decimals; ++i) unit /= 10.0;
    CCalculator calculator;
    calculator.SetRoundingValue(unit);
    calculator.SetMinFractDigits(decimals);
    calculator.SetDisplay((ask + bid) * 0.5);
    if (calculator.IsError()) return E_INVALIDDATA;
    rates += code + " = " + calculator.GetDisplay() + "\r\n";
    std::string name = ListName(currencyList, code);
    if (!name.empty()) names += code + " = " + Quoted(name) + "\r\n";
  }
  std::string all = rates + names;
  if (!SetBytes(text, all.data(), static_cast<uint32_t>(all.size()))) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT RunFilter(CBuffer<char>& text, const char* program, const char* address, const char* filterName,
                  int32_t urlIndex, int32_t* messageId, CStringA* errorText, CFetchSettings& settings,
                  HMODULE module) {
  std::string path;
  vtx::ScopedFd inUse;  // marks the file as ours until it is deleted below
  if (FAILED(vtx::WriteTempFile(nullptr, kFilterFilePrefix, kFilterFileSuffix, text.GetData(), text.GetCount(), &path,
                                &inUse)))
    return E_FAIL;

  DWORD exitCode = 0;
  HRESULT hr = settings.ExecuteFilter(program, path.c_str(), address ? address : "", filterName, urlIndex,
                                      &exitCode, errorText);
  if (static_cast<int32_t>(exitCode) < 0) {
    FilterExitText(exitCode, module, errorText);
    hr = exitCode;
  } else if (SUCCEEDED(hr)) {
    std::string output;
    uint64_t size = 0;
    // A filter writes at most twice what it read; more is no output of a filter.
    HRESULT read = vtx::FileSize(path.c_str(), &size);
    if (SUCCEEDED(read) && size > 2ull * kMaxDownloadBytes + 240u) read = HRESULT_FROM_WIN32(kErrorDownloadTooLarge);
    else if (SUCCEEDED(read)) read = vtx::ReadWholeFile(path.c_str(), &output);
    if (read == HRESULT_FROM_WIN32(kErrorDownloadTooLarge)) {
      hr = read;
    } else if (read == E_OUTOFMEMORY) {
      hr = E_OUTOFMEMORY;
    } else if (FAILED(read)) {
      if (messageId) *messageId = kMsgFilterOutputGone;
      hr = E_FAIL;
    } else if (!SetBytes(text, output.data(), static_cast<uint32_t>(output.size()))) {
      hr = E_OUTOFMEMORY;
    } else {
      hr = S_OK;
    }
  }
  DeleteFileA(path.c_str());
  if (SUCCEEDED(hr) && IsScrambledOutput(text.GetData(), text.GetCount())) ScrambleBuffer(text.GetData(), text.GetCount());
  return hr;
}

namespace {

// The source's filter definition, as far as the fetch uses it.
struct SourceDefinition {
  CFilter filter;
  const char* filterName = nullptr;  // null: the source has no filter
  bool found = false;
  CStringA displayName, addressName;
  int32_t urlIndex = -1;
  const CFilter::CFilterURL* url = nullptr;

  SourceDefinition(CFetchSettings& settings, const FetchContext& context) {
    filterName = context.filterName.IsEmpty() ? nullptr : context.filterName.c_str();
    found = filter.Create(settings.GetFiltersFolder(), filterName) == 1;
    if (found) {
      displayName = filter.GetDisplayName();
      const char* name = filter.GetAddressName(context.rawAddress.c_str());
      addressName = name ? name : context.rawAddress.c_str();
      urlIndex = filter.FindURL(context.rawAddress.c_str());
      url = urlIndex >= 0 ? filter.GetURL(static_cast<uint32_t>(urlIndex)) : nullptr;
    }
  }
};

// How one page is asked for and what its answer needs besides a filter.
struct PageRequest {
  CStringA address;  // the page's address, with the quote service's query when it has one
  bool prn = false;  // the two-line text of ".PRN" addresses
  bool eni = false;  // scrambled already (".ENI")
  bool csv = false;  // the quote service's CSV answer
  CBuffer<char> currencyList{1000, 1000};
};

// The quote service's CSV answer needs the service's currency list and a query of codes.
HRESULT MakePageRequest(CFetchThread& thread, FetchContext& context, const SourceDefinition& def, const CStringA& page,
                        PageRequest& request) {
  CFetchSettings& settings = thread.GetSettings();
  const uint32_t length = page.GetLength();
  request.address = page;
  request.prn = EndsWithNoCase(page, length, ".PRN");
  request.eni = EndsWithNoCase(page, length, ".ENI");
  if (!(std::strstr(page, "/fxcsv?client_id=") && def.filterName && def.found && def.url && def.url->GetResource() &&
        *def.url->GetResource()))
    return S_OK;
  HRESULT hr = context.connection->Load(def.url->GetResource(), request.currencyList, kFetchLoadFlags, 0,
                                        settings.GetConnectionSettings(), context.parentWindow);
  if (FAILED(hr)) return hr;
  const char* error = context.connection->GetErrorString(nullptr);
  if (error && *error) return E_FAIL;
  if (!Terminate(request.currencyList)) return E_OUTOFMEMORY;
  CStringA query;
  hr = MakeQuoteCsvQuery(settings, request.currencyList.GetData(), &query);
  if (FAILED(hr)) return hr;
  CString<char> full;
  full = page.c_str();
  if (full.IsNull() || !full.Merge(query)) return E_OUTOFMEMORY;
  request.address = full.c_str();
  request.csv = true;
  return S_OK;
}

// Downloads the page into `answer` and logs it.
HRESULT DownloadPage(CFetchThread& thread, FetchContext& context, const SourceDefinition& def,
                     const PageRequest& request, CBuffer<char>& answer) {
  if (!AddLogPage(thread, request.address, def.displayName.c_str(), def.addressName.c_str())) return E_OUTOFMEMORY;
  HRESULT hr = DownloadParts(thread, context, request.address, request.prn ? 2 : 0, answer);
  if (FAILED(hr)) return hr;
  char number[16];
  std::snprintf(number, sizeof number, "%u", answer.GetCount());
  char stamp[40];
  FetchTimeText(stamp, sizeof stamp);
  if (!SetLogItem(thread, FetchLogContents, answer.GetData(), answer.GetCount() + 1) ||
      !SetLogItem(thread, FetchLogLength, number) || !SetLogItem(thread, FetchLogTime, stamp))
    return E_OUTOFMEMORY;
  return S_OK;
}

// Turns the answer into a rates file: the definition's filter program, else the built-in
// converters; refuses empty answers, error documents and web pages.
HRESULT ConvertPage(CFetchThread& thread, FetchContext& context, const SourceDefinition& def, const CStringA& page,
                    PageRequest& request, CBuffer<char>& answer) {
  bool converted = false;
  bool ranProgram = false;
  if (def.filterName) {
    if (!def.found) {
      context.messageId = kMsgNoDefinition;
      return E_NOTFOUND_FILE;
    }
    const char* program = def.url && def.url->GetExecutable() && *def.url->GetExecutable()
                              ? def.url->GetExecutable()
                              : def.filter.GetExecutable();
    if (program && *program) {
      HRESULT hr = RunFilter(answer, program, request.address, def.filterName, def.urlIndex, &context.messageId,
                             &context.errorText, thread.GetSettings(), thread.GetResourceLibrary());
      if (FAILED(hr)) return hr;
      // What a filter writes is a rates file already.
      request.prn = false;
      request.csv = false;
      converted = ranProgram = true;
    }
  }
  if (!ranProgram && request.eni) {
    ScrambleBuffer(answer.GetData(), answer.GetCount());
    converted = true;
  }
  const char* data = answer.GetData();
  const uint32_t length = answer.GetCount();
  if (OnlyBlanks(data, length)) {
    context.messageId = kMsgEmptyAnswer;
    return E_INVALIDDATA;
  }
  int32_t errorAt = IsErrorDocument(data, length);
  if (errorAt >= 0) {
    std::string text(data + errorAt, length - static_cast<uint32_t>(errorAt));
    text.resize(std::strlen(text.c_str()));
    context.errorText = text.c_str();
    return E_INVALIDDATA;
  }
  if (request.prn) {
    HRESULT hr = ConvertTwoLineDate(answer, context.unmatchedList, context.unmatchedCount);
    if (FAILED(hr)) return hr;
    if (!context.unmatchedList.IsEmpty()) context.unmatchedAddress = page;
    converted = true;
  } else if (request.csv) {
    HRESULT hr = ConvertQuoteCsv(answer, request.currencyList.GetData(), &context.errorText);
    if (FAILED(hr)) return hr;
    converted = true;
  }
  if (IsMarkupDocument(answer.GetData(), answer.GetCount())) {
    context.messageId = kMsgMarkupPage;
    return E_INVALIDDATA;
  }
  if (converted && !SetLogItem(thread, FetchLogConverted, answer.GetData(), answer.GetCount() + 1))
    return E_OUTOFMEMORY;
  return S_OK;
}

// One page: asked for, downloaded, converted and applied to the settings. `next` gets the page's
// "Next"; `ownData` is set when the page is this system's own rates file.
HRESULT FetchPage(CFetchThread& thread, FetchContext& context, const SourceDefinition& def, const CStringA& page,
                  CBuffer<char>& answer, CStringA* next, bool* ownData) {
  CFetchSettings& settings = thread.GetSettings();
  ++context.pageCount;
  context.pageAddress = page;
  thread.MakeUserAgent(*context.connection, page);
  context.errorLine = 0;

  PageRequest request;
  HRESULT hr = MakePageRequest(thread, context, def, page, request);
  if (SUCCEEDED(hr)) hr = DownloadPage(thread, context, def, request, answer);
  if (SUCCEEDED(hr)) hr = ConvertPage(thread, context, def, page, request, answer);
  if (FAILED(hr)) return hr;

  hr = ApplyRatesText(settings, answer.GetData(), answer.GetCount(), next, &context.errorLine);
  if (FAILED(hr)) return hr;
  const char* error = settings.GetError();
  if (error && *error) {
    context.errorText = error;
    return E_FAIL;
  }
  if (settings.GetOwnData()) *ownData = true;
  return S_OK;
}

// Whether the fetch goes on to the page that `next` names: not back to a page it had, not to
// another kind of address, not beyond the page limit (each of which is noted in the context).
bool FollowNext(FetchContext& context, CStringList<char>& visited, const CStringA& page, const CStringA& next) {
  if (next.IsEmpty()) return false;
  if (visited.Find(next) >= 0) {
    context.messageId = kMsgNextLoop;
    return false;
  }
  if (!NextKeepsScheme(page, next)) {
    context.messageId = kMsgNextSchemeChanged;
    return false;
  }
  if (context.pageCount >= kMaxFetchPages) {
    context.messageId = kMsgNextPageLimit;
    return false;
  }
  return true;
}

// The definition's own additions; they count for the own-data flag as the pages do.
HRESULT ApplyAppends(CFetchSettings& settings, FetchContext& context, const SourceDefinition& def, bool* ownData) {
  if (!def.url) return S_OK;
  const char* appends[2] = {def.url->GetAppend(), def.filter.GetAppend()};
  for (const char* append : appends) {
    if (!append || !*append) continue;
    uint32_t line = 0;
    HRESULT hr = ApplyRatesText(settings, append, static_cast<uint32_t>(std::strlen(append)), nullptr, &line);
    if (FAILED(hr)) {
      context.errorLine = line;
      return hr;
    }
    if (settings.GetOwnData()) *ownData = true;
  }
  return S_OK;
}

}  // namespace

void RemoveStaleFilterFiles() { vtx::RemoveStaleTempFiles(nullptr, kFilterFilePrefix, kFilterFileSuffix); }

HRESULT FetchSource(CFetchThread& thread, FetchContext& context) {
  context.messageId = -1;
  context.errorLine = 0;
  context.unmatchedCount = 0;
  context.errorText.Empty();
  context.unmatchedList.Empty();
  context.unmatchedAddress.Empty();
  context.pageAddress.Empty();
  context.pageCount = 0;
  if (!context.connection) return E_POINTER;

  const SourceDefinition def(thread.GetSettings(), context);

  // The source's credentials belong to its own host: a page that a downloaded "Next" names on
  // another host never gets them.
  struct CredentialHost {
    CINetConnection& connection;
    ~CredentialHost() { connection.SetCredentialHost(nullptr); }
  } credentialHost{*context.connection};
  {
    char host[1024];
    context.connection->SetCredentialHost(
        SUCCEEDED(context.connection->GetHostName(context.address.c_str(), host, sizeof host)) ? host : nullptr);
  }

  CStringList<char> visited;
  CStringA page = context.address;
  bool ownData = false;
  CBuffer<char> answer(1000, 1000);
  while (!page.IsEmpty()) {
    if (!visited.Add(page.c_str())) return E_OUTOFMEMORY;
    CStringA next;
    HRESULT hr = FetchPage(thread, context, def, page, answer, &next, &ownData);
    if (FAILED(hr)) return hr;
    if (!FollowNext(context, visited, page, next)) break;
    page = next;
  }
  HRESULT hr = ApplyAppends(thread.GetSettings(), context, def, &ownData);
  if (FAILED(hr)) return hr;

  if (!ownData) {
    context.messageId = kMsgNotOwnData;
    return E_INVALIDARG;
  }
  return S_OK;
}
