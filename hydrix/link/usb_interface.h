// The seam under the frame exchange: the USB interface library's three entry
// points and the file functions on its handles. The program binds the real
// library (usb_library.h); tests put a model or a scripted fake here.
#pragma once

#include <cstdint>
#include <string>

namespace hx {

class UsbInterface {
 public:
  static constexpr std::int32_t kInvalidHandle = -1;

  virtual ~UsbInterface() = default;
  virtual std::int32_t GetDeviceCount() = 0;
  virtual std::int32_t GetDeviceUniqueID(std::int32_t index) = 0;
  // A handle, or kInvalidHandle.
  virtual std::int32_t OpenDevice(std::int32_t uniqueId) = 0;
  virtual bool WriteFile(std::int32_t handle, const std::uint8_t* data, std::uint32_t length,
                         std::uint32_t& written) = 0;
  // Waits at most timeoutMs; `count` is 0 when no answer came.
  virtual bool ReadFile(std::int32_t handle, std::uint8_t* data, std::uint32_t length, std::uint32_t& count,
                        std::uint32_t timeoutMs) = 0;
  virtual bool CancelIo(std::int32_t handle) = 0;
  virtual bool CloseHandle(std::int32_t handle) = 0;
  // Empty while the interface is usable; otherwise why it is not (a missing
  // library or entry point).
  virtual std::string Problem() { return {}; }
  // Why the backend behind the library could not be reached at the last
  // call that needed it, when the library can tell; empty otherwise.
  virtual std::string BackendProblem() { return {}; }
  // The backend behind the library ("sim", "usb", "none"), for a problem
  // report; empty when the library cannot tell.
  virtual std::string BackendName() { return {}; }
  // The file of the interface library in use, for a problem report; empty
  // when none is loaded.
  virtual std::string LibraryPath() { return {}; }
};

}  // namespace hx
