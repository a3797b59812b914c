// Numbers of the catalogue texts that the dialogs of the configuration pages show: their titles,
// labels and messages (the help texts are numbered in each dialog's help map).
#pragma once
#include "manager/managerdefs.h"
#include "platform/types.h"

namespace vtx::manager {

// The system's own.
constexpr UINT kStrOk = 3100;
constexpr UINT kStrCancel = 3101;
constexpr UINT kStrCurrencyChoiceTitle = 3102;
constexpr UINT kStrListChoiceTitle = 3103;
constexpr UINT kStrListChoiceLabel = 3104;
constexpr UINT kStrMailServerTitle = 3105;
constexpr UINT kStrMailServerLabel = 3106;
constexpr UINT kStrMailSenderLabel = 3107;
constexpr UINT kStrUserLabel = 3108;
constexpr UINT kStrPasswordLabel = 3109;
constexpr UINT kStrDomainLabel = 3110;
constexpr UINT kStrFilterLabel = 3111;
constexpr UINT kStrAddressLabel = 3112;
constexpr UINT kStrUserDataLabel = 3113;
constexpr UINT kStrAccountButton = 3114;
constexpr UINT kStrDialUpTitle = 3115;
constexpr UINT kStrDialUpEntryLabel = 3116;
constexpr UINT kStrDialUpEditButton = 3117;
constexpr UINT kStrDialUpHangUp = 3118;
constexpr UINT kStrDescriptionLabel = 3119;

// The design's (the caption of boxes is managerdefs.h's kStrProduct).
constexpr UINT kStrAccountTitle[3] = {128, 137, 381};
constexpr UINT kStrCurrencyCodeHeader = 284;
constexpr UINT kStrCurrencyNameHeader = 285;
constexpr UINT kStrEditSourceTitle = 338;
constexpr UINT kStrNewSourceTitle = 339;
constexpr UINT kStrHomePageLink = 344;
constexpr UINT kStrUseUserId = 400;
constexpr UINT kStrFilterNeedsVersion = 474;
constexpr UINT kStrAddressNeedsVersion = 475;

}  // namespace vtx::manager
