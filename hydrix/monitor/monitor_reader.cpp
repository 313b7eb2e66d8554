#include "hydrix/monitor/monitor_reader.h"

#include <algorithm>
#include <functional>

#include "wire/identity.h"

namespace hx {

// The monitor has nobody to show a message box to: a controller that does
// not answer is told by the events the period returns.
class MonitorReader::SilentDialogs : public DialogService {
 public:
  MsgAnswer Message(const MessageBoxRequest&) override { return MsgAnswer::Ok; }
  std::optional<std::string> OpenFile(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const FileDialogRequest&) override { return std::nullopt; }
};

MonitorReader::MonitorReader(UsbInterface& usb, std::vector<std::int32_t> wanted,
                             std::function<std::chrono::system_clock::time_point()> now)
    : usb_(usb),
      wanted_(std::move(wanted)),
      now_(std::move(now)),
      dialogs_(std::make_unique<SilentDialogs>()),
      device_(usb, messages_, *dialogs_, sleeper_),
      selection_(usb, device_.link(), device_.state(), *dialogs_) {}

MonitorReader::~MonitorReader() = default;

bool MonitorReader::Wanted(std::int32_t id) const {
  return wanted_.empty() || std::find(wanted_.begin(), wanted_.end(), id) != wanted_.end();
}

PeriodResult MonitorReader::Period(const std::function<bool()>& stop,
                                   const std::function<void(const PeriodResult& sofar)>& sink) {
  PeriodResult result;
  // The missing and new controllers first, so that one found is read at once.
  Look(result, stop);
  if (sink) sink(result);
  for (auto& c : controllers_) {
    if (stop && stop()) break;
    if (!c.online) continue;
    device_.Choose(c.id);
    device_.LitMesuresEtDate();
    std::string why;
    if (!device_.MeasuresWhole()) {
      why = device_.TimeOut() ? "controller " + std::to_string(c.id) + " did not answer"
                              : "controller " + std::to_string(c.id) + " answered short frames";
    } else {
      // Zeros from a controller that is not answering plausibly are no
      // reading: never published.
      why = NotAReading(device_);
    }
    if (!why.empty()) {
      c.online = false;
      result.events.push_back({ControllerEvent::Kind::Offline, c, why});
    } else {
      result.readings.push_back({c.serial, now_(), device_.ImageMesures()});
    }
    if (sink) sink(result);
  }
  return result;
}

void MonitorReader::Look(PeriodResult& result, const std::function<bool()>& stop) {
  const bool missing = std::any_of(controllers_.begin(), controllers_.end(), [](auto& c) { return !c.online; });
  const bool allFound =
      !wanted_.empty() && std::all_of(wanted_.begin(), wanted_.end(), [&](std::int32_t id) {
        return std::any_of(controllers_.begin(), controllers_.end(), [&](auto& c) { return c.id == id; });
      });
  if (!missing && allFound) return;

  std::vector<std::int32_t> attached;
  const std::int32_t count = usb_.GetDeviceCount();
  for (std::int32_t i = 0; i < count; ++i) attached.push_back(usb_.GetDeviceUniqueID(i));
  // An identifier that left the bus may come back as another controller.
  std::erase_if(ignored_, [&](std::int32_t id) {
    return std::find(attached.begin(), attached.end(), id) == attached.end();
  });

  MULTIUSB& link = device_.link();
  const std::uint32_t readTimeout = link.ReadTimeoutMs();
  link.SetReadTimeoutMs(std::min(readTimeout, kProbeTimeoutMs));
  for (const std::int32_t id : attached) {
    if (stop && stop()) break;
    if (id == 0 || id == -1 || ignored_.count(id)) continue;
    if (std::any_of(controllers_.begin(), controllers_.end(), [&](auto& c) { return c.online && c.id == id; }))
      continue;
    device_.SetUsbID(id);
    device_.SetTimeOut(false);
    bool hydrix = false;
    selection_.LitVersion(id, hydrix);
    if (device_.TimeOut()) continue;  // silent: looked at again next period
    const auto identity = device_.state().Identities[id];
    // Zeros for an identity are no answer: a controller that answers so is
    // looked at again next period, never set aside.
    if (identity[1] == 0 && identity[2] == 0 && identity[3] == 0 && identity[4] == 0) continue;
    const auto serialNumber = selection_.LitNumeroSerie(id);
    device_.SetTimeOut(false);
    const std::string serial = serialNumber ? std::to_string(*serialNumber) : "id" + std::to_string(id);
    WatchedController found;
    found.serial = serial;
    found.id = id;
    found.typeCode = identity[2];
    found.type = NomAppareil(identity[2]);
    found.firmware = std::to_string(identity[1]) + "." + std::to_string(identity[4]) + std::to_string(identity[3]);
    found.online = true;
    // A controller seen before is the one with its serial, on whatever
    // connection; one whose serial could not be read only on its own.
    auto known = std::find_if(controllers_.begin(), controllers_.end(), [&](auto& c) {
      return !c.online && (serialNumber ? c.serial == serial : c.id == id);
    });
    if (known != controllers_.end()) {
      *known = found;
      result.events.push_back({ControllerEvent::Kind::Online, found, {}});
      continue;
    }
    if (std::any_of(controllers_.begin(), controllers_.end(), [&](auto& c) { return c.serial == serial; })) {
      ignored_.insert(id);  // the same serial answering twice: the first one is kept
      result.notes.push_back("controller " + std::to_string(id) + " answers with serial " + serial +
                             ", which another identifier already has; it is not read");
      continue;
    }
    if (!hydrix || !Wanted(id)) {
      ignored_.insert(id);
      if (!hydrix && Wanted(id) && !wanted_.empty())
        result.notes.push_back("controller " + std::to_string(id) + " is a " + found.type +
                               ", not a Hydrix: its measures are not read");
      continue;
    }
    controllers_.push_back(found);
    result.events.push_back({ControllerEvent::Kind::Found, found, {}});
  }
  link.SetReadTimeoutMs(readTimeout);
  if (stop && stop()) return;
  // A controller the configuration names and that was never found is said
  // once, not every period; a Found event follows when it comes.
  for (const std::int32_t id : wanted_) {
    if (ignored_.count(id) || missingTold_.count(id) ||
        std::any_of(controllers_.begin(), controllers_.end(), [&](auto& c) { return c.id == id; }))
      continue;
    missingTold_.insert(id);
    const bool onTheBus = std::find(attached.begin(), attached.end(), id) != attached.end();
    result.notes.push_back("controller " + std::to_string(id) + (onTheBus ? " does not answer" : " is not connected") +
                           "; it is looked for every period");
  }
}

}  // namespace hx
