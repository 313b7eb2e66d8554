// The boot-loader library libhxboot.so, bound by name at first use. When the
// library or one of its entry points is missing, Ready() says why and every
// call fails (negative results) without touching anything.
#pragma once

#include <string>

#include "common/dynlib.h"
#include "flashtool/boot_library.h"

namespace hx::flash {

inline constexpr const char* kBootLibraryName = "libhxboot.so";

class HxBootBinding : public BootLibrary {
 public:
  explicit HxBootBinding(std::string libraryName = kBootLibraryName) : name_(std::move(libraryName)) {}
  bool Ready(std::string& error) override;
  std::int32_t OpenPIC(std::int32_t connection, std::int32_t reserved, std::int32_t interfaceSel) override;
  void ClosePIC(std::int32_t handle) override;
  std::int32_t SendRawData(std::int32_t handle, std::span<const std::uint8_t> data) override;
  std::int32_t ReadRawData(std::int32_t handle, std::span<std::uint8_t> buffer,
                           std::int32_t& received) override;
  std::int16_t SendGetPacket(std::int32_t handle, boot::Packet& packet, int sendCount, int capacity,
                             int retries) override;
  std::int16_t ReadPIC(std::int32_t handle, const boot::RequestBytes& request,
                       std::span<std::uint8_t> data) override;
  std::int16_t WritePIC(std::int32_t handle, const boot::RequestBytes& request,
                        std::span<const std::uint8_t> data) override;
  std::string Problem() override;
  std::vector<std::int32_t> BootLoaders() override;

 private:
  bool Bind();
  std::string name_;
  bool tried_ = false;
  bool bound_ = false;
  std::string error_;
  DynamicLibrary lib_;
  std::int32_t (*open_)(std::int32_t, std::int32_t, std::int32_t) = nullptr;
  void (*close_)(std::int32_t) = nullptr;
  std::int32_t (*sendRaw_)(std::int32_t, const std::uint8_t*, std::int32_t) = nullptr;
  std::int32_t (*readRaw_)(std::int32_t, std::uint8_t*, std::int32_t*) = nullptr;
  std::int16_t (*sendGet_)(std::int32_t, std::uint8_t*, std::int32_t, std::int32_t, std::int32_t) = nullptr;
  std::int16_t (*readPic_)(std::int32_t, const std::uint8_t*, std::uint8_t*) = nullptr;
  std::int16_t (*writePic_)(std::int32_t, const std::uint8_t*, const std::uint8_t*) = nullptr;
  std::uint32_t (*problem_)(char*, std::uint32_t) = nullptr;     // optional
  std::int32_t (*list_)(std::int32_t*, std::int32_t) = nullptr;  // optional
};

}  // namespace hx::flash
