// Every code the program looks up in the message catalogue, as data: the
// captioned controls of the main window with their design captions, the
// fixed caption keys, and the message codes (always looked up in "English").
#pragma once

#include <span>

namespace hx {

// A control of the main window whose caption goes through the catalogue,
// its name being the code and its design caption the default text.
struct ControlCaption {
  const char* control;
  const char* caption;
};

// A fixed caption: the control (with its element index, -1 when it is not
// a control array) and the key looked up with an empty default text.
struct FixedCaption {
  const char* control;
  int index;
  const char* key;
};

// The captioned controls of the main window, in the order they are visited.
std::span<const ControlCaption> MainScreenCaptions();

// The fixed captions, in the order they are applied after the controls.
std::span<const FixedCaption> FixedCaptions();

// The codes of messages and prompts. Their texts are their codes unless the
// catalogue rewords them; note the blanks of "Value Must be between " and " and ".
std::span<const char* const> MessageCodes();

}  // namespace hx
