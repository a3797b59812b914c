// The manager's Qt side: the pump of the GUI thread's platform queue, message boxes, the tray
// icon and its menu, the desktop's quit request, and the product's session and display log.
#pragma once
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

#include "manager/seams.h"
#include "manager/traymenu.h"
#include "platform/messages.h"

class QIcon;
class QMenu;
class QMessageBox;
class QSocketNotifier;

namespace vtx::manager {

class ITrayView;

// Watches the calling thread's queue descriptor and drains the queue with PeekMessage whenever it
// is readable: WM_VXMGR_QUIT calls `quit` and is never dispatched, everything else is dispatched.
std::unique_ptr<QSocketNotifier> MakeQueuePump(std::function<void()> quit);

// MessageBoxA shows a QMessageBox (on the GUI thread, whichever thread asks).
void InstallQtMessageBoxes();
// The box of a style: icon, buttons in order, default button, raised for MB_SETFOREGROUND.
// Returns the id of the button pressed; a box closed otherwise answers Cancel (or No, or OK when
// that is its only button).
int ShowQtMessageBox(const char* text, const char* caption, UINT type);
// The same box, not shown yet.
std::unique_ptr<QMessageBox> MakeQtMessageBox(const char* text, const char* caption, UINT type);

// The desktop's clipboard behind the platform clipboard functions (used on the GUI thread; other
// threads find it empty and cannot write it); false takes it away again.
void InstallQtClipboard(bool install);

// Fills a Qt menu from the menu items; a chosen command reaches `command` with its id.
void FillMenu(QMenu* menu, const std::vector<MenuItem>& items, const std::function<void(UINT)>& command);

// The program's icon (101) in its sizes.
QIcon ManagerIcon();

std::unique_ptr<ITrayView> MakeTrayView();
std::unique_ptr<IConfigSession> MakeConfigSession(ILauncher& launcher);
std::unique_ptr<IDisplayLog> MakeDisplayLog();

// The desktop's request to quit (log-out) joins the quit path as WM_ENDSESSION.
class DesktopQuitFilter : public QObject {
 public:
  DesktopQuitFilter();
  ~DesktopQuitFilter() override;
  void Route(HWND window) { window_ = window; }
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  HWND window_ = nullptr;
};

}  // namespace vtx::manager
