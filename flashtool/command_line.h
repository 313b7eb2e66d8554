// The programmer's command line: the options of the command tail
// ("device=arvel;usbid=1;prg=a.hex"), how the tail splits into them and the
// usage text. Pure: text in, a parsed command out; no file, window or
// parameter file is touched, and errors come back as values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hx::flash {

// Command-line state.
struct CommandLine {
  std::int32_t UsbID = -1;
  std::string device;   // upper case
  std::string target;   // TARGET of the product
  std::string hexPath;  // as given (its case kept)
  bool noprog = false;
  bool idonly = false;
  bool boot = false;
  bool spy = false;
  bool old_mode = false;
  bool noverify = false;  // skip reading back what was programmed
  std::uint8_t cmdLen = 9;
  std::uint16_t cmdVal = 23;
  std::string config;  // product CONFIG text, kept only
};

// What ParseCommandLine makes of a command tail. The product's target, boot
// command and CONFIG text come from the parameter file and are left at their
// defaults here.
struct ParsedCommandLine {
  CommandLine command;
  bool deviceNamed = false;  // a DEVICE option was given (even an empty one)
  bool usage = false;        // the tail was blank: the usage text is shown
  bool misused = false;      // an option was refused: the usage text follows the error
  std::string error;         // empty when the command is usable, else the message that ends the run
};

// The splitting of the command tail: trims `str` of blanks; when it is then
// empty returns "". Otherwise returns the text before the first `delim` and
// leaves the text after it in `str`; without a delimiter returns all of
// `str` and empties it. The token is not trimmed.
std::string GetToken(std::string& str, std::string_view delim);

// Reads the options of `tail` (split on ";", key before "=", keys without
// regard to case, unknown keys ignored). Refused, naming the option: DEVICE,
// PRG or USBID given twice, a switch (noprog, idonly, boot, spy, old_mode,
// noverify) given a value, usbid=0 or usbid=-1. Otherwise the error is "USB
// device ID not supplied" when no numeric USBID was given.
ParsedCommandLine ParseCommandLine(std::string_view tail);

// Whether `tail` is the one hydrix's Firmware Update passes: it alone
// carries the language option LANGUE=.
bool StartedFromHydrix(std::string_view tail);

// The usage text printed for an empty command line, one line each.
const std::vector<std::string>& UsageLines();

}  // namespace hx::flash
