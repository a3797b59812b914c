// The control ids of the manager's forms. Ids repeat between forms (a control is looked up only
// within its own form), so each form has its enum in a namespace of its own; the numbers are the
// ones the help maps and the tests know the controls by.
#pragma once

namespace vtx::manager {

// OK and Cancel of every dialog.
constexpr int IDC_OK = 1;
constexpr int IDC_CANCEL = 2;

// ---- The configuration window's pages ----

// Page 0: the active currencies.
namespace currencylistpage {
enum Control : int {
  kCurrencyList = 1003,
  kAdd = 1012,
  kRemove = 1013,
  kProperties = 1014,
  kResetEuroArea = 1015,
  kTestUpdate = 1016,
  kChooseBase = 1017,
  kClearWarnings = 1018,
  kResetHits = 1019,
  kRatesInfo = 1025,
  kUpdateRule = 1158,
  kUpdateRuleLabel = 1159,
  kConflictingEmuLabel = 1160,
  kConflictingEmu = 1161,
  kUnknownCurrenciesLabel = 1162,
  kUnknownCurrencies = 1163,
};
}  // namespace currencylistpage

// Page 1: the currency database.
namespace databasepage {
enum Control : int {
  kDatabaseList = 1140,
  kNew = 1141,
  kProperties = 1142,
  kRemove = 1143,
  kResetDatabase = 1144,
  kResetSelected = 1145,
  kTestDefinitions = 1146,
  kDefinitions = 1218,
  kDefinitionsLabel = 1219,
  kHomePageLink = 1220,
};
}  // namespace databasepage

// Page 2: the locales.
namespace localespage {
enum Control : int {
  kDefaultLocale = 1104,
  kLocaleList = 1105,
  kProperties = 1106,
  kMakeDefault = 1107,
  kCopyLocale = 1138,
  kDefaultLocaleLabel = 3340,
};
}  // namespace localespage

// Page 3: the data sources and the update schedule. A number or duration field is a spin box
// that carries the up-down's id, with its edit carrying the edit's id.
namespace sourcespage {
enum Control : int {
  kAutoUpdate = 1009,
  kAtLeast = 1012,
  kAtMost = 1013,
  kAddSource = 1014,
  kEditSource = 1015,
  kAtLeastLabel = 1016,
  kAtMostLabel = 1017,
  kAtLeastUnits = 1018,
  kAtMostUnits = 1019,
  kRemoveSource = 1020,
  kAttemptsLabel = 1021,
  kAttempts = 1022,
  kRetryPauseLabel = 1023,
  kRetryPause = 1024,
  kSourceList = 1160,
  kMoveUp = 1161,
  kMoveDown = 1162,
  kAttemptsUpDown = 1163,
  kRetryPauseUpDown = 1164,
  kSourceOrder = 1165,
  kSourceOrderLabel = 1166,
  kAtLeastUpDown = 1195,
  kAtMostUpDown = 1196,
};
}  // namespace sourcespage

// Page 4: the administration rights and the programs the server runs.
namespace adminpage {
enum Control : int {
  kBrowseCustomAction = 1171,
  kCustomAction = 1172,
  kCustomActionLabel = 1173,
  kRunCustomAction = 1174,
  kRunCustomActionLabel = 1175,
  kAllowAdminCom = 1176,
  kAllowAdminWebService = 1177,
  kCustomActionRunAs = 1178,
  kClientValidationLabel = 1179,
  kClientValidation = 1180,
  kBrowseClientValidation = 1181,
  kClientValidationRunAs = 1184,
};
}  // namespace adminpage

// Page 5: the connection.
namespace connectionpage {
enum Control : int {
  kDialUp = 1029,
  kLan = 1030,
  kProxyPort = 1034,
  kNoProxyForLan = 1035,
  kDialUpSettings = 1036,
  kProxy = 1037,
  kProxyHostLabel = 1038,
  kProxyPortLabel = 1039,
  kProxyHost = 1040,
  kProxyAccount = 1041,
  kLanSettings = 1042,
};
}  // namespace connectionpage

// Page 6: the warning limits and the rate checks (fields as on page 3).
namespace warningspage {
enum Control : int {
  kMonitorLabel = 1178,
  kMonitor = 1179,
  kMaxFluctuation = 1182,
  kMaxFluctuationUpDown = 1183,
  kLastChange = 1184,
  kLastChangeUpDown = 1185,
  kWarningPause = 1186,
  kFluctuationErrorLabel = 1187,
  kFluctuationError = 1188,
  kMaxFluctuationLabel = 1189,
  kLastChangeLabel = 1190,
  kWarningPauseLabel = 1191,
  kWarningPauseUpDown = 1192,
  kMonitorUpDown = 1193,
  kNoWeekendWarnings = 1194,
  kCrossCheckMaxLabel = 1195,
  kCrossCheckMax = 1197,
  kCrossCheckMaxUpDown = 1198,
  kCrossCheckErrorLabel = 1199,
  kCrossCheckError = 1200,
  kLastChangeEachLabel = 1201,
  kLastChangeEach = 1202,
  kLastChangeEachUpDown = 1203,
  kPartialDataWarnings = 1204,
  kWarningPauseUnits = 1217,
};
}  // namespace warningspage

// Page 7: the notification channels.
namespace notificationspage {
enum Control : int {
  kToLog = 1075,
  kViaEmail = 1076,
  kOnScreen = 1077,
  kProfile = 1078,
  kRecipients = 1079,
  kTestNotification = 1080,
  kProfileLabel = 1081,
  kRecipientsLabel = 1082,
  kToFile = 1083,
  kFileLabel = 1084,
  kFile = 1085,
  kBrowseFile = 1086,
  kMessageOnlyOnce = 1087,
  kCheckNames = 1089,
  kMailSettings = 1210,
};
}  // namespace notificationspage

// Page 8: the information links.
namespace infopage {
enum Control : int {
  kSupportLink = 1060,
  kWebServiceLink = 1062,
};
}  // namespace infopage

// ---- Dialogs ----

// The choice of a currency (the base currency).
namespace currencychoicedialog {
enum Control : int {
  kCurrencyList = 1212,
};
}  // namespace currencychoicedialog

// An account: user, password and domain.
namespace accountdialog {
enum Control : int {
  kUser = 1062,
  kPassword = 1063,
  kUserLabel = 1064,
  kPasswordLabel = 1065,
  kDomainLabel = 1066,
  kDomain = 1067,
};
}  // namespace accountdialog

// The choice of one text of a list.
namespace listchoicedialog {
enum Control : int {
  kChoiceLabel = 1093,
  kChoice = 1094,
};
}  // namespace listchoicedialog

// The mail server and sender.
namespace mailserverdialog {
enum Control : int {
  kServerLabel = 1213,
  kServer = 1214,
  kSenderLabel = 1215,
  kSender = 1216,
};
}  // namespace mailserverdialog

// A data source.
namespace datasourcedialog {
enum Control : int {
  kAddress = 1011,
  kFilter = 1014,
  kAddressLabel = 1023,
  kFilterLabel = 1024,
  kUserDataLabel = 1025,
  kAccount = 1061,
  kHomePageLink = 1168,
  kDescription = 1169,
  kUserData = 1209,
};
}  // namespace datasourcedialog

// The dial-up connection.
namespace dialupdialog {
enum Control : int {
  kEditEntry = 1031,
  kHangUp = 1032,
  kUser = 1033,
  kEntry = 1034,
  kPassword = 1035,
  kDomain = 1036,
  kEntryLabel = 1041,
  kUserLabel = 1042,
  kPasswordLabel = 1043,
  kDomainLabel = 1044,
};
}  // namespace dialupdialog

// A locale's currencies and formats.
namespace localeformatsdialog {
enum Control : int {
  kCurrencyList = 1108,
  kCurrencyProperties = 1110,
  kResetNames = 1112,
  kResetList = 1113,
  kResetFormats = 1114,
  kPositiveSymbol = 1119,
  kNegativeSymbol = 1120,
  kPositiveIso = 1121,
  kNegativeIso = 1122,
  kDecimalSeparator = 1123,
  kDigits = 1124,
  kThousandSeparator = 1125,
  kGrouping = 1126,
  kCapitalizeTitles = 1127,
  kPositiveSymbolSample = 1128,
  kNegativeSymbolSample = 1129,
  kPositiveIsoSample = 1130,
  kNegativeIsoSample = 1131,
  kPositiveSymbolLabel = 3302,
  kPositiveIsoLabel = 3303,
  kNegativeSymbolLabel = 3304,
  kNegativeIsoLabel = 3305,
  kDigitsLabel = 3306,
  kDecimalSeparatorLabel = 3307,
  kThousandSeparatorLabel = 3308,
  kGroupingLabel = 3309,
  kSymbolSampleLabel = 3316,
  kIsoSampleLabel = 3317,
};
}  // namespace localeformatsdialog

// The currency's properties, both pages of the sheet.
namespace currencysheet {
enum Control : int {
  // The currency.
  kRate = 1121,
  kSmallestLabel = 1122,
  kSmallest = 1123,
  kNumericCodeLabel = 1126,
  kNumericCode = 1127,
  kRegimeLabel = 1128,
  kRegime = 1129,
  kCode = 1130,
  kLegalTender = 1144,
  kCodeLabel = 1145,
  kPhysical = 1146,
  kRateLabel = 1147,
  // The texts.
  kLocaleLabel = 1124,
  kLocale = 1125,
  kName = 1148,
  kNameLabel = 1149,
  kSymbol = 1150,
  kSymbolLabel = 1151,
  kCustom = 1152,
  kCustomLabel = 1153,
  kTypedPreview = 1154,
  kTitlePreview = 1155,
  kTypedPreviewLabel = 3330,
  kTitlePreviewLabel = 3331,
};
}  // namespace currencysheet

// The message window's dialog.
namespace messagedialog {
enum Control : int {
  kRichEdit = 1046,
  kSizeGrip = 1088,
  kPlainEdit = 1090,
};
}  // namespace messagedialog

}  // namespace vtx::manager
