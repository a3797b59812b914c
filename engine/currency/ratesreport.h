// The rates information report: when the rates were made and until when they hold, and for each
// data source its name, copyright and message.
#pragma once
#include <string>

#include "engine/currency/settings.h"
#include "platform/locale.h"
#include "platform/resources.h"

constexpr UINT kReportNoSourceText = 416;
constexpr UINT kReportSourceLine = 417;
constexpr UINT kReportCopyrightLine = 418;
constexpr UINT kReportMessageLine = 419;
constexpr UINT kReportCreatedLine = 420;
constexpr UINT kReportExpiresLine = 421;
constexpr UINT kReportTitle = 422;

// A time of the report in the locale's long date and its time ("<date> - <time>"), local to the
// process's time zone under the rules of that moment; the date alone when asked; "-" for a zero
// time; empty when it cannot be converted.
std::string ReportTimeText(const FILETIME& utc, bool dateOnly, LCID locale = LOCALE_USER_DEFAULT);

// The report, lines apart by CR LF: string 420 with the Created time (its date alone under
// DateNoTime), string 421 with Expires, then for each "|"-separated entry of Source, Copyright and
// Message a group after an empty line: 417 (the source, else string 416), 418 and 419 ("-" for an
// empty entry). A line whose string is missing is left out; without any line the report is empty.
std::string BuildRatesInformation(const CRatesData& rates, HMODULE resourceLibrary,
                                  LCID locale = LOCALE_USER_DEFAULT);
