// What the main window's status bar says: the line about the chosen
// controller, the line about the measure log, and the report of a step of
// continuous reading that failed. Plain values in, texts out; the window
// only copies them into its labels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace hx {

// What the status bar tells from.
struct StatusFacts {
  std::int32_t usbId = 0;    // the chosen controller's identifier, 0 for none
  bool chosen = false;       // a controller is chosen
  std::string controller;    // its identity as the selection listed it (may be empty)
  bool timeOut = false;      // the link to it was given up
  bool partAnswers = false;  // the last read got answers, but not whole ones
  bool implausible = false;  // the last read's settings cannot be the controller's own
  bool notReading = false;   // the last measures are not a reading (zeros, no date, short answers)
  std::string logFile;       // the open measure log, empty when none is open
  bool reading = false;      // continuous reading is on
  bool looking = false;      // the controller that stopped answering is looked for
};

struct StatusLine {
  std::string controller;  // the controller's line
  std::string log;         // the measure log's line, empty when no log is open
};

// A catalogue text by code in the language on screen, `english` when it
// has none. "%1" in the text stands for the value the line fills in.
using StatusTexts = std::function<std::string(const char* code, const char* english)>;

StatusLine StatusText(const StatusFacts& facts, const StatusTexts& text);

// The chosen controller's identity as the device selection lists it, in
// English ("Hydrix (11) 1.05 · serial 24000005 · id 5"), with `serial` in place of
// the serial it names, or added before its id when it names none.
std::string ListedWithSerial(const std::string& listed, std::int32_t serial);

// What the status bar says when a controller that stopped answering
// answers again by itself, `seconds` after it was found missing.
std::string AnswersAgainText(std::int32_t usbId, long long seconds, const StatusTexts& text);

// What the status bar says when a step of a continuous-reading tick failed:
// the step (already worded) and the reason, and that reading stopped; in
// English without `text`.
std::string TickFailureText(std::string_view step, std::string_view reason, const StatusTexts& text = {});

}  // namespace hx
