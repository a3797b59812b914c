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
#include <QTextEdit>
#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/currency/filterdef.h"
#include "engine/currency/settings.h"
#include "manager/configsheet.h"
#include "manager/currencypages.h"
#include "manager/currencysheet.h"
#include "manager/datasourcedialog.h"
#include "manager/dialogs.h"
#include "manager/localedialog.h"
#include "manager/propertysheet.h"
#include "tests/manager/fixture.h"

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
  std::unique_ptr<ConfigurationSheet> sheet;
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

// A page of the configuration window built alone, with its kit as the window gives it.
class PageHolder : public QWidget {
 public:
  PageHolder(Fixture& f, int index) : pages(MakeCurrencyPages()), kit(std::make_unique<CFormKit>(this, f.lib)) {
    kit->SetHelpMap(PageHelpMap(index));
    pages.at(static_cast<size_t>(index))->BuildPage(*f.sheet, this, *kit, index);
  }
  std::vector<std::unique_ptr<IConfigPage>> pages;
  std::unique_ptr<CFormKit> kit;
};

Form PageForm(Fixture& f, int index) {
  auto holder = std::make_unique<PageHolder>(f, index);
  CFormKit* kit = holder->kit.get();
  return {std::move(holder), kit};
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
      {"currency page 0", [](Fixture& f) { return PageForm(f, 0); }},
      {"currency page 1", [](Fixture& f) { return PageForm(f, 1); }},
      {"currency page 2", [](Fixture& f) { return PageForm(f, 2); }},
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
    f_.sheet = std::make_unique<ConfigurationSheet>(f_.lib);
  }
  void cleanupTestCase() {
    f_.filters.Empty();
    f_.properties.clear();
    f_.sheet.reset();
  }

  void EveryFormMatchesItsHelpMap() {
    vtxtest::ScriptedBoxes boxes;
    for (const FormRow& row : Forms()) {
      Form form = row.make(f_);
      QWidget* w = form.widget.get();
      CFormKit& kit = *form.kit;
      w->show();
      QVERIFY2(QTest::qWaitForWindowExposed(w), row.name);
      QVERIFY2(!kit.Help().empty(), row.name);
      for (const auto& [id, help] : kit.Help()) {
        QWidget* control = kit.Control(id);
        QVERIFY2(control, qPrintable(QString("%1: no control %2").arg(row.name).arg(id)));
        if (help < 0) continue;
        QString text = CatalogueText(f_.lib, static_cast<UINT>(help));
        QVERIFY2(!text.trimmed().isEmpty(), qPrintable(QString("%1: string %2").arg(row.name).arg(help)));
        QVERIFY2(kit.ShowHelp(control), qPrintable(QString("%1: help of %2").arg(row.name).arg(id)));
        QCOMPARE(kit.Tooltip().Text(), text);
        kit.Tooltip().Hide();
      }
      for (int id : kit.NoHelp()) {
        QVERIFY2(kit.Control(id), qPrintable(QString("%1: no control %2").arg(row.name).arg(id)));
        QVERIFY2(kit.HelpFor(id) < 0, qPrintable(QString("%1: %2 has help after all").arg(row.name).arg(id)));
      }
      for (QWidget* input : w->findChildren<QWidget*>()) {
        // The form's own inputs; a form nested in it, or around it, has its own row.
        if (!IsInput(input) || input->window() != w->window() || FormOf(input) != kit.Form() ||
            !input->isVisibleTo(w))
          continue;
        QWidget* control = TaggedControl(input, kit.Form());
        QString what = QString("%1: %2 \"%3\"").arg(row.name, input->metaObject()->className(), input->objectName());
        QVERIFY2(control, qPrintable(what + " has no id"));
        int id = VtxId(control);
        const auto& none = kit.NoHelp();
        QVERIFY2(kit.HelpFor(id) >= 0 || std::find(none.begin(), none.end(), id) != none.end(),
                 qPrintable(what + QString(" (id %1) is neither mapped nor listed without help").arg(id)));
      }
      QCOMPARE(vtxtest::ScriptedBoxes::Unexpected(), 0);
    }
  }

 private:
  std::unique_ptr<vtxtest::CatalogueEnvironment> c_;
  Fixture f_;
};

QTEST_MAIN(HelpMapTest)
#include "helpmap_test.moc"
