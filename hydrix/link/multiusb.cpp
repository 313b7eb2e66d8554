#include "hydrix/link/multiusb.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace hx {

namespace {

std::uint32_t TimeoutFromEnvironment() {
  if (const char* v = std::getenv("HYDRIX_USB_TIMEOUT_MS"); v && *v) {
    std::uint32_t ms = 0;
    auto [ptr, ec] = std::from_chars(v, v + std::strlen(v), ms);
    if (ec == std::errc() && *ptr == '\0' && ms > 0) return ms;
  }
  return MULTIUSB::kDefaultReadTimeoutMs;
}

constexpr int kWriteAttempts = 3;

}  // namespace

MULTIUSB::MULTIUSB(UsbInterface& usb, LinkState& state, DialogService& dialogs)
    : usb_(usb), state_(state), dialogs_(dialogs), timeoutMs_(TimeoutFromEnvironment()) {}

bool MULTIUSB::UsbOpen(std::int32_t UsbID) {
  UsbClose();
  writeHandle_ = usb_.OpenDevice(UsbID);
  readHandle_ = usb_.OpenDevice(UsbID);
  return writeHandle_ != UsbInterface::kInvalidHandle && readHandle_ != UsbInterface::kInvalidHandle;
}

void MULTIUSB::UsbClose() {
  // A handle that is 0 (closed) or -1 (never opened) is not the library's.
  if (readHandle_ != 0 && readHandle_ != UsbInterface::kInvalidHandle) {
    usb_.CancelIo(readHandle_);
    usb_.CloseHandle(readHandle_);
  }
  if (writeHandle_ != 0 && writeHandle_ != UsbInterface::kInvalidHandle) usb_.CloseHandle(writeHandle_);
  readHandle_ = 0;
  writeHandle_ = 0;
}

void MULTIUSB::UsbWrite(std::span<const std::uint8_t> frame, std::int16_t length) {
  const std::size_t n = std::min<std::size_t>(frame.size(), static_cast<std::size_t>(std::max<std::int16_t>(length, 0)));
  std::vector<std::uint8_t> buffer(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n));
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    std::uint32_t written = 0;
    if (usb_.WriteFile(writeHandle_, buffer.data(), static_cast<std::uint32_t>(buffer.size()), written)) break;
  }
}

std::vector<std::uint8_t> MULTIUSB::UsbRead(std::int16_t length, const std::string& message, bool showMessage,
                                            const std::string& title) {
  const auto n = static_cast<std::size_t>(std::max<std::int16_t>(length, 0));
  std::vector<std::uint8_t> result(n, 0);
  lastCount_ = 0;
  if (state_.TimeOut) return result;

  std::vector<std::uint8_t> buffer(n, 0);
  std::uint32_t count = 0;
  usb_.ReadFile(readHandle_, buffer.data(), static_cast<std::uint32_t>(n), count, timeoutMs_);
  count = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(n));
  if (count == 0) {
    if (readHandle_ != 0 && readHandle_ != UsbInterface::kInvalidHandle) usb_.CloseHandle(readHandle_);
    if (writeHandle_ != 0 && writeHandle_ != UsbInterface::kInvalidHandle) usb_.CloseHandle(writeHandle_);
    readHandle_ = 0;
    writeHandle_ = 0;
    if (showMessage) dialogs_.Message({message, title, MsgButtons::Ok, MsgIcon::None});
    state_.TimeOut = true;
    return result;
  }
  std::copy_n(buffer.begin(), count, result.begin());
  lastCount_ = count;
  state_.TimeOut = false;
  return result;
}

}  // namespace hx
