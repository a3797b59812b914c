#include "manager/datasourcedialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <cstring>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/datasource.h"
#include "engine/currency/settings.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/update/inetconnection.h"
#include "manager/controlids.h"
#include "manager/dialogs.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

bool NoVersionResource(const char*, WORD*) { return false; }
ProgramVersionReader g_versionReader = NoVersionResource;

// The address box tells when it loses the focus to anything but its own drop list.
class AddressCombo : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> onFocusLost;

 protected:
  void focusOutEvent(QFocusEvent* e) override {
    QComboBox::focusOutEvent(e);
    if (e->reason() != Qt::PopupFocusReason && onFocusLost) onFocusLost();
  }
};

constexpr int kVisibleItems = 9;
// The placeholder of user data 1 in an address.
constexpr char kUserData1[] = "[1]";
// The hand cursor of the link (the design's cursor 109, when the system has none).
constexpr int kLinkCursor = 109;

}  // namespace

bool ProgramOlderThan(const char* minimum, const WORD version[4]) {
  if (!minimum) return false;
  const char* p = minimum;
  for (int field = 0; field < 4; ++field) {
    if (*p < '0' || *p > '9') return false;
    uint64_t n = 0;
    while (*p >= '0' && *p <= '9') {
      if (n <= 0xFFFF) n = n * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
    }
    if (n > version[field]) return true;  // a field above 65535 included
    if (n < version[field]) return false;
    if (*p != '.') return false;
    ++p;
  }
  return false;
}

void SetProgramVersionReader(ProgramVersionReader reader) { g_versionReader = reader ? reader : NoVersionResource; }

// ---- Data-source dialog ----

CDataSourceDialog::CDataSourceDialog(DataSourceDialogData& data, const CDataSource* source, CFilterList& filters,
                                     const char* onlyFilter, QWidget* owner, HMODULE module)
    : CKitDialog(owner, module, source ? kStrEditSourceTitle : kStrNewSourceTitle), data_(data), filters_(filters) {
  if (source) {
    data_.url = source->GetURL() ? source->GetURL() : "";
    data_.filterName = source->GetFilter() ? source->GetFilter() : "";
    data_.userData = source->GetUserData1() ? source->GetUserData1() : "";
    data_.user = source->GetUserNameA() ? source->GetUserNameA() : "";
    data_.password = source->GetPassword() ? source->GetPassword() : "";
  } else {
    data_.url.clear();
    data_.filterName.clear();
  }
  textLimit_ = std::max<int>(500, 2 * static_cast<int>(FromAnsi(data_.url.c_str()).size()));

  filterBox_ = kit_.Add(datasourcedialog::kFilter, new QComboBox(this));
  auto* address = kit_.Add(datasourcedialog::kAddress, new AddressCombo(this));
  addressBox_ = address;
  addressBox_->setEditable(true);
  addressBox_->setInsertPolicy(QComboBox::NoInsert);
  addressBox_->setCompleter(nullptr);
  addressBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  addressBox_->setMinimumContentsLength(50);
  userData_ = kit_.Add(datasourcedialog::kUserData, new QLineEdit(this));
  QPushButton* account = kit_.AddButton(datasourcedialog::kAccount, kStrAccountButton);
  description_ = kit_.Add(datasourcedialog::kDescription, new QPlainTextEdit(this));
  description_->setReadOnly(true);
  description_->setFixedHeight(description_->fontMetrics().lineSpacing() * 3 + 12);
  auto* descriptionLabel = new QLabel(kit_.Text(kStrDescriptionLabel), this);
  auto* link = kit_.Add(datasourcedialog::kHomePageLink, new CRichTextView(this));
  link->setFixedHeight(link->fontMetrics().lineSpacing() + 8);

  auto* grid = new QGridLayout(this);
  kit_.AddRow(grid, 0, datasourcedialog::kFilterLabel, kStrFilterLabel, filterBox_, 2);
  kit_.AddRow(grid, 1, datasourcedialog::kAddressLabel, kStrAddressLabel, addressBox_, 2);
  kit_.AddRow(grid, 2, datasourcedialog::kUserDataLabel, kStrUserDataLabel, userData_);
  grid->addWidget(account, 2, 2);
  grid->addWidget(descriptionLabel, 3, 0, Qt::AlignTop);
  grid->addWidget(description_, 3, 1, 1, 2);
  grid->addWidget(link, 4, 1, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->addWidget(MakeButtons(), 5, 0, 1, 3);

  // Step 1: the filter list, the address and the user data.
  int selectedFilter = -1;
  for (uint32_t i = 0; i < filters_.GetCount(); ++i) {
    const CFilter* f = filters_[i];
    if (f->GetHide()) continue;
    if (onlyFilter && _stricmp(f->GetName(), onlyFilter) != 0) continue;
    if (selectedFilter < 0 && !data_.filterName.empty() && _stricmp(f->GetName(), data_.filterName.c_str()) == 0)
      selectedFilter = filterBox_->count();
    filterBox_->addItem(FromAnsi(f->GetDisplayName()), static_cast<int>(i));
  }
  if (selectedFilter < 0 && !onlyFilter) selectedFilter = filterBox_->findData(filters_.Find(nullptr));
  filterBox_->setCurrentIndex(selectedFilter);
  SetComboDropHeight(filterBox_, kVisibleItems);
  addressBox_->lineEdit()->setMaxLength(textLimit_);
  addressBox_->setEditText(FromAnsi(data_.url.c_str()));
  userData_->setText(FromAnsi(data_.userData.c_str()));
  OnFilterChosen();

  QObject::connect(filterBox_, &QComboBox::currentIndexChanged, this, [this] { OnFilterChosen(); });
  QObject::connect(addressBox_, &QComboBox::activated, this, [this](int i) { OnEntryChosen(i); });
  QObject::connect(addressBox_->lineEdit(), &QLineEdit::textEdited, this, [this] { OnAddressEdited(); });
  address->onFocusLost = [this] { OnAddressLeft(); };
  QObject::connect(account, &QPushButton::clicked, this, [this] { OnAccount(); });

  kit_.SetHelpMap({{IDC_OK, source ? 340 : 342},
                   {IDC_CANCEL, source ? 341 : 343},
                   {datasourcedialog::kAddress, 51},
                   {datasourcedialog::kAddressLabel, 51},
                   {datasourcedialog::kFilter, 204},
                   {datasourcedialog::kFilterLabel, 204},
                   {datasourcedialog::kUserDataLabel, 399},
                   {datasourcedialog::kUserData, 399},
                   {datasourcedialog::kAccount, 138}},
                  {datasourcedialog::kDescription, datasourcedialog::kHomePageLink});
}

CDataSourceDialog::~CDataSourceDialog() = default;

const CFilter::CFilterURL* CDataSourceDialog::Entry() const {
  if (!filter_) return nullptr;
  // The selected entry, else the one whose text was typed.
  int i = selected_;
  if (i < 0 && !addressBox_->currentText().isEmpty())
    i = addressBox_->findText(addressBox_->currentText(), Qt::MatchFixedString);
  return i < 0 ? nullptr : filter_->GetURL(static_cast<uint32_t>(addressBox_->itemData(i).toInt()));
}

std::string CDataSourceDialog::Address() const {
  const CFilter::CFilterURL* entry = Entry();
  if (entry && entry->GetAddress()) return entry->GetAddress();
  return ToAnsi(addressBox_->currentText());
}

void CDataSourceDialog::SelectEntry(int index) {
  addressBox_->setCurrentIndex(index);
  addressBox_->lineEdit()->setCursorPosition(0);
  selected_ = index;
}

void CDataSourceDialog::OnFilterChosen() {
  // Step 2: a typed text stays while the list is made anew; a chosen entry goes with its list.
  QString typed = addressBox_->currentText();
  bool keepTyped = selected_ < 0 && !typed.isEmpty();
  addressBox_->clear();
  selected_ = -1;
  int chosen = filterBox_->currentIndex();
  filter_ = chosen >= 0 ? filters_[static_cast<uint32_t>(filterBox_->itemData(chosen).toInt())] : nullptr;
  if (filter_) {
    for (uint32_t n = 0; n < filter_->GetURLCount(); ++n) {
      const CFilter::CFilterURL* entry = filter_->GetURL(n);
      bool byAddress = (entry->GetFlags() & kUrlTypeEdit) || !entry->GetName() || !*entry->GetName();
      QString text = FromAnsi(byAddress ? entry->GetAddress() : entry->GetName());
      textLimit_ = std::max(textLimit_, static_cast<int>(text.size()));
      addressBox_->addItem(text, static_cast<int>(n));
    }
  }
  addressBox_->lineEdit()->setMaxLength(textLimit_);
  int count = addressBox_->count();
  SetComboDropHeight(addressBox_, count >= 1 && count <= kVisibleItems ? count : kVisibleItems);
  if (keepTyped || count == 0) {
    addressBox_->setCurrentIndex(-1);
    addressBox_->setEditText(keepTyped ? typed : QString());
  } else {
    SelectEntry(0);
  }
  Update();
  UpdateOk();
}

void CDataSourceDialog::OnEntryChosen(int index) {
  selected_ = index;
  Update();
  UpdateOk();
}

void CDataSourceDialog::OnAddressEdited() {
  selected_ = -1;
  UpdateOk();
  UpdateUserData();
}

void CDataSourceDialog::OnAddressLeft() {
  // A typed address is written the way the downloads will read it.
  if (Entry() || userDataNeeded_ || addressBox_->currentText().isEmpty()) return;
  CINetConnection connection;
  CBuffer<char> canonical(0, 0);
  if (FAILED(connection.CanonicalizeUrl(ToAnsi(addressBox_->currentText()).c_str(), canonical, ICU_BROWSER_MODE)))
    return;
  QString text = FromAnsi(canonical.GetData());
  if (text.size() <= textLimit_ && text != addressBox_->currentText()) addressBox_->setEditText(text);
}

void CDataSourceDialog::Update() {
  // Step 3: a typed text that names an entry selects it.
  if (selected_ < 0 && filter_) {
    QString typed = addressBox_->currentText();
    int found = typed.isEmpty() ? -1 : addressBox_->findText(typed, Qt::MatchFixedString);
    for (int i = 0; found < 0 && !typed.isEmpty() && i < addressBox_->count(); ++i) {
      const CFilter::CFilterURL* entry = filter_->GetURL(static_cast<uint32_t>(addressBox_->itemData(i).toInt()));
      bool byName = entry->GetName() && *entry->GetName() && !(entry->GetFlags() & kUrlTypeEdit);
      if (byName && entry->GetAddress() && typed.compare(FromAnsi(entry->GetAddress()), Qt::CaseInsensitive) == 0)
        found = i;
    }
    if (found >= 0) {
      SelectEntry(found);
      // Highlighted, with its beginning in view.
      int n = static_cast<int>(addressBox_->currentText().size());
      addressBox_->lineEdit()->setSelection(n, -n);
    }
  }
  const CFilter::CFilterURL* entry = selected_ >= 0 ? Entry() : nullptr;
  description_->setPlainText(entry && entry->GetComment() ? FromAnsi(entry->GetComment()) : QString());
  FitEditScrollBar(description_);
  const char* information = filter_ ? filter_->GetInformation() : nullptr;
  if (information && *information) {
    std::string text = LoadText(Kit().Module(), kStrHomePageLink, 100);
    homePage_.SetLink(this, datasourcedialog::kHomePageLink, text.c_str(), information, kLinkCursor, Kit().Module());
  } else {
    homePage_.SetText(this, datasourcedialog::kHomePageLink, static_cast<const char*>(nullptr), -1, Kit().Module());
  }
  if (entry && entry->GetRequiredVersion() && *entry->GetRequiredVersion())
    CheckVersion(entry->GetRequiredVersion(), kStrAddressNeedsVersion);
  else if (filter_ && filter_->GetRequiredVersion() && *filter_->GetRequiredVersion())
    CheckVersion(filter_->GetRequiredVersion(), kStrFilterNeedsVersion);
  UpdateUserData();
}

void CDataSourceDialog::CheckVersion(const char* minimum, UINT warning) {
  RegStringValueA server;
  if (FAILED(server.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "Server")) || !server.GetString()) return;
  WORD version[4] = {};
  if (!g_versionReader(server.GetString(), version)) return;
  if (ProgramOlderThan(minimum, version))
    FormatMessageBox(this, warning, kStrProduct, MB_ICONEXCLAMATION, Kit().Module());
}

void CDataSourceDialog::UpdateUserData() {
  userDataNeeded_ = Address().find(kUserData1) != std::string::npos;
  userData_->setEnabled(userDataNeeded_);
}

void CDataSourceDialog::UpdateOk() { ok_->setEnabled(!addressBox_->currentText().isEmpty() && filter_); }

void CDataSourceDialog::OnAccount() {
  std::string user, password;
  if (AccountDialog(data_.user.c_str(), data_.password.c_str(), this, Kit().Module(), 0, user, password) == IDC_OK) {
    data_.user = user;
    data_.password = password;
  }
}

void CDataSourceDialog::OnOk() {
  if (!filter_ || addressBox_->currentText().isEmpty()) return;
  std::string userData = ToAnsi(userData_->text());
  if (userData.empty() && userDataNeeded_) {
    RegStringValueA id;
    if (SUCCEEDED(id.Load(HKEY_LOCAL_MACHINE, g_szAppKey, "UserID")) && id.GetString() && *id.GetString()) {
      int answer = FormatMessageBox(this, kStrUseUserId, kStrProduct, MB_YESNOCANCEL | MB_ICONEXCLAMATION,
                                    Kit().Module(), id.GetString());
      if (answer == IDCANCEL) return;
      if (answer == IDYES) userData = id.GetString();
    }
  }
  data_.url = Address();
  data_.filterName = filter_->GetName() ? filter_->GetName() : "";
  data_.userData = userData;
  done(IDC_OK);
}

void CDataSourceDialog::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange && !isActiveWindow()) homePage_.OnMouseLeave();
  CKitDialog::changeEvent(e);
}

int DataSourceDialog(DataSourceDialogData& data, const CDataSource* source, CFilterList* filters,
                     const char* onlyFilter, QWidget* owner, HMODULE module) {
  if (!filters) return IDC_CANCEL;
  DataSourceDialogData working = data;
  CDataSourceDialog dialog(working, source, *filters, onlyFilter, owner, module);
  int result = dialog.Run();
  if (result == IDC_OK) data = working;
  return result;
}

// ---- Dial-up dialog ----

CDialUpDialog::CDialUpDialog(CSettings& settings, QWidget* owner, HMODULE module)
    : CKitDialog(owner, module, kStrDialUpTitle), settings_(settings), connection_(std::make_unique<CINetConnection>()) {
  CSettingsData* data = settings_.GetData();
  auto* entries = kit_.Add(dialupdialog::kEntry, new QComboBox(this));
  QPushButton* edit = kit_.AddButton(dialupdialog::kEditEntry, kStrDialUpEditButton);
  auto* user = kit_.Add(dialupdialog::kUser, new QLineEdit(FromAnsi(data->DialUpUserName.c_str()), this));
  auto* password = kit_.Add(dialupdialog::kPassword, new CPasswordEdit(this));
  auto* domain = kit_.Add(dialupdialog::kDomain, new QLineEdit(FromAnsi(data->DialUpDomain.c_str()), this));
  auto* hangUp = kit_.Add(dialupdialog::kHangUp, new QCheckBox(kit_.Text(kStrDialUpHangUp), this));

  auto* grid = new QGridLayout(this);
  kit_.AddRow(grid, 0, dialupdialog::kEntryLabel, kStrDialUpEntryLabel, entries);
  grid->addWidget(edit, 0, 2);
  kit_.AddRow(grid, 1, dialupdialog::kUserLabel, kStrUserLabel, user, 2);
  kit_.AddRow(grid, 2, dialupdialog::kPasswordLabel, kStrPasswordLabel, password, 2);
  kit_.AddRow(grid, 3, dialupdialog::kDomainLabel, kStrDomainLabel, domain, 2);
  grid->addWidget(hangUp, 4, 1, 1, 2);
  grid->setColumnMinimumWidth(1, 220);
  grid->setColumnStretch(1, 1);
  grid->addWidget(MakeButtons(), 5, 0, 1, 3);

  RASENTRYNAMEA* names = nullptr;
  DWORD count = 0;
  HRESULT listed = connection_->EnumEntries(&names, &count);
  if (SUCCEEDED(listed)) {
    int selected = count ? 0 : -1;
    for (DWORD i = 0; i < count; ++i) {
      if (data->DialUp.c_str() && std::strcmp(names[i].szEntryName, data->DialUp.c_str()) == 0)
        selected = static_cast<int>(i);
      entries->addItem(FromAnsi(names[i].szEntryName));
    }
    entries->setCurrentIndex(selected);
    SetComboDropHeight(entries, kVisibleItems);
  }
  if (names) LocalFree(names);
  edit->setEnabled(SUCCEEDED(listed));
  password->ShowStored(!data->DialUpPassword.IsEmpty());
  hangUp->setChecked(data->HangUp != 0);

  QObject::connect(entries, &QComboBox::activated, this, [edit] { edit->setEnabled(true); });
  QObject::connect(edit, &QPushButton::clicked, this, [this, entries] {
    if (entries->currentIndex() >= 0)
      connection_->EditPhonebookEntry(nullptr, nullptr, ToAnsi(entries->currentText()).c_str());
  });

  kit_.SetHelpMap({{IDC_OK, 75},
                   {IDC_CANCEL, 76},
                   {dialupdialog::kEditEntry, 70},
                   {dialupdialog::kHangUp, 74},
                   {dialupdialog::kUser, 71},
                   {dialupdialog::kEntry, 69},
                   {dialupdialog::kPassword, 72},
                   {dialupdialog::kPasswordLabel, 72},
                   {dialupdialog::kDomain, 73},
                   {dialupdialog::kDomainLabel, 73},
                   {dialupdialog::kEntryLabel, 69},
                   {dialupdialog::kUserLabel, 71}});
}

CDialUpDialog::~CDialUpDialog() = default;

void CDialUpDialog::OnOk() {
  CSettingsData* data = settings_.GetData();
  auto* entries = kit_.Control<QComboBox>(dialupdialog::kEntry);
  data->DialUp = entries->currentIndex() >= 0 ? ToAnsi(entries->currentText()).c_str() : "";
  // An empty field keeps what is stored.
  std::string user = ToAnsi(kit_.Control<QLineEdit>(dialupdialog::kUser)->text());
  std::string domain = ToAnsi(kit_.Control<QLineEdit>(dialupdialog::kDomain)->text());
  auto* password = static_cast<CPasswordEdit*>(kit_.Control(dialupdialog::kPassword));
  if (!user.empty()) data->DialUpUserName = user.c_str();
  if (password->Edited() && !password->text().isEmpty()) data->DialUpPassword = ToAnsi(password->text()).c_str();
  if (!domain.empty()) data->DialUpDomain = domain.c_str();
  data->HangUp = kit_.Control<QCheckBox>(dialupdialog::kHangUp)->isChecked() ? 1 : 0;
  done(IDC_OK);
}

int DialUpDialog(CSettings& settings, QWidget* owner, HMODULE module) {
  CDialUpDialog dialog(settings, owner, module);
  return dialog.Run();
}

}  // namespace vtx::manager
