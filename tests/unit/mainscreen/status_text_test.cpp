#include "hydrix/mainscreen/status_text.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

struct StatusCase {
  const char* name;
  StatusFacts facts;
  const char* controller;
  const char* log;
};

class StatusTextTest : public ::testing::TestWithParam<StatusCase> {};

// The English texts, as the window shows them before a language is chosen.
std::string English(const char*, const char* english) { return english; }

TEST_P(StatusTextTest, SaysWhatTheControllerAndTheLogAreDoing) {
  const StatusLine line = StatusText(GetParam().facts, English);
  EXPECT_EQ(line.controller, GetParam().controller);
  EXPECT_EQ(line.log, GetParam().log);
}

StatusFacts Facts(std::int32_t id, bool chosen, std::string listed = {}) {
  StatusFacts f;
  f.usbId = id;
  f.chosen = chosen;
  f.controller = std::move(listed);
  return f;
}
StatusFacts With(StatusFacts f, bool StatusFacts::*flag) {
  f.*flag = true;
  return f;
}
StatusFacts Logging(StatusFacts f, bool reading) {
  f.logFile = "/tmp/m.csv";
  f.reading = reading;
  return f;
}

const StatusCase kCases[] = {
    {"NoneChosen", Facts(0, false), "No controller chosen: choose one with USB Connect.", ""},
    {"ChoiceCleared", Facts(5, false), "No controller chosen: choose one with USB Connect.", ""},
    {"Answering", Facts(5, true), "Controller 5 (answering)", ""},
    {"AnsweringListed", Facts(5, true, "5 (serial 1234)"), "Controller 5: 5 (serial 1234) (answering)", ""},
    {"Stopped", With(Facts(5, true), &StatusFacts::timeOut),
     "Controller 5 stopped answering: check its USB cable and power, then choose it again with USB Connect.",
     ""},
    // A link given up says so before whatever the last read got.
    {"StoppedAfterPartAnswers", With(With(Facts(5, true), &StatusFacts::partAnswers), &StatusFacts::timeOut),
     "Controller 5 stopped answering: check its USB cable and power, then choose it again with USB Connect.",
     ""},
    // Lost while it was read continuously: it is looked for by itself.
    {"StoppedLookedFor", With(With(Facts(5, true), &StatusFacts::timeOut), &StatusFacts::looking),
     "Controller 5 stopped answering: check its USB cable and power; it is looked for every few seconds and "
     "read "
     "again when it answers.",
     ""},
    {"PartAnswers", With(Facts(7, true), &StatusFacts::partAnswers),
     "Controller 7 (not answering: its answers come incomplete)", ""},
    {"Zeros", With(Facts(8, true), &StatusFacts::implausible),
     "Controller 8 (not answering properly: its settings read as zeros)", ""},
    // Measures that are no reading say so over the short answers they came in.
    {"NotAReading", With(With(Facts(8, true), &StatusFacts::partAnswers), &StatusFacts::notReading),
     "Controller 8 (not answering plausibly: its measures are not a reading)", ""},
    {"LogWritten", Logging(Facts(5, true), true), "Controller 5 (answering)",
     "Logging measures to /tmp/m.csv"},
    {"LogPaused", Logging(Facts(0, false), false), "No controller chosen: choose one with USB Connect.",
     "Measure log /tmp/m.csv paused: Continuous Reading is off"},
};
INSTANTIATE_TEST_SUITE_P(Cases, StatusTextTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The catalogue's text stands in for the English one, the identifier filling
// its marker wherever the translation puts it; the listed line's words and
// the tick failure are worded too.
TEST(StatusText, TakesTheCatalogueTextsAndTheTickFailureNamesStepAndReason) {
  const auto french = [](const char* code, const char* english) -> std::string {
    const std::string c = code;
    if (c == "StatusController") return "Contrôleur %1 (%1)";
    if (c == "SelectionSerial") return "n° de série";
    if (c == "StatusTickFailed") return "Lecture arrêtée (%2) : échec de %1.";
    if (c == "StatusNoReason") return "sans raison";
    return english;
  };
  EXPECT_EQ(StatusText(Facts(3, true), french).controller, "Contrôleur 3 (3) (answering)");
  EXPECT_EQ(AnswersAgainText(1001, 47, English), "Controller 1001 answers again after 47 s");
  EXPECT_EQ(StatusText(Facts(3, true, "Hydrix (11) 1.05 \u00B7 serial 24 \u00B7 id 3"), french).controller,
            "Contrôleur 3 (3): Hydrix (11) 1.05 \u00B7 n° de série 24 \u00B7 id 3 (answering)");
  EXPECT_EQ(TickFailureText("la lecture", "", french),
            "Lecture arrêtée (sans raison) : échec de la lecture.");
  EXPECT_EQ(TickFailureText("reading the measures", "bad block"),
            "Continuous reading stopped: reading the measures failed (bad block).");
  EXPECT_EQ(TickFailureText("logging", ""), "Continuous reading stopped: logging failed (no reason given).");
}

}  // namespace
}  // namespace hx
