#include "engine/notify/messagewindow.h"

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "engine/foundation/resourcelib.h"
#include "engine/notify/displayfile.h"
#include "engine/notify/notifychannels.h"
#include "platform/errors.h"
#include "platform/heap.h"

namespace {

constexpr int kTitleMax = 200;

vtx::ui::MessageDialogSpec MakeSpec(HWND owner, HMODULE resourceLibrary, UINT iconId, UINT titleId, UINT flags,
                                    const char* text) {
  vtx::ui::MessageDialogSpec spec;
  spec.owner = owner;
  spec.title = LoadText(resourceLibrary, titleId, kTitleMax);
  spec.iconId = iconId;
  spec.flags = flags;
  spec.text = text ? text : "";
  return spec;
}

}  // namespace

int CMessageDialog::ShowId(HWND owner, HMODULE resourceLibrary, UINT iconId, UINT titleId, UINT flags,
                           const char* text) {
  int result = -1;
  try {
    vtx::ui::MessageDialogSpec spec = MakeSpec(owner, resourceLibrary, iconId, titleId, flags, text);
    if (FAILED(vtx::ui::MessageDialogs().ShowModal(spec, &result))) return -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return result;
}

HRESULT CMessageDialog::Open(HWND owner, HMODULE resourceLibrary, UINT iconId, UINT titleId, UINT flags,
                             const char* text, std::function<void(int)> ended) {
  Close();
  return vtx::ui::MessageDialogs().Open(MakeSpec(owner, resourceLibrary, iconId, titleId, flags, text),
                                        std::move(ended), &id_);
}

void CMessageDialog::SetText(const char* text, BOOL replace) {
  if (id_) vtx::ui::MessageDialogs().SetText(id_, text ? text : "", replace != FALSE);
}

void CMessageDialog::Close() {
  if (id_) vtx::ui::MessageDialogs().Close(id_);
  id_ = 0;
}

// Callers hand their texts over under the lock; the dialogs' thread takes them in order and alone
// decides whether a dialog is open, so a message never goes to a dialog that has already ended.
struct CMessageWindow::State {
  struct Op {
    bool replace;
    std::string text;
    HWND owner;
    HMODULE resourceLibrary;
  };
  std::mutex m;
  std::vector<Op> pending;
  bool flushPosted = false;
  HWND notifyWindow = nullptr;
  UINT notifyMessage = 0;
  // The open dialog and everything it shows.
  CMessageDialog dialog;
  std::string text;
  HWND owner = nullptr;
  HMODULE resourceLibrary = nullptr;

  static HRESULT Queue(const std::shared_ptr<State>& self, bool replace, const char* text, HWND owner,
                       HMODULE resourceLibrary);
  static void Flush(const std::shared_ptr<State>& self);
  static void Ended(const std::weak_ptr<State>& weak, int result);
};

HRESULT CMessageWindow::State::Queue(const std::shared_ptr<State>& self, bool replace, const char* text, HWND owner,
                                     HMODULE resourceLibrary) {
  std::lock_guard<std::mutex> lock(self->m);
  try {
    self->pending.push_back({replace, text, owner, resourceLibrary});
    if (!self->flushPosted) {
      std::weak_ptr<State> weak = self;
      HRESULT hr = vtx::ui::MessageDialogs().Post([weak] {
        if (std::shared_ptr<State> s = weak.lock()) Flush(s);
      });
      if (FAILED(hr)) {
        self->pending.pop_back();
        return hr;
      }
      self->flushPosted = true;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CMessageWindow::State::Flush(const std::shared_ptr<State>& self) {
  std::lock_guard<std::mutex> lock(self->m);
  self->flushPosted = false;
  std::vector<Op> ops;
  ops.swap(self->pending);
  std::weak_ptr<State> weak = self;
  for (Op& op : ops) {
    bool open = self->dialog.IsOpen();
    if (!open) {
      self->text.clear();
      self->owner = op.owner;
      self->resourceLibrary = op.resourceLibrary;
    }
    if (op.replace) {
      self->text.swap(op.text);
    } else {
      if (!self->text.empty()) self->text += vtx::notify::kDisplaySeparator;
      self->text += op.text;
    }
    if (open) {
      self->dialog.SetText(self->text.c_str(), op.replace);
    } else {
      self->dialog.Open(self->owner, self->resourceLibrary, kMessageWindowIcon, kMessageWindowTitle,
                        vtx::ui::kMessageDialogTopmost, self->text.c_str(),
                        [weak](int result) { Ended(weak, result); });
    }
  }
}

void CMessageWindow::State::Ended(const std::weak_ptr<State>& weak, int result) {
  std::shared_ptr<State> self = weak.lock();
  if (!self) return;
  HWND window;
  UINT message;
  {
    std::lock_guard<std::mutex> lock(self->m);
    self->dialog.Ended();
    self->text.clear();
    window = self->notifyWindow;
    message = self->notifyMessage;
  }
  if (window && IsWindow(window)) PostMessageA(window, message, static_cast<WPARAM>(result), 0);
}

CMessageWindow::CMessageWindow() : state_(std::make_shared<State>()) {}

CMessageWindow::~CMessageWindow() { Close(); }

HRESULT CMessageWindow::AddMessage(HWND owner, const char* text, UINT flags, HMODULE resourceLibrary) {
  if (!text) return E_POINTER;
  // A catalogue without the entry's header still shows the message itself.
  char* entry = DisplayMessageEntry(text, flags, resourceLibrary);
  HRESULT hr = State::Queue(state_, false, entry ? entry : text, owner, resourceLibrary);
  if (entry) LocalFree(entry);
  return hr;
}

HRESULT CMessageWindow::SetText(HWND owner, const char* text, HMODULE resourceLibrary) {
  if (!text) return E_POINTER;
  return State::Queue(state_, true, text, owner, resourceLibrary);
}

void CMessageWindow::SetNotify(HWND window, UINT message) {
  std::lock_guard<std::mutex> lock(state_->m);
  state_->notifyWindow = window;
  state_->notifyMessage = message;
}

void CMessageWindow::Close() {
  std::lock_guard<std::mutex> lock(state_->m);
  state_->pending.clear();
  state_->dialog.Close();
  state_->text.clear();
}

bool CMessageWindow::IsShowing() {
  std::lock_guard<std::mutex> lock(state_->m);
  return state_->dialog.IsOpen() || !state_->pending.empty();
}
