// What every dialog and configuration page is built from: texts of the catalogue, controls that
// carry their control ids, the help map and context help (F1 and the one-item help menu), the
// help pop-up, and the modal dialog frame with OK and Cancel.
#pragma once
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "manager/controlids.h"
#include "manager/dialogtexts.h"
#include "manager/tooltip.h"
#include "platform/types.h"

class QLabel;
class QMenu;
class QPushButton;
class QDialogButtonBox;
class QGridLayout;

namespace vtx::manager {

// Texts in the ANSI code page and Qt's.
QString FromAnsi(const char* text);
std::string ToAnsi(const QString& text);
// String `id` of the catalogue (LoadText), at most `limit` characters; empty when it is missing.
QString CatalogueText(HMODULE module, UINT id, int limit = 4000);

// Every control carries its control id in the property "vtxId"; ids repeat between dialogs and
// pages, so a control is looked up only within its own form (dialog or page).
constexpr char kVtxIdProperty[] = "vtxId";
void SetVtxId(QWidget* widget, int id);
int VtxId(const QWidget* widget);  // 0 for none
// The control of that id within the form, not inside a form nested in it; null when none.
QWidget* FindControl(QWidget* form, int id);
// The widget or its nearest parent with an id, up to the form (the form itself excluded).
QWidget* TaggedControl(QWidget* widget, QWidget* form);

// Control id -> help string id, in the order of the Part's tables; -1 = no help.
using HelpMap = std::vector<std::pair<int, int>>;
// The one item of the help menu.
constexpr UINT kStrHelpMenuItem = 1;

// One dialog's or page's kit. Declare each control once with its id (Add), and the help map with
// the controls that have no help; the kit then answers F1 on the focused control, the context menu
// (mouse, the Menu key, Shift+F10) with the one-item help menu, and shows the help pop-up.
// Text fields keep their own context menus; F1 still helps there.
class CFormKit : public QObject {
 public:
  CFormKit(QWidget* form, HMODULE module);
  ~CFormKit() override;

  QWidget* Form() const { return form_; }
  HMODULE Module() const { return module_; }
  QString Text(UINT id) const { return CatalogueText(module_, id); }

  template <class W>
  W* Add(int id, W* widget) {
    SetVtxId(widget, id);
    return widget;
  }
  // A label of string `textId`; with a buddy its mnemonic focuses that control.
  QLabel* AddLabel(int id, UINT textId, QWidget* buddy = nullptr);
  QPushButton* AddButton(int id, UINT textId);
  // A row of a grid: the label of string `textId` (id `labelId`) and its field beside it.
  void AddRow(QGridLayout* grid, int row, int labelId, UINT textId, QWidget* field, int fieldColumns = 1);
  QWidget* Control(int id) const { return FindControl(form_, id); }
  template <class W>
  W* Control(int id) const {
    return qobject_cast<W*>(Control(id));
  }

  void SetHelpMap(HelpMap map, std::vector<int> noHelp = {});
  const HelpMap& Help() const { return help_; }
  const std::vector<int>& NoHelp() const { return noHelp_; }
  // The help string of a control id, -1 when none.
  int HelpFor(int controlId) const;
  // The text shown for a control's help string (pages format some with inserts); default: the string.
  void SetHelpText(std::function<QString(int controlId, int helpId)> text) { helpText_ = std::move(text); }

  // Shows the control's help in the pop-up; false when it has none.
  bool ShowHelp(QWidget* control);
  bool ShowHelp(int controlId) { return ShowHelp(Control(controlId)); }
  CTooltipWindow& Tooltip() { return tooltip_; }
  // The help menu while it is open (tests), else null.
  QMenu* HelpMenu() const;

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Watch(QWidget* widget);
  bool Owns(QWidget* widget) const;
  void OpenHelpMenu(QWidget* control, QPoint at);

  QWidget* form_;
  HMODULE module_;
  HelpMap help_;
  std::vector<int> noHelp_;
  std::function<QString(int, int)> helpText_;
  CTooltipWindow tooltip_;
  QPointer<QMenu> menu_;  // a child of the form
  QPointer<QWidget> menuControl_;
};

// A modal dialog: title from the catalogue, its kit, OK (1) and Cancel (2). OK runs OnOk, which
// ends the dialog with 1 unless it stays; Cancel, Escape and closing end it with 2.
class CKitDialog : public QDialog {
 public:
  CKitDialog(QWidget* owner, HMODULE module, UINT titleId);
  CFormKit& Kit() { return kit_; }
  QPushButton* OkButton() const { return ok_; }
  // Runs the dialog: 1 for OK, 2 otherwise.
  int Run();
  void reject() override { done(IDC_CANCEL); }

 protected:
  // The row of OK and Cancel, to add at the bottom of the dialog's layout.
  QDialogButtonBox* MakeButtons();
  virtual void OnOk() { done(IDC_OK); }

  CFormKit kit_;
  QPushButton* ok_ = nullptr;
};

}  // namespace vtx::manager
