// Running the configuration window from a test: the script acts once the window is open and must
// close it; a window still open after the limit is cancelled and the test fails.
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

// A window on a private store with a scripted update engine, run with RunSheet.
struct WindowRun {
  ManagerEnvironment env;
  HMODULE lib = LoadResourceLibrary(vtx::manager::kAppKey);
  std::shared_ptr<ScriptedEngine> engine = std::make_shared<ScriptedEngine>();
  std::unique_ptr<QSocketNotifier> pump = vtx::manager::MakeQueuePump([] {});
  CSettings settings;
  std::unique_ptr<vtx::manager::ConfigurationSheet> sheet;

  int limitMs = 20000;

  // The window's pages: the product's when empty. `prepare` sets up the store before the
  // settings are read from it.
  explicit WindowRun(vtx::manager::ConfigurationSheet::PageFactory pages = {},
                     const std::function<void(ManagerEnvironment&)>& prepare = {}) {
    if (prepare) prepare(env);
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
    return RunSheet(*sheet, settings, startPage, script, limitMs);
  }
};

}  // namespace vtxtest
