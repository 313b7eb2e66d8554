#include "hydrix/link/usb_library.h"

namespace hx {

bool UsbLibrary::Bind() {
  if (tried_) return bound_;
  tried_ = true;
  std::string error;
  if (!lib_.Open(name_, error)) {
    problem_ = "The USB interface library " + name_ + " cannot be loaded (" + error +
               "). No controller can be reached.";
    return false;
  }
  auto bind = [&](auto& fn, const char* symbol) {
    if (!problem_.empty()) return;
    void* p = lib_.Symbol(symbol, error);
    if (!p) {
      problem_ = "The USB interface library " + name_ + " lacks the entry point " + symbol +
                 ". No controller can be reached.";
      return;
    }
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(p);
  };
  bind(count_, "USB_GetDeviceCount");
  bind(uniqueId_, "USB_GetDeviceUniqueID");
  bind(open_, "USB_OpenDevice");
  bind(write_, "USB_WriteFile");
  bind(read_, "USB_ReadFile");
  bind(cancel_, "USB_CancelIo");
  bind(close_, "USB_CloseHandle");
  // Optional: a library without them only tells less.
  if (problem_.empty()) {
    backendProblem_ = reinterpret_cast<USB_GetBackendProblem_t>(lib_.Symbol("USB_GetBackendProblem", error));
    backendName_ = reinterpret_cast<USB_GetBackendName_t>(lib_.Symbol("USB_GetBackendName", error));
  }
  bound_ = problem_.empty();
  if (!bound_) lib_.Close();
  return bound_;
}

std::string UsbLibrary::Problem() {
  Bind();
  return problem_;
}

std::string UsbLibrary::BackendProblem() {
  if (!Bind() || !backendProblem_) return {};
  std::string text(backendProblem_(nullptr, 0), '\0');
  if (!text.empty()) text.resize(backendProblem_(text.data(), static_cast<std::uint32_t>(text.size() + 1)));
  return text;
}

std::string UsbLibrary::BackendName() {
  if (!Bind() || !backendName_) return {};
  const char* name = backendName_();
  return name ? std::string(name) : std::string();
}

std::string UsbLibrary::LibraryPath() { return Bind() ? lib_.Path() : std::string(); }

std::int32_t UsbLibrary::GetDeviceCount() { return Bind() ? count_() : 0; }

std::int32_t UsbLibrary::GetDeviceUniqueID(std::int32_t index) { return Bind() ? uniqueId_(index) : -1; }

std::int32_t UsbLibrary::OpenDevice(std::int32_t uniqueId) {
  return Bind() ? open_(uniqueId) : kInvalidHandle;
}

bool UsbLibrary::WriteFile(std::int32_t handle, const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t& written) {
  written = 0;
  return Bind() && write_(handle, data, length, &written) != 0;
}

bool UsbLibrary::ReadFile(std::int32_t handle, std::uint8_t* data, std::uint32_t length, std::uint32_t& count,
                          std::uint32_t timeoutMs) {
  count = 0;
  return Bind() && read_(handle, data, length, &count, timeoutMs) != 0;
}

bool UsbLibrary::CancelIo(std::int32_t handle) { return Bind() && cancel_(handle) != 0; }

bool UsbLibrary::CloseHandle(std::int32_t handle) { return Bind() && close_(handle) != 0; }

}  // namespace hx
