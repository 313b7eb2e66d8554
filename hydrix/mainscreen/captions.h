// The captions of the main window that are looked up by a fixed key rather
// than by the control's name, in the order they are applied; and the design
// captions of the name-keyed controls that the production report copies.
#pragma once

#include <span>
#include <string>

namespace hx {

struct FixedCaption {
  const char* control;
  int index;  // element of a control array, or -1
  const char* key;
};
std::span<const FixedCaption> FixedCaptions();
// The key of a control's fixed caption, or nullptr when it has none.
const char* FixedCaptionKey(const std::string& control, int index);

// The three choices of the battery capacity list, as the window shows them.
std::span<const char* const> CapacityItems();

}  // namespace hx
