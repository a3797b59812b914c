// The per-run archive: a folder per update run under the logs folder with, for every fetched
// page, what was fetched from where, the downloaded bytes and the converted rates, and the run's
// messages.
#pragma once
#include <cstdint>

#include "engine/foundation/cstring.h"
#include "engine/foundation/stringlist.h"
#include "engine/update/updatethread.h"
#include "platform/errors.h"
#include "platform/types.h"

// The run log: seven lists in RunLogList order, item i of each belonging to the i-th fetched
// page. The contents are byte blocks (any bytes, with a NUL after them); the length list holds
// their counts as decimal text.
using RunLogLists = CStringList<char>* [RunLogListCount];

// The thread's seven lists.
void GetRunLogLists(CUpdateThread& thread, RunLogLists& lists);
// Records one page; null texts are recorded empty. False when memory runs out (the log then
// holds no part of this page).
bool AddRunLogPage(const RunLogLists& lists, const char* url, const char* name, const char* address,
                   const void* contents, uint32_t length, const char* time, const char* converted);

// The logs folder under the common application data ("<data>/Hulvane/Vantrex/Logs"), created
// when missing.
HRESULT GetRunLogsFolder(CStringA& folder);
// Creates "<logsFolder>/<UTC time without '-' and ':'>", with "-1", "-2", ... appended while the
// name is taken. `now` null: the current time. 0x800700CE when the name would not fit a path.
HRESULT CreateRunFolder(const char* logsFolder, CStringA& folder, const FILETIME* now = nullptr);
// The extension of the address's last path segment (".csv"; at most 15 characters; the query
// does not count), else ".txt".
void RunFileExtension(const char* url, CStringA& extension);
// Writes "<folder>/<index as 4 digits>_<name><extension>" (no number when index is negative)
// with exactly `length` bytes, whole or not at all; a name that would not fit a path with 40
// characters to spare is skipped with 0x800700CE.
HRESULT WriteRunFile(const char* folder, int32_t index, const char* name, const char* extension, const void* data,
                     uint32_t length);
// The whole archive of a run into a new folder under `logsFolder` (null: GetRunLogsFolder).
// A file that cannot be written is skipped (none of it is left); the result is the first failure,
// 0 when all went.
HRESULT ArchiveRunLog(const RunLogLists& lists, const char* runMessages, const char* logsFolder = nullptr,
                      const FILETIME* now = nullptr, CStringA* createdFolder = nullptr);
