// The parameter set's procedures over the controller: read the settings
// image and decode it for the screen, write the screen back with every guard,
// and the factory values. The window and hydrixctl both go through it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "hydrix/commands/hydrix_device.h"
#include "hydrix/settings/parameter_map.h"

namespace hx {

class ParameterSet {
 public:
  // `dateCount` gives the device date count of "now" for the date of write.
  explicit ParameterSet(HydrixDevice& device, std::function<std::int32_t()> dateCount = {});

  // How messages name a setting: the window gives the caption the operator
  // sees; without it, the setting's key.
  void SetNames(std::function<std::string(const std::string& key)> names) { names_ = std::move(names); }

  // LitImage, then the screen texts decoded from it. Whole() tells whether
  // the image came in whole.
  ParameterTexts LitParametres();
  bool Whole() const { return device_.ImageComplete(); }

  struct WriteOutcome {
    bool written = false;
    std::string why;  // why nothing (or not everything) was written
  };
  // Encodes the screen into the image of the last read and writes it. Writes
  // nothing when the image may not be written (see ImageWriteRefusal) or the
  // screen holds a value that cannot be stored, nor when the controller read
  // again no longer holds the image read (RecheckImage: another unit, or
  // settings this write does not set changed since).
  WriteOutcome EcritParametres(const ParameterTexts& screen);

  // "Write Parameters": EcritParametres; then, only when every byte was
  // taken, the reset and the "Parameters Writed" message; otherwise one
  // message box saying why, and no reset.
  bool Ecrire(const ParameterTexts& screen);
  // Before the window's Write Parameters: values outside their edit check's
  // bounds (pink boxes) are listed in one question, default No. True when
  // there are none, when the write would be refused anyway (Ecrire then
  // says why), or when the operator answered Yes.
  bool ConfirmOutOfBounds(const ParameterTexts& screen);

  // "Factory Values": clears the validity mark (addresses 21 and 22) and
  // resets the controller, which then restores its factory settings. Sends
  // nothing and returns why when no chosen controller answers; "" when sent.
  std::string Raz();

 private:
  HydrixDevice& device_;
  std::function<std::int32_t()> dateCount_;
  std::function<std::string(const std::string&)> names_;
};

}  // namespace hx
