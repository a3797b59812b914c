// The frame every filter program runs in: its command line, reading the downloaded file, the
// rates text it writes back in its fixed order, the scrambling, and the exit code per program.
#pragma once
#include <cstdint>

#include "platform/errors.h"
#include "platform/types.h"

enum class FilterProgram : uint32_t { Sovfeed, Sdrfeed, Cadfeed, Quofeed, Usdfeed, Eurfeed, Tolfeed };

// Why a filter stopped. The exit code of each depends on the program (FilterExitCode).
enum class FilterFailure : uint32_t {
  NoCommandLine,
  TooFewArguments,
  CommandLineMemory,
  InputMemory,
  RecordMemory,
  HomeCurrencyMemory,
  OutputMemory,
  InputNotOpened,
  InputNotRead,
  MapIniNotLoaded,
  OutputNotWritten,
  InputIsWebPage,
  NoDate,
  NoEuro,
};

DWORD FilterExitCode(FilterProgram program, FilterFailure failure);
// The program's file name ("eurfeed") and the provider it names as "Source".
const char* FilterProgramName(FilterProgram program);
const char* FilterSourceName(FilterProgram program);


// The downloaded file of one run, NUL-terminated.
class CFilterInput {
 public:
  CFilterInput() = default;
  ~CFilterInput();
  CFilterInput(const CFilterInput&) = delete;
  CFilterInput& operator=(const CFilterInput&) = delete;

  // The file to convert is the first of at least two arguments after the program's name (the
  // others are the address, the filter name and the address's index, which the frame does not
  // use). 0, or the program's exit code.
  DWORD Read(FilterProgram program, int argc, const char* const* argv);

  const char* Path() const { return m_path; }
  char* Text() const { return m_text; }
  uint32_t Size() const { return m_size; }

 private:
  const char* m_path = nullptr;
  char* m_text = nullptr;
  uint32_t m_size = 0;
};

// The rates text a filter writes: ANSI, every line ended by CR LF. The buffer starts at the size
// the programs have always used and grows when the text needs more.
class CFilterOutput {
 public:
  // Twice the input, but 240 bytes for an input under 120 bytes.
  static uint32_t InitialCapacity(uint32_t inputSize);

  CFilterOutput() = default;
  ~CFilterOutput();
  CFilterOutput(const CFilterOutput&) = delete;
  CFilterOutput& operator=(const CFilterOutput&) = delete;

  // False when out of memory; every Add is false then too.
  bool Create(uint32_t inputSize);

  // The text and CR LF; "" gives an empty line.
  bool AddLine(const char* text);
  // key = value
  bool AddValue(const char* key, const char* value);
  // key = "value", escaped as the INI writer escapes 8-bit strings, so that it reads back whole.
  bool AddQuoted(const char* key, const char* value);

  enum class RateResult { Written, Skipped, NoMemory };
  // code = the number text of a rate per euro. A value that is not finite, is negative or has no
  // number text is skipped: the server refuses a whole file for one negative rate.
  RateResult AddRate(const char* code, double value);

  // "[General]" and its lines; "Date" only when `utcDate` is given and has a time text.
  bool AddGeneralSection(FilterProgram program, const FILETIME* utcDate);
  // An empty line, "[EUR]", an empty line.
  bool BeginRates();
  // "EUR = 1.00"
  bool AddEuroRate();

  const char* Text() const { return m_data; }
  uint32_t Length() const { return m_length; }
  uint32_t Capacity() const { return m_capacity; }
  // An Add ran out of memory: the text is incomplete and must not be written.
  bool Failed() const { return m_failed || !m_data; }

  // Scrambles the text in place (a second call unscrambles it).
  void Scramble();

 private:
  bool Append(const char* text, uint32_t length);
  bool Append(const char* text);
  bool Reserve(uint64_t length);

  char* m_data = nullptr;
  uint32_t m_length = 0;
  uint32_t m_capacity = 0;
  bool m_failed = false;
};

// Scrambles the text and writes it over the input file. 0, or the program's exit code (an
// incomplete text is never written).
DWORD WriteFilterOutput(FilterProgram program, const char* path, CFilterOutput& output);

class CMapIni;

// What sets the programs apart: whether a web page is refused as input before anything else,
// whether map.ini is loaded, and the conversion (`map` is null without map.ini): 0 or the
// program's exit code.
struct FilterProgramRun {
  bool refusesWebPage;
  bool loadsMapIni;
  DWORD (*convert)(CMapIni* map, char* text, uint32_t size, CFilterOutput& output);
};
// A filter program's whole run: reads the input file named on the command line, converts it and
// writes the rates file over it. The exit status of the program; a command line without its two
// arguments also gets a one-line usage on stderr.
int RunFilterProgram(FilterProgram program, const FilterProgramRun& run, int argc, const char* const* argv);

// Lines of the "[General]" section.
constexpr const char* kFilterApplication = "Hulvane(R) Vantrex(TM)";
constexpr const char* kFilterCopyright =
    "Please refer to the data provider for information concerning copyrights and terms of use.";
