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

struct GalleryShot {
  QString name;
  std::function<std::vector<QWidget*>()> open;
};

// The dialogs of the configuration pages and a help pop-up.
std::vector<GalleryShot> DialogShots(HMODULE lib, const ManagerEnvironment& env);

// The configuration window open on page 3 to 8 of a fixture configuration; `shoot` takes the
// picture.
bool ShootServerPage(HMODULE lib, const ManagerEnvironment& env, int page,
                     const std::function<bool(std::vector<QWidget*>)>& shoot);

}  // namespace vtxtest
