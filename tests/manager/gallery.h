// The screenshot gallery's shots: each opens windows and returns them for the picture; the gallery
// closes them afterwards.
#pragma once
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

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

}  // namespace vtxtest
