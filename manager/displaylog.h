// The display of on-screen messages: a silent manager watches the display-messages file, shows
// its content in the message window, and deletes it once the user has confirmed what he saw.
#pragma once
#include <QSocketNotifier>

#include <memory>
#include <string>
#include <thread>

#include "engine/notify/messagewindow.h"
#include "manager/seams.h"
#include "platform/files.h"

namespace vtx::manager {

// The most of the file that is shown; a longer file keeps its newest entries.
constexpr size_t kDisplayLogCap = 4u << 20;

class CDisplayLog : public IDisplayLog {
 public:
  CDisplayLog() = default;
  ~CDisplayLog() override { Close(); }
  void Watch(const std::string& path, HWND managerWindow, HMODULE resources) override;
  // Shows the file in the message window: in place of the open window's text, or in a new
  // window. A missing, empty or unreadable file (or anything but a regular file) shows nothing.
  void Read() override;
  // IDOK: the file is deleted (by the messenger, else here) unless it changed since it was
  // read, in which case the new text is shown instead. Any other result keeps it.
  void OnMessageWindowClosed(WPARAM result) override;
  void Close() override;

  CMessageWindow& Window() { return window_; }

 private:
  std::string path_;
  HMODULE resources_ = nullptr;
  HANDLE change_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<QSocketNotifier> notifier_;
  CMessageWindow window_;
  vtx::FileStamp shown_;  // the file whose text went to the window last
  std::thread deleter_;
};

}  // namespace vtx::manager
