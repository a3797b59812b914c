// Pages 3 to 8 of the configuration window: the data sources and the update schedule (3), the
// administration rights and the programs the server runs (4), the connection (5), the warning
// limits and rate checks (6), the notification channels with a test notification (7), and the
// information links (8). Also the rules they follow, as plain functions.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "manager/configsheet.h"

class QWidget;

namespace vtx::manager {

class CDurationSpinBox;
class CFormKit;
class CNumberSpinBox;

// The six pages, in page order (3 to 8).
std::vector<std::unique_ptr<IConfigPage>> MakeServerPages();
std::unique_ptr<IConfigPage> MakeSourcesPage();
std::unique_ptr<IConfigPage> MakeConnectionPage();

// The registry value of the watchdog's interval (page 6), and its value when missing.
constexpr char kApplicationMonitor[] = "ApplicationMonitor";
constexpr DWORD kDefaultApplicationMonitor = 3600;
// How long the test notification may keep the server busy before its reply is given up.
constexpr DWORD kTestNotificationBoundMs = 5 * 60 * 1000;
// The maker's support page (page 8).
constexpr char kSupportPage[] = "https://www.hulvane.com/vantrex/support/";

// A proxy port as typed: ASCII digits only, 1 to 65535.
bool IsProxyPort(const std::string& text);

// The warning-limit rule of page 6: the per-currency limit (`each`) is 0 or at least the overall
// one (`max`). When it is below: it becomes `max` when the change was in the overall limit or the
// per-currency one grew past `previousEach`, else 0.
uint32_t WarningLimitRule(uint32_t max, uint32_t previousEach, uint32_t each, bool changeInMax);

// Page 4's browse check: the path the user chose must name a file right in `folder` (compared
// as canonical paths, so links and ".." cannot leave it). The name as it goes into the edit
// (quoted when it holds a blank), or nothing when it is refused (string 439).
std::optional<std::string> ProgramFromFolder(const std::string& chosen, const std::string& folder);
// The folder of the programs that value "Actions" or "Validators" names; when it is missing, the
// folder the server runs them from ("Path" + "/" + the value's name). Empty when neither exists.
std::string ProgramFolder(const char* valueName);

// Shared by the pages: a number field and a duration field, each a spin box carrying the up-down's
// id with its edit carrying the edit's id, whose steps mark the page changed and reach its
// commands as EN_CHANGE of the edit, as typing does.
CNumberSpinBox* AddNumberField(ConfigurationSheet& sheet, CFormKit& kit, int index, int editId, int upDownId,
                               int minimum, int maximum, QWidget* parent);
CDurationSpinBox* AddDurationField(ConfigurationSheet& sheet, CFormKit& kit, int index, int editId, int upDownId,
                                   QWidget* parent);
// The text limit of page fields for a stored text: twice its length, at least 500.
int TextLimit(const char* stored);
// Null for an empty text, as the settings store "none".
inline const char* NullIfEmpty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

// What pages 3 to 8 keep of the frame once they are built.
class ServerPage : public IConfigPage {
 public:
  explicit ServerPage(int index) : index_(index) {}
  UINT TitleId() const override;

 protected:
  void Bind(ConfigurationSheet& sheet, QWidget* page, CFormKit& kit) {
    sheet_ = &sheet;
    page_ = page;
    kit_ = &kit;
  }
  CSettingsData& Data() const { return *sheet_->Settings().GetData(); }
  void MarkChanged() { sheet_->MarkPageChanged(index_); }
  // A validation message (caption 32, style 0x10010) with its inserts; 0x80070057 to return.
  HRESULT Refuse(UINT text, const char* insert1 = nullptr, const char* insert2 = nullptr) const;

  ConfigurationSheet* sheet_ = nullptr;
  QWidget* page_ = nullptr;
  CFormKit* kit_ = nullptr;
  const int index_;
};

}  // namespace vtx::manager
