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

#include "engine/foundation/resourcelib.h"
#include "manager/managerdefs.h"
#include "manager/qtparts.h"
#include "manager/traymenu.h"
#include "platform/resources.h"
#include "platform/ui.h"
#include "tests/manager/fixture.h"
#include "tests/manager/gallery.h"

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

  struct Shot {
    QString name;
    std::function<std::vector<QWidget*>()> open;
  };
  std::unique_ptr<QMessageBox> box;
  std::vector<Shot> shots = {
      {"traymenu", [&] { return OpenTrayMenu(env, lib, launcher, controller, keep); }},
      // What a plain start shows: the box of the product's configuration session.
      {"noconfiguration",
       [&] {
         char text[500], caption[100];
         LoadStringA(lib, kStrNoConfigurationWindow, text, sizeof text);
         LoadStringA(lib, kStrProduct, caption, sizeof caption);
         box = MakeQtMessageBox(text, caption, MB_ICONINFORMATION | MB_SETFOREGROUND);
         box->move(80, 80);
         box->show();
         Settle();
         return std::vector<QWidget*>{box.get()};
       }},
  };
  for (vtxtest::GalleryShot& s : vtxtest::DialogShots(lib, env)) shots.push_back({s.name, s.open});

  bool ok = true;
  for (Shot& shot : shots) {
    std::vector<QWidget*> widgets = shot.open();
    if (widgets.empty()) {
      std::fprintf(stderr, "%s: nothing was shown\n", qPrintable(shot.name));
      ok = false;
      continue;
    }
    QImage image = Grab(widgets);
    QString path = folder + "/" + shot.name + ".png";
    if (!image.save(path)) {
      std::fprintf(stderr, "%s: cannot write %s\n", qPrintable(shot.name), qPrintable(path));
      ok = false;
    }
    ok = Check(shot.name, image) && ok;
    for (QWidget* w : widgets) w->close();
    keep.clear();
  }
  FreeLibrary(lib);
  return ok ? 0 : 1;
}
