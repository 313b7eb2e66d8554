// Lookups over the main window's fixed captions (declared with every other
// catalogue code in catalogue_codes.h), and the battery capacity list's items.
#pragma once

#include <span>
#include <string>

#include "hydrix/config/catalogue_codes.h"

namespace hx {

// The key of a control's fixed caption, or nullptr when it has none.
const char* FixedCaptionKey(const std::string& control, int index);

// The label of the main window that captions a setting, so that messages
// name it as the operator reads it.
struct SettingLabel {
  const char* key;      // the setting
  const char* control;  // the label's object name
  int index;            // element of a control array, or -1
};
const SettingLabel* SettingCaption(const std::string& key);

// The three choices of the battery capacity list, as the window shows them.
std::span<const char* const> CapacityItems();

}  // namespace hx
