// The check before a write that is based on a settings image read earlier:
// the controller's image is read again and compared with the one the write
// starts from, so that a write never lands on another unit put on the same
// connection, nor undoes a change another program made in between.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

#include "hydrix/commands/hydrix_device.h"

namespace hx {

// A set of EEPROM addresses of the settings image (0..128).
using ImageAddresses = std::bitset<HydrixDevice::kImageLast + 1>;

enum class RecheckOutcome { Same, AnotherController, Changed, NoAnswer };

struct ImageRecheck {
  RecheckOutcome outcome = RecheckOutcome::Same;
  std::int32_t serial = 0;  // the serial number read again (AnotherController)
  std::string message;      // what to tell the operator; empty when Same
  bool ok() const { return outcome == RecheckOutcome::Same; }
};

inline constexpr const char* kSettingsChanged =
    "The controller's settings changed since they were read; read them again.";
// "Another controller (serial N) now answers on this connection; read it first."
std::string AnotherControllerText(std::int32_t serial);

// Reads addresses 0..128 once each (129 exchanges) and compares them with
// ImageParams, the image the write is based on; neither image is touched.
// AnotherController when the serial number (36..39) differs, whatever
// `sets` holds; Changed when any other address outside `sets` (the bytes
// this write sets) differs; NoAnswer when a read was not answered in full
// (the link has told the operator). Nothing is written in any case.
ImageRecheck RecheckImage(HydrixDevice& device, const ImageAddresses& sets);

// Prepares a write of `sets` over the image read earlier from this
// controller (read now when none of it is held): the controller is read
// again and must still hold that image apart from `sets` (RecheckImage).
// ImageEcriture then starts as that image. Empty when the write may go
// ahead, else why not; nothing is written in any case.
std::string ReadForWrite(HydrixDevice& device, const ImageAddresses& sets);

// The addresses where the image to write (ImageEcriture) differs from the
// image read (ImageParams): what a write changes.
ImageAddresses ChangedAddresses(const HydrixDevice& device);

}  // namespace hx
