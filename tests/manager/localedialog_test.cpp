// The locale formats dialog on the offscreen platform: samples through the formatter, separators
// checked by formatting, the timers, the list's order, widths and resets, and OK.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "engine/currency/currencystore.h"
#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "manager/localedialog.h"
#include "manager/managerdefs.h"
#include "platform/heap.h"
#include "tests/manager/fixture.h"
#include "tests/manager/listrows.h"

using namespace vtx::manager;
using vtxtest::Row;
using vtxtest::ScriptedBoxes;
using vtxtest::SelectRows;

namespace {

constexpr char kEuro[] = "\xe2\x82\xac";

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// German with '.' grouping, ',' decimals and the symbol after the amount.
std::unique_ptr<CCurrencyLocale> German() {
  auto l = std::make_unique<CCurrencyLocale>(1031);
  l->ResetList();
  l->SetDecimalSeparator(u",");
  l->SetThousandSeparator(u".");
  l->SetGrouping(3);
  l->SetDigitsAfterDecimal(2);
  l->SetPositiveSymFmt(3);
  l->SetNegativeSymFmt(8);
  l->SetPositiveIsoFmt(2);
  l->SetNegativeIsoFmt(12);
  l->SetCapitalizeTitles(0);
  return l;
}

std::unique_ptr<CCurrencyLocale> CopyOf(const CCurrencyLocale& l) {
  auto c = std::make_unique<CCurrencyLocale>(l.GetLCID());
  c->CopyFrom(l);
  return c;
}

QStringList Codes(QTreeWidget* list) {
  QStringList codes;
  for (int i = 0; i < list->topLevelItemCount(); ++i) codes << list->topLevelItem(i)->text(0);
  return codes;
}

QStringList Items(QComboBox* c) {
  QStringList items;
  for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
  return items;
}

// Timer 1 at once, as 250 ms after a selection change.
void RunSelectionTimer(CLocaleFormatsDialog& d) {
  d.Timer(1).start(0);
  QTRY_VERIFY(!d.Timer(1).isActive());
}

void Type(QComboBox* box, const QString& text) {
  box->lineEdit()->selectAll();
  QTest::keyClicks(box->lineEdit(), text);
}

}  // namespace

class LocaleDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    c_ = std::make_unique<vtxtest::CatalogueEnvironment>();
    QVERIFY(c_->lib);
    QVERIFY(settings_.Create(c_->lib));
    CurrencyInfo usd;
    QVERIFY(settings_.InitCurrencyInfo(usd, "USD"));
    QVERIFY(settings_.Add(usd));
  }
  void cleanupTestCase() { c_.reset(); }

  void SamplesFollowTheSelectedCurrency() {
    auto locale = German();
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    auto sample = [&](int id) { return d.Kit().Control<QLabel>(id)->text(); };
    // German's own currency is selected at the start.
    QCOMPARE(d.List()->selectedItems().size(), 1);
    QCOMPARE(d.List()->selectedItems().front()->text(0), QString("EUR"));
    QCOMPARE(sample(localeformatsdialog::kPositiveSymbolSample), U("123.456.789,00 ") + U(kEuro));
    QCOMPARE(sample(localeformatsdialog::kNegativeSymbolSample), U("-123.456.789,00 ") + U(kEuro));
    QCOMPARE(sample(localeformatsdialog::kPositiveIsoSample), QString("EUR 123.456.789,00"));
    QCOMPARE(sample(localeformatsdialog::kNegativeIsoSample), QString("EUR -123.456.789,00"));
    // Without a selection: no symbol and no blank for it.
    d.List()->clearSelection();
    RunSelectionTimer(d);
    QCOMPARE(sample(localeformatsdialog::kPositiveSymbolSample), QString("123.456.789,00"));
    QCOMPARE(sample(localeformatsdialog::kNegativeSymbolSample), QString("-123.456.789,00"));
    QVERIFY(!d.Kit().Control(localeformatsdialog::kCurrencyProperties)->isEnabled());
  }

  void SamplesOfACurrencyWithoutCodeAreEmpty() {
    auto locale = German();
    QVERIFY(locale->AddLocaleInfo(""));
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    SelectRows(d.List(), {""});
    RunSelectionTimer(d);
    for (int id : {localeformatsdialog::kPositiveSymbolSample, localeformatsdialog::kNegativeSymbolSample,
                   localeformatsdialog::kPositiveIsoSample, localeformatsdialog::kNegativeIsoSample})
      QCOMPARE(d.Kit().Control<QLabel>(id)->text(), QString());
  }

  void SeparatorsAreCheckedByFormatting() {
    auto locale = German();
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    d.show();
    auto* decimal = d.Kit().Control<QComboBox>(localeformatsdialog::kDecimalSeparator);
    auto* thousand = d.Kit().Control<QComboBox>(localeformatsdialog::kThousandSeparator);
    auto* positive = d.Kit().Control<QComboBox>(localeformatsdialog::kPositiveSymbol);
    auto* grouping = d.Kit().Control<QComboBox>(localeformatsdialog::kGrouping);
    QCOMPARE(Items(positive), (QStringList{U(kEuro) + "1,1", "1,1" + U(kEuro), U(kEuro) + " 1,1", "1,1 " + U(kEuro)}));
    QCOMPARE(positive->currentIndex(), 3);
    QCOMPARE(d.Kit().Control<QComboBox>(localeformatsdialog::kNegativeSymbol)->count(), 16);
    QCOMPARE(Items(grouping), (QStringList{"123456789", "123.456.789", "12.34.56.789"}));

    // Accepted: stored, the pattern lists rebuilt with it, the selection kept, the samples redone.
    Type(decimal, "#");
    QCOMPARE(QString::fromStdU16String(d.Working().GetDecimalSeparator()), QString("#"));
    QCOMPARE(positive->itemText(3), "1#1 " + U(kEuro));
    QCOMPARE(positive->currentIndex(), 3);
    QCOMPARE(d.Kit().Control<QLabel>(localeformatsdialog::kPositiveSymbolSample)->text(), "123.456.789#00 " + U(kEuro));
    // Refused (a digit): the box shows the stored separator again, nothing else changes.
    Type(decimal, "5");
    QCOMPARE(decimal->currentText(), QString("#"));
    QCOMPARE(QString::fromStdU16String(d.Working().GetDecimalSeparator()), QString("#"));
    // The text limit refuses a fourth character.
    Type(thousand, "abcd");
    QCOMPARE(thousand->currentText(), QString("abc"));
    QCOMPARE(Items(grouping).at(1), QString("123abc456abc789"));
    // An empty thousands separator is fine, an empty decimal separator is not.
    thousand->lineEdit()->selectAll();
    QTest::keyClick(thousand->lineEdit(), Qt::Key_Delete);
    QCOMPARE(QString::fromStdU16String(d.Working().GetThousandSeparator()), QString(""));
    decimal->lineEdit()->selectAll();
    QTest::keyClick(decimal->lineEdit(), Qt::Key_Delete);
    QCOMPARE(decimal->currentText(), QString("#"));
  }

  void SeparatorPickedFromTheListActsAfterTheTimer() {
    auto locale = German();
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    d.SetTimerInterval(30);
    auto* decimal = d.Kit().Control<QComboBox>(localeformatsdialog::kDecimalSeparator);
    decimal->setCurrentIndex(0);  // the pick puts "." into the box
    emit decimal->activated(0);
    QVERIFY(d.Timer(2).isActive());
    QCOMPARE(QString::fromStdU16String(d.Working().GetDecimalSeparator()), QString(","));
    QTRY_COMPARE(QString::fromStdU16String(d.Working().GetDecimalSeparator()), QString("."));
    QCOMPARE(d.Kit().Control<QComboBox>(localeformatsdialog::kPositiveSymbol)->itemText(0), U(kEuro) + "1.1");
    // A pick that cannot be formatted with goes back as well.
    d.Working().SetThousandSeparator(u".");
    auto* thousand = d.Kit().Control<QComboBox>(localeformatsdialog::kThousandSeparator);
    thousand->setEditText("9");
    emit thousand->activated(0);
    QTRY_VERIFY(!d.Timer(3).isActive());
    QCOMPARE(thousand->currentText(), QString("."));
  }

  void PatternsAndFlagsReachTheWorkingCopy() {
    auto locale = German();
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    auto* negative = d.Kit().Control<QComboBox>(localeformatsdialog::kNegativeIso);
    negative->setCurrentIndex(0);
    emit negative->activated(0);
    QCOMPARE(d.Working().GetNegativeIsoFmt(), 0u);
    QCOMPARE(d.Kit().Control<QLabel>(localeformatsdialog::kNegativeIsoSample)->text(), QString("(EUR123.456.789,00)"));
    auto* grouping = d.Kit().Control<QComboBox>(localeformatsdialog::kGrouping);
    grouping->setCurrentIndex(2);
    emit grouping->activated(2);
    QCOMPARE(d.Working().GetGrouping(), 32u);
    QCOMPARE(d.Kit().Control<QLabel>(localeformatsdialog::kPositiveIsoSample)->text(), QString("EUR 12.34.56.789,00"));
    auto* digits = d.Kit().Control<QComboBox>(localeformatsdialog::kDigits);
    digits->setCurrentIndex(0);
    emit digits->activated(0);
    QCOMPARE(d.Kit().Control<QLabel>(localeformatsdialog::kPositiveIsoSample)->text(), QString("EUR 12.34.56.789"));
    d.Kit().Control<QCheckBox>(localeformatsdialog::kCapitalizeTitles)->click();
    QCOMPARE(d.Working().GetCapitalizeTitles(), 1u);
  }

  void ResetFormatsResetsEveryControl() {
    auto locale = German();
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    d.show();
    Type(d.Kit().Control<QComboBox>(localeformatsdialog::kDecimalSeparator), "#");
    d.Working().SetPositiveIsoFmt(0);
    d.Working().SetDigitsAfterDecimal(5);
    d.OnResetFormats();
    const CCurrencyLocale system(1031);
    auto index = [&](int id) { return d.Kit().Control<QComboBox>(id)->currentIndex(); };
    QCOMPARE(index(localeformatsdialog::kPositiveSymbol), static_cast<int>(system.GetPositiveSymFmt()));
    QCOMPARE(index(localeformatsdialog::kPositiveIso), static_cast<int>(system.GetPositiveIsoFmt()));
    QCOMPARE(index(localeformatsdialog::kNegativeSymbol), static_cast<int>(system.GetNegativeSymFmt()));
    QCOMPARE(index(localeformatsdialog::kNegativeIso), static_cast<int>(system.GetNegativeIsoFmt()));
    QCOMPARE(index(localeformatsdialog::kDigits), static_cast<int>(system.GetDigitsAfterDecimal()));
    QCOMPARE(index(localeformatsdialog::kGrouping), system.GetGrouping() == 3 ? 1 : system.GetGrouping() == 32 ? 2 : 0);
    QCOMPARE(d.Kit().Control<QComboBox>(localeformatsdialog::kDecimalSeparator)->currentText(),
             QString::fromStdU16String(system.GetDecimalSeparator()));
    QCOMPARE(d.Kit().Control<QComboBox>(localeformatsdialog::kThousandSeparator)->currentText(),
             QString::fromStdU16String(system.GetThousandSeparator()));
    QCOMPARE(d.Kit().Control<QCheckBox>(localeformatsdialog::kCapitalizeTitles)->isChecked(),
             system.GetCapitalizeTitles() != 0);
    QCOMPARE(d.Kit()
                 .Control<QComboBox>(localeformatsdialog::kPositiveSymbol)
                 ->itemText(0)
                 .contains(QString::fromStdU16String(system.GetDecimalSeparator())),
             true);
  }

  void ListOrderAndResets() {
    auto locale = German();
    locale->IFind("USD")->SetCustom(u"greenback");
    locale->IFind("ADP")->SetName(u"");
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    QTreeWidget* list = d.List();
    QCOMPARE(list->topLevelItemCount(), 237);
    QCOMPARE(Codes(list).first(), QString("ADF"));  // the working copy's order at first
    QCOMPARE(Row(list, "USD")->text(4), CatalogueText(c_->lib, 244));
    QCOMPARE(Row(list, "GBP")->text(4), CatalogueText(c_->lib, 245));

    // Custom texts: missing ones first, ties by code in both directions.
    d.SortBy(3);
    QCOMPARE(Codes(list).last(), QString("USD"));
    QCOMPARE(Codes(list).first(), QString("ADF"));
    d.SortBy(3);
    QCOMPARE(Codes(list).first(), QString("USD"));
    QCOMPARE(Codes(list).at(1), QString("ADF"));
    // In the list: not in it first.
    d.SortBy(4);
    QCOMPARE(Codes(list).last(), QString("USD"));
    // Names: the missing name first.
    d.SortBy(1);
    QCOMPARE(Codes(list).first(), QString("ADP"));

    // Resetting texts of the selected rows keeps the order's rules and refreshes the row.
    SelectRows(list, {"USD"});
    d.OnResetTexts();
    QCOMPARE(Row(list, "USD")->text(3), QString());
    QCOMPARE(QString::fromStdU16String(d.Working().IFind("USD")->GetName()), QString("US-Dollar"));

    // The list reset keeps the selected currency, else takes the first row.
    d.SortBy(0);
    SelectRows(list, {"JPY"});
    d.OnResetList();
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->selectedItems().front()->text(0), QString("JPY"));
    QVERIFY(d.Working().AddLocaleInfo("QQQ"));
    new QTreeWidgetItem(list);  // a row for it, as the dialog shows new ones
    list->clearSelection();
    d.OnResetList();
    QCOMPARE(list->selectedItems().front()->text(0), QString("ADF"));
    QVERIFY(!Row(list, "QQQ"));
  }

  void PropertiesRefreshTheRow() {
    auto locale = German();
    CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
    std::string asked;
    d.SetPropertiesOpener([&](const char* code, CCurrencyLocale& working, QWidget*) {
      asked = code;
      working.IFind(code)->SetSymbol(u"US$");
      return IDC_OK;
    });
    SelectRows(d.List(), {"USD"});
    RunSelectionTimer(d);
    QVERIFY(d.Kit().Control(localeformatsdialog::kCurrencyProperties)->isEnabled());
    d.Kit().Control<QPushButton>(localeformatsdialog::kCurrencyProperties)->click();
    QCOMPARE(asked, std::string("USD"));
    QCOMPARE(Row(d.List(), "USD")->text(2), QString("US$"));
    QCOMPARE(d.Kit().Control<QLabel>(localeformatsdialog::kPositiveSymbolSample)->text(),
             QString("123.456.789,00 US$"));
    QCOMPARE(d.Kit().Control<QComboBox>(localeformatsdialog::kPositiveSymbol)->itemText(0), QString("US$1,1"));
  }

  void ColumnWidthsAreKept() {
    vtxtest::PutAppDword(kLocaleInfoColumnValues[0], 120);
    vtxtest::PutAppDword(kLocaleInfoColumnValues[1], 0);  // dragged to nothing: missing
    vtxtest::PutAppDword(kLocaleInfoColumnValues[2], 9);
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kAppKey, kLocaleInfoColumnValues[3]);
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, kAppKey, kLocaleInfoColumnValues[4]);
    auto locale = German();
    int name = 0;
    {
      CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
      d.show();
      QTreeWidget* list = d.List();
      QCOMPARE(list->columnWidth(0), 120);
      // Missing ones show their header and their rows; the last fills the list.
      name = list->columnWidth(1);
      QVERIFY(name >= list->header()->sectionSizeHint(1) && name >= static_cast<QAbstractItemView*>(list)->sizeHintForColumn(1));
      QVERIFY(list->columnWidth(2) >= list->header()->sectionSizeHint(2));
      int total = 0;
      for (int c = 0; c < 5; ++c) total += list->columnWidth(c);
      QVERIFY(total >= list->viewport()->width() - 2);
      list->setColumnWidth(0, 77);
    }
    uint32_t w = 0;
    QVERIFY(vtx::currency::ReadDword(kAppKey, kLocaleInfoColumnValues[0], &w));
    QCOMPARE(w, 77u);
    QVERIFY(vtx::currency::ReadDword(kAppKey, kLocaleInfoColumnValues[1], &w));
    QCOMPARE(static_cast<int>(w), name);
  }

  void OkHandsTheCopyBack() {
    ScriptedBoxes boxes;
    auto locale = German();
    {
      CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
      d.Working().SetDecimalSeparator(u"#");
      QTimer::singleShot(0, &d, [&] { d.reject(); });
      QCOMPARE(d.Run(), IDC_CANCEL);
      QCOMPARE(QString::fromStdU16String(locale->GetDecimalSeparator()), QString(","));
    }
    {
      CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
      d.Working().SetDecimalSeparator(u"#");
      QTimer::singleShot(0, &d, [&] { d.OkButton()->click(); });
      QCOMPARE(d.Run(), IDC_OK);
      QCOMPARE(QString::fromStdU16String(locale->GetDecimalSeparator()), QString("#"));
    }
    {
      // A copy that cannot be made back is a failure (its message needs memory too).
      CLocaleFormatsDialog d(settings_, *locale, CopyOf(*locale), nullptr, c_->lib);
      QTimer::singleShot(0, &d, [&] {
        vtx::heap::FailAfter(3);
        d.OkButton()->click();
        vtx::heap::FailAfter(-1);
      });
      QCOMPARE(d.Run(), IDC_CANCEL);
    }
    QCOMPARE(ScriptedBoxes::Unexpected(), 0);
  }

 private:
  std::unique_ptr<vtxtest::CatalogueEnvironment> c_;
  CSettings settings_;
};

QTEST_MAIN(LocaleDialogTest)
#include "localedialog_test.moc"
