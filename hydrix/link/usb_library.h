// The USB interface library bound by name ("libhxusbif.so") at first use.
// When it or one of its entry points is missing, Problem() says so and the
// interface behaves as a bus without controllers.
#pragma once

#include <string>

#include "common/dynlib.h"
#include "hydrix/link/usb_interface.h"
#include "platform/hxusbif/hxusbif.h"

namespace hx {

class UsbLibrary : public UsbInterface {
 public:
  static constexpr const char* kDefaultName = "libhxusbif.so";
  explicit UsbLibrary(std::string name = kDefaultName) : name_(std::move(name)) {}

  std::int32_t GetDeviceCount() override;
  std::int32_t GetDeviceUniqueID(std::int32_t index) override;
  std::int32_t OpenDevice(std::int32_t uniqueId) override;
  bool WriteFile(std::int32_t handle, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t& written) override;
  bool ReadFile(std::int32_t handle, std::uint8_t* data, std::uint32_t length, std::uint32_t& count,
                std::uint32_t timeoutMs) override;
  bool CancelIo(std::int32_t handle) override;
  bool CloseHandle(std::int32_t handle) override;
  std::string Problem() override;
  std::string BackendProblem() override;
  std::string BackendName() override;
  std::string LibraryPath() override;

 private:
  bool Bind();

  std::string name_;
  bool tried_ = false;
  bool bound_ = false;
  std::string problem_;
  DynamicLibrary lib_;
  USB_GetDeviceCount_t count_ = nullptr;
  USB_GetDeviceUniqueID_t uniqueId_ = nullptr;
  USB_OpenDevice_t open_ = nullptr;
  USB_WriteFile_t write_ = nullptr;
  USB_ReadFile_t read_ = nullptr;
  USB_CancelIo_t cancel_ = nullptr;
  USB_CloseHandle_t close_ = nullptr;
  USB_GetBackendProblem_t backendProblem_ = nullptr;  // optional
  USB_GetBackendName_t backendName_ = nullptr;        // optional
};

}  // namespace hx
