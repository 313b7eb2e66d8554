// Text taken from a file or typed by a user, made safe to show: control
// characters, escape sequences and bytes that are not UTF-8 are written as
// escapes, so that an error message echoing a file's line cannot move the
// cursor, recolour or clear the terminal, or hide part of itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hx {

// `text` with every control character (C0, DEL and C1) and every byte that
// is not part of valid UTF-8 written as "\xHH" (the byte, or each UTF-8 byte
// of a C1 control), except tab, line feed and carriage return, which read
// "\t", "\n" and "\r". Everything else is kept as it is.
std::string ShownText(std::string_view text);

// The first thing in `text` that is not printable UTF-8 text, named as the
// messages name it: "the control character 0x1B" (U+0085 for a C1
// control), "the byte 0xFF, which is not UTF-8". Characters in `allowed` (tab, line feed) are let through.
// Nothing when the whole text is printable UTF-8.
std::optional<std::string> UnprintableInText(std::string_view text, std::string_view allowed = {});

}  // namespace hx
