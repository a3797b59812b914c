// The locale formats dialog: one locale's currencies with their names, symbols and custom texts,
// and how the locale writes amounts, with samples. It edits a copy that OK hands back.
#pragma once
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/currency/currencylocale.h"
#include "manager/dialogkit.h"

class CSettings;
class QCheckBox;
class QComboBox;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace vtx::manager {

// Column widths of the currency list: REG_DWORD values under the application key.
extern const char* const kLocaleInfoColumnValues[5];

class CLocaleFormatsDialog : public CKitDialog {
 public:
  // `working` is the copy to edit (the caller's locale stays as it is until OK).
  CLocaleFormatsDialog(CSettings& settings, CCurrencyLocale& locale, std::unique_ptr<CCurrencyLocale> working,
                       QWidget* owner, HMODULE module);
  ~CLocaleFormatsDialog() override;

  // The currency properties of a code with the working copy as locale (its properties
  // button); the properties sheet unless a test sets its own. 1 when the sheet stored something.
  using PropertiesOpener = std::function<int(const char* code, CCurrencyLocale& working, QWidget* owner)>;
  void SetPropertiesOpener(PropertiesOpener opener) { openProperties_ = std::move(opener); }
  // Timers 1 (selection), 2 and 3 (a separator picked from its list) run this long (250 ms).
  void SetTimerInterval(int ms);
  QTimer& Timer(int id) { return timers_[id - 1]; }

  CCurrencyLocale& Working() { return *working_; }
  QTreeWidget* List() const { return list_; }
  // As a click on a column header.
  void SortBy(int column);
  int SortColumn() const { return sortColumn_; }
  bool SortDescending() const { return descending_; }

  // The commands of the buttons.
  void OnProperties();
  void OnResetTexts();
  void OnResetList();
  void OnResetFormats();

 protected:
  void OnOk() override;
  void showEvent(QShowEvent* e) override;

 private:
  QTreeWidgetItem* AddRow(CCurrencyLocaleInfo* info);
  void RefreshRow(QTreeWidgetItem* row);
  void Sort();
  void SelectCode(const QString& code);
  QTreeWidgetItem* SelectedRow() const;
  void OnSelectionTimer();
  void UpdatePropertiesButton();
  void FillPatternLists();
  void FillGroupingList();
  void FillPatternList(QComboBox* combo, const char16_t* value, int items, bool negative, bool iso);
  void ShowSamples();
  void ShowFormats();
  // The separator box's text was typed or picked: stored when amounts can be formatted with it, else
  // the box shows the stored separator again.
  void OnSeparatorText(bool decimal);
  static std::vector<std::string> ColumnValues();

  CSettings& settings_;
  CCurrencyLocale& locale_;
  std::unique_ptr<CCurrencyLocale> working_;
  QTreeWidget* list_;
  QComboBox* positiveSymbol_;
  QComboBox* positiveIso_;
  QComboBox* negativeSymbol_;
  QComboBox* negativeIso_;
  QComboBox* digits_;
  QComboBox* decimal_;
  QComboBox* thousand_;
  QComboBox* grouping_;
  QCheckBox* capitalize_;
  QLabel* samples_[4];  // with symbol and ISO code: positive, then negative
  QTimer timers_[3];
  int sortColumn_ = -1;
  bool descending_ = false;
  bool widthsApplied_ = false;
  PropertiesOpener openProperties_;
};

// Edits a copy of `locale` and copies it back on OK: 1, else 2 (also when the copy cannot be made).
int LocaleFormatsDialog(CSettings& settings, CCurrencyLocale& locale, QWidget* owner, HMODULE module);

}  // namespace vtx::manager
