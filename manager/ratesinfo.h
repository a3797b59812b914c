// The rates information report of the configuration window.
#pragma once
#include "engine/currency/settings.h"
#include "platform/messages.h"

namespace vtx::manager {

// Shows the report of the settings' rates data in the modal message dialog (title string 422,
// plain text, not on top) and returns when the user closes it; nothing when the report is empty.
void ShowRatesInformation(const CSettings& settings, UINT iconId, HWND owner, HMODULE resourceLibrary);

}  // namespace vtx::manager
