#include "manager/dialogs.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "engine/currency/settings.h"
#include "manager/controlids.h"

static void InitDialogResources() { Q_INIT_RESOURCE(dialogs); }

namespace vtx::manager {

namespace {

// Rows ordered by the text of the sorted column without regard to case, then by code.
class CurrencyRow : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    int c = text(column).compare(other.text(column), Qt::CaseInsensitive);
    if (c == 0 && column != 0) c = text(0).compare(other.text(0), Qt::CaseInsensitive);
    return c < 0;
  }
};

bool HasControlCharacter(const QString& text) {
  for (QChar c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return true;
  return false;
}

}  // namespace

QFont CreateDialogFont(int height, bool normalWeight) {
  QFont font = QApplication::font();
  font.setPixelSize(height < 0 ? -height : height);
  if (normalWeight) {
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
  }
  return font;
}

namespace {

// Drop lists that scroll after their number of rows: some styles show every entry in a menu of
// their own, as high as the screen.
class ListDropStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* answer) const override {
    if (hint == SH_ComboBox_Popup) return 0;
    return QProxyStyle::styleHint(hint, option, widget, answer);
  }
};

QStyle* ListDrop() {
  static QPointer<ListDropStyle> style;
  if (!style && qApp) {
    QStyle* base = QStyleFactory::create(QApplication::style()->name());
    style = base ? new ListDropStyle(base) : new ListDropStyle();
    style->setParent(qApp);
  }
  return style;
}

}  // namespace

bool SetComboDropHeight(QComboBox* combo, int items) {
  if (!combo || items < 1) return false;
  if (QStyle* style = ListDrop(); style && combo->style() != style) combo->setStyle(style);
  combo->setMaxVisibleItems(items);
  return true;
}

bool FitEditScrollBar(QAbstractScrollArea* edit) {
  if (!edit) return false;
  edit->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QScrollBar* bar = edit->verticalScrollBar();
  return bar->maximum() <= bar->minimum();
}

bool CIconButton::Set(QWidget* dialog, int buttonId, int iconId, HMODULE) {
  InitDialogResources();
  auto* button = qobject_cast<QAbstractButton*>(FindControl(dialog, buttonId));
  QPixmap pixmap(QString(":/vtxdialogs/icons/%1.png").arg(iconId));
  if (!button || pixmap.isNull()) return false;
  button->setIcon(QIcon(pixmap));
  button->setIconSize(QSize(16, 16));
  return true;
}

void SetListItemText(QTreeWidgetItem* item, int column, const char* text) {
  if (item) item->setText(column, FromAnsi(text));
}

// ---- Password field ----

CPasswordEdit::CPasswordEdit(QWidget* parent) : QLineEdit(parent) {
  setEchoMode(QLineEdit::Password);
  QObject::connect(this, &QLineEdit::textEdited, this, [this] { edited_ = true; });
}

void CPasswordEdit::ShowStored(bool hasPassword) {
  setText(hasPassword ? QString::fromLatin1(kPasswordPlaceholder) : QString());
  edited_ = false;
}

std::string CPasswordEdit::Result(const char* stored) const {
  return edited_ ? ToAnsi(text()) : std::string(stored ? stored : "");
}

void CPasswordEdit::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  // After the click that focused it has placed the caret.
  if (!edited_)
    QTimer::singleShot(0, this, [this] {
      if (!edited_) selectAll();
    });
}

// ---- Currency choice ----

CCurrencyChoiceDialog::CCurrencyChoiceDialog(CSettings& settings, QWidget* owner, HMODULE module)
    : CKitDialog(owner, module, kStrCurrencyChoiceTitle) {
  list_ = kit_.Add(currencychoicedialog::kCurrencyList, new QTreeWidget(this));
  list_->setColumnCount(2);
  list_->setHeaderLabels({kit_.Text(kStrCurrencyCodeHeader), kit_.Text(kStrCurrencyNameHeader)});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  list_->setFont(CreateDialogFont(-11, true));
  list_->header()->setSectionsClickable(true);
  list_->header()->setSortIndicatorShown(true);

  CSettingsData* data = settings.GetData();
  CCurrencyLocaleList* locales = settings.GetLocaleList();
  for (CurrencyData* record : data->Currencies) {
    if (data->IFind(record->szCode) >= 0) continue;
    auto* row = new CurrencyRow(list_);
    row->setText(0, FromAnsi(record->szCode));
    CStringW name;
    if (locales && locales->GetCurrencyName(name, record->szCode, false, 1033) && !name.IsEmpty())
      row->setText(1, QString::fromStdU16String(name.c_str()));
  }
  list_->sortItems(sortColumn_, Qt::AscendingOrder);
  list_->header()->setSortIndicator(sortColumn_, Qt::AscendingOrder);
  // The code column as wide as its widest text, the names in the rest.
  list_->resizeColumnToContents(0);
  list_->header()->setStretchLastSection(true);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  QObject::connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { SortBy(c); });
  QObject::connect(list_, &QTreeWidget::itemSelectionChanged, this,
                   [this] { ok_->setEnabled(!list_->selectedItems().isEmpty()); });
  QObject::connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnOk(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(MakeButtons());
  ok_->setEnabled(false);
  resize(380, 420);
  kit_.SetHelpMap({{IDC_OK, 302}, {IDC_CANCEL, 303}, {currencychoicedialog::kCurrencyList, 301}});
}

void CCurrencyChoiceDialog::SortBy(int column) {
  sortDescending_ = column == sortColumn_ ? !sortDescending_ : false;
  sortColumn_ = column;
  Qt::SortOrder order = sortDescending_ ? Qt::DescendingOrder : Qt::AscendingOrder;
  list_->sortItems(column, order);
  list_->header()->setSortIndicator(column, order);
}

void CCurrencyChoiceDialog::OnOk() {
  if (list_->selectedItems().isEmpty()) return;
  chosen_.clear();
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = list_->topLevelItem(i);
    if (row->isSelected()) chosen_.push_back(ToAnsi(row->text(0)));
  }
  done(IDC_OK);
}

int CurrencyChoiceDialog(CSettings& settings, QWidget* owner, HMODULE module, std::vector<std::string>& chosen) {
  CCurrencyChoiceDialog dialog(settings, owner, module);
  int result = dialog.Run();
  if (result == IDC_OK) chosen = dialog.Chosen();
  return result;
}

// ---- Account ----

CAccountDialog::CAccountDialog(const char* user, const char* password, QWidget* owner, HMODULE module, int kind)
    : CKitDialog(owner, module, kStrAccountTitle[kind >= 0 && kind <= 2 ? kind : 0]),
      password_(password ? password : "") {
  auto* userEdit = kit_.Add(accountdialog::kUser, new QLineEdit(this));
  auto* passwordEdit = kit_.Add(accountdialog::kPassword, new CPasswordEdit(this));
  auto* domainEdit = kit_.Add(accountdialog::kDomain, new QLineEdit(this));
  QString whole = FromAnsi(user);
  qsizetype slash = whole.indexOf('\\');
  if (slash >= 0) {
    domainEdit->setText(whole.left(slash));
    userEdit->setText(whole.mid(slash + 1));
  } else {
    userEdit->setText(whole);
  }
  passwordEdit->ShowStored(!password_.empty());

  auto* grid = new QGridLayout(this);
  kit_.AddRow(grid, 0, accountdialog::kUserLabel, kStrUserLabel, userEdit);
  kit_.AddRow(grid, 1, accountdialog::kPasswordLabel, kStrPasswordLabel, passwordEdit);
  kit_.AddRow(grid, 2, accountdialog::kDomainLabel, kStrDomainLabel, domainEdit);
  grid->setColumnMinimumWidth(1, 220);
  grid->addWidget(MakeButtons(), 3, 0, 1, 2);

  static const int kHelp[3][5] = {{129, 130, 143, 131, 132}, {133, 134, 144, 135, 136}, {376, 377, 378, 379, 380}};
  const int* h = kHelp[kind >= 0 && kind <= 2 ? kind : 0];
  kit_.SetHelpMap({{accountdialog::kUser, h[0]},
                   {accountdialog::kUserLabel, h[0]},
                   {accountdialog::kPassword, h[1]},
                   {accountdialog::kPasswordLabel, h[1]},
                   {accountdialog::kDomainLabel, h[2]},
                   {accountdialog::kDomain, h[2]},
                   {IDC_OK, h[3]},
                   {IDC_CANCEL, h[4]}});
}

void CAccountDialog::OnOk() {
  QString domain = kit_.Control<QLineEdit>(accountdialog::kDomain)->text();
  QString user = kit_.Control<QLineEdit>(accountdialog::kUser)->text();
  userOut_ = ToAnsi(domain.isEmpty() ? user : domain + '\\' + user);
  passwordOut_ = static_cast<CPasswordEdit*>(kit_.Control(accountdialog::kPassword))->Result(password_.c_str());
  done(IDC_OK);
}

int AccountDialog(const char* user, const char* password, QWidget* owner, HMODULE module, int kind,
                  std::string& userOut, std::string& passwordOut) {
  CAccountDialog dialog(user, password, owner, module, kind);
  int result = dialog.Run();
  if (result == IDC_OK) {
    userOut = dialog.UserOut();
    passwordOut = dialog.PasswordOut();
  }
  return result;
}

// ---- List choice ----

CListChoiceDialog::CListChoiceDialog(const std::vector<std::string>& strings, const char* preselected,
                                     QWidget* owner, HMODULE module)
    : CKitDialog(owner, module, kStrListChoiceTitle) {
  auto* combo = kit_.Add(listchoicedialog::kChoice, new QComboBox(this));
  QString wanted = FromAnsi(preselected);
  int selected = strings.empty() ? -1 : 0;
  bool matched = false;
  for (const std::string& s : strings) {
    QString text = FromAnsi(s.c_str());
    if (!matched && preselected && text.compare(wanted, Qt::CaseInsensitive) == 0) {
      selected = combo->count();
      matched = true;
    }
    combo->addItem(text);
  }
  combo->setCurrentIndex(selected);
  SetComboDropHeight(combo, 9);

  auto* grid = new QGridLayout(this);
  grid->addWidget(kit_.AddLabel(listchoicedialog::kChoiceLabel, kStrListChoiceLabel, combo), 0, 0);
  grid->addWidget(combo, 1, 0);
  grid->setColumnMinimumWidth(0, 260);
  grid->addWidget(MakeButtons(), 2, 0);
  ok_->setEnabled(combo->currentIndex() >= 0);
  QObject::connect(combo, &QComboBox::currentIndexChanged, this, [this](int i) { ok_->setEnabled(i >= 0); });
  kit_.SetHelpMap(
      {{IDC_OK, 203}, {IDC_CANCEL, 202}, {listchoicedialog::kChoiceLabel, 201}, {listchoicedialog::kChoice, 201}});
}

void CListChoiceDialog::OnOk() {
  chosen_ = kit_.Control<QComboBox>(listchoicedialog::kChoice)->currentIndex();
  done(chosen_ >= 0 ? IDC_OK : IDC_CANCEL);
}

int ListChoiceDialog(const std::vector<std::string>& strings, const char* preselected, QWidget* owner,
                     HMODULE module, int& chosen) {
  CListChoiceDialog dialog(strings, preselected, owner, module);
  int result = dialog.Run();
  if (result == IDC_OK) chosen = dialog.ChosenIndex();
  return result;
}

// ---- Mail server ----

CMailServerDialog::CMailServerDialog(const char* server, const char* sender, QWidget* owner, HMODULE module)
    : CKitDialog(owner, module, kStrMailServerTitle) {
  auto* serverEdit = kit_.Add(mailserverdialog::kServer, new QLineEdit(FromAnsi(server), this));
  auto* senderEdit = kit_.Add(mailserverdialog::kSender, new QLineEdit(FromAnsi(sender), this));
  auto* grid = new QGridLayout(this);
  kit_.AddRow(grid, 0, mailserverdialog::kServerLabel, kStrMailServerLabel, serverEdit);
  kit_.AddRow(grid, 1, mailserverdialog::kSenderLabel, kStrMailSenderLabel, senderEdit);
  grid->setColumnMinimumWidth(1, 260);
  grid->addWidget(MakeButtons(), 2, 0, 1, 2);
  for (QLineEdit* e : {serverEdit, senderEdit})
    QObject::connect(e, &QLineEdit::textChanged, this, [this] { UpdateOk(); });
  UpdateOk();
  kit_.SetHelpMap({{mailserverdialog::kServerLabel, 462},
                   {mailserverdialog::kServer, 462},
                   {mailserverdialog::kSenderLabel, 463},
                   {mailserverdialog::kSender, 463},
                   {IDC_OK, 464},
                   {IDC_CANCEL, 465}});
}

void CMailServerDialog::UpdateOk() {
  ok_->setEnabled(!HasControlCharacter(kit_.Control<QLineEdit>(mailserverdialog::kServer)->text()) &&
                  !HasControlCharacter(kit_.Control<QLineEdit>(mailserverdialog::kSender)->text()));
}

void CMailServerDialog::OnOk() {
  QString server = kit_.Control<QLineEdit>(mailserverdialog::kServer)->text().trimmed();
  QString sender = kit_.Control<QLineEdit>(mailserverdialog::kSender)->text().trimmed();
  if (HasControlCharacter(server) || HasControlCharacter(sender)) return;
  serverOut_ = ToAnsi(server);
  senderOut_ = ToAnsi(sender);
  done(IDC_OK);
}

int MailServerDialog(const char* server, const char* sender, QWidget* owner, HMODULE module,
                     std::string& serverOut, std::string& senderOut) {
  CMailServerDialog dialog(server, sender, owner, module);
  int result = dialog.Run();
  if (result == IDC_OK) {
    serverOut = dialog.ServerOut();
    senderOut = dialog.SenderOut();
  }
  return result;
}

}  // namespace vtx::manager
