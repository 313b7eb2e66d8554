#include "flashtool/controller_list.h"

#include <algorithm>
#include <array>

#include "wire/identity.h"

namespace hx::flash {

namespace {
// How long a controller has to answer the probe.
constexpr std::uint32_t kProbeTimeoutMs = 500;
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

std::vector<ListedController> HxUsbIfProbe::Answering() {
  std::vector<ListedController> found;
  if (!Bind()) return found;
  const std::int32_t n = count_();
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t id = uniqueId_(i);
    const std::int32_t w = open_(id);
    const std::int32_t r = open_(id);
    std::array<std::uint8_t, kIdentityAnswerLength> answer{};
    std::uint32_t written = 0, got = 0;
    const auto frame = FrameIdentity();
    const bool answered = w != -1 && r != -1 && write_(w, frame.data(), 12, &written) && written == 12 &&
                          read_(r, answer.data(), answer.size(), &got, kProbeTimeoutMs) && got > 0;
    if (w != -1) close_(w);
    if (r != -1) close_(r);
    if (answered) found.push_back({id, IdentityText(answer), false});
  }
  return found;
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
