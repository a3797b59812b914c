// OLE automation dates: days since 30 December 1899 with the time of day as the fraction.
#pragma once
#include "platform/types.h"

// The date of a UTC FILETIME (milliseconds dropped); FALSE, with nothing written, when it has none.
BOOL FileTimeToOleDate(const FILETIME& time, double* date);
// The date of a calendar time; FALSE for a year above 9999 or a field out of its range.
BOOL _AfxOleDateFromTm(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, double* date);
