// Pages 4 (administration), 6 (warnings), 7 (notifications) and 8 (information).
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <filesystem>

#include "engine/foundation/commandline.h"
#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "engine/notify/mail.h"
#include "engine/notify/notifychannels.h"
#include "engine/notify/pipemessage.h"
#include "engine/notify/reachserver.h"
#include "engine/notify/testnotification.h"
#include "manager/configsession.h"
#include "manager/configtexts.h"
#include "manager/controlids.h"
#include "manager/dialogs.h"
#include "manager/duration.h"
#include "manager/filepicker.h"
#include "manager/managerdefs.h"
#include "manager/offgui.h"
#include "manager/pagetexts.h"
#include "manager/richtext.h"
#include "manager/serverpages.h"
#include "manager/traymenu.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

constexpr int kHandCursor = 109;
// Help of the information page's links (the system's own).
constexpr UINT kStrWebServiceLinkHelp = 3451;
constexpr UINT kStrSupportLinkHelp = 3452;

QLineEdit* AddEdit(CFormKit& kit, int id, QWidget* parent) { return kit.Add(id, new QLineEdit(parent)); }

// The edit's text limit and text from a stored value.
void ShowText(QLineEdit* edit, const CStringA& stored) {
  edit->setMaxLength(TextLimit(stored.c_str()));
  edit->setText(FromAnsi(stored.c_str() ? stored.c_str() : ""));
}

QCheckBox* AddCheck(CFormKit& kit, int id, UINT text, QWidget* parent) {
  return kit.Add(id, new QCheckBox(kit.Text(text), parent));
}

QComboBox* AddCombo(CFormKit& kit, int id, std::initializer_list<UINT> items, QWidget* parent) {
  auto* combo = kit.Add(id, new QComboBox(parent));
  for (UINT item : items) combo->addItem(kit.Text(item));
  SetComboDropHeight(combo, static_cast<int>(items.size()));
  return combo;
}

QLabel* Units(CFormKit& kit, QWidget* parent, int id = 0) {
  if (id) return kit.AddLabel(id, kStrDurationUnits);
  return new QLabel(kit.Text(kStrDurationUnits), parent);
}

}  // namespace

// ---- Rules ----

uint32_t WarningLimitRule(uint32_t max, uint32_t previousEach, uint32_t each, bool changeInMax) {
  if (each >= max || each == 0) return each;
  return changeInMax || each > previousEach ? max : 0;
}

std::optional<std::string> ProgramFromFolder(const std::string& chosen, const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path dir = fs::canonical(folder, ec);
  if (ec) return std::nullopt;
  fs::path file = fs::canonical(chosen, ec);
  if (ec || file.parent_path() != dir) return std::nullopt;
  std::string name = file.filename().string();
  // A name with '"' cannot be quoted on the command line.
  if (!vtx::IsPlainFileName(name.c_str()) || name.find('"') != std::string::npos) return std::nullopt;
  if (name.find_first_of(" \t") != std::string::npos) return "\"" + name + "\"";
  return name;
}

std::string ProgramFolder(const char* valueName) {
  std::string folder;
  if (ReadAppPath(valueName, folder)) return folder;
  std::string path;
  if (!ReadAppPath("Path", path)) return "";
  return vtx::JoinPath(path, valueName);
}

namespace {

// ---- Page 4: administration ----

class AdminPage : public ServerPage {
 public:
  AdminPage() : ServerPage(4) {}
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  HRESULT ValidatePage(ConfigurationSheet& sheet, QWidget* page, int index) override;

 private:
  struct Program {
    QLineEdit* edit;
    const char* folderValue;  // "Actions" or "Validators"
  };
  void Browse(const Program& program);
  void RunAs(CStringA& user, CStringA& password);
  bool Refused(const Program& program);
  void UpdateEnabling();

  QCheckBox* com_ = nullptr;
  QCheckBox* webService_ = nullptr;
  QComboBox* when_ = nullptr;
  Program action_{};
  Program validation_{};
};

void AdminPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int) {
  Bind(sheet, page, kit);
  com_ = AddCheck(kit, adminpage::kAllowAdminCom, kStrAllowAdminCom, page);
  webService_ = AddCheck(kit, adminpage::kAllowAdminWebService, kStrAllowAdminWebService, page);
  action_ = {AddEdit(kit, adminpage::kCustomAction, page), "Actions"};
  validation_ = {AddEdit(kit, adminpage::kClientValidation, page), "Validators"};
  when_ = AddCombo(kit, adminpage::kRunCustomAction,
                   {kStrCustomActionItems[0], kStrCustomActionItems[1], kStrCustomActionItems[2]}, page);

  auto* grid = new QGridLayout;
  grid->addWidget(kit.AddLabel(adminpage::kCustomActionLabel, kStrCustomActionLabel, action_.edit), 0, 0, 1, 3);
  grid->addWidget(action_.edit, 1, 0, 1, 2);
  grid->addWidget(kit.AddButton(adminpage::kBrowseCustomAction, kStrBrowse), 1, 2);
  grid->addWidget(kit.AddLabel(adminpage::kRunCustomActionLabel, kStrRunCustomActionLabel, when_), 2, 0);
  grid->addWidget(when_, 2, 1);
  grid->addWidget(kit.AddButton(adminpage::kCustomActionRunAs, kStrRunAs), 2, 2);
  grid->setRowMinimumHeight(3, 12);
  grid->addWidget(kit.AddLabel(adminpage::kClientValidationLabel, kStrClientValidationLabel, validation_.edit), 4, 0, 1,
                  3);
  grid->addWidget(validation_.edit, 5, 0, 1, 2);
  grid->addWidget(kit.AddButton(adminpage::kBrowseClientValidation, kStrBrowse), 5, 2);
  grid->addWidget(kit.AddButton(adminpage::kClientValidationRunAs, kStrRunAs), 6, 2);
  grid->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(com_);
  layout->addWidget(webService_);
  layout->addSpacing(12);
  layout->addLayout(grid);
  layout->addStretch();
}

void AdminPage::InitPage(ConfigurationSheet&, QWidget*, int) {
  CSettingsData& d = Data();
  com_->setChecked(d.AllowAdminCOM != 0);
  webService_->setChecked(d.AllowAdminWebService != 0);
  ShowText(action_.edit, d.CustomAction);
  ShowText(validation_.edit, d.ClientValidation);
  when_->setCurrentIndex(d.ExecuteCustomAction <= 2 ? static_cast<int>(d.ExecuteCustomAction) : -1);
  // Programs under another account are started by the messenger.
  bool messenger = CanSendVXMMessages();
  kit_->Control(adminpage::kCustomActionRunAs)->setEnabled(messenger);
  kit_->Control(adminpage::kClientValidationRunAs)->setEnabled(messenger);
  UpdateEnabling();
}

void AdminPage::UpdateEnabling() { when_->setEnabled(!action_.edit->text().isEmpty()); }

bool AdminPage::OnPageCommand(ConfigurationSheet&, QWidget*, int id, UINT, int) {
  CSettingsData& d = Data();
  switch (id) {
    case adminpage::kBrowseCustomAction: Browse(action_); return true;
    case adminpage::kBrowseClientValidation: Browse(validation_); return true;
    case adminpage::kCustomActionRunAs: RunAs(d.CustomActionUserName, d.CustomActionPassword); return true;
    case adminpage::kClientValidationRunAs: RunAs(d.ClientValidationUserName, d.ClientValidationPassword); return true;
    case adminpage::kCustomAction: UpdateEnabling(); return true;
    default: return false;
  }
}

void AdminPage::Browse(const Program& program) {
  std::string folder = ProgramFolder(program.folderValue);
  std::optional<QString> chosen =
      FilePicker().OpenFile(page_, QString::fromStdString(folder), kit_->Text(kStrProgramFilter));
  if (!chosen) return;
  std::optional<std::string> name = ProgramFromFolder(QFile::encodeName(*chosen).toStdString(), folder);
  if (!name) {
    std::string shown = ToAnsi(*chosen);
    Refuse(kStrProgramRefused, shown.c_str(), program.folderValue);
    return;
  }
  program.edit->setText(QString::fromStdString(*name));
  MarkChanged();
  UpdateEnabling();
}

void AdminPage::RunAs(CStringA& user, CStringA& password) {
  std::string userOut, passwordOut;
  if (AccountDialog(user.c_str(), password.c_str(), page_, kit_->Module(), 2, userOut, passwordOut) != IDC_OK) return;
  user = NullIfEmpty(userOut);
  password = NullIfEmpty(passwordOut);
  MarkChanged();
}

// The runners start a program only by its plain name in their folder.
bool AdminPage::Refused(const Program& program) {
  std::string text = ToAnsi(program.edit->text());
  CStringA name, parameters;
  SplitCommandLine(text.c_str(), name, parameters);
  if (name.IsEmpty() || vtx::IsPlainFileName(name.c_str())) return false;
  Refuse(kStrProgramRefused, name.c_str(), program.folderValue);
  return true;
}

HRESULT AdminPage::ValidatePage(ConfigurationSheet&, QWidget*, int) {
  if (Refused(action_) || Refused(validation_)) return E_INVALIDARG;
  CSettingsData& d = Data();
  d.AllowAdminCOM = com_->isChecked() ? 1 : 0;
  d.AllowAdminWebService = webService_->isChecked() ? 1 : 0;
  if (when_->currentIndex() >= 0) d.ExecuteCustomAction = static_cast<uint32_t>(when_->currentIndex());
  std::string action = ToAnsi(action_.edit->text()), validation = ToAnsi(validation_.edit->text());
  d.CustomAction = NullIfEmpty(action);
  d.ClientValidation = NullIfEmpty(validation);
  return S_OK;
}

// ---- Page 6: warnings ----

class WarningsPage : public ServerPage {
 public:
  WarningsPage() : ServerPage(6) {}
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  HRESULT ValidatePage(ConfigurationSheet& sheet, QWidget* page, int index) override;

 private:
  void UpdateEnabling();
  void Clamp(bool changeInMax);

  QComboBox* fluctuationError_ = nullptr;
  QComboBox* crossCheckError_ = nullptr;
  CNumberSpinBox* maxFluctuation_ = nullptr;
  CNumberSpinBox* crossCheckMax_ = nullptr;
  CDurationSpinBox* monitor_ = nullptr;
  CDurationSpinBox* max_ = nullptr;
  CDurationSpinBox* each_ = nullptr;
  CDurationSpinBox* pause_ = nullptr;
  QCheckBox* weekends_ = nullptr;
  QCheckBox* partial_ = nullptr;
  std::vector<QWidget*> warningControls_;
  DWORD storedMonitor_ = kDefaultApplicationMonitor;  // as the store holds it
  DWORD monitorValue_ = kDefaultApplicationMonitor;   // as last read
  uint32_t previousEach_ = 0;
  bool lastChangeInMax_ = false;
};

void WarningsPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) {
  Bind(sheet, page, kit);
  fluctuationError_ = AddCombo(kit, warningspage::kFluctuationError, {kStrErrorItems[0], kStrErrorItems[1]}, page);
  crossCheckError_ = AddCombo(kit, warningspage::kCrossCheckError, {kStrErrorItems[0], kStrErrorItems[1]}, page);
  maxFluctuation_ = AddNumberField(sheet, kit, index, warningspage::kMaxFluctuation,
                                   warningspage::kMaxFluctuationUpDown, 0, INT_MAX, page);
  crossCheckMax_ = AddNumberField(sheet, kit, index, warningspage::kCrossCheckMax, warningspage::kCrossCheckMaxUpDown,
                                  0, INT_MAX, page);
  monitor_ = AddDurationField(sheet, kit, index, warningspage::kMonitor, warningspage::kMonitorUpDown, page);
  max_ = AddDurationField(sheet, kit, index, warningspage::kLastChange, warningspage::kLastChangeUpDown, page);
  each_ = AddDurationField(sheet, kit, index, warningspage::kLastChangeEach, warningspage::kLastChangeEachUpDown, page);
  pause_ = AddDurationField(sheet, kit, index, warningspage::kWarningPause, warningspage::kWarningPauseUpDown, page);
  weekends_ = AddCheck(kit, warningspage::kNoWeekendWarnings, kStrNoWeekendWarnings, page);
  partial_ = AddCheck(kit, warningspage::kPartialDataWarnings, kStrPartialDataWarnings, page);

  auto* checks = new QGroupBox(kit.Text(kStrRateChecksGroup), page);
  auto* checksGrid = new QGridLayout(checks);
  kit.AddRow(checksGrid, 0, warningspage::kFluctuationErrorLabel, kStrFluctuationErrorLabel, fluctuationError_);
  kit.AddRow(checksGrid, 1, warningspage::kMaxFluctuationLabel, kStrMaxFluctuationLabel, maxFluctuation_);
  kit.AddRow(checksGrid, 2, warningspage::kCrossCheckErrorLabel, kStrCrossCheckErrorLabel, crossCheckError_);
  kit.AddRow(checksGrid, 3, warningspage::kCrossCheckMaxLabel, kStrCrossCheckMaxLabel, crossCheckMax_);
  checksGrid->setColumnStretch(2, 1);

  auto* watchdog = new QGroupBox(kit.Text(kStrWatchdogGroup), page);
  auto* watchdogGrid = new QGridLayout(watchdog);
  kit.AddRow(watchdogGrid, 0, warningspage::kMonitorLabel, kStrMonitorLabel, monitor_);
  watchdogGrid->addWidget(Units(kit, page), 0, 2);
  watchdogGrid->setColumnStretch(3, 1);

  auto* stale = new QGroupBox(kit.Text(kStrStaleRatesGroup), page);
  auto* staleGrid = new QGridLayout(stale);
  kit.AddRow(staleGrid, 0, warningspage::kLastChangeLabel, kStrLastChangeLabel, max_);
  staleGrid->addWidget(Units(kit, page), 0, 2);
  kit.AddRow(staleGrid, 1, warningspage::kLastChangeEachLabel, kStrLastChangeEachLabel, each_);
  staleGrid->addWidget(Units(kit, page), 1, 2);
  kit.AddRow(staleGrid, 2, warningspage::kWarningPauseLabel, kStrWarningPauseLabel, pause_);
  staleGrid->addWidget(Units(kit, page, warningspage::kWarningPauseUnits), 2, 2);
  staleGrid->addWidget(weekends_, 3, 0, 1, 3);
  staleGrid->setColumnStretch(3, 1);
  warningControls_ = {kit.Control(warningspage::kWarningPauseLabel), pause_,
                      kit.Control(warningspage::kWarningPauseUnits), weekends_};
  // The clamp of the rule runs when a limit is left, not while it is typed.
  max_->SetOnFocusOut([this] { Clamp(true); });
  each_->SetOnFocusOut([this] { Clamp(false); });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(checks);
  layout->addWidget(watchdog);
  layout->addWidget(stale);
  layout->addWidget(partial_);
  layout->addStretch();
}

void WarningsPage::InitPage(ConfigurationSheet& sheet, QWidget*, int) {
  CSettingsData& d = Data();
  fluctuationError_->setCurrentIndex(d.FluctuationError ? 1 : 0);
  crossCheckError_->setCurrentIndex(d.CrossCheckError ? 1 : 0);
  maxFluctuation_->setValue(static_cast<int>(std::min<uint32_t>(d.MaxFluctuation, INT_MAX)));
  crossCheckMax_->setValue(static_cast<int>(std::min<uint32_t>(d.CrossCheckMaxFluctuation, INT_MAX)));
  RegDwordValue stored;
  storedMonitor_ = SUCCEEDED(stored.Load(HKEY_LOCAL_MACHINE, kAppKey, kApplicationMonitor))
                       ? static_cast<DWORD>(stored)
                       : kDefaultApplicationMonitor;
  monitorValue_ = storedMonitor_;
  sheet.StagedValue(kApplicationMonitor, &monitorValue_);
  monitor_->SetSeconds(monitorValue_);
  max_->SetSeconds(d.LastChangeMaxSeconds);
  each_->SetSeconds(d.LastChangeEachMaxSeconds);
  previousEach_ = d.LastChangeEachMaxSeconds;
  pause_->SetSeconds(d.LastChangeWarningPause);
  weekends_->setChecked(d.LastChangeNoWeekendWarnings != 0);
  partial_->setChecked(d.PartialDataWarnings != 0);
  UpdateEnabling();
}

// The enabling part of the warning-limit rule, from the texts as they stand; a text that does not
// read as a duration changes nothing.
void WarningsPage::UpdateEnabling() {
  auto value = [](CDurationSpinBox* field) {
    std::string text = field->Text();
    return text.empty() ? std::optional<uint32_t>(0) : ParseDuration(text);
  };
  std::optional<uint32_t> max = value(max_), each = value(each_);
  if (!max || !each) return;
  bool on = *max > 0 || *each > 0;
  for (QWidget* w : warningControls_) w->setEnabled(on);
}

void WarningsPage::Clamp(bool changeInMax) {
  CSettingsData& d = Data();
  uint32_t max = max_->Read(d.LastChangeMaxSeconds);
  uint32_t each = each_->Read(d.LastChangeEachMaxSeconds);
  uint32_t ruled = WarningLimitRule(max, previousEach_, each, changeInMax);
  if (ruled != each) each_->SetSeconds(ruled);
  previousEach_ = ruled;
  UpdateEnabling();
}

bool WarningsPage::OnPageCommand(ConfigurationSheet&, QWidget*, int id, UINT code, int) {
  if ((id == warningspage::kLastChange || id == warningspage::kLastChangeEach) && code == EN_CHANGE) {
    lastChangeInMax_ = id == warningspage::kLastChange;
    UpdateEnabling();
    return true;
  }
  return false;
}

HRESULT WarningsPage::ValidatePage(ConfigurationSheet& sheet, QWidget*, int) {
  CSettingsData& d = Data();
  d.FluctuationError = fluctuationError_->currentIndex() > 0 ? 1 : 0;
  d.CrossCheckError = crossCheckError_->currentIndex() > 0 ? 1 : 0;
  // The watchdog's interval is written with the settings, not before.
  monitorValue_ = monitor_->Read(monitorValue_);
  if (monitorValue_ != storedMonitor_ || sheet.StagedValue(kApplicationMonitor, nullptr))
    sheet.StageValue(kApplicationMonitor, monitorValue_);
  Clamp(lastChangeInMax_);
  d.LastChangeMaxSeconds = max_->Read(d.LastChangeMaxSeconds);
  d.LastChangeEachMaxSeconds = each_->Read(d.LastChangeEachMaxSeconds);
  d.LastChangeWarningPause = pause_->Read(d.LastChangeWarningPause);
  d.MaxFluctuation = static_cast<uint32_t>(maxFluctuation_->value());
  d.CrossCheckMaxFluctuation = static_cast<uint32_t>(crossCheckMax_->value());
  d.LastChangeNoWeekendWarnings = weekends_->isChecked() ? 1 : 0;
  d.PartialDataWarnings = partial_->isChecked() ? 1 : 0;
  return S_OK;
}

// ---- Page 7: notifications ----

constexpr int kSmtpItem = 0;
constexpr int kDefaultProfileItem = 1;

class NotificationsPage : public ServerPage {
 public:
  NotificationsPage() : ServerPage(7) {}
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;
  bool OnPageCommand(ConfigurationSheet& sheet, QWidget* page, int id, UINT code, int index) override;
  HRESULT ValidatePage(ConfigurationSheet& sheet, QWidget* page, int index) override;

 private:
  void UpdateMail();
  void UpdateFile();
  void UpdateTest();
  void BrowseFile();
  void CheckNames();
  void MailSettings();
  void Test();
  void ShowFileRefused(const std::string& file);
  // The profile the combo box stands for, as mail by profile takes it (null: the default one).
  std::string ChosenProfile() const;

  QCheckBox* screen_ = nullptr;
  QCheckBox* log_ = nullptr;
  QCheckBox* file_ = nullptr;
  QCheckBox* mail_ = nullptr;
  QCheckBox* once_ = nullptr;
  QLineEdit* fileName_ = nullptr;
  QComboBox* profile_ = nullptr;
  QLineEdit* recipients_ = nullptr;
  QLabel* testNote_ = nullptr;
  bool sending_ = false;
};

void NotificationsPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int) {
  Bind(sheet, page, kit);
  screen_ = AddCheck(kit, notificationspage::kOnScreen, kStrOnScreen, page);
  log_ = AddCheck(kit, notificationspage::kToLog, kStrToLog, page);
  file_ = AddCheck(kit, notificationspage::kToFile, kStrToFile, page);
  mail_ = AddCheck(kit, notificationspage::kViaEmail, kStrViaEmail, page);
  once_ = AddCheck(kit, notificationspage::kMessageOnlyOnce, kStrMessageOnlyOnce, page);
  fileName_ = AddEdit(kit, notificationspage::kFile, page);
  profile_ = kit.Add(notificationspage::kProfile, new QComboBox(page));
  recipients_ = AddEdit(kit, notificationspage::kRecipients, page);

  auto* fileRow = new QGridLayout;
  fileRow->setContentsMargins(20, 0, 0, 0);
  kit.AddRow(fileRow, 0, notificationspage::kFileLabel, kStrFileLabel, fileName_);
  fileRow->addWidget(kit.AddButton(notificationspage::kBrowseFile, kStrBrowse), 0, 2);
  fileRow->setColumnStretch(1, 1);

  auto* mailRows = new QGridLayout;
  mailRows->setContentsMargins(20, 0, 0, 0);
  kit.AddRow(mailRows, 0, notificationspage::kProfileLabel, kStrProfileLabel, profile_);
  mailRows->addWidget(kit.AddButton(notificationspage::kMailSettings, kStrMailSettings), 0, 2);
  kit.AddRow(mailRows, 1, notificationspage::kRecipientsLabel, kStrRecipientsLabel, recipients_);
  mailRows->addWidget(kit.AddButton(notificationspage::kCheckNames, kStrCheckNames), 1, 2);
  mailRows->setColumnStretch(1, 1);

  auto* test = new QHBoxLayout;
  test->addWidget(kit.AddButton(notificationspage::kTestNotification, kStrTestNotification), 0, Qt::AlignTop);
  // Why the last test wrote nothing to the file, when the server refused it.
  testNote_ = new QLabel(page);
  testNote_->setWordWrap(true);
  testNote_->setTextFormat(Qt::PlainText);
  testNote_->hide();
  test->addWidget(testNote_, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(screen_);
  layout->addWidget(log_);
  layout->addWidget(file_);
  layout->addLayout(fileRow);
  layout->addWidget(mail_);
  layout->addLayout(mailRows);
  layout->addSpacing(8);
  layout->addWidget(once_);
  layout->addStretch();
  layout->addLayout(test);
}

void NotificationsPage::InitPage(ConfigurationSheet& sheet, QWidget*, int) {
  CSettingsData& d = Data();
  screen_->setChecked(d.MessagesOnScreen != 0);
  // The event log (syslog) can always be written to here.
  log_->setChecked(d.MessagesToLog != 0);
  file_->setChecked(d.MessagesToFile != 0);
  mail_->setChecked(d.MessagesViaEmail != 0);
  once_->setChecked(d.MessageOnlyOnce != 0);
  ShowText(fileName_, d.MessagesFile);
  ShowText(recipients_, d.MessagesEmailRecipients);

  profile_->clear();
  profile_->addItem(kit_->Text(kStrSmtpProfileItem));
  profile_->addItem(kit_->Text(kStrDefaultProfileItem));
  CStringList<char> profiles;
  GetMAPIProfiles(profiles);
  for (char* name : profiles) profile_->addItem(FromAnsi(name));
  SetComboDropHeight(profile_, 9);
  int item = -1;
  const char* stored = d.MessagesEmailProfile.c_str();
  if (sheet.Settings().IsMessageEmailProfileSmtp()) {
    item = kSmtpItem;
  } else if (!stored || !*stored || sheet.Settings().IsMessageEmailProfileDefault()) {
    // No profile is the default one, as mail by profile takes it.
    item = kDefaultProfileItem;
  } else {
    for (int i = 2; i < profile_->count(); ++i)
      if (_stricmp(ToAnsi(profile_->itemText(i)).c_str(), stored) == 0) item = i;
  }
  profile_->setCurrentIndex(item);
  UpdateMail();
  UpdateFile();
  UpdateTest();
}

void NotificationsPage::UpdateMail() {
  bool on = mail_->isChecked();
  for (int id : {notificationspage::kProfileLabel, notificationspage::kProfile, notificationspage::kRecipientsLabel,
                 notificationspage::kRecipients})
    kit_->Control(id)->setEnabled(on);
  // The mail server dialog for SMTP; a profile's mail settings belong to the local mail transport.
  kit_->Control(notificationspage::kMailSettings)->setEnabled(on && profile_->currentIndex() == kSmtpItem);
  // There is no address book with a dialog to check names against.
  kit_->Control(notificationspage::kCheckNames)->setEnabled(false);
}

void NotificationsPage::UpdateFile() {
  bool on = file_->isChecked();
  for (int id : {notificationspage::kFileLabel, notificationspage::kFile, notificationspage::kBrowseFile})
    kit_->Control(id)->setEnabled(on);
}

void NotificationsPage::UpdateTest() {
  bool channel = log_->isChecked() || file_->isChecked() || mail_->isChecked() || screen_->isChecked();
  kit_->Control(notificationspage::kTestNotification)->setEnabled(channel && !sending_ && CanSendVXVMessages());
}

bool NotificationsPage::OnPageCommand(ConfigurationSheet&, QWidget*, int id, UINT, int) {
  switch (id) {
    case notificationspage::kToLog:
    case notificationspage::kOnScreen: UpdateTest(); return true;
    case notificationspage::kToFile:
      UpdateFile();
      UpdateTest();
      return true;
    case notificationspage::kViaEmail:
      UpdateMail();
      UpdateTest();
      return true;
    case notificationspage::kProfile: UpdateMail(); return true;
    case notificationspage::kBrowseFile: BrowseFile(); return true;
    case notificationspage::kCheckNames: CheckNames(); return true;
    case notificationspage::kMailSettings: MailSettings(); return true;
    case notificationspage::kTestNotification: Test(); return true;
    default: return false;
  }
}

void NotificationsPage::BrowseFile() {
  char logs[MAX_PATH] = {};
  QString folder = GetLogPath(logs) ? QString::fromUtf8(logs) : QString();
  QString current = fileName_->text();
  QString start = current.isEmpty() ? folder
                  : QFileInfo(current).isAbsolute() ? current
                                                     : folder + "/" + current;
  std::optional<QString> chosen = FilePicker().SaveFile(page_, start, kit_->Text(kStrMessagesFileFilter));
  if (!chosen) return;
  fileName_->setText(*chosen);
  MarkChanged();
}

std::string NotificationsPage::ChosenProfile() const {
  int item = profile_->currentIndex();
  return item > kDefaultProfileItem ? ToAnsi(profile_->itemText(item)) : std::string();
}

void NotificationsPage::CheckNames() {
  std::string caption = LoadText(kit_->Module(), kStrAddressBookTitle), well = LoadText(kit_->Module(), kStrAddressBookWell);
  std::string recipients = ToAnsi(recipients_->text()), profile = ChosenProfile();
  char* chosen = nullptr;
  HRESULT hr = MAPIAddressBookDialog(nullptr, caption.c_str(), caption.c_str(), well.c_str(), 1, recipients.c_str(),
                                     NullIfEmpty(profile), &chosen);
  if (SUCCEEDED(hr) && chosen) {
    recipients_->setMaxLength(TextLimit(chosen));
    recipients_->setText(FromAnsi(chosen));
    MarkChanged();
  } else if (hr == kMailNoDefaultProfile || hr == kMailNoAddressBook) {
    Refuse(hr == kMailNoDefaultProfile ? kStrNoDefaultProfile : kStrNoAddressBook);
  } else if (FAILED(hr)) {
    MessageBoxHResultOK(nullptr, kStrOperationFailed, kStrProduct, kit_->Module(), hr);
  }
  if (chosen) LocalFree(chosen);
}

void NotificationsPage::MailSettings() {
  if (profile_->currentIndex() != kSmtpItem) return;
  CSettingsData& d = Data();
  std::string server, sender;
  if (MailServerDialog(d.MessagesEmailSmtpServer.c_str(), d.MessagesEmailSender.c_str(), page_, kit_->Module(), server,
                       sender) != IDC_OK)
    return;
  d.MessagesEmailSmtpServer = NullIfEmpty(server);
  d.MessagesEmailSender = NullIfEmpty(sender);
  MarkChanged();
}

void NotificationsPage::Test() {
  if (sending_) return;
  if (mail_->isChecked() && profile_->currentIndex() != kSmtpItem) {
    OffGuiCalls calls;
    if (!CheckMapiServiceAccount(nullptr, kStrTestServiceAccount, kit_->Module(), calls)) return;
    // The recipients as the transport reads them; a list with entries it cannot read stays as typed.
    std::string recipients = ToAnsi(recipients_->text()), profile = ChosenProfile();
    char* resolved = nullptr;
    uint32_t unresolved = 0;
    if (SUCCEEDED(CheckMAPIRecipients(nullptr, nullptr, recipients.c_str(), NullIfEmpty(profile), &resolved,
                                      &unresolved)) &&
        resolved && unresolved == 0 && recipients != resolved) {
      recipients_->setMaxLength(TextLimit(resolved));
      recipients_->setText(FromAnsi(resolved));
      MarkChanged();
    }
    if (resolved) LocalFree(resolved);
  }
  if (!CanSendVXVMessages()) return;
  if (FAILED(ValidatePage(*sheet_, page_, index_))) return;
  // The page's values, not yet saved; the server sends its text through each channel named.
  const CSettingsData& d = Data();
  TestNotificationValues v;
  v.messagesToLog = d.MessagesToLog;
  v.messagesToFile = d.MessagesToFile;
  v.messagesViaEmail = d.MessagesViaEmail;
  v.messagesOnScreen = d.MessagesOnScreen;
  auto text = [](const CStringA& s) { return std::string(s.c_str() ? s.c_str() : ""); };
  v.profile = text(d.MessagesEmailProfile);
  v.recipients = text(d.MessagesEmailRecipients);
  v.sender = text(d.MessagesEmailSender);
  v.smtpServer = text(d.MessagesEmailSmtpServer);
  v.file = text(d.MessagesFile);
  sending_ = true;
  testNote_->hide();
  UpdateTest();
  bool started = RunOffGuiThreadLater(
      [v] {
        DWORD reply = 0;
        HRESULT hr = SendTestNotification(v, kTestNotificationBoundMs, &reply);
        return OffGuiReply{hr, reply};
      },
      page_,
      [this, file = v.file, toFile = v.messagesToFile](const OffGuiReply& r) {
        sending_ = false;
        UpdateTest();
        if (toFile && r.hr == S_OK && r.value == E_ACCESSDENIED) ShowFileRefused(file);
      });
  if (!started) {
    sending_ = false;
    UpdateTest();
  }
}

void NotificationsPage::ShowFileRefused(const std::string& file) {
  char logs[MAX_PATH] = {};
  if (!GetLogPath(logs)) logs[0] = 0;
  testNote_->setText(FromAnsi(FormatString(kit_->Module(), kStrTestFileRefused, {file.c_str(), logs}).c_str()));
  testNote_->show();
}

HRESULT NotificationsPage::ValidatePage(ConfigurationSheet& sheet, QWidget*, int) {
  CSettingsData& d = Data();
  CSettings& settings = sheet.Settings();
  d.MessagesToLog = log_->isChecked() ? 1 : 0;
  d.MessagesToFile = file_->isChecked() ? 1 : 0;
  d.MessagesViaEmail = mail_->isChecked() ? 1 : 0;
  d.MessagesOnScreen = screen_->isChecked() ? 1 : 0;
  d.MessageOnlyOnce = once_->isChecked() ? 1 : 0;
  int item = profile_->currentIndex();
  if (item == kSmtpItem) {
    settings.SetMessageEmailProfileSmtp();
  } else if (item == kDefaultProfileItem) {
    settings.SetMessageEmailProfileDefault();
  } else if (item > kDefaultProfileItem) {
    std::string name = ToAnsi(profile_->itemText(item));
    d.MessagesEmailProfile = name.c_str();
  }
  std::string recipients = ToAnsi(recipients_->text());
  d.MessagesEmailRecipients = NullIfEmpty(recipients);
  if (d.MessagesViaEmail && recipients.empty()) return Refuse(kStrNoRecipients);
  if (d.MessagesViaEmail && settings.IsMessageEmailProfileSmtp() &&
      (d.MessagesEmailSmtpServer.IsEmpty() || d.MessagesEmailSender.IsEmpty()))
    return Refuse(kStrNoSmtpServer);
  std::string file = ToAnsi(fileName_->text());
  d.MessagesFile = NullIfEmpty(file);
  if (d.MessagesToFile && file.empty()) return Refuse(kStrNoMessagesFile);
  return S_OK;
}

// ---- Page 8: information ----

class InfoPage : public ServerPage {
 public:
  InfoPage() : ServerPage(8) {}
  void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) override;
  void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) override;

 private:
  CRichLinkText webService_;
  CRichLinkText support_;
};

void InfoPage::BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int) {
  Bind(sheet, page, kit);
  auto* layout = new QVBoxLayout(page);
  // The views are made here, so that a page built while the window is open shows them.
  for (int id : {infopage::kWebServiceLink, infopage::kSupportLink})
    layout->addWidget(kit.Add(id, new CRichTextView(page)));
  layout->addStretch();
  kit.SetHelpMap({{infopage::kWebServiceLink, static_cast<int>(kStrWebServiceLinkHelp)},
                  {infopage::kSupportLink, static_cast<int>(kStrSupportLinkHelp)}});
}

void InfoPage::InitPage(ConfigurationSheet&, QWidget* page, int) {
  HMODULE module = kit_->Module();
  RegStringValue<char> url;
  if (SUCCEEDED(url.Load(HKEY_LOCAL_MACHINE, kAppKey, "WebServiceURL")) && url.GetString() && *url.GetString()) {
    std::string text = LoadText(module, kStrWebService);
    webService_.SetLink(page, infopage::kWebServiceLink, text.c_str(), url.GetString(), kHandCursor, module);
  } else {
    webService_.SetText(page, infopage::kWebServiceLink, kStrWebServiceNotSet, kHandCursor, module);
  }
  std::string support = LoadText(module, kStrSupportLink);
  support_.SetLink(page, infopage::kSupportLink, support.c_str(), kSupportPage, kHandCursor, module);
  // Links open in the session's browser; the texts stand on the page as labels do.
  for (CRichLinkText* link : {&webService_, &support_}) {
    link->SetClickHandler(OpenLink, 0);
    if (CRichTextView* view = link->Control()) {
      view->ShowParentBackground();
      view->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
      view->setFixedHeight(view->fontMetrics().lineSpacing() * 3 + 8);
    }
  }
}

}  // namespace

std::vector<std::unique_ptr<IConfigPage>> MakeServerPages() {
  std::vector<std::unique_ptr<IConfigPage>> pages;
  pages.push_back(MakeSourcesPage());
  pages.push_back(std::make_unique<AdminPage>());
  pages.push_back(MakeConnectionPage());
  pages.push_back(std::make_unique<WarningsPage>());
  pages.push_back(std::make_unique<NotificationsPage>());
  pages.push_back(std::make_unique<InfoPage>());
  return pages;
}

}  // namespace vtx::manager
