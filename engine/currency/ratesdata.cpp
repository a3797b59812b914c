#include "engine/currency/ratesdata.h"

#include <charconv>
#include <cmath>

const char g_szOwnApplication[] = "Hulvane(R) Vantrex(TM)";
const char g_szOwnApplicationSign[] = "Hulvane\xAE Vantrex\x99";  // code page 1252

namespace {

using namespace vtx::rates;

const char* Any() { return IniAny<char>(); }

}  // namespace

const IniTableEntry<char> g_IniTable[kIniTableCount] = {
    {kGeneral, nullptr, IniGeneral, IniTypeSection},
    {kGeneral, "Application", IniApplication, IniTypeString},
    {kGeneral, "Source", IniSource, IniTypeString},
    {kGeneral, "Copyright", IniCopyright, IniTypeString},
    {kGeneral, "Message", IniMessage, IniTypeString},
    {kGeneral, "Message.45", IniMessage, IniTypeString},
    {kGeneral, "Warning", IniWarning, IniTypeString},
    {kGeneral, "Error", IniError, IniTypeString},
    {kGeneral, "Date", IniDate, IniTypeString},
    {kGeneral, "Time", IniDate, IniTypeString},
    {kGeneral, "Expires", IniExpires, IniTypeString},
    {kGeneral, "Next", IniNext, IniTypeString},
    // Rates and units are lists, so that a text such as "1,23" arrives whole and is refused
    // instead of being read as 1.
    {"EUR", Any(), IniEUR, IniTypeMultiString},
    {"EUR-Replaced", Any(), IniEURReplaced, IniTypeMultiString},
    {"Smallest", Any(), IniSmallest, IniTypeMultiString},
    {"Names", Any(), IniNames, IniTypeString},
    {kPrivate, nullptr, IniPrivate, IniTypeSection},
    {kPrivate, "LastLoaded", IniLastLoaded, IniTypeString},
    {kPrivate, "DateNoTime", IniDateNoTime, IniTypeULong},
    {kPrivate, "DateOnly", IniDateNoTime, IniTypeULong},
    {kPrivateLastChange, Any(), IniPrivateLastChange, IniTypeString},
    {kPrivateWarning, Any(), IniPrivateWarning, IniTypeULong},
    {"Replaced", Any(), IniReplaced, IniTypeString},
    {kPrivateServers, Any(), IniPrivateServers, IniTypeULong},
};

namespace vtx::rates {

bool ParseDecimal(const char* text, double* value, uint32_t* decimals) {
  if (!text) return false;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  const char* p = text;
  while (blank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const char* number = p;
  uint32_t before = 0, after = 0;
  while (*p >= '0' && *p <= '9') ++p, ++before;
  if (*p == '.') {
    ++p;
    while (*p >= '0' && *p <= '9') ++p, ++after;
  }
  if (before + after == 0) return false;
  const char* end = p;
  while (blank(*p)) ++p;
  if (*p) return false;
  double v = 0;
  auto [stop, ec] = std::from_chars(number, end, v, std::chars_format::fixed);
  if (ec != std::errc() || stop != end || !std::isfinite(v)) return false;
  *value = negative ? -v : v;
  if (decimals) *decimals = after;
  return true;
}

}  // namespace vtx::rates
