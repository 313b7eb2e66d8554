#include "hydrix/commands/image_recheck.h"

#include <array>

#include "hydrix/config/byte_packing.h"

namespace hx {

namespace {

constexpr int kSerialAddress = 36;

std::int32_t SerialOf(const std::array<std::uint8_t, HydrixDevice::kImageLast + 1>& image) {
  const std::uint8_t b[4] = {image[kSerialAddress], image[kSerialAddress + 1], image[kSerialAddress + 2],
                             image[kSerialAddress + 3]};
  return OctetsVersLong(b);
}

}  // namespace

std::string AnotherControllerText(std::int32_t serial) {
  return "Another controller (serial " + std::to_string(serial) +
         ") now answers on this connection; read it first.";
}

ImageRecheck RecheckImage(HydrixDevice& device, const ImageAddresses& sets) {
  std::array<std::uint8_t, HydrixDevice::kImageLast + 1> base{};
  std::array<std::uint8_t, HydrixDevice::kImageLast + 1> now{};
  for (int a = 0; a <= HydrixDevice::kImageLast; ++a) {
    base[static_cast<std::size_t>(a)] =
        static_cast<std::uint8_t>(device.ImageParams()[static_cast<std::size_t>(a)]);
    now[static_cast<std::size_t>(a)] = device.LitEEprom(a);
    if (!device.LastAnswerComplete()) {
      return {RecheckOutcome::NoAnswer, 0,
              "Controller " + std::to_string(device.UsbID()) +
                  " did not answer the read before writing; nothing was written."};
    }
  }
  const std::int32_t serial = SerialOf(now);
  if (serial != SerialOf(base))
    return {RecheckOutcome::AnotherController, serial, AnotherControllerText(serial)};
  for (std::size_t a = 0; a < now.size(); ++a) {
    if (!sets[a] && now[a] != base[a]) return {RecheckOutcome::Changed, serial, kSettingsChanged};
  }
  return {RecheckOutcome::Same, serial, {}};
}

std::string ReadForWrite(HydrixDevice& device, const ImageAddresses& sets) {
  if (auto refusal = device.CommandRefusal(); !refusal.empty()) return refusal + " Nothing was written.";
  if (!device.ImageComplete() || device.ImageUsbID() != device.UsbID()) device.LitImage();
  if (auto refusal = device.ImageWriteRefusal(); !refusal.empty()) return refusal + " Nothing was written.";
  if (const ImageRecheck recheck = RecheckImage(device, sets); !recheck.ok()) return recheck.message;
  for (int a = 0; a <= HydrixDevice::kImageLast; ++a)
    device.ImageEcriture()[static_cast<std::size_t>(a)] =
        static_cast<std::uint8_t>(device.ImageParams()[static_cast<std::size_t>(a)]);
  return {};
}

ImageAddresses ChangedAddresses(const HydrixDevice& device) {
  ImageAddresses changed;
  for (std::size_t a = 0; a < changed.size(); ++a) {
    changed[a] = static_cast<std::uint8_t>(device.ImageParams()[a]) != device.ImageEcriture()[a];
  }
  return changed;
}

}  // namespace hx
