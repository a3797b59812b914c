// The dialogs of the configuration pages on the offscreen platform: account, currency choice,
// list choice, mail server, data source (on fixture filter definitions) and dial-up, the
// minimum-version comparison and the shared dialog functions.
#include <QApplication>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>

#include "engine/currency/datasource.h"
#include "engine/currency/filterdef.h"
#include "engine/currency/settings.h"
#include "manager/datasourcedialog.h"
#include "manager/dialogs.h"
#include "tests/manager/fixture.h"
#include "tests/manager/waiting.h"

using namespace vtx::manager;
using vtxtest::ScriptedBoxes;
using vtxtest::WaitFor;

namespace {

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

QString Text(HMODULE lib, UINT id) { return CatalogueText(lib, id); }

// A program of version 4.0.0.0.
bool Version4(const char*, WORD v[4]) {
  v[0] = 4;
  v[1] = v[2] = v[3] = 0;
  return true;
}

// Runs `act` on the modal dialog that opens next.
void OnNextModal(std::function<void(QDialog*)> act) {
  QTimer::singleShot(0, [act] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    QVERIFY(d);
    act(d);
  });
}

// A new data source with only Alpha offered, chosen, and its entry with user data selected.
void ChooseAlphaClientEntry(CDataSourceDialog& d) {
  d.show();
  d.FilterList()->setCurrentIndex(0);
  d.AddressBox()->setCurrentIndex(1);
  d.OnEntryChosen(1);
}

void Type(QLineEdit* edit, const QString& text) {
  edit->clear();
  QTest::keyClicks(edit, text);
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    c_ = std::make_unique<vtxtest::CatalogueEnvironment>();
    lib_ = c_->lib;
    QVERIFY(lib_);
    filters_ = c_->env / "filters";
    std::filesystem::create_directories(filters_);
    Write(filters_ + "/alpha.ini",
          "[General]\nName = \"Alpha\"\nInformation = \"https://alpha.example/\"\n"
          "[URL]\nAddress = \"https://alpha.example/rates.csv\"\nName = \"Alpha rates\"\nComment = \"Daily rates\"\n"
          "[URL]\nAddress = \"https://alpha.example/client/[1]/rates.csv\"\nName = \"Client rates\"\nType = EDIT\n");
    Write(filters_ + "/beta.ini",
          "[General]\nName = \"Beta\"\nRequiredVersion = \"9.0\"\n"
          "[URL]\nAddress = \"http://beta.example/x\"\n"
          "[URL]\nAddress = \"http://beta.example/new\"\nName = \"Beta new\"\nRequiredVersion = \"4.1\"\n");
    Write(filters_ + "/hidden.ini", "[General]\nName = \"Hidden\"\nHide = 1\n[URL]\nAddress = \"http://hidden.example/\"\n");
    Write(filters_ + "/Default.ini",
          "[General]\nName = \"Rates file\"\n[URL]\nAddress = \"file:///tmp/rates.ini\"\nType = FREE, EDIT\n");
    QVERIFY(list_.Create(filters_.c_str(), true));
    QCOMPARE(list_.GetCount(), 4u);
  }
  void cleanupTestCase() {
    list_.Empty();
    c_.reset();
  }
  void cleanup() { SetProgramVersionReader(nullptr); }

  // ---- Account ----

  void AccountTable() {
    const struct {
      const char* user;
      const char* password;
      const char* domainShown;
      const char* userShown;
      const char* typeDomain;  // null: leave the field
      const char* typePassword;
      const char* userOut;
      const char* passwordOut;
    } cases[] = {
        {"DOM\\bob", "pw", "DOM", "bob", nullptr, nullptr, "DOM\\bob", "pw"},  // OK at once: never the placeholder
        {"bob", "", "", "bob", nullptr, nullptr, "bob", ""},
        {"DOM\\a\\b", nullptr, "DOM", "a\\b", nullptr, nullptr, "DOM\\a\\b", ""},
        {"DOM\\bob", "pw", "DOM", "bob", "", nullptr, "bob", "pw"},  // an empty domain: the bare user
        {"bob", "old", "", "bob", nullptr, "new", "bob", "new"},
        {"bob", "old", "", "bob", nullptr, "", "bob", ""},  // typed empty is a new (empty) password
    };
    for (const auto& c : cases) {
      CAccountDialog d(c.user, c.password, nullptr, lib_, 0);
      d.show();
      QCOMPARE(d.Kit().Control<QLineEdit>(accountdialog::kDomain)->text(), QString(c.domainShown));
      QCOMPARE(d.Kit().Control<QLineEdit>(accountdialog::kUser)->text(), QString(c.userShown));
      auto* password = d.Kit().Control<QLineEdit>(accountdialog::kPassword);
      QCOMPARE(password->text(), QString(c.password && *c.password ? kPasswordPlaceholder : ""));
      if (c.typeDomain) Type(d.Kit().Control<QLineEdit>(accountdialog::kDomain), c.typeDomain);
      if (c.typePassword) {
        password->selectAll();
        if (*c.typePassword) QTest::keyClicks(password, c.typePassword);
        else QTest::keyClick(password, Qt::Key_Backspace);
      }
      d.OkButton()->click();
      QCOMPARE(d.result(), IDC_OK);
      QCOMPARE(d.UserOut(), std::string(c.userOut));
      QCOMPARE(d.PasswordOut(), std::string(c.passwordOut));
    }
  }

  void AccountTitlesAndPasswordFocus() {
    for (int kind : {0, 1, 2}) {
      CAccountDialog d("u", "p", nullptr, lib_, kind);
      QCOMPARE(d.windowTitle(), Text(lib_, kStrAccountTitle[kind]));
    }
    CAccountDialog d("u", "secret", nullptr, lib_, 0);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    auto* password = static_cast<CPasswordEdit*>(d.Kit().Control(accountdialog::kPassword));
    d.Kit().Control(accountdialog::kUser)->setFocus();
    password->setFocus(Qt::MouseFocusReason);
    password->setCursorPosition(3);  // as a click puts the caret
    QTRY_COMPARE(password->selectedText(), QString(kPasswordPlaceholder));
    QVERIFY(!password->Edited());
    QTest::keyClicks(password, "x");
    QVERIFY(password->Edited());
    QCOMPARE(password->text(), QString("x"));
    d.Kit().Control(accountdialog::kUser)->setFocus();
    password->setFocus();
    QTest::qWait(20);
    QVERIFY(password->selectedText().isEmpty());  // an edited password is not selected
  }

  // ---- Currency choice ----

  void CurrencyChoice() {
    CSettings settings;
    QVERIFY(settings.Create(lib_));
    settings.GetRates().Active.Empty();
    for (const char* code : {"USD", "JPY"}) {
      CurrencyInfo rec;
      QVERIFY(settings.InitCurrencyInfo(rec, code));
      QVERIFY(settings.Add(rec));
    }
    CCurrencyChoiceDialog d(settings, nullptr, lib_);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QTreeWidget* list = d.List();
    QCOMPARE(list->topLevelItemCount(), static_cast<int>(settings.GetData()->Currencies.GetCount()) - 2);
    QCOMPARE(list->headerItem()->text(0), Text(lib_, kStrCurrencyCodeHeader));
    QVERIFY(list->findItems("USD", Qt::MatchExactly, 0).isEmpty());
    QVERIFY(list->findItems("JPY", Qt::MatchExactly, 0).isEmpty());
    auto chf = list->findItems("CHF", Qt::MatchExactly, 0);
    QCOMPARE(chf.size(), 1);
    QVERIFY(!chf[0]->text(1).isEmpty());  // the English name
    for (int i = 1; i < list->topLevelItemCount(); ++i)
      QVERIFY(list->topLevelItem(i - 1)->text(0) < list->topLevelItem(i)->text(0));  // code ascending at first

    // OK follows the selection.
    QVERIFY(!d.OkButton()->isEnabled());
    chf[0]->setSelected(true);
    QVERIFY(d.OkButton()->isEnabled());
    list->clearSelection();
    QVERIFY(!d.OkButton()->isEnabled());

    // A click on the code header reverses the order; the codes come in the shown order.
    QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(0) + 5, 5));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QStringList shown;
    for (int i = 0; i < 3; ++i) {
      list->topLevelItem(i)->setSelected(true);
      shown << list->topLevelItem(i)->text(0);
    }
    QVERIFY(shown[0] > shown[1] && shown[1] > shown[2]);
    d.OkButton()->click();
    QCOMPARE(d.result(), IDC_OK);
    std::vector<std::string> expected;
    for (const QString& s : shown) expected.push_back(s.toStdString());
    QCOMPARE(d.Chosen(), expected);

    // Another column sorts ascending; a double click is OK.
    CCurrencyChoiceDialog again(settings, nullptr, lib_);
    again.show();
    again.SortBy(1);
    QCOMPARE(again.List()->header()->sortIndicatorOrder(), Qt::AscendingOrder);
    QVERIFY(again.List()->topLevelItem(0)->text(1).compare(again.List()->topLevelItem(1)->text(1),
                                                           Qt::CaseInsensitive) <= 0);
    QTreeWidgetItem* row = again.List()->topLevelItem(2);
    again.List()->setCurrentItem(row);
    emit again.List()->itemDoubleClicked(row, 0);
    QCOMPARE(again.result(), IDC_OK);
    QCOMPARE(again.Chosen(), std::vector<std::string>{row->text(0).toStdString()});
  }

  void CurrencyChoiceWithEveryCurrencyConfigured() {
    CSettings settings;
    QVERIFY(settings.Create(lib_));
    settings.GetRates().Active.Empty();
    for (CurrencyData* record : settings.GetData()->Currencies) {
      CurrencyInfo rec;
      QVERIFY(settings.InitCurrencyInfo(rec, record->szCode));
      QVERIFY(settings.Add(rec));
    }
    CCurrencyChoiceDialog d(settings, nullptr, lib_);
    QCOMPARE(d.List()->topLevelItemCount(), 0);
    QVERIFY(!d.OkButton()->isEnabled());
  }

  // ---- List choice and mail server ----

  void ListChoice() {
    std::vector<std::string> strings{"EUR", "usd (US dollar)", "JPY (Yen)"};
    const struct {
      const char* preselected;
      int index;
    } cases[] = {{"USD (US DOLLAR)", 1}, {"jpy (yen)", 2}, {"CHF", 0}, {nullptr, 0}};
    for (const auto& c : cases) {
      CListChoiceDialog d(strings, c.preselected, nullptr, lib_);
      auto* combo = d.Kit().Control<QComboBox>(listchoicedialog::kChoice);
      QCOMPARE(combo->count(), 3);
      QCOMPARE(combo->currentIndex(), c.index);
      QCOMPARE(combo->maxVisibleItems(), 9);
      d.OkButton()->click();
      QCOMPARE(d.result(), IDC_OK);
      QCOMPARE(d.ChosenIndex(), c.index);
    }
    CListChoiceDialog empty({}, "x", nullptr, lib_);
    QVERIFY(!empty.OkButton()->isEnabled());

    // A long list drops down 9 rows high and scrolls, whatever the style does by itself.
    std::vector<std::string> many;
    for (int i = 0; i < 60; ++i) many.push_back("Currency " + std::to_string(i));
    CListChoiceDialog tall(many, "Currency 30", nullptr, lib_);
    tall.show();
    auto* combo = tall.Kit().Control<QComboBox>(listchoicedialog::kChoice);
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    QVERIFY(WaitFor([&] { return view->isVisible(); }));
    int row = view->sizeHintForRow(0);
    QVERIFY(row > 0);
    QVERIFY2(view->height() <= 10 * row && view->height() >= 8 * row,
             qPrintable(QString("%1 px for rows of %2 px").arg(view->height()).arg(row)));
    QVERIFY(view->verticalScrollBar()->maximum() > 0);
    combo->hidePopup();
  }

  void MailServer() {
    std::string longText(2000, 'a');
    const struct {
      std::string server, sender;
      bool ok;
      std::string serverOut, senderOut;
    } cases[] = {
        {"smtp.example.com:587", "rates@example.com", true, "smtp.example.com:587", "rates@example.com"},
        {"  smtp.example.com\t", " rates@example.com ", false, "", ""},  // a TAB is a control character
        {"  smtp.example.com  ", " rates@example.com ", true, "smtp.example.com", "rates@example.com"},
        {"smtp.example.com\r\nRCPT TO:<x@example.com>", "a@example.com", false, "", ""},
        {"smtp.example.com", "a@example.com\nBcc: x@example.com", false, "", ""},
        {longText, "", true, longText, ""},
    };
    for (const auto& c : cases) {
      CMailServerDialog d(c.server.c_str(), c.sender.c_str(), nullptr, lib_);
      d.show();
      QCOMPARE(d.OkButton()->isEnabled(), c.ok);
      d.OkButton()->click();
      QCOMPARE(d.result(), c.ok ? IDC_OK : 0);
      if (!c.ok) continue;
      QCOMPARE(d.ServerOut(), c.serverOut);
      QCOMPARE(d.SenderOut(), c.senderOut);
    }
    // Removing the line break enables OK again.
    CMailServerDialog d("smtp.example.com\n", "a@example.com", nullptr, lib_);
    QVERIFY(!d.OkButton()->isEnabled());
    d.Kit().Control<QLineEdit>(mailserverdialog::kServer)->setText("smtp.example.com");
    QVERIFY(d.OkButton()->isEnabled());
  }

  // ---- Data source ----

  void DataSourceNew() {
    DataSourceDialogData data;
    CDataSourceDialog d(data, nullptr, list_, nullptr, nullptr, lib_);
    d.show();
    QCOMPARE(d.windowTitle(), Text(lib_, kStrNewSourceTitle));
    QComboBox* filters = d.FilterList();
    QCOMPARE(filters->count(), 3);  // the hidden one is not offered
    QCOMPARE(filters->currentText(), QString("Rates file"));  // the default definition
    QCOMPARE(d.AddressBox()->currentText(), QString("file:///tmp/rates.ini"));
    QCOMPARE(d.SelectedEntry(), 0);
    QVERIFY(d.OkButton()->isEnabled());
    QCOMPARE(d.AddressBox()->lineEdit()->maxLength(), 500);
    QCOMPARE(d.Kit().HelpFor(IDC_OK), 342);
    QVERIFY(d.HomePageLink().DisplayText().isEmpty());  // no Information
    d.OkButton()->click();
    QCOMPARE(d.result(), IDC_OK);
    QCOMPARE(data.url, std::string("file:///tmp/rates.ini"));
    QCOMPARE(data.filterName, std::string("Default.ini"));
  }

  void DataSourceEditShowsTheEntryOfItsAddress() {
    CDataSource source;
    source.SetURL("HTTPS://ALPHA.EXAMPLE/rates.csv");  // an entry's Address, in other case
    source.SetFilter("ALPHA.INI");
    source.SetUserNameA("me");
    DataSourceDialogData data;
    CDataSourceDialog d(data, &source, list_, nullptr, nullptr, lib_);
    d.show();
    QCOMPARE(d.windowTitle(), Text(lib_, kStrEditSourceTitle));
    QCOMPARE(d.Kit().HelpFor(IDC_OK), 340);
    QCOMPARE(d.FilterList()->currentText(), QString("Alpha"));
    QCOMPARE(d.AddressBox()->currentText(), QString("Alpha rates"));  // its display name, selected
    QCOMPARE(d.SelectedEntry(), 0);
    QCOMPARE(d.AddressBox()->lineEdit()->selectedText(), QString("Alpha rates"));
    QCOMPARE(d.Kit().Control<QPlainTextEdit>(datasourcedialog::kDescription)->toPlainText(), QString("Daily rates"));
    QCOMPARE(d.HomePageLink().DisplayText(), Text(lib_, kStrHomePageLink));
    QCOMPARE(d.HomePageLink().Links().at(0).address, QString("https://alpha.example/"));
    QVERIFY(!d.Kit().Control(datasourcedialog::kUserData)->isEnabled());  // no [1] in the address
    d.OkButton()->click();
    QCOMPARE(data.url, std::string("https://alpha.example/rates.csv"));
    QCOMPARE(data.filterName, std::string("alpha.ini"));
    QCOMPARE(data.user, std::string("me"));

    // The address box takes twice the length of a long address.
    source.SetURL(("http://long.example/" + std::string(280, 'x')).c_str());
    CDataSourceDialog longer(data, &source, list_, nullptr, nullptr, lib_);
    QCOMPARE(longer.AddressBox()->lineEdit()->maxLength(), 600);
    QCOMPARE(longer.AddressBox()->currentText().size(), 300);
  }

  void DataSourceTypedNameStoresTheAddress() {
    DataSourceDialogData data;
    CDataSourceDialog d(data, nullptr, list_, "alpha.ini", nullptr, lib_);
    d.show();
    QCOMPARE(d.FilterList()->currentIndex(), -1);  // a new source with onlyFilter: nothing chosen yet
    QVERIFY(!d.OkButton()->isEnabled());
    d.FilterList()->setCurrentIndex(0);
    Type(d.AddressBox()->lineEdit(), "alpha RATES");
    QCOMPARE(d.SelectedEntry(), -1);
    d.OkButton()->click();
    QCOMPARE(d.result(), IDC_OK);
    QCOMPARE(data.url, std::string("https://alpha.example/rates.csv"));
  }

  void DataSourceFilterChangeKeepsOnlyTypedText() {
    DataSourceDialogData data;
    CDataSourceDialog d(data, nullptr, list_, nullptr, nullptr, lib_);
    d.show();
    QComboBox* filters = d.FilterList();
    Type(d.AddressBox()->lineEdit(), "http://mine.example/rates");
    filters->setCurrentIndex(filters->findText("Beta"));  // Beta asks for 9.0: no program version here
    QCOMPARE(d.AddressBox()->currentText(), QString("http://mine.example/rates"));
    QCOMPARE(d.SelectedEntry(), -1);
    QCOMPARE(d.AddressBox()->count(), 2);
    QCOMPARE(d.AddressBox()->itemText(0), QString("http://beta.example/x"));  // no Name: its address
    // A chosen entry goes with its list.
    d.AddressBox()->setCurrentIndex(1);
    d.OnEntryChosen(1);
    QCOMPARE(d.AddressBox()->currentText(), QString("Beta new"));
    filters->setCurrentIndex(filters->findText("Alpha"));
    QCOMPARE(d.AddressBox()->currentText(), QString("Alpha rates"));
    QCOMPARE(d.SelectedEntry(), 0);
    // Without a filter there is no OK.
    filters->setCurrentIndex(-1);
    QVERIFY(!d.OkButton()->isEnabled());
    QCOMPARE(d.AddressBox()->count(), 0);
  }

  void DataSourceUserIdQuestion() {
    vtxtest::PutAppString("UserID", "client-7");
    const struct {
      int answer;
      int result;
      const char* userData;
    } cases[] = {{IDYES, IDC_OK, "client-7"}, {IDNO, IDC_OK, ""}, {IDCANCEL, 0, ""}};
    for (const auto& c : cases) {
      ScriptedBoxes boxes({c.answer});
      DataSourceDialogData data;
      CDataSourceDialog d(data, nullptr, list_, "alpha.ini", nullptr, lib_);
      ChooseAlphaClientEntry(d);
      QCOMPARE(d.AddressBox()->currentText(), QString("https://alpha.example/client/[1]/rates.csv"));
      QVERIFY(d.Kit().Control(datasourcedialog::kUserData)->isEnabled());
      d.OkButton()->click();
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
      QCOMPARE(ScriptedBoxes::Shown()[0].type, UINT{0x33});
      QVERIFY(QString::fromStdString(ScriptedBoxes::Shown()[0].text).contains("client-7"));
      QCOMPARE(d.result(), c.result);
      QCOMPARE(d.isVisible(), c.result == 0);  // Cancel: the dialog stays
      if (c.result == IDC_OK) QCOMPARE(data.userData, std::string(c.userData));
    }
    // User data typed, or no UserID: no question.
    vtxtest::PutAppString("UserID", "");
    ScriptedBoxes none;
    DataSourceDialogData data;
    CDataSourceDialog d(data, nullptr, list_, "alpha.ini", nullptr, lib_);
    ChooseAlphaClientEntry(d);
    d.OkButton()->click();
    QCOMPARE(d.result(), IDC_OK);
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
  }

  void DataSourceOnlyFilter() {
    CDataSource source;
    source.SetURL("http://other.example/");
    source.SetFilter("alpha.ini");
    DataSourceDialogData data;
    CDataSourceDialog d(data, &source, list_, "BETA.INI", nullptr, lib_);
    QCOMPARE(d.FilterList()->count(), 1);
    QCOMPARE(d.FilterList()->itemText(0), QString("Beta"));
    QCOMPARE(d.FilterList()->currentIndex(), -1);  // not the source's, and no default with onlyFilter
    QVERIFY(!d.OkButton()->isEnabled());
    CDataSourceDialog hidden(data, nullptr, list_, "hidden.ini", nullptr, lib_);
    QCOMPARE(hidden.FilterList()->count(), 0);
    DataSourceDialogData untouched{"u", "f", "d", "", ""};
    QCOMPARE(DataSourceDialog(untouched, nullptr, nullptr, nullptr, nullptr, lib_), IDC_CANCEL);
    QCOMPARE(untouched.url, std::string("u"));
  }

  void DataSourceCanonicalisesATypedAddress() {
    DataSourceDialogData data;
    CDataSourceDialog d(data, nullptr, list_, nullptr, nullptr, lib_);
    d.show();
    Type(d.AddressBox()->lineEdit(), "HTTP://h/a/./b/../c d.csv");
    d.OnAddressLeft();
    QCOMPARE(d.AddressBox()->currentText(), QString("http://h/a/c%20d.csv"));
    Type(d.AddressBox()->lineEdit(), "HTTP://h/[1]/./x");  // user data needed: left as typed
    d.OnAddressLeft();
    QCOMPARE(d.AddressBox()->currentText(), QString("HTTP://h/[1]/./x"));
    QVERIFY(d.Kit().Control(datasourcedialog::kUserData)->isEnabled());
  }

  void DataSourceAccountButton() {
    CDataSource source;
    source.SetURL("file:///tmp/rates.ini");
    source.SetUserNameA("DOM\\me");
    source.SetPassword("old");
    DataSourceDialogData data;
    CDataSourceDialog d(data, &source, list_, nullptr, nullptr, lib_);
    d.show();
    OnNextModal([this](QDialog* account) {
      QCOMPARE(account->windowTitle(), Text(lib_, kStrAccountTitle[0]));
      auto* user = FindControl(account, accountdialog::kUser);
      QCOMPARE(static_cast<QLineEdit*>(user)->text(), QString("me"));
      static_cast<QLineEdit*>(user)->setText("you");
      static_cast<QPushButton*>(FindControl(account, IDC_OK))->click();
    });
    static_cast<QPushButton*>(d.Kit().Control(datasourcedialog::kAccount))->click();
    QCOMPARE(data.user, std::string("DOM\\you"));
    QCOMPARE(data.password, std::string("old"));
  }

  void MinimumVersionTable() {
    const WORD v4231[4] = {4, 2, 3, 1}, v49[4] = {4, 9, 0, 0}, v40[4] = {4, 0, 0, 0};
    const struct {
      const char* minimum;
      const WORD* program;
      bool older;
    } cases[] = {
        {"4.2", v4231, false},     {"4.10", v49, true},       {"4.x", v40, false},  {"5", v49, true},
        {"4.65540", v49, true},    {"4.2.3.1", v4231, false}, {"4.2.3.2", v4231, true},
        {"4.2.3.1.9", v4231, false}, {"", v40, false},        {"x", v40, false},    {"3.99", v40, false},
    };
    for (const auto& c : cases) QCOMPARE(ProgramOlderThan(c.minimum, c.program), c.older);
  }

  void VersionWarningInTheDialog() {
    DataSourceDialogData data;
    // Linux programs carry no version: no warning, whatever the definition asks for.
    vtxtest::PutAppString("Server", "/opt/vantrex/vtxserver");
    {
      ScriptedBoxes boxes;
      CDataSourceDialog d(data, nullptr, list_, "beta.ini", nullptr, lib_);
      d.FilterList()->setCurrentIndex(0);
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
    }
    SetProgramVersionReader(Version4);
    {
      // Beta's first entry has no minimum of its own: the definition's 9.0 warns.
      ScriptedBoxes boxes({IDOK, IDOK});
      CDataSourceDialog d(data, nullptr, list_, "beta.ini", nullptr, lib_);
      d.FilterList()->setCurrentIndex(0);
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{1});
      QCOMPARE(QString::fromStdString(ScriptedBoxes::Shown()[0].text), Text(lib_, kStrFilterNeedsVersion));
      QCOMPARE(QString::fromStdString(ScriptedBoxes::Shown()[0].caption), Text(lib_, kStrProduct));
      QCOMPARE(ScriptedBoxes::Shown()[0].type, UINT{MB_ICONEXCLAMATION});
      // The second entry's own 4.1 warns with the address's text; the dialog goes on.
      d.AddressBox()->setCurrentIndex(1);
      d.OnEntryChosen(1);
      QCOMPARE(ScriptedBoxes::Shown().size(), size_t{2});
      QCOMPARE(QString::fromStdString(ScriptedBoxes::Shown()[1].text), Text(lib_, kStrAddressNeedsVersion));
      QVERIFY(d.OkButton()->isEnabled());
    }
    // No "Server" value: nothing is checked.
    vtxtest::PutAppString("Server", "");
    HKEY key;
    QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppKey, 0, KEY_ALL_ACCESS, &key), LONG{0});
    RegDeleteValueA(key, "Server");
    RegCloseKey(key);
    ScriptedBoxes boxes;
    CDataSourceDialog d(data, nullptr, list_, "beta.ini", nullptr, lib_);
    d.FilterList()->setCurrentIndex(0);
    QCOMPARE(ScriptedBoxes::Shown().size(), size_t{0});
  }

  // ---- Dial-up ----

  void DialUpWithoutPhoneBook() {
    CSettings settings;
    QVERIFY(settings.Create(lib_));
    CSettingsData* s = settings.GetData();
    s->DialUp = "Provider";
    s->DialUpUserName = "me";
    s->DialUpPassword = "secret";
    s->DialUpDomain = "DOM";
    s->HangUp = 1;
    {
      CDialUpDialog d(settings, nullptr, lib_);
      d.show();
      QCOMPARE(d.Kit().Control<QComboBox>(dialupdialog::kEntry)->count(), 0);
      QVERIFY(!d.Kit().Control(dialupdialog::kEditEntry)->isEnabled());
      QCOMPARE(d.Kit().Control<QLineEdit>(dialupdialog::kUser)->text(), QString("me"));
      QCOMPARE(d.Kit().Control<QLineEdit>(dialupdialog::kPassword)->text(), QString(kPasswordPlaceholder));
      QCOMPARE(d.Kit().Control<QLineEdit>(dialupdialog::kDomain)->text(), QString("DOM"));
      QVERIFY(d.Kit().Control<QCheckBox>(dialupdialog::kHangUp)->isChecked());
      // Emptied fields keep the stored values; the hang-up box is taken as it is.
      Type(d.Kit().Control<QLineEdit>(dialupdialog::kUser), "");
      d.Kit().Control<QLineEdit>(dialupdialog::kDomain)->clear();
      d.Kit().Control<QCheckBox>(dialupdialog::kHangUp)->setChecked(false);
      d.OkButton()->click();
      QCOMPARE(d.result(), IDC_OK);
    }
    QCOMPARE(std::string(s->DialUp.c_str()), std::string(""));
    QCOMPARE(std::string(s->DialUpUserName.c_str()), std::string("me"));
    QCOMPARE(std::string(s->DialUpPassword.c_str()), std::string("secret"));
    QCOMPARE(std::string(s->DialUpDomain.c_str()), std::string("DOM"));
    QCOMPARE(s->HangUp, 0u);
    {
      CDialUpDialog d(settings, nullptr, lib_);
      d.show();
      Type(d.Kit().Control<QLineEdit>(dialupdialog::kUser), "you");
      d.Kit().Control<QLineEdit>(dialupdialog::kPassword)->selectAll();
      QTest::keyClicks(d.Kit().Control<QLineEdit>(dialupdialog::kPassword), "new");
      d.OkButton()->click();
    }
    QCOMPARE(std::string(s->DialUpUserName.c_str()), std::string("you"));
    QCOMPARE(std::string(s->DialUpPassword.c_str()), std::string("new"));
  }

  // ---- Shared functions ----

  void SharedFunctions() {
    QFont f = CreateDialogFont(-11, true);
    QCOMPARE(f.pixelSize(), 11);
    QCOMPARE(f.weight(), QFont::Normal);
    QComboBox combo;
    QVERIFY(SetComboDropHeight(&combo, 3));
    QCOMPARE(combo.maxVisibleItems(), 3);
    QWidget form;
    CFormKit kit(&form, lib_);
    auto* up = kit.Add(sourcespage::kMoveUp, new QPushButton(&form));
    kit.Add(sourcespage::kMoveDown, new QPushButton(&form));
    CIconButton button;
    QVERIFY(button.Set(&form, sourcespage::kMoveUp, 142, lib_));
    QVERIFY(!up->icon().isNull());
    QVERIFY(button.Set(&form, sourcespage::kMoveDown, 143, lib_));
    QVERIFY(!button.Set(&form, sourcespage::kMoveDown, 999, lib_));
    QVERIFY(!button.Set(&form, 1, 142, lib_));
    QPlainTextEdit edit;
    edit.resize(200, 60);
    edit.show();
    edit.setPlainText("short");
    QVERIFY(FitEditScrollBar(&edit));
    edit.setPlainText(QString("line\n").repeated(40));
    QVERIFY(!FitEditScrollBar(&edit));
  }

 private:
  std::unique_ptr<vtxtest::CatalogueEnvironment> c_;
  HMODULE lib_ = nullptr;
  std::string filters_;
  CFilterList list_;
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
