#include "platform/launcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/native/syscalls.h"
#include "platform/process.h"

namespace vtx {

namespace {

HRESULT RunOpener(const std::string& argument, const char* folder) {
  std::string opener;
  if (FAILED(FindOnPath("xdg-open", &opener))) return E_FAIL;
  ChildProcess child;
  ProgramStart start{opener, {argument}, folder ? folder : ""};
  if (FAILED(child.Start(start))) return E_FAIL;
  DWORD code = 0;
  HRESULT hr = child.WaitOrLeave(kOpenerWaitMs, &code);
  if (hr == E_TIMEOUT) return S_OK;
  return SUCCEEDED(hr) && code == 0 ? S_OK : E_FAIL;
}

}  // namespace

bool IsOpenableUrl(const char* url) {
  if (!url) return false;
  for (const char* scheme : {"http:", "https:", "ftp:", "mailto:", "file:"}) {
    size_t n = std::char_traits<char>::length(scheme);
    if (_strnicmp(url, scheme, n) == 0) return true;
  }
  return false;
}

HRESULT OpenUrl(const char* url) {
  if (!IsOpenableUrl(url)) return E_INVALIDARG;
  return RunOpener(url, nullptr);
}

HRESULT OpenFile(const char* path, const char* folder) {
  if (!path || !*path) return E_INVALIDARG;
  std::string full = path;
  if (full[0] != '/') {
    std::string base = folder && *folder ? folder : ".";
    if (base[0] != '/') {
      char cwd[4096];
      if (!vtx::sys::Getcwd(cwd, sizeof cwd)) return E_FAIL;
      base = JoinPath(cwd, base);
    }
    full = JoinPath(base, full);
  }
  struct stat st;
  if (vtx::sys::Stat(full.c_str(), &st) != 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  const char* dir = folder && *folder ? folder : nullptr;
  if (S_ISREG(st.st_mode) && vtx::sys::Access(full.c_str(), X_OK) == 0)
    return StartDetached(ProgramStart{full, {}, dir ? dir : ""});
  // An absolute path never reads as an option of the opener.
  return RunOpener(full, dir);
}

}  // namespace vtx
