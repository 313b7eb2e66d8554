// Simulated controllers behind the USB interface seam, in the same process:
// for unit tests and for measuring the program's own share of an exchange.
// Besides the controllers' own faults it can fail the transport itself
// (failed opens and writes) and records what crossed it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "hydrix/link/usb_interface.h"
#include "sim/sim_device.h"

namespace hx::sim {

class InProcessUsb : public UsbInterface {
 public:
  InProcessUsb();

  // Adds a controller; enumeration follows the order of the calls.
  SimDevice& Add(const ControllerSpec& spec);
  SimDevice& Add(std::int32_t id, Faults faults = {});
  SimDevice* Find(std::int32_t id);

  std::int32_t GetDeviceCount() override;
  std::int32_t GetDeviceUniqueID(std::int32_t index) override;
  std::int32_t OpenDevice(std::int32_t uniqueId) override;
  bool WriteFile(std::int32_t handle, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t& written) override;
  bool ReadFile(std::int32_t handle, std::uint8_t* data, std::uint32_t length, std::uint32_t& count,
                std::uint32_t timeoutMs) override;
  bool CancelIo(std::int32_t handle) override;
  bool CloseHandle(std::int32_t handle) override;
  std::string Problem() override { return problem; }
  std::string BackendProblem() override { return backendProblem; }
  // Simulated controllers, as the library's simulator backend names itself.
  std::string BackendName() override { return "sim"; }

  // Transport faults.
  int failNextWrites = 0;      // the next N WriteFile calls fail
  bool failOpens = false;      // OpenDevice gives -1
  int failOpensFrom = -1;      // the Nth OpenDevice call (0-based) and later give -1
  std::string problem;         // what Problem() reports
  std::string backendProblem;  // what BackendProblem() reports
  // Runs on each frame written, before the controller takes it: a fault can
  // start at a given frame.
  std::function<void(const std::vector<std::uint8_t>& frame)> onWrite;

  // What crossed the seam.
  std::vector<std::vector<std::uint8_t>> writes;  // every WriteFile attempt, in order
  int readCalls = 0;
  int openCalls = 0;
  int cancelCalls = 0;
  int closeCalls = 0;
  std::set<std::int32_t> openHandles;

  // Simulated time moves by this much per exchange (a full-speed USB
  // request and its answer).
  std::chrono::microseconds exchangeTime{2000};

 private:
  struct Slot {
    std::unique_ptr<SimDevice> device;
    std::optional<std::vector<std::uint8_t>> pending;
    bool late = false;  // the answer comes after the read's time-out
  };
  Slot* SlotOfHandle(std::int32_t handle);

  std::vector<std::unique_ptr<Slot>> slots_;
  std::map<std::int32_t, std::int32_t> handles_;  // handle -> controller id
  std::int32_t nextHandle_ = 100;
  std::chrono::steady_clock::time_point now_;
};

}  // namespace hx::sim
