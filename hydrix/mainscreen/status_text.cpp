#include "hydrix/mainscreen/status_text.h"

#include "hydrix/selection/device_selection.h"

namespace hx {

namespace {

// Puts `value` in place of every "%1" of `text`.
std::string Fill(const std::string& text, const std::string& value, const char* marker = "%1") {
  std::string out;
  std::size_t from = 0;
  for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, from)) {
    out.append(text, from, at - from).append(value);
    from = at + 2;
  }
  return out.append(text, from);
}

}  // namespace

StatusLine StatusText(const StatusFacts& f, const StatusTexts& text) {
  StatusLine line;
  if (f.usbId == 0 || !f.chosen) {
    line.controller = text("StatusNoController", "No controller chosen: choose one with USB Connect.");
  } else {
    line.controller = Fill(text("StatusController", "Controller %1"), std::to_string(f.usbId));
    if (!f.controller.empty()) line.controller += ": " + ListedInLanguage(f.controller, text);
    line.controller += " ";
    if (f.timeOut && f.looking) {
      line.controller += text("StatusLooking",
                              "stopped answering: check its USB cable and power; it is looked for every few "
                              "seconds and read again when it answers.");
    } else if (f.timeOut) {
      line.controller +=
          text("StatusStopped",
               "stopped answering: check its USB cable and power, then choose it again with USB Connect.");
    } else if (f.implausible) {
      line.controller += text("StatusZeros", "(not answering properly: its settings read as zeros)");
    } else if (f.notReading) {
      line.controller +=
          text("StatusNotPlausible", "(not answering plausibly: its measures are not a reading)");
    } else if (f.partAnswers) {
      line.controller += text("StatusIncomplete", "(not answering: its answers come incomplete)");
    } else {
      line.controller += text("StatusAnswering", "(answering)");
    }
  }
  // The log's line tells whether rows are being added.
  if (!f.logFile.empty()) {
    line.log = f.reading ? Fill(text("StatusLogging", "Logging measures to %1"), f.logFile)
                         : Fill(text("StatusLogPaused", "Measure log %1 paused: Continuous Reading is off"),
                                f.logFile);
  }
  return line;
}

std::string ListedWithSerial(const std::string& listed, std::int32_t serial) {
  static const std::string kSerial = " \u00B7 serial ";
  static const std::string kId = " \u00B7 id ";
  const std::string part = kSerial + std::to_string(serial);
  if (const auto at = listed.find(kSerial); at != std::string::npos) {
    const auto end = listed.find(" \u00B7", at + kSerial.size());
    return listed.substr(0, at) + part + (end == std::string::npos ? std::string() : listed.substr(end));
  }
  if (const auto at = listed.rfind(kId); at != std::string::npos)
    return listed.substr(0, at) + part + listed.substr(at);
  return listed.empty() ? listed : listed + part;
}

std::string AnswersAgainText(std::int32_t usbId, long long seconds, const StatusTexts& text) {
  return Fill(
      Fill(text("StatusAnswersAgain", "Controller %1 answers again after %2 s"), std::to_string(usbId)),
      std::to_string(seconds), "%2");
}

std::string TickFailureText(std::string_view step, std::string_view reason, const StatusTexts& text) {
  const auto word = [&](const char* code, const char* english) {
    return text ? text(code, english) : english;
  };
  const std::string why = reason.empty() ? word("StatusNoReason", "no reason given") : std::string(reason);
  std::string line =
      Fill(word("StatusTickFailed", "Continuous reading stopped: %1 failed (%2)."), std::string(step));
  if (const auto at = line.find("%2"); at != std::string::npos) line.replace(at, 2, why);
  return line;
}

}  // namespace hx
