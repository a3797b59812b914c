// The data-source dialog (filter definition, address, user data, credentials of one data source)
// and the dial-up dialog, with the minimum-version check of filter definitions.
#pragma once
#include <memory>
#include <string>

#include "engine/currency/filterdef.h"
#include "manager/dialogkit.h"
#include "manager/richtext.h"

class CDataSource;
class CINetConnection;
class CSettings;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace vtx::manager {

// Whether a program of `version` is older than the minimum text ("4", "4.2", "4.2.3.1"): at most
// four decimal fields are compared in order; an equal field goes on to the next only when a '.'
// follows it; a field that cannot be read ends the comparison as not older; a field above 65535
// is newer than any program's.
bool ProgramOlderThan(const char* minimum, const WORD version[4]);

// The version of a program file; false when it has none, as programs here carry no version
// resource. Tests replace it (null: the system's).
using ProgramVersionReader = bool (*)(const char* path, WORD version[4]);
void SetProgramVersionReader(ProgramVersionReader reader);

// The data-source dialog's results; url, userData, user and password also go in for a source.
struct DataSourceDialogData {
  std::string url;
  std::string filterName;
  std::string userData;
  std::string user;
  std::string password;
};

class CDataSourceDialog : public CKitDialog {
 public:
  // `source` null: a new source (no address, no filter). `onlyFilter`: offer only that definition.
  CDataSourceDialog(DataSourceDialogData& data, const CDataSource* source, CFilterList& filters,
                    const char* onlyFilter, QWidget* owner, HMODULE module);
  ~CDataSourceDialog() override;

  QComboBox* FilterList() const { return filterBox_; }
  QComboBox* AddressBox() const { return addressBox_; }
  // The address list's selected entry, -1 when the text is typed.
  int SelectedEntry() const { return selected_; }
  const CFilter* Filter() const { return filter_; }
  CRichLinkText& HomePageLink() { return homePage_; }
  int TextLimit() const { return textLimit_; }

  // The user's actions, as the controls report them.
  void OnFilterChosen();
  void OnEntryChosen(int index);
  void OnAddressEdited();
  void OnAddressLeft();
  void OnAccount();

 protected:
  void OnOk() override;
  void changeEvent(QEvent* e) override;

 private:
  void Update();
  void SelectEntry(int index);
  // The definition of the selected entry or of the one whose text was typed; null for an address
  // of the user's own.
  const CFilter::CFilterURL* Entry() const;
  std::string Address() const;
  void UpdateUserData();
  void UpdateOk();
  void CheckVersion(const char* minimum, UINT warning);

  DataSourceDialogData& data_;
  CFilterList& filters_;
  const CFilter* filter_ = nullptr;
  QComboBox* filterBox_;
  QComboBox* addressBox_;
  QLineEdit* userData_;
  QPlainTextEdit* description_;
  CRichLinkText homePage_;
  int selected_ = -1;
  int textLimit_ = 500;
  bool userDataNeeded_ = false;
};

// 1 (OK, `data` filled) or 2; a null filter list gives 2 without a dialog.
int DataSourceDialog(DataSourceDialogData& data, const CDataSource* source, CFilterList* filters,
                     const char* onlyFilter, QWidget* owner, HMODULE module);

// The dial-up settings of `settings`: phone-book entry, user, password, domain, hanging up.
// Without a dial-up library the entry list stays empty and its edit button disabled.
class CDialUpDialog : public CKitDialog {
 public:
  CDialUpDialog(CSettings& settings, QWidget* owner, HMODULE module);
  ~CDialUpDialog() override;

 protected:
  void OnOk() override;

 private:
  CSettings& settings_;
  std::unique_ptr<CINetConnection> connection_;
};
int DialUpDialog(CSettings& settings, QWidget* owner, HMODULE module);

}  // namespace vtx::manager
