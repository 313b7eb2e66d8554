// Lookups over the main window's fixed captions (declared with every other
// catalogue code in catalogue_codes.h), and the battery capacity list's items.
#pragma once

#include <span>
#include <string>

#include "hydrix/config/catalogue_codes.h"

namespace hx {

// The key of a control's fixed caption, or nullptr when it has none.
const char* FixedCaptionKey(const std::string& control, int index);

// The three choices of the battery capacity list, as the window shows them.
std::span<const char* const> CapacityItems();

}  // namespace hx
