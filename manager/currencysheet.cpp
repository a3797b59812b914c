#include "manager/currencysheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>

#include "engine/currency/allcurrencies.h"
#include "engine/currency/settings.h"
#include "engine/foundation/calculator.h"
#include "engine/foundation/resourcelib.h"
#include "manager/controlids.h"
#include "manager/currencytexts.h"
#include "manager/dialogkit.h"
#include "manager/dialogs.h"
#include "manager/propertysheet.h"
#include "platform/codepage.h"
#include "platform/systime.h"
#include "platform/ui.h"

namespace vtx::manager {

namespace {

constexpr int kRateTextMax = 34;
constexpr int kFieldLimit = 33;
constexpr char kFallbackRate[] = "1.0";

FILETIME SystemNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return now;
}
Clock g_clock = SystemNow;

QString Wide(const char16_t* text) { return text ? QString::fromStdU16String(text) : QString(); }

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool SameCode(const char* a, const char* b) { return _stricmp(a ? a : "", b ? b : "") == 0; }

// A numeric code: digits only, 0 to 999; empty is 0.
bool ReadNumericCode(const std::string& text, uint32_t* code) {
  if (text.size() > 3) return false;
  uint32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  *code = n;
  return true;
}

}  // namespace

FILETIME CurrencyClockNow() { return g_clock(); }
void SetCurrencyClock(Clock clock) { g_clock = clock ? clock : SystemNow; }

bool ReadPositiveAmount(const std::string& text, bool allowZero, double* value, uint32_t* decimals) {
  double v = 0;
  uint32_t d = 0;
  if (!vtx::currency::ParseAmount(text.c_str(), &v, &d)) return false;
  if (v < 0 || (v == 0 && !allowZero)) return false;
  *value = v;
  *decimals = d;
  return true;
}

bool ValidCurrencyCode(const std::string& code) {
  if (code.empty() || code.size() > 3) return false;
  for (char c : code)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

CCurrencyPropertiesSheet::CCurrencyPropertiesSheet(CSettings& settings, CCurrencyLocale* locale, HMODULE module,
                                                   uint32_t mode)
    : settings_(settings), locale_(locale), module_(module), mode_(mode) {}

CCurrencyPropertiesSheet::~CCurrencyPropertiesSheet() {
  for (auto& kit : kits_) kit.reset();
  sheetKit_.reset();
  delete window_.data();
}

bool CCurrencyPropertiesSheet::Open(const char* code) {
  CSettingsData* d = settings_.GetData();
  if (!d) return false;
  if (mode_ & kSheetEdit) {
    if (!code || !*code) return false;
    int32_t i = d->Currencies.IFind(code);
    if (i < 0) return false;
    record_ = *d->Currencies[i];
  } else {
    record_ = CurrencyData{};
    record_.dSmallest = 0.01;
    record_.dwSmallestDecimals = 2;
    record_.dwRateDecimals = 2;
    record_.dwFlags = kCurrencyLegalTender | kCurrencyPhysical;
  }
  std::snprintf(base_, sizeof base_, "%s", d->BaseUnit[0] ? d->BaseUnit : "EUR");
  baseIsEur_ = SameCode(base_, "EUR");
  baseIsEuroCurrency_ = settings_.IsEuroCurrency(base_) != nullptr;
  return true;
}

PropertySheet* CCurrencyPropertiesSheet::Create(QWidget* owner) {
  window_ = new PropertySheet(owner, false);
  window_->setWindowTitle(CatalogueText(module_, (mode_ & kSheetEdit) ? kStrPropertiesTitleEdit : kStrPropertiesTitleNew));
  window_->setModal(true);
  window_->AddPage(CatalogueText(module_, kStrCurrencyPageTitle));
  window_->AddPage(CatalogueText(module_, kStrTextsPageTitle));
  SetVtxId(window_->OkButton(), IDC_OK);
  SetVtxId(window_->CancelButton(), IDC_CANCEL);
  sheetKit_ = std::make_unique<CFormKit>(window_, module_);
  const bool edit = (mode_ & kSheetEdit) != 0;
  sheetKit_->SetHelpMap({{IDC_OK, edit ? 50 : 49}, {IDC_CANCEL, edit ? 48 : 47}});
  valid_ = true;
  accepted_ = false;
  initialised_[0] = initialised_[1] = false;
  window_->onFirstView = [this](int index) { FirstView(index); };
  window_->onApply = [this](bool) { return Apply(); };
  window_->Start((mode_ & kSheetTextsFirst) ? 1 : 0);
  return window_;
}

int CCurrencyPropertiesSheet::Run(QWidget* owner) {
  Create(owner);
  int result = window_->exec();
  if (result != QDialog::Accepted || !accepted_) return IDC_CANCEL;
  return Store();
}

PropertySheet* CCurrencyPropertiesSheet::Window() const { return window_.data(); }
QWidget* CCurrencyPropertiesSheet::Page(int index) const { return window_ ? window_->Page(index) : nullptr; }
CFormKit* CCurrencyPropertiesSheet::Kit(int index) const { return index >= 0 && index < 2 ? kits_[index].get() : nullptr; }

void CCurrencyPropertiesSheet::FirstView(int index) {
  QWidget* page = window_->Page(index);
  kits_[index] = std::make_unique<CFormKit>(page, module_);
  if (index == 0)
    BuildCurrencyPage(page);
  else
    BuildTextsPage(page);
  initialised_[index] = true;
}

// ---- The currency ----

std::string CCurrencyPropertiesSheet::RateText(double rate, uint32_t decimals) {
  char text[kRateTextMax] = {};
  bool made;
  if (rate != 0 && !baseIsEur_)
    made = settings_.ConvertUnit(rate, base_, "EUR", text, sizeof text, CSettings::kConvertEuroItself, nullptr,
                                 nullptr) == 0;
  else
    made = DoubleToString(rate, text, sizeof text, decimals);
  return made && *text ? text : kFallbackRate;
}

void CCurrencyPropertiesSheet::BuildCurrencyPage(QWidget* page) {
  CFormKit& kit = *kits_[0];
  const bool edit = (mode_ & kSheetEdit) != 0;
  auto* code = kit.Add(currencysheet::kCode, new QLineEdit(page));
  auto* numeric = kit.Add(currencysheet::kNumericCode, new QLineEdit(page));
  auto* regime = kit.Add(currencysheet::kRegime, new QComboBox(page));
  auto* physical = kit.Add(currencysheet::kPhysical, new QCheckBox(kit.Text(kStrPhysicalCheck), page));
  auto* legal = kit.Add(currencysheet::kLegalTender, new QCheckBox(kit.Text(kStrLegalTenderCheck), page));
  auto* rate = kit.Add(currencysheet::kRate, new QLineEdit(page));
  auto* smallest = kit.Add(currencysheet::kSmallest, new QLineEdit(page));
  auto* rateLabel = kit.Add(currencysheet::kRateLabel, new QLabel(page));
  rateLabel->setBuddy(rate);

  auto* grid = new QGridLayout(page);
  kit.AddRow(grid, 0, currencysheet::kCodeLabel, kStrCodeLabel, code);
  kit.AddRow(grid, 1, currencysheet::kNumericCodeLabel, kStrNumericCodeLabel, numeric);
  kit.AddRow(grid, 2, currencysheet::kRegimeLabel, kStrRegimeLabel, regime);
  grid->addWidget(legal, 3, 1);
  grid->addWidget(physical, 4, 1);
  grid->addWidget(rateLabel, 5, 0);
  grid->addWidget(rate, 5, 1);
  kit.AddRow(grid, 6, currencysheet::kSmallestLabel, kStrSmallestLabel, smallest);
  grid->setRowStretch(7, 1);
  grid->setColumnStretch(1, 1);

  // 1: the caption of the rate; 2: the code.
  rateLabel->setText(RateCaption());
  code->setMaxLength(3);
  if (edit) {
    code->setReadOnly(true);
    code->setFocusPolicy(Qt::NoFocus);
    // Read-only fields look it, on the dialog's background.
    QPalette p = code->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    code->setPalette(p);
    code->setText(FromAnsi(record_.szCode));
  }
  // 3, 4: the numeric code, the regime and the flags.
  numeric->setMaxLength(3);
  numeric->setText(QString::number(record_.dwNumericCode));
  for (UINT id : {kStrNoRegime, kStrEuroArea, kStrPeggedToEuro}) regime->addItem(kit.Text(id));
  regime->setCurrentIndex((record_.dwFlags & kCurrencyEuroArea) ? 1 : (record_.dwFlags & kCurrencyPeggedEuro) ? 2 : 0);
  physical->setChecked(record_.dwFlags & kCurrencyPhysical);
  legal->setChecked(record_.dwFlags & kCurrencyLegalTender);
  // 5: an active currency shows its current rate, when it has one.
  CSettingsData* d = settings_.GetData();
  int32_t a = d->IFind(record_.szCode);
  if (a >= 0) {
    const CurrencyInfo* active = settings_.GetRates()[static_cast<uint32_t>(a)];
    if (active->dRate > 0) {
      record_.dRate = active->dRate;
      record_.dwRateDecimals = active->dwRateDecimals;
    }
  }
  // 6, 7: the rate and the smallest unit.
  rate->setText(FromAnsi(record_.dRate > 0 ? RateText(record_.dRate, record_.dwRateDecimals).c_str() : kFallbackRate));
  char unit[kRateTextMax] = {};
  if (DoubleToString(record_.dSmallest, unit, sizeof unit, record_.dwSmallestDecimals)) smallest->setText(unit);
  rate->setMaxLength(kFieldLimit);
  smallest->setMaxLength(kFieldLimit);
  // 8.
  rateMode_ = ComputeRateMode();
  rate->setEnabled(rateMode_ == 0);
  UpdateValid();

  QObject::connect(code, &QLineEdit::textEdited, page, [this] { OnCodeEdited(); });
  QObject::connect(rate, &QLineEdit::textEdited, page, [this] {
    rateEdited_ = true;
    UpdateValid();
  });
  QObject::connect(smallest, &QLineEdit::textEdited, page, [this] { UpdateValid(); });
  QObject::connect(numeric, &QLineEdit::textEdited, page, [this] { UpdateValid(); });

  kit.SetHelpMap({{currencysheet::kRate, 45},
                  {currencysheet::kRateLabel, 45},
                  {currencysheet::kSmallestLabel, 46},
                  {currencysheet::kSmallest, 46},
                  {currencysheet::kNumericCodeLabel, 299},
                  {currencysheet::kNumericCode, 299},
                  {currencysheet::kRegimeLabel, 294},
                  {currencysheet::kRegime, 294},
                  {currencysheet::kCode, edit ? 298 : 44},
                  {currencysheet::kCodeLabel, edit ? 298 : 44},
                  {currencysheet::kLegalTender, 296},
                  {currencysheet::kPhysical, 295}});
}

int CCurrencyPropertiesSheet::ComputeRateMode() {
  auto* rate = kits_[0]->Control<QLineEdit>(currencysheet::kRate);
  const char* code = record_.szCode;
  auto show = [rate](const std::string& text) { rate->setText(FromAnsi(text.c_str())); };
  if (baseIsEur_) {
    const CurrencyInfo* euro = settings_.IsEuroCurrency(code);
    if (!*code || !euro) return 0;
    char text[kRateTextMax] = {};
    if (DoubleToString(euro->dRate, text, sizeof text, euro->dwRateDecimals)) show(text);
    return 2;
  }
  if (SameCode(code, base_)) {
    show("1");
    return 1;
  }
  const CurrencyInfo* euro = *code ? settings_.IsEuroCurrency(code) : nullptr;
  if (baseIsEuroCurrency_ && euro) {
    char text[kRateTextMax] = {};
    if (settings_.ConvertUnit(euro->dRate, base_, "EUR", text, sizeof text, CSettings::kConvertEuroItself, nullptr,
                              nullptr) == 0 &&
        *text)
      show(text);
    return 2;
  }
  return 0;
}

bool CCurrencyPropertiesSheet::ComputeValid() const {
  const CFormKit& kit = *kits_[0];
  std::string code = ToAnsi(kit.Control<QLineEdit>(currencysheet::kCode)->text());
  if (code.empty()) return false;
  // Codes go into the INI text and registry forms as keys: plain letters and digits only.
  if (!(mode_ & kSheetEdit) && !ValidCurrencyCode(Upper(code))) return false;
  double value;
  uint32_t decimals;
  std::string unit = ToAnsi(kit.Control<QLineEdit>(currencysheet::kSmallest)->text());
  if (!unit.empty() && !ReadPositiveAmount(unit, false, &value, &decimals)) return false;
  uint32_t numeric;
  if (!ReadNumericCode(ToAnsi(kit.Control<QLineEdit>(currencysheet::kNumericCode)->text()), &numeric)) return false;
  std::string rate = ToAnsi(kit.Control<QLineEdit>(currencysheet::kRate)->text());
  if (rateMode_ == 0 && !rate.empty() && !ReadPositiveAmount(rate, !(mode_ & kSheetRateRequired), &value, &decimals))
    return false;
  if ((mode_ & kSheetRateRequired) && rate.empty()) return false;
  return true;
}

QString CCurrencyPropertiesSheet::RateCaption() const {
  // A new currency has no code to name until one is typed.
  if (!record_.szCode[0]) return FromAnsi(FormatString(module_, kStrRateCaptionNoCode, {base_}).c_str());
  return FromAnsi(FormatString(module_, kStrRateCaption, {base_, record_.szCode}).c_str());
}

void CCurrencyPropertiesSheet::UpdateValid() {
  valid_ = ComputeValid();
  window_->OkButton()->setEnabled(valid_);
}

void CCurrencyPropertiesSheet::OnCodeEdited() {
  std::string code = ToAnsi(kits_[0]->Control<QLineEdit>(currencysheet::kCode)->text());
  std::snprintf(record_.szCode, sizeof record_.szCode, "%s", code.c_str());
  rateMode_ = ComputeRateMode();
  kits_[0]->Control(currencysheet::kRate)->setEnabled(rateMode_ == 0);
  kits_[0]->Control<QLabel>(currencysheet::kRateLabel)->setText(RateCaption());
  UpdateValid();
}

bool CCurrencyPropertiesSheet::Apply() {
  if (!valid_) {
    window_->SetCurrentPage(0);
    return false;
  }
  accepted_ = true;
  if (initialised_[0]) {
    const CFormKit& kit = *kits_[0];
    if (!(mode_ & kSheetEdit)) {
      std::string code = Upper(record_.szCode).substr(0, sizeof record_.szCode - 1);
      std::memcpy(record_.szCode, code.c_str(), code.size() + 1);
    }
    std::string rate = ToAnsi(kit.Control<QLineEdit>(currencysheet::kRate)->text()).substr(0, kFieldLimit);
    std::string unit = ToAnsi(kit.Control<QLineEdit>(currencysheet::kSmallest)->text()).substr(0, kFieldLimit);
    double typed = 0;
    uint32_t decimals = 0;
    // An unedited rate field is never read; an edited rate of 0 is ignored.
    if (rateEdited_ && ReadPositiveAmount(rate, false, &typed, &decimals)) {
      if (rateMode_ == 1) {
        // The base currency itself keeps its rate.
      } else if (rateMode_ == 2) {
        const CurrencyInfo* euro = settings_.IsEuroCurrency(record_.szCode);
        if (euro) {
          record_.dRate = euro->dRate;
          record_.dwRateDecimals = euro->dwRateDecimals;
        }
      } else if (baseIsEur_) {
        record_.dRate = typed;
        record_.dwRateDecimals = decimals;
      } else {
        char text[kRateTextMax] = {};
        double perEuro;
        uint32_t converted;
        if (settings_.ConvertUnit(typed, "EUR", base_, text, sizeof text, CSettings::kConvertEuroItself, nullptr,
                                  nullptr) == 0 &&
            ReadPositiveAmount(text, false, &perEuro, &converted)) {
          record_.dRate = perEuro;
          record_.dwRateDecimals = converted;
        }
      }
    }
    double smallest;
    if (ReadPositiveAmount(unit, false, &smallest, &decimals)) {
      record_.dSmallest = smallest;
      record_.dwSmallestDecimals = decimals;
    }
    uint32_t numeric = 0;
    if (ReadNumericCode(ToAnsi(kit.Control<QLineEdit>(currencysheet::kNumericCode)->text()), &numeric))
      record_.dwNumericCode = numeric;
    uint32_t flags = record_.dwFlags & ~(kCurrencyLegalTender | kCurrencyPhysical | kCurrencyEuroArea | kCurrencyPeggedEuro);
    if (kit.Control<QCheckBox>(currencysheet::kPhysical)->isChecked()) flags |= kCurrencyPhysical;
    if (kit.Control<QCheckBox>(currencysheet::kLegalTender)->isChecked()) flags |= kCurrencyLegalTender;
    int regime = kit.Control<QComboBox>(currencysheet::kRegime)->currentIndex();
    if (regime == 1) flags |= kCurrencyEuroArea;
    if (regime == 2) flags |= kCurrencyPeggedEuro;
    record_.dwFlags = flags;
  }
  if (initialised_[1] && textsEdited_) StoreTexts();
  return true;
}

// ---- The texts ----

void CCurrencyPropertiesSheet::BuildTextsPage(QWidget* page) {
  CFormKit& kit = *kits_[1];
  const QFont font = CreateDialogFont(-11, true);
  auto* locales = kit.Add(currencysheet::kLocale, new QComboBox(page));
  auto* name = kit.Add(currencysheet::kName, new QLineEdit(page));
  auto* symbol = kit.Add(currencysheet::kSymbol, new QLineEdit(page));
  auto* custom = kit.Add(currencysheet::kCustom, new QLineEdit(page));
  auto* typed = kit.Add(currencysheet::kTypedPreview, new QLabel(page));
  auto* title = kit.Add(currencysheet::kTitlePreview, new QLabel(page));
  for (QWidget* w : std::initializer_list<QWidget*>{name, symbol, custom, typed, title}) w->setFont(font);
  symbol->setMaxLength(5);
  for (QLabel* l : {typed, title}) {
    l->setFrameShape(QFrame::StyledPanel);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
  }

  auto* grid = new QGridLayout(page);
  kit.AddRow(grid, 0, currencysheet::kLocaleLabel, kStrLocaleLabel, locales);
  kit.AddRow(grid, 1, currencysheet::kNameLabel, kStrNameLabel, name);
  kit.AddRow(grid, 2, currencysheet::kSymbolLabel, kStrSymbolLabel, symbol);
  kit.AddRow(grid, 3, currencysheet::kCustomLabel, kStrCustomLabel, custom);
  kit.AddRow(grid, 4, currencysheet::kTypedPreviewLabel, kStrTypedPreviewLabel, typed);
  kit.AddRow(grid, 5, currencysheet::kTitlePreviewLabel, kStrTitlePreviewLabel, title);
  grid->setRowStretch(6, 1);
  grid->setColumnStretch(1, 1);

  if (locale_) {
    locales->addItem(FromAnsi(locale_->GetDisplayName()), QVariant::fromValue(static_cast<uint>(locale_->GetLCID())));
    locales->setCurrentIndex(0);
    locales->setEnabled(false);
  } else if (CCurrencyLocaleList* list = settings_.GetLocaleList()) {
    int selected = -1;
    for (CCurrencyLocale* l : *list) {
      if (l->GetLCID() == list->GetDefaultLocale()) selected = locales->count();
      locales->addItem(FromAnsi(l->GetDisplayName()), QVariant::fromValue(static_cast<uint>(l->GetLCID())));
    }
    locales->setCurrentIndex(selected);
    SetComboDropHeight(locales, locales->count() < 10 ? locales->count() : 10);
  }
  LoadTexts();

  QObject::connect(locales, &QComboBox::activated, page, [this] { LoadTexts(); });
  QObject::connect(name, &QLineEdit::textChanged, page, [this] { UpdatePreviews(); });
  for (QLineEdit* e : {name, symbol, custom})
    QObject::connect(e, &QLineEdit::textEdited, page, [this] { textsEdited_ = true; });

  kit.SetHelpMap({{currencysheet::kLocaleLabel, 297},
                  {currencysheet::kLocale, 297},
                  {currencysheet::kName, 279},
                  {currencysheet::kNameLabel, 279},
                  {currencysheet::kSymbol, 280},
                  {currencysheet::kSymbolLabel, 280},
                  {currencysheet::kCustom, 281},
                  {currencysheet::kCustomLabel, 281},
                  {currencysheet::kTypedPreviewLabel, 279},
                  {currencysheet::kTitlePreviewLabel, 279}});
}

void CCurrencyPropertiesSheet::LoadTexts() {
  if (textsEdited_) StoreTexts();
  textsEdited_ = false;
  CFormKit& kit = *kits_[1];
  auto* locales = kit.Control<QComboBox>(currencysheet::kLocale);
  currentLocale_ = nullptr;
  if (locales->currentIndex() >= 0) {
    LCID lcid = locales->currentData().toUInt();
    if (locale_) {
      currentLocale_ = locale_;
    } else if (CCurrencyLocaleList* list = settings_.GetLocaleList()) {
      currentLocale_ = list->GetLocale(lcid);
    }
  }
  Texts texts;
  if (currentLocale_) {
    auto edited = editedTexts_.find(currentLocale_->GetLCID());
    if (edited != editedTexts_.end()) {
      texts = edited->second;
    } else if (const CCurrencyLocaleInfo* info = currentLocale_->IFind(record_.szCode)) {
      texts = {info->GetName() ? info->GetName() : u"", info->GetSymbol() ? info->GetSymbol() : u"",
               info->GetCustom() ? info->GetCustom() : u""};
    }
  }
  kit.Control<QLineEdit>(currencysheet::kName)->setText(QString::fromStdU16String(texts.name));
  kit.Control<QLineEdit>(currencysheet::kSymbol)->setText(QString::fromStdU16String(texts.symbol));
  kit.Control<QLineEdit>(currencysheet::kCustom)->setText(QString::fromStdU16String(texts.custom));
  UpdatePreviews();
}

void CCurrencyPropertiesSheet::StoreTexts() {
  if (!currentLocale_) return;
  const CFormKit& kit = *kits_[1];
  editedTexts_[currentLocale_->GetLCID()] = {kit.Control<QLineEdit>(currencysheet::kName)->text().toStdU16String(),
                                             kit.Control<QLineEdit>(currencysheet::kSymbol)->text().toStdU16String(),
                                             kit.Control<QLineEdit>(currencysheet::kCustom)->text().toStdU16String()};
}

void CCurrencyPropertiesSheet::UpdatePreviews() {
  const CFormKit& kit = *kits_[1];
  QString name = kit.Control<QLineEdit>(currencysheet::kName)->text();
  kit.Control<QLabel>(currencysheet::kTypedPreview)->setText(name);
  CStringW title;
  std::u16string wide = name.toStdU16String();
  bool made = currentLocale_ && currentLocale_->MakeTitleStyleString(title, wide.c_str()) == 0;
  kit.Control<QLabel>(currencysheet::kTitlePreview)->setText(made ? Wide(title.c_str()) : QString());
}

// ---- After the sheet ----

int CCurrencyPropertiesSheet::Store() {
  CSettingsData* d = settings_.GetData();
  CAllCurrencies& db = d->Currencies;
  int32_t i = db.IFindCode(record_.szCode);
  if (mode_ & kSheetEdit) {
    if (i < 0) return IDC_CANCEL;
  } else if (i >= 0 && FormatMessageBox(window_.data(), kStrAskOverwrite, kStrPropertiesTitleNew, MB_YESNO, module_,
                                        record_.szCode) != IDYES) {
    return IDC_CANCEL;
  }
  // Through the database, so that its look-up by numeric code follows a changed number.
  if (!db.Add(record_)) return IDC_CANCEL;
  int32_t a = d->IFind(record_.szCode);
  if (a >= 0) {
    CurrencyInfo& active = *settings_.GetRates()[static_cast<uint32_t>(a)];
    // A rate never set (or none) stays as it is; the last change moves only with the rate.
    if (record_.dRate > 0) {
      if (record_.dRate != active.dRate) active.ftLastChange = CurrencyClockNow();
      active.dRate = record_.dRate;
      active.dwRateDecimals = record_.dwRateDecimals;
    }
    active.dSmallest = record_.dSmallest;
    active.dwSmallestDecimals = record_.dwSmallestDecimals;
    active.dwServers = record_.dwServers;
    if (record_.dwFlags & kCurrencyLegalTender)
      active.dwFlags &= ~kInfoEuroReplaced;
    else
      active.dwFlags |= kInfoEuroReplaced;
  }
  for (const auto& [lcid, texts] : editedTexts_) {
    CCurrencyLocale* target = nullptr;
    if (locale_) {
      if (locale_->GetLCID() != lcid) continue;
      target = locale_;
    } else if (CCurrencyLocaleList* list = settings_.GetLocaleList()) {
      target = list->GetLocale(lcid);
    }
    if (!target) continue;
    CCurrencyLocaleInfo* info = target->IFind(record_.szCode);
    if (!info) info = target->AddLocaleInfo(record_.szCode);
    if (!info) continue;
    info->SetName(texts.name.c_str());
    info->SetSymbol(texts.symbol.c_str());
    info->SetCustom(texts.custom.c_str());
    info->SetChanged(1);
  }
  return IDC_OK;
}

int CurrencyPropertiesSheet(const char* code, CSettings& settings, CCurrencyLocale* locale, QWidget* owner,
                            HMODULE module, uint32_t mode) {
  CCurrencyPropertiesSheet sheet(settings, locale, module, mode);
  if (!sheet.Open(code)) return IDC_CANCEL;
  return sheet.Run(owner);
}

}  // namespace vtx::manager
