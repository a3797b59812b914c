// One run of the configuration window on a private store, with a scripted update engine: the
// script runs once the window is open and must close it; a window still open after 20 s is
// cancelled and the test fails.
#pragma once
#include <QIcon>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include "engine/foundation/resourcelib.h"
#include "manager/configsheet.h"
#include "manager/managerdefs.h"
#include "manager/offgui.h"
#include "manager/propertysheet.h"
#include "manager/qtparts.h"
#include "tests/manager/fakepages.h"
#include "tests/manager/fixture.h"

namespace vtxtest {

struct WindowRun {
  ManagerEnvironment env;
  HMODULE lib = LoadResourceLibrary(vtx::manager::kAppKey);
  std::shared_ptr<ScriptedEngine> engine = std::make_shared<ScriptedEngine>();
  std::unique_ptr<QSocketNotifier> pump = vtx::manager::MakeQueuePump([] {});
  CSettings settings;
  std::unique_ptr<vtx::manager::ConfigurationSheet> sheet;

  // The window's pages: the product's when empty.
  explicit WindowRun(vtx::manager::ConfigurationSheet::PageFactory pages = {}) {
    settings.Create(lib);
    sheet = std::make_unique<vtx::manager::ConfigurationSheet>(
        lib, vtx::manager::ConfigurationSheet::Options{std::move(pages), ScriptedEngine::Factory(engine)});
  }
  ~WindowRun() {
    sheet.reset();
    vtx::manager::WaitForReleases(10000);
    FreeLibrary(lib);
  }

  bool Run(int startPage, const std::function<void(vtx::manager::PropertySheet&)>& script) {
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
    failsafe.start(20000);
    return vtx::manager::RunConfigurationSheet(*sheet, nullptr, QIcon(), settings, startPage, &slot);
  }
};

}  // namespace vtxtest
