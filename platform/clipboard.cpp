#include "platform/clipboard.h"

#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/heap.h"

namespace {

constexpr DWORD kClipboardNotOpen = 1418;

struct State {
  std::mutex lock;
  vtx::ClipboardProvider* provider = nullptr;
  bool open = false;
  std::thread::id owner;
  std::vector<HGLOBAL> handed;  // blocks given out by GetClipboardData, freed at the close
};

State& Clip() {
  static State s;
  return s;
}

void FreeHanded(State& s) {
  for (HGLOBAL b : s.handed) GlobalFree(b);
  s.handed.clear();
}

// The provider when this thread holds the clipboard open.
vtx::ClipboardProvider* Opened(State& s) {
  if (!s.open || s.owner != std::this_thread::get_id() || !s.provider) {
    SetLastError(kClipboardNotOpen);
    return nullptr;
  }
  return s.provider;
}

}  // namespace

BOOL OpenClipboard(HWND) {
  State& s = Clip();
  std::lock_guard<std::mutex> g(s.lock);
  if (!s.provider) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (s.open && s.owner != std::this_thread::get_id()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  s.open = true;
  s.owner = std::this_thread::get_id();
  return TRUE;
}

BOOL CloseClipboard() {
  State& s = Clip();
  std::lock_guard<std::mutex> g(s.lock);
  if (!Opened(s)) return FALSE;
  FreeHanded(s);
  s.open = false;
  return TRUE;
}

BOOL EmptyClipboard() {
  State& s = Clip();
  std::lock_guard<std::mutex> g(s.lock);
  vtx::ClipboardProvider* p = Opened(s);
  if (!p) return FALSE;
  if (!p->Clear()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

HGLOBAL GetClipboardData(UINT format) {
  State& s = Clip();
  std::lock_guard<std::mutex> g(s.lock);
  vtx::ClipboardProvider* p = Opened(s);
  if (!p) return nullptr;
  std::string bytes;
  if (!p->Get(format, &bytes)) {
    SetLastError(ERROR_NOT_FOUND);
    return nullptr;
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!block) return nullptr;
  if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
  s.handed.push_back(block);
  return block;
}

HGLOBAL SetClipboardData(UINT format, HGLOBAL block) {
  State& s = Clip();
  std::lock_guard<std::mutex> g(s.lock);
  vtx::ClipboardProvider* p = Opened(s);
  if (!p) return nullptr;
  if (!block) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string bytes(static_cast<const char*>(block), GlobalSize(block));
  if (!p->Set(format, bytes)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  GlobalFree(block);
  return block;
}

BOOL IsClipboardFormatAvailable(UINT format) {
  State& s = Clip();
  std::lock_guard<std::mutex> g(s.lock);
  std::string bytes;
  return s.provider && s.provider->Get(format, &bytes) ? TRUE : FALSE;
}

namespace vtx {

void SetClipboardProvider(ClipboardProvider* provider) {
  State& s = Clip();
  std::lock_guard<std::mutex> g(s.lock);
  s.provider = provider;
  if (!provider) {
    FreeHanded(s);
    s.open = false;
  }
}

}  // namespace vtx
