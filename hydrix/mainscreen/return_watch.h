// Looking for a controller that stopped answering while it was read
// continuously: the same controller is the one with its serial number, on
// whatever connection it answers now (a controller plugged into another port
// gets another identifier); one whose serial was never read is the same only
// on the same connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "hydrix/link/multiusb.h"
#include "hydrix/link/usb_interface.h"

namespace hx {

class ReturnWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // How often the window looks while the controller is missing.
  static constexpr std::chrono::milliseconds kInterval{3000};
  // A probe's wait for an answer: a silent controller keeps the window
  // blocked no longer than this at each look.
  static constexpr std::uint32_t kProbeTimeoutMs = 200;

  // The link to `id` (serial `serial`, when it was read) was given up at `at`.
  void Lost(std::int32_t id, std::optional<std::int32_t> serial, Clock::time_point at);
  void Forget() { looking_ = false; }
  bool Looking() const { return looking_; }

  // Whether a controller answering on `id` with `serial` is the one lost.
  bool Same(std::int32_t id, std::optional<std::int32_t> serial) const;
  // The identifiers to probe, of those attached: the lost one's connection
  // first; others only when the lost controller's serial is known.
  std::vector<std::int32_t> Candidates(const std::vector<std::int32_t>& attached) const;
  // Whole seconds since the loss.
  long long SecondsSince(Clock::time_point now) const;

  // Probes the candidates (no message box) and returns the identifier the
  // lost controller answers on, nothing while it does not. The link state is
  // left as it was found: the choice unchanged and the link given up.
  std::optional<std::int32_t> Look(UsbInterface& usb, MULTIUSB& link, LinkState& state);

 private:
  bool looking_ = false;
  std::int32_t id_ = 0;
  std::optional<std::int32_t> serial_;
  Clock::time_point at_{};
};

}  // namespace hx
