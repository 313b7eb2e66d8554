// The one text lookup of hydrix: a text by language name and code, with a
// default. The message catalogue implements it; commands and windows only
// see this interface.
#pragma once

#include <string>

namespace hx {

class MessageSource {
 public:
  virtual ~MessageSource() = default;
  // The text to show for `code` in `language`; `defaultText` (or the code
  // itself when it is empty) when the catalogue has no text for it.
  virtual std::string LitMessage(const std::string& language, const std::string& code,
                                 const std::string& defaultText) = 0;
};

// A source without a catalogue: every text is its default, or its code.
class CodeMessageSource : public MessageSource {
 public:
  std::string LitMessage(const std::string&, const std::string& code,
                         const std::string& defaultText) override {
    return defaultText.empty() ? code : defaultText;
  }
};

}  // namespace hx
