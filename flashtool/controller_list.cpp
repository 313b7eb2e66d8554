#include "flashtool/controller_list.h"

#include <algorithm>
#include <array>

#include "wire/identity.h"

namespace hx::flash {

namespace {
// How long a controller has to answer the probe.
constexpr std::uint32_t kProbeTimeoutMs = 500;
// The serial number's EEPROM bytes and their read request.
constexpr std::uint8_t kSerialAddress = 36;
constexpr std::uint8_t kReadEeprom = 0xFE;
constexpr std::size_t kReadEepromAnswer = 2;
}  // namespace

std::string ListedController::Text() const {
  return (inBootLoader ? std::string("In its boot loader") : identity) + " - connection " +
         std::to_string(UsbID);
}

bool HxUsbIfProbe::Bind() {
  if (tried_) return bound_;
  tried_ = true;
  std::string e;
  if (!lib_.Open(name_, e)) {
    problem_ = name_ + " cannot be loaded: " + e;
    return false;
  }
  auto take = [&](const char* name, auto& fn) {
    std::string why;
    void* sym = lib_.Symbol(name, why);
    if (!sym && problem_.empty()) problem_ = name_ + ": entry point " + name + " missing";
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(sym);
    return sym != nullptr;
  };
  bound_ = take("USB_GetDeviceCount", count_) & take("USB_GetDeviceUniqueID", uniqueId_) &
           take("USB_OpenDevice", open_) & take("USB_WriteFile", write_) & take("USB_ReadFile", read_) &
           take("USB_CloseHandle", close_);
  return bound_;
}

std::uint32_t HxUsbIfProbe::Exchange(std::int32_t UsbID, const std::array<std::uint8_t, 12>& request,
                                     std::span<std::uint8_t> answer) {
  const std::int32_t w = open_(UsbID);
  const std::int32_t r = open_(UsbID);
  std::uint32_t written = 0, got = 0;
  const bool answered = w != -1 && r != -1 && write_(w, request.data(), 12, &written) && written == 12 &&
                        read_(r, answer.data(), static_cast<std::uint32_t>(answer.size()), &got, kProbeTimeoutMs);
  if (w != -1) close_(w);
  if (r != -1) close_(r);
  return answered ? got : 0;
}

std::vector<ListedController> HxUsbIfProbe::Answering() {
  std::vector<ListedController> found;
  if (!Bind()) return found;
  const std::int32_t n = count_();
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t id = uniqueId_(i);
    std::array<std::uint8_t, kIdentityAnswerLength> answer{};
    if (Exchange(id, FrameIdentity(), answer) > 0) found.push_back({id, IdentityText(answer), false});
  }
  return found;
}

std::optional<std::int32_t> HxUsbIfProbe::Serial(std::int32_t UsbID) {
  if (!Bind()) return std::nullopt;
  std::uint32_t serial = 0;
  for (std::uint8_t i = 0; i < 4; ++i) {
    std::array<std::uint8_t, 12> request{kReadEeprom, static_cast<std::uint8_t>(kSerialAddress + i)};
    std::array<std::uint8_t, kReadEepromAnswer> answer{};
    if (Exchange(UsbID, request, answer) < kReadEepromAnswer) return std::nullopt;
    serial |= static_cast<std::uint32_t>(answer[1]) << (8 * i);
  }
  return static_cast<std::int32_t>(serial);
}

std::vector<ListedController> ListControllers(IdentityProbe& probe, BootLibrary& boot) {
  auto list = probe.Answering();
  for (const std::int32_t id : boot.BootLoaders()) {
    const bool listed =
        std::any_of(list.begin(), list.end(), [id](const ListedController& c) { return c.UsbID == id; });
    if (!listed) list.push_back({id, {}, true});
  }
  return list;
}

int KeptChoice(const std::vector<ListedController>& list, std::optional<std::int32_t> chosen) {
  if (!chosen) return -1;
  const auto it =
      std::find_if(list.begin(), list.end(), [&](const ListedController& c) { return c.UsbID == *chosen; });
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

}  // namespace hx::flash
