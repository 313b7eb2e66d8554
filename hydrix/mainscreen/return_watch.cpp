#include "hydrix/mainscreen/return_watch.h"

#include <algorithm>

#include "common/dialog_service.h"
#include "hydrix/selection/device_selection.h"

namespace hx {

namespace {

// The probes show no box, so no dialog service is asked.
class NoDialogs : public DialogService {
 public:
  MsgAnswer Message(const MessageBoxRequest&) override { return MsgAnswer::Ok; }
  std::optional<std::string> OpenFile(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const FileDialogRequest&) override { return std::nullopt; }
};

}  // namespace

void ReturnWatch::Lost(std::int32_t id, std::optional<std::int32_t> serial, Clock::time_point at) {
  looking_ = true;
  id_ = id;
  serial_ = serial;
  at_ = at;
}

bool ReturnWatch::Same(std::int32_t id, std::optional<std::int32_t> serial) const {
  return serial_ ? serial == serial_ : id == id_;
}

std::vector<std::int32_t> ReturnWatch::Candidates(const std::vector<std::int32_t>& attached) const {
  std::vector<std::int32_t> ids;
  if (std::find(attached.begin(), attached.end(), id_) != attached.end()) ids.push_back(id_);
  if (!serial_) return ids;
  for (const std::int32_t id : attached) {
    if (id != id_ && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  return ids;
}

long long ReturnWatch::SecondsSince(Clock::time_point now) const {
  return std::chrono::duration_cast<std::chrono::seconds>(now - at_).count();
}

std::optional<std::int32_t> ReturnWatch::Look(UsbInterface& usb, MULTIUSB& link, LinkState& state) {
  std::vector<std::int32_t> attached;
  const std::int32_t count = usb.GetDeviceCount();
  for (std::int32_t i = 0; i < count; ++i) attached.push_back(usb.GetDeviceUniqueID(i));

  const LinkState before = state;
  const std::uint32_t timeout = link.ReadTimeoutMs();
  link.SetReadTimeoutMs(std::min(timeout, kProbeTimeoutMs));
  NoDialogs quiet;
  DeviceSelection probe(usb, link, state, quiet);
  std::optional<std::int32_t> found;
  for (const std::int32_t id : Candidates(attached)) {
    state.TimeOut = false;
    bool hydrix = false;
    probe.LitVersion(id, hydrix);
    if (state.TimeOut) continue;
    const auto serial = probe.LitNumeroSerie(id);
    if (Same(id, serial)) {
      found = id;
      break;
    }
  }
  link.SetReadTimeoutMs(timeout);
  const auto identities = state.Identities;
  state = before;
  state.Identities = identities;
  return found;
}

}  // namespace hx
