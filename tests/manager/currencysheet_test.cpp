// The currency properties sheet on the offscreen platform: the rate modes, the validity rule, what
// OK stores into the database, the active entry and the locales, and the texts page.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QPushButton>
#include <QtTest>

#include <cstring>

#include "engine/currency/settings.h"
#include "manager/currencysheet.h"
#include "manager/dialogkit.h"
#include "manager/propertysheet.h"
#include "platform/ui.h"
#include "tests/manager/fixture.h"

using namespace vtx::manager;
using vtxtest::ScriptedBoxes;

namespace {

constexpr uint64_t kNow = 0x01D0000000000000ull;
FILETIME FixedNow() { return FILETIME{static_cast<DWORD>(kNow), static_cast<DWORD>(kNow >> 32)}; }
uint64_t U64(const FILETIME& t) { return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

// Settings with USD, GBP and DEM active, the base given.
struct Fixture {
  CSettings s;
  explicit Fixture(HMODULE lib, const char* base = "EUR") {
    s.Create(lib);
    s.GetRates().Active.Empty();
    Add("EUR", 1.0, 5);
    Add("USD", 1.2, 4);
    Add("GBP", 0.7, 4);
    Add("DEM", 1.95583, 5);
    std::strcpy(s.GetData()->BaseUnit, base);
  }
  CurrencyInfo* Add(const char* code, double rate, uint32_t decimals) {
    CurrencyInfo r;
    s.InitCurrencyInfo(r, code);
    r.dRate = rate;
    r.dwRateDecimals = decimals;
    r.ftLastChange = FILETIME{7, 0};
    return s.Add(r);
  }
  CurrencyInfo* Active(const char* code) {
    int32_t i = s.GetData()->IFind(code);
    return i < 0 ? nullptr : s.GetRates()[static_cast<uint32_t>(i)];
  }
  CurrencyData* Db(const char* code) {
    int32_t i = s.GetData()->Currencies.IFind(code);
    return i < 0 ? nullptr : s.GetData()->Currencies[i];
  }
};

QLineEdit* Edit(CCurrencyPropertiesSheet& sheet, int page, int id) { return sheet.Kit(page)->Control<QLineEdit>(id); }

void Type(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  if (text.isEmpty())
    QTest::keyClick(edit, Qt::Key_Delete);
  else
    QTest::keyClicks(edit, text);
}

// OK as the user presses it: 1 when accepted and stored, else 2.
int PressOk(CCurrencyPropertiesSheet& sheet) {
  PropertySheet* w = sheet.Window();
  if (!w->OkButton()->isEnabled()) return -1;
  w->OkButton()->click();
  return w->result() == QDialog::Accepted ? sheet.Store() : IDC_CANCEL;
}

}  // namespace

class CurrencySheetTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    c_ = std::make_unique<vtxtest::CatalogueEnvironment>();
    QVERIFY(c_->lib);
    SetCurrencyClock(FixedNow);
  }
  void cleanupTestCase() {
    SetCurrencyClock(nullptr);
    c_.reset();
  }

  void RateModes() {
    const struct {
      const char* base;
      const char* code;
      int mode;
      const char* shown;
    } cases[] = {
        {"EUR", "DEM", 2, "1.95583"},  // a former euro-area currency: its fixed rate
        {"EUR", "USD", 0, "1.2"},      // floating: the current rate, editable
        {"USD", "USD", 1, "1"},        // the base itself
        {"USD", "GBP", 0, "0.5833"},   // GBP per USD
        {"USD", "DEM", 0, "1.6298"},   // the base is no euro currency: DEM per USD, editable
        {"DEM", "FRF", 2, "3.3538"},   // both in the euro area: FRF per DEM, fixed
    };
    for (const auto& c : cases) {
      Fixture f(c_->lib, c.base);
      CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit | kSheetRateRequired);
      QVERIFY(sheet.Open(c.code));
      sheet.Create(nullptr);
      QLineEdit* rate = Edit(sheet, 0, currencysheet::kRate);
      QVERIFY2(rate->text().startsWith(c.shown), qPrintable(QString("%1/%2: %3").arg(c.base, c.code, rate->text())));
      QCOMPARE(sheet.RateMode(), c.mode);
      QCOMPARE(rate->isEnabled(), c.mode == 0);
      QVERIFY(sheet.Window()->OkButton()->isEnabled());
    }
  }

  void EditedRateInAnotherBase() {
    Fixture f(c_->lib, "USD");
    CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit | kSheetRateRequired);
    QVERIFY(sheet.Open("GBP"));
    sheet.Create(nullptr);
    Type(Edit(sheet, 0, currencysheet::kRate), "0.5");
    QCOMPARE(PressOk(sheet), IDC_OK);
    // 0.5 GBP per USD is 0.6 GBP per euro.
    QCOMPARE(f.Active("GBP")->dRate, 0.6);
    QCOMPARE(f.Db("GBP")->dRate, 0.6);
    QCOMPARE(U64(f.Active("GBP")->ftLastChange), kNow);
  }

  void ValidityRule() {
    const struct {
      const char* field;  // code, numeric, rate, smallest
      int id;
      const char* text;
      bool valid;
    } cases[] = {
        {"code", currencysheet::kCode, "QQQ", true},
        {"code", currencysheet::kCode, "q1", true},
        {"code", currencysheet::kCode, "", false},
        {"code", currencysheet::kCode, "Q=Q", false},
        {"code", currencysheet::kCode, "Q Q", false},
        {"code", currencysheet::kCode, "\xc3\x9cQ", false},
        {"code", currencysheet::kCode, "[Q", false},
        {"numeric", currencysheet::kNumericCode, "999", true},
        {"numeric", currencysheet::kNumericCode, "", true},
        {"numeric", currencysheet::kNumericCode, "-1", false},
        {"numeric", currencysheet::kNumericCode, "1e2", false},
        {"rate", currencysheet::kRate, "1.25", true},
        {"rate", currencysheet::kRate, "0", true},
        {"rate", currencysheet::kRate, "-1", false},
        {"rate", currencysheet::kRate, "1.5abc", false},
        {"rate", currencysheet::kRate, "", true},
        {"smallest", currencysheet::kSmallest, "0.005", true},
        {"smallest", currencysheet::kSmallest, "", true},
        {"smallest", currencysheet::kSmallest, "0", false},
        {"smallest", currencysheet::kSmallest, "-0.01", false},
        {"smallest", currencysheet::kSmallest, "x", false},
    };
    for (const auto& c : cases) {
      Fixture f(c_->lib);
      CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, 0);
      QVERIFY(sheet.Open(nullptr));
      sheet.Create(nullptr);
      if (c.id != currencysheet::kCode) Type(Edit(sheet, 0, currencysheet::kCode), "QQQ");
      Type(Edit(sheet, 0, c.id), QString::fromUtf8(c.text));
      QVERIFY2(sheet.Valid() == c.valid, qPrintable(QString("%1 \"%2\"").arg(c.field, QString::fromUtf8(c.text))));
      QCOMPARE(sheet.Window()->OkButton()->isEnabled(), c.valid);
    }
    // With a rate required, 0 and an empty field are refused too.
    for (const char* text : {"0", ""}) {
      Fixture f(c_->lib);
      CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit | kSheetRateRequired);
      QVERIFY(sheet.Open("USD"));
      sheet.Create(nullptr);
      Type(Edit(sheet, 0, currencysheet::kRate), text);
      QVERIFY(!sheet.Valid());
    }
  }

  void NewCurrencyIsStored() {
    Fixture f(c_->lib);
    CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, 0);
    QVERIFY(sheet.Open(nullptr));
    sheet.Create(nullptr);
    QCOMPARE(sheet.Window()->windowTitle(), CatalogueText(c_->lib, 35));
    // The rate's caption names the currency once it has a code.
    auto* caption = sheet.Kit(0)->Control<QLabel>(currencysheet::kRateLabel);
    QVERIFY2(QRegularExpression(R"(^&Rate \(per [A-Z]{3}\):$)").match(caption->text()).hasMatch(),
             qPrintable(caption->text()));
    Type(Edit(sheet, 0, currencysheet::kCode), "qq1");
    QVERIFY2(QRegularExpression(R"(^&Rate \(qq1 per [A-Z]{3}\):$)", QRegularExpression::CaseInsensitiveOption)
                 .match(caption->text())
                 .hasMatch(),
             qPrintable(caption->text()));
    Type(Edit(sheet, 0, currencysheet::kNumericCode), "42");
    Type(Edit(sheet, 0, currencysheet::kRate), "12.50");
    Type(Edit(sheet, 0, currencysheet::kSmallest), "0.005");
    sheet.Kit(0)->Control<QComboBox>(currencysheet::kRegime)->setCurrentIndex(2);
    sheet.Kit(0)->Control<QCheckBox>(currencysheet::kPhysical)->setChecked(false);
    QCOMPARE(PressOk(sheet), IDC_OK);
    CurrencyData* q = f.Db("QQ1");
    QVERIFY(q);
    QCOMPARE(q->dwNumericCode, 42u);
    QCOMPARE(q->dRate, 12.5);
    QCOMPARE(q->dwRateDecimals, 2u);
    QCOMPARE(q->dSmallest, 0.005);
    QCOMPARE(q->dwSmallestDecimals, 3u);
    QCOMPARE(q->dwFlags, kCurrencyLegalTender | kCurrencyPeggedEuro);
    QVERIFY(!f.Active("QQ1"));
  }

  void ExistingCodeAsksBeforeReplacing() {
    for (int answer : {IDNO, IDYES}) {
      ScriptedBoxes boxes({answer});
      Fixture f(c_->lib);
      const CurrencyData before = *f.Db("USD");
      CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, 0);
      QVERIFY(sheet.Open(nullptr));
      sheet.Create(nullptr);
      Type(Edit(sheet, 0, currencysheet::kCode), "usd");
      Type(Edit(sheet, 0, currencysheet::kNumericCode), "1");
      CAllCurrencies& db = f.s.GetData()->Currencies;
      const int32_t usd = db.IFindCode("USD");
      QCOMPARE(db.Find(before.dwNumericCode), usd);  // the look-up by number is built
      QCOMPARE(PressOk(sheet), answer == IDYES ? IDC_OK : IDC_CANCEL);
      // ... and follows the replaced number.
      QCOMPARE(db.Find(1u), answer == IDYES ? usd : -1);
      QCOMPARE(db.Find(before.dwNumericCode), answer == IDYES ? -1 : usd);
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
      QVERIFY(QString::fromStdString(ScriptedBoxes::Shown().front().text).contains("USD"));
      QCOMPARE(ScriptedBoxes::Shown().front().type & 0xF, static_cast<UINT>(MB_YESNO));
      QCOMPARE(f.Db("USD")->dwNumericCode, answer == IDYES ? 1u : before.dwNumericCode);
    }
  }

  void RateNeverSetIsNeitherShownNorStored() {
    Fixture f(c_->lib);
    f.Active("USD")->dRate = -1.0;
    f.Db("USD")->dRate = 0.0;
    CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit);
    QVERIFY(sheet.Open("USD"));
    sheet.Create(nullptr);
    QCOMPARE(Edit(sheet, 0, currencysheet::kRate)->text(), QString("1.0"));
    Type(Edit(sheet, 0, currencysheet::kNumericCode), "840");
    QCOMPARE(PressOk(sheet), IDC_OK);
    QCOMPARE(f.Db("USD")->dRate, 0.0);
    QCOMPARE(f.Active("USD")->dRate, -1.0);
    QCOMPARE(U64(f.Active("USD")->ftLastChange), 7u);
  }

  void LastChangeMovesOnlyWithTheRate() {
    Fixture f(c_->lib);
    {
      CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit | kSheetRateRequired);
      QVERIFY(sheet.Open("USD"));
      sheet.Create(nullptr);
      Type(Edit(sheet, 0, currencysheet::kSmallest), "0.05");
      QCOMPARE(PressOk(sheet), IDC_OK);
      QCOMPARE(U64(f.Active("USD")->ftLastChange), 7u);
      QCOMPARE(f.Active("USD")->dSmallest, 0.05);
      QCOMPARE(f.Active("USD")->dRate, 1.2);
    }
    {
      CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit | kSheetRateRequired);
      QVERIFY(sheet.Open("USD"));
      sheet.Create(nullptr);
      Type(Edit(sheet, 0, currencysheet::kRate), "1.3");
      sheet.Kit(0)->Control<QCheckBox>(currencysheet::kLegalTender)->setChecked(false);
      QCOMPARE(PressOk(sheet), IDC_OK);
      QCOMPARE(U64(f.Active("USD")->ftLastChange), kNow);
      QCOMPARE(f.Active("USD")->dRate, 1.3);
      QCOMPARE(f.Active("USD")->dwRateDecimals, 1u);
      QVERIFY(f.Active("USD")->dwFlags & kInfoEuroReplaced);
    }
    // An edited rate of 0 is ignored.
    CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit);
    QVERIFY(sheet.Open("USD"));
    sheet.Create(nullptr);
    Type(Edit(sheet, 0, currencysheet::kRate), "0");
    QCOMPARE(PressOk(sheet), IDC_OK);
    QCOMPARE(f.Active("USD")->dRate, 1.3);
  }

  void UnknownCodeInEditModeOpensNothing() {
    Fixture f(c_->lib);
    QCOMPARE(CurrencyPropertiesSheet("QQQ", f.s, nullptr, nullptr, c_->lib, kSheetEdit), IDC_CANCEL);
    QCOMPARE(CurrencyPropertiesSheet(nullptr, f.s, nullptr, nullptr, c_->lib, kSheetEdit), IDC_CANCEL);
  }

  void TextsPageOfOneLocale() {
    Fixture f(c_->lib);
    CCurrencyLocale working(1031);
    QVERIFY(working.ResetList());
    CCurrencyPropertiesSheet sheet(f.s, &working, c_->lib, kSheetEdit | kSheetTextsFirst);
    QVERIFY(sheet.Open("USD"));
    sheet.Create(nullptr);
    QCOMPARE(sheet.Window()->CurrentPage(), 1);
    QVERIFY(!sheet.Window()->Viewed(0));
    auto* locales = sheet.Kit(1)->Control<QComboBox>(currencysheet::kLocale);
    QCOMPARE(locales->count(), 1);
    QVERIFY(!locales->isEnabled());
    QCOMPARE(Edit(sheet, 1, currencysheet::kName)->text(), QString("US-Dollar"));
    Type(Edit(sheet, 1, currencysheet::kName), "amerikanischer dollar");
    QCOMPARE(sheet.Kit(1)->Control<QLabel>(currencysheet::kTypedPreview)->text(), QString("amerikanischer dollar"));
    Type(Edit(sheet, 1, currencysheet::kSymbol), "US$");
    QCOMPARE(PressOk(sheet), IDC_OK);
    QCOMPARE(QString::fromStdU16String(working.IFind("USD")->GetName()), QString("amerikanischer dollar"));
    QCOMPARE(QString::fromStdU16String(working.IFind("USD")->GetSymbol()), QString("US$"));
    QVERIFY(working.IFind("USD")->GetChanged());
    // The settings' own locales are untouched.
    CStringW name;
    QVERIFY(f.s.GetLocaleList()->GetCurrencyName(name, "USD", false, 1031));
    QCOMPARE(QString::fromStdU16String(name.c_str()), QString("US-Dollar"));
  }

  void TextsOfSeveralLocales() {
    Fixture f(c_->lib);
    CCurrencyPropertiesSheet sheet(f.s, nullptr, c_->lib, kSheetEdit);
    QVERIFY(sheet.Open("GBP"));
    sheet.Create(nullptr);
    sheet.Window()->SetCurrentPage(1);
    auto* locales = sheet.Kit(1)->Control<QComboBox>(currencysheet::kLocale);
    QVERIFY(locales->count() > 1);
    QCOMPARE(locales->currentData().toUInt(), 1033u);
    auto choose = [&](LCID lcid) {
      int i = locales->findData(static_cast<uint>(lcid));
      QVERIFY(i >= 0);
      locales->setCurrentIndex(i);
      emit locales->activated(i);
    };
    Type(Edit(sheet, 1, currencysheet::kCustom), "first");
    choose(1031);
    QCOMPARE(Edit(sheet, 1, currencysheet::kName)->text(), QString("Pfund Sterling"));
    Type(Edit(sheet, 1, currencysheet::kCustom), "zweiter");
    choose(1033);
    QCOMPARE(Edit(sheet, 1, currencysheet::kCustom)->text(), QString("first"));  // the edited texts come back
    Type(Edit(sheet, 1, currencysheet::kCustom), "third");
    QCOMPARE(PressOk(sheet), IDC_OK);
    CCurrencyLocaleList& list = *f.s.GetLocaleList();
    QCOMPARE(QString::fromStdU16String(list.GetLocale(1033)->IFind("GBP")->GetCustom()), QString("third"));
    QCOMPARE(QString::fromStdU16String(list.GetLocale(1031)->IFind("GBP")->GetCustom()), QString("zweiter"));
  }

 private:
  std::unique_ptr<vtxtest::CatalogueEnvironment> c_;
};

QTEST_MAIN(CurrencySheetTest)
#include "currencysheet_test.moc"
