// The first three pages of the configuration window: the active currency list with its update
// rules (page 0), the currency database (page 1) and the currency locales (page 2). They share one
// state, so that each can refresh the rows the others show.
#pragma once
#include <memory>
#include <vector>

#include "manager/configsheet.h"

namespace vtx::manager {

// The three pages, in page order.
std::vector<std::unique_ptr<IConfigPage>> MakeCurrencyPages();

// The registry value that keeps the stored definitions update off the database resets.
constexpr char kIgnoreStaticUpdates[] = "IgnoreStaticUpdates";

}  // namespace vtx::manager
