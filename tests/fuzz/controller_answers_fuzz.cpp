// The controller's answers as the hydrix core decodes them: identity,
// measures, clock and the settings image, over a link that answers every
// read with fuzz bytes (in full, short or not at all; zeros once the input
// is used up, as a controller answering frames of zeros does). Decoders
// never fault, and no settings image that cannot be the controller's own
// (every byte 0, an identity of type 0 and version 0.00, or a read that
// stopped part-way) is ever written back.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_fakes.h"
#include "fuzz_input.h"
#include "hydrix/commands/frames.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/config/message_source.h"
#include "hydrix/settings/measures_codec.h"
#include "hydrix/settings/parameter_map.h"

namespace {

constexpr std::int32_t kId = 5;

class FuzzUsb : public hx::UsbInterface {
 public:
  explicit FuzzUsb(hx::fuzz::FuzzInput& in) : in_(in) {}
  std::int32_t GetDeviceCount() override { return 1; }
  std::int32_t GetDeviceUniqueID(std::int32_t index) override { return index == 0 ? kId : -1; }
  std::int32_t OpenDevice(std::int32_t uniqueId) override { return uniqueId == kId ? 1 : kInvalidHandle; }
  bool WriteFile(std::int32_t, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t& written) override {
    if (length == 0) std::abort();
    if (data[0] == hx::cmd::kWriteEeprom) ++eepromWrites;
    written = length;
    return true;
  }
  bool ReadFile(std::int32_t, std::uint8_t* data, std::uint32_t length, std::uint32_t& count,
                std::uint32_t) override {
    if (in_.Empty()) {
      std::fill_n(data, length, 0);
      count = length;
      return true;
    }
    const std::uint8_t kind = in_.Byte();
    count = kind % 8 == 0 ? 0 : kind % 8 == 1 ? std::min<std::uint32_t>(in_.Byte(), length) : length;
    const auto bytes = in_.Bytes(count);
    std::fill_n(data, length, 0);
    std::copy(bytes.begin(), bytes.end(), data);
    return true;
  }
  bool CancelIo(std::int32_t) override { return true; }
  bool CloseHandle(std::int32_t) override { return true; }
  int eepromWrites = 0;

 private:
  hx::fuzz::FuzzInput& in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hx::fuzz::FuzzInput in(data, size);
  std::array<std::uint8_t, 5> identity{};
  const auto idBytes = in.Bytes(identity.size());
  std::copy(idBytes.begin(), idBytes.end(), identity.begin());
  hx::IdentityText(identity);
  const auto clockBytes = in.Bytes(7);
  hx::ClockText(clockBytes);

  FuzzUsb usb(in);
  hx::CodeMessageSource messages;
  hx::fuzz::QuietDialogs dialogs;
  hx::fuzz::NoSleep sleeper;
  hx::HydrixDevice device(usb, messages, dialogs, sleeper);
  device.Choose(kId);
  device.state().Identities[kId] = identity;
  const bool whole = device.LitImage();
  device.LitMesuresEtDate();
  device.LitVersion();
  device.LitValeurCorrection();
  hx::DecodeParametres(device.ImageParams());
  hx::DecodeMesures(device.ImageMesures());
  hx::DecodeEtat(device.ImageMesures());

  const auto& image = device.ImageParams();
  const bool allZero = std::all_of(image.begin(), image.begin() + hx::HydrixDevice::kImageLast + 1,
                                   [](std::int32_t b) { return b == 0; });
  const bool zeroIdentity = identity[1] == 0 && identity[2] == 0 && identity[3] == 0 && identity[4] == 0;
  const bool mayWrite = whole && !allZero && !zeroIdentity;
  // A link that stopped answering may be given up; only then may a sound image go unwritten.
  device.SetTimeOut(false);
  const int before = usb.eepromWrites;
  device.EcritImage();
  if (!mayWrite && usb.eepromWrites != before) std::abort();
  if (mayWrite && usb.eepromWrites == before) std::abort();
  return 0;
}
