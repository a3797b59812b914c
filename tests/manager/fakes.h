// Stand-ins of the manager's parts that record what the frame asks of them.
#pragma once
#include <QThread>

#include <string>
#include <vector>

#include "manager/managerwindow.h"

namespace vtxtest {

struct LauncherCall {
  std::string what;  // "url" or "file"
  std::string target;
  std::string folder;
};

class RecordingLauncher : public vtx::manager::ILauncher {
 public:
  HRESULT OpenUrl(const char* url) override {
    calls.push_back({"url", url ? url : "", ""});
    return 0;
  }
  HRESULT OpenFile(const char* path, const char* folder) override {
    calls.push_back({"file", path ? path : "", folder ? folder : ""});
    return 0;
  }
  std::vector<LauncherCall> calls;
};

// A configuration session that opens at Start and stays open until the quit path ends it; it
// writes what happened to `log`.
class FakeSession : public vtx::manager::IConfigSession {
 public:
  explicit FakeSession(std::vector<std::string>* log) : log_(log) {}
  HRESULT Start(HMODULE, HWND, HWND notifyWindow, UINT notifyMessage) override {
    log_->push_back(running_ ? "start again" : "start");
    running_ = true;
    notifyWindow_ = notifyWindow;
    notifyMessage_ = notifyMessage;
    return 0;
  }
  bool IsRunning() const override { return running_; }
  bool RaiseWindow() override {
    if (running_) log_->push_back("raise");
    return running_;
  }
  void EndForQuit() override {
    if (!running_) return;
    // The loop must still run and the window still exist while the session ends.
    log_->push_back(std::string("end for quit, loop level ") + std::to_string(QThread::currentThread()->loopLevel()) +
                    (IsWindow(notifyWindow_) ? ", window alive" : ", window gone"));
    running_ = false;
  }
  // The user closes the configuration window.
  void Finish() {
    running_ = false;
    PostMessageA(notifyWindow_, notifyMessage_, 0, 0);
  }

 private:
  std::vector<std::string>* log_;
  bool running_ = false;
  HWND notifyWindow_ = nullptr;
  UINT notifyMessage_ = 0;
};

class FakeTray : public vtx::manager::ITrayView {
 public:
  explicit FakeTray(bool available) : available_(available) {}
  bool Add(HWND, const std::string& tip) override {
    tips.push_back(tip);
    return available_;
  }
  void Remove() override { ++removed; }
  void ShowMenu(const std::vector<vtx::manager::MenuItem>& items, std::function<void(UINT)> command) override {
    shown = items;
    choose = std::move(command);
    ++menus;
  }
  std::vector<std::string> tips;
  std::vector<vtx::manager::MenuItem> shown;
  std::function<void(UINT)> choose;
  int menus = 0;
  int removed = 0;

 private:
  bool available_;
};

}  // namespace vtxtest
