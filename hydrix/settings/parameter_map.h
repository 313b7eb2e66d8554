// The controller's settings as the main window shows them: one table that
// says, for each setting, where it lives in the EEPROM image, how it is
// scaled and formatted for the screen, which bounds the edit check applies,
// and which control shows it. The decoder (image -> screen texts), the
// encoder (screen texts -> image), the checks, the window and hydrixctl all
// read this table. Pure functions, no Qt, no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hx {

enum class FieldKind {
  Word,         // signed 16-bit word, scaled: screen = device * num / den
  TempoChoice,  // 16-bit seconds written from the battery capacity list
  Hour,         // one byte: 0..23 or 255 for "none"
  Long,         // signed 32-bit decimal (serial number)
  Date,         // signed 32-bit device date count, shown as a date
  Version,      // three bytes "1.3A"
  Correction,   // the clock correction word (shown by the correction display)
};

enum class ControlKind { TextBox, Label, HourList, CapacityList };

struct Bounds {
  double min;
  double max;
};

struct ParameterField {
  const char* key;  // hydrixctl's name of the setting
  int address;      // first EEPROM address
  int width;        // bytes
  FieldKind kind;
  double num;  // screen value = device value * num / den (Word)
  double den;
  const char* format;           // screen pattern; "" = whole number, halves to even
  std::optional<Bounds> check;  // the edit check's inclusive bounds
  const char* control;          // object name of the control that shows it
  int index;                    // element of a control array, or -1
  ControlKind control_kind;
  bool written;  // Write Parameters takes it from the screen
};

// Every setting, in the order hydrixctl lists them.
std::span<const ParameterField> ParameterMap();
// The field of `key`, or nullptr.
const ParameterField* FindParameter(const std::string& key);

// The validity mark that Write Parameters stores at 21 and 22.
inline constexpr int kValidityAddress = 21;
inline constexpr std::uint8_t kValidityMark[2] = {0xAA, 0x55};
// The battery capacity choices and the end-of-charge delay each stands for.
inline constexpr std::array<int, 3> kCapacityTempo = {3600, 10800, 21600};
// The hour lists: "0".."23", then "none" (byte 255).
inline constexpr int kHourNone = 255;
inline constexpr int kHourItems = 25;
std::string HourItemText(int index);

// What the screen shows, by setting key. Lists hold their selection: the
// capacity list the index ("0".."2"), the hour lists the item text ("0".."23",
// "none"). The end-of-charge delay box (key end_of_charge_delay_s) shows the
// word read, whatever the list shows.
using ParameterTexts = std::map<std::string, std::string>;

// Image entries (ImageParams: one byte per entry) -> screen texts.
ParameterTexts DecodeParametres(std::span<const std::int32_t> image);

// Why a screen cannot be written.
struct ParameterProblem {
  std::string key;
  std::string text;
};

struct EncodeResult {
  std::vector<ParameterProblem> problems;  // empty when the image is good to write
  std::array<std::uint8_t, 256> image{};   // the image to write (valid only without problems)
};

// Screen texts -> the write image. Starts from `image` (the last whole read,
// so every byte the screen does not own is carried through), sets the
// settings that Write Parameters writes, the date of this write (device date
// count `dateCount`) and the validity mark. A value that is not a number,
// does not fit its field (see WordFit), or an hour that is neither a whole number 0..23 nor
// "none", is a problem; then nothing is to be written.
EncodeResult EncodeParametres(const ParameterTexts& screen, const std::array<std::uint8_t, 256>& image,
                              std::int32_t dateCount);

// A typed value as the screen shows it: rounded to the decimals of the
// field's format ("#.00": 11.556 is 11.56), or to a whole number. Values
// are written, checked and compared as shown, so that a value accepted and
// written reads back as accepted.
double ShownValue(const ParameterField& f, double value);

// The range of values a Word field's stored word can carry as the screen
// shows them: the controller keeps signed 16-bit words, and the byte split
// takes no negative value, so 0..32767 once scaled, the top cut to the
// format's decimals (32.76 V, as 32.77 would not fit).
Bounds WordFit(const ParameterField& f);
// A limit of `f` as messages show it: with the decimals the screen shows for
// it ("104854" for the solenoid pulse, "32.76" for a voltage).
std::string LimitText(const ParameterField& f, double value);

// A setting written from the screen whose number lies outside the bounds of
// its edit check (the box shows pink). Write Parameters asks before writing
// such values.
struct OutOfBounds {
  std::string key;
  Bounds bounds;
};
std::vector<OutOfBounds> OutOfCheckBounds(const ParameterTexts& screen);

// The edit check of a typed value against inclusive bounds.
struct CheckResult {
  enum class Outcome { Good, NotNumeric, OutOfBounds } outcome = Outcome::Good;
  bool ok() const { return outcome == Outcome::Good; }
};
CheckResult CheckValue(const std::string& text, Bounds bounds);
// The edit check of a setting's typed value: its bounds applied to the value
// as the screen shows it (ShownValue), so 20.004 V passes like the 20.00 it
// shows and 4.994 V fails like 4.99. Good for a field without bounds.
CheckResult CheckField(const ParameterField& f, const std::string& text);

// The message of a failed check: the catalogue texts of "Value must be
// numeric", or of "Value Must be between " and " and " joined with the
// bounds ("Value Must be between  5  and  20").
std::string CheckMessage(const CheckResult& result, Bounds bounds, const std::string& notNumeric,
                         const std::string& between, const std::string& andText);

}  // namespace hx
