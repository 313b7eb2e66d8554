#include "flashtool/hxboot_binding.h"

#include <algorithm>
#include <vector>

namespace hx::flash {

namespace {
template <typename F>
bool Take(const DynamicLibrary& lib, const char* name, F& fn, std::string& error) {
  std::string e;
  void* sym = lib.Symbol(name, e);
  if (!sym) {
    error = "entry point " + std::string(name) + " missing: " + e;
    return false;
  }
  fn = reinterpret_cast<F>(sym);
  return true;
}
}  // namespace

bool HxBootBinding::Bind() {
  if (tried_) return bound_;
  tried_ = true;
  std::string e;
  if (!lib_.Open(name_, e)) {
    error_ = name_ + " cannot be loaded: " + e;
    return false;
  }
  bound_ = Take(lib_, "OpenPIC", open_, error_) && Take(lib_, "ClosePIC", close_, error_) &&
           Take(lib_, "SendRawData", sendRaw_, error_) && Take(lib_, "ReadRawData", readRaw_, error_) &&
           Take(lib_, "SendGetPacket", sendGet_, error_) && Take(lib_, "ReadPIC", readPic_, error_) &&
           Take(lib_, "WritePIC", writePic_, error_);
  if (!bound_) {
    error_ = name_ + ": " + error_;
    lib_.Close();
    return false;
  }
  std::string unused;
  problem_ = reinterpret_cast<decltype(problem_)>(lib_.Symbol("GetPICProblem", unused));
  list_ = reinterpret_cast<decltype(list_)>(lib_.Symbol("GetPICList", unused));
  return true;
}

bool HxBootBinding::Ready(std::string& error) {
  if (Bind()) return true;
  error = error_;
  return false;
}

std::int32_t HxBootBinding::OpenPIC(std::int32_t connection, std::int32_t reserved,
                                    std::int32_t interfaceSel) {
  return Bind() ? open_(connection, reserved, interfaceSel) : -1;
}

void HxBootBinding::ClosePIC(std::int32_t handle) {
  if (Bind()) close_(handle);
}

std::int32_t HxBootBinding::SendRawData(std::int32_t handle, std::span<const std::uint8_t> data) {
  return Bind() ? sendRaw_(handle, data.data(), static_cast<std::int32_t>(data.size())) : -1;
}

std::int32_t HxBootBinding::ReadRawData(std::int32_t handle, std::span<std::uint8_t> buffer,
                                        std::int32_t& received) {
  received = 0;
  if (!Bind()) return -1;
  std::int32_t length = static_cast<std::int32_t>(buffer.size());
  const std::int32_t r = readRaw_(handle, buffer.data(), &length);
  received = std::clamp<std::int32_t>(length, 0, static_cast<std::int32_t>(buffer.size()));
  return r;
}

std::int16_t HxBootBinding::SendGetPacket(std::int32_t handle, boot::Packet& packet, int sendCount,
                                          int capacity, int retries) {
  if (!Bind()) return -1;
  capacity = std::min<int>(capacity, static_cast<int>(packet.size()));
  return sendGet_(handle, packet.data(), sendCount, capacity, retries);
}

std::int16_t HxBootBinding::ReadPIC(std::int32_t handle, const boot::RequestBytes& request,
                                    std::span<std::uint8_t> data) {
  if (!Bind() || data.size() < request[1]) return -1;
  return readPic_(handle, request.data(), data.data());
}

std::int16_t HxBootBinding::WritePIC(std::int32_t handle, const boot::RequestBytes& request,
                                     std::span<const std::uint8_t> data) {
  if (!Bind() || data.size() < request[1]) return static_cast<std::int16_t>(0x8000 | 1);
  return writePic_(handle, request.data(), data.data());
}

std::string HxBootBinding::Problem() {
  if (!Bind() || !problem_) return {};
  std::string text(problem_(nullptr, 0), '\0');
  if (text.empty()) return text;
  problem_(text.data(), static_cast<std::uint32_t>(text.size() + 1));
  return text;
}

std::vector<std::int32_t> HxBootBinding::BootLoaders() {
  if (!Bind() || !list_) return {};
  // The count may grow between the two calls; what fits is what is listed.
  std::vector<std::int32_t> ids(static_cast<std::size_t>(std::clamp(list_(nullptr, 0), 0, 256)));
  if (ids.empty()) return ids;
  const std::int32_t n = list_(ids.data(), static_cast<std::int32_t>(ids.size()));
  ids.resize(static_cast<std::size_t>(std::clamp<std::int32_t>(n, 0, static_cast<std::int32_t>(ids.size()))));
  return ids;
}

}  // namespace hx::flash
