#include "engine/update/runarchive.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/currency/settings.h"
#include "engine/foundation/timetext.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/inet.h"
#include "platform/native/syscalls.h"
#include "platform/systime.h"

namespace {

constexpr HRESULT kNameTooLong = 0x800700CE;  // ERROR_FILENAME_EXCED_RANGE
constexpr size_t kFileNameRoom = 40;
constexpr size_t kMaxExtension = 15;

const char* Item(const CStringList<char>& list, uint32_t i) { return list.Exists(i) && list[i] ? list[i] : ""; }

}  // namespace

void GetRunLogLists(CUpdateThread& thread, RunLogLists& lists) {
  for (uint32_t i = 0; i < RunLogListCount; ++i) lists[i] = &thread.GetRunLog(static_cast<RunLogList>(i));
}

bool AddRunLogPage(const RunLogLists& lists, const char* url, const char* name, const char* address,
                   const void* contents, uint32_t length, const char* time, const char* converted) {
  if (length == UINT32_MAX || (length && !contents)) return false;
  char count[16];
  std::snprintf(count, sizeof count, "%u", length);
  char* block = static_cast<char*>(GlobalAlloc(0, static_cast<size_t>(length) + 1));
  if (!block) return false;
  if (length) std::memcpy(block, contents, length);
  block[length] = 0;
  const void* items[RunLogListCount] = {};
  uint32_t sizes[RunLogListCount] = {};
  items[RunLogUrl] = url ? url : "";
  items[RunLogSourceName] = name ? name : "";
  items[RunLogAddress] = address ? address : "";
  items[RunLogContents] = block;
  sizes[RunLogContents] = length + 1;
  items[RunLogLength] = count;
  items[RunLogTime] = time ? time : "";
  items[RunLogConverted] = converted ? converted : "";
  uint32_t added = 0;
  for (; added < RunLogListCount; ++added)
    if (!lists[added]->Add(items[added], kListAppend, sizes[added])) break;
  GlobalFree(block);
  if (added == RunLogListCount) return true;
  for (uint32_t i = 0; i < added; ++i) lists[i]->Remove(lists[i]->GetCount() - 1);
  return false;
}

HRESULT GetRunLogsFolder(CStringA& folder) {
  char path[MAX_PATH];
  if (!GetLogPath(path)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  folder = path;
  return folder.IsNull() ? E_OUTOFMEMORY : S_OK;
}

HRESULT CreateRunFolder(const char* logsFolder, CStringA& folder, const FILETIME* now) {
  folder.Empty();
  if (!logsFolder || !*logsFolder) return E_INVALIDARG;
  FILETIME t{};
  if (now)
    t = *now;
  else
    GetSystemTimeAsFileTime(&t);
  char stamp[32];
  if (!TimeToString(t, stamp)) return E_INVALIDARG;
  std::string name;
  for (const char* p = stamp; *p; ++p)
    if (*p != '-' && *p != ':') name += *p;
  if (std::strlen(logsFolder) + name.size() >= MAX_PATH) return kNameTooLong;
  std::string base = vtx::JoinPath(logsFolder, name);
  for (unsigned n = 0;; ++n) {
    std::string candidate = n ? base + "-" + std::to_string(n) : base;
    if (candidate.size() >= MAX_PATH) return kNameTooLong;
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      // What a run fetched is for the product's people only: sources may be private, so a folder
      // that cannot be closed to others is not used.
      if (vtx::sys::Chmod(candidate.c_str(), 0750) != 0) {
        HRESULT hr = HRESULT_FROM_WIN32(vtx::SetLastErrorFromErrno());
        vtx::sys::Rmdir(candidate.c_str());
        return hr;
      }
      folder = candidate.c_str();
      return folder.IsNull() ? E_OUTOFMEMORY : S_OK;
    }
    // Another run took the name between the test and the creation: take the next one.
    if (GetLastError() != ERROR_ALREADY_EXISTS) return HRESULT_FROM_WIN32(GetLastError());
  }
}

void RunFileExtension(const char* url, CStringA& extension) {
  extension = ".txt";
  if (!url) return;
  size_t end = std::strcspn(url, "?#");
  size_t segment = 0;
  for (size_t i = 0; i < end; ++i)
    if (url[i] == '/' || url[i] == '\\') segment = i + 1;
  const char* dot = nullptr;
  for (size_t i = segment; i < end; ++i)
    if (url[i] == '.') dot = url + i;
  if (!dot) return;
  size_t length = static_cast<size_t>(url + end - dot);
  if (length > kMaxExtension) length = kMaxExtension;
  if (length < 2) return;  // a bare "." names no type
  std::string ext(dot, length);
  extension = ext.c_str();
}

HRESULT WriteRunFile(const char* folder, int32_t index, const char* name, const char* extension, const void* data,
                     uint32_t length) {
  if (!folder || !name || !extension) return E_INVALIDARG;
  if (std::strlen(folder) + std::strlen(name) + std::strlen(extension) + kFileNameRoom > MAX_PATH) return kNameTooLong;
  char file[16] = "";
  if (index >= 0) std::snprintf(file, sizeof file, "%04d_", index);
  std::string path = vtx::JoinPath(folder, std::string(file) + name + extension);
  // Whole or not at all: a file that fails leaves no part of itself to be taken for the page.
  return vtx::WriteFileReplacing(path.c_str(), data ? data : "", data ? length : 0, 0640);
}

HRESULT ArchiveRunLog(const RunLogLists& lists, const char* runMessages, const char* logsFolder, const FILETIME* now,
                      CStringA* createdFolder) {
  CStringA logs;
  if (!logsFolder) {
    HRESULT hr = GetRunLogsFolder(logs);
    if (FAILED(hr)) return hr;
    logsFolder = logs;
  }
  CStringA folder;
  HRESULT hr = CreateRunFolder(logsFolder, folder, now);
  if (FAILED(hr)) return hr;
  HRESULT first = S_OK;
  auto keep = [&first](HRESULT r) {
    if (FAILED(r) && SUCCEEDED(first)) first = r;
  };
  const CStringList<char>& urls = *lists[RunLogUrl];
  const CStringList<char>& contentsList = *lists[RunLogContents];
  for (uint32_t i = 0; i < urls.GetCount(); ++i) {
    std::string info = vtx::inet::MaskPasswords(
        std::string("Data source: ") + Item(*lists[RunLogSourceName], i) + "\r\nAddress: " +
        Item(*lists[RunLogAddress], i) + "\r\nURL: " + Item(urls, i) + "\r\nTime: " + Item(*lists[RunLogTime], i) +
        "\r\n");
    int32_t n = static_cast<int32_t>(i);
    keep(WriteRunFile(folder, n, "info", ".txt", info.data(), static_cast<uint32_t>(info.size())));

    // Exactly the recorded bytes: the count from the length text, never beyond the block.
    const char* contents = Item(contentsList, i);
    // The block ends with a NUL that is not part of the download.
    size_t have = contentsList.Exists(i) && contentsList[i] ? GlobalSize(contentsList[i]) : 0;
    if (have) --have;
    size_t count = std::strlen(contents);
    const char* lengthText = Item(*lists[RunLogLength], i);
    if (*lengthText) {
      char* end = nullptr;
      errno = 0;
      unsigned long v = std::strtoul(lengthText, &end, 10);
      if (end != lengthText && errno == 0) count = v;
    }
    if (count > have) count = have;
    CStringA ext;
    RunFileExtension(Item(urls, i), ext);
    keep(WriteRunFile(folder, n, "contents", ext.c_str(), contents, static_cast<uint32_t>(count)));

    const char* filtered = Item(*lists[RunLogConverted], i);
    keep(WriteRunFile(folder, n, "filtered", ".ini", filtered, static_cast<uint32_t>(std::strlen(filtered))));
  }
  std::string messages = vtx::inet::MaskPasswords(runMessages ? runMessages : "");
  keep(WriteRunFile(folder, -1, "messages", ".txt", messages.data(), static_cast<uint32_t>(messages.size())));
  if (createdFolder) *createdFolder = folder;
  return first;
}
