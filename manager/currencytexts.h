// Numbers of the catalogue texts of the currency pages, the locale formats dialog and the currency
// properties sheet: titles, headers, labels and messages (help texts are in each form's help map).
#pragma once
#include "platform/types.h"

namespace vtx::manager {

// The design's.
constexpr UINT kStrCurrencyCodeColumn = 27;
constexpr UINT kStrPropertiesTitleEdit = 34;
constexpr UINT kStrPropertiesTitleNew = 35;
constexpr UINT kStrImageColumn = 148;
constexpr UINT kStrCurrencyNameColumn = 151;
constexpr UINT kStrRateInBaseColumn = 199;  // %1 the base currency
constexpr UINT kStrAskEuroReplaced = 235;
constexpr UINT kStrRateCaption = 236;       // %1 base, %2 currency
constexpr UINT kStrLocaleNameColumn = 237;
constexpr UINT kStrLocaleIdColumn = 238;
constexpr UINT kStrInfoColumn[5] = {239, 240, 241, 242, 243};
constexpr UINT kStrYes = 244;
constexpr UINT kStrNo = 245;
constexpr UINT kStrLocaleTitle = 246;       // %1 LCID, %2 display name
constexpr UINT kStrAskCopyLocale = 250;     // %1 %2 previous LCID and name, %3 %4 new ones
constexpr UINT kStrDatabaseColumn[5] = {284, 285, 286, 287, 458};
constexpr UINT kStrEuroArea = 292;
constexpr UINT kStrNoRegime = 293;
constexpr UINT kStrAskOverwrite = 300;      // %1 code
constexpr UINT kStrUpdateRules[3] = {306, 307, 308};
constexpr UINT kStrConflictingEmu[3] = {309, 310, 311};
constexpr UINT kStrUnknownCurrencies[3] = {312, 313, 314};
constexpr UINT kStrHitsColumn = 321;
constexpr UINT kStrPeggedToEuro = 345;
constexpr UINT kStrServersColumn = 365;
constexpr UINT kStrAskResetDatabase = 425;
constexpr UINT kStrDefinitionsUpdate = 478;

// The system's own: captions and labels of the forms.
constexpr UINT kStrLocaleCurrenciesGroup = 3300;
constexpr UINT kStrLocaleFormatsGroup = 3301;
constexpr UINT kStrPositiveSymbolLabel = 3302;
constexpr UINT kStrPositiveIsoLabel = 3303;
constexpr UINT kStrNegativeSymbolLabel = 3304;
constexpr UINT kStrNegativeIsoLabel = 3305;
constexpr UINT kStrDigitsLabel = 3306;
constexpr UINT kStrDecimalSeparatorLabel = 3307;
constexpr UINT kStrThousandSeparatorLabel = 3308;
constexpr UINT kStrGroupingLabel = 3309;
constexpr UINT kStrCapitalizeTitles = 3310;
constexpr UINT kStrSamplesLabel = 3311;
constexpr UINT kStrCurrencyPropertiesButton = 3312;
constexpr UINT kStrResetTextsButton = 3313;
constexpr UINT kStrResetListButton = 3314;
constexpr UINT kStrResetFormatsButton = 3315;
constexpr UINT kStrSymbolSampleLabel = 3316;
constexpr UINT kStrIsoSampleLabel = 3317;
constexpr UINT kStrCurrencyPageTitle = 3318;
constexpr UINT kStrTextsPageTitle = 3319;
constexpr UINT kStrCodeLabel = 3320;
constexpr UINT kStrNumericCodeLabel = 3321;
constexpr UINT kStrRegimeLabel = 3322;
constexpr UINT kStrLegalTenderCheck = 3323;
constexpr UINT kStrPhysicalCheck = 3324;
constexpr UINT kStrSmallestLabel = 3325;
constexpr UINT kStrLocaleLabel = 3326;
constexpr UINT kStrNameLabel = 3327;
constexpr UINT kStrSymbolLabel = 3328;
constexpr UINT kStrCustomLabel = 3329;
constexpr UINT kStrTypedPreviewLabel = 3330;
constexpr UINT kStrTitlePreviewLabel = 3331;
constexpr UINT kStrAddButton = 3332;
constexpr UINT kStrRemoveButton = 3333;
constexpr UINT kStrPropertiesButton = 3334;
constexpr UINT kStrBaseButton = 3335;
constexpr UINT kStrResetEuroButton = 3336;
constexpr UINT kStrClearWarningsButton = 3337;
constexpr UINT kStrResetHitsButton = 3338;
constexpr UINT kStrRatesInfoButton = 3339;
constexpr UINT kStrTestUpdateButton = 3340;
constexpr UINT kStrUpdateRuleLabel = 3341;
constexpr UINT kStrConflictingEmuLabel = 3342;
constexpr UINT kStrUnknownCurrenciesLabel = 3343;
constexpr UINT kStrNewButton = 3344;
constexpr UINT kStrResetSelectedButton = 3345;
constexpr UINT kStrResetDatabaseButton = 3346;
constexpr UINT kStrTestDefinitionsButton = 3347;
constexpr UINT kStrDefinitionsLabel = 3348;
constexpr UINT kStrMakeDefaultButton = 3349;
constexpr UINT kStrCopyLocaleCheck = 3350;
constexpr UINT kStrDefaultLocaleLabel = 3351;
constexpr UINT kStrRateCaptionNoCode = 3352;  // %1 base: a new currency without its code yet

}  // namespace vtx::manager
