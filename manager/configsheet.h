// The configuration window: nine pages on a property sheet that edit a private copy of the
// settings, the frame common to every page (change marks, apply, the common list behaviour, column
// widths) and the test update, which runs the manager's own update worker on the unsaved settings
// and reports to the control window "HulvaneVantrexCplWin".
#pragma once
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/currency/settings.h"
#include "manager/dialogkit.h"
#include "manager/propertysheet.h"
#include "platform/messages.h"

class IUpdateEngine;
class QIcon;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace vtx::manager {

class ConfigurationSheet;

// Notification codes of OnPageCommand: what the control did.
constexpr UINT BN_CLICKED = 0;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_EDITCHANGE = 5;
constexpr UINT EN_CHANGE = 0x0300;
// OnPageNotify: the selection of a list changed (an item selected or deselected).
constexpr UINT LVN_ITEMCHANGED = static_cast<UINT>(-101);

struct PageNotification {
  int controlId;
  UINT code;
};

// One page of the configuration window. The frame calls these on the GUI thread.
//
// Controls carry their control id (the kit's Add). Each page has its kit with the page's help map,
// so F1 and the help menu work on every control that has a topic. After BuildPage the frame connects the
// user's edits of every control with an id: a text field's edits (EN_CHANGE), a combo box's choice
// (CBN_SELCHANGE, typed text CBN_EDITCHANGE) and a check box's or radio button's click (BN_CLICKED)
// mark the page changed and reach OnPageCommand; a push button's click reaches OnPageCommand only.
// Changes made by code (filling the page) neither mark nor reach OnPageCommand: a page runs its
// enabling rules itself after filling.
class IConfigPage {
 public:
  virtual ~IConfigPage() = default;
  // The page's tab title.
  virtual UINT TitleId() const = 0;
  // Creates the page's controls inside `page` with its kit, once, on its first view; lists with
  // the common behaviour are registered here (ConfigurationSheet::AttachList).
  virtual void BuildPage(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit, int index) = 0;
  // Fills the page from sheet.Settings(); the frame holds the initialising flag meanwhile.
  virtual void InitPage(ConfigurationSheet& sheet, QWidget* page, int index) = 0;
  // A control's command; true when handled.
  virtual bool OnPageCommand(ConfigurationSheet&, QWidget*, int /*controlId*/, UINT /*code*/, int /*index*/) {
    return false;
  }
  // A list's notification (the selection changed: recompute the buttons' enabling).
  virtual LRESULT OnPageNotify(ConfigurationSheet&, QWidget*, const PageNotification&, int /*index*/) { return 0; }
  // Takes the page's values over into sheet.Settings(): 0; 0x80070057 after the page has shown its
  // message; 0x8007000E when memory runs out.
  virtual HRESULT ValidatePage(ConfigurationSheet&, QWidget*, int /*index*/) { return 0; }
  // After a test update replaced the sheet's settings (pages 0 to 3): page 0 refills its currency
  // list, the others initialise again. The frame holds the initialising flag, then sorts the
  // page's lists and sends it LVN_ITEMCHANGED for each of them.
  virtual void RefillPage(ConfigurationSheet& sheet, QWidget* page, int index) { InitPage(sheet, page, index); }
};

constexpr int kPageCount = 9;

class ConfigurationSheet {
 public:
  using PageFactory = std::function<std::vector<std::unique_ptr<IConfigPage>>()>;
  using EngineFactory = std::function<std::unique_ptr<IUpdateEngine>()>;
  struct Options {
    PageFactory pages;      // the product's nine pages when empty
    EngineFactory engine;   // the product's update engine when empty
  };
  // Orders list rows by a column: negative, 0 or positive as a sorts before, with or after b.
  using Compare = std::function<int(const QTreeWidgetItem* a, const QTreeWidgetItem* b, int column)>;

  ConfigurationSheet(HMODULE resources, Options options = {});
  ~ConfigurationSheet();
  ConfigurationSheet(const ConfigurationSheet&) = delete;
  ConfigurationSheet& operator=(const ConfigurationSheet&) = delete;

  // Runs the window until it closes (see RunConfigurationSheet).
  bool Run(QWidget* owner, const QIcon& icon, CSettings& settings, int startPage, QPointer<PropertySheet>* slot);

  // For the pages.
  HMODULE Resources() const { return resources_; }
  CSettings& Settings() { return settings_; }
  bool Initialising() const { return initialising_; }
  // Marks the page changed (enables Apply) unless a page is being filled.
  void MarkPageChanged(int index);
  bool PageChanged(int index) const;
  // The page's window once it has been initialised, else null.
  QWidget* PageWindow(int index) const;
  PropertySheet* Window() const { return window_; }
  // The page's kit once the page is built, else null.
  CFormKit* Kit(int index) const;
  // Runs a control's command on the page, as a click of that control would.
  bool Command(int index, int controlId, UINT code = BN_CLICKED);
  // Gives `list` (one of the four list ids) its headers and stored column widths, and the common
  // behaviour: Delete runs the page's remove command, a double click its properties command, a
  // changed selection reaches OnPageNotify, a header click sorts (the three currency lists).
  // `compare` orders the rows (default: the column's text, ignoring case).
  void AttachList(int index, QTreeWidget* list, int listId, Compare compare = {});
  // Sorts the list by its stored sort column and order.
  void SortList(int listId);
  // The test update (page 0's button; page 1's for the definitions only).
  void TestUpdate(bool definitionsOnly);
  // An action that waits for the edited settings to be saved: by Apply, or by the configuration
  // session after OK (RunAfterSave). The next run drops what a cancelled or failed one left.
  void AfterSave(std::function<void()> action) { afterSave_.push_back(std::move(action)); }
  void RunAfterSave();
  // A DWORD value of the application key that a page keeps outside the settings
  // ("ApplicationMonitor"): taken by ValidatePage, written only with the settings (Apply, and the
  // session's save after OK); an apply refused by a later page writes nothing.
  void StageValue(const char* name, DWORD value);
  // The staged value, when a page staged one.
  bool StagedValue(const char* name, DWORD* value) const;
  // Saves `settings` and then the values of the last accepted apply; the first failure.
  HRESULT SaveSettings(CSettings& settings) const;

  // What the configuration session reads after a run.
  bool TestUpdateStarted() const { return testUpdateStarted_; }
  bool TestUpdateChangedRates() const { return testUpdateChangedRates_; }
  // An Apply of this run saved the settings (the server must reload them, however the run ends).
  bool SavedByApply() const { return savedByApply_; }
  // A test update runs.
  bool Testing() const { return testing_; }
  HWND ControlWindow() const { return controlWindow_; }
  UINT TitleString() const { return titleId_; }
  struct SortState {
    int column = 0;
    bool descending = false;
  };
  SortState Sort(int listId) const;

  // The control window's procedure.
  LRESULT OnControlMessage(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  struct Page;
  struct AttachedList;
  struct Worker;

  void FirstView(int index);
  void Initialise(int index, bool refill);
  void WireEdits(int index, QWidget* page);
  bool Apply(bool ok);
  void SetTitle(UINT id, int limit);
  void SetTestRunning(bool running);
  void OnTestDone(WPARAM settings);
  void OnTestEnd();
  void WarnWhenListTooShort();
  AttachedList* FindList(int listId);
  void Close();

  HMODULE resources_;
  Options options_;
  std::vector<std::unique_ptr<IConfigPage>> pages_;
  std::vector<Page> pageState_;
  std::vector<std::unique_ptr<CFormKit>> kits_;
  std::vector<std::unique_ptr<AttachedList>> lists_;
  std::vector<std::pair<int, SortState>> sortStates_;
  CSettings settings_;
  std::unique_ptr<CSettings> applied_;  // the settings as the last Apply saved them
  using Values = std::vector<std::pair<std::string, DWORD>>;
  Values staged_;    // taken by the pages' last ValidatePage
  Values applied_values_;  // as the last Apply saved them
  Values accepted_values_;  // what the session's save writes
  bool accepted_ = false;
  bool savedByApply_ = false;
  bool initialising_ = false;
  bool testUpdateStarted_ = false;
  bool testUpdateChangedRates_ = false;
  bool testing_ = false;
  UINT titleId_ = 0;
  HWND controlWindow_ = nullptr;
  QPointer<PropertySheet> window_;
  std::shared_ptr<Worker> worker_;
  std::vector<std::function<void()>> afterSave_;
};

// Runs the configuration window on `settings` with the start page (0-8; anything else opens page
// 0); `slot` holds the window while it is open. True when the user accepted and the edited
// settings were copied into `settings`; false otherwise (`settings` untouched). Returns when the
// window has closed.
bool RunConfigurationSheet(ConfigurationSheet& sheet, QWidget* owner, const QIcon& icon, CSettings& settings,
                           int startPage, QPointer<PropertySheet>* slot);

// The help topics of the page's controls (none on page 8).
const HelpMap& PageHelpMap(int index);

// The product's nine pages.
std::vector<std::unique_ptr<IConfigPage>> MakeConfigurationPages();

// The window class of the control window.
constexpr char kControlWindowClass[] = "HulvaneVantrexCplWin";

}  // namespace vtx::manager
