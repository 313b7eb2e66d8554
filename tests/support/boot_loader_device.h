// The simulated boot loader as a USB device answers its packets: what a fake
// bulk link or a fake USB device behind libusb runs. A packet is
// [command, length, address bits 0-7, 8-15, 16-23, data]; reads answer with
// the header echoed and the data, writes and erases with the command byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/boot/boot_loader_model.h"

namespace hx::testing {

class BootLoaderDevice {
 public:
  BootLoaderDevice() : model(sim::DefaultChip(), eeprom) {}
  // The answer to one packet; nothing when the device does not answer (an
  // unknown command, a refused write, the reset after which it is gone).
  std::optional<std::vector<std::uint8_t>> Answer(std::span<const std::uint8_t> packet);

  std::array<std::uint8_t, 256> eeprom{};
  sim::BootLoaderModel model;
  bool reset = false;  // the reset packet came: the device left the bus
};

}  // namespace hx::testing
