#include "filters/framework/frame.h"

#include <cstdio>

#include <fcntl.h>

#include <cstdio>
#include <cmath>
#include <cstring>

#include "engine/foundation/calculator.h"
#include "engine/foundation/scramble.h"
#include "engine/foundation/timetext.h"
#include "filters/framework/htmltext.h"
#include "filters/framework/mapini.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/process.h"

namespace {

// The codes that differ between the programs; the rest are the same for all.
struct ProgramRow {
  const char* name;
  const char* source;
  DWORD noCommandLine;
  DWORD tooFewArguments;
  DWORD outputMemory;
  DWORD mapIni;
};

const ProgramRow kPrograms[] = {
    {"sovfeed", "Central Bank of the Russian Federation", 0x80042000, 0x80042001, 0x80044003, 0x8004600A},
    {"sdrfeed", "International Monetary Fund", 0x80042000, 0x80042002, 0x80044004, 0x8004600A},
    {"cadfeed", "Bank of Canada", 0x80042001, 0x80042001, 0x80044004, 0x80046002},
    {"quofeed", "Xenon Laboratories Data Feed Service", 0x80042000, 0x80042001, 0x80044004, 0x8004600A},
    {"usdfeed", "Federal Reserve Bank of New York", 0x80042000, 0x80042002, 0x80044004, 0x8004600A},
    {"eurfeed", "European Central Bank", 0x80042000, 0x80042001, 0x80044003, 0x80046002},
    // tolfeed loads no map.ini; the code is there so that the table has no hole.
    {"tolfeed", "Bank of Slovenia", 0x80042000, 0x80042001, 0x80044003, 0x8004600A},
};

const ProgramRow& Row(FilterProgram program) {
  auto i = static_cast<uint32_t>(program);
  return kPrograms[i < sizeof kPrograms / sizeof kPrograms[0] ? i : 0];
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

DWORD FilterExitCode(FilterProgram program, FilterFailure failure) {
  const ProgramRow& row = Row(program);
  switch (failure) {
    case FilterFailure::NoCommandLine: return row.noCommandLine;
    case FilterFailure::TooFewArguments: return row.tooFewArguments;
    case FilterFailure::CommandLineMemory: return 0x80044000;
    case FilterFailure::InputMemory: return 0x80044001;
    case FilterFailure::RecordMemory: return 0x80044002;
    case FilterFailure::HomeCurrencyMemory: return 0x80044003;
    case FilterFailure::OutputMemory: return row.outputMemory;
    case FilterFailure::InputNotOpened: return 0x80046000;
    case FilterFailure::InputNotRead: return 0x80046001;
    case FilterFailure::MapIniNotLoaded: return row.mapIni;
    case FilterFailure::OutputNotWritten: return 0x80048000;
    case FilterFailure::InputIsWebPage: return 0x8004C000;
    case FilterFailure::NoDate: return 0x8004C001;
    case FilterFailure::NoEuro: return 0x8004C003;
  }
  return E_FAIL;
}

const char* FilterProgramName(FilterProgram program) { return Row(program).name; }
const char* FilterSourceName(FilterProgram program) { return Row(program).source; }

CFilterInput::~CFilterInput() {
  if (m_text) GlobalFree(m_text);
}

DWORD CFilterInput::Read(FilterProgram program, int argc, const char* const* argv) {
  if (argc < 2 || !argv) return FilterExitCode(program, FilterFailure::NoCommandLine);
  if (argc < 3) return FilterExitCode(program, FilterFailure::TooFewArguments);
  m_path = argv[1];
  if (m_text) GlobalFree(m_text);
  m_text = nullptr;
  m_size = 0;
  vtx::ScopedFd file = vtx::OpenFile(m_path, O_RDONLY);
  if (!file) return FilterExitCode(program, FilterFailure::InputNotOpened);
  // The output is sized from the input in 32 bits.
  size_t size = 0;
  HRESULT hr = vtx::ReadWholeFile(file, UINT32_MAX / 2, 1, &m_text, &size);
  if (hr == HRESULT_FROM_WIN32(ERROR_DIRECTORY)) return FilterExitCode(program, FilterFailure::InputNotOpened);
  if (hr == E_OUTOFMEMORY || hr == HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE))
    return FilterExitCode(program, FilterFailure::InputMemory);
  if (FAILED(hr)) return FilterExitCode(program, FilterFailure::InputNotRead);
  m_size = static_cast<uint32_t>(size);
  return 0;
}

uint32_t CFilterOutput::InitialCapacity(uint32_t inputSize) {
  if (inputSize < 120) return 240;
  uint64_t twice = static_cast<uint64_t>(inputSize) * 2;
  return twice > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(twice);
}

CFilterOutput::~CFilterOutput() {
  if (m_data) GlobalFree(m_data);
}

bool CFilterOutput::Create(uint32_t inputSize) {
  if (m_data) GlobalFree(m_data);
  m_length = 0;
  m_capacity = InitialCapacity(inputSize);
  m_data = static_cast<char*>(GlobalAlloc(0, m_capacity));
  m_failed = !m_data;
  if (m_failed) m_capacity = 0;
  return !m_failed;
}

bool CFilterOutput::Reserve(uint64_t length) {
  if (m_failed || !m_data) return false;
  if (length <= m_capacity) return true;
  uint64_t capacity = static_cast<uint64_t>(m_capacity) * 2;
  if (capacity < length) capacity = length;
  if (capacity > UINT32_MAX) capacity = UINT32_MAX;
  if (capacity < length) {
    m_failed = true;
    return false;
  }
  auto* block = static_cast<char*>(GlobalAlloc(0, static_cast<size_t>(capacity)));
  if (!block) {
    m_failed = true;
    return false;
  }
  std::memcpy(block, m_data, m_length);
  GlobalFree(m_data);
  m_data = block;
  m_capacity = static_cast<uint32_t>(capacity);
  return true;
}

bool CFilterOutput::Append(const char* text, uint32_t length) {
  if (!Reserve(static_cast<uint64_t>(m_length) + length)) return false;
  if (length) std::memcpy(m_data + m_length, text, length);
  m_length += length;
  return true;
}

bool CFilterOutput::Append(const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  if (n > UINT32_MAX) {
    m_failed = true;
    return false;
  }
  return Append(text, static_cast<uint32_t>(n));
}

bool CFilterOutput::AddLine(const char* text) { return Append(text) && Append("\r\n", 2); }

bool CFilterOutput::AddValue(const char* key, const char* value) {
  return Append(key) && Append(" = ", 3) && AddLine(value);
}

bool CFilterOutput::AddQuoted(const char* key, const char* value) {
  if (!Append(key) || !Append(" = \"", 4)) return false;
  for (const char* p = value ? value : ""; *p; ++p) {
    auto b = static_cast<unsigned char>(*p);
    if (*p == '"' || *p == '\\') {
      char pair[2] = {'\\', *p};
      if (!Append(pair, 2)) return false;
    } else if (b >= 0x20 && b <= 0x7F) {
      if (!Append(p, 1)) return false;
    } else {
      // Four digits when a hexadecimal digit follows, so that the reader does not take it in.
      static const char kHex[] = "0123456789abcdef";
      char escape[8] = {'\\', 'x'};
      uint32_t n = 2;
      if (IsHexDigit(p[1])) {
        escape[n++] = '0';
        escape[n++] = '0';
      }
      if (b >= 0x10 || IsHexDigit(p[1])) escape[n++] = kHex[b >> 4];
      escape[n++] = kHex[b & 0xF];
      if (!Append(escape, n)) return false;
    }
  }
  return Append("\"", 1) && Append("\r\n", 2);
}

CFilterOutput::RateResult CFilterOutput::AddRate(const char* code, double value) {
  if (m_failed) return RateResult::NoMemory;
  if (!std::isfinite(value)) return RateResult::Skipped;
  // A negative rate is written as it is: the server refuses the whole file for it, so a fault of
  // the provider is reported rather than costing that currency its rate in silence.
  const bool negative = value < 0;
  const double magnitude = negative ? -value : value;
  char text[400];
  char* digits = negative ? text + 1 : text;
  const uint32_t room = negative ? sizeof text - 1 : sizeof text;
  if (!DoubleToString(magnitude, digits, 16)) return RateResult::Skipped;
  // The server refuses a whole file for one exponent form: very small or large values go plain.
  if (std::strpbrk(digits, "eE") && !PlainAmountText(magnitude, 0, digits, room)) return RateResult::Skipped;
  if (negative) text[0] = '-';
  return AddValue(code, text) ? RateResult::Written : RateResult::NoMemory;
}

bool CFilterOutput::AddGeneralSection(FilterProgram program, const FILETIME* utcDate) {
  if (!AddLine("[General]") || !AddLine("") || !AddQuoted("Application", kFilterApplication) ||
      !AddQuoted("Source", FilterSourceName(program)) || !AddQuoted("Copyright", kFilterCopyright))
    return false;
  char date[40];
  if (utcDate && TimeToString(*utcDate, date)) return AddValue("Date", date);
  return true;
}

bool CFilterOutput::BeginRates() { return AddLine("") && AddLine("[EUR]") && AddLine(""); }

bool CFilterOutput::AddEuroRate() { return AddValue("EUR", "1.00"); }

void CFilterOutput::Scramble() {
  if (m_data) ScrambleBuffer(m_data, m_length);
}

namespace {
// Everything is released before the program ends, so the exit code is all that is left.
DWORD RunFilter(FilterProgram program, const FilterProgramRun& run, int argc, const char* const* argv) {
  CFilterInput input;
  if (DWORD code = input.Read(program, argc, argv)) return code;
  if (run.refusesWebPage && IsHtmlText(input.Text())) return FilterExitCode(program, FilterFailure::InputIsWebPage);
  CMapIni map;
  if (run.loadsMapIni && !LoadMapIni(&map)) return FilterExitCode(program, FilterFailure::MapIniNotLoaded);
  CFilterOutput output;
  if (DWORD code = run.convert(run.loadsMapIni ? &map : nullptr, input.Text(), input.Size(), output)) return code;
  return WriteFilterOutput(program, input.Path(), output);
}
}  // namespace

int RunFilterProgram(FilterProgram program, const FilterProgramRun& run, int argc, const char* const* argv) {
  // A person who runs the program by hand learns what it wants; the exit code stays the answer.
  if (argc < 3 || !argv)
    std::fprintf(stderr, "usage: %s <downloaded file> <address> [<filter definition> <page index>]\n",
                 FilterProgramName(program));
  return vtx::ExitStatusFromCode(RunFilter(program, run, argc, argv));
}

DWORD WriteFilterOutput(FilterProgram program, const char* path, CFilterOutput& output) {
  if (output.Failed()) return FilterExitCode(program, FilterFailure::OutputMemory);
  output.Scramble();
  if (!path || FAILED(vtx::WriteWholeFile(path, output.Text(), output.Length())))
    return FilterExitCode(program, FilterFailure::OutputNotWritten);
  return 0;
}
