// Pages 3 (data sources and the update schedule) and 5 (the connection), and what pages 3 to 8
// share.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

#include "engine/currency/filterdef.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "manager/configtexts.h"
#include "manager/controlids.h"
#include "manager/datasourcedialog.h"
#include "manager/dialogs.h"
#include "manager/duration.h"
#include "manager/managerdefs.h"
#include "manager/pagetexts.h"
#include "manager/serverpages.h"
#include "platform/errors.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

constexpr UINT kRefusedStyle = MB_ICONHAND | MB_SETFOREGROUND;  // 0x10010
constexpr int kSourceRole = Qt::UserRole;
constexpr int kUpIcon = 142, kDownIcon = 143;

}  // namespace

UINT ServerPage::TitleId() const { return kStrPageTitleFirst + static_cast<UINT>(index_); }

HRESULT ServerPage::Refuse(UINT text, const char* insert1, const char* insert2) const {
  if (insert2) {
    FormatMessageBox(nullptr, text, kStrProduct, kRefusedStyle, kit_->Module(), insert1, insert2);
  } else {
    FormatMessageBox(nullptr, text, kStrProduct, kRefusedStyle, kit_->Module());
  }
  return E_INVALIDARG;
}

int TextLimit(const char* stored) {
  return std::max(500, 2 * static_cast<int>(FromAnsi(stored ? stored : "").size()));
}

CNumberSpinBox* AddNumberField(ConfigurationSheet& sheet, CFormKit& kit, int index, int editId, int upDownId,
                               int minimum, int maximum, QWidget* parent) {
  auto* spin = kit.Add(upDownId, new CNumberSpinBox(minimum, maximum, parent));
  kit.Add(editId, spin->Edit());
  spin->SetOnStep([&sheet, index, editId] {
    sheet.MarkPageChanged(index);
    sheet.Command(index, editId, EN_CHANGE);
  });
  return spin;
}

CDurationSpinBox* AddDurationField(ConfigurationSheet& sheet, CFormKit& kit, int index, int editId, int upDownId,
                                   QWidget* parent) {
  auto* spin = kit.Add(upDownId, new CDurationSpinBox(parent));
  kit.Add(editId, spin->Edit());
  spin->SetOnStep([&sheet, index, editId] {
    sheet.MarkPageChanged(index);
    sheet.Command(index, editId, EN_CHANGE);
  });
  return spin;
}

bool IsProxyPort(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

// ---- Page 3: data sources and the update schedule ----

namespace {

class SourcesPage : public ServerPage {
 public:
  SourcesPage() : ServerPage(3) {}
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  LRESULT OnPageNotify(ConfigurationSheet& sheet, QWidget* page, const PageNotification& n, int index) override;
  HRESULT ValidatePage(ConfigurationSheet& sheet, QWidget* page, int index) override;

 private:
  CDataSource* SourceOf(QTreeWidgetItem* row) const {
    return row ? reinterpret_cast<CDataSource*>(row->data(0, kSourceRole).value<quintptr>()) : nullptr;
  }
  CDataSource* Selected() const;
  void Fill(const CDataSource* select);
  void SetRow(QTreeWidgetItem* row, CDataSource* source);
  void UpdateButtons();
  void UpdateSchedule();
  void Add();
  void ShowWholeAddress();
  void Edit();
  void Remove();
  void Move(bool up);
  static void Take(CDataSource& source, const DataSourceDialogData& data);

  QTreeWidget* list_ = nullptr;
  QComboBox* order_ = nullptr;
  CNumberSpinBox* attempts_ = nullptr;
  CNumberSpinBox* pause_ = nullptr;
  QCheckBox* auto_ = nullptr;
  CDurationSpinBox* atLeast_ = nullptr;
  CDurationSpinBox* atMost_ = nullptr;
  CFilterList filters_;
};

void SourcesPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) {
  Bind(sheet, page, kit);
  // The duration fields are one control with their arrows here: their help is the field's.
  HelpMap help = PageHelpMap(index);
  help.push_back({sourcespage::kAtLeastUpDown, 55});
  help.push_back({sourcespage::kAtMostUpDown, 56});
  kit.SetHelpMap(help);

  list_ = kit.Add(sourcespage::kSourceList, new QTreeWidget(page));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  list_->setUniformRowHeights(true);
  sheet.AttachList(index, list_, sourcespage::kSourceList);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(kit.AddButton(sourcespage::kAddSource, kStrAddSource));
  buttons->addWidget(kit.AddButton(sourcespage::kEditSource, kStrEditSource));
  buttons->addWidget(kit.AddButton(sourcespage::kRemoveSource, kStrRemoveSource));
  auto* arrows = new QHBoxLayout;
  for (auto [id, icon] : {std::pair{sourcespage::kMoveUp, kUpIcon}, std::pair{sourcespage::kMoveDown, kDownIcon}}) {
    auto* b = kit.Add(id, new QPushButton(page));
    CIconButton().Set(page, id, icon, kit.Module());
    arrows->addWidget(b);
  }
  buttons->addLayout(arrows);
  buttons->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(list_, 1);
  top->addLayout(buttons);

  order_ = kit.Add(sourcespage::kSourceOrder, new QComboBox(page));
  for (UINT item : kStrSourceOrderItems) order_->addItem(kit.Text(item));
  SetComboDropHeight(order_, 3);
  auto* retries = new QGridLayout;
  kit.AddRow(retries, 0, sourcespage::kSourceOrderLabel, kStrSourceOrderLabel, order_, 3);
  attempts_ = AddNumberField(sheet, kit, index, sourcespage::kAttempts, sourcespage::kAttemptsUpDown, 1, 10, page);
  pause_ = AddNumberField(sheet, kit, index, sourcespage::kRetryPause, sourcespage::kRetryPauseUpDown, 0, 32767, page);
  kit.AddRow(retries, 1, sourcespage::kAttemptsLabel, kStrAttemptsLabel, attempts_);
  retries->addWidget(kit.AddLabel(sourcespage::kRetryPauseLabel, kStrRetryPauseLabel, pause_), 1, 2);
  retries->addWidget(pause_, 1, 3);
  retries->setColumnStretch(4, 1);

  auto_ = kit.Add(sourcespage::kAutoUpdate, new QCheckBox(kit.Text(kStrAutoUpdate), page));
  atLeast_ = AddDurationField(sheet, kit, index, sourcespage::kAtLeast, sourcespage::kAtLeastUpDown, page);
  atMost_ = AddDurationField(sheet, kit, index, sourcespage::kAtMost, sourcespage::kAtMostUpDown, page);
  auto* schedule = new QGridLayout;
  schedule->setContentsMargins(20, 0, 0, 0);
  kit.AddRow(schedule, 0, sourcespage::kAtLeastLabel, kStrAtLeastLabel, atLeast_);
  schedule->addWidget(kit.AddLabel(sourcespage::kAtLeastUnits, kStrDurationUnits), 0, 2);
  kit.AddRow(schedule, 1, sourcespage::kAtMostLabel, kStrAtMostLabel, atMost_);
  schedule->addWidget(kit.AddLabel(sourcespage::kAtMostUnits, kStrDurationUnits), 1, 2);
  schedule->setColumnStretch(3, 1);
  // Leaving a duration field shows what it will be read as.
  atLeast_->SetOnFocusOut([this] { atLeast_->Read(Data().UpdateAtLeast); });
  atMost_->SetOnFocusOut([this] { atMost_->Read(Data().UpdateAtMost); });

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top, 1);
  layout->addLayout(retries);
  layout->addSpacing(6);
  layout->addWidget(auto_);
  layout->addLayout(schedule);
}

void SourcesPage::InitPage(ConfigurationSheet&, QWidget*, int) {
  CSettingsData& d = Data();
  // The rows name each source's filter definition.
  filters_.Empty();
  RegStringValue<char> folder;
  if (SUCCEEDED(folder.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Filters")) && folder.GetString())
    filters_.Create(folder.GetString(), true);
  Fill(nullptr);
  order_->setCurrentIndex(d.MultiServerMode <= 2 ? static_cast<int>(d.MultiServerMode) : -1);
  attempts_->setValue(static_cast<int>(std::min<uint32_t>(d.UpdateAttempts, 10)));
  pause_->setValue(static_cast<int>(std::min<uint32_t>(d.UpdateRetryPause, 32767)));
  auto_->setChecked(d.AutoUpdate != 0);
  atLeast_->SetSeconds(d.UpdateAtLeast);
  atMost_->SetSeconds(d.UpdateAtMost);
  UpdateButtons();
  UpdateSchedule();
}

void SourcesPage::Fill(const CDataSource* select) {
  list_->clear();
  for (CDataSource* s : Data().Sources) {
    auto* row = new QTreeWidgetItem(list_);
    SetRow(row, s);
    if (s == select) {
      list_->setCurrentItem(row);
      row->setSelected(true);
    }
  }
}

void SourcesPage::SetRow(QTreeWidgetItem* row, CDataSource* source) {
  row->setData(0, kSourceRole, QVariant::fromValue(reinterpret_cast<quintptr>(source)));
  SetListItemText(row, 0, source->GetURL() ? source->GetURL() : "");
  row->setToolTip(0, row->text(0));
  const char* filter = source->GetFilter();
  int32_t i = filters_.Find(filter && *filter ? filter : nullptr);
  SetListItemText(row, 1, i >= 0 ? filters_[static_cast<uint32_t>(i)]->GetDisplayName() : filter ? filter : "");
}

CDataSource* SourcesPage::Selected() const {
  QList<QTreeWidgetItem*> rows = list_->selectedItems();
  return rows.size() == 1 ? SourceOf(rows.front()) : nullptr;
}

void SourcesPage::UpdateButtons() {
  int selected = static_cast<int>(list_->selectedItems().size());
  int row = selected == 1 ? list_->indexOfTopLevelItem(list_->selectedItems().front()) : -1;
  int count = list_->topLevelItemCount();
  kit_->Control(sourcespage::kEditSource)->setEnabled(selected == 1);
  kit_->Control(sourcespage::kRemoveSource)->setEnabled(selected >= 1);
  kit_->Control(sourcespage::kMoveUp)->setEnabled(row > 0);
  kit_->Control(sourcespage::kMoveDown)->setEnabled(row >= 0 && row < count - 1);
  order_->setEnabled(count > 1);
}

void SourcesPage::UpdateSchedule() {
  bool on = auto_->isChecked();
  for (int id : {sourcespage::kAtLeastUpDown, sourcespage::kAtMostUpDown, sourcespage::kAtLeastLabel,
                 sourcespage::kAtMostLabel, sourcespage::kAtLeastUnits, sourcespage::kAtMostUnits})
    kit_->Control(id)->setEnabled(on);
}

bool SourcesPage::OnPageCommand(ConfigurationSheet&, QWidget*, int id, UINT, int) {
  switch (id) {
    case sourcespage::kAddSource: Add(); return true;
    case sourcespage::kEditSource: Edit(); return true;
    case sourcespage::kRemoveSource: Remove(); return true;
    case sourcespage::kMoveUp: Move(true); return true;
    case sourcespage::kMoveDown: Move(false); return true;
    case sourcespage::kAutoUpdate: UpdateSchedule(); return true;
    default: return false;
  }
}

LRESULT SourcesPage::OnPageNotify(ConfigurationSheet&, QWidget*, const PageNotification& n, int) {
  if (n.controlId == sourcespage::kSourceList && n.code == LVN_ITEMCHANGED) UpdateButtons();
  return 0;
}

void SourcesPage::Take(CDataSource& source, const DataSourceDialogData& data) {
  source.SetURL(data.url.c_str());
  source.SetFilter(NullIfEmpty(data.filterName));
  source.SetUserData1(NullIfEmpty(data.userData));
  source.SetUserNameA(NullIfEmpty(data.user));
  source.SetPassword(NullIfEmpty(data.password));
}

void SourcesPage::Add() {
  DataSourceDialogData data;
  if (DataSourceDialog(data, nullptr, &filters_, nullptr, page_, kit_->Module()) != IDC_OK) return;
  auto* source = new CDataSource;
  Take(*source, data);
  if (!Data().Sources.Add(source)) {
    delete source;
    return;
  }
  auto* row = new QTreeWidgetItem(list_);
  SetRow(row, source);
  list_->clearSelection();
  list_->setCurrentItem(row);
  row->setSelected(true);
  ShowWholeAddress();
  UpdateButtons();
  MarkChanged();
}

void SourcesPage::ShowWholeAddress() {
  // A new or changed address longer than its column widens it; the list scrolls sideways.
  int width = list_->columnWidth(0);
  list_->resizeColumnToContents(0);
  if (list_->columnWidth(0) < width) list_->setColumnWidth(0, width);
}

void SourcesPage::Edit() {
  CDataSource* source = Selected();
  if (!source) return;
  DataSourceDialogData data;
  if (DataSourceDialog(data, source, &filters_, nullptr, page_, kit_->Module()) != IDC_OK) return;
  Take(*source, data);
  SetRow(list_->selectedItems().front(), source);
  ShowWholeAddress();
  MarkChanged();
}

void SourcesPage::Remove() {
  CDataSource* source = Selected();
  if (!source) return;
  int row = list_->indexOfTopLevelItem(list_->selectedItems().front());
  Data().Sources.Remove(source);
  delete list_->takeTopLevelItem(row);
  int next = std::min(row, list_->topLevelItemCount() - 1);
  if (next >= 0) {
    list_->setCurrentItem(list_->topLevelItem(next));
    list_->topLevelItem(next)->setSelected(true);
  }
  UpdateButtons();
  MarkChanged();
}

void SourcesPage::Move(bool up) {
  CDataSource* source = Selected();
  if (!source) return;
  CDataSourceList& sources = Data().Sources;
  if (!(up ? sources.MoveUp(source) : sources.MoveDown(source))) return;
  Fill(source);
  UpdateButtons();
  MarkChanged();
}

HRESULT SourcesPage::ValidatePage(ConfigurationSheet&, QWidget*, int) {
  CSettingsData& d = Data();
  if (order_->currentIndex() >= 0) d.MultiServerMode = static_cast<uint32_t>(order_->currentIndex());
  if (d.Sources.GetCount() == 0) return Refuse(kStrNoDataSource);
  d.UpdateAttempts = static_cast<uint32_t>(attempts_->value());
  d.UpdateRetryPause = static_cast<uint32_t>(pause_->value());
  d.AutoUpdate = auto_->isChecked() ? 1 : 0;
  uint32_t atLeast = atLeast_->Read(d.UpdateAtLeast);
  uint32_t atMost = atMost_->Read(d.UpdateAtMost);
  if (atMost > atLeast) {
    atMost = atLeast;
    atMost_->SetSeconds(atMost);
  }
  d.UpdateAtLeast = atLeast;
  d.UpdateAtMost = atMost;
  return S_OK;
}

// ---- Page 5: the connection ----

// The combo box's items stand for these Proxy values.
constexpr uint32_t kProxyOfItem[3] = {2, 0, 1};
constexpr int kNamedProxyItem = 2;

class ConnectionPage : public ServerPage {
 public:
  ConnectionPage() : ServerPage(5) {}
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  HRESULT ValidatePage(ConfigurationSheet& sheet, QWidget* page, int index) override;

 private:
  void UpdateEnabling();

  QRadioButton* dialUp_ = nullptr;
  QRadioButton* lan_ = nullptr;
  QComboBox* proxy_ = nullptr;
  QLineEdit* host_ = nullptr;
  QLineEdit* port_ = nullptr;
  QCheckBox* noProxyForLan_ = nullptr;
};

void ConnectionPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int) {
  Bind(sheet, page, kit);
  dialUp_ = kit.Add(connectionpage::kDialUp, new QRadioButton(kit.Text(kStrDialUp), page));
  lan_ = kit.Add(connectionpage::kLan, new QRadioButton(kit.Text(kStrLan), page));
  auto* connection = new QGridLayout;
  connection->addWidget(dialUp_, 0, 0);
  connection->addWidget(kit.AddButton(connectionpage::kDialUpSettings, kStrDialUpSettings), 0, 1);
  connection->addWidget(lan_, 1, 0);
  connection->addWidget(kit.AddButton(connectionpage::kLanSettings, kStrLanSettings), 1, 1);
  connection->setColumnStretch(2, 1);

  proxy_ = kit.Add(connectionpage::kProxy, new QComboBox(page));
  for (UINT item : kStrProxyItems) proxy_->addItem(kit.Text(item));
  SetComboDropHeight(proxy_, 3);
  host_ = kit.Add(connectionpage::kProxyHost, new QLineEdit(page));
  port_ = kit.Add(connectionpage::kProxyPort, new QLineEdit(page));
  port_->setMaxLength(100);
  port_->setMaximumWidth(port_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
  noProxyForLan_ = kit.Add(connectionpage::kNoProxyForLan, new QCheckBox(kit.Text(kStrNoProxyForLan), page));
  auto* proxyLabel = new QLabel(kit.Text(kStrProxyLabel), page);
  proxyLabel->setBuddy(proxy_);
  auto* proxy = new QGridLayout;
  proxy->addWidget(proxyLabel, 0, 0);
  proxy->addWidget(proxy_, 0, 1, 1, 3);
  kit.AddRow(proxy, 1, connectionpage::kProxyHostLabel, kStrProxyHostLabel, host_);
  proxy->addWidget(kit.AddLabel(connectionpage::kProxyPortLabel, kStrProxyPortLabel, port_), 1, 2);
  proxy->addWidget(port_, 1, 3);
  proxy->addWidget(noProxyForLan_, 2, 1, 1, 3);
  auto* account = new QHBoxLayout;
  account->addWidget(kit.AddButton(connectionpage::kProxyAccount, kStrProxyAccount));
  account->addStretch();
  proxy->addLayout(account, 3, 1, 1, 3);
  proxy->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(connection);
  layout->addSpacing(10);
  layout->addLayout(proxy);
  layout->addStretch();
}

void ConnectionPage::InitPage(ConfigurationSheet&, QWidget*, int) {
  CSettingsData& d = Data();
  int item = -1;
  for (int i = 0; i < 3; ++i)
    if (kProxyOfItem[i] == d.Proxy) item = i;
  proxy_->setCurrentIndex(item);
  std::string server = d.ProxyServer.c_str() ? d.ProxyServer.c_str() : "";
  size_t colon = server.find(':');
  std::string host = server.substr(0, colon);
  host_->setMaxLength(TextLimit(host.c_str()));
  host_->setText(FromAnsi(host.c_str()));
  port_->setText(colon == std::string::npos ? QString() : FromAnsi(server.substr(colon + 1).c_str()));
  (d.Modem ? dialUp_ : lan_)->setChecked(true);
  noProxyForLan_->setChecked(d.NoProxyForLAN != 0);
  UpdateEnabling();
}

void ConnectionPage::UpdateEnabling() {
  kit_->Control(connectionpage::kDialUpSettings)->setEnabled(dialUp_->isChecked());
  // There is no system dialog of LAN settings to open here.
  kit_->Control(connectionpage::kLanSettings)->setEnabled(false);
  bool named = proxy_->currentIndex() == kNamedProxyItem;
  for (int id : {connectionpage::kProxyHostLabel, connectionpage::kProxyPortLabel, connectionpage::kProxyHost,
                 connectionpage::kProxyPort, connectionpage::kProxyAccount, connectionpage::kNoProxyForLan})
    kit_->Control(id)->setEnabled(named);
}

bool ConnectionPage::OnPageCommand(ConfigurationSheet& sheet, QWidget*, int id, UINT, int) {
  CSettingsData& d = Data();
  switch (id) {
    case connectionpage::kDialUp:
    case connectionpage::kLan:
    case connectionpage::kProxy: UpdateEnabling(); return true;
    case connectionpage::kDialUpSettings:
      if (DialUpDialog(sheet.Settings(), page_, kit_->Module()) == IDC_OK) MarkChanged();
      return true;
    case connectionpage::kProxyAccount: {
      std::string user, password;
      if (AccountDialog(d.ProxyUserName.c_str(), d.ProxyPassword.c_str(), page_, kit_->Module(), 1, user, password) !=
          IDC_OK)
        return true;
      d.ProxyUserName = NullIfEmpty(user);
      d.ProxyPassword = NullIfEmpty(password);
      MarkChanged();
      return true;
    }
    default:
      return false;
  }
}

HRESULT ConnectionPage::ValidatePage(ConfigurationSheet&, QWidget*, int) {
  CSettingsData& d = Data();
  std::string host = ToAnsi(host_->text()), port = ToAnsi(port_->text());
  std::string server = port.empty() ? std::string() : host + ":" + port;
  d.ProxyServer = NullIfEmpty(server);
  int item = proxy_->currentIndex();
  if (item >= 0 && item < 3) d.Proxy = kProxyOfItem[item];
  d.Modem = dialUp_->isChecked() ? 1 : 0;
  d.NoProxyForLAN = noProxyForLan_->isChecked() ? 1 : 0;
  if (d.Modem && d.DialUp.IsEmpty()) return Refuse(kStrNoDialUpEntry);
  if (d.Proxy == 1 && (server.empty() || server[0] == ':' || !IsProxyPort(port))) return Refuse(kStrBadProxy);
  return S_OK;
}

}  // namespace

std::unique_ptr<IConfigPage> MakeSourcesPage() { return std::make_unique<SourcesPage>(); }
std::unique_ptr<IConfigPage> MakeConnectionPage() { return std::make_unique<ConnectionPage>(); }

}  // namespace vtx::manager
