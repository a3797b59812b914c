// vtxmanager with recording parts, run as a process by the tests: the configuration session, the
// requests from other managers and the message boxes are written to $VTX_MANAGER_LOG, one line
// each; boxes answer their default button.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/foundation/resourcelib.h"
#include "manager/managerwindow.h"
#include "tests/manager/hostlog.h"

namespace {

void Log(const std::string& line) { vtxtest::HostLog(line); }

class LoggingSession : public vtx::manager::IConfigSession {
 public:
  HRESULT Start(HMODULE, HWND, HWND, UINT) override {
    if (!running_) Log("session start");
    running_ = true;
    return 0;
  }
  bool IsRunning() const override { return running_; }
  bool RaiseWindow() override {
    if (running_) Log("session raise");
    return running_;
  }
  void EndForQuit() override {
    if (running_) Log("session end");
    running_ = false;
  }

 private:
  bool running_ = false;
};

int LoggingBox(HWND, const char* text, const char* caption, UINT type) {
  Log(std::string("box ") + (caption ? caption : "") + ": " + (text ? text : ""));
  return vtx::DefaultMessageBoxAnswer(type);
}

}  // namespace

int main(int argc, char** argv) {
  vtx::manager::ManagerParts parts;
  parts.session = std::make_unique<LoggingSession>();
  parts.boxes = LoggingBox;
  parts.onRequest = [](UINT msg) {
    char line[32];
    std::snprintf(line, sizeof line, "request 0x%04X", msg);
    Log(line);
  };
  int code = vtx::manager::ManagerMain(argc, argv, std::move(parts));
  Log("exit " + std::to_string(code));
  return code;
}
