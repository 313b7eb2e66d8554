#include "hydrix/cli/measures_watch.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <csignal>
#include <ostream>

#include "common/numbers.h"
#include "hydrix/settings/measure_log.h"
#include "hydrix/settings/measures_codec.h"

namespace hx {

namespace {

std::atomic<bool> stopRequested{false};
extern "C" void RequestStop(int) { stopRequested = true; }

// Ctrl-C (and a polite kill) end the watch after the reading in progress.
class StopOnSignal {
 public:
  StopOnSignal() {
    stopRequested = false;
    previousInt_ = std::signal(SIGINT, RequestStop);
    previousTerm_ = std::signal(SIGTERM, RequestStop);
  }
  ~StopOnSignal() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
  }

 private:
  void (*previousInt_)(int);
  void (*previousTerm_)(int);
};

}  // namespace

int RunMeasuresWatch(const std::vector<std::string>& options, HydrixDevice& device, Sleeper& sleeper,
                     std::ostream& out, std::ostream& err, const std::function<bool()>& reconnect) {
  double interval = 1;
  long long count = -1;  // no limit
  std::string csv;
  bool keepGoing = false;
  for (std::size_t i = 0; i < options.size(); ++i) {
    const std::string& o = options[i];
    if (o == "--keep-going") {
      keepGoing = true;
      continue;
    }
    if ((o == "--interval" || o == "--count" || o == "--csv") && i + 1 >= options.size()) {
      err << "hydrixctl: " << o << " needs a value\n";
      return 2;
    }
    if (o == "--interval") {
      const auto v = ParseNumber(options[++i]);
      if (!v || !(*v > 0) || *v > 86400) {
        err << "hydrixctl: --interval needs a number of seconds above 0 (up to 86400), not '" << options[i]
            << "'\n";
        return 2;
      }
      interval = *v;
    } else if (o == "--count") {
      const std::string& v = options[++i];
      auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), count);
      if (ec != std::errc() || ptr != v.data() + v.size() || count < 1) {
        err << "hydrixctl: --count needs a whole number above 0, not '" << v << "'\n";
        return 2;
      }
    } else if (o == "--csv") {
      csv = options[++i];
    } else {
      err << "hydrixctl: unexpected '" << o << "' after --watch\n";
      return 2;
    }
  }

  MeasureLog log;
  if (!csv.empty()) {
    if (std::string why = log.Open(csv); !why.empty()) {
      err << "hydrixctl: " << why << "\n";
      return 1;
    }
  }
  StopOnSignal signals;
  out << MeasureLogHeader() << std::endl;
  const auto step = std::chrono::milliseconds(static_cast<long long>(RoundHalfEven(interval * 1000)));
  // Reading n is due at start + n x step, whatever the readings took, so
  // the watch keeps its period over an hour.
  const auto start = std::chrono::steady_clock::now();
  bool missed = false;
  long long slot = 0;
  for (long long n = 0; (count < 0 || n < count) && !stopRequested; ++n, ++slot) {
    // A reading that took longer than the period (a controller that does
    // not answer) gives up the slots it overran rather than crowding them.
    if (step.count() > 0)
      slot = std::max(slot, static_cast<long long>((std::chrono::steady_clock::now() - start) / step));
    const auto due = start + slot * step;
    // Short naps, so Ctrl-C is answered within a tenth of a second.
    for (auto now = std::chrono::steady_clock::now(); now < due && !stopRequested;
         now = std::chrono::steady_clock::now()) {
      sleeper.Sleep(
          std::min(std::chrono::ceil<std::chrono::milliseconds>(due - now), std::chrono::milliseconds(100)));
    }
    if (stopRequested) break;
    // After a miss the controller is looked for again: it may have been
    // unplugged and come back.
    bool answered = !(missed && reconnect && !reconnect());
    std::string notReading;
    if (answered) {
      device.LitMesuresEtDate();
      answered = device.MeasuresWhole();
      // Zeros from a controller that is not answering plausibly are no
      // reading: neither written nor logged.
      if (answered) notReading = NotAReading(device);
      answered = answered && notReading.empty();
    }
    const auto when = std::chrono::system_clock::now();
    if (!answered) {
      if (notReading.empty()) notReading = "controller " + std::to_string(device.UsbID()) + " did not answer";
      err << "hydrixctl: " << notReading << "\n";
      if (!keepGoing) return 1;
      missed = true;
      out << MeasureLogMissedLine(when) << std::endl;
    } else {
      missed = false;
      out << MeasureLogLine(when, device.ImageMesures()) << std::endl;
    }
    if (!out) {
      // Whoever read the lines went away (a closed pipe): stop, and say so.
      err << "hydrixctl: the measures cannot be written to the standard output; the watch stops\n";
      return 1;
    }
    if (log.IsOpen()) {
      const std::string why = answered ? log.Append(when, device.ImageMesures()) : log.AppendMissed(when);
      if (!why.empty()) {
        err << "hydrixctl: " << why << "\n";
        return 1;
      }
    }
  }
  return 0;
}

}  // namespace hx
