#include "support/inprocess_usb.h"

#include <algorithm>

namespace hx::sim {

InProcessUsb::InProcessUsb() : now_(std::chrono::steady_clock::time_point{}) {}

SimDevice& InProcessUsb::Add(const ControllerSpec& spec) {
  auto slot = std::make_unique<Slot>();
  slot->device = std::make_unique<SimDevice>(spec, std::filesystem::path{}, now_);
  slots_.push_back(std::move(slot));
  return *slots_.back()->device;
}

SimDevice& InProcessUsb::Add(std::int32_t id, Faults faults) {
  ControllerSpec spec;
  spec.identity.id = id;
  spec.faults = faults;
  return Add(spec);
}

SimDevice* InProcessUsb::Find(std::int32_t id) {
  for (auto& s : slots_) {
    if (s->device->id() == id) return s->device.get();
  }
  return nullptr;
}

InProcessUsb::Slot* InProcessUsb::SlotOfHandle(std::int32_t handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return nullptr;
  for (auto& s : slots_) {
    if (s->device->id() == it->second) return s.get();
  }
  return nullptr;
}

std::int32_t InProcessUsb::GetDeviceCount() { return static_cast<std::int32_t>(slots_.size()); }

std::int32_t InProcessUsb::GetDeviceUniqueID(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= slots_.size()) return -1;
  return slots_[static_cast<std::size_t>(index)]->device->id();
}

std::int32_t InProcessUsb::OpenDevice(std::int32_t uniqueId) {
  const int call = openCalls++;
  if (failOpens || (failOpensFrom >= 0 && call >= failOpensFrom) || !Find(uniqueId)) return kInvalidHandle;
  const std::int32_t h = nextHandle_++;
  handles_[h] = uniqueId;
  openHandles.insert(h);
  return h;
}

bool InProcessUsb::WriteFile(std::int32_t handle, const std::uint8_t* data, std::uint32_t length,
                             std::uint32_t& written) {
  written = 0;
  writes.emplace_back(data, data + length);
  if (onWrite) onWrite(writes.back());
  if (failNextWrites > 0) {
    --failNextWrites;
    return false;
  }
  Slot* s = SlotOfHandle(handle);
  if (!s) return false;
  now_ += exchangeTime;
  s->pending = s->device->Request({data, length}, now_);
  s->late = false;
  written = length;
  return true;
}

bool InProcessUsb::ReadFile(std::int32_t handle, std::uint8_t* data, std::uint32_t length, std::uint32_t& count,
                            std::uint32_t timeoutMs) {
  ++readCalls;
  count = 0;
  Slot* s = SlotOfHandle(handle);
  if (!s) return false;
  if (!s->pending) return true;
  if (static_cast<std::uint32_t>(s->device->faults().latencyMs) > timeoutMs) {
    // The answer misses this read; the next request replaces it.
    now_ += std::chrono::milliseconds(timeoutMs);
    return true;
  }
  const auto& a = *s->pending;
  count = static_cast<std::uint32_t>(std::min<std::size_t>(a.size(), length));
  std::copy_n(a.begin(), count, data);
  s->pending.reset();
  return true;
}

bool InProcessUsb::CancelIo(std::int32_t handle) {
  ++cancelCalls;
  return handles_.count(handle) != 0;
}

bool InProcessUsb::CloseHandle(std::int32_t handle) {
  ++closeCalls;
  openHandles.erase(handle);
  return handles_.erase(handle) != 0;
}

}  // namespace hx::sim
