#include "manager/localedialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <iterator>
#include <string>
#include <vector>

#include "engine/currency/settings.h"
#include "engine/foundation/resourcelib.h"
#include "manager/controlids.h"
#include "manager/currencysheet.h"
#include "manager/currencysort.h"
#include "manager/currencytexts.h"
#include "manager/dialogs.h"
#include "manager/listcolumns.h"
#include "manager/managerdefs.h"
#include "platform/errors.h"
#include "platform/ui.h"

namespace vtx::manager {

const char* const kLocaleInfoColumnValues[5] = {"SettingsLocaleInfoListColumn1", "SettingsLocaleInfoListColumn2",
                                                "SettingsLocaleInfoListColumn3", "SettingsLocaleInfoListColumn4",
                                                "SettingsLocaleInfoListColumn5"};

namespace {

constexpr int kInfoRole = Qt::UserRole;
constexpr int kActiveRole = Qt::UserRole + 1;
constexpr uint32_t kGroupings[3] = {0, 3, 32};
constexpr int kTimerMs = 250;

CCurrencyLocaleInfo* InfoOf(const QTreeWidgetItem* row) {
  return reinterpret_cast<CCurrencyLocaleInfo*>(row->data(0, kInfoRole).value<quintptr>());
}

QString Wide(const char16_t* text) { return text ? QString::fromStdU16String(text) : QString(); }

// Rows in the order of the dialog's sort state.
class InfoRow : public QTreeWidgetItem {
 public:
  InfoRow(QTreeWidget* list, const int* column, const bool* descending)
      : QTreeWidgetItem(list), column_(column), descending_(descending) {}
  bool operator<(const QTreeWidgetItem& other) const override {
    return CompareLocaleInfoRows(Key(*this), Key(other), *column_, *descending_) < 0;
  }

 private:
  static LocaleInfoRowKey Key(const QTreeWidgetItem& row) {
    const CCurrencyLocaleInfo* info = InfoOf(&row);
    return {info->GetCurrency(), info->GetName(), info->GetSymbol(), info->GetCustom(),
            row.data(0, kActiveRole).toBool()};
  }
  const int* column_;
  const bool* descending_;
};

}  // namespace

CLocaleFormatsDialog::CLocaleFormatsDialog(CSettings& settings, CCurrencyLocale& locale,
                                           std::unique_ptr<CCurrencyLocale> working, QWidget* owner, HMODULE module)
    : CKitDialog(owner, module, 0), settings_(settings), locale_(locale), working_(std::move(working)) {
  const QFont font = CreateDialogFont(-11, true);
  openProperties_ = [this](const char* code, CCurrencyLocale& copy, QWidget* owner) {
    return CurrencyPropertiesSheet(code, settings_, &copy, owner, kit_.Module(), 5);
  };

  // The currencies.
  list_ = kit_.Add(localeformatsdialog::kCurrencyList, new QTreeWidget(this));
  list_->setColumnCount(5);
  QStringList headers;
  for (UINT id : kStrInfoColumn) headers << kit_.Text(id);
  list_->setHeaderLabels(headers);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  list_->setFont(font);
  list_->header()->setSectionsClickable(true);
  list_->header()->setStretchLastSection(false);
  QPushButton* properties = kit_.AddButton(localeformatsdialog::kCurrencyProperties, kStrCurrencyPropertiesButton);
  QPushButton* resetTexts = kit_.AddButton(localeformatsdialog::kResetNames, kStrResetTextsButton);
  QPushButton* resetList = kit_.AddButton(localeformatsdialog::kResetList, kStrResetListButton);

  // The formats.
  auto combo = [&](int id, bool withFont) {
    auto* c = kit_.Add(id, new QComboBox(this));
    if (withFont) c->setFont(font);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(12);
    return c;
  };
  positiveSymbol_ = combo(localeformatsdialog::kPositiveSymbol, true);
  positiveIso_ = combo(localeformatsdialog::kPositiveIso, true);
  negativeSymbol_ = combo(localeformatsdialog::kNegativeSymbol, true);
  negativeIso_ = combo(localeformatsdialog::kNegativeIso, true);
  digits_ = combo(localeformatsdialog::kDigits, false);
  digits_->setMinimumContentsLength(3);
  decimal_ = combo(localeformatsdialog::kDecimalSeparator, true);
  thousand_ = combo(localeformatsdialog::kThousandSeparator, true);
  for (QComboBox* c : {decimal_, thousand_}) {
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->lineEdit()->setMaxLength(3);
    c->setMinimumContentsLength(3);
  }
  grouping_ = combo(localeformatsdialog::kGrouping, true);
  capitalize_ = kit_.Add(localeformatsdialog::kCapitalizeTitles, new QCheckBox(kit_.Text(kStrCapitalizeTitles), this));
  const int sampleIds[4] = {localeformatsdialog::kPositiveSymbolSample, localeformatsdialog::kPositiveIsoSample,
                            localeformatsdialog::kNegativeSymbolSample, localeformatsdialog::kNegativeIsoSample};
  for (int i = 0; i < 4; ++i) {
    samples_[i] = kit_.Add(sampleIds[i], new QLabel(this));
    samples_[i]->setFont(font);
    samples_[i]->setMinimumWidth(150);
    samples_[i]->setFrameShape(QFrame::StyledPanel);
    samples_[i]->setTextInteractionFlags(Qt::NoTextInteraction);
  }
  QPushButton* resetFormats = kit_.AddButton(localeformatsdialog::kResetFormats, kStrResetFormatsButton);

  auto* currencies = new QGroupBox(kit_.Text(kStrLocaleCurrenciesGroup), this);
  auto* top = new QVBoxLayout(currencies);
  top->addWidget(list_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(properties);
  buttons->addWidget(resetTexts);
  buttons->addWidget(resetList);
  buttons->addStretch();
  top->addLayout(buttons);

  auto* formats = new QGroupBox(kit_.Text(kStrLocaleFormatsGroup), this);
  auto* grid = new QGridLayout(formats);
  kit_.AddRow(grid, 0, localeformatsdialog::kPositiveSymbolLabel, kStrPositiveSymbolLabel, positiveSymbol_);
  kit_.AddRow(grid, 1, localeformatsdialog::kNegativeSymbolLabel, kStrNegativeSymbolLabel, negativeSymbol_);
  kit_.AddRow(grid, 2, localeformatsdialog::kSymbolSampleLabel, kStrSymbolSampleLabel, samples_[0]);
  grid->addWidget(samples_[2], 3, 1);
  grid->setColumnMinimumWidth(2, 16);
  grid->addWidget(kit_.AddLabel(localeformatsdialog::kPositiveIsoLabel, kStrPositiveIsoLabel, positiveIso_), 0, 3);
  grid->addWidget(positiveIso_, 0, 4);
  grid->addWidget(kit_.AddLabel(localeformatsdialog::kNegativeIsoLabel, kStrNegativeIsoLabel, negativeIso_), 1, 3);
  grid->addWidget(negativeIso_, 1, 4);
  grid->addWidget(kit_.AddLabel(localeformatsdialog::kIsoSampleLabel, kStrIsoSampleLabel), 2, 3);
  grid->addWidget(samples_[1], 2, 4);
  grid->addWidget(samples_[3], 3, 4);
  auto* numbers = new QHBoxLayout;
  numbers->addWidget(kit_.AddLabel(localeformatsdialog::kDigitsLabel, kStrDigitsLabel, digits_));
  numbers->addWidget(digits_);
  numbers->addSpacing(12);
  numbers->addWidget(kit_.AddLabel(localeformatsdialog::kDecimalSeparatorLabel, kStrDecimalSeparatorLabel, decimal_));
  numbers->addWidget(decimal_);
  numbers->addSpacing(12);
  numbers->addWidget(
      kit_.AddLabel(localeformatsdialog::kThousandSeparatorLabel, kStrThousandSeparatorLabel, thousand_));
  numbers->addWidget(thousand_);
  numbers->addSpacing(12);
  numbers->addWidget(kit_.AddLabel(localeformatsdialog::kGroupingLabel, kStrGroupingLabel, grouping_));
  numbers->addWidget(grouping_);
  numbers->addStretch();
  grid->addLayout(numbers, 4, 0, 1, 5);
  auto* last = new QHBoxLayout;
  last->addWidget(capitalize_);
  last->addStretch();
  last->addWidget(resetFormats);
  grid->addLayout(last, 5, 0, 1, 5);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(currencies, 1);
  layout->addWidget(formats);
  layout->addWidget(MakeButtons());
  resize(640, 600);

  kit_.SetHelpMap({{IDC_OK, 276},
                   {IDC_CANCEL, 277},
                   {localeformatsdialog::kCurrencyList, 256},
                   {localeformatsdialog::kCurrencyProperties, 258},
                   {localeformatsdialog::kResetNames, 260},
                   {localeformatsdialog::kResetList, 261},
                   {localeformatsdialog::kResetFormats, 262},
                   {localeformatsdialog::kPositiveSymbol, 264},
                   {localeformatsdialog::kNegativeSymbol, 266},
                   {localeformatsdialog::kPositiveIso, 263},
                   {localeformatsdialog::kNegativeIso, 265},
                   {localeformatsdialog::kDecimalSeparator, 268},
                   {localeformatsdialog::kDigits, 269},
                   {localeformatsdialog::kThousandSeparator, 270},
                   {localeformatsdialog::kGrouping, 271},
                   {localeformatsdialog::kCapitalizeTitles, 267},
                   {localeformatsdialog::kPositiveSymbolSample, 273},
                   {localeformatsdialog::kNegativeSymbolSample, 275},
                   {localeformatsdialog::kPositiveIsoSample, 272},
                   {localeformatsdialog::kNegativeIsoSample, 274},
                   {localeformatsdialog::kPositiveSymbolLabel, 264},
                   {localeformatsdialog::kPositiveIsoLabel, 263},
                   {localeformatsdialog::kNegativeSymbolLabel, 266},
                   {localeformatsdialog::kNegativeIsoLabel, 265},
                   {localeformatsdialog::kDigitsLabel, 269},
                   {localeformatsdialog::kDecimalSeparatorLabel, 268},
                   {localeformatsdialog::kThousandSeparatorLabel, 270},
                   {localeformatsdialog::kGroupingLabel, 271},
                   {localeformatsdialog::kSymbolSampleLabel, 273},
                   {localeformatsdialog::kIsoSampleLabel, 272}});

  // Initialisation: the list and its selection (its widths when it is shown), then the formats.
  for (CCurrencyLocaleInfo* info : *working_) AddRow(info);
  char own[81] = {};
  if (GetLocaleInfoA(working_->GetLCID(), LOCALE_SINTLSYMBOL, own, sizeof own) <= 0) own[0] = 0;
  SelectCode(FromAnsi(own));
  UpdatePropertiesButton();
  for (int i = 0; i < 10; ++i) digits_->addItem(QString::number(i));
  SetComboDropHeight(digits_, 10);
  decimal_->addItem(QStringLiteral("."));
  thousand_->addItem(QStringLiteral(","));
  decimal_->setEditText(Wide(working_->GetDecimalSeparator()));
  thousand_->setEditText(Wide(working_->GetThousandSeparator()));
  FillPatternLists();
  FillGroupingList();
  ShowFormats();
  ShowSamples();
  setWindowTitle(FromAnsi(FormatString(kit_.Module(), kStrLocaleTitle,
                                       {std::to_string(working_->GetLCID()).c_str(), working_->GetDisplayName()})
                              .c_str()));

  for (int i = 0; i < 3; ++i) {
    timers_[i].setSingleShot(true);
    timers_[i].setInterval(kTimerMs);
  }
  QObject::connect(&timers_[0], &QTimer::timeout, this, [this] { OnSelectionTimer(); });
  QObject::connect(&timers_[1], &QTimer::timeout, this, [this] { OnSeparatorText(true); });
  QObject::connect(&timers_[2], &QTimer::timeout, this, [this] { OnSeparatorText(false); });
  QObject::connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { timers_[0].start(); });
  QObject::connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnProperties(); });
  QObject::connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { SortBy(c); });
  QObject::connect(properties, &QPushButton::clicked, this, [this] { OnProperties(); });
  QObject::connect(resetTexts, &QPushButton::clicked, this, [this] { OnResetTexts(); });
  QObject::connect(resetList, &QPushButton::clicked, this, [this] { OnResetList(); });
  QObject::connect(resetFormats, &QPushButton::clicked, this, [this] { OnResetFormats(); });
  auto pattern = [this](QComboBox* c, void (CCurrencyLocale::*set)(uint32_t)) {
    QObject::connect(c, &QComboBox::activated, this, [this, set](int i) {
      if (i < 0) return;
      ((*working_).*set)(static_cast<uint32_t>(i));
      ShowSamples();
    });
  };
  pattern(positiveSymbol_, &CCurrencyLocale::SetPositiveSymFmt);
  pattern(positiveIso_, &CCurrencyLocale::SetPositiveIsoFmt);
  pattern(negativeSymbol_, &CCurrencyLocale::SetNegativeSymFmt);
  pattern(negativeIso_, &CCurrencyLocale::SetNegativeIsoFmt);
  pattern(digits_, &CCurrencyLocale::SetDigitsAfterDecimal);
  QObject::connect(grouping_, &QComboBox::activated, this, [this](int i) {
    if (i < 0 || i > 2) return;
    working_->SetGrouping(kGroupings[i]);
    ShowSamples();
  });
  QObject::connect(capitalize_, &QCheckBox::clicked, this,
                   [this](bool checked) { working_->SetCapitalizeTitles(checked ? 1 : 0); });
  QObject::connect(decimal_->lineEdit(), &QLineEdit::textEdited, this, [this] { OnSeparatorText(true); });
  QObject::connect(thousand_->lineEdit(), &QLineEdit::textEdited, this, [this] { OnSeparatorText(false); });
  QObject::connect(decimal_, &QComboBox::activated, this, [this] { timers_[1].start(); });
  QObject::connect(thousand_, &QComboBox::activated, this, [this] { timers_[2].start(); });
}

CLocaleFormatsDialog::~CLocaleFormatsDialog() {
  if (widthsApplied_) StoreColumnWidths(list_, ColumnValues());
}

void CLocaleFormatsDialog::SetTimerInterval(int ms) {
  for (QTimer& t : timers_) t.setInterval(ms);
}

void CLocaleFormatsDialog::showEvent(QShowEvent* e) {
  CKitDialog::showEvent(e);
  // The widths fit the list once it has its size.
  if (!widthsApplied_) {
    ApplyColumnWidths(list_, ColumnValues(), false);
    widthsApplied_ = true;
  }
}

std::vector<std::string> CLocaleFormatsDialog::ColumnValues() {
  return std::vector<std::string>(std::begin(kLocaleInfoColumnValues), std::end(kLocaleInfoColumnValues));
}

QTreeWidgetItem* CLocaleFormatsDialog::AddRow(CCurrencyLocaleInfo* info) {
  auto* row = new InfoRow(list_, &sortColumn_, &descending_);
  row->setData(0, kInfoRole, QVariant::fromValue(reinterpret_cast<quintptr>(info)));
  const bool active = info->GetCurrency() && settings_.GetData()->IFind(info->GetCurrency()) >= 0;
  row->setData(0, kActiveRole, active);
  row->setText(0, FromAnsi(info->GetCurrency()));
  CStringW title;
  if (info->GetName() && working_->MakeTitleStyleString(title, info->GetName()) == 0) row->setText(1, Wide(title.c_str()));
  row->setText(2, Wide(info->GetSymbol()));
  row->setText(3, Wide(info->GetCustom()));
  row->setText(4, kit_.Text(active ? kStrYes : kStrNo));
  return row;
}

void CLocaleFormatsDialog::RefreshRow(QTreeWidgetItem* row) {
  const CCurrencyLocaleInfo* info = InfoOf(row);
  row->setText(1, Wide(info->GetName()));
  row->setText(2, Wide(info->GetSymbol()));
  row->setText(3, Wide(info->GetCustom()));
}

void CLocaleFormatsDialog::Sort() {
  // The rows carry the direction; ties stay ascending by code either way.
  list_->sortItems(0, Qt::AscendingOrder);
  if (sortColumn_ >= 0) {
    list_->header()->setSortIndicatorShown(true);
    list_->header()->setSortIndicator(sortColumn_, descending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
  }
}

void CLocaleFormatsDialog::SortBy(int column) {
  descending_ = column == sortColumn_ ? !descending_ : false;
  sortColumn_ = column;
  Sort();
}

void CLocaleFormatsDialog::SelectCode(const QString& code) {
  QTreeWidgetItem* found = nullptr;
  for (int i = 0; i < list_->topLevelItemCount() && !found; ++i)
    if (!code.isEmpty() && list_->topLevelItem(i)->text(0).compare(code, Qt::CaseInsensitive) == 0)
      found = list_->topLevelItem(i);
  if (!found) found = list_->topLevelItem(0);
  list_->clearSelection();
  if (!found) return;
  list_->setCurrentItem(found);
  found->setSelected(true);
  list_->scrollToItem(found);
}

QTreeWidgetItem* CLocaleFormatsDialog::SelectedRow() const {
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (list_->topLevelItem(i)->isSelected()) return list_->topLevelItem(i);
  return nullptr;
}

void CLocaleFormatsDialog::UpdatePropertiesButton() {
  kit_.Control(localeformatsdialog::kCurrencyProperties)->setEnabled(list_->selectedItems().size() == 1);
}

void CLocaleFormatsDialog::OnSelectionTimer() {
  timers_[0].stop();
  UpdatePropertiesButton();
  FillPatternLists();
  ShowSamples();
}

void CLocaleFormatsDialog::FillPatternList(QComboBox* combo, const char16_t* value, int items, bool negative,
                                          bool iso) {
  int selected = combo->currentIndex();
  combo->setUpdatesEnabled(false);
  combo->clear();
  std::u16string decimal = decimal_->currentText().toStdU16String();
  if (decimal.empty()) decimal.assign(1, u'.');
  std::u16string thousand, symbol;
  if (QTreeWidgetItem* row = SelectedRow()) {
    const CCurrencyLocaleInfo* info = InfoOf(row);
    if (iso) {
      for (const char* p = info->GetCurrency(); p && *p; ++p) symbol += static_cast<char16_t>(static_cast<unsigned char>(*p));
    } else if (info->GetSymbol() && info->GetCurrency()) {
      symbol = info->GetSymbol();
    }
  }
  CURRENCYFMTW f{1, 1, 0, decimal.data(), thousand.data(), 1, 0, symbol.data()};
  for (int item = 0; item < items; ++item) {
    (negative ? f.NegativeOrder : f.PositiveOrder) = static_cast<UINT>(item);
    char16_t out[80];
    if (GetCurrencyFormatU(LOCALE_SYSTEM_DEFAULT, 0, value, &f, out, 80) <= 0) break;
    combo->addItem(QString::fromStdU16String(out));
  }
  combo->setCurrentIndex(selected < combo->count() ? selected : -1);
  SetComboDropHeight(combo, negative ? 16 : 4);
  combo->setUpdatesEnabled(true);
}

void CLocaleFormatsDialog::FillPatternLists() {
  FillPatternList(positiveSymbol_, u"1.1", 4, false, false);
  FillPatternList(positiveIso_, u"1.1", 4, false, true);
  FillPatternList(negativeSymbol_, u"-1.1", 16, true, false);
  FillPatternList(negativeIso_, u"-1.1", 16, true, true);
}

void CLocaleFormatsDialog::FillGroupingList() {
  int selected = grouping_->currentIndex();
  grouping_->setUpdatesEnabled(false);
  grouping_->clear();
  std::u16string thousand = thousand_->currentText().toStdU16String();
  if (thousand.empty()) thousand.assign(1, u',');
  std::u16string decimal = u".", symbol;
  CURRENCYFMTW f{0, 1, 0, decimal.data(), thousand.data(), 1, 0, symbol.data()};
  for (uint32_t g : kGroupings) {
    f.Grouping = g;
    char16_t out[80];
    if (GetCurrencyFormatU(LOCALE_SYSTEM_DEFAULT, 0, u"123456789", &f, out, 80) <= 0) break;
    grouping_->addItem(QString::fromStdU16String(out));
  }
  grouping_->setCurrentIndex(selected < grouping_->count() ? selected : -1);
  SetComboDropHeight(grouping_, 16);
  grouping_->setUpdatesEnabled(true);
}

void CLocaleFormatsDialog::ShowSamples() {
  const char* code = nullptr;
  if (QTreeWidgetItem* row = SelectedRow()) {
    code = InfoOf(row)->GetCurrency();
    if (!code || !*code) {
      for (QLabel* s : samples_) s->clear();
      return;
    }
  }
  struct {
    const char* number;
    uint32_t flags;
  } const kinds[4] = {{"123456789", CCurrencyLocale::kPrintSymbol},
                      {"123456789", 0},
                      {"-123456789", CCurrencyLocale::kPrintSymbol},
                      {"-123456789", 0}};
  for (int i = 0; i < 4; ++i) {
    char16_t out[200];
    if (working_->PrintCurrencyValue(kinds[i].number, code, nullptr, nullptr, out, 200, kinds[i].flags) > 0)
      samples_[i]->setText(QString::fromStdU16String(out));
  }
}

void CLocaleFormatsDialog::ShowFormats() {
  const CCurrencyLocale& w = *working_;
  digits_->setCurrentIndex(w.GetDigitsAfterDecimal() < 10 ? static_cast<int>(w.GetDigitsAfterDecimal()) : -1);
  decimal_->setEditText(Wide(w.GetDecimalSeparator()));
  thousand_->setEditText(Wide(w.GetThousandSeparator()));
  auto select = [](QComboBox* c, uint32_t index) {
    c->setCurrentIndex(index < static_cast<uint32_t>(c->count()) ? static_cast<int>(index) : -1);
  };
  select(positiveIso_, w.GetPositiveIsoFmt());
  select(positiveSymbol_, w.GetPositiveSymFmt());
  select(negativeIso_, w.GetNegativeIsoFmt());
  select(negativeSymbol_, w.GetNegativeSymFmt());
  int g = -1;
  for (int i = 0; i < 3; ++i)
    if (kGroupings[i] == w.GetGrouping()) g = i;
  grouping_->setCurrentIndex(g);
  capitalize_->setChecked(w.GetCapitalizeTitles() != 0);
}

void CLocaleFormatsDialog::OnSeparatorText(bool decimal) {
  QComboBox* box = decimal ? decimal_ : thousand_;
  timers_[decimal ? 1 : 2].stop();
  std::u16string text = box->currentText().left(99).toStdU16String();
  std::u16string dec = decimal ? text : std::u16string(working_->GetDecimalSeparator());
  std::u16string thou = decimal ? std::u16string(working_->GetThousandSeparator()) : text;
  std::u16string symbol;
  CURRENCYFMTW f{1, 1, 3, dec.data(), thou.data(), 1, 0, symbol.data()};
  char16_t out[80];
  if (GetCurrencyFormatU(LOCALE_SYSTEM_DEFAULT, 0, u"123456789.1", &f, out, 80) <= 0) {
    box->setEditText(Wide(decimal ? working_->GetDecimalSeparator() : working_->GetThousandSeparator()));
    return;
  }
  if (decimal) {
    working_->SetDecimalSeparator(text.c_str());
    FillPatternLists();
  } else {
    working_->SetThousandSeparator(text.c_str());
    FillGroupingList();
  }
  ShowSamples();
}

void CLocaleFormatsDialog::OnProperties() {
  if (list_->selectedItems().size() != 1) return;
  QTreeWidgetItem* row = list_->selectedItems().front();
  std::string code = InfoOf(row)->GetCurrency() ? InfoOf(row)->GetCurrency() : "";
  if (!openProperties_ || openProperties_(code.c_str(), *working_, this) != IDC_OK) return;
  RefreshRow(row);
  Sort();
  FillPatternLists();
  ShowSamples();
}

void CLocaleFormatsDialog::OnResetTexts() {
  for (QTreeWidgetItem* row : list_->selectedItems()) {
    working_->Reset(*InfoOf(row));
    RefreshRow(row);
  }
  Sort();
  ShowSamples();
}

void CLocaleFormatsDialog::OnResetList() {
  QTreeWidgetItem* first = SelectedRow();
  QString code = first ? first->text(0) : QString();
  list_->setUpdatesEnabled(false);
  list_->clear();
  working_->ResetList();
  for (CCurrencyLocaleInfo* info : *working_) AddRow(info);
  Sort();
  SelectCode(code);
  OnSelectionTimer();
  list_->setUpdatesEnabled(true);
}

void CLocaleFormatsDialog::OnResetFormats() {
  working_->ResetFormat();
  ShowFormats();
  FillPatternLists();
  FillGroupingList();
  ShowSamples();
}

void CLocaleFormatsDialog::OnOk() {
  if (!locale_.CopyFrom(*working_)) {
    FormatMessageBox(this, 83, kStrProduct, MB_ICONERROR, kit_.Module(), E_OUTOFMEMORY);
    done(IDC_CANCEL);
    return;
  }
  done(IDC_OK);
}

int LocaleFormatsDialog(CSettings& settings, CCurrencyLocale& locale, QWidget* owner, HMODULE module) {
  auto working = std::make_unique<CCurrencyLocale>(locale.GetLCID());
  if (!working->CopyFrom(locale)) return IDC_CANCEL;
  // The currencies the database added appear, those it removed go.
  const CAllCurrencies& db = settings.GetData()->Currencies;
  if (working->NormalizeList(&db.GetAddList(), &db.GetRemoveList()) != 0) return IDC_CANCEL;
  CLocaleFormatsDialog dialog(settings, locale, std::move(working), owner, module);
  return dialog.Run();
}

}  // namespace vtx::manager
