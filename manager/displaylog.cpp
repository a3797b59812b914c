#include "manager/displaylog.h"

#include "engine/notify/displayfile.h"
#include "engine/notify/notifychannels.h"
#include "manager/managerdefs.h"
#include "platform/sync.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

// The folder of the file: the path up to its last '\' or '/' (searched from the end down to the
// second character); a path without one is used whole, and the watch then fails.
std::string FolderOf(const std::string& path) {
  for (size_t i = path.size(); i-- > 1;)
    if (path[i] == '/' || path[i] == '\\') return path.substr(0, i);
  return path;
}

}  // namespace

void CDisplayLog::Watch(const std::string& path, HWND managerWindow, HMODULE resources) {
  Close();
  path_ = path;
  resources_ = resources;
  change_ = FindFirstChangeNotificationA(FolderOf(path).c_str(), FALSE, FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (change_ != INVALID_HANDLE_VALUE) {
    notifier_ = std::make_unique<QSocketNotifier>(vtx::sync::FromHandle(change_)->PollFd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      // The changes are taken before the read: a write after it signals again.
      FindNextChangeNotification(change_);
      Read();
    });
  }
  window_.SetNotify(managerWindow, WM_VXMGR_MESSAGEWINDOWCLOSED);
  // Messages written while no manager ran.
  Read();
}

void CDisplayLog::Read() {
  if (path_.empty()) return;
  std::string text;
  vtx::FileStamp stamp;
  if (FAILED(vtx::notify::ReadDisplayFile(path_.c_str(), kDisplayLogCap, &text, &stamp)) || text.empty()) return;
  if (SUCCEEDED(window_.SetText(nullptr, text.c_str(), resources_))) shown_ = stamp;
}

void CDisplayLog::OnMessageWindowClosed(WPARAM result) {
  if (result != static_cast<WPARAM>(IDOK) || path_.empty()) return;
  // A newer text is already on its way to a new window: the user confirms that one.
  if (window_.IsShowing()) return;
  vtx::FileStamp now;
  if (FAILED(vtx::StampFile(path_.c_str(), &now))) return;
  if (now != shown_) {
    // Written after the last read: the user has not seen it yet.
    Read();
    return;
  }
  if (deleter_.joinable()) deleter_.join();
  // The request may take up to its time-out; the GUI goes on meanwhile.
  deleter_ = std::thread([path = path_, shown = shown_] {
    if (FAILED(PipeDeleteDisplayLog())) vtx::notify::DeleteDisplayFileIfUnchanged(path, shown);
  });
}

void CDisplayLog::Close() {
  notifier_.reset();
  if (change_ != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change_);
  change_ = INVALID_HANDLE_VALUE;
  window_.SetNotify(nullptr, 0);
  window_.Close();
  if (deleter_.joinable()) deleter_.join();
  path_.clear();
}

}  // namespace vtx::manager
