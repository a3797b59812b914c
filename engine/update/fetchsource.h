// Download and conversion of one data source: the page loop with its "Next" chain, the "|"-joined
// parts, the retries, the filter run on a temporary file, the built-in converters and the tests of
// a downloaded answer. What comes out is applied to the update thread's settings copy.
#pragma once
#include <cstdint>

#include "engine/foundation/buffer.h"
#include "engine/foundation/cstring.h"
#include "engine/foundation/inidata.h"
#include "engine/foundation/stringlist.h"
#include "engine/update/fetchtext.h"
#include "engine/update/inetconnection.h"
#include "platform/errors.h"
#include "platform/types.h"

class CSettings;

// Flags of every download of a source: reload, no cache write, keep the connection, ignore an
// invalid certificate date, no-cache pragma.
constexpr DWORD kFetchLoadFlags = 0x84402100;
// A chain of "Next" pages ends here, as a loop does.
constexpr uint32_t kMaxFetchPages = 100;
// How long a filter program may run before it is killed.
constexpr DWORD kFilterTimeoutMs = 10u * 60u * 1000u;

// String numbers of the fetch's messages.
enum : int32_t {
  kMsgNextLoop = 90,           // a "Next" page was already fetched
  kMsgMarkupPage = 127,        // the answer is a web page
  kMsgEmptyAnswer = 142,       // the answer holds nothing
  kMsgFilterFailed = 209,      // %1: the filter's exit code and its texts
  kMsgFilterOutputGone = 221,  // the filter's output cannot be opened
  kMsgNoDefinition = 223,      // the source's filter definition does not load
  kMsgNotOwnData = 455,        // no page carried the system's own data
  kMsgNextPageLimit = 601,     // the chain reached its page limit
  kMsgNextSchemeChanged = 602, // a "Next" page of another kind of address
};

// The operations of the update thread's settings copy that a fetch uses; the settings of the
// update thread provide them.
class CFetchSettings {
 public:
  virtual ~CFetchSettings() = default;

  // Applies one rates file (stored = 0: a fresh download). `next` receives its "Next" text,
  // `errorLine` the row of invalid data.
  virtual HRESULT LoadINI(const CIniData<char>& data, CStringA* next, uint32_t* errorLine, bool stored) = 0;
  // The last applied file carried the system's own "Application" value.
  virtual BOOL GetOwnData() const = 0;
  // The Error text of the rates data; null or empty when there is none.
  virtual const char* GetError() const = 0;
  // Starts a filter program on the file `text1` (with the address, the filter name and the
  // address's index) and waits for it; `exitCode` receives its code.
  virtual HRESULT ExecuteFilter(const char* program, const char* text1, const char* text2, const char* text3,
                                int32_t number, DWORD* exitCode, CStringA* errorText) = 0;
  // The folder of the filter definitions (the value "Filters"); null when it cannot be read.
  virtual const char* GetFiltersFolder() const = 0;
  virtual DWORD GetUpdateAttempts() const = 0;
  virtual DWORD GetUpdateRetryPause() const = 0;  // seconds
  virtual BOOL GetOnlyUpdateExisting() const = 0;
  // The codes of the active currencies, in list order.
  virtual uint32_t GetActiveCount() const = 0;
  virtual const char* GetActiveCode(uint32_t index) const = 0;
  // What the connection hands to the quote client; may be null.
  virtual CSettings* GetConnectionSettings() = 0;
};

// The update thread's seven run log lists, in its order; item i of each belongs to the i-th page
// fetched. Contents are kept with their length (they may hold NUL bytes) and a NUL after them.
enum FetchLogList : uint32_t {
  FetchLogUrl = 0,
  FetchLogName,
  FetchLogAddress,
  FetchLogContents,
  FetchLogLength,
  FetchLogTime,
  FetchLogConverted,
  FetchLogCount
};

// What a fetch needs of the update thread.
class CFetchThread {
 public:
  virtual ~CFetchThread() = default;
  virtual CFetchSettings& GetSettings() = 0;  // the settings in use
  virtual HMODULE GetResourceLibrary() = 0;
  virtual CStringList<char>& GetRunLog(FetchLogList which) = 0;
  // Sets the connection's user agent for a request to `address`.
  virtual void MakeUserAgent(CINetConnection& connection, const char* address) = 0;
  // Waits `ms` milliseconds; false when the thread was asked to stop meanwhile.
  virtual bool Sleep(DWORD ms) = 0;
};

// Owned by the update run; FetchSource resets and fills it.
struct FetchContext {
  CINetConnection* connection = nullptr;
  CStringA address;     // after expression expansion
  CStringA rawAddress;  // as configured: finds its entry in the filter definition
  CStringA filterName;
  HWND parentWindow = nullptr;
  int32_t messageId = -1;
  uint32_t errorLine = 0;
  uint32_t unmatchedCount = 0;
  CStringA errorText;
  CStringA unmatchedList;  // TAB-separated
  CStringA unmatchedAddress;
  CStringA pageAddress;
  uint32_t pageCount = 0;
};

HRESULT FetchSource(CFetchThread& thread, FetchContext& context);

// The tries of a download for the UpdateAttempts setting: 0 counts as 1, more than 10 as 10.
DWORD FetchTries(DWORD updateAttempts);
// One download with up to `attempts` tries, UpdateRetryPause seconds apart; the pause ends early
// when the thread stops. A load that succeeds but leaves an error text of the connection gives
// 0x80004005.
HRESULT LoadWithRetries(CFetchThread& thread, FetchContext& context, const char* address, DWORD lineLimit,
                        DWORD attempts, CBuffer<char>& out);
// Whether a page may name `next` as its next page: web addresses lead to web addresses, files to
// files (every "|"-part), the quote protocol nowhere.
bool NextKeepsScheme(const char* page, const char* next);

// The temporary files of filter runs: "HVX", six characters, ".tmp" in the temporary folder.
constexpr char kFilterFilePrefix[] = "HVX";
constexpr char kFilterFileSuffix[] = ".tmp";
// Runs a filter program over `text` (its count is its length) on a private temporary file "HVX...";
// on success `text` holds the filter's output, unscrambled, with a NUL after its count.
HRESULT RunFilter(CBuffer<char>& text, const char* program, const char* address, const char* filterName,
                  int32_t urlIndex, int32_t* messageId, CStringA* errorText, CFetchSettings& settings,
                  HMODULE resourceLibrary);

// Deletes the filter files that a server killed during a run left behind (none of a living one).
void RemoveStaleFilterFiles();

// Filter output that does not begin (after blanks, TABs, CRs and LFs) with "[" or ";" is scrambled.
bool IsScrambledOutput(const char* text, uint32_t length);

// The built-in two-line "DATE" converter: header line and value line into a rates file.
HRESULT ConvertTwoLineDate(CBuffer<char>& text, CStringA& unmatchedList, uint32_t& unmatchedCount);

// The quote service's CSV answer into a rates file. `currencyList` is the service's currency list;
// a failure may leave a text for the user in `errorText`.
HRESULT ConvertQuoteCsv(CBuffer<char>& text, const char* currencyList, CStringA* errorText);
// The query that completes the CSV address: "&exch=" the codes joined by "_", "&expr=EUR".
HRESULT MakeQuoteCsvQuery(CFetchSettings& settings, const char* currencyList, CStringA* query);

// The position of "ERROR", "FEHLER", "ERREUR" or "ERRORE" at the start (after blanks and TABs),
// -1 when the text is no error document.
int32_t IsErrorDocument(const char* text, uint32_t length);
// After blanks, CR, LF and TAB the first character is "<".
bool IsMarkupDocument(const char* text, uint32_t length);

// Runs a filter program from `directory` with the four arguments of the filter command line and a
// time limit; start failures and refused names leave a text in `errorText`. The settings' own filter
// run (CSettings::ExecuteFilter) is the same code.
HRESULT ExecuteFilterProgram(const char* directory, const char* program, const char* text1, const char* text2,
                             const char* text3, int32_t number, DWORD timeoutMs, HMODULE resourceLibrary,
                             DWORD* exitCode, CStringA* errorText);
