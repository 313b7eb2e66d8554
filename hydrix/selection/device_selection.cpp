#include "hydrix/selection/device_selection.h"

#include <algorithm>
#include <cctype>

#include "hydrix/commands/frames.h"
#include "hydrix/config/byte_packing.h"

namespace hx {

namespace {
constexpr int kHydrixType = 11;
constexpr int kSerialAddress = 36;
constexpr const char* kSerialWord = " \u00B7 serial ";
constexpr const char* kIdWord = " \u00B7 id ";

// `text` with every `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
}  // namespace

std::string ListedInLanguage(const std::string& listed, const SelectionTexts& text) {
  const std::string serial = text("SelectionSerial", "serial");
  const std::string id = text("SelectionId", "id");
  return Replaced(Replaced(listed, kSerialWord, " \u00B7 " + serial + " "), kIdWord, " \u00B7 " + id + " ");
}

DeviceSelection::DeviceSelection(UsbInterface& usb, MULTIUSB& link, LinkState& state, DialogService& dialogs)
    : usb_(usb), link_(link), state_(state), dialogs_(dialogs) {}

std::string DeviceSelection::LitVersion(std::int32_t UsbID, bool& ELocal) {
  const Frame f = FrameIdentity();
  link_.UsbOpen(UsbID);
  link_.UsbWrite(f, static_cast<std::int16_t>(f.size()));
  const auto a = link_.UsbRead(answer::kIdentity, "", false, "");
  link_.UsbClose();
  if (!state_.TimeOut) std::copy_n(a.begin(), 5, state_.Identities[UsbID].begin());
  ELocal = a[2] == kHydrixType;
  return IdentityText(a);
}

std::optional<std::int32_t> DeviceSelection::LitNumeroSerie(std::int32_t UsbID) {
  std::uint8_t b[4] = {};
  for (std::uint8_t i = 0; i < 4; ++i) {
    const Frame f = FrameReadEeprom(static_cast<std::uint8_t>(kSerialAddress + i), 0);
    link_.UsbOpen(UsbID);
    link_.UsbWrite(f, static_cast<std::int16_t>(f.size()));
    const auto a = link_.UsbRead(answer::kReadEeprom, "", false, "");
    link_.UsbClose();
    if (state_.TimeOut || link_.LastReadCount() < static_cast<std::uint32_t>(answer::kReadEeprom)) {
      return std::nullopt;
    }
    b[i] = a[1];
  }
  return OctetsVersLong(b);
}

DeviceList DeviceSelection::RemplitListe(bool /*VoirTout*/) {
  DeviceList list;
  if (!problemShown_) {
    const std::string problem = usb_.Problem();
    if (!problem.empty()) {
      problemShown_ = true;
      dialogs_.Message({problem, "HydrixIP", MsgButtons::Ok, MsgIcon::Critical});
    }
  }
  const std::int32_t previous = state_.UsbID;
  state_.Identities.clear();
  nbAppareils_ = usb_.GetDeviceCount();
  for (int i = 0; i < nbAppareils_; ++i) {
    state_.UsbID = usb_.GetDeviceUniqueID(i);
    state_.TimeOut = false;
    bool ELocal = false;
    const std::string text = LitVersion(state_.UsbID, ELocal);
    if (state_.TimeOut) {  // silent controllers are not listed
      list.silent.push_back(state_.UsbID);
      continue;
    }
    // The serial number tells controllers of one type apart; a controller
    // that answered its probe stays listed (and live) when it cannot be read.
    const auto serial = LitNumeroSerie(state_.UsbID);
    state_.TimeOut = false;
    const std::int32_t id = usb_.GetDeviceUniqueID(i);
    list.texts.push_back(text);
    list.ids.push_back(id);
    list.serials.push_back(serial);
    list.details.push_back((serial ? kSerialWord + std::to_string(*serial) : std::string()) + kIdWord +
                           std::to_string(id));
    if (id == previous || (previous == 0 && id == preferred_ && list.selected < 0))
      list.selected = static_cast<int>(list.ids.size()) - 1;
  }
  if (previous != 0) state_.UsbID = previous;
  return list;
}

DeviceList DeviceSelection::Load() {
  enCours_ = true;
  DeviceList list = RemplitListe(false);
  enCours_ = false;
  return list;
}

DeviceList DeviceSelection::ViewAllClick(bool ticked) {
  enCours_ = true;
  DeviceList list = RemplitListe(ticked);
  enCours_ = false;
  return list;
}

bool DeviceSelection::ListClick(const DeviceList& list, int index) {
  if (enCours_ || index < 0 || static_cast<std::size_t>(index) >= list.ids.size()) return false;
  state_.UsbID = list.ids[static_cast<std::size_t>(index)];
  // Every listed controller answered its probe; a silent one probed after
  // it must not leave the link given up.
  state_.TimeOut = false;
  state_.Chosen = true;
  return true;
}

std::string DeviceSelection::NothingFoundText() {
  const std::string problem = usb_.Problem();
  if (!problem.empty()) return problem;
  std::string backend = usb_.BackendProblem();
  // A problem that ends with a full stop is a whole message with its own
  // advice (no permission on a device, a device in use); a shorter one
  // says the simulator is out of reach.
  if (!backend.empty() && backend.back() == '.') return backend;
  if (!backend.empty()) {
    backend[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(backend[0])));
    return backend + ". " +
           Text("SelectionStartSimulator",
                "Start the simulator (hydrix-sim serve, or scripts/demo) or plug in a controller, "
                "then press Rescan to look again.");
  }
  return Text(
      "SelectionNothingFound",
      "No controller answered. Check that the controller is powered and that its USB cable is plugged "
      "in, then press Rescan to look again.");
}

void DeviceSelection::Cancel() {
  state_.TimeOut = true;
  state_.Chosen = false;
}

void DeviceSelection::CloseBox(const DeviceList& list) {
  if (list.ids.size() == 1) {
    state_.UsbID = list.ids.front();
    state_.TimeOut = false;
    state_.Chosen = true;
  } else {
    state_.Chosen = false;
  }
}

}  // namespace hx
