#include "manager/currencypages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/currencystore.h"
#include "engine/currency/settings.h"
#include "engine/foundation/resourcelib.h"
#include "engine/notify/messagewindow.h"
#include "manager/controlids.h"
#include "manager/currencysheet.h"
#include "manager/currencysort.h"
#include "manager/configtexts.h"
#include "manager/currencytexts.h"
#include "manager/dialogkit.h"
#include "manager/dialogs.h"
#include "manager/localedialog.h"
#include "manager/managerdefs.h"
#include "manager/ratesinfo.h"
#include "manager/richtext.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/ui.h"

static void InitCurrencyResources() { Q_INIT_RESOURCE(currency); }

namespace vtx::manager {

namespace {

constexpr int kCodeRole = Qt::UserRole;
constexpr int kValueRole = Qt::UserRole + 1;  // page 0: the rate in the base currency, when known
constexpr int kHitsRole = Qt::UserRole + 2;
constexpr int kServersRole = Qt::UserRole + 3;
constexpr int kWarningRole = Qt::UserRole + 4;
constexpr int kRegimeRole = Qt::UserRole + 1;  // page 1
constexpr int kLegalRole = Qt::UserRole + 2;
constexpr int kActiveRole = Qt::UserRole + 3;
constexpr int kLcidRole = Qt::UserRole;        // page 2
constexpr int kRateTextMax = 34;
constexpr int kHandCursor = 109;
constexpr LCID kEnglish = 1033;

QString Wide(const char16_t* text) { return text ? QString::fromStdU16String(text) : QString(); }
std::string Code(const QTreeWidgetItem* row) { return ToAnsi(row->data(0, kCodeRole).toString()); }

QString EnglishName(CSettings& settings, const char* code) {
  CStringW name;
  CCurrencyLocaleList* locales = settings.GetLocaleList();
  if (locales && locales->GetCurrencyName(name, code, false, kEnglish)) return Wide(name.c_str());
  return QString();
}

QList<QTreeWidgetItem*> SelectedInOrder(QTreeWidget* list) {
  QList<QTreeWidgetItem*> rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->isSelected()) rows << list->topLevelItem(i);
  return rows;
}

QTreeWidgetItem* RowOf(QTreeWidget* list, const char* code) {
  if (!list) return nullptr;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (_stricmp(Code(list->topLevelItem(i)).c_str(), code) == 0) return list->topLevelItem(i);
  return nullptr;
}

void SelectOnly(QTreeWidget* list, QTreeWidgetItem* row) {
  list->clearSelection();
  if (!row) return;
  list->setCurrentItem(row);
  row->setSelected(true);
  list->scrollToItem(row);
}

// A list of the pages: full rows, several rows at once, the dialog font.
QTreeWidget* MakeList(CFormKit& kit, int id, QWidget* page) {
  auto* list = kit.Add(id, new QTreeWidget(page));
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setFont(CreateDialogFont(-11, true));
  return list;
}

}  // namespace

class CurrencyListPage;
class DatabasePage;
class LocalesPage;

// What the three pages share: each other, and the definitions update data, loaded on first use.
struct CurrencyPagesState {
  CurrencyListPage* currencies = nullptr;
  DatabasePage* database = nullptr;
  LocalesPage* locales = nullptr;
  std::unique_ptr<ICurrencyUpdate> update;
  bool updateLoaded = false;
  ICurrencyUpdate* Update() {
    if (!updateLoaded) {
      update = MakeStoredCurrencyUpdate();
      if (update && update->Create() != 0) update.reset();
      updateLoaded = true;
    }
    return update.get();
  }
};

// What the three pages have in common: the shared state, the window, the page and its kit, and
// the page's list with the common behaviour.
class CurrencyPage : public IConfigPage {
 protected:
  explicit CurrencyPage(std::shared_ptr<CurrencyPagesState> state) : state_(std::move(state)) {}
  // The start of BuildPage: the list `listId`, ordered by `compare`.
  void Begin(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index, int listId,
             ConfigurationSheet::Compare compare) {
    sheet_ = &sheet;
    page_ = page;
    kit_ = &kit;
    list_ = MakeList(kit, listId, page);
    sheet.AttachList(index, list_, listId, std::move(compare));
  }

  std::shared_ptr<CurrencyPagesState> state_;
  ConfigurationSheet* sheet_ = nullptr;
  QWidget* page_ = nullptr;
  CFormKit* kit_ = nullptr;
  QTreeWidget* list_ = nullptr;
};

// ---- Page 0: the active currencies ----

class CurrencyListPage : public CurrencyPage {
 public:
  explicit CurrencyListPage(std::shared_ptr<CurrencyPagesState> state) : CurrencyPage(std::move(state)) {
    state_->currencies = this;
  }
  UINT TitleId() const override { return kStrPageTitleFirst; }
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  LRESULT OnPageNotify(ConfigurationSheet& sheet, QWidget* page, const PageNotification& n, int index) override;
  HRESULT ValidatePage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  void RefillPage(ConfigurationSheet& sheet, QWidget* page, int index) override;

  // For the other pages.
  void RefreshRow(const char* code);
  void RemoveRow(const char* code);
  void Refill();
  // The base currency must be "EUR" or an active currency; true when it had to become "EUR". It
  // runs after every change of the active list, from any page, page 0 shown or not.
  bool BaseRule(ConfigurationSheet& sheet);
  void UpdateButtons();

 private:
  void SetRow(QTreeWidgetItem* row, const CurrencyInfo& record);
  void SetRate(QTreeWidgetItem* row);
  void RedoBase();
  void Add();
  void Remove();
  void Properties();
  void ChooseBase();

};

// ---- Page 1: the currency database ----

class DatabasePage : public CurrencyPage {
 public:
  explicit DatabasePage(std::shared_ptr<CurrencyPagesState> state) : CurrencyPage(std::move(state)) {
    state_->database = this;
  }
  UINT TitleId() const override { return kStrPageTitleFirst + 1; }
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  LRESULT OnPageNotify(ConfigurationSheet& sheet, QWidget* page, const PageNotification& n, int index) override;

  void RefreshRow(const char* code);
  void RefreshAll();
  void UpdateButtons();

 private:
  void SetRow(QTreeWidgetItem* row, const CurrencyData& record);
  void Fill();
  void Edit(bool create);
  void Remove();
  void Reset(bool selection);

  CRichLinkText link_;
};

// ---- Page 2: the locales ----

class LocalesPage : public CurrencyPage {
 public:
  explicit LocalesPage(std::shared_ptr<CurrencyPagesState> state) : CurrencyPage(std::move(state)) {
    state_->locales = this;
  }
  UINT TitleId() const override { return kStrPageTitleFirst + 2; }
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  LRESULT OnPageNotify(ConfigurationSheet& sheet, QWidget* page, const PageNotification& n, int index) override;

 private:
  CCurrencyLocale* Selected() const;
  void ShowDefault();
  void OnSelectionChanged();

  LCID previous_ = 0;  // the locale selected before, 0 for none
};

// ==== Page 0 ====

void CurrencyListPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) {
  Begin(sheet, page, kit, index, currencylistpage::kCurrencyList,
        [](const QTreeWidgetItem* a, const QTreeWidgetItem* b, int column) {
          auto key = [](const QTreeWidgetItem* r, std::string& code, std::u16string& name) {
            code = Code(r);
            name = r->text(1).toStdU16String();
            CurrencyRowKey k;
            k.code = code.c_str();
            k.name = name.c_str();
            k.hasValue = r->data(0, kValueRole).isValid();
            k.value = r->data(0, kValueRole).toDouble();
            k.servers = r->data(0, kServersRole).toUInt();
            k.hits = r->data(0, kHitsRole).toUInt();
            k.warning = r->data(0, kWarningRole).toBool();
            return k;
          };
          std::string ca, cb;
          std::u16string na, nb;
          CurrencyRowKey ka = key(a, ca, na), kb = key(b, cb, nb);
          return CompareCurrencyRows(ka, kb, column, false);
        });
  list_->setIconSize(QSize(16, 16));
  auto combo = [&](int id, const UINT (&items)[3]) {
    auto* c = kit.Add(id, new QComboBox(page));
    for (UINT item : items) c->addItem(kit.Text(item));
    SetComboDropHeight(c, 3);
    return c;
  };
  QComboBox* rules = combo(currencylistpage::kUpdateRule, kStrUpdateRules);
  QComboBox* emu = combo(currencylistpage::kConflictingEmu, kStrConflictingEmu);
  QComboBox* unknown = combo(currencylistpage::kUnknownCurrencies, kStrUnknownCurrencies);

  auto* buttons = new QVBoxLayout;
  const std::pair<int, UINT> kButtons[] = {{currencylistpage::kAdd, kStrAddButton},
                                           {currencylistpage::kRemove, kStrRemoveButton},
                                           {currencylistpage::kProperties, kStrPropertiesButton},
                                           {currencylistpage::kChooseBase, kStrBaseButton},
                                           {currencylistpage::kResetEuroArea, kStrResetEuroButton},
                                           {currencylistpage::kClearWarnings, kStrClearWarningsButton},
                                           {currencylistpage::kResetHits, kStrResetHitsButton},
                                           {currencylistpage::kRatesInfo, kStrRatesInfoButton},
                                           {currencylistpage::kTestUpdate, kStrTestUpdateButton}};
  for (const auto& [id, text] : kButtons) {
    if (id == currencylistpage::kResetEuroArea || id == currencylistpage::kRatesInfo ||
        id == currencylistpage::kTestUpdate)
      buttons->addSpacing(8);
    buttons->addWidget(kit.AddButton(id, text));
  }
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(list_, 1);
  top->addLayout(buttons);
  auto* grid = new QGridLayout;
  kit.AddRow(grid, 0, currencylistpage::kUpdateRuleLabel, kStrUpdateRuleLabel, rules);
  kit.AddRow(grid, 1, currencylistpage::kConflictingEmuLabel, kStrConflictingEmuLabel, emu);
  kit.AddRow(grid, 2, currencylistpage::kUnknownCurrenciesLabel, kStrUnknownCurrenciesLabel, unknown);
  grid->setColumnStretch(1, 1);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top, 1);
  layout->addLayout(grid);

}

void CurrencyListPage::InitPage(ConfigurationSheet& sheet, QWidget*, int) {
  CSettingsData& d = *sheet.Settings().GetData();
  kit_->Control<QComboBox>(currencylistpage::kUpdateRule)
      ->setCurrentIndex(d.OnlyUpdateExisting ? 2 : d.AlwaysRetainEuro ? 1 : 0);
  kit_->Control<QComboBox>(currencylistpage::kConflictingEmu)
      ->setCurrentIndex(d.ConflictingEMU <= 2 ? static_cast<int>(d.ConflictingEMU) : -1);
  kit_->Control<QComboBox>(currencylistpage::kUnknownCurrencies)
      ->setCurrentIndex(d.UnknownCurrencies <= 2 ? static_cast<int>(d.UnknownCurrencies) : -1);
  Refill();
  BaseRule(*sheet_);
  kit_->Control(currencylistpage::kTestUpdate)->setEnabled(sheet.ControlWindow() != nullptr);
}

void CurrencyListPage::RefillPage(ConfigurationSheet&, QWidget*, int) {
  Refill();
  BaseRule(*sheet_);
}

void CurrencyListPage::Refill() {
  if (!list_) return;
  list_->setUpdatesEnabled(false);
  list_->clear();
  for (char* e : sheet_->Settings().GetRates().Active) SetRow(new QTreeWidgetItem(list_), *reinterpret_cast<CurrencyInfo*>(e));
  list_->headerItem()->setText(2, FromAnsi(FormatString(sheet_->Resources(), kStrRateInBaseColumn,
                                                        {sheet_->Settings().GetData()->BaseUnit})
                                               .c_str()));
  sheet_->SortList(currencylistpage::kCurrencyList);
  UpdateButtons();
  list_->setUpdatesEnabled(true);
}

void CurrencyListPage::SetRow(QTreeWidgetItem* row, const CurrencyInfo& record) {
  row->setData(0, kCodeRole, FromAnsi(record.szCode));
  row->setText(0, FromAnsi(record.szCode));
  row->setText(1, EnglishName(sheet_->Settings(), record.szCode));
  SetRate(row);
  row->setText(3, QString::number(record.dwServers));
  row->setData(0, kServersRole, record.dwServers);
  DWORD hits = 0;
  if (!GetUnitHits(record.szCode, &hits)) hits = 0;
  row->setText(4, QString::number(hits));
  row->setData(0, kHitsRole, static_cast<uint>(hits));
  const bool warning = (record.dwFlags & kInfoWarning) != 0;
  row->setData(0, kWarningRole, warning);
  InitCurrencyResources();
  row->setIcon(5, warning ? QIcon(QStringLiteral(":/vtxcurrency/icons/149.png")) : QIcon());
}

void CurrencyListPage::SetRate(QTreeWidgetItem* row) {
  CSettings& s = sheet_->Settings();
  const std::string code = Code(row);
  char text[kRateTextMax] = {};
  row->setText(2, s.CurrencyRateToString(code.c_str(), s.GetData()->BaseUnit, text, sizeof text) == 0 ? text : "");
  double value = 0;
  if (s.ConvertUnit(1.0, code.c_str(), s.GetData()->BaseUnit, nullptr, 0, CSettings::kConvertEuroItself, nullptr,
                    &value) == 0)
    row->setData(0, kValueRole, value);
  else
    row->setData(0, kValueRole, QVariant());
}

void CurrencyListPage::RefreshRow(const char* code) {
  if (!list_) return;
  QTreeWidgetItem* row = RowOf(list_, code);
  int32_t i = sheet_->Settings().GetData()->IFind(code);
  if (row && i >= 0) SetRow(row, *sheet_->Settings().GetRates()[static_cast<uint32_t>(i)]);
}

void CurrencyListPage::RemoveRow(const char* code) {
  if (list_) delete RowOf(list_, code);
}

void CurrencyListPage::RedoBase() {
  if (!list_) return;
  list_->headerItem()->setText(2, FromAnsi(FormatString(sheet_->Resources(), kStrRateInBaseColumn,
                                                        {sheet_->Settings().GetData()->BaseUnit})
                                               .c_str()));
  for (int i = 0; i < list_->topLevelItemCount(); ++i) SetRate(list_->topLevelItem(i));
}

bool CurrencyListPage::BaseRule(ConfigurationSheet& sheet) {
  CSettingsData& d = *sheet.Settings().GetData();
  if (_stricmp(d.BaseUnit, "EUR") == 0 || d.IFind(d.BaseUnit) >= 0) return false;
  std::strcpy(d.BaseUnit, "EUR");
  if (list_) {
    RedoBase();
    sheet.MarkPageChanged(0);
  }
  return true;
}

void CurrencyListPage::UpdateButtons() {
  if (!list_) return;
  const qsizetype n = list_->selectedItems().size();
  kit_->Control(currencylistpage::kProperties)->setEnabled(n == 1);
  kit_->Control(currencylistpage::kRemove)->setEnabled(n >= 1);
}

bool CurrencyListPage::OnPageCommand(ConfigurationSheet& sheet, QWidget*, int id, UINT, int) {
  CSettings& s = sheet.Settings();
  switch (id) {
    case currencylistpage::kAdd: Add(); return true;
    case currencylistpage::kRemove: Remove(); return true;
    case currencylistpage::kProperties: Properties(); return true;
    case currencylistpage::kResetEuroArea:
      s.ResetEuroArea(page_);
      Refill();
      BaseRule(*sheet_);
      if (state_->database) state_->database->RefreshAll();
      sheet.MarkPageChanged(0);
      return true;
    case currencylistpage::kTestUpdate: sheet.TestUpdate(false); return true;
    case currencylistpage::kChooseBase: ChooseBase(); return true;
    case currencylistpage::kClearWarnings: {
      bool any = false;
      for (char* e : s.GetRates().Active) {
        auto* record = reinterpret_cast<CurrencyInfo*>(e);
        any = any || (record->dwFlags & kInfoWarning);
        record->dwFlags &= ~kInfoWarning;
      }
      if (any) {
        for (int i = 0; i < list_->topLevelItemCount(); ++i) {
          list_->topLevelItem(i)->setData(0, kWarningRole, false);
          list_->topLevelItem(i)->setIcon(5, QIcon());
        }
        sheet.MarkPageChanged(0);
      }
      return true;
    }
    case currencylistpage::kResetHits:
      // Written at once: the counts are the server's, not part of the settings.
      for (char* e : s.GetRates().Active) SetUnitHits(reinterpret_cast<CurrencyInfo*>(e)->szCode, 0);
      for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        list_->topLevelItem(i)->setText(4, QStringLiteral("0"));
        list_->topLevelItem(i)->setData(0, kHitsRole, 0u);
      }
      return true;
    case currencylistpage::kRatesInfo:
      // The window's icon is the manager's; the Qt dialogs take no owner.
      ShowRatesInformation(s, kMessageWindowIcon, nullptr, sheet.Resources());
      return true;
    default:
      return false;
  }
}

void CurrencyListPage::Add() {
  CSettings& s = sheet_->Settings();
  std::vector<std::string> chosen;
  if (CurrencyChoiceDialog(s, page_, sheet_->Resources(), chosen) != IDC_OK) return;
  CAllCurrencies& db = s.GetData()->Currencies;
  for (const std::string& code : chosen) {
    int32_t i = db.IFind(code.c_str());
    if (i < 0 || s.GetData()->IFind(code.c_str()) >= 0) continue;
    CurrencyInfo record{};
    CurrencyDataToCurrencyInfo(*db[i], record);
    if (record.dRate != 0.0 && record.ftLastChange.dwLowDateTime == 0 && record.ftLastChange.dwHighDateTime == 0)
      record.ftLastChange = CurrencyClockNow();
    CurrencyInfo* added = s.Add(record);
    if (!added) break;
    SetRow(new QTreeWidgetItem(list_), *added);
    if (state_->database) state_->database->RefreshRow(added->szCode);
  }
  sheet_->SortList(currencylistpage::kCurrencyList);
  sheet_->MarkPageChanged(0);
  BaseRule(*sheet_);
  UpdateButtons();
}

void CurrencyListPage::Remove() {
  QList<QTreeWidgetItem*> rows = SelectedInOrder(list_);
  if (rows.isEmpty()) return;
  for (QTreeWidgetItem* row : rows) {
    const std::string code = Code(row);
    sheet_->Settings().Remove(code.c_str());
    delete row;
    if (state_->database) state_->database->RefreshRow(code.c_str());
  }
  sheet_->MarkPageChanged(0);
  BaseRule(*sheet_);
  UpdateButtons();
}

void CurrencyListPage::Properties() {
  QList<QTreeWidgetItem*> rows = list_->selectedItems();
  if (rows.size() != 1) return;
  const std::string code = Code(rows.front());
  if (CurrencyPropertiesSheet(code.c_str(), sheet_->Settings(), nullptr, page_, sheet_->Resources(),
                              kSheetEdit | kSheetRateRequired) != IDC_OK)
    return;
  sheet_->Settings().GetData()->EuroCache.Empty();
  RefreshRow(code.c_str());
  if (state_->database) state_->database->RefreshRow(code.c_str());
  sheet_->MarkPageChanged(0);
  if (!BaseRule(*sheet_)) RedoBase();
}

void CurrencyListPage::ChooseBase() {
  CSettings& s = sheet_->Settings();
  CSettingsData& d = *s.GetData();
  std::vector<std::string> entries{"EUR"}, codes{"EUR"};
  std::string preselected = "EUR";
  for (char* e : s.GetRates().Active) {
    const auto* record = reinterpret_cast<const CurrencyInfo*>(e);
    if (_stricmp(record->szCode, "EUR") == 0) continue;
    std::string entry = std::string(record->szCode) + " (" + ToAnsi(EnglishName(s, record->szCode)) + ")";
    if (_stricmp(record->szCode, d.BaseUnit) == 0) preselected = entry;
    entries.push_back(entry);
    codes.push_back(record->szCode);
  }
  int chosen = -1;
  if (ListChoiceDialog(entries, preselected.c_str(), page_, sheet_->Resources(), chosen) != IDC_OK || chosen < 0 ||
      chosen >= static_cast<int>(codes.size()))
    return;
  std::snprintf(d.BaseUnit, sizeof d.BaseUnit, "%s", codes[static_cast<size_t>(chosen)].c_str());
  RedoBase();
  sheet_->MarkPageChanged(0);
}

LRESULT CurrencyListPage::OnPageNotify(ConfigurationSheet&, QWidget*, const PageNotification& n, int) {
  if (n.controlId == currencylistpage::kCurrencyList && n.code == LVN_ITEMCHANGED) UpdateButtons();
  return 0;
}

HRESULT CurrencyListPage::ValidatePage(ConfigurationSheet& sheet, QWidget*, int) {
  CSettingsData& d = *sheet.Settings().GetData();
  int rule = kit_->Control<QComboBox>(currencylistpage::kUpdateRule)->currentIndex();
  if (rule >= 0) {
    d.OnlyUpdateExisting = rule == 2;
    d.AlwaysRetainEuro = rule == 1;
  }
  int emu = kit_->Control<QComboBox>(currencylistpage::kConflictingEmu)->currentIndex();
  if (emu >= 0) d.ConflictingEMU = static_cast<uint32_t>(emu);
  int unknown = kit_->Control<QComboBox>(currencylistpage::kUnknownCurrencies)->currentIndex();
  if (unknown >= 0) d.UnknownCurrencies = static_cast<uint32_t>(unknown);
  return 0;
}

// ==== Page 1 ====

void DatabasePage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) {
  Begin(sheet, page, kit, index, databasepage::kDatabaseList,
        [](const QTreeWidgetItem* a, const QTreeWidgetItem* b, int column) {
          std::string ca = Code(a), cb = Code(b);
          std::u16string na = a->text(1).toStdU16String(), nb = b->text(1).toStdU16String();
          DatabaseRowKey ka{ca.c_str(), na.c_str(), a->data(0, kRegimeRole).toUInt(), a->data(0, kLegalRole).toBool(),
                            a->data(0, kActiveRole).toBool()};
          DatabaseRowKey kb{cb.c_str(), nb.c_str(), b->data(0, kRegimeRole).toUInt(), b->data(0, kLegalRole).toBool(),
                            b->data(0, kActiveRole).toBool()};
          return CompareDatabaseRows(ka, kb, column, false);
        });
  auto* buttons = new QVBoxLayout;
  const std::pair<int, UINT> kButtons[] = {{databasepage::kNew, kStrNewButton},
                                           {databasepage::kProperties, kStrPropertiesButton},
                                           {databasepage::kRemove, kStrRemoveButton},
                                           {databasepage::kResetSelected, kStrResetSelectedButton},
                                           {databasepage::kResetDatabase, kStrResetDatabaseButton},
                                           {databasepage::kTestDefinitions, kStrTestDefinitionsButton}};
  for (const auto& [id, text] : kButtons) {
    if (id == databasepage::kResetSelected || id == databasepage::kTestDefinitions) buttons->addSpacing(8);
    buttons->addWidget(kit.AddButton(id, text));
  }
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(list_, 1);
  top->addLayout(buttons);
  auto* source = kit.Add(databasepage::kDefinitions, new QComboBox(page));
  source->addItem(kit.Text(kStrDefinitionsUpdate));
  SetComboDropHeight(source, 3);
  auto* link = kit.Add(databasepage::kHomePageLink, new CRichTextView(page));
  link->setFixedHeight(link->fontMetrics().height() + 8);
  link->ShowParentBackground();
  auto* grid = new QGridLayout;
  kit.AddRow(grid, 0, databasepage::kDefinitionsLabel, kStrDefinitionsLabel, source);
  grid->addWidget(link, 0, 2);
  grid->setColumnStretch(2, 1);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top, 1);
  layout->addLayout(grid);
  const std::string linkText = LoadText(sheet.Resources(), kStrHomePageLink);
  link_.SetLink(page, databasepage::kHomePageLink, linkText.c_str(), kProductPage, kHandCursor, sheet.Resources());

  // The link has no topic.
  kit.SetHelpMap(kit.Help(), {databasepage::kHomePageLink});
}

void DatabasePage::InitPage(ConfigurationSheet& sheet, QWidget*, int) {
  kit_->Control<QComboBox>(databasepage::kDefinitions)->setCurrentIndex(0);
  kit_->Control(databasepage::kTestDefinitions)->setEnabled(sheet.ControlWindow() != nullptr);
  Fill();
}

void DatabasePage::Fill() {
  list_->setUpdatesEnabled(false);
  list_->clear();
  for (CurrencyData* record : sheet_->Settings().GetData()->Currencies) SetRow(new QTreeWidgetItem(list_), *record);
  sheet_->SortList(databasepage::kDatabaseList);
  UpdateButtons();
  list_->setUpdatesEnabled(true);
}

void DatabasePage::SetRow(QTreeWidgetItem* row, const CurrencyData& record) {
  CSettings& s = sheet_->Settings();
  const uint32_t regime = (record.dwFlags & kCurrencyEuroArea) ? 1 : (record.dwFlags & kCurrencyPeggedEuro) ? 2 : 0;
  const bool legal = (record.dwFlags & kCurrencyLegalTender) != 0;
  const bool active = s.GetData()->IFind(record.szCode) >= 0;
  static const UINT kRegimes[3] = {kStrNoRegime, kStrEuroArea, kStrPeggedToEuro};
  row->setData(0, kCodeRole, FromAnsi(record.szCode));
  row->setData(0, kRegimeRole, regime);
  row->setData(0, kLegalRole, legal);
  row->setData(0, kActiveRole, active);
  row->setText(0, FromAnsi(record.szCode));
  row->setText(1, EnglishName(s, record.szCode));
  row->setText(2, kit_->Text(kRegimes[regime]));
  row->setText(3, kit_->Text(legal ? kStrYes : kStrNo));
  row->setText(4, kit_->Text(active ? kStrYes : kStrNo));
}

void DatabasePage::RefreshRow(const char* code) {
  if (!list_) return;
  QTreeWidgetItem* row = RowOf(list_, code);
  CAllCurrencies& db = sheet_->Settings().GetData()->Currencies;
  int32_t i = db.IFindCode(code);
  if (i < 0) {
    delete row;
    return;
  }
  if (!row) row = new QTreeWidgetItem(list_);
  SetRow(row, *db[i]);
}

void DatabasePage::RefreshAll() {
  if (!list_) return;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = list_->topLevelItem(i);
    const std::string code = Code(row);
    CAllCurrencies& db = sheet_->Settings().GetData()->Currencies;
    int32_t k = db.IFindCode(code.c_str());
    if (k >= 0) SetRow(row, *db[k]);
  }
}

void DatabasePage::UpdateButtons() {
  if (!list_) return;
  const qsizetype n = list_->selectedItems().size();
  kit_->Control(databasepage::kProperties)->setEnabled(n == 1);
  kit_->Control(databasepage::kRemove)->setEnabled(n >= 1);
  kit_->Control(databasepage::kResetSelected)->setEnabled(n >= 1);
}

bool DatabasePage::OnPageCommand(ConfigurationSheet& sheet, QWidget*, int id, UINT, int) {
  switch (id) {
    case databasepage::kNew: Edit(true); return true;
    case databasepage::kProperties: Edit(false); return true;
    case databasepage::kRemove: Remove(); return true;
    case databasepage::kResetDatabase: Reset(false); return true;
    case databasepage::kResetSelected: Reset(true); return true;
    case databasepage::kTestDefinitions: sheet.TestUpdate(true); return true;
    default:
      return false;
  }
}

void DatabasePage::Edit(bool create) {
  std::string code;
  if (!create) {
    QList<QTreeWidgetItem*> rows = list_->selectedItems();
    if (rows.size() != 1) return;
    code = Code(rows.front());
  }
  CSettings& s = sheet_->Settings();
  CCurrencyPropertiesSheet properties(s, nullptr, sheet_->Resources(), create ? 0 : kSheetEdit);
  if (!properties.Open(code.c_str()) || properties.Run(page_) != IDC_OK) return;
  s.GetData()->EuroCache.Empty();
  code = properties.Record().szCode;
  RefreshRow(code.c_str());
  sheet_->SortList(databasepage::kDatabaseList);
  SelectOnly(list_, RowOf(list_, code.c_str()));
  UpdateButtons();
  sheet_->MarkPageChanged(1);
  if (state_->currencies) {
    state_->currencies->RefreshRow(code.c_str());
    state_->currencies->BaseRule(*sheet_);
  }
}

void DatabasePage::Remove() {
  QList<QTreeWidgetItem*> rows = SelectedInOrder(list_);
  if (rows.isEmpty()) return;
  CSettings& s = sheet_->Settings();
  CSettingsData& d = *s.GetData();
  CCurrencyLocaleList* locales = s.GetLocaleList();
  int next = list_->indexOfTopLevelItem(rows.back()) + 1 - static_cast<int>(rows.size());
  std::vector<std::string> zeroHits;
  for (QTreeWidgetItem* row : rows) {
    const std::string code = Code(row);
    d.Currencies.IRemove(code.c_str());
    if (locales) locales->RemoveCurrency(code.c_str());
    if (d.IFind(code.c_str()) >= 0) {
      s.Remove(code.c_str());
      zeroHits.push_back(code);
      if (state_->currencies) state_->currencies->RemoveRow(code.c_str());
    }
    delete row;
  }
  d.EuroCache.Empty();
  // The counts go only when the configuration is saved: a Cancel keeps them.
  if (!zeroHits.empty())
    sheet_->AfterSave([zeroHits] {
      for (const std::string& code : zeroHits) SetUnitHits(code.c_str(), 0);
    });
  if (next >= list_->topLevelItemCount()) next = list_->topLevelItemCount() - 1;
  SelectOnly(list_, next >= 0 ? list_->topLevelItem(next) : nullptr);
  if (state_->currencies) {
    state_->currencies->BaseRule(*sheet_);
    state_->currencies->UpdateButtons();
  }
  UpdateButtons();
  sheet_->MarkPageChanged(1);
}

void DatabasePage::Reset(bool selection) {
  std::vector<std::string> codes;
  if (selection) {
    for (QTreeWidgetItem* row : SelectedInOrder(list_)) codes.push_back(Code(row));
    if (codes.empty()) return;
  }
  int answer = FormatMessageBox(page_, kStrAskResetDatabase, kStrProduct, MB_YESNOCANCEL | MB_ICONQUESTION,
                                sheet_->Resources());
  if (answer != IDYES && answer != IDNO) return;
  CSettings& s = sheet_->Settings();
  CSettingsData& d = *s.GetData();
  uint32_t ignore = 0;
  if (!vtx::currency::ReadDword(kAppKey, kIgnoreStaticUpdates, &ignore)) ignore = 0;
  ICurrencyUpdate* update = ignore ? nullptr : state_->Update();
  CCurrencyLocaleList* locales = answer == IDYES ? s.GetLocaleList() : nullptr;
  if (!selection) {
    d.Currencies.Reset(nullptr);
    if (update) update->Update(d.Currencies, nullptr);
    d.Currencies.Update(&s, nullptr);
    if (locales) {
      locales->ResetLists();
      if (update) update->Update(*locales, nullptr);
    }
  } else {
    for (const std::string& code : codes) {
      d.Currencies.Reset(code.c_str());
      if (update) update->Update(d.Currencies, code.c_str());
      d.Currencies.Update(&s, code.c_str());
      if (locales) {
        locales->Reset(code.c_str());
        if (update) update->Update(*locales, code.c_str());
      }
    }
  }
  d.EuroCache.Empty();
  // Active currencies the database no longer has leave the list.
  CStringList<char>& active = s.GetRates().Active;
  for (uint32_t i = active.GetCount(); i-- > 0;)
    if (d.Currencies.IFindCode(reinterpret_cast<CurrencyInfo*>(active[i])->szCode) < 0) active.Remove(i);
  Fill();
  if (state_->currencies) {
    state_->currencies->Refill();
    state_->currencies->BaseRule(*sheet_);
  }
  sheet_->MarkPageChanged(1);
}

LRESULT DatabasePage::OnPageNotify(ConfigurationSheet&, QWidget*, const PageNotification& n, int) {
  if (n.controlId == databasepage::kDatabaseList && n.code == LVN_ITEMCHANGED) UpdateButtons();
  return 0;
}

// ==== Page 2 ====

void LocalesPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) {
  Begin(sheet, page, kit, index, localespage::kLocaleList,
        [](const QTreeWidgetItem* a, const QTreeWidgetItem* b, int column) {
          std::string na = ToAnsi(a->text(1)), nb = ToAnsi(b->text(1));
          LocaleRowKey ka{a->data(0, kLcidRole).toUInt(), na.c_str()};
          LocaleRowKey kb{b->data(0, kLcidRole).toUInt(), nb.c_str()};
          return CompareLocaleRows(ka, kb, column, false);
        });
  auto* defaultLocale = kit.Add(localespage::kDefaultLocale, new QLabel(page));
  auto* copy = kit.Add(localespage::kCopyLocale, new QCheckBox(kit.Text(kStrCopyLocaleCheck), page));
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(kit.AddButton(localespage::kProperties, kStrPropertiesButton));
  buttons->addWidget(kit.AddButton(localespage::kMakeDefault, kStrMakeDefaultButton));
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(list_, 1);
  top->addLayout(buttons);
  auto* grid = new QGridLayout;
  kit.AddRow(grid, 0, localespage::kDefaultLocaleLabel, kStrDefaultLocaleLabel, defaultLocale);
  grid->addWidget(copy, 1, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top, 1);
  layout->addLayout(grid);
}

void LocalesPage::InitPage(ConfigurationSheet& sheet, QWidget*, int) {
  list_->clear();
  kit_->Control<QCheckBox>(localespage::kCopyLocale)->setChecked(false);
  CCurrencyLocaleList* locales = sheet.Settings().GetLocaleList();
  QTreeWidgetItem* selected = nullptr;
  if (locales) {
    for (CCurrencyLocale* l : *locales) {
      auto* row = new QTreeWidgetItem(list_);
      row->setData(0, kLcidRole, static_cast<uint>(l->GetLCID()));
      row->setText(0, QString::number(l->GetLCID()));
      row->setText(1, FromAnsi(l->GetDisplayName()));
      if (l->GetLCID() == locales->GetDefaultLocale()) selected = row;
    }
  }
  sheet.SortList(localespage::kLocaleList);
  SelectOnly(list_, selected);
  previous_ = selected ? selected->data(0, kLcidRole).toUInt() : 0;
  ShowDefault();
}

CCurrencyLocale* LocalesPage::Selected() const {
  QList<QTreeWidgetItem*> rows = list_->selectedItems();
  if (rows.size() != 1) return nullptr;
  CCurrencyLocaleList* locales = sheet_->Settings().GetLocaleList();
  return locales ? locales->GetLocale(rows.front()->data(0, kLcidRole).toUInt()) : nullptr;
}

void LocalesPage::ShowDefault() {
  CCurrencyLocaleList* locales = sheet_->Settings().GetLocaleList();
  if (!locales) return;
  CCurrencyLocale* l = locales->Find(locales->GetDefaultLocale());
  char text[160];
  std::snprintf(text, sizeof text, "%d - %s", static_cast<int>(locales->GetDefaultLocale()),
                l ? l->GetDisplayName() : "");
  kit_->Control<QLabel>(localespage::kDefaultLocale)->setText(FromAnsi(text));
}

void LocalesPage::OnSelectionChanged() {
  QList<QTreeWidgetItem*> rows = list_->selectedItems();
  if (rows.size() != 1) return;
  const LCID now = rows.front()->data(0, kLcidRole).toUInt();
  auto* copy = kit_->Control<QCheckBox>(localespage::kCopyLocale);
  if (copy->isChecked() && now != previous_) {
    copy->setChecked(false);
    CCurrencyLocaleList* locales = sheet_->Settings().GetLocaleList();
    CCurrencyLocale* from = previous_ && locales ? locales->GetLocale(previous_) : nullptr;
    CCurrencyLocale* to = locales ? locales->GetLocale(now) : nullptr;
    if (from && to &&
        FormatMessageBox(page_, kStrAskCopyLocale, kStrProduct, MB_OKCANCEL | MB_ICONQUESTION, sheet_->Resources(),
                         std::to_string(from->GetLCID()).c_str(), from->GetDisplayName(),
                         std::to_string(to->GetLCID()).c_str(), to->GetDisplayName()) == IDOK) {
      if (to->CopyFormatsAndTexts(*from)) {
        sheet_->MarkPageChanged(2);
      } else {
        FormatMessageBox(page_, 83, kStrProduct, MB_ICONERROR, sheet_->Resources(), E_OUTOFMEMORY);
      }
    }
  }
  previous_ = now;
}

bool LocalesPage::OnPageCommand(ConfigurationSheet& sheet, QWidget*, int id, UINT, int) {
  switch (id) {
    case localespage::kProperties: {
      CCurrencyLocale* locale = Selected();
      if (!locale || LocaleFormatsDialog(sheet.Settings(), *locale, page_, sheet.Resources()) != IDC_OK) return true;
      for (char* e : sheet.Settings().GetRates().Active)
        if (state_->currencies) state_->currencies->RefreshRow(reinterpret_cast<CurrencyInfo*>(e)->szCode);
      if (state_->database) state_->database->RefreshAll();
      sheet.MarkPageChanged(2);
      return true;
    }
    case localespage::kMakeDefault: {
      CCurrencyLocale* locale = Selected();
      CCurrencyLocaleList* locales = sheet.Settings().GetLocaleList();
      if (!locale || !locales) return true;
      locales->SetDefaultLocale(locale->GetLCID());
      ShowDefault();
      sheet.MarkPageChanged(2);
      return true;
    }
    default:
      return false;
  }
}

LRESULT LocalesPage::OnPageNotify(ConfigurationSheet&, QWidget*, const PageNotification& n, int) {
  if (n.controlId != localespage::kLocaleList || n.code != LVN_ITEMCHANGED) return 0;
  const bool one = list_->selectedItems().size() == 1;
  for (int id : {localespage::kProperties, localespage::kMakeDefault, localespage::kCopyLocale})
    kit_->Control(id)->setEnabled(one);
  OnSelectionChanged();
  return 0;
}

std::vector<std::unique_ptr<IConfigPage>> MakeCurrencyPages() {
  auto state = std::make_shared<CurrencyPagesState>();
  std::vector<std::unique_ptr<IConfigPage>> pages;
  pages.push_back(std::make_unique<CurrencyListPage>(state));
  pages.push_back(std::make_unique<DatabasePage>(state));
  pages.push_back(std::make_unique<LocalesPage>(state));
  return pages;
}

}  // namespace vtx::manager
