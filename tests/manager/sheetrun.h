// Running the configuration window from a test: the script acts once the window is open and must
// close it; a window still open after the limit is cancelled and the test fails.
#pragma once
#include <QPointer>
#include <QTimer>
#include <QtTest>

#include <functional>

#include "manager/configsheet.h"
#include "manager/propertysheet.h"

namespace vtxtest {

inline bool RunSheet(vtx::manager::ConfigurationSheet& sheet, CSettings& settings, int startPage,
                     const std::function<void(vtx::manager::PropertySheet&)>& script, int ms = 20000) {
  QPointer<vtx::manager::PropertySheet> slot;
  QTimer::singleShot(0, [&] {
    if (slot) script(*slot);
  });
  QTimer failsafe;
  failsafe.setSingleShot(true);
  QObject::connect(&failsafe, &QTimer::timeout, [&] {
    if (slot) slot->reject();
    QFAIL("the window was still open");
  });
  failsafe.start(ms);
  return RunConfigurationSheet(sheet, nullptr, QIcon(), settings, startPage, &slot);
}

}  // namespace vtxtest
