// The manager's windows as a new user sees them, on a fixture store without a server: each shot
// opens windows, grabs the screen around them into <folder>/<name>.png and closes them again.
// Every picture must have a sensible size and must not be blank; the program fails otherwise.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/currency/ratesreport.h"
#include "engine/foundation/resourcelib.h"
#include "engine/notify/messagewindow.h"
#include "manager/configsession.h"
#include "manager/managerdefs.h"
#include "manager/messagedialogs.h"
#include "manager/qtparts.h"
#include "manager/traymenu.h"
#include "platform/errors.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "tests/manager/fixture.h"
#include "tests/manager/gallery.h"
#include "tests/support/dates.h"

using namespace vtx::manager;

namespace {

using vtxtest::Settle;

// The part of the screen that holds the widgets, with a margin.
QImage Grab(const std::vector<QWidget*>& widgets) {
  QRect area;
  for (QWidget* w : widgets) area |= w->frameGeometry();
  area.adjust(-12, -12, 12, 12);
  QScreen* screen = QGuiApplication::primaryScreen();
  area &= screen->geometry();
  QImage image = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
  if (!image.isNull() && image.pixelColor(0, 0) != image.pixelColor(image.width() / 2, image.height() / 2))
    return image;
  // A platform that cannot grab the screen: the widgets drawn by themselves.
  return widgets.front()->grab().toImage();
}

// Not blank: several colours, and a good share of pixels unlike the corner's.
bool Check(const QString& name, const QImage& image) {
  if (image.isNull() || image.width() < 80 || image.height() < 60) {
    std::fprintf(stderr, "%s: size %dx%d is too small\n", qPrintable(name), image.width(), image.height());
    return false;
  }
  QSet<QRgb> colours;
  qint64 different = 0;
  QRgb corner = image.pixel(0, 0);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      QRgb p = image.pixel(x, y);
      colours.insert(p);
      if (p != corner) ++different;
    }
  double share = double(different) / (double(image.width()) * image.height());
  if (colours.size() < 8 || share < 0.05) {
    std::fprintf(stderr, "%s: looks blank (%lld colours, %.1f%% drawn)\n", qPrintable(name),
                 static_cast<long long>(colours.size()), share * 100);
    return false;
  }
  std::printf("%s: %dx%d, %lld colours\n", qPrintable(name), image.width(), image.height(),
              static_cast<long long>(colours.size()));
  return true;
}

void Touch(const std::string& path) { std::ofstream(path) << "#!/bin/sh\n"; }

// The tray menu with the actions submenu open, on a product folder with a few actions.
std::vector<QWidget*> OpenTrayMenu(const vtxtest::ManagerEnvironment& env, HMODULE lib, ILauncher& launcher,
                                   std::unique_ptr<TrayMenuController>& controller,
                                   std::vector<std::unique_ptr<QMenu>>& keep) {
  namespace fs = std::filesystem;
  std::string product = env / "product";
  fs::create_directories(product + "/Actions/Reports");
  fs::create_directories(product + "/Actions/Empty folder");
  fs::create_directories(product + "/Documentation");
  Touch(product + "/Documentation/index.html");
  Touch(product + "/Actions/Send rates to accounting.sh");
  Touch(product + "/Actions/Prices & margins.txt");
  Touch(product + "/Actions/Reports/Monthly report.sh");
  Touch(product + "/Actions/.hidden");
  vtxtest::PutAppString("Path", product);
  vtxtest::PutAppString("Actions", product + "/Actions");
  controller = std::make_unique<TrayMenuController>(lib, launcher, nullptr);
  if (!controller->Build()) return {};
  auto menu = std::make_unique<QMenu>();
  FillMenu(menu.get(), controller->Items(), [](UINT) {});
  menu->popup(QPoint(60, 60));
  Settle();
  QAction* actions = menu->actions().at(2);
  menu->setActiveAction(actions);
  Settle(600);
  QMenu* sub = actions->menu();
  if (sub && !sub->isVisible()) {
    sub->popup(menu->mapToGlobal(menu->actionGeometry(actions).topRight()));
    Settle();
  }
  std::vector<QWidget*> shown{menu.get()};
  if (sub) shown.push_back(sub);
  keep.push_back(std::move(menu));
  return shown;
}

std::vector<QWidget*> ShownMessageDialogs() {
  std::vector<QWidget*> shown;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (dynamic_cast<MessageDialog*>(w) && w->isVisible()) shown.push_back(w);
  return shown;
}

// The report of rates from two data sources, the way the configuration window shows it.
std::unique_ptr<MessageDialog> RatesReport(HMODULE lib) {
  CRatesData rates;
  rates.Created = vtxtest::Utc(2024, 3, 5, 14, 15);
  rates.Expires = vtxtest::Utc(2024, 3, 6, 14, 15);
  rates.Source = "European Central Bank|Bank of Canada";
  rates.Copyright = "Euro foreign exchange reference rates|";
  rates.Message = "|Rates are published at 16:30 Eastern time.";
  vtx::ui::MessageDialogSpec spec;
  spec.title = LoadText(lib, kReportTitle);
  spec.iconId = kMessageWindowIcon;
  spec.text = BuildRatesInformation(rates, lib);
  auto dialog = std::make_unique<MessageDialog>(spec);
  dialog->show();
  Settle();
  return dialog;
}

using vtxtest::Shooter;

// The configuration window of a session on the fixture store, with no server to lock, switched to
// `page` after it opened at its first page. The window runs inside the session's own wait, so the
// picture is taken from there; closing the window then ends the session.
bool ShootConfiguration(HMODULE lib, ILauncher& launcher, const Shooter& shoot, int page = 0) {
  SessionOptions options;
  options.launcher = &launcher;
  CConfigSession session(std::move(options));
  bool ok = false, taken = false;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (taken || !session.Window() || !session.Window()->isVisible()) return;
    taken = true;
    session.Window()->move(60, 60);
    Settle();
    if (page) {
      session.Window()->SetCurrentPage(page);
      Settle();
    }
    ok = shoot({session.Window()});
  });
  look.start(100);
  session.Start(lib, nullptr, nullptr, 0);
  for (int i = 0; i < 100 && (session.IsRunning() || !taken); ++i) Settle(100);
  if (!taken) std::fprintf(stderr, "configuration: the window never opened\n");
  return ok && !session.IsRunning();
}

class NoLauncher : public ILauncher {
 public:
  HRESULT OpenUrl(const char*) override { return 0; }
  HRESULT OpenFile(const char*, const char*) override { return 0; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: manager_gallery <folder for the pictures>\n");
    return 2;
  }
  vtxtest::ManagerEnvironment env;
  QApplication app(argc, argv);
  QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "manager_gallery: cannot make %s\n", argv[1]);
    return 1;
  }
  HMODULE lib = LoadResourceLibrary(kAppKey);
  if (!lib) {
    std::fprintf(stderr, "manager_gallery: the catalogue does not load\n");
    return 1;
  }
  NoLauncher launcher;
  std::unique_ptr<TrayMenuController> controller;
  std::vector<std::unique_ptr<QMenu>> keep;

  // Grabs the widgets into <folder>/<name>.png, checks the picture and closes them.
  auto shooter = [&](const QString& name) -> Shooter {
    return [&, name](std::vector<QWidget*> widgets) {
      if (widgets.empty()) {
        std::fprintf(stderr, "%s: nothing was shown\n", qPrintable(name));
        return false;
      }
      QImage image = Grab(widgets);
      QString path = folder + "/" + name + ".png";
      bool saved = image.save(path);
      if (!saved) std::fprintf(stderr, "%s: cannot write %s\n", qPrintable(name), qPrintable(path));
      bool good = Check(name, image) && saved;
      for (QWidget* w : widgets) w->close();
      keep.clear();
      return good;
    };
  };
  struct Shot {
    QString name;
    std::function<bool(const Shooter&)> take;
  };
  QtMessageDialogsScope dialogs;
  CMessageWindow messages;
  std::unique_ptr<MessageDialog> report;
  std::unique_ptr<QMessageBox> box;
  std::vector<Shot> shots = {
      {"traymenu", [&](const Shooter& shoot) { return shoot(OpenTrayMenu(env, lib, launcher, controller, keep)); }},
      // What a plain start shows without a server: the configuration window.
      {"configuration", [&](const Shooter& shoot) { return ShootConfiguration(lib, launcher, shoot); }},
      // Its tallest page, reached from the first: the window grows to hold it.
      {"configuration-warnings",
       [&](const Shooter& shoot) { return ShootConfiguration(lib, launcher, shoot, 6); }},
      // The message window after three notices of an update run.
      {"messagewindow",
       [&](const Shooter& shoot) {
         messages.AddMessage(nullptr, "The rates of the data source \"European Central Bank\" are 26 hours old.",
                             MB_ICONWARNING, lib);
         messages.AddMessage(nullptr, "The data source \"Bank of Canada\" could not be fetched (0x80072EE7). "
                             "The next data source is tried.", MB_ICONHAND, lib);
         messages.AddMessage(nullptr, "The update is complete: 31 rates were stored.", MB_ICONINFORMATION, lib);
         Settle();
         return shoot(ShownMessageDialogs());
       }},
      // The box of a save that failed: its whole title shows.
      {"savefailed",
       [&](const Shooter& shoot) {
         std::string text = vtx::SystemErrorText(E_ACCESSDENIED);
         std::string caption = LoadText(lib, 185);
         box = MakeQtMessageBox(text.c_str(), caption.c_str(), MB_ICONHAND | MB_SETFOREGROUND);
         box->move(80, 80);
         box->show();
         Settle();
         return shoot({box.get()});
       }},
      {"ratesreport",
       [&](const Shooter& shoot) {
         report = RatesReport(lib);
         return shoot({report.get()});
       }},
  };
  const char* pages[] = {"page3-sources", "page4-administration", "page5-connection",
                         "page6-warnings", "page7-notifications", "page8-information"};
  for (int page = 3; page <= 8; ++page)
    shots.push_back({pages[page - 3], [&, page](const Shooter& shoot) {
                       return vtxtest::ShootServerPage(lib, env, page, shoot);
                     }});
  for (vtxtest::GalleryShot& s : vtxtest::DialogShots(lib, env))
    shots.push_back({s.name, [open = s.open](const Shooter& shoot) { return shoot(open()); }});
  for (vtxtest::GalleryTake& s : vtxtest::CurrencyShots(lib)) shots.push_back({s.name, s.take});

  bool ok = true;
  for (Shot& shot : shots) ok = shot.take(shooter(shot.name)) && ok;
  FreeLibrary(lib);
  return ok ? 0 : 1;
}
