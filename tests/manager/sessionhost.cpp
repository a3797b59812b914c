// vtxmanager's main with the product's configuration session, scripted for the tests that run it
// as a process: message boxes answer from $VTX_BOXES (button ids separated by commas, one per box;
// a box beyond them answers Cancel and is marked unexpected), the configuration window is handled
// as $VTX_SHEET says ("ok", "cancel", "test-ok": a test update, then OK; anything else leaves it
// open), and $VTX_TRAY_CLICK_AT_BOX=<n> clicks the tray icon while the n-th box is shown. The
// boxes, the window and the end go to $VTX_MANAGER_LOG, one line each.
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

#include "manager/configsession.h"
#include "manager/managerdefs.h"
#include "manager/managerwindow.h"
#include "tests/manager/hostlog.h"
#include "manager/propertysheet.h"
#include "platform/codepage.h"

using namespace vtx::manager;

namespace {

void Log(const std::string& line) { vtxtest::HostLog(line); }

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::deque<int> g_answers;
int g_boxes = 0;
int g_clickAt = 0;

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

int ScriptedBox(HWND, const char* text, const char* caption, UINT type) {
  ++g_boxes;
  char style[16];
  std::snprintf(style, sizeof style, "0x%X", type);
  bool expected = !g_answers.empty();
  Log(std::string("box ") + style + " " + vtx::AnsiToUtf8(caption ? caption : "") + ": " +
      vtx::AnsiToUtf8(text ? text : "") + (expected ? "" : " [unexpected]"));
  if (g_boxes == g_clickAt) {
    // The tray icon clicked while the box is up.
    PostMessageA(FindWindowA(kManagerClass, nullptr), WM_VXMGR_TRAYNOTIFY, 0, WM_LBUTTONUP);
    Pump(300);
  }
  if (!expected) return IDCANCEL;
  int a = g_answers.front();
  g_answers.pop_front();
  return a;
}

}  // namespace

// The product's session, with the window handled from the script once it is open.
class ScriptedSession : public IConfigSession {
 public:
  explicit ScriptedSession(std::string action) : action_(std::move(action)) {}
  HRESULT Start(HMODULE resources, HWND owner, HWND notifyWindow, UINT notifyMessage) override {
    if (!look_) {
      look_ = std::make_unique<QTimer>();
      QObject::connect(look_.get(), &QTimer::timeout, [this] { Act(); });
      look_->start(50);
    }
    return session_.Start(resources, owner, notifyWindow, notifyMessage);
  }
  bool IsRunning() const override { return session_.IsRunning(); }
  bool RaiseWindow() override { return session_.RaiseWindow(); }
  void EndForQuit() override { session_.EndForQuit(); }

 private:
  void Act() {
    PropertySheet* window = session_.Window();
    if (acted_ || !window || !window->isVisible()) return;
    acted_ = true;
    Log("window open");
    if (action_ == "ok") window->OkButton()->click();
    if (action_ == "cancel") window->reject();
    if (action_ == "test-ok") {
      session_.Sheet()->TestUpdate(false);
      Log(session_.Sheet()->Testing() ? "test update running" : "test update not started");
      while (session_.Sheet() && session_.Sheet()->Testing()) Pump(50);
      if (session_.Window()) session_.Window()->OkButton()->click();
    }
  }

  CConfigSession session_;
  std::string action_;
  std::unique_ptr<QTimer> look_;
  bool acted_ = false;
};

int main(int argc, char** argv) {
  for (const QString& item : QString::fromStdString(Env("VTX_BOXES")).split(',', Qt::SkipEmptyParts))
    g_answers.push_back(item.toInt());
  g_clickAt = std::atoi(Env("VTX_TRAY_CLICK_AT_BOX").c_str());
  ManagerParts parts;
  parts.session = std::make_unique<ScriptedSession>(Env("VTX_SHEET"));
  parts.boxes = ScriptedBox;
  int code = ManagerMain(argc, argv, std::move(parts));
  Log("exit " + std::to_string(code));
  return code;
}
