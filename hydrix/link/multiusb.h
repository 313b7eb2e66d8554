// The frame exchange: every request to the controller is one cycle of open
// (two handles: one to write, one to read), write, read and close. A read
// that gets no answer shows its failure text once and sets the link flag
// TimeOut; while TimeOut is set, reads return zeros without touching the
// controller (requests are still written) until the device enumeration
// clears it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "common/dialog_service.h"
#include "hydrix/link/usb_interface.h"

namespace hx {

// The controller choice and the link flag, owned by the main window's core.
struct LinkState {
  std::int32_t UsbID = 0;  // 0 before a controller is chosen
  bool TimeOut = false;    // set when a read got no answer or the choice was cancelled
  // True once the operator chose UsbID in the device selection (or a command
  // line named it). The enumeration moves UsbID over every controller it
  // probes, so UsbID alone never says that anybody chose it.
  bool Chosen = false;
  // The identity answers (5 bytes) of the controllers the last enumeration
  // probed, by identifier.
  std::map<std::int32_t, std::array<std::uint8_t, 5>> Identities;
};

class MULTIUSB {
 public:
  // How long a read waits for the answer unless told otherwise: ample for a
  // full-speed USB exchange (about 2 ms) and a controller writing its EEPROM.
  // $HYDRIX_USB_TIMEOUT_MS overrides it.
  static constexpr std::uint32_t kDefaultReadTimeoutMs = 500;

  MULTIUSB(UsbInterface& usb, LinkState& state, DialogService& dialogs);

  // Closes, then opens a write handle and a read handle on the controller.
  // True when both are valid; a failed open shows up as a failed write and
  // an empty read.
  bool UsbOpen(std::int32_t UsbID);
  // Cancels and closes the read handle, closes the write handle; both 0.
  void UsbClose();
  // Writes the first `length` bytes of the frame, up to three attempts.
  // A write that failed three times is not reported.
  void UsbWrite(std::span<const std::uint8_t> frame, std::int16_t length);
  // Reads `length` bytes of answer. No answer: both handles closed, the
  // message box (when showMessage) with `message` and `title`, TimeOut set,
  // zeros returned. A short answer is padded with zeros and clears TimeOut.
  std::vector<std::uint8_t> UsbRead(std::int16_t length, const std::string& message, bool showMessage,
                                    const std::string& title);

  std::int32_t WriteHandle() const { return writeHandle_; }
  std::int32_t ReadHandle() const { return readHandle_; }
  // Bytes the last UsbRead actually received (0 after a failure or while
  // TimeOut was set), so callers can tell a short answer.
  std::uint32_t LastReadCount() const { return lastCount_; }
  std::uint32_t ReadTimeoutMs() const { return timeoutMs_; }
  void SetReadTimeoutMs(std::uint32_t ms) { timeoutMs_ = ms; }

 private:
  UsbInterface& usb_;
  LinkState& state_;
  DialogService& dialogs_;
  std::int32_t writeHandle_ = 0;
  std::int32_t readHandle_ = 0;
  std::uint32_t lastCount_ = 0;
  std::uint32_t timeoutMs_;
};

}  // namespace hx
