#include "platform/clipboard.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/heap.h"
#include "platform/sync.h"

namespace {

std::mutex g_lock;
vtx::clipboard::Backend* g_backend = nullptr;
DWORD g_owner = 0;  // the thread that has the clipboard open
std::vector<HGLOBAL> g_blocks;

// Caller holds g_lock.
bool OpenHere() {
  if (g_owner == GetCurrentThreadId()) return true;
  SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
  return false;
}

HGLOBAL Copy(const void* data, size_t bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, bytes);
  if (block) std::memcpy(block, data, bytes);
  return block;
}

}  // namespace

BOOL OpenClipboard(HWND) {
  std::lock_guard<std::mutex> l(g_lock);
  if (!g_backend) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  if (g_owner && g_owner != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  g_owner = GetCurrentThreadId();
  return TRUE;
}

BOOL CloseClipboard() {
  std::lock_guard<std::mutex> l(g_lock);
  if (!OpenHere()) return FALSE;
  for (HGLOBAL b : g_blocks) GlobalFree(b);
  g_blocks.clear();
  g_owner = 0;
  return TRUE;
}

BOOL EmptyClipboard() {
  std::lock_guard<std::mutex> l(g_lock);
  if (!OpenHere()) return FALSE;
  return g_backend->WriteText(u"") ? TRUE : FALSE;
}

HANDLE GetClipboardData(UINT format) {
  std::lock_guard<std::mutex> l(g_lock);
  if (!OpenHere()) return nullptr;
  if (format != CF_TEXT && format != CF_UNICODETEXT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string text;
  if (!g_backend->ReadText(&text) || text.empty()) {
    SetLastError(ERROR_NOT_FOUND);
    return nullptr;
  }
  HGLOBAL block;
  if (format == CF_UNICODETEXT) {
    block = Copy(text.c_str(), (text.size() + 1) * sizeof(char16_t));
  } else {
    std::string ansi = vtx::WideToAnsi(text);
    block = Copy(ansi.c_str(), ansi.size() + 1);
  }
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  g_blocks.push_back(block);
  return block;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  std::lock_guard<std::mutex> l(g_lock);
  std::u16string text;
  return g_backend && (format == CF_TEXT || format == CF_UNICODETEXT) && g_backend->ReadText(&text) &&
         !text.empty();
}

HANDLE SetClipboardData(UINT format, HANDLE block) {
  std::lock_guard<std::mutex> l(g_lock);
  if (!OpenHere()) return nullptr;
  if ((format != CF_TEXT && format != CF_UNICODETEXT) || !block) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  size_t size = GlobalSize(block);
  std::u16string text;
  if (format == CF_UNICODETEXT) {
    const auto* p = static_cast<const char16_t*>(block);
    size_t n = 0;
    while (n < size / 2 && p[n]) ++n;
    text.assign(p, n);
  } else {
    const auto* p = static_cast<const char*>(block);
    text = vtx::AnsiToWide(std::string(p, strnlen(p, size)));
  }
  if (!g_backend->WriteText(text)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  g_blocks.push_back(block);
  return block;
}

namespace vtx::clipboard {

Backend* SetBackend(Backend* backend) {
  std::lock_guard<std::mutex> l(g_lock);
  Backend* old = g_backend;
  g_backend = backend;
  return old;
}

}  // namespace vtx::clipboard
