// The small dialogs of the configuration pages (currency choice, account, list choice, mail
// server) and the functions all dialogs share. Texts are in the ANSI code page.
#pragma once
#include <QFont>
#include <QLineEdit>

#include <string>
#include <vector>

#include "manager/dialogkit.h"

class CSettings;
class QAbstractScrollArea;
class QComboBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace vtx::manager {

// What a password field shows for a stored password, never the password itself.
constexpr char kPasswordPlaceholder[] = "++++++++++++++";

// The application's font at |height| pixels; with normal weight not bold, italic, underlined or
// struck out.
QFont CreateDialogFont(int height, bool normalWeight);
// The drop list shows at most `items` rows.
bool SetComboDropHeight(QComboBox* combo, int items);
// A vertical scroll bar as needed; true when the text fits without one.
bool FitEditScrollBar(QAbstractScrollArea* edit);
// A button that shows icon `iconId` of the manager's icons (grayed with the button).
class CIconButton {
 public:
  bool Set(QWidget* dialog, int buttonId, int iconId, HMODULE module);
};
void SetListItemText(QTreeWidgetItem* item, int column, const char* text);

// A password field: a stored password shows as the placeholder; only the user's own edits make a
// new password, and while there is none, focusing the field selects all of it so that typing
// replaces the placeholder.
class CPasswordEdit : public QLineEdit {
 public:
  explicit CPasswordEdit(QWidget* parent = nullptr);
  void ShowStored(bool hasPassword);
  bool Edited() const { return edited_; }
  // The typed password when edited, else the stored one.
  std::string Result(const char* stored) const;

 protected:
  void focusInEvent(QFocusEvent* e) override;

 private:
  bool edited_ = false;
};

// Currency choice: the currencies of the database that are not yet in the settings' list.
class CCurrencyChoiceDialog : public CKitDialog {
 public:
  CCurrencyChoiceDialog(CSettings& settings, QWidget* owner, HMODULE module);
  QTreeWidget* List() const { return list_; }
  // The codes of the selected rows, in the shown order (after OK).
  const std::vector<std::string>& Chosen() const { return chosen_; }
  // As a click on a column header: the sorted column again reverses the order, another sorts
  // ascending.
  void SortBy(int column);

 protected:
  void OnOk() override;

 private:
  QTreeWidget* list_;
  int sortColumn_ = 0;
  bool sortDescending_ = false;
  std::vector<std::string> chosen_;
};
int CurrencyChoiceDialog(CSettings& settings, QWidget* owner, HMODULE module, std::vector<std::string>& chosen);

// Account: user ("domain\user" or "user") and password; kind 0 a data source's server, 1 the
// proxy, 2 the account programs run as.
class CAccountDialog : public CKitDialog {
 public:
  CAccountDialog(const char* user, const char* password, QWidget* owner, HMODULE module, int kind);
  const std::string& UserOut() const { return userOut_; }
  const std::string& PasswordOut() const { return passwordOut_; }

 protected:
  void OnOk() override;

 private:
  std::string password_;
  std::string userOut_, passwordOut_;
};
int AccountDialog(const char* user, const char* password, QWidget* owner, HMODULE module, int kind,
                  std::string& userOut, std::string& passwordOut);

// List choice: one of the strings, the preselected one (ignoring case) chosen at first.
class CListChoiceDialog : public CKitDialog {
 public:
  CListChoiceDialog(const std::vector<std::string>& strings, const char* preselected, QWidget* owner,
                    HMODULE module);
  int ChosenIndex() const { return chosen_; }

 protected:
  void OnOk() override;

 private:
  int chosen_ = -1;
};
int ListChoiceDialog(const std::vector<std::string>& strings, const char* preselected, QWidget* owner,
                     HMODULE module, int& chosen);

// Mail server: the SMTP server and the sender address. Both go into SMTP commands and headers,
// so OK stays disabled while either holds a control character; blanks around them are dropped.
class CMailServerDialog : public CKitDialog {
 public:
  CMailServerDialog(const char* server, const char* sender, QWidget* owner, HMODULE module);
  const std::string& ServerOut() const { return serverOut_; }
  const std::string& SenderOut() const { return senderOut_; }

 protected:
  void OnOk() override;

 private:
  void UpdateOk();
  std::string serverOut_, senderOut_;
};
int MailServerDialog(const char* server, const char* sender, QWidget* owner, HMODULE module,
                     std::string& serverOut, std::string& senderOut);

}  // namespace vtx::manager
