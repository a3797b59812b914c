// Opening addresses and files with the desktop's programs (in place of ShellExecute's "open"): the
// desktop's opener `xdg-open`, found on $PATH, gets exactly one argument and no shell ever runs.
#pragma once
#include "platform/types.h"

namespace vtx {

// How long an opener may take to say whether it could open something; one still running then
// (some wait for the program they started) counts as started.
constexpr DWORD kOpenerWaitMs = 2000;

// True for an address whose scheme is http, https, ftp, mailto or file (any case) followed by ':'.
bool IsOpenableUrl(const char* url);

// Opens an address: 0x80070057 for any other scheme (nothing is started), 0x80004005 when no opener
// is on $PATH or it reports failure, S_OK otherwise.
HRESULT OpenUrl(const char* url);

// Opens a file: a regular executable file runs itself (no arguments, working directory `folder`,
// reaped when it ends); any other file goes to the opener, run in `folder`. A null or empty folder
// keeps the current one. 0x80070002 for a missing file, else as OpenUrl.
HRESULT OpenFile(const char* path, const char* folder);

}  // namespace vtx
