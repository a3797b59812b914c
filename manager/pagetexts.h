// Numbers of the catalogue texts of the configuration window's pages 3 to 8 (data sources,
// administration, connection, warnings, notifications, information). Help texts are numbered in
// the pages' help maps.
#pragma once
#include "platform/types.h"

namespace vtx::manager {

// The design's.
constexpr UINT kStrNoDialUpEntry = 107;
constexpr UINT kStrNoDataSource = 108;
constexpr UINT kStrBadProxy = 109;
constexpr UINT kStrNoRecipients = 165;
constexpr UINT kStrDefaultProfileItem = 170;
constexpr UINT kStrAddressBookTitle = 172;
constexpr UINT kStrAddressBookWell = 173;
constexpr UINT kStrNoAddressBook = 181;
constexpr UINT kStrNoDefaultProfile = 182;
constexpr UINT kStrTestServiceAccount = 186;
constexpr UINT kStrNoMessagesFile = 219;
constexpr UINT kStrMessagesFileFilter = 220;
constexpr UINT kStrProxyItems[3] = {226, 224, 225};  // Proxy 2, 0, 1
constexpr UINT kStrSourceOrderItems[3] = {333, 334, 335};
constexpr UINT kStrCustomActionItems[3] = {347, 348, 349};
constexpr UINT kStrProgramFilter = 350;
constexpr UINT kStrErrorItems[2] = {356, 357};
constexpr UINT kStrWebServiceNotSet = 423;
constexpr UINT kStrWebService = 424;
constexpr UINT kStrProgramRefused = 439;
constexpr UINT kStrSmtpProfileItem = 460;
constexpr UINT kStrNoSmtpServer = 461;

// The system's own: labels, buttons and check boxes.
constexpr UINT kStrAddSource = 3400;
constexpr UINT kStrEditSource = 3401;
constexpr UINT kStrRemoveSource = 3402;
constexpr UINT kStrSourceOrderLabel = 3403;
constexpr UINT kStrAttemptsLabel = 3404;
constexpr UINT kStrRetryPauseLabel = 3405;
constexpr UINT kStrAutoUpdate = 3406;
constexpr UINT kStrAtLeastLabel = 3407;
constexpr UINT kStrAtMostLabel = 3408;
constexpr UINT kStrDurationUnits = 3409;
constexpr UINT kStrAllowAdminCom = 3410;
constexpr UINT kStrAllowAdminWebService = 3411;
constexpr UINT kStrCustomActionLabel = 3412;
constexpr UINT kStrBrowse = 3413;
constexpr UINT kStrRunCustomActionLabel = 3414;
constexpr UINT kStrRunAs = 3415;
constexpr UINT kStrClientValidationLabel = 3416;
constexpr UINT kStrDialUp = 3417;
constexpr UINT kStrLan = 3418;
constexpr UINT kStrDialUpSettings = 3419;
constexpr UINT kStrLanSettings = 3420;
constexpr UINT kStrProxyLabel = 3421;
constexpr UINT kStrProxyHostLabel = 3422;
constexpr UINT kStrProxyPortLabel = 3423;
constexpr UINT kStrNoProxyForLan = 3424;
constexpr UINT kStrProxyAccount = 3425;
constexpr UINT kStrFluctuationErrorLabel = 3426;
constexpr UINT kStrMaxFluctuationLabel = 3427;
constexpr UINT kStrCrossCheckErrorLabel = 3428;
constexpr UINT kStrCrossCheckMaxLabel = 3429;
constexpr UINT kStrMonitorLabel = 3430;
constexpr UINT kStrLastChangeLabel = 3431;
constexpr UINT kStrLastChangeEachLabel = 3432;
constexpr UINT kStrWarningPauseLabel = 3433;
constexpr UINT kStrNoWeekendWarnings = 3434;
constexpr UINT kStrPartialDataWarnings = 3435;
constexpr UINT kStrRateChecksGroup = 3436;
constexpr UINT kStrWatchdogGroup = 3437;
constexpr UINT kStrStaleRatesGroup = 3438;
constexpr UINT kStrOnScreen = 3439;
constexpr UINT kStrToLog = 3440;
constexpr UINT kStrToFile = 3441;
constexpr UINT kStrFileLabel = 3442;
constexpr UINT kStrViaEmail = 3443;
constexpr UINT kStrProfileLabel = 3444;
constexpr UINT kStrRecipientsLabel = 3445;
constexpr UINT kStrCheckNames = 3446;
constexpr UINT kStrMailSettings = 3447;
constexpr UINT kStrMessageOnlyOnce = 3448;
constexpr UINT kStrTestNotification = 3449;
constexpr UINT kStrSupportLink = 3450;
constexpr UINT kStrTestFileRefused = 3454;  // %1 the file, %2 the log folder

}  // namespace vtx::manager
