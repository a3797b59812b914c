// The screenshot gallery's shots: each opens windows and returns them for the picture; the gallery
// closes them afterwards.
#pragma once
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

#include "engine/currency/settings.h"
#include "manager/configsheet.h"
#include "platform/types.h"
#include "tests/manager/fixture.h"

namespace vtxtest {

// Lets the windows appear and paint.
inline void Settle(int ms = 300) {
  QTimer t;
  t.start(ms);
  QEventLoop loop;
  QObject::connect(&t, &QTimer::timeout, &loop, &QEventLoop::quit);
  loop.exec();
}

// Grabs the widgets into the shot's picture, checks it and closes them.
using Shooter = std::function<bool(std::vector<QWidget*>)>;

struct GalleryShot {
  QString name;
  std::function<std::vector<QWidget*>()> open;
};
// A shot that takes its picture itself, for a window that runs its own loop.
struct GalleryTake {
  QString name;
  std::function<bool(const Shooter&)> take;
};

// The dialogs of the configuration pages and a help pop-up.
std::vector<GalleryShot> DialogShots(HMODULE lib, const ManagerEnvironment& env);
// The currency pages with a warned currency and another base, the locale formats dialog and both
// pages of the currency properties sheet.
std::vector<GalleryTake> CurrencyShots(HMODULE lib);

// The configuration window open on `page` of `settings`; once it shows, `prepare` (when given)
// acts on it and `shoot` takes the picture.
bool ShootConfigurationPage(HMODULE lib, CSettings& settings, int page,
                            const std::function<void(vtx::manager::ConfigurationSheet&)>& prepare,
                            const Shooter& shoot);
// The configuration window open on page 3 to 8 of a fixture configuration.
bool ShootServerPage(HMODULE lib, const ManagerEnvironment& env, int page, const Shooter& shoot);

}  // namespace vtxtest
