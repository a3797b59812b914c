// Every dialog and page against its help map: each mapped control exists, each help string loads
// and shows, and each visible input is mapped or declared as having no help. A new dialog or page
// adds a row to the table.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/currency/filterdef.h"
#include "engine/currency/settings.h"
#include "manager/configsheet.h"
#include "manager/currencysheet.h"
#include "manager/datasourcedialog.h"
#include "manager/dialogs.h"
#include "manager/localedialog.h"
#include "manager/offgui.h"
#include "manager/propertysheet.h"
#include "manager/qtparts.h"
#include "tests/manager/fixture.h"
#include "tests/manager/sheetrun.h"

using namespace vtx::manager;

namespace {

// What the forms are made from.
struct Fixture {
  HMODULE lib = nullptr;
  CSettings settings;
  CFilterList filters;
  DataSourceDialogData data;
  CDataSource source;
  std::unique_ptr<CCurrencyLocale> locale;
  std::vector<std::unique_ptr<CCurrencyPropertiesSheet>> properties;
};

struct Form {
  std::unique_ptr<QWidget> widget;
  CFormKit* kit;
};

template <class D>
Form DialogForm(std::unique_ptr<D> d) {
  CFormKit* kit = &d->Kit();
  return {std::move(d), kit};
}

// A page of the currency properties sheet (-1: the sheet's buttons), in the sheet's window.
Form PropertiesForm(Fixture& f, uint32_t mode, int page) {
  f.properties.push_back(std::make_unique<CCurrencyPropertiesSheet>(f.settings, nullptr, f.lib, mode));
  CCurrencyPropertiesSheet& sheet = *f.properties.back();
  sheet.Open((mode & kSheetEdit) ? "USD" : nullptr);
  std::unique_ptr<QWidget> window(sheet.Create(nullptr));
  return {std::move(window), page < 0 ? sheet.SheetKit() : sheet.Kit(page)};
}

struct FormRow {
  const char* name;
  std::function<Form(Fixture&)> make;
};

const std::vector<FormRow>& Forms() {
  static const std::vector<FormRow> rows = {
      {"currency choice", [](Fixture& f) { return DialogForm(std::make_unique<CCurrencyChoiceDialog>(f.settings, nullptr, f.lib)); }},
      {"account, data source", [](Fixture& f) { return DialogForm(std::make_unique<CAccountDialog>("D\\u", "p", nullptr, f.lib, 0)); }},
      {"account, proxy", [](Fixture& f) { return DialogForm(std::make_unique<CAccountDialog>("u", "", nullptr, f.lib, 1)); }},
      {"account, run as", [](Fixture& f) { return DialogForm(std::make_unique<CAccountDialog>("u", "", nullptr, f.lib, 2)); }},
      {"list choice", [](Fixture& f) { return DialogForm(std::make_unique<CListChoiceDialog>(std::vector<std::string>{"EUR", "USD"}, "usd", nullptr, f.lib)); }},
      {"mail server", [](Fixture& f) { return DialogForm(std::make_unique<CMailServerDialog>("smtp.example.com", "a@example.com", nullptr, f.lib)); }},
      {"data source, new", [](Fixture& f) { return DialogForm(std::make_unique<CDataSourceDialog>(f.data, nullptr, f.filters, nullptr, nullptr, f.lib)); }},
      {"data source, edit", [](Fixture& f) { return DialogForm(std::make_unique<CDataSourceDialog>(f.data, &f.source, f.filters, nullptr, nullptr, f.lib)); }},
      {"dial-up", [](Fixture& f) { return DialogForm(std::make_unique<CDialUpDialog>(f.settings, nullptr, f.lib)); }},
      {"locale formats", [](Fixture& f) {
         auto working = std::make_unique<CCurrencyLocale>(1031);
         working->CopyFrom(*f.locale);
         return DialogForm(std::make_unique<CLocaleFormatsDialog>(f.settings, *f.locale, std::move(working), nullptr, f.lib));
       }},
      {"currency properties, new", [](Fixture& f) { return PropertiesForm(f, 0, 0); }},
      {"currency properties, edit", [](Fixture& f) { return PropertiesForm(f, kSheetEdit, 0); }},
      {"currency properties, names", [](Fixture& f) { return PropertiesForm(f, kSheetEdit | kSheetTextsFirst, 1); }},
      {"currency properties, new, buttons", [](Fixture& f) { return PropertiesForm(f, 0, -1); }},
      {"currency properties, edit, buttons", [](Fixture& f) { return PropertiesForm(f, kSheetEdit, -1); }},
  };
  return rows;
}

// The form a control belongs to: its nearest parent that a kit serves.
QWidget* FormOf(QWidget* w) {
  for (; w; w = w->parentWidget())
    if (w->property("vtxForm").isValid()) return w;
  return nullptr;
}

bool IsInput(QWidget* w) {
  return qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
         qobject_cast<QAbstractItemView*>(w) || qobject_cast<QTextEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
         qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractSlider*>(w);
}

}  // namespace

class HelpMapTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    c_ = std::make_unique<vtxtest::CatalogueEnvironment>();
    f_.lib = c_->lib;
    QVERIFY(f_.lib);
    QVERIFY(f_.settings.Create(f_.lib));
    std::string folder = c_->env / "filters";
    std::filesystem::copy(vtxtest::SourcePath("resources/filters"), folder);
    QVERIFY(f_.filters.Create(folder.c_str(), true));
    QVERIFY(f_.filters.GetCount() > 1);
    f_.source.SetURL("https://www.ecb.europa.eu/");
    f_.source.SetFilter("eurfeed.ini");
    f_.locale = std::make_unique<CCurrencyLocale>(1031);
    QVERIFY(f_.locale->ResetList());
  }
  void cleanupTestCase() {
    f_.filters.Empty();
    f_.properties.clear();
  }

  void EveryFormMatchesItsHelpMap() {
    vtxtest::ScriptedBoxes boxes;
    for (const FormRow& row : Forms()) {
      Form form = row.make(f_);
      QWidget* w = form.widget.get();
      w->show();
      QVERIFY2(QTest::qWaitForWindowExposed(w), row.name);
      CheckForm(row.name, w, *form.kit);
      QCOMPARE(vtxtest::ScriptedBoxes::Unexpected(), 0);
    }
  }

  // The configuration window's pages, each on its tab.
  void EveryPageMatchesItsHelpMap() {
    vtxtest::ScriptedBoxes boxes;
    std::unique_ptr<QSocketNotifier> pump = MakeQueuePump([] {});
    ConfigurationSheet sheet(f_.lib);
    bool checked = false;
    vtxtest::RunSheet(sheet, f_.settings, 0, [&](PropertySheet& window) {
      for (int page = 0; page < kPageCount; ++page) {
        window.SetCurrentPage(page);
        QWidget* w = window.Page(page);
        QTest::qWait(50);  // a page built in an open window shows its controls from the loop
        CheckForm(qPrintable(QString("page %1").arg(page)), w, *sheet.Kit(page), &window);
      }
      checked = true;
      window.reject();
    });
    QVERIFY(checked);
    QCOMPARE(vtxtest::ScriptedBoxes::Unexpected(), 0);
    WaitForReleases(10000);
  }

 private:
  // Each mapped id exists, each help string loads and shows, each control without help exists
  // and is unmapped, and each visible input of the form is mapped or declared without help.
  static void CheckForm(const char* name, QWidget* w, CFormKit& kit, QWidget* window = nullptr) {
    if (!window) window = w;
    QVERIFY2(!kit.Help().empty(), name);
    for (const auto& [id, help] : kit.Help()) {
      QWidget* control = kit.Control(id);
      QVERIFY2(control, qPrintable(QString("%1: no control %2").arg(name).arg(id)));
      if (help < 0) continue;
      QString text = CatalogueText(kit.Module(), static_cast<UINT>(help));
      QVERIFY2(!text.trimmed().isEmpty(), qPrintable(QString("%1: string %2").arg(name).arg(help)));
      QVERIFY2(kit.ShowHelp(control), qPrintable(QString("%1: help of %2").arg(name).arg(id)));
      // A text with inserts shows them filled in (page 0 names its base currency).
      QRegularExpression shown(QRegularExpression::anchoredPattern(
          QRegularExpression::escape(text).replace(QRegularExpression(R"(\\?%[1-9])"), ".+")));
      QVERIFY2(shown.match(kit.Tooltip().Text()).hasMatch(),
               qPrintable(QString("%1: help of %2 shows \"%3\"").arg(name).arg(id).arg(kit.Tooltip().Text())));
      kit.Tooltip().Hide();
    }
    for (int id : kit.NoHelp()) {
      QVERIFY2(kit.Control(id), qPrintable(QString("%1: no control %2").arg(name).arg(id)));
      QVERIFY2(kit.HelpFor(id) < 0, qPrintable(QString("%1: %2 has help after all").arg(name).arg(id)));
    }
    for (QWidget* input : w->findChildren<QWidget*>()) {
      // The form's own inputs; a form nested in it, or around it, has its own row.
      if (!IsInput(input) || input->window() != window || FormOf(input) != kit.Form() || !input->isVisibleTo(w))
        continue;
      QWidget* control = TaggedControl(input, kit.Form());
      QString what = QString("%1: %2 \"%3\"").arg(name, input->metaObject()->className(), input->objectName());
      QVERIFY2(control, qPrintable(what + " has no id"));
      int id = VtxId(control);
      const auto& none = kit.NoHelp();
      QVERIFY2(kit.HelpFor(id) >= 0 || std::find(none.begin(), none.end(), id) != none.end(),
               qPrintable(what + QString(" (id %1) is neither mapped nor listed without help").arg(id)));
    }
  }

  std::unique_ptr<vtxtest::CatalogueEnvironment> c_;
  Fixture f_;
};

QTEST_MAIN(HelpMapTest)
#include "helpmap_test.moc"
