#include "engine/currency/ratesreport.h"

#include <cstring>

#include "engine/foundation/resourcelib.h"

namespace {

constexpr size_t kTimeTextMax = 199;
constexpr int kNoSourceMax = 100;

// The entry at `*text` up to the next "|" or the end; `*text` moves past it and its "|".
std::string NextEntry(const char** text) {
  const char* p = *text;
  const char* bar = std::strchr(p, '|');
  std::string entry = bar ? std::string(p, static_cast<size_t>(bar - p)) : std::string(p);
  *text = bar ? bar + 1 : p + entry.size();
  return entry;
}

}  // namespace

std::string ReportTimeText(const FILETIME& utc, bool dateOnly, LCID locale) {
  if (utc.dwLowDateTime == 0 && utc.dwHighDateTime == 0) return "-";
  std::string date, time;
  if (!vtx::FormatLocalDateTime(utc, locale, &date, &time, true)) return "";
  std::string text = dateOnly ? date : date + " - " + time;
  if (text.size() > kTimeTextMax) text.resize(kTimeTextMax);
  return text;
}

std::string BuildRatesInformation(const CRatesData& rates, HMODULE resourceLibrary, LCID locale) {
  std::string report;
  int lines = 0;
  auto line = [&](UINT id, const std::string& insert) {
    std::string text = FormatString(resourceLibrary, id, {insert.c_str()});
    if (text.empty()) return;
    ++lines;
    if (!report.empty()) report += "\r\n";
    report += text;
  };
  const std::string noSource = LoadText(resourceLibrary, kReportNoSourceText, kNoSourceMax);

  line(kReportCreatedLine, ReportTimeText(rates.Created, rates.DateNoTime != 0, locale));
  line(kReportExpiresLine, ReportTimeText(rates.Expires, false, locale));
  const char* source = rates.Source.c_str();
  const char* copyright = rates.Copyright.c_str();
  const char* message = rates.Message.c_str();
  while (*source || *copyright || *message) {
    std::string s = NextEntry(&source), c = NextEntry(&copyright), m = NextEntry(&message);
    report += "\r\n";  // an empty line before each group
    line(kReportSourceLine, s.empty() ? noSource : s);
    line(kReportCopyrightLine, c.empty() ? "-" : c);
    line(kReportMessageLine, m.empty() ? "-" : m);
  }
  // Empty lines alone are no report.
  return lines ? report : std::string();
}
