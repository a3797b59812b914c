#include "manager/qtparts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QSocketNotifier>
#include <QSpacerItem>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

#include "engine/foundation/resourcelib.h"
#include "engine/currency/settings.h"
#include "engine/notify/notifychannels.h"
#include "manager/configsession.h"
#include "manager/dialogkit.h"
#include "manager/displaylog.h"
#include "manager/managerdefs.h"
#include "manager/managerwindow.h"
#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/ui.h"

static void InitManagerResources() { Q_INIT_RESOURCE(manager); }

namespace vtx::manager {

namespace {

QMessageBox::StandardButton QtButton(int id) {
  switch (id) {
    case IDOK: return QMessageBox::Ok;
    case IDCANCEL: return QMessageBox::Cancel;
    case IDABORT: return QMessageBox::Abort;
    case IDRETRY: return QMessageBox::Retry;
    case IDIGNORE: return QMessageBox::Ignore;
    case IDYES: return QMessageBox::Yes;
    case IDNO: return QMessageBox::No;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon QtIcon(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

int QtBoxBackend(HWND, const char* text, const char* caption, UINT type) {
  if (!qApp) return DefaultMessageBoxAnswer(type);
  if (QThread::currentThread() == qApp->thread()) return ShowQtMessageBox(text, caption, type);
  // Boxes live on the GUI thread; the asking thread waits for the answer as it would for a box.
  std::string t = text ? text : "", c = caption ? caption : "";
  int answer = DefaultMessageBoxAnswer(type);
  QMetaObject::invokeMethod(
      qApp, [&] { answer = ShowQtMessageBox(t.c_str(), c.c_str(), type); }, Qt::BlockingQueuedConnection);
  return answer;
}

class QtTrayView : public ITrayView {
 public:
  bool Add(HWND managerWindow, const std::string& tip) override {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    icon_ = std::make_unique<QSystemTrayIcon>(ManagerIcon());
    icon_->setToolTip(QString::fromStdString(tip));
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, [managerWindow](QSystemTrayIcon::ActivationReason r) {
      if (r == QSystemTrayIcon::Trigger) PostMessageA(managerWindow, WM_VXMGR_TRAYNOTIFY, 0, WM_LBUTTONUP);
      if (r == QSystemTrayIcon::Context) PostMessageA(managerWindow, WM_VXMGR_TRAYNOTIFY, 0, WM_RBUTTONUP);
    });
    icon_->show();
    return true;
  }
  void Remove() override {
    menu_.reset();
    icon_.reset();
  }
  void ShowMenu(const std::vector<MenuItem>& items, std::function<void(UINT)> command) override {
    if (menu_ && menu_->isVisible()) menu_->close();
    menu_ = std::make_unique<QMenu>();
    FillMenu(menu_.get(), items, command);
    menu_->popup(QCursor::pos());
    menu_->activateWindow();
  }

 private:
  std::unique_ptr<QSystemTrayIcon> icon_;
  std::unique_ptr<QMenu> menu_;
};

class QtClipboard : public vtx::clipboard::Backend {
 public:
  bool ReadText(std::u16string* text) override {
    if (!OnGuiThread()) return false;
    QString t = QGuiApplication::clipboard()->text();
    *text = t.toStdU16String();
    return !t.isEmpty();
  }
  bool WriteText(const std::u16string& text) override {
    if (!OnGuiThread()) return false;
    QGuiApplication::clipboard()->setText(QString::fromStdU16String(text));
    return true;
  }

 private:
  static bool OnGuiThread() { return qApp && QThread::currentThread() == qApp->thread(); }
};

}  // namespace

QIcon ManagerIcon() {
  InitManagerResources();
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64}) icon.addFile(QString(":/vtxmanager/vantrex-%1.png").arg(size), QSize(size, size));
  return icon;
}

std::unique_ptr<QSocketNotifier> MakeQueuePump(std::function<void()> quit) {
  auto pump = std::make_unique<QSocketNotifier>(vtx::messages::QueueFd(), QSocketNotifier::Read);
  QObject::connect(pump.get(), &QSocketNotifier::activated, [quit] {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
      if (m.message == WM_VXMGR_QUIT && m.hwnd) {
        quit();
        return;
      }
      if (m.message != WM_QUIT) DispatchMessageA(&m);
    }
  });
  return pump;
}

void InstallQtClipboard(bool install) {
  static QtClipboard clipboard;
  vtx::clipboard::SetBackend(install ? &clipboard : nullptr);
}

void InstallQtMessageBoxes() { vtx::ui::SetMessageBoxBackend(QtBoxBackend); }

namespace {

// A box as wide as its text would cut a longer caption in its title bar: the box is made wide
// enough for the caption, the title bar's icon and buttons, in a bold title font.
void FitCaption(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid) return;
  QFont title = box.font();
  title.setBold(true);
  QFontMetrics metrics(title);
  int width = metrics.horizontalAdvance(box.windowTitle()) + 6 * metrics.height();
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                grid->columnCount());
}

}  // namespace

std::unique_ptr<QMessageBox> MakeQtMessageBox(const char* text, const char* caption, UINT type) {
  auto box = std::make_unique<QMessageBox>(QtIcon(type), FromAnsi(caption), FromAnsi(text));
  FitCaption(*box);
  std::vector<int> ids = vtx::ui::ButtonsOf(type);
  std::vector<QPushButton*> buttons;
  for (int id : ids) buttons.push_back(box->addButton(QtButton(id)));
  box->setDefaultButton(buttons[vtx::ui::DefaultButtonIndex(type)]);
  // Escape answers as the box's own close does: Cancel, else No.
  for (int id : {IDNO, IDCANCEL})
    for (size_t i = 0; i < ids.size(); ++i)
      if (ids[i] == id) box->setEscapeButton(buttons[i]);
  return box;
}

int ShowQtMessageBox(const char* text, const char* caption, UINT type) {
  std::unique_ptr<QMessageBox> box = MakeQtMessageBox(text, caption, type);
  if (type & MB_SETFOREGROUND) {
    box->show();
    box->raise();
    box->activateWindow();
  }
  box->exec();
  std::vector<int> ids = vtx::ui::ButtonsOf(type);
  if (QAbstractButton* clicked = box->clickedButton())
    for (int id : ids)
      if (box->standardButton(clicked) == QtButton(id)) return id;
  // Closed without a button (or the loop ended): Cancel, else No, else the lone OK.
  for (int id : {IDCANCEL, IDNO})
    for (int b : ids)
      if (b == id) return id;
  return ids.size() == 1 ? ids[0] : IDCANCEL;
}

void FillMenu(QMenu* menu, const std::vector<MenuItem>& items, const std::function<void(UINT)>& command) {
  menu->clear();
  for (const MenuItem& item : items) {
    if (item.separator) {
      menu->addSeparator();
      continue;
    }
    QString text = QString::fromStdString(item.text);
    if (item.literal) text.replace('&', "&&");
    QAction* action;
    if (item.hasSubmenu) {
      QMenu* sub = menu->addMenu(text);
      FillMenu(sub, item.submenu, command);
      action = sub->menuAction();
    } else {
      action = menu->addAction(text);
      UINT id = item.id;
      QObject::connect(action, &QAction::triggered, [command, id] { command(id); });
    }
    action->setEnabled(!item.grayed);
    if (item.isDefault) menu->setDefaultAction(action);
  }
}

std::unique_ptr<ITrayView> MakeTrayView() { return std::make_unique<QtTrayView>(); }
std::unique_ptr<IConfigSession> MakeConfigSession(ILauncher& launcher) {
  // Custom actions with an account are started by the messenger.
  vtx::settings::PipeExecute = ::PipeExecute;
  SessionOptions options;
  options.launcher = &launcher;
  return std::make_unique<CConfigSession>(std::move(options));
}
std::unique_ptr<IDisplayLog> MakeDisplayLog() { return std::make_unique<CDisplayLog>(); }

DesktopQuitFilter::DesktopQuitFilter() {
  if (qApp) qApp->installEventFilter(this);
}

DesktopQuitFilter::~DesktopQuitFilter() {
  if (qApp) qApp->removeEventFilter(this);
}

bool DesktopQuitFilter::eventFilter(QObject* watched, QEvent* event) {
  if (watched == qApp && event->type() == QEvent::Quit && window_) {
    PostMessageA(window_, WM_ENDSESSION, 1, 0);
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace vtx::manager
