// The currency properties sheet: one currency of the currency database (code, numeric code, rate,
// smallest unit, regime and flags) and its names, symbols and custom texts in the locales.
#pragma once
#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/currency/currencydata.h"
#include "platform/locale.h"
#include "platform/types.h"

class CSettings;
class CCurrencyLocale;
class QWidget;

namespace vtx::manager {

class CFormKit;
class PropertySheet;

// Modes: 1 edit a database currency (else a new one), 2 the rate must be given and not 0, 4 open
// on the texts page. With a locale the texts page shows that one only.
constexpr uint32_t kSheetEdit = 1, kSheetRateRequired = 2, kSheetTextsFirst = 4;

// The time the pages and the sheet stamp a changed rate with; tests set their own.
using Clock = FILETIME (*)();
FILETIME CurrencyClockNow();
void SetCurrencyClock(Clock clock);

// A plain decimal number above 0 (or at least 0), and its count of fraction digits.
bool ReadPositiveAmount(const std::string& text, bool allowZero, double* value, uint32_t* decimals);
// A code as it is stored: upper case, 1 to 3 of A-Z and 0-9.
bool ValidCurrencyCode(const std::string& code);

class CCurrencyPropertiesSheet {
 public:
  CCurrencyPropertiesSheet(CSettings& settings, CCurrencyLocale* locale, HMODULE module, uint32_t mode);
  ~CCurrencyPropertiesSheet();

  // Takes the database record of the code (edit mode) or a new record: false when an edited code is
  // missing or unknown.
  bool Open(const char* code);
  // Builds the window; Run shows it modally. Both 1 when accepted and stored, else 2.
  PropertySheet* Create(QWidget* owner);
  int Run(QWidget* owner);
  // OK's end: stores what was accepted; 1, or 2 when nothing was stored.
  int Store();

  // For tests and the gallery.
  PropertySheet* Window() const;
  QWidget* Page(int index) const;
  CFormKit* Kit(int index) const;
  // The kit of the sheet's own buttons (OK and Cancel).
  CFormKit* SheetKit() const { return sheetKit_.get(); }
  const CurrencyData& Record() const { return record_; }
  int RateMode() const { return rateMode_; }
  bool Valid() const { return valid_; }

 private:
  struct Texts {
    std::u16string name, symbol, custom;
  };
  void FirstView(int index);
  void BuildCurrencyPage(QWidget* page);
  void BuildTextsPage(QWidget* page);
  bool Apply();
  // The rate field's text for a rate in units per euro: units per unit of the base.
  std::string RateText(double rate, uint32_t decimals);
  int ComputeRateMode();
  bool ComputeValid() const;
  void UpdateValid();
  QString RateCaption() const;
  void OnCodeEdited();
  void LoadTexts();
  void StoreTexts();
  void UpdatePreviews();

  CSettings& settings_;
  CCurrencyLocale* locale_;
  HMODULE module_;
  uint32_t mode_;
  CurrencyData record_{};
  char base_[16] = "EUR";
  bool baseIsEur_ = true;
  bool baseIsEuroCurrency_ = false;
  bool valid_ = true;
  bool rateEdited_ = false;
  bool accepted_ = false;
  int rateMode_ = 0;
  bool initialised_[2] = {};
  CCurrencyLocale* currentLocale_ = nullptr;
  bool textsEdited_ = false;
  std::map<LCID, Texts> editedTexts_;
  QPointer<PropertySheet> window_;
  std::unique_ptr<CFormKit> kits_[2];
  std::unique_ptr<CFormKit> sheetKit_;
};

// 1 when accepted and stored, else 2.
int CurrencyPropertiesSheet(const char* code, CSettings& settings, CCurrencyLocale* locale, QWidget* owner,
                            HMODULE module, uint32_t mode);

}  // namespace vtx::manager
