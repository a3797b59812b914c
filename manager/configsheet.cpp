#include "manager/configsheet.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstring>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/resourcelib.h"
#include "engine/foundation/servercommands.h"
#include "engine/notify/messagewindow.h"
#include "engine/update/updaterun.h"
#include "engine/update/updatesettings.h"
#include "engine/update/updatethread.h"
#include "manager/configtexts.h"
#include "manager/controlids.h"
#include "manager/currencypages.h"
#include "manager/dialogtexts.h"
#include "manager/listcolumns.h"
#include "manager/managerdefs.h"
#include "manager/offgui.h"
#include "manager/propertysheet.h"
#include "manager/serverpages.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

constexpr UINT_PTR kTitleTimer = 2;
constexpr UINT kTitleTimerMs = 500;
constexpr int kTitleMax = 80;
constexpr int kTestTitleMax = 200;

QString Ansi(const std::string& text) { return FromAnsi(text.c_str()); }

// The lists with the common behaviour: their page, commands, sorting and columns.
struct ListKind {
  int listId;
  int removeCommand;  // 0: none
  int openCommand;
  bool sortable;
  int firstSortColumn;
  bool giveToName;
  std::vector<std::pair<UINT, const char*>> columns;  // header string, width value
};

constexpr UINT kImageOnlyHeader = 148;
constexpr UINT kBaseCodeHeader = 199;

const std::vector<ListKind>& ListKinds() {
  static const std::vector<ListKind> kinds = {
      {currencylistpage::kCurrencyList,
       currencylistpage::kRemove,
       currencylistpage::kProperties,
       true,
       0,
       true,
       {{27, "SettingsCurrencyColumn1"},
        {151, "SettingsCurrencyColumn2"},
        {kBaseCodeHeader, "SettingsCurrencyColumn3"},
        {365, "SettingsCurrencyColumn4"},
        {321, "SettingsCurrencyColumn5"},
        {kImageOnlyHeader, "SettingsCurrencyColumn6"}}},
      {databasepage::kDatabaseList,
       databasepage::kRemove,
       databasepage::kProperties,
       true,
       0,
       true,
       {{284, "SettingsAllCurrenciesColumn1"},
        {285, "SettingsAllCurrenciesColumn2"},
        {286, "SettingsAllCurrenciesColumn3"},
        {287, "SettingsAllCurrenciesColumn4"},
        {458, "SettingsAllCurrenciesColumn5"}}},
      {localespage::kLocaleList,
       0,
       localespage::kProperties,
       true,
       1,
       false,
       {{238, "SettingsLocaleListColumn1"}, {237, "SettingsLocaleListColumn2"}}},
      {sourcespage::kSourceList,
       sourcespage::kRemoveSource,
       sourcespage::kEditSource,
       false,
       0,
       false,
       {{336, "SettingsServerListColumn1"}, {337, "SettingsServerListColumn2"}}},
  };
  return kinds;
}

const ListKind* FindKind(int listId) {
  for (const ListKind& s : ListKinds())
    if (s.listId == listId) return &s;
  return nullptr;
}

// Sees a widget's events for the frame.
class EventHook : public QObject {
 public:
  EventHook(QObject* parent, std::function<bool(QEvent*)> hook) : QObject(parent), hook_(std::move(hook)) {}
  bool eventFilter(QObject*, QEvent* event) override { return hook_(event); }

 private:
  std::function<bool(QEvent*)> hook_;
};

LRESULT ControlWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    return 0;
  }
  auto* sheet = reinterpret_cast<ConfigurationSheet*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (sheet) return sheet->OnControlMessage(msg, wParam, lParam);
  return msg >= WM_APP ? 0 : DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool RegisterControlWindowClass() {
  WNDCLASSA wc{};
  if (GetClassInfoA(nullptr, kControlWindowClass, &wc)) return true;
  wc.lpfnWndProc = ControlWindowProc;
  wc.hCursor = const_cast<char*>(IDC_ARROW);
  wc.lpszClassName = kControlWindowClass;
  return RegisterClassA(&wc) != 0;
}

}  // namespace

const HelpMap& PageHelpMap(int index) {
  static const std::vector<HelpMap> maps = [] {
    std::vector<HelpMap> m(kPageCount);
    {
      using namespace currencylistpage;
      m[0] = {{kCurrencyList, 38},
              {kAdd, 39},
              {kRemove, 41},
              {kProperties, 40},
              {kResetEuroArea, 43},
              {kTestUpdate, 176},
              {kChooseBase, 200},
              {kClearWarnings, 323},
              {kResetHits, 322},
              {kRatesInfo, 346},
              {kUpdateRule, 315},
              {kUpdateRuleLabel, 315},
              {kConflictingEmuLabel, 316},
              {kConflictingEmu, 316},
              {kUnknownCurrenciesLabel, 317},
              {kUnknownCurrencies, 317}};
    }
    {
      using namespace databasepage;
      m[1] = {{kDatabaseList, 288},    {kNew, 289},           {kProperties, 290},
              {kRemove, 291},          {kResetDatabase, 305}, {kResetSelected, 304},
              {kTestDefinitions, 477}, {kDefinitions, 476},   {kDefinitionsLabel, 476}};
    }
    {
      using namespace localespage;
      m[2] = {{kDefaultLocale, 255}, {kLocaleList, 251}, {kProperties, 252}, {kMakeDefault, 253}, {kCopyLocale, 254}};
    }
    {
      using namespace sourcespage;
      m[3] = {{kAutoUpdate, 54},       {kAtLeast, 55},          {kAtLeastLabel, 55},   {kAtLeastUnits, 55},
              {kAtMost, 56},           {kAtMostLabel, 56},      {kAtMostUnits, 56},    {kAddSource, 325},
              {kEditSource, 326},      {kRemoveSource, 327},    {kAttemptsLabel, 330}, {kAttempts, 330},
              {kAttemptsUpDown, 330},  {kRetryPauseLabel, 331}, {kRetryPause, 331},    {kRetryPauseUpDown, 331},
              {kSourceList, 324},      {kMoveUp, 328},          {kMoveDown, 329},      {kSourceOrder, 332},
              {kSourceOrderLabel, 332}};
    }
    {
      using namespace adminpage;
      m[4] = {{kBrowseCustomAction, 354},   {kCustomAction, 353},           {kCustomActionLabel, 353},
              {kRunCustomAction, 355},      {kRunCustomActionLabel, 355},   {kAllowAdminCom, 351},
              {kAllowAdminWebService, 352}, {kCustomActionRunAs, 375},      {kClientValidationLabel, 405},
              {kClientValidation, 405},     {kBrowseClientValidation, 407}, {kClientValidationRunAs, 406}};
    }
    {
      using namespace connectionpage;
      m[5] = {{kDialUp, 62},         {kLan, 63},   {kProxyPort, 67},      {kProxyPortLabel, 67}, {kNoProxyForLan, 68},
              {kDialUpSettings, 64}, {kProxy, 65}, {kProxyHostLabel, 66}, {kProxyHost, 66},      {kProxyAccount, 139},
              {kLanSettings, 227}};
    }
    {
      using namespace warningspage;
      m[6] = {{kMonitorLabel, 358},
              {kMonitor, 358},
              {kMonitorUpDown, 358},
              {kMaxFluctuation, 359},
              {kMaxFluctuationUpDown, 359},
              {kMaxFluctuationLabel, 359},
              {kLastChange, 361},
              {kLastChangeUpDown, 361},
              {kLastChangeLabel, 361},
              {kWarningPause, 362},
              {kWarningPauseLabel, 362},
              {kWarningPauseUpDown, 362},
              {kFluctuationErrorLabel, 360},
              {kFluctuationError, 360},
              {kNoWeekendWarnings, 363},
              {kCrossCheckMaxLabel, 366},
              {kCrossCheckMax, 366},
              {kCrossCheckMaxUpDown, 366},
              {kCrossCheckErrorLabel, 367},
              {kCrossCheckError, 367},
              {kLastChangeEachLabel, 368},
              {kLastChangeEach, 368},
              {kLastChangeEachUpDown, 368},
              {kPartialDataWarnings, 369}};
    }
    {
      using namespace notificationspage;
      m[7] = {{kToLog, 159},
              {kViaEmail, 160},
              {kOnScreen, 161},
              {kProfile, 163},
              {kProfileLabel, 163},
              {kRecipients, 164},
              {kRecipientsLabel, 164},
              {kTestNotification, 162},
              {kToFile, 216},
              {kFileLabel, 217},
              {kFile, 217},
              {kBrowseFile, 218},
              {kMessageOnlyOnce, 53},
              {kCheckNames, 171},
              {kMailSettings, 229}};
    }
    return m;
  }();
  static const HelpMap none;
  return index >= 0 && index < static_cast<int>(maps.size()) ? maps[index] : none;
}

std::vector<std::unique_ptr<IConfigPage>> MakeConfigurationPages() {
  std::vector<std::unique_ptr<IConfigPage>> pages = MakeCurrencyPages();
  for (auto& page : MakeServerPages()) pages.push_back(std::move(page));
  return pages;
}

struct ConfigurationSheet::Page {
  QWidget* window = nullptr;  // set once initialised
};

struct ConfigurationSheet::AttachedList {
  int page;
  const ListKind* kind;
  QPointer<QTreeWidget> list;
  Compare compare;
  bool fitted = false;
};

// The manager's update worker for test updates, with its own handle of the catalogue. Its end
// waits for a run under way, so it is let go off the GUI thread.
struct ConfigurationSheet::Worker {
  HMODULE resources = nullptr;
  CMessageWindow messageWindow;  // the screen channel of the test update, outliving the engine
  std::unique_ptr<IUpdateEngine> engine;
  std::unique_ptr<CUpdateThread> thread;
  ~Worker() {
    if (thread) thread->Stop(INFINITE);
    thread.reset();
    engine.reset();
    if (resources) FreeLibrary(resources);
  }
};

ConfigurationSheet::ConfigurationSheet(HMODULE resources, Options options)
    : resources_(resources), options_(std::move(options)) {}

ConfigurationSheet::~ConfigurationSheet() { Close(); }

bool ConfigurationSheet::Run(QWidget* owner, const QIcon& icon, CSettings& settings, int startPage,
                             QPointer<PropertySheet>* slot) {
  if (window_) return false;
  if (!settings_.CopyFrom(settings)) return false;
  worker_ = std::make_shared<Worker>();
  worker_->resources = LoadResourceLibrary(kAppKey);
  worker_->engine = options_.engine ? options_.engine() : MakeUpdateEngine();
  if (!worker_->engine) {
    Close();
    return false;
  }
  if (auto* engine = dynamic_cast<CUpdateEngine*>(worker_->engine.get()))
    engine->Notifier().m_pMessageWindow = &worker_->messageWindow;
  worker_->thread = std::make_unique<CUpdateThread>(std::make_unique<CUpdateSettings>(), *worker_->engine);
  if (FAILED(worker_->thread->Start(worker_->resources, false))) {
    Close();
    return false;
  }
  pages_ = options_.pages ? options_.pages() : MakeConfigurationPages();
  if (pages_.size() != kPageCount) {
    Close();
    return false;
  }
  pageState_.assign(kPageCount, Page{});

  window_ = new PropertySheet(owner, true);
  window_->setWindowIcon(icon);
  SetTitle(kStrConfigurationTitle, kTitleMax);
  window_->OkButton()->setText(CatalogueText(resources_, kStrOk));
  window_->CancelButton()->setText(CatalogueText(resources_, kStrCancel));
  window_->ApplyButton()->setText(CatalogueText(resources_, kStrApply));
  for (auto& page : pages_) window_->AddPage(CatalogueText(resources_, page->TitleId()));
  kits_.clear();
  kits_.resize(kPageCount);
  window_->onFirstView = [this](int index) { FirstView(index); };
  window_->onApply = [this](bool ok) { return Apply(ok); };

  accepted_ = false;
  afterSave_.clear();
  staged_.clear();
  applied_values_.clear();
  accepted_values_.clear();
  savedByApply_ = false;
  testUpdateStarted_ = false;
  applied_.reset();

  if (RegisterControlWindowClass())
    controlWindow_ = CreateWindowExA(0, kControlWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, this);
  window_->Start(startPage >= 0 && startPage < kPageCount ? startPage : 0);
  if (slot) *slot = window_;
  window_->show();
  window_->raise();
  window_->activateWindow();

  QEventLoop loop;
  QObject::connect(window_, &QDialog::finished, &loop, &QEventLoop::quit);
  // The loop also ends when the program's loops are told to end (the quit path).
  while (window_->isVisible())
    if (loop.exec() < 0) break;
  if (window_->isVisible()) window_->done(QDialog::Rejected);
  bool ok = window_->result() == QDialog::Accepted;
  if (slot) *slot = nullptr;
  Close();

  if (!accepted_) return false;
  // A Cancel after Apply gives back what Apply saved, not the edits made since.
  const CSettings& result = ok || !applied_ ? settings_ : *applied_;
  if (!ok) accepted_values_ = applied_values_;
  return settings.CopyFrom(result);
}

void ConfigurationSheet::Close() {
  for (auto& l : lists_)
    if (l->list && l->fitted && PageWindow(l->page)) {
      std::vector<std::string> names;
      for (auto& c : l->kind->columns) names.push_back(c.second);
      StoreColumnWidths(l->list, names);
    }
  if (controlWindow_) {
    KillTimer(controlWindow_, kTitleTimer);
    DestroyWindow(controlWindow_);
    controlWindow_ = nullptr;
  }
  // A late report of the worker finds no control window and returns at once.
  ReleaseOffGuiThread(std::move(worker_));
  worker_.reset();
  testing_ = false;
  lists_.clear();
  kits_.clear();
  delete window_.data();
  window_ = nullptr;
  pageState_.clear();
  pages_.clear();
}

void ConfigurationSheet::SetTitle(UINT id, int limit) {
  std::string text = LoadText(resources_, id, limit);
  if (text.empty() && id != kStrConfigurationTitle) return;
  titleId_ = id;
  if (window_) window_->setWindowTitle(Ansi(text));
}

QWidget* ConfigurationSheet::PageWindow(int index) const {
  if (index < 0 || index >= static_cast<int>(pageState_.size())) return nullptr;
  return pageState_[index].window;
}

bool ConfigurationSheet::PageChanged(int index) const { return window_ && window_->PageChanged(index); }

void ConfigurationSheet::MarkPageChanged(int index) {
  if (initialising_ || !window_ || window_->PageChanged(index)) return;
  window_->SetPageChanged(index, true);
}

CFormKit* ConfigurationSheet::Kit(int index) const {
  return index >= 0 && index < static_cast<int>(kits_.size()) ? kits_[index].get() : nullptr;
}

void ConfigurationSheet::FirstView(int index) {
  QWidget* page = window_->Page(index);
  kits_[index] = std::make_unique<CFormKit>(page, resources_);
  CFormKit& kit = *kits_[index];
  kit.SetHelpMap(PageHelpMap(index));
  // The currency list's topic names the base currency.
  kit.SetHelpText([this](int, int help) {
    if (help != static_cast<int>(kStrCurrencyListHelp)) return CatalogueText(resources_, static_cast<UINT>(help));
    const char* base = settings_.GetData() ? settings_.GetData()->BaseUnit : "";
    return Ansi(FormatString(resources_, kStrCurrencyListHelp, {FormatInsert(base)}));
  });
  pages_[index]->BuildPage(*this, page, kit, index);
  WireEdits(index, page);
  Initialise(index, false);
}

void ConfigurationSheet::Initialise(int index, bool refill) {
  QWidget* page = window_->Page(index);
  initialising_ = true;
  if (refill) {
    pages_[index]->RefillPage(*this, page, index);
  } else {
    pages_[index]->InitPage(*this, page, index);
  }
  initialising_ = false;
  pageState_[index].window = page;
  for (auto& l : lists_) {
    if (l->page != index || !l->list) continue;
    if (l->kind->sortable) SortList(l->kind->listId);
    pages_[index]->OnPageNotify(*this, page, {l->kind->listId, LVN_ITEMCHANGED}, index);
  }
}

bool ConfigurationSheet::Command(int index, int controlId, UINT code) {
  QWidget* page = PageWindow(index);
  if (!page) return false;
  return pages_[index]->OnPageCommand(*this, page, controlId, code, index);
}

void ConfigurationSheet::WireEdits(int index, QWidget* page) {
  for (QWidget* w : page->findChildren<QWidget*>()) {
    int id = VtxId(w);
    if (id <= 0) continue;
    auto edited = [this, index, id](UINT code) {
      MarkPageChanged(index);
      Command(index, id, code);
    };
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      QObject::connect(edit, &QLineEdit::textEdited, edit, [edited] { edited(EN_CHANGE); });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      QObject::connect(combo, &QComboBox::activated, combo, [edited] { edited(CBN_SELCHANGE); });
      if (combo->lineEdit())
        QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [edited] { edited(CBN_EDITCHANGE); });
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      QObject::connect(button, &QAbstractButton::clicked, button, [this, index, id, button, edited] {
        if (button->isCheckable()) {
          edited(BN_CLICKED);
        } else {
          Command(index, id, BN_CLICKED);
        }
      });
    }
  }
}

ConfigurationSheet::AttachedList* ConfigurationSheet::FindList(int listId) {
  for (auto& l : lists_)
    if (l->kind->listId == listId && l->list) return l.get();
  return nullptr;
}

ConfigurationSheet::SortState ConfigurationSheet::Sort(int listId) const {
  for (auto& [id, state] : sortStates_)
    if (id == listId) return state;
  const ListKind* kind = FindKind(listId);
  return SortState{kind ? kind->firstSortColumn : 0, false};
}

void ConfigurationSheet::AttachList(int index, QTreeWidget* list, int listId, Compare compare) {
  const ListKind* kind = FindKind(listId);
  if (!kind || !list) return;
  QStringList headers;
  for (auto& [headerId, name] : kind->columns) {
    std::string text;
    if (headerId == kBaseCodeHeader) {
      const char* base = settings_.GetData() ? settings_.GetData()->BaseUnit : "";
      text = FormatString(resources_, headerId, {FormatInsert(base)});
    } else if (headerId != kImageOnlyHeader) {
      text = LoadText(resources_, headerId);
    }
    headers << Ansi(text);
  }
  list->setColumnCount(static_cast<int>(kind->columns.size()));
  list->setHeaderLabels(headers);
  list->setRootIsDecorated(false);
  list->header()->setSectionsClickable(kind->sortable);
  list->header()->setStretchLastSection(false);

  auto attached = std::make_unique<AttachedList>(AttachedList{index, kind, list, std::move(compare)});
  AttachedList* a = attached.get();
  lists_.push_back(std::move(attached));

  QObject::connect(list, &QTreeWidget::itemSelectionChanged, list, [this, index, listId] {
    if (QWidget* page = PageWindow(index))
      pages_[index]->OnPageNotify(*this, page, {listId, LVN_ITEMCHANGED}, index);
  });
  QObject::connect(list, &QTreeWidget::itemDoubleClicked, list, [this, index, kind] {
    if (kind->openCommand) Command(index, kind->openCommand);
  });
  QObject::connect(list->header(), &QHeaderView::sectionClicked, list, [this, kind](int column) {
    if (!kind->sortable) return;
    SortState state = Sort(kind->listId);
    state.descending = state.column == column ? !state.descending : false;
    state.column = column;
    auto it = std::find_if(sortStates_.begin(), sortStates_.end(), [&](auto& s) { return s.first == kind->listId; });
    if (it == sortStates_.end()) {
      sortStates_.push_back({kind->listId, state});
    } else {
      it->second = state;
    }
    SortList(kind->listId);
  });
  list->installEventFilter(new EventHook(list, [this, index, kind, a](QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
        kind->removeCommand) {
      Command(index, kind->removeCommand);
      return true;
    }
    // The widths are fitted to the list's size once it is shown and its page laid out (the page's
    // layout takes effect after the show).
    if (event->type() == QEvent::Show && !a->fitted && a->list) {
      a->fitted = true;
      QTimer::singleShot(0, a->list, [a, kind] {
        std::vector<std::string> names;
        for (auto& c : kind->columns) names.push_back(c.second);
        if (a->list) ApplyColumnWidths(a->list, names, kind->giveToName);
      });
    }
    return false;
  }));
}

void ConfigurationSheet::SortList(int listId) {
  AttachedList* a = FindList(listId);
  if (!a) return;
  QTreeWidget* list = a->list;
  SortState state = Sort(listId);
  Compare compare = a->compare ? a->compare : [](const QTreeWidgetItem* x, const QTreeWidgetItem* y, int column) {
    return QString::compare(x->text(column), y->text(column), Qt::CaseInsensitive);
  };
  QTreeWidgetItem* current = list->currentItem();
  QList<QTreeWidgetItem*> selected = list->selectedItems();
  QList<QTreeWidgetItem*> items;
  {
    const QSignalBlocker quiet(list);
    while (list->topLevelItemCount()) items << list->takeTopLevelItem(0);
    std::stable_sort(items.begin(), items.end(), [&](QTreeWidgetItem* x, QTreeWidgetItem* y) {
      return state.descending ? compare(y, x, state.column) < 0 : compare(x, y, state.column) < 0;
    });
    list->addTopLevelItems(items);
    if (current) list->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* item : selected) item->setSelected(true);
  }
}

bool ConfigurationSheet::Apply(bool ok) {
  // OK accepts only once every page has taken its values over: a page that refuses keeps the
  // window open, and a Cancel then must not hand back what the pages before it took over.
  bool okApplied = false;
  for (int i = 0; i < kPageCount; ++i) {
    QWidget* page = PageWindow(i);
    if (!page) continue;
    if (FAILED(pages_[i]->ValidatePage(*this, page, i))) {
      // The page has said why; the sheet stays on it.
      window_->SetCurrentPage(i);
      return false;
    }
    bool anyChanged = window_->AnyPageChanged();
    window_->SetPageChanged(i, false);
    if (ok) {
      okApplied = true;
      continue;
    }
    // Apply: the last page to apply saves, once.
    if (!anyChanged || window_->AnyPageChanged()) continue;
    accepted_values_ = staged_;
    HRESULT hr = SaveSettings(settings_);
    applied_values_ = staged_;
    if (SUCCEEDED(hr)) {
      savedByApply_ = true;
      RunAfterSave();
    }
    if (FAILED(hr)) MessageBoxHResultOK(nullptr, kStrOperationFailed, kStrSaveFailedCaption, resources_, hr);
    accepted_ = true;
    auto copy = std::make_unique<CSettings>();
    if (copy->CopyFrom(settings_)) applied_ = std::move(copy);
  }
  if (okApplied) {
    accepted_ = true;
    accepted_values_ = staged_;
  }
  return true;
}

void ConfigurationSheet::StageValue(const char* name, DWORD value) {
  for (auto& [n, v] : staged_)
    if (_stricmp(n.c_str(), name) == 0) {
      v = value;
      return;
    }
  staged_.emplace_back(name, value);
}

bool ConfigurationSheet::StagedValue(const char* name, DWORD* value) const {
  for (auto& [n, v] : staged_)
    if (_stricmp(n.c_str(), name) == 0) {
      if (value) *value = v;
      return true;
    }
  return false;
}

HRESULT ConfigurationSheet::SaveSettings(CSettings& settings) const {
  HRESULT hr = settings.Save();
  for (auto& [name, value] : accepted_values_) {
    if (FAILED(hr)) break;
    hr = RegDwordValue(value).Save(HKEY_LOCAL_MACHINE, kAppKey, name.c_str());
  }
  return hr;
}

void ConfigurationSheet::TestUpdate(bool definitionsOnly) {
  if (!controlWindow_ || !worker_ || !window_ || testing_) return;
  for (int i = 0; i < kPageCount; ++i) {
    QWidget* page = PageWindow(i);
    if (page && FAILED(pages_[i]->ValidatePage(*this, page, i))) {
      window_->SetCurrentPage(i);
      return;
    }
  }
  CUpdateSettings view(settings_);
  if (FAILED(worker_->thread->PostUpdate(view, controlWindow_, nullptr, definitionsOnly))) return;
  SetTestRunning(true);
  SetTitle(kStrTestUpdateTitle, kTestTitleMax);
  SetTimer(controlWindow_, kTitleTimer, kTitleTimerMs, nullptr);
  testUpdateStarted_ = true;
}

void ConfigurationSheet::SetTestRunning(bool running) {
  testing_ = running;
  // Every page, the ones first opened meanwhile too, and the tabs and buttons.
  if (window_) window_->SetInputEnabled(!running);
}

LRESULT ConfigurationSheet::OnControlMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      if (wParam == kTitleTimer && worker_ && worker_->thread->IsBusy())
        SetTitle(titleId_ == kStrConfigurationTitle ? kStrTestUpdateTitle : kStrConfigurationTitle,
                 titleId_ == kStrConfigurationTitle ? kTestTitleMax : kTitleMax);
      return 0;
    case WM_VX_UPDATEDONE:
    case WM_VX_DEFINITIONSDONE:
      OnTestDone(wParam);
      return 0;
    case WM_VX_UPDATEFAILED:
      // The worker has reported the failure itself.
      OnTestEnd();
      return 0;
    case WM_VX_UPDATEIDLE:
      // Notices held back while the worker handed its result over.
      if (worker_) worker_->thread->SendDeferredNotices(CUpdateSettings(settings_));
      return 0;
  }
  if (msg >= WM_APP) return 0;
  return DefWindowProcA(controlWindow_, msg, wParam, lParam);
}

void ConfigurationSheet::OnTestEnd() {
  KillTimer(controlWindow_, kTitleTimer);
  SetTitle(kStrConfigurationTitle, kTitleMax);
  SetTestRunning(false);
  if (worker_ && worker_->thread->IsCustomActionDue()) testUpdateChangedRates_ = true;
}

void ConfigurationSheet::OnTestDone(WPARAM reported) {
  // Enabled again first: the pages' rules then decide about their own controls.
  OnTestEnd();
  auto* from = dynamic_cast<CUpdateSettings*>(reinterpret_cast<IUpdateSettings*>(reported));
  if (!from || !settings_.CopyFrom(from->Get())) {
    worker_->thread->NotifyError(CUpdateSettings(settings_), false, controlWindow_, kStrOperationFailed,
                                 kStrTestUpdateErrorCaption, worker_->resources, E_OUTOFMEMORY);
    return;
  }
  for (int i = 0; i <= 3; ++i)
    if (PageWindow(i)) Initialise(i, true);
  if (PageWindow(0)) MarkPageChanged(0);
  // After the worker has been let go: it does not wait for the user's answer.
  QTimer::singleShot(0, window_, [this] { WarnWhenListTooShort(); });
}

void ConfigurationSheet::WarnWhenListTooShort() {
  CSettingsData* d = settings_.GetData();
  if (!d || !d->OnlyUpdateExisting) return;
  CRatesData& rates = settings_.GetRates();
  uint32_t count = rates.Active.GetCount();
  if (count == 0 || (count == 1 && std::strcmp(rates[0]->szCode, "EUR") != 0))
    FormatMessageBox(nullptr, kStrListTooShort, kStrProduct, MB_ICONWARNING | MB_SETFOREGROUND, resources_);
}

void ConfigurationSheet::RunAfterSave() {
  std::vector<std::function<void()>> actions;
  actions.swap(afterSave_);
  for (auto& action : actions) action();
}

bool RunConfigurationSheet(ConfigurationSheet& sheet, QWidget* owner, const QIcon& icon, CSettings& settings,
                           int startPage, QPointer<PropertySheet>* slot) {
  return sheet.Run(owner, icon, settings, startPage, slot);
}

}  // namespace vtx::manager
