// Numbers of the catalogue texts that the configuration session and the configuration window show.
#pragma once
#include "platform/types.h"

namespace vtx::manager {

// The design's.
constexpr UINT kStrConfigurationTitle = 26;
constexpr UINT kStrCurrencyListHelp = 38;
constexpr UINT kStrOperationFailed = 83;
constexpr UINT kStrTestUpdateTitle = 177;
constexpr UINT kStrNoWriteAccess = 184;
constexpr UINT kStrSaveFailedCaption = 185;
constexpr UINT kStrPendingUpdates = 190;
constexpr UINT kStrServiceAccount = 191;
constexpr UINT kStrTestUpdateErrorCaption = 81;
constexpr UINT kStrListTooShort = 320;
constexpr UINT kStrRunCustomAction = 364;
constexpr UINT kStrCustomActionCaption = 382;

// The system's own: the Apply button and the pages' tab titles (in page order).
constexpr UINT kStrApply = 3200;
constexpr UINT kStrPageTitleFirst = 3201;

}  // namespace vtx::manager
